#include "nwclient/ldap/ldap_backend.h"

#include "nwclient/ldap/ldap_escape.h"
#include "nwclient/ldap/ldap_map.h"
#include "nwclient/names.h"
#include "nwclient/nwclient.h"
#include "nwclient/syntax.h"
#include "platform/ports.h"
#include "platform/text.h"

#include <ldap.h>
#include <ldap_schema.h>
#include <netdb.h>
#include <poll.h>
#include <strings.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <deque>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <set>
#include <unordered_map>
#include <unordered_set>

namespace nw {
namespace {

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

// Key of a resolved component under its parent: names compare without regard to case, umlauts
// included; the locale's lower-casing is only needed beyond ASCII.
// Matches entries of any of the classes (never an empty list).
std::string anyClassFilter(const std::vector<std::string>& classes) {
    if (classes.size() == 1) return equalityFilter("objectClass", classes[0]);
    std::string filter = "(|";
    for (const std::string& c : classes) filter += equalityFilter("objectClass", c);
    return filter + ")";
}

std::string childKey(ObjectId parent, std::string_view component) {
    bool ascii = std::all_of(component.begin(), component.end(), [](char c) { return (c & 0x80) == 0; });
    return std::to_string(parent) + "/" + (ascii ? toLowerAscii(component) : text::toLowerLocale(component));
}

std::string trim(std::string s) {
    while (!s.empty() && (s.back() == '\r' || s.back() == '\n' || s.back() == ' ' || s.back() == '\t')) s.pop_back();
    size_t start = s.find_first_not_of(" \t");
    return start == std::string::npos ? std::string() : s.substr(start);
}

// Whether the server of an LDAP address takes a TCP connection at all.
bool tcpReachable(const std::string& uri, int timeoutSeconds) {
    LDAPURLDesc* url = nullptr;
    if (ldap_url_parse(uri.c_str(), &url) != LDAP_SUCCESS) return false;
    std::string host = url->lud_host && *url->lud_host ? url->lud_host : "localhost";
    int port = url->lud_port ? url->lud_port : (toLowerAscii(url->lud_scheme ? url->lud_scheme : "") == "ldaps" ? 636 : 389);
    ldap_free_urldesc(url);
    addrinfo hints{};
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found) != 0) return false;
    bool reachable = false;
    for (addrinfo* a = found; a && !reachable; a = a->ai_next) {
        int fd = socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol);
        if (fd < 0) continue;
        if (::connect(fd, a->ai_addr, a->ai_addrlen) == 0) {
            reachable = true;
        } else if (errno == EINPROGRESS) {
            pollfd p{fd, POLLOUT, 0};
            int error = 0;
            socklen_t length = sizeof error;
            reachable = poll(&p, 1, timeoutSeconds * 1000) == 1 &&
                        getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) == 0 && error == 0;
        }
        close(fd);
    }
    freeaddrinfo(found);
    return reachable;
}

bool isYes(const std::string& v) {
    std::string l = toLowerAscii(trim(v));
    return l == "yes" || l == "true" || l == "1" || l == "on";
}

std::vector<std::string> textValues(LDAP* ld, LDAPMessage* entry, const char* attribute) {
    std::vector<std::string> out;
    Values values(ldap_get_values_len(ld, entry, attribute));
    if (!values) return out;
    for (berval** v = values.get(); *v; ++v) out.emplace_back((*v)->bv_val, (*v)->bv_len);
    return out;
}

std::string firstValue(LDAP* ld, LDAPMessage* entry, const char* attribute) {
    std::vector<std::string> v = textValues(ld, entry, attribute);
    return v.empty() ? std::string() : v.front();
}

// "20261207093000Z" (fractions and offsets allowed) to seconds since 1970, UTC.
bool parseGeneralizedTime(const std::string& s, int64_t& seconds) {
    auto digits = [&](size_t at, size_t count, int& out) {
        if (at + count > s.size()) return false;
        out = 0;
        for (size_t i = at; i < at + count; ++i) {
            if (s[i] < '0' || s[i] > '9') return false;
            out = out * 10 + (s[i] - '0');
        }
        return true;
    };
    int year = 0, month = 0, day = 0, hour = 0;
    if (!digits(0, 4, year) || !digits(4, 2, month) || !digits(6, 2, day) || !digits(8, 2, hour)) return false;
    std::tm tm{};
    tm.tm_year = year - 1900;
    tm.tm_mon = month - 1;
    tm.tm_mday = day;
    tm.tm_hour = hour;
    size_t pos = 10;
    if (digits(pos, 2, tm.tm_min)) pos += 2;
    if (pos == 12 && digits(pos, 2, tm.tm_sec)) pos += 2;
    if (pos < s.size() && (s[pos] == '.' || s[pos] == ',')) {
        ++pos;
        while (pos < s.size() && s[pos] >= '0' && s[pos] <= '9') ++pos;
    }
    int64_t offset = 0;
    int offHours = 0, offMinutes = 0;
    if (pos < s.size() && (s[pos] == '+' || s[pos] == '-') && digits(pos + 1, 2, offHours)) {
        digits(pos + 3, 2, offMinutes);
        offset = (s[pos] == '-' ? -1 : 1) * (offHours * 3600 + offMinutes * 60);
    }
    seconds = static_cast<int64_t>(timegm(&tm)) - offset;
    return true;
}

std::string formatGeneralizedTime(int64_t seconds) {
    time_t t = static_cast<time_t>(seconds);
    std::tm tm{};
    gmtime_r(&t, &tm);
    char buf[32];
    strftime(buf, sizeof buf, "%Y%m%d%H%M%SZ", &tm);
    return buf;
}

// What the backend knows of one object: its DN and the classes last read.
struct Node {
    std::string dn;
    ObjectSummary summary;
    std::vector<std::string> objectClasses;  // lower-cased; empty = not read yet
    bool described = false;
    bool underParent = false;  // in the resolved-components cache, under childKey
    std::string childKey;
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
const char* const SUMMARY_ATTRS[] = {"objectClass",     "structuralObjectClass", "modifyTimestamp",
                                     "createTimestamp", "numSubordinates",       "subordinateCount",
                                     "groupMembership", "securityEquals",        nullptr};

const char* const NAMING_ATTRS[] = {"cn", "ou", "o", "c", "l", "dc", "uid", "st"};

const std::set<std::string> MEMBERSHIP_ATTRS = {"groupmembership", "securityequals", "equivalenttome"};
const std::set<std::string> DN_MEMBERSHIP_ATTRS = {"member", "groupmembership", "securityequals", "equivalenttome"};

class LdapBackend;

class LdapCursor : public ObjectCursor {
public:
    LdapCursor(LdapBackend& backend, ObjectId base, int scope, std::string filter, bool fullNames)
        : backend_(backend), base_(base), scope_(scope), filter_(std::move(filter)), fullNames_(fullNames) {}
    ~LdapCursor() override;
    NWDSCCODE next(std::vector<ObjectSummary>& page) override;

private:
    int request();

    LdapBackend& backend_;
    ObjectId base_;
    int scope_;
    std::string filter_;
    bool fullNames_;
    berval cookie_{0, nullptr};
    int msgid_ = -1;          // the page asked for and not yet received
    uint64_t generation_ = 0; // of the connection it was asked on
    bool started_ = false;
    bool done_ = false;
};

class LdapBackend : public DirectoryBackend {
public:
    NWCCODE open(const ClientConfig& config);
    ~LdapBackend() override {
        if (ld_) flushAll();  // nothing queued is left behind
        if (ld_) ldap_unbind_ext_s(ld_, nullptr, nullptr);
        std::fill(password_.begin(), password_.end(), '\0');
    }

