// libldap is opened when the first LDAP backend is made, not when the program starts: the library
// and its TLS chain (bound at load) cost a program on the embedded tree milliseconds of every
// start. The backend calls libldap's functions by their own names; these definitions are hidden
// in the program and forward to the library's, found once each.
#pragma GCC visibility push(hidden)
#include <ldap.h>
#include <ldap_schema.h>
#pragma GCC visibility pop

#include "nwclient/ldap/ldap_library.h"

#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>
#include <mutex>

namespace nw {

namespace {

std::mutex libraryMutex;
void* libraryHandle = nullptr;
const char* libraryName = TARVEL_LDAP_SONAME;
std::string loadFailure;

// The backend's calls come only after ldapLibraryLoads() said yes; a call without the library is
// a fault of the program, not of the site.
void* symbolOf(const char* name) {
    std::string why;
    void* symbol = ldapLibraryLoads(why) ? dlsym(libraryHandle, name) : nullptr;
    if (!symbol) {
        std::fprintf(stderr, "%s: %s\n", name, why.empty() ? dlerror() : why.c_str());
        std::abort();
    }
    return symbol;
}

}  // namespace

bool ldapLibraryLoads(std::string& why) {
    std::lock_guard lock(libraryMutex);
    if (!libraryHandle) {
        libraryHandle = dlopen(libraryName, RTLD_NOW | RTLD_LOCAL);
        if (!libraryHandle) {
            const char* error = dlerror();
            loadFailure = error ? error : libraryName;
        }
    }
    why = libraryHandle ? std::string() : loadFailure;
    return libraryHandle != nullptr;
}

void setLdapLibraryName(const char* soname) {
    std::lock_guard lock(libraryMutex);
    libraryHandle = nullptr;  // not closed: functions found in it may still be called
    libraryName = soname;
}

}  // namespace nw

