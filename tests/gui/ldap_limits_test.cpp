// The window on a directory server that keeps its default size limit for the operator (slapd's
// 500): the browser shows a 1,200-pupil container whole, and a stop of the container reaches
// every pupil.
#include "mainwindow_fixture.h"
#include "nwclient/ldap/ldap_escape.h"

#include <QtTest>

#include <set>

using namespace mainwindowtest;

class TestLdapLimits : public QObject {
    Q_OBJECT

    std::unique_ptr<Session> s;

private slots:
    void init() {
        s = std::make_unique<Session>();
        nw::resetClient();
        nwapi::resetLayerForTesting();
        settings::resetToStartValues();
        s->server = std::make_unique<ldaptest::Slapd>(ldaptest::SchoolOptions{1200});
        s->server->useAs("limited");  // lehrer2: the teacher's rights, slapd's default limit
        s->writeSettings("BasisUserContainer=UNTERRICHT\r\n");
        s->form = std::make_unique<TForm1>(std::vector<std::string>{"tarvel", "/ini=" + s->iniPath()});
        s->form->show();
        if (!QTest::qWaitForWindowActive(s->form.get())) s->form->FormActivate();
    }
    void cleanup() {
        s->close();
        s.reset();
        QVERIFY2(leftoverWindows().isEmpty(), qPrintable(leftoverWindows().join(", ")));
    }

    void browserAndStopSeeTheWholeContainer() {
        TForm1& f = *s->form;
        mainwindowtest::choose(f.HMBearbeitenUUser);
        QVERIFY(s->enter("GROSS"));
        QVERIFY(s->ports.box.boxes.empty());
        const QStringList rows = Session::captions(f.LVCtxBrowser);
        std::set<QString> pupils;
        for (const QString& r : rows)
            if (r.startsWith("U0")) pupils.insert(r);
        QCOMPARE(pupils.size(), size_t(1200));
        QVERIFY(pupils.count("U00000") && pupils.count("U01199"));

        // Up again, the container selected, the upper "Internet" button pressed.
        QVERIFY(s->enter(".."));
        const int row = Session::rowOf(f.LVCtxBrowser, "GROSS");
        QVERIFY(row >= 0);
        Session::select(f.LVCtxBrowser, {row});
        QTest::mouseClick(f.BStop, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(!f.busy(), 120000);
        QCOMPARE(s->boxCaptions(), std::vector<std::string>{});
        std::set<std::string> members;
        for (const std::string& v : s->server->values(ldaptest::dnOf(ldaptest::DENY_GROUP), "member"))
            members.insert(nw::ldap::dnKey(v));
        for (int i = 0; i < 1200; i += 37) {
            char name[32];
            std::snprintf(name, sizeof name, "U%05d.GROSS.UNTERRICHT", i);
            QVERIFY2(members.count(nw::ldap::dnKey(ldaptest::dnOf(name))), name);
        }
        QCOMPARE(members.size(), size_t(1202));  // and Gast01, Gast02
    }
};

QTEST_MAIN(TestLdapLimits)
#include "ldap_limits_test.moc"