    std::string serverName() override { return serverName_; }
    NWDSCCODE resolve(const std::vector<std::string>& componentsFromRoot, ObjectId& id) override;
    NWDSCCODE describe(ObjectId id, std::string& fullName, ObjectSummary& summary) override;
    NWDSCCODE list(ObjectId container, bool containersOnly, std::unique_ptr<ObjectCursor>& cursor) override;
    NWDSCCODE search(ObjectId base, const std::string& attribute, const std::string& value,
                     std::unique_ptr<ObjectCursor>& cursor) override;
    NWDSCCODE readAttribute(ObjectId id, const std::string& attribute, Attribute& out) override;
    NWDSCCODE attributeSyntax(const std::string& attribute, uint32_t& syntax) override;
    NWDSCCODE modify(ObjectId id, const std::vector<Change>& changes) override;
    NWDSCCODE addSecurityEquivalence(ObjectId user, ObjectId group) override;
    NWDSCCODE removeSecurityEquivalence(ObjectId user, ObjectId group) override;
    NWDSCCODE readStream(ObjectId id, const std::string& attribute, std::string& contents) override;
    NWCCODE serverDateTime(uint8_t dateTime[7]) override;
    std::vector<VolumeInfo> volumes() override { return {}; }
    NWCCODE effectiveRights(const std::string&, const std::string&, uint16_t& rights) override {
        rights = 0;
        return INVALID_PATH;  // an LDAP tree has no volumes
    }

    // ---- used by the cursor ----
    // One page of a paged search. rc is the LDAP result; entries are registered as nodes.
    // Asks for one page of a paged search; msgid identifies the answer.
    int requestPage(const std::string& baseDn, int scope, const std::string& filter, berval* cookie, int& msgid);
    // Receives it: the new cookie replaces the old one (cookieArrived runs as soon as it is known,
    // before the entries are taken apart); entries are registered as nodes and summarised.
    int receivePage(int msgid, berval& cookie, const std::function<void()>& cookieArrived,
                    std::vector<ObjectSummary>& page, bool fullNames, ObjectId excluded);
    void abandon(int msgid);
    uint64_t generation() const { return generation_; }
    int reopen();
    const std::string& dnOf(ObjectId id) const { return nodes_[static_cast<size_t>(id)].dn; }
    bool knows(ObjectId id) const { return id >= 0 && static_cast<size_t>(id) < nodes_.size(); }
    int pageSize() const { return pageSize_; }

private:
    NWCCODE connect();
    NWCCODE connectAndBind();
    NWCCODE readRootDse();
    void readSchema(const std::string& subschemaDn);
    int withRetry(const std::function<int()>& op);

    ObjectId registerDn(const std::string& dn, std::string key);
    ObjectId registerEntry(LDAPMessage* entry, bool& ok);
    struct SummaryValues {
        std::vector<std::string> classes;
        std::string structural, count, modified, created;
        std::vector<std::string> groupMembership, securityEquals;
    };
    bool readSummary(LDAPMessage* entry, std::string& dn, SummaryValues& out);
    void fillSummary(Node& node, LDAPMessage* entry);
    void fillSummary(Node& node, const SummaryValues& values);
    std::string nameOfDn(const std::string& dn) const;
    NWDSCCODE dnOfName(const std::string& fullName, std::string& dn);
    // Describes a container afresh before a listing or search below it: an empty page from a
    // missing base would look like no objects.
    NWDSCCODE checkStillThere(ObjectId container);
    NWDSCCODE lookupChild(ObjectId parent, const std::string& component, ObjectId& child);
    NWDSCCODE ensureClasses(ObjectId id);
    bool classesAllow(const std::vector<std::string>& classes, const std::string& attribute) const;
    const AttributeInfo* attributeInfo(const std::string& ldapName) const;
    uint32_t syntaxOf(const std::string& ldapName) const;
    int baseRead(const std::string& dn, const char* const* attrs, Message& result);
    NWDSCCODE statusFor(int rc, ObjectId id);

    // Equivalence sides waiting for the next change of their entry.
    struct Pending {
        bool add = true;
        std::string attribute;  // lower-cased LDAP name
        std::string ldapName;
        std::string valueDn;
        std::string valueKey;
        ObjectId partner = -1;  // the entry holding the other side
        uint64_t pair = 0;      // 0: no other side to take back
    };
    // Membership values as last read or written during the running action. The user side (a
    // few values, kept as the server spells them, so reads can be answered from here) and the
    // group side (possibly thousands, kept as keys for the equivalence checks) are known apart.
    struct Snapshot {
        bool userSideKnown = false;
        std::vector<std::string> groupMembership, securityEquals;
        bool groupSideKnown = false;
        std::unordered_set<std::string> memberKeys, equivalentKeys;
    };
    static constexpr size_t MAX_QUEUED = 20000;

    void takeSnapshot(ObjectId id, LDAPMessage* entry);
    NWDSCCODE ensureSnapshot(ObjectId id, const std::string& attribute);
    bool holds(ObjectId id, const std::string& attribute, const std::string& valueKey) const;
    void noteChange(ObjectId id, const std::string& attribute, const std::string& valueDn, bool add);
    int send(ObjectId id, const std::vector<Change>& changes, const std::vector<std::string>& ldapNames,
             const std::vector<std::vector<std::string>>& valueTexts, const std::vector<Pending>& queued);
    std::vector<Pending> takeQueue(ObjectId id);
    void takeBackPartner(ObjectId id, const Pending& failed);
    NWDSCCODE sendQueueSingly(ObjectId id, const std::vector<Pending>& queued);
    NWDSCCODE flush(ObjectId id);
    NWDSCCODE flushAll();
    NWDSCCODE changeEquivalence(ObjectId user, ObjectId group, bool add);

    // Settings.
    std::string uri_, base_, bindDn_, password_, caFile_, serverName_, membershipClass_, operatorName_;
    bool startTls_ = false;
    int timeoutSeconds_ = 10;
    int pageSize_ = 500;

    LDAP* ld_ = nullptr;
    uint64_t generation_ = 0;  // counts connections, so old message ids are known as such
    NameMap map_;
    size_t baseRdnCount_ = 0;
    std::vector<std::string> namingContexts_;
    bool assertionSupported_ = false;
    bool pagingSupported_ = true;
    std::unordered_map<std::string, AttributeInfo> attributes_;  // lower-cased name or OID
    std::unordered_map<std::string, ClassInfo> classes_;         // lower-cased name or OID

    // Objects: ids are indices; they stay valid across re-opened connections.
    std::vector<Node> nodes_;
    std::unordered_map<std::string, ObjectId> idByDnKey_;
    // Resolved components: parent id + "/" + lower-cased component -> child. Per connection.
    std::unordered_map<std::string, ObjectId> childCache_;
    std::string lastParentKey_;
    ObjectId lastParentId_ = -1;
    // Membership values as last read or written, for the objects of the running action.
    std::unordered_map<ObjectId, Snapshot> snapshots_;
    std::map<ObjectId, std::vector<Pending>> pending_;
    size_t pendingCount_ = 0;
    uint64_t nextPair_ = 1;
};

// ---- set-up ----

NWCCODE readPasswordFile(const std::string& path, std::string& password) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return TARVEL_LDAP_NO_PASSWORD;
    // Only the operator may read it; anything else would leak the directory password.
    if (st.st_uid != geteuid() || (st.st_mode & 077) != 0) return TARVEL_LDAP_NO_PASSWORD;
    std::ifstream in(path, std::ios::binary);
    if (!in) return TARVEL_LDAP_NO_PASSWORD;
    std::string line;
    std::getline(in, line);
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.pop_back();
    password = line;
    std::fill(line.begin(), line.end(), '\0');
    return password.empty() ? TARVEL_LDAP_NO_PASSWORD : 0;
}

