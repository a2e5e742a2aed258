// tarvel-tree as an operator uses it: creating the demo and generated trees, looking at objects,
// setting values of every syntax, members, volumes and trustees, and refusing bad input.
#include "nwclient/embedded/embedded_backend.h"
#include "nwclient/embedded/tree_store.h"

#include "temp_trees.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <sstream>

using testsupport::runTreeTool;
using testsupport::TempDir;

namespace {

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) out.push_back(line);
    return out;
}

struct Tree {
    TempDir dir;
    std::string file = dir.file("school.tree");
    Tree() {
        std::string out;
        EXPECT_EQ(runTreeTool("init --demo " + file, &out), 0) << out;
    }
    int run(const std::string& arguments, std::string* out = nullptr) { return runTreeTool(arguments, out); }
    std::string show(const std::string& name, const std::string& attribute) {
        std::string out;
        EXPECT_EQ(run("show " + file + " " + name + " '" + attribute + "'", &out), 0) << out;
        return out;
    }
};

}  // namespace

TEST(TarvelTreeInit, DemoSchoolHasWhatTheProgramNeeds) {
    Tree t;
    std::string out;
    ASSERT_EQ(t.run("show " + t.file + " G_User_Internet_Deny.PROJEKTE.UNTERRICHT", &out), 0);
    EXPECT_EQ(lines(out).at(0), "G_User_Internet_Deny.PROJEKTE.UNTERRICHT");
    EXPECT_EQ(lines(out).at(1), "Base Class: Group");

    ASSERT_EQ(t.run("members " + t.file + " .g_user_internet_deny.projekte.unterricht", &out), 0);
    std::vector<std::string> members = lines(out);
    ASSERT_EQ(members.size(), 5u);
    EXPECT_EQ(members[0], "Gast01.PROJEKTE.UNTERRICHT");
    // Each member is in the group in all three places.
    for (const std::string& m : members) {
        EXPECT_NE(t.show(m, "Group Membership").find("G_User_Internet_Deny.PROJEKTE.UNTERRICHT"), std::string::npos) << m;
        EXPECT_NE(t.show(m, "Security Equals").find("G_User_Internet_Deny.PROJEKTE.UNTERRICHT"), std::string::npos);
        EXPECT_NE(t.show("G_User_Internet_Deny.PROJEKTE.UNTERRICHT", "Equivalent To Me").find(m), std::string::npos);
    }
    EXPECT_EQ(t.show("DE", "Object Class"), "Country\nTop\n");
    EXPECT_EQ(t.show("Musterstadt", "Object Class"), "Locality\nTop\n");
    EXPECT_EQ(t.show("admin.UNTERRICHT", "Network Address"), "0|00000001001B210A0B0C0451\n1|00500A010203\n");
    EXPECT_EQ(t.show("UNTERRICHT", "Login Intruder Reset Interval"), "90061\n");
    EXPECT_EQ(t.show("ARCHIV.UNTERRICHT", "Member"), "");

    // Classes of 20 to 30 pupils.
    nw::NWCCODE status;
    auto b = nw::makeEmbeddedBackend(t.file, "", status);
    ASSERT_TRUE(b);
    for (const char* klasse : {"KLASSE5A", "KLASSE5B", "KLASSE6A", "KLASSE6B", "KLASSE7A", "KLASSE7B"}) {
        nw::ObjectId id;
        ASSERT_EQ(b->resolve({"UNTERRICHT", "SCHUELER", klasse}, id), 0);
        std::unique_ptr<nw::ObjectCursor> cursor;
        ASSERT_EQ(b->search(id, "Object Class", "User", cursor), 0);
        std::vector<nw::ObjectSummary> page;
        ASSERT_EQ(cursor->next(page), 0);
        EXPECT_GE(page.size(), 20u) << klasse;
        EXPECT_LE(page.size(), 30u) << klasse;
    }

    // A second init never overwrites a tree.
    EXPECT_EQ(t.run("init --demo " + t.file, &out), 1);
    EXPECT_NE(out.find("exists"), std::string::npos);
    EXPECT_EQ(t.run("members " + t.file + " G_User_Internet_Deny.PROJEKTE.UNTERRICHT", &out), 0);
    EXPECT_EQ(lines(out).size(), 5u);
}

