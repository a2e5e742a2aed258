// The main window on the offscreen platform: from a click on "Benutzer" to the browser's rows
// painted, over a container of 2,000 and 20,000 users, beside the bare listing of the same
// container with nothing else (no window messages handled). The window's own share (deny list,
// sort, filters, list-view rows, pumping messages, painting) should keep the whole within three
// times the listing.
//
// On a private slapd with realistic names (German surnames and given names, umlauts, inserted
// in shuffled order over 40 classes):
//   BM_DenyListSlapd: a deny group of 5,001, "Benutzer" to both lists painted, each time from a
//     fresh connection, interleaved with its anchor, two ldapsearch processes reading what the
//     list needs (the group's members, then the members' classes); medians and their ratio.
//   BM_RepaintGapAfterStop: a stop of 4,000 selected in the browser; the longest pause between
//     two turns of the event loop (a zero timer), over the whole press and after the progress
//     dialog's last step (the refill of both lists).
#include "bench_embedded_trees.h"
#include "main/tform1.h"
#include "main/widgets.h"
#include "nwapi/nwapi.h"
#include "nwclient/client_setup.h"
#include "platform/qt/qt_ports.h"
#include "platform/recording.h"
#include "slapd_fixture.h"

#include "main/deny_progress.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTest>
#include <QTimer>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <stdexcept>
#include <string>
#include <unordered_map>
#include <vector>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

