// tarvel-web against tarvel-ctl for what a school does at the start of a lesson: 30 teachers at
// once, each stopping the Internet of their class of 30 pupils, then all of them freeing it again.
//
//   web:    each teacher a client of the service's JSON API over TLS from an address of their own
//           (127.0.0.N, as from their own PC), HTTP Basic per request, a fresh connection per
//           change: POST /api/stop {"until":"weiter"} (then /api/release), GET /api/jobs/ID?wait=10
//           (answered at the job's end) until the job is done, as tarvel-ctl asks. Timed from the request to the answer that says done.
//   anchor: each teacher a fresh `tarvel-ctl stop CLASS` (then `go CLASS`) process with their
//           own nwclient.conf, as that teacher. Timed from the start to the end of the process.
//
// The two sides alternate which goes first from round to round; each phase (30 stops, then 30
// frees) starts all teachers together and is checked in the tree afterwards (900 pupils in the
// deny group, then none), so a change that silently did nothing cannot look fast. The counters
// are the median and 95th percentile over every teacher of every round (aim: web median at most
// 1.3 times tarvel-ctl's, 95th percentile at most 3 times).
//
// BM_IdleWorkerMemory: PSS (from /proc/PID/smaps_rollup, so shared pages count once in all) of
// the session workers after 30 teachers logged in on the page, per worker (aim: at most 8 MB).
// The service's own worker for the timer is left out. Needs to read other processes' smaps, as
// the workers are not dumpable: run as root or with CAP_SYS_PTRACE.
//
// The tree is embedded (generated: K00001..K00030 of 30 pupils each below SCHUELER.UNTERRICHT,
// lehrer01..lehrer30 in LEHRER.UNTERRICHT, each with the demo teacher's rights on their class
// only and on the deny group's members). Build with -DCMAKE_BUILD_TYPE=Release for figures.
#include "bench_embedded_trees.h"
#include "free_port.h"

#include "nwclient/embedded/sqlite_db.h"

#include <benchmark/benchmark.h>
#include <curl/curl.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <fstream>
#include <latch>
#include <netinet/in.h>
#include <set>
#include <spawn.h>
#include <sstream>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr int Teachers = 30;
constexpr int Pupils = 30;
const std::string Password = "Kreide-und-Tafel-7";
const std::string DenyGroup = "G_User_Internet_Deny.PROJEKTE.UNTERRICHT";

std::string className(int t) {
    char name[48];
    std::snprintf(name, sizeof name, "K%05d.SCHUELER.UNTERRICHT", t + 1);
    return name;
}
std::string loginOf(int t) {
    const std::string n = std::to_string(t + 1);
    return "lehrer" + std::string(n.size() < 2 ? 1 : 0, '0') + n;
}
std::string operatorOf(int t) { return loginOf(t) + ".LEHRER.UNTERRICHT"; }
// The teacher's own PC: a loopback address of their own, so the service's per-address
// connection limit sees 30 clients as a school's network would.
std::string addressOf(int t) { return "127.0.0." + std::to_string(t + 10); }

void write(const fs::path& file, const std::string& text, fs::perms mode = fs::perms(0644)) {
    std::ofstream(file, std::ios::binary | std::ios::trunc) << text;
    fs::permissions(file, mode);
}

// ---- processes ----------------------------------------------------------------------------

// Starts args[0] with stdin from a pipe fed with input (or /dev/null) and stdout+stderr into log.
pid_t spawn(std::vector<std::string> args, const std::string& log, const std::string* input = nullptr) {
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    int pipeFds[2] = {-1, -1};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (input && ::pipe2(pipeFds, O_CLOEXEC) == 0) posix_spawn_file_actions_adddup2(&actions, pipeFds[0], 0);
    else posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    pid_t pid = -1;
    if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    if (pipeFds[0] >= 0) {
        ::close(pipeFds[0]);
        if (pid > 0) {  // a short write shows in the program's exit
            const ssize_t written = ::write(pipeFds[1], input->data(), input->size());
            (void)written;
        }
        ::close(pipeFds[1]);
    }
    return pid;
}

