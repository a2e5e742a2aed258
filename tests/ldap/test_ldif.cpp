// tarvel-tree export --ldif and import --ldif: the demo school moves to slapd and back.
#include "nwclient/ldap/ldap_backend.h"
#include "slapd_fixture.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace ldaptest;

namespace {

std::string tool(const std::string& arguments) {
    std::string out;
    int rc = testsupport::runTreeTool(arguments, &out);
    EXPECT_EQ(rc, 0) << arguments << "\n" << out;
    return out;
}

}  // namespace

TEST(LdifExport, TheDemoSchoolLoadsIntoSlapdAndKeepsItsMemberships) {
    testsupport::TempDir dir;
    tool("init --demo " + dir.file("demo.tree"));
    tool("export --ldif " + dir.file("demo.ldif") + " " + dir.file("demo.tree") + " --base " + BASE);
    Slapd server(dir.file("demo.ldif"));

    // Every user in the deny group holds it in all three places.
    const std::string deny = dnOf(DENY_GROUP);
    std::vector<std::string> members = server.values(deny, "member");
    ASSERT_GE(members.size(), 2u);
    std::vector<std::string> equivalent = server.values(deny, "equivalentToMe");
    std::sort(members.begin(), members.end());
    std::sort(equivalent.begin(), equivalent.end());
    EXPECT_EQ(members, equivalent);
    auto holds = [](const std::vector<std::string>& list, const std::string& v) {
        return std::find(list.begin(), list.end(), v) != list.end();
    };
    for (const std::string& m : members) {
        EXPECT_TRUE(holds(server.values(m, "groupMembership"), deny)) << m;
        EXPECT_TRUE(holds(server.values(m, "securityEquals"), deny)) << m;
    }
    // Empty containers travel too.
    EXPECT_EQ(server.values(std::string("ou=ARCHIV,o=UNTERRICHT,") + BASE, "ou"), std::vector<std::string>{"ARCHIV"});
}

TEST(LdifImport, WhatSlapdHoldsComesBackAsATree) {
    testsupport::TempDir dir;
    tool("init --demo " + dir.file("demo.tree"));
    tool("export --ldif " + dir.file("demo.ldif") + " " + dir.file("demo.tree") + " --base " + BASE);
    Slapd server(dir.file("demo.ldif"));
    // What the server gives out (operational attributes, base64, folding) is read back.
    std::string dump = server.search(BASE, "sub", "(objectClass=*)", "'*' '+'");
    std::string ldif = dir.file("dump.ldif");
    testsupport::writeFile(ldif, dump);
    tool("import --ldif " + ldif + " " + dir.file("back.tree") + " --base " + BASE + " --admin admin.UNTERRICHT");

    for (const char* name : {"G_User_Internet_Deny.PROJEKTE.UNTERRICHT", "Gast01.PROJEKTE.UNTERRICHT",
                             "admin.UNTERRICHT", "KLASSE5A.SCHUELER.UNTERRICHT"}) {
        for (const char* attribute : {"Member", "Group Membership", "Security Equals", "Equivalent To Me",
                                      "Description", "Surname", "Given Name"}) {
            std::string before, after;
            testsupport::runTreeTool("show " + dir.file("demo.tree") + " " + name + " '" + attribute + "'", &before);
            testsupport::runTreeTool("show " + dir.file("back.tree") + " " + name + " '" + attribute + "'", &after);
            EXPECT_EQ(after, before) << name << " " << attribute;
        }
        std::string shown = tool("show " + dir.file("back.tree") + " " + name);
        std::string original = tool("show " + dir.file("demo.tree") + " " + name);
        EXPECT_EQ(shown.substr(0, shown.find('\n', shown.find('\n') + 1)),
                  original.substr(0, original.find('\n', original.find('\n') + 1)))
            << "name and base class of " << name;
    }
}

TEST(LdifImport, BrokenFilesAreRefusedWithTheLine) {
    testsupport::TempDir dir;
    testsupport::writeFile(dir.file("bad.ldif"), "dn: o=X," + std::string(BASE) + "\nobjectClass organization\n");
    std::string out;
    EXPECT_NE(testsupport::runTreeTool("import --ldif " + dir.file("bad.ldif") + " " + dir.file("t.tree") +
                                           " --base " + BASE,
                                       &out),
              0);
    EXPECT_NE(out.find("line 2"), std::string::npos) << out;
    testsupport::writeFile(dir.file("mod.ldif"), "dn: o=X," + std::string(BASE) + "\nchangetype: delete\n");
    EXPECT_NE(testsupport::runTreeTool("import --ldif " + dir.file("mod.ldif") + " " + dir.file("t.tree") +
                                           " --base " + BASE,
                                       &out),
              0);
}
