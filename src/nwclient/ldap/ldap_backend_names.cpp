#include "nwclient/ldap/ldap_backend_impl.h"

#include "nwclient/names.h"
#include "nwclient/syntax.h"

#include <algorithm>

namespace nw::ldapbackend {
namespace {

// Key of a resolved component under its parent: names compare without regard to case, umlauts
// included; the locale's lower-casing is only needed beyond ASCII.
std::string childKey(ObjectId parent, std::string_view component) {
    bool ascii = std::all_of(component.begin(), component.end(), [](char c) { return (c & 0x80) == 0; });
    return std::to_string(parent) + "/" + (ascii ? toLowerAscii(component) : text::toLowerLocale(component));
}

}  // namespace

// ---- names and objects ----

std::string LdapBackend::nameOfDn(const std::string& dn) const {
    std::vector<Rdn> rdns;
    if (!parseDn(dn, rdns)) return dn;
    size_t keep = rdns.size() >= baseRdnCount_ ? rdns.size() - baseRdnCount_ : rdns.size();
    std::vector<std::string> parts;
    parts.reserve(keep);
    for (size_t i = 0; i < keep; ++i) parts.push_back(rdns[i].value);
    return joinTypelessName(parts);
}

ObjectId LdapBackend::registerDn(const std::string& dn, std::string key) {
    auto it = idByDnKey_.find(key);
    if (it != idByDnKey_.end()) return it->second;
    ObjectId id = static_cast<ObjectId>(nodes_.size());
    Node node;
    node.dn = dn;
    node.summary.id = id;
    nodes_.push_back(std::move(node));
    idByDnKey_.emplace(std::move(key), id);
    return id;
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
    node.objectClasses.clear();
    for (const std::string& c : v.classes) node.objectClasses.push_back(toLowerAscii(c));
    node.described = true;
}

ObjectId LdapBackend::registerEntry(LDAPMessage* entry, bool& ok) {
    std::string dn;
    SummaryValues values;
    std::vector<Rdn> rdns;
    ok = readSummary(entry, dn, values) && parseDn(dn, rdns);
    if (!ok) return ROOT_ID;
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
            // Entries of one page share their parent, so its key is looked up once.
            std::string parentKey = dnKey(rdns, 1);
            if (parentKey != lastParentKey_) {
                auto parent = idByDnKey_.find(parentKey);
                lastParentId_ = parent == idByDnKey_.end() ? -1 : parent->second;
                lastParentKey_ = std::move(parentKey);
            }
            if (lastParentId_ >= 0) {
                node.childKey = childKey(lastParentId_, rdns.front().value);
                childCache_[node.childKey] = id;
                node.underParent = true;
            }
        }
    }
    return id;
}

NWDSCCODE LdapBackend::lookupChild(ObjectId parent, const std::string& component, ObjectId& child) {
    std::string cacheKey = childKey(parent, component);
    auto cached = childCache_.find(cacheKey);
    if (cached != childCache_.end()) {
        child = cached->second;
        return SUCCESSFUL;
    }
    std::string filter = "(|";
    for (const char* a : NAMING_ATTRS) filter += equalityFilter(a, component);
    filter += ")";
    const std::string parentDn = dnOf(parent);
    // At the top of a tree without base, the objects are the server's naming contexts.
    if (parentDn.empty()) {
        for (const std::string& context : namingContexts_) {
            std::vector<Rdn> rdns;
            if (parseDn(context, rdns) && rdns.size() == 1 && text::equalsLocaleNoCase(rdns[0].value, component)) {
                Message result;
                int rc = baseRead(context, SUMMARY_ATTRS, result);
                if (rc != LDAP_SUCCESS) return ndsStatusFromLdap(rc);
                if (LDAPMessage* e = ldap_first_entry(ld_, result.get())) {
                    bool ok = false;
                    child = registerEntry(e, ok);
                    if (ok) return SUCCESSFUL;
                }
            }
        }
    }
    Message result;
    int rc = withRetry([&] {
        LDAPMessage* raw = nullptr;
        timeval timeout{timeoutSeconds_, 0};
        int r = ldap_search_ext_s(ld_, parentDn.c_str(), LDAP_SCOPE_ONELEVEL, filter.c_str(),
                                  const_cast<char**>(SUMMARY_ATTRS), 0, nullptr, nullptr, &timeout, 0, &raw);
        result.reset(raw);
        return r;
    });
    if (rc != LDAP_SUCCESS && rc != LDAP_SIZELIMIT_EXCEEDED) return ndsStatusFromLdap(rc);
    for (LDAPMessage* e = ldap_first_entry(ld_, result.get()); e; e = ldap_next_entry(ld_, e)) {
        bool ok = false;
        ObjectId id = registerEntry(e, ok);
        if (ok && text::equalsLocaleNoCase(nodes_[static_cast<size_t>(id)].summary.name, component)) {
            child = id;
            return SUCCESSFUL;
        }
    }
    return ERR_NO_SUCH_ENTRY;
}

NWDSCCODE LdapBackend::resolve(const std::vector<std::string>& componentsFromRoot, ObjectId& id) {
    ObjectId current = ROOT_ID;
    for (const std::string& component : componentsFromRoot) {
        if (component.empty()) return ERR_NO_SUCH_ENTRY;
        NWDSCCODE rc = lookupChild(current, component, current);
        if (rc != SUCCESSFUL) return rc;
    }
    id = current;
    return SUCCESSFUL;
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
        std::string dn = node->dn;
        int rc = baseRead(dn, SUMMARY_ATTRS, result);
        if (rc != LDAP_SUCCESS) return statusFor(rc, id);
        LDAPMessage* entry = ldap_first_entry(ld_, result.get());
        if (!entry) return ERR_NO_SUCH_ENTRY;
        node = &nodes_[static_cast<size_t>(id)];
        fillSummary(*node, entry);
        std::vector<Rdn> rdns;
        parseDn(node->dn, rdns);
        node->summary.name = rdns.empty() ? node->dn : rdns.front().value;
    }
    fullName = id == ROOT_ID ? std::string() : nameOfDn(node->dn);
    summary = node->summary;
    return SUCCESSFUL;
}

}  // namespace nw::ldapbackend
