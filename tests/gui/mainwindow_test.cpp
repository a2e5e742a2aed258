// The main window's frame: layout, menus, start-up, the view test and its program end, the
// menu actions and their dialogs, focus rules and one command at a time.
#include "mainwindow_fixture.h"

#include "dialogs/finfo.h"
#include "dialogs/nutzung.h"
#include "settings/ui/ini_tarvel.h"

#include <QAccessible>
#include <QAction>
#include <QCoreApplication>
#include <QFocusEvent>
#include <QFrame>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QTimer>
#include <QToolTip>
#include <QtTest>

#include <sys/prctl.h>

#include <filesystem>

using mainwindowtest::Session;

class TestMainWindow : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<Session> s;

    // Runs `inside` on the modal dialog that `open` shows, then closes that dialog.
    template <typename Open, typename Inside>
    void onModal(Open open, Inside inside) {
        bool seen = false;
        QTimer::singleShot(0, [&] {
            QWidget* modal = QApplication::activeModalWidget();
            if (modal) {
                seen = true;
                inside(modal);
                modal->close();
            }
        });
        open();
        QVERIFY2(seen, "no modal dialog was shown");
    }

private slots:
    void initTestCase() { pictures::installFontFallback(); }

    void init() {
        s = std::make_unique<Session>();
        s->open();
    }

    void cleanup() {
        s->close();
        s.reset();
        QCoreApplication::processEvents();
        QCOMPARE(mainwindowtest::leftoverWindows(), QStringList());
    }

    void layoutAsDesigned() {
        TForm1& f = *s->form;
        QCOMPARE(f.windowTitle(), QStringLiteral("Tarvelweb 0.9.4"));
        QCOMPARE(f.centralWidget(), static_cast<QWidget*>(f.Panel1));
        QCOMPARE(f.Panel1->size(), QSize(542, 304));
        QCOMPARE(f.Panel1->frameShadow(), QFrame::Sunken);

        const struct {
            QWidget* w;
            QRect r;
        } table[] = {{f.Label2, {8, 24, 156, 16}},       {f.Label1, {318, 20, 30, 13}},
                     {f.BUser, {352, 8, 75, 25}},        {f.BWorkstations, {432, 8, 75, 25}},
                     {f.LVGroupDeny, {3, 40, 257, 257}}, {f.LVCtxBrowser, {352, 40, 187, 257}},
                     {f.BStop, {264, 96, 85, 41}},       {f.BGo, {264, 160, 85, 41}}};
        for (const auto& row : table) {
            QCOMPARE(row.w->parentWidget(), static_cast<QWidget*>(f.Panel1));
            QCOMPARE(row.w->geometry(), row.r);
        }
        QCOMPARE(f.Label2->text(), QStringLiteral("Kein Internetzugriff hat:"));
        QVERIFY(f.Label2->font().bold());
        QCOMPARE(f.Label2->font().pointSize(), 10);
        QCOMPARE(f.Label2->palette().color(QPalette::WindowText), QColor(Qt::red));
        QCOMPARE(f.Label1->text(), QStringLiteral("Zeige:"));
        // Whatever font stands in for "MS Sans Serif", the fixed labels are not clipped.
        for (QLabel* label : {f.Label1, f.Label2})
            QVERIFY(QFontMetrics(label->font()).horizontalAdvance(label->text()) <= label->width());
        QCOMPARE(f.BUser->text(), QStringLiteral("Ben&utzer"));
        QCOMPARE(f.BWorkstations->text(), QStringLiteral("&Computer"));
        QCOMPARE(f.BStop->text(), QStringLiteral("Internet"));
        QCOMPARE(f.BGo->text(), QStringLiteral("Internet"));
        QVERIFY(f.BStop->font().bold() && f.BGo->font().bold());
        // Picture and caption of every button fit; the style would cut the overflow off.
        for (QPushButton* button : {f.BUser, f.BWorkstations, static_cast<QPushButton*>(f.BStop),
                                    static_cast<QPushButton*>(f.BGo)})
            QVERIFY2(labelOverflow(button) <= 0, qPrintable(button->objectName()));

        // Pictures: the buttons carry theirs, the disabled octagons differ from the enabled.
        QVERIFY(!f.BUser->icon().isNull() && !f.BWorkstations->icon().isNull());
        QCOMPARE(f.BStop->iconSize(), QSize(32, 32));
        const QImage stopOn = f.BStop->icon().pixmap(32, 32, QIcon::Normal).toImage();
        const QImage stopOff = f.BStop->icon().pixmap(32, 32, QIcon::Disabled).toImage();
        QCOMPARE(stopOn.size(), QSize(32, 32));
        QVERIFY(stopOn != stopOff);
        QVERIFY(f.BGo->icon().pixmap(32, 32).toImage() != stopOn);

        // The start state: both Internet buttons and the workstation view off, lists empty.
        QVERIFY(!f.BStop->isEnabled());
        QVERIFY(!f.BGo->isEnabled());
        QVERIFY(!f.BWorkstations->isEnabled());
        QVERIFY(f.BUser->isEnabled());
        QCOMPARE(f.LVGroupDeny->count(), 0);
        QCOMPARE(f.LVCtxBrowser->count(), 0);
        QCOMPARE(f.LVCtxBrowser->selectionMode(), QAbstractItemView::ExtendedSelection);
        QCOMPARE(f.LVGroupDeny->editTriggers(), QAbstractItemView::NoEditTriggers);
        QVERIFY(f.LVGroupDeny->viewport()->acceptDrops());
        QVERIFY(!f.LVCtxBrowser->viewport()->acceptDrops());
    }

    void tabOrder() {
        TForm1& f = *s->form;
        const QList<QWidget*> controls{f.BUser, f.BWorkstations, f.LVCtxBrowser, f.BStop, f.LVGroupDeny, f.BGo};
        QList<QWidget*> seen;
        QWidget* w = f.BUser;
        for (int steps = 0; steps < 200 && seen.size() < controls.size(); ++steps, w = w->nextInFocusChain())
            if (controls.contains(w) && !seen.contains(w)) seen << w;
        QCOMPARE(seen, controls);
    }

    void clientAreaStaysFixed() {
        TForm1& f = *s->form;
        f.resize(900, 700);
        QCoreApplication::processEvents();
        QCOMPARE(f.Panel1->size(), QSize(542, 304));
        const QSize window(542, 304 + f.menuBar()->sizeHint().height());
        QCOMPARE(f.size(), window);
        f.showMaximized();
        QCoreApplication::processEvents();
        QCOMPARE(f.Panel1->size(), QSize(542, 304));
        QCOMPARE(f.minimumSize(), f.maximumSize());
        QCOMPARE(f.size(), window);
    }

    void menus() {
        TForm1& f = *s->form;
        QStringList top;
        for (QAction* a : f.menuBar()->actions()) top << a->text();
        QCOMPARE(top, (QStringList{"&Datei", "&Bearbeiten", "&Ende"}));
        QVERIFY(f.HMEnde->menu() == nullptr);  // acts at once

        auto items = [](QAction* menuAction) {
            QStringList out;
            for (QAction* a : menuAction->menu()->actions()) out << a->text();
            return out;
        };
        QCOMPARE(items(f.menuBar()->actions()[0]),
                 (QStringList{"Bearbeite &INI-Datei", "&Info", "Nutzungs&bestimmungen", "Tarvel-&Homepage", "&Ende"}));
        QCOMPARE(items(f.menuBar()->actions()[1]), (QStringList{"Ben&utzer", "&Workstations"}));
        QVERIFY(f.HMBearbeitenUUser->isEnabled());
        QVERIFY(!f.HMBearbeitenUWorkstations->isEnabled());
        QVERIFY(!f.HMBearbeitenUUser->icon().isNull());
        QCOMPARE(f.HMDateiUIni->objectName(), QStringLiteral("HMDateiUIni"));
    }

    void settingsPathFromCommandLine() {
        const std::string folder = QCoreApplication::applicationDirPath().toStdString() + "/";
        QCOMPARE(s->form->ProgramFolder, folder);
        QCOMPARE(s->form->SettingsPath, s->iniPath());

        TForm1 plain(std::vector<std::string>{"tarvel"});
        QCOMPARE(plain.SettingsPath, folder + "tarvel.ini");
        TForm1 named(std::vector<std::string>{"tarvel", "/INI=Schule"});
        QCOMPARE(named.SettingsPath, folder + "Schule.ini");
    }

    void activationRunsOnce() {
        // No settings file: the load said so once, at the first activation.
        QVERIFY(s->form->activated());
        const size_t boxes = s->ports.box.boxes.size();
        QVERIFY(boxes >= 1);
        onModal([&] { mainwindowtest::choose(s->form->HMDateiUInfo); }, [](QWidget*) {});
        QCoreApplication::processEvents();
        s->form->FormActivate();
        QCOMPARE(s->ports.box.boxes.size(), boxes);
    }

    void missingGroupEndsProgram() {
        settings::values().GroupInternetUserDeny = "G_Fehlt.PROJEKTE.UNTERRICHT";
        s->ports.box.boxes.clear();
        QVERIFY(mainwindowtest::choosable(s->form->HMBearbeitenUUser));
        QVERIFY_THROWS_EXCEPTION(platform::ProgramEnded, s->form->HMBearbeitenUUserClick());
        QCOMPARE(s->ports.box.boxes.size(), size_t(1));
        QCOMPARE(s->ports.box.boxes[0].caption, std::string("Tarvel Gruppe existiert nicht"));
        QCOMPARE(s->ports.box.boxes[0].text,
                 std::string("G_Fehlt.PROJEKTE.UNTERRICHT/[ROOT]\r\n"
                             "existiert nicht!\r\n"
                             "Daher kann dieses Programm nicht ausgeführt werden.\r\n"
                             "Wenden Sie sich an den Systemadministrator.\r\n"
                             "Tarvel wird beendet!"));
        QVERIFY(s->ports.box.boxes[0].buttons == platform::Buttons::Ok);
        QCOMPARE(s->ports.shell.endCount, 1);
        QVERIFY(!nwapi::layer().initialised);  // the connection was released first
        QCOMPARE(settings::values().ShowFirst, 1);
        QVERIFY(!s->form->busy());  // the program's end left no command running
    }

    // A user or a container as deny group would take every pupil's security equivalence.
    void groupThatIsNoGroupEndsProgram() {
        settings::values().GroupInternetUserDeny = "admin.UNTERRICHT";
        s->ports.box.boxes.clear();
        QVERIFY(mainwindowtest::choosable(s->form->HMBearbeitenUUser));
        QVERIFY_THROWS_EXCEPTION(platform::ProgramEnded, s->form->HMBearbeitenUUserClick());
        QCOMPARE(s->ports.box.boxes.size(), size_t(1));
        QCOMPARE(s->ports.box.boxes[0].caption, std::string("Tarvel Gruppe existiert nicht"));
        QVERIFY(s->ports.box.boxes[0].text.starts_with("admin.UNTERRICHT\r\nist keine Gruppe!\r\nDaher"));
        QCOMPARE(s->ports.shell.endCount, 1);
    }

    void connectionFailedAtStart() {
        // A tree file that is not there: the boxes come before the window, the window opens,
        // and the view test then fails like a missing group.
        s->close();
        testsupport::writeClientConfig(s->dir.path(), s->dir.file("fehlt.tree"));
        s->ports.box.boxes.clear();
        s->form = std::make_unique<TForm1>(std::vector<std::string>{"tarvel", "/ini=" + s->iniPath()});
        QVERIFY(!s->ports.box.boxes.empty());
        for (const auto& box : s->ports.box.boxes) QCOMPARE(box.caption, std::string("NW-Fehler"));
        s->form->show();
        QVERIFY(s->form->isVisible());
        s->ports.box.boxes.clear();
        QVERIFY(mainwindowtest::choosable(s->form->HMBearbeitenUUser));
        QVERIFY_THROWS_EXCEPTION(platform::ProgramEnded, s->form->HMBearbeitenUUserClick());
        QCOMPARE(s->ports.box.boxes.back().caption, std::string("Tarvel Gruppe existiert nicht"));
    }

    // A wrong LDAP password is asked for three times in all, the later questions saying why; the
    // failed steps' boxes stay as they are; Info names the file, line and reason; "Benutzer"
    // then ends the program with its message, as after any failed connection.
    void wrongLdapPasswordIsAskedAgain() {
        s->close();
        s->server = std::make_unique<ldaptest::Slapd>(
            ldaptest::exportTree(s->dir.file("school.tree"), s->dir.file("school.ldif")));
        const std::string conf = s->server->useAs("admin");
        std::string text = testsupport::readFile(conf);
        const size_t line = text.find("PasswordFile=");
        testsupport::writeFile(conf, text.erase(line, text.find('\n', line) + 1 - line));  // the operator types it
        s->ports.credentials.password = "falsch";
        s->ports.box.boxes.clear();
        s->form = std::make_unique<TForm1>(std::vector<std::string>{"tarvel", "/ini=" + s->iniPath()});
        const std::vector<std::string>& prompts = s->ports.credentials.prompts;
        QCOMPARE(prompts.size(), size_t(3));
        QVERIFY(prompts[0].starts_with("Kennwort für admin.UNTERRICHT"));
        QCOMPARE(prompts[1], "Kennwort falsch\r\n" + prompts[0]);
        QCOMPARE(prompts[2], prompts[1]);
        QCOMPARE(s->boxCaptions(), (std::vector<std::string>{"NW-Fehler", "NW-Fehler", "NW-Fehler"}));
        QCOMPARE(s->ports.box.boxes[0].text, std::string("Fehler 36625. NWCCGetPrimConnRef"));
        onModal([&] { s->form->HMDateiUInfo->trigger(); },
                [&](QWidget* w) {
                    QCOMPARE(qobject_cast<TFInfo*>(w)->connectionLabel->text().toStdString(),
                             "Verbindung fehlgeschlagen: " + conf +
                                 ":3: Anmeldung abgelehnt: Kennwort falsch (Fehler 36625; Operator=admin.UNTERRICHT)");
                });
        QVERIFY(s->form->BUser->isEnabled());
        QVERIFY(mainwindowtest::choosable(s->form->HMBearbeitenUUser));
        QVERIFY_THROWS_EXCEPTION(platform::ProgramEnded, s->form->HMBearbeitenUUserClick());
        QCOMPARE(s->ports.box.boxes.back().caption, std::string("Tarvel Gruppe existiert nicht"));
        ::prctl(PR_SET_DUMPABLE, 1, 0, 0, 0);  // the LDAP client turned core dumps off
    }

    // The settings file ./run writes for the demo: the first start shows no box.
    void demoSettingsOfRunStartWithoutABox() {
        s->close();
        QCOMPARE(testsupport::runCommand("bash " TARVEL_SOURCE_DIR "/scripts/demo-settings.sh " + s->iniPath()), 0);
        s->ports.box.boxes.clear();
        s->open();
        QCOMPARE(s->boxCaptions(), std::vector<std::string>{});
        QTest::mouseClick(s->form->BUser, Qt::LeftButton);
        QCOMPARE(s->boxCaptions(), std::vector<std::string>{});
        QCOMPARE(s->form->LVGroupDeny->count(), 5);
        QVERIFY(Session::captions(s->form->LVCtxBrowser).contains("SCHUELER"));
    }

    void missingContainerNamedWithGroup() {
        settings::values().BasisUserContainer = "GIBTSNICHT.UNTERRICHT";
        s->ports.box.boxes.clear();
        QVERIFY(mainwindowtest::pressable(s->form->BUser));
        QVERIFY_THROWS_EXCEPTION(platform::ProgramEnded, s->form->ShowUserView());
        QCOMPARE(s->ports.box.boxes.size(), size_t(1));
        QVERIFY(s->ports.box.boxes[0].text.starts_with(mainwindowtest::DenyGroup +
                                                      "/GIBTSNICHT.UNTERRICHT\r\nexistiert nicht!\r\n"));
    }

    void workstationMessageNamesGroupAlone() {
        settings::values().GroupInternetWSDeny = "G_Fehlt.PROJEKTE.UNTERRICHT";
        s->ports.box.boxes.clear();
        // The start-up path (ShowFirst=2): no button leads here while the view button is off.
        QVERIFY_THROWS_EXCEPTION(platform::ProgramEnded, s->form->ShowWorkstationView());
        QVERIFY(s->ports.box.boxes.at(0).text.starts_with("G_Fehlt.PROJEKTE.UNTERRICHT\r\nexistiert nicht!"));
        QCOMPARE(settings::values().ShowFirst, 2);
    }

    void groupTestedAsAbsoluteName() {
        // The built-in group has no leading dot; after browsing into a container a second
        // "Benutzer" must still find it.
        QCOMPARE(settings::values().GroupInternetUserDeny, mainwindowtest::DenyGroup);
        mainwindowtest::choose(s->form->HMBearbeitenUUser);
        QVERIFY(s->enter("UNTERRICHT"));
        QVERIFY(s->enter("PROJEKTE"));
        QCOMPARE(QString::fromStdString(s->form->Browser.AktContext()).toUpper(), QStringLiteral("PROJEKTE.UNTERRICHT"));
        mainwindowtest::choose(s->form->HMBearbeitenUUser);
        QCOMPARE(s->ports.shell.endCount, 0);
        QVERIFY(s->form->LVCtxBrowser->count() > 0);
    }

    void homepage() {
        s->ports.box.boxes.clear();
        testsupport::writeFile(s->dir.file("README.md"), "# Tarvelweb\n");
        s->form->ProgramFolder = s->dir.path() + "/";
        mainwindowtest::choose(s->form->HMDateiUHomepage);
        QCOMPARE(s->ports.shell.opened.size(), size_t(1));
        QVERIFY(s->ports.shell.opened[0].starts_with("file:"));
        QVERIFY(s->ports.shell.opened[0].ends_with("README.md"));
        QVERIFY(s->ports.box.boxes.empty());

        s->ports.shell.openSucceeds = false;
        s->form->HMDateiUHomepage->trigger();
        // A build without the guide beside it has nothing to open: the same box, no browser.
        std::filesystem::remove(s->dir.file("README.md"));
        s->ports.shell.openSucceeds = true;
        s->form->HMDateiUHomepage->trigger();
        QCOMPARE(s->ports.shell.opened.size(), size_t(2));
        QCOMPARE(s->boxCaptions(), (std::vector<std::string>{"Browser - Fehler", "Browser - Fehler"}));
        QCOMPARE(s->ports.box.boxes[1].text, std::string("Der Browser kann nicht gestartet werden !"));
    }

    void infoAndTermsAtWindowCorner() {
        const QPoint corner = s->form->pos();
        onModal([&] { mainwindowtest::choose(s->form->HMDateiUInfo); },
                [&](QWidget* w) {
                    auto* info = qobject_cast<TFInfo*>(w);
                    QVERIFY(info);
                    QCOMPARE(info->pos(), corner);
                    QVERIFY(info->LVersion->text().contains("0.9.4"));
                    QVERIFY(info->LLizenz->text().contains("GPL-3.0-or-later"));
                    // whose rights apply: the tree file and the operator, and that they are advisory
                    const QString tree = QString::fromStdString(s->dir.file("school.tree"));
                    QCOMPARE(info->LVerzeichnis->text(), QStringLiteral("Verzeichnis: ") + tree);
                    QCOMPARE(info->LOperator->text(), QStringLiteral("Angemeldet als: admin.UNTERRICHT"));
                    QVERIFY(info->LRechte->isVisibleTo(info) && info->LRechte->text().contains("nicht erzwungen"));
                });
        onModal([&] { mainwindowtest::choose(s->form->HMDateiUNutzung); },
                [&](QWidget* w) {
                    auto* terms = qobject_cast<TFNutzung*>(w);
                    QVERIFY(terms);
                    QCOMPARE(terms->pos(), corner);
                    QVERIFY(QString::fromUtf8(TFNutzung::Text).contains(QString::fromUtf8("Nutzungsbestimmungen")));
                });
    }

    void settingsDialogOffset() {
        mainwindowtest::choose(s->form->HMBearbeitenUUser);
        const QStringList deny = Session::captions(s->form->LVGroupDeny);
        const QStringList browser = Session::captions(s->form->LVCtxBrowser);
        QVERIFY(!deny.isEmpty() && !browser.isEmpty());
        const QPoint corner = s->form->pos();
        onModal([&] { mainwindowtest::choose(s->form->HMDateiUIni); },
                [&](QWidget* w) {
                    QVERIFY(qobject_cast<TINItarvel*>(w));
                    QCOMPARE(w->pos(), corner + QPoint(13, 25));
                    QCOMPARE(w->parentWidget(), static_cast<QWidget*>(s->form.get()));
                });
        QCoreApplication::processEvents();
        QVERIFY(s->form->findChildren<TINItarvel*>().isEmpty());  // freed afterwards
        // No second activation: both lists keep their rows.
        QCOMPARE(Session::captions(s->form->LVGroupDeny), deny);
        QCOMPARE(Session::captions(s->form->LVCtxBrowser), browser);
    }

    void enterHandlersIgnoreWindowReactivation() {
        TForm1& f = *s->form;
        mainwindowtest::choose(f.HMBearbeitenUUser);
        QVERIFY(f.LVCtxBrowser->count() > 0);
        QVERIFY(!f.BStop->isEnabled());

        Session::select(f.LVCtxBrowser, {0});
        QVERIFY(f.BStop->isEnabled() && f.BGo->isEnabled());

        // Focus moving between controls switches them off...
        f.LVGroupDeny->setFocus(Qt::TabFocusReason);
        QVERIFY(!f.BStop->isEnabled() && !f.BGo->isEnabled());
        Session::select(f.LVCtxBrowser, {0});
        QVERIFY(f.BStop->isEnabled());

        // ...the window getting the focus back after a box does not.
        QFocusEvent back(QEvent::FocusIn, Qt::ActiveWindowFocusReason);
        QCoreApplication::sendEvent(f.LVGroupDeny, &back);
        QFocusEvent popup(QEvent::FocusIn, Qt::PopupFocusReason);
        QCoreApplication::sendEvent(f.BUser, &popup);
        QVERIFY(f.BStop->isEnabled() && f.BGo->isEnabled());

        // And with a real modal dialog in between: the deny list gets the focus back with
        // the reason "window activated", which must not count as entering it.
        struct FocusSpy : QObject {
            QList<Qt::FocusReason> reasons;
            bool eventFilter(QObject* o, QEvent* e) override {
                if (e->type() == QEvent::FocusIn) reasons << static_cast<QFocusEvent*>(e)->reason();
                return QObject::eventFilter(o, e);
            }
        } spy;
        f.LVGroupDeny->installEventFilter(&spy);
        onModal([&] { mainwindowtest::choose(s->form->HMDateiUNutzung); }, [](QWidget*) {});
        f.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&f));
        QTRY_VERIFY(spy.reasons.contains(Qt::ActiveWindowFocusReason));
        QVERIFY(f.BStop->isEnabled() && f.BGo->isEnabled());
        f.LVGroupDeny->removeEventFilter(&spy);

        // Entering the browser puts the focus mark on the first row without selecting it.
        f.LVCtxBrowser->clearSelection();
        f.LVCtxBrowser->setFocus(Qt::MouseFocusReason);
        QCOMPARE(f.LVCtxBrowser->currentRow(), 0);
        QVERIFY(!f.LVCtxBrowser->item(0)->isSelected());
        QVERIFY(!f.BStop->isEnabled());
    }

    void controlsReachTheirHandlers() {
        TForm1& f = *s->form;
        QTest::mouseClick(f.BUser, Qt::LeftButton);
        QCOMPARE(Session::captions(f.LVCtxBrowser), QStringList{"UNTERRICHT"});

        const QRect row = f.LVCtxBrowser->visualItemRect(f.LVCtxBrowser->item(0));
        QTest::mouseClick(f.LVCtxBrowser->viewport(), Qt::LeftButton, {}, row.center());
        QVERIFY(f.BStop->isEnabled());
        QTest::mouseDClick(f.LVCtxBrowser->viewport(), Qt::LeftButton, {}, row.center());
        QVERIFY(Session::captions(f.LVCtxBrowser).contains("SCHUELER"));

        f.HMEnde->trigger();
        QVERIFY(!f.isVisible());
    }

    void rowsShowTheirFullNamesAsHints() {
        TForm1& f = *s->form;
        QTest::mouseClick(f.BUser, Qt::LeftButton);
        for (const char* name : {"UNTERRICHT", "PROJEKTE"}) {
            const int row = Session::rowOf(f.LVCtxBrowser, name);
            QVERIFY(row >= 0);
            const QRect r = f.LVCtxBrowser->visualItemRect(f.LVCtxBrowser->item(row));
            QTest::mouseDClick(f.LVCtxBrowser->viewport(), Qt::LeftButton, {}, r.center());
        }
        QVERIFY(f.LVCtxBrowser->count() > 2);
        for (int i = 0; i < f.LVCtxBrowser->count(); ++i) {
            const QString caption = f.LVCtxBrowser->item(i)->text();
            QCOMPARE(f.LVCtxBrowser->item(i)->toolTip(),
                     caption == ".." ? QStringLiteral("UNTERRICHT") : caption + ".PROJEKTE.UNTERRICHT");
        }
        QVERIFY(f.LVGroupDeny->count() > 0);
        for (int i = 0; i < f.LVGroupDeny->count(); ++i)
            QCOMPARE(f.LVGroupDeny->item(i)->toolTip(), f.LVGroupDeny->item(i)->text());

        // Resting the mouse on a row cut at the list's edge shows the whole name.
        QListWidgetItem* last = f.LVGroupDeny->item(f.LVGroupDeny->count() - 1);
        const QPoint at = f.LVGroupDeny->visualItemRect(last).center();
        QHelpEvent help(QEvent::ToolTip, at, f.LVGroupDeny->viewport()->mapToGlobal(at));
        QCoreApplication::sendEvent(f.LVGroupDeny->viewport(), &help);
        QTRY_COMPARE(QToolTip::text(), last->text());
        QToolTip::hideText();
        QCOMPARE(f.LVGroupDeny->geometry(), QRect(3, 40, 257, 257));
    }

    void internetButtonsHaveAccessibleNames() {
        TForm1& f = *s->form;
        QAccessibleInterface* stop = QAccessible::queryAccessibleInterface(f.BStop);
        QAccessibleInterface* go = QAccessible::queryAccessibleInterface(f.BGo);
        QVERIFY(stop && go);
        QCOMPARE(stop->text(QAccessible::Name), QStringLiteral("Internet sperren"));
        QCOMPARE(go->text(QAccessible::Name), QStringLiteral("Internet freigeben"));
        QCOMPARE(f.BStop->text(), QStringLiteral("Internet"));  // the caption stays
        QCOMPARE(QAccessible::queryAccessibleInterface(f.LVGroupDeny)->text(QAccessible::Name),
                 QStringLiteral("Kein Internetzugriff hat"));
        QCOMPARE(QAccessible::queryAccessibleInterface(f.LVCtxBrowser)->text(QAccessible::Name),
                 QStringLiteral("Verzeichnis"));
    }

    // A base container with an umlaut is held lower-cased ("schüler"); the directory spells it
    // "SCHÜLER". ".." must still stop there.
    void baseContainerWithUmlautHoldsTheBrowser() {
        s->close();
        const std::string tree = s->dir.file("school.tree");
        QCOMPARE(testsupport::runTreeTool("add " + tree + " SCHÜLER.UNTERRICHT 'Organizational Unit'"), 0);
        QCOMPARE(testsupport::runTreeTool("add " + tree + " Özdemir.SCHÜLER.UNTERRICHT User"), 0);
        // as the settings dialog saves it: lower-cased with the national rules
        s->writeSettings("BasisUserContainer=schüler.unterricht\r\n");
        s->open();
        s->ports.box.boxes.clear();
        TForm1& f = *s->form;
        QCOMPARE(settings::values().BasisUserContainer, std::string("schüler.unterricht"));
        QTest::mouseClick(f.BUser, Qt::LeftButton);
        QCOMPARE(Session::captions(f.LVCtxBrowser), (QStringList{"..", "Özdemir"}));
        const QRect up = f.LVCtxBrowser->visualItemRect(f.LVCtxBrowser->item(0));
        QTest::mouseDClick(f.LVCtxBrowser->viewport(), Qt::LeftButton, {}, up.center());
        QCOMPARE(Session::captions(f.LVCtxBrowser), (QStringList{"..", "Özdemir"}));
        QCOMPARE(s->boxCaptions(), std::vector<std::string>{});
    }

    // --help and --version answer on the terminal, with no display to open a window on.
    void commandLineAnswersWithoutADisplay() {
        const std::string tool = TARVEL_TREE_TOOL;
        const std::string program = tool.substr(0, tool.rfind('/')) + "/tarvel";
        const std::string noDisplay = "env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM=xcb ";
        std::string out;
        QCOMPARE(testsupport::runCommand(noDisplay + program + " --help 2>/dev/null", &out), 0);
        QVERIFY2(out.find("/ini=DATEI") != std::string::npos && out.find("--version") != std::string::npos,
                 out.c_str());
        // Qt's own lines in German as well, whatever the locale.
        QVERIFY2(out.find("Aufruf:") != std::string::npos && out.find("Optionen:") != std::string::npos, out.c_str());
        QCOMPARE(testsupport::runCommand(noDisplay + program + " --version 2>/dev/null", &out), 0);
        QCOMPARE(out, std::string("Tarvelweb " TARVEL_VERSION "\n"));
        QCOMPARE(testsupport::runCommand(noDisplay + program + " /ini=x -v 2>/dev/null", &out), 0);
        QCOMPARE(out, std::string("Tarvelweb " TARVEL_VERSION "\n"));
        // Without either, the program does want the display, says so and ends with 1 (not a core dump).
        const std::string none = "env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM ";
        QCOMPARE(testsupport::runCommand(none + program + " /ini=x", &out), 1);
        QVERIFY2(out.find("braucht eine grafische Oberfläche") != std::string::npos, out.c_str());
        QCOMPARE(testsupport::runCommand(noDisplay + program + " /ini=x", &out), 1);

        QCOMPARE(testsupport::runCommand(tool + " --help 2>/dev/null", &out), 0);
        QVERIFY2(out.find("Aufruf: tarvel-tree") != std::string::npos, out.c_str());
        QCOMPARE(testsupport::runCommand(tool + " --version 2>/dev/null", &out), 0);
        QCOMPARE(out, std::string("tarvel-tree " TARVEL_VERSION "\n"));
    }

    // The LDAP password stays in memory while the program runs: no core dump may carry it.
    void passwordKeptOutOfCoreDumps() {
        QCOMPARE(::prctl(PR_GET_DUMPABLE, 0, 0, 0, 0), 1);  // the embedded tree needs no password
        s->close();
        s->open(ldaptest::ADMIN, false, true);
        QVERIFY(s->form->activated());
        QCOMPARE(::prctl(PR_GET_DUMPABLE, 0, 0, 0, 0), 0);
        ::prctl(PR_SET_DUMPABLE, 1, 0, 0, 0);  // for the tests after this one
    }

    void oneCommandAtATime() {
        TForm1& f = *s->form;
        mainwindowtest::choose(f.HMBearbeitenUUser);
        Session::select(f.LVCtxBrowser, {0});
        s->ports.box.boxes.clear();

        // While a listing pumps messages, every command that arrives is ignored and closing
        // waits for the listing to end.
        int nested = 0;
        bool closedDuringListing = false;
        s->ports.pump.onPump = [&](int) {
            if (nested++) return;
            f.BStopClick();
            f.BGoClick();
            f.LVCtxBrowserDblClick();
            f.HMBearbeitenUUserClick();
            QVERIFY(!f.LVGroupDenyOnDragOver("LVCtxBrowser"));
            f.close();
            closedDuringListing = !f.isVisible();
        };
        mainwindowtest::choose(f.HMBearbeitenUUser);
        s->ports.pump.onPump = nullptr;
        QVERIFY(nested > 0);
        QVERIFY(!closedDuringListing);
        QVERIFY(s->ports.box.boxes.empty());  // no "Auswahl-Fehler", no second listing's boxes
        QVERIFY(!f.isVisible());              // the close came after the listing
    }
};

QTEST_MAIN(TestMainWindow)
#include "mainwindow_test.moc"
