// Any bytes as a settings file: the reader, the value readers and SplitList must neither crash
// nor hand out text that breaks their promises (valid UTF-8, trimmed non-empty list items).
#include "platform/text.h"
#include "settings/ini_file.h"
#include "settings/settings.h"

#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

void check(bool condition) {
    if (!condition) std::abort();
}

void checkList(const text::NameList& list) {
    for (const std::string& item : list) {
        check(!item.empty());
        check(uint8_t(item.front()) > 0x20 && uint8_t(item.back()) > 0x20);
        check(item.find(',') == std::string::npos);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const std::string decoded = settings::decodeSettingsBytes(bytes);
    check(text::isValidUtf8(decoded));

    const settings::IniFile ini = settings::IniFile::fromText(decoded);
    static const char* const keys[][2] = {
        {"TYP", "Typ"}, {"TYP", "Ver"}, {"DEFAULT", "BasisUserContainer"}, {"DEFAULT", "GroupInternetUserDeny"},
        {"SWITCH", "BasisUserContainerGoUpALevel"}, {"SHOW", "ShowFirst"}, {"SHOW", "ShowContainer"},
        {"SHOW", "NoShowLeaf"}};
    for (const auto& k : keys) {
        std::string raw;
        if (ini.read(k[0], k[1], raw)) check(raw.find_first_of(std::string("\r\n\0", 3)) == std::string::npos);
        const std::string value = settings::ReadSettingText(ini, k[0], k[1], "d");
        check(!value.empty() && value.find(settings::CommentChar) == std::string::npos);
        settings::ReadSettingBool(ini, k[0], k[1], "0");
        settings::ReadSettingInteger(ini, k[0], k[1], "1");
        text::NameList list;
        settings::SplitList(value, ',', list);
        checkList(list);
    }

    // The whole input as a list, split at "," and at a byte of its own choosing.
    text::NameList list = {"stale"};
    settings::SplitList(decoded, ',', list);
    checkList(list);
    if (size > 0) {
        settings::SplitList(decoded, char(data[0]), list);
        for (const std::string& item : list) check(!item.empty());
    }
    return 0;
}
