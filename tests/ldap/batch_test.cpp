// The users' own sides of a membership change sent together (many modifies on the wire at once)
// and the group's side after them, on a private slapd; checked with ldapsearch and slapd's own
// operation counters.
#include "backend_fixture.h"
#include "nwapi/nwapi.h"
#include "nwclient/client_setup.h"
#include "nwclient/fault_backend.h"
#include "nwclient/ldap/ldap_backend.h"
#include "nwclient/ldap/ldap_escape.h"
#include "nwclient/nwclient.h"
#include "platform/recording.h"
#include "slapd_fixture.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <set>
#include <sstream>

using namespace nw;
using namespace ldaptest;

using ldaptest::idOf;

namespace {

const std::string GROUP_DN = dnOf(DENY_GROUP);

std::unique_ptr<DirectoryBackend> open(const Slapd& server, const std::string& timeout = "5", bool permissive = true) {
    ClientConfig c;
    c.file = server.folder() + "/nwclient.conf";
    c.tree = server.url();
    c.operatorName = ADMIN;
    c.values = {{"tree", c.tree}, {"base", BASE}, {"passwordfile", server.passwordFile("admin")}, {"timeout", timeout}};
    if (!permissive) c.values["permissivemodify"] = "no";
    return ldaptest::openBackend(c);
}

// The users of a container as a stop gathers them: one subtree search, full names and ids.
void gather(DirectoryBackend& b, const std::string& container, std::vector<ObjectId>& ids, std::vector<std::string>& names) {
    std::unique_ptr<ObjectCursor> cursor;
    ASSERT_EQ(b.search(idOf(b, container), "Object Class", "User", cursor), 0);
    std::vector<ObjectSummary> page;
    NWDSCCODE rc = 0;
    while ((rc = cursor->next(page)) == 0 && !page.empty())
        for (const ObjectSummary& s : page) {
            ids.push_back(s.id);
            names.push_back(s.name);
        }
    ASSERT_EQ(rc, 0);
    std::vector<size_t> order(ids.size());
    for (size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::sort(order.begin(), order.end(), [&](size_t a, size_t b) { return names[a] < names[b]; });
    std::vector<ObjectId> sortedIds;
    std::vector<std::string> sortedNames;
    for (size_t i : order) {
        sortedIds.push_back(ids[i]);
        sortedNames.push_back(names[i]);
    }
    ids = std::move(sortedIds);
    names = std::move(sortedNames);
}

// The group's side as the membership change sends it: Member in requests of `chunk` names.
NWDSCCODE changeGroup(DirectoryBackend& b, ObjectId group, bool add, const std::vector<std::string>& names,
                      size_t chunk = 100) {
    for (size_t start = 0; start < names.size(); start += chunk) {
        Change c;
        c.type = add ? DS_ADDITIONAL_VALUE : DS_REMOVE_VALUE;
        c.attribute = "Member";
        c.syntax = SYN_DIST_NAME;
        for (size_t i = start; i < std::min(names.size(), start + chunk); ++i) {
            AttrValue v;
            v.text = names[i];
            c.values.push_back(v);
        }
        if (NWDSCCODE rc = b.modify(group, {c})) return rc;
    }
    return SUCCESSFUL;
}

// A value given or taken on the server by another tool (or an interrupted run).
bool changeValue(const Slapd& server, const std::string& dn, bool add, const std::string& attribute,
                 const std::string& value) {
    const std::string op = add ? "add" : "delete";
    return server.modify("dn: " + dn + "\nchangetype: modify\n" + op + ": " + attribute + "\n" + attribute + ": " + value +
                         "\n");
}

// A user left half done by an earlier stop: the membership class and Group Membership, nothing else.
bool leaveHalfStopped(const Slapd& server, const std::string& userDn) {
    return server.modify("dn: " + userDn + "\nchangetype: modify\nadd: objectClass\nobjectClass: tarvelMembership\n-\n"
                         "add: groupMembership\ngroupMembership: " + GROUP_DN + "\n");
}

struct Answers {
    std::vector<int> count;
    std::vector<NWDSCCODE> status;
    explicit Answers(size_t n) : count(n, 0), status(n, 0) {}
    DirectoryBackend::BatchAnswer callback(std::function<void(size_t)> also = nullptr) {
        return [this, also](size_t i, NWDSCCODE rc) {
            ++count[i];
            status[i] = rc;
            if (also) also(i);
        };
    }
    size_t answered() const { return size_t(std::count_if(count.begin(), count.end(), [](int c) { return c > 0; })); }
};

// DN keys of the entries below a container whose attribute holds the group.
std::set<std::string> holding(const Slapd& server, const std::string& container, const std::string& attribute) {
    std::istringstream lines(server.search(dnOf(container), "one", "(" + attribute + "=" + GROUP_DN + ")", "1.1"));
    std::set<std::string> out;
    for (std::string line; std::getline(lines, line);)
        if (line.rfind("dn: ", 0) == 0) out.insert(ldap::dnKey(line.substr(4)));
    return out;
}

std::set<std::string> groupValues(const Slapd& server, const std::string& attribute) {
    std::set<std::string> out;
    for (const std::string& v : server.values(GROUP_DN, attribute)) out.insert(ldap::dnKey(v));
    return out;
}

std::set<std::string> keysOf(const std::vector<std::string>& names) {
    std::set<std::string> out;
    for (const std::string& n : names) out.insert(ldap::dnKey(dnOf(n)));
    return out;
}

// Which of the users hold the group in each of the four places.
struct FourPlaces {
    std::set<std::string> member, equivalent, groupMembership, securityEquals;
    FourPlaces(const Slapd& server, const std::string& container)
        : member(groupValues(server, "member")),
          equivalent(groupValues(server, "equivalentToMe")),
          groupMembership(holding(server, container, "groupMembership")),
          securityEquals(holding(server, container, "securityEquals")) {}
    // Users of `users` holding the group in all four places / in none.
    size_t whole(const std::set<std::string>& users) const { return count(users, 4); }
    size_t untouched(const std::set<std::string>& users) const { return count(users, 0); }
    size_t count(const std::set<std::string>& users, int places) const {
        size_t n = 0;
        for (const std::string& u : users)
            if (int(member.count(u) + equivalent.count(u) + groupMembership.count(u) + securityEquals.count(u)) == places) ++n;
        return n;
    }
};

// slapd's count of completed searches and modifies, read in one search (which itself is counted
// by the next reading).
struct Counts {
    long searches = -1, modifies = -1;
};
Counts counts(const Slapd& server) {
    std::istringstream lines(server.search("cn=Operations,cn=Monitor", "one", "(|(cn=Search)(cn=Modify))", "monitorOpCompleted"));
    Counts c;
    long* which = nullptr;
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("dn: cn=Search,", 0) == 0) which = &c.searches;
        if (line.rfind("dn: cn=Modify,", 0) == 0) which = &c.modifies;
        if (which && line.rfind("monitorOpCompleted: ", 0) == 0) *which = std::stol(line.substr(20));
    }
    return c;
}

