// Answers per second of tarvel-proxy-helper against Squid's own ext_ldap_group_acl on the same
// slapd (5,000 pupils, 500 of them in the deny group, slapd-fixture.sh's indexes), both driven
// through their standard input and output as Squid drives them, one request at a time:
//   bench_proxy_helper [benchmark flags]
//
// BM_Warm/<helper>: one answer of a running helper (the login changes every request; half of
//   them are stopped). items_per_second is the answers per second of one helper process.
// BM_Cold/<helper>: a fresh process's first answer (start, connect, bind, one lookup), as when
//   Squid starts a helper.
// BM_WarmEmbedded: tarvel-proxy-helper on an embedded tree of 5,000 users (tarvel-tree generate),
//   which has no index to search by name: every answer walks the tree.
// Each answer is checked (OK for a pupil who may browse, ERR for a stopped one); a wrong answer
// stops the benchmark with an error.
#include <benchmark/benchmark.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace {

constexpr const char* BASE = "dc=schule,dc=test";
constexpr int PUPILS = 5000;
constexpr int STOPPED = 500;
const std::string GROUP_BASE = std::string("ou=PROJEKTE,o=UNTERRICHT,") + BASE;
const std::string PUPIL_BASE = std::string("ou=BENCH,o=UNTERRICHT,") + BASE;

int run(const std::string& command) {
    const int rc = std::system(command.c_str());
    return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
}

std::string readLine(const std::string& file) {
    std::ifstream in(file);
    std::string line;
    std::getline(in, line);
    return line;
}

// A helper process with its standard input and output on pipes.
class Helper {
public:
    explicit Helper(const std::string& command) {
        int in[2], out[2];
        if (::pipe(in) != 0 || ::pipe(out) != 0) std::abort();
        pid_ = ::fork();
        if (pid_ == 0) {
            ::dup2(in[0], 0);
            ::dup2(out[1], 1);
            for (int fd : {in[0], in[1], out[0], out[1]}) ::close(fd);
            ::execl("/bin/sh", "sh", "-c", ("exec " + command + " 2>/dev/null").c_str(), (char*)nullptr);
            ::_exit(127);
        }
        ::close(in[0]);
        ::close(out[1]);
        to_ = in[1];
        from_ = out[0];
    }
    ~Helper() {
        ::close(to_);
        ::close(from_);
        ::waitpid(pid_, nullptr, 0);
    }
    std::string ask(const std::string& line) {
        const std::string request = line + "\n";
        if (::write(to_, request.data(), request.size()) != ssize_t(request.size())) return {};
        std::string answer;
        char c = 0;
        pollfd p{from_, POLLIN, 0};
        while (::poll(&p, 1, 30000) == 1 && ::read(from_, &c, 1) == 1 && c != '\n') answer += c;
        // Squid's helpers may end "ERR " with a blank.
        while (!answer.empty() && answer.back() == ' ') answer.pop_back();
        return answer;
    }

private:
    pid_t pid_ = -1;
    int to_ = -1, from_ = -1;
};

// A private slapd with the pupils and the deny group; the helpers' files beside it.
class Server {
public:
    Server() {
        char pattern[] = "/tmp/tarvel-bench-XXXXXX";
        dir_ = ::mkdtemp(pattern);
        std::ostringstream ldif;
        const std::string group = "cn=G_User_Internet_Deny," + GROUP_BASE;
        ldif << "dn: o=UNTERRICHT," << BASE << "\nobjectClass: organization\no: UNTERRICHT\n\n"
             << "dn: cn=admin,o=UNTERRICHT," << BASE << "\nobjectClass: inetOrgPerson\ncn: admin\nsn: Admin\n\n"
             << "dn: " << GROUP_BASE << "\nobjectClass: organizationalUnit\nou: PROJEKTE\n\n"
             << "dn: " << PUPIL_BASE << "\nobjectClass: organizationalUnit\nou: BENCH\n\n";
        for (int i = 0; i < PUPILS; ++i)
            ldif << "dn: cn=P" << i << "," << PUPIL_BASE << "\nobjectClass: inetOrgPerson\ncn: P" << i << "\nsn: Pupil\n\n";
        ldif << "dn: " << group << "\nobjectClass: tarvelGroup\ncn: G_User_Internet_Deny\n";
        for (int i = 0; i < STOPPED; ++i) ldif << "member: cn=P" << i << "," << PUPIL_BASE << "\n";
        std::ofstream(dir_ + "/school.ldif") << ldif.str() << "\n";
        const std::string admin = std::string("cn=admin,o=UNTERRICHT,") + BASE;
        if (run("bash '" TARVEL_SOURCE_DIR "/scripts/slapd-fixture.sh' start '" + dir_ + "/slapd' --base " + BASE +
                " --ldif '" + dir_ + "/school.ldif' --admin '" + admin + "' --owner " + std::to_string(getpid()) +
                " >/dev/null") != 0) {
            std::cerr << "bench_proxy_helper: slapd did not start\n";
            std::exit(1);
        }
        const std::string url = readLine(dir_ + "/slapd/url");
        const std::string pw = dir_ + "/slapd/admin.pw";
        std::ofstream(dir_ + "/nwclient.conf") << "Tree=" << url << "\nBase=" << BASE
                                               << "\nOperator=admin.UNTERRICHT\nPasswordFile=" << pw << "\n";
        std::ofstream(dir_ + "/tarvel.ini") << "[TYP]\r\nTYP=Tarvel\r\nVer=100\r\n[DEFAULT]\r\n"
                                               "GroupInternetUserDeny=G_User_Internet_Deny.PROJEKTE.UNTERRICHT\r\n";
        ours_ = std::string(TARVEL_PROXY_HELPER) + " --nwclient " + dir_ + "/nwclient.conf --ini " + dir_ + "/tarvel.ini";
        // Squid's helper with the "may browse" filter of packaging/squid/tarvel-ldap.conf.
        squids_ = "/usr/lib/squid/ext_ldap_group_acl -v 3 -H " + url + " -b '" + GROUP_BASE +
                  "' -f '(&(cn=%g)(!(member=%u)))' -B '" + PUPIL_BASE +
                  "' -s sub -F '(&(objectClass=inetOrgPerson)(cn=%s))' -D '" + admin + "' -W " + pw;
    }
    ~Server() {
        run("bash '" TARVEL_SOURCE_DIR "/scripts/slapd-fixture.sh' stop '" + dir_ + "/slapd' >/dev/null 2>&1");
        run("rm -rf '" + dir_ + "'");
    }
    // The helper's command and the request line for pupil i (Squid adds the ACL's argument).
    std::string command(bool ours) const { return ours ? ours_ : squids_; }
    static std::string request(bool ours, int i) {
        std::string line = std::to_string(i);
        line.insert(line.begin(), 'P');
        line += ours ? " -" : " G_User_Internet_Deny";
        return line;
    }

private:
    std::string dir_, ours_, squids_;
};

