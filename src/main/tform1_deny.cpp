// The deny list and the two "Internet" buttons: who is in the deny group, gathering the users
// the operator selected, stop (into the group), go (out of it), and drag and drop onto them.
#include "main/tform1.h"

#include "browse/member_order.h"
#include "deny/group_check.h"
#include "deny/job.h"
#include "deny/selection.h"
#include "main/deny_progress.h"
#include "main/pictures.h"
#include "main/widgets.h"
#include "nwapi/nwapi.h"
#include "platform/ports.h"
#include "settings/settings.h"

#include <QPushButton>
#include <QTimer>

namespace {

const QString BrowserSource = QStringLiteral("LVCtxBrowser");
const QString DenySource = QStringLiteral("LVGroupDeny");

}  // namespace

void TForm1::ListeGruppenMitglieder(const std::string& group, TListView* view) {
    platform::BusyCursor hourglass;
    DenyMemberList.clear();
    nwapi::ExpectNDSError(-603);
    int32_t error = 0;
    nwapi::GetGroupMembers(group, DenyMemberList, error);
    if ((error == 0 && DenyMemberList.empty()) || error == 603 || error == -603)
        platform::showMessage("Keine Objekte in der Liste vorhanden", "Tarvel ListeGruppenMitglieder");

    browse::SortiereNachContainer(DenyMemberList);

    std::vector<browse::Row> rows;
    rows.reserve(DenyMemberList.size());
    for (const std::string& name : DenyMemberList)
        rows.push_back({name, browse::SymbolIndex("[" + nwapi::GetBaseClass(name) + "]")});
    FillRows(view, rows);
}

bool TForm1::SammleAuswahl(TListView* view, text::NameList& names) {
    names.clear();
    std::vector<deny::SelectedEntry> entries;
    const text::NameList& fullNames = Browser.CtxVolleNamen();
    for (int row : view->selectedRows()) {
        if (size_t(row) >= fullNames.size()) continue;  // rows and names are rebuilt together
        const int icon = view->item(row)->data(Qt::UserRole).toInt();
        const deny::EntryKind kind = icon == browse::SymbolUser ? deny::EntryKind::User
                                     : (icon == browse::SymbolOrganization || icon == browse::SymbolOrganizationalUnit)
                                         ? deny::EntryKind::Container
                                         : deny::EntryKind::Other;
        entries.push_back({fullNames[size_t(row)], kind});
    }
    return deny::gatherUsers(entries, names);
}

void TForm1::WarneInkonsistenz(const char* caption, bool accessHint, const deny::JobResult& result) {
    const std::string group = settings::values().GroupInternetUserDeny;
    std::vector<std::string> lines{"Es sind Fehler aufgetreten!",
                                   "Bitte benachrichtigen Sie den Administrator mit der Meldung:",
                                   "  In der Gruppe " + group,
                                   "  und/oder bei zugehörigen Usern",
                                   "  sind möglicherweise Inkonsistenzen aufgetreten."};
    // Who is half done and how to mend it: users a failed stop left outside Member keep their
    // Internet access and appear in no list.
    if (result.timedOut) lines.push_back("Der Server hat nicht rechtzeitig geantwortet.");
    if (result.halfDone > 0)
        lines.push_back(TDenyProgress::count(result.halfDone).toStdString() +
                        (result.halfDone == 1 ? " Benutzer ist nur halb geändert." : " Benutzer sind nur halb geändert."));
    if (result.timedOut || result.halfDone > 0) lines.push_back("Erneutes Drücken vervollständigt die Änderung.");
    std::string message;
    for (const std::string& line : lines) message += (message.empty() ? "" : "\r\n") + line;
    if (accessHint) {
        message += "\r\n\r\n";
        const int32_t last = nwapi::GetLastNDSError();
        if (last == 672 || last == -672) message += "Oder: Sie haben keine Berechtigung.";
    }
    platform::showMessage(message, caption);
}

