#include "nwclient/ldap/ldap_backend_impl.h"

#include "nwclient/ldap/ldap_backend.h"
#include "nwclient/ldap/ldap_diagnostics.h"
#include "nwclient/names.h"
#include "platform/ports.h"

#include <ldap_schema.h>
#include <netdb.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <ctime>
#include <filesystem>
#include <fstream>

namespace nw::ldapbackend {
namespace {

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

// The system's trusted CAs, where the usual distributions keep them; empty when none is found
// (the TLS library's own system trust applies then).
std::string systemCaBundle() {
    for (const char* path : {"/etc/ssl/certs/ca-certificates.crt", "/etc/pki/tls/certs/ca-bundle.crt", "/etc/ssl/cert.pem"}) {
        struct stat st {};
        if (stat(path, &st) == 0 && S_ISREG(st.st_mode)) return path;
    }
    return {};
}

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

// The naming contexts that are not below another one, without the server's own.
std::vector<std::string> topContexts(const std::vector<std::string>& contexts, const std::vector<std::string>& own) {
    std::vector<std::string> keys;
    for (const std::string& c : contexts) keys.push_back(dnKey(c));
    std::vector<std::string> top;
    for (size_t i = 0; i < contexts.size(); ++i) {
        if (keys[i].empty()) continue;
        bool skip = false;
        for (const std::string& o : own)
            if (!o.empty() && dnKey(o) == keys[i]) skip = true;
        for (size_t j = 0; j < contexts.size() && !skip; ++j) {
            const std::string& k = keys[j];
            if (j != i && !k.empty() && keys[i].size() > k.size() && keys[i].compare(keys[i].size() - k.size(), k.size(), k) == 0 &&
                keys[i][keys[i].size() - k.size() - 1] == ',')
                skip = true;
        }
        if (!skip) top.push_back(contexts[i]);
    }
    return top;
}

}  // namespace

// ---- set-up ----
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
    // Both were checked to be yes or no when the file was read.
    startTls_ = toLowerAscii(value("starttls")) == "yes";
    tlsVerify_ = toLowerAscii(value("tlsverify")) != "no";
    permissive_ = value("permissivemodify").empty() || isYes(value("permissivemodify"));
    std::string dir = std::filesystem::path(config.file).parent_path().string();
    auto relative = [&](std::string p) {
        if (!p.empty() && p[0] != '/' && !dir.empty()) p = dir + "/" + p;
        return p;
    };
    caFile_ = value("cafile").empty() ? std::string() : relative(value("cafile"));
    if (!value("timeout").empty()) timeoutSeconds_ = std::max(1, std::atoi(value("timeout").c_str()));
    pageSizeSet_ = !value("pagesize").empty();
    if (pageSizeSet_) pageSize_ = std::clamp(std::atoi(value("pagesize").c_str()), 1, 100000);
    ad_ = toLowerAscii(value("directory")) == "ad";
    if (!value("membervalues").empty())
        memberValues_ = static_cast<size_t>(std::clamp(std::atoi(value("membervalues").c_str()), 1,
                                                       static_cast<int>(MAX_VALUES_PER_REQUEST)));
    if (!value("rangesize").empty()) rangeSize_ = std::clamp(std::atoi(value("rangesize").c_str()), 1, 100000);
    membershipClass_ = value("membershipclass").empty() ? "tarvelMembership" : value("membershipclass");
    map_.configure(config.values);

    LDAPURLDesc* url = nullptr;
    if (ldap_url_parse(uri_.c_str(), &url) != LDAP_SUCCESS) return TARVEL_CONFIGURATION_INVALID;
    serverName_ = url->lud_host ? url->lud_host : "";
    ldap_free_urldesc(url);
    if (!value("servername").empty()) serverName_ = value("servername");
    if (serverName_.empty()) serverName_ = "LDAP";
    if (serverName_.size() > NW_MAX_SERVER_NAME_LEN - 1) serverName_.resize(NW_MAX_SERVER_NAME_LEN - 1);

    // Before the password is asked for: whoever types it learns first that it will cross the
    // network in clear, or that the server's certificate is not checked.
    nw::ldap::warnIfClearText(uri_, startTls_);
    if (!tlsVerify_ && (startTls_ || toLowerAscii(uri_).rfind("ldaps:", 0) == 0)) nw::ldap::warnCertificateUnchecked(uri_);