pid_t slapdPid(const Slapd& server) {
    std::ifstream in(server.folder() + "/slapd/slapd.pid");
    pid_t pid = 0;
    in >> pid;
    return pid;
}

// Whatever fails, the server is not left stopped.
struct Resume {
    pid_t pid;
    ~Resume() { kill(pid, SIGCONT); }
};

double secondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

TEST(LdapBatch, StopAndGoOfManyUsersOneModifyEachAndAllFourPlacesWhole) {
    Slapd server(SchoolOptions{1200});
    auto b = open(server);
    ObjectId group = idOf(*b, DENY_GROUP);
    std::vector<ObjectId> ids;
    std::vector<std::string> names;
    gather(*b, "GROSS.UNTERRICHT", ids, names);
    ASSERT_EQ(ids.size(), 1200u);
    const std::set<std::string> users = keysOf(names);
    // Left half done by an earlier run: an add of a value already there is what the stop wants.
    ASSERT_TRUE(leaveHalfStopped(server, dnOf(names[7])));

    Counts before = counts(server);
    Answers stop(ids.size());
    ASSERT_EQ(b->changeUserSides(group, true, ids, stop.callback(), nullptr), 0);
    // One modify per user and no read of its own (the one search is the counting itself).
    Counts after = counts(server);
    ASSERT_GE(before.modifies, 0);
    EXPECT_EQ(after.modifies - before.modifies, 1200);
    EXPECT_EQ(after.searches - before.searches, 1);
    EXPECT_EQ(std::count(stop.count.begin(), stop.count.end(), 1), 1200);
    EXPECT_EQ(std::count(stop.status.begin(), stop.status.end(), 0), 1200);
    ASSERT_EQ(changeGroup(*b, group, true, names), 0);
    FourPlaces afterStop(server, "GROSS.UNTERRICHT");
    EXPECT_EQ(afterStop.whole(users), 1200u);

    // Go, with one user already gone from the group on its own side.
    ASSERT_TRUE(changeValue(server, dnOf(names[9]), false, "securityEquals", GROUP_DN));
    Answers go(ids.size());
    ASSERT_EQ(b->changeUserSides(group, false, ids, go.callback(), nullptr), 0);
    EXPECT_EQ(std::count(go.status.begin(), go.status.end(), 0), 1200);
    ASSERT_EQ(changeGroup(*b, group, false, names), 0);
    FourPlaces afterGo(server, "GROSS.UNTERRICHT");
    EXPECT_EQ(afterGo.untouched(users), 1200u);
    // The pupils denied before are still denied.
    EXPECT_TRUE(afterGo.member.count(ldap::dnKey(dnOf("Gast01.PROJEKTE.UNTERRICHT"))));
    EXPECT_TRUE(afterGo.equivalent.count(ldap::dnKey(dnOf("Gast01.PROJEKTE.UNTERRICHT"))));
}

