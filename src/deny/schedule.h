// The schedule of timed stops: pending go's (a user, the deny group, when) in a small text file
// beside nwclient.conf (or Schedule=). Every change is a read-modify-write under an exclusive lock
// and replaces the file atomically, so the window, tarvel-ctl and the timer never lose each
// other's entries. A file that exists but cannot be read or understood is an error, never an
// empty schedule: taking it as empty would leave pupils stopped for good. The file must be a
// regular file (no link, no FIFO) of the account that runs the program, writable by nobody else:
// its lines free pupils.
//
// The lock is held only while the file is read and written, never across a directory change, so
// the steps of a timed stop, of due and of a stop without a time interleave; the states of an
// entry make every interleaving end with a pupil stopped for good staying stopped (see timed.h).
#pragma once

#include "deny/job.h"
#include "platform/text.h"

#include <ctime>
#include <functional>
#include <string>
#include <vector>

namespace deny {

struct PendingGo {
    enum class State {
        Planned,    // due carries it out when it is due
        Intent,     // written by a running timed stop before its change; token names that stop
        Releasing,  // due is freeing the user now
        Cancelled,  // stopped for good while due was freeing the user: due stops the user again
    };
    std::time_t due = 0;
    std::string group;  // as the settings name it
    std::string user;
    State state = State::Planned;
    std::string token{};  // Intent only
};

// A go that due frees on group when it is due (not an intent or a stop-again).
bool isCarriedOutBy(const PendingGo& entry, const std::string& group);

// Schedule= of the client's configuration, else "tarvel-schedule" beside nwclient.conf; empty
// when there is no configuration.
std::string schedulePath();

// The key names are compared by in the schedule: case-folded, without a leading dot.
std::string scheduleKey(const std::string& name);

// The entries, due time ascending. A missing file is an empty schedule. False with error set
// (German, for the operator) when the file cannot be read, is no regular file of this account
// that only it may write, or holds a line it does not understand.
bool readSchedule(const std::string& path, std::vector<PendingGo>& entries, std::string& error);

// Locks the schedule, reads it, lets change edit the entries and writes them back (a temporary
// file renamed over the old one, mode 0600). Nothing is written when change returns false or the
// read failed. False with error set when the schedule could not be read, locked or written. The
// lock is waited for up to LockTimeout= seconds, pumping window messages meanwhile.
bool updateSchedule(const std::string& path, const std::function<bool(std::vector<PendingGo>&)>& change,
                    std::string& error);

// An exclusive lock on one byte of the schedule's lock file ("<schedule>.lock", mode 0600): the
// plan's byte guards every read-modify-write, the due byte one run of due at a time. Open file
// description locks, so two locks of one process exclude each other like those of two processes.
class ScheduleLock {
public:
    enum Slot { Plan = 0, Due = 1 };
    ScheduleLock() = default;
    ~ScheduleLock();
    ScheduleLock(const ScheduleLock&) = delete;
    ScheduleLock& operator=(const ScheduleLock&) = delete;
    // Waits up to LockTimeout= when wait is true, else tries once. False with error set.
    bool lock(const std::string& schedule, Slot slot, bool wait, std::string& error);
    // The last lock failed because another holds it.
    bool busy() const { return busy_; }

private:
    int fd_ = -1;
    bool busy_ = false;
};

// A stop or go without a time covering these users, run before its change and again after it:
// a stop ends their planned go's on group (and the intents of running timed stops, so those plan
// none); a go ends them too and withdraws a stop-again left for due. Nothing happens when there is
// no schedule file. False with error set when the schedule could not be read or written.
bool cancelPendingGos(Direction direction, const text::NameList& users, const std::string& group, std::string& error);

// Named points between the steps of the jobs on the schedule (a stop without a time, a timed
// stop, due, a wait for the lock). Tests set a hook there to run another job at exactly that
// point; the program sets none.
using SchedulePointHook = std::function<void(const std::string& point)>;
void setSchedulePointHook(SchedulePointHook hook);
void schedulePoint(const char* point);

// The time of "45m", "90s", "2h" (or a bare number of minutes is refused) from now; false when
// the text is not such a duration.
bool parseDuration(const std::string& text, std::time_t now, std::time_t& due);
// The next "HH:MM" from now, local time (tomorrow when it has passed today).
bool parseClockTime(const std::string& text, std::time_t now, std::time_t& due);

// "2026-12-07 09:30:00" in local time.
std::string formatLocalTime(std::time_t when);

}  // namespace deny
