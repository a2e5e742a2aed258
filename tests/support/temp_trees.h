// Shared by the tests: temporary folders, the demo tree, and a client opened on it.
#pragma once

#include <cstdint>
#include <string>

namespace testsupport {

// A fresh folder below the system's temporary folder, removed with the object.
class TempDir {
public:
    TempDir();
    ~TempDir();
    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// Runs a shell command; returns its exit code, standard output and error together in *out.
int runCommand(const std::string& command, std::string* out = nullptr);

// Runs the tarvel-tree tool with the arguments; returns its exit code, output in *out.
int runTreeTool(const std::string& arguments, std::string* out = nullptr);

// Writes nwclient.conf into dir for the given tree file and operator and points the client at
// it; returns the path of the configuration file.
std::string writeClientConfig(const std::string& dir, const std::string& treeFile,
                              const std::string& operatorName = "admin.UNTERRICHT");

// Creates the demo school in dir/school.tree (once per folder) and points the client at it.
std::string useDemoTree(const TempDir& dir, const std::string& operatorName = "admin.UNTERRICHT");

// True when a server clock (year since 1900, month, day, hour, minute, second, weekday) reads
// the local time of now within `slackSeconds`.
bool clockIsLocalNow(const uint8_t dateTime[7], int slackSeconds = 120);

std::string readFile(const std::string& path);
void writeFile(const std::string& path, const std::string& contents);

}  // namespace testsupport