NWCCODE LdapBackend::open(const ClientConfig& config) {
    auto value = [&](const char* key) -> std::string {
        auto it = config.values.find(key);
        return it == config.values.end() ? std::string() : trim(it->second);
    };
    if (config.values.count("password")) return TARVEL_CONFIGURATION_INVALID;
    uri_ = trim(config.tree);
    base_ = value("base");
    std::vector<Rdn> baseRdns;
    if (!parseDn(base_, baseRdns)) return TARVEL_CONFIGURATION_INVALID;
    baseRdnCount_ = baseRdns.size();
    startTls_ = isYes(value("starttls"));
    std::string dir = std::filesystem::path(config.file).parent_path().string();
    auto relative = [&](std::string p) {
        if (!p.empty() && p[0] != '/' && !dir.empty()) p = dir + "/" + p;
        return p;
    };
    caFile_ = value("cafile").empty() ? std::string() : relative(value("cafile"));
    if (!value("timeout").empty()) timeoutSeconds_ = std::max(1, std::atoi(value("timeout").c_str()));
    if (!value("pagesize").empty()) pageSize_ = std::clamp(std::atoi(value("pagesize").c_str()), 1, 100000);
    membershipClass_ = value("membershipclass").empty() ? "tarvelMembership" : value("membershipclass");
    map_.configure(config.values);

    LDAPURLDesc* url = nullptr;
    if (ldap_url_parse(uri_.c_str(), &url) != LDAP_SUCCESS) return TARVEL_CONFIGURATION_INVALID;
    serverName_ = url->lud_host ? url->lud_host : "";
    ldap_free_urldesc(url);
    if (!value("servername").empty()) serverName_ = value("servername");
    if (serverName_.empty()) serverName_ = "LDAP";
    if (serverName_.size() > NW_MAX_SERVER_NAME_LEN - 1) serverName_.resize(NW_MAX_SERVER_NAME_LEN - 1);

    // The operator: its typeless name maps to a DN unless the site names the DN itself.
    operatorName_ = std::string(names::stripRootSpelling(config.operatorName));
    bindDn_ = value("binddn");
    if (bindDn_.empty() && !operatorName_.empty()) {
        // eDirectory's layout: the leaf is cn, the top container o, the ones between ou.
        std::vector<std::string> parts = splitTypelessName(operatorName_);
        std::vector<Rdn> rdns;
        for (size_t i = 0; i < parts.size(); ++i)
            rdns.push_back({i == 0 ? "cn" : (i + 1 == parts.size() ? "o" : "ou"), parts[i]});
        bindDn_ = formatDn(rdns);
        if (!base_.empty()) bindDn_ += "," + base_;
    }

    std::string passwordFile = value("passwordfile");
    if (!passwordFile.empty()) {
        if (NWCCODE rc = readPasswordFile(relative(passwordFile), password_)) return rc;
    } else {
        std::string prompt = "Kennwort für " + (operatorName_.empty() ? bindDn_ : operatorName_) + " (" + uri_ + ")";
        if (!platform::askPassword(prompt, password_) || password_.empty()) return TARVEL_LDAP_NO_PASSWORD;
    }

    Node root;
    root.dn = base_;
    nodes_.push_back(std::move(root));
    nodes_[0].summary.id = ROOT_ID;
    nodes_[0].summary.name = "[root]";
    nodes_[0].summary.baseClass = "Top";
    nodes_[0].summary.flags = DS_CONTAINER_ENTRY;
    nodes_[0].described = true;
    idByDnKey_[dnKey(base_)] = ROOT_ID;

    if (NWCCODE rc = connect()) return rc;
    if (NWCCODE rc = readRootDse()) return rc;
    if (!operatorName_.empty()) {
        std::vector<std::string> parts = splitTypelessName(operatorName_);
        std::reverse(parts.begin(), parts.end());
        ObjectId id = ROOT_ID;
        if (resolve(parts, id) != SUCCESSFUL) return TARVEL_OPERATOR_UNKNOWN;
    }
    return 0;
}

NWCCODE LdapBackend::connect() {
    NWCCODE rc = connectAndBind();
    if (rc != 0 && ld_) {
        // A handle whose bind failed would connect again by itself, anonymously: drop it.
        ldap_unbind_ext_s(ld_, nullptr, nullptr);
        ld_ = nullptr;
    }
    return rc;
}

NWCCODE LdapBackend::connectAndBind() {
    if (ld_) {
        ldap_unbind_ext_s(ld_, nullptr, nullptr);
        ld_ = nullptr;
    }
    ++generation_;
    if (ldap_initialize(&ld_, uri_.c_str()) != LDAP_SUCCESS || !ld_) return TARVEL_CONFIGURATION_INVALID;
    int version = LDAP_VERSION3;
    ldap_set_option(ld_, LDAP_OPT_PROTOCOL_VERSION, &version);
    ldap_set_option(ld_, LDAP_OPT_REFERRALS, LDAP_OPT_OFF);
    timeval timeout{timeoutSeconds_, 0};
    ldap_set_option(ld_, LDAP_OPT_NETWORK_TIMEOUT, &timeout);
    ldap_set_option(ld_, LDAP_OPT_TIMEOUT, &timeout);
    if (!caFile_.empty()) {
        ldap_set_option(ld_, LDAP_OPT_X_TLS_CACERTFILE, caFile_.c_str());
        int demand = LDAP_OPT_X_TLS_DEMAND;
        ldap_set_option(ld_, LDAP_OPT_X_TLS_REQUIRE_CERT, &demand);
        int server = 0;
        ldap_set_option(ld_, LDAP_OPT_X_TLS_NEWCTX, &server);
    }
    if (startTls_) {
        int rc = ldap_start_tls_s(ld_, nullptr, nullptr);
        if (rc != LDAP_SUCCESS) return tcpReachable(uri_, timeoutSeconds_) ? TARVEL_LDAP_TLS_FAILED : TARVEL_LDAP_UNREACHABLE;
    }
    berval credentials{static_cast<ber_len_t>(password_.size()), password_.data()};
    int rc = ldap_sasl_bind_s(ld_, bindDn_.c_str(), LDAP_SASL_SIMPLE, &credentials, nullptr, nullptr, nullptr);
    if (rc == LDAP_SUCCESS) return 0;
    if (rc == LDAP_INVALID_CREDENTIALS || rc == LDAP_INAPPROPRIATE_AUTH || rc == LDAP_INVALID_DN_SYNTAX ||
        rc == LDAP_UNWILLING_TO_PERFORM || rc == LDAP_NO_SUCH_OBJECT)
        return TARVEL_LDAP_BAD_CREDENTIALS;
    // Over ldaps:// a refused certificate looks like an unreachable server to libldap: a server
    // that takes the TCP connection is there, so it was the TLS handshake.
    if ((rc == LDAP_SERVER_DOWN || rc == LDAP_CONNECT_ERROR) && toLowerAscii(uri_).rfind("ldaps:", 0) == 0 &&
        tcpReachable(uri_, timeoutSeconds_))
        return TARVEL_LDAP_TLS_FAILED;
    return TARVEL_LDAP_UNREACHABLE;
}

NWCCODE LdapBackend::readRootDse() {
    const char* attrs[] = {"supportedControl", "subschemaSubentry", "namingContexts", nullptr};
    Message result;
    int rc = baseRead("", attrs, result);
    if (rc != LDAP_SUCCESS) return isConnectionLost(rc) ? TARVEL_LDAP_UNREACHABLE : 0;
    LDAPMessage* entry = ldap_first_entry(ld_, result.get());
    if (!entry) return 0;
    std::vector<std::string> controls = textValues(ld_, entry, "supportedControl");
    auto has = [&](const char* oid) { return std::find(controls.begin(), controls.end(), oid) != controls.end(); };
    assertionSupported_ = has(LDAP_CONTROL_ASSERT);
    pagingSupported_ = controls.empty() || has(LDAP_CONTROL_PAGEDRESULTS);
    namingContexts_ = textValues(ld_, entry, "namingContexts");
    std::string subschema = firstValue(ld_, entry, "subschemaSubentry");
    readSchema(subschema.empty() ? "cn=schema" : subschema);
    return 0;
}

