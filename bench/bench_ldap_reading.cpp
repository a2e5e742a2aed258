// What an operator waits for when the program reads an LDAP directory, against what the
// OpenLDAP tools need for the same answers. Starts its own slapd (scripts/slapd-fixture.sh) on
// loopback with a generated school, so it runs as it is:
//   bench_ldap_reading [benchmark flags]
//
// BM_DenyListColdVsLdapsearch: the deny list of a 5,000-member group from a fresh process
//   (connect and bind included: the members and every member's class, as the window fills its
//   list), interleaved with the anchor: ldapsearch reading the group, then one paged subtree
//   ldapsearch for objectClass, groupMembership and securityEquals of every entry below the
//   tree's top. Counters: the medians and their ratio (goal: at most 2).
// BM_NameLookupVsBaseRead: one typeless name resolved in a 5,000-entry OU (never resolved
//   before in the process), interleaved with a libldap base read of one entry. Goal: at most 2.
// BM_TenBigListingsMemory: ten listings of different 10,000-entry containers through the layer;
//   the growth of the process's resident memory after the first (goal: at most 20 MB), and
//   whether an object id handed out by the first listing still names its object.
#include "nwapi/nwapi.h"
#include "nwclient/client_setup.h"
#include "nwclient/client_state.h"
#include "nwclient/nwclient.h"

#include <benchmark/benchmark.h>
#include <ldap.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace {

constexpr const char* BASE = "dc=schule,dc=test";
constexpr int MEMBERS = 5000;
constexpr int BIG = 10000;
constexpr int CONTAINERS = 10;

using Clock = std::chrono::steady_clock;

double msSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

double median(std::vector<double> v) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

int run(const std::string& command) {
    int rc = std::system(command.c_str());
    return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
}

std::string readLine(const std::string& file) {
    std::ifstream in(file);
    std::string line;
    std::getline(in, line);
    return line;
}

// A private slapd with a generated school; stopped when the object goes.
class Server {
public:
    Server(const std::string& name, const std::string& ldif) {
        char pattern[] = "/tmp/tarvel-bench-XXXXXX";
        dir_ = mkdtemp(pattern);
        std::ofstream(dir_ + "/school.ldif") << ldif;
        const std::string admin = std::string("cn=admin,o=UNTERRICHT,") + BASE;
        std::string command = "bash '" TARVEL_SOURCE_DIR "/scripts/slapd-fixture.sh' start '" + dir_ + "/slapd' --base " +
                              BASE + " --ldif '" + dir_ + "/school.ldif' --admin '" + admin + "' --owner " +
                              std::to_string(getpid()) + " >/dev/null";
        if (run(command) != 0) {
            std::cerr << "bench_ldap_reading: slapd for " << name << " did not start\n";
            std::exit(1);
        }
        url_ = readLine(dir_ + "/slapd/url");
        adminDn_ = admin;
        conf_ = dir_ + "/nwclient.conf";
        std::ofstream(conf_) << "Tree=" << url_ << "\nBase=" << BASE << "\nOperator=admin.UNTERRICHT\nPasswordFile="
                             << dir_ << "/slapd/admin.pw\nTimeout=30\n";
    }
    ~Server() {
        run("bash '" TARVEL_SOURCE_DIR "/scripts/slapd-fixture.sh' stop '" + dir_ + "/slapd' >/dev/null 2>&1");
        run("rm -rf '" + dir_ + "'");
    }
    const std::string& url() const { return url_; }
    const std::string& conf() const { return conf_; }
    const std::string& adminDn() const { return adminDn_; }
    std::string passwordFile() const { return dir_ + "/slapd/admin.pw"; }

private:
    std::string dir_, url_, conf_, adminDn_;
};

std::string schoolTop() {
    return std::string("dn: o=UNTERRICHT,") + BASE + "\nobjectClass: organization\no: UNTERRICHT\n\n" +
           "dn: cn=admin,o=UNTERRICHT," + BASE + "\nobjectClass: inetOrgPerson\ncn: admin\nsn: Admin\n\n";
}

// 5,000 pupils in ou=BENCH, all members of the deny group on all four sides.
Server& denyServer() {
    static std::unique_ptr<Server> server;
    if (!server) {
        std::ostringstream ldif;
        ldif << schoolTop();
        const std::string bench = std::string("ou=BENCH,o=UNTERRICHT,") + BASE;
        const std::string group = std::string("cn=G_User_Internet_Deny,o=UNTERRICHT,") + BASE;
        ldif << "dn: " << bench << "\nobjectClass: organizationalUnit\nou: BENCH\n\n";
        for (int i = 0; i < MEMBERS; ++i)
            ldif << "dn: cn=P" << i << "," << bench << "\nobjectClass: inetOrgPerson\nobjectClass: tarvelMembership\ncn: P"
                 << i << "\nsn: Pupil\ngroupMembership: " << group << "\nsecurityEquals: " << group << "\n\n";
        ldif << "dn: " << group << "\nobjectClass: tarvelGroup\ncn: G_User_Internet_Deny\n";
        for (int i = 0; i < MEMBERS; ++i) ldif << "member: cn=P" << i << "," << bench << "\n";
        for (int i = 0; i < MEMBERS; ++i) ldif << "equivalentToMe: cn=P" << i << "," << bench << "\n";
        ldif << "\n";
        server = std::make_unique<Server>("the deny list", ldif.str());
    }
    return *server;
}

