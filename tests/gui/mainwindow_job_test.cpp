// The main window doing its job on a demo school: the user view fills both lists, the browser
// navigates within the base container's limits, stop and go change the deny group in all three
// places (by button and by drag and drop), and refusals and failures show the right boxes.
#include "mainwindow_fixture.h"

#include "main/deny_progress.h"

#include <QAbstractScrollArea>
#include <QCoreApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QGuiApplication>
#include <QImage>
#include <QMimeData>
#include <QProgressBar>
#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>
#include <QTimer>
#include <QtTest>

#include <chrono>
#include <thread>

using mainwindowtest::attribute;
using mainwindowtest::choose;
using mainwindowtest::press;
using mainwindowtest::DenyGroup;
using mainwindowtest::holds;
using mainwindowtest::Session;

namespace {

// Where a user stands towards the deny group: group side, user side, security equivalence.
struct Places {
    bool member, membership, equivalence;
};

Places placesOf(const std::string& user) {
    return {holds(attribute(DenyGroup, "Member"), user), holds(attribute(user, "Group Membership"), DenyGroup),
            holds(attribute(user, "Security Equals"), DenyGroup)};
}

text::NameList usersBelow(const std::string& container) {
    text::NameList users;
    nwapi::SetzeContext("[root]");
    nwapi::SearchObjects(container, users, "User");
    return users;
}

}  // namespace