TEST(TarvelTreeSet, ValuesOfEverySyntaxRoundTrip) {
    Tree t;
    const std::string who = "Gast03.PROJEKTE.UNTERRICHT";
    struct Case {
        const char* attribute;
        int syntax;
        std::vector<std::string> values;
    };
    testsupport::writeFile(t.dir.file("script.txt"), "MAP H:=DATA:\r\nWRITE \"Hallo\"\r\n");
    const Case cases[] = {
        {"Test Unknown", 0, {"00FF10"}},
        {"Owner", 1, {"admin.UNTERRICHT"}},
        {"Unique ID", 2, {"CaseExact"}},
        {"Surname", 3, {"Müller", "Mueller"}},
        {"Serial Number", 4, {"A-1"}},
        {"Employee ID", 5, {"0815"}},
        {"Language", 6, {"DEUTSCH|ENGLISH"}},
        {"Login Disabled", 7, {"TRUE"}},
        {"Login Grace Limit", 8, {"-3"}},
        {"Public Key", 9, {"0102030405"}},
        {"Telephone Number", 10, {"+49 30 1"}},
        {"Facsimile Telephone Number", 11, {"+49 30 2"}},
        {"Network Address", 12, {"1|00500A010203", "0|00000001001B210A0B0C0451", "8|0035C0A80001"}},
        {"Passwords Used", 13, {"ABCD"}},
        {"EMail Address", 14, {"0|gast@schule.example"}},
        {"Home Directory", 15, {"4|DATA|HOME\\gast03"}},
        {"Replica", 16, {"SCHULSERVER|0|1"}},
        {"ACL", 17, {"[Entry Rights]|admin.UNTERRICHT|0x1F", "Member|[Public]|0x2"}},
        {"Postal Address", 18, {"4D75"}},
        {"Received Up To", 19, {"1764979200|3"}},
        {"Test Class", 20, {"User"}},
        {"Login Script", 21, {"@" + t.dir.file("script.txt")}},
        {"Login Intruder Attempts", 22, {"7"}},
        {"Back Link", 23, {"42|SCHULSERVER.UNTERRICHT"}},
        {"Login Time", 24, {"0"}},
        {"Notify", 25, {"lehrer1.LEHRER.UNTERRICHT|1|60"}},
        {"Server Holds", 26, {"admin.UNTERRICHT|-5"}},
        {"Password Expiration Interval", 27, {"3600"}},
    };
    for (const Case& c : cases) {
        std::string command = "set " + t.file + " " + who + " '" + c.attribute + "' " + std::to_string(c.syntax);
        std::string expected;
        for (const std::string& v : c.values) {
            command += " '" + v + "'";
            expected += (c.syntax == 21 ? std::string("MAP H:=DATA:\r\nWRITE \"Hallo\"\r\n") : v) +
                        (c.syntax == 21 ? "" : "\n");
        }
        std::string out;
        ASSERT_EQ(t.run(command, &out), 0) << c.attribute << ": " << out;
        EXPECT_EQ(t.show(who, c.attribute), expected) << c.attribute;
    }
    // Setting again replaces; setting nothing removes.
    ASSERT_EQ(t.run("set " + t.file + " " + who + " Surname 3 Neu"), 0);
    EXPECT_EQ(t.show(who, "Surname"), "Neu\n");
    ASSERT_EQ(t.run("set " + t.file + " " + who + " Surname 3"), 0);
    EXPECT_EQ(t.show(who, "Surname"), "");
}

