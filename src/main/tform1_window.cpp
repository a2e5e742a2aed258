// The main window's frame: layout, menus, start-up, the view switch and the plain menu actions.
#include "main/tform1.h"

#include "deny/group_check.h"
#include "dialogs/connection_failure.h"
#include "dialogs/finfo.h"
#include "dialogs/nutzung.h"
#include "main/pictures.h"
#include "main/widgets.h"
#include "nwapi/nwapi.h"
#include "platform/ports.h"
#include "settings/settings.h"
#include "settings/settings_path.h"
#include "settings/ui/ini_tarvel.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QFileInfo>
#include <QFrame>
#include <QGuiApplication>
#include <QLabel>
#include <QMenuBar>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <QUrl>

#include <memory>

namespace {

std::vector<std::string> programArguments() {
    std::vector<std::string> args;
    for (const QString& a : QCoreApplication::arguments()) args.push_back(a.toStdString());
    return args;
}

// Resets the running flag also when a command leaves by an exception (the program's end in
// tests).
struct BusyScope {
    bool& flag;
    explicit BusyScope(bool& f) : flag(f) { flag = true; }
    ~BusyScope() { flag = false; }
};

}  // namespace

TForm1::TForm1(QWidget* parent) : TForm1(programArguments(), parent) {}

TForm1::TForm1(const std::vector<std::string>& arguments, QWidget* parent) : QMainWindow(parent) {
    setObjectName("Form1");
    setWindowTitle(QStringLiteral("Tarvelweb"));
    buildForm();
    buildMenu();
    wireHandlers();
    FormCreate(arguments);
}

TForm1::~TForm1() = default;

void TForm1::buildForm() {
    setFont(pictures::formFont());
    setAttribute(Qt::WA_DeleteOnClose, false);

    Panel1 = new QFrame(this);
    Panel1->setObjectName("Panel1");
    // Lowered outer and inner bevel.
    Panel1->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    Panel1->setLineWidth(2);
    Panel1->setFixedSize(ClientWidth, ClientHeight);
    setCentralWidget(Panel1);

    Label2 = new QLabel(QStringLiteral("Kein Internetzugriff hat:"), Panel1);
    Label2->setObjectName("Label2");
    Label2->setGeometry(8, 24, 156, 16);
    QFont red = font();
    red.setPointSize(10);
    red.setBold(true);
    Label2->setFont(red);
    QPalette palette = Label2->palette();
    palette.setColor(QPalette::WindowText, Qt::red);
    Label2->setPalette(palette);
    fitToWidth(Label2);

    Label1 = new QLabel(QStringLiteral("Zeige:"), Panel1);
    Label1->setObjectName("Label1");
    Label1->setGeometry(318, 20, 30, 13);
    fitToWidth(Label1);

    BUser = new QPushButton(pictures::benutzer(), QStringLiteral("Ben&utzer"), Panel1);
    BUser->setObjectName("BUser");
    BUser->setGeometry(352, 8, 75, 25);

    BWorkstations = new QPushButton(pictures::computer(), QStringLiteral("&Computer"), Panel1);
    BWorkstations->setObjectName("BWorkstations");
    BWorkstations->setGeometry(432, 8, 75, 25);
    BWorkstations->setEnabled(false);

    LVGroupDeny = new TListView(QStringLiteral("LVGroupDeny"), Panel1);
    LVGroupDeny->setGeometry(3, 40, 257, 257);

    LVCtxBrowser = new TListView(QStringLiteral("LVCtxBrowser"), Panel1);
    LVCtxBrowser->setGeometry(352, 40, 187, 257);
    LVCtxBrowser->setDragDropMode(QAbstractItemView::DragOnly);
    LVCtxBrowser->setAcceptsDrops(false);  // the browser takes no drops

    QFont bold = font();
    bold.setBold(true);
    BStop = new TDropButton(QStringLiteral("BStop"), QStringLiteral("Internet"), Panel1);
    BStop->setGeometry(264, 96, 85, 41);
    BStop->setIcon(pictures::stop());
    BStop->setIconSize(QSize(32, 32));
    BStop->setFont(bold);

    BGo = new TDropButton(QStringLiteral("BGo"), QStringLiteral("Internet"), Panel1);
    BGo->setGeometry(264, 160, 85, 41);
    BGo->setIcon(pictures::go());
    BGo->setIconSize(QSize(32, 32));
    BGo->setFont(bold);
    // Both read "Internet"; a screen reader needs to say which way each one switches.
    BStop->setAccessibleName(QStringLiteral("Internet sperren"));
    BGo->setAccessibleName(QStringLiteral("Internet freigeben"));
    LVGroupDeny->setAccessibleName(QStringLiteral("Kein Internetzugriff hat"));
    LVCtxBrowser->setAccessibleName(QStringLiteral("Verzeichnis"));

    // The stand-in font is wider than the original: picture and caption must still fit.
    for (QPushButton* button : {BUser, BWorkstations, static_cast<QPushButton*>(BStop), static_cast<QPushButton*>(BGo)})
        fitToWidth(button);

    // Tab order: BUser, BWorkstations, LVCtxBrowser, BStop, LVGroupDeny, BGo.
    setTabOrder(BUser, BWorkstations);
    setTabOrder(BWorkstations, LVCtxBrowser);
    setTabOrder(LVCtxBrowser, BStop);
    setTabOrder(BStop, LVGroupDeny);
    setTabOrder(LVGroupDeny, BGo);
}