class TestMainWindowJob : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<Session> s;

    TForm1& form() { return *s->form; }

    // "Benutzer", then down to SCHUELER.UNTERRICHT.
    void toSchueler() {
        choose(form().HMBearbeitenUUser);
        QVERIFY(s->enter("UNTERRICHT"));
        QVERIFY(s->enter("SCHUELER"));
    }

    // Selects the browser row with this caption; returns its full name.
    std::string selectInBrowser(const QString& caption) {
        const int row = Session::rowOf(form().LVCtxBrowser, caption);
        if (row < 0) return {};
        Session::select(form().LVCtxBrowser, {row});
        return form().Browser.CtxVolleNamen().at(size_t(row));
    }

    void expectAllIn(const text::NameList& users, bool in) {
        for (const std::string& user : users) {
            const Places p = placesOf(user);
            QVERIFY2(p.member == in && p.membership == in && p.equivalence == in, user.c_str());
        }
    }

    static void bothBackends() {
        QTest::addColumn<bool>("onSlapd");
        QTest::newRow("embedded") << false;
        QTest::newRow("slapd") << true;
    }

    // The deny group's members as the tree tool lists them; on slapd, all three places (and the
    // group's equivalence list) as ldapsearch shows them.
    void expectSeenFromOutside(const text::NameList& users, bool in) {
        if (s->server) {
            const std::string groupDn = ldaptest::dnOf(DenyGroup);
            for (const std::string& user : users) {
                const std::string userDn = ldaptest::dnOf(user);
                QVERIFY2(s->server->holdsDn(groupDn, "member", userDn) == in, user.c_str());
                QVERIFY2(s->server->holdsDn(groupDn, "equivalentToMe", userDn) == in, user.c_str());
                QVERIFY2(s->server->holdsDn(userDn, "groupMembership", groupDn) == in, user.c_str());
                QVERIFY2(s->server->holdsDn(userDn, "securityEquals", groupDn) == in, user.c_str());
            }
            return;
        }
        std::string out;
        QCOMPARE(testsupport::runTreeTool("members " + s->dir.file("school.tree") + " " + DenyGroup, &out), 0);
        for (const std::string& user : users) QVERIFY2((out.find(user) != std::string::npos) == in, user.c_str());
    }

    // Synthetic drag events with our data, as Qt delivers them during a drag: to a list
    // view's viewport, to a button itself.
    static QWidget* receiver(QWidget* target) {
        auto* area = qobject_cast<QAbstractScrollArea*>(target);
        return area ? area->viewport() : target;
    }
    static bool dragOver(QWidget* target, QMimeData* data) {
        target = receiver(target);
        if (!target->acceptDrops()) return false;
        QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction | Qt::MoveAction, data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(target, &enter);
        return enter.isAccepted() && enter.dropAction() == Qt::CopyAction;
    }
    static bool drop(QWidget* target, QMimeData* data, Qt::DropAction* action = nullptr) {
        target = receiver(target);
        if (!target->acceptDrops()) return false;
        QDropEvent ev(QPointF(5, 5), Qt::CopyAction | Qt::MoveAction, data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(target, &ev);
        if (action) *action = ev.dropAction();
        return ev.isAccepted();
    }

private slots:
    void initTestCase() { pictures::installFontFallback(); }

    void init() {
        s = std::make_unique<Session>();
    }

    void cleanup() {
        s->close();
        s.reset();
        QCoreApplication::processEvents();
        QCOMPARE(mainwindowtest::leftoverWindows(), QStringList());
    }

    void userViewFillsBothLists() {
        s->open();
        s->ports.box.boxes.clear();
        choose(form().HMBearbeitenUUser);
        QVERIFY(s->ports.box.boxes.empty());

        // Deny list: the members, ordered by container from the root down, with class icons.
        const QStringList deny = Session::captions(form().LVGroupDeny);
        QCOMPARE(deny, (QStringList{"Gast01.PROJEKTE.UNTERRICHT", "Gast02.PROJEKTE.UNTERRICHT",
                                    "BauerLea.KLASSE6B.SCHUELER.UNTERRICHT", "BauerBen.KLASSE7A.SCHUELER.UNTERRICHT",
                                    "BeckerLena.KLASSE7A.SCHUELER.UNTERRICHT"}));
        QCOMPARE(int(form().DenyMemberList.size()), deny.size());
        for (int i = 0; i < deny.size(); ++i) QCOMPARE(Session::iconOf(form().LVGroupDeny, i), browse::SymbolUser);

        // Browser at the tree root: no "..", only display classes (no Country, no Locality).
        QCOMPARE(Session::captions(form().LVCtxBrowser), QStringList{"UNTERRICHT"});
        QCOMPARE(Session::iconOf(form().LVCtxBrowser, 0), browse::SymbolOrganization);
        // ... and the rows show their class's picture: a user's differs from an organization's.
        const QImage userPicture = form().LVGroupDeny->item(0)->icon().pixmap(16, 16).toImage();
        const QImage organizationPicture = form().LVCtxBrowser->item(0)->icon().pixmap(16, 16).toImage();
        QVERIFY(!userPicture.isNull() && !organizationPicture.isNull());
        QVERIFY(userPicture != organizationPicture);
        QVERIFY(!form().BStop->isEnabled() && !form().BGo->isEnabled());
        QVERIFY(s->ports.cursor.pushes > 0 && s->ports.cursor.depth == 0);
    }

    void emptyDenyGroupSaysSo() {
        s->open();
        // Empty the group through the tree tool, then look.
        std::string out;
        QCOMPARE(testsupport::runTreeTool("set " + s->dir.file("school.tree") + " " + DenyGroup + " Member 1", &out), 0);
        s->ports.box.boxes.clear();
        choose(form().HMBearbeitenUUser);
        QCOMPARE(s->ports.box.boxes.size(), size_t(1));
        QCOMPARE(s->ports.box.boxes[0].caption, std::string("Tarvel ListeGruppenMitglieder"));
        QCOMPARE(s->ports.box.boxes[0].text, std::string("Keine Objekte in der Liste vorhanden"));
        QCOMPARE(form().LVGroupDeny->count(), 0);
        QVERIFY(form().LVCtxBrowser->count() > 0);
    }

    void navigationStopsAtBaseContainer() {
        s->writeSettings("BasisUserContainer=SCHUELER.UNTERRICHT\r\n");
        s->open();
        choose(form().HMBearbeitenUUser);
        const QStringList start = Session::captions(form().LVCtxBrowser);
        QCOMPARE(start.first(), QStringLiteral(".."));
        QVERIFY(start.indexOf("KLASSE5A") < start.indexOf("KLASSE7B"));
        QVERIFY(start.indexOf("KLASSE7B") < start.indexOf("WS-R101-01"));  // containers before leaves

        // ".." at the base container does nothing while its switch is off.
        QVERIFY(s->enter(".."));
        QCOMPARE(Session::captions(form().LVCtxBrowser), start);
        QCOMPARE(QString::fromStdString(form().Browser.AktContext()).toUpper(), QStringLiteral("SCHUELER.UNTERRICHT"));

        // Into a class and back up; a leaf is not entered.
        QVERIFY(s->enter("KLASSE5A"));
        const QStringList klasse = Session::captions(form().LVCtxBrowser);
        QVERIFY(klasse.size() > 20);
        QVERIFY(s->enter(klasse.at(1)));
        QCOMPARE(Session::captions(form().LVCtxBrowser), klasse);
        QVERIFY(s->enter(".."));
        QCOMPARE(Session::captions(form().LVCtxBrowser), start);
        QVERIFY(!form().BStop->isEnabled());  // every listing ends with the buttons off

        // With the switch on the browser climbs above it.
        settings::values().BasisUserContainerGoUpALevel = true;
        QVERIFY(s->enter(".."));
        QVERIFY(Session::captions(form().LVCtxBrowser).contains("SCHUELER"));
    }

    // The same operator steps on the embedded tree and on slapd with the same school.
    void stopAndGoEndToEnd_data() { bothBackends(); }

    void stopAndGoEndToEnd() {
        QFETCH(bool, onSlapd);
        s->open("admin.UNTERRICHT", false, onSlapd);
        toSchueler();
        const std::string klasse = selectInBrowser("KLASSE5A");
        QCOMPARE(QString::fromStdString(klasse).toUpper(), QStringLiteral("KLASSE5A.SCHUELER.UNTERRICHT"));
        QVERIFY(form().BStop->isEnabled());
        const text::NameList users = usersBelow(klasse);
        QCOMPARE(users.size(), size_t(24));
        expectAllIn(users, false);

        s->ports.box.boxes.clear();
        QTest::mouseClick(form().BStop, Qt::LeftButton);
        QCOMPARE(s->boxCaptions(), std::vector<std::string>{});
        expectAllIn(users, true);
        // Seen from outside the program as well.
        expectSeenFromOutside(users, true);

        // The view was refreshed: the new members are listed, the browser is back at the base.
        const QStringList deny = Session::captions(form().LVGroupDeny);
        QCOMPARE(deny.size(), 5 + 24);
        QCOMPARE(Session::captions(form().LVCtxBrowser), QStringList{"UNTERRICHT"});
        QVERIFY(!form().BStop->isEnabled() && !form().BGo->isEnabled());

        // Select the class in the deny list; choosing rows switches BGo on.
        QList<int> rows;
        for (const std::string& user : users) rows << Session::rowOf(form().LVGroupDeny, QString::fromStdString(user));
        QVERIFY(!rows.contains(-1));
        Session::select(form().LVGroupDeny, rows);
        QVERIFY(form().BGo->isEnabled());
        QVERIFY(!form().BStop->isEnabled());
        QTest::mouseClick(form().BGo, Qt::LeftButton);
        QCOMPARE(s->boxCaptions(), std::vector<std::string>{});
        expectAllIn(users, false);
        expectSeenFromOutside(users, false);
        QCOMPARE(Session::captions(form().LVGroupDeny).size(), 5);
        QVERIFY(Session::captions(form().LVGroupDeny).contains("Gast01.PROJEKTE.UNTERRICHT"));
    }

    void goFromBrowserSelection() {
        s->open();
        choose(form().HMBearbeitenUUser);
        QVERIFY(s->enter("UNTERRICHT"));
        QVERIFY(s->enter("PROJEKTE"));
        const std::string gast = selectInBrowser("Gast01");
        QVERIFY(placesOf(gast).member);
        QTest::mouseClick(form().BGo, Qt::LeftButton);
        const Places p = placesOf(gast);
        QVERIFY(!p.member && !p.membership && !p.equivalence);
        QVERIFY(!Session::captions(form().LVGroupDeny).contains("Gast01.PROJEKTE.UNTERRICHT"));
    }

    void goWithBothListsSelectedStopsAfterTheDenyList() {
        s->open();
        choose(form().HMBearbeitenUUser);
        QVERIFY(s->enter("UNTERRICHT"));
        QVERIFY(s->enter("PROJEKTE"));
        QVERIFY(!selectInBrowser("Gast02").empty());
        Session::select(form().LVGroupDeny, {Session::rowOf(form().LVGroupDeny, "Gast01.PROJEKTE.UNTERRICHT")});
        const int pushes = s->ports.cursor.pushes;
        QTest::mouseClick(form().BGo, Qt::LeftButton);
        QVERIFY(!placesOf("Gast01.PROJEKTE.UNTERRICHT").member);
        // The refresh after the first removal left the browser without a selection.
        QVERIFY(placesOf("Gast02.PROJEKTE.UNTERRICHT").member);
        QVERIFY(s->ports.cursor.pushes > pushes && s->ports.cursor.depth == 0);
    }

    // A drop onto Go acts on the list it came from, whatever the other list still has selected.
    void dropOntoGoActsOnWhatWasDragged() {
        s->open();
        choose(form().HMBearbeitenUUser);
        const std::string gast01 = "Gast01.PROJEKTE.UNTERRICHT", gast02 = "Gast02.PROJEKTE.UNTERRICHT";
        QVERIFY(placesOf(gast01).member && placesOf(gast02).member);
        // A deny-list row selected earlier and left so ...
        Session::select(form().LVGroupDeny, {Session::rowOf(form().LVGroupDeny, QString::fromStdString(gast02))});
        // ... then a browser row dragged onto Go: only the dragged one is freed.
        QVERIFY(s->enter("UNTERRICHT"));
        QVERIFY(s->enter("PROJEKTE"));
        QVERIFY(!selectInBrowser("Gast01").empty());
        QVERIFY(form().LVGroupDeny->hasSelection());
        s->ports.box.boxes.clear();
        std::unique_ptr<QMimeData> fromBrowser(dragdrop::makeData("LVCtxBrowser"));
        QVERIFY(dragOver(form().BGo, fromBrowser.get()));
        QVERIFY(drop(form().BGo, fromBrowser.get()));
        QTRY_VERIFY(!placesOf(gast01).member);
        QVERIFY2(s->ports.box.boxes.empty(), s->ports.box.boxes.front().text.c_str());
        const Places kept = placesOf(gast02);
        QVERIFY(kept.member && kept.membership && kept.equivalence);

        // The other way round: deny-list rows dragged onto Go while the browser holds a user.
        QVERIFY(s->enter("UNTERRICHT"));
        QVERIFY(s->enter("PROJEKTE"));
        QVERIFY(!selectInBrowser("Gast03").empty());
        press(form().BStop);
        QTRY_VERIFY(placesOf("Gast03.PROJEKTE.UNTERRICHT").member);
        QVERIFY(s->enter("UNTERRICHT"));
        QVERIFY(s->enter("PROJEKTE"));
        QVERIFY(!selectInBrowser("Gast03").empty());
        Session::select(form().LVGroupDeny, {Session::rowOf(form().LVGroupDeny, QString::fromStdString(gast02))});
        std::unique_ptr<QMimeData> fromDeny(dragdrop::makeData("LVGroupDeny"));
        QVERIFY(dragOver(form().BGo, fromDeny.get()));
        QVERIFY(drop(form().BGo, fromDeny.get()));
        QTRY_VERIFY(!placesOf(gast02).member);
        QVERIFY(placesOf("Gast03.PROJEKTE.UNTERRICHT").member);
    }

    // A stop of more than 50 users shows its progress; "Abbrechen" stops it between users, every
    // pupil is whole or untouched, the box says how many, and the next press does the rest.
    void longStopShowsProgressAndCancels() {
        // Each change takes a few milliseconds, as on a real server, so the stop outlasts several
        // repaints and the click on "Abbrechen" lands in the middle of it on any machine.
        s->open("admin.UNTERRICHT", true);
        s->faults->onModify([](int, nw::ObjectId) { std::this_thread::sleep_for(std::chrono::milliseconds(3)); });
        toSchueler();
        QVERIFY(!selectInBrowser("KLASSE5A").empty());
        const QList<int> rows = {Session::rowOf(form().LVCtxBrowser, "KLASSE5A"),
                                 Session::rowOf(form().LVCtxBrowser, "KLASSE5B"),
                                 Session::rowOf(form().LVCtxBrowser, "KLASSE6A")};
        QVERIFY(!rows.contains(-1));
        Session::select(form().LVCtxBrowser, rows);
        text::NameList users;
        for (const char* k : {"KLASSE5A", "KLASSE5B", "KLASSE6A"})
            for (const std::string& u : usersBelow(std::string(k) + ".SCHUELER.UNTERRICHT")) users.push_back(u);
        const size_t total = users.size();
        QVERIFY(total > 50);
        s->ports.box.boxes.clear();

        // The cancel box reports what the teacher asked for: the information icon.
        struct InformSpy : platform::MessageBoxPort {
            platform::MessageBoxPort* inner = nullptr;
            std::vector<std::string> informed;
            platform::Answer show(const std::string& t, const std::string& c, platform::Buttons b) override {
                return inner->show(t, c, b);
            }
            void inform(const std::string& t, const std::string& c) override {
                informed.push_back(c);
                inner->show(t, c, platform::Buttons::Ok);
            }
        } spy;
        platform::Ports withSpy = platform::ports();
        spy.inner = withSpy.messageBox;
        withSpy.messageBox = &spy;
        platform::installPorts(withSpy);

        QStringList seen;
        bool busyMeanwhile = false, barBesideText = false, arrowOverDialog = true;
        QTimer watcher;
        watcher.setInterval(0);
        connect(&watcher, &QTimer::timeout, this, [&] {
            auto* dialog = form().findChild<DenyProgressDialog*>("DenyProgress");
            if (!dialog || !dialog->isVisible()) return;
            const QString text = dialog->textLabel->text();
            if (seen.isEmpty() || seen.last() != text) seen << text;
            busyMeanwhile = busyMeanwhile || form().busy();
            const int done = text.section(QLatin1Char(' '), 1, 1).toInt();
            barBesideText = barBesideText || (dialog->progressBar->isVisible() && dialog->progressBar->value() > 0 &&
                                              dialog->progressBar->x() > dialog->textLabel->geometry().right() &&
                                              dialog->progressBar->y() < dialog->textLabel->geometry().bottom());
            arrowOverDialog = arrowOverDialog && QGuiApplication::overrideCursor() &&
                              QGuiApplication::overrideCursor()->shape() == Qt::ArrowCursor;
            if (done >= 10 && dialog->cancelButton->isEnabled()) QTest::mouseClick(dialog->cancelButton, Qt::LeftButton);
        });
        watcher.start();
        QTest::mouseClick(form().BStop, Qt::LeftButton);
        watcher.stop();
        withSpy.messageBox = spy.inner;
        platform::installPorts(withSpy);
        QCOMPARE(spy.informed, std::vector<std::string>{"Tarvel Internet-Stop"});
        QVERIFY(barBesideText && arrowOverDialog);
        QVERIFY(!QGuiApplication::overrideCursor());

        QVERIFY(!seen.isEmpty());
        QVERIFY2(seen.first().startsWith("Internet-Stop: ") && seen.first().endsWith(QStringLiteral(" von %1 Benutzern").arg(total)),
                 qPrintable(seen.first()));
        QVERIFY(busyMeanwhile);
        QCOMPARE(s->boxCaptions(), std::vector<std::string>{"Tarvel Internet-Stop"});
        const QString box = QString::fromStdString(s->ports.box.boxes[0].text);
        const QRegularExpression expected(QStringLiteral("^Abgebrochen\\.\r\n(\\d+) von %1 Benutzern wurden geändert\\.\r\n"
                                                         "Erneutes Drücken ändert die übrigen\\.$").arg(total));
        const QRegularExpressionMatch m = expected.match(box);
        QVERIFY2(m.hasMatch(), qPrintable(box));
        const size_t changed = m.captured(1).toUInt();
        QVERIFY(changed >= 10 && changed < total);
        size_t whole = 0, untouched = 0;
        for (const std::string& u : users) {
            const Places p = placesOf(u);
            whole += p.member && p.membership && p.equivalence;
            untouched += !p.member && !p.membership && !p.equivalence;
        }
        QCOMPARE(whole, changed);
        QCOMPARE(untouched, total - changed);
        // The deny list shows who was stopped; the browser stays where it was.
        QCOMPARE(form().LVGroupDeny->count(), int(5 + changed));

        // The selection is still there: pressing again changes the rest. The refill afterwards
        // paints the deny list as it grows, 32 rows a slice here.
        QVERIFY(form().LVCtxBrowser->selectedRows().size() == 3);
        QVERIFY(Session::captions(form().LVCtxBrowser).contains("KLASSE5A"));
        s->ports.box.boxes.clear();
        TForm1::FillSliceMs = 0;
        QList<int> denyRowsSeen;
        QTimer growth;
        growth.setInterval(0);
        connect(&growth, &QTimer::timeout, this, [&] {
            if (denyRowsSeen.isEmpty() || denyRowsSeen.last() != form().LVGroupDeny->count())
                denyRowsSeen << form().LVGroupDeny->count();
        });
        growth.start();
        QTest::mouseClick(form().BStop, Qt::LeftButton);
        growth.stop();
        TForm1::FillSliceMs = 25;
        QCOMPARE(s->boxCaptions(), std::vector<std::string>{});
        expectAllIn(users, true);
        QVERIFY(!form().findChild<DenyProgressDialog*>("DenyProgress"));
        QVERIFY(denyRowsSeen.contains(32) && denyRowsSeen.contains(64));
        // Grown in slices, it ends as a list filled at once: every member once, in the deny
        // list's order, each with its class's icon and its name as the hint; nothing selected.
        QStringList members;
        for (const std::string& m : form().DenyMemberList) members << QString::fromStdString(m);
        QCOMPARE(int(members.size()), int(5 + total));
        QCOMPARE(Session::captions(form().LVGroupDeny), members);
        for (int i = 0; i < form().LVGroupDeny->count(); ++i) {
            QCOMPARE(Session::iconOf(form().LVGroupDeny, i), browse::SymbolUser);
            QCOMPARE(form().LVGroupDeny->item(i)->toolTip(), members[i]);
        }
        QVERIFY(!form().LVGroupDeny->hasSelection() && !form().BGo->isEnabled());

        // A cancelled go from the deny list: the list shows who is still stopped, and those rows
        // stay selected for the next press.
        QList<int> denyRows;
        for (const std::string& u : users) denyRows << Session::rowOf(form().LVGroupDeny, QString::fromStdString(u));
        Session::select(form().LVGroupDeny, denyRows);
        s->ports.box.boxes.clear();
        watcher.start();
        QTest::mouseClick(form().BGo, Qt::LeftButton);
        watcher.stop();
        QCOMPARE(s->boxCaptions(), std::vector<std::string>{"Tarvel Internet-Go"});
        size_t stillIn = 0;
        for (const std::string& u : users) stillIn += placesOf(u).member;
        QVERIFY(stillIn > 0 && stillIn < total);
        QCOMPARE(form().LVGroupDeny->count(), int(5 + stillIn));
        QCOMPARE(size_t(form().LVGroupDeny->selectedRows().size()), stillIn);
    }

    // A failed group side names how many pupils it left half done; a time-out says the server
    // did not answer. Pressing again completes both.
    void warningNamesHalfDonePupils() {
        s->open("admin.UNTERRICHT", true);
        toSchueler();
        const std::string klasse = selectInBrowser("KLASSE5A");
        const text::NameList users = usersBelow(klasse);
        QCOMPARE(users.size(), size_t(24));
        using Call = nw::FaultBackend::Call;
        s->faults->failNth(Call::Modify, s->faults->calls(Call::Modify) + 25, nw::ERR_TRANSPORT_FAILURE);
        s->ports.box.boxes.clear();
        QTest::mouseClick(form().BStop, Qt::LeftButton);
        QCOMPARE(s->boxCaptions(), (std::vector<std::string>{"NDS-Fehler", "Tarvel Internet-Stop"}));
        QVERIFY(s->ports.box.boxes[0].text.starts_with("Fehler -625. AddMultipleUsersToGroup (["));
        QCOMPARE(s->ports.box.boxes[1].text,
                 std::string("Es sind Fehler aufgetreten!\r\n"
                             "Bitte benachrichtigen Sie den Administrator mit der Meldung:\r\n"
                             "  In der Gruppe " + DenyGroup + "\r\n"
                             "  und/oder bei zugehörigen Usern\r\n"
                             "  sind möglicherweise Inkonsistenzen aufgetreten.\r\n"
                             "24 Benutzer sind nur halb geändert.\r\n"
                             "Erneutes Drücken vervollständigt die Änderung."));
        QVERIFY(!placesOf(users.front()).member && placesOf(users.front()).membership);

        s->ports.box.boxes.clear();
        QTest::mouseClick(form().BStop, Qt::LeftButton);
        QCOMPARE(s->boxCaptions(), std::vector<std::string>{});
        expectAllIn(users, true);

        // A go whose third user gets no answer in time.
        QList<int> rows;
        for (const std::string& user : users) rows << Session::rowOf(form().LVGroupDeny, QString::fromStdString(user));
        Session::select(form().LVGroupDeny, rows);
        s->faults->failNth(Call::Modify, s->faults->calls(Call::Modify) + 3, nw::ERR_TIME_OUT);
        s->ports.box.boxes.clear();
        QTest::mouseClick(form().BGo, Qt::LeftButton);
        QCOMPARE(s->boxCaptions(), (std::vector<std::string>{"NDS-Fehler", "Tarvel Internet-Go"}));
        QVERIFY(s->ports.box.boxes[0].text.starts_with("Fehler -659. DeleteMultipleUsersFromGroup (["));
        QVERIFY2(s->ports.box.boxes[1].text.ends_with("  sind möglicherweise Inkonsistenzen aufgetreten.\r\n"
                                                      "Der Server hat nicht rechtzeitig geantwortet.\r\n"
                                                      "3 Benutzer sind nur halb geändert.\r\n"
                                                      "Erneutes Drücken vervollständigt die Änderung.\r\n\r\n"),
                 s->ports.box.boxes[1].text.c_str());
        Session::select(form().LVGroupDeny, rows);
        s->ports.box.boxes.clear();
        QTest::mouseClick(form().BGo, Qt::LeftButton);
        QCOMPARE(s->boxCaptions(), std::vector<std::string>{});
        expectAllIn(users, false);
    }

    void selectionErrors() {
        s->open();
        toSchueler();
        // A row chosen and unchosen again leaves both buttons on, with nothing selected.
        Session::select(form().LVCtxBrowser, {0});
        form().LVCtxBrowser->clearSelection();
        s->ports.box.boxes.clear();
        press(form().BStop);
        press(form().BGo);
        QCOMPARE(s->ports.box.boxes.size(), size_t(2));
        QCOMPARE(s->ports.box.boxes[0].caption, std::string("Auswahl-Fehler"));
        QCOMPARE(s->ports.box.boxes[0].text, std::string("In der Liste wurden keine\r\nBenutzer oder Container ausgewählt!"));
        QCOMPARE(s->ports.box.boxes[1].text, std::string("In der Liste wurden keine\r\nBenutzer ausgewählt!"));

        // Only a workstation selected: no user gathered, no group change.
        const text::NameList before = attribute(DenyGroup, "Member");
        QVERIFY(!selectInBrowser("WS-R101-01").empty());
        s->ports.box.boxes.clear();
        press(form().BStop);
        QCOMPARE(s->ports.box.boxes.size(), size_t(1));
        QCOMPARE(s->ports.box.boxes[0].caption, std::string("Auswahl-Fehler"));
        QCOMPARE(s->ports.box.boxes[0].text, std::string("In der Auswahl wurden keine\r\nBenutzer gefunden!"));
        QCOMPARE(attribute(DenyGroup, "Member"), before);
    }

    void dragAndDrop() {
        s->open();
        toSchueler();
        const std::string klasse = selectInBrowser("KLASSE5B");
        const text::NameList users = usersBelow(klasse);
        QVERIFY(!users.empty());
        const int browserRows = form().LVCtxBrowser->count();

        // Deny-list rows are refused by the deny list and by BStop; foreign data by everyone.
        std::unique_ptr<QMimeData> fromDeny(dragdrop::makeData("LVGroupDeny"));
        QVERIFY(!dragOver(form().LVGroupDeny, fromDeny.get()));
        QVERIFY(!dragOver(form().BStop, fromDeny.get()));
        QMimeData foreign;
        foreign.setData(dragdrop::MimeType, "LVCtxBrowser\n1");
        QVERIFY(!dragOver(form().LVGroupDeny, &foreign));
        QVERIFY(!drop(form().LVGroupDeny, &foreign));

        // Browser rows onto the deny list: accepted as a copy; the stop runs after the drop.
        std::unique_ptr<QMimeData> fromBrowser(dragdrop::makeData("LVCtxBrowser"));
        QVERIFY(dragOver(form().LVGroupDeny, fromBrowser.get()));
        QVERIFY(dragOver(form().BStop, fromBrowser.get()));
        Qt::DropAction action = Qt::IgnoreAction;
        QVERIFY(drop(form().LVGroupDeny, fromBrowser.get(), &action));
        QCOMPARE(action, Qt::CopyAction);
        QCOMPARE(form().LVCtxBrowser->count(), browserRows);
        QVERIFY(!placesOf(users.front()).member);  // not inside the drop
        QTRY_VERIFY(placesOf(users.front()).member);
        expectAllIn(users, true);

        // With BStop off (after the refresh) nothing is accepted.
        QVERIFY(!form().BStop->isEnabled());
        QVERIFY(!dragOver(form().BStop, fromBrowser.get()));

        // Deny-list rows onto BGo take them out again.
        QList<int> rows;
        for (const std::string& user : users) rows << Session::rowOf(form().LVGroupDeny, QString::fromStdString(user));
        Session::select(form().LVGroupDeny, rows);
        QVERIFY(dragOver(form().BGo, fromDeny.get()));
        QVERIFY(drop(form().BGo, fromDeny.get(), &action));
        QCOMPARE(action, Qt::CopyAction);
        QTRY_VERIFY(!placesOf(users.back()).member);
        expectAllIn(users, false);
    }

    void dragStartsACopyWithOurData() {
        s->open();
        choose(form().HMBearbeitenUUser);
        Session::select(form().LVCtxBrowser, {0});
        std::unique_ptr<QMimeData> data(form().LVCtxBrowser->model()->mimeData(
            {form().LVCtxBrowser->model()->index(0, 0)}));
        QCOMPARE(dragdrop::sourceOf(data.get()), QStringLiteral("LVCtxBrowser"));
        QCOMPARE(form().LVCtxBrowser->model()->supportedDragActions(), Qt::DropActions(Qt::CopyAction));
    }

    // The refusal comes from the tree's rights or from the server's ACLs: the same boxes.
    void teacherWithoutRights_data() { bothBackends(); }

    void teacherWithoutRights() {
        QFETCH(bool, onSlapd);
        s->open("lehrer1.LEHRER.UNTERRICHT", false, onSlapd);
        choose(form().HMBearbeitenUUser);
        QCOMPARE(form().LVGroupDeny->count(), 5);

        // A pupil of KLASSE7A: the teacher may change the group, not the pupil.
        const int row = Session::rowOf(form().LVGroupDeny, "BauerBen.KLASSE7A.SCHUELER.UNTERRICHT");
        QVERIFY(row >= 0);
        Session::select(form().LVGroupDeny, {row});
        s->ports.box.boxes.clear();
        press(form().BGo);
        QVERIFY(s->ports.box.boxes.size() >= 2);
        QCOMPARE(s->ports.box.boxes.front().caption, std::string("NDS-Fehler"));
        QVERIFY(s->ports.box.boxes.front().text.starts_with("Fehler -672. "));
        QCOMPARE(s->ports.box.boxes.back().caption, std::string("Tarvel Internet-Go"));
        QCOMPARE(s->ports.box.boxes.back().text,
                 std::string("Es sind Fehler aufgetreten!\r\n"
                             "Bitte benachrichtigen Sie den Administrator mit der Meldung:\r\n"
                             "  In der Gruppe " + DenyGroup + "\r\n"
                             "  und/oder bei zugehörigen Usern\r\n"
                             "  sind möglicherweise Inkonsistenzen aufgetreten.\r\n"
                             "\r\n"
                             "Oder: Sie haben keine Berechtigung."));
        // The list is not refilled; the selection is gone.
        QCOMPARE(form().LVGroupDeny->count(), 5);
        QVERIFY(!form().LVGroupDeny->hasSelection());
        QVERIFY(placesOf("BauerBen.KLASSE7A.SCHUELER.UNTERRICHT").member);

        // A refused stop never shows the access hint. Partly refused (KLASSE5A is the teacher's,
        // KLASSE6A is not), the deny list shows those it did stop.
        QVERIFY(s->enter("UNTERRICHT"));
        QVERIFY(s->enter("SCHUELER"));
        Session::select(form().LVCtxBrowser, {Session::rowOf(form().LVCtxBrowser, "KLASSE5A"),
                                              Session::rowOf(form().LVCtxBrowser, "KLASSE6A")});
        s->ports.box.boxes.clear();
        form().BStop->setFocus();
        QTest::keyClick(form().BStop, Qt::Key_Return);  // Enter presses a focused button
        QCOMPARE(s->ports.box.boxes.back().caption, std::string("Tarvel Internet-Stop"));
        QVERIFY(s->ports.box.boxes.back().text.ends_with("  sind möglicherweise Inkonsistenzen aufgetreten."));
        QCOMPARE(form().LVGroupDeny->count(), 5 + 24);
        QCOMPARE(form().LVCtxBrowser->selectedRows().size(), 2);
    }

    void failedSearchChangesNothing() {
        s->open("admin.UNTERRICHT", true);
        toSchueler();
        QVERIFY(!selectInBrowser("KLASSE5A").empty());
        s->faults->failNth(nw::FaultBackend::Call::Search, s->faults->calls(nw::FaultBackend::Call::Search) + 1,
                           nw::ERR_NO_ACCESS);
        const int modifies = s->faults->calls(nw::FaultBackend::Call::Modify);
        s->ports.box.boxes.clear();
        press(form().BStop);
        QCOMPARE(s->faults->calls(nw::FaultBackend::Call::Modify), modifies);
        QCOMPARE(s->boxCaptions(), std::vector<std::string>{"NDS-Fehler"});
    }
};

QTEST_MAIN(TestMainWindowJob)
#include "mainwindow_job_test.moc"
