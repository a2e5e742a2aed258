#include "nwclient/ldap/ldap_map.h"
#include "platform/text.h"

#include <ldap.h>
#include <strings.h>

namespace nw::ldap {
namespace {

using ::text::toLowerAscii;

struct ClassEntry {
    const char* ldapClass;
    const char* baseClass;
};

// Structural classes of eDirectory, OpenLDAP's standard schemas and this project's schema.
const ClassEntry CLASSES[] = {
    {"organization", "Organization"},
    {"organizationalUnit", "Organizational Unit"},
    {"country", "Country"},
    {"locality", "Locality"},
    {"domain", "Domain"},
    {"dcObject", "Domain"},
    {"inetOrgPerson", "User"},
    {"tarvelGroup", "Group"},
    {"groupOfNames", "Group"},
    {"groupOfUniqueNames", "Group"},
    {"tarvelWorkstation", "Workstation"},
    {"tarvelPrinter", "Printer"},
    {"tarvelVolume", "Volume"},
    {"organizationalRole", "Organizational Role"},
    {"alias", "Alias"},
};

const char* const CONTAINER_BASES[] = {"Organization", "Organizational Unit", "Country", "Locality", "Domain"};

struct AttrEntry {
    const char* clientName;
    const char* ldapName;
};

// Names whose LDAP form does not follow eDirectory's rule.
const AttrEntry ATTRIBUTES[] = {
    {"Member", "member"},
    {"Group Membership", "groupMembership"},
    {"Security Equals", "securityEquals"},
    {"Equivalent To Me", "equivalentToMe"},
    {"Object Class", "objectClass"},
    {"Surname", "sn"},
    {"Internet EMail Address", "mail"},
    {"S", "st"},
    {"SA", "street"},
    {"Given Name", "givenName"},
    {"Full Name", "fullName"},
    {"Telephone Number", "telephoneNumber"},
};

}  // namespace

NameMap::NameMap() {
    for (const ClassEntry& e : CLASSES) classToBase_[toLowerAscii(e.ldapClass)] = e.baseClass;
    for (const AttrEntry& e : ATTRIBUTES) attributes_[toLowerAscii(e.clientName)] = e.ldapName;
}

void NameMap::configure(const std::map<std::string, std::string>& values) {
    for (const auto& [key, value] : values) {
        if (value.empty()) continue;
        if (key.rfind("class.", 0) == 0 && key.size() > 6)
            classToBase_[key.substr(6)] = value;
        else if (key.rfind("attribute.", 0) == 0 && key.size() > 10) {
            attributes_[key.substr(10)] = value;
            configured_.insert(key.substr(10));
        }
    }
}

void NameMap::adaptToSchema(const std::function<bool(const std::string&)>& serverHas) {
    struct Alternative {
        const char* clientName;
        const char* ldapName;
    };
    static const Alternative ALTERNATIVES[] = {{"full name", "displayName"}, {"employee id", "employeeNumber"}};
    for (const Alternative& a : ALTERNATIVES) {
        if (configured_.count(a.clientName)) continue;
        auto it = attributes_.find(a.clientName);
        if (it != attributes_.end() && !serverHas(it->second) && serverHas(a.ldapName)) it->second = a.ldapName;
    }
}

void NameMap::addActiveDirectoryClasses() {
    // A computer is a user to AD too; its own class is listed after user's, and the last mapped
    // class an entry lists wins.
    for (const ClassEntry& e : {ClassEntry{"user", "User"}, ClassEntry{"group", "Group"},
                                ClassEntry{"computer", "Workstation"}, ClassEntry{"container", "Organizational Unit"}})
        classToBase_.emplace(toLowerAscii(e.ldapClass), e.baseClass);
}

std::string NameMap::baseClass(const std::string& structuralClass, const std::vector<std::string>& objectClasses) const {
    if (!structuralClass.empty()) {
        auto it = classToBase_.find(toLowerAscii(structuralClass));
        if (it != classToBase_.end()) return it->second;
    }
    // Servers without structuralObjectClass: the most specific mapped class is the one listed
    // last by convention, but order is not guaranteed, so prefer a mapped class that is not a
    // superclass of another mapped one (inetOrgPerson over organizationalPerson is the usual
    // case, and only inetOrgPerson is mapped).
    for (auto it = objectClasses.rbegin(); it != objectClasses.rend(); ++it) {
        auto m = classToBase_.find(toLowerAscii(*it));
        if (m != classToBase_.end()) return m->second;
    }
    if (!structuralClass.empty()) return structuralClass;
    for (auto it = objectClasses.rbegin(); it != objectClasses.rend(); ++it)
        if (toLowerAscii(*it) != "top") return *it;
    return "Top";
}

std::string NameMap::className(const std::string& ldapClass) const {
    auto it = classToBase_.find(toLowerAscii(ldapClass));
    return it != classToBase_.end() ? it->second : ldapClass;
}

std::string NameMap::entryClass(const std::string& baseClass) {
    for (const ClassEntry& e : CLASSES)
        if (strcasecmp(e.baseClass, baseClass.c_str()) == 0) return e.ldapClass;
    return std::string();
}

std::vector<std::string> NameMap::ldapClasses(const std::string& baseClass) const {
    std::vector<std::string> out;
    std::string wanted = toLowerAscii(baseClass);
    for (const auto& [ldapClass, base] : classToBase_)
        if (toLowerAscii(base) == wanted) out.push_back(ldapClass);
    if (out.empty()) out.push_back(baseClass);
    return out;
}

std::vector<std::string> NameMap::containerClasses() const {
    std::vector<std::string> out;
    for (const auto& [ldapClass, base] : classToBase_)
        if (isContainerClass(base)) out.push_back(ldapClass);
    return out;
}

bool NameMap::isContainerClass(const std::string& baseClass) const {
    for (const char* b : CONTAINER_BASES)
        if (strcasecmp(b, baseClass.c_str()) == 0) return true;
    return false;
}

std::string NameMap::ldapAttribute(const std::string& clientName) const {
    auto it = attributes_.find(toLowerAscii(clientName));
    if (it != attributes_.end()) return it->second;
    std::string out;
    bool allCapitals = true;
    for (char c : clientName) {
        if (c == ' ') continue;
        if (c >= 'a' && c <= 'z') allCapitals = false;
        out += c;
    }
    if (allCapitals) return toLowerAscii(out);
    if (!out.empty() && out[0] >= 'A' && out[0] <= 'Z') out[0] = static_cast<char>(out[0] - 'A' + 'a');
    return out;
}

uint32_t syntaxFromOid(std::string_view oid) {
    static const struct {
        const char* oid;
        uint32_t syntax;
    } SYNTAXES[] = {
        {"1.3.6.1.4.1.1466.115.121.1.12", 1},   // DN
        {"1.3.6.1.4.1.1466.115.121.1.15", 3},   // directory string
        {"1.3.6.1.4.1.1466.115.121.1.26", 3},   // IA5 string (mail addresses and the like)
        {"1.3.6.1.4.1.1466.115.121.1.44", 4},   // printable string
        {"1.3.6.1.4.1.1466.115.121.1.36", 5},   // numeric string
        {"1.3.6.1.4.1.1466.115.121.1.50", 10},  // telephone number
        {"1.3.6.1.4.1.1466.115.121.1.7", 7},    // boolean
        {"1.3.6.1.4.1.1466.115.121.1.27", 8},   // integer
        {"1.3.6.1.4.1.1466.115.121.1.40", 9},   // octet string
        {"1.3.6.1.4.1.1466.115.121.1.24", 24},  // generalized time
        {"1.3.6.1.4.1.1466.115.121.1.38", 20},  // OID (class names)
    };
    // A syntax may carry a length bound: "...15{128}".
    std::string_view bare = oid.substr(0, oid.find('{'));
    for (const auto& s : SYNTAXES)
        if (bare == s.oid) return s.syntax;
    return 9;
}

NWDSCCODE ndsStatusFromLdap(int rc) {
    switch (rc) {
    case LDAP_SUCCESS: return SUCCESSFUL;
    case LDAP_OPERATIONS_ERROR: return ERR_SYSTEM_FAILURE;
    case LDAP_PROTOCOL_ERROR: return ERR_INVALID_SERVER_RESPONSE;
    case LDAP_TIMELIMIT_EXCEEDED: return ERR_TIME_OUT;
    // The server stopped a listing or search before its end: never a complete answer.
    case LDAP_SIZELIMIT_EXCEEDED: return ERR_REMOTE_FAILURE;
    case LDAP_ADMINLIMIT_EXCEEDED: return ERR_REMOTE_FAILURE;
    case LDAP_AUTH_METHOD_NOT_SUPPORTED: return ERR_FAILED_AUTHENTICATION;
    case LDAP_STRONG_AUTH_REQUIRED: return ERR_FAILED_AUTHENTICATION;
    case LDAP_UNAVAILABLE_CRITICAL_EXTENSION: return ERR_INVALID_REQUEST;
    case LDAP_NO_SUCH_ATTRIBUTE: return ERR_NO_SUCH_ATTRIBUTE;
    case LDAP_UNDEFINED_TYPE: return ERR_NO_SUCH_ATTRIBUTE;
    case LDAP_INAPPROPRIATE_MATCHING: return ERR_INVALID_REQUEST;
    case LDAP_CONSTRAINT_VIOLATION: return ERR_SYNTAX_VIOLATION;
    case LDAP_TYPE_OR_VALUE_EXISTS: return ERR_DUPLICATE_VALUE;
    case LDAP_INVALID_SYNTAX: return ERR_SYNTAX_VIOLATION;
    case LDAP_NO_SUCH_OBJECT: return ERR_NO_SUCH_ENTRY;
    case LDAP_ALIAS_PROBLEM: return ERR_NO_SUCH_ENTRY;
    case LDAP_INVALID_DN_SYNTAX: return ERR_ILLEGAL_DS_NAME;
    case LDAP_INAPPROPRIATE_AUTH: return ERR_FAILED_AUTHENTICATION;
    case LDAP_INVALID_CREDENTIALS: return ERR_FAILED_AUTHENTICATION;
    case LDAP_INSUFFICIENT_ACCESS: return ERR_NO_ACCESS;
    case LDAP_BUSY: return ERR_PARTITION_BUSY;
    case LDAP_UNAVAILABLE: return ERR_UNREACHABLE_SERVER;
    case LDAP_UNWILLING_TO_PERFORM: return ERR_INVALID_REQUEST;
    case LDAP_LOOP_DETECT: return ERR_SYSTEM_FAILURE;
    case LDAP_NAMING_VIOLATION: return ERR_ILLEGAL_DS_NAME;
    // A mandatory attribute would lose its last value (a groupOfNames without members).
    case LDAP_OBJECT_CLASS_VIOLATION: return ERR_MISSING_MANDATORY;
    case LDAP_NOT_ALLOWED_ON_NONLEAF: return ERR_INVALID_REQUEST;
    case LDAP_NOT_ALLOWED_ON_RDN: return ERR_INVALID_REQUEST;
    case LDAP_ALREADY_EXISTS: return ERR_ENTRY_ALREADY_EXISTS;
    case LDAP_NO_OBJECT_CLASS_MODS: return ERR_INVALID_REQUEST;
    // Only sent with the assertion "the attribute has no value yet" of a first-value add.
    case LDAP_ASSERTION_FAILED: return ERR_ATTRIBUTE_ALREADY_EXISTS;
    case LDAP_SERVER_DOWN: return ERR_UNREACHABLE_SERVER;
    case LDAP_CONNECT_ERROR: return ERR_UNREACHABLE_SERVER;
    case LDAP_TIMEOUT: return ERR_TIME_OUT;
    case LDAP_LOCAL_ERROR: return ERR_SYSTEM_ERROR;
    case LDAP_ENCODING_ERROR: return ERR_SYSTEM_ERROR;
    case LDAP_DECODING_ERROR: return ERR_INVALID_SERVER_RESPONSE;
    case LDAP_FILTER_ERROR: return ERR_INVALID_FILTER_SYNTAX;
    case LDAP_PARAM_ERROR: return ERR_SYSTEM_ERROR;
    case LDAP_NO_MEMORY: return ERR_NOT_ENOUGH_MEMORY;
    case LDAP_AUTH_UNKNOWN: return ERR_FAILED_AUTHENTICATION;
    default: return ERR_SYSTEM_FAILURE;
    }
}

bool isConnectionLost(int rc) { return rc == LDAP_SERVER_DOWN || rc == LDAP_CONNECT_ERROR; }

}  // namespace nw::ldap
