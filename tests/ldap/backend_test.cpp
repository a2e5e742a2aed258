// The LDAP backend against a private slapd loaded with the test school.
#include "backend_fixture.h"
#include "nwclient/client_setup.h"
#include "nwclient/ldap/ldap_backend.h"
#include "nwclient/ldap/ldap_diagnostics.h"
#include "nwclient/ldap/ldap_escape.h"
#include "nwclient/ldap/ldap_listing_split.h"
#include "nwclient/nwclient.h"
#include "platform/ports.h"
#include "platform/recording.h"
#include "slapd_fixture.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <random>
#include <set>
#include <tuple>

using namespace nw;
using namespace ldaptest;

using ldaptest::idOf;

namespace {

ClientConfig configFor(const Slapd& server, const std::string& who,
                       std::map<std::string, std::string> extra = {}) {
    ClientConfig c;
    c.file = server.folder() + "/nwclient.conf";
    c.tree = server.url();
    c.operatorName = who == "admin" ? ADMIN : who == "teacher" ? TEACHER : who == "limited" ? LIMITED : PLAIN;
    c.values = {{"tree", c.tree}, {"base", server.base()}, {"passwordfile", server.passwordFile(who)}, {"timeout", "5"}};
    for (auto& [k, v] : extra) c.values[k] = v;
    return c;
}

std::unique_ptr<DirectoryBackend> open(const Slapd& server, const std::string& who = "admin",
                                       std::map<std::string, std::string> extra = {}) {
    return ldaptest::openBackend(configFor(server, who, std::move(extra)));
}

std::vector<ObjectSummary> drain(ObjectCursor& cursor, NWDSCCODE& status, int* pages = nullptr) {
    std::vector<ObjectSummary> all, page;
    if (pages) *pages = 0;
    while ((status = cursor.next(page)) == 0 && !page.empty()) {
        all.insert(all.end(), page.begin(), page.end());
        if (pages) ++*pages;
    }
    return all;
}

std::vector<std::string> names(const std::vector<ObjectSummary>& entries) {
    std::vector<std::string> out;
    for (const auto& e : entries) out.push_back(e.name);
    return out;
}

std::vector<std::string> texts(const Attribute& a) {
    std::vector<std::string> out;
    for (const auto& v : a.values) out.push_back(v.text);
    return out;
}

Change change(uint32_t type, const std::string& attribute, std::vector<std::string> values) {
    Change c;
    c.type = type;
    c.attribute = attribute;
    c.syntax = SYN_DIST_NAME;
    for (auto& v : values) {
        AttrValue value;
        value.text = v;
        c.values.push_back(value);
    }
    return c;
}

bool has(const std::vector<std::string>& list, const std::string& item) {
    return std::find(list.begin(), list.end(), item) != list.end();
}

struct AnsweringCredentials : platform::CredentialsPort {
    std::string answer;
    bool give = true;
    std::vector<std::string> prompts;
    bool askPassword(const std::string& prompt, std::string& password) override {
        prompts.push_back(prompt);
        if (give) password = answer;
        return give;
    }
};

}  // namespace

TEST(LdapConnect, BindsWithThePasswordFileAndRefusesBadOnes) {
    Slapd server;
    EXPECT_NE(open(server), nullptr);

    testsupport::TempDir dir;
    std::string wrong = dir.file("wrong.pw");
    testsupport::writeFile(wrong, "not-the-password\n");
    chmod(wrong.c_str(), 0600);
    NWCCODE status = 0;
    EXPECT_EQ(makeLdapBackend(configFor(server, "admin", {{"passwordfile", wrong}}), status), nullptr);
    EXPECT_EQ(status, TARVEL_LDAP_BAD_CREDENTIALS);

    // A password file others may read is not used at all.
    std::string open = dir.file("open.pw");
    testsupport::writeFile(open, testsupport::readFile(server.passwordFile("admin")));
    chmod(open.c_str(), 0644);
    EXPECT_EQ(makeLdapBackend(configFor(server, "admin", {{"passwordfile", open}}), status), nullptr);
    EXPECT_EQ(status, TARVEL_LDAP_NO_PASSWORD);

    // Nor is a password written into nwclient.conf.
    EXPECT_EQ(makeLdapBackend(configFor(server, "admin", {{"password", "secret"}}), status), nullptr);
    EXPECT_EQ(status, TARVEL_CONFIGURATION_INVALID);

    ClientConfig unknown = configFor(server, "admin", {{"binddn", dnOf(ADMIN)}});
    unknown.operatorName = "niemand.UNTERRICHT";
    EXPECT_EQ(makeLdapBackend(unknown, status), nullptr);
    EXPECT_EQ(status, TARVEL_OPERATOR_UNKNOWN);
}

TEST(LdapConnect, AsksThroughTheCredentialsPortWithoutAFile) {
    Slapd server;
    AnsweringCredentials credentials;
    credentials.answer = testsupport::readFile(server.passwordFile("teacher"));
    platform::Ports ports;
    ports.credentials = &credentials;
    platform::installPorts(ports);

    ClientConfig c = configFor(server, "teacher");
    c.values.erase("passwordfile");
    NWCCODE status = 1;
    auto backend = makeLdapBackend(c, status);
    EXPECT_NE(backend, nullptr);
    EXPECT_EQ(status, 0u);
    ASSERT_EQ(credentials.prompts.size(), 1u);
    EXPECT_NE(credentials.prompts[0].find(TEACHER), std::string::npos);
    EXPECT_EQ(credentials.prompts[0].find(credentials.answer), std::string::npos);

    credentials.give = false;
    EXPECT_EQ(makeLdapBackend(c, status), nullptr);
    EXPECT_EQ(status, TARVEL_LDAP_NO_PASSWORD);
    platform::installPorts({});
}

TEST(LdapConnect, AServerThatIsNotThereIsReportedNotWaitedFor) {
    Slapd server;
    ClientConfig c = configFor(server, "admin");
    server.stop();
    NWCCODE status = 0;
    EXPECT_EQ(makeLdapBackend(c, status), nullptr);
    EXPECT_EQ(status, TARVEL_LDAP_UNREACHABLE);
}

