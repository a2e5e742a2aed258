#include "settings/settings_path.h"

#include "platform/config_files.h"
#include "platform/text.h"

namespace settings {

SwitchPosition FindSwitch(const std::vector<std::string>& arguments, const std::string& sw) {
    for (size_t i = 1; i < arguments.size(); ++i) {
        const size_t at = text::findAsciiNoCase(arguments[i], sw);
        if (at != std::string::npos) return {int(i), int(at + sw.size() + 1)};
    }
    return {};
}

std::string ComputeSettingsPath(const std::string& programFolder, const std::vector<std::string>& arguments) {
    for (const char* sw : {"/ini=", "/ini:", "ini=", "ini:"}) {
        const SwitchPosition found = FindSwitch(arguments, sw);
        if (found.index == 0) continue;
        std::string value = arguments[size_t(found.index)].substr(size_t(found.position - 1));
        if (value.find('.') == std::string::npos) value += ".ini";
        if (value.find_first_of("/\\:") == std::string::npos) value = programFolder + value;
        return value;
    }
    // Only the file name is lower-cased: the folder names a real place on a case-sensitive
    // file system and must keep its capitals.
    return programFolder + text::toLowerAscii(DefaultSettingsFileName);
}

std::string CommandLineSettingsPath(const std::string& programFolder, const std::string& iniOption,
                                    const std::string& windowSwitch) {
    if (!iniOption.empty()) return iniOption;
    if (!windowSwitch.empty()) return ComputeSettingsPath(programFolder, {std::string(), windowSwitch});
    const std::string found = platform::findConfigurationFile(text::toLowerAscii(DefaultSettingsFileName));
    return found.empty() ? ComputeSettingsPath(programFolder, {}) : found;
}

std::string FolderOf(const std::string& path) {
    const size_t last = path.find_last_of("/\\:");
    return last == std::string::npos ? std::string() : path.substr(0, last + 1);
}

}  // namespace settings