TEST(TarvelTreeSet, BadInputIsRefusedWithoutChangingTheTree) {
    Tree t;
    const std::string who = "Gast03.PROJEKTE.UNTERRICHT";
    std::string out;
    EXPECT_EQ(t.run("set " + t.file + " " + who + " Surname 1 admin.UNTERRICHT", &out), 1) << "wrong syntax";
    EXPECT_NE(out.find("\"Surname\" hat die Syntax 3"), std::string::npos) << out;
    EXPECT_EQ(t.run("set " + t.file + " " + who + " 'Network Address' 12 '1|XYZ'", &out), 1);
    EXPECT_NE(out.find("\"XYZ\" sind keine Hex-Bytes"), std::string::npos) << out;
    EXPECT_EQ(t.run("set " + t.file + " " + who + " 'Network Address' 12 '00500A'", &out), 1);
    EXPECT_EQ(t.run("set " + t.file + " " + who + " 'Login Grace Limit' 8 zwölf", &out), 1);
    EXPECT_EQ(t.run("set " + t.file + " " + who + " Owner 1 nobody.UNTERRICHT", &out), 1);
    EXPECT_NE(out.find("-601"), std::string::npos) << out;
    EXPECT_EQ(t.run("set " + t.file + " " + who + " Surname 3 a a", &out), 1) << "duplicate values";
    EXPECT_EQ(t.run("set " + t.file + " " + who + " 'Given Name' 3 a b", &out), 1) << "single-valued";
    EXPECT_EQ(t.run("set " + t.file + " " + who + " 'Object Class' 20 Group", &out), 1);
    EXPECT_EQ(t.run("set " + t.file + " " + who + " 'Login Script' 21 @/no/such/file", &out), 1);
    EXPECT_EQ(t.run("set " + t.file + " " + who + " Surname", &out), 2);
    EXPECT_EQ(t.run("set " + t.file + " " + who + " Surname drei x", &out), 2);
    EXPECT_EQ(t.run("set " + t.file + " nobody.UNTERRICHT Surname 3 x", &out), 1);
    EXPECT_EQ(t.show(who, "Surname"), "Gast03\n") << "every refusal left the old value";
    EXPECT_EQ(t.show(who, "Owner"), "");
}

TEST(TarvelTreeCommands, UsageUnknownCommandsAndDamagedFiles) {
    TempDir dir;
    std::string out;
    EXPECT_EQ(runTreeTool("", &out), 2);
    EXPECT_NE(out.find("Aufruf: tarvel-tree BEFEHL ARGUMENTE\n"), std::string::npos);
    EXPECT_EQ(runTreeTool("frobnicate x", &out), 2);
    EXPECT_NE(out.find("tarvel-tree: unbekannter Befehl \"frobnicate\"\n"), std::string::npos);
    EXPECT_EQ(runTreeTool("init", &out), 2);
    EXPECT_EQ(runTreeTool("show " + dir.file("x.tree"), &out), 2);
    EXPECT_EQ(runTreeTool("members " + dir.file("missing.tree") + " G", &out), 1);
    EXPECT_NE(out.find("missing.tree: Datei nicht gefunden\n"), std::string::npos);
    testsupport::writeFile(dir.file("garbage.tree"), std::string(3000, 'G'));
    EXPECT_EQ(runTreeTool("show " + dir.file("garbage.tree") + " UNTERRICHT", &out), 1);
    EXPECT_NE(out.find("garbage.tree: keine Baumdatei oder nicht lesbar\n"), std::string::npos);
    EXPECT_EQ(runTreeTool("init --demo " + dir.path() + "/no/such/folder/x.tree", &out), 1);
    EXPECT_EQ(runTreeTool("generate " + dir.file("g.tree") + " --users -5 --containers 2", &out), 2);
    EXPECT_EQ(runTreeTool("generate " + dir.file("g.tree") + " --users 5 --containers 0", &out), 2);
    EXPECT_EQ(runTreeTool("generate " + dir.file("g.tree") + " --users 5 --containers 1 --members 6", &out), 1);
}

