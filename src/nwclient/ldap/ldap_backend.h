// The directory client's backend for an LDAP server (eDirectory, OpenLDAP, ...), over libldap.
//
// nwclient.conf keys it reads (besides Tree= and Operator=):
//   Tree=ldap://host:port  or  ldaps://host:port
//   Base=dc=schule,dc=example   the DN that stands for [root]; empty for a tree from the top
//   BindDN=...                  the operator's DN when it is not the one Operator= maps to
//   PasswordFile=PATH           the operator's password, first line; the file must belong to the
//                               operator and be readable by nobody else (mode 0600 or 0400).
//                               Without it the password is asked through the credentials port.
//                               A Password= key is refused: the password is never kept in a
//                               settings file.
//   StartTLS=yes                TLS on an ldap:// connection before the bind
//   CAFile=PATH                 CA certificates for ldaps:// and StartTLS
//   Timeout=10                  seconds for connecting and for each operation
//   PageSize=500                entries per page of a listing or search
//   MembershipClass=tarvelMembership   auxiliary class added to an entry whose classes do not
//                               allow the membership attributes
//   ServerName=...              the server name shown by the program (default: the host)
//   Class.<ldap class>=<base class>      class mapping of the site
//   Attribute.<attribute>=<ldap attribute>   attribute mapping of the site
#pragma once

#include "nwclient/backend.h"

#include <memory>

namespace nw {

// Connects and binds as the operator. On failure returns null and sets status to a TARVEL_*
// code: TARVEL_LDAP_UNREACHABLE, TARVEL_LDAP_BAD_CREDENTIALS, TARVEL_LDAP_TLS_FAILED,
// TARVEL_LDAP_NO_PASSWORD, TARVEL_OPERATOR_UNKNOWN or TARVEL_CONFIGURATION_INVALID.
std::unique_ptr<DirectoryBackend> makeLdapBackend(const ClientConfig& config, NWCCODE& status);

}  // namespace nw
