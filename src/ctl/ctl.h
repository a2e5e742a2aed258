// tarvel-ctl: the deny group from the command line, on the same layers and the same deny job as
// the window. Every command returns the program's exit status.
#pragma once

#include "platform/text.h"

#include <ctime>
#include <string>
#include <vector>

namespace deny {
struct PendingGo;
}

namespace ctl {

enum Exit { Done = 0, Failed = 1, WrongUse = 2 };

struct Options {
    std::string command;
    std::vector<std::string> names;
    bool json = false;
    bool dryRun = false;
    bool logins = false;
    bool ad = false;        // acl --ad
    std::string forText;    // stop --for
    std::string untilText;  // stop --until
    std::string since;      // log --since
    std::string output;     // list --output
};

// Prints a German message (lines joined by "\n") on stderr.
void say(const std::string& message);
// The schedule file's path and its entries; false (and said why) when there is none or it is unreadable.
bool readScheduleOrSay(std::string& path, std::vector<deny::PendingGo>& entries);
// A JSON string literal.
std::string jsonString(const std::string& text);
// log --since's date: "2026-12-07", "2026-12-07 08:00", "2026-12-07T08:00[:SS]", local time.
bool parseSince(const std::string& text, std::time_t& since);
// An audit line as a JSON object: its time, then its fields KEY=VALUE.
std::string lineAsJson(const std::string& line);

// The deny group of the settings, as the window uses it.
std::string denyGroup();

// The login name of a member: its first name component, unescaped, or where the directory keeps
// the login in an attribute of its own (AD's sAMAccountName) that attribute's one value. False
// (and a message) when there is none, or when
// it holds a control character or a blank, or is one of Squid's words for "every user": such a
// line in a proxy's list would not name one user.
bool loginOf(const std::string& member, std::string& login);

// Reads the deny group's members in the deny list's order. False when they could not be read
// (reported by the layer).
bool readDenyMembers(text::NameList& members);

// With ListFile= in nwclient.conf: writes the members' login names there (atomically) and runs
// ReloadCommand=. True when there is nothing to do or both worked; a failure is reported.
bool refreshProxyList();

int cmdList(const Options& options);
int cmdStopGo(bool stop, const Options& options);
int cmdDue(const Options& options);
int cmdPending(const Options& options);
int cmdCheck(const Options& options, bool repair);
int cmdLog(const Options& options);
// With Service= in nwclient.conf: stop, go, pending, log and due through the school's service.
int cmdServiceStopGo(bool stop, const Options& options);
int cmdServicePending(const Options& options);
int cmdServiceLog(const Options& options);
int cmdServiceDue();

// The OpenLDAP access rules for names[0] (a teacher) on the users below names[1...].
int cmdAcl(const Options& options);

}  // namespace ctl