TEST(LdapConnect, TlsTrustsTheSitesCaOnlyAndSaysSoWhenItCannot) {
    SchoolOptions options;
    options.tls = true;
    Slapd server(options);
    const std::string ca = server.folder() + "/slapd/tls/ca.pem", other = server.folder() + "/slapd/tls/other-ca.pem";
    NWCCODE status = 1;
    EXPECT_NE(makeLdapBackend(configFor(server, "admin", {{"starttls", "yes"}, {"cafile", ca}}), status), nullptr);
    EXPECT_EQ(status, 0u);
    EXPECT_EQ(makeLdapBackend(configFor(server, "admin", {{"starttls", "yes"}, {"cafile", other}}), status), nullptr);
    EXPECT_EQ(status, TARVEL_LDAP_TLS_FAILED);

    ClientConfig ldaps = configFor(server, "admin", {{"cafile", ca}});
    ldaps.tree = server.ldapsUrl();
    auto b = makeLdapBackend(ldaps, status);
    ASSERT_NE(b, nullptr) << status;
    Attribute a;
    EXPECT_EQ(b->readAttribute(idOf(*b, DENY_GROUP), "Member", a), 0);
    ldaps.values["cafile"] = other;
    EXPECT_EQ(makeLdapBackend(ldaps, status), nullptr);
    EXPECT_EQ(status, TARVEL_LDAP_TLS_FAILED);
}

// The certificate is checked whatever the user's LDAP files say: an ldaprc in the current
// folder and LDAPTLS_REQCERT both saying "never" change nothing. Only TLSVerify=no takes any
// certificate, and that is warned about once.
TEST(LdapConnect, WithoutTheSitesCaNoCertificateIsTakenUnlessTlsVerifyIsNo) {
    SchoolOptions options;
    options.tls = true;
    Slapd server(options);
    testsupport::TempDir here;
    {
        std::ofstream rc(here.path() + "/ldaprc");
        rc << "TLS_REQCERT never\n";
    }
    const std::string before = std::filesystem::current_path().string();
    std::filesystem::current_path(here.path());  // read by libldap when first used, below
    setenv("LDAPTLS_REQCERT", "never", 1);
    std::vector<std::string> lines;
    nw::ldap::setDiagnosticsSink([&](const std::string& line) { lines.push_back(line); });
    const std::string other = server.folder() + "/slapd/tls/other-ca.pem";
    struct Case {
        bool ldaps;
        std::map<std::string, std::string> extra;
        NWCCODE expected;
    } cases[] = {
        {false, {{"starttls", "yes"}}, TARVEL_LDAP_TLS_FAILED},
        {true, {}, TARVEL_LDAP_TLS_FAILED},
        {false, {{"starttls", "yes"}, {"cafile", other}}, TARVEL_LDAP_TLS_FAILED},
        {false, {{"starttls", "yes"}, {"tlsverify", "no"}}, 0},
        {true, {{"tlsverify", "no"}}, 0},
    };
    for (const Case& c : cases) {
        ClientConfig config = configFor(server, "admin", c.extra);
        if (c.ldaps) config.tree = server.ldapsUrl();
        NWCCODE status = 1;
        auto b = makeLdapBackend(config, status);
        EXPECT_EQ(status, c.expected) << config.tree << " " << c.extra.size();
        EXPECT_EQ(b != nullptr, c.expected == 0);
    }
    std::filesystem::current_path(before);
    nw::ldap::setDiagnosticsSink({});
    EXPECT_TRUE(nw::connectionIdentity().certificateUnchecked) << "what the about box shows";
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                            [](const std::string& l) { return l.find("TLSVerify=no") != std::string::npos; }),
              1);
}

TEST(LdapNames, ResolveIgnoresCaseAndDescribeGivesTheDirectorysSpelling) {
    Slapd server;
    auto b = open(server);
    ObjectId id = idOf(*b, "gast01.projekte.unterricht");
    std::string full;
    ObjectSummary s;
    ASSERT_EQ(b->describe(id, full, s), 0);
    EXPECT_EQ(full, "Gast01.PROJEKTE.UNTERRICHT");
    EXPECT_EQ(s.name, "Gast01");
    EXPECT_EQ(s.baseClass, "User");
    EXPECT_EQ(s.flags & DS_CONTAINER_ENTRY, 0u);
    EXPECT_GT(s.modificationTime, 1700000000u);
    EXPECT_EQ(idOf(*b, "GAST01.Projekte.Unterricht"), id);

    ObjectId missing = -1;
    EXPECT_EQ(b->resolve({"UNTERRICHT", "PROJEKTE", "Gast99"}, missing), ERR_NO_SUCH_ENTRY);
    EXPECT_EQ(b->resolve({"UNTERRICHT", "NIRGENDS", "Gast01"}, missing), ERR_NO_SUCH_ENTRY);
}

TEST(LdapNames, OddNamesNameOnlyThemselves) {
    Slapd server;
    auto b = open(server);
    std::set<ObjectId> seen;
    for (const std::string& odd : ODD_NAMES) {
        ObjectId id = -1;
        ASSERT_EQ(b->resolve({"UNTERRICHT", "PROJEKTE", odd}, id), 0) << odd;
        EXPECT_TRUE(seen.insert(id).second) << odd;
        std::string full;
        ObjectSummary s;
        ASSERT_EQ(b->describe(id, full, s), 0);
        EXPECT_EQ(full, ldap::escapeTypelessComponent(odd) + ".PROJEKTE.UNTERRICHT");
        EXPECT_EQ(s.name, odd);
    }
    // A wildcard is a name like any other: nothing is called "*".
    ObjectId id = -1;
    EXPECT_EQ(b->resolve({"UNTERRICHT", "PROJEKTE", "*"}, id), ERR_NO_SUCH_ENTRY);
    EXPECT_EQ(b->resolve({"UNTERRICHT", "PROJEKTE", "Gast0*"}, id), ERR_NO_SUCH_ENTRY);

    std::unique_ptr<ObjectCursor> cursor;
    ASSERT_EQ(b->search(ROOT_ID, "CN", "*)(cn=*", cursor), 0);
    NWDSCCODE status = -1;
    EXPECT_EQ(names(drain(*cursor, status)), std::vector<std::string>{"*)(cn=*.PROJEKTE.UNTERRICHT"});
    EXPECT_EQ(status, 0);
}

TEST(LdapNames, ClassesMapToBaseClasses) {
    Slapd server;
    auto b = open(server);
    const std::pair<const char*, const char*> expected[] = {
        {"UNTERRICHT", "Organization"},
        {"PROJEKTE.UNTERRICHT", "Organizational Unit"},
        {DENY_GROUP, "Group"},
        {"G_Alt.UNTERRICHT", "Group"},
        {"WS-R101-01.SCHUELER.UNTERRICHT", "Workstation"},
        {"Drucker-R101.SCHUELER.UNTERRICHT", "Printer"},
        {"DE", "Country"},
        {"Berlin", "Locality"},
    };
    for (const auto& [name, base] : expected) {
        std::string full;
        ObjectSummary s;
        ASSERT_EQ(b->describe(idOf(*b, name), full, s), 0) << name;
        EXPECT_EQ(s.baseClass, base) << name;
        const std::string b_(base);
        bool container = b_ == "Organization" || b_ == "Organizational Unit" || b_ == "Country" || b_ == "Locality";
        EXPECT_EQ((s.flags & DS_CONTAINER_ENTRY) != 0, container) << name;
    }
    // A site table overrides the built-in one.
    auto site = open(server, "admin", {{"class.tarvelworkstation", "Computer"}});
    std::string full;
    ObjectSummary s;
    ASSERT_EQ(site->describe(idOf(*site, "WS-R101-01.SCHUELER.UNTERRICHT"), full, s), 0);
    EXPECT_EQ(s.baseClass, "Computer");
}

