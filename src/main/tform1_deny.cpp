// The deny list and the two "Internet" buttons: who is in the deny group, gathering the users
// the operator selected, stop (into the group), go (out of it), and drag and drop onto them.
#include "main/tform1.h"

#include "browse/member_order.h"
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
    bool complete = true;
    const text::NameList& fullNames = Browser.CtxVolleNamen();
    for (int row : view->selectedRows()) {
        if (size_t(row) >= fullNames.size()) continue;  // rows and names are rebuilt together
        const int icon = view->item(row)->data(Qt::UserRole).toInt();
        const std::string& fullName = fullNames[size_t(row)];
        if (icon == browse::SymbolUser) {
            names.push_back(fullName);
        } else if (icon == browse::SymbolOrganization || icon == browse::SymbolOrganizationalUnit) {
            nwapi::SetzeContext("[root]");
            if (!nwapi::SearchObjects(fullName, names, "User")) complete = false;
        }
    }
    return complete;
}

void TForm1::WarneInkonsistenz(const char* caption, bool accessHint) {
    const std::string group = settings::values().GroupInternetUserDeny;
    std::string message = platform::joinLines({"Es sind Fehler aufgetreten!",
                                               "Bitte benachrichtigen Sie den Administrator mit der Meldung:",
                                               "  In der Gruppe " + group,
                                               "  und/oder bei zugehörigen Usern",
                                               "  sind möglicherweise Inkonsistenzen aufgetreten."});
    if (accessHint) {
        message += "\r\n\r\n";
        const int32_t last = nwapi::GetLastNDSError();
        if (last == 672 || last == -672) message += "Oder: Sie haben keine Berechtigung.";
    }
    platform::showMessage(message, caption);
}

// One group change on the deny group, then the refresh or the warning. False when it failed.
bool TForm1::GroupOperation(bool add, text::NameList& names, const char* caption) {
    const std::string group = settings::values().GroupInternetUserDeny;
    nwapi::SetzeContext("[root]");
    const bool ok = add ? nwapi::AddMultipleUsersToGroup(names, group)
                        : nwapi::DeleteMultipleUsersFromGroup(names, group);
    if (ok)
        ShowUserView();
    else
        WarneInkonsistenz(caption, !add);
    return ok;
}

static void keineBenutzerGefunden() {
    platform::showMessage(platform::joinLines({"In der Auswahl wurden keine", "Benutzer gefunden!"}),
                          "Auswahl-Fehler");
}

void TForm1::BStopClick() {
    command([this] {
        if (!LVCtxBrowser->hasSelection()) {
            platform::showMessage(
                platform::joinLines({"In der Liste wurden keine", "Benutzer oder Container ausgewählt!"}),
                "Auswahl-Fehler");
            return;
        }
        platform::BusyCursor hourglass;
        text::NameList names;
        // A search that failed part-way has been reported; a stop on part of the users would
        // look done while some stay online, so nothing is changed.
        if (!SammleAuswahl(LVCtxBrowser, names)) return;
        if (names.empty()) {
            keineBenutzerGefunden();
            return;
        }
        GroupOperation(true, names, "Tarvel Internet-Stop");
    });
}

void TForm1::BGoClick() {
    command([this] {
        if (!LVGroupDeny->hasSelection() && !LVCtxBrowser->hasSelection()) {
            platform::showMessage(platform::joinLines({"In der Liste wurden keine", "Benutzer ausgewählt!"}),
                                  "Auswahl-Fehler");
            return;
        }
        platform::BusyCursor hourglass;
        text::NameList names;
        if (LVGroupDeny->hasSelection()) {
            for (int row : LVGroupDeny->selectedRows()) names.push_back(LVGroupDeny->item(row)->text().toStdString());
            if (!names.empty()) GroupOperation(false, names, "Tarvel Internet-Go");
            LVGroupDeny->clearSelection();
        }
        // After a successful removal above the browser was listed afresh and has no selection.
        if (LVCtxBrowser->hasSelection()) {
            if (!SammleAuswahl(LVCtxBrowser, names)) return;
            if (names.empty()) {
                keineBenutzerGefunden();
                return;
            }
            GroupOperation(false, names, "Tarvel Internet-Go");
        }
    });
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

void TForm1::BGoOnDragDrop(const QString& source) {
    if (!BGoOnDragOver(source)) return;
    QTimer::singleShot(0, this, [this] { BGoClick(); });
}