void TForm1::buildMenu() {
    QMenuBar* bar = menuBar();
    bar->setObjectName("MainMenu1");
    bar->setNativeMenuBar(false);

    auto add = [this](QMenu* menu, const char* name, const char* caption) {
        QAction* action = menu->addAction(QString::fromUtf8(caption));
        action->setObjectName(QString::fromLatin1(name));
        action->setParent(this);
        return action;
    };
    QMenu* datei = bar->addMenu(QStringLiteral("&Datei"));
    datei->setObjectName("HMDatei");
    HMDateiUIni = add(datei, "HMDateiUIni", "Bearbeite &INI-Datei");
    HMDateiUInfo = add(datei, "HMDateiUInfo", "&Info");
    HMDateiUNutzung = add(datei, "HMDateiUNutzung", "Nutzungs&bestimmungen");
    HMDateiUHomepage = add(datei, "HMDateiUHomepage", "Tarvel-&Homepage");
    HMDateiUEnde = add(datei, "HMDateiUEnde", "&Ende");

    QMenu* bearbeiten = bar->addMenu(QStringLiteral("&Bearbeiten"));
    bearbeiten->setObjectName("HMBearbeiten");
    HMBearbeitenUUser = add(bearbeiten, "HMBearbeitenUUser", "Ben&utzer");
    HMBearbeitenUUser->setIcon(pictures::benutzer());
    HMBearbeitenUWorkstations = add(bearbeiten, "HMBearbeitenUWorkstations", "&Workstations");
    HMBearbeitenUWorkstations->setIcon(pictures::computer());
    HMBearbeitenUWorkstations->setEnabled(false);

    // A top-level item without a menu acts at once.
    HMEnde = bar->addAction(QStringLiteral("&Ende"));
    HMEnde->setObjectName("HMEnde");
    HMEnde->setParent(this);
}

