// The settings dialog "Tarvelweb: Einstellungen": edits the settings values (base containers,
// up-a-level switches, deny groups, the four name-filter lists), picks containers and groups
// from the tree with the directory picker, and on "&Abspeichern" tests both base containers,
// takes the values over, saves the settings file and loads it again.
//
// The opener creates it (owned by the main window), places it, exec()s it and destroys it
// afterwards (on the stack or with delete): closing only ends the modal run.
#pragma once

#include <QDialog>

#include <string>

class QButtonGroup;
class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;

class TINItarvel : public QDialog {
    Q_OBJECT
public:
    // settingsPath: the settings file that "&Abspeichern" saves and reloads.
    TINItarvel(QWidget* owner, std::string settingsPath);
    ~TINItarvel() override;

    static constexpr int DesignWidth = 350;
    static constexpr int DesignHeight = 501;
    static constexpr int HintPauseMs = 1000;
    static constexpr int HintHideMs = 25000;

    // ---- components ----
    QLabel* LIniBasisUserContainer = nullptr;
    QLineEdit* EIniBasisUserContainer = nullptr;
    QPushButton* BIniBasisUserContainer = nullptr;
    QLabel* LIniBasisGroupContainer = nullptr;
    QLineEdit* EIniBasisWSContainer = nullptr;
    QPushButton* BIniBasisWSContainer = nullptr;
    QCheckBox* CBIniBasisWSContainerGoUpALevel = nullptr;    // "(Benutzer)": BasisUserContainerGoUpALevel
    QCheckBox* CBIniBasisUserContainerGoUpALevel = nullptr;  // "(Gruppen)": BasisGroupContainerGoUpALevel
    QGroupBox* RGShowFirst = nullptr;
    QButtonGroup* RGShowFirstItems = nullptr;  // ids 0 "Benutzer", 1 "Workstations"
    QLabel* LGroupInternetUserDeny = nullptr;
    QLineEdit* EIniGroupInternetUserDeny = nullptr;
    QPushButton* BIniGroupInternetUserDeny = nullptr;
    QLabel* LGroupInternetWSDeny = nullptr;
    QLineEdit* EIniGroupInternetWSDeny = nullptr;
    QPushButton* BIniGroupInternetWSDeny = nullptr;
    QLabel* LAnzeigeUeberschrift = nullptr;
    QLabel* LIniShowUserContainer = nullptr;
    QLineEdit* EIniShowContainerList = nullptr;
    QLabel* LIniNoShowUserContainerList = nullptr;
    QLineEdit* EIniNoShowContainerList = nullptr;
    QLabel* LIniShowUserLeafList = nullptr;
    QLineEdit* EIniShowLeafList = nullptr;
    QLabel* LIniNoShowUserLeafList = nullptr;
    QLineEdit* EIniNoShowLeafList = nullptr;
    QPushButton* BIniSave = nullptr;
    QPushButton* BIniClose = nullptr;

    // The selected item of RGShowFirst, -1 when none is.
    int RGShowFirstItemIndex() const;
    void SetRGShowFirstItemIndex(int index);

    const std::string& settingsPath() const { return settingsPath_; }

    // ---- handlers ----
    void FormCreate();
    void BIniNDSBrowserClick(QPushButton* sender);
    // Runs the picker for the "..." button of that name and takes its choice over.
    void PickFromTree(const QString& buttonName);
    void BIniSaveClick();
    void BIniCloseClick();
    // Tests, takes over, saves and reloads. False when the file could not even be created: then
    // nothing was reloaded and the dialog must stay open.
    bool ApplySettings();

private:
    void buildForm();
    void setHints();
    bool takeContainer(QLineEdit* edit, std::string& setting, const char* firstLine);
    static void takeGroup(QLineEdit* edit, std::string& setting);
    // The user deny group, tested as an absolute name before it is taken over: saved unchecked,
    // a typo (or an emptied box) made the next "Benutzer" end the program.
    bool takeTestedGroup(QLineEdit* edit, std::string& setting, const char* firstLine);

    std::string settingsPath_;
};
