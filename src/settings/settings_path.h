// Where the settings file is. The window: "tarvel.ini" in the program's folder, or the file
// named on the command line by /ini=, /ini:, ini= or ini: (tried in this order). The
// command-line programs: --ini FILE, else the window's switch, else the configuration search.
#pragma once

#include <string>
#include <vector>

namespace settings {

inline constexpr const char* DefaultSettingsFileName = "Tarvel.INI";

struct SwitchPosition {
    int index = 0;     // parameter that holds the switch (1-based, as in argv); 0 = none
    int position = 0;  // 1-based position just behind the switch in that parameter
};

// Looks for sw inside the parameters arguments[1..], ignoring ASCII case; arguments[0] is the
// program itself, as in argv. The first parameter that contains it wins.
SwitchPosition FindSwitch(const std::vector<std::string>& arguments, const std::string& sw);

// The settings path for a program in programFolder (which ends in "/" or "\") started with
// arguments (argv-like, the program first). Without a switch: programFolder + "tarvel.ini" —
// only the file name is lower-cased, a folder keeps its case. With a switch: the rest of the
// parameter behind it, ".ini" appended when it holds no ".", programFolder put in front when
// it has no folder part ("/", "\" or ":"); its case is kept.
std::string ComputeSettingsPath(const std::string& programFolder, const std::vector<std::string>& arguments);

// The settings file of tarvel-ctl and the other command-line programs: `iniOption` (--ini FILE,
// a plain path from the current folder) when given; else `windowSwitch` (a parameter holding
// /ini= or its other spellings) with the window's meaning; else the first tarvel.ini of
// platform::configurationSearchPath; else the window's default beside the program, which
// LoadSettings then reports missing.
std::string CommandLineSettingsPath(const std::string& programFolder, const std::string& iniOption,
                                    const std::string& windowSwitch);

// The folder part of a path, up to and including its last "/", "\" or ":"; empty when none.
std::string FolderOf(const std::string& path);

}  // namespace settings
