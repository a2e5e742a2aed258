// The main window as the operator uses it, by mouse: the browser's name filters, the buttons
// after a listing that goes back, a stop on a whole organisation, and the deny list's order.
#include "mainwindow_fixture.h"

#include <QCoreApplication>
#include <QPushButton>
#include <QtTest>

using mainwindowtest::attribute;
using mainwindowtest::DenyGroup;
using mainwindowtest::holds;
using mainwindowtest::Session;

class TestBrowserClicks : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<Session> s;

    TForm1& form() { return *s->form; }

    QPoint centreOf(QListWidget* view, const QString& caption) {
        const int row = Session::rowOf(view, caption);
        if (row < 0) return {-1, -1};
        view->scrollToItem(view->item(row));
        return view->visualItemRect(view->item(row)).center();
    }
    bool click(QListWidget* view, const QString& caption) {
        const QPoint at = centreOf(view, caption);
        if (at.x() < 0) return false;
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, at);
        return true;
    }
    bool doubleClick(QListWidget* view, const QString& caption) {
        const QPoint at = centreOf(view, caption);
        if (at.x() < 0) return false;
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, at);
        QTest::mouseDClick(view->viewport(), Qt::LeftButton, {}, at);
        return true;
    }
    // "Benutzer", then into each container by double-click.
    bool browseTo(const QStringList& path) {
        QTest::mouseClick(form().BUser, Qt::LeftButton);
        for (const QString& step : path)
            if (!doubleClick(form().LVCtxBrowser, step)) return false;
        return true;
    }
    // The browser's rows without the ".." row.
    QStringList rows() {
        QStringList out = Session::captions(form().LVCtxBrowser);
        out.removeAll("..");
        return out;
    }

    void writeSettings(const std::string& showLines) {
        testsupport::writeFile(s->iniPath(), "[TYP]\r\nTYP=Tarvel\r\nVer=100\r\n[DEFAULT]\r\n[SWITCH]\r\n[SHOW]\r\nShowFirst=1\r\n" +
                                                 showLines);
    }

private slots:
    void initTestCase() { pictures::installFontFallback(); }

    void init() { s = std::make_unique<Session>(); }

    void cleanup() {
        s->close();
        s.reset();
        QCoreApplication::processEvents();
        QCOMPARE(mainwindowtest::leftoverWindows(), QStringList());
    }

    // The container lists act on containers only, the leaf lists on leaves only.
    void nameFiltersEachApplyToTheirOwnKind() {
        writeSettings("ShowContainer=UNTERRICHT, SCHUELER, KLASSE5\r\nNoShowContainer=\r\nShowLeaf=\r\nNoShowLeaf=R101-02\r\n");
        s->open();
        QVERIFY(browseTo({"UNTERRICHT", "SCHUELER"}));
        QCOMPARE(rows(), (QStringList{"KLASSE5A", "KLASSE5B", "WS-R101-01", "WS-R101-03", "WS-R101-04", "WS-R101-05",
                                      "WS-R101-06"}));

        s->close();
        writeSettings("ShowContainer=\r\nNoShowContainer=KLASSE6, KLASSE7\r\nShowLeaf=WS-R101-05\r\nNoShowLeaf=\r\n");
        s->open();
        QVERIFY(browseTo({"UNTERRICHT", "SCHUELER"}));
        QCOMPARE(rows(), (QStringList{"KLASSE5A", "KLASSE5B", "WS-R101-05"}));
    }

    // A double-click that finds nothing to show goes back to the rows there were; the
    // selection it made must not leave stop and go on.
    void aListingThatGoesBackSwitchesStopAndGoOff() {
        s->open();
        QVERIFY(browseTo({"UNTERRICHT"}));
        const QStringList before = Session::captions(form().LVCtxBrowser);
        QVERIFY(before.contains("ARCHIV"));  // a container without users or workstations
        QVERIFY(click(form().LVCtxBrowser, "ARCHIV"));
        QVERIFY(form().BStop->isEnabled() && form().BGo->isEnabled());
        QVERIFY(doubleClick(form().LVCtxBrowser, "ARCHIV"));
        QCOMPARE(Session::captions(form().LVCtxBrowser), before);
        QVERIFY(!form().BStop->isEnabled());
        QVERIFY(!form().BGo->isEnabled());
        QCOMPARE(form().LVCtxBrowser->currentRow(), 0);
    }

    // The whole school selected at the tree root: every user below it is stopped.
    void stopOnTheOrganizationStopsEveryUserBelowIt() {
        s->open();
        QTest::mouseClick(form().BUser, Qt::LeftButton);
        QCOMPARE(rows(), QStringList{"UNTERRICHT"});
        QVERIFY(click(form().LVCtxBrowser, "UNTERRICHT"));
        QVERIFY(form().BStop->isEnabled());
        text::NameList users;
        nwapi::SetzeContext("[root]");
        QVERIFY(nwapi::SearchObjects("UNTERRICHT", users, "User"));
        QVERIFY(users.size() > 100);
        s->ports.box.boxes.clear();
        QTest::mouseClick(form().BStop, Qt::LeftButton);
        QCOMPARE(s->boxCaptions(), std::vector<std::string>{});
        const text::NameList members = attribute(DenyGroup, "Member");
        QCOMPARE(members.size(), users.size());
        for (const std::string& user : users) QVERIFY2(holds(members, user), user.c_str());
    }

    // The group keeps its members in no particular order; the list shows them by container
    // from the root down, by name within one.
    void denyListIsSortedByContainer() {
        s->open();
        QCOMPARE(testsupport::runTreeTool("set " + s->dir.file("school.tree") + " " + DenyGroup +
                                          " Member 1 BeckerLena.KLASSE7A.SCHUELER.UNTERRICHT Gast02.PROJEKTE.UNTERRICHT"
                                          " BauerBen.KLASSE7A.SCHUELER.UNTERRICHT Gast01.PROJEKTE.UNTERRICHT"
                                          " BauerLea.KLASSE6B.SCHUELER.UNTERRICHT"),
                 0);
        QTest::mouseClick(form().BUser, Qt::LeftButton);
        QCOMPARE(Session::captions(form().LVGroupDeny),
                 (QStringList{"Gast01.PROJEKTE.UNTERRICHT", "Gast02.PROJEKTE.UNTERRICHT",
                              "BauerLea.KLASSE6B.SCHUELER.UNTERRICHT", "BauerBen.KLASSE7A.SCHUELER.UNTERRICHT",
                              "BeckerLena.KLASSE7A.SCHUELER.UNTERRICHT"}));
    }
};

QTEST_MAIN(TestBrowserClicks)
#include "browser_clicks_test.moc"