void TForm1::wireHandlers() {
    connect(HMDateiUIni, &QAction::triggered, this, [this] { command([this] { HMDateiUIniClick(); }); });
    connect(HMDateiUInfo, &QAction::triggered, this, [this] { command([this] { HMDateiInfoClick(); }); });
    connect(HMDateiUNutzung, &QAction::triggered, this, [this] { command([this] { HMDateiNutzungClick(); }); });
    connect(HMDateiUHomepage, &QAction::triggered, this, [this] { command([this] { HMDateiHomepageClick(); }); });
    connect(HMDateiUEnde, &QAction::triggered, this, [this] { EndeClick(); });
    connect(HMEnde, &QAction::triggered, this, [this] { EndeClick(); });
    connect(HMBearbeitenUUser, &QAction::triggered, this, [this] { HMBearbeitenUUserClick(); });
    connect(HMBearbeitenUWorkstations, &QAction::triggered, this, [this] { HMBearbeitenUWorkstationsClick(); });
    connect(BUser, &QPushButton::clicked, this, [this] { HMBearbeitenUUserClick(); });
    connect(BWorkstations, &QPushButton::clicked, this, [this] { HMBearbeitenUWorkstationsClick(); });
    connect(BStop, &QPushButton::clicked, this, [this] { BStopClick(); });
    connect(BGo, &QPushButton::clicked, this, [this] { BGoClick(); });

    new FocusEnterFilter(BUser, [this] { KompEnter(); });
    new FocusEnterFilter(BWorkstations, [this] { KompEnter(); });
    new FocusEnterFilter(LVGroupDeny, [this] { KompEnter(); });
    new FocusEnterFilter(LVCtxBrowser, [this] { LVCtxBrowserEnter(); });

    connect(LVCtxBrowser, &QListWidget::itemSelectionChanged, this, [this] { LVCtxBrowserSelectItem(); });
    connect(LVGroupDeny, &QListWidget::itemSelectionChanged, this, [this] { LVGroupDenySelectItem(); });
    LVCtxBrowser->onDblClick = [this] { LVCtxBrowserDblClick(); };

    const dragdrop::Target stopTarget{[this](const QString& s) { return LVGroupDenyOnDragOver(s); },
                                      [this](const QString& s) { LVGroupDenyOnDragDrop(s); }};
    LVGroupDeny->dropTarget = stopTarget;
    BStop->dropTarget = stopTarget;
    BGo->dropTarget = {[this](const QString& s) { return BGoOnDragOver(s); },
                       [this](const QString& s) { BGoOnDragDrop(s); }};
}

void TForm1::command(const std::function<void()>& f) {
    if (busy()) return;
    {
        BusyScope scope(busy_);
        f();
    }
    if (closePending_) {
        closePending_ = false;
        close();
    }
}

// ---- start-up --------------------------------------------------------------------------------

void TForm1::FormCreate(const std::vector<std::string>& arguments) {
    setWindowTitle(QStringLiteral("Tarvelweb " TARVEL_VERSION));
    FormResize();
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect frame = frameGeometry();
        frame.moveCenter(screen->availableGeometry().center());
        move(frame.topLeft());
    }

    ProgramFolder = QCoreApplication::applicationDirPath().toStdString() + "/";
    SettingsPath = settings::ComputeSettingsPath(ProgramFolder, arguments);

    settings::resetToStartValues();
    bool connected = false;
    nwapi::InitNWConnection(connected);  // failures have shown their boxes; start-up goes on
    reportConnectionFailure();           // and the administrator learns where and why

    BrowserKlassen = {"Organizational Unit", "Organization", "User", "Workstation"};
    DenyMemberList.clear();
    BStop->setEnabled(false);
    BGo->setEnabled(false);
}

bool TForm1::event(QEvent* e) {
    // Modal dialogs and message boxes give the activation back without running this again.
    // Without a window manager a shown window may never be activated, so the first show starts
    // it as well, once the window is on screen. It runs as a command: a click that arrives
    // while the settings message is open is ignored, as during any other command.
    if (e->type() == QEvent::WindowActivate && !activated_)
        command([this] { FormActivate(); });
    else if (e->type() == QEvent::Show && !activated_)
        QTimer::singleShot(0, this, [this] {
            if (!activated_) command([this] { FormActivate(); });
        });
    return QMainWindow::event(e);
}

void TForm1::FormActivate() {
    if (activated_) return;
    activated_ = true;
    settings::LoadSettings(SettingsPath);
    browse::InitKlassenSymbole();
    DenyMemberList.clear();
    Browser.clear();
}

void TForm1::FormResize() {
    // The client area stays 542 x 304 whatever is asked of the window (maximising included).
    const QSize wanted(ClientWidth, ClientHeight + menuBar()->sizeHint().height());
    if (minimumSize() != wanted || maximumSize() != wanted) setFixedSize(wanted);
    if (size() != wanted) resize(wanted);
}

void TForm1::resizeEvent(QResizeEvent* e) {
    QMainWindow::resizeEvent(e);
    FormResize();
}

void TForm1::closeEvent(QCloseEvent* e) {
    // Nothing is asked; a running command ends first, and the window closes after it.
    if (busy()) {
        closePending_ = true;
        e->ignore();
        return;
    }
    e->accept();
}

