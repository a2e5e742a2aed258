// The LDAP backend's class, shared by the files that implement it by concern: connection and
// server (ldap_backend.cpp), names (ldap_backend_names.cpp), listings and searches
// (ldap_backend_listing.cpp), attribute reads (ldap_backend_attributes.cpp) and changes
// (ldap_backend_changes.cpp). Private to src/nwclient/ldap; callers use ldap_backend.h.
#pragma once

#include "nwclient/backend.h"
#include "nwclient/ldap/ldap_escape.h"
#include "nwclient/ldap/ldap_map.h"
#include "nwclient/ldap/ldap_pending_queue.h"
#include "nwclient/nwclient.h"
#include "platform/text.h"

#include <ldap.h>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace nw::ldapbackend {

using ::text::toLowerAscii;

using namespace nw::ldap;

// ---- ownership of what libldap allocates ----
struct MsgFree {
    void operator()(LDAPMessage* m) const { ldap_msgfree(m); }
};
using Message = std::unique_ptr<LDAPMessage, MsgFree>;
struct ControlFree {
    void operator()(LDAPControl* c) const { ldap_control_free(c); }
};
using Control = std::unique_ptr<LDAPControl, ControlFree>;
struct ControlsFree {
    void operator()(LDAPControl** c) const { ldap_controls_free(c); }
};
using Controls = std::unique_ptr<LDAPControl*, ControlsFree>;
struct ValuesFree {
    void operator()(berval** v) const { ldap_value_free_len(v); }
};
using Values = std::unique_ptr<berval*, ValuesFree>;
struct MemFree {
    void operator()(char* p) const { ldap_memfree(p); }
};
using LdapText = std::unique_ptr<char, MemFree>;

// Values of one attribute of an entry, as the server sends them.
std::vector<std::string> textValues(LDAP* ld, LDAPMessage* entry, const char* attribute);
std::string firstValue(LDAP* ld, LDAPMessage* entry, const char* attribute);
// "20261207093000Z" (fractions and offsets allowed) to seconds since 1970, UTC, and back.
bool parseGeneralizedTime(const std::string& s, int64_t& seconds);
std::string formatGeneralizedTime(int64_t seconds);

// A 128-bit hash of a key text (two independent 64-bit FNV-1a): among a school's names a
// collision does not happen, and 16 bytes stand for a text of 50 to 100.
struct HashKey {
    uint64_t a = 0, b = 0;
    bool operator==(const HashKey& o) const { return a == o.a && b == o.b; }
};
HashKey hashKeyOf(std::string_view text);
struct HashKeyHash {
    size_t operator()(const HashKey& k) const { return static_cast<size_t>(k.a); }
};

// Key texts (DN keys) of one attribute's values, kept as their hashes: a group's side may hold
// tens of thousands. Nothing is allocated until the first value.
class KeySet {
public:
    void insert(std::string_view key) { set().insert(hashKeyOf(key)); }
    void erase(std::string_view key) {
        if (keys_) keys_->erase(hashKeyOf(key));
    }
    size_t count(std::string_view key) const { return keys_ ? keys_->count(hashKeyOf(key)) : 0; }
    size_t size() const { return keys_ ? keys_->size() : 0; }
    void clear() { keys_.reset(); }

private:
    std::unordered_set<HashKey, HashKeyHash>& set() {
        if (!keys_) keys_ = std::make_unique<std::unordered_set<HashKey, HashKeyHash>>();
        return *keys_;
    }
    std::unique_ptr<std::unordered_set<HashKey, HashKeyHash>> keys_;
};

// A short list of texts that many entries hold alike: an entry's lower-cased object classes, a
// user's own membership values (after a stop, every user of the class names the same group).
// Each distinct list is kept once for the process and an entry holds a pointer to it; a change
// makes (or finds) the changed list.
class SharedList {
public:
    using const_iterator = std::vector<std::string>::const_iterator;
    SharedList() = default;
    SharedList(std::vector<std::string> texts) { assign(std::move(texts)); }
    SharedList& operator=(std::vector<std::string> texts) {
        assign(std::move(texts));
        return *this;
    }
    bool empty() const { return list_->empty(); }
    size_t size() const { return list_->size(); }
    const_iterator begin() const { return list_->begin(); }
    const_iterator end() const { return list_->end(); }
    operator const std::vector<std::string>&() const { return *list_; }
    void clear() { list_ = &none(); }
    void assign(std::vector<std::string> texts);
    void push_back(std::string text);
    void erase(const_iterator at);

private:
    static const std::vector<std::string>& none();
    const std::vector<std::string>* list_ = &none();
};