TEST(LdapListing, ListsRootAndContainersOnly) {
    Slapd server;
    auto b = open(server);
    std::unique_ptr<ObjectCursor> cursor;
    ASSERT_EQ(b->list(ROOT_ID, false, cursor), 0);
    NWDSCCODE status = -1;
    std::vector<std::string> top = names(drain(*cursor, status));
    EXPECT_EQ(status, 0);
    std::sort(top.begin(), top.end());
    EXPECT_EQ(top, (std::vector<std::string>{"Berlin", "DE", "UNTERRICHT"}));

    ASSERT_EQ(b->list(idOf(*b, "UNTERRICHT"), true, cursor), 0);
    std::vector<ObjectSummary> containers = drain(*cursor, status);
    EXPECT_EQ(status, 0);
    std::vector<std::string> containerNames = names(containers);
    std::sort(containerNames.begin(), containerNames.end());
    EXPECT_EQ(containerNames, (std::vector<std::string>{"LEER", "LEHRER", "PROJEKTE", "SCHUELER"}));
    for (const auto& c : containers) EXPECT_NE(c.flags & DS_CONTAINER_ENTRY, 0u) << c.name;

    ASSERT_EQ(b->list(idOf(*b, "LEER.UNTERRICHT"), false, cursor), 0);
    EXPECT_TRUE(drain(*cursor, status).empty());
    EXPECT_EQ(status, 0);

    // Listed names resolve from the cache, and a vanished container is an error, not "empty".
    ObjectId leer = idOf(*b, "LEER.UNTERRICHT");
    ASSERT_TRUE(server.modify("dn: " + dnOf("LEER.UNTERRICHT") + "\nchangetype: delete\n"));
    EXPECT_EQ(b->list(leer, false, cursor), ERR_NO_SUCH_ENTRY);
}

