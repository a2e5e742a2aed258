// Escaping between the client's typeless names and LDAP: distinguished names (RFC 4514) and
// search filters (RFC 4515). Pure functions, no server needed.
//
// A typeless name is dot-separated, leaf first; a dot or backslash inside a component is written
// "\." or "\\". A DN is comma-separated, leaf first, each RDN "type=value" with the value
// escaped. Whatever a component holds, the DN and filter built from it name exactly that value:
// a user called "*)(cn=*" matches only itself.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace nw::ldap {

// ---- typeless names (the client's own escaping, see nwclient/names.h) ----
// Components leaf first, unescaped. "a\.b.C" gives {"a.b", "C"}. A backslash before anything
// but a dot or a backslash, and a trailing lone one, is kept as a literal backslash.
std::vector<std::string> splitTypelessName(std::string_view name);
// Escapes "." and "\" in one component.
std::string escapeTypelessComponent(std::string_view component);
// Joins components given leaf first.
std::string joinTypelessName(const std::vector<std::string>& componentsLeafFirst);

// ---- distinguished names ----
struct Rdn {
    std::string type;   // attribute type as written (cn, ou, ...)
    std::string value;  // unescaped value
};

// Escapes an attribute value for a DN: , + " \ < > ; = and NUL, a leading space or "#", a trailing
// space, and control characters (as \XX).
std::string escapeDnValue(std::string_view value);
// Undoes \c and \XX escapes; a value written as "#hex" (BER) is decoded to its bytes as well.
// False when the text is not a well-formed escaped value.
bool unescapeDnValue(std::string_view escaped, std::string& value);
// Splits a DN into RDNs, leaf first. For a multi-valued RDN (a=1+b=2) the first value stands for
// the RDN. False when the DN is malformed. The empty DN gives an empty vector.
bool parseDn(std::string_view dn, std::vector<Rdn>& rdns);
// "type=escaped value" joined with ",".
std::string formatDn(const std::vector<Rdn>& rdnsLeafFirst);
// One RDN prepended to a parent DN (the parent may be empty).
std::string childDn(std::string_view type, std::string_view value, std::string_view parentDn);
// A normalised key for comparing DNs: types and values lower-cased (ASCII), values unescaped and
// re-escaped, so "CN=Gast01, OU=x" and "cn=gast01,ou=X" give the same key.
std::string dnKey(std::string_view dn);
// The same key from RDNs already parsed, from rdns[from] up (from = 1: the parent's key).
std::string dnKey(const std::vector<Rdn>& rdns, size_t from = 0);

// ---- filters ----
// Escapes * ( ) \ and NUL as \2a \28 \29 \5c \00.
std::string escapeFilterValue(std::string_view value);
// "(type=escaped value)".
std::string equalityFilter(std::string_view type, std::string_view value);

}  // namespace nw::ldap
