// The users' own side of a membership change, many users at once: one modify per user (Group
// Membership and Security Equals together), sent without waiting for the answers before, at most
// MAX_OUTSTANDING on the connection; and the bounded sending of what is still queued on close.
#include "nwclient/ldap/ldap_backend_impl.h"
#include "nwclient/ldap/ldap_diagnostics.h"

#include <algorithm>
#include <chrono>
#include <deque>
#include <unordered_map>

namespace nw::ldapbackend {
namespace {

using Clock = std::chrono::steady_clock;

timeval until(Clock::time_point deadline) {
    auto left = std::chrono::duration_cast<std::chrono::microseconds>(deadline - Clock::now()).count();
    if (left < 0) left = 0;
    return timeval{static_cast<time_t>(left / 1000000), static_cast<suseconds_t>(left % 1000000)};
}

bool alreadyDone(bool add, int rc) { return add ? rc == LDAP_TYPE_OR_VALUE_EXISTS : rc == LDAP_NO_SUCH_ATTRIBUTE; }

// The permissive-modify control, not critical: an add of a value already there or a delete of one
// already gone succeeds. slapd honours it without listing it in the root DSE; a server that does
// not know it ignores it, and its refusals are handled as "already done".
LDAPControl* permissiveControl() {
    static LDAPControl control{const_cast<char*>(LDAP_CONTROL_X_PERMISSIVE_MODIFY), {0, nullptr}, 0};
    return &control;
}

// One user's request: [objectClass +membership class,] Group Membership and Security Equals.
struct UserMods {
    std::string groupDn;
    std::string className;
    berval groupValue{0, nullptr}, classValue{0, nullptr};
    berval* groupValues[2] = {nullptr, nullptr};
    berval* classValues[2] = {nullptr, nullptr};
    LDAPMod classMod{}, membershipMod{}, equalsMod{};

