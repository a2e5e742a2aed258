// The program's own state files (the plan of timed stops, the service's holds): their lines free
// pupils, so each must be a regular file of the running account that nobody else may write, is
// never opened through a link nor waited on (a FIFO), is replaced whole (a temporary file synced
// and renamed over it) and is changed only under a lock on one byte of a lock file beside it.
#pragma once

#include <functional>
#include <string>

namespace deny::statefile {

// How the messages name a state file, e.g. "Der Zeitplan", "Die Sperrdatei des Zeitplans".
struct Words {
    std::string file;        // "Der Zeitplan"
    std::string lockFile;    // "Die Sperrdatei des Zeitplans"
    std::string unreadable;  // "Der Zeitplan kann nicht gelesen werden:"
    std::string unwritable;  // "Der Zeitplan kann nicht geschrieben werden:"
    std::string unlockable;  // "Der Zeitplan kann nicht gesperrt werden:"
    std::string busy;        // "Der Zeitplan ist gerade von einem anderen Vorgang gesperrt"
};

// A field of a tab-separated line: backslash, tab, CR and LF escaped.
std::string escapeField(const std::string& s);
// Its reverse; false on a stray backslash, or an empty result unless allowEmpty.
bool unescapeField(const std::string& s, std::string& out, bool allowEmpty = false);

// False with error set when fd is no regular file of this account or others may write it.
bool checkOwnFile(int fd, const std::string& path, const std::string& what, std::string& error);
std::string linkRefused(const std::string& path, const std::string& what);

// The whole file into text. A missing file: true with exists false.
bool readOwnFile(const std::string& path, const Words& words, std::string& text, bool& exists, std::string& error);

// Replaces path by text: a temporary file beside it (0600), synced, renamed over it, the folder
// synced.
bool replaceFile(const std::string& path, const std::string& text, const Words& words, std::string& error);

// An exclusive open-file-description lock on byte slot of lockPath (made 0600 when missing).
// Retried for up to waitSeconds, calling onWait between tries. The descriptor (close it to
// release) or -1 with error set; busy tells that another held the lock.
int lockByte(const std::string& lockPath, int slot, int waitSeconds, const Words& words,
             const std::function<void()>& onWait, bool& busy, std::string& error);

}  // namespace deny::statefile
