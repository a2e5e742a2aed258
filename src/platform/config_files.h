// Where the command-line programs, the launcher and the directory client find their
// configuration files (nwclient.conf, tarvel.ini) when the command line names none: the user's
// own folder, then the system's, then beside the program (a development build), so a file
// beside the program never overrides the user's own. A file named on a command line is a plain
// path, taken from the current folder.
#pragma once

#include <string>
#include <vector>

namespace platform {

// The running program's folder, ending in "/"; empty when it cannot be told.
std::string programFolder();

// The folders searched, in this order, each ending in "/": $XDG_CONFIG_HOME/tarvel/ (when that
// is an absolute path, else ~/.config/tarvel/), /etc/tarvel/, the program's folder.
std::vector<std::string> configurationFolders();

// `name` in each of those folders, in their order.
std::vector<std::string> configurationSearchPath(const std::string& name);

// The first path of configurationSearchPath(name) that is a regular file; empty when none is.
std::string findConfigurationFile(const std::string& name);

// Why a file named on a command line cannot be used, as a German sentence naming it; empty when
// it is a readable regular file.
std::string namedFileProblem(const std::string& path);

}  // namespace platform
