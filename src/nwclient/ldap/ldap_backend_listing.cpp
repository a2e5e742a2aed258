#include "nwclient/ldap/ldap_backend_impl.h"
#include "nwclient/ldap/ldap_diagnostics.h"
#include "nwclient/ldap/ldap_listing_split.h"

namespace nw::ldapbackend {

namespace {

// LDAP_MATCHING_RULE_IN_CHAIN: the member relation followed through nested groups.
constexpr const char* InChainRule = "1.2.840.113556.1.4.1941";

// Matches entries of any of the classes (never an empty list).
std::string anyClassFilter(const std::vector<std::string>& classes) {
    if (classes.size() == 1) return equalityFilter("objectClass", classes[0]);
    std::string filter = "(|";
    for (const std::string& c : classes) filter += equalityFilter("objectClass", c);
    return filter + ")";
}

}  // namespace

// ---- listing and search ----

// Unpaged where the cursor asks for it: slapd answers a paged search by walking every entry of its
// index for the filter (gathering a class of 30 in a directory of 200,000 cost it a tenth of a
// second), an unpaged one by walking the entries below the base.
int LdapBackend::requestPage(const std::string& baseDn, int scope, const std::string& filter, berval* cookie,
                             bool paged, int& msgid) {
    if (!ld_) return noConnection();
    paged = paged && pagingSupported_;
    LDAPControl* pageControl = nullptr;
    if (paged && ldap_create_page_control(ld_, pageSize_, cookie, 0, &pageControl) != LDAP_SUCCESS)
        return LDAP_NO_MEMORY;
    Control pageOwner(pageControl);
    if (!cookie || cookie->bv_len == 0) countSearchStarted();
    LDAPControl* serverControls[] = {pageControl, nullptr};
    // A page may take the server Timeout= at most; a whole answer has no such bound on the server
    // (a search of a large tree takes longer), only each of its entries on the way here.
    timeval timeout{timeoutSeconds_, 0};
    return ldap_search_ext(ld_, baseDn.c_str(), scope, filter.c_str(), const_cast<char**>(SUMMARY_ATTRS), 0,
                           paged ? serverControls : nullptr, nullptr, paged ? &timeout : nullptr, 0, &msgid);
}

int LdapBackend::receivePage(int msgid, bool paged, berval& cookie, const std::function<void()>& cookieArrived,
                             std::vector<ObjectSummary>& page, bool fullNames, ObjectId excluded, bool& complete) {
    complete = true;
    if (!ld_) return noConnection();
    // A page comes whole; an unpaged answer a page's worth of entries at a time (libldap keeps
    // what arrives meanwhile), so what is taken apart at once stays bounded however large it is.
    const bool whole = paged && pagingSupported_;
    std::vector<Message> messages;
    LDAPMessage* end = nullptr;
    size_t entries = 0;
    while (!end && (whole ? messages.empty() : entries < static_cast<size_t>(pageSize_))) {
        LDAPMessage* raw = nullptr;
        timeval timeout{timeoutSeconds_, 0};
        int got = ldap_result(ld_, msgid, whole ? LDAP_MSG_ALL : LDAP_MSG_ONE, &timeout, &raw);
        Message message(raw);
        if (got == 0) {
            giveUp();
            return LDAP_TIMEOUT;
        }
        if (got < 0) {
            int error = LDAP_SERVER_DOWN;
            ldap_get_option(ld_, LDAP_OPT_RESULT_CODE, &error);
            return error == LDAP_SUCCESS ? LDAP_SERVER_DOWN : error;
        }
        for (LDAPMessage* m = ldap_first_message(ld_, message.get()); m; m = ldap_next_message(ld_, m)) {
            if (ldap_msgtype(m) == LDAP_RES_SEARCH_RESULT) end = m;
            if (ldap_msgtype(m) == LDAP_RES_SEARCH_ENTRY) ++entries;
        }
        messages.push_back(std::move(message));
    }
    complete = end != nullptr;
    // The result first: the next page is asked for before this one is taken apart, so the
    // server sends while we work.
    int resultCode = LDAP_SUCCESS;
    LDAPControl** returned = nullptr;
    int parse = end ? ldap_parse_result(ld_, end, &resultCode, nullptr, nullptr, nullptr, &returned, 0) : LDAP_SUCCESS;
    Controls returnedOwner(returned);
    if (parse != LDAP_SUCCESS) return parse;
    if (end) {
        ber_memfree(cookie.bv_val);
        cookie = {0, nullptr};
    }
    if (resultCode != LDAP_SUCCESS && !isLimit(resultCode)) return resultCode;
    if (end && resultCode == LDAP_SUCCESS) {
        if (LDAPControl* response = ldap_control_find(LDAP_CONTROL_PAGEDRESULTS, returned, nullptr)) {
            ber_int_t estimate = 0;
            if (ldap_parse_pageresponse_control(ld_, response, &estimate, &cookie) != LDAP_SUCCESS) {
                cookie = {0, nullptr};
                return LDAP_DECODING_ERROR;
            }
        }
        if (cookie.bv_len > 0) cookieArrived();
    }
    // Entries before a size limit are as good as any; the cursor asks for the rest.
    for (const Message& message : messages)
        for (LDAPMessage* e = ldap_first_entry(ld_, message.get()); e; e = ldap_next_entry(ld_, e)) {
            bool ok = false;
            std::string badDn;
            ObjectId id = registerEntry(e, ok, &badDn);
            if (!ok && !badDn.empty()) noteBadEntry(badDn);
            if (!ok || id == excluded) continue;
            ObjectSummary s = nodes_[static_cast<size_t>(id)].summary;
            if (fullNames) s.name = nameOfDn(dnOf(id));
            page.push_back(std::move(s));
        }
    return resultCode;
}

void LdapBackend::logListingFailure(int rc, const std::string& baseDn, bool incomplete) {
    if (incomplete) nw::ldap::logIncompleteListing(ld_, rc, baseDn);
    else nw::ldap::logLdapReadFailure(isConnectionLost(rc) || rc == LDAP_TIMEOUT ? nullptr : ld_, rc, baseDn);
}

void LdapBackend::abandon(int msgid) {
    if (ld_) ldap_abandon_ext(ld_, msgid, nullptr, nullptr);
}

namespace {

// Entries whose naming values start with any of the prefixes.
std::string prefixClause(const std::vector<std::string>& prefixes) {
    std::string clause = "(|";
    for (const std::string& p : prefixes)
        for (const char* type : {"cn", "ou", "o", "uid"}) {
            clause += '(';
            clause += type;
            clause += '=';
            clause += escapeFilterValue(p);
            clause += "*)";
        }
    return clause + ")";
}

// Characters that start most names, for a part that hit the limit before it sent anything.
constexpr const char* FIRST_CHARACTERS = "abcdefghijklmnopqrstuvwxyz0123456789";
// Beyond these a server limit is not worked around (each part is one more request).
constexpr size_t MAX_PARTS = 5000;
constexpr size_t MAX_SAMPLE = 50000;

}  // namespace

bool isLimit(int rc) {
    return rc == LDAP_SIZELIMIT_EXCEEDED || rc == LDAP_ADMINLIMIT_EXCEEDED || rc == LDAP_UNWILLING_TO_PERFORM;
}

LdapCursor::LdapCursor(LdapBackend& backend, ObjectId base, int scope, std::string filter, bool fullNames)
    : backend_(backend), base_(base), scope_(scope), fullNames_(fullNames),
      pagedFirst_(backend.pagesFirst() || scope != LDAP_SCOPE_SUBTREE) {
    const std::string& baseDn = backend_.dnOf(base_);
    if (baseDn.empty() && !backend_.topNamingContexts().empty()) {
        // A tree without Base=: below its root stand the server's naming contexts.
        for (const std::string& context : backend_.topNamingContexts())
            parts_.push_back(Part{context, scope == LDAP_SCOPE_ONELEVEL ? LDAP_SCOPE_BASE : scope, filter, {}, {},
                                  pagedFirst_});
    } else {
        parts_.push_back(Part{baseDn, scope, std::move(filter), {}, {}, pagedFirst_});
    }
}

LdapCursor::~LdapCursor() {
    if (msgid_ >= 0 && generation_ == backend_.generation()) backend_.abandon(msgid_);
    ber_memfree(cookie_.bv_val);
}

int LdapCursor::request() {
    generation_ = backend_.generation();
    const Part& part = parts_.back();
    int rc = backend_.requestPage(part.baseDn, part.scope, part.filter, &cookie_, part.paged, msgid_);
    if (rc != LDAP_SUCCESS) msgid_ = -1;
    return rc;
}

void LdapCursor::noteNames(const std::vector<ObjectSummary>& got) {
    received_ += got.size();
    for (const ObjectSummary& s : got)
        if (sample_.size() < MAX_SAMPLE) sample_.push_back(lowerName(backend_.ownName(s.id)));
}

bool LdapCursor::split() {
    Part part = std::move(parts_.back());
    parts_.pop_back();
    std::vector<std::vector<std::string>> planned = planSplit(std::move(sample_), received_, part.within, part.taken);
    if (planned.empty() && received_ == 0 && part.within.empty() && part.taken.empty())
        for (const char* c = FIRST_CHARACTERS; *c; ++c) planned.push_back({std::string(1, *c)});
    if (planned.empty() || partsRun_ + parts_.size() + planned.size() + 1 > MAX_PARTS) {
        parts_.push_back(std::move(part));
        return false;
    }
    // The last planned part goes with the rest (names that start otherwise, or entries without
    // such a naming value), unless it is the only one: the rest must be smaller than the part.
    if (planned.size() > 1) planned.pop_back();
    // The parts are planned to fit under the limit: unpaged, each costs the server what it holds.
    Part rest{part.baseDn, part.scope, {}, part.within, part.taken, backend_.pagesFirst()};
    std::vector<std::string> all;
    for (const std::vector<std::string>& prefixes : planned) {
        all.insert(all.end(), prefixes.begin(), prefixes.end());
        rest.taken.insert(prefixes.begin(), prefixes.end());
    }
    rest.filter = "(&" + part.filter + "(!" + prefixClause(all) + "))";
    // First on the stack runs last.
    parts_.push_back(std::move(rest));
    for (auto it = planned.rbegin(); it != planned.rend(); ++it)
        parts_.push_back(Part{part.baseDn, part.scope, "(&" + part.filter + prefixClause(*it) + ")",
                              std::set<std::string>(it->begin(), it->end()), part.taken, backend_.pagesFirst()});
    return true;
}

int LdapCursor::fetchPage(std::vector<ObjectSummary>& got, bool& complete) {
    complete = true;
    int rc = LDAP_SUCCESS;
    if (msgid_ < 0) rc = request();
    // A page asked for on a connection that has since been re-opened is gone.
    if (rc == LDAP_SUCCESS && generation_ != backend_.generation()) rc = LDAP_SERVER_DOWN;
    const bool paged = parts_.back().paged;
    if (rc == LDAP_SUCCESS) {
        int msgid = msgid_;
        msgid_ = -1;
        rc = backend_.receivePage(msgid, paged, cookie_, [this] { request(); }, got, fullNames_,
                                  scope_ == LDAP_SCOPE_SUBTREE ? base_ : -1, complete);
        if (rc == LDAP_SUCCESS && !complete) msgid_ = msgid;  // the rest of the answer is still to come
    }
    if (isConnectionLost(rc)) {
        // Only the first page can be asked again: a page cookie dies with its connection.
        int reopened = backend_.reopen();
        if (!started_ && reopened == LDAP_SUCCESS) {
            got.clear();
            rc = request();
            if (rc == LDAP_SUCCESS) {
                int msgid = msgid_;
                msgid_ = -1;
                rc = backend_.receivePage(msgid, paged, cookie_, [this] { request(); }, got, fullNames_,
                                          scope_ == LDAP_SCOPE_SUBTREE ? base_ : -1, complete);
                if (rc == LDAP_SUCCESS && !complete) msgid_ = msgid;
            }
        }
    }
    started_ = true;
    return rc;
}

NWDSCCODE LdapCursor::finish(NWDSCCODE status, std::vector<ObjectSummary>& page) {
    if (msgid_ >= 0 && generation_ == backend_.generation()) backend_.abandon(msgid_);
    msgid_ = -1;
    done_ = true;
    // The entries got so far go out first; the failure comes with the next call.
    if (!page.empty() && status != SUCCESSFUL) {
        deferred_ = status;
        return SUCCESSFUL;
    }
    return status;
}

NWDSCCODE LdapCursor::next(std::vector<ObjectSummary>& page) {
    page.clear();
    if (done_) {
        NWDSCCODE rc = deferred_;
        deferred_ = SUCCESSFUL;
        return rc;
    }
    if (!started_) backend_.clearProblemDetail();
    while (page.empty()) {
        if (!backend_.knows(base_)) return finish(ERR_NO_SUCH_ENTRY, page);
        std::vector<ObjectSummary> got;
        bool complete = true;
        int rc = fetchPage(got, complete);
        if (rc != LDAP_SUCCESS && !isLimit(rc)) {
            backend_.logListingFailure(rc, parts_.back().baseDn, false);
            return finish(ndsStatusFromLdap(rc), page);
        }
        noteNames(got);
        for (ObjectSummary& s : got)
            if (seen_.insert(s.id).second) page.push_back(std::move(s));
        if (rc == LDAP_SUCCESS && !complete) continue;
        if (rc != LDAP_SUCCESS) {
            ber_memfree(cookie_.bv_val);
            cookie_ = {0, nullptr};
            const std::string baseDn = parts_.back().baseDn;
            // Stopped early: the rest of this part comes in smaller parts; one that cannot be
            // split goes once more paged, which a server may allow further (what came already is
            // not handed out twice).
            if (!split()) {
                Part& part = parts_.back();
                if (part.paged || !backend_.pagingSupported()) {
                    backend_.logListingFailure(rc, baseDn, true);
                    return finish(TARVEL_LDAP_INCOMPLETE, page);
                }
                part.paged = true;
            }
        } else if (cookie_.bv_len == 0) {
            parts_.pop_back();
        } else {
            continue;
        }
        ++partsRun_;
        sample_.clear();
        received_ = 0;
        if (parts_.empty())
            return finish(backend_.problemDetail().empty() ? SUCCESSFUL : TARVEL_LDAP_INCOMPLETE, page);
    }
    return SUCCESSFUL;
}

NWDSCCODE LdapBackend::list(ObjectId container, bool containersOnly, std::unique_ptr<ObjectCursor>& cursor) {
    if (!knows(container)) return ERR_NO_SUCH_ENTRY;
    snapshots_.clear();  // a new action: what other clients changed meanwhile is read afresh
    trimDetails();
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
    trimDetails();
    std::string ldapName = map_.ldapAttribute(attribute);
    std::string filter;
    if (toLowerAscii(ldapName) == "objectclass") {
        filter = anyClassFilter(map_.ldapClasses(value));
        // A computer is a user to AD: a search for users leaves the workstations out.
        if (ad_ && toLowerAscii(value) == "user") filter = "(&" + filter + "(!(objectClass=computer)))";
    } else if (syntaxOf(ldapName) == SYN_DIST_NAME) {
        std::string dn;
        if (dnOfName(value, dn) != SUCCESSFUL) {
            // A reference to nothing matches nothing; the search still runs (and ends empty).
            filter = "(&(objectClass=*)(!(objectClass=*)))";
        } else {
            filter = equalityFilter(ldapName, dn);
            // AD's members nest: a group counts as holding whoever its member groups hold.
            if (ad_ && toLowerAscii(ldapName) == "member") filter.insert(filter.find('='), ":" + std::string(InChainRule) + ":");
        }
    } else {
        filter = equalityFilter(ldapName, value);
    }
    if (NWDSCCODE rc = checkStillThere(base)) return rc;
    auto searching = std::make_unique<LdapCursor>(*this, base, LDAP_SCOPE_SUBTREE, filter, true);
    cursor = std::move(searching);
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