TEST(TarvelTreeCommands, AddShowAndNamesWithEscapedDots) {
    Tree t;
    std::string out;
    EXPECT_EQ(t.run("add " + t.file + " 'Dr\\. Weiß.LEHRER.UNTERRICHT' User", &out), 0) << out;
    // Names fold as the program's comparisons do: case, and ß against ss, make no difference.
    EXPECT_EQ(t.run("add " + t.file + " 'DR\\. WEIß.LEHRER.UNTERRICHT' User", &out), 1);
    EXPECT_NE(out.find("-606"), std::string::npos);
    EXPECT_EQ(t.run("add " + t.file + " 'dr\\. weiss.LEHRER.UNTERRICHT' User", &out), 1);
    EXPECT_EQ(t.run("add " + t.file + " 'Dr\\. Weis.LEHRER.UNTERRICHT' User", &out), 0);
    EXPECT_EQ(t.run("add " + t.file + " X.Gast01.PROJEKTE.UNTERRICHT User", &out), 1) << "below a leaf";
    EXPECT_EQ(t.run("add " + t.file + " X.NOWHERE.UNTERRICHT User", &out), 1);
    EXPECT_EQ(t.run("add " + t.file + " " + std::string(129, 'a') + ".UNTERRICHT User", &out), 1);
    EXPECT_EQ(t.run("show " + t.file + " 'DR\\. WEISS.lehrer.unterricht'", &out), 0);
    EXPECT_EQ(lines(out).at(0), "Dr\\. Weiß.LEHRER.UNTERRICHT");
    EXPECT_EQ(t.run("set " + t.file + " G_Lehrer.LEHRER.UNTERRICHT Member 1 'Dr\\. Weiß.LEHRER.UNTERRICHT'", &out), 0);
    EXPECT_EQ(t.run("members " + t.file + " G_Lehrer.LEHRER.UNTERRICHT", &out), 0);
    EXPECT_EQ(out, "Dr\\. Weiß.LEHRER.UNTERRICHT\n");
    EXPECT_EQ(t.run("show " + t.file + " Nobody.UNTERRICHT", &out), 1);
    EXPECT_NE(out.find("tarvel-tree: \"Nobody.UNTERRICHT\": Objekt nicht gefunden (-601)\n"), std::string::npos);
    EXPECT_EQ(t.run("show " + t.file + " admin.UNTERRICHT Nonsense", &out), 1);
    EXPECT_NE(out.find("tarvel-tree: unbekanntes Attribut \"Nonsense\"\n"), std::string::npos);
}

TEST(TarvelTreeGenerate, LargeTreesWithDenyMembers) {
    TempDir dir;
    std::string file = dir.file("big.tree");
    std::string out;
    ASSERT_EQ(runTreeTool("generate " + file + " --users 3001 --containers 3 --members 25", &out), 0) << out;
    ASSERT_EQ(runTreeTool("members " + file + " G_User_Internet_Deny.PROJEKTE.UNTERRICHT", &out), 0);
    std::vector<std::string> members = lines(out);
    ASSERT_EQ(members.size(), 25u);
    EXPECT_EQ(members[0], "U0000001.K00001.SCHUELER.UNTERRICHT");
    ASSERT_EQ(runTreeTool("show " + file + " U0000025.K00001.SCHUELER.UNTERRICHT 'Security Equals'", &out), 0);
    EXPECT_EQ(out, "G_User_Internet_Deny.PROJEKTE.UNTERRICHT\n");
    ASSERT_EQ(runTreeTool("show " + file + " U0000026.K00001.SCHUELER.UNTERRICHT 'Group Membership'", &out), 0);
    EXPECT_EQ(out, "");

    nw::NWCCODE status;
    auto b = nw::makeEmbeddedBackend(file, "admin.UNTERRICHT", status);
    ASSERT_TRUE(b);
    size_t total = 0;
    for (const char* k : {"K00001", "K00002", "K00003"}) {
        nw::ObjectId id;
        ASSERT_EQ(b->resolve({"UNTERRICHT", "SCHUELER", k}, id), 0);
        std::string full;
        nw::ObjectSummary s;
        ASSERT_EQ(b->describe(id, full, s), 0);
        EXPECT_GE(s.subordinateCount, 1000u);
        EXPECT_LE(s.subordinateCount, 1001u);
        total += s.subordinateCount;
    }
    EXPECT_EQ(total, 3001u);
    EXPECT_EQ(runTreeTool("generate " + file + " --users 1 --containers 1", &out), 1) << "never overwrites";
}

