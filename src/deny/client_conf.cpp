#include "deny/client_conf.h"

#include "nwapi/client_config.h"

#include <algorithm>
#include <filesystem>

namespace deny {

namespace {

std::string besideFile(const std::string& file, const std::string& value) {
    if (value.empty() || value[0] == '/') return value;
    return (std::filesystem::path(file).parent_path() / value).string();
}

}  // namespace

ClientConf readClientConf() {
    ClientConf conf;
    nwapi::ClientConfiguration config;
    if (!nwapi::ReadClientConfiguration(config)) return conf;
    conf.found = true;
    conf.file = config.file;
    conf.operatorName = config.operatorName;
    auto value = [&](const char* key) {
        auto it = config.values.find(key);
        return it == config.values.end() ? std::string() : it->second;
    };
    if (config.tree.rfind("sqlite:", 0) != 0) conf.bindDn = value("binddn");  // a tree file binds nobody
    conf.auditLog = besideFile(config.file, value("auditlog"));
    conf.schedule = besideFile(config.file, value("schedule"));
    conf.listFile = besideFile(config.file, value("listfile"));
    conf.reloadCommand = value("reloadcommand");
    const std::string timeout = value("locktimeout");
    if (!timeout.empty() && timeout.size() <= 5 &&
        std::all_of(timeout.begin(), timeout.end(), [](char c) { return c >= '0' && c <= '9'; }) &&
        std::stoi(timeout) <= 86400)
        conf.lockTimeout = std::stoi(timeout);
    return conf;
}

}  // namespace deny
