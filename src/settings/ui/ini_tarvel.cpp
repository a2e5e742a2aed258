#include "settings/ui/ini_tarvel.h"

#include "deny/group_check.h"
#include "nwapi/nwapi.h"
#include "platform/ports.h"
#include "platform/text.h"
#include "settings/settings.h"
#include "settings/ui/form_support.h"
#include "settings/ui/mini_nds_browser.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <qdrawutil.h>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>

#include <memory>

namespace {

QString qs(const std::string& s) { return QString::fromStdString(s); }

QString hintLines(std::initializer_list<const char*> lines) {
    QStringList parts;
    for (const char* line : lines) parts << QString::fromUtf8(line);
    return parts.join(QString::fromLatin1(formsupport::HintLineBreak));
}

// Items joined by ", "; for a show list one trailing "*" of each item is left out, since the
// file and the dialog hold the beginnings without it.
QString joinList(const text::NameList& items, bool dropStar) {
    QStringList parts;
    for (std::string item : items) {
        if (dropStar && !item.empty() && item.back() == '*') item.pop_back();
        parts << qs(item);
    }
    return parts.join(QStringLiteral(", "));
}

// A radio group as the form shows it: the caption sits on the frame's top line and the items
// below it. (Qt's own group box puts the caption above the frame, which leaves no room for the
// items in a group of this height.)
class RadioGroup : public QGroupBox {
public:
    using QGroupBox::QGroupBox;

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        const QFontMetrics metrics(font());
        // An etched frame, drawn here: styles put their group frame below a caption line.
        qDrawShadeRect(&painter, rect().adjusted(0, metrics.height() / 2, 0, 0), palette(), true, 1, 0);
        const QString caption = title();
        const QRect captionRect(8, 0, metrics.horizontalAdvance(caption) + 4, metrics.height());
        const QWidget* under = parentWidget() ? parentWidget() : this;
        painter.fillRect(captionRect, under->palette().brush(under->backgroundRole()));
        style()->drawItemText(&painter, captionRect, Qt::AlignCenter | Qt::TextShowMnemonic, palette(), isEnabled(),
                              caption, QPalette::WindowText);
    }
};

// A button that Return or Enter clicks while it has the focus, and only then: the form has no
// default button, so Return in an edit box does nothing.
class FormButton : public QPushButton {
public:
    using QPushButton::QPushButton;

protected:
    void keyPressEvent(QKeyEvent* event) override {
        const Qt::KeyboardModifiers modifiers = event->modifiers() & ~Qt::KeypadModifier;
        if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) && modifiers == Qt::NoModifier) {
            click();
            return;
        }
        QPushButton::keyPressEvent(event);
    }
};

template <typename W>
W* place(W* widget, const char* name, int left, int top, int width, int height) {
    widget->setObjectName(QString::fromLatin1(name));
    widget->setGeometry(left, top, width, height);
    return widget;
}

}  // namespace

TINItarvel::TINItarvel(QWidget* owner, std::string settingsPath)
    : QDialog(owner), settingsPath_(std::move(settingsPath)) {
    buildForm();
    FormCreate();
}

TINItarvel::~TINItarvel() = default;