    UserMods(const std::string& group, const std::string& membershipClass, bool add) : groupDn(group), className(membershipClass) {
        groupValue = {static_cast<ber_len_t>(groupDn.size()), groupDn.data()};
        groupValues[0] = &groupValue;
        classValue = {static_cast<ber_len_t>(className.size()), className.data()};
        classValues[0] = &classValue;
        int op = (add ? LDAP_MOD_ADD : LDAP_MOD_DELETE) | LDAP_MOD_BVALUES;
        classMod = {LDAP_MOD_ADD | LDAP_MOD_BVALUES, const_cast<char*>("objectClass"), {nullptr}};
        classMod.mod_bvalues = classValues;
        membershipMod = {op, const_cast<char*>("groupMembership"), {nullptr}};
        membershipMod.mod_bvalues = groupValues;
        equalsMod = {op, const_cast<char*>("securityEquals"), {nullptr}};
        equalsMod.mod_bvalues = groupValues;
    }
    // The request as sent, null-terminated.
    void list(bool withClass, LDAPMod* (&mods)[4]) {
        size_t n = 0;
        if (withClass) mods[n++] = &classMod;
        mods[n++] = &membershipMod;
        mods[n++] = &equalsMod;
        mods[n] = nullptr;
    }
};

}  // namespace

int LdapBackend::sendUserSide(ObjectId user, ObjectId group, bool add, bool withClass, int& msgid) {
    UserMods m(dnOf(group), membershipClass_, add);
    LDAPMod* mods[4] = {};
    m.list(withClass, mods);
    LDAPControl* controls[] = {permissive_ ? permissiveControl() : nullptr, nullptr};
    std::string dn = dnOf(user);
    return ldap_modify_ext(ld_, dn.c_str(), mods, controls, nullptr, &msgid);
}

// A server that ignores the permissive control refuses a request with one value already there
// (or already gone) whole: each value goes on its own, and "already" counts as done.
int LdapBackend::finishUserSideSingly(ObjectId user, ObjectId group, bool add) {
    if (!ld_) return LDAP_SERVER_DOWN;
    UserMods m(dnOf(group), membershipClass_, add);
    std::string dn = dnOf(user);
    std::vector<LDAPMod*> order;
    const std::vector<std::string>& have = nodes_[static_cast<size_t>(user)].objectClasses;
    if (add && classes_.count(toLowerAscii(membershipClass_)) &&
        std::find(have.begin(), have.end(), toLowerAscii(membershipClass_)) == have.end())
        order.push_back(&m.classMod);
    order.push_back(&m.membershipMod);
    order.push_back(&m.equalsMod);
    for (LDAPMod* mod : order) {
        LDAPMod* mods[] = {mod, nullptr};
        int rc = ldap_modify_ext_s(ld_, dn.c_str(), mods, nullptr, nullptr);
        if (rc == LDAP_TIMEOUT) lastTimedOut_ = true;
        bool done = rc == LDAP_SUCCESS || (mod == &m.classMod ? rc == LDAP_TYPE_OR_VALUE_EXISTS : alreadyDone(add, rc));
        if (!done) return rc;
    }
    return LDAP_SUCCESS;
}

// What a user's answered request changed: its classes, its values as this action knows them, and
// the group's Equivalent To Me, queued for the group's next change.
void LdapBackend::noteUserSide(ObjectId user, ObjectId group, bool add, bool withClass) {
    Node& node = nodes_[static_cast<size_t>(user)];
    const std::string membershipClass = toLowerAscii(membershipClass_);
    if (withClass && !node.objectClasses.empty() &&
        std::find(node.objectClasses.begin(), node.objectClasses.end(), membershipClass) == node.objectClasses.end())
        node.objectClasses.push_back(membershipClass);
    node.described = false;  // its modification time changed
    const std::string groupDn = dnOf(group), groupKey = dnKey(groupDn);
    noteChange(user, "groupmembership", groupDn, add);
    noteChange(user, "securityequals", groupDn, add);
    // An equivalence side queued earlier for this user and group is superseded by what was sent.
    auto own = pending_.find(user);
    if (own != pending_.end()) {
        pendingCount_ -= own->second.dropIf(groupKey, [](const Pending& p) {
            return p.attribute == "securityequals" || p.attribute == "groupmembership";
        });
        if (own->second.empty()) pending_.erase(own);
    }
    const std::string userDn = dnOf(user);
    pending_[group].push(Pending{add, "equivalenttome", "equivalentToMe", userDn, dnKey(userDn), -1, 0});
    ++pendingCount_;
}

NWDSCCODE LdapBackend::changeUserSides(ObjectId group, bool add, const std::vector<ObjectId>& users,
                                       const BatchAnswer& answer, const BatchCancel& cancel) {
    if (!knows(group) || group == ROOT_ID) return ERR_NO_SUCH_ENTRY;
    for (size_t i = 0; i < users.size(); ++i) {
        if (!knows(users[i]) || users[i] == ROOT_ID) {
            if (answer) answer(i, ERR_NO_SUCH_ENTRY);
            return ERR_NO_SUCH_ENTRY;
        }
    }
    if (ad_) {
        // AD keeps no membership on the user: there is nothing to send, and each user's side is done.
        for (size_t i = 0; i < users.size(); ++i)
            if (answer) answer(i, SUCCESSFUL);
        return SUCCESSFUL;
    }
    if (users.empty()) return SUCCESSFUL;
    if (!ld_)
        if (int reopened = reopen(); reopened != LDAP_SUCCESS) return ndsStatusFromLdap(reopened);

    const bool classInSchema = classes_.count(toLowerAscii(membershipClass_)) != 0;
    const std::string membershipClass = toLowerAscii(membershipClass_);
    // Whether a user's request carries the membership class: the classes come with the listing
    // or search that found the user; unknown, the class is added (where it is there already, the
    // permissive control or the value-by-value sending takes that as done).
    auto needsClass = [&](ObjectId user) {
        if (!add || !classInSchema) return false;
        const std::vector<std::string>& have = nodes_[static_cast<size_t>(user)].objectClasses;
        if (have.empty()) return true;
        if (std::find(have.begin(), have.end(), membershipClass) != have.end()) return false;
        return !classesAllow(have, "groupMembership") || !classesAllow(have, "securityEquals");
    };

    struct Job {
        size_t index = 0;
        bool withClass = false;
    };
    struct InFlight {
        Job job;
        Clock::time_point deadline;
    };
    std::unordered_map<int, InFlight> inFlight;
    std::deque<Job> again;  // sent once more (with the class, or after the connection came back)
    size_t next = 0, answers = 0;
    bool stopSending = false, timedOut = false, reconnected = false, anyAnswer = false, unanswered = false;
    NWDSCCODE first = SUCCESSFUL;

    auto fail = [&](const Job& job, NWDSCCODE status) {
        if (first == SUCCESSFUL) first = status;
        stopSending = true;
        if (answer) answer(job.index, status);
    };
    auto settle = [&](const Job& job, int rc) {
        anyAnswer = true;
        ++answers;
        if (rc == LDAP_SUCCESS) lastTimedOut_ = false;
        if (rc == LDAP_OBJECT_CLASS_VIOLATION && add && classInSchema && !job.withClass && !stopSending) {
            again.push_back({job.index, true});
            return;
        }
        if (rc != LDAP_SUCCESS && alreadyDone(add, rc) && !stopSending)
            rc = finishUserSideSingly(users[job.index], group, add);
        if (rc == LDAP_SUCCESS) {
            noteUserSide(users[job.index], group, add, job.withClass);
            if (answer) answer(job.index, SUCCESSFUL);
        } else {
            // The server's words come with the answer just taken apart (or the single sending's).
            if (rc == LDAP_TIMEOUT) unanswered = true;
            UserMods m(dnOf(group), membershipClass_, add);
            LDAPMod* mods[4] = {};
            m.list(job.withClass, mods);
            nw::ldap::logLdapFailure(rc == LDAP_TIMEOUT ? nullptr : ld_, rc, dnOf(users[job.index]), mods);
            fail(job, rc == LDAP_TIMEOUT ? ERR_TIME_OUT : statusFor(rc, users[job.index]));
        }
    };

    while (true) {
        // The window opens as answers come back: a refusal of the first requests (no rights at
        // all) or a cancel soon after the start finds few users changed.
        const size_t window = std::min(MAX_OUTSTANDING, FIRST_WINDOW + answers);
        while (!stopSending && inFlight.size() < window && (!again.empty() || next < users.size())) {
            Job job;
            if (!again.empty()) {
                job = again.front();
                again.pop_front();
            } else {
                if (cancel && cancel()) {
                    stopSending = true;
                    break;
                }
                job = {next, needsClass(users[next])};
                ++next;
            }
            int msgid = -1;
            int rc = ld_ ? sendUserSide(users[job.index], group, add, job.withClass, msgid) : LDAP_SERVER_DOWN;
            if (rc == LDAP_SUCCESS) {
                inFlight[msgid] = {job, Clock::now() + std::chrono::seconds(timeoutSeconds_)};
                continue;
            }
            if (isConnectionLost(rc) && !anyAnswer && !reconnected) {
                // A connection the server dropped while idle, found out by sending: nothing was
                // taken, so what is in flight goes again with this one.
                reconnected = true;
                std::vector<std::pair<int, InFlight>> sent(inFlight.begin(), inFlight.end());
                std::sort(sent.begin(), sent.end(), [](const auto& a, const auto& b) { return a.first > b.first; });
                inFlight.clear();
                if (reopen() == LDAP_SUCCESS) {
                    again.push_front(job);
                    for (const auto& s : sent) again.push_front(s.second.job);
                    continue;
                }
                for (auto it = sent.rbegin(); it != sent.rend(); ++it) fail(it->second.job, ERR_UNREACHABLE_SERVER);
            }
            nw::ldap::logLdapFailure(nullptr, rc, dnOf(users[job.index]));
            fail(job, statusFor(rc, users[job.index]));
        }
        if (inFlight.empty()) {
            if (!again.empty() && !stopSending) continue;
            break;
        }

        Clock::time_point earliest = Clock::time_point::max();
        for (const auto& [id, f] : inFlight) earliest = std::min(earliest, f.deadline);
        timeval wait = until(earliest);
        LDAPMessage* raw = nullptr;
        int got = ldap_result(ld_, LDAP_RES_ANY, LDAP_MSG_ALL, &wait, &raw);
        Message message(raw);
        if (got == 0) {
            if (Clock::now() < earliest) continue;
            // No answer in time: unknown, not failed. Nothing more is sent; what has arrived
            // meanwhile is still taken, the rest stays unknown.
            timedOut = true;
            break;
        }
        if (got < 0) {
            int error = LDAP_SERVER_DOWN;
            ldap_get_option(ld_, LDAP_OPT_RESULT_CODE, &error);
            if (isConnectionLost(error) && !anyAnswer && !reconnected && !stopSending) {
                // A connection the server dropped while idle: nothing was taken, so all goes again
                // (each change is one that may be made twice).
                reconnected = true;
                std::vector<std::pair<int, InFlight>> sent(inFlight.begin(), inFlight.end());
                std::sort(sent.begin(), sent.end(), [](const auto& a, const auto& b) { return a.first > b.first; });
                inFlight.clear();
                if (reopen() == LDAP_SUCCESS) {
                    for (const auto& s : sent) again.push_front(s.second.job);
                    continue;
                }
                for (auto it = sent.rbegin(); it != sent.rend(); ++it) fail(it->second.job, ERR_UNREACHABLE_SERVER);
                break;
            }
            // The connection ended with these sent and not answered: whether the server applied
            // them is unknown (a transport failure each), as after a time-out; the job reports
            // the lost connection.
            std::vector<std::pair<int, InFlight>> sent(inFlight.begin(), inFlight.end());
            std::sort(sent.begin(), sent.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
            inFlight.clear();
            if (first == SUCCESSFUL) first = ndsStatusFromLdap(isConnectionLost(error) ? error : LDAP_SERVER_DOWN);
            for (const auto& s : sent) fail(s.second.job, ERR_TRANSPORT_FAILURE);
            break;
        }
        auto it = inFlight.find(ldap_msgid(message.get()));
        if (it == inFlight.end()) continue;  // an answer to a request given up earlier
        Job job = it->second.job;
        inFlight.erase(it);
        int rc = LDAP_OTHER;
        if (ldap_parse_result(ld_, message.get(), &rc, nullptr, nullptr, nullptr, nullptr, 0) != LDAP_SUCCESS)
            rc = LDAP_DECODING_ERROR;
        settle(job, rc);
    }

    if (timedOut) {
        for (;;) {
            timeval now{0, 0};
            LDAPMessage* raw = nullptr;
            if (inFlight.empty() || ldap_result(ld_, LDAP_RES_ANY, LDAP_MSG_ALL, &now, &raw) <= 0) break;
            Message message(raw);
            auto it = inFlight.find(ldap_msgid(message.get()));
            if (it == inFlight.end()) continue;
            Job job = it->second.job;
            inFlight.erase(it);
            int rc = LDAP_OTHER;
            if (ldap_parse_result(ld_, message.get(), &rc, nullptr, nullptr, nullptr, nullptr, 0) != LDAP_SUCCESS)
                rc = LDAP_DECODING_ERROR;
            stopSending = true;
            settle(job, rc);
        }
        std::vector<std::pair<int, InFlight>> sent(inFlight.begin(), inFlight.end());
        std::sort(sent.begin(), sent.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
        if (!sent.empty()) nw::ldap::logLdapFailure(nullptr, LDAP_TIMEOUT, dnOf(users[sent.front().second.job.index]));
        for (const auto& s : sent) fail(s.second.job, ERR_TIME_OUT);
        if (first == SUCCESSFUL) first = ERR_TIME_OUT;
    }
    // After a request without an answer nothing more goes to that server in this job.
    if (timedOut || unanswered) giveUp();
    return first;
}

// On close: what is still queued (Equivalent To Me of users whose own side was changed) goes out
// if the server answers in time, in requests of bounded size; after a request without an answer,
// or once the timeout has passed in all, the rest is dropped. Nothing is taken back: pressing the
// button again completes those users.
void LdapBackend::sendQueueOnClose() {
    if (pending_.empty() || lastTimedOut_) return;
    const Clock::time_point deadline = Clock::now() + std::chrono::seconds(timeoutSeconds_);
    LDAPControl* controls[] = {permissive_ ? permissiveControl() : nullptr, nullptr};
    for (auto& [id, queue] : pending_) {
        std::vector<Pending> queued = queue.takeAll();
        pendingCount_ -= orderForServer(queued);
        std::string dn = dnOf(id);
        for (size_t start = 0; start < queued.size(); start += MAX_VALUES_PER_REQUEST) {
            size_t end = std::min(queued.size(), start + MAX_VALUES_PER_REQUEST);
            std::map<std::pair<std::string, bool>, std::vector<berval>> grouped;
            for (size_t i = start; i < end; ++i) {
                const Pending& p = queued[i];
                grouped[{p.ldapName, p.add}].push_back(
                    {static_cast<ber_len_t>(p.valueDn.size()), const_cast<char*>(p.valueDn.data())});
            }
            std::vector<std::vector<berval*>> pointers;
            std::vector<LDAPMod> mods;
            mods.reserve(grouped.size());
            for (auto& [key, values] : grouped) {
                pointers.emplace_back();
                for (berval& b : values) pointers.back().push_back(&b);
                pointers.back().push_back(nullptr);
                LDAPMod mod{};
                mod.mod_op = (key.second ? LDAP_MOD_ADD : LDAP_MOD_DELETE) | LDAP_MOD_BVALUES;
                mod.mod_type = const_cast<char*>(key.first.c_str());
                mod.mod_bvalues = pointers.back().data();
                mods.push_back(mod);
            }
            std::vector<LDAPMod*> list;
            for (LDAPMod& m : mods) list.push_back(&m);
            list.push_back(nullptr);
            int msgid = -1;
            if (Clock::now() >= deadline ||
                ldap_modify_ext(ld_, dn.c_str(), list.data(), controls, nullptr, &msgid) !=
                    LDAP_SUCCESS)
                return;
            timeval wait = until(deadline);
            LDAPMessage* raw = nullptr;
            int got = ldap_result(ld_, msgid, LDAP_MSG_ALL, &wait, &raw);
            Message message(raw);
            int rc = LDAP_OTHER;
            if (got <= 0 || ldap_parse_result(ld_, message.get(), &rc, nullptr, nullptr, nullptr, nullptr, 0) != LDAP_SUCCESS ||
                rc != LDAP_SUCCESS) {
                nw::ldap::logLdapFailure(got <= 0 ? nullptr : ld_, got == 0 ? LDAP_TIMEOUT : rc, dn);
                return;
            }
        }
    }
    pending_.clear();
    pendingCount_ = 0;
}

}  // namespace nw::ldapbackend
