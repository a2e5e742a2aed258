// What the LDAP backend translates between the directory client and an LDAP server: class names,
// attribute names, attribute syntaxes and result codes. Pure functions over tables; a site's own
// entries come from nwclient.conf ("Class.<ldap class>=<base class>",
// "Attribute.<attribute name>=<ldap attribute>").
#pragma once

#include "nwclient/status.h"

#include <functional>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace nw::ldap {

class NameMap {
public:
    // The built-in tables.
    NameMap();
    // Adds the site's entries from the configuration values (keys lower-cased).
    void configure(const std::map<std::string, std::string>& values);

    // Base class for an entry's object classes (all of them, as the server lists them). The first
    // class with a mapping wins, structural classes before auxiliary ones as given by
    // structuralClass (may be empty); with none mapped, the structural class keeps its own name.
    std::string baseClass(const std::string& structuralClass, const std::vector<std::string>& objectClasses) const;
    // One LDAP class to the name the client shows ("Object Class" values).
    std::string className(const std::string& ldapClass) const;
    // The LDAP class a new entry of a base class is made with (the built-in table's first one for
    // it, as the table spells it); empty when the table has none.
    static std::string entryClass(const std::string& baseClass);
    // LDAP classes that stand for a base class (for a search by "Object Class"): every mapped
    // class, or the name itself when none is mapped.
    std::vector<std::string> ldapClasses(const std::string& baseClass) const;
    // The LDAP classes that are containers.
    std::vector<std::string> containerClasses() const;
    bool isContainerClass(const std::string& baseClass) const;

    // Attribute name of the client ("Group Membership") to the LDAP attribute
    // ("groupMembership"): the table, else eDirectory's rule (spaces dropped, first letter
    // lower-case; a name in capitals only, such as "CN", lower-cased whole).
    std::string ldapAttribute(const std::string& clientName) const;
    // After the server's schema is known: a built-in name the server lacks is replaced by the
    // first alternative it has ("Full Name" is fullName on eDirectory, displayName on OpenLDAP).
    // A name the site configured is kept.
    void adaptToSchema(const std::function<bool(const std::string&)>& serverHas);
    // Active Directory's classes (user, group, computer as a workstation, container), where the
    // site mapped them not itself.
    void addActiveDirectoryClasses();

private:
    std::set<std::string> configured_;                 // lower-cased client names the site set
    std::map<std::string, std::string> classToBase_;   // lower-cased LDAP class -> base class
    std::map<std::string, std::string> attributes_;    // lower-cased client name -> LDAP name
};

// Syntax number of the client for an LDAP syntax OID (DN 1, directory string 3, ...); octets (9)
// for what has no counterpart.
uint32_t syntaxFromOid(std::string_view oid);

// The one table of LDAP result codes (and libldap's negative API codes) to NDS statuses.
NWDSCCODE ndsStatusFromLdap(int resultCode);

// Whether a result code means the connection is gone (worth one re-open).
bool isConnectionLost(int resultCode);

}  // namespace nw::ldap