TEST(LdapListing, PagesThroughMoreEntriesThanTheServersSizeLimit) {
    Slapd server(SchoolOptions{1200});
    auto b = open(server, "admin", {{"pagesize", "500"}});
    std::unique_ptr<ObjectCursor> cursor;
    ASSERT_EQ(b->list(idOf(*b, "GROSS.UNTERRICHT"), false, cursor), 0);
    NWDSCCODE status = -1;
    int pages = 0;
    std::vector<ObjectSummary> all = drain(*cursor, status, &pages);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(all.size(), 1200u);
    EXPECT_EQ(pages, 3);
    std::set<std::string> unique;
    for (const auto& e : all) unique.insert(e.name);
    EXPECT_EQ(unique.size(), 1200u);
    EXPECT_TRUE(unique.count("U00000") && unique.count("U01199"));

    // The same for a subtree search, as the teacher (whose limit the server lifts too).
    auto teacher = open(server, "teacher");
    ASSERT_EQ(teacher->search(idOf(*teacher, "UNTERRICHT"), "Object Class", "User", cursor), 0);
    std::vector<ObjectSummary> users = drain(*cursor, status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(users.size(), 1200u + 1 + 5 + ODD_NAMES.size() + 3 + 15);
}

TEST(LdapListing, AnOperatorUnderTheServersLimitStillGetsEverything) {
    Slapd server(SchoolOptions{1200});
    // 1,200 pupils in LEER with names as a school has them, added in no order.
    const char* surnames[] = {"Müller", "Schmidt", "Schneider", "Fischer", "Weber", "Meyer",
                              "Wagner", "Becker", "Schulz", "Hoffmann", "Özdemir", "Zimmermann"};
    const char* givenNames[] = {"Anna", "Ben", "Emma", "Finn", "Lea", "Paul", "Mia", "Jonas", "Lina", "Noah"};
    std::vector<std::string> mixed;
    for (int i = 0; i < 1200; ++i)
        mixed.push_back(std::string(surnames[i % 12]) + " " + givenNames[i / 12 % 10] + " " + std::to_string(i / 120));
    std::shuffle(mixed.begin(), mixed.end(), std::mt19937(23));
    std::string ldif;
    for (const std::string& name : mixed)
        ldif += "\ndn: cn=" + name + "," + dnOf("LEER.UNTERRICHT") +
                "\nchangetype: add\nobjectClass: inetOrgPerson\ncn: " + name + "\nsn: S\n";
    ASSERT_TRUE(server.modify(ldif));
    // An ordinary operator keeps slapd's limit of 500 entries; the backend gets the rest itself,
    // in as few searches as the limit allows: names the server sends in their own order need more.
    auto b = open(server, "limited");
    std::unique_ptr<ObjectCursor> cursor;
    NWDSCCODE status = -1;
    for (const auto& [container, maxSearches, some] :
         {std::tuple{"LEER.UNTERRICHT", 4u, mixed[0]}, std::tuple{"GROSS.UNTERRICHT", 7u, std::string("U00777")}}) {
        const size_t searchesBefore = nw::ldapbackend::searchesStarted();
        ASSERT_EQ(b->list(idOf(*b, container), false, cursor), 0);
        std::vector<ObjectSummary> got = drain(*cursor, status);
        EXPECT_EQ(status, 0);
        EXPECT_LE(nw::ldapbackend::searchesStarted() - searchesBefore, maxSearches) << container;
        std::set<std::string> unique;
        for (const auto& e : got) unique.insert(e.name);
        EXPECT_EQ(got.size(), 1200u) << container;  // none twice
        EXPECT_EQ(unique.size(), 1200u) << container;
        EXPECT_TRUE(unique.count(some)) << container;
    }
    std::vector<ObjectSummary> after;
    EXPECT_EQ(cursor->next(after), 0);
    EXPECT_TRUE(after.empty());

    ASSERT_EQ(b->search(ROOT_ID, "Object Class", "User", cursor), 0);
    std::vector<ObjectSummary> users = drain(*cursor, status);
    EXPECT_EQ(status, 0);
    std::set<std::string> full;
    for (const auto& e : users) full.insert(e.name);
    EXPECT_EQ(users.size(), 1200u + 1200 + 1 + 5 + ODD_NAMES.size() + 3 + 15);
    EXPECT_EQ(full.size(), users.size());
    EXPECT_TRUE(full.count("U00500.GROSS.UNTERRICHT") && full.count("lehrer3.LEHRER.UNTERRICHT"));
}

TEST(LdapListing, ALimitThatCannotBeWorkedAroundIsReportedAfterWhatCame) {
    // 600 entries named by an attribute the parts cannot split on: no way past the limit.
    SchoolOptions options;
    options.localities = 600;
    Slapd server(options);
    auto b = open(server, "limited");
    std::vector<std::string> logged;
    nw::ldap::setDiagnosticsSink([&](const std::string& line) { logged.push_back(line); });
    struct Restore {
        ~Restore() { nw::ldap::setDiagnosticsSink({}); }
    } restore;
    std::unique_ptr<ObjectCursor> cursor;
    ASSERT_EQ(b->list(idOf(*b, "ORTE.UNTERRICHT"), false, cursor), 0);
    NWDSCCODE status = 0;
    std::vector<ObjectSummary> got = drain(*cursor, status);
    EXPECT_EQ(status, static_cast<NWDSCCODE>(TARVEL_LDAP_INCOMPLETE));
    // The administrator learns which limit and which container, once.
    ASSERT_EQ(logged.size(), 1u);
    EXPECT_EQ(logged[0].rfind("LDAP 4 (Size limit exceeded) for \"" + dnOf("ORTE.UNTERRICHT") + "\"", 0), 0u) << logged[0];
    EXPECT_NE(logged[0].find("stays incomplete"), std::string::npos) << logged[0];
    EXPECT_GE(got.size(), 500u);
    EXPECT_LT(got.size(), 600u);
    std::vector<ObjectSummary> after;
    EXPECT_EQ(cursor->next(after), 0);  // finished: nothing more, no second report
    EXPECT_TRUE(after.empty());
    EXPECT_EQ(b->problemDetail(), "");  // a limit, not an entry to fix

    // The administrator has no limit: the same container is whole.
    auto admin = open(server, "admin");
    ASSERT_EQ(admin->list(idOf(*admin, "ORTE.UNTERRICHT"), false, cursor), 0);
    EXPECT_EQ(drain(*cursor, status).size(), 600u);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(logged.size(), 1u);
}

TEST(LdapListing, ANameWithNulCrOrLfIsNeverHandedOutButNamed) {
    Slapd server;
    const std::string klasse = dnOf("KLASSE5A.SCHUELER.UNTERRICHT");
    // "Evil<NUL>X" and "Bad<CR><LF>Y" as LDIF imports accept them.
    ASSERT_TRUE(server.modify("dn: cn=Evil\\00X," + klasse + "\nchangetype: add\nobjectClass: inetOrgPerson\n"
                              "cn:: RXZpbABY\nsn: X\n\n"
                              "dn: cn=Bad\\0D\\0AY," + klasse + "\nchangetype: add\nobjectClass: inetOrgPerson\n"
                              "cn:: QmFkDQpZ\nsn: Y\n"));
    auto b = open(server);
    for (bool search : {false, true}) {
        std::unique_ptr<ObjectCursor> cursor;
        ObjectId base = idOf(*b, search ? "SCHUELER.UNTERRICHT" : "KLASSE5A.SCHUELER.UNTERRICHT");
        ASSERT_EQ(search ? b->search(base, "Object Class", "User", cursor) : b->list(base, false, cursor), 0);
        NWDSCCODE status = 0;
        std::vector<std::string> got = names(drain(*cursor, status));
        EXPECT_EQ(status, static_cast<NWDSCCODE>(TARVEL_LDAP_INCOMPLETE)) << search;
        // The rest arrives; nothing with a control character does.
        EXPECT_EQ(got.size(), search ? 15u : 5u);
        for (const std::string& n : got) EXPECT_EQ(n.find_first_of(std::string("\0\r\n", 3)), std::string::npos);
        const std::string detail = b->problemDetail();
        EXPECT_TRUE(detail == "cn=Evil\\00X," + klasse || detail == "cn=Bad\\0D\\0AY," + klasse) << detail;
    }
    // Nor is it found by name: "Evil" is not "Evil<NUL>X".
    std::vector<std::string> parts = {"UNTERRICHT", "SCHUELER", "KLASSE5A", "Evil"};
    ObjectId id = -1;
    EXPECT_EQ(b->resolve(parts, id), ERR_NO_SUCH_ENTRY);
}

TEST(LdapTopSuffix, ATreeWhoseSuffixIsItsTopOrganizationWorksWithoutBase) {
    SchoolOptions options;
    options.suffixAtTop = true;  // suffix o=UNTERRICHT; Base= stays empty
    Slapd server(options);
    // The teacher binds as cn=lehrer1,ou=LEHRER,o=UNTERRICHT: below the matching naming context.
    auto b = open(server, "teacher");
    ASSERT_TRUE(b);
    std::unique_ptr<ObjectCursor> cursor;
    ASSERT_EQ(b->list(ROOT_ID, false, cursor), 0);
    NWDSCCODE status = -1;
    EXPECT_EQ(names(drain(*cursor, status)), std::vector<std::string>{"UNTERRICHT"});  // not the monitor
    EXPECT_EQ(status, 0);
    ASSERT_EQ(b->list(ROOT_ID, true, cursor), 0);
    EXPECT_EQ(names(drain(*cursor, status)), std::vector<std::string>{"UNTERRICHT"});

    ObjectId deny = idOf(*b, DENY_GROUP);
    std::string full;
    ObjectSummary summary;
    ASSERT_EQ(b->describe(deny, full, summary), 0);
    EXPECT_EQ(full, DENY_GROUP);
    EXPECT_EQ(summary.baseClass, "Group");
    ASSERT_EQ(b->search(ROOT_ID, "Object Class", "User", cursor), 0);
    std::vector<std::string> users = names(drain(*cursor, status));
    EXPECT_EQ(status, 0);
    EXPECT_EQ(users.size(), 1 + 5 + ODD_NAMES.size() + 3 + 15);
    EXPECT_TRUE(has(users, "S5A01.KLASSE5A.SCHUELER.UNTERRICHT"));

    // Name parts take the tree's types: PROJEKTE is an ou, the teacher's group member a cn.
    Attribute member;
    ASSERT_EQ(b->readAttribute(deny, "Member", member), 0);
    ASSERT_EQ(member.values.size(), 2u);
    EXPECT_EQ(member.values[0].text, "Gast01.PROJEKTE.UNTERRICHT");
    const std::string pupil = "S5B01.KLASSE5B.SCHUELER.UNTERRICHT";
    AttrValue group;
    group.text = DENY_GROUP;
    EXPECT_EQ(b->modify(idOf(*b, pupil), {Change{DS_ADDITIONAL_VALUE, "Group Membership", SYN_DIST_NAME, {group}}}), 0);
    EXPECT_TRUE(server.holdsDn(server.dn(pupil), "groupMembership", server.dn(DENY_GROUP)));
}

TEST(LdapSearch, SubtreeByClassGivesFullNamesWithoutTheBase) {
    Slapd server;
    auto b = open(server);
    std::unique_ptr<ObjectCursor> cursor;
    ASSERT_EQ(b->search(idOf(*b, "SCHUELER.UNTERRICHT"), "Object Class", "User", cursor), 0);
    NWDSCCODE status = -1;
    std::vector<std::string> users = names(drain(*cursor, status));
    EXPECT_EQ(status, 0);
    EXPECT_EQ(users.size(), 15u);
    EXPECT_TRUE(has(users, "S5A01.KLASSE5A.SCHUELER.UNTERRICHT"));

    ASSERT_EQ(b->search(idOf(*b, "UNTERRICHT"), "Object Class", "Group", cursor), 0);
    std::vector<std::string> groups = names(drain(*cursor, status));
    std::sort(groups.begin(), groups.end());
    EXPECT_EQ(groups, (std::vector<std::string>{"G_Alt.UNTERRICHT", "G_Lehrer.LEHRER.UNTERRICHT", DENY_GROUP,
                                                "G_WS_Internet_Deny.PROJEKTE.UNTERRICHT"}));

    // The base itself is never among the results, even when it matches.
    ASSERT_EQ(b->search(idOf(*b, "PROJEKTE.UNTERRICHT"), "Object Class", "Organizational Unit", cursor), 0);
    EXPECT_TRUE(drain(*cursor, status).empty());

    // By a DN attribute: who is a member of the deny group.
    ASSERT_EQ(b->search(ROOT_ID, "Group Membership", DENY_GROUP, cursor), 0);
    std::vector<std::string> denied = names(drain(*cursor, status));
    std::sort(denied.begin(), denied.end());
    EXPECT_EQ(denied, (std::vector<std::string>{"Gast01.PROJEKTE.UNTERRICHT", "Gast02.PROJEKTE.UNTERRICHT"}));
}

// A big group's members are read in one search, a page at a time, the window painted between.
TEST(LdapRead, ManyMembersComeInPagesWithTheWindowPaintedBetween) {
    Slapd server;
    std::unique_ptr<ObjectCursor> cursor;
    NWDSCCODE status = -1;
    auto first = open(server);
    ASSERT_EQ(first->search(ROOT_ID, "Object Class", "User", cursor), 0);
    std::string ldif, group = server.dn(DENY_GROUP);
    for (const ObjectSummary& p : drain(*cursor, status))
        if (p.name.find("SCHUELER") != std::string::npos)
            ldif += "dn: " + server.dn(p.name) + "\nchangetype: modify\nadd: objectClass\nobjectClass: tarvelMembership\n-\n"
                    "add: groupMembership\ngroupMembership: " + group + "\n\ndn: " + group +
                    "\nchangetype: modify\nadd: member\nmember: " + server.dn(p.name) + "\n\n";
    ASSERT_TRUE(server.modify(ldif));
    platform::RecordingPorts ports;
    auto b = open(server, "admin", {{"pagesize", "5"}});
    Attribute a;
    ASSERT_EQ(b->readAttribute(idOf(*b, DENY_GROUP), "Member", a), 0);
    EXPECT_EQ(a.values.size(), 2u + 15u);
    EXPECT_GE(ports.pump.count, 3);
}

TEST(LdapRead, ValuesWithTheirSyntaxes) {
    Slapd server;
    auto b = open(server);
    Attribute a;
    ASSERT_EQ(b->readAttribute(idOf(*b, DENY_GROUP), "Member", a), 0);
    EXPECT_EQ(a.syntax, SYN_DIST_NAME);
    EXPECT_EQ(texts(a), (std::vector<std::string>{"Gast01.PROJEKTE.UNTERRICHT", "Gast02.PROJEKTE.UNTERRICHT"}));

    ObjectId gast01 = idOf(*b, "Gast01.PROJEKTE.UNTERRICHT");
    ASSERT_EQ(b->readAttribute(gast01, "Group Membership", a), 0);
    EXPECT_EQ(texts(a), std::vector<std::string>{DENY_GROUP});
    ASSERT_EQ(b->readAttribute(gast01, "Object Class", a), 0);
    EXPECT_EQ(a.syntax, SYN_CLASS_NAME);
    EXPECT_TRUE(has(texts(a), "User"));
    ASSERT_EQ(b->readAttribute(gast01, "Description", a), 0);
    EXPECT_EQ(a.syntax, SYN_CI_STRING);
    EXPECT_EQ(texts(a), std::vector<std::string>{"Gastzugang"});
    ASSERT_EQ(b->readAttribute(idOf(*b, "Gast03.PROJEKTE.UNTERRICHT"), "Telephone Number", a), 0);
    EXPECT_EQ(a.syntax, SYN_TEL_NUMBER);
    EXPECT_EQ(texts(a), std::vector<std::string>{"+49 30 123453"});

    // Odd member names come back escaped, so they resolve again. The group is big and written
    // by another tool (no member names it back), so its members are read together.
    std::string members = "member: " + ldap::childDn("cn", "Herr.Meier", dnOf("PROJEKTE.UNTERRICHT").c_str()) + "\n";
    std::vector<std::string> pupils;
    for (const char* klasse : {"KLASSE5A", "KLASSE5B", "KLASSE6A"})
        for (int i = 1; i <= 5; ++i) {
            pupils.push_back("S" + std::string(klasse + 6) + "0" + std::to_string(i) + "." + klasse + ".SCHUELER.UNTERRICHT");
            members += "member: " + dnOf(pupils.back()) + "\n";
        }
    ASSERT_TRUE(server.modify("dn: " + dnOf("G_Lehrer.LEHRER.UNTERRICHT") + "\nchangetype: modify\nadd: member\n" +
                              members));
    ASSERT_EQ(b->readAttribute(idOf(*b, "G_Lehrer.LEHRER.UNTERRICHT"), "Member", a), 0);
    EXPECT_EQ(a.values.size(), 3u + 1u + 15u);
    EXPECT_TRUE(has(texts(a), "Herr\\.Meier.PROJEKTE.UNTERRICHT"));
    for (const std::string& pupil : pupils) EXPECT_TRUE(has(texts(a), pupil)) << pupil;

    EXPECT_EQ(b->readAttribute(gast01, "Security Equals", a), 0);
    EXPECT_EQ(b->readAttribute(idOf(*b, "Gast03.PROJEKTE.UNTERRICHT"), "Group Membership", a), ERR_NO_SUCH_ATTRIBUTE);
    EXPECT_EQ(b->readAttribute(idOf(*b, "G_WS_Internet_Deny.PROJEKTE.UNTERRICHT"), "Member", a), ERR_NO_SUCH_ATTRIBUTE);

    uint32_t syntax = 0;
    EXPECT_EQ(b->attributeSyntax("Equivalent To Me", syntax), 0);
    EXPECT_EQ(syntax, SYN_DIST_NAME);
    EXPECT_EQ(b->attributeSyntax("Gibt Es Nicht", syntax), ERR_NO_SUCH_ATTRIBUTE);
}

TEST(LdapModify, ChangeTypesAndTheirStatuses) {
    Slapd server;
    auto b = open(server);
    ObjectId deny = idOf(*b, DENY_GROUP);
    const std::string gast3 = "Gast03.PROJEKTE.UNTERRICHT", gast4 = "Gast04.PROJEKTE.UNTERRICHT";

    EXPECT_EQ(b->modify(deny, {change(DS_ADDITIONAL_VALUE, "Member", {gast3})}), 0);
    EXPECT_EQ(b->modify(deny, {change(DS_ADDITIONAL_VALUE, "Member", {gast3})}), ERR_DUPLICATE_VALUE);
    EXPECT_EQ(b->modify(deny, {change(DS_REMOVE_VALUE, "Member", {gast4})}), ERR_NO_SUCH_VALUE);
    EXPECT_EQ(b->modify(deny, {change(DS_ADD_ATTRIBUTE, "Member", {gast4})}), ERR_ATTRIBUTE_ALREADY_EXISTS);
    EXPECT_EQ(b->modify(deny, {change(DS_ADDITIONAL_VALUE, "Member", {"Gast99.PROJEKTE.UNTERRICHT"})}),
              ERR_NO_SUCH_ENTRY);
    // A request is whole or nothing: the failing second value leaves the first out too.
    EXPECT_EQ(b->modify(deny, {change(DS_ADDITIONAL_VALUE, "Member", {gast4}),
                               change(DS_REMOVE_VALUE, "Member", {"S5A01.KLASSE5A.SCHUELER.UNTERRICHT"})}),
              ERR_NO_SUCH_VALUE);
    std::vector<std::string> members = server.values(dnOf(DENY_GROUP), "member");
    EXPECT_EQ(members.size(), 3u);
    EXPECT_FALSE(has(members, dnOf(gast4)));

    // A group may become empty, and gets its first member with "add attribute".
    ObjectId ws = idOf(*b, "G_WS_Internet_Deny.PROJEKTE.UNTERRICHT");
    EXPECT_EQ(b->modify(ws, {change(DS_ADD_ATTRIBUTE, "Member", {gast4})}), 0);
    EXPECT_EQ(b->modify(ws, {change(DS_REMOVE_VALUE, "Member", {gast4})}), 0);
    EXPECT_TRUE(server.values(dnOf("G_WS_Internet_Deny.PROJEKTE.UNTERRICHT"), "member").empty());

    // A groupOfNames cannot lose its last member: a clear status, nothing changed.
    EXPECT_EQ(b->modify(idOf(*b, "G_Alt.UNTERRICHT"), {change(DS_REMOVE_VALUE, "Member", {gast3})}),
              ERR_MISSING_MANDATORY);
    EXPECT_EQ(server.values(dnOf("G_Alt.UNTERRICHT"), "member").size(), 1u);
}

TEST(LdapModify, MembershipAttributesBringTheirClassInTheSameRequest) {
    Slapd server;
    auto b = open(server);
    ObjectId gast3 = idOf(*b, "Gast03.PROJEKTE.UNTERRICHT");
    ASSERT_FALSE(has(server.values(dnOf("Gast03.PROJEKTE.UNTERRICHT"), "objectClass"), "tarvelMembership"));
    EXPECT_EQ(b->modify(gast3, {change(DS_ADD_ATTRIBUTE, "Group Membership", {DENY_GROUP})}), 0);
    EXPECT_TRUE(has(server.values(dnOf("Gast03.PROJEKTE.UNTERRICHT"), "objectClass"), "tarvelMembership"));
    EXPECT_EQ(server.values(dnOf("Gast03.PROJEKTE.UNTERRICHT"), "groupMembership"),
              std::vector<std::string>{dnOf(DENY_GROUP)});

    // Another client gave Gast04 the class behind our back: the request is sent again without it.
    auto other = open(server);
    ObjectId gast4 = idOf(*b, "Gast04.PROJEKTE.UNTERRICHT");
    std::string full;
    ObjectSummary s;
    ASSERT_EQ(b->describe(gast4, full, s), 0);
    Attribute classes;
    ASSERT_EQ(b->readAttribute(gast4, "Object Class", classes), 0);
    ASSERT_TRUE(server.modify("dn: " + dnOf("Gast04.PROJEKTE.UNTERRICHT") +
                              "\nchangetype: modify\nadd: objectClass\nobjectClass: tarvelMembership\n"));
    std::unique_ptr<ObjectCursor> cursor;
    ASSERT_EQ(b->list(idOf(*b, "PROJEKTE.UNTERRICHT"), false, cursor), 0);  // refreshes classes
    NWDSCCODE status;
    drain(*cursor, status);
    EXPECT_EQ(b->modify(gast4, {change(DS_ADDITIONAL_VALUE, "Group Membership", {DENY_GROUP})}), 0);
    // Removing needs no class.
    EXPECT_EQ(b->modify(gast4, {change(DS_REMOVE_VALUE, "Group Membership", {DENY_GROUP})}), 0);
}

TEST(LdapEquivalence, BothSidesWrittenAndKeptInStep) {
    Slapd server;
    auto b = open(server);
    ObjectId user = idOf(*b, "Gast03.PROJEKTE.UNTERRICHT"), group = idOf(*b, DENY_GROUP);
    const std::string userDn = dnOf("Gast03.PROJEKTE.UNTERRICHT"), groupDn = dnOf(DENY_GROUP);
    Attribute a;

    EXPECT_EQ(b->addSecurityEquivalence(user, group), 0);
    EXPECT_EQ(b->addSecurityEquivalence(user, group), ERR_DUPLICATE_VALUE);
    // What the backend reads back is what the server holds.
    ASSERT_EQ(b->readAttribute(user, "Security Equals", a), 0);
    EXPECT_EQ(texts(a), std::vector<std::string>{DENY_GROUP});
    ASSERT_EQ(b->readAttribute(group, "Equivalent To Me", a), 0);
    EXPECT_TRUE(has(texts(a), "Gast03.PROJEKTE.UNTERRICHT"));
    EXPECT_EQ(server.values(userDn, "securityEquals"), std::vector<std::string>{groupDn});
    EXPECT_TRUE(has(server.values(groupDn, "equivalentToMe"), userDn));
    EXPECT_TRUE(has(server.values(userDn, "objectClass"), "tarvelMembership"));

    EXPECT_EQ(b->removeSecurityEquivalence(user, group), 0);
    EXPECT_EQ(b->removeSecurityEquivalence(user, group), ERR_NO_SUCH_VALUE);
    b.reset();  // nothing queued is lost when the connection closes
    EXPECT_TRUE(server.values(userDn, "securityEquals").empty());
    EXPECT_FALSE(has(server.values(groupDn, "equivalentToMe"), userDn));

    // Half done by an interrupted run (only the user side): adding completes the group side.
    b = open(server);
    user = idOf(*b, "Gast03.PROJEKTE.UNTERRICHT");
    group = idOf(*b, DENY_GROUP);
    ASSERT_TRUE(server.modify("dn: " + userDn + "\nchangetype: modify\nadd: securityEquals\nsecurityEquals: " +
                              groupDn + "\n"));
    EXPECT_EQ(b->addSecurityEquivalence(user, group), 0);
    ASSERT_EQ(b->readAttribute(group, "Equivalent To Me", a), 0);
    EXPECT_TRUE(has(server.values(groupDn, "equivalentToMe"), userDn));
}

TEST(LdapEquivalence, EachSideGoesOutWithTheChangeOfItsEntry) {
    Slapd server;
    auto b = open(server);
    ObjectId user = idOf(*b, "Gast04.PROJEKTE.UNTERRICHT"), group = idOf(*b, DENY_GROUP);
    const std::string userDn = dnOf("Gast04.PROJEKTE.UNTERRICHT"), groupDn = dnOf(DENY_GROUP);
    // As a stop sends them: equivalence, the user's Group Membership, the group's Member.
    ASSERT_EQ(b->addSecurityEquivalence(user, group), 0);
    ASSERT_EQ(b->modify(user, {change(DS_ADD_ATTRIBUTE, "Group Membership", {DENY_GROUP})}), 0);
    EXPECT_EQ(server.values(userDn, "securityEquals"), std::vector<std::string>{groupDn});
    EXPECT_EQ(server.values(userDn, "groupMembership"), std::vector<std::string>{groupDn});
    ASSERT_EQ(b->modify(group, {change(DS_ADDITIONAL_VALUE, "Member", {"Gast04.PROJEKTE.UNTERRICHT"})}), 0);
    EXPECT_TRUE(has(server.values(groupDn, "member"), userDn));
    EXPECT_TRUE(has(server.values(groupDn, "equivalentToMe"), userDn));

    // A change that fails for its own reason still reports its own status; the queued side is
    // written all the same.
    ObjectId other = idOf(*b, "Gast05.PROJEKTE.UNTERRICHT");
    ASSERT_EQ(b->addSecurityEquivalence(other, group), 0);
    EXPECT_EQ(b->modify(other, {change(DS_REMOVE_VALUE, "Group Membership", {DENY_GROUP})}), ERR_NO_SUCH_VALUE);
    EXPECT_EQ(server.values(dnOf("Gast05.PROJEKTE.UNTERRICHT"), "securityEquals"), std::vector<std::string>{groupDn});
}

TEST(LdapEquivalence, AGroupSideRefusalTakesTheUserSideBack) {
    Slapd server;
    auto teacher = open(server, "teacher");
    // The teacher may change pupils of KLASSE5A, but not G_Lehrer.
    ObjectId pupil = idOf(*teacher, "S5A01.KLASSE5A.SCHUELER.UNTERRICHT");
    ObjectId lehrer = idOf(*teacher, "G_Lehrer.LEHRER.UNTERRICHT");
    const std::string pupilDn = dnOf("S5A01.KLASSE5A.SCHUELER.UNTERRICHT");
    Attribute a;
    // Refused when the group side goes out, the pupil's side still queued.
    ASSERT_EQ(teacher->addSecurityEquivalence(pupil, lehrer), 0);
    EXPECT_EQ(teacher->readAttribute(lehrer, "Member", a), ERR_NO_ACCESS);
    EXPECT_EQ(teacher->readAttribute(pupil, "Security Equals", a), ERR_NO_SUCH_ATTRIBUTE);
    EXPECT_TRUE(server.values(pupilDn, "securityEquals").empty());

    // Refused after the pupil's side went out with the pupil's own change: it is undone.
    ASSERT_EQ(teacher->addSecurityEquivalence(pupil, lehrer), 0);
    ASSERT_EQ(teacher->modify(pupil, {change(DS_ADD_ATTRIBUTE, "Group Membership", {"G_Lehrer.LEHRER.UNTERRICHT"})}),
              0);
    EXPECT_EQ(server.values(pupilDn, "securityEquals").size(), 1u);
    EXPECT_EQ(teacher->modify(lehrer, {change(DS_ADDITIONAL_VALUE, "Member", {"S5A01.KLASSE5A.SCHUELER.UNTERRICHT"})}),
              ERR_NO_ACCESS);
    EXPECT_TRUE(server.values(pupilDn, "securityEquals").empty());
}

TEST(LdapRights, TheTeacherChangesOnlyWhatTheServerAllows) {
    Slapd server;
    auto t = open(server, "teacher");
    ObjectId deny = idOf(*t, DENY_GROUP);
    const std::string pupil5a = "S5A02.KLASSE5A.SCHUELER.UNTERRICHT", pupil6a = "S6A02.KLASSE6A.SCHUELER.UNTERRICHT";

    EXPECT_EQ(t->modify(idOf(*t, pupil5a), {change(DS_ADD_ATTRIBUTE, "Group Membership", {DENY_GROUP})}), 0);
    EXPECT_EQ(t->addSecurityEquivalence(idOf(*t, pupil5a), deny), 0);
    EXPECT_EQ(t->modify(deny, {change(DS_ADDITIONAL_VALUE, "Member", {pupil5a})}), 0);

    EXPECT_EQ(t->modify(idOf(*t, pupil6a), {change(DS_ADD_ATTRIBUTE, "Group Membership", {DENY_GROUP})}),
              ERR_NO_ACCESS);
    // The equivalence is refused when its sides go out (with the next change of each entry).
    ASSERT_EQ(t->addSecurityEquivalence(idOf(*t, pupil6a), deny), 0);
    Attribute a;
    EXPECT_EQ(t->readAttribute(idOf(*t, pupil6a), "Security Equals", a), ERR_NO_ACCESS);
    EXPECT_TRUE(server.values(dnOf(DENY_GROUP), "equivalentToMe").size() == 2u + 1u);  // Gast01, Gast02, S5A02
    EXPECT_EQ(t->modify(idOf(*t, "G_Lehrer.LEHRER.UNTERRICHT"), {change(DS_ADDITIONAL_VALUE, "Member", {pupil5a})}),
              ERR_NO_ACCESS);
    EXPECT_TRUE(server.values(dnOf(pupil6a), "groupMembership").empty());
}

TEST(LdapConnection, ALostConnectionIsReopenedOnceThenReported) {
    Slapd server;
    auto b = open(server);
    ObjectId deny = idOf(*b, DENY_GROUP);
    Attribute a;
    server.restart();
    EXPECT_EQ(b->readAttribute(deny, "Member", a), 0);
    EXPECT_EQ(a.values.size(), 2u);

    // The users' sides of a stop, on a connection the server has dropped since: sent again on a
    // new one.
    const std::vector<std::string> users = {"Gast03.PROJEKTE.UNTERRICHT", "Gast04.PROJEKTE.UNTERRICHT"};
    const std::vector<ObjectId> ids = {idOf(*b, users[0]), idOf(*b, users[1])};
    std::vector<NWDSCCODE> answers(ids.size(), -1);
    auto answer = [&](size_t i, NWDSCCODE rc) { answers[i] = rc; };
    server.restart();
    EXPECT_EQ(b->changeUserSides(deny, true, ids, answer, nullptr), 0);
    EXPECT_EQ(answers, (std::vector<NWDSCCODE>{0, 0}));
    for (const std::string& user : users)
        EXPECT_EQ(server.values(dnOf(user), "securityEquals"), std::vector<std::string>{dnOf(DENY_GROUP)}) << user;
    // One user: the request goes out, its answer never comes.
    server.restart();
    answers.assign(ids.size(), -1);
    EXPECT_EQ(b->changeUserSides(deny, false, {ids[0]}, answer, nullptr), 0);
    EXPECT_EQ(answers[0], 0);
    EXPECT_TRUE(server.values(dnOf(users[0]), "securityEquals").empty());

    server.stop();
    EXPECT_EQ(b->changeUserSides(deny, false, ids, answer, nullptr), ERR_UNREACHABLE_SERVER);
    EXPECT_EQ(answers, (std::vector<NWDSCCODE>{ERR_UNREACHABLE_SERVER, ERR_UNREACHABLE_SERVER}));
    EXPECT_EQ(b->readAttribute(deny, "Member", a), ERR_UNREACHABLE_SERVER);
    EXPECT_EQ(b->modify(deny, {change(DS_ADDITIONAL_VALUE, "Member", {"Gast03.PROJEKTE.UNTERRICHT"})}),
              ERR_UNREACHABLE_SERVER);
    std::unique_ptr<ObjectCursor> cursor;
    ASSERT_EQ(b->list(ROOT_ID, false, cursor), 0);
    std::vector<ObjectSummary> page;
    EXPECT_EQ(cursor->next(page), ERR_UNREACHABLE_SERVER);

    server.restart();
    EXPECT_EQ(b->modify(deny, {change(DS_ADDITIONAL_VALUE, "Member", {"Gast03.PROJEKTE.UNTERRICHT"})}), 0);
    ASSERT_EQ(b->readAttribute(deny, "Member", a), 0);
    EXPECT_EQ(a.values.size(), 3u);
}

TEST(LdapServer, ClockNameAndNoVolumes) {
    Slapd server;
    auto b = open(server);
    uint8_t dateTime[7] = {};
    ASSERT_EQ(b->serverDateTime(dateTime), 0u);
    EXPECT_TRUE(testsupport::clockIsLocalNow(dateTime)) << int(dateTime[3]) << ":" << int(dateTime[4]) << " is not the local time";
    time_t now = time(nullptr);
    std::tm tm{};
    localtime_r(&now, &tm);
    EXPECT_EQ(dateTime[0], tm.tm_year);
    EXPECT_GE(dateTime[1], 1);
    EXPECT_LE(dateTime[1], 12);
    EXPECT_LE(dateTime[6], 6);
    EXPECT_EQ(b->serverName(), "127.0.0.1");
    EXPECT_TRUE(b->volumes().empty());
    uint16_t rights = 0xFFFF;
    EXPECT_NE(b->effectiveRights("SYS", "PUBLIC", rights), 0u);
    EXPECT_EQ(rights, 0);
}

TEST(LdapRead, MembershipValuesFromAListingAreReadAfreshByTheNextAction) {
    Slapd server;
    auto b = open(server);
    ObjectId projekte = idOf(*b, "PROJEKTE.UNTERRICHT");
    std::unique_ptr<ObjectCursor> cursor;
    NWDSCCODE status = -1;
    ASSERT_EQ(b->list(projekte, false, cursor), 0);
    drain(*cursor, status);
    ObjectId gast3 = idOf(*b, "Gast03.PROJEKTE.UNTERRICHT");
    Attribute a;
    EXPECT_EQ(b->readAttribute(gast3, "Group Membership", a), ERR_NO_SUCH_ATTRIBUTE);

    // Another client adds a membership; the next listing (a new action) brings it.
    ASSERT_TRUE(server.modify("dn: " + dnOf("Gast03.PROJEKTE.UNTERRICHT") +
                              "\nchangetype: modify\nadd: objectClass\nobjectClass: tarvelMembership\n-\n"
                              "add: groupMembership\ngroupMembership: " + dnOf(DENY_GROUP) + "\n"));
    ASSERT_EQ(b->list(projekte, false, cursor), 0);
    drain(*cursor, status);
    ASSERT_EQ(b->readAttribute(gast3, "Group Membership", a), 0);
    EXPECT_EQ(texts(a), std::vector<std::string>{DENY_GROUP});

    // Our own changes are seen at once.
    ASSERT_EQ(b->modify(gast3, {change(DS_REMOVE_VALUE, "Group Membership", {DENY_GROUP})}), 0);
    EXPECT_EQ(b->readAttribute(gast3, "Group Membership", a), ERR_NO_SUCH_ATTRIBUTE);
}
