#include "nwclient/ldap/ldap_backend_impl.h"

namespace nw::ldapbackend {
namespace {

// Matches entries of any of the classes (never an empty list).
std::string anyClassFilter(const std::vector<std::string>& classes) {
    if (classes.size() == 1) return equalityFilter("objectClass", classes[0]);
    std::string filter = "(|";
    for (const std::string& c : classes) filter += equalityFilter("objectClass", c);
    return filter + ")";
}

}  // namespace

// ---- listing and search ----

int LdapBackend::requestPage(const std::string& baseDn, int scope, const std::string& filter, berval* cookie,
                             int& msgid) {
    if (!ld_) return LDAP_SERVER_DOWN;
    LDAPControl* pageControl = nullptr;
    if (pagingSupported_ && ldap_create_page_control(ld_, pageSize_, cookie, 0, &pageControl) != LDAP_SUCCESS)
        return LDAP_NO_MEMORY;
    Control pageOwner(pageControl);
    LDAPControl* serverControls[] = {pageControl, nullptr};
    timeval timeout{timeoutSeconds_, 0};
    return ldap_search_ext(ld_, baseDn.c_str(), scope, filter.c_str(), const_cast<char**>(SUMMARY_ATTRS), 0,
                           pagingSupported_ ? serverControls : nullptr, nullptr, &timeout, 0, &msgid);
}

int LdapBackend::receivePage(int msgid, berval& cookie, const std::function<void()>& cookieArrived,
                             std::vector<ObjectSummary>& page, bool fullNames, ObjectId excluded) {
    if (!ld_) return LDAP_SERVER_DOWN;
    LDAPMessage* raw = nullptr;
    timeval timeout{timeoutSeconds_, 0};
    int got = ldap_result(ld_, msgid, LDAP_MSG_ALL, &timeout, &raw);
    Message result(raw);
    if (got == 0) {
        ldap_abandon_ext(ld_, msgid, nullptr, nullptr);
        return LDAP_TIMEOUT;
    }
    if (got < 0) {
        int error = LDAP_SERVER_DOWN;
        ldap_get_option(ld_, LDAP_OPT_RESULT_CODE, &error);
        return error == LDAP_SUCCESS ? LDAP_SERVER_DOWN : error;
    }
    // The result first: a result code of the search itself (a size limit hit part-way) ends the
    // listing as a failure, whatever came before it; and the next page is asked for before this
    // one is taken apart, so the server sends while we work.
    int resultCode = LDAP_SUCCESS;
    LDAPControl** returned = nullptr;
    int parse = ldap_parse_result(ld_, result.get(), &resultCode, nullptr, nullptr, nullptr, &returned, 0);
    Controls returnedOwner(returned);
    if (parse != LDAP_SUCCESS) return parse;
    if (resultCode != LDAP_SUCCESS) return resultCode;
    ber_memfree(cookie.bv_val);
    cookie = {0, nullptr};
    if (LDAPControl* response = ldap_control_find(LDAP_CONTROL_PAGEDRESULTS, returned, nullptr)) {
        ber_int_t estimate = 0;
        if (ldap_parse_pageresponse_control(ld_, response, &estimate, &cookie) != LDAP_SUCCESS) {
            cookie = {0, nullptr};
            return LDAP_DECODING_ERROR;
        }
    }
    if (cookie.bv_len > 0) cookieArrived();
    for (LDAPMessage* e = ldap_first_entry(ld_, result.get()); e; e = ldap_next_entry(ld_, e)) {
        bool ok = false;
        ObjectId id = registerEntry(e, ok);
        if (!ok || id == excluded) continue;
        ObjectSummary s = nodes_[static_cast<size_t>(id)].summary;
        if (fullNames) s.name = nameOfDn(nodes_[static_cast<size_t>(id)].dn);
        page.push_back(std::move(s));
    }
    return LDAP_SUCCESS;
}

void LdapBackend::abandon(int msgid) {
    if (ld_) ldap_abandon_ext(ld_, msgid, nullptr, nullptr);
}

LdapCursor::~LdapCursor() {
    if (msgid_ >= 0 && generation_ == backend_.generation()) backend_.abandon(msgid_);
    ber_memfree(cookie_.bv_val);
}

int LdapCursor::request() {
    generation_ = backend_.generation();
    int rc = backend_.requestPage(backend_.dnOf(base_), scope_, filter_, &cookie_, msgid_);
    if (rc != LDAP_SUCCESS) msgid_ = -1;
    return rc;
}

NWDSCCODE LdapCursor::next(std::vector<ObjectSummary>& page) {
    page.clear();
    while (!done_ && page.empty()) {
        if (!backend_.knows(base_)) {
            done_ = true;
            return ERR_NO_SUCH_ENTRY;
        }
        int rc = LDAP_SUCCESS;
        if (msgid_ < 0) rc = request();
        // A page asked for on a connection that has since been re-opened is gone.
        if (rc == LDAP_SUCCESS && generation_ != backend_.generation()) rc = LDAP_SERVER_DOWN;
        if (rc == LDAP_SUCCESS) {
            int msgid = msgid_;
            msgid_ = -1;
            rc = backend_.receivePage(msgid, cookie_, [this] { request(); }, page, fullNames_,
                                      scope_ == LDAP_SCOPE_SUBTREE ? base_ : -1);
        }
        if (isConnectionLost(rc)) {
            // Only the first page can be asked again: a page cookie dies with its connection.
            int reopened = backend_.reopen();
            if (!started_ && reopened == LDAP_SUCCESS) {
                page.clear();
                rc = request();
                if (rc == LDAP_SUCCESS) {
                    int msgid = msgid_;
                    msgid_ = -1;
                    rc = backend_.receivePage(msgid, cookie_, [this] { request(); }, page, fullNames_,
                                              scope_ == LDAP_SCOPE_SUBTREE ? base_ : -1);
                }
            }
        }
        started_ = true;
        if (rc != LDAP_SUCCESS) {
            if (msgid_ >= 0 && generation_ == backend_.generation()) backend_.abandon(msgid_);
            msgid_ = -1;
            done_ = true;
            page.clear();
            return ndsStatusFromLdap(rc);
        }
        if (cookie_.bv_len == 0) done_ = true;
    }
    return SUCCESSFUL;
}

NWDSCCODE LdapBackend::list(ObjectId container, bool containersOnly, std::unique_ptr<ObjectCursor>& cursor) {
    if (!knows(container)) return ERR_NO_SUCH_ENTRY;
    snapshots_.clear();  // a new action: what other clients changed meanwhile is read afresh
    std::string filter = containersOnly ? anyClassFilter(map_.containerClasses()) : "(objectClass=*)";
    if (NWDSCCODE rc = checkStillThere(container)) return rc;
    cursor = std::make_unique<LdapCursor>(*this, container, LDAP_SCOPE_ONELEVEL, filter, false);
    return SUCCESSFUL;
}

NWDSCCODE LdapBackend::search(ObjectId base, const std::string& attribute, const std::string& value,
                              std::unique_ptr<ObjectCursor>& cursor) {
    if (!knows(base)) return ERR_NO_SUCH_ENTRY;
    // A search may ask for membership values: everything queued goes out first.
    if (NWDSCCODE rc = flushAll()) return rc;
    snapshots_.clear();
    std::string ldapName = map_.ldapAttribute(attribute);
    std::string filter;
    if (toLowerAscii(ldapName) == "objectclass") {
        filter = anyClassFilter(map_.ldapClasses(value));
    } else if (syntaxOf(ldapName) == SYN_DIST_NAME) {
        std::string dn;
        if (dnOfName(value, dn) != SUCCESSFUL) {
            // A reference to nothing matches nothing; the search still runs (and ends empty).
            filter = "(&(objectClass=*)(!(objectClass=*)))";
        } else {
            filter = equalityFilter(ldapName, dn);
        }
    } else {
        filter = equalityFilter(ldapName, value);
    }
    if (NWDSCCODE rc = checkStillThere(base)) return rc;
    cursor = std::make_unique<LdapCursor>(*this, base, LDAP_SCOPE_SUBTREE, filter, true);
    return SUCCESSFUL;
}

NWDSCCODE LdapBackend::checkStillThere(ObjectId container) {
    if (container == ROOT_ID) return SUCCESSFUL;
    std::string name;
    ObjectSummary summary;
    nodes_[static_cast<size_t>(container)].described = false;
    return describe(container, name, summary);
}

}  // namespace nw::ldapbackend
