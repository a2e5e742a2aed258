// The school's holds on pupils' Internet, kept by tarvel-web alone in its state folder: who
// stopped whom, since when, until when (or for good), on which tree and deny group. A pupil stays
// stopped while any hold on them stands; a teacher's release ends only that teacher's hold.
//
// Every change is a read-modify-write of one file under an exclusive lock, replaced atomically
// (a temporary file renamed over it), so a service killed at any point keeps every hold. A file
// that cannot be read or understood is an error, never an empty store: taking it as empty would
// leave pupils stopped for good. The file and its folder must belong to the service's account
// and be writable by nobody else.
//
// A hold goes through these states, so that a release running beside a stop never frees a pupil
// somebody stopped:
//   Intent     written before a stop's directory change; counts as a hold
//   Held       the stop put (or found) the pupil in the group
//   Releasing  its end has come; the service is freeing the pupil
#pragma once

#include "platform/text.h"

#include <cstdint>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

namespace deny {

struct Hold {
    enum class State { Intent, Held, Releasing };
    uint64_t id = 0;
    std::string user;       // typeless full name of the pupil, as the directory gave it
    std::string holder;     // typeless full name of the operator who stopped
    std::time_t since = 0;
    std::time_t until = 0;  // 0: for good ("bis auf Weiteres")
    std::string tree;       // the tree the hold is on (nwclient.conf's Tree= and Base=)
    std::string group;      // the deny group, as the settings name it
    State state = State::Held;
};

class HoldStore {
public:
    virtual ~HoldStore() = default;

    // Opens the store in folder (creating its file, mode 0600). Null with error set (German)
    // when the folder or the file is unusable.
    static std::unique_ptr<HoldStore> open(const std::string& folder, std::string& error);

    // Every hold, by user then since.
    virtual bool all(std::vector<Hold>& holds, std::string& error) = 0;
    // The holds on these users (names compared ASCII case-insensitively, without a leading dot).
    virtual bool holdsOn(const text::NameList& users, std::vector<Hold>& holds, std::string& error) = 0;

    // A stop's first step: one Intent per user, written before anything is changed. ids gets
    // the new holds' ids, in the order of users.
    virtual bool addIntents(const std::string& holder, const text::NameList& users, std::time_t since,
                            std::time_t until, const std::string& tree, const std::string& group,
                            std::vector<uint64_t>& ids, std::string& error) = 0;
    // A stop's last step: the intents of users found in the group afterwards become Held, the
    // others are dropped.
    virtual bool confirm(const std::vector<uint64_t>& ids, const text::NameList& inGroup, std::string& error) = 0;

    // "Meine Sperren aufheben": ends holder's holds on users. nowFree gets the users on whom no
    // hold is left (to be freed by the caller), ended the holds it ended.
    virtual bool endOwn(const std::string& holder, const text::NameList& users, text::NameList& nowFree,
                        std::vector<Hold>& ended, std::string& error) = 0;
    // "Internet an": ends every hold on users; ended names whose holds they were.
    virtual bool endAll(const text::NameList& users, std::vector<Hold>& ended, std::string& error) = 0;

    // The timer's first step: holds whose until has come (until != 0, until <= now) become
    // Releasing; toFree gets their users on whom no other hold stands.
    virtual bool beginDue(std::time_t now, text::NameList& toFree, std::string& error) = 0;
    // Its last step, after freeing: drops the Releasing holds of freed users. stopAgain gets the
    // freed users that got a new hold meanwhile: the caller stops them again.
    virtual bool finishDue(const text::NameList& freed, text::NameList& stopAgain, std::string& error) = 0;
};

}  // namespace deny