void LdapBackend::readSchema(const std::string& subschemaDn) {
    const char* attrs[] = {"attributeTypes", "objectClasses", nullptr};
    Message result;
    LDAPMessage* raw = nullptr;
    timeval timeout{timeoutSeconds_, 0};
    int rc = ldap_search_ext_s(ld_, subschemaDn.c_str(), LDAP_SCOPE_BASE, "(objectClass=subschema)",
                               const_cast<char**>(attrs), 0, nullptr, nullptr, &timeout, 0, &raw);
    result.reset(raw);
    if (rc != LDAP_SUCCESS) return;
    LDAPMessage* entry = ldap_first_entry(ld_, result.get());
    if (!entry) return;
    const unsigned flags = LDAP_SCHEMA_ALLOW_ALL;
    for (const std::string& text : textValues(ld_, entry, "attributeTypes")) {
        int code = 0;
        const char* err = nullptr;
        LDAPAttributeType* at = ldap_str2attributetype(text.c_str(), &code, &err, flags);
        if (!at) continue;
        AttributeInfo info;
        info.name = at->at_names && at->at_names[0] ? at->at_names[0] : at->at_oid;
        info.syntaxOid = at->at_syntax_oid ? at->at_syntax_oid : "";
        info.supName = at->at_sup_oid ? toLowerAscii(at->at_sup_oid) : "";
        if (at->at_oid) attributes_[toLowerAscii(at->at_oid)] = info;
        for (char** n = at->at_names; n && *n; ++n) attributes_[toLowerAscii(*n)] = info;
        ldap_attributetype_free(at);
    }
    for (const std::string& text : textValues(ld_, entry, "objectClasses")) {
        int code = 0;
        const char* err = nullptr;
        LDAPObjectClass* oc = ldap_str2objectclass(text.c_str(), &code, &err, flags);
        if (!oc) continue;
        ClassInfo info;
        for (char** s = oc->oc_sup_oids; s && *s; ++s) info.sup.push_back(toLowerAscii(*s));
        for (char** a = oc->oc_at_oids_must; a && *a; ++a) info.allowed.insert(toLowerAscii(*a));
        for (char** a = oc->oc_at_oids_may; a && *a; ++a) info.allowed.insert(toLowerAscii(*a));
        if (oc->oc_oid) classes_[toLowerAscii(oc->oc_oid)] = info;
        for (char** n = oc->oc_names; n && *n; ++n) classes_[toLowerAscii(*n)] = info;
        ldap_objectclass_free(oc);
    }
    map_.adaptToSchema([this](const std::string& ldapName) { return attributeInfo(ldapName) != nullptr; });
}

int LdapBackend::reopen() {
    childCache_.clear();
    for (Node& n : nodes_) n.underParent = false;
    snapshots_.clear();
    for (Node& n : nodes_) n.objectClasses.clear();
    NWCCODE rc = connect();
    return rc == 0 ? LDAP_SUCCESS : LDAP_SERVER_DOWN;
}

// Runs an operation; when the connection turns out to be gone it is re-opened once and the
// operation tried again. A second loss is the caller's to report.
int LdapBackend::withRetry(const std::function<int()>& op) {
    int rc = ld_ ? op() : LDAP_SERVER_DOWN;
    if (!isConnectionLost(rc)) return rc;
    if (reopen() != LDAP_SUCCESS) return LDAP_SERVER_DOWN;
    return op();
}

int LdapBackend::baseRead(const std::string& dn, const char* const* attrs, Message& result) {
    return withRetry([&] {
        LDAPMessage* raw = nullptr;
        timeval timeout{timeoutSeconds_, 0};
        int rc = ldap_search_ext_s(ld_, dn.c_str(), LDAP_SCOPE_BASE, "(objectClass=*)", const_cast<char**>(attrs), 0,
                                   nullptr, nullptr, &timeout, 0, &raw);
        result.reset(raw);
        return rc;
    });
}

// ---- names and objects ----

std::string LdapBackend::nameOfDn(const std::string& dn) const {
    std::vector<Rdn> rdns;
    if (!parseDn(dn, rdns)) return dn;
    size_t keep = rdns.size() >= baseRdnCount_ ? rdns.size() - baseRdnCount_ : rdns.size();
    std::vector<std::string> parts;
    parts.reserve(keep);
    for (size_t i = 0; i < keep; ++i) parts.push_back(rdns[i].value);
    return joinTypelessName(parts);
}

ObjectId LdapBackend::registerDn(const std::string& dn, std::string key) {
    auto it = idByDnKey_.find(key);
    if (it != idByDnKey_.end()) return it->second;
    ObjectId id = static_cast<ObjectId>(nodes_.size());
    Node node;
    node.dn = dn;
    node.summary.id = id;
    nodes_.push_back(std::move(node));
    idByDnKey_.emplace(std::move(key), id);
    return id;
}

// Reads an entry once, front to back: its DN and the attributes a summary needs. (Asking for
// each attribute by name would scan the entry again every time; a listing has thousands.)
bool LdapBackend::readSummary(LDAPMessage* entry, std::string& dn, SummaryValues& out) {
    BerElement* ber = nullptr;
    berval dnValue{0, nullptr};
    if (ldap_get_dn_ber(ld_, entry, &ber, &dnValue) != LDAP_SUCCESS) {
        if (ber) ber_free(ber, 0);
        return false;
    }
    dn.assign(dnValue.bv_val, dnValue.bv_len);
    berval name{0, nullptr};
    berval* values = nullptr;
    while (ldap_get_attribute_ber(ld_, entry, ber, &name, &values) == LDAP_SUCCESS && name.bv_val) {
        std::string_view attribute(name.bv_val, name.bv_len);
        auto is = [&](const char* wanted) { return attribute.size() == strlen(wanted) && strncasecmp(attribute.data(), wanted, attribute.size()) == 0; };
        std::string* single = nullptr;
        std::vector<std::string>* many = nullptr;
        if (is("objectClass")) many = &out.classes;
        else if (is("groupMembership")) many = &out.groupMembership;
        else if (is("securityEquals")) many = &out.securityEquals;
        if (many) {
            for (berval* v = values; v && v->bv_val; ++v) many->emplace_back(v->bv_val, v->bv_len);
        } else if (is("structuralObjectClass")) single = &out.structural;
        else if (is("numSubordinates") || is("subordinateCount")) single = &out.count;
        else if (is("modifyTimestamp")) single = &out.modified;
        else if (is("createTimestamp")) single = &out.created;
        if (single && values && values[0].bv_val) single->assign(values[0].bv_val, values[0].bv_len);
        ber_memfree(values);
        values = nullptr;
    }
    ber_free(ber, 0);
    return true;
}

void LdapBackend::fillSummary(Node& node, LDAPMessage* entry) {
    std::string dn;
    SummaryValues values;
    if (readSummary(entry, dn, values)) fillSummary(node, values);
}

void LdapBackend::fillSummary(Node& node, const SummaryValues& v) {
    node.summary.baseClass = map_.baseClass(v.structural, v.classes);
    node.summary.flags = map_.isContainerClass(node.summary.baseClass) ? DS_CONTAINER_ENTRY : 0;
    node.summary.subordinateCount = v.count.empty() ? 0 : static_cast<uint32_t>(std::strtoul(v.count.c_str(), nullptr, 10));
    int64_t seconds = 0;
    const std::string& stamp = v.modified.empty() ? v.created : v.modified;
    node.summary.modificationTime = parseGeneralizedTime(stamp, seconds) ? static_cast<uint32_t>(seconds) : 0;
    node.objectClasses.clear();
    for (const std::string& c : v.classes) node.objectClasses.push_back(toLowerAscii(c));
    node.described = true;
}

ObjectId LdapBackend::registerEntry(LDAPMessage* entry, bool& ok) {
    std::string dn;
    SummaryValues values;
    std::vector<Rdn> rdns;
    ok = readSummary(entry, dn, values) && parseDn(dn, rdns);
    if (!ok) return ROOT_ID;
    ObjectId id = registerDn(dn, dnKey(rdns));
    Node& node = nodes_[static_cast<size_t>(id)];
    if (id != ROOT_ID && !rdns.empty()) {
        node.summary.name = rdns.front().value;
        fillSummary(node, values);
        if (!pending_.count(id)) {
            Snapshot& snap = snapshots_[id];
            snap.userSideKnown = true;
            snap.groupMembership = std::move(values.groupMembership);
            snap.securityEquals = std::move(values.securityEquals);
        }
        if (!node.underParent) {
            // The entry is now known under its parent too: resolving it later costs nothing.
            // Entries of one page share their parent, so its key is looked up once.
            std::string parentKey = dnKey(rdns, 1);
            if (parentKey != lastParentKey_) {
                auto parent = idByDnKey_.find(parentKey);
                lastParentId_ = parent == idByDnKey_.end() ? -1 : parent->second;
                lastParentKey_ = std::move(parentKey);
            }
            if (lastParentId_ >= 0) {
                node.childKey = childKey(lastParentId_, rdns.front().value);
                childCache_[node.childKey] = id;
                node.underParent = true;
            }
        }
    }
    return id;
}

