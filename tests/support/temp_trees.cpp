#include "temp_trees.h"

#include "nwclient/client_setup.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace fs = std::filesystem;

namespace testsupport {

TempDir::TempDir() {
    std::string pattern = (fs::temp_directory_path() / "tarvel-test-XXXXXX").string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ec;
    fs::remove_all(path_, ec);
}

int runTreeTool(const std::string& arguments, std::string* out) {
    return runCommand(std::string(TARVEL_TREE_TOOL) + " " + arguments, out);
}

int runCommand(const std::string& command, std::string* out) {
    FILE* pipe = popen((command + " 2>&1").c_str(), "r");
    if (!pipe) return -1;
    std::string output;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, pipe)) > 0) output.append(buf, n);
    int status = pclose(pipe);
    if (out) *out = output;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string writeClientConfig(const std::string& dir, const std::string& treeFile, const std::string& operatorName) {
    std::string conf = dir + "/nwclient.conf";
    writeFile(conf, "Tree=sqlite:" + treeFile + "\nOperator=" + operatorName + "\n");
    nw::setConfigurationFile(conf);
    return conf;
}

std::string useDemoTree(const TempDir& dir, const std::string& operatorName) {
    std::string tree = dir.file("school.tree");
    if (!fs::exists(tree)) {
        std::string out;
        if (runTreeTool("init --demo " + tree, &out) != 0)
            throw std::runtime_error("tarvel-tree init --demo failed: " + out);
    }
    return writeClientConfig(dir.path(), tree, operatorName);
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void writeFile(const std::string& path, const std::string& contents) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << contents;
}

bool clockIsLocalNow(const uint8_t dateTime[7], int slackSeconds) {
    std::tm tm{};
    tm.tm_year = dateTime[0];
    tm.tm_mon = dateTime[1] - 1;
    tm.tm_mday = dateTime[2];
    tm.tm_hour = dateTime[3];
    tm.tm_min = dateTime[4];
    tm.tm_sec = dateTime[5];
    tm.tm_isdst = -1;
    const std::time_t shown = std::mktime(&tm);
    const std::time_t now = std::time(nullptr);
    return shown != std::time_t(-1) && std::llabs(static_cast<long long>(now - shown)) <= slackSeconds;
}

}  // namespace testsupport