void TINItarvel::buildForm() {
    setObjectName(QStringLiteral("INItarvel"));
    setWindowTitle(QStringLiteral("Tarvelweb: Einstellungen"));
    setFont(formsupport::msSansSerif());
    setBackgroundRole(QPalette::Button);
    setAutoFillBackground(true);
    resize(DesignWidth, DesignHeight);
    move(412, 132);

    auto label = [this](const char* name, int l, int t, int w, int h, const char* caption) {
        return place(new QLabel(QString::fromUtf8(caption), this), name, l, t, w, h);
    };
    auto edit = [this](const char* name, int l, int t, int w, int h) {
        return place(new QLineEdit(this), name, l, t, w, h);
    };
    auto button = [this](const char* name, int l, int t, int w, int h, const char* caption) {
        QPushButton* b = place(new FormButton(QString::fromUtf8(caption), this), name, l, t, w, h);
        // No button takes Return from an edit box; Esc closes.
        b->setAutoDefault(false);
        return b;
    };
    // A screen reader would read each of the four "..." as "dot dot dot": it names what it picks.
    auto dots = [&](const char* name, int l, int t, const char* picks) {
        QPushButton* b = button(name, l, t, 20, 20, "...");
        b->setAccessibleName(QString::fromUtf8(picks) + QStringLiteral(" auswählen"));
        b->setFont(formsupport::arialBold16());
        connect(b, &QPushButton::clicked, this, [this, b] { BIniNDSBrowserClick(b); });
        return b;
    };

    LIniBasisUserContainer = label("LIniBasisUserContainer", 8, 8, 121, 13, "Basis-Benutzer-Container:");
    EIniBasisUserContainer = edit("EIniBasisUserContainer", 8, 24, 305, 21);
    BIniBasisUserContainer = dots("BIniBasisUserContainer", 312, 24, "Basis-Benutzer-Container");
    LIniBasisGroupContainer = label("LIniBasisGroupContainer", 8, 48, 133, 13, "Basis-Workstation-Container");
    EIniBasisWSContainer = edit("EIniBasisWSContainer", 8, 64, 305, 21);
    BIniBasisWSContainer = dots("BIniBasisWSContainer", 312, 64, "Basis-Workstation-Container");
    CBIniBasisWSContainerGoUpALevel = place(new QCheckBox(QStringLiteral("Erlaube, im NDS-Baum höher zu steigen (Benutzer)"), this),
                                            "CBIniBasisWSContainerGoUpALevel", 8, 88, 265, 17);
    CBIniBasisUserContainerGoUpALevel = place(new QCheckBox(QStringLiteral("Erlaube, im NDS-Baum höher zu steigen (Gruppen)"), this),
                                              "CBIniBasisUserContainerGoUpALevel", 8, 104, 265, 17);

    RGShowFirst = place(new RadioGroup(QStringLiteral("Zeige beim Programmstart zuerst an:"), this), "RGShowFirst", 8, 128, 257, 33);
    RGShowFirstItems = new QButtonGroup(RGShowFirst);
    const char* items[] = {"Benutzer", "Workstations"};
    for (int i = 0; i < 2; ++i) {
        // Two columns of equal width inside the frame.
        auto* radio = place(new QRadioButton(QString::fromLatin1(items[i]), RGShowFirst),
                            i == 0 ? "RGShowFirstBenutzer" : "RGShowFirstWorkstations", 8 + i * 124, 14, 116, 17);
        RGShowFirstItems->addButton(radio, i);
    }
    RGShowFirst->setEnabled(false);  // the operator cannot change it

    LGroupInternetUserDeny = label("LGroupInternetUserDeny", 8, 168, 142, 13, "Internet-Verbotsgruppe (User):");
    EIniGroupInternetUserDeny = edit("EIniGroupInternetUserDeny", 8, 184, 305, 21);
    BIniGroupInternetUserDeny = dots("BIniGroupInternetUserDeny", 312, 184, "Internet-Verbotsgruppe (User)");
    LGroupInternetWSDeny = label("LGroupInternetWSDeny", 8, 208, 182, 13, "Internet-Verbotsgruppe (Workstations):");
    EIniGroupInternetWSDeny = edit("EIniGroupInternetWSDeny", 8, 224, 305, 21);
    BIniGroupInternetWSDeny = dots("BIniGroupInternetWSDeny", 312, 224, "Internet-Verbotsgruppe (Workstations)");

    LAnzeigeUeberschrift = label("LAnzeigeUeberschrift", 8, 256, 325, 13,
                                 "Folgende Einstellungen beziehen sich auf die Benutzer/WS-Anzeige:");
    QFont underlined = font();
    underlined.setUnderline(true);
    LAnzeigeUeberschrift->setFont(underlined);
    LIniShowUserContainer = label("LIniShowUserContainer", 8, 272, 252, 13,
                                  "Zeige nur Container, die beginnen mit (zB: Schu, Kla):");
    EIniShowContainerList = edit("EIniShowContainerList", 8, 288, 321, 21);
    LIniNoShowUserContainerList = label("LIniNoShowUserContainerList", 8, 312, 270, 13,
                                        "Zeige KEINE Container, die enthalten (zB:Verwalter, min):");
    EIniNoShowContainerList = edit("EIniNoShowContainerList", 8, 328, 321, 21);
    LIniShowUserLeafList = label("LIniShowUserLeafList", 8, 352, 241, 13,
                                 "Zeige nur Blattobjekte(User/WS), die beginnen mit:");
    EIniShowLeafList = edit("EIniShowLeafList", 8, 368, 321, 21);
    LIniNoShowUserLeafList = label("LIniNoShowUserLeafList", 8, 392, 242, 13,
                                   "Zeige KEINE Blattobjekte(User/WS), die enthalten:");
    EIniNoShowLeafList = edit("EIniNoShowLeafList", 8, 408, 321, 21);

    BIniSave = button("BIniSave", 88, 440, 75, 25, "&Abspeichern");
    BIniClose = button("BIniClose", 176, 440, 75, 25, "&Schliessen");
    connect(BIniSave, &QPushButton::clicked, this, [this] { BIniSaveClick(); });
    connect(BIniClose, &QPushButton::clicked, this, [this] { BIniCloseClick(); });

    // Each label names the box below it (for screen readers).
    LIniBasisUserContainer->setBuddy(EIniBasisUserContainer);
    LIniBasisGroupContainer->setBuddy(EIniBasisWSContainer);
    LGroupInternetUserDeny->setBuddy(EIniGroupInternetUserDeny);
    LGroupInternetWSDeny->setBuddy(EIniGroupInternetWSDeny);
    LIniShowUserContainer->setBuddy(EIniShowContainerList);
    LIniNoShowUserContainerList->setBuddy(EIniNoShowContainerList);
    LIniShowUserLeafList->setBuddy(EIniShowLeafList);
    LIniNoShowUserLeafList->setBuddy(EIniNoShowLeafList);

    // Labels take no focus; the radio group is disabled but keeps its place in the order.
    for (QLabel* l : findChildren<QLabel*>()) l->setFocusPolicy(Qt::NoFocus);
    const QList<QWidget*> order{EIniBasisUserContainer,
                                BIniBasisUserContainer,
                                EIniBasisWSContainer,
                                BIniBasisWSContainer,
                                CBIniBasisWSContainerGoUpALevel,
                                CBIniBasisUserContainerGoUpALevel,
                                EIniShowContainerList,
                                EIniNoShowContainerList,
                                EIniShowLeafList,
                                EIniNoShowLeafList,
                                BIniSave,
                                BIniClose,
                                RGShowFirstItems->button(0),
                                EIniGroupInternetUserDeny,
                                EIniGroupInternetWSDeny,
                                BIniGroupInternetUserDeny,
                                BIniGroupInternetWSDeny};
    for (qsizetype i = 1; i < order.size(); ++i) setTabOrder(order[i - 1], order[i]);
    EIniBasisUserContainer->setFocus(Qt::OtherFocusReason);
    formsupport::fitToText(this);
}