// What the backend knows of one object besides its DN (kept by the NodeTable): the summary and
// the classes last read, and where it hangs in the resolved names.
struct Node {
    ObjectSummary summary;
    SharedList objectClasses;  // lower-cased; empty = not read yet
    bool described = false;
    bool underParent = false;  // in the resolved-components cache, under childKey
    HashKey childKey;
};

// Every object the backend ever handed out keeps its id for the backend's life; what is kept for
// each is its DN, packed, and a 128-bit hash of its DN key to find it again (about 130 bytes per
// object). The rest (summary, classes, where it hangs in the resolved names) is a cache of
// details that forgetDetails() drops, so listing one big container after another does not pile
// up memory; dropped details are read again when needed.
class NodeTable {
public:
    size_t size() const { return starts_.size(); }
    // A new object; its id is the table's size before.
    ObjectId add(std::string_view dn, std::string_view dnKey);
    // The id of a DN key, or -1.
    ObjectId find(std::string_view dnKey) const;
    // The details of an object, made on first use.
    Node& operator[](size_t id) const;
    std::string_view dnAt(size_t id) const;
    size_t detailCount() const { return details_.size(); }
    // Drops the details of every object but the root.
    void forgetDetails();

private:
    // The DNs one after the other, in blocks that never move or grow past their first size (a
    // single growing text would double and copy itself: twice the room at the moment of the copy).
    static constexpr size_t BLOCK_BYTES = 64 * 1024;
    std::vector<std::string> blocks_;
    std::vector<uint64_t> starts_;              // block index << 32 | offset in it, for each DN
    std::unordered_map<HashKey, ObjectId, HashKeyHash> ids_;
    mutable std::unordered_map<size_t, Node> details_;
};

struct AttributeInfo {
    std::string name;       // as the schema spells it
    std::string syntaxOid;  // own or inherited
    std::string supName;
};

struct ClassInfo {
    std::vector<std::string> sup;   // lower-cased
    std::set<std::string> allowed;  // lower-cased names and OIDs of MUST and MAY
};

// With a user's own membership values (a few each), so a stop or go that follows a listing or
// search needs no read per user.
inline const char* const SUMMARY_ATTRS[] = {"objectClass",     "structuralObjectClass", "modifyTimestamp",
                                     "createTimestamp", "numSubordinates",       "subordinateCount",
                                     "groupMembership", "securityEquals",        nullptr};

inline const char* const NAMING_ATTRS[] = {"cn", "ou", "o", "c", "l", "dc", "uid", "st"};

inline const std::set<std::string> MEMBERSHIP_ATTRS = {"groupmembership", "securityequals", "equivalenttome"};
inline const std::set<std::string> DN_MEMBERSHIP_ATTRS = {"member", "groupmembership", "securityequals", "equivalenttome"};

class LdapBackend;

// What an Active Directory server (Windows or Samba) lists among its root DSE's supportedCapabilities.
inline const char* const AD_CAPABILITY = "1.2.840.113556.1.4.800";

// Result codes with which a server ends a listing or search early: its size limit, an
// administrative limit, or paging refused.
bool isLimit(int resultCode);

