// The settings dialog over the demo school and a temporary settings file: filling, picking from
// the tree (the picker driven from inside its modal run), checking, saving and reloading.
#include "picker_fixture.h"

#include "settings/settings.h"
#include "settings/ui/form_support.h"
#include "settings/ui/ini_tarvel.h"

#include <QAccessible>
#include <QButtonGroup>
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QToolTip>
#include <QtTest>

using pickertest::CatchShow;
using pickertest::rowOf;
using pickertest::waitForListing;

namespace {

const std::string kSettings =
    "[TYP]\r\nTYP=Tarvel\r\nVer=100\r\n\r\n"
    "[DEFAULT]\r\nBasisUserContainer=PROJEKTE.UNTERRICHT\r\nBasisWorkstationContainer=.SCHUELER.UNTERRICHT\r\n"
    "GroupInternetUserDeny=G_User_Internet_Deny.PROJEKTE.UNTERRICHT\r\n"
    "GroupInternetWSDeny=.G_WS_Internet_Deny.PROJEKTE.UNTERRICHT\r\n\r\n"
    "[SWITCH]\r\nBasisUserContainerGoUpALevel=1\r\nBasisGroupContainerGoUpALevel=0\r\n\r\n"
    "[SHOW]\r\nShowFirst=2\r\nShowContainer=Kl, Schue*\r\nNoShowContainer=Verwalter, min*\r\n"
    "ShowLeaf=\r\nNoShowLeaf=Test\r\n";

// The value of a key line in a saved file ("Key=value" between CR LF), or "<missing>".
std::string savedValue(const std::string& file, const std::string& key) {
    const std::string start = "\r\n" + key + "=";
    const size_t at = file.find(start);
    if (at == std::string::npos) return "<missing>";
    const size_t from = at + start.size();
    return file.substr(from, file.find("\r\n", from) - from);
}

}  // namespace

class TestSettingsDialog : public QObject {
    Q_OBJECT

private slots:
    void init() {
        session = std::make_unique<pickertest::Session>();
        session->open();
        iniPath = session->dir.file("tarvel.ini");
        testsupport::writeFile(iniPath, kSettings);
        settings::LoadSettings(iniPath);
        QVERIFY(session->ports.box.boxes.empty());
    }
    void cleanup() {
        QToolTip::hideText();
        session->close();
        session.reset();
        // Nothing of the dialogs is left: no window open, no dialog object alive.
        for (QWidget* w : QApplication::topLevelWidgets()) {
            QTRY_VERIFY2(!w->isVisible(), qPrintable(w->objectName()));
            QVERIFY(!qobject_cast<TINItarvel*>(w) && !qobject_cast<TMiniNDSBrowser*>(w));
        }
    }

