// The deny list and the two "Internet" buttons: who is in the deny group, gathering the users
// the operator selected, stop (into the group), go (out of it), and drag and drop onto them.
#include "main/tform1.h"

#include "deny/describe.h"
#include "deny/group_check.h"
#include "deny/job.h"
#include "deny/members.h"
#include "deny/selection.h"
#include "deny/service.h"
#include "main/deny_progress.h"
#include "main/pictures.h"
#include "main/widgets.h"
#include "nwapi/nwapi.h"
#include "platform/ports.h"
#include "settings/settings.h"

#include <QPushButton>
#include <QTimer>

#include <unordered_set>

namespace {

const QString BrowserSource = QStringLiteral("LVCtxBrowser");
const QString DenySource = QStringLiteral("LVGroupDeny");

}  // namespace

void TForm1::ListeGruppenMitglieder(const std::string& group, TListView* view) {
    platform::BusyCursor hourglass;
    // A failed read has been reported by the layer; an empty group has its own box.
    text::NameList through;
    if (deny::readMembers(group, DenyMemberList, through) && DenyMemberList.empty())
        platform::showMessage("Keine Objekte in der Liste vorhanden", "Tarvel ListeGruppenMitglieder");

    // Each member's class is looked up as its row goes in, so the list grows while they come.
    const text::NameList& members = DenyMemberList;
    FillRows(view, members.size(), [&members, &through](size_t i) {
        std::string entry = "[";
        entry += nwapi::GetBaseClass(members[i]);
        entry += ']';
        return browse::Row{members[i] + deny::throughText(through[i]), browse::SymbolIndex(entry)};
    });
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
    SkippedNames.clear();
    return deny::gatherUsers(entries, names, SkippedNames);
}

void TForm1::WarneInkonsistenz(const deny::JobWords& words) {
    platform::showMessage(words.boxText(), words.caption);
}

// With Service= the school's service records the stop as this operator's hold (the go ends the
// holds) and runs the change; its words go into the same boxes. Its job cannot be cancelled from
// here: it runs in the service.
static deny::JobResult RunServiceJob(bool stop, const text::NameList& names, DenyProgressDialog& progress) {
    const deny::Direction direction = stop ? deny::Direction::Stop : deny::Direction::Go;
    const std::string caption = std::string("Tarvel ") + deny::actionText(direction);
    const deny::ServiceJob job =
        deny::serviceChange(stop ? deny::ServiceAction::Stop : deny::ServiceAction::Go, names, 0,
                            [&progress](size_t done, size_t total) { progress.update(done, total); });
    progress.hide();
    deny::JobResult result;
    result.requested = names.size();
    if (!job.error.empty()) {
        result.firstFailure = -1;
        platform::showMessage(job.error, caption);
        return result;
    }
    if (!job.ok) {
        result.firstFailure = -1;
        std::string text;
        for (const std::string& line : job.lines) text += (text.empty() ? "" : "\r\n") + line;
        platform::showMessage(text, job.caption.empty() ? caption : job.caption);
    }
    for (const deny::ServiceJob::Box& box : job.boxes) platform::showMessage(box.text, box.caption);
    return result;
}

// One stop or go on the deny group, with the progress dialog when it takes long, then the
// refresh, the cancel box or the warning.
deny::JobResult TForm1::RunDenyJob(bool stop, const text::NameList& names) {
    const deny::Direction direction = stop ? deny::Direction::Stop : deny::Direction::Go;
    const std::string group = settings::values().GroupInternetUserDeny;
    if (!deny::serviceAddress().empty()) {
        DenyProgressDialog progress(direction, this);
        const deny::JobResult result = RunServiceJob(stop, names, progress);
        // Whatever the service did, the list of who has no Internet is read afresh.
        if (result.ok()) ShowUserView();
        else ListeGruppenMitglieder(group, LVGroupDeny);
        return result;
    }
    // The group may have been replaced since the view tested it: nothing is written to a non-group.
    if (const deny::GroupState state = deny::denyGroupState(group); state != deny::GroupState::Group) {
        platform::showMessage(platform::joinLines({group, deny::groupStateLine(state), "Nichts wurde geändert."}),
                              std::string("Tarvel ") + deny::actionText(direction));
        deny::JobResult refused;
        refused.cancelled = true;  // ends the whole press: the browser's selection would meet the same group
        return refused;
    }
    DenyProgressDialog progress(direction, this);
    deny::JobOptions options;
    options.progress = [&progress](size_t done, size_t total) { progress.update(done, total); };
    options.cancel = [&progress] { return progress.cancelRequested(); };
    const deny::JobResult result = deny::runJob(direction, names, group, options);
    progress.hide();
    repaintWindows();  // the window shows the change is over before it reads the group afresh
    const deny::JobWords words = deny::describe(direction, result, group, deny::Repeat::Press);
    if (words.outcome == deny::Outcome::Done) {
        ShowUserView();
        return result;
    }
    // The list of who has no Internet must not be wrong after a cancel or a partly refused
    // change either; the browser stays where the operator was.
    if (result.changed > 0 || result.halfDone > 0) ListeGruppenMitglieder(group, LVGroupDeny);
    if (words.outcome == deny::Outcome::Cancelled) {
        platform::showInformation(words.boxText(), words.caption);
        return result;
    }
    WarneInkonsistenz(words);
    return result;
}

static void showNoUsersFound() {
    platform::showMessage(platform::joinLines({"In der Auswahl wurden keine", "Benutzer gefunden!"}),
                          "Auswahl-Fehler");
}

// After a change from the browser: the entries the gathering left out, named; or that the
// selection held no users at all.
void TForm1::ShowSkipped(const char* caption, bool noUsers) {
    if (!SkippedNames.empty()) {
        std::string message;
        for (const std::string& line : deny::skippedLines(SkippedNames))
            message += (message.empty() ? "" : "\r\n") + line;
        platform::showMessage(message, caption);
    } else if (noUsers) {
        showNoUsersFound();
    }
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
    if (!names.empty()) RunDenyJob(true, names);
    ShowSkipped("Tarvel Internet-Stop", names.empty());
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
    if (!cancelled) {
        LVGroupDeny->clearSelection();
        return true;
    }
    // After a cancel the rows still listed stay selected: pressing again frees the rest.
    const std::unordered_set<std::string> wanted(names.begin(), names.end());
    for (int row = 0; row < LVGroupDeny->count(); ++row)
        if (wanted.count(LVGroupDeny->item(row)->text().toStdString())) LVGroupDeny->item(row)->setSelected(true);
    return false;
}

void TForm1::GoFromBrowser() {
    platform::BusyCursor hourglass;
    text::NameList names;
    if (!SammleAuswahl(LVCtxBrowser, names)) return;
    if (!names.empty()) RunDenyJob(false, names);
    ShowSkipped("Tarvel Internet-Go", names.empty());
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
