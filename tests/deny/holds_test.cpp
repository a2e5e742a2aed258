// The service's holds: what a stop, a release, a go and the timer leave in the file, read back by
// a store opened afresh as after a restart; a file that is damaged, not the service's own, or a
// link is refused, never taken as empty.
#include "deny/holds.h"
#include "temp_trees.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <set>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using testsupport::readFile;
using testsupport::TempDir;
using testsupport::writeFile;
using text::NameList;
using State = deny::Hold::State;

namespace {

const std::string kTree = "SCHULE", kGroup = "G_User_Internet_Deny.PROJEKTE.UNTERRICHT";
const std::string kA = "lehrer1.LEHRER.UNTERRICHT", kB = "lehrer2.LEHRER.UNTERRICHT";
const std::string kP1 = "Gast03.PROJEKTE.UNTERRICHT", kP2 = "Gast04.PROJEKTE.UNTERRICHT",
                  kP3 = "Gast05.PROJEKTE.UNTERRICHT";

class Holds : public ::testing::Test {
protected:
    TempDir dir;
    std::unique_ptr<deny::HoldStore> store;
    std::string error;

    // Opens the store afresh, as the service does after a restart.
    void reopen() {
        store.reset();
        store = deny::HoldStore::open(dir.path(), error);
        ASSERT_TRUE(store) << error;
    }
    // holder's stop of users until until, with inGroup found in the group afterwards.
    void stop(const std::string& holder, const NameList& users, std::time_t until, const NameList& inGroup) {
        std::vector<uint64_t> ids;
        ASSERT_TRUE(store->addIntents(holder, users, 10, until, kTree, kGroup, ids, error)) << error;
        ASSERT_EQ(ids.size(), users.size());
        ASSERT_TRUE(store->confirm(ids, inGroup, error)) << error;
    }
    // Every hold as "user holder until state", after a restart.
    std::vector<std::string> seen() {
        reopen();
        std::vector<deny::Hold> holds;
        EXPECT_TRUE(store->all(holds, error)) << error;
        std::vector<std::string> out;
        const char* names[] = {"intent", "held", "releasing"};
        for (const auto& h : holds)
            out.push_back(h.user.substr(0, 6) + " " + h.holder.substr(0, 7) + " " + std::to_string(h.until) + " " +
                          names[int(h.state)]);
        return out;
    }
};

TEST_F(Holds, IntentsCountAndAStopKeepsOnlyThePupilsItPutInTheGroup) {
    reopen();
    std::vector<uint64_t> ids;
    ASSERT_TRUE(store->addIntents(kA, {kP1, kP2, kP3}, 10, 100, kTree, kGroup, ids, error)) << error;
    EXPECT_EQ(seen(), (std::vector<std::string>{"Gast03 lehrer1 100 intent", "Gast04 lehrer1 100 intent",
                                                "Gast05 lehrer1 100 intent"}));
    // Names as the schedule compares them: case-folded, a leading dot or not.
    ASSERT_TRUE(store->confirm(ids, {".gast03.projekte.unterricht", kP3}, error)) << error;
    stop(kB, {kP1}, 0, {kP1});
    EXPECT_EQ(seen(), (std::vector<std::string>{"Gast03 lehrer1 100 held", "Gast03 lehrer2 0 held",
                                                "Gast05 lehrer1 100 held"}));
    // A teacher's newest stop replaces their older one; ids are never given twice.
    stop(kA, {kP1}, 0, {kP1});
    EXPECT_EQ(seen(), (std::vector<std::string>{"Gast03 lehrer2 0 held", "Gast03 lehrer1 0 held",
                                                "Gast05 lehrer1 100 held"}));
    std::vector<deny::Hold> ended;
    ASSERT_TRUE(store->endAll({kP1, kP3}, ended, error)) << error;
    std::vector<uint64_t> later;
    ASSERT_TRUE(store->addIntents(kA, {kP2}, 10, 0, kTree, kGroup, later, error));
    ASSERT_EQ(later.size(), 1u);
    EXPECT_GT(later[0], ids.back() + 1);
}

// Which pupils a release, a go and the timer free, with teachers' sessions, is the desk's test;
// here what only the store keeps: a freeing that failed is taken up by the next run of the timer.
TEST_F(Holds, AFreeingThatFailedIsTakenUpByTheNextRun) {
    reopen();
    stop(kA, {kP1, kP3}, 100, {kP1, kP3});
    stop(kB, {kP1}, 0, {kP1});
    NameList toFree, again;
    ASSERT_TRUE(store->beginDue(100, toFree, error)) << error;
    EXPECT_EQ(toFree, NameList{kP3});
    ASSERT_TRUE(store->finishDue({}, again, error)) << error;
    EXPECT_EQ(seen(), (std::vector<std::string>{"Gast03 lehrer2 0 held", "Gast05 lehrer1 100 releasing"}));
    ASSERT_TRUE(store->beginDue(100, toFree, error)) << error;
    EXPECT_EQ(toFree, NameList{kP3});
    ASSERT_TRUE(store->finishDue(toFree, again, error)) << error;
    EXPECT_EQ(seen(), std::vector<std::string>{"Gast03 lehrer2 0 held"});
}

TEST_F(Holds, AFileThatIsNotTheServicesOwnIsRefusedNeverTakenAsEmpty) {
    const std::string line = "1\theld\t10\t0\tT\t" + kGroup + "\t" + kA + "\t" + kP1 + "\n";
    struct Case {
        const char* name;
        std::function<void(const std::string& file)> plant;
        const char* said;
    };
    const std::vector<Case> cases = {
        {"damaged line", [&](const std::string& f) { writeFile(f, "next\t2\n" + line + "1\theld\t10\n"); },
         "Zeile 3 ist kein Eintrag."},
        {"no next id", [&](const std::string& f) { writeFile(f, line); }, "Die Nummer der nächsten Sperre fehlt"},
        {"link", [&](const std::string& f) { writeFile(f + "-target", "next\t2\n" + line); std::filesystem::create_symlink(f + "-target", f); },
         "Die Liste der Sperren ist ein symbolischer Verweis:"},
        {"another account's", [&](const std::string& f) { writeFile(f, "next\t2\n" + line); ASSERT_EQ(::chown(f.c_str(), 65534, 65534), 0); },
         "Die Liste der Sperren gehört nicht dem Konto"},
        {"folder open to all", [&](const std::string& f) { ::chmod(std::filesystem::path(f).parent_path().c_str(), 0777); },
         "Der Ordner der Sperren darf von anderen Konten geschrieben werden:"},
    };
    ASSERT_EQ(::geteuid(), 0u) << "another account's file is made with chown";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir folder;
        c.plant(folder.file("holds"));
        auto contents = [&] { return std::filesystem::exists(folder.file("holds")) ? readFile(folder.file("holds")) : "<none>"; };
        const std::string before = contents();
        error.clear();
        EXPECT_FALSE(deny::HoldStore::open(folder.path(), error));
        EXPECT_NE(error.find(c.said), std::string::npos) << error;
        EXPECT_EQ(contents(), before) << "left as it was";
    }
    // Damaged after opening: every call fails, nothing is written over it.
    reopen();
    writeFile(dir.file("holds"), "next\t2\n" + line + "garbage\n");
    std::vector<deny::Hold> holds;
    NameList toFree;
    EXPECT_FALSE(store->all(holds, error));
    EXPECT_FALSE(store->beginDue(1 << 30, toFree, error));
    EXPECT_NE(readFile(dir.file("holds")).find("garbage"), std::string::npos);
    std::filesystem::remove(dir.file("holds"));
    EXPECT_FALSE(store->all(holds, error)) << "a file removed behind the service is no empty store";
}

}  // namespace