NWDSCCODE LdapBackend::lookupChild(ObjectId parent, const std::string& component, ObjectId& child) {
    std::string cacheKey = childKey(parent, component);
    auto cached = childCache_.find(cacheKey);
    if (cached != childCache_.end()) {
        child = cached->second;
        return SUCCESSFUL;
    }
    std::string filter = "(|";
    for (const char* a : NAMING_ATTRS) filter += equalityFilter(a, component);
    filter += ")";
    const std::string parentDn = dnOf(parent);
    // At the top of a tree without base, the objects are the server's naming contexts.
    if (parentDn.empty()) {
        for (const std::string& context : namingContexts_) {
            std::vector<Rdn> rdns;
            if (parseDn(context, rdns) && rdns.size() == 1 && text::equalsLocaleNoCase(rdns[0].value, component)) {
                Message result;
                int rc = baseRead(context, SUMMARY_ATTRS, result);
                if (rc != LDAP_SUCCESS) return ndsStatusFromLdap(rc);
                if (LDAPMessage* e = ldap_first_entry(ld_, result.get())) {
                    bool ok = false;
                    child = registerEntry(e, ok);
                    if (ok) return SUCCESSFUL;
                }
            }
        }
    }
    Message result;
    int rc = withRetry([&] {
        LDAPMessage* raw = nullptr;
        timeval timeout{timeoutSeconds_, 0};
        int r = ldap_search_ext_s(ld_, parentDn.c_str(), LDAP_SCOPE_ONELEVEL, filter.c_str(),
                                  const_cast<char**>(SUMMARY_ATTRS), 0, nullptr, nullptr, &timeout, 0, &raw);
        result.reset(raw);
        return r;
    });
    if (rc != LDAP_SUCCESS && rc != LDAP_SIZELIMIT_EXCEEDED) return ndsStatusFromLdap(rc);
    for (LDAPMessage* e = ldap_first_entry(ld_, result.get()); e; e = ldap_next_entry(ld_, e)) {
        bool ok = false;
        ObjectId id = registerEntry(e, ok);
        if (ok && text::equalsLocaleNoCase(nodes_[static_cast<size_t>(id)].summary.name, component)) {
            child = id;
            return SUCCESSFUL;
        }
    }
    return ERR_NO_SUCH_ENTRY;
}

NWDSCCODE LdapBackend::resolve(const std::vector<std::string>& componentsFromRoot, ObjectId& id) {
    ObjectId current = ROOT_ID;
    for (const std::string& component : componentsFromRoot) {
        if (component.empty()) return ERR_NO_SUCH_ENTRY;
        NWDSCCODE rc = lookupChild(current, component, current);
        if (rc != SUCCESSFUL) return rc;
    }
    id = current;
    return SUCCESSFUL;
}

NWDSCCODE LdapBackend::dnOfName(const std::string& fullName, std::string& dn) {
    std::vector<std::string> parts = splitTypelessName(fullName);
    std::reverse(parts.begin(), parts.end());
    ObjectId id = ROOT_ID;
    NWDSCCODE rc = resolve(parts, id);
    if (rc != SUCCESSFUL) return rc;
    dn = dnOf(id);
    return SUCCESSFUL;
}

NWDSCCODE LdapBackend::statusFor(int rc, ObjectId id) {
    if (rc == LDAP_NO_SUCH_OBJECT && id != ROOT_ID && knows(id)) {
        // Gone from the server: forget how it was resolved so a new object of that name is found.
        Node& node = nodes_[static_cast<size_t>(id)];
        if (node.underParent) childCache_.erase(node.childKey);
        node.underParent = false;
    }
    return ndsStatusFromLdap(rc);
}

NWDSCCODE LdapBackend::describe(ObjectId id, std::string& fullName, ObjectSummary& summary) {
    if (!knows(id)) return ERR_NO_SUCH_ENTRY;
    Node* node = &nodes_[static_cast<size_t>(id)];
    if (!node->described) {
        Message result;
        std::string dn = node->dn;
        int rc = baseRead(dn, SUMMARY_ATTRS, result);
        if (rc != LDAP_SUCCESS) return statusFor(rc, id);
        LDAPMessage* entry = ldap_first_entry(ld_, result.get());
        if (!entry) return ERR_NO_SUCH_ENTRY;
        node = &nodes_[static_cast<size_t>(id)];
        fillSummary(*node, entry);
        std::vector<Rdn> rdns;
        parseDn(node->dn, rdns);
        node->summary.name = rdns.empty() ? node->dn : rdns.front().value;
    }
    fullName = id == ROOT_ID ? std::string() : nameOfDn(node->dn);
    summary = node->summary;
    return SUCCESSFUL;
}

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

// ---- attributes ----

const AttributeInfo* LdapBackend::attributeInfo(const std::string& ldapName) const {
    auto it = attributes_.find(toLowerAscii(ldapName));
    return it == attributes_.end() ? nullptr : &it->second;
}

uint32_t LdapBackend::syntaxOf(const std::string& ldapName) const {
    if (toLowerAscii(ldapName) == "objectclass") return SYN_CLASS_NAME;
    const AttributeInfo* info = attributeInfo(ldapName);
    for (int depth = 0; info && depth < 16; ++depth) {
        if (!info->syntaxOid.empty()) return syntaxFromOid(info->syntaxOid);
        if (info->supName.empty()) break;
        info = attributeInfo(info->supName);
    }
    return SYN_OCTET_STRING;
}

NWDSCCODE LdapBackend::attributeSyntax(const std::string& attribute, uint32_t& syntax) {
    std::string ldapName = map_.ldapAttribute(attribute);
    if (toLowerAscii(ldapName) != "objectclass" && !attributeInfo(ldapName)) return ERR_NO_SUCH_ATTRIBUTE;
    syntax = syntaxOf(ldapName);
    return SUCCESSFUL;
}

NWDSCCODE LdapBackend::readAttribute(ObjectId id, const std::string& attribute, Attribute& out) {
    if (!knows(id)) return ERR_NO_SUCH_ENTRY;
    // What is queued for the object goes out first: a read shows what was done.
    if (NWDSCCODE rc = flush(id)) return rc;
    std::string ldapName = map_.ldapAttribute(attribute);
    const std::string lowerName = toLowerAscii(ldapName);
    if (lowerName == "groupmembership" || lowerName == "securityequals") {
        // A user's own membership values from this action's listing or search, kept up to date
        // with what was sent since: no round trip per user in a stop or go.
        auto snap = snapshots_.find(id);
        if (snap != snapshots_.end() && snap->second.userSideKnown) {
            const auto& dns = lowerName == "groupmembership" ? snap->second.groupMembership : snap->second.securityEquals;
            out.name = attribute;
            out.syntax = SYN_DIST_NAME;
            out.values.clear();
            for (const std::string& dn : dns) {
                AttrValue value;
                value.text = nameOfDn(dn);
                out.values.push_back(std::move(value));
            }
            return out.values.empty() ? ERR_NO_SUCH_ATTRIBUTE : SUCCESSFUL;
        }
    }
    bool membership = DN_MEMBERSHIP_ATTRS.count(lowerName) != 0;
    // The membership attributes come together, so the equivalence calls that follow know both
    // sides without asking again.
    const char* single[] = {ldapName.c_str(), nullptr};
    const char* all[] = {"member", "groupMembership", "securityEquals", "equivalentToMe", "objectClass", nullptr};
    Message result;
    std::string dn = dnOf(id);
    int rc = baseRead(dn, membership ? all : single, result);
    if (rc != LDAP_SUCCESS) return statusFor(rc, id);
    LDAPMessage* entry = ldap_first_entry(ld_, result.get());
    if (!entry) return ERR_NO_SUCH_ENTRY;
    if (membership) takeSnapshot(id, entry);
    out.name = attribute;
    out.syntax = syntaxOf(ldapName);
    out.values.clear();
    Values values(ldap_get_values_len(ld_, entry, ldapName.c_str()));
    if (!values || !values.get()[0]) return ERR_NO_SUCH_ATTRIBUTE;
    for (berval** v = values.get(); *v; ++v) {
        std::string raw((*v)->bv_val, (*v)->bv_len);
        AttrValue value;
        switch (out.syntax) {
        case SYN_DIST_NAME: value.text = nameOfDn(raw); break;
        case SYN_CLASS_NAME: value.text = map_.className(raw); break;
        case SYN_BOOLEAN: value.number = toLowerAscii(raw) == "true" ? 1 : 0; break;
        case SYN_INTEGER: value.number = std::strtoll(raw.c_str(), nullptr, 10); break;
        case SYN_TIME: {
            int64_t seconds = 0;
            value.number = parseGeneralizedTime(raw, seconds) ? seconds : 0;
            break;
        }
        case SYN_OCTET_STRING: value.bytes = std::move(raw); break;
        default: value.text = std::move(raw); break;
        }
        out.values.push_back(std::move(value));
    }
    return SUCCESSFUL;
}