int TINItarvel::RGShowFirstItemIndex() const { return RGShowFirstItems->checkedId(); }

void TINItarvel::SetRGShowFirstItemIndex(int index) {
    QAbstractButton* item = RGShowFirstItems->button(index);
    if (item) {
        item->setChecked(true);
        return;
    }
    // No item selected: an exclusive group cannot uncheck its last button by itself.
    RGShowFirstItems->setExclusive(false);
    for (QAbstractButton* b : RGShowFirstItems->buttons()) b->setChecked(false);
    RGShowFirstItems->setExclusive(true);
}

// ---------------------------------------------------------------- filling

void TINItarvel::FormCreate() {
    HintTiming::install(HintPauseMs, HintHideMs);

    settings::Values& v = settings::values();
    EIniBasisUserContainer->setText(qs(v.BasisUserContainer));
    EIniBasisWSContainer->setText(qs(v.BasisWorkstationContainer));
    // Each box shows the switch its caption names; saving sets the same switch again.
    CBIniBasisWSContainerGoUpALevel->setChecked(v.BasisUserContainerGoUpALevel);
    CBIniBasisUserContainerGoUpALevel->setChecked(v.BasisGroupContainerGoUpALevel);

    if (v.ShowFirst < 0 || v.ShowFirst > 2) v.ShowFirst = 1;
    SetRGShowFirstItemIndex(v.ShowFirst - 1);

    EIniGroupInternetUserDeny->setText(qs(v.GroupInternetUserDeny));
    EIniGroupInternetWSDeny->setText(qs(v.GroupInternetWSDeny));

    EIniShowContainerList->setText(joinList(v.ShowContainerList, true));
    EIniNoShowContainerList->setText(joinList(v.NoShowContainerList, false));
    EIniShowLeafList->setText(joinList(v.ShowLeafList, true));
    EIniNoShowLeafList->setText(joinList(v.NoShowLeafList, false));

    setHints();
}

