// The schedule of timed stops: pending go's (a user, the deny group, when) in a small text file
// beside nwclient.conf (or Schedule=). Every change is a read-modify-write under an exclusive lock
// and replaces the file atomically, so the window, tarvel-ctl and the timer never lose each
// other's entries. A file that exists but cannot be read or understood is an error, never an
// empty schedule: taking it as empty would leave pupils stopped for good.
#pragma once

#include "platform/text.h"

#include <ctime>
#include <functional>
#include <string>
#include <vector>

namespace deny {

struct PendingGo {
    std::time_t due = 0;
    std::string group;  // as the settings name it
    std::string user;
};

// Schedule= of the client's configuration, else "tarvel-schedule" beside nwclient.conf; empty
// when there is no configuration.
std::string schedulePath();

// The entries, due time ascending. A missing file is an empty schedule. False with error set
// (German, for the operator) when the file cannot be read or holds a line it does not understand.
bool readSchedule(const std::string& path, std::vector<PendingGo>& entries, std::string& error);

// Locks the schedule, reads it, lets change edit the entries and writes them back (a temporary
// file renamed over the old one). Nothing is written when change returns false or the read
// failed. False with error set when the schedule could not be read, locked or written.
bool updateSchedule(const std::string& path, const std::function<bool(std::vector<PendingGo>&)>& change,
                    std::string& error);

// A stop without a time, or a go, covering these users: their pending go's on group are dropped,
// so a timed stop never frees a pupil someone has stopped for good since. Reports a failure
// through the message box ("Tarvel Zeitplan") and returns false; nothing happens when there is no
// schedule file.
bool dropPendingGos(const text::NameList& users, const std::string& group);

// The time of "45m", "90s", "2h" (or a bare number of minutes is refused) from now; false when
// the text is not such a duration.
bool parseDuration(const std::string& text, std::time_t now, std::time_t& due);
// The next "HH:MM" from now, local time (tomorrow when it has passed today).
bool parseClockTime(const std::string& text, std::time_t now, std::time_t& due);

// "2026-12-07 09:30:00" in local time.
std::string formatLocalTime(std::time_t when);

}  // namespace deny