NWDSCCODE LdapBackend::readStream(ObjectId id, const std::string& attribute, std::string& contents) {
    Attribute a;
    NWDSCCODE rc = readAttribute(id, attribute, a);
    if (rc != SUCCESSFUL) return rc;
    contents = a.values.front().bytes.empty() ? a.values.front().text : a.values.front().bytes;
    return SUCCESSFUL;
}

// ---- what the backend knows of membership values ----

void LdapBackend::takeSnapshot(ObjectId id, LDAPMessage* entry) {
    Snapshot& snap = snapshots_[id];
    snap.userSideKnown = snap.groupSideKnown = true;
    snap.groupMembership = textValues(ld_, entry, "groupMembership");
    snap.securityEquals = textValues(ld_, entry, "securityEquals");
    snap.memberKeys.clear();
    snap.equivalentKeys.clear();
    for (const std::string& v : textValues(ld_, entry, "member")) snap.memberKeys.insert(dnKey(v));
    for (const std::string& v : textValues(ld_, entry, "equivalentToMe")) snap.equivalentKeys.insert(dnKey(v));
    std::vector<std::string> classes = textValues(ld_, entry, "objectClass");
    if (!classes.empty()) {
        Node& node = nodes_[static_cast<size_t>(id)];
        node.objectClasses.clear();
        for (const std::string& c : classes) node.objectClasses.push_back(toLowerAscii(c));
    }
}

NWDSCCODE LdapBackend::ensureSnapshot(ObjectId id, const std::string& attribute) {
    auto snap = snapshots_.find(id);
    bool userSide = attribute == "groupmembership" || attribute == "securityequals";
    if (snap != snapshots_.end() && (userSide ? snap->second.userSideKnown : snap->second.groupSideKnown))
        return SUCCESSFUL;
    const char* all[] = {"member", "groupMembership", "securityEquals", "equivalentToMe", "objectClass", nullptr};
    Message result;
    std::string dn = dnOf(id);
    int rc = baseRead(dn, all, result);
    if (rc != LDAP_SUCCESS) return statusFor(rc, id);
    LDAPMessage* entry = ldap_first_entry(ld_, result.get());
    if (!entry) return ERR_NO_SUCH_ENTRY;
    takeSnapshot(id, entry);
    return SUCCESSFUL;
}

// The value as the server will hold it once the queue is sent.
bool LdapBackend::holds(ObjectId id, const std::string& attribute, const std::string& valueKey) const {
    bool has = false;
    auto snap = snapshots_.find(id);
    if (snap != snapshots_.end()) {
        const Snapshot& s = snap->second;
        if (attribute == "member") has = s.memberKeys.count(valueKey) != 0;
        else if (attribute == "equivalenttome") has = s.equivalentKeys.count(valueKey) != 0;
        else {
            const auto& dns = attribute == "groupmembership" ? s.groupMembership : s.securityEquals;
            has = std::any_of(dns.begin(), dns.end(), [&](const std::string& dn) { return dnKey(dn) == valueKey; });
        }
    }
    auto queued = pending_.find(id);
    if (queued != pending_.end())
        for (const Pending& p : queued->second)
            if (p.attribute == attribute && p.valueKey == valueKey) has = p.add;
    return has;
}

void LdapBackend::noteChange(ObjectId id, const std::string& attribute, const std::string& valueDn, bool add) {
    auto snap = snapshots_.find(id);
    if (snap == snapshots_.end()) return;
    Snapshot& s = snap->second;
    const std::string key = dnKey(valueDn);
    if (attribute == "member" || attribute == "equivalenttome") {
        if (!s.groupSideKnown) return;
        auto& keys = attribute == "member" ? s.memberKeys : s.equivalentKeys;
        if (add) keys.insert(key);
        else keys.erase(key);
    } else if (attribute == "groupmembership" || attribute == "securityequals") {
        if (!s.userSideKnown) return;
        auto& dns = attribute == "groupmembership" ? s.groupMembership : s.securityEquals;
        auto it = std::find_if(dns.begin(), dns.end(), [&](const std::string& dn) { return dnKey(dn) == key; });
        if (add && it == dns.end()) dns.push_back(valueDn);
        if (!add && it != dns.end()) dns.erase(it);
    }
}

// ---- changes ----

NWDSCCODE LdapBackend::ensureClasses(ObjectId id) {
    if (!nodes_[static_cast<size_t>(id)].objectClasses.empty()) return SUCCESSFUL;
    Message result;
    std::string dn = dnOf(id);
    int rc = baseRead(dn, SUMMARY_ATTRS, result);
    if (rc != LDAP_SUCCESS) return statusFor(rc, id);
    LDAPMessage* entry = ldap_first_entry(ld_, result.get());
    if (!entry) return ERR_NO_SUCH_ENTRY;
    fillSummary(nodes_[static_cast<size_t>(id)], entry);
    return SUCCESSFUL;
}

bool LdapBackend::classesAllow(const std::vector<std::string>& entryClasses, const std::string& attribute) const {
    std::string wanted = toLowerAscii(attribute);
    const AttributeInfo* info = attributeInfo(attribute);
    std::string wantedName = info ? toLowerAscii(info->name) : wanted;
    std::vector<std::string> todo(entryClasses.begin(), entryClasses.end());
    std::set<std::string> seen;
    while (!todo.empty()) {
        std::string c = todo.back();
        todo.pop_back();
        if (!seen.insert(c).second) continue;
        auto it = classes_.find(c);
        if (it == classes_.end()) continue;
        if (it->second.allowed.count(wanted) || it->second.allowed.count(wantedName)) return true;
        for (const std::string& s : it->second.sup) todo.push_back(s);
    }
    return false;
}

// Owns the values of an LDAP modification while it is sent.
struct ModHolder {
    std::deque<std::vector<berval>> bervals;
    std::deque<std::vector<berval*>> pointers;
    std::deque<std::string> texts;  // mod_type and the values point into these
    std::vector<std::unique_ptr<LDAPMod>> mods;

    void add(int op, const std::string& attribute, const std::vector<std::string>& values) {
        texts.push_back(attribute);
        char* type = texts.back().data();
        bervals.emplace_back();
        for (const std::string& v : values) {
            texts.push_back(v);
            bervals.back().push_back({static_cast<ber_len_t>(texts.back().size()), texts.back().data()});
        }
        pointers.emplace_back();
        for (berval& b : bervals.back()) pointers.back().push_back(&b);
        pointers.back().push_back(nullptr);
        auto mod = std::make_unique<LDAPMod>();
        mod->mod_op = op | LDAP_MOD_BVALUES;
        mod->mod_type = type;
        mod->mod_bvalues = values.empty() ? nullptr : pointers.back().data();
        mods.push_back(std::move(mod));
    }
    std::vector<LDAPMod*> list() const {
        std::vector<LDAPMod*> out;
        for (const auto& m : mods) out.push_back(m.get());
        out.push_back(nullptr);
        return out;
    }
};