// The deny list as the window fills it, in this (fresh) process. Exit code 0 when every member
// came with its class.
int denyListChild(const std::string& conf) {
    // TARVEL_BENCH_PHASES=1: where the time goes, on stderr.
    const bool phases = std::getenv("TARVEL_BENCH_PHASES") != nullptr;
    Clock::time_point t = Clock::now();
    auto phase = [&](const char* what) {
        if (phases) std::cerr << what << " " << msSince(t) << " ms\n";
        t = Clock::now();
    };
    nw::setConfigurationFile(conf);
    bool ok = false;
    nwapi::InitNWConnection(ok);
    if (!ok) return 2;
    phase("connect");
    nwapi::SetzeContext("[root]");
    nwapi::NameList members;
    int32_t error = 0;
    nwapi::GetGroupMembers(".G_User_Internet_Deny.UNTERRICHT", members, error);
    if (error != 0 || members.size() != size_t(MEMBERS)) return 3;
    phase("members");
    for (const std::string& m : members)
        if (nwapi::GetBaseClass(m) != "User") return 4;
    phase("classes");
    return 0;
}

std::string self;

void BM_DenyListColdVsLdapsearch(benchmark::State& state) {
    Server& server = denyServer();
    const std::string auth = " -x -H '" + server.url() + "' -D '" + server.adminDn() + "' -y '" + server.passwordFile() + "'";
    const std::string anchor = "ldapsearch" + auth + " -b 'cn=G_User_Internet_Deny,o=UNTERRICHT," + BASE +
                               "' -s base member >/dev/null && ldapsearch" + auth + " -E pr=500/noprompt -b 'o=UNTERRICHT," +
                               BASE + "' -s sub '(objectClass=*)' objectClass groupMembership securityEquals >/dev/null";
    const std::string ours = "'" + self + "' --deny-list-child='" + server.conf() + "'";
    std::vector<double> oursMs, anchorMs;
    for (auto _ : state) {
        Clock::time_point t = Clock::now();
        if (run(anchor) != 0) state.SkipWithError("ldapsearch failed");
        anchorMs.push_back(msSince(t));
        t = Clock::now();
        if (run(ours) != 0) state.SkipWithError("the deny list was not whole");
        oursMs.push_back(msSince(t));
    }
    state.counters["ours_ms"] = median(oursMs);
    state.counters["ldapsearch_ms"] = median(anchorMs);
    state.counters["ratio"] = median(anchorMs) > 0 ? median(oursMs) / median(anchorMs) : 0;
}

void BM_NameLookupVsBaseRead(benchmark::State& state) {
    Server& server = denyServer();
    nw::setConfigurationFile(server.conf());
    if (!nwapi::layer().initialised) {
        bool ok = false;
        nwapi::InitNWConnection(ok);
        if (!ok) {
            state.SkipWithError("no connection");
            return;
        }
    }
    nw::NWDSContextHandle context = nwapi::layer().context;
    LDAP* ld = nullptr;
    ldap_initialize(&ld, server.url().c_str());
    int version = LDAP_VERSION3;
    ldap_set_option(ld, LDAP_OPT_PROTOCOL_VERSION, &version);
    std::string password = readLine(server.passwordFile());
    berval credentials{static_cast<ber_len_t>(password.size()), password.data()};
    ldap_sasl_bind_s(ld, server.adminDn().c_str(), LDAP_SASL_SIMPLE, &credentials, nullptr, nullptr, nullptr);
    // The containers once, so each round resolves only its leaf, as a user's name in a known class.
    uint32_t id = 0;
    nw::NWDSMapNameToID(context, 0, ".BENCH.UNTERRICHT", &id);
    static int next = 0;  // a name never resolved before in this process
    std::vector<double> oursUs, readUs;
    for (auto _ : state) {
        if (next >= MEMBERS) {
            state.SkipWithError("out of fresh names");
            break;
        }
        int i = next++;
        std::string dn = "cn=P" + std::to_string((i + MEMBERS / 2) % MEMBERS) + ",ou=BENCH,o=UNTERRICHT," + BASE;
        const char* attrs[] = {"objectClass", nullptr};
        Clock::time_point t = Clock::now();
        LDAPMessage* result = nullptr;
        int rc = ldap_search_ext_s(ld, dn.c_str(), LDAP_SCOPE_BASE, "(objectClass=*)", const_cast<char**>(attrs), 0,
                                   nullptr, nullptr, nullptr, 0, &result);
        readUs.push_back(msSince(t) * 1000);
        ldap_msgfree(result);
        if (rc != LDAP_SUCCESS) state.SkipWithError("base read failed");
        std::string name = ".P" + std::to_string(i) + ".BENCH.UNTERRICHT";
        t = Clock::now();
        if (nw::NWDSMapNameToID(context, 0, name.c_str(), &id) != 0) state.SkipWithError("lookup failed");
        oursUs.push_back(msSince(t) * 1000);
    }
    ldap_unbind_ext_s(ld, nullptr, nullptr);
    state.counters["ours_us"] = median(oursUs);
    state.counters["base_read_us"] = median(readUs);
    state.counters["ratio"] = median(readUs) > 0 ? median(oursUs) / median(readUs) : 0;
}

