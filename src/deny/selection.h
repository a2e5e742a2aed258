// Gathering the users of a selection: users stand for themselves, an Organization or
// Organizational Unit for every user anywhere below it. Shared by the main window and tarvel-ctl.
#pragma once

#include "platform/text.h"

#include <cstdint>
#include <string>
#include <vector>

namespace deny {

enum class EntryKind { User, Container, Other };

// One selected object: its full (typeless, dot-separated) name and what it is.
struct SelectedEntry {
    std::string fullName;
    EntryKind kind = EntryKind::Other;
};

// The kind of a base class name ("User"; "Organization" and "Organizational Unit" are containers;
// anything else, groups included, gathers nothing). ASCII case-insensitive.
EntryKind kindOfClass(const std::string& baseClass);

// The selected entries of names as the directory classes them (one object-info read each; a name
// that cannot be read counts as Other and gathers nothing).
std::vector<SelectedEntry> entriesOfNames(const text::NameList& names);

// Appends the users of the entries to users, in selection order (users below a container in the
// order the search delivers them). Sets the name context to the tree root for the searches.
// A user whose name no change could take (empty, holding NUL, CR or LF, past the name limits, or
// an entry the search could not hand out and named) is never passed on and never dropped
// silently: it goes into skipped, as shown to the operator, and a change of the others is
// incomplete. False when a subtree search failed part-way for any other reason (already reported
// by the layer): users then holds part of the selection only and must not be acted on.
bool gatherUsers(const std::vector<SelectedEntry>& entries, text::NameList& users, text::NameList& skipped);

// The lines that tell the operator which entries a gathering left out; empty when none.
std::vector<std::string> skippedLines(const text::NameList& skipped);

}  // namespace deny