// A listing or subtree search. When the server stops one early (its size limit for the
// operator), the cursor gets the rest by itself: it asks again for parts of the request, split by
// the first characters of the names already received, splits again a part that still hits the
// limit, and drops entries seen twice. Only when that cannot complete (or an entry's name cannot
// be handed out) does it end with TARVEL_LDAP_INCOMPLETE, after every entry it could get.
class LdapCursor : public ObjectCursor {
public:
    LdapCursor(LdapBackend& backend, ObjectId base, int scope, std::string filter, bool fullNames);
    ~LdapCursor() override;
    NWDSCCODE next(std::vector<ObjectSummary>& page) override;

private:
    struct Part {
        std::string baseDn;
        int scope = LDAP_SCOPE_ONELEVEL;
        std::string filter;
        std::set<std::string> within;  // lower-cased; a naming value in it starts with one of them
        std::set<std::string> taken;   // prefixes the filter leaves out (they have parts of their own)
        bool paged = false;
    };
    int request();
    int fetchPage(std::vector<ObjectSummary>& got, bool& complete);
    // After the server stopped the current part early: queues its sub-parts in its place; false
    // (the part kept) when it cannot be split further.
    bool split();
    void noteNames(const std::vector<ObjectSummary>& got);
    NWDSCCODE finish(NWDSCCODE status, std::vector<ObjectSummary>& page);

    LdapBackend& backend_;
    ObjectId base_;
    int scope_;
    bool fullNames_;
    // A listing starts paged: the entries come in the order they were added, from which the parts
    // under a size limit are planned best. A search starts unpaged, as cheap for the server as
    // the base's subtree.
    bool pagedFirst_;
    std::vector<Part> parts_;            // still to run; the current one is at the back
    std::vector<std::string> sample_;    // lower-cased names the current part has sent so far
    size_t received_ = 0;                // entries the current part has sent so far
    size_t partsRun_ = 0;
    std::unordered_set<ObjectId> seen_;
    berval cookie_{0, nullptr};
    int msgid_ = -1;          // the page asked for and not yet received
    uint64_t generation_ = 0; // of the connection it was asked on
    bool started_ = false;
    bool done_ = false;
    NWDSCCODE deferred_ = SUCCESSFUL;  // a failure to report after the entries before it
};

class LdapBackend : public DirectoryBackend {
public:
    NWCCODE open(const ClientConfig& config);
    ~LdapBackend() override {
        if (ld_) sendQueueOnClose();  // bounded: what cannot be sent in time is dropped
        if (ld_) ldap_unbind_ext_s(ld_, nullptr, nullptr);
        if (stalled_) ldap_unbind_ext_s(stalled_, nullptr, nullptr);
        std::fill(password_.begin(), password_.end(), '\0');
    }

    std::string serverName() override { return serverName_; }
    uint32_t membershipPlaces() const override { return ad_ ? PLACE_MEMBER : PLACES_ALL; }
    std::string loginAttribute() const override { return ad_ ? "sAMAccountName" : "CN"; }
    NWDSCCODE resolve(const std::vector<std::string>& componentsFromRoot, ObjectId& id) override;
    // Every level of every name in one round of base reads sent together.
    void resolveMany(const std::vector<std::vector<std::string>>& namesFromRoot, std::vector<ObjectId>& ids,
                     std::vector<NWDSCCODE>& statuses) override;
    NWDSCCODE describe(ObjectId id, std::string& fullName, ObjectSummary& summary) override;
    NWDSCCODE fullNameOf(ObjectId id, std::string& fullName) override;
    NWDSCCODE list(ObjectId container, bool containersOnly, std::unique_ptr<ObjectCursor>& cursor) override;
    NWDSCCODE search(ObjectId base, const std::string& attribute, const std::string& value,
                     std::unique_ptr<ObjectCursor>& cursor) override;
    NWDSCCODE readAttribute(ObjectId id, const std::string& attribute, Attribute& out) override;
    NWDSCCODE attributeSyntax(const std::string& attribute, uint32_t& syntax) override;
    NWDSCCODE modify(ObjectId id, const std::vector<Change>& changes) override;
    NWDSCCODE addSecurityEquivalence(ObjectId user, ObjectId group) override;
    NWDSCCODE removeSecurityEquivalence(ObjectId user, ObjectId group) override;
    NWDSCCODE changeUserSides(ObjectId group, bool add, const std::vector<ObjectId>& users, const BatchAnswer& answer,
                              const BatchCancel& cancel) override;
    NWDSCCODE changeMembers(ObjectId group, bool add, const std::vector<ObjectId>& users, const BatchAnswer& answer,
                            const BatchCancel& cancel) override;
    NWDSCCODE readStream(ObjectId id, const std::string& attribute, std::string& contents) override;
    std::vector<std::string> skippedValues() override { return skipped_; }
    NWDSCCODE removeSkippedValue(ObjectId id, const std::string& attribute, const std::string& shown) override;
    NWCCODE serverDateTime(uint8_t dateTime[7]) override;
    std::vector<VolumeInfo> volumes() override { return {}; }
    NWCCODE effectiveRights(const std::string&, const std::string&, uint16_t& rights) override {
        rights = 0;
        return INVALID_PATH;  // an LDAP tree has no volumes
    }