// One stop or go on the deny group, with the progress dialog when it takes long, then the
// refresh, the cancel box or the warning.
deny::JobResult TForm1::RunDenyJob(bool stop, const text::NameList& names) {
    const char* action = stop ? "Internet-Stop" : "Internet-Go";
    const std::string caption = std::string("Tarvel ") + action;
    // The group may have been replaced since the view tested it: nothing is written to a non-group.
    const std::string& group = settings::values().GroupInternetUserDeny;
    if (const deny::GroupState state = deny::denyGroupState(group); state != deny::GroupState::Group) {
        platform::showMessage(platform::joinLines({group, deny::groupStateLine(state), "Nichts wurde geändert."}), caption);
        deny::JobResult refused;
        refused.cancelled = true;  // ends the whole press: the browser's selection would meet the same group
        return refused;
    }
    TDenyProgress progress(action, this);
    deny::JobOptions options;
    options.progress = [&progress](size_t done, size_t total) { progress.update(done, total); };
    options.cancel = [&progress] { return progress.cancelRequested(); };
    const deny::JobResult result =
        deny::runJob(stop ? deny::Direction::Stop : deny::Direction::Go, names, settings::values().GroupInternetUserDeny,
                     options);
    progress.hide();
    if (result.ok()) {
        ShowUserView();
        return result;
    }
    if (result.cancelled && result.firstFailure == 0) {
        platform::showMessage(platform::joinLines({"Abgebrochen.",
                                                   TDenyProgress::count(result.changed).toStdString() + " von " +
                                                       TDenyProgress::count(result.toChange).toStdString() +
                                                       " Benutzern wurden geändert.",
                                                   "Erneutes Drücken ändert die übrigen."}),
                              caption);
        return result;
    }
    WarneInkonsistenz(caption.c_str(), !stop, result);
    return result;
}

static void showNoUsersFound() {
    platform::showMessage(platform::joinLines({"In der Auswahl wurden keine", "Benutzer gefunden!"}),
                          "Auswahl-Fehler");
}

void TForm1::BStopClick() {
    command([this] { StopFromBrowser(); });
}

void TForm1::StopFromBrowser() {
    if (!LVCtxBrowser->hasSelection()) {
        platform::showMessage(platform::joinLines({"In der Liste wurden keine", "Benutzer oder Container ausgewählt!"}),
                              "Auswahl-Fehler");
        return;
    }
    platform::BusyCursor hourglass;
    text::NameList names;
    // A search that failed part-way has been reported; a stop on part of the users would
    // look done while some stay online, so nothing is changed.
    if (!SammleAuswahl(LVCtxBrowser, names)) return;
    if (names.empty()) {
        showNoUsersFound();
        return;
    }
    RunDenyJob(true, names);
}

void TForm1::BGoClick() {
    command([this] {
        if (!LVGroupDeny->hasSelection() && !LVCtxBrowser->hasSelection()) {
            platform::showMessage(platform::joinLines({"In der Liste wurden keine", "Benutzer ausgewählt!"}),
                                  "Auswahl-Fehler");
            return;
        }
        // The deny list's selection first; after a successful removal the browser was listed
        // afresh and has no selection left.
        // A cancel ends the whole press.
        if (LVGroupDeny->hasSelection() && !GoFromDenyList()) return;
        if (LVCtxBrowser->hasSelection()) GoFromBrowser();
    });
}

bool TForm1::GoFromDenyList() {
    platform::BusyCursor hourglass;
    text::NameList names;
    for (int row : LVGroupDeny->selectedRows()) names.push_back(LVGroupDeny->item(row)->text().toStdString());
    bool cancelled = false;
    if (!names.empty()) cancelled = RunDenyJob(false, names).cancelled;
    LVGroupDeny->clearSelection();
    return !cancelled;
}

void TForm1::GoFromBrowser() {
    platform::BusyCursor hourglass;
    text::NameList names;
    if (!SammleAuswahl(LVCtxBrowser, names)) return;
    if (names.empty()) {
        showNoUsersFound();
        return;
    }
    RunDenyJob(false, names);
}

void TForm1::LVGroupDenySelectItem() { BGo->setEnabled(true); }

// ---- drag and drop ---------------------------------------------------------------------------
// Drags copy; a drop only schedules the button's action, which runs after the drag has ended.

bool TForm1::LVGroupDenyOnDragOver(const QString& source) const {
    return source == BrowserSource && BStop->isEnabled() && !busy();
}

void TForm1::LVGroupDenyOnDragDrop(const QString& source) {
    if (!LVGroupDenyOnDragOver(source)) return;
    QTimer::singleShot(0, this, [this] { BStopClick(); });
}

bool TForm1::BGoOnDragOver(const QString& source) const {
    return (source == DenySource || source == BrowserSource) && BGo->isEnabled() && !busy();
}

// A drop acts on what was dragged: the source list's selection alone, never a selection left
// behind in the other list (which the button would take first).
void TForm1::BGoOnDragDrop(const QString& source) {
    if (!BGoOnDragOver(source)) return;
    const bool fromDenyList = source == DenySource;
    QTimer::singleShot(0, this, [this, fromDenyList] {
        command([this, fromDenyList] {
            TListView* list = fromDenyList ? LVGroupDeny : LVCtxBrowser;
            if (!list->hasSelection()) {
                platform::showMessage(platform::joinLines({"In der Liste wurden keine", "Benutzer ausgewählt!"}),
                                      "Auswahl-Fehler");
                return;
            }
            if (fromDenyList)
                GoFromDenyList();
            else
                GoFromBrowser();
        });
    });
}
