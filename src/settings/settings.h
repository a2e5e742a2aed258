// The program's settings values and the settings file (INI form, Windows-1252, CR LF) that
// stores them. One process-wide set of values, used on the user-interface thread only.
#pragma once

#include "platform/text.h"

#include <cstdint>
#include <string>

namespace settings {

using text::NameList;

// Comment character of setting values: a value read from the file is cut at its first one.
inline constexpr char CommentChar = ';';

struct Values {
    std::string BasisUserContainer;         // held without a leading "."
    std::string BasisWorkstationContainer;
    std::string GroupInternetUserDeny;      // after a load always with a leading "."
    std::string GroupInternetWSDeny;
    bool BasisUserContainerGoUpALevel = false;
    bool BasisGroupContainerGoUpALevel = false;
    int32_t ShowFirst = 0;                  // 1 users, 2 workstations, 0 none chosen yet
    NameList ShowContainerList;             // name beginnings; items end in "*" after a load
    NameList NoShowContainerList;           // name parts
    NameList ShowLeafList;                  // name beginnings; items end in "*" after a load
    NameList NoShowLeafList;                // name parts

    // What the last accepted load read for the four DEFAULT texts, before the dot rules; the
    // default of the next load, so a key missing from the file keeps its previous value.
    std::string lastReadBaseUserContainer;
    std::string lastReadBasisWorkstationContainer;
    std::string lastReadGroupInternetUserDeny;
    std::string lastReadGroupInternetWSDeny;
};

// The values at program start: "[ROOT]" for both containers, the two deny groups of the school
// without a leading dot, both switches off, ShowFirst 0, empty lists; last read values alike.
Values startValues();

// The process-wide values.
Values& values();
// Back to the start values (program start, tests).
void resetToStartValues();

// Reads the file into values(). A missing or foreign file (message A) or one with too high a
// version (message B) is refused: every value stays as it was. Shows its own messages.
void LoadSettings(const std::string& path);

// Tests the operator's rights, then rewrites the whole file from values(), stamped with the
// server's time. The old file stays whole whenever the save does not complete.
// Returns false only when the file could not be created: the operating system's error has
// been shown (caption "Tarvelweb") and the save ends together with its caller — the settings
// dialog stays open and does not reload. Returns true otherwise, also when a rights test or
// the write refused with its own message; the caller then reloads the file.
bool SaveSettings(const std::string& path);

// Splits text at separator into trimmed (blanks and control characters), non-empty items;
// list is cleared first. No case change, duplicates and order kept.
void SplitList(const std::string& text, char separator, NameList& list);

}  // namespace settings