    // ---- used by the cursor ----
    // Asks for one page of a paged search, or (paged false) for the whole search; msgid
    // identifies the answer.
    int requestPage(const std::string& baseDn, int scope, const std::string& filter, berval* cookie, bool paged,
                    int& msgid);
    // Receives it: the new cookie replaces the old one (cookieArrived runs as soon as it is known,
    // before the entries are taken apart); entries are registered as nodes and summarised.
    // A result code that stops the search early (a size limit) still comes with the entries before it.
    // A whole search comes in pieces as they arrive: complete is false while its result is still
    // to come (rc LDAP_SUCCESS).
    int receivePage(int msgid, bool paged, berval& cookie, const std::function<void()>& cookieArrived,
                    std::vector<ObjectSummary>& page, bool fullNames, ObjectId excluded, bool& complete);
    // Whether a search starts paged: AD answers an unpaged one with at most 1,000 entries.
    bool pagesFirst() const { return ad_ && pagingSupported_ && pageSizeSet_; }
    bool pagingSupported() const { return pagingSupported_; }
    // The object's own name (its RDN value).
    const std::string& ownName(ObjectId id) const { return nodes_[static_cast<size_t>(id)].summary.name; }
    // An entry whose name holds NUL, CR or LF is never handed out; the first one of the running
    // listing or search is kept here (its DN, escaped) for the operator to fix.
    void noteBadEntry(const std::string& dn) {
        if (problemDetail_.empty()) problemDetail_ = dn;
    }
    std::string problemDetail() override { return problemDetail_; }
    std::string distinguishedNameOf(ObjectId id) override { return knows(id) && id != ROOT_ID ? dnOf(id) : std::string(); }
    std::string fullNameOfDistinguishedName(const std::string& dn) override;
    void clearProblemDetail() { problemDetail_.clear(); }
    // A listing's or search's failure for the diagnostics log, with the server's words from the
    // answer just taken apart; `incomplete`: the server's limit ended even the smallest parts.
    void logListingFailure(int rc, const std::string& baseDn, bool incomplete);
    void abandon(int msgid);
    uint64_t generation() const { return generation_; }
    // A connection again after it was lost or given up. While a given-up connection has neither
    // answered nor had Timeout= pass since, nothing is sent: LDAP_TIMEOUT.
    int reopen();
    // A request got no answer in time: the connection is set aside and nothing more is sent on
    // it, so the rest of the running job fails at once instead of waiting for each request.
    void giveUp();
    // What a request finds when there is no connection to send on.
    int noConnection() const { return stalled_ ? LDAP_TIMEOUT : LDAP_SERVER_DOWN; }
    // The server's naming contexts that are not below another one (nor its monitor or
    // configuration): what stands below the root of a tree without Base=.
    const std::vector<std::string>& topNamingContexts() const { return topNamingContexts_; }
    std::string dnOf(ObjectId id) const { return std::string(nodes_.dnAt(static_cast<size_t>(id))); }
    // At the start of a listing or search: once many objects have details, they go (ids stay).
    void trimDetails();
    bool knows(ObjectId id) const { return id >= 0 && static_cast<size_t>(id) < nodes_.size(); }
    int pageSize() const { return pageSize_; }

private:
    NWCCODE connect();
    NWCCODE connectAndBind();
    NWCCODE readRootDse();
    void readSchema(const std::string& subschemaDn);
    int withRetry(const std::function<int()>& op);