TEST(TarvelTreeVolumes, TrusteeRightsReachTheBackend) {
    Tree t;
    std::filesystem::create_directories(t.dir.file("home/klassen"));
    std::string out;
    ASSERT_EQ(t.run("volume " + t.file + " add HOME " + t.dir.file("home"), &out), 0) << out;
    EXPECT_EQ(t.run("volume " + t.file + " add HOME2 " + t.dir.file("nothing-there"), &out), 1);
    EXPECT_EQ(t.run("volume " + t.file + " add BAD:NAME " + t.dir.file("home"), &out), 1);
    EXPECT_EQ(t.run("volume " + t.file + " remove HOME", &out), 2);
    ASSERT_EQ(t.run("volume " + t.file + " list", &out), 0);
    EXPECT_NE(out.find("HOME\t" + t.dir.file("home")), std::string::npos) << out;

    ASSERT_EQ(t.run("trustee " + t.file + " HOME klassen lehrer2.LEHRER.UNTERRICHT RWF", &out), 0) << out;
    ASSERT_EQ(t.run("trustee " + t.file + " home klassen/5a lehrer2.LEHRER.UNTERRICHT rwecmf", &out), 0) << out;
    EXPECT_EQ(t.run("trustee " + t.file + " HOME klassen lehrer2.LEHRER.UNTERRICHT XYZ", &out), 1);
    EXPECT_EQ(t.run("trustee " + t.file + " NOVOL klassen lehrer2.LEHRER.UNTERRICHT R", &out), 1);
    EXPECT_EQ(t.run("trustee " + t.file + " HOME klassen nobody.LEHRER.UNTERRICHT R", &out), 1);

    nw::NWCCODE status;
    auto b = nw::makeEmbeddedBackend(t.file, "lehrer2.LEHRER.UNTERRICHT", status);
    ASSERT_TRUE(b);
    uint16_t rights = 0;
    ASSERT_EQ(b->effectiveRights("HOME", "KLASSEN\\x.ini", rights), 0u);
    EXPECT_EQ(rights, 0x043);
    ASSERT_EQ(b->effectiveRights("HOME", "klassen\\5A", rights), 0u);
    EXPECT_EQ(rights, 0x0DB);
    ASSERT_EQ(b->effectiveRights("HOME", "", rights), 0u);
    EXPECT_EQ(rights, 0);

    ASSERT_EQ(t.run("trustee " + t.file + " HOME klassen lehrer2.LEHRER.UNTERRICHT -", &out), 0);
    b = nw::makeEmbeddedBackend(t.file, "lehrer2.LEHRER.UNTERRICHT", status);
    ASSERT_EQ(b->effectiveRights("HOME", "KLASSEN\\x.ini", rights), 0u);
    EXPECT_EQ(rights, 0);
}

namespace {

// Files in a folder, to see that a refused import left nothing behind.
std::vector<std::string> filesIn(const std::string& folder) {
    std::vector<std::string> out;
    for (const auto& e : std::filesystem::directory_iterator(folder)) out.push_back(e.path().filename().string());
    std::sort(out.begin(), out.end());
    return out;
}

const std::string kBase = "o=schule,c=de";
const std::string kGood = "version: 1\n\ndn: o=UNTERRICHT,o=schule,c=de\nobjectClass: organization\no: UNTERRICHT\n\n"
                          "dn: cn=Gast01,o=UNTERRICHT,o=schule,c=de\nobjectClass: inetOrgPerson\ncn: Gast01\nsn: G\n\n";

}  // namespace

