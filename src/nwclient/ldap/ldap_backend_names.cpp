#include "nwclient/ldap/ldap_backend_impl.h"
#include "nwclient/ldap/ldap_diagnostics.h"

#include "nwclient/names.h"
#include "nwclient/syntax.h"

#include <algorithm>
#include <deque>
#include <mutex>

namespace nw::ldapbackend {
namespace {

// Key of a resolved component under its parent: names compare without regard to case, umlauts
// included; the locale's lower-casing is only needed beyond ASCII.
std::string childText(ObjectId parent, std::string_view component) {
    bool ascii = std::all_of(component.begin(), component.end(), [](char c) { return (c & 0x80) == 0; });
    return std::to_string(parent) + "/" + (ascii ? toLowerAscii(component) : text::toLowerLocale(component));
}

HashKey childKey(ObjectId parent, std::string_view component) { return hashKeyOf(childText(parent, component)); }

}  // namespace

// ---- the objects' table ----

HashKey hashKeyOf(std::string_view text) {
    uint64_t a = 1469598103934665603ull, b = 0x9e3779b97f4a7c15ull;
    for (unsigned char c : text) {
        a = (a ^ c) * 1099511628211ull;
        b = (b ^ (c + 0x5bu)) * 0x100000001b3ull + 0x2545F4914F6CDD1Dull;
        b ^= b >> 29;
    }
    return {a, b};
}

// ---- lists kept once ----

const std::vector<std::string>& SharedList::none() {
    static const std::vector<std::string> empty;
    return empty;
}

void SharedList::assign(std::vector<std::string> texts) {
    if (texts.empty()) {
        clear();
        return;
    }
    // Backends may run on more than one thread (the window's jobs); the lists live as long as the
    // process, and a school has only a few distinct ones.
    static std::mutex guard;
    static std::set<std::vector<std::string>> lists;
    std::lock_guard<std::mutex> lock(guard);
    list_ = &*lists.insert(std::move(texts)).first;
}

void SharedList::push_back(std::string text) {
    std::vector<std::string> grown = *list_;
    grown.push_back(std::move(text));
    assign(std::move(grown));
}

void SharedList::erase(const_iterator at) {
    std::vector<std::string> shrunk = *list_;
    shrunk.erase(shrunk.begin() + (at - list_->begin()));
    assign(std::move(shrunk));
}

ObjectId NodeTable::add(std::string_view dn, std::string_view dnKey) {
    ObjectId id = static_cast<ObjectId>(starts_.size());
    if (blocks_.empty() || blocks_.back().capacity() - blocks_.back().size() < dn.size()) {
        blocks_.emplace_back();
        blocks_.back().reserve(std::max(BLOCK_BYTES, dn.size()));
    }
    std::string& block = blocks_.back();
    starts_.push_back(uint64_t(blocks_.size() - 1) << 32 | block.size());
    block.append(dn);
    ids_.emplace(hashKeyOf(dnKey), id);
    return id;
}

ObjectId NodeTable::find(std::string_view dnKey) const {
    auto it = ids_.find(hashKeyOf(dnKey));
    return it == ids_.end() ? -1 : it->second;
}

std::string_view NodeTable::dnAt(size_t id) const {
    const uint64_t at = starts_[id];
    const std::string& block = blocks_[at >> 32];
    const size_t start = at & 0xffffffffu;
    // The next DN starts in the same block, or this one ends its block.
    const bool nextHere = id + 1 < starts_.size() && starts_[id + 1] >> 32 == at >> 32;
    const size_t end = nextHere ? starts_[id + 1] & 0xffffffffu : block.size();
    return std::string_view(block).substr(start, end - start);
}

Node& NodeTable::operator[](size_t id) const {
    auto it = details_.find(id);
    if (it != details_.end()) return it->second;
    Node& node = details_[id];
    node.summary.id = static_cast<ObjectId>(id);
    return node;
}

void NodeTable::forgetDetails() {
    for (auto it = details_.begin(); it != details_.end();) {
        if (it->first == 0) ++it;
        else it = details_.erase(it);
    }
    // Give the buckets back too.
    std::unordered_map<size_t, Node> kept(std::make_move_iterator(details_.begin()), std::make_move_iterator(details_.end()));
    details_.swap(kept);
}

void LdapBackend::trimDetails() {
    // The details of one big listing stay; those of the one before go.
    constexpr size_t KEEP = 8192;
    if (nodes_.detailCount() <= KEEP) return;
    nodes_.forgetDetails();
    childCache_ = {};
    lastParentKey_ = std::string(1, '\x01');
    lastParentId_ = -1;
}

// ---- names and objects ----

std::string LdapBackend::nameOfDn(const std::string& dn) const {
    std::vector<Rdn> rdns;
    if (!parseDn(dn, rdns)) return dn;
    return nameOfRdns(rdns);
}

std::string LdapBackend::fullNameOfDistinguishedName(const std::string& dn) {
    std::vector<Rdn> rdns;
    if (!parseDn(dn, rdns) || rdns.size() <= baseRdnCount_) return {};
    // Only a DN below the base is one of the tree's names.
    const std::string key = dnKey(dn), baseKey = dnKey(base_);
    if (!baseKey.empty() && (key.size() <= baseKey.size() + 1 || key.compare(key.size() - baseKey.size(), baseKey.size(), baseKey) != 0 ||
                             key[key.size() - baseKey.size() - 1] != ','))
        return {};
    return nameOfRdns(rdns);
}

std::string LdapBackend::nameOfRdns(const std::vector<Rdn>& rdns) const {
    size_t keep = rdns.size() >= baseRdnCount_ ? rdns.size() - baseRdnCount_ : rdns.size();
    std::vector<std::string> parts;
    parts.reserve(keep);
    for (size_t i = 0; i < keep; ++i) parts.push_back(rdns[i].value);
    return joinTypelessName(parts);
}

ObjectId LdapBackend::registerDn(const std::string& dn, std::string key) {
    ObjectId known = nodes_.find(key);
    if (known >= 0) return known;
    return nodes_.add(dn, key);
}

// Reads an entry once, front to back: its DN and the attributes a summary needs. (Asking for
// each attribute by name would scan the entry again every time; a listing has thousands.)
bool LdapBackend::readSummary(LDAPMessage* entry, std::string& dn, SummaryValues& out) {
    BerElement* ber = nullptr;
    berval dnValue{0, nullptr};
    if (ldap_get_dn_ber(ld_, entry, &ber, &dnValue) != LDAP_SUCCESS) {
        if (ber) ber_free(ber, 0);
        return false;
    }
    dn.assign(dnValue.bv_val, dnValue.bv_len);
    berval name{0, nullptr};
    berval* values = nullptr;
    while (ldap_get_attribute_ber(ld_, entry, ber, &name, &values) == LDAP_SUCCESS && name.bv_val) {
        std::string_view attribute(name.bv_val, name.bv_len);
        auto is = [&](const char* wanted) { return attribute.size() == strlen(wanted) && strncasecmp(attribute.data(), wanted, attribute.size()) == 0; };
        std::string* single = nullptr;
        std::vector<std::string>* many = nullptr;
        if (is("objectClass")) many = &out.classes;
        else if (is("groupMembership")) many = &out.groupMembership;
        else if (is("securityEquals")) many = &out.securityEquals;
        if (many) {
            for (berval* v = values; v && v->bv_val; ++v) many->emplace_back(v->bv_val, v->bv_len);
        } else if (is("structuralObjectClass")) single = &out.structural;
        else if (is("numSubordinates") || is("subordinateCount")) single = &out.count;
        else if (is("modifyTimestamp")) single = &out.modified;
        else if (is("createTimestamp")) single = &out.created;
        if (single && values && values[0].bv_val) single->assign(values[0].bv_val, values[0].bv_len);
        ber_memfree(values);
        values = nullptr;
    }
    ber_free(ber, 0);
    return true;
}

void LdapBackend::fillSummary(Node& node, LDAPMessage* entry) {
    std::string dn;
    SummaryValues values;
    if (readSummary(entry, dn, values)) fillSummary(node, values);
}

void LdapBackend::fillSummary(Node& node, const SummaryValues& v) {
    node.summary.baseClass = map_.baseClass(v.structural, v.classes);
    node.summary.flags = map_.isContainerClass(node.summary.baseClass) ? DS_CONTAINER_ENTRY : 0;
    node.summary.subordinateCount = v.count.empty() ? 0 : static_cast<uint32_t>(std::strtoul(v.count.c_str(), nullptr, 10));
    int64_t seconds = 0;
    const std::string& stamp = v.modified.empty() ? v.created : v.modified;
    node.summary.modificationTime = parseGeneralizedTime(stamp, seconds) ? static_cast<uint32_t>(seconds) : 0;
    std::vector<std::string> lowered;
    lowered.reserve(v.classes.size());
    for (const std::string& c : v.classes) lowered.push_back(toLowerAscii(c));
    node.objectClasses.assign(std::move(lowered));
    node.described = true;
}

ObjectId LdapBackend::registerEntry(LDAPMessage* entry, bool& ok, std::string* badDn) {
    std::string dn;
    SummaryValues values;
    std::vector<Rdn> rdns;
    ok = readSummary(entry, dn, values) && parseDn(dn, rdns);
    if (!ok) return ROOT_ID;
    // A name with NUL, CR or LF would be cut or split on its way through C strings and lines,
    // and might then name someone else: such an entry is never handed out.
    for (const Rdn& rdn : rdns) {
        if (rdn.value.find_first_of(std::string_view("\0\r\n", 3)) != std::string::npos) {
            ok = false;
            if (badDn) *badDn = formatDn(rdns);
            return ROOT_ID;
        }
    }
    ObjectId id = registerDn(dn, dnKey(rdns));
    Node& node = nodes_[static_cast<size_t>(id)];
    if (id != ROOT_ID && !rdns.empty()) {
        node.summary.name = rdns.front().value;
        fillSummary(node, values);
        if (!pending_.count(id)) {
            Snapshot& snap = snapshots_[id];
            snap.userSideKnown = true;
            snap.groupMembership = std::move(values.groupMembership);
            snap.securityEquals = std::move(values.securityEquals);
        }
        if (!node.underParent) {
            // The entry is now known under its parent too: resolving it later costs nothing.
            ObjectId parent = parentOf(rdns);
            if (parent >= 0) {
                Node& linked = nodes_[static_cast<size_t>(id)];
                linked.childKey = childKey(parent, rdns.front().value);
                childCache_[linked.childKey] = id;
                linked.underParent = true;
            }
        }
    }
    return id;
}

ObjectId LdapBackend::parentOf(const std::vector<Rdn>& rdns) {
    // Entries of one page share their parent, so its key is looked up once.
    std::string parentKey = dnKey(rdns, 1);
    if (parentKey == lastParentKey_) return lastParentId_;
    ObjectId id = nodes_.find(parentKey);
    if (id >= 0) {
        // known
    } else if (rdns.size() > baseRdnCount_ + 1) {
        // An entry found by a search below containers not met yet: they exist (the server just
        // named them), so they are known from here on too.
        std::vector<Rdn> parentRdns(rdns.begin() + 1, rdns.end());
        ObjectId grandparent = parentOf(parentRdns);
        if (grandparent >= 0) {
            id = registerDn(formatDn(parentRdns), parentKey);
            Node& node = nodes_[static_cast<size_t>(id)];
            node.summary.name = parentRdns.front().value;
            node.childKey = childKey(grandparent, node.summary.name);
            childCache_[node.childKey] = id;
            node.underParent = true;
        }
    }
    lastParentKey_ = std::move(parentKey);
    lastParentId_ = id;
    return id;
}

// RDN types a component may have below its parent. Each is a base read of an exact DN, which
// every server answers from its DN index, whatever attributes it indexes.
constexpr const char* CANDIDATE_TYPES[] = {"cn", "ou", "o", "uid", "l", "dc", "c", "st"};

void LdapBackend::readMany(const std::vector<std::string>& dns, const char* const* attrs, std::vector<Message>& results,
                           std::vector<int>& codes, size_t alternatives) {
    results.clear();
    results.resize(dns.size());
    codes.assign(dns.size(), LDAP_SERVER_DOWN);
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (!ld_ && reopen() != LDAP_SUCCESS) {
            codes.assign(dns.size(), noConnection());
            return;
        }
        bool lost = false;
        size_t sent = 0;
        // A window of requests in flight: the server answers while we send. Answers are taken
        // by their own message id, so a listing running meanwhile keeps its pages.
        std::deque<std::pair<int, size_t>> inFlight;
        constexpr size_t WINDOW = 64;
        std::vector<bool> settled;  // groups of alternatives with their answer
        if (alternatives > 1) settled.assign((dns.size() + alternatives - 1) / alternatives, false);
        while ((sent < dns.size() || !inFlight.empty()) && !lost) {
            while (sent < dns.size() && inFlight.size() < WINDOW) {
                if (alternatives > 1 && settled[sent / alternatives]) {
                    codes[sent++] = LDAP_NO_SUCH_OBJECT;  // not needed any more
                    continue;
                }
                timeval timeout{timeoutSeconds_, 0};
                int msgid = -1;
                int rc = ldap_search_ext(ld_, dns[sent].c_str(), LDAP_SCOPE_BASE, "(objectClass=*)",
                                         const_cast<char**>(attrs), 0, nullptr, nullptr, &timeout, 1, &msgid);
                codes[sent] = rc;
                if (rc == LDAP_SUCCESS) inFlight.push_back({msgid, sent});
                else if (isConnectionLost(rc)) lost = true;
                ++sent;
                if (lost) break;
            }
            if (lost || inFlight.empty()) continue;
            auto [msgid, index] = inFlight.front();
            inFlight.pop_front();
            if (alternatives > 1 && settled[index / alternatives]) {
                // An earlier alternative was the one: its answer is not waited for.
                ldap_abandon_ext(ld_, msgid, nullptr, nullptr);
                codes[index] = LDAP_NO_SUCH_OBJECT;
                continue;
            }
            LDAPMessage* raw = nullptr;
            timeval timeout{timeoutSeconds_, 0};
            int got = ldap_result(ld_, msgid, LDAP_MSG_ALL, &timeout, &raw);
            Message result(raw);
            if (got <= 0) {
                int error = LDAP_TIMEOUT;
                if (got < 0) {
                    error = LDAP_SERVER_DOWN;
                    ldap_get_option(ld_, LDAP_OPT_RESULT_CODE, &error);
                    if (error == LDAP_SUCCESS || isConnectionLost(error)) {
                        lost = true;
                        break;
                    }
                }
                // No answer in time: what is still out is given up, and so is the rest; nothing
                // more goes to that server.
                for (auto& [other, i] : inFlight) codes[i] = error;
                if (got == 0) giveUp();
                codes[index] = error;
                for (size_t i = sent; i < dns.size(); ++i) codes[i] = error;
                return;
            }
            int resultCode = LDAP_SUCCESS;
            if (ldap_parse_result(ld_, result.get(), &resultCode, nullptr, nullptr, nullptr, nullptr, 0) != LDAP_SUCCESS)
                resultCode = LDAP_DECODING_ERROR;
            nw::ldap::logLdapReadFailure(ld_, resultCode, dns[index]);
            codes[index] = resultCode;
            if (alternatives > 1 && resultCode == LDAP_SUCCESS && ldap_first_entry(ld_, result.get()))
                settled[index / alternatives] = true;
            results[index] = std::move(result);
        }
        if (!lost) return;
        for (auto& r : results) r.reset();
        codes.assign(dns.size(), LDAP_SERVER_DOWN);
        if (reopen() != LDAP_SUCCESS) return;
    }
}