    ObjectId registerDn(const std::string& dn, std::string key);
    // ok is false for an entry that cannot be handed out (its DN does not parse, or a name part
    // holds NUL, CR or LF: then badDn, escaped, if asked for).
    ObjectId registerEntry(LDAPMessage* entry, bool& ok, std::string* badDn = nullptr);
    // The parent's id of an entry's RDNs, its unknown ancestors registered; -1 outside the tree.
    ObjectId parentOf(const std::vector<Rdn>& rdns);
    struct SummaryValues {
        std::vector<std::string> classes;
        std::string structural, count, modified, created;
        std::vector<std::string> groupMembership, securityEquals;
    };
    bool readSummary(LDAPMessage* entry, std::string& dn, SummaryValues& out);
    void fillSummary(Node& node, LDAPMessage* entry);
    void fillSummary(Node& node, const SummaryValues& values);
    std::string nameOfDn(const std::string& dn) const;
    std::string nameOfRdns(const std::vector<Rdn>& rdns) const;
    NWDSCCODE dnOfName(const std::string& fullName, std::string& dn);
    // Describes a container afresh before a listing or search below it: an empty page from a
    // missing base would look like no objects.
    NWDSCCODE checkStillThere(ObjectId container);
    // Base reads of many DNs, sent together (a window in flight); one result and code per DN.
    // With alternatives > 1 the DNs come in groups of that many, the likeliest first: once one
    // of a group is found, the later ones are not waited for (their code: no such object).
    void readMany(const std::vector<std::string>& dns, const char* const* attrs, std::vector<Message>& results,
                  std::vector<int>& codes, size_t alternatives = 1);
    NWDSCCODE ensureClasses(ObjectId id);
    bool classesAllow(const std::vector<std::string>& classes, const std::string& attribute) const;
    const AttributeInfo* attributeInfo(const std::string& ldapName) const;
    uint32_t syntaxOf(const std::string& ldapName) const;
    int baseRead(const std::string& dn, const char* const* attrs, Message& result);
    NWDSCCODE statusFor(int rc, ObjectId id);

    // Equivalence sides waiting for the next change of their entry (ldap_pending_queue.h).
    using Pending = ldapbackend::Pending;
    // Membership values as last read or written during the running action. The user side (a
    // few values, kept as the server spells them, so reads can be answered from here) and the
    // group side (possibly thousands, kept as keys for the equivalence checks) are known apart.
    struct Snapshot {
        bool userSideKnown = false;
        SharedList groupMembership, securityEquals;
        bool groupSideKnown = false;
        KeySet memberKeys, equivalentKeys;
    };
    static constexpr size_t MAX_QUEUED = 20000;
    // Values of one attribute in one request at most: a server takes long over a huge request
    // (20,000 values outlived a 10 s timeout), and a timed-out request is not known to be undone.
    static constexpr size_t MAX_VALUES_PER_REQUEST = 1000;
    // Modify requests of a batch waiting for their answers on the one connection.
    static constexpr size_t MAX_OUTSTANDING = 64;
    static constexpr size_t FIRST_WINDOW = 8;

    // After a group's Member was read: its members' classes and own membership values, from one
    // search (and base reads for members the search did not bring), so the deny list and a
    // later stop or go ask nothing per member.
    void learnMembers(ObjectId group, const std::vector<std::string>& memberDns);

