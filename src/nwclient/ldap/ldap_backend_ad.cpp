// What the LDAP backend does differently on Active Directory (Windows or Samba AD).
#include "nwclient/ldap/ldap_backend_impl.h"
#include "nwclient/ldap/ldap_diagnostics.h"

#include <cstdlib>

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

}  // namespace nw::ldapbackend