#define FORWARD(ret, name, params, args)                                                     \
    extern "C" ret name params {                                                             \
        static const auto real = reinterpret_cast<decltype(&name)>(nw::symbolOf(#name));     \
        return real args;                                                                    \
    }

FORWARD(int, ldap_abandon_ext, (LDAP *ld, int msgid, LDAPControl **serverctrls, LDAPControl **clientctrls), (ld, msgid, serverctrls, clientctrls))
FORWARD(void, ldap_attributetype_free, (LDAPAttributeType * at), (at))
FORWARD(LDAPControl *, ldap_control_find, (const char *oid, LDAPControl **ctrls, LDAPControl ***nextctrlp), (oid, ctrls, nextctrlp))
FORWARD(void, ldap_control_free, (LDAPControl *ctrl), (ctrl))
FORWARD(void, ldap_controls_free, (LDAPControl **ctrls), (ctrls))
FORWARD(int, ldap_create_assertion_control, (LDAP *ld, char *filter, int iscritical, LDAPControl **ctrlp), (ld, filter, iscritical, ctrlp))
FORWARD(int, ldap_create_page_control, (LDAP *ld, ber_int_t pagesize, struct berval *cookie, int iscritical, LDAPControl **ctrlp), (ld, pagesize, cookie, iscritical, ctrlp))
FORWARD(char *, ldap_err2string, (int err), (err))
FORWARD(char *, ldap_first_attribute, (LDAP *ld, LDAPMessage *entry, BerElement **ber), (ld, entry, ber))
FORWARD(LDAPMessage *, ldap_first_message, (LDAP *ld, LDAPMessage *chain), (ld, chain))
FORWARD(LDAPMessage *, ldap_first_entry, (LDAP *ld, LDAPMessage *chain), (ld, chain))
FORWARD(void, ldap_free_urldesc, (LDAPURLDesc *ludp), (ludp))
FORWARD(int, ldap_get_attribute_ber, (LDAP *ld, LDAPMessage *e, BerElement *ber, struct berval *attr, struct berval **vals), (ld, e, ber, attr, vals))
FORWARD(int, ldap_get_dn_ber, (LDAP *ld, LDAPMessage *e, BerElement **berout, struct berval *dn), (ld, e, berout, dn))
FORWARD(int, ldap_get_option, (LDAP *ld, int option, void *outvalue), (ld, option, outvalue))
FORWARD(struct berval **, ldap_get_values_len, (LDAP *ld, LDAPMessage *entry, const char *target), (ld, entry, target))
FORWARD(int, ldap_initialize, (LDAP **ldp, const char *url), (ldp, url))
FORWARD(void, ldap_memfree, (void* p), (p))
FORWARD(int, ldap_modify_ext, (LDAP *ld, const char *dn, LDAPMod **mods, LDAPControl **serverctrls, LDAPControl **clientctrls, int *msgidp), (ld, dn, mods, serverctrls, clientctrls, msgidp))
FORWARD(int, ldap_modify_ext_s, (LDAP *ld, const char *dn, LDAPMod **mods, LDAPControl **serverctrls, LDAPControl **clientctrls), (ld, dn, mods, serverctrls, clientctrls))
FORWARD(int, ldap_msgfree, (LDAPMessage *lm), (lm))
FORWARD(int, ldap_msgtype, (LDAPMessage *lm), (lm))
FORWARD(int, ldap_msgid, (LDAPMessage *lm), (lm))
FORWARD(char *, ldap_next_attribute, (LDAP *ld, LDAPMessage *entry, BerElement *ber), (ld, entry, ber))
FORWARD(LDAPMessage *, ldap_next_message, (LDAP *ld, LDAPMessage *msg), (ld, msg))
FORWARD(LDAPMessage *, ldap_next_entry, (LDAP *ld, LDAPMessage *entry), (ld, entry))
FORWARD(void, ldap_objectclass_free, (LDAPObjectClass * oc), (oc))
FORWARD(int, ldap_parse_pageresponse_control, (LDAP *ld, LDAPControl *ctrl, ber_int_t *count, struct berval *cookie), (ld, ctrl, count, cookie))
FORWARD(int, ldap_parse_result, (LDAP *ld, LDAPMessage *res, int *errcodep, char **matcheddnp, char **diagmsgp, char ***referralsp, LDAPControl ***serverctrls, int freeit), (ld, res, errcodep, matcheddnp, diagmsgp, referralsp, serverctrls, freeit))
FORWARD(int, ldap_result, (LDAP *ld, int msgid, int all, struct timeval *timeout, LDAPMessage **result), (ld, msgid, all, timeout, result))
FORWARD(int, ldap_sasl_bind_s, (LDAP *ld, const char *dn, const char *mechanism, struct berval *cred, LDAPControl **serverctrls, LDAPControl **clientctrls, struct berval **servercredp), (ld, dn, mechanism, cred, serverctrls, clientctrls, servercredp))
FORWARD(int, ldap_search_ext, (LDAP *ld, const char *base, int scope, const char *filter, char **attrs, int attrsonly, LDAPControl **serverctrls, LDAPControl **clientctrls, struct timeval *timeout, int sizelimit, int *msgidp), (ld, base, scope, filter, attrs, attrsonly, serverctrls, clientctrls, timeout, sizelimit, msgidp))
FORWARD(int, ldap_search_ext_s, (LDAP *ld, const char *base, int scope, const char *filter, char **attrs, int attrsonly, LDAPControl **serverctrls, LDAPControl **clientctrls, struct timeval *timeout, int sizelimit, LDAPMessage **res), (ld, base, scope, filter, attrs, attrsonly, serverctrls, clientctrls, timeout, sizelimit, res))
FORWARD(int, ldap_set_option, (LDAP *ld, int option, const void *invalue), (ld, option, invalue))
FORWARD(int, ldap_start_tls_s, (LDAP *ld, LDAPControl **serverctrls, LDAPControl **clientctrls), (ld, serverctrls, clientctrls))
FORWARD(LDAPAttributeType *, ldap_str2attributetype, (const char * s, int * code, const char ** errp, const unsigned flags), (s, code, errp, flags))
FORWARD(LDAPObjectClass *, ldap_str2objectclass, (const char * s, int * code, const char ** errp, const unsigned flags), (s, code, errp, flags))
FORWARD(int, ldap_unbind_ext_s, (LDAP *ld, LDAPControl **serverctrls, LDAPControl **clientctrls), (ld, serverctrls, clientctrls))
FORWARD(int, ldap_url_parse, (const char *url, LDAPURLDesc **ludpp), (url, ludpp))
FORWARD(void, ldap_value_free_len, (struct berval **vals), (vals))
