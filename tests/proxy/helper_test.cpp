// tarvel-proxy-helper as Squid runs it: the real program, one request line in, one answer out,
// on the demo tree and on slapd.
#include "slapd_fixture.h"
#include "temp_trees.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

using testsupport::readFile;
using testsupport::runCommand;
using testsupport::writeFile;

namespace {

// The helper with its standard input and output on pipes.
class Helper {
public:
    explicit Helper(const std::string& arguments) {
        int in[2], out[2];
        if (::pipe(in) != 0 || ::pipe(out) != 0) throw std::runtime_error("pipe");
        pid_ = ::fork();
        if (pid_ == 0) {
            ::dup2(in[0], 0);
            ::dup2(out[1], 1);
            for (int fd : {in[0], in[1], out[0], out[1]}) ::close(fd);
            ::execl("/bin/sh", "sh", "-c", (std::string("exec " TARVEL_PROXY_HELPER " ") + arguments).c_str(),
                    (char*)nullptr);
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
    // One request line; its answer line, or "(no answer)" after 20 s.
    std::string ask(const std::string& line) {
        const std::string request = line + "\n";
        if (::write(to_, request.data(), request.size()) != ssize_t(request.size())) return "(no request)";
        std::string answer;
        char c;
        pollfd p{from_, POLLIN, 0};
        while (::poll(&p, 1, 20000) == 1 && ::read(from_, &c, 1) == 1 && c != '\n') answer += c;
        return c == '\n' ? answer : "(no answer)";
    }

private:
    pid_t pid_ = -1;
    int to_ = -1, from_ = -1;
};

std::string settingsFile(const std::string& dir, const std::string& group = ldaptest::DENY_GROUP) {
    writeFile(dir + "/tarvel.ini", "[TYP]\r\nTYP=Tarvel\r\nVer=100\r\n[DEFAULT]\r\nBasisUserContainer=UNTERRICHT\r\n"
                                   "GroupInternetUserDeny=" + group + "\r\n");
    return dir + "/tarvel.ini";
}

int ctl(const std::string& conf, const std::string& ini, const std::string& arguments) {
    std::string out;
    const int rc = runCommand(TARVEL_CTL " --nwclient=" + conf + " --ini=" + ini + " " + arguments + " </dev/null", &out);
    EXPECT_EQ(rc, 0) << out;
    return rc;
}

TEST(ProxyHelper, AnswersEachLineAsSquidsProtocolSays) {
    testsupport::TempDir dir;
    const std::string conf = testsupport::useDemoTree(dir);
    const std::string ini = settingsFile(dir.path());
    const std::string tree = dir.file("school.tree");
    // Two logins shared by two users each: Gast01 (stopped in PROJEKTE) and Gast04 (stopped in KLASSE5B).
    ASSERT_EQ(testsupport::runTreeTool("add " + tree + " Gast01.KLASSE5A.SCHUELER.UNTERRICHT User"), 0);
    ASSERT_EQ(testsupport::runTreeTool("add " + tree + " Gast04.KLASSE5B.SCHUELER.UNTERRICHT User"), 0);
    ctl(conf, ini, "stop Gast04.KLASSE5B.SCHUELER.UNTERRICHT");
    Helper helper("--nwclient " + conf + " --ini=" + ini);
    const struct {
        const char* request;
        const char* answer;  // a BH answer is compared up to its message's text
    } cases[] = {
        {"Gast03", "OK"},
        {"gast01", "ERR"},              // case ignored; the other Gast01 may browse
        {"GAST04", "ERR"},              // the other Gast04 may browse
        {"niemand", "OK"},              // nobody of that name is in the group
        {"7 gast02", "7 ERR"},          // concurrency: the channel ID comes back
        {"8 Gast03", "8 OK"},
        {"9 %47ast%301", "9 ERR"},      // Squid's URL escaping: Gast01
        {"10 gast01\r", "10 ERR"},
        {"Gast03 -", "OK"},             // Squid's empty %DATA
        {"14 gast01 -", "14 ERR"},
        {"- -", "ERR"},
        {"-", "ERR"},                   // no login
        {"11 - -", "11 ERR"},
        {"12 gast01 extra", "12 BH message=\"tarvel-proxy-helper: "},
        {"gast01 extra", "BH message=\"tarvel-proxy-helper: "},
        {"", "BH message=\"tarvel-proxy-helper: "},
        {"13 Gast%00", "13 BH message=\"tarvel-proxy-helper: "},
    };
    for (const auto& c : cases) {
        const std::string answer = helper.ask(c.request);
        const std::string expected = c.answer;
        const bool bh = expected.find("BH") != std::string::npos;
        EXPECT_EQ(bh ? answer.substr(0, expected.size()) : answer, expected) << "request " << c.request;
    }
}

// No answer is kept: the same helper process sees each change at its next request.
TEST(ProxyHelper, StopAndGoHoldAtTheNextRequestOnBothBackends) {
    ldaptest::Slapd slapd;
    testsupport::TempDir dir;
    const std::string ini = settingsFile(dir.path());
    const struct {
        std::string conf, pupil, login;
    } backends[] = {{testsupport::useDemoTree(dir), "Gast03.PROJEKTE.UNTERRICHT", "gast03"},
                    {slapd.useAs("admin"), ldaptest::PLAIN, "gast05"}};
    for (const auto& b : backends) {
        Helper helper("--nwclient=" + b.conf + " --ini " + ini);
        EXPECT_EQ(helper.ask(b.login), "OK") << b.conf;
        for (int round = 0; round < 2; ++round) {
            ctl(b.conf, ini, "stop " + b.pupil);
            EXPECT_EQ(helper.ask("3 " + b.login), "3 ERR") << b.conf;
            ctl(b.conf, ini, "go " + b.pupil);
            EXPECT_EQ(helper.ask(b.login), "OK") << b.conf;
        }
    }
}

TEST(ProxyHelper, FailsClosedAndRecovers) {
    testsupport::TempDir dir;
    const std::string conf = testsupport::useDemoTree(dir);
    const std::string tree = dir.file("school.tree");
    {
        Helper helper("--nwclient=" + conf + " --ini=" + settingsFile(dir.path(), "G_Fehlt.PROJEKTE.UNTERRICHT"));
        EXPECT_EQ(helper.ask("Gast03").substr(0, 3), "BH ") << "a missing deny group lets nobody through";
    }
    Helper helper("--nwclient=" + conf + " --ini=" + settingsFile(dir.path()));
    EXPECT_EQ(helper.ask("Gast03"), "OK");
    ASSERT_EQ(::rename(tree.c_str(), (tree + ".weg").c_str()), 0);
    ASSERT_EQ(::rename((tree + "-wal").c_str(), (tree + "-wal.weg").c_str()), 0);
    EXPECT_EQ(helper.ask("5 Gast03").substr(0, 5), "5 BH ") << "the tree's files are gone";
    EXPECT_EQ(helper.ask("gast01").substr(0, 3), "BH ");
    ASSERT_EQ(::rename((tree + ".weg").c_str(), tree.c_str()), 0);
    EXPECT_EQ(helper.ask("gast01"), "ERR") << "a new connection once the tree is back";
    EXPECT_EQ(helper.ask("Gast03"), "OK");

    for (const std::string& wrong : {"--ini=" + dir.file("fehlt.ini"), "--nwclient " + dir.file("fehlt.conf"), std::string("--bunt")})
        EXPECT_EQ(runCommand(TARVEL_PROXY_HELPER " " + wrong + " </dev/null"), 2) << wrong;
}

}  // namespace
