// The audit trail: one line for every change of the deny group, from the window or from
// tarvel-ctl, appended to AuditLog= of nwclient.conf (by default
// $XDG_STATE_HOME/tarvel/audit.log) and sent to syslog. One write per line on a file opened for
// appending, so two programs writing at once never mix their lines. Never holds a secret: only
// names, counts and status codes go into it.
#pragma once

#include "platform/text.h"

#include <ctime>
#include <string>

namespace deny {

// "stop", "go", "timed go", "repair", ...; users are the names the change was asked for;
// result e.g. "done changed=3" or "failed code=-672 changed=1".
struct AuditRecord {
    std::string action;
    text::NameList users;
    std::string result;
};

// The trail's file: AuditLog= of the client's configuration, else the default.
std::string auditLogPath();
// Makes path the default for this process (the service: its state folder's trail, whatever the
// account's home is). AuditLog= still wins.
void setDefaultAuditLogPath(const std::string& path);

// Up to five names, comma-separated; more as "<count> users below <their common container>".
std::string describeUsers(const text::NameList& users);

// One line without its line end: local time with offset (ISO 8601), then tab-separated
// operator=, bound= (only when the server binds another account than the operator's: BindDN=),
// action=, users=, result=. Control characters in the fields are written as \xNN.
std::string formatAuditLine(std::time_t when, const std::string& operatorName, const AuditRecord& record,
                            const std::string& boundAccount = {});

// Appends the line for record (now, the configured operator and bound account) to the trail and
// to syslog. The trail must be a regular file: it is never opened through a symlink and never
// waited on (a FIFO); folders and the file it creates get 0700 and 0600 whatever the umask, as
// the lines name pupils. A failure is reported through the message box ("Tarvel Protokoll") and
// returned as false; the change itself stands.
bool writeAudit(const AuditRecord& record);
// The line written before a change is sent ("begun to-change=N"), so a run killed midway leaves
// a trace. When it fails, the result line that follows does not show the same box again.
bool writeAuditBegun(const std::string& action, const text::NameList& users, size_t toChange);
// How many writes failed in this process (a program's exit status says "partly done").
size_t auditFailures();

// Drops the trail's lines older than days before now (lines without a time stay), replacing the
// file atomically; the syslog copy is untouched. The same rules as for writing: a regular file of
// this account, never through a link, never waited on. A missing trail is nothing to prune.
// Lines appended while it runs are carried over. False with error set (German).
bool pruneAudit(const std::string& path, int days, std::time_t now, std::string& error);

// The time at the start of a trail line; false when the line does not start with one.
bool auditLineTime(const std::string& line, std::time_t& when);

}  // namespace deny
