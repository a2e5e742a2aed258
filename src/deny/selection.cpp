#include "deny/selection.h"

#include "nwapi/nwapi.h"
#include "nwapi/names.h"

namespace deny {

EntryKind kindOfClass(const std::string& baseClass) {
    if (text::equalsAsciiNoCase(baseClass, "User")) return EntryKind::User;
    if (text::equalsAsciiNoCase(baseClass, "Organization") || text::equalsAsciiNoCase(baseClass, "Organizational Unit"))
        return EntryKind::Container;
    return EntryKind::Other;
}

std::vector<SelectedEntry> entriesOfNames(const text::NameList& names) {
    std::vector<SelectedEntry> entries;
    entries.reserve(names.size());
    for (const std::string& name : names) entries.push_back({name, kindOfClass(nwapi::GetBaseClass(name))});
    return entries;
}

namespace {

// The name as the operator sees it: control characters as \XX, an empty name as "(leer)".
std::string shown(const std::string& name) { return name.empty() ? "(leer)" : text::showControls(name); }

// What the client takes as a name: a request with any other would fail the whole class.
bool usable(const std::string& name) {
    if (name.empty() || name.find_first_of(std::string("\0\r\n", 3)) != std::string::npos) return false;
    return nwapi::NameIsUsable(name);
}

void take(const std::string& name, text::NameList& users, text::NameList& skipped) {
    if (usable(name)) users.push_back(name);
    else skipped.push_back(shown(name));
}

// The entries a search left out because it could not hand them out, one a line; empty when the
// search broke off for another reason (then nothing it found may be acted on).
text::NameList leftOutBySearch() {
    text::NameList names;
    if (nwapi::GetLastNDSError() != static_cast<int32_t>(nw::TARVEL_LDAP_INCOMPLETE)) return names;
    const std::string detail = nw::NWDSIncompleteDetail();
    for (size_t start = 0; start < detail.size();) {
        size_t end = detail.find("\r\n", start);
        if (end == std::string::npos) end = detail.size();
        if (end > start) names.push_back(shown(detail.substr(start, end - start)));
        start = end + 2;
    }
    return names;
}

}  // namespace

bool gatherUsers(const std::vector<SelectedEntry>& entries, text::NameList& users, text::NameList& skipped) {
    for (const SelectedEntry& entry : entries) {
        if (entry.kind == EntryKind::User) {
            take(entry.fullName, users, skipped);
        } else if (entry.kind == EntryKind::Container) {
            nwapi::SetzeContext("[root]");
            text::NameList found;
            // A search cut short is not the list of users below: acting on it would leave the
            // rest as they were while the operator sees success. One that left out only entries
            // it names has handed out everybody else.
            if (!nwapi::SearchObjects(entry.fullName, found, "User")) {
                text::NameList leftOut = leftOutBySearch();
                if (leftOut.empty()) return false;
                skipped.insert(skipped.end(), leftOut.begin(), leftOut.end());
            }
            for (const std::string& name : found) take(name, users, skipped);
        }
    }
    return true;
}

std::vector<std::string> skippedLines(const text::NameList& skipped) {
    std::vector<std::string> lines;
    if (skipped.empty()) return lines;
    lines.push_back("Die Änderung ist unvollständig: " + std::to_string(skipped.size()) +
                    (skipped.size() == 1 ? " Eintrag hat" : " Einträge haben") +
                    " einen unbrauchbaren Namen und wurde" + (skipped.size() == 1 ? "" : "n") +
                    " nicht geändert (umbenennen oder löschen):");
    constexpr size_t SHOWN = 20;
    for (size_t i = 0; i < skipped.size() && i < SHOWN; ++i) lines.push_back("  " + skipped[i]);
    if (skipped.size() > SHOWN) lines.push_back("  und " + std::to_string(skipped.size() - SHOWN) + " weitere");
    return lines;
}

}  // namespace deny
