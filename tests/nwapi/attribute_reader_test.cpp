// The generic attribute reader over stored values.
#include "layer_fixture.h"

#include <regex>

using namespace nwapi;
using testsupport::LayerTest;

namespace {

struct PinnedLocale {
    explicit PinnedLocale(const std::string& name) { text::setLocaleForTesting(name); }
    ~PinnedLocale() { text::setLocaleForTesting(""); }
};

}  // namespace

class AttributeReader : public LayerTest {
protected:
    NameList read(const std::string& object, const std::string& attribute, bool expectOk = true) {
        NameList list;
        EXPECT_EQ(GetAttributeMultiValueStringList(layer().context, object, attribute, list), expectOk)
            << object << " " << attribute;
        return list;
    }
    void set(const std::string& args) {
        std::string out;
        ASSERT_EQ(testsupport::runTreeTool("set " + treeFile + " " + args, &out), 0) << out;
    }
};
BOTH_BACKENDS(AttributeReader);

TEST_P(AttributeReader, EachSyntaxAsText) {
    PinnedLocale german("de_DE");
    if (onLdap()) {
        // LDAP has no syntax for network addresses, paths, intervals, streams, replicas or ACLs
        // (the export leaves those values out), and the test server's schema no boolean or integer
        // attribute a user may hold: the syntaxes it does have, written as another tool would.
        startDemo();
        const std::string adminDn = ldaptest::dnOf("admin.UNTERRICHT");
        ASSERT_TRUE(server->modify("dn: " + adminDn + "\nchangetype: modify\nadd: mail\nmail: admin@schule.example\n-\n"
                                   "add: telephoneNumber\ntelephoneNumber: +49 30 1234568\n-\n"
                                   "add: x121Address\nx121Address: 4930123\n-\n"
                                   "add: jpegPhoto\njpegPhoto:: MIIBCgKCAQEAxA==\n-\n"
                                   "add: seeAlso\nseeAlso: " + ldaptest::dnOf("lehrer1.LEHRER.UNTERRICHT") + "\n"));
        connect(false, "admin.UNTERRICHT");
        const std::string admin = "admin.UNTERRICHT";
        EXPECT_EQ(read(admin, "Description"), NameList{"Verwaltet das Schulnetz"});  // directory string
        EXPECT_EQ(read(admin, "Internet EMail Address"), NameList{"admin@schule.example"});  // IA5
        EXPECT_EQ(read(admin, "Telephone Number"), NameList{"+49 30 1234568"});
        EXPECT_EQ(read(admin, "X121 Address"), NameList{"4930123"});  // numeric string
        EXPECT_EQ(read(admin, "Jpeg Photo"), NameList{"3082010A0282010100C4"});  // octets as hex
        EXPECT_EQ(read(admin, "See Also"), NameList{"lehrer1.LEHRER.UNTERRICHT"});  // DN as a typeless name
        EXPECT_EQ(read("Drucker-R101.SCHUELER.UNTERRICHT", "Serial Number"), NameList{"PRN-0815"});  // printable
        EXPECT_EQ(read(admin, "Object Class"), NameList{"User"});  // the class under its base-class name
        // The entry's creation time, in the operator's form (the server set it a moment ago).
        NameList created = read(admin, "Create Timestamp");
        ASSERT_EQ(created.size(), 1u);
        EXPECT_TRUE(std::regex_match(created[0], std::regex(R"(\d\d\.\d\d\.20\d\d \d\d:\d\d:\d\d)"))) << created[0];
        EXPECT_TRUE(ports.box.boxes.empty()) << boxTexts().front();
        return;
    }
    connectDemo();
    const std::string admin = "admin.UNTERRICHT";
    EXPECT_EQ(read(admin, "Network Address"), (NameList{"(0) [00000001:001B210A0B0C]", "(1) [10.1.2.3:80]"}));
    EXPECT_EQ(read(admin, "Language"), NameList{"DEUTSCH\r\nENGLISH\r\nFRANCAIS"});
    EXPECT_EQ(read(admin, "Home Directory"), NameList{"(Long) DATA: HOME\\admin"});
    EXPECT_EQ(read(admin, "Login Disabled"), NameList{"FALSE"});
    EXPECT_EQ(read(admin, "Login Grace Limit"), NameList{"6"});
    EXPECT_EQ(read(admin, "Password Expiration Interval"), NameList{"90 days, "});
    EXPECT_EQ(read(admin, "Login Time"), NameList{"06.12.2025 05:30:00"});
    EXPECT_EQ(read(admin, "EMail Address"), NameList{"admin@schule.example"});
    EXPECT_EQ(read(admin, "Facsimile Telephone Number"), NameList{"+49 30 1234568"});
    EXPECT_EQ(read(admin, "Public Key"), NameList{"3082010A0282010100C4"});
    EXPECT_EQ(read(admin, "Login Script"), NameList{"REM Administrator\r\nMAP ROOT X:=SCHULSERVER/DATA:\r\n"});
    EXPECT_EQ(read("UNTERRICHT", "Login Intruder Reset Interval"), NameList{"1 days, 1 h, 1 min, 1 sec"});
    EXPECT_EQ(read("UNTERRICHT", "Replica"), NameList{"SCHULSERVER [Type: 0] [Nr: 1]"});
    EXPECT_EQ(read("SCHULSERVER.UNTERRICHT", "Server Holds"), NameList{"admin.UNTERRICHT (25)"});
    EXPECT_EQ(read("SCHULSERVER_DATA.UNTERRICHT", "Back Link"), NameList{"SCHULSERVER.UNTERRICHT"});
    EXPECT_EQ(read(testsupport::kDeny, "ACL"), NameList{"lehrer1.LEHRER.UNTERRICHT [Member: 00000007]"});
    EXPECT_TRUE(ports.box.boxes.empty());
}