    // The operator: its typeless name maps to a DN unless the site names the DN itself.
    operatorName_ = std::string(names::stripRootSpelling(config.operatorName));
    bindDn_ = value("binddn");
    if (bindDn_.empty() && !operatorName_.empty()) {
        // eDirectory's layout: the leaf is cn, the top container o, the ones between ou. AD has
        // no o: every container is an ou.
        std::vector<std::string> parts = splitTypelessName(operatorName_);
        std::vector<Rdn> rdns;
        for (size_t i = 0; i < parts.size(); ++i)
            rdns.push_back({i == 0 ? "cn" : (i + 1 == parts.size() && !ad_ ? "o" : "ou"), parts[i]});
        bindDn_ = formatDn(rdns);
        if (!base_.empty()) bindDn_ += "," + base_;
        bindUnderContext_ = base_.empty();
    }

    // The password is kept for reconnecting: from here on no core dump may hold it.
    ::prctl(PR_SET_DUMPABLE, 0, 0, 0, 0);
    std::string passwordFile = value("passwordfile");
    if (!passwordFile.empty()) {
        if (NWCCODE rc = readPasswordFile(relative(passwordFile), password_)) return rc;
    } else {
        std::string prompt = "Kennwort für " + (operatorName_.empty() ? bindDn_ : operatorName_) + " (" + uri_ + ")";
        if (!platform::askPassword(prompt, password_) || password_.empty()) return TARVEL_LDAP_NO_PASSWORD;
    }