// Whether a base read's answer says "no such entry" (a candidate type that is not the one).
static bool isMiss(int rc) {
    return rc == LDAP_NO_SUCH_OBJECT || rc == LDAP_INVALID_DN_SYNTAX || rc == LDAP_NAMING_VIOLATION ||
           rc == LDAP_UNDEFINED_TYPE || rc == LDAP_INVALID_SYNTAX;
}

void LdapBackend::resolveMany(const std::vector<std::vector<std::string>>& namesFromRoot, std::vector<ObjectId>& ids,
                              std::vector<NWDSCCODE>& statuses) {
    const size_t n = namesFromRoot.size();
    ids.assign(n, ROOT_ID);
    statuses.assign(n, SUCCESSFUL);
    std::vector<size_t> depth(n, 0);
    std::vector<size_t> active;
    for (size_t i = 0; i < n; ++i) active.push_back(i);
    while (!active.empty()) {
        // As far as the names are known already.
        std::vector<size_t> open;
        for (size_t i : active) {
            const auto& name = namesFromRoot[i];
            while (depth[i] < name.size()) {
                if (name[depth[i]].empty()) {
                    statuses[i] = ERR_NO_SUCH_ENTRY;
                    break;
                }
                auto cached = childCache_.find(childKey(ids[i], name[depth[i]]));
                if (cached == childCache_.end()) break;
                ids[i] = cached->second;
                ++depth[i];
            }
            if (statuses[i] == SUCCESSFUL && depth[i] < name.size()) open.push_back(i);
        }
        if (open.empty()) break;
        // The next component of every open name, each (parent, component) asked once, all its
        // candidate DNs together.
        std::unordered_map<std::string, size_t> slotOf;
        std::vector<std::pair<ObjectId, std::string>> slots;
        std::vector<size_t> slotOfName(n, 0);
        for (size_t i : open) {
            const std::string& component = namesFromRoot[i][depth[i]];
            auto [it, fresh] = slotOf.emplace(childText(ids[i], component), slots.size());
            if (fresh) slots.push_back({ids[i], component});
            slotOfName[i] = it->second;
        }
        std::vector<ObjectId> found(slots.size(), -1);
        std::vector<NWDSCCODE> failure(slots.size(), ERR_NO_SUCH_ENTRY);
        // The usual types first; the rarer ones only for what they did not find.
        auto tryTypes = [&](size_t from, size_t to) {
            std::vector<size_t> asked;
            std::vector<std::string> dns;
            for (size_t s = 0; s < slots.size(); ++s) {
                if (found[s] >= 0 || failure[s] != ERR_NO_SUCH_ENTRY) continue;
                asked.push_back(s);
                for (size_t t = from; t < to; ++t)
                    dns.push_back(childDn(CANDIDATE_TYPES[t], slots[s].second, dnOf(slots[s].first)));
            }
            if (asked.empty()) return;
            std::vector<Message> results;
            std::vector<int> codes;
            readMany(dns, SUMMARY_ATTRS, results, codes, to - from);
            for (size_t a = 0; a < asked.size(); ++a) {
                size_t s = asked[a];
                for (size_t t = 0; t < to - from && found[s] < 0; ++t) {
                    size_t k = a * (to - from) + t;
                    if (codes[k] == LDAP_SUCCESS && results[k]) {
                        if (LDAPMessage* e = ldap_first_entry(ld_, results[k].get())) {
                            bool ok = false;
                            ObjectId id = registerEntry(e, ok);
                            if (ok) found[s] = id;
                        }
                    } else if (!isMiss(codes[k]) && failure[s] == ERR_NO_SUCH_ENTRY) {
                        failure[s] = ndsStatusFromLdap(codes[k]);
                    }
                }
                if (found[s] >= 0) childCache_[childKey(slots[s].first, slots[s].second)] = found[s];
            }
        };
        tryTypes(0, 4);
        tryTypes(4, std::size(CANDIDATE_TYPES));
        active.clear();
        for (size_t i : open) {
            size_t s = slotOfName[i];
            if (found[s] < 0) {
                statuses[i] = failure[s];
                continue;
            }
            ids[i] = found[s];
            ++depth[i];
            active.push_back(i);
        }
    }
    for (size_t i = 0; i < n; ++i)
        if (statuses[i] != SUCCESSFUL) ids[i] = ROOT_ID;
}