int waitFor(pid_t pid) {
    int status = -1;
    if (pid <= 0 || ::waitpid(pid, &status, 0) != pid) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// ---- the school -----------------------------------------------------------------------------

struct School {
    fs::path dir;
    std::string tree, ini;
    std::vector<std::string> teacherConf;  // each teacher's own nwclient.conf
    std::string webConf, certificate, webLog;
};

void grant(nw::embedded::TreeStore& store, nw::ObjectId on, const std::string& attribute,
           const std::string& subject, uint32_t privileges) {
    nw::embedded::AttrDef def;
    if (!store.attribute("ACL", def)) throw std::runtime_error("no ACL attribute");
    nw::AttrValue v;
    v.text = attribute;
    v.text2 = subject;
    v.number = privileges;
    if (store.applyChanges(on, {nw::Change{nw::DS_ADDITIONAL_VALUE, def.name, def.syntax, {v}}}) != 0)
        throw std::runtime_error("cannot grant " + attribute + " to " + subject);
}

nw::ObjectId resolve(nw::embedded::TreeStore& store, const std::string& name) {
    nw::ObjectId id = -1;
    if (store.resolveFullName(name, id) != 0) throw std::runtime_error("not in the tree: " + name);
    return id;
}

// The teachers and their rights, as the demo tree gives lehrer1 its classes: Group Membership
// and Security Equals on the class container, Member on the deny group, browsing PROJEKTE.
void addTeachers(const std::string& treeFile) {
    nw::NWCCODE status = 0;
    auto store = nw::embedded::TreeStore::open(treeFile, status);
    if (!store) throw std::runtime_error("cannot open " + treeFile);
    nw::embedded::Transaction transaction(store->db());
    nw::ObjectId lehrer = -1;
    if (store->addObject(resolve(*store, "UNTERRICHT"), "LEHRER", "Organizational Unit", lehrer) != 0)
        throw std::runtime_error("cannot add LEHRER");
    const uint32_t readWrite = nw::DS_ATTR_COMPARE | nw::DS_ATTR_READ | nw::DS_ATTR_WRITE;
    const nw::ObjectId deny = resolve(*store, DenyGroup);
    for (int t = 0; t < Teachers; ++t) {
        nw::ObjectId teacher = -1;
        if (store->addObject(lehrer, loginOf(t), "User", teacher) != 0)
            throw std::runtime_error("cannot add " + loginOf(t));
        const nw::ObjectId klasse = resolve(*store, className(t));
        grant(*store, klasse, "Group Membership", operatorOf(t), readWrite);
        grant(*store, klasse, "Security Equals", operatorOf(t), readWrite);
        grant(*store, deny, "Member", operatorOf(t), readWrite);
    }
    grant(*store, resolve(*store, "PROJEKTE.UNTERRICHT"), "[Entry Rights]", "LEHRER.UNTERRICHT", nw::DS_ENTRY_BROWSE);
    transaction.commit();
}

size_t denyMembers(const School& school) {
    nw::NWCCODE status = 0;
    auto store = nw::embedded::TreeStore::open(school.tree, status);
    if (!store) throw std::runtime_error("cannot open " + school.tree);
    nw::Attribute members;
    const nw::NWDSCCODE st = store->readAttribute(resolve(*store, DenyGroup), "Member", members);
    return st == 0 ? members.values.size() : 0;
}

const School& school() {
    static const School made = [] {
        School s;
        s.dir = benchtrees::folder() / "web";
        fs::create_directories(s.dir / "service");
        s.tree = (s.dir / "school.tree").string();
        fs::copy_file(benchtrees::tree(Teachers * Pupils, Teachers), s.tree);
        addTeachers(s.tree);
        s.ini = (s.dir / "tarvel.ini").string();
        write(s.ini, "[TYP]\r\nTYP=Tarvel\r\nVer=100\r\n[DEFAULT]\r\nBasisUserContainer=UNTERRICHT\r\n"
                     "GroupInternetUserDeny=." + DenyGroup + "\r\n");
        for (int t = 0; t < Teachers; ++t) {
            const fs::path home = s.dir / "teachers" / loginOf(t);
            fs::create_directories(home);
            s.teacherConf.push_back((home / "nwclient.conf").string());
            write(s.teacherConf.back(), "Tree=sqlite:" + s.tree + "\nOperator=" + operatorOf(t) + "\n");
        }
        // The service: its own account's nwclient.conf, a certificate made for the run, a state
        // folder only it may enter, and the teachers' web logins written as an administrator does.
        const fs::path svc = s.dir / "service";
        write(svc / "nwclient.conf", "Tree=sqlite:" + s.tree + "\nOperator=admin.UNTERRICHT\n");
        fs::create_directory(svc / "state");
        fs::permissions(svc / "state", fs::perms(0750));
        s.certificate = (svc / "web.pem").string();
        s.webLog = (svc / "tarvel-web.log").string();
        if (waitFor(spawn({"/usr/bin/openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2",
                           "-subj", "/CN=127.0.0.1", "-addext", "subjectAltName=IP:127.0.0.1", "-keyout",
                           (svc / "web.key").string(), "-out", s.certificate},
                          (svc / "openssl.log").string())) != 0)
            throw std::runtime_error("openssl made no certificate");
        s.webConf = (svc / "tarvel-web.conf").string();
        write(s.webConf, "[Dienst]\nListen=127.0.0.1\nPort=" + std::to_string(testsupport::freeLoopbackPort()) +
                             "\nCertificate=web.pem\nKey=web.key\nStateDir=state\nNWClient=nwclient.conf\n"
                             "Settings=" + s.ini + "\nLogins=web-logins\n[Stunden]\n1=07:45-08:30\nPausenpuffer=5\n");
        const std::string line = Password + "\n";
        for (int t = 0; t < Teachers; ++t)
            if (waitFor(spawn({TARVEL_WEB, "passwd", loginOf(t), "--operator", operatorOf(t), "--config", s.webConf},
                              s.webLog, &line)) != 0)
                throw std::runtime_error("tarvel-web passwd failed, see " + s.webLog);
        return s;
    }();
    return made;
}

// ---- the HTTP client ------------------------------------------------------------------------

struct Answer {
    long status = 0;
    std::string body;
    std::string error;  // curl's, when there was no answer
};

size_t collect(char* data, size_t size, size_t count, void* out) {
    static_cast<std::string*>(out)->append(data, size * count);
    return size * count;
}

// One connection of one teacher (kept alive between its requests, as curl does).
class Client {
public:
    Client(const School& s, int port, int teacher, bool basic)
        : curl_(curl_easy_init()), base_("https://127.0.0.1:" + std::to_string(port)) {
        // The school's certificate alone, as a script given --cacert trusts it; without this the
        // client library reads every certificate of the system's CA folder again for each
        // connection (some 30 ms here), which is the client's cost, not the service's.
        curl_easy_setopt(curl_, CURLOPT_CAINFO, s.certificate.c_str());
        curl_easy_setopt(curl_, CURLOPT_CAPATH, nullptr);
        curl_easy_setopt(curl_, CURLOPT_INTERFACE, (address_ = addressOf(teacher)).c_str());
        curl_easy_setopt(curl_, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(curl_, CURLOPT_TIMEOUT, 300L);
        curl_easy_setopt(curl_, CURLOPT_WRITEFUNCTION, collect);
        curl_easy_setopt(curl_, CURLOPT_COOKIEFILE, "");
        if (basic) {
            login_ = loginOf(teacher);
            curl_easy_setopt(curl_, CURLOPT_HTTPAUTH, long(CURLAUTH_BASIC));
            curl_easy_setopt(curl_, CURLOPT_USERNAME, login_.c_str());
            curl_easy_setopt(curl_, CURLOPT_PASSWORD, Password.c_str());
        }
    }
    ~Client() { curl_easy_cleanup(curl_); }
    Client(const Client&) = delete;
    Client& operator=(const Client&) = delete;

    Answer get(const std::string& path) { return perform(path, nullptr, nullptr); }
    Answer post(const std::string& path, const std::string& body, const char* type) {
        return perform(path, &body, type);
    }

private:
    Answer perform(const std::string& path, const std::string* body, const char* type) {
        Answer a;
        curl_slist* headers = nullptr;
        curl_easy_setopt(curl_, CURLOPT_URL, (base_ + path).c_str());
        curl_easy_setopt(curl_, CURLOPT_WRITEDATA, &a.body);
        if (body) {
            headers = curl_slist_append(headers, (std::string("Content-Type: ") + type).c_str());
            curl_easy_setopt(curl_, CURLOPT_POSTFIELDS, body->c_str());
            curl_easy_setopt(curl_, CURLOPT_POSTFIELDSIZE, long(body->size()));
        } else {
            curl_easy_setopt(curl_, CURLOPT_HTTPGET, 1L);
        }
        curl_easy_setopt(curl_, CURLOPT_HTTPHEADER, headers);
        const CURLcode rc = curl_easy_perform(curl_);
        if (rc == CURLE_OK) curl_easy_getinfo(curl_, CURLINFO_RESPONSE_CODE, &a.status);
        else a.error = curl_easy_strerror(rc);
        curl_easy_setopt(curl_, CURLOPT_HTTPHEADER, nullptr);
        curl_slist_free_all(headers);
        return a;
    }

    CURL* curl_;
    std::string base_, address_, login_;
};

// ---- the service ----------------------------------------------------------------------------

class Service {
public:
    explicit Service(const School& s) {
        std::ifstream conf(s.webConf);
        for (std::string line; std::getline(conf, line);)
            if (line.rfind("Port=", 0) == 0) port_ = std::stoi(line.substr(5));
        pid_ = spawn({TARVEL_WEB, "--config", s.webConf}, s.webLog);
        const auto deadline = Clock::now() + std::chrono::seconds(30);
        while (Clock::now() < deadline) {
            int status = 0;
            if (pid_ <= 0 || ::waitpid(pid_, &status, WNOHANG) == pid_) break;
            if (Client(s, port_, 0, false).get("/").status == 200) return;
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        throw std::runtime_error("tarvel-web did not answer, see " + s.webLog);
    }
    ~Service() {
        ::kill(pid_, SIGTERM);
        waitFor(pid_);
    }
    Service(const Service&) = delete;
    Service& operator=(const Service&) = delete;
    int port() const { return port_; }
    pid_t pid() const { return pid_; }

private:
    int port_ = 0;
    pid_t pid_ = -1;
};

// ---- one phase: all teachers at once ----------------------------------------------------------

using Samples = std::vector<double>;  // milliseconds

// Runs change(t) for every teacher in a thread of its own, all started together; each returns
// its milliseconds, or throws with what went wrong.
void phase(Samples& into, const std::function<double(int)>& change) {
    std::latch start(Teachers + 1);
    std::vector<double> ms(Teachers, -1);
    std::vector<std::string> failures(Teachers);
    std::vector<std::thread> threads;
    for (int t = 0; t < Teachers; ++t)
        threads.emplace_back([&, t] {
            start.arrive_and_wait();
            try {
                ms[size_t(t)] = change(t);
            } catch (const std::exception& e) {
                failures[size_t(t)] = e.what();
            }
        });
    start.arrive_and_wait();
    for (std::thread& thread : threads) thread.join();
    for (int t = 0; t < Teachers; ++t)
        if (!failures[size_t(t)].empty()) throw std::runtime_error(loginOf(t) + ": " + failures[size_t(t)]);
    into.insert(into.end(), ms.begin(), ms.end());
}

double since(Clock::time_point begin) {
    return std::chrono::duration<double, std::milli>(Clock::now() - begin).count();
}

// A change through the API as a script does it: the request, then the job asked for until done.
double webChange(const School& s, int port, int teacher, const std::string& route, const std::string& body) {
    const auto begin = Clock::now();
    Client client(s, port, teacher, true);
    const Answer started = client.post(route, body, "application/json");
    if (started.status != 202) throw std::runtime_error(route + ": " + std::to_string(started.status) + " " + started.body + started.error);
    const nlohmann::json job = nlohmann::json::parse(started.body).at("job");
    const std::string path = "/api/jobs/" + (job.is_string() ? job.get<std::string>() : job.dump()) + "?wait=10";
    for (;;) {
        const Answer polled = client.get(path);
        if (polled.status != 200) throw std::runtime_error(path + ": " + std::to_string(polled.status) + " " + polled.body + polled.error);
        const nlohmann::json state = nlohmann::json::parse(polled.body);
        if (state.at("state") == "done") {
            if (!state.at("ok").get<bool>()) throw std::runtime_error(route + " not done: " + polled.body);
            return since(begin);
        }
    }
}

double ctlChange(const School& s, int teacher, const std::string& command) {
    const auto begin = Clock::now();
    const int exit = waitFor(spawn({TARVEL_CTL, "--nwclient=" + s.teacherConf[size_t(teacher)], "--ini=" + s.ini,
                                    command, className(teacher)},
                                   "/dev/null"));
    if (exit != 0) throw std::runtime_error("tarvel-ctl " + command + " ended with " + std::to_string(exit));
    return since(begin);
}

void expectDenied(const School& s, size_t expected, const char* after) {
    const size_t found = denyMembers(s);
    if (found != expected)
        throw std::runtime_error(std::string("after ") + after + ": " + std::to_string(found) + " pupils in the deny group, not " +
                                 std::to_string(expected));
}

double median(Samples v) {
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n == 0 ? 0 : n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}
double percentile95(Samples v) {
    std::sort(v.begin(), v.end());
    if (v.empty()) return 0;
    const size_t rank = (v.size() * 95 + 99) / 100;  // nearest rank
    return v[std::max<size_t>(rank, 1) - 1];
}

// The figures over all rounds, and how far the ratio of the medians moved from round to round
// (each round's 30 teachers on each side), as the noise of the run.
void report(benchmark::State& state, const std::string& what, const Samples& web, const Samples& ctl) {
    const double wm = median(web), cm = median(ctl), w95 = percentile95(web), c95 = percentile95(ctl);
    state.counters[what + "_web_med_ms"] = wm;
    state.counters[what + "_ctl_med_ms"] = cm;
    state.counters[what + "_med_ratio"] = cm > 0 ? wm / cm : 0;
    state.counters[what + "_web_p95_ms"] = w95;
    state.counters[what + "_ctl_p95_ms"] = c95;
    state.counters[what + "_p95_ratio"] = c95 > 0 ? w95 / c95 : 0;
    double low = 0, high = 0;
    for (size_t at = 0; at + Teachers <= std::min(web.size(), ctl.size()); at += Teachers) {
        const double r = median(Samples(web.begin() + long(at), web.begin() + long(at) + Teachers)) /
                         median(Samples(ctl.begin() + long(at), ctl.begin() + long(at) + Teachers));
        low = at == 0 ? r : std::min(low, r);
        high = at == 0 ? r : std::max(high, r);
    }
    state.counters[what + "_med_ratio_rounds_lo"] = low;
    state.counters[what + "_med_ratio_rounds_hi"] = high;
}

void BM_ThirtyTeachersStopAndFree(benchmark::State& state) {
    const School& s = school();
    Service service(s);
    const int port = service.port();
    const size_t all = size_t(Teachers) * Pupils;
    Samples webStop, webFree, ctlStop, ctlFree;
    auto web = [&] {
        phase(webStop, [&](int t) {
            return webChange(s, port, t, "/api/stop",
                             nlohmann::json{{"names", {className(t)}}, {"until", "weiter"}}.dump());
        });
        expectDenied(s, all, "the web's stops");
        phase(webFree, [&](int t) {
            return webChange(s, port, t, "/api/release", nlohmann::json{{"names", {className(t)}}}.dump());
        });
        expectDenied(s, 0, "the web's releases");
    };
    auto ctl = [&] {
        phase(ctlStop, [&](int t) { return ctlChange(s, t, "stop"); });
        expectDenied(s, all, "tarvel-ctl stop");
        phase(ctlFree, [&](int t) { return ctlChange(s, t, "go"); });
        expectDenied(s, 0, "tarvel-ctl go");
    };
    int round = 0;
    try {
        for (auto _ : state) {
            if (round++ % 2 == 0) {
                web();
                ctl();
            } else {
                ctl();
                web();
            }
        }
    } catch (const std::exception& e) {
        state.SkipWithError(e.what());
        return;
    }
    report(state, "stop", webStop, ctlStop);
    report(state, "free", webFree, ctlFree);
}
BENCHMARK(BM_ThirtyTeachersStopAndFree)->Iterations(5)->Unit(benchmark::kMillisecond)->UseRealTime();

// ---- memory of idle session workers ----------------------------------------------------------

std::set<pid_t> workersOf(pid_t service) {
    std::set<pid_t> found;
    for (const fs::directory_entry& e : fs::directory_iterator("/proc")) {
        const std::string name = e.path().filename().string();
        if (name.find_first_not_of("0123456789") != std::string::npos) continue;
        std::error_code ec;
        const fs::path exe = fs::read_symlink(e.path() / "exe", ec);
        if (ec || exe.filename() != "tarvel-web-worker") continue;
        std::ifstream stat(e.path() / "stat");
        std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
        const size_t close = text.rfind(')');
        if (close == std::string::npos) continue;
        std::istringstream rest(text.substr(close + 2));
        char stateChar = 0;
        pid_t parent = 0;
        rest >> stateChar >> parent;
        if (parent == service) found.insert(pid_t(std::stol(name)));
    }
    return found;
}

// One field of smaps_rollup ("Pss:", "Rss:") in KiB.
double rollupKiB(pid_t pid, const std::string& field) {
    std::ifstream rollup("/proc/" + std::to_string(pid) + "/smaps_rollup");
    for (std::string key; rollup >> key;) {
        double kib = 0;
        if (key == field && rollup >> kib) return kib;
        rollup.ignore(std::numeric_limits<std::streamsize>::max(), '\n');
    }
    throw std::runtime_error("no " + field + " for " + std::to_string(pid) + " (not root?)");
}

void BM_IdleWorkerMemory(benchmark::State& state) {
    const School& s = school();
    try {
        for (auto _ : state) {
            Service service(s);
            const std::set<pid_t> before = workersOf(service.pid());
            std::vector<std::unique_ptr<Client>> sessions;
            for (int t = 0; t < Teachers; ++t) {
                sessions.push_back(std::make_unique<Client>(s, service.port(), t, false));
                const Answer a = sessions.back()->post("/anmelden", "login=" + loginOf(t) + "&password=" + Password,
                                                       "application/x-www-form-urlencoded");
                if (a.status != 303 && a.status != 200)
                    throw std::runtime_error("login of " + loginOf(t) + ": " + std::to_string(a.status) + a.error);
            }
            std::this_thread::sleep_for(std::chrono::seconds(1));  // every worker idle
            double pss = 0, rss = 0;
            int count = 0;
            for (pid_t pid : workersOf(service.pid()))
                if (!before.count(pid)) {
                    pss += rollupKiB(pid, "Pss:");
                    rss += rollupKiB(pid, "Rss:");
                    ++count;
                }
            if (count != Teachers)
                throw std::runtime_error(std::to_string(count) + " session workers after " + std::to_string(Teachers) +
                                         " logins");
            state.counters["workers"] = count;
            state.counters["pss_mb_per_worker"] = pss / count / 1024;
            state.counters["rss_mb_per_worker"] = rss / count / 1024;  // shared pages counted in each
        }
    } catch (const std::exception& e) {
        state.SkipWithError(e.what());
    }
}
BENCHMARK(BM_IdleWorkerMemory)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    curl_global_init(CURL_GLOBAL_DEFAULT);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    curl_global_cleanup();
    return 0;
}