// One request as the server takes it: the caller's changes (values already in LDAP form) and the
// queued membership values of the same object, with the membership class when the entry needs it.
int LdapBackend::send(ObjectId id, const std::vector<Change>& changes, const std::vector<std::string>& ldapNames,
                      const std::vector<std::vector<std::string>>& valueTexts, const std::vector<Pending>& queued) {
    if (!ld_ && reopen() != LDAP_SUCCESS) return LDAP_SERVER_DOWN;
    std::vector<std::string> addsMembership;
    for (size_t i = 0; i < changes.size(); ++i)
        if (changes[i].type != DS_REMOVE_VALUE && changes[i].type != DS_REMOVE_ATTRIBUTE &&
            MEMBERSHIP_ATTRS.count(toLowerAscii(ldapNames[i])))
            addsMembership.push_back(ldapNames[i]);
    for (const Pending& p : queued)
        if (p.add) addsMembership.push_back(p.ldapName);
    std::vector<std::string> firstValueAttrs;
    for (size_t i = 0; i < changes.size(); ++i)
        if (changes[i].type == DS_ADD_ATTRIBUTE) firstValueAttrs.push_back(ldapNames[i]);

    int rc = LDAP_OTHER;
    for (int attempt = 0; attempt < 2; ++attempt) {
        bool addClass = false;
        if (!addsMembership.empty() && classes_.count(toLowerAscii(membershipClass_))) {
            if (NWDSCCODE st = ensureClasses(id)) return st == ERR_NO_SUCH_ENTRY ? LDAP_NO_SUCH_OBJECT : LDAP_OTHER;
            const std::vector<std::string>& have = nodes_[static_cast<size_t>(id)].objectClasses;
            if (std::find(have.begin(), have.end(), toLowerAscii(membershipClass_)) == have.end())
                for (const std::string& a : addsMembership)
                    if (!classesAllow(have, a)) addClass = true;
        }
        ModHolder holder;
        if (addClass) holder.add(LDAP_MOD_ADD, "objectClass", {membershipClass_});
        for (size_t i = 0; i < changes.size(); ++i) {
            bool remove = changes[i].type == DS_REMOVE_VALUE || changes[i].type == DS_REMOVE_ATTRIBUTE;
            holder.add(remove ? LDAP_MOD_DELETE : LDAP_MOD_ADD, ldapNames[i],
                       changes[i].type == DS_REMOVE_ATTRIBUTE ? std::vector<std::string>{} : valueTexts[i]);
        }
        // Queued values, one modification per attribute and kind.
        std::map<std::pair<std::string, bool>, std::vector<std::string>> grouped;
        for (const Pending& p : queued) grouped[{p.ldapName, p.add}].push_back(p.valueDn);
        for (const auto& [key, values] : grouped) holder.add(key.second ? LDAP_MOD_ADD : LDAP_MOD_DELETE, key.first, values);

        // "Add the attribute" must find it without values: the server checks that in the same
        // operation where it can, else it is read first.
        Control assertionOwner;
        LDAPControl* assertion = nullptr;
        if (!firstValueAttrs.empty()) {
            std::string filter = "(&";
            for (const std::string& a : firstValueAttrs) filter += "(!(" + a + "=*))";
            filter += ")";
            if (assertionSupported_) {
                if (ldap_create_assertion_control(ld_, filter.data(), 1, &assertion) != LDAP_SUCCESS) return LDAP_NO_MEMORY;
                assertionOwner.reset(assertion);
            } else {
                for (const std::string& a : firstValueAttrs) {
                    const char* attrs[] = {a.c_str(), nullptr};
                    Message result;
                    std::string dn = dnOf(id);
                    int r = baseRead(dn, attrs, result);
                    if (r != LDAP_SUCCESS) return r;
                    LDAPMessage* entry = ldap_first_entry(ld_, result.get());
                    if (entry && !textValues(ld_, entry, a.c_str()).empty()) return LDAP_ASSERTION_FAILED;
                }
            }
        }
        LDAPControl* controls[] = {assertion, nullptr};
        std::vector<LDAPMod*> mods = holder.list();
        std::string dn = dnOf(id);
        rc = withRetry([&] { return ldap_modify_ext_s(ld_, dn.c_str(), mods.data(), assertion ? controls : nullptr, nullptr); });
        if (rc == LDAP_SUCCESS) {
            Node& node = nodes_[static_cast<size_t>(id)];
            if (addClass) node.objectClasses.push_back(toLowerAscii(membershipClass_));
            node.described = false;  // its modification time changed
            return rc;
        }
        if (rc == LDAP_TYPE_OR_VALUE_EXISTS && addClass && attempt == 0) {
            // Someone else gave the entry the class since it was read: read again, send again.
            nodes_[static_cast<size_t>(id)].objectClasses.clear();
            continue;
        }
        break;
    }
    return rc;
}

std::vector<LdapBackend::Pending> LdapBackend::takeQueue(ObjectId id) {
    std::vector<Pending> out;
    auto it = pending_.find(id);
    if (it == pending_.end()) return out;
    out = std::move(it->second);
    pending_.erase(it);
    pendingCount_ -= out.size();
    return out;
}

// The other side of a queued value that could not be written is taken back, so the two sides
// keep agreeing: still queued, it is dropped; already sent, it is undone.
void LdapBackend::takeBackPartner(ObjectId id, const Pending& failed) {
    if (failed.pair == 0 || !knows(failed.partner)) return;
    auto queued = pending_.find(failed.partner);
    if (queued != pending_.end()) {
        auto& items = queued->second;
        auto it = std::find_if(items.begin(), items.end(), [&](const Pending& p) { return p.pair == failed.pair; });
        if (it != items.end()) {
            items.erase(it);
            --pendingCount_;
            if (items.empty()) pending_.erase(queued);
            return;
        }
    }
    Pending undo;
    undo.add = !failed.add;
    undo.ldapName = failed.ldapName == "equivalentToMe" ? "securityEquals" : "equivalentToMe";
    undo.attribute = toLowerAscii(undo.ldapName);
    undo.valueDn = dnOf(id);
    undo.valueKey = dnKey(undo.valueDn);
    if (send(failed.partner, {}, {}, {}, {undo}) == LDAP_SUCCESS)
        noteChange(failed.partner, undo.attribute, undo.valueDn, undo.add);
    else
        snapshots_.erase(failed.partner);
}

// Sends queued values one by one: a value that is already there (or already gone) counts as
// done; for any other refusal the other side is taken back. Returns the first real failure.
NWDSCCODE LdapBackend::sendQueueSingly(ObjectId id, const std::vector<Pending>& queued) {
    NWDSCCODE first = SUCCESSFUL;
    for (const Pending& p : queued) {
        int rc = send(id, {}, {}, {}, {p});
        if (rc == LDAP_SUCCESS || (p.add && rc == LDAP_TYPE_OR_VALUE_EXISTS) ||
            (!p.add && rc == LDAP_NO_SUCH_ATTRIBUTE)) {
            noteChange(id, p.attribute, p.valueDn, p.add);
            continue;
        }
        if (first == SUCCESSFUL) first = statusFor(rc, id);
        takeBackPartner(id, p);
    }
    return first;
}

NWDSCCODE LdapBackend::flush(ObjectId id) {
    std::vector<Pending> queued = takeQueue(id);
    if (queued.empty()) return SUCCESSFUL;
    int rc = send(id, {}, {}, {}, queued);
    if (rc == LDAP_SUCCESS) {
        for (const Pending& p : queued) noteChange(id, p.attribute, p.valueDn, p.add);
        return SUCCESSFUL;
    }
    if (rc == LDAP_TYPE_OR_VALUE_EXISTS || rc == LDAP_NO_SUCH_ATTRIBUTE) return sendQueueSingly(id, queued);
    snapshots_.erase(id);
    for (const Pending& p : queued) takeBackPartner(id, p);
    return statusFor(rc, id);
}