TEST(LdapBatch, WithoutThePermissiveControlHalfDoneUsersStillEndWhole) {
    // As with a server that does not know the control: a value already there (or already gone)
    // refuses its whole request, and the rest must still arrive.
    Slapd server(SchoolOptions{40});
    auto b = open(server, "5", false);
    ObjectId group = idOf(*b, DENY_GROUP);
    std::vector<ObjectId> ids;
    std::vector<std::string> names;
    gather(*b, "GROSS.UNTERRICHT", ids, names);
    ASSERT_EQ(ids.size(), 40u);
    const std::set<std::string> users = keysOf(names);
    ASSERT_TRUE(leaveHalfStopped(server, dnOf(names[3])));
    ASSERT_TRUE(changeValue(server, GROUP_DN, true, "equivalentToMe", dnOf(names[5])));

    Counts before = counts(server);
    Answers stop(ids.size());
    ASSERT_EQ(b->changeUserSides(group, true, ids, stop.callback(), nullptr), 0);
    EXPECT_EQ(std::count(stop.status.begin(), stop.status.end(), 0), 40);
    // The half-done user's request was refused and its values went again one by one.
    EXPECT_GT(counts(server).modifies - before.modifies, 40);
    ASSERT_EQ(changeGroup(*b, group, true, names), 0);
    EXPECT_EQ(FourPlaces(server, "GROSS.UNTERRICHT").whole(users), 40u);

    ASSERT_TRUE(changeValue(server, dnOf(names[9]), false, "securityEquals", GROUP_DN));
    ASSERT_TRUE(changeValue(server, GROUP_DN, false, "equivalentToMe", dnOf(names[11])));
    Answers go(ids.size());
    ASSERT_EQ(b->changeUserSides(group, false, ids, go.callback(), nullptr), 0);
    EXPECT_EQ(std::count(go.status.begin(), go.status.end(), 0), 40);
    ASSERT_EQ(changeGroup(*b, group, false, names), 0);
    EXPECT_EQ(FourPlaces(server, "GROSS.UNTERRICHT").untouched(users), 40u);
}

TEST(LdapBatch, TheGroupsQueuedSideGoesInRequestsOfAThousandValues) {
    Slapd server(SchoolOptions{2500});
    auto b = open(server);
    ObjectId group = idOf(*b, DENY_GROUP);
    std::vector<ObjectId> ids;
    std::vector<std::string> names;
    gather(*b, "GROSS.UNTERRICHT", ids, names);
    ASSERT_EQ(ids.size(), 2500u);
    ASSERT_EQ(b->changeUserSides(group, true, ids, nullptr, nullptr), 0);
    // A request of 500 Member names (as a stop sends them) carries all of their Equivalent To Me:
    // nobody is in Member without it.
    const std::vector<std::string> first(names.begin(), names.begin() + 500);
    ASSERT_EQ(changeGroup(*b, group, true, first, 500), 0);
    EXPECT_EQ(FourPlaces(server, "GROSS.UNTERRICHT").whole(keysOf(first)), 500u);
    // Reading the group sends the rest of what is queued for it first.
    long modifies = counts(server).modifies;
    Attribute a;
    ASSERT_EQ(b->readAttribute(group, "Equivalent To Me", a), 0);
    EXPECT_EQ(counts(server).modifies - modifies, 2);
    EXPECT_EQ(groupValues(server, "equivalentToMe").size(), 2502u);  // with Gast01 and Gast02
}