long rssKb() {
    std::ifstream in("/proc/self/statm");
    long size = 0, resident = 0;
    in >> size >> resident;
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

void BM_TenBigListingsMemory(benchmark::State& state) {
    std::ostringstream ldif;
    ldif << schoolTop();
    for (int c = 0; c < CONTAINERS; ++c) {
        std::string ou = "ou=K" + std::to_string(c) + ",o=UNTERRICHT," + BASE;
        ldif << "dn: " << ou << "\nobjectClass: organizationalUnit\nou: K" << c << "\n\n";
        for (int i = 0; i < BIG; ++i)
            ldif << "dn: cn=Schueler" << c << "x" << i << "," << ou << "\nobjectClass: inetOrgPerson\ncn: Schueler" << c
                 << "x" << i << "\nsn: Pupil\n\n";
    }
    Server server("the big listings", ldif.str());
    nwapi::DoneNWConnection();
    nw::resetClient();
    nwapi::resetLayerForTesting();
    nw::setConfigurationFile(server.conf());
    bool ok = false;
    nwapi::InitNWConnection(ok);
    if (!ok) {
        state.SkipWithError("no connection");
        return;
    }
    nw::NWDSContextHandle context = nwapi::layer().context;
    double growthMb = 0, firstMb = 0;
    bool idsValid = true;
    for (auto _ : state) {
        long afterFirst = 0;
        uint32_t firstId = 0;
        for (int c = 0; c < CONTAINERS; ++c) {
            nwapi::NameList entries;
            nwapi::ListeUnterobjekte(".K" + std::to_string(c) + ".UNTERRICHT", entries, 0);
            if (entries.size() != size_t(BIG)) state.SkipWithError("a listing was not whole");
            if (c == 0) {
                nw::NWDSMapNameToID(context, 0, ".Schueler0x4711.K0.UNTERRICHT", &firstId);
                afterFirst = rssKb();
            }
        }
        growthMb = double(rssKb() - afterFirst) / 1024;
        firstMb = double(afterFirst) / 1024;
        // The id from the first listing still names its object.
        std::string fullName;
        nw::ObjectSummary summary;
        idsValid = nw::state().backend->describe(nw::ObjectId(firstId), fullName, summary) == 0 &&
                   fullName == "Schueler0x4711.K0.UNTERRICHT";
    }
    state.counters["rss_after_first_mb"] = firstMb;
    state.counters["rss_growth_mb"] = growthMb;
    state.counters["first_id_valid"] = idsValid ? 1 : 0;
    nwapi::DoneNWConnection();
}

}  // namespace

int main(int argc, char** argv) {
    char path[4096] = {};
    ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    self = n > 0 ? std::string(path, size_t(n)) : argv[0];
    std::vector<char*> rest = {argv[0]};
    for (int i = 1; i < argc; ++i) {
        const char* child = "--deny-list-child=";
        if (std::strncmp(argv[i], child, std::strlen(child)) == 0) return denyListChild(argv[i] + std::strlen(child));
        rest.push_back(argv[i]);
    }
    benchmark::RegisterBenchmark("BM_DenyListColdVsLdapsearch", BM_DenyListColdVsLdapsearch)
        ->Unit(benchmark::kMillisecond)
        ->Iterations(9);
    benchmark::RegisterBenchmark("BM_NameLookupVsBaseRead", BM_NameLookupVsBaseRead)
        ->Unit(benchmark::kMicrosecond)
        ->Iterations(2000);
    benchmark::RegisterBenchmark("BM_TenBigListingsMemory", BM_TenBigListingsMemory)
        ->Unit(benchmark::kMillisecond)
        ->Iterations(1);
    int count = int(rest.size());
    benchmark::Initialize(&count, rest.data());
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    nwapi::DoneNWConnection();
    return 0;
}
