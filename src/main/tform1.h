// The main window: the deny group's members on the left, a browser over the directory on the
// right, and the two "Internet" buttons between them that move users into and out of the deny
// group.
#pragma once

#include "browse/browse.h"
#include "deny/describe.h"
#include "deny/job.h"
#include "platform/text.h"

#include <QMainWindow>

#include <functional>
#include <string>
#include <vector>

class QAction;
class QFrame;
class QLabel;
class QPushButton;
class TDropButton;
class TListView;

class TForm1 : public QMainWindow {
    Q_OBJECT
public:
    // Runs FormCreate with the program's own command line.
    explicit TForm1(QWidget* parent = nullptr);
    // The same with the given argv-like parameters (the program first).
    explicit TForm1(const std::vector<std::string>& arguments, QWidget* parent = nullptr);
    ~TForm1() override;

    static constexpr int ClientWidth = 542;
    static constexpr int ClientHeight = 304;

    // ---- components ----
    QFrame* Panel1 = nullptr;
    QLabel* Label1 = nullptr;
    QLabel* Label2 = nullptr;
    QPushButton* BUser = nullptr;
    QPushButton* BWorkstations = nullptr;
    TListView* LVGroupDeny = nullptr;
    TListView* LVCtxBrowser = nullptr;
    TDropButton* BStop = nullptr;
    TDropButton* BGo = nullptr;

    QAction* HMDateiUIni = nullptr;
    QAction* HMDateiUInfo = nullptr;
    QAction* HMDateiUNutzung = nullptr;
    QAction* HMDateiUHomepage = nullptr;
    QAction* HMDateiUEnde = nullptr;
    QAction* HMBearbeitenUUser = nullptr;
    QAction* HMBearbeitenUWorkstations = nullptr;
    QAction* HMEnde = nullptr;

    // ---- state ----
    std::string ProgramFolder;   // the program's folder, ending in "/"
    std::string SettingsPath;
    text::NameList BrowserKlassen;
    text::NameList DenyMemberList;
    browse::BrowserPanel Browser;  // AktContext, CtxEintraege, CtxVolleNamen of LVCtxBrowser

    // ---- frame (window, menus, view switch) ----
    void FormCreate(const std::vector<std::string>& arguments);
    void FormActivate();   // runs once per window, at its first activation
    void FormResize();
    void EndeClick();
    void HMDateiUIniClick();
    void HMDateiHomepageClick();
    void HMDateiInfoClick();
    void HMDateiNutzungClick();
    void HMBearbeitenUUserClick();
    void HMBearbeitenUWorkstationsClick();
    void ShowUserView();
    void ShowWorkstationView();
    // The address the home-page item opens; empty when there is none.
    static std::string HomepageAddress(const std::string& programFolder);

    // ---- browser panel ----
    void ZeigeContext(const std::string& context);
    void LVCtxBrowserDblClick();
    void LVCtxBrowserEnter();
    void LVCtxBrowserSelectItem();
    void KompEnter();

    // ---- deny list and Internet stop/go ----
    void ListeGruppenMitglieder(const std::string& group, TListView* view);
    // Fills names with the users of the selected rows (users themselves, and every user below a
    // selected container); entries no change can take go into SkippedNames. False when a
    // subtree search failed part-way (already reported).
    bool SammleAuswahl(TListView* view, text::NameList& names);
    text::NameList SkippedNames;
    void BStopClick();
    void BGoClick();
    void LVGroupDenySelectItem();
    // Drag sources are named by the list's object name ("LVCtxBrowser", "LVGroupDeny").
    bool LVGroupDenyOnDragOver(const QString& source) const;  // also BStop's
    void LVGroupDenyOnDragDrop(const QString& source);       // also BStop's
    bool BGoOnDragOver(const QString& source) const;
    void BGoOnDragDrop(const QString& source);

    // How long rows go into a growing list before the window is painted again (checked every 32
    // rows; 0 paints after every 32).
    static inline int FillSliceMs = 25;

    bool activated() const { return activated_; }
    // True while a command (listing, stop, go, view switch) runs; commands arriving meanwhile
    // through pumped window messages are ignored.
    bool busy() const { return busy_ || Browser.busy(); }

protected:
    bool event(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void buildForm();
    void buildMenu();
    void wireHandlers();
    // Fills the view with count rows (rowAt gives each, hintAt its hint; without hintAt the hint
    // is the caption) in slices of a few milliseconds, repainting the window between them: a
    // long list grows on screen instead of freezing the window. Clicks and keys wait until the
    // list is whole, so nothing is selected in a half-filled list.
    void FillRows(TListView* view, size_t count, const std::function<browse::Row(size_t)>& rowAt,
                  const std::function<std::string(size_t)>& hintAt = {});
    void ShowView(int showFirst, const std::string& group, const std::string& container, bool withContainer);
    deny::JobResult RunDenyJob(bool stop, const text::NameList& names);
    void WarneInkonsistenz(const deny::JobWords& words);
    void StopFromBrowser();
    void ShowSkipped(const char* caption, bool noUsers);
    bool GoFromDenyList();  // false when the operator cancelled
    void GoFromBrowser();
    browse::ListingOptions listingOptions();
    std::vector<browse::UpBarrier> barriers() const;
    // Runs one command unless another is running; a close asked for meanwhile follows after it.
    void command(const std::function<void()>& f);

    bool activated_ = false;
    bool busy_ = false;
    bool closePending_ = false;
    browse::NameFilters filters_;
};