TEST(LdapBatch, AfterARefusedUserNothingMoreIsSentAndTheGroupSideCompletesTheOthers) {
    Slapd server(SchoolOptions{1200});
    auto b = open(server);
    ObjectId group = idOf(*b, DENY_GROUP);
    std::vector<ObjectId> ids;
    std::vector<std::string> names;
    gather(*b, "GROSS.UNTERRICHT", ids, names);
    ASSERT_EQ(ids.size(), 1200u);
    // Gone from the server after the search found it: its modify is refused.
    ASSERT_TRUE(server.modify("dn: " + dnOf(names[100]) + "\nchangetype: delete\n"));

    Answers stop(ids.size());
    EXPECT_EQ(b->changeUserSides(group, true, ids, stop.callback(), nullptr), ERR_NO_SUCH_ENTRY);
    EXPECT_EQ(stop.status[100], ERR_NO_SUCH_ENTRY);
    // Requests already on the wire are answered; nothing was sent after the refusal came.
    EXPECT_TRUE(std::all_of(stop.count.begin(), stop.count.end(), [](int c) { return c <= 1; }));
    EXPECT_GE(stop.answered(), 101u);
    EXPECT_LT(stop.answered(), 100u + 2 * 64);
    std::vector<std::string> done;
    std::set<std::string> notSent;
    for (size_t i = 0; i < ids.size(); ++i) {
        if (stop.count[i] && stop.status[i] == 0) done.push_back(names[i]);
        if (!stop.count[i]) notSent.insert(ldap::dnKey(dnOf(names[i])));
    }
    EXPECT_EQ(done.size(), stop.answered() - 1);

    // The group's side for those whose own side was changed: nobody is left half done.
    ASSERT_EQ(changeGroup(*b, group, true, done), 0);
    FourPlaces places(server, "GROSS.UNTERRICHT");
    EXPECT_EQ(places.whole(keysOf(done)), done.size());
    EXPECT_EQ(places.untouched(notSent), notSent.size());
}

TEST(LdapBatch, AHungServerIsATimeoutClosingDoesNotWaitAndOneMorePressCompletes) {
    Slapd server(SchoolOptions{1000});
    const pid_t pid = slapdPid(server);
    ASSERT_GT(pid, 0);
    Resume resume{pid};
    std::vector<std::string> names;
    std::set<std::string> users;
    {
        auto b = open(server, "2");
        ObjectId group = idOf(*b, DENY_GROUP);
        std::vector<ObjectId> ids;
        gather(*b, "GROSS.UNTERRICHT", ids, names);
        ASSERT_EQ(ids.size(), 1000u);
        users = keysOf(names);
        // The server stops answering in the middle of the stop.
        bool stopped = false;
        Answers stop(ids.size());
        auto callback = stop.callback([&](size_t) {
            if (!stopped && stop.answered() == 300) stopped = stopProcess(pid);
        });
        NWDSCCODE rc = b->changeUserSides(group, true, ids, callback, nullptr);
        ASSERT_TRUE(stopped);
        EXPECT_EQ(rc, ERR_TIME_OUT);
        EXPECT_GT(std::count(stop.status.begin(), stop.status.end(), ERR_TIME_OUT), 0);
        EXPECT_TRUE(std::all_of(stop.count.begin(), stop.count.end(), [](int c) { return c <= 1; }));

        // Closing with the group's side of 300 users queued and the server still hung.
        auto started = std::chrono::steady_clock::now();
        b.reset();
        EXPECT_LT(secondsSince(started), 2.0 + 2.0);
    }
    ASSERT_EQ(kill(pid, SIGCONT), 0);

    // The server resumes: every pupil is whole, or untouched, or has its own side only; one more
    // press (own sides, then the group's side of those not yet members) makes every one whole.
    FourPlaces before(server, "GROSS.UNTERRICHT");
    EXPECT_EQ(before.count(users, 1) + before.count(users, 3), 0u);
    auto b = open(server);
    ObjectId group = idOf(*b, DENY_GROUP);
    std::vector<ObjectId> ids;
    std::vector<std::string> again;
    gather(*b, "GROSS.UNTERRICHT", ids, again);
    ASSERT_EQ(b->changeUserSides(group, true, ids, nullptr, nullptr), 0);
    std::vector<std::string> notMembers;
    for (const std::string& n : again)
        if (!before.member.count(ldap::dnKey(dnOf(n)))) notMembers.push_back(n);
    ASSERT_EQ(changeGroup(*b, group, true, notMembers), 0);
    b.reset();
    FourPlaces after(server, "GROSS.UNTERRICHT");
    EXPECT_EQ(after.whole(users), 1000u);
}