    void takeSnapshot(ObjectId id, LDAPMessage* entry);
    // Active Directory (ldap_backend_ad.cpp): every value of a group's member, in ranges of
    // rangeSize_ (Windows hands out at most 1,500 values of one attribute per read).
    int readRangedMembers(const std::string& dn, std::vector<std::string>& values);
    // The group side's snapshot from the members read in ranges.
    void takeMemberSnapshot(ObjectId id, const std::vector<std::string>& memberDns);
    // One request adding (removing) these users' DNs to (from) the group's member.
    int sendMembers(const std::string& groupDn, bool add, const std::vector<std::string>& dns);
    NWDSCCODE ensureSnapshot(ObjectId id, const std::string& attribute);
    bool holds(ObjectId id, const std::string& attribute, const std::string& valueKey) const;
    void noteChange(ObjectId id, const std::string& attribute, const std::string& valueDn, bool add);
    int send(ObjectId id, const std::vector<Change>& changes, const std::vector<std::string>& ldapNames,
             const std::vector<std::vector<std::string>>& valueTexts, const std::vector<Pending>& queued);
    std::vector<Pending> takeQueue(ObjectId id);
    void takeBackPartner(ObjectId id, const Pending& failed);
    static size_t orderForServer(std::vector<Pending>& queued);  // how many repeated values it dropped
    std::vector<Pending> takeQueuePart(ObjectId id, size_t most, const std::unordered_set<std::string>& preferredKeys);
    NWDSCCODE sendQueue(ObjectId id, std::vector<Pending> queued);
    NWDSCCODE sendQueueSorted(ObjectId id, const std::vector<Pending>& queued);
    void sendQueueOnClose();
    // Batch of the users' own sides (ldap_backend_batch.cpp).
    int sendUserSide(ObjectId user, ObjectId group, bool add, bool withClass, int& msgid);
    int finishUserSideSingly(ObjectId user, ObjectId group, bool add);
    void noteUserSide(ObjectId user, ObjectId group, bool add, bool withClass);
    NWDSCCODE flush(ObjectId id);
    NWDSCCODE flushAll();
    NWDSCCODE changeEquivalence(ObjectId user, ObjectId group, bool add);

    // Settings.
    std::string uri_, base_, bindDn_, password_, caFile_, serverName_, membershipClass_, operatorName_;
    bool startTls_ = false;
    bool bindUnderContext_ = false;  // the bind DN still to be put below the matching naming context
    int timeoutSeconds_ = 10;
    int pageSize_ = 500;
    bool pageSizeSet_ = false;  // PageSize= given
    // Active Directory (Directory=ad, or its capability in the root DSE): membership is the
    // group's member alone; member is read in ranges of RangeSize= values.
    bool ad_ = false;
    int rangeSize_ = 1500;
    size_t memberValues_ = MAX_VALUES_PER_REQUEST;  // member values per request (MemberValues=)

    LDAP* ld_ = nullptr;
    // The connection given up after a request without an answer, kept open (its answers may
    // still come, which shows the server is back) and never sent on again.
    LDAP* stalled_ = nullptr;
    int64_t stalledSince_ = 0;  // steady-clock seconds
    uint64_t generation_ = 0;  // counts connections, so old message ids are known as such
    NameMap map_;
    size_t baseRdnCount_ = 0;
    std::vector<std::string> namingContexts_;
    std::vector<std::string> topNamingContexts_;
    bool assertionSupported_ = false;
    // The permissive-modify control goes with membership changes unless the site turns it off
    // (PermissiveModify=no) for a server or proxy that refuses it even when not critical.
    bool permissive_ = true;
    // The last request got no answer in time: until one is answered, nothing more is sent on close.
    bool lastTimedOut_ = false;
    bool tlsVerify_ = true;  // TLSVerify=no: any certificate is taken (warned about)
    bool pagingSupported_ = true;
    std::string problemDetail_;
    // What the last attribute read left out (escaped); see skippedValues().
    std::vector<std::string> skipped_;
    // The name of a DN value, or false (the value noted as skipped) when no name can be given.
    bool nameOfValue(ObjectId id, const std::string& attribute, const std::string& raw, std::string& name);
    std::unordered_map<std::string, AttributeInfo> attributes_;  // lower-cased name or OID
    std::unordered_map<std::string, ClassInfo> classes_;         // lower-cased name or OID

    // Objects: ids are indices; they stay valid across re-opened connections.
    NodeTable nodes_;
    // Resolved components: hash of parent id + "/" + lower-cased component -> child. Per connection.
    std::unordered_map<HashKey, ObjectId, HashKeyHash> childCache_;
    std::string lastParentKey_ = std::string(1, '\x01');  // no DN key looks like this
    ObjectId lastParentId_ = -1;
    // Membership values as last read or written, for the objects of the running action.
    std::unordered_map<ObjectId, Snapshot> snapshots_;
    std::map<ObjectId, PendingQueue> pending_;  // no empty queue
    size_t pendingCount_ = 0;
    uint64_t nextPair_ = 1;
};

}  // namespace nw::ldapbackend