NWDSCCODE LdapBackend::flushAll() {
    NWDSCCODE first = SUCCESSFUL;
    while (!pending_.empty()) {
        NWDSCCODE rc = flush(pending_.begin()->first);
        if (first == SUCCESSFUL) first = rc;
    }
    return first;
}

NWDSCCODE LdapBackend::modify(ObjectId id, const std::vector<Change>& changes) {
    if (!knows(id)) return ERR_NO_SUCH_ENTRY;
    if (id == ROOT_ID) return ERR_NO_ACCESS;
    // Values as the server takes them, before anything is sent: a reference to an object that
    // does not exist refuses the whole request.
    std::vector<std::vector<std::string>> valueTexts(changes.size());
    std::vector<std::string> ldapNames(changes.size());
    bool removesValues = false;
    for (size_t i = 0; i < changes.size(); ++i) {
        const Change& c = changes[i];
        ldapNames[i] = map_.ldapAttribute(c.attribute);
        if (c.type > DS_ADDITIONAL_VALUE) return ERR_INVALID_REQUEST;
        uint32_t syntax = c.syntax ? c.syntax : syntaxOf(ldapNames[i]);
        for (const AttrValue& v : c.values) {
            std::string text;
            switch (syntax) {
            case SYN_DIST_NAME:
                if (NWDSCCODE rc = dnOfName(v.text, text)) return rc;
                break;
            case SYN_BOOLEAN: text = v.number ? "TRUE" : "FALSE"; break;
            case SYN_INTEGER:
            case SYN_COUNTER:
            case SYN_INTERVAL: text = std::to_string(v.number); break;
            case SYN_TIME: text = formatGeneralizedTime(v.number); break;
            case SYN_OCTET_STRING:
            case SYN_STREAM: text = v.bytes; break;
            default: text = v.text; break;
            }
            valueTexts[i].push_back(std::move(text));
        }
        if (c.type == DS_REMOVE_VALUE) removesValues = true;
    }

    // What is queued for this object (an equivalence's side) goes in the same request: one
    // round trip, and the entry changes whole.
    std::vector<Pending> queued = takeQueue(id);
    int rc = send(id, changes, ldapNames, valueTexts, queued);
    if (rc != LDAP_SUCCESS && !queued.empty()) {
        if (rc == LDAP_TYPE_OR_VALUE_EXISTS || rc == LDAP_NO_SUCH_ATTRIBUTE || rc == LDAP_ASSERTION_FAILED) {
            // Which part was refused cannot be told: the queue goes alone, then the request.
            sendQueueSingly(id, queued);
            queued.clear();
            rc = send(id, changes, ldapNames, valueTexts, {});
        } else {
            snapshots_.erase(id);
            for (const Pending& p : queued) takeBackPartner(id, p);
        }
    }
    if (rc == LDAP_SUCCESS) {
        for (const Pending& p : queued) noteChange(id, p.attribute, p.valueDn, p.add);
        for (size_t i = 0; i < changes.size(); ++i) {
            std::string attribute = toLowerAscii(ldapNames[i]);
            if (!DN_MEMBERSHIP_ATTRS.count(attribute)) continue;
            if (changes[i].type == DS_REMOVE_ATTRIBUTE) {
                snapshots_.erase(id);
                continue;
            }
            for (const std::string& v : valueTexts[i])
                noteChange(id, attribute, v, changes[i].type != DS_REMOVE_VALUE);
        }
        return SUCCESSFUL;
    }
    snapshots_.erase(id);
    if (rc == LDAP_NO_SUCH_ATTRIBUTE && removesValues) return ERR_NO_SUCH_VALUE;
    return statusFor(rc, id);
}

// Security Equals on the user and Equivalent To Me on the group. The server keeps neither side in
// step, and LDAP has no transaction over two entries: both sides are queued and go out with the
// next change of their entry (the user's Group Membership, the group's Member, as a stop or go
// sends them), or before anything reads them. A side that cannot be written takes the other one
// back. A side that already agrees (left over from an interrupted run) is completed.
NWDSCCODE LdapBackend::changeEquivalence(ObjectId user, ObjectId group, bool add) {
    if (!knows(user) || !knows(group) || user == ROOT_ID || group == ROOT_ID) return ERR_NO_SUCH_ENTRY;
    if (NWDSCCODE rc = ensureSnapshot(user, "securityequals")) return rc;
    if (NWDSCCODE rc = ensureSnapshot(group, "equivalenttome")) return rc;
    const std::string userDn = dnOf(user), groupDn = dnOf(group);
    Pending userSide{add, "securityequals", "securityEquals", groupDn, dnKey(groupDn), group, nextPair_};
    Pending groupSide{add, "equivalenttome", "equivalentToMe", userDn, dnKey(userDn), user, nextPair_};
    ++nextPair_;
    bool userDone = holds(user, userSide.attribute, userSide.valueKey) == add;
    bool groupDone = holds(group, groupSide.attribute, groupSide.valueKey) == add;
    if (userDone && groupDone) return add ? ERR_DUPLICATE_VALUE : ERR_NO_SUCH_VALUE;
    if (!userDone) {
        pending_[user].push_back(userSide);
        ++pendingCount_;
    } else {
        groupSide.partner = -1;
    }
    if (!groupDone) {
        if (userDone) groupSide.pair = 0;
        pending_[group].push_back(groupSide);
        ++pendingCount_;
    } else {
        pending_[user].back().pair = 0;  // nothing to take back on the group
    }
    if (pendingCount_ > MAX_QUEUED) return flushAll();
    return SUCCESSFUL;
}

NWDSCCODE LdapBackend::addSecurityEquivalence(ObjectId user, ObjectId group) { return changeEquivalence(user, group, true); }

NWDSCCODE LdapBackend::removeSecurityEquivalence(ObjectId user, ObjectId group) {
    return changeEquivalence(user, group, false);
}

// ---- server clock ----

NWCCODE LdapBackend::serverDateTime(uint8_t dateTime[7]) {
    // Servers that tell their time: in the root DSE (currentTime) or OpenLDAP's monitor.
    struct Source {
        const char* dn;
        const char* attribute;
    };
    const Source sources[] = {{"", "currentTime"}, {"cn=Current,cn=Time,cn=Monitor", "monitorTimestamp"}};
    for (const Source& source : sources) {
        const char* attrs[] = {source.attribute, nullptr};
        Message result;
        if (baseRead(source.dn, attrs, result) != LDAP_SUCCESS) continue;
        LDAPMessage* entry = ldap_first_entry(ld_, result.get());
        if (!entry) continue;
        int64_t seconds = 0;
        if (!parseGeneralizedTime(firstValue(ld_, entry, source.attribute), seconds)) continue;
        time_t t = static_cast<time_t>(seconds);
        std::tm tm{};
        localtime_r(&t, &tm);
        dateTime[0] = static_cast<uint8_t>(tm.tm_year);
        dateTime[1] = static_cast<uint8_t>(tm.tm_mon + 1);
        dateTime[2] = static_cast<uint8_t>(tm.tm_mday);
        dateTime[3] = static_cast<uint8_t>(tm.tm_hour);
        dateTime[4] = static_cast<uint8_t>(tm.tm_min);
        dateTime[5] = static_cast<uint8_t>(tm.tm_sec);
        dateTime[6] = static_cast<uint8_t>(tm.tm_wday);
        return 0;
    }
    return NWE_SERVER_UNKNOWN;
}

}  // namespace

std::unique_ptr<DirectoryBackend> makeLdapBackend(const ClientConfig& config, NWCCODE& status) {
    auto backend = std::make_unique<LdapBackend>();
    status = backend->open(config);
    if (status != 0) return nullptr;
    return backend;
}

}  // namespace nw