    void formHasItsLayoutOrderFontsAndHints() {
        TINItarvel dlg(nullptr, iniPath);
        QCOMPARE(dlg.windowTitle(), QStringLiteral("Tarvelweb: Einstellungen"));
        QCOMPARE(dlg.size(), QSize(350, 501));
        QCOMPARE(dlg.EIniBasisUserContainer->geometry(), QRect(8, 24, 305, 21));
        QCOMPARE(dlg.BIniGroupInternetWSDeny->geometry(), QRect(312, 224, 20, 20));
        QCOMPARE(dlg.EIniNoShowLeafList->geometry(), QRect(8, 408, 321, 21));
        QCOMPARE(dlg.BIniSave->geometry(), QRect(88, 440, 75, 25));
        QCOMPARE(dlg.BIniClose->text(), QStringLiteral("&Schliessen"));
        QVERIFY(!dlg.RGShowFirst->isEnabled());

        QCOMPARE(dlg.font().families().value(0), QStringLiteral("MS Sans Serif"));
        QCOMPARE(dlg.font().pixelSize(), 11);
        QCOMPARE(dlg.BIniBasisWSContainer->font().families().value(0), QStringLiteral("Arial"));
        QVERIFY(dlg.BIniBasisWSContainer->font().bold());
        QCOMPARE(dlg.BIniBasisWSContainer->font().pixelSize(), 16);
        QVERIFY(dlg.LAnzeigeUeberschrift->font().underline());
        // No button takes Return from an edit box.
        for (QPushButton* b : dlg.findChildren<QPushButton*>()) QVERIFY(!b->autoDefault() && !b->isDefault());

        // Tab order, as the focus chain runs through the focusable controls.
        const QList<QWidget*> expected{dlg.EIniBasisUserContainer, dlg.BIniBasisUserContainer, dlg.EIniBasisWSContainer,
                                       dlg.BIniBasisWSContainer, dlg.CBIniBasisWSContainerGoUpALevel,
                                       dlg.CBIniBasisUserContainerGoUpALevel, dlg.EIniShowContainerList,
                                       dlg.EIniNoShowContainerList, dlg.EIniShowLeafList, dlg.EIniNoShowLeafList,
                                       dlg.BIniSave, dlg.BIniClose, dlg.RGShowFirstItems->button(0),
                                       dlg.EIniGroupInternetUserDeny, dlg.EIniGroupInternetWSDeny,
                                       dlg.BIniGroupInternetUserDeny, dlg.BIniGroupInternetWSDeny};
        QList<QWidget*> chain;
        QWidget* w = dlg.EIniBasisUserContainer;
        do {
            if (expected.contains(w)) chain << w;
            w = w->nextInFocusChain();
        } while (w != dlg.EIniBasisUserContainer && chain.size() < 40);
        QCOMPARE(chain, expected);

        // Each up-a-level box explains the switch it carries.
        QVERIFY(dlg.CBIniBasisWSContainerGoUpALevel->text().endsWith("(Benutzer)"));
        QCOMPARE(dlg.CBIniBasisWSContainerGoUpALevel->toolTip(),
                 QStringLiteral("Erlaubnis vom Basis-Benutzer-Container aus in der NDS hoch zu steigen"));
        QVERIFY(dlg.CBIniBasisUserContainerGoUpALevel->text().endsWith("(Gruppen)"));
        QCOMPARE(dlg.CBIniBasisUserContainerGoUpALevel->toolTip(),
                 QStringLiteral("Erlaubnis vom Basis-Workstation-Container aus in der NDS hoch zu steigen"));
        QCOMPARE(dlg.BIniBasisUserContainer->toolTip(), QStringLiteral("Auswahl über den Mini-NDS-Browser"));
        QCOMPARE(dlg.EIniShowLeafList->toolTip().split('\n').value(1),
                 QStringLiteral("etwa alle hier interessierenden User/WS-Namen mit \"Kl\" (Kl8Schmitt,...)"));
        QCOMPARE(dlg.EIniNoShowLeafList->toolTip().split('\n').value(2),
                 QStringLiteral("Also um z.B. die Benutzer TestSchueler, LehrerTestUser, SchuelerVerwalter,... "));
        for (QLabel* l : dlg.findChildren<QLabel*>()) QVERIFY(l->toolTip().isEmpty());

        // A screen reader names each box by the label above it.
        const QList<QPair<QLabel*, QLineEdit*>> named{{dlg.LIniBasisUserContainer, dlg.EIniBasisUserContainer},
                                                      {dlg.LIniBasisGroupContainer, dlg.EIniBasisWSContainer},
                                                      {dlg.LGroupInternetUserDeny, dlg.EIniGroupInternetUserDeny},
                                                      {dlg.LGroupInternetWSDeny, dlg.EIniGroupInternetWSDeny},
                                                      {dlg.LIniShowUserContainer, dlg.EIniShowContainerList},
                                                      {dlg.LIniNoShowUserContainerList, dlg.EIniNoShowContainerList},
                                                      {dlg.LIniShowUserLeafList, dlg.EIniShowLeafList},
                                                      {dlg.LIniNoShowUserLeafList, dlg.EIniNoShowLeafList}};
        for (const auto& [label, edit] : named) {
            QAccessibleInterface* a = QAccessible::queryAccessibleInterface(edit);
            QVERIFY(a);
            QCOMPARE(a->text(QAccessible::Name), label->text());
        }
        // ... and each "..." by what it picks.
        const QList<QPair<QPushButton*, QString>> picks{
            {dlg.BIniBasisUserContainer, "Basis-Benutzer-Container"},
            {dlg.BIniBasisWSContainer, "Basis-Workstation-Container"},
            {dlg.BIniGroupInternetUserDeny, "Internet-Verbotsgruppe (User)"},
            {dlg.BIniGroupInternetWSDeny, "Internet-Verbotsgruppe (Workstations)"}};
        for (const auto& [button, what] : picks)
            QCOMPARE(QAccessible::queryAccessibleInterface(button)->text(QAccessible::Name), what + " auswählen");
    }