namespace {

const std::string kContainer = "K00001.SCHUELER.UNTERRICHT";

// The Qt hourglass and pump as in the program; boxes are recorded so nothing waits for a click.
struct BenchPorts {
    platform::RecordingMessageBox box;
    platform::qt::QtBusyCursor cursor;
    platform::qt::QtEventPump pump{&cursor};
    // withPump false: the listing alone, without handling any window messages.
    explicit BenchPorts(bool withPump = true) {
        cursor.onIdle = [this] { pump.endProgress(); };
        platform::Ports p;
        p.messageBox = &box;
        p.busyCursor = &cursor;
        if (withPump) p.eventPump = &pump;
        platform::installPorts(p);
    }
    ~BenchPorts() {
        cursor.onIdle = nullptr;
        platform::installPorts(platform::Ports{});
    }
};

std::string connect(int users) {
    nwapi::DoneNWConnection();
    nw::resetClient();
    nwapi::resetLayerForTesting();
    // A few deny members, so the deny list is filled as well (and no box is shown).
    const std::string tree = benchtrees::tree(users, 1, 50);
    const std::filesystem::path folder = std::filesystem::path(tree).parent_path();
    const std::string conf = (folder / "gui-nwclient.conf").string();
    std::ofstream(conf, std::ios::trunc) << "Tree=sqlite:" << tree << "\nOperator=admin.UNTERRICHT\n";
    nw::setConfigurationFile(conf);
    const std::string ini = (folder / "gui-tarvel.ini").string();
    std::ofstream(ini, std::ios::trunc | std::ios::binary)
        << "[TYP]\r\nTYP=Tarvel\r\nVer=100\r\n[DEFAULT]\r\nBasisUserContainer=" << kContainer
        << "\r\nGroupInternetUserDeny=.G_User_Internet_Deny.PROJEKTE.UNTERRICHT\r\n";
    return ini;
}

void BM_BenutzerToRowsPainted(benchmark::State& state) {
    BenchPorts ports;
    const std::string ini = connect(int(state.range(0)));
    TForm1 form(std::vector<std::string>{"tarvel", "/ini=" + ini});
    form.show();
    form.FormActivate();
    QCoreApplication::processEvents();
    for (auto _ : state) {
        QTest::mouseClick(form.BUser, Qt::LeftButton);
        QCoreApplication::processEvents();  // the views lay their rows out
        form.LVCtxBrowser->viewport()->repaint();
        form.LVGroupDeny->viewport()->repaint();
        if (form.LVCtxBrowser->count() != int(state.range(0)) + 1) state.SkipWithError("rows missing");
    }
    if (!ports.box.boxes.empty()) state.SkipWithError(("a box: " + ports.box.boxes.front().text).c_str());
    state.SetComplexityN(state.range(0));
    form.hide();
}
BENCHMARK(BM_BenutzerToRowsPainted)->Arg(2000)->Arg(20000)->Unit(benchmark::kMillisecond)->Complexity();

void BM_ListingAlone(benchmark::State& state) {
    BenchPorts ports(false);
    connect(int(state.range(0)));
    bool ok = false;
    nwapi::InitNWConnection(ok);
    if (!ok) state.SkipWithError("no connection");
    nwapi::SetzeContext("[root]");
    for (auto _ : state) {
        text::NameList list;
        nwapi::ListeUnterobjekte(kContainer, list, 0);
        benchmark::DoNotOptimize(list.data());
        if (list.size() != size_t(state.range(0))) state.SkipWithError("entries missing");
    }
    state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_ListingAlone)->Arg(2000)->Arg(20000)->Unit(benchmark::kMillisecond)->Complexity();

// ---- on slapd, with realistic names ------------------------------------------------------------

std::string base64(const std::string& in) {
    static const char* const digits = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    for (size_t i = 0; i < in.size(); i += 3) {
        uint32_t n = uint32_t(uint8_t(in[i])) << 16;
        if (i + 1 < in.size()) n |= uint32_t(uint8_t(in[i + 1])) << 8;
        if (i + 2 < in.size()) n |= uint32_t(uint8_t(in[i + 2]));
        out += digits[(n >> 18) & 63];
        out += digits[(n >> 12) & 63];
        out += i + 1 < in.size() ? digits[(n >> 6) & 63] : '=';
        out += i + 2 < in.size() ? digits[n & 63] : '=';
    }
    return out;
}

// Typeless names of n pupils, "MüllerAnna" and the like (a number added where a pair repeats),
// in shuffled order, spread over `classes` containers below `parent` (the containers given too).
struct Pupils {
    std::vector<std::string> containers, users;
};
Pupils realisticPupils(int n, int classes, const std::string& parent) {
    static const char* const surnames[] = {
        "Müller", "Schmidt", "Schneider", "Fischer", "Weber", "Meyer", "Wagner", "Becker", "Schulz", "Hoffmann",
        "Schäfer", "Koch", "Bauer", "Richter", "Klein", "Wolf", "Schröder", "Neumann", "Schwarz", "Zimmermann",
        "Braun", "Krüger", "Hofmann", "Hartmann", "Lange", "Schmitt", "Werner", "Schmitz", "Krause", "Meier",
        "Lehmann", "Schmid", "Schulze", "Maier", "Köhler", "Herrmann", "König", "Walter", "Mayer", "Huber",
        "Kaiser", "Fuchs", "Peters", "Lang", "Scholz", "Möller", "Weiß", "Jung", "Hahn", "Schubert",
        "Vogel", "Friedrich", "Keller", "Günther", "Frank", "Berger", "Winkler", "Roth", "Beck", "Lorenz",
        "Baumann", "Franke", "Albrecht", "Schuster", "Simon", "Ludwig", "Böhm", "Winter", "Kraus", "Martin",
        "Schumacher", "Krämer", "Vogt", "Stein", "Jäger", "Otto", "Sommer", "Groß", "Seidel", "Heinrich"};
    static const char* const given[] = {
        "Anna", "Ben", "Lea", "Paul", "Mia", "Jonas", "Emma", "Finn", "Hannah", "Leon", "Sophie", "Elias",
        "Lina", "Noah", "Marie", "Luis", "Emilia", "Felix", "Clara", "Lukas", "Ida", "Maximilian", "Lena", "Henry",
        "Charlotte", "Theo", "Johanna", "Oskar", "Frieda", "Jakob", "Mila", "Anton", "Ella", "Emil", "Luisa", "Moritz",
        "Zoe", "Karl", "Greta", "Jan", "Nele", "Tim", "Amelie", "Niklas", "Maja", "David", "Jule", "Samuel",
        "Matilda", "Till", "Romy", "Linus", "Alina", "Vincent", "Leonie", "Julian", "Pia", "Tom", "Helena", "Ole"};
    std::mt19937 random(23);
    std::vector<std::string> names;
    std::unordered_map<std::string, int> seen;
    while (int(names.size()) < n) {
        std::string name = std::string(surnames[random() % std::size(surnames)]) + given[random() % std::size(given)];
        if (const int again = seen[name]++) name += std::to_string(again + 1);
        names.push_back(name);
    }
    Pupils p;
    for (int c = 0; c < classes; ++c) {
        char klasse[32];
        std::snprintf(klasse, sizeof klasse, "K%02d%c", 5 + c / 4, char('A' + c % 4));
        p.containers.push_back(std::string(klasse) + "." + parent);
    }
    for (size_t i = 0; i < names.size(); ++i) p.users.push_back(names[i] + "." + p.containers[i % p.containers.size()]);
    std::shuffle(p.users.begin(), p.users.end(), random);
    return p;
}

// The DN of a typeless container: OUs down to the top organization.
std::string containerDn(const std::string& name) {
    const size_t dot = name.find('.');
    return dot == std::string::npos ? "o=" + name + "," + ldaptest::BASE
                                    : "ou=" + name.substr(0, dot) + "," + containerDn(name.substr(dot + 1));
}

// The school with the pupils; with denied, every pupil already in the deny group on all sides.
std::string pupilsLdif(const Pupils& p, const std::string& parent, bool denied = false) {
    std::string ldif = ldaptest::schoolLdif() + "\n";
    const std::string groupDn = ldaptest::dnOf(ldaptest::DENY_GROUP);
    auto userDn = [](const std::string& u) {
        return "cn=" + u.substr(0, u.find('.')) + "," + containerDn(u.substr(u.find('.') + 1));
    };
    if (denied) {
        // The school writes every value in base64, one attribute's values together.
        const size_t group = ldif.find("dn:: " + base64(groupDn) + "\n");
        if (group == std::string::npos) throw std::runtime_error("no deny group");
        for (const char* attribute : {"equivalentToMe", "member"}) {
            const size_t first = ldif.find("\n" + std::string(attribute) + ":: ", group);
            std::string values;
            for (const std::string& u : p.users) values += std::string(attribute) + ":: " + base64(userDn(u)) + "\n";
            ldif.insert(first + 1, values);
        }
    }
    if (parent != "SCHUELER.UNTERRICHT")
        ldif += "dn: " + containerDn(parent) + "\nobjectClass: organizationalUnit\nou: " +
                parent.substr(0, parent.find('.')) + "\n\n";
    for (const std::string& c : p.containers)
        ldif += "dn: " + containerDn(c) +
                "\nobjectClass: organizationalUnit\nou: " + c.substr(0, c.find('.')) + "\n\n";
    for (const std::string& u : p.users) {
        const std::string cn = u.substr(0, u.find('.'));
        ldif += "dn:: " + base64(userDn(u)) + "\nobjectClass: inetOrgPerson\n";
        if (denied) ldif += "objectClass: tarvelMembership\ngroupMembership: " + groupDn + "\nsecurityEquals: " + groupDn + "\n";
        ldif += "cn:: " + base64(cn) + "\nsn: Schueler\n";
        ldif += "\n";
    }
    return ldif;
}

// A fresh layer on the server's admin, and the window's settings (base container, deny group).
std::string connectTo(ldaptest::Slapd& server, const std::string& container) {
    nwapi::DoneNWConnection();
    nw::resetClient();
    nwapi::resetLayerForTesting();
    nw::setConfigurationFile(server.useAs("admin", "Timeout=120\n"));
    const std::string ini = server.folder() + "/gui-tarvel.ini";
    std::ofstream(ini, std::ios::trunc | std::ios::binary)
        << "[TYP]\r\nTYP=Tarvel\r\nVer=100\r\n[DEFAULT]\r\nBasisUserContainer=" << container
        << "\r\nGroupInternetUserDeny=." << ldaptest::DENY_GROUP << "\r\n";
    return ini;
}

// Runs a program with its arguments, output thrown away; its exit code.
int spawn(const std::vector<std::string>& args) {
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    const int rc = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) return -1;
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

double msSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

void BM_DenyListSlapd(benchmark::State& state) {
    const int pupils = int(state.range(0)) - 2;  // Gast01 and Gast02 are denied already
    const Pupils p = realisticPupils(pupils, 40, "SCHUELER.UNTERRICHT");
    testsupport::TempDir dir;
    testsupport::writeFile(dir.file("school.ldif"), pupilsLdif(p, "SCHUELER.UNTERRICHT", true));
    ldaptest::Slapd server(dir.file("school.ldif"));
    BenchPorts ports;
    const std::string groupDn = ldaptest::dnOf(ldaptest::DENY_GROUP);
    const std::vector<std::string> bind = {"-x", "-LLL", "-H", server.url(), "-D", ldaptest::dnOf(ldaptest::ADMIN),
                                           "-y", server.passwordFile("admin")};
    auto ldapsearch = [&](std::vector<std::string> rest) {
        std::vector<std::string> args{"ldapsearch"};
        args.insert(args.end(), bind.begin(), bind.end());
        args.insert(args.end(), rest.begin(), rest.end());
        return spawn(args);
    };
    std::vector<double> program, anchor;
    for (auto _ : state) {
        state.PauseTiming();
        const std::string ini = connectTo(server, "PROJEKTE.UNTERRICHT");
        auto form = std::make_unique<TForm1>(std::vector<std::string>{"tarvel", "/ini=" + ini});
        form->show();
        form->FormActivate();
        QCoreApplication::processEvents();
        state.ResumeTiming();
        const auto start = std::chrono::steady_clock::now();
        QTest::mouseClick(form->BUser, Qt::LeftButton);
        QCoreApplication::processEvents();
        form->LVCtxBrowser->viewport()->repaint();
        form->LVGroupDeny->viewport()->repaint();
        program.push_back(msSince(start));
        state.SetIterationTime(program.back() / 1000);
        if (form->LVGroupDeny->count() != int(state.range(0))) state.SkipWithError("rows missing");
        const auto anchorStart = std::chrono::steady_clock::now();
        // The group's members, then the members' classes.
        int searched = ldapsearch({"-s", "base", "-b", groupDn, "(objectClass=*)", "member"});
        searched |= ldapsearch({"-s", "sub", "-b", ldaptest::BASE,
                                "(|(groupMembership=" + groupDn + ")(securityEquals=" + groupDn + "))", "objectClass",
                                "structuralObjectClass"});
        anchor.push_back(msSince(anchorStart));
        if (searched != 0) state.SkipWithError("ldapsearch failed");
        state.PauseTiming();
        form.reset();
        state.ResumeTiming();
    }
    if (!ports.box.boxes.empty()) state.SkipWithError(("a box: " + ports.box.boxes.front().text).c_str());
    state.counters["program_ms"] = median(program);
    state.counters["anchor_ms"] = median(anchor);
    state.counters["ratio"] = median(program) / median(anchor);
    state.counters["program_spread_ms"] = *std::max_element(program.begin(), program.end()) -
                                          *std::min_element(program.begin(), program.end());
    nwapi::DoneNWConnection();
}
BENCHMARK(BM_DenyListSlapd)->Arg(5001)->Iterations(9)->UseManualTime()->Unit(benchmark::kMillisecond);

void BM_RepaintGapAfterStop(benchmark::State& state) {
    const int pupils = int(state.range(0));
    const std::string year = "JAHRGANG.SCHUELER.UNTERRICHT";
    Pupils p = realisticPupils(pupils, 1, year);
    testsupport::TempDir dir;
    testsupport::writeFile(dir.file("school.ldif"), pupilsLdif(p, year));
    ldaptest::Slapd server(dir.file("school.ldif"));
    BenchPorts ports;
    const std::string container = p.containers.front();
    const std::string ini = connectTo(server, container);
    TForm1 form(std::vector<std::string>{"tarvel", "/ini=" + ini});
    form.show();
    form.FormActivate();
    QCoreApplication::processEvents();
    std::vector<double> whole, after, second, third, total;
    for (auto _ : state) {
        state.PauseTiming();
        QTest::mouseClick(form.BUser, Qt::LeftButton);
        QCoreApplication::processEvents();
        form.LVCtxBrowser->setFocus();
        QTest::keyClick(form.LVCtxBrowser, Qt::Key_A, Qt::ControlModifier);
        if (form.LVCtxBrowser->selectedRows().size() < pupils) state.SkipWithError("not all selected");
        // The turns of the event loop, and whether the progress dialog was up at each.
        struct Turn {
            qint64 ns;
            bool progressShown;
        };
        std::vector<Turn> turns;
        turns.reserve(100000);
        QElapsedTimer clock;
        clock.start();
        QTimer zero;
        zero.setInterval(0);
        QObject::connect(&zero, &QTimer::timeout, [&] {
            const auto* progress = form.findChild<DenyProgressDialog*>();
            turns.push_back({clock.nsecsElapsed(), progress && progress->isVisible()});
        });
        zero.start();
        state.ResumeTiming();
        turns.push_back({clock.nsecsElapsed(), false});
        QTest::mouseClick(form.BStop, Qt::LeftButton);
        QCoreApplication::processEvents();
        form.LVCtxBrowser->viewport()->repaint();
        form.LVGroupDeny->viewport()->repaint();
        turns.push_back({clock.nsecsElapsed(), false});
        state.PauseTiming();
        zero.stop();
        total.push_back(double(turns.back().ns) / 1e6);
        state.SetIterationTime(total.back() / 1000);
        size_t lastShown = 0;
        for (size_t i = 0; i < turns.size(); ++i)
            if (turns[i].progressShown) lastShown = i;
        double longest = 0;
        std::vector<double> gapsAfter;
        for (size_t i = 1; i < turns.size(); ++i) {
            const double gap = double(turns[i].ns - turns[i - 1].ns) / 1e6;
            longest = std::max(longest, gap);
            if (i > lastShown) gapsAfter.push_back(gap);
        }
        std::sort(gapsAfter.rbegin(), gapsAfter.rend());
        gapsAfter.resize(3);
        whole.push_back(longest);
        after.push_back(gapsAfter[0]);
        second.push_back(gapsAfter[1]);
        third.push_back(gapsAfter[2]);
        if (lastShown == 0) state.SkipWithError("no progress shown");
        if (form.LVGroupDeny->count() != pupils + 2) state.SkipWithError("deny list incomplete");
        // Back to the start: the pupils free again.
        nwapi::SetzeContext("[root]");
        text::NameList go(p.users.begin(), p.users.end());
        if (!nwapi::DeleteMultipleUsersFromGroup(go, ldaptest::DENY_GROUP)) state.SkipWithError("go failed");
        state.ResumeTiming();
    }
    if (!ports.box.boxes.empty()) state.SkipWithError(("a box: " + ports.box.boxes.front().text).c_str());
    state.counters["longest_gap_ms"] = median(whole);
    state.counters["longest_gap_after_ms"] = median(after);
    state.counters["worst_gap_after_ms"] = *std::max_element(after.begin(), after.end());
    // The next pauses after the longest: what the window's own refill leaves.
    state.counters["second_gap_after_ms"] = median(second);
    state.counters["third_gap_after_ms"] = median(third);
    form.hide();
    nwapi::DoneNWConnection();
}
BENCHMARK(BM_RepaintGapAfterStop)->Arg(4000)->Iterations(5)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    nwapi::DoneNWConnection();
    return 0;
}