TEST(TarvelTreeImport, BadEntriesAreRefusedWithTheirLineAndLeaveNoTreeFile) {
    // Each case follows the two good entries (lines 1 to 11); the fault is on the line given.
    struct Case {
        const char* what;
        std::string ldif;
        int line;
    };
    const Case cases[] = {
        {"empty name", "dn: cn=,o=UNTERRICHT,o=schule,c=de\nobjectClass: inetOrgPerson\n", 12},
        {"NUL in a name", "dn: cn=Evil\\00X,o=UNTERRICHT,o=schule,c=de\nobjectClass: inetOrgPerson\n", 12},
        {"LF in a name", "# a comment\ndn:: Y249YQpiLG89VU5URVJSSUNIVCxvPXNjaHVsZSxjPWRl\nobjectClass: inetOrgPerson\n", 13},
        {"CR in a name", "dn: cn=a\\0Db,o=UNTERRICHT,o=schule,c=de\nobjectClass: inetOrgPerson\n", 12},
        {"value from a file", "dn: cn=x,o=UNTERRICHT,o=schule,c=de\nobjectClass: inetOrgPerson\ndescription:< file:///etc/passwd\n", 14},
        {"include", "include: file:///etc/passwd\n", 12},
        {"bad base64", "dn: cn=x,o=UNTERRICHT,o=schule,c=de\nsn:: !!!!\n", 13},
        {"no colon", "dn: cn=x,o=UNTERRICHT,o=schule,c=de\nobjectClass organization\n", 13},
        {"a delete", "dn: cn=x,o=UNTERRICHT,o=schule,c=de\nchangetype: delete\n", 13},
        {"no dn", "objectClass: organization\n", 12},
        {"bad DN", "dn: cn=x,,o=schule\nobjectClass: organization\n", 12},
        {"no parent", "dn: cn=x,ou=NOWHERE,o=UNTERRICHT,o=schule,c=de\nobjectClass: inetOrgPerson\nsn: x\n", 12},
    };
    for (const Case& c : cases) {
        TempDir dir;
        testsupport::writeFile(dir.file("in.ldif"), kGood + c.ldif);
        std::string out;
        EXPECT_EQ(runTreeTool("import --ldif " + dir.file("in.ldif") + " " + dir.file("t.tree") + " --base " + kBase, &out),
                  1)
            << c.what;
        EXPECT_NE(out.find("Zeile " + std::to_string(c.line) + ":"), std::string::npos) << c.what << ": " << out;
        EXPECT_EQ(filesIn(dir.path()), std::vector<std::string>{"in.ldif"}) << c.what;
    }
    // The good part alone imports.
    TempDir dir;
    testsupport::writeFile(dir.file("in.ldif"), kGood);
    std::string out;
    ASSERT_EQ(runTreeTool("import --ldif " + dir.file("in.ldif") + " " + dir.file("t.tree") + " --base " + kBase, &out), 0)
        << out;
    EXPECT_EQ(filesIn(dir.path()), (std::vector<std::string>{"in.ldif", "t.tree"}));
}