void TINItarvel::setHints() {
    const QString picker = QStringLiteral("Auswahl über den Mini-NDS-Browser");
    for (QPushButton* b : {BIniBasisUserContainer, BIniBasisWSContainer, BIniGroupInternetUserDeny, BIniGroupInternetWSDeny})
        b->setToolTip(picker);
    EIniBasisUserContainer->setToolTip(hintLines({"Bei der Mitglieder-Auswahl werden die Benutzer ab",
                                                  "diesem Container in der NDS angezeigt"}));
    EIniBasisWSContainer->setToolTip(hintLines({"Bei der Workstation-Auswahl werden die Workstations ab",
                                                "diesem Container in der NDS angezeigt"}));
    // The hint explains the switch the box carries.
    CBIniBasisWSContainerGoUpALevel->setToolTip(
        QStringLiteral("Erlaubnis vom Basis-Benutzer-Container aus in der NDS hoch zu steigen"));
    CBIniBasisUserContainerGoUpALevel->setToolTip(
        QStringLiteral("Erlaubnis vom Basis-Workstation-Container aus in der NDS hoch zu steigen"));
    RGShowFirst->setToolTip(hintLines({"Beim Programmstart werden entweder die Benutzer oder die Workstations",
                                       "zuerst angezeigt"}));
    EIniGroupInternetUserDeny->setToolTip(
        QStringLiteral("Benutzer, die Mitglieder dieser Gruppe sind, haben keinen Internetzugriff"));
    EIniGroupInternetWSDeny->setToolTip(
        QStringLiteral("Workstations, die Mitglieder dieser Gruppe sind, haben keinen Internetzugriff"));
    EIniShowContainerList->setToolTip(hintLines({"Namens-Anfänge von anzuzeigenden User/WS-Containern. Z.B.: Schue,Kl",
                                                 "Nur die Container dieser Liste werden angezeigt. Also z.B.:",
                                                 "schueler, klassenarbeiten,... aber z.B. nicht Projekte",
                                                 "(Kein Eintrag bedeutet: Alles wird angezeigt)"}));
    EIniNoShowContainerList->setToolTip(
        hintLines({"Namens-TEILE von NICHT anzuzeigenden User/WS-Containern. Z.B.: Verwalter, min",
                   "Container, die die Worte dieser Liste ENTHALTEN, werden NICHT angezeigt.", "Also z.B.:",
                   "SchuelerVerwalterContainer, KlonAdminContainer...", "(Kein Eintrag bedeutet: Kein Ausschluss)"}));
    EIniShowLeafList->setToolTip(
        hintLines({"Namens-Anfänge von anzuzeigenden Blattobjekten(User/WS). Z.B.: Würden",
                   "etwa alle hier interessierenden User/WS-Namen mit \"Kl\" (Kl8Schmitt,...)",
                   "und \"Gym\" (GymMeier,...) beginnen, so wäre", "Kl, Gym", "einzutragen",
                   "(Kein Eintrag bedeutet: Alles wird angezeigt)"}));
    EIniNoShowLeafList->setToolTip(
        hintLines({"Namens-TEILE von NICHT anzuzeigenden Blattobjekten(User/WS).",
                   "Blattobjekte(User/WS), die die Worte dieser Liste ENTHALTEN, werden NICHT angezeigt.",
                   "Also um z.B. die Benutzer TestSchueler, LehrerTestUser, SchuelerVerwalter,... ",
                   "auszuschließen, wäre", "Test, Verwalter", "einzutragen", "(Kein Eintrag bedeutet: Kein Ausschluss)"}));
}

// ---------------------------------------------------------------- picking from the tree

void TINItarvel::BIniNDSBrowserClick(QPushButton* sender) {
    if (sender) PickFromTree(sender->objectName());
}

void TINItarvel::PickFromTree(const QString& buttonName) {
    QLineEdit* target = nullptr;
    QWidget* next = nullptr;
    bool groups = false;
    if (buttonName == QLatin1String("BIniBasisUserContainer")) {
        target = EIniBasisUserContainer;
        next = EIniBasisWSContainer;
    } else if (buttonName == QLatin1String("BIniBasisWSContainer")) {
        target = EIniBasisWSContainer;
        next = CBIniBasisWSContainerGoUpALevel;
    } else if (buttonName == QLatin1String("BIniGroupInternetUserDeny")) {
        target = EIniGroupInternetUserDeny;
        next = EIniGroupInternetWSDeny;
        groups = true;
    } else if (buttonName == QLatin1String("BIniGroupInternetWSDeny")) {
        target = EIniGroupInternetWSDeny;
        next = EIniShowContainerList;
        groups = true;
    } else {
        return;
    }

    // Freed on every way out of the modal run.
    auto picker = std::make_unique<TMiniNDSBrowser>(this);
    picker->move(pos() + QPoint(50, 30));
    picker->SetListenModus(0);
    picker->SetStartContext("[ROOT]");
    picker->SetErlaubeHoeher(true);
    picker->SetMehrfachAuswahl(false);
    if (groups) {
        picker->SetAnzeigeKlassen({"Organizational Unit", "Organization", "Group"});
        picker->SetAuswahlKlassen({"Group"});
    } else {
        picker->SetAnzeigeKlassen({"Organizational Unit", "Organization"});
        picker->SetAuswahlKlassen({"Organization", "Organizational Unit"});
    }
    picker->exec();
    const std::string chosen = picker->Ergebnis();
    picker.reset();

    if (chosen.empty()) return;
    target->setText(qs(chosen));
    next->setFocus(Qt::TabFocusReason);
}