// Teachers' jobs update the store from threads of their own at once: every stop keeps its own
// ids and holds, none is lost to another written at the same moment, and all are on disk.
TEST_F(Holds, StopsFromManyThreadsAtOnceAreAllKept) {
    reopen();
    constexpr int Teachers = 8, Rounds = 5;
    std::vector<std::thread> threads;
    std::vector<std::string> failures(Teachers);
    std::vector<std::vector<uint64_t>> ids(Teachers);
    for (int t = 0; t < Teachers; ++t)
        threads.emplace_back([&, t] {
            for (int r = 0; r < Rounds; ++r) {
                const NameList users = {"P" + std::to_string(t) + "x" + std::to_string(r) + ".SCHUELER"};
                std::vector<uint64_t> made;
                std::string why;
                if (!store->addIntents("L" + std::to_string(t), users, 10, 0, kTree, kGroup, made, why) ||
                    made.size() != 1 || !store->confirm(made, users, why))
                    failures[size_t(t)] = why.empty() ? "no id" : why;
                ids[size_t(t)].insert(ids[size_t(t)].end(), made.begin(), made.end());
            }
        });
    for (std::thread& t : threads) t.join();
    std::set<uint64_t> distinct;
    for (int t = 0; t < Teachers; ++t) {
        EXPECT_EQ(failures[size_t(t)], "");
        distinct.insert(ids[size_t(t)].begin(), ids[size_t(t)].end());
    }
    EXPECT_EQ(distinct.size(), size_t(Teachers * Rounds));
    const std::vector<std::string> all = seen();
    EXPECT_EQ(all.size(), size_t(Teachers * Rounds));
    for (const std::string& h : all) EXPECT_NE(h.find(" held"), std::string::npos) << h;
}
