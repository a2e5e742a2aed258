#include "platform/config_files.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <unistd.h>

namespace platform {

namespace fs = std::filesystem;

std::string programFolder() {
    std::error_code ec;
    const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
    return ec ? std::string() : exe.parent_path().string() + "/";
}

std::vector<std::string> configurationFolders() {
    std::vector<std::string> folders;
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    const char* home = std::getenv("HOME");
    // A relative XDG_CONFIG_HOME would depend on the folder the program was started in.
    if (xdg && xdg[0] == '/') folders.push_back(std::string(xdg) + "/tarvel/");
    else if (home && *home) folders.push_back(std::string(home) + "/.config/tarvel/");
    folders.push_back("/etc/tarvel/");
    if (const std::string own = programFolder(); !own.empty()) folders.push_back(own);
    return folders;
}

std::vector<std::string> configurationSearchPath(const std::string& name) {
    std::vector<std::string> paths;
    for (const std::string& folder : configurationFolders()) paths.push_back(folder + name);
    return paths;
}

std::string findConfigurationFile(const std::string& name) {
    for (const std::string& candidate : configurationSearchPath(name)) {
        std::error_code ec;
        if (fs::is_regular_file(candidate, ec)) return candidate;
    }
    return {};
}

std::string namedFileProblem(const std::string& path) {
    std::error_code ec;
    const fs::file_status status = fs::status(path, ec);
    if (!fs::exists(status)) return "Die Datei " + path + " gibt es nicht.";
    if (!fs::is_regular_file(status)) return path + " ist keine Datei.";
    if (::access(path.c_str(), R_OK) != 0) return "Die Datei " + path + " ist nicht lesbar: " + std::strerror(errno) + ".";
    return {};
}

}  // namespace platform
