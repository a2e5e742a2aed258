#include "nwclient/ldap/ldap_backend_impl.h"

#include "nwclient/ldap/ldap_diagnostics.h"
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
    if (ad_) {
        std::vector<std::string> memberDns;
        if (int rc = readRangedMembers(dnOf(id), memberDns); rc != LDAP_SUCCESS) return statusFor(rc, id);
        takeMemberSnapshot(id, memberDns);
        return SUCCESSFUL;
    }
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
        if (const Pending* p = queued->second.last(attribute, valueKey)) has = p->add;
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
// A request of queued values alone goes with the permissive-modify control (not critical): a value
// already there (or already gone) is what the queue wants. The caller's own changes keep their
// strict answers.
int LdapBackend::send(ObjectId id, const std::vector<Change>& changes, const std::vector<std::string>& ldapNames,
                      const std::vector<std::vector<std::string>>& valueTexts, const std::vector<Pending>& queued) {
    if (!ld_ && reopen() != LDAP_SUCCESS) return noConnection();
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

    // A value queued twice goes once, as its last queuing wants it.
    std::unordered_map<std::string, size_t> last;
    for (size_t i = 0; i < queued.size(); ++i) last[queued[i].attribute + '\n' + queued[i].valueKey] = i;

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
        for (size_t i = 0; i < queued.size(); ++i) {
            const Pending& p = queued[i];
            if (last[p.attribute + '\n' + p.valueKey] == i) grouped[{p.ldapName, p.add}].push_back(p.valueDn);
        }
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
        LDAPControl permissive{const_cast<char*>(LDAP_CONTROL_X_PERMISSIVE_MODIFY), {0, nullptr}, 0};
        std::vector<LDAPControl*> controls;
        if (assertion) controls.push_back(assertion);
        if (changes.empty() && permissive_) controls.push_back(&permissive);
        controls.push_back(nullptr);
        std::vector<LDAPMod*> mods = holder.list();
        std::string dn = dnOf(id);
        rc = withRetry([&] {
            return ldap_modify_ext_s(ld_, dn.c_str(), mods.data(), controls.size() > 1 ? controls.data() : nullptr,
                                     nullptr);
        });
        lastTimedOut_ = rc == LDAP_TIMEOUT;
        nw::ldap::logLdapFailure(ld_, rc, dn, mods.data());
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
    out = it->second.takeAll();
    pending_.erase(it);
    pendingCount_ -= out.size();
    return out;
}

// At most `most` queued values of an object, those whose value is among preferredKeys first (the
// users a Member change names, so their equivalence never lags behind their membership); the
// rest stay queued, in order.
std::vector<LdapBackend::Pending> LdapBackend::takeQueuePart(ObjectId id, size_t most,
                                                             const std::unordered_set<std::string>& preferredKeys) {
    auto it = pending_.find(id);
    if (it == pending_.end() || most == 0) return {};
    std::vector<Pending> taken = it->second.takePart(most, preferredKeys);
    pendingCount_ -= taken.size();
    if (it->second.empty()) pending_.erase(it);
    return taken;
}