    nodes_.add(base_, dnKey(base_));
    nodes_[0].summary.id = ROOT_ID;
    nodes_[0].summary.name = "[root]";
    nodes_[0].summary.baseClass = "Top";
    nodes_[0].summary.flags = DS_CONTAINER_ENTRY;
    nodes_[0].described = true;

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
    if (startTls_ || toLowerAscii(uri_).rfind("ldaps:", 0) == 0) {
        // The certificate is checked whatever ldap.conf, an ldaprc (even one in the current
        // folder) or LDAPTLS_REQCERT say: only nwclient.conf's TLSVerify=no turns that off.
        const std::string ca = caFile_.empty() ? systemCaBundle() : caFile_;
        if (!ca.empty()) {
            ldap_set_option(ld_, LDAP_OPT_X_TLS_CACERTDIR, nullptr);
            ldap_set_option(ld_, LDAP_OPT_X_TLS_CACERTFILE, ca.c_str());
        }
        int require = tlsVerify_ ? LDAP_OPT_X_TLS_DEMAND : LDAP_OPT_X_TLS_NEVER;
        ldap_set_option(ld_, LDAP_OPT_X_TLS_REQUIRE_CERT, &require);
        int server = 0;
        ldap_set_option(ld_, LDAP_OPT_X_TLS_NEWCTX, &server);
    }
    if (startTls_) {
        int rc = ldap_start_tls_s(ld_, nullptr, nullptr);
        if (rc != LDAP_SUCCESS) return tcpReachable(uri_, timeoutSeconds_) ? TARVEL_LDAP_TLS_FAILED : TARVEL_LDAP_UNREACHABLE;
    }
    if (bindUnderContext_) {
        // Without Base= the operator's top name is one of the server's naming contexts (its
        // suffix o=UNTERRICHT, say): the bind DN goes below that one. The root DSE is readable
        // before the bind.
        bindUnderContext_ = false;
        const char* attrs[] = {"namingContexts", nullptr};
        LDAPMessage* raw = nullptr;
        timeval dseTimeout{timeoutSeconds_, 0};
        int rc = ldap_search_ext_s(ld_, "", LDAP_SCOPE_BASE, "(objectClass=*)", const_cast<char**>(attrs), 0, nullptr,
                                   nullptr, &dseTimeout, 0, &raw);
        Message result(raw);
        LDAPMessage* entry = rc == LDAP_SUCCESS ? ldap_first_entry(ld_, result.get()) : nullptr;
        std::vector<std::string> parts = splitTypelessName(operatorName_);
        for (const std::string& context : entry ? textValues(ld_, entry, "namingContexts") : std::vector<std::string>{}) {
            std::vector<Rdn> contextRdns;
            if (parts.size() < 2 || !parseDn(context, contextRdns) || contextRdns.empty() ||
                !text::equalsLocaleNoCase(contextRdns.front().value, parts.back()))
                continue;
            std::vector<Rdn> rdns;
            for (size_t i = 0; i + 1 < parts.size(); ++i) rdns.push_back({i == 0 ? "cn" : "ou", parts[i]});
            bindDn_ = formatDn(rdns) + "," + context;
            break;
        }
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
    const char* attrs[] = {"supportedControl",    "subschemaSubentry", "namingContexts", "monitorContext",
                           "configContext",       "supportedCapabilities", nullptr};
    Message result;
    int rc = baseRead("", attrs, result);
    if (rc != LDAP_SUCCESS) return isConnectionLost(rc) ? TARVEL_LDAP_UNREACHABLE : 0;
    LDAPMessage* entry = ldap_first_entry(ld_, result.get());
    if (!entry) return 0;
    std::vector<std::string> controls = textValues(ld_, entry, "supportedControl");
    auto has = [&](const char* oid) { return std::find(controls.begin(), controls.end(), oid) != controls.end(); };
    assertionSupported_ = has(LDAP_CONTROL_ASSERT);
    pagingSupported_ = controls.empty() || has(LDAP_CONTROL_PAGEDRESULTS);
    const std::vector<std::string> capabilities = textValues(ld_, entry, "supportedCapabilities");
    if (std::find(capabilities.begin(), capabilities.end(), AD_CAPABILITY) != capabilities.end()) ad_ = true;
    if (ad_) map_.addActiveDirectoryClasses();
    // Windows hands out at most 1,000 entries a page (MaxPageSize): fewer only split a class.
    if (ad_ && !pageSizeSet_) pageSize_ = 1000;
    namingContexts_ = textValues(ld_, entry, "namingContexts");
    topNamingContexts_ = topContexts(namingContexts_, {firstValue(ld_, entry, "monitorContext"),
                                                       firstValue(ld_, entry, "configContext")});
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

namespace {

int64_t steadySeconds() {
    return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// Whether anything arrived on a connection (an answer, or its end) without taking it.
bool anythingArrived(LDAP* ld) {
    int fd = -1;
    if (ldap_get_option(ld, LDAP_OPT_DESC, &fd) != LDAP_OPT_SUCCESS || fd < 0) return true;
    pollfd p{fd, POLLIN, 0};
    return poll(&p, 1, 0) != 0;
}

}  // namespace

void LdapBackend::giveUp() {
    lastTimedOut_ = true;
    if (!ld_) return;
    if (stalled_) ldap_unbind_ext_s(stalled_, nullptr, nullptr);
    stalled_ = ld_;
    ld_ = nullptr;
    stalledSince_ = steadySeconds();
    ++generation_;  // pages asked for on it are not waited for
}

int LdapBackend::reopen() {
    if (stalled_) {
        // Once the server answers on the given-up connection (or Timeout= has passed without a
        // word, as when the server went away unseen), a new one is tried.
        if (!anythingArrived(stalled_) && steadySeconds() < stalledSince_ + timeoutSeconds_) return LDAP_TIMEOUT;
        ldap_unbind_ext_s(stalled_, nullptr, nullptr);
        stalled_ = nullptr;
    }
    // What was learnt on the old connection is read again.
    childCache_.clear();
    nodes_.forgetDetails();
    nodes_[0].underParent = false;
    nodes_[0].objectClasses.clear();
    lastParentKey_ = std::string(1, '\x01');
    lastParentId_ = -1;
    snapshots_.clear();
    NWCCODE rc = connect();
    return rc == 0 ? LDAP_SUCCESS : LDAP_SERVER_DOWN;
}

// Runs an operation; when the connection turns out to be gone it is re-opened once and the
// operation tried again. A second loss is the caller's to report.
int LdapBackend::withRetry(const std::function<int()>& op) {
    int rc = ld_ ? op() : LDAP_SERVER_DOWN;
    if (!isConnectionLost(rc)) {
        if (rc == LDAP_TIMEOUT) giveUp();
        return rc;
    }
    if (int reopened = reopen(); reopened != LDAP_SUCCESS) return reopened;
    rc = op();
    if (rc == LDAP_TIMEOUT) giveUp();
    return rc;
}

int LdapBackend::baseRead(const std::string& dn, const char* const* attrs, Message& result) {
    return withRetry([&] {
        LDAPMessage* raw = nullptr;
        timeval timeout{timeoutSeconds_, 0};
        int rc = ldap_search_ext_s(ld_, dn.c_str(), LDAP_SCOPE_BASE, "(objectClass=*)", const_cast<char**>(attrs), 0,
                                   nullptr, nullptr, &timeout, 0, &raw);
        result.reset(raw);
        nw::ldap::logLdapReadFailure(ld_, rc, dn);
        return rc;
    });
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

}  // namespace nw::ldapbackend

namespace nw {

std::unique_ptr<DirectoryBackend> makeLdapBackend(const ClientConfig& config, NWCCODE& status) {
    // libldap writes to its sockets without MSG_NOSIGNAL: a request sent after the server closed
    // the connection (restarted, idle timeout) would end the program instead of failing and
    // being sent again on a new connection. A handler the program set itself stays.
    struct sigaction current {};
    if (sigaction(SIGPIPE, nullptr, &current) == 0 && current.sa_handler == SIG_DFL) signal(SIGPIPE, SIG_IGN);
    auto backend = std::make_unique<ldapbackend::LdapBackend>();
    status = backend->open(config);
    if (status != 0) return nullptr;
    return backend;
}

}  // namespace nw