void TForm1::EndeClick() { close(); }

// ---- menu actions ----------------------------------------------------------------------------

void TForm1::HMDateiUIniClick() {
    // Freed when this returns, also when the dialog's run leaves by an exception.
    TINItarvel dialog(this, SettingsPath);
    dialog.move(pos() + QPoint(13, 25));
    dialog.exec();
}

std::string TForm1::HomepageAddress(const std::string& programFolder) {
#ifdef TARVEL_HOMEPAGE
    (void)programFolder;
    return TARVEL_HOMEPAGE;
#else
    // The program's own guide beside it; in a build folder inside the sources, one level up.
    QString readme = QString::fromStdString(programFolder) + QStringLiteral("README.md");
    const QString inSources = QString::fromStdString(programFolder) + QStringLiteral("../README.md");
    if (!QFileInfo::exists(readme) && QFileInfo::exists(inSources))
        readme = QFileInfo(inSources).canonicalFilePath();
#ifdef TARVEL_INSTALLED_GUIDE
    if (!QFileInfo::exists(readme) && QFileInfo::exists(QStringLiteral(TARVEL_INSTALLED_GUIDE)))
        readme = QStringLiteral(TARVEL_INSTALLED_GUIDE);
#endif
    // No guide anywhere: nothing to open, which the menu item says rather than doing nothing.
    if (!QFileInfo::exists(readme)) return {};
    return QUrl::fromLocalFile(readme).toString().toStdString();
#endif
}

void TForm1::HMDateiHomepageClick() {
    const std::string address = HomepageAddress(ProgramFolder);
    if (address.empty() || !platform::openWebAddress(address))
        platform::showMessage("Der Browser kann nicht gestartet werden !", "Browser - Fehler");
}

void TForm1::HMDateiInfoClick() {
    if (FInfo) {
        FInfo->showConnection();
        FInfo->showAt(pos());
        return;
    }
    TFInfo box(this);
    box.showAt(pos());
}

void TForm1::HMDateiNutzungClick() {
    TFNutzung box(this);
    box.showAt(pos());
}

void TForm1::HMBearbeitenUUserClick() {
    command([this] { ShowUserView(); });
}

void TForm1::HMBearbeitenUWorkstationsClick() {
    command([this] { ShowWorkstationView(); });
}

// ---- views -----------------------------------------------------------------------------------

void TForm1::ShowUserView() {
    const settings::Values& v = settings::values();
    ShowView(1, v.GroupInternetUserDeny, v.BasisUserContainer, true);
}

void TForm1::ShowWorkstationView() {
    const settings::Values& v = settings::values();
    ShowView(2, v.GroupInternetWSDeny, v.BasisWorkstationContainer, false);
}

void TForm1::ShowView(int showFirst, const std::string& group, const std::string& container,
                      bool withContainer) {
    settings::values().ShowFirst = showFirst;
    // Copies: the settings may change while the lists fill.
    const std::string groupName = group;
    const std::string containerName = container;

    // The group is tested as an absolute name: without a leading dot it would be looked for
    // below wherever the browser last went.
    const std::string absoluteGroup = groupName.starts_with('.') ? groupName : "." + groupName;
    // A deny group that is no group (a user, a container) is refused like a missing one.
    const deny::GroupState state = deny::denyGroupState(absoluteGroup);
    const bool exists = state == deny::GroupState::Group && nwapi::ObjektExistiert("." + containerName);
    if (!exists) {
        const bool notAGroup = state == deny::GroupState::NotAGroup;
        platform::showMessage(platform::joinLines({withContainer && !notAGroup ? groupName + "/" + containerName : groupName,
                                                   notAGroup ? deny::groupStateLine(state) : "existiert nicht!",
                                                   "Daher kann dieses Programm nicht ausgeführt werden.",
                                                   "Wenden Sie sich an den Systemadministrator.",
                                                   "Tarvel wird beendet!"}),
                              "Tarvel Gruppe existiert nicht");
        nwapi::DoneNWConnection();
        platform::endProgram();
    }
    nwapi::SetzeContext("[root]");
    ListeGruppenMitglieder(groupName, LVGroupDeny);
    ZeigeContext(containerName);
}