// The other side of a queued value that the server refused is taken back, so the two sides keep
// agreeing: still queued, it is dropped; already sent, it is undone. Not after a request without
// an answer: whether it was done is unknown, an undo could itself hang, and pressing the button
// again completes the pair.
void LdapBackend::takeBackPartner(ObjectId id, const Pending& failed) {
    if (failed.pair == 0 || !knows(failed.partner)) return;
    auto queued = pending_.find(failed.partner);
    if (queued != pending_.end() && queued->second.dropPair(failed.pair)) {
        --pendingCount_;
        if (queued->second.empty()) pending_.erase(queued);
        return;
    }
    if (lastTimedOut_) return;
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

// Queued values in requests of at most MAX_VALUES_PER_REQUEST. After a failure nothing more is
// sent: the failed request's and the unsent values' partners still queued are dropped.
NWDSCCODE LdapBackend::sendQueue(ObjectId id, std::vector<Pending> queued) {
    orderForServer(queued);
    for (size_t start = 0; start < queued.size(); start += MAX_VALUES_PER_REQUEST) {
        size_t end = std::min(queued.size(), start + MAX_VALUES_PER_REQUEST);
        std::vector<Pending> chunk(queued.begin() + static_cast<std::ptrdiff_t>(start),
                                   queued.begin() + static_cast<std::ptrdiff_t>(end));
        NWDSCCODE rc = sendQueueSorted(id, chunk);
        if (rc == SUCCESSFUL) continue;
        snapshots_.erase(id);
        for (size_t i = start; i < queued.size(); ++i) takeBackPartner(id, queued[i]);
        return rc;
    }
    return SUCCESSFUL;
}

// A value queued more than once goes once, as its last queuing wants it; then additions in the
// order a server that keeps values sorted (OpenLDAP with sortvals: DNs by length, then bytes)
// appends them, removals from the back of that order. Such a server shifts every value behind
// one it removes: removing a go's thousands of names from the front of a large group costs it a
// second per thousand, from the back next to nothing.
size_t LdapBackend::orderForServer(std::vector<Pending>& queued) {
    const size_t had = queued.size();
    std::unordered_map<std::string, size_t> last;
    for (size_t i = 0; i < queued.size(); ++i) last[queued[i].attribute + '\n' + queued[i].valueKey] = i;
    if (last.size() < queued.size()) {
        std::vector<Pending> kept;
        kept.reserve(last.size());
        for (size_t i = 0; i < queued.size(); ++i)
            if (last[queued[i].attribute + '\n' + queued[i].valueKey] == i) kept.push_back(std::move(queued[i]));
        queued = std::move(kept);
    }
    auto before = [](const std::string& a, const std::string& b) { return a.size() != b.size() ? a.size() < b.size() : a < b; };
    std::stable_sort(queued.begin(), queued.end(), [&](const Pending& a, const Pending& b) {
        if (a.add != b.add) return a.add;  // additions first
        return a.add ? before(a.valueKey, b.valueKey) : before(b.valueKey, a.valueKey);
    });
    return had - queued.size();
}

// One request of queued values. A server that ignores the permissive control refuses the whole
// request for one value already there (or already gone): what the entry holds is read once and the
// rest sent again.
NWDSCCODE LdapBackend::sendQueueSorted(ObjectId id, const std::vector<Pending>& queued) {
    int rc = send(id, {}, {}, {}, queued);
    if (rc == LDAP_TYPE_OR_VALUE_EXISTS || rc == LDAP_NO_SUCH_ATTRIBUTE) {
        std::vector<std::string> names;
        for (const Pending& p : queued)
            if (std::find(names.begin(), names.end(), p.ldapName) == names.end()) names.push_back(p.ldapName);
        std::vector<const char*> attrs;
        for (const std::string& n : names) attrs.push_back(n.c_str());
        attrs.push_back(nullptr);
        Message result;
        std::string dn = dnOf(id);
        rc = baseRead(dn, attrs.data(), result);
        LDAPMessage* entry = rc == LDAP_SUCCESS ? ldap_first_entry(ld_, result.get()) : nullptr;
        if (rc == LDAP_SUCCESS && !entry) rc = LDAP_NO_SUCH_OBJECT;
        if (entry) {
            std::set<std::pair<std::string, std::string>> held;
            for (const std::string& n : names)
                for (const std::string& v : textValues(ld_, entry, n.c_str())) held.insert({toLowerAscii(n), dnKey(v)});
            std::vector<Pending> rest;
            for (const Pending& p : queued)
                if (held.count({p.attribute, p.valueKey}) != 0 ? !p.add : p.add) rest.push_back(p);
            rc = rest.empty() ? LDAP_SUCCESS : send(id, {}, {}, {}, rest);
        }
    }
    if (rc != LDAP_SUCCESS) return statusFor(rc, id);
    for (const Pending& p : queued) noteChange(id, p.attribute, p.valueDn, p.add);
    return SUCCESSFUL;
}

NWDSCCODE LdapBackend::flush(ObjectId id) {
    std::vector<Pending> queued = takeQueue(id);
    if (queued.empty()) return SUCCESSFUL;
    return sendQueue(id, std::move(queued));
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

    // What is queued for this object (an equivalence's side) goes in the same request, up to the
    // request's share of values: one round trip, and the entry changes whole. The values of the
    // objects the change names go first.
    size_t own = 0;
    std::unordered_set<std::string> named;
    for (size_t i = 0; i < changes.size(); ++i) {
        own += valueTexts[i].size();
        if (syntaxOf(ldapNames[i]) == SYN_DIST_NAME || DN_MEMBERSHIP_ATTRS.count(toLowerAscii(ldapNames[i])))
            for (const std::string& v : valueTexts[i]) named.insert(dnKey(v));
    }
    std::vector<Pending> queued =
        takeQueuePart(id, own < MAX_VALUES_PER_REQUEST ? MAX_VALUES_PER_REQUEST - own : 0, named);
    int rc = send(id, changes, ldapNames, valueTexts, queued);
    if (rc != LDAP_SUCCESS && !queued.empty()) {
        if (rc == LDAP_TYPE_OR_VALUE_EXISTS || rc == LDAP_NO_SUCH_ATTRIBUTE || rc == LDAP_ASSERTION_FAILED) {
            // Which part was refused cannot be told: the queue goes alone, then the request.
            if (NWDSCCODE queueRc = sendQueue(id, queued)) return queueRc;
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
    // AD answers a member already there with 68 and one not there with 53, for the whole request.
    if (ad_ && rc == LDAP_ALREADY_EXISTS && !removesValues) return ERR_DUPLICATE_VALUE;
    if (ad_ && rc == LDAP_UNWILLING_TO_PERFORM && removesValues) return ERR_NO_SUCH_VALUE;
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
    if (groupDone) userSide.pair = 0;  // nothing to take back on the group
    if (userDone) {
        groupSide.partner = -1;
        groupSide.pair = 0;
    }
    if (!userDone) {
        pending_[user].push(std::move(userSide));
        ++pendingCount_;
    }
    if (!groupDone) {
        pending_[group].push(std::move(groupSide));
        ++pendingCount_;
    }
    if (pendingCount_ > MAX_QUEUED) return flushAll();
    return SUCCESSFUL;
}

NWDSCCODE LdapBackend::addSecurityEquivalence(ObjectId user, ObjectId group) { return changeEquivalence(user, group, true); }

NWDSCCODE LdapBackend::removeSecurityEquivalence(ObjectId user, ObjectId group) {
    return changeEquivalence(user, group, false);
}

}  // namespace nw::ldapbackend
