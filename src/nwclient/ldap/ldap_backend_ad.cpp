// What the LDAP backend does differently on Active Directory (Windows or Samba AD).
#include "nwclient/ldap/ldap_backend_impl.h"
#include "nwclient/ldap/ldap_diagnostics.h"

#include <algorithm>
#include <cstdlib>
#include <unordered_set>

namespace nw::ldapbackend {

// member;range=0-1499, then from the first value not yet read, until the server's answer ends its
// range with "*". A server that hands out everything at once (plain "member") is taken as it is.
int LdapBackend::readRangedMembers(const std::string& dn, std::vector<std::string>& values) {
    values.clear();
    for (size_t from = 0;;) {
        const std::string asked =
            "member;range=" + std::to_string(from) + "-" + std::to_string(from + static_cast<size_t>(rangeSize_) - 1);
        const char* attrs[] = {asked.c_str(), nullptr};
        Message result;
        int rc = baseRead(dn, attrs, result);
        if (rc != LDAP_SUCCESS) return rc;
        LDAPMessage* entry = ldap_first_entry(ld_, result.get());
        if (!entry) return LDAP_NO_SUCH_OBJECT;
        bool last = true;
        size_t before = values.size();
        BerElement* ber = nullptr;
        for (char* name = ldap_first_attribute(ld_, entry, &ber); name; name = ldap_next_attribute(ld_, entry, ber)) {
            const std::string type = toLowerAscii(name);
            if (type == "member" || type.rfind("member;range=", 0) == 0) {
                for (const std::string& v : textValues(ld_, entry, name)) values.push_back(v);
                last = type == "member" || type.back() == '*';
            }
            ldap_memfree(name);
        }
        if (ber) ber_free(ber, 0);
        // No values in a range that is not the last would loop for ever.
        if (last || values.size() == before) return LDAP_SUCCESS;
        from = values.size();
    }
}

void LdapBackend::takeMemberSnapshot(ObjectId id, const std::vector<std::string>& memberDns) {
    Snapshot& snap = snapshots_[id];
    snap.groupSideKnown = true;
    snap.memberKeys.clear();
    snap.equivalentKeys.clear();
    for (const std::string& dn : memberDns) snap.memberKeys.insert(dnKey(dn));
}

namespace {

// Rounds of reading the members again and sending the rest when another change of the group came
// in between; more only under a storm of concurrent changes.
constexpr int MEMBER_RETRIES = 5;

// The answer to a member change that another change of the group made wrong: AD refuses the whole
// request for one value already there (68) or not there (53); other servers answer 20 and 16.
bool otherChangeCameFirst(bool add, int rc) {
    return add ? rc == LDAP_ALREADY_EXISTS || rc == LDAP_TYPE_OR_VALUE_EXISTS
               : rc == LDAP_UNWILLING_TO_PERFORM || rc == LDAP_NO_SUCH_ATTRIBUTE;
}

}  // namespace

int LdapBackend::sendMembers(const std::string& groupDn, bool add, const std::vector<std::string>& dns) {
    std::vector<berval> values;
    values.reserve(dns.size());
    for (const std::string& dn : dns) values.push_back({static_cast<ber_len_t>(dn.size()), const_cast<char*>(dn.data())});
    std::vector<berval*> pointers;
    for (berval& v : values) pointers.push_back(&v);
    pointers.push_back(nullptr);
    LDAPMod mod{(add ? LDAP_MOD_ADD : LDAP_MOD_DELETE) | LDAP_MOD_BVALUES, const_cast<char*>("member"), {nullptr}};
    mod.mod_bvalues = pointers.data();
    LDAPMod* mods[] = {&mod, nullptr};
    int rc = withRetry([&] { return ldap_modify_ext_s(ld_, groupDn.c_str(), mods, nullptr, nullptr); });
    lastTimedOut_ = rc == LDAP_TIMEOUT;
    if (!otherChangeCameFirst(add, rc)) nw::ldap::logLdapFailure(rc == LDAP_TIMEOUT ? nullptr : ld_, rc, groupDn, mods);
    return rc;
}

// Optimistic: the users go as they are (the caller has left out whom the group held when it read
// it), memberValues_ a request. Only when another change came first are the members read again
// (in ranges) and the rest sent.
NWDSCCODE LdapBackend::changeMembers(ObjectId group, bool add, const std::vector<ObjectId>& users,
                                     const BatchAnswer& answer, const BatchCancel& cancel) {
    if (!ad_) return DirectoryBackend::changeMembers(group, add, users, answer, cancel);
    if (!knows(group) || group == ROOT_ID) return ERR_NO_SUCH_ENTRY;
    for (size_t i = 0; i < users.size(); ++i) {
        if (!knows(users[i]) || users[i] == ROOT_ID) {
            if (answer) answer(i, ERR_NO_SUCH_ENTRY);
            return ERR_NO_SUCH_ENTRY;
        }
    }
    const std::string groupDn = dnOf(group);
    for (size_t start = 0; start < users.size(); start += memberValues_) {
        if (cancel && cancel()) return SUCCESSFUL;  // users not sent get no answer
        const size_t end = std::min(users.size(), start + memberValues_);
        std::vector<std::string> rest;
        for (size_t i = start; i < end; ++i) rest.push_back(dnOf(users[i]));
        int rc = sendMembers(groupDn, add, rest);
        for (int round = 0; round < MEMBER_RETRIES && otherChangeCameFirst(add, rc); ++round) {
            std::vector<std::string> held;
            if (rc = readRangedMembers(groupDn, held); rc != LDAP_SUCCESS) break;
            std::unordered_set<std::string> keys;
            keys.reserve(held.size());
            for (const std::string& dn : held) keys.insert(dnKey(dn));
            std::vector<std::string> left;
            for (std::string& dn : rest)
                if ((keys.count(dnKey(dn)) == 0) == add) left.push_back(std::move(dn));
            rest = std::move(left);
            rc = rest.empty() ? LDAP_SUCCESS : sendMembers(groupDn, add, rest);
        }
        if (rc != LDAP_SUCCESS) {
            snapshots_.erase(group);
            const NWDSCCODE status = rc == LDAP_TIMEOUT ? ERR_TIME_OUT : statusFor(rc, group);
            if (answer) answer(start, status);
            return status;
        }
        for (size_t i = start; i < end; ++i) {
            noteChange(group, "member", dnOf(users[i]), add);
            if (answer) answer(i, SUCCESSFUL);
        }
    }
    return SUCCESSFUL;
}

}  // namespace nw::ldapbackend