// The same through the program's layers, as the operator meets it: a stop of 1,000 pupils, the
// server hung after 300 of them, Timeout=2; closing the connection does not wait for the server,
// and the next stop after it resumes leaves every pupil whole.
TEST(LdapBatch, AHungServerDoesNotKeepTheProgramFromClosing) {
    platform::RecordingPorts ports;
    nwapi::resetLayerForTesting();
    nw::resetClient();
    Slapd server(SchoolOptions{1000});
    const pid_t pid = slapdPid(server);
    ASSERT_GT(pid, 0);
    Resume resume{pid};
    const std::string deny = std::string(".") + DENY_GROUP;
    auto connect = [&](int seconds) {
        std::string conf = server.useAs("admin", "Timeout=" + std::to_string(seconds) + "\n");
        ClientConfig config;
        config.file = conf;
        config.tree = server.url();
        config.operatorName = ADMIN;
        config.values = {{"base", BASE}, {"passwordfile", server.passwordFile("admin")}, {"timeout", std::to_string(seconds)}};
        NWCCODE status = 0;
        auto wrapper = std::make_unique<FaultBackend>(makeLdapBackend(config, status));
        FaultBackend* probe = wrapper.get();
        installBackend(std::move(wrapper));
        bool ok = false;
        nwapi::InitNWConnection(ok);
        EXPECT_TRUE(ok);
        nwapi::SetzeContext("[root]");
        return probe;
    };

    FaultBackend* probe = connect(2);
    nwapi::NameList users;
    ASSERT_TRUE(nwapi::SearchObjects(".GROSS.UNTERRICHT", users, "User"));
    ASSERT_EQ(users.size(), 1000u);
    probe->onModify([&](int n, ObjectId) {
        if (n == 301) stopProcess(pid);
    });
    nwapi::NameList stop = users;
    EXPECT_FALSE(nwapi::AddMultipleUsersToGroup(stop, deny));
    ASSERT_FALSE(ports.box.boxes.empty());
    EXPECT_EQ(ports.box.boxes.back().text.rfind("Fehler -659. ", 0), 0u) << ports.box.boxes.back().text;

    auto started = std::chrono::steady_clock::now();
    nwapi::DoneNWConnection();
    nw::resetClient();
    EXPECT_LT(secondsSince(started), 2.0 + 2.0);
    nwapi::resetLayerForTesting();
    ASSERT_EQ(kill(pid, SIGCONT), 0);

    connect(5);
    ports.box.boxes.clear();
    nwapi::NameList again = users;
    EXPECT_TRUE(nwapi::AddMultipleUsersToGroup(again, deny));
    EXPECT_TRUE(ports.box.boxes.empty()) << ports.box.boxes.front().text;
    nwapi::DoneNWConnection();
    nw::resetClient();
    nwapi::resetLayerForTesting();
    std::set<std::string> keys;
    for (const std::string& u : users) keys.insert(ldap::dnKey(dnOf(u.substr(u[0] == '.' ? 1 : 0))));
    EXPECT_EQ(FourPlaces(server, "GROSS.UNTERRICHT").whole(keys), 1000u);
}

namespace {

// Waits until slapd has closed every connection bound as the admin: all that was sent on it has
// been read by then. Each look is one search of its own; their number comes back in `looks`.
bool adminConnectionsClosed(const Slapd& server, long& looks) {
    const std::string admin = ldap::dnKey(dnOf(ADMIN));
    for (looks = 1; looks <= 400; ++looks) {
        std::istringstream lines(server.search("cn=Connections,cn=Monitor", "one", "(objectClass=*)", "monitorConnectionAuthzDN"));
        bool open = false;
        for (std::string line; std::getline(lines, line);)
            if (line.rfind("monitorConnectionAuthzDN: ", 0) == 0 && ldap::dnKey(line.substr(26)) == admin) open = true;
        if (!open) return true;
        usleep(25000);
    }
    return false;
}

}  // namespace

