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
    EXPECT_NE(out.find("Zeile 2:"), std::string::npos) << out;
    testsupport::writeFile(dir.file("mod.ldif"), "dn: o=X," + std::string(BASE) + "\nchangetype: delete\n");
    EXPECT_NE(testsupport::runTreeTool("import --ldif " + dir.file("mod.ldif") + " " + dir.file("t.tree") +
                                           " --base " + BASE,
                                       &out),
              0);
}

namespace {

// Definitions "( oid NAME ... )" with runs of white space made one blank.
std::vector<std::string> definitions(const std::string& text, const std::string& keyword) {
    std::vector<std::string> out;
    size_t pos = 0;
    while ((pos = text.find(keyword, pos)) != std::string::npos) {
        size_t open = text.find('(', pos);
        int depth = 0;
        size_t end = open;
        for (; end < text.size(); ++end) {
            if (text[end] == '(') ++depth;
            if (text[end] == ')' && --depth == 0) break;
        }
        std::string def;
        for (size_t i = open; i <= end && i < text.size(); ++i) {
            char c = text[i] == '\n' || text[i] == '\t' ? ' ' : text[i];
            if (c == ' ' && !def.empty() && def.back() == ' ') continue;
            def += c;
        }
        out.push_back(def);
        pos = end;
    }
    std::sort(out.begin(), out.end());
    return out;
}

}  // namespace

TEST(SchemaFiles, TheLdifLoadsIntoCnConfigAndSaysWhatTheSchemaFileSays) {
    testsupport::TempDir dir;
    const std::string source = TARVEL_SOURCE_DIR;
    std::string config = "dn: cn=config\nobjectClass: olcGlobal\ncn: config\n\n"
                         "dn: cn=schema,cn=config\nobjectClass: olcSchemaConfig\ncn: schema\n\n";
    for (const std::string& file : {std::string("/etc/ldap/schema/core.ldif"), std::string("/etc/ldap/schema/cosine.ldif"),
                                    std::string("/etc/ldap/schema/inetorgperson.ldif"), source + "/schema/tarvel.ldif"})
        config += "include: file://" + file + "\n\n";
    testsupport::writeFile(dir.file("config.ldif"), config);
    ASSERT_EQ(run("mkdir -p " + dir.file("d") + " && slapadd -n0 -F " + dir.file("d") + " -l " + dir.file("config.ldif")), 0);
    std::string loaded;
    ASSERT_EQ(run("slapcat -n0 -F " + dir.file("d") + " -o ldif-wrap=no -a '(cn=*tarvel)'", &loaded), 0);
    // slapd numbers the values it keeps: "{0}( ..."; without the numbers both files say the same.
    for (char digit = '0'; digit <= '9'; ++digit) {
        std::string tag = std::string("{") + digit + "}";
        for (size_t p; (p = loaded.find(tag)) != std::string::npos;) loaded.erase(p, 3);
    }
    std::string schema = testsupport::readFile(source + "/schema/tarvel.schema");
    std::vector<std::string> types = definitions(schema, "\nattributetype");
    std::vector<std::string> classes = definitions(schema, "\nobjectclass");
    EXPECT_EQ(types.size(), 3u);
    EXPECT_EQ(classes.size(), 5u);
    EXPECT_EQ(definitions(loaded, "olcAttributeTypes:"), types);
    EXPECT_EQ(definitions(loaded, "olcObjectClasses:"), classes);
}