TEST(TarvelTreeImport, FullNameComesFromEitherServersNameAndLeavesAsTheBackendReadsIt) {
    TempDir dir;
    // eDirectory calls it fullName, OpenLDAP displayName; the backend reads either.
    testsupport::writeFile(dir.file("in.ldif"),
                           kGood + "dn: cn=A,o=UNTERRICHT,o=schule,c=de\nobjectClass: inetOrgPerson\nsn: A\n"
                                   "fullName: Anna Alt\n\n"
                                   "dn: cn=B,o=UNTERRICHT,o=schule,c=de\nobjectClass: inetOrgPerson\nsn: B\n"
                                   "displayName:: QmVybmQgQsO2aG0=\n\n");
    std::string out;
    ASSERT_EQ(runTreeTool("import --ldif " + dir.file("in.ldif") + " " + dir.file("t.tree") + " --base " + kBase, &out), 0)
        << out;
    ASSERT_EQ(runTreeTool("show " + dir.file("t.tree") + " A.UNTERRICHT 'Full Name'", &out), 0);
    EXPECT_EQ(out, "Anna Alt\n");
    ASSERT_EQ(runTreeTool("show " + dir.file("t.tree") + " B.UNTERRICHT 'Full Name'", &out), 0);
    EXPECT_EQ(out, "Bernd Böhm\n");
    ASSERT_EQ(runTreeTool("export --ldif " + dir.file("out.ldif") + " " + dir.file("t.tree") + " --base " + kBase, &out), 0)
        << out;
    const std::string exported = testsupport::readFile(dir.file("out.ldif"));
    EXPECT_NE(exported.find("displayName: Anna Alt\n"), std::string::npos) << exported;
    EXPECT_NE(exported.find("displayName:: QmVybmQgQsO2aG0=\n"), std::string::npos) << exported;
}

// The tree's names ignore case and have one value: two entries for one name and multi-valued RDNs
// are refused with their DN; entries that are not imported are counted, as are values left out.
TEST(TarvelTreeImport, OneEntryPerTreeNameAndEverySkippedEntryCounted) {
    const std::string u = ",o=UNTERRICHT,o=schule,c=de\n";
    struct Case {
        std::string ldif;
        int status;
        std::string said;
    } const cases[] = {
        {"dn: cn=GAST01" + u, 1, "Zeile 12: dn: cn=GAST01" + u.substr(0, u.size() - 1) + " benennt dasselbe Objekt wie Zeile 7: dn: cn=Gast01"},
        {"dn: ou=gast01" + u, 1, "Zeile 12: dn: ou=gast01"},
        {"dn: cn=\xC3\x84rger" + u + "\ndn: cn=\xC3\xA4rger" + u, 1, "Zeile 14: dn: cn=\xC3\xA4rger"},
        {"dn: cn=a+sn=b" + u, 1, "Zeile 12: ein mehrwertiger RDN ist kein Name im Baum: dn: cn=a+sn=b" + u.substr(0, u.size() - 1)},
        {"dn: cn=a\\+b" + u, 0, "3 Objekte aus "},
        {"dn: c=de\n\ndn: o=schule,c=de\n\ndn: cn=x,o=andere,c=de\n\ndn:\n\ndn: cn=y,o=schule+l=x,c=de\n", 0,
         "; 4 Einträge nicht unter o=schule,c=de übergangen (der erste in Zeile 12); 1 Eintrag mit leerem dn: übergangen (Zeile 18)"},
        {"dn: cn=G" + u + "objectClass: groupOfNames\nmember: cn=Gast01+sn=G" + u, 0, "; 1 Werte ausgelassen"},
    };
    for (const Case& c : cases) {
        TempDir dir;
        testsupport::writeFile(dir.file("in.ldif"), kGood + c.ldif);
        const std::string import = "import --ldif " + dir.file("in.ldif") + " " + dir.file("t.tree") + " --base " + kBase;
        std::string out;
        EXPECT_EQ(runTreeTool(import, &out), c.status) << c.ldif << out;
        EXPECT_NE(out.find(c.said), std::string::npos) << c.ldif << out;
        EXPECT_EQ(filesIn(dir.path()).size(), c.status ? 1u : 2u) << c.ldif;
        if (c.status) continue;
        ASSERT_EQ(runTreeTool(import, &out), 0) << out;  // again, into the tree it made
        EXPECT_NE(out.find("0 Objekte aus " + dir.file("in.ldif") + " hinzugefügt; "), std::string::npos) << out;
        EXPECT_NE(out.find("Einträge mit Objekten zusammengeführt, die der Baum schon hatte"), std::string::npos) << out;
    }
}