// ---------------------------------------------------------------- saving, closing

bool TINItarvel::takeContainer(QLineEdit* edit, std::string& setting, const char* firstLine) {
    std::string name = edit->text().toStdString();
    if (name.size() > 1 && name.front() == '.') name.erase(0, 1);
    name = text::toLowerLocale(name);
    if (nwapi::ObjektExistiert("." + name)) {
        setting = name;
        return true;
    }
    platform::showMessage(platform::joinLines({firstLine, "\"" + name + "\"", "kann nicht gefunden werden !"}),
                          "NDS/INI-Fehler");
    return false;
}

void TINItarvel::takeGroup(QLineEdit* edit, std::string& setting) {
    if (!edit->text().contains(QLatin1Char('.'))) edit->setText(QLatin1Char('.') + edit->text());
    setting = edit->text().toStdString();
}

bool TINItarvel::takeTestedGroup(QLineEdit* edit, std::string& setting, const char* firstLine) {
    if (!edit->text().contains(QLatin1Char('.'))) edit->setText(QLatin1Char('.') + edit->text());
    const std::string name = edit->text().toStdString();
    const std::string absolute = name.starts_with('.') ? name : "." + name;
    const deny::GroupState state = name == "." ? deny::GroupState::Missing : deny::denyGroupState(absolute);
    if (state == deny::GroupState::Group) {
        setting = name;
        return true;
    }
    // A user or container there would take every pupil's membership and security equivalence.
    platform::showMessage(platform::joinLines({firstLine, "\"" + name + "\"",
                                               state == deny::GroupState::NotAGroup ? "ist keine Gruppe !"
                                                                                    : "kann nicht gefunden werden !"}),
                          "NDS/INI-Fehler");
    return false;
}

bool TINItarvel::ApplySettings() {
    settings::Values& v = settings::values();
    bool errors = false;
    if (!takeContainer(EIniBasisUserContainer, v.BasisUserContainer, "Der Basis-Benutzer-Container (Context)"))
        errors = true;
    if (!takeContainer(EIniBasisWSContainer, v.BasisWorkstationContainer, "Der Basis-Workstation-Container (Context)"))
        errors = true;
    if (!takeTestedGroup(EIniGroupInternetUserDeny, v.GroupInternetUserDeny, "Die Internet-Verbotsgruppe (User)"))
        errors = true;
    // Not every school has a workstation deny group: that one is taken untested.
    takeGroup(EIniGroupInternetWSDeny, v.GroupInternetWSDeny);
    v.BasisUserContainerGoUpALevel = CBIniBasisWSContainerGoUpALevel->isChecked();
    v.BasisGroupContainerGoUpALevel = CBIniBasisUserContainerGoUpALevel->isChecked();
    v.ShowFirst = RGShowFirstItemIndex() + 1;
    settings::SplitList(EIniShowContainerList->text().toStdString(), ',', v.ShowContainerList);
    settings::SplitList(EIniNoShowContainerList->text().toStdString(), ',', v.NoShowContainerList);
    settings::SplitList(EIniShowLeafList->text().toStdString(), ',', v.ShowLeafList);
    settings::SplitList(EIniNoShowLeafList->text().toStdString(), ',', v.NoShowLeafList);

    if (!errors) {
        // The file could not be created: the error is shown, nothing is reloaded.
        if (!settings::SaveSettings(settingsPath_)) return false;
    } else {
        platform::showMessage(platform::joinLines({"Es traten Fehler auf.", "Die INI-Datei wird", "daher nicht verändert !"}),
                              "INI-Fehler");
    }
    settings::LoadSettings(settingsPath_);
    return true;
}

void TINItarvel::BIniSaveClick() {
    if (ApplySettings()) accept();
}

void TINItarvel::BIniCloseClick() { reject(); }
