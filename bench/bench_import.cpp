// tarvel-tree import --ldif of a school whose deny group holds every pupil: the import must stay
// linear in the group's size (20,000 members within 10 s).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

const std::string kBase = "o=schule,c=de";
const std::string kGroup = "cn=G_User_Internet_Deny,ou=PROJEKTE,o=UNTERRICHT," + kBase;

std::string writeSchool(const fs::path& folder, int members) {
    const fs::path file = folder / ("school-" + std::to_string(members) + ".ldif");
    std::ofstream out(file);
    out << "dn: o=UNTERRICHT," << kBase << "\nobjectClass: organization\no: UNTERRICHT\n\n";
    for (const char* ou : {"PROJEKTE", "SCHUELER"})
        out << "dn: ou=" << ou << ",o=UNTERRICHT," << kBase << "\nobjectClass: organizationalUnit\nou: " << ou << "\n\n";
    char name[16];
    for (int i = 1; i <= members; ++i) {
        std::snprintf(name, sizeof name, "U%07d", i);
        out << "dn: cn=" << name << ",ou=SCHUELER,o=UNTERRICHT," << kBase << "\nobjectClass: inetOrgPerson\n"
            << "objectClass: tarvelMembership\ncn: " << name << "\nsn: " << name << "\ngroupMembership: " << kGroup
            << "\nsecurityEquals: " << kGroup << "\n\n";
    }
    out << "dn: " << kGroup << "\nobjectClass: tarvelGroup\ncn: G_User_Internet_Deny\n";
    for (const char* attribute : {"member", "equivalentToMe"})
        for (int i = 1; i <= members; ++i) {
            std::snprintf(name, sizeof name, "U%07d", i);
            out << attribute << ": cn=" << name << ",ou=SCHUELER,o=UNTERRICHT," << kBase << "\n";
        }
    out << "\n";
    return file.string();
}

void BM_ImportDenyGroup(benchmark::State& state) {
    const int members = int(state.range(0));
    char pattern[] = "/tmp/tarvel-bench-import-XXXXXX";
    const fs::path folder = ::mkdtemp(pattern);
    const std::string ldif = writeSchool(folder, members);
    const std::string tree = (folder / "school.tree").string();
    const std::string command = std::string(TARVEL_TREE_TOOL) + " import --ldif " + ldif + " " + tree + " --base " +
                                kBase + " >/dev/null 2>&1";
    for (auto _ : state) {
        state.PauseTiming();
        fs::remove(tree);
        state.ResumeTiming();
        if (std::system(command.c_str()) != 0) state.SkipWithError("the import failed");
    }
    state.counters["members"] = members;
    fs::remove_all(folder);
}
BENCHMARK(BM_ImportDenyGroup)->Arg(1000)->Arg(4000)->Arg(20000)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace

BENCHMARK_MAIN();