NWDSCCODE LdapBackend::resolve(const std::vector<std::string>& componentsFromRoot, ObjectId& id) {
    // A name met before is found in the cache alone, without a batch set up for one name (the
    // deny list asks for each of its thousands of members' classes).
    ObjectId at = ROOT_ID;
    for (const std::string& component : componentsFromRoot) {
        const auto cached = component.empty() ? childCache_.end() : childCache_.find(childKey(at, component));
        if (cached == childCache_.end()) {
            at = -1;
            break;
        }
        at = cached->second;
    }
    if (at >= 0) {
        id = at;
        return SUCCESSFUL;
    }
    std::vector<ObjectId> ids;
    std::vector<NWDSCCODE> statuses;
    resolveMany({componentsFromRoot}, ids, statuses);
    if (statuses[0] == SUCCESSFUL) id = ids[0];
    return statuses[0];
}

NWDSCCODE LdapBackend::dnOfName(const std::string& fullName, std::string& dn) {
    std::vector<std::string> parts = splitTypelessName(fullName);
    std::reverse(parts.begin(), parts.end());
    ObjectId id = ROOT_ID;
    NWDSCCODE rc = resolve(parts, id);
    if (rc != SUCCESSFUL) return rc;
    dn = dnOf(id);
    return SUCCESSFUL;
}

