// The pieces of saving the settings file, apart so tests and benchmarks can reach them.
#pragma once

#include "settings/settings.h"

#include <string>

namespace settings {

// "dd.mm.yyyy hh:nn:ss (ServerTime)" of a date-time in days since 1899-12-30.
std::string FormatServerStamp(double dateTime);

// The whole file as UTF-8 text with CR LF line ends: four sections with their comment lines.
std::string BuildSettingsText(const Values& values, const std::string& stamp);

enum class ReplaceResult {
    Written,       // the new contents are in place
    CreateFailed,  // nothing could be created or opened for writing; error = errno
    WriteFailed,   // writing, flushing or renaming failed; the old file is whole; error = errno
};

// Replaces the file at path with contents: a temporary file in the same folder, flushed and
// renamed over the old one, which keeps its permissions and owner; through a symbolic link the
// link's target is replaced. Where the folder takes no new file, or the owner cannot be kept,
// but the file is writable, the file is rewritten in place (its space reserved first where the
// file system allows). An existing file must be a regular file (else WriteFailed) that we may
// write (else CreateFailed with the system's error).
ReplaceResult replaceFileContents(const std::string& path, const std::string& contents, int& error);

}  // namespace settings