// Once a request went unanswered, whatever the job asks next fails at once and nothing more
// reaches the server: counted by slapd once it runs again and has read the closed connection.
TEST(LdapBatch, AfterAnUnansweredRequestNothingMoreIsSent) {
    Slapd server;
    const pid_t pid = slapdPid(server);
    ASSERT_GT(pid, 0);
    Resume resume{pid};
    Counts before;
    {
        auto b = open(server, "2");
        const ObjectId group = idOf(*b, DENY_GROUP), user = idOf(*b, "Gast03.PROJEKTE.UNTERRICHT"),
                       container = idOf(*b, "PROJEKTE.UNTERRICHT");
        before = counts(server);
        ASSERT_TRUE(stopProcess(pid));
        Attribute a;
        EXPECT_EQ(b->readAttribute(group, "Member", a), ERR_TIME_OUT);
        std::unique_ptr<ObjectCursor> cursor;
        std::vector<ObjectSummary> page;
        Change add;
        add.type = DS_ADDITIONAL_VALUE;
        add.attribute = "Member";
        add.syntax = SYN_DIST_NAME;
        add.values.emplace_back();
        add.values.back().text = "Gast03.PROJEKTE.UNTERRICHT";
        const std::vector<std::pair<std::string, std::function<NWDSCCODE()>>> next = {
            {"read", [&] { return b->readAttribute(group, "Equivalent To Me", a); }},
            {"list", [&] { NWDSCCODE rc = b->list(container, false, cursor); return rc ? rc : cursor->next(page); }},
            {"search", [&] { NWDSCCODE rc = b->search(container, "Object Class", "User", cursor); return rc ? rc : cursor->next(page); }},
            {"modify", [&] { return b->modify(group, {add}); }},
            {"own sides", [&] { return b->changeUserSides(group, true, {user}, nullptr, nullptr); }},
        };
        for (const auto& [what, call] : next) EXPECT_EQ(call(), ERR_TIME_OUT) << what;
        ASSERT_EQ(kill(pid, SIGCONT), 0);
    }
    long looks = 0;
    ASSERT_TRUE(adminConnectionsClosed(server, looks));
    const Counts after = counts(server);
    // The counting before, the unanswered read, the looks; no change at all.
    EXPECT_EQ(after.searches - before.searches, 1 + 1 + looks);
    EXPECT_EQ(after.modifies, before.modifies);
}

// A server killed in the middle of a stop, after it had stopped reading and more requests were
// sent: those users are unknown, and "half done" counts them with the users whose own side was
// confirmed (on the server afterwards: every user with an own side only, and more).
TEST(LdapBatch, HalfDoneAfterTheServerIsKilledCountsEveryUserSentAndNotConfirmed) {
    platform::RecordingPorts ports;
    nwapi::resetLayerForTesting();
    nw::resetClient();
    Slapd server(SchoolOptions{1000});
    const pid_t pid = slapdPid(server);
    ASSERT_GT(pid, 0);
    Resume resume{pid};
    ClientConfig config;
    config.file = server.useAs("admin");
    config.tree = server.url();
    config.operatorName = ADMIN;
    config.values = {{"base", BASE}, {"passwordfile", server.passwordFile("admin")}, {"timeout", "30"}};
    NWCCODE status = 0;
    installBackend(makeLdapBackend(config, status));
    ASSERT_EQ(status, 0u);
    bool ok = false;
    nwapi::InitNWConnection(ok);
    ASSERT_TRUE(ok);
    nwapi::SetzeContext("[root]");
    nwapi::NameList users;
    ASSERT_TRUE(nwapi::SearchObjects(".GROSS.UNTERRICHT", users, "User"));
    ASSERT_EQ(users.size(), 1000u);

    bool stopped = false, killed = false;
    int askedSinceStop = 0;
    nwapi::MembershipProgress progress;
    progress.progress = [&](size_t done, size_t) {
        if (done == 300 && !stopped) stopped = stopProcess(pid);
    };
    // Asked before each further request: the second time, one went out to the stopped server.
    progress.cancel = [&] {
        if (stopped && !killed && ++askedSinceStop == 2) killed = kill(pid, SIGKILL) == 0;
        return false;
    };
    nwapi::MembershipOutcome outcome;
    nwapi::NameList stop = users;
    EXPECT_FALSE(nwapi::AddMultipleUsersToGroup(stop, std::string(".") + DENY_GROUP, progress, &outcome));
    ASSERT_TRUE(killed);
    nwapi::DoneNWConnection();
    nw::resetClient();
    nwapi::resetLayerForTesting();

    server.restart();
    FourPlaces places(server, "GROSS.UNTERRICHT");
    size_t ownSideOnly = 0;
    for (const std::string& u : places.groupMembership) ownSideOnly += places.member.count(u) == 0;
    EXPECT_GE(ownSideOnly, 300u);
    EXPECT_GT(outcome.halfDone, ownSideOnly);
    EXPECT_LE(outcome.halfDone, ownSideOnly + 64);
}
