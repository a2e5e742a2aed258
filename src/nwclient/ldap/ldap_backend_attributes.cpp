#include "nwclient/ldap/ldap_backend_impl.h"
#include "nwclient/ldap/ldap_diagnostics.h"

#include "nwclient/syntax.h"
#include "platform/ports.h"

#include <cctype>
#include <ctime>
#include <utility>

namespace nw::ldapbackend {

std::vector<std::string> textValues(LDAP* ld, LDAPMessage* entry, const char* attribute) {
    std::vector<std::string> out;
    Values values(ldap_get_values_len(ld, entry, attribute));
    if (!values) return out;
    for (berval** v = values.get(); *v; ++v) out.emplace_back((*v)->bv_val, (*v)->bv_len);
    return out;
}

std::string firstValue(LDAP* ld, LDAPMessage* entry, const char* attribute) {
    std::vector<std::string> v = textValues(ld, entry, attribute);
    return v.empty() ? std::string() : v.front();
}

// "20261207093000Z" (fractions and offsets allowed) to seconds since 1970, UTC.
bool parseGeneralizedTime(const std::string& s, int64_t& seconds) {
    auto digits = [&](size_t at, size_t count, int& out) {
        if (at + count > s.size()) return false;
        out = 0;
        for (size_t i = at; i < at + count; ++i) {
            if (s[i] < '0' || s[i] > '9') return false;
            out = out * 10 + (s[i] - '0');
        }
        return true;
    };
    int year = 0, month = 0, day = 0, hour = 0;
    if (!digits(0, 4, year) || !digits(4, 2, month) || !digits(6, 2, day) || !digits(8, 2, hour)) return false;
    std::tm tm{};
    tm.tm_year = year - 1900;
    tm.tm_mon = month - 1;
    tm.tm_mday = day;
    tm.tm_hour = hour;
    size_t pos = 10;
    if (digits(pos, 2, tm.tm_min)) pos += 2;
    if (pos == 12 && digits(pos, 2, tm.tm_sec)) pos += 2;
    if (pos < s.size() && (s[pos] == '.' || s[pos] == ',')) {
        ++pos;
        while (pos < s.size() && s[pos] >= '0' && s[pos] <= '9') ++pos;
    }
    int64_t offset = 0;
    int offHours = 0, offMinutes = 0;
    if (pos < s.size() && (s[pos] == '+' || s[pos] == '-') && digits(pos + 1, 2, offHours)) {
        digits(pos + 3, 2, offMinutes);
        offset = (s[pos] == '-' ? -1 : 1) * (offHours * 3600 + offMinutes * 60);
    }
    seconds = static_cast<int64_t>(timegm(&tm)) - offset;
    return true;
}

std::string formatGeneralizedTime(int64_t seconds) {
    time_t t = static_cast<time_t>(seconds);
    std::tm tm{};
    gmtime_r(&t, &tm);
    char buf[32];
    strftime(buf, sizeof buf, "%Y%m%d%H%M%SZ", &tm);
    return buf;
}

// ---- attributes ----

const AttributeInfo* LdapBackend::attributeInfo(const std::string& ldapName) const {
    auto it = attributes_.find(toLowerAscii(ldapName));
    return it == attributes_.end() ? nullptr : &it->second;
}

uint32_t LdapBackend::syntaxOf(const std::string& ldapName) const {
    if (toLowerAscii(ldapName) == "objectclass") return SYN_CLASS_NAME;
    const AttributeInfo* info = attributeInfo(ldapName);
    for (int depth = 0; info && depth < 16; ++depth) {
        if (!info->syntaxOid.empty()) return syntaxFromOid(info->syntaxOid);
        if (info->supName.empty()) break;
        info = attributeInfo(info->supName);
    }
    return SYN_OCTET_STRING;
}

NWDSCCODE LdapBackend::attributeSyntax(const std::string& attribute, uint32_t& syntax) {
    std::string ldapName = map_.ldapAttribute(attribute);
    if (toLowerAscii(ldapName) != "objectclass" && !attributeInfo(ldapName)) return ERR_NO_SUCH_ATTRIBUTE;
    syntax = syntaxOf(ldapName);
    return SUCCESSFUL;
}

namespace {

// A name with NUL, CR or LF would reach the caller cut or split, and might then name someone else.
bool unnamable(const std::vector<Rdn>& rdns) {
    for (const Rdn& rdn : rdns)
        if (rdn.value.find_first_of(std::string_view("\0\r\n", 3)) != std::string::npos) return true;
    return false;
}

// The DN as the operator sees it: hex escapes in capitals (\00, \0A), as the listings name entries.
std::string shownDn(const std::vector<Rdn>& rdns) {
    std::string out = formatDn(rdns);
    for (size_t i = 0; i < out.size(); ++i) {
        if (out[i] != '\\') continue;
        if (i + 2 < out.size() && std::isxdigit(static_cast<unsigned char>(out[i + 1])) &&
            std::isxdigit(static_cast<unsigned char>(out[i + 2]))) {
            out[i + 1] = static_cast<char>(std::toupper(static_cast<unsigned char>(out[i + 1])));
            out[i + 2] = static_cast<char>(std::toupper(static_cast<unsigned char>(out[i + 2])));
        }
        ++i;  // the escaped character is never the start of another escape
    }
    return out;
}

}  // namespace

bool LdapBackend::nameOfValue(ObjectId id, const std::string& attribute, const std::string& raw, std::string& name) {
    std::vector<Rdn> rdns;
    if (!parseDn(raw, rdns)) {
        name = raw;
        return true;
    }
    if (unnamable(rdns)) {
        // Left out, not failing the read: one such value (a teacher may add it with ldapmodify)
        // must not block the deny group for everyone. It is named for the operator to remove.
        skipped_.push_back(shownDn(rdns));
        logSkippedValue(dnOf(id), attribute, skipped_.back());
        return false;
    }
    name = nameOfRdns(rdns);
    return true;
}

NWDSCCODE LdapBackend::removeSkippedValue(ObjectId id, const std::string& attribute, const std::string& shown) {
    if (!knows(id) || id == ROOT_ID) return ERR_NO_SUCH_ENTRY;
    if (NWDSCCODE rc = flush(id)) return rc;
    const std::string ldapName = map_.ldapAttribute(attribute);
    const char* attrs[] = {ldapName.c_str(), nullptr};
    Message result;
    const std::string dn = dnOf(id);
    int rc = baseRead(dn, attrs, result);
    if (rc != LDAP_SUCCESS) return statusFor(rc, id);
    LDAPMessage* entry = ldap_first_entry(ld_, result.get());
    if (!entry) return ERR_NO_SUCH_ENTRY;
    for (const std::string& raw : textValues(ld_, entry, ldapName.c_str())) {
        std::vector<Rdn> rdns;
        if (!parseDn(raw, rdns) || !unnamable(rdns) || shownDn(rdns) != shown) continue;
        // The value exactly as the server holds it: its name cannot be resolved.
        berval value{static_cast<ber_len_t>(raw.size()), const_cast<char*>(raw.data())};
        berval* values[] = {&value, nullptr};
        LDAPMod mod{};
        mod.mod_op = LDAP_MOD_DELETE | LDAP_MOD_BVALUES;
        mod.mod_type = const_cast<char*>(ldapName.c_str());
        mod.mod_bvalues = values;
        LDAPMod* mods[] = {&mod, nullptr};
        rc = withRetry([&] { return ldap_modify_ext_s(ld_, dn.c_str(), mods, nullptr, nullptr); });
        logLdapFailure(ld_, rc, dn);
        snapshots_.erase(id);
        if (rc == LDAP_NO_SUCH_ATTRIBUTE) return ERR_NO_SUCH_VALUE;
        return rc == LDAP_SUCCESS ? SUCCESSFUL : statusFor(rc, id);
    }
    return ERR_NO_SUCH_VALUE;
}

NWDSCCODE LdapBackend::readAttribute(ObjectId id, const std::string& attribute, Attribute& out) {
    skipped_.clear();
    if (!knows(id)) return ERR_NO_SUCH_ENTRY;
    // What is queued for the object goes out first: a read shows what was done.
    if (NWDSCCODE rc = flush(id)) return rc;
    std::string ldapName = map_.ldapAttribute(attribute);
    const std::string lowerName = toLowerAscii(ldapName);
    if (lowerName == "groupmembership" || lowerName == "securityequals") {
        // A user's own membership values from this action's listing or search, kept up to date
        // with what was sent since: no round trip per user in a stop or go.
        auto snap = snapshots_.find(id);
        if (snap != snapshots_.end() && snap->second.userSideKnown) {
            const auto& dns = lowerName == "groupmembership" ? snap->second.groupMembership : snap->second.securityEquals;
            out.name = attribute;
            out.syntax = SYN_DIST_NAME;
            out.values.clear();
            for (const std::string& dn : dns) {
                AttrValue value;
                if (nameOfValue(id, ldapName, dn, value.text)) out.values.push_back(std::move(value));
            }
            return out.values.empty() ? ERR_NO_SUCH_ATTRIBUTE : SUCCESSFUL;
        }
    }
    if (ad_ && lowerName == "member") {
        std::vector<std::string> memberDns;
        if (int rc = readRangedMembers(dnOf(id), memberDns); rc != LDAP_SUCCESS) return statusFor(rc, id);
        takeMemberSnapshot(id, memberDns);
        if (memberDns.empty()) return ERR_NO_SUCH_ATTRIBUTE;
        learnMembers(id, memberDns);
        out.name = attribute;
        out.syntax = SYN_DIST_NAME;
        out.values.clear();
        for (const std::string& raw : memberDns) {
            AttrValue value;
            if (nameOfValue(id, ldapName, raw, value.text)) out.values.push_back(std::move(value));
        }
        return SUCCESSFUL;
    }
    bool membership = DN_MEMBERSHIP_ATTRS.count(lowerName) != 0;
    // The membership attributes come together, so the equivalence calls that follow know both
    // sides without asking again.
    const char* single[] = {ldapName.c_str(), nullptr};
    const char* all[] = {"member", "groupMembership", "securityEquals", "equivalentToMe", "objectClass", nullptr};
    Message result;
    std::string dn = dnOf(id);
    int rc = baseRead(dn, membership ? all : single, result);
    if (rc != LDAP_SUCCESS) return statusFor(rc, id);
    LDAPMessage* entry = ldap_first_entry(ld_, result.get());
    if (!entry) return ERR_NO_SUCH_ENTRY;
    if (membership) takeSnapshot(id, entry);
    out.name = attribute;
    out.syntax = syntaxOf(ldapName);
    out.values.clear();
    // One copy of the values, and the answer (a big group's every membership value) goes.
    std::vector<std::string> raws;
    {
        Values values(ldap_get_values_len(ld_, entry, ldapName.c_str()));
        result.reset();
        if (!values || !values.get()[0]) return ERR_NO_SUCH_ATTRIBUTE;
        size_t count = 0;
        while (values.get()[count]) ++count;
        raws.reserve(count);
        for (berval** v = values.get(); *v; ++v) raws.emplace_back((*v)->bv_val, (*v)->bv_len);
    }
    if (lowerName == "member") learnMembers(id, raws);
    out.values.reserve(raws.size());
    for (std::string& raw : raws) {
        // Each value's text goes as soon as it is converted.
        std::string text = std::exchange(raw, std::string());
        AttrValue value;
        switch (out.syntax) {
        case SYN_DIST_NAME:
            if (!nameOfValue(id, ldapName, text, value.text)) continue;
            break;
        case SYN_CLASS_NAME: value.text = map_.className(text); break;
        case SYN_BOOLEAN: value.number = toLowerAscii(text) == "true" ? 1 : 0; break;
        case SYN_INTEGER: value.number = std::strtoll(text.c_str(), nullptr, 10); break;
        case SYN_TIME: {
            int64_t seconds = 0;
            value.number = parseGeneralizedTime(text, seconds) ? seconds : 0;
            break;
        }
        case SYN_OCTET_STRING: value.bytes = std::move(text); break;
        default: value.text = std::move(text); break;
        }
        out.values.push_back(std::move(value));
    }
    return SUCCESSFUL;
}

void LdapBackend::learnMembers(ObjectId group, const std::vector<std::string>& memberDns) {
    // A few members cost no more one by one.
    constexpr size_t FEW = 16;
    if (memberDns.size() < FEW) return;
    // Members this action registered already (its own listing or search) need nothing.
    auto registered = [this](ObjectId known) {
        return known >= 0 && nodes_[static_cast<size_t>(known)].described && nodes_[static_cast<size_t>(known)].underParent;
    };
    // A few unknown ones are read together; a search from the root would list every member again.
    std::vector<std::string> rest;
    for (const std::string& dn : memberDns) {
        if (registered(nodes_.find(dnKey(dn)))) continue;
        rest.push_back(dn);
        if (rest.size() == FEW) break;
    }
    if (rest.size() == FEW) {
        rest = memberDns;
        // Members normally name the group back: one indexed search finds them all.
        const std::string groupDn = dnOf(group);
        // On AD the server names the group back itself (memberOf).
        const std::string filter =
            ad_ ? equalityFilter("memberOf", groupDn)
                : "(|" + equalityFilter("groupMembership", groupDn) + equalityFilter("securityEquals", groupDn) + ")";
        std::unordered_set<ObjectId> found;
        std::unordered_set<HashKey, HashKeyHash> foundAsSent;  // the DNs as the server spelt them
        {
            LdapCursor cursor(*this, ROOT_ID, LDAP_SCOPE_SUBTREE, filter, false);
            std::vector<ObjectSummary> page;
            while (cursor.next(page) == SUCCESSFUL && !page.empty()) {
                for (const ObjectSummary& s : page) {
                    found.insert(s.id);
                    foundAsSent.insert(hashKeyOf(nodes_.dnAt(static_cast<size_t>(s.id))));
                }
                // Thousands of members come a page at a time: the window repaints between pages.
                platform::pumpMessages();
            }
        }
        // Those that do not (half done, or written by another tool) are read together.
        std::vector<std::string> unfound;
        for (std::string& dn : rest) {
            if (foundAsSent.count(hashKeyOf(dn))) continue;  // the usual case, without normalising the DN
            ObjectId known = nodes_.find(dnKey(dn));
            if (known >= 0 && (found.count(known) || registered(known))) continue;
            unfound.push_back(std::move(dn));
        }
        rest = std::move(unfound);
    }
    if (rest.empty()) return;
    std::vector<Message> results;
    std::vector<int> codes;
    readMany(rest, SUMMARY_ATTRS, results, codes);
    for (size_t i = 0; i < rest.size(); ++i) {
        if (codes[i] != LDAP_SUCCESS || !results[i]) continue;
        if (LDAPMessage* e = ldap_first_entry(ld_, results[i].get())) {
            bool ok = false;
            registerEntry(e, ok);
        }
    }
}

NWDSCCODE LdapBackend::readStream(ObjectId id, const std::string& attribute, std::string& contents) {
    Attribute a;
    NWDSCCODE rc = readAttribute(id, attribute, a);
    if (rc != SUCCESSFUL) return rc;
    contents = a.values.front().bytes.empty() ? a.values.front().text : a.values.front().bytes;
    return SUCCESSFUL;
}

}  // namespace nw::ldapbackend
