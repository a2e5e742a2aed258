// The service's desk: every stop, release and go of tarvel-web goes through here, so the holds in
// the state folder and the deny group stay in step. The directory work runs in a session (the
// teacher's own worker, bound as the teacher; the timer's, bound as the service account); the
// desk keeps the holds, in this order:
//   stop     intents first, then the change, then the intents of pupils now in the group held
//   release  the teacher's holds ended, then pupils on whom no hold is left freed
//   go       every hold on the pupils ended (their holders named), then the pupils freed
//   due      holds whose end has come marked, pupils without another hold freed by the service's
//            session, then pupils who got a new hold meanwhile stopped again
#pragma once

#include "deny/describe.h"
#include "deny/holds.h"
#include "deny/job.h"
#include "platform/text.h"

#include <chrono>
#include <condition_variable>
#include <ctime>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace web {

// One box the layers showed during a session's work (the server's reason for a refusal, say).
struct Box {
    std::string caption;
    std::string text;  // lines joined by CR LF
};

struct ChangeResult {
    deny::JobResult job;
    text::NameList inGroup;    // of the users asked for, those in the group after the change
    bool inGroupKnown = false; // the group could be read again afterwards
    std::vector<Box> boxes;    // what the layers reported, in order
};

struct GatherResult {
    bool ok = false;           // false: the gathering failed part-way; nothing may be changed
    text::NameList users;      // the users of the names (users stand for themselves)
    text::NameList skipped;    // entries no change could take, as deny::gatherUsers names them
    text::NameList unknown;    // names that are neither a user nor a container (or unreadable)
    std::vector<Box> boxes;
};

// A directory session: one process bound as one account. The worker implements it; the desk's
// own tests run the deny job in-process on a real tree.
class DirectorySession {
public:
    virtual ~DirectorySession() = default;
    // The account bound: a typeless full name of the tree.
    virtual std::string operatorName() const = 0;
    virtual GatherResult gather(const text::NameList& names) = 0;
    // Runs the deny job on the configured deny group for users, then reads the group again.
    virtual ChangeResult change(deny::Direction direction, const text::NameList& users,
                                const deny::ProgressFn& progress) = 0;
};

struct DeskResult {
    deny::Direction direction = deny::Direction::Stop;
    bool ok = false;                 // everything asked for is done
    deny::JobWords words;            // describe()'s words for the directory change
    std::vector<std::string> lines;  // further lines for the teacher (holders named, holds kept, ...)
    std::vector<Box> boxes;
    std::vector<deny::Hold> ended;   // holds this call ended
    text::NameList stillHeld;        // release: pupils another teacher's hold keeps stopped
    std::string stateError;          // the hold store failed (German); nothing was changed then
};

// Changes of one tree file, in the order they came, at most width of them at a time. The file
// takes one writer at a time anyway: lined up here, the next change starts the moment one ends,
// instead of every session's process polling the file's lock with ever longer sleeps between
// tries; two at a time let one read while the other writes. A change that waited its patience
// out goes ahead out of turn, and the file's own lock decides again: one hung session must not
// hold every teacher up.
class ChangeQueue {
public:
    explicit ChangeQueue(std::chrono::milliseconds patience = std::chrono::seconds(5), int width = 2)
        : patience_(patience), width_(width) {}

    class Turn {
    public:
        explicit Turn(ChangeQueue* queue);  // null: no queue, nothing to wait for
        ~Turn();
        Turn(const Turn&) = delete;
        Turn& operator=(const Turn&) = delete;

    private:
        ChangeQueue* queue_ = nullptr;  // set while this turn holds the queue
    };

private:
    struct Waiter {
        bool called = false;
    };
    const std::chrono::milliseconds patience_;
    std::mutex mutex_;
    std::condition_variable called_;
    std::deque<Waiter*> line_;
    const int width_;
    int running_ = 0;
};

class Desk {
public:
    Desk(deny::HoldStore& holds, std::string tree, std::string group);

    // Stops the users of names until until (0: for good) as session's account.
    DeskResult stop(DirectorySession& session, const text::NameList& names, std::time_t until,
                    const deny::ProgressFn& progress = {});
    // Ends session's holds on the users of names; frees those on whom none is left.
    DeskResult release(DirectorySession& session, const text::NameList& names,
                       const deny::ProgressFn& progress = {});
    // Ends every hold on the users of names and frees them.
    DeskResult go(DirectorySession& session, const text::NameList& names,
                  const deny::ProgressFn& progress = {});
    // The timer: frees the pupils whose holds have all ended by now, as the service's account.
    DeskResult due(DirectorySession& service, std::time_t now);

    const std::string& tree() const { return tree_; }
    const std::string& group() const { return group_; }

private:
    // One directory change: on a tree file in its turn, on a server at once.
    ChangeResult change(DirectorySession& session, deny::Direction direction, const text::NameList& users,
                        const deny::ProgressFn& progress);

    deny::HoldStore& holds_;
    std::string tree_;
    std::string group_;
    bool serial_;
    ChangeQueue queue_;
};

}  // namespace web