NWDSCCODE LdapBackend::statusFor(int rc, ObjectId id) {
    if (rc == LDAP_NO_SUCH_OBJECT && id != ROOT_ID && knows(id)) {
        // Gone from the server: forget how it was resolved so a new object of that name is found.
        Node& node = nodes_[static_cast<size_t>(id)];
        if (node.underParent) childCache_.erase(node.childKey);
        node.underParent = false;
    }
    return ndsStatusFromLdap(rc);
}

NWDSCCODE LdapBackend::describe(ObjectId id, std::string& fullName, ObjectSummary& summary) {
    if (!knows(id)) return ERR_NO_SUCH_ENTRY;
    Node* node = &nodes_[static_cast<size_t>(id)];
    if (!node->described) {
        Message result;
        const std::string dn = dnOf(id);
        int rc = baseRead(dn, SUMMARY_ATTRS, result);
        if (rc != LDAP_SUCCESS) return statusFor(rc, id);
        LDAPMessage* entry = ldap_first_entry(ld_, result.get());
        if (!entry) return ERR_NO_SUCH_ENTRY;
        node = &nodes_[static_cast<size_t>(id)];
        fillSummary(*node, entry);
        std::vector<Rdn> rdns;
        parseDn(dn, rdns);
        node->summary.name = rdns.empty() ? dn : rdns.front().value;
    }
    fullName = id == ROOT_ID ? std::string() : nameOfDn(dnOf(id));
    summary = node->summary;
    return SUCCESSFUL;
}

// The name follows from the DN: a group change that names a thousand members would otherwise
// read each member once more, one round trip after the other.
NWDSCCODE LdapBackend::fullNameOf(ObjectId id, std::string& fullName) {
    if (!knows(id)) return ERR_NO_SUCH_ENTRY;
    fullName = id == ROOT_ID ? std::string() : nameOfDn(dnOf(id));
    return SUCCESSFUL;
}

}  // namespace nw::ldapbackend