Server& server() {
    static std::unique_ptr<Server> s = std::make_unique<Server>();
    return *s;
}

const char* expected(int pupil) { return pupil < STOPPED ? "ERR" : "OK"; }

void BM_Warm(benchmark::State& state) {
    const bool ours = state.range(0) == 1;
    Helper helper(server().command(ours));
    int i = 0;
    for (auto _ : state) {
        // Stopped and free pupils alternate; each login is asked once per 5,000 answers.
        const int pupil = (i % 2 == 0) ? (i / 2) % STOPPED : STOPPED + (i / 2) % (PUPILS - STOPPED);
        ++i;
        const std::string answer = helper.ask(Server::request(ours, pupil));
        if (answer != expected(pupil)) {
            state.SkipWithError(("wrong answer for P" + std::to_string(pupil) + ": " + answer).c_str());
            break;
        }
    }
    state.SetItemsProcessed(state.iterations());
    state.SetLabel(ours ? "tarvel-proxy-helper" : "ext_ldap_group_acl");
}
BENCHMARK(BM_Warm)->Arg(1)->Arg(0)->MinTime(3.0)->UseRealTime();

void BM_Cold(benchmark::State& state) {
    const bool ours = state.range(0) == 1;
    int i = 0;
    for (auto _ : state) {
        const int pupil = (i++ * 997) % PUPILS;
        Helper helper(server().command(ours));
        if (helper.ask(Server::request(ours, pupil)) != expected(pupil)) {
            state.SkipWithError("wrong answer");
            break;
        }
    }
    state.SetItemsProcessed(state.iterations());
    state.SetLabel(ours ? "tarvel-proxy-helper" : "ext_ldap_group_acl");
}
BENCHMARK(BM_Cold)->Arg(1)->Arg(0)->MinTime(3.0)->UseRealTime()->Unit(benchmark::kMillisecond);

void BM_WarmEmbedded(benchmark::State& state) {
    char pattern[] = "/tmp/tarvel-bench-XXXXXX";
    const std::string dir = ::mkdtemp(pattern);
    const std::string tree = dir + "/school.tree";
    if (run(std::string(TARVEL_TREE_TOOL) + " generate " + tree + " --users 5000 --containers 20 --members 500 >/dev/null") !=
        0) {
        state.SkipWithError("tarvel-tree generate failed");
        return;
    }
    std::ofstream(dir + "/nwclient.conf") << "Tree=sqlite:" << tree << "\nOperator=admin.UNTERRICHT\n";
    std::ofstream(dir + "/tarvel.ini") << "[TYP]\r\nTYP=Tarvel\r\nVer=100\r\n[DEFAULT]\r\n"
                                          "GroupInternetUserDeny=G_User_Internet_Deny.PROJEKTE.UNTERRICHT\r\n";
    // The stopped users' logins, as a proxy's list would hold them.
    run(std::string(TARVEL_TREE_TOOL) + " members " + tree + " G_User_Internet_Deny.PROJEKTE.UNTERRICHT | sed 's/\\..*//' > " +
        dir + "/stopped");
    std::vector<std::string> stopped;
    std::ifstream in(dir + "/stopped");
    for (std::string line; std::getline(in, line);) stopped.push_back(line);
    {
        Helper helper(std::string(TARVEL_PROXY_HELPER) + " --nwclient " + dir + "/nwclient.conf --ini " + dir + "/tarvel.ini");
        size_t i = 0;
        for (auto _ : state) {
            // A stopped login, then one nobody has (found nowhere: the whole tree is walked).
            const bool stop = i % 2 == 0 && !stopped.empty();
            const std::string answer = helper.ask((stop ? stopped[(i / 2) % stopped.size()] : "niemand") + " -");
            ++i;
            if (answer != (stop ? "ERR" : "OK")) {
                state.SkipWithError("wrong answer");
                break;
            }
        }
    }
    state.SetItemsProcessed(state.iterations());
    run("rm -rf '" + dir + "'");
}
BENCHMARK(BM_WarmEmbedded)->MinTime(3.0)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