    void textsFitTheirControlsAndTheForm() {
        TINItarvel dlg(nullptr, iniPath);
        dlg.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dlg));
        // Whatever face stands in for "MS Sans Serif", no caption is cut off, and nothing runs
        // past the form's edge.
        const QRect form = dlg.rect();
        for (QWidget* w : dlg.findChildren<QWidget*>()) {
            if (!qobject_cast<QLabel*>(w) && !qobject_cast<QCheckBox*>(w) && !qobject_cast<QRadioButton*>(w)) continue;
            QVERIFY2(w->sizeHint().width() <= w->width(), qPrintable(w->objectName()));
            QVERIFY2(form.contains(QRect(w->mapTo(&dlg, QPoint(0, 0)), w->size())), qPrintable(w->objectName()));
        }
        // The design's widths stand where the text fits them.
        QCOMPARE(dlg.LIniBasisUserContainer->geometry(), QRect(8, 8, 121, 13));
        QCOMPARE(dlg.LAnzeigeUeberschrift->geometry(), QRect(8, 256, 325, 13));
        QCOMPARE(dlg.CBIniBasisUserContainerGoUpALevel->geometry(), QRect(8, 104, 265, 17));
        for (QPushButton* b : {dlg.BIniSave, dlg.BIniClose}) {
            const int caption = b->fontMetrics().horizontalAdvance(b->text().remove('&'));
            QVERIFY2(caption + 8 <= b->width(), qPrintable(b->objectName()));
        }

        // The radio group's frame runs around its items, its caption on the frame's top line:
        // beside the items (right of them, inside the group) no frame line crosses.
        QCOMPARE(dlg.RGShowFirst->geometry(), QRect(8, 128, 257, 33));
        const QImage picture = dlg.RGShowFirst->grab().toImage();
        const QColor face = picture.pixelColor(picture.width() / 2, picture.height() / 2 + 1);
        QList<int> lineRows;
        for (int y = 0; y < picture.height(); ++y)
            if (picture.pixelColor(picture.width() - 4, y) != face) lineRows << y;
        QVERIFY(!lineRows.isEmpty());
        int itemsTop = picture.height();
        int itemsBottom = 0;
        for (QAbstractButton* item : dlg.RGShowFirstItems->buttons()) {
            QVERIFY(dlg.RGShowFirst->rect().contains(item->geometry()));
            itemsTop = std::min(itemsTop, item->geometry().top());
            itemsBottom = std::max(itemsBottom, item->geometry().bottom());
        }
        for (int y : lineRows) QVERIFY2(y < itemsTop || y > itemsBottom, qPrintable(QString::number(y)));
        dlg.reject();
    }

    void hintsAppearAfterASecondAndStay() {
        TINItarvel dlg(nullptr, iniPath);
        QVERIFY(HintTiming::instance());
        QCOMPARE(HintTiming::instance()->wakeUpDelay(), 1000);
        QCOMPARE(HintTiming::instance()->showDuration(), 25000);
        dlg.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dlg));

        QEnterEvent enter(QPointF(5, 5), QPointF(5, 5), QPointF(dlg.EIniBasisWSContainer->mapToGlobal(QPoint(5, 5))));
        QCoreApplication::sendEvent(dlg.EIniBasisWSContainer, &enter);
        // Qt's own tool-tip event does not show it early.
        QHelpEvent early(QEvent::ToolTip, QPoint(5, 5), dlg.EIniBasisWSContainer->mapToGlobal(QPoint(5, 5)));
        QCoreApplication::sendEvent(dlg.EIniBasisWSContainer, &early);
        QVERIFY(!QToolTip::isVisible());
        QTRY_VERIFY_WITH_TIMEOUT(QToolTip::isVisible(), 5000);
        QCOMPARE(QToolTip::text(), dlg.EIniBasisWSContainer->toolTip());
        QVERIFY(QToolTip::text().startsWith("Bei der Workstation-Auswahl werden die Workstations ab\n"));
        dlg.reject();
    }

    void fillingShowsTheValues() {
        {
            TINItarvel dlg(nullptr, iniPath);
            QCOMPARE(dlg.EIniBasisUserContainer->text(), QStringLiteral("PROJEKTE.UNTERRICHT"));
            QCOMPARE(dlg.EIniBasisWSContainer->text(), QStringLiteral("SCHUELER.UNTERRICHT"));
            QCOMPARE(dlg.EIniGroupInternetUserDeny->text(), QStringLiteral(".G_User_Internet_Deny.PROJEKTE.UNTERRICHT"));
            // The user switch is on, the workstation switch off: the boxes show them apart.
            QVERIFY(dlg.CBIniBasisWSContainerGoUpALevel->isChecked());
            QVERIFY(!dlg.CBIniBasisUserContainerGoUpALevel->isChecked());
            QCOMPARE(dlg.RGShowFirstItemIndex(), 1);
            // Show lists without their "*", hide lists as they are.
            QCOMPARE(dlg.EIniShowContainerList->text(), QStringLiteral("Kl, Schue"));
            QCOMPARE(dlg.EIniNoShowContainerList->text(), QStringLiteral("Verwalter, min*"));
            QCOMPARE(dlg.EIniShowLeafList->text(), QString());
            QCOMPARE(dlg.EIniNoShowLeafList->text(), QStringLiteral("Test"));
        }
        settings::values().ShowFirst = 0;
        {
            TINItarvel dlg(nullptr, iniPath);
            QCOMPARE(dlg.RGShowFirstItemIndex(), -1);
            QCOMPARE(settings::values().ShowFirst, 0);
        }
        settings::values().ShowFirst = 7;
        {
            TINItarvel dlg(nullptr, iniPath);
            QCOMPARE(dlg.RGShowFirstItemIndex(), 0);
            QCOMPARE(settings::values().ShowFirst, 1);
        }
    }

    void saveWithoutChangesRewritesEquivalentValues() {
        testsupport::writeFile(iniPath, std::string(kSettings).replace(kSettings.find("ShowLeaf="), 9, "ShowLeaf=Gym*"));
        settings::LoadSettings(iniPath);
        TINItarvel dlg(nullptr, iniPath);
        dlg.show();
        QTest::mouseClick(dlg.BIniSave, Qt::LeftButton);
        QVERIFY(!dlg.isVisible());
        QCOMPARE(dlg.result(), int(QDialog::Accepted));
        QVERIFY(session->ports.box.boxes.empty());

        const std::string file = testsupport::readFile(iniPath);
        QCOMPARE(savedValue(file, "BasisUserContainer"), std::string("projekte.unterricht"));
        QCOMPARE(savedValue(file, "BasisWorkstationContainer"), std::string("schueler.unterricht"));
        QCOMPARE(savedValue(file, "GroupInternetUserDeny"), std::string(".G_User_Internet_Deny.PROJEKTE.UNTERRICHT"));
        QCOMPARE(savedValue(file, "BasisUserContainerGoUpALevel"), std::string("1"));
        QCOMPARE(savedValue(file, "BasisGroupContainerGoUpALevel"), std::string("0"));
        QCOMPARE(savedValue(file, "ShowFirst"), std::string("2"));
        QCOMPARE(savedValue(file, "ShowContainer"), std::string("Kl, Schue"));
        QCOMPARE(savedValue(file, "NoShowContainer"), std::string("Verwalter, min*"));
        QCOMPARE(savedValue(file, "ShowLeaf"), std::string("Gym"));
        QVERIFY(file.find("(ServerTime)") != std::string::npos);

        // Reloaded at once: the show lists regain their "*".
        const settings::Values& v = settings::values();
        QCOMPARE(v.ShowContainerList, (text::NameList{"Kl*", "Schue*"}));
        QCOMPARE(v.BasisUserContainer, std::string("projekte.unterricht"));
        QVERIFY(v.BasisUserContainerGoUpALevel);
        QVERIFY(!v.BasisGroupContainerGoUpALevel);
    }

    void missingContainersLeaveTheFileUntouched() {
        const std::string before = testsupport::readFile(iniPath);
        TINItarvel dlg(nullptr, iniPath);
        dlg.show();
        dlg.EIniBasisUserContainer->setText(".");  // a lone dot keeps it and is tested as ".."
        dlg.EIniBasisWSContainer->setText(".GibtEsNicht.UNTERRICHT");
        dlg.EIniGroupInternetUserDeny->setText("G_Anders");
        dlg.EIniShowContainerList->setText("Neu");
        QTest::mouseClick(dlg.BIniSave, Qt::LeftButton);
        QVERIFY(!dlg.isVisible());

        const auto& boxes = session->ports.box.boxes;
        QCOMPARE(boxes.size(), size_t(4));
        QCOMPARE(boxes[0].caption, std::string("NDS/INI-Fehler"));
        QCOMPARE(boxes[0].text, std::string("Der Basis-Benutzer-Container (Context)\r\n\".\"\r\nkann nicht gefunden werden !"));
        QCOMPARE(boxes[1].caption, std::string("NDS/INI-Fehler"));
        QCOMPARE(boxes[1].text,
                 std::string("Der Basis-Workstation-Container (Context)\r\n\"gibtesnicht.unterricht\"\r\n"
                             "kann nicht gefunden werden !"));
        QCOMPARE(boxes[2].caption, std::string("NDS/INI-Fehler"));
        QCOMPARE(boxes[2].text,
                 std::string("Die Internet-Verbotsgruppe (User)\r\n\".G_Anders\"\r\nkann nicht gefunden werden !"));
        QCOMPARE(boxes[3].caption, std::string("INI-Fehler"));
        QCOMPARE(boxes[3].text, std::string("Es traten Fehler auf.\r\nDie INI-Datei wird\r\ndaher nicht verändert !"));
        QCOMPARE(boxes[3].buttons, platform::Buttons::Ok);

        QCOMPARE(testsupport::readFile(iniPath), before);
        // The reload brought back the file's values; nothing typed shows next time.
        QCOMPARE(settings::values().GroupInternetUserDeny, std::string(".G_User_Internet_Deny.PROJEKTE.UNTERRICHT"));
        QCOMPARE(settings::values().ShowContainerList, (text::NameList{"Kl*", "Schue*"}));
        TINItarvel again(nullptr, iniPath);
        QCOMPARE(again.EIniBasisUserContainer->text(), QStringLiteral("PROJEKTE.UNTERRICHT"));
        QCOMPARE(again.EIniGroupInternetUserDeny->text(), QStringLiteral(".G_User_Internet_Deny.PROJEKTE.UNTERRICHT"));
        QCOMPARE(again.EIniShowContainerList->text(), QStringLiteral("Kl, Schue"));
    }

    // A typo in the user deny group, an emptied box, or an object that is no group is caught on
    // saving: the file keeps the group that exists. The workstation deny group is not looked up (schools may have none).
    void unusableDenyGroupIsNotSaved_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<QString>("why");
        const QString missing = QStringLiteral("kann nicht gefunden werden !");
        QTest::newRow("typo") << "G_User_Internet_Denny.PROJEKTE.UNTERRICHT"
                              << "G_User_Internet_Denny.PROJEKTE.UNTERRICHT" << missing;
        QTest::newRow("emptied") << "" << "." << missing;
        QTest::newRow("leading dot") << ".G_Nix.PROJEKTE.UNTERRICHT" << ".G_Nix.PROJEKTE.UNTERRICHT" << missing;
        QTest::newRow("a user") << "admin.UNTERRICHT" << "admin.UNTERRICHT" << "ist keine Gruppe !";
        QTest::newRow("a container") << ".PROJEKTE.UNTERRICHT" << ".PROJEKTE.UNTERRICHT" << "ist keine Gruppe !";
    }
    void unusableDenyGroupIsNotSaved() {
        QFETCH(QString, typed);
        QFETCH(QString, shown);
        QFETCH(QString, why);
        const std::string before = testsupport::readFile(iniPath);
        TINItarvel dlg(nullptr, iniPath);
        dlg.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dlg));
        dlg.EIniGroupInternetUserDeny->setFocus();
        QTest::keyClick(dlg.EIniGroupInternetUserDeny, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClick(dlg.EIniGroupInternetUserDeny, Qt::Key_Delete);
        QTest::keyClicks(dlg.EIniGroupInternetUserDeny, typed);
        dlg.EIniGroupInternetWSDeny->setFocus();
        QTest::keyClick(dlg.EIniGroupInternetWSDeny, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClicks(dlg.EIniGroupInternetWSDeny, "G_WS_Gibt_Es_Nicht.PROJEKTE.UNTERRICHT");
        QTest::mouseClick(dlg.BIniSave, Qt::LeftButton);
        QVERIFY(!dlg.isVisible());

        const auto& boxes = session->ports.box.boxes;
        QCOMPARE(boxes.size(), size_t(2));
        QCOMPARE(boxes[0].caption, std::string("NDS/INI-Fehler"));
        QCOMPARE(boxes[0].text, "Die Internet-Verbotsgruppe (User)\r\n\"" + shown.toStdString() + "\"\r\n" +
                                    why.toStdString());
        QCOMPARE(boxes[1].caption, std::string("INI-Fehler"));
        QCOMPARE(testsupport::readFile(iniPath), before);
        QCOMPARE(settings::values().GroupInternetUserDeny, std::string(".G_User_Internet_Deny.PROJEKTE.UNTERRICHT"));
    }

    void denyGroupsAndContainerDots() {
        TINItarvel dlg(nullptr, iniPath);
        dlg.show();
        dlg.EIniBasisUserContainer->setText(".Lehrer.Unterricht");
        // The user group is looked up as an absolute name, whether typed with a leading dot or not.
        dlg.EIniGroupInternetUserDeny->setText("G_Schueler.SCHUELER.UNTERRICHT");
        dlg.EIniGroupInternetWSDeny->setText("G_Neu");
        QVERIFY(dlg.ApplySettings());
        QVERIFY(session->ports.box.boxes.empty());
        // Without any dot it gets a leading one in the box; with a dot it is taken as typed.
        QCOMPARE(dlg.EIniGroupInternetWSDeny->text(), QStringLiteral(".G_Neu"));
        QCOMPARE(dlg.EIniGroupInternetUserDeny->text(), QStringLiteral("G_Schueler.SCHUELER.UNTERRICHT"));

        const std::string file = testsupport::readFile(iniPath);
        QCOMPARE(savedValue(file, "BasisUserContainer"), std::string("lehrer.unterricht"));
        QCOMPARE(savedValue(file, "GroupInternetWSDeny"), std::string(".G_Neu"));
        QCOMPARE(savedValue(file, "GroupInternetUserDeny"), std::string("G_Schueler.SCHUELER.UNTERRICHT"));
        QCOMPARE(settings::values().GroupInternetUserDeny, std::string(".G_Schueler.SCHUELER.UNTERRICHT"));
        dlg.reject();
    }

    void showListRoundTrip() {
        {
            TINItarvel dlg(nullptr, iniPath);
            dlg.show();
            dlg.EIniShowLeafList->setText("Kl, Gym");
            QTest::mouseClick(dlg.BIniSave, Qt::LeftButton);
            QVERIFY(!dlg.isVisible());
        }
        QCOMPARE(savedValue(testsupport::readFile(iniPath), "ShowLeaf"), std::string("Kl, Gym"));
        QCOMPARE(settings::values().ShowLeafList, (text::NameList{"Kl*", "Gym*"}));
        TINItarvel again(nullptr, iniPath);
        QCOMPARE(again.EIniShowLeafList->text(), QStringLiteral("Kl, Gym"));
    }

    void startValuesSaveWithTheRootAndViewOne() {
        // As without a settings file, before any view was chosen.
        settings::resetToStartValues();
        TINItarvel dlg(nullptr, iniPath);
        QCOMPARE(dlg.EIniBasisUserContainer->text(), QStringLiteral("[ROOT]"));
        QCOMPARE(dlg.RGShowFirstItemIndex(), -1);
        QVERIFY(dlg.ApplySettings());
        QVERIFY(session->ports.box.boxes.empty());  // the tree root exists
        const std::string file = testsupport::readFile(iniPath);
        QCOMPARE(savedValue(file, "BasisUserContainer"), std::string("[root]"));
        QCOMPARE(savedValue(file, "GroupInternetUserDeny"), std::string("G_User_Internet_Deny.PROJEKTE.UNTERRICHT"));
        QCOMPARE(savedValue(file, "ShowFirst"), std::string("1"));
    }

    void escapeAndCloseTakeNothingOver() {
        const std::string before = testsupport::readFile(iniPath);
        for (bool escape : {true, false}) {
            TINItarvel dlg(nullptr, iniPath);
            dlg.show();
            QVERIFY(QTest::qWaitForWindowActive(&dlg));
            dlg.EIniBasisUserContainer->setText("LEHRER.UNTERRICHT");
            dlg.CBIniBasisUserContainerGoUpALevel->setChecked(true);
            if (escape)
                QTest::keyClick(dlg.EIniBasisUserContainer, Qt::Key_Escape);
            else
                QTest::mouseClick(dlg.BIniClose, Qt::LeftButton);
            QVERIFY(!dlg.isVisible());
            QCOMPARE(dlg.result(), int(QDialog::Rejected));
        }
        QCOMPARE(settings::values().BasisUserContainer, std::string("PROJEKTE.UNTERRICHT"));
        QVERIFY(!settings::values().BasisGroupContainerGoUpALevel);
        QCOMPARE(testsupport::readFile(iniPath), before);
        QVERIFY(session->ports.box.boxes.empty());
    }

    void returnActsOnlyOnAFocusedButton() {
        const std::string before = testsupport::readFile(iniPath);
        TINItarvel dlg(nullptr, iniPath);
        dlg.show();
        QVERIFY(QTest::qWaitForWindowActive(&dlg));
        // In an edit box Return does nothing: no save, no picker.
        CatchShow<TMiniNDSBrowser> picker([](TMiniNDSBrowser* p) { p->BAbbruchClick(); });
        QTest::keyClick(dlg.EIniBasisUserContainer, Qt::Key_Return);
        QCoreApplication::processEvents();
        QVERIFY(dlg.isVisible());
        QVERIFY(!picker.caught());
        // On a focused button it presses that button.
        dlg.BIniClose->setFocus();
        QTest::keyClick(dlg.BIniClose, Qt::Key_Return);
        QVERIFY(!dlg.isVisible());
        QCOMPARE(dlg.result(), int(QDialog::Rejected));
        QCOMPARE(testsupport::readFile(iniPath), before);

        TINItarvel again(nullptr, iniPath);
        again.show();
        QVERIFY(QTest::qWaitForWindowActive(&again));
        again.BIniSave->setFocus();
        QTest::keyClick(again.BIniSave, Qt::Key_Enter, Qt::KeypadModifier);
        QVERIFY(!again.isVisible());
        QCOMPARE(again.result(), int(QDialog::Accepted));
        QVERIFY(testsupport::readFile(iniPath) != before);  // saved
        QVERIFY(session->ports.box.boxes.empty());
    }

    void aFileThatCannotBeCreatedKeepsTheDialogOpen() {
        const std::string unreachable = session->dir.file("fehlt/tarvel.ini");
        TINItarvel dlg(nullptr, unreachable);
        dlg.show();
        QTest::mouseClick(dlg.BIniSave, Qt::LeftButton);
        QVERIFY(dlg.isVisible());
        QCOMPARE(session->ports.box.boxes.size(), size_t(1));
        QCOMPARE(session->ports.box.boxes[0].caption, std::string("Tarvelweb"));
        // No reload ran: the values are what the dialog gave them.
        QCOMPARE(settings::values().ShowContainerList, (text::NameList{"Kl", "Schue"}));
        dlg.reject();
    }

    void pickerClosedWithoutChoiceChangesNothing() {
        TINItarvel dlg(nullptr, iniPath);
        dlg.show();
        QVERIFY(QTest::qWaitForWindowActive(&dlg));
        dlg.BIniBasisWSContainer->setFocus();
        QPoint pickerAt;
        CatchShow<TMiniNDSBrowser> catcher([&](TMiniNDSBrowser* p) {
            pickerAt = p->pos();
            QCOMPARE(p->parentWidget(), &dlg);
            QVERIFY(waitForListing(p));
            p->LVCtxBrowser->topLevelItem(0)->setSelected(true);
            p->close();  // the close box
        });
        QTest::mouseClick(dlg.BIniBasisWSContainer, Qt::LeftButton);
        QVERIFY(catcher.caught());
        QCOMPARE(pickerAt, dlg.pos() + QPoint(50, 30));
        QCOMPARE(dlg.EIniBasisWSContainer->text(), QStringLiteral("SCHUELER.UNTERRICHT"));
        QCOMPARE(dlg.focusWidget(), dlg.BIniBasisWSContainer);
        QVERIFY(dlg.findChildren<TMiniNDSBrowser*>().isEmpty());  // freed after its run
        dlg.reject();
    }

    void pickingAContainerFillsTheBoxAndMovesOn() {
        TINItarvel dlg(nullptr, iniPath);
        dlg.show();
        QVERIFY(QTest::qWaitForWindowActive(&dlg));
        CatchShow<TMiniNDSBrowser> catcher([](TMiniNDSBrowser* p) {
            QVERIFY(waitForListing(p));
            QCOMPARE(*p->AnzeigeKlassen(), (text::NameList{"Organizational Unit", "Organization"}));
            const int row = rowOf(p, "PROJEKTE");
            QVERIFY(row >= 0);
            p->LVCtxBrowser->topLevelItem(row)->setSelected(true);
            QTest::mouseClick(p->BOk, Qt::LeftButton);
        });
        QTest::mouseClick(dlg.BIniBasisUserContainer, Qt::LeftButton);
        QVERIFY(catcher.caught());
        QCOMPARE(dlg.EIniBasisUserContainer->text(), QStringLiteral("PROJEKTE"));
        QCOMPARE(dlg.focusWidget(), dlg.EIniBasisWSContainer);
        dlg.reject();
    }

    void pickingAGroupFillsTheBoxAndMovesOn() {
        TINItarvel dlg(nullptr, iniPath);
        dlg.show();
        QVERIFY(QTest::qWaitForWindowActive(&dlg));
        CatchShow<TMiniNDSBrowser> catcher([](TMiniNDSBrowser* p) {
            QVERIFY(waitForListing(p));
            QVERIFY(pickertest::enterRow(p, "UNTERRICHT", "UNTERRICHT"));
            QVERIFY(pickertest::enterRow(p, "PROJEKTE", "PROJEKTE.UNTERRICHT"));
            p->LVCtxBrowser->topLevelItem(rowOf(p, "G_WS_Internet_Deny"))->setSelected(true);
            QVERIFY(p->BOk->isEnabled());
            QTest::keyClick(p->LVCtxBrowser, Qt::Key_Return);
        });
        QTest::mouseClick(dlg.BIniGroupInternetWSDeny, Qt::LeftButton);
        QVERIFY(catcher.caught());
        QCOMPARE(dlg.EIniGroupInternetWSDeny->text(), QStringLiteral("G_WS_Internet_Deny.PROJEKTE.UNTERRICHT"));
        QCOMPARE(dlg.focusWidget(), dlg.EIniShowContainerList);
        dlg.reject();
    }

private:
    std::unique_ptr<pickertest::Session> session;
    std::string iniPath;
};

QTEST_MAIN(TestSettingsDialog)
#include "settingsdialog_test.moc"