TEST_F(AttributeReader, EmptyTextsAddNoEntryAndTimeZeroIsTheDateAlone) {
    PinnedLocale german("de_DE");
    testsupport::useDemoTree(dir);
    treeFile = dir.file("school.tree");
    set("admin.UNTERRICHT Description 3 '' 'zwei'");
    set("admin.UNTERRICHT 'Login Time' 24 0");
    set("admin.UNTERRICHT 'Login Disabled' 7 1");
    set("admin.UNTERRICHT 'Login Intruder Reset Interval' 27 -5");
    connect(false, "admin.UNTERRICHT");
    EXPECT_EQ(read("admin.UNTERRICHT", "Description"), NameList{"zwei"});
    EXPECT_EQ(read("admin.UNTERRICHT", "Login Time"), NameList{"01.01.1970"});
    EXPECT_EQ(read("admin.UNTERRICHT", "Login Disabled"), NameList{"TRUE"});
    EXPECT_TRUE(read("admin.UNTERRICHT", "Login Intruder Reset Interval").empty());
}

TEST_F(AttributeReader, LongStreamIsCutAtTheReadLimitAndAtAZeroByte) {
    testsupport::useDemoTree(dir);
    treeFile = dir.file("school.tree");
    std::string big;
    for (int i = 0; i < 70000; ++i) big += char('a' + i % 26);
    testsupport::writeFile(dir.file("big.txt"), big);
    testsupport::writeFile(dir.file("zero.txt"), std::string("vorher\0nachher", 14));
    set("admin.UNTERRICHT 'Login Script' 21 @" + dir.file("big.txt"));
    set("UNTERRICHT 'Login Script' 21 @" + dir.file("zero.txt"));
    connect(false, "admin.UNTERRICHT");
    NameList script = read("admin.UNTERRICHT", "Login Script");
    ASSERT_EQ(script.size(), 1u);
    EXPECT_EQ(script[0], big.substr(0, 64512));
    EXPECT_EQ(read("UNTERRICHT", "Login Script"), NameList{"vorher"});
}

TEST_P(AttributeReader, MissingAttributeIsSuccessWithoutValues) {
    connectDemo();
    NameList list{"kept"};
    EXPECT_TRUE(GetAttributeMultiValueStringList(layer().context, "G_Schueler.SCHUELER.UNTERRICHT", "Member", list));
    EXPECT_EQ(list, NameList{"kept"});
    EXPECT_EQ(std::abs(GetLastNDSError()), 603);
    EXPECT_TRUE(ports.box.boxes.empty());
}

TEST_P(AttributeReader, ValuesOverSeveralRepliesKeepDeliveryOrder) {
    connectGenerated(900, 3, 900);
    NameList members = read(testsupport::kDeny, "Member");
    ASSERT_EQ(members.size(), 900u);
    for (int i = 0; i < 900; ++i) {
        char expected[64];
        std::snprintf(expected, sizeof expected, "U%07d.K%05d.SCHUELER.UNTERRICHT", i + 1, i / 300 + 1);
        ASSERT_EQ(members[size_t(i)], expected);
    }
    EXPECT_TRUE(ports.box.boxes.empty());
}

TEST_P(AttributeReader, FailedReadIsReportedWithTheAttributeName) {
    connectDemo(true);
    faults->failNth(nw::FaultBackend::Call::ReadAttribute, 1, nw::ERR_NO_ACCESS);
    NameList list = read(testsupport::kDeny, "Member", false);
    EXPECT_TRUE(list.empty());
    ASSERT_EQ(ports.box.boxes.size(), 1u);
    EXPECT_EQ(ports.box.boxes[0].caption, "NDS-Fehler");
    EXPECT_EQ(ports.box.boxes[0].text, "Fehler -672. GetAttributeMultiValueStringList (Member)");
    EXPECT_EQ(GetLastNDSError(), -672);

    read("NIRGENDS.UNTERRICHT", "Member", false);
    ASSERT_EQ(ports.box.boxes.size(), 2u);
    EXPECT_EQ(ports.box.boxes[1].text, "Fehler -601. GetAttributeMultiValueStringList (Member)");
}

TEST_F(AttributeReader, StreamThatCannotBeOpenedAddsNothingAndIsReported) {
    connectDemo(true);
    faults->failNth(nw::FaultBackend::Call::ReadStream, 1, nw::ERR_NO_ACCESS);
    NameList list = read("admin.UNTERRICHT", "Login Script", false);
    EXPECT_TRUE(list.empty());
    ASSERT_EQ(ports.box.boxes.size(), 1u);
    EXPECT_EQ(ports.box.boxes[0].text, "Fehler -672. GetAttributeMultiValueStringList (Login Script)");

    std::string text = "old";
    faults->failNth(nw::FaultBackend::Call::ReadStream, 2, nw::ERR_NO_SUCH_ENTRY);
    EXPECT_EQ(ReadStreamAttribute(layer().context, "admin.UNTERRICHT", "Login Script", text), nw::ERR_NO_SUCH_ENTRY);
    EXPECT_EQ(text, "");
}
