#include "nwclient/ldap/ldap_backend_impl.h"

#include "nwclient/syntax.h"

#include <algorithm>
#include <cstring>
#include <deque>

namespace nw::ldapbackend {
namespace {

// Owns the values of an LDAP modification while it is sent.
struct ModHolder {
    std::deque<std::vector<berval>> bervals;
    std::deque<std::vector<berval*>> pointers;
    std::deque<std::string> texts;  // mod_type and the values point into these
    std::vector<std::unique_ptr<LDAPMod>> mods;

    void add(int op, const std::string& attribute, const std::vector<std::string>& values) {
        texts.push_back(attribute);
        char* type = texts.back().data();
        bervals.emplace_back();
        for (const std::string& v : values) {
            texts.push_back(v);
            bervals.back().push_back({static_cast<ber_len_t>(texts.back().size()), texts.back().data()});
        }
        pointers.emplace_back();
        for (berval& b : bervals.back()) pointers.back().push_back(&b);
        pointers.back().push_back(nullptr);
        auto mod = std::make_unique<LDAPMod>();
        mod->mod_op = op | LDAP_MOD_BVALUES;
        mod->mod_type = type;
        mod->mod_bvalues = values.empty() ? nullptr : pointers.back().data();
        mods.push_back(std::move(mod));
    }
    std::vector<LDAPMod*> list() const {
        std::vector<LDAPMod*> out;
        for (const auto& m : mods) out.push_back(m.get());
        out.push_back(nullptr);
        return out;
    }
};

}  // namespace

// ---- what the backend knows of membership values ----

void LdapBackend::takeSnapshot(ObjectId id, LDAPMessage* entry) {
    Snapshot& snap = snapshots_[id];
    snap.userSideKnown = snap.groupSideKnown = true;
    snap.groupMembership = textValues(ld_, entry, "groupMembership");
    snap.securityEquals = textValues(ld_, entry, "securityEquals");
    snap.memberKeys.clear();
    snap.equivalentKeys.clear();
    for (const std::string& v : textValues(ld_, entry, "member")) snap.memberKeys.insert(dnKey(v));
    for (const std::string& v : textValues(ld_, entry, "equivalentToMe")) snap.equivalentKeys.insert(dnKey(v));
    std::vector<std::string> classes = textValues(ld_, entry, "objectClass");
    if (!classes.empty()) {
        Node& node = nodes_[static_cast<size_t>(id)];
        node.objectClasses.clear();
        for (const std::string& c : classes) node.objectClasses.push_back(toLowerAscii(c));
    }
}

NWDSCCODE LdapBackend::ensureSnapshot(ObjectId id, const std::string& attribute) {
    auto snap = snapshots_.find(id);
    bool userSide = attribute == "groupmembership" || attribute == "securityequals";
    if (snap != snapshots_.end() && (userSide ? snap->second.userSideKnown : snap->second.groupSideKnown))
        return SUCCESSFUL;
    const char* all[] = {"member", "groupMembership", "securityEquals", "equivalentToMe", "objectClass", nullptr};
    Message result;
    std::string dn = dnOf(id);
    int rc = baseRead(dn, all, result);
    if (rc != LDAP_SUCCESS) return statusFor(rc, id);
    LDAPMessage* entry = ldap_first_entry(ld_, result.get());
    if (!entry) return ERR_NO_SUCH_ENTRY;
    takeSnapshot(id, entry);
    return SUCCESSFUL;
}

// The value as the server will hold it once the queue is sent.
bool LdapBackend::holds(ObjectId id, const std::string& attribute, const std::string& valueKey) const {
    bool has = false;
    auto snap = snapshots_.find(id);
    if (snap != snapshots_.end()) {
        const Snapshot& s = snap->second;
        if (attribute == "member") has = s.memberKeys.count(valueKey) != 0;
        else if (attribute == "equivalenttome") has = s.equivalentKeys.count(valueKey) != 0;
        else {
            const auto& dns = attribute == "groupmembership" ? s.groupMembership : s.securityEquals;
            has = std::any_of(dns.begin(), dns.end(), [&](const std::string& dn) { return dnKey(dn) == valueKey; });
        }
    }
    auto queued = pending_.find(id);
    if (queued != pending_.end())
        for (const Pending& p : queued->second)
            if (p.attribute == attribute && p.valueKey == valueKey) has = p.add;
    return has;
}

void LdapBackend::noteChange(ObjectId id, const std::string& attribute, const std::string& valueDn, bool add) {
    auto snap = snapshots_.find(id);
    if (snap == snapshots_.end()) return;
    Snapshot& s = snap->second;
    const std::string key = dnKey(valueDn);
    if (attribute == "member" || attribute == "equivalenttome") {
        if (!s.groupSideKnown) return;
        auto& keys = attribute == "member" ? s.memberKeys : s.equivalentKeys;
        if (add) keys.insert(key);
        else keys.erase(key);
    } else if (attribute == "groupmembership" || attribute == "securityequals") {
        if (!s.userSideKnown) return;
        auto& dns = attribute == "groupmembership" ? s.groupMembership : s.securityEquals;
        auto it = std::find_if(dns.begin(), dns.end(), [&](const std::string& dn) { return dnKey(dn) == key; });
        if (add && it == dns.end()) dns.push_back(valueDn);
        if (!add && it != dns.end()) dns.erase(it);
    }
}

// ---- changes ----

NWDSCCODE LdapBackend::ensureClasses(ObjectId id) {
    if (!nodes_[static_cast<size_t>(id)].objectClasses.empty()) return SUCCESSFUL;
    Message result;
    std::string dn = dnOf(id);
    int rc = baseRead(dn, SUMMARY_ATTRS, result);
    if (rc != LDAP_SUCCESS) return statusFor(rc, id);
    LDAPMessage* entry = ldap_first_entry(ld_, result.get());
    if (!entry) return ERR_NO_SUCH_ENTRY;
    fillSummary(nodes_[static_cast<size_t>(id)], entry);
    return SUCCESSFUL;
}

bool LdapBackend::classesAllow(const std::vector<std::string>& entryClasses, const std::string& attribute) const {
    std::string wanted = toLowerAscii(attribute);
    const AttributeInfo* info = attributeInfo(attribute);
    std::string wantedName = info ? toLowerAscii(info->name) : wanted;
    std::vector<std::string> todo(entryClasses.begin(), entryClasses.end());
    std::set<std::string> seen;
    while (!todo.empty()) {
        std::string c = todo.back();
        todo.pop_back();
        if (!seen.insert(c).second) continue;
        auto it = classes_.find(c);
        if (it == classes_.end()) continue;
        if (it->second.allowed.count(wanted) || it->second.allowed.count(wantedName)) return true;
        for (const std::string& s : it->second.sup) todo.push_back(s);
    }
    return false;
}

// One request as the server takes it: the caller's changes (values already in LDAP form) and the
// queued membership values of the same object, with the membership class when the entry needs it.
int LdapBackend::send(ObjectId id, const std::vector<Change>& changes, const std::vector<std::string>& ldapNames,
                      const std::vector<std::vector<std::string>>& valueTexts, const std::vector<Pending>& queued) {
    if (!ld_ && reopen() != LDAP_SUCCESS) return LDAP_SERVER_DOWN;
    std::vector<std::string> addsMembership;
    for (size_t i = 0; i < changes.size(); ++i)
        if (changes[i].type != DS_REMOVE_VALUE && changes[i].type != DS_REMOVE_ATTRIBUTE &&
            MEMBERSHIP_ATTRS.count(toLowerAscii(ldapNames[i])))
            addsMembership.push_back(ldapNames[i]);
    for (const Pending& p : queued)
        if (p.add) addsMembership.push_back(p.ldapName);
    std::vector<std::string> firstValueAttrs;
    for (size_t i = 0; i < changes.size(); ++i)
        if (changes[i].type == DS_ADD_ATTRIBUTE) firstValueAttrs.push_back(ldapNames[i]);

    int rc = LDAP_OTHER;
    for (int attempt = 0; attempt < 2; ++attempt) {
        bool addClass = false;
        if (!addsMembership.empty() && classes_.count(toLowerAscii(membershipClass_))) {
            if (NWDSCCODE st = ensureClasses(id)) return st == ERR_NO_SUCH_ENTRY ? LDAP_NO_SUCH_OBJECT : LDAP_OTHER;
            const std::vector<std::string>& have = nodes_[static_cast<size_t>(id)].objectClasses;
            if (std::find(have.begin(), have.end(), toLowerAscii(membershipClass_)) == have.end())
                for (const std::string& a : addsMembership)
                    if (!classesAllow(have, a)) addClass = true;
        }
        ModHolder holder;
        if (addClass) holder.add(LDAP_MOD_ADD, "objectClass", {membershipClass_});
        for (size_t i = 0; i < changes.size(); ++i) {
            bool remove = changes[i].type == DS_REMOVE_VALUE || changes[i].type == DS_REMOVE_ATTRIBUTE;
            holder.add(remove ? LDAP_MOD_DELETE : LDAP_MOD_ADD, ldapNames[i],
                       changes[i].type == DS_REMOVE_ATTRIBUTE ? std::vector<std::string>{} : valueTexts[i]);
        }
        // Queued values, one modification per attribute and kind.
        std::map<std::pair<std::string, bool>, std::vector<std::string>> grouped;
        for (const Pending& p : queued) grouped[{p.ldapName, p.add}].push_back(p.valueDn);
        for (const auto& [key, values] : grouped) holder.add(key.second ? LDAP_MOD_ADD : LDAP_MOD_DELETE, key.first, values);

        // "Add the attribute" must find it without values: the server checks that in the same
        // operation where it can, else it is read first.
        Control assertionOwner;
        LDAPControl* assertion = nullptr;
        if (!firstValueAttrs.empty()) {
            std::string filter = "(&";
            for (const std::string& a : firstValueAttrs) filter += "(!(" + a + "=*))";
            filter += ")";
            if (assertionSupported_) {
                if (ldap_create_assertion_control(ld_, filter.data(), 1, &assertion) != LDAP_SUCCESS) return LDAP_NO_MEMORY;
                assertionOwner.reset(assertion);
            } else {
                for (const std::string& a : firstValueAttrs) {
                    const char* attrs[] = {a.c_str(), nullptr};
                    Message result;
                    std::string dn = dnOf(id);
                    int r = baseRead(dn, attrs, result);
                    if (r != LDAP_SUCCESS) return r;
                    LDAPMessage* entry = ldap_first_entry(ld_, result.get());
                    if (entry && !textValues(ld_, entry, a.c_str()).empty()) return LDAP_ASSERTION_FAILED;
                }
            }
        }
        LDAPControl* controls[] = {assertion, nullptr};
        std::vector<LDAPMod*> mods = holder.list();
        std::string dn = dnOf(id);
        rc = withRetry([&] { return ldap_modify_ext_s(ld_, dn.c_str(), mods.data(), assertion ? controls : nullptr, nullptr); });
        if (rc == LDAP_SUCCESS) {
            Node& node = nodes_[static_cast<size_t>(id)];
            if (addClass) node.objectClasses.push_back(toLowerAscii(membershipClass_));
            node.described = false;  // its modification time changed
            return rc;
        }
        if (rc == LDAP_TYPE_OR_VALUE_EXISTS && addClass && attempt == 0) {
            // Someone else gave the entry the class since it was read: read again, send again.
            nodes_[static_cast<size_t>(id)].objectClasses.clear();
            continue;
        }
        break;
    }
    return rc;
}

std::vector<LdapBackend::Pending> LdapBackend::takeQueue(ObjectId id) {
    std::vector<Pending> out;
    auto it = pending_.find(id);
    if (it == pending_.end()) return out;
    out = std::move(it->second);
    pending_.erase(it);
    pendingCount_ -= out.size();
    return out;
}

// The other side of a queued value that could not be written is taken back, so the two sides
// keep agreeing: still queued, it is dropped; already sent, it is undone.
void LdapBackend::takeBackPartner(ObjectId id, const Pending& failed) {
    if (failed.pair == 0 || !knows(failed.partner)) return;
    auto queued = pending_.find(failed.partner);
    if (queued != pending_.end()) {
        auto& items = queued->second;
        auto it = std::find_if(items.begin(), items.end(), [&](const Pending& p) { return p.pair == failed.pair; });
        if (it != items.end()) {
            items.erase(it);
            --pendingCount_;
            if (items.empty()) pending_.erase(queued);
            return;
        }
    }
    Pending undo;
    undo.add = !failed.add;
    undo.ldapName = failed.ldapName == "equivalentToMe" ? "securityEquals" : "equivalentToMe";
    undo.attribute = toLowerAscii(undo.ldapName);
    undo.valueDn = dnOf(id);
    undo.valueKey = dnKey(undo.valueDn);
    if (send(failed.partner, {}, {}, {}, {undo}) == LDAP_SUCCESS)
        noteChange(failed.partner, undo.attribute, undo.valueDn, undo.add);
    else
        snapshots_.erase(failed.partner);
}

// Sends queued values one by one: a value that is already there (or already gone) counts as
// done; for any other refusal the other side is taken back. Returns the first real failure.
NWDSCCODE LdapBackend::sendQueueSingly(ObjectId id, const std::vector<Pending>& queued) {
    NWDSCCODE first = SUCCESSFUL;
    for (const Pending& p : queued) {
        int rc = send(id, {}, {}, {}, {p});
        if (rc == LDAP_SUCCESS || (p.add && rc == LDAP_TYPE_OR_VALUE_EXISTS) ||
            (!p.add && rc == LDAP_NO_SUCH_ATTRIBUTE)) {
            noteChange(id, p.attribute, p.valueDn, p.add);
            continue;
        }
        if (first == SUCCESSFUL) first = statusFor(rc, id);
        takeBackPartner(id, p);
    }
    return first;
}

NWDSCCODE LdapBackend::flush(ObjectId id) {
    std::vector<Pending> queued = takeQueue(id);
    if (queued.empty()) return SUCCESSFUL;
    int rc = send(id, {}, {}, {}, queued);
    if (rc == LDAP_SUCCESS) {
        for (const Pending& p : queued) noteChange(id, p.attribute, p.valueDn, p.add);
        return SUCCESSFUL;
    }
    if (rc == LDAP_TYPE_OR_VALUE_EXISTS || rc == LDAP_NO_SUCH_ATTRIBUTE) return sendQueueSingly(id, queued);
    snapshots_.erase(id);
    for (const Pending& p : queued) takeBackPartner(id, p);
    return statusFor(rc, id);
}

NWDSCCODE LdapBackend::flushAll() {
    NWDSCCODE first = SUCCESSFUL;
    while (!pending_.empty()) {
        NWDSCCODE rc = flush(pending_.begin()->first);
        if (first == SUCCESSFUL) first = rc;
    }
    return first;
}

NWDSCCODE LdapBackend::modify(ObjectId id, const std::vector<Change>& changes) {
    if (!knows(id)) return ERR_NO_SUCH_ENTRY;
    if (id == ROOT_ID) return ERR_NO_ACCESS;
    // Values as the server takes them, before anything is sent: a reference to an object that
    // does not exist refuses the whole request.
    std::vector<std::vector<std::string>> valueTexts(changes.size());
    std::vector<std::string> ldapNames(changes.size());
    bool removesValues = false;
    for (size_t i = 0; i < changes.size(); ++i) {
        const Change& c = changes[i];
        ldapNames[i] = map_.ldapAttribute(c.attribute);
        if (c.type > DS_ADDITIONAL_VALUE) return ERR_INVALID_REQUEST;
        uint32_t syntax = c.syntax ? c.syntax : syntaxOf(ldapNames[i]);
        for (const AttrValue& v : c.values) {
            std::string text;
            switch (syntax) {
            case SYN_DIST_NAME:
                if (NWDSCCODE rc = dnOfName(v.text, text)) return rc;
                break;
            case SYN_BOOLEAN: text = v.number ? "TRUE" : "FALSE"; break;
            case SYN_INTEGER:
            case SYN_COUNTER:
            case SYN_INTERVAL: text = std::to_string(v.number); break;
            case SYN_TIME: text = formatGeneralizedTime(v.number); break;
            case SYN_OCTET_STRING:
            case SYN_STREAM: text = v.bytes; break;
            default: text = v.text; break;
            }
            valueTexts[i].push_back(std::move(text));
        }
        if (c.type == DS_REMOVE_VALUE) removesValues = true;
    }

    // What is queued for this object (an equivalence's side) goes in the same request: one
    // round trip, and the entry changes whole.
    std::vector<Pending> queued = takeQueue(id);
    int rc = send(id, changes, ldapNames, valueTexts, queued);
    if (rc != LDAP_SUCCESS && !queued.empty()) {
        if (rc == LDAP_TYPE_OR_VALUE_EXISTS || rc == LDAP_NO_SUCH_ATTRIBUTE || rc == LDAP_ASSERTION_FAILED) {
            // Which part was refused cannot be told: the queue goes alone, then the request.
            sendQueueSingly(id, queued);
            queued.clear();
            rc = send(id, changes, ldapNames, valueTexts, {});
        } else {
            snapshots_.erase(id);
            for (const Pending& p : queued) takeBackPartner(id, p);
        }
    }
    if (rc == LDAP_SUCCESS) {
        for (const Pending& p : queued) noteChange(id, p.attribute, p.valueDn, p.add);
        for (size_t i = 0; i < changes.size(); ++i) {
            std::string attribute = toLowerAscii(ldapNames[i]);
            if (!DN_MEMBERSHIP_ATTRS.count(attribute)) continue;
            if (changes[i].type == DS_REMOVE_ATTRIBUTE) {
                snapshots_.erase(id);
                continue;
            }
            for (const std::string& v : valueTexts[i])
                noteChange(id, attribute, v, changes[i].type != DS_REMOVE_VALUE);
        }
        return SUCCESSFUL;
    }
    snapshots_.erase(id);
    if (rc == LDAP_NO_SUCH_ATTRIBUTE && removesValues) return ERR_NO_SUCH_VALUE;
    return statusFor(rc, id);
}

// Security Equals on the user and Equivalent To Me on the group. The server keeps neither side in
// step, and LDAP has no transaction over two entries: both sides are queued and go out with the
// next change of their entry (the user's Group Membership, the group's Member, as a stop or go
// sends them), or before anything reads them. A side that cannot be written takes the other one
// back. A side that already agrees (left over from an interrupted run) is completed.
NWDSCCODE LdapBackend::changeEquivalence(ObjectId user, ObjectId group, bool add) {
    if (!knows(user) || !knows(group) || user == ROOT_ID || group == ROOT_ID) return ERR_NO_SUCH_ENTRY;
    if (NWDSCCODE rc = ensureSnapshot(user, "securityequals")) return rc;
    if (NWDSCCODE rc = ensureSnapshot(group, "equivalenttome")) return rc;
    const std::string userDn = dnOf(user), groupDn = dnOf(group);
    Pending userSide{add, "securityequals", "securityEquals", groupDn, dnKey(groupDn), group, nextPair_};
    Pending groupSide{add, "equivalenttome", "equivalentToMe", userDn, dnKey(userDn), user, nextPair_};
    ++nextPair_;
    bool userDone = holds(user, userSide.attribute, userSide.valueKey) == add;
    bool groupDone = holds(group, groupSide.attribute, groupSide.valueKey) == add;
    if (userDone && groupDone) return add ? ERR_DUPLICATE_VALUE : ERR_NO_SUCH_VALUE;
    if (!userDone) {
        pending_[user].push_back(userSide);
        ++pendingCount_;
    } else {
        groupSide.partner = -1;
    }
    if (!groupDone) {
        if (userDone) groupSide.pair = 0;
        pending_[group].push_back(groupSide);
        ++pendingCount_;
    } else {
        pending_[user].back().pair = 0;  // nothing to take back on the group
    }
    if (pendingCount_ > MAX_QUEUED) return flushAll();
    return SUCCESSFUL;
}

NWDSCCODE LdapBackend::addSecurityEquivalence(ObjectId user, ObjectId group) { return changeEquivalence(user, group, true); }

NWDSCCODE LdapBackend::removeSecurityEquivalence(ObjectId user, ObjectId group) {
    return changeEquivalence(user, group, false);
}

}  // namespace nw::ldapbackend
