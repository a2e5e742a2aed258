// The session worker as the service starts it: the real program, bound as the teacher on a
// temporary embedded tree (and on slapd and a Samba DC), the directory deciding what the teacher may change.
#include "nwclient/status.h"
#include "samba_fixture.h"
#include "slapd_fixture.h"
#include "temp_trees.h"
#include "web/logins.h"
#include "web/worker.h"

#include <gtest/gtest.h>

#include <csignal>
#include <functional>
#include <optional>
#include <thread>

using testsupport::readFile;
using testsupport::writeFile;

namespace {

const std::string kTeacher = "lehrer1.LEHRER.UNTERRICHT", kPassword = "Kreide 5a!";

struct EmbeddedWorker : ::testing::Test {
    testsupport::TempDir dir;
    web::WorkerSetup setup;
    void SetUp() override {
        testsupport::useDemoTree(dir);
        setup.clientConfiguration = testsupport::writeClientConfig(dir.path(), dir.file("school.tree"));
        setup.settingsFile = dir.file("tarvel.ini");
        writeFile(setup.settingsFile, "[TYP]\r\nTYP=Tarvel\r\nVer=100\r\n[DEFAULT]\r\nBasisUserContainer=SCHUELER.UNTERRICHT\r\n"
                                      "GroupInternetUserDeny=G_User_Internet_Deny.PROJEKTE.UNTERRICHT\r\n[SHOW]\r\nNoShowContainer=7b\r\n");
        setup.loginFile = dir.file("logins");
        setup.program = TARVEL_WEB_WORKER;
        std::string error;
        ASSERT_TRUE(web::writeLogin(setup.loginFile, "lehrer1", kTeacher, kPassword, error)) << error;
    }
    std::unique_ptr<web::Worker> start(const std::string& login, const std::string& password, web::LoginFailure& failure) {
        std::string message;
        return web::Worker::start(setup, login, password, failure, message);
    }
    std::string firstPupil(web::Worker& worker, const std::string& klasse) {
        std::vector<web::PupilEntry> pupils;
        std::vector<web::Box> boxes;
        EXPECT_TRUE(worker.pupils(klasse + ".SCHUELER.UNTERRICHT", pupils, boxes));
        return pupils.empty() ? std::string() : pupils.front().name;
    }
};

TEST_F(EmbeddedWorker, TheTeacherChangesTheirClassAndIsRefusedElsewhereWithTheLayersBox) {
    web::LoginFailure failure{};
    auto worker = start("lehrer1", kPassword, failure);
    ASSERT_TRUE(worker) << int(failure);
    EXPECT_EQ(worker->operatorName(), kTeacher);

    std::vector<web::ClassEntry> classes;
    std::vector<web::Box> boxes;
    ASSERT_TRUE(worker->classes(classes, boxes));
    std::vector<std::string> captions;
    for (const auto& c : classes) captions.push_back(c.caption);
    EXPECT_EQ(captions, (std::vector<std::string>{"KLASSE5A", "KLASSE5B", "KLASSE6A", "KLASSE6B", "KLASSE7A"}));

    const std::string mine = firstPupil(*worker, "KLASSE5A"), other = firstPupil(*worker, "KLASSE6A");
    const struct { std::string pupil; bool allowed; } cases[] = {{mine, true}, {other, false}};
    for (const auto& c : cases) {
        const web::ChangeResult r = worker->change(deny::Direction::Stop, {c.pupil}, {});
        EXPECT_EQ(r.job.ok(), c.allowed) << c.pupil;
        ASSERT_TRUE(r.inGroupKnown);
        EXPECT_EQ(r.inGroup, c.allowed ? text::NameList{c.pupil} : text::NameList{}) << c.pupil;
        if (c.allowed) continue;
        EXPECT_EQ(r.job.firstFailure, nw::ERR_NO_ACCESS);
        ASSERT_EQ(r.boxes.size(), 1u);
        EXPECT_EQ(r.boxes[0].text.rfind("Fehler -672.", 0), 0u) << r.boxes[0].text;
    }
    std::vector<web::PupilEntry> pupils;
    ASSERT_TRUE(worker->pupils("KLASSE5A.SCHUELER.UNTERRICHT", pupils, boxes));
    for (const auto& p : pupils) EXPECT_EQ(p.stopped, p.name == mine) << p.name;
}

TEST_F(EmbeddedWorker, AWrongPasswordAndAnUnknownLoginAreBothBadCredentials) {
    const struct { const char* login; std::string password; } cases[] = {{"lehrer1", "falsch"}, {"lehrer9", kPassword}, {"lehrer1", ""}};
    for (const auto& c : cases) {
        web::LoginFailure failure{};
        EXPECT_FALSE(start(c.login, c.password, failure)) << c.login;
        EXPECT_EQ(failure, web::LoginFailure::BadCredentials) << c.login;
    }
}

TEST_F(EmbeddedWorker, ThePasswordStaysInsideAnUndumpableWorker) {
    web::LoginFailure failure{};
    auto worker = start("lehrer1", kPassword, failure);
    ASSERT_TRUE(worker);
    const std::string proc = "/proc/" + std::to_string(worker->pid());
    for (const char* part : {"/cmdline", "/environ"})
        EXPECT_EQ(readFile(proc + part).find(kPassword), std::string::npos) << part;
    int dumpable = -1;
    long long core = -1;
    ASSERT_TRUE(worker->selfReport(dumpable, core));
    EXPECT_EQ(dumpable, 0);
    EXPECT_EQ(core, 0);
}

TEST_F(EmbeddedWorker, AKilledWorkerIsNotAliveAndTheNextCallFailsWithItsBox) {
    web::LoginFailure failure{};
    auto worker = start("lehrer1", kPassword, failure);
    ASSERT_TRUE(worker);
    EXPECT_TRUE(worker->alive());
    ASSERT_EQ(::kill(worker->pid(), SIGKILL), 0);
    for (int i = 0; i < 100 && worker->alive(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_FALSE(worker->alive());
    const web::GatherResult r = worker->gather({"KLASSE5A.SCHUELER.UNTERRICHT"});
    EXPECT_FALSE(r.ok);
    ASSERT_EQ(r.boxes.size(), 1u);
    EXPECT_NE(r.boxes[0].text.find("Arbeitsprozess"), std::string::npos);
}

// On a directory server the worker binds as the teacher by each login the server knows him by
// (on AD his sAMAccountName, here unlike his name, also with the domain and as his principal
// name); the holder of his holds is always his name in the tree, and the server's refusal outside
// his classes comes back as the layer's box.
enum class Server { Slapd, SambaAd };

class LdapWorker : public ::testing::TestWithParam<Server> {};

TEST_P(LdapWorker, ATeacherLogsInByEachFormAndIsBoundAsThemselves) {
    std::optional<ldaptest::Slapd> slapd;
    std::optional<adtest::SambaDc> dc;
    struct AtEnd { std::function<void()> f; ~AtEnd() { if (f) f(); } } restoreLogins;
    testsupport::TempDir dir;
    web::WorkerSetup setup;
    setup.settingsFile = dir.file("tarvel.ini");
    setup.program = TARVEL_WEB_WORKER;
    writeFile(setup.settingsFile, "[TYP]\r\nTYP=Tarvel\r\nVer=100\r\n[DEFAULT]\r\nGroupInternetUserDeny=" +
                                      std::string(ldaptest::DENY_GROUP) + "\r\n");
    std::vector<std::string> logins;
    std::string passwordFile;
    if (GetParam() == Server::Slapd) {
        slapd.emplace();
        setup.clientConfiguration = slapd->useAs("admin");
        passwordFile = slapd->passwordFile("teacher");
        logins = {"lehrer1", slapd->dn(ldaptest::TEACHER)};
    } else {
        dc.emplace();
        setup.clientConfiguration = dc->useAs("admin", "Directory=ad\nTree=" + dc->ldapsUrl() + "\nCAFile=" + dc->caFile() + "\n");
        passwordFile = dc->passwordFile("teacher");
        const std::string teacher = dc->dn(adtest::TEACHER);
        // The copy is this program's: its teacher gets his logins back (and no principal name).
        auto logs = [teacher](const std::string& sam, const std::string& upn) {
            return "dn: " + teacher + "\nchangetype: modify\nreplace: sAMAccountName\nsAMAccountName: " + sam +
                   "\n-\nreplace: userPrincipalName\n" + (upn.empty() ? "" : "userPrincipalName: " + upn + "\n");
        };
        restoreLogins.f = [&dc, logs] { dc->modify(logs("lehrer1", "")); };
        ASSERT_TRUE(dc->modify(logs("lmueller", "l.mueller@schule.test")));
        logins = {"lmueller", teacher, "SCHULE\\lmueller", "l.mueller@schule.test", "lmueller@schule.test"};
    }
    std::string password = readFile(passwordFile);
    while (!password.empty() && password.back() == '\n') password.pop_back();
    struct Case { std::string login, password; web::LoginFailure failure; };
    std::vector<Case> cases = {{logins.front(), password + "x", web::LoginFailure::BadCredentials},
                               {"niemand", password, web::LoginFailure::BadCredentials}};
    for (const std::string& login : logins) cases.push_back({login, password, web::LoginFailure::None});
    for (const Case& c : cases) {
        web::LoginFailure failure{};
        std::string message;
        auto worker = web::Worker::start(setup, c.login, c.password, failure, message);
        EXPECT_EQ(failure, c.failure) << c.login << ": " << message;
        EXPECT_EQ(worker ? worker->operatorName() : "", c.failure == web::LoginFailure::None ? ldaptest::TEACHER : "") << c.login;
        if (!worker) continue;
        // The server's own refusal outside the teacher's classes: bound as the teacher, not the service.
        std::vector<web::PupilEntry> pupils;
        std::vector<web::Box> boxes;
        ASSERT_TRUE(worker->pupils("KLASSE6A.SCHUELER.UNTERRICHT", pupils, boxes));
        ASSERT_FALSE(pupils.empty());
        const web::ChangeResult r = worker->change(deny::Direction::Stop, {pupils.front().name}, {});
        EXPECT_EQ(r.job.firstFailure, nw::ERR_NO_ACCESS) << c.login;
        ASSERT_EQ(r.boxes.size(), 1u) << c.login;
        EXPECT_EQ(r.boxes[0].text.rfind("Fehler -672.", 0), 0u) << r.boxes[0].text;
    }
}

INSTANTIATE_TEST_SUITE_P(Servers, LdapWorker, ::testing::Values(Server::Slapd, Server::SambaAd),
                         [](const auto& info) { return info.param == Server::Slapd ? "Slapd" : "SambaAd"; });

}  // namespace
