// The proxy, end to end: Debian's Squid with Debian's own squid.conf (only its port and paths made
// private, its conf.d include pointed at a test folder), the configurations of packaging/squid/
// as /etc/squid/conf.d/tarvel.conf, and a real authenticator (basic_ncsa_auth with openssl's
// password hashes, or basic_ldap_auth). Through tarvel-proxy-helper a stop holds at the pupil's
// next request and a go frees at the next one, without a reload, on the embedded tree and on
// slapd; a helper that cannot read the directory makes Squid refuse. Squid's own LDAP group
// helper and the list that tarvel-ctl writes are walked through stop, go and a timed stop.
#include "deny/job.h"
#include "free_port.h"
#include "nwapi/nwapi.h"
#include "nwclient/client_setup.h"
#include "platform/recording.h"
#include "samba_fixture.h"
#include "slapd_fixture.h"
#include "temp_trees.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <memory>
#include <netinet/in.h>
#include <pwd.h>
#include <sstream>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using testsupport::readFile;
using testsupport::runCommand;
using testsupport::writeFile;

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

const char* const SquidBinary = "/usr/sbin/squid";
const std::string Group = "G_User_Internet_Deny.PROJEKTE.UNTERRICHT";

int connectTo(int port) {
    const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(uint16_t(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    timeval timeout{10, 0};
    ::setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    if (::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        ::close(s);
        return -1;
    }
    return s;
}

// Answers every request with 200 "ok".
class Origin {
public:
    Origin() {
        listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        if (::bind(listener_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(listener_, 16) != 0 ||
            ::getsockname(listener_, reinterpret_cast<sockaddr*>(&a), &len) != 0)
            throw std::runtime_error("origin server: no loopback port");
        port_ = ntohs(a.sin_port);
        thread_ = std::thread([this] {
            while (!stop_) {
                const int c = ::accept(listener_, nullptr, nullptr);
                if (c < 0) continue;
                std::string request;
                char buf[2048];
                ssize_t n;
                while (request.find("\r\n\r\n") == std::string::npos && (n = ::read(c, buf, sizeof buf)) > 0)
                    request.append(buf, size_t(n));
                const std::string reply = "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent-Length: 2\r\n"
                                          "Cache-Control: no-store\r\nConnection: close\r\n\r\nok";
                (void)!::write(c, reply.data(), reply.size());
                ::close(c);
            }
        });
    }
    ~Origin() {
        stop_ = true;
        const int c = connectTo(port_);  // wakes accept()
        if (c >= 0) ::close(c);
        thread_.join();
        ::close(listener_);
    }
    int port() const { return port_; }

private:
    int listener_ = -1;
    int port_ = 0;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

std::string base64(const std::string& in) {
    static const char* table = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    size_t i = 0;
    for (; i + 2 < in.size(); i += 3) {
        const unsigned v = (unsigned char)in[i] << 16 | (unsigned char)in[i + 1] << 8 | (unsigned char)in[i + 2];
        out += {table[v >> 18], table[(v >> 12) & 63], table[(v >> 6) & 63], table[v & 63]};
    }
    if (i + 1 == in.size()) {
        const unsigned v = (unsigned char)in[i] << 16;
        out += {table[v >> 18], table[(v >> 12) & 63], '=', '='};
    } else if (i + 2 == in.size()) {
        const unsigned v = (unsigned char)in[i] << 16 | (unsigned char)in[i + 1] << 8;
        out += {table[v >> 18], table[(v >> 12) & 63], table[(v >> 6) & 63], '='};
    }
    return out;
}

// Squid -N with a configuration in a folder below /tmp that Squid's user owns (Squid and its
// helpers run as "proxy" when started by root).
class Squid {
public:
    Squid() {
        if (::access(SquidBinary, X_OK) != 0)
            throw std::runtime_error("squid is not installed (scripts/install-deps.sh --test installs it)");
        port_ = testsupport::freeLoopbackPort();
        std::string conf = readFile("/etc/squid/squid.conf");
        const std::vector<std::pair<std::string, std::string>> private_ = {
            {"\ninclude /etc/squid/conf.d/*.conf\n", "\ninclude " + dir_.file("conf.d/*.conf") + "\n"},
            {"\nhttp_port 3128\n", "\nhttp_port 127.0.0.1:" + std::to_string(port_) + "\n"},
            {"\ncoredump_dir /var/spool/squid\n", "\ncoredump_dir " + dir_.path() + "\n"}};
        for (const auto& [from, to] : private_) {
            const size_t at = conf.find(from);
            if (at == std::string::npos) throw std::runtime_error("Debian's squid.conf has no line" + from);
            conf.replace(at, from.size(), to);
        }
        writeFile(dir_.file("squid.conf"),
                  conf + "visible_hostname tarvel-test\npid_filename " + dir_.file("squid.pid") + "\ncache_log " +
                      dir_.file("cache.log") + "\naccess_log stdio:" + dir_.file("access.log") +
                      "\nshutdown_lifetime 0 seconds\ndns_nameservers 127.0.0.1\npinger_enable off\n");
        fs::create_directory(dir_.file("conf.d"));
        for (const auto& entry : fs::directory_iterator("/etc/squid/conf.d"))
            fs::copy_file(entry.path(), dir_.file("conf.d/" + entry.path().filename().string()));
    }
    ~Squid() { stop(); }

    // packaging/squid/'s file where an installation puts it.
    void setAccess(const std::string& accessConfig) { writeFile(dir_.file("conf.d/tarvel.conf"), accessConfig); }
    // A password file for basic_ncsa_auth, hashed by openssl as the configuration says.
    std::string passwords(const std::vector<std::pair<std::string, std::string>>& logins) const {
        std::string lines;
        for (const auto& [login, password] : logins) {
            std::string hash;
            if (runCommand("openssl passwd -6 '" + password + "'", &hash) != 0) throw std::runtime_error(hash);
            lines += login + ":" + hash;
        }
        writeFile(dir_.file("passwd"), lines);
        return dir_.file("passwd");
    }
    const std::string& folder() const { return dir_.path(); }
    std::string file(const std::string& name) const { return dir_.file(name); }
    std::string reloadCommand() const {
        return std::string(SquidBinary) + " -f " + dir_.file("squid.conf") + " -k reconfigure";
    }

    // Hands the folder to Squid's user, then starts Squid and waits until it takes connections.
    void start() {
        if (::geteuid() == 0) {
            const passwd* proxy = ::getpwnam("proxy");
            if (!proxy) throw std::runtime_error("no user proxy");
            for (const auto& entry : fs::recursive_directory_iterator(dir_.path()))
                ::chown(entry.path().c_str(), proxy->pw_uid, proxy->pw_gid);
            ::chown(dir_.path().c_str(), proxy->pw_uid, proxy->pw_gid);
        }
        pid_ = ::fork();
        if (pid_ == 0) {
            const std::string log = dir_.file("squid.out");
            std::freopen(log.c_str(), "w", stdout);
            std::freopen(log.c_str(), "a", stderr);
            ::execl(SquidBinary, SquidBinary, "-N", "-f", dir_.file("squid.conf").c_str(), (char*)nullptr);
            ::_exit(127);
        }
        const auto deadline = Clock::now() + std::chrono::seconds(30);
        while (Clock::now() < deadline) {
            const int s = connectTo(port_);
            if (s >= 0) {
                ::close(s);
                return;
            }
            int status = 0;
            if (::waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        throw std::runtime_error("squid did not start: " + readFile(dir_.file("squid.out")) +
                                 readFile(dir_.file("cache.log")));
    }

    void stop() {
        if (pid_ <= 0) return;
        ::kill(pid_, SIGTERM);
        const auto deadline = Clock::now() + std::chrono::seconds(20);
        int status = 0;
        while (::waitpid(pid_, &status, WNOHANG) == 0) {
            if (Clock::now() > deadline) {
                ::kill(pid_, SIGKILL);
                ::waitpid(pid_, &status, 0);
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        pid_ = -1;
    }

    // The status of a GET through the proxy as user; 0 when there was no answer (Squid may be
    // between two configurations just after a reload).
    int request(int originPort, const std::string& user, const std::string& password) const {
        const int s = connectTo(port_);
        if (s < 0) return 0;
        const std::string target = "http://127.0.0.1:" + std::to_string(originPort) + "/";
        const std::string req = "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(originPort) +
                                "\r\nProxy-Authorization: Basic " + base64(user + ":" + password) +
                                "\r\nCache-Control: no-cache\r\nConnection: close\r\n\r\n";
        (void)!::write(s, req.data(), req.size());
        std::string reply;
        char buf[4096];
        ssize_t n;
        while (reply.find("\r\n") == std::string::npos && (n = ::read(s, buf, sizeof buf)) > 0) reply.append(buf, size_t(n));
        ::close(s);
        int code = 0;
        return std::sscanf(reply.c_str(), "HTTP/1.%*d %d", &code) == 1 ? code : 0;
    }

    // Asks until the answer is expected (a reload takes Squid a moment) or 15 s have passed;
    // the last answer.
    int awaitStatus(int originPort, const std::string& user, const std::string& password, int expected) const {
        const auto deadline = Clock::now() + std::chrono::seconds(15);
        int code = 0;
        do {
            code = request(originPort, user, password);
            if (code == expected) return code;
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        } while (Clock::now() < deadline);
        return code;
    }

private:
    testsupport::TempDir dir_;
    int port_ = 0;
    pid_t pid_ = -1;
};

std::string fill(std::string text, const std::vector<std::pair<std::string, std::string>>& values) {
    for (const auto& [key, value] : values)
        for (size_t at; (at = text.find(key)) != std::string::npos;) text.replace(at, key.size(), value);
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        if (!line.empty() && line[0] != '#') {
            EXPECT_EQ(line.find('@'), std::string::npos) << "not filled in: " << line;
        }
    }
    return text;
}

struct Ctl {
    std::string conf, ini, dir;
    int operator()(const std::string& arguments, std::string* out = nullptr) const {
        return runCommand("cd " + dir + " && env XDG_CONFIG_HOME=" + dir + " XDG_STATE_HOME=" + dir + " " TARVEL_CTL
                          " --nwclient=" + conf + " --ini=" + ini + " " + arguments + " </dev/null",
                          out);
    }
};

std::string settingsFile(const std::string& dir) {
    const std::string ini = dir + "/tarvel.ini";
    writeFile(ini, "[TYP]\r\nTYP=Tarvel\r\nVer=100\r\n[DEFAULT]\r\nBasisUserContainer=UNTERRICHT\r\n"
                   "GroupInternetUserDeny=" + Group + "\r\n");
    return ini;
}

// The pupil's way through stop, go, a timed stop and due.
void walkThrough(const Ctl& ctl, const Squid& squid, const Origin& origin, const std::string& pupil,
                 const std::string& login, const std::string& password) {
    std::string out;
    EXPECT_EQ(squid.awaitStatus(origin.port(), login, password, 200), 200) << "before the stop";
    ASSERT_EQ(ctl("stop " + pupil, &out), 0) << out;
    EXPECT_EQ(squid.awaitStatus(origin.port(), login, password, 403), 403) << "right after the stop";
    ASSERT_EQ(ctl("go " + pupil, &out), 0) << out;
    EXPECT_EQ(squid.awaitStatus(origin.port(), login, password, 200), 200) << "after the go";

    ASSERT_EQ(ctl("stop --for 3s " + pupil, &out), 0) << out;
    EXPECT_EQ(squid.awaitStatus(origin.port(), login, password, 403), 403) << "during the timed stop";
    ASSERT_EQ(ctl("due", &out), 0) << out;  // not due yet: nothing changes
    EXPECT_EQ(squid.awaitStatus(origin.port(), login, password, 403), 403) << "due before the time";
    // The timer would run due every minute; here it runs until the pending go is gone.
    const auto deadline = Clock::now() + std::chrono::seconds(20);
    std::string pending = "?";
    while (Clock::now() < deadline && !pending.empty()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        ASSERT_EQ(ctl("due", &out), 0) << out;
        ASSERT_EQ(ctl("pending 2>/dev/null", &pending), 0) << pending;
    }
    EXPECT_EQ(pending, "");
    EXPECT_EQ(squid.awaitStatus(origin.port(), login, password, 200), 200) << "after due";
}

TEST(SquidEndToEnd, ListAclOnTheEmbeddedTree) {
    Origin origin;
    testsupport::TempDir work;
    Ctl ctl{testsupport::useDemoTree(work), settingsFile(work.path()), work.path()};
    std::string listTemplate = readFile(TARVEL_SOURCE_DIR "/packaging/squid/tarvel-list.conf");
    ASSERT_FALSE(listTemplate.empty());
    Squid squid;
    const std::string list = squid.file("tarvel-deny.txt");
    const std::string auth = "/usr/lib/squid/basic_ncsa_auth " + squid.passwords({{"Gast03", "geheim"}, {"Gast01", "x"}});
    squid.setAccess(fill(listTemplate, {{"@AUTH@", auth}, {"@LIST_FILE@", list}}));
    writeFile(ctl.conf, readFile(ctl.conf) + "ListFile=" + list + "\nReloadCommand=" + squid.reloadCommand() + "\n");
    std::string out;
    ASSERT_EQ(ctl("list --logins --output=" + list, &out), 0) << out;
    ::chmod(list.c_str(), 0644);  // tarvel-ctl's rewrites keep the mode: Squid's user reads them
    squid.start();
    walkThrough(ctl, squid, origin, "Gast03.PROJEKTE.UNTERRICHT", "Gast03", "geheim");
    EXPECT_EQ(squid.request(origin.port(), "Gast03", "falsch"), 407) << "the authenticator compares passwords";
    // A pupil stopped from the start stays refused throughout.
    EXPECT_EQ(squid.request(origin.port(), "Gast01", "x"), 403);
}

// The files of tarvel-proxy-helper as README sets them up: a folder of Squid's user in which the
// operators write (the tree's -wal and -shm appear there), a tree Squid's user may read, not write.
struct HelperFiles {
    testsupport::TempDir dir;
    HelperFiles() {
        const passwd* proxy = ::getpwnam("proxy");
        if (::geteuid() == 0 && proxy) (void)!::chown(dir.path().c_str(), proxy->pw_uid, 0);
        ::chmod(dir.path().c_str(), 02770);
    }
    // The installed tarvel.conf with the helper of this build and the test's password file.
    std::string squidConf(const Squid& squid, const std::string& nwclient, const std::string& ini,
                          const std::vector<std::pair<std::string, std::string>>& logins) const {
        for (const std::string& f : {nwclient, ini}) ::chmod(f.c_str(), 0644);
        return fill(readFile(TARVEL_SOURCE_DIR "/packaging/squid/tarvel.conf"),
                    {{"@TARVEL_PROXY_HELPER@", TARVEL_PROXY_HELPER " --nwclient=" + nwclient + " --ini=" + ini},
                     {"/etc/squid/tarvel-passwd", squid.passwords(logins)}});
    }
    // A copy of a server account's password file that only Squid's user reads.
    std::string passwordFileForSquid(const std::string& original) const {
        const std::string pw = dir.file("helper.pw");
        writeFile(pw, readFile(original));
        ::chmod(pw.c_str(), 0600);
        const passwd* proxy = ::getpwnam("proxy");
        if (::geteuid() == 0 && proxy) (void)!::chown(pw.c_str(), proxy->pw_uid, proxy->pw_gid);
        return pw;
    }
};

// What the helper promises: the next request after a stop is refused, the next after a go allowed.
void nextRequest(const Ctl& ctl, const Squid& squid, const Origin& origin, const std::string& pupil,
                 const std::string& login, const std::string& password) {
    std::string out;
    EXPECT_EQ(squid.awaitStatus(origin.port(), login, password, 200), 200) << "before the stop";
    for (int round = 0; round < 2; ++round) {
        ASSERT_EQ(ctl("stop " + pupil, &out), 0) << out;
        EXPECT_EQ(squid.request(origin.port(), login, password), 403) << "the request right after the stop";
        ASSERT_EQ(ctl("go " + pupil, &out), 0) << out;
        EXPECT_EQ(squid.request(origin.port(), login, password), 200) << "the request right after the go";
    }
    EXPECT_EQ(squid.request(origin.port(), login, "falsch"), 407) << "the authenticator compares passwords";
}

TEST(SquidEndToEnd, HelperOnTheEmbeddedTree) {
    Origin origin;
    HelperFiles files;
    Ctl ctl{testsupport::useDemoTree(files.dir), settingsFile(files.dir.path()), files.dir.path()};
    ::chmod(files.dir.file("school.tree").c_str(), 0664);
    Squid squid;
    squid.setAccess(files.squidConf(squid, ctl.conf, ctl.ini, {{"Gast03", "geheim"}}));
    squid.start();
    nextRequest(ctl, squid, origin, "Gast03.PROJEKTE.UNTERRICHT", "Gast03", "geheim");
}

// A directory server the proxy asks: slapd with the school's schema, or a Samba AD DC, with the
// configurations of packaging/squid/ for it.
struct Server {
    std::string kind;
    std::unique_ptr<ldaptest::Slapd> slapd;
    std::unique_ptr<adtest::SambaDc> dc;
    std::string groupHelperConf, helperConf, url, userBase, groupBase, helperDn, pupil, login;

    explicit Server(const std::string& k) : kind(k) {
        if (kind == "slapd") {
            slapd = std::make_unique<ldaptest::Slapd>();
            groupHelperConf = "tarvel-ldap.conf", helperConf = "tarvel-helper-ldap.conf", url = slapd->url();
            userBase = ldaptest::BASE, groupBase = "ou=PROJEKTE,o=UNTERRICHT," + userBase;
            helperDn = ldaptest::dnOf(ldaptest::TEACHER), pupil = ldaptest::PLAIN, login = "Gast05";
        } else {
            dc = std::make_unique<adtest::SambaDc>();
            // Over LDAPS as AD wants it.
            groupHelperConf = "tarvel-ad.conf", helperConf = "tarvel-helper-ad.conf", url = dc->ldapsUrl();
            userBase = adtest::SCHOOL, groupBase = "OU=PROJEKTE," + userBase;
            helperDn = dc->dn(adtest::TEACHER), pupil = adtest::PUPIL, login = "mmeyer";
            // The login is sAMAccountName, here other than the name (CN).
            if (!dc->modify("dn: " + dc->dn(pupil) + "\nchangetype: modify\nreplace: sAMAccountName\nsAMAccountName: " +
                            login + "\n"))
                throw std::runtime_error("cannot rename the pupil's login");
        }
    }
    // On AD the operator's name becomes a DN of AD's form by Directory=ad.
    std::string useAs(const std::string& who) { return slapd ? slapd->useAs(who) : dc->useAs(who, "Directory=ad\n"); }
    std::string passwordFile(const std::string& who) const {
        return slapd ? slapd->passwordFile(who == "pupil" ? "plain" : who) : dc->passwordFile(who);
    }
    std::string pupilPassword() const {
        std::string password = readFile(passwordFile("pupil"));
        return password.substr(0, password.find('\n'));
    }
    // Squid's LDAP helpers take the CA from the environment (squid-ldap-ca.conf); a copy in
    // Squid's folder, which Squid's user reads.
    void trustCa(const Squid& squid) const {
        if (!dc) return;
        const std::string ca = squid.file("ca.pem");
        writeFile(ca, readFile(dc->caFile()));
        ::chmod(ca.c_str(), 0644);
        ::setenv("LDAPTLS_CACERT", ca.c_str(), 1);
    }
    // The ldap helpers' configuration with this server's values.
    std::string squidConf(const std::string& file, const std::string& helperPwFile,
                          const std::vector<std::pair<std::string, std::string>>& more = {}) const {
        std::vector<std::pair<std::string, std::string>> values = more;
        values.insert(values.end(), {{"@LDAP_URI@", url},
                                     {"@USER_BASE@", userBase},
                                     {"@GROUP_BASE@", groupBase},
                                     {"@GROUP@", "G_User_Internet_Deny"},
                                     {"@HELPER_DN@", helperDn},
                                     {"@HELPER_PW_FILE@", helperPwFile}});
        const std::string text = readFile(TARVEL_SOURCE_DIR "/packaging/squid/" + file);
        EXPECT_FALSE(text.empty()) << file;
        return fill(text, values);
    }
    // AD nests groups: the pupil in a class's group and that group in the deny group stops the
    // pupil as a member would; false when this server keeps no nesting to show.
    bool nestThroughClassGroup(bool in) const {
        if (!dc) return false;
        const std::string group = dc->dn(adtest::classGroup("KLASSE5A"));
        const std::string op = in ? "add" : "delete";
        return dc->modify("dn: " + group + "\nchangetype: modify\n" + op + ": member\nmember: " + dc->dn(pupil) +
                          "\n\ndn: " + dc->dn(Group) + "\nchangetype: modify\n" + op + ": member\nmember: " + group + "\n");
    }
};

class SquidOnServer : public ::testing::TestWithParam<std::string> {};

// A pupil in the deny group only through a class's group is refused at the next request, and
// browses again once the class's group is out.
void nestedRequest(const Server& server, const Squid& squid, const Origin& origin, const std::string& password) {
    if (!server.nestThroughClassGroup(true)) return;
    EXPECT_EQ(squid.request(origin.port(), server.login, password), 403) << "stopped through the class's group";
    ASSERT_TRUE(server.nestThroughClassGroup(false));
    EXPECT_EQ(squid.request(origin.port(), server.login, password), 200) << "the class's group taken out";
}

TEST_P(SquidOnServer, LdapGroupHelper) {
    Origin origin;
    Server server(GetParam());
    testsupport::TempDir work;
    Ctl ctl{server.useAs("admin"), settingsFile(work.path()), work.path()};
    Squid squid;
    // The helper's password file lives in Squid's folder, readable by Squid's user only.
    const std::string pw = squid.file("helper.pw");
    writeFile(pw, readFile(server.passwordFile("teacher")));
    ::chmod(pw.c_str(), 0600);
    server.trustCa(squid);
    squid.setAccess(server.squidConf(server.groupHelperConf, pw));
    squid.start();
    const std::string password = server.pupilPassword();
    walkThrough(ctl, squid, origin, server.pupil, server.login, password);
    nestedRequest(server, squid, origin, password);
    EXPECT_EQ(squid.request(origin.port(), server.login, "falsch"), 407) << "a wrong password is asked again";
}

TEST_P(SquidOnServer, Helper) {
    Origin origin;
    Server server(GetParam());
    HelperFiles files;
    Ctl ctl{server.useAs("admin"), settingsFile(files.dir.path()), files.dir.path()};
    // The helper binds as an account that only reads here, with a password file of Squid's user.
    const std::string pw = files.passwordFileForSquid(server.passwordFile("teacher"));
    const std::string conf = files.dir.file("nwclient.conf");
    writeFile(conf, readFile(server.useAs("teacher")) + "\nPasswordFile=" + pw + "\n");
    Squid squid;
    // Pupils log in with their directory password here (tarvel-helper-ldap.conf, tarvel-helper-ad.conf).
    ::chmod(ctl.ini.c_str(), 0644);
    ::chmod(conf.c_str(), 0644);
    const std::string squidPw = squid.file("auth.pw");
    writeFile(squidPw, readFile(server.passwordFile("teacher")));
    ::chmod(squidPw.c_str(), 0600);
    server.trustCa(squid);
    squid.setAccess(server.squidConf(
        server.helperConf, squidPw,
        {{"/usr/bin/tarvel-proxy-helper", TARVEL_PROXY_HELPER " --nwclient=" + conf + " --ini=" + ctl.ini}}));
    squid.start();
    const std::string password = server.pupilPassword();
    nextRequest(ctl, squid, origin, server.pupil, server.login, password);
    nestedRequest(server, squid, origin, password);
}

INSTANTIATE_TEST_SUITE_P(Directory, SquidOnServer, ::testing::Values("slapd", "samba"),
                         [](const auto& info) { return info.param; });

TEST(SquidEndToEnd, HelperThatCannotReadTheDirectoryRefuses) {
    Origin origin;
    HelperFiles files;
    Ctl ctl{testsupport::useDemoTree(files.dir), settingsFile(files.dir.path()), files.dir.path()};
    ::chmod(files.dir.file("school.tree").c_str(), 0);  // Squid's user cannot read it
    Squid squid;
    squid.setAccess(files.squidConf(squid, ctl.conf, ctl.ini, {{"Gast03", "geheim"}}));
    squid.start();
    // The pupil is not stopped and the password is right: only the helper's BH stands between.
    // Squid answers an ACL on %LOGIN that it could not evaluate by asking for the login again.
    for (int i = 0; i < 2; ++i) EXPECT_EQ(squid.request(origin.port(), "Gast03", "geheim"), 407);
    EXPECT_NE(readFile(squid.file("cache.log")).find("message: tarvel-proxy-helper: "), std::string::npos);
}

// A teacher limited to their classes by tarvel-ctl acl's rules: a stop through the layers the
// window runs and through tarvel-ctl reaches the proxy at the next request; a pupil of another
// class is refused by the directory and browses on.
TEST(SquidEndToEnd, TeacherLimitedToTheirClassesOnSlapd) {
    Origin origin;
    ldaptest::SchoolOptions school;
    school.teacherClasses = true;
    ldaptest::Slapd slapd(school);
    HelperFiles files;
    Ctl teacher{slapd.useAs("teacher"), settingsFile(files.dir.path()), files.dir.path()};
    const std::string helperConf = files.dir.file("helper.conf");
    writeFile(helperConf, readFile(slapd.useAs("teacher")) + "\nPasswordFile=" +
                              files.passwordFileForSquid(slapd.passwordFile("teacher")) + "\n");
    Squid squid;
    squid.setAccess(files.squidConf(squid, helperConf, teacher.ini, {{"S5A01", "geheim"}, {"S6A01", "geheim"}}));
    squid.start();
    const std::string inside = "S5A01.KLASSE5A.SCHUELER.UNTERRICHT", outside = "S6A01.KLASSE6A.SCHUELER.UNTERRICHT";
    nextRequest(teacher, squid, origin, inside, "S5A01", "geheim");
    {
        platform::RecordingPorts ports;
        nw::setConfigurationFile(teacher.conf);
        bool ok = false;
        nwapi::InitNWConnection(ok);
        ASSERT_TRUE(ok);
        EXPECT_TRUE(deny::runJob(deny::Direction::Stop, {inside}, Group).ok());
        EXPECT_EQ(squid.request(origin.port(), "S5A01", "geheim"), 403) << "right after the window's stop";
        EXPECT_TRUE(deny::runJob(deny::Direction::Go, {inside}, Group).ok());
        EXPECT_EQ(squid.request(origin.port(), "S5A01", "geheim"), 200) << "right after the window's go";
        nwapi::DoneNWConnection();
        nw::resetClient();
    }
    std::string out;
    EXPECT_EQ(teacher("stop " + outside, &out), 1) << out;
    EXPECT_EQ(squid.request(origin.port(), "S6A01", "geheim"), 200) << "refused by the directory: still browsing";
}

}  // namespace
