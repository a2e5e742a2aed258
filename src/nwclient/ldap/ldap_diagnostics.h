// The server's own words for the administrator: when an LDAP call fails, the result code, the
// server's diagnostic message and matched DN go to a diagnostics log together with the DN the
// call concerned. The operator's boxes keep their texts; this log is where an administrator
// learns which access rule or schema check refused a change.
//
// The log is standard error when that is a terminal or there is no syslog socket, syslog
// (facility user) otherwise. Tests
// and tools may install their own sink.
#pragma once

#include <functional>
#include <string>

typedef struct ldap LDAP;
typedef struct ldapmod LDAPMod;

namespace nw::ldap {

// Writes one line about a failed change on the handle: code and its name, the DN, and what
// the server said (its diagnostic message and matched DN, read from the handle). Does nothing
// for success and for the answers a change takes as ordinary (a value not there or there
// already, a failed "no value yet" assertion).
void logLdapFailure(LDAP* ld, int rc, const std::string& dn);
// The same for a change whose modifications are at hand (null-terminated). A refusal for want of
// rights names the attributes refused: the server (slapd) does not say which, so each modification
// is asked again alone with the No-Op control, which applies nothing. Where that cannot tell, the
// line names the attributes the change carried.
void logLdapFailure(LDAP* ld, int rc, const std::string& dn, LDAPMod* const* mods);
// The same for a read, which also passes over "no such object".
void logLdapReadFailure(LDAP* ld, int rc, const std::string& dn);

// A listing or search below `dn` that the server's limit ended even in its smallest parts: what
// the server said, and that the result stays incomplete.
void logIncompleteListing(LDAP* ld, int rc, const std::string& dn);

// Once per process and value: a DN value that a read leaves out because its name holds NUL, CR
// or LF (shown escaped), on the entry dn.
void logSkippedValue(const std::string& dn, const std::string& attribute, const std::string& shown);

// Once per process and address: an ldap:// connection that runs without StartTLS sends the
// password and every value in clear.
void warnIfClearText(const std::string& uri, bool startTls);

// Once per process: a TLS connection that takes any certificate (TLSVerify=no), on standard
// error and in the diagnostics log.
void warnCertificateUnchecked(const std::string& uri);
// Once per process and text: a line the administrator must see whether or not the log is a
// terminal (a warning about nwclient.conf), on standard error and in the diagnostics log.
void reportOnce(const std::string& line);
// Whether a connection of this run takes any certificate (for the about box).
bool certificateUnchecked();

// Where the lines go; an empty function restores the default (terminal or syslog).
void setDiagnosticsSink(std::function<void(const std::string& line)> sink);

}  // namespace nw::ldap
