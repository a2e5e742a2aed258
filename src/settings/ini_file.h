// Reading a settings file the way Windows reads profile files: section and key names without
// regard to case (umlauts too), comment lines starting with ";", the first "=" splits key and
// value, blanks around names and values removed, one matching pair of double or single quotes
// around a value removed, the first of duplicate sections and of duplicate keys wins, a line
// without "=" is no key. Lines end in CR LF, CR or LF.
#pragma once

#include "platform/text.h"

#include <string>
#include <string_view>
#include <unordered_map>

namespace settings {

// Files larger than this are not settings files of ours (the program writes about 3 KB);
// reading them is refused before anything is read.
inline constexpr size_t MaxSettingsFileBytes = 1024u * 1024;

// The bytes of a settings file as UTF-8 text: Windows-1252 (the five undefined bytes as the
// control characters of the same number); UTF-16 little-endian after the mark FF FE (Notepad's
// "Unicode"; big-endian UTF-16 is not read as such); UTF-8 when the file starts with the UTF-8 mark and is valid UTF-8 after it, or is
// valid UTF-8 holding non-ASCII characters (edited on Linux).
std::string decodeSettingsBytes(std::string_view bytes);

enum class FileRead {
    Read,        // bytes holds the whole file
    Unreadable,  // missing, not a regular file, or a read failed
    TooLarge,    // more than MaxSettingsFileBytes (also when it grew so while being read)
};

// Reads a regular file of at most MaxSettingsFileBytes.
FileRead readSettingsFile(const std::string& path, std::string& bytes);

class IniFile {
public:
    IniFile() = default;
    // Parses the file's bytes (decoded with decodeSettingsBytes).
    static IniFile fromBytes(std::string_view bytes);
    // Parses text that is UTF-8 already.
    static IniFile fromText(std::string_view utf8);

    // The value of key in section; false when there is none.
    bool read(std::string_view section, std::string_view key, std::string& value) const;
    size_t sectionCount() const { return sections_.size(); }
    // The number (from 1) of the first line holding a NUL character, 0 when there is none. Such a
    // line is read only up to the NUL; the file is damaged, not a text a person wrote.
    size_t nulLine() const { return nulLine_; }

private:
    using Keys = std::unordered_map<std::string, std::string>;
    std::unordered_map<std::string, Keys> sections_;
    size_t nulLine_ = 0;
};

// Case-insensitive form of a section or key name.
std::string foldIniName(std::string_view name);

// The value readers of the settings load.
// Value of the key or the default; cut before the first CommentChar; trailing blanks and
// control characters removed; the default (unchanged) when that leaves nothing.
std::string ReadSettingText(const IniFile& ini, std::string_view section, std::string_view key,
                            const std::string& defaultText);
// On for exactly "ja", "1", "true", "wahr", "yes" (A-Z in any case); everything else off.
bool ReadSettingBool(const IniFile& ini, std::string_view section, std::string_view key,
                     const std::string& defaultText);
// A signed decimal 32-bit integer; the default text's value when the text is not one.
int32_t ReadSettingInteger(const IniFile& ini, std::string_view section, std::string_view key,
                           const std::string& defaultText);

// Signed decimal 32-bit integer, nothing else around it; false when text is not one.
bool parseInteger(std::string_view text, int32_t& value);

// Without leading and trailing blanks and control characters (bytes up to 0x20).
std::string_view trimBlanksAndControls(std::string_view s);

}  // namespace settings
