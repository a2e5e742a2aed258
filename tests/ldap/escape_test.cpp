// Escaping between typeless names, DNs and filters, and the translation tables: pure functions.
#include "nwclient/ldap/ldap_escape.h"
#include "nwclient/ldap/ldap_map.h"

#include "platform/text.h"

#include <gtest/gtest.h>
#include <ldap.h>

#include <random>

using namespace nw;
using namespace nw::ldap;

namespace {

std::vector<std::string> v(std::initializer_list<const char*> items) { return {items.begin(), items.end()}; }

}  // namespace

TEST(TypelessNames, SplitHonoursEscapedDotsAndBackslashes) {
    EXPECT_EQ(splitTypelessName("Gast01.PROJEKTE.UNTERRICHT"), v({"Gast01", "PROJEKTE", "UNTERRICHT"}));
    EXPECT_EQ(splitTypelessName("Herr\\.Meier.PROJEKTE"), v({"Herr.Meier", "PROJEKTE"}));
    EXPECT_EQ(splitTypelessName("a\\\\.b"), v({"a\\", "b"}));
    EXPECT_EQ(splitTypelessName("trailing\\"), v({"trailing\\"}));
    // A backslash before anything but a dot or a backslash is an ordinary character, as the
    // client reads it; the backends must read names the same way.
    EXPECT_EQ(splitTypelessName("a\\b.c"), v({"a\\b", "c"}));
}

TEST(TypelessNames, JoinIsTheInverseOfSplit) {
    for (const auto& parts : {v({"Herr.Meier", "PROJEKTE"}), v({"a\\", "b.c", "d"}), v({"*)(cn=*", "X"})}) {
        std::string joined = joinTypelessName(parts);
        EXPECT_EQ(splitTypelessName(joined), parts) << joined;
    }
    EXPECT_EQ(joinTypelessName(v({"Herr.Meier", "PROJEKTE"})), "Herr\\.Meier.PROJEKTE");
}

TEST(DnEscaping, SpecialsLeadingAndTrailingCharacters) {
    EXPECT_EQ(escapeDnValue("Müller, Hans"), "Müller\\, Hans");
    EXPECT_EQ(escapeDnValue("a+b=c"), "a\\+b\\=c");
    EXPECT_EQ(escapeDnValue("\"q\";<x>"), "\\\"q\\\"\\;\\<x\\>");
    EXPECT_EQ(escapeDnValue("#1"), "\\#1");
    EXPECT_EQ(escapeDnValue("a#1"), "a#1");
    EXPECT_EQ(escapeDnValue(" lead and trail "), "\\ lead and trail\\ ");
    EXPECT_EQ(escapeDnValue("back\\slash"), "back\\\\slash");
    EXPECT_EQ(escapeDnValue(std::string("nul\0x", 5)), "nul\\00x");
    EXPECT_EQ(escapeDnValue("tab\t"), "tab\\09");
    // Dots need no escape in a DN: they separate components only in typeless names.
    EXPECT_EQ(escapeDnValue("Herr.Meier"), "Herr.Meier");
}

TEST(DnEscaping, UnescapeAcceptsBothFormsAndRefusesBrokenOnes) {
    std::string value;
    ASSERT_TRUE(unescapeDnValue("M\\C3\\BCller\\2C Hans", value));
    EXPECT_EQ(value, "Müller, Hans");
    ASSERT_TRUE(unescapeDnValue("\\#1 \\+ x", value));
    EXPECT_EQ(value, "#1 + x");
    ASSERT_TRUE(unescapeDnValue("#04024869", value));  // BER octet string "Hi"
    EXPECT_EQ(value, "Hi");
    EXPECT_FALSE(unescapeDnValue("broken\\", value));
    EXPECT_FALSE(unescapeDnValue("half\\4", value));
    EXPECT_FALSE(unescapeDnValue("#0402486", value));
}

TEST(DnEscaping, EveryOddValueSurvivesTheRoundTripThroughADn) {
    const std::vector<std::string> values = {"*)(cn=*",  "Herr.Meier", "Müller, Hans", "#1 + \"Zwei\"",
                                             "Back\\slash", " x ",       "a;b<c>d",      std::string("n\0l", 3)};
    for (const std::string& value : values) {
        std::string dn = childDn("cn", value, "ou=PROJEKTE,o=UNTERRICHT");
        std::vector<Rdn> rdns;
        ASSERT_TRUE(parseDn(dn, rdns)) << dn;
        ASSERT_EQ(rdns.size(), 3u) << dn;
        EXPECT_EQ(rdns[0].value, value) << dn;
        EXPECT_EQ(rdns[1].value, "PROJEKTE");
        // libldap reads our DN the same way.
        LDAPDN parsed = nullptr;
        ASSERT_EQ(ldap_str2dn(dn.c_str(), &parsed, LDAP_DN_FORMAT_LDAPV3), LDAP_SUCCESS) << dn;
        std::string first(parsed[0][0]->la_value.bv_val, parsed[0][0]->la_value.bv_len);
        ldap_dnfree(parsed);
        EXPECT_EQ(first, value) << dn;
    }
}

TEST(DnParsing, MultiValuedSpacesAndMalformedDns) {
    std::vector<Rdn> rdns;
    ASSERT_TRUE(parseDn("cn=a+uid=b, ou = X ,o=Y", rdns));
    ASSERT_EQ(rdns.size(), 3u);
    EXPECT_EQ(rdns[0].type, "cn");
    EXPECT_EQ(rdns[0].value, "a");
    EXPECT_EQ(rdns[1].type, "ou");
    EXPECT_EQ(rdns[1].value, "X");
    ASSERT_TRUE(parseDn("", rdns));
    EXPECT_TRUE(rdns.empty());
    EXPECT_FALSE(parseDn("cn=a,novalue", rdns));
    EXPECT_FALSE(parseDn("=a", rdns));
    // An escaped trailing space belongs to the value.
    ASSERT_TRUE(parseDn("cn=x\\ ,o=Y", rdns));
    EXPECT_EQ(rdns[0].value, "x ");
}

TEST(DnParsing, KeysIgnoreCaseSpacesAndEscapingStyle) {
    EXPECT_EQ(dnKey("CN=Gast01, OU=PROJEKTE,O=Unterricht"), dnKey("cn=gast01,ou=projekte,o=UNTERRICHT"));
    EXPECT_EQ(dnKey("cn=M\\C3\\BCller\\2C Hans,o=X"), dnKey("cn=Müller\\, Hans,o=X"));
    EXPECT_NE(dnKey("cn=a,o=X"), dnKey("cn=b,o=X"));
    // Keyed as written or after parsing, a DN gives one key, whatever characters it holds.
    auto parsedKey = [](const std::string& dn) {
        std::vector<Rdn> rdns;
        return parseDn(dn, rdns) ? dnKey(rdns) : text::toLowerAscii(dn);
    };
    std::mt19937 random(7);
    const std::string alphabet = "aZ=,= ,\\+#;\"<>\x01ü5";
    for (int i = 0; i < 20000; ++i) {
        std::string dn;
        for (size_t n = random() % 12; n > 0; --n) dn += alphabet[random() % alphabet.size()];
        ASSERT_EQ(dnKey(dn), parsedKey(dn)) << dn;
    }
}

TEST(FilterEscaping, AValueCannotWidenTheFilter) {
    EXPECT_EQ(escapeFilterValue("*)(cn=*"), "\\2a\\29\\28cn=\\2a");
    EXPECT_EQ(escapeFilterValue("a\\b"), "a\\5cb");
    EXPECT_EQ(escapeFilterValue(std::string("n\0l", 3)), "n\\00l");
    EXPECT_EQ(escapeFilterValue("Müller, Hans"), "Müller, Hans");
    EXPECT_EQ(equalityFilter("cn", "*"), "(cn=\\2a)");
}

TEST(ClassMapping, BuiltInTableSiteTableAndUnknownClasses) {
    NameMap map;
    EXPECT_EQ(map.baseClass("inetOrgPerson", {"top", "person", "organizationalPerson", "inetOrgPerson"}), "User");
    EXPECT_EQ(map.baseClass("organizationalUnit", {"organizationalUnit"}), "Organizational Unit");
    EXPECT_EQ(map.baseClass("", {"top", "tarvelGroup"}), "Group");
    EXPECT_EQ(map.baseClass("", {"top", "inetOrgPerson", "tarvelMembership"}), "User");
    EXPECT_EQ(map.baseClass("applicationProcess", {"top", "applicationProcess"}), "applicationProcess");
    EXPECT_TRUE(map.isContainerClass("Organizational Unit"));
    EXPECT_FALSE(map.isContainerClass("User"));

    map.configure({{"class.posixgroup", "Group"}, {"class.inetorgperson", "Person"}, {"tree", "ldap://x"}});
    EXPECT_EQ(map.baseClass("posixGroup", {"posixGroup"}), "Group");
    EXPECT_EQ(map.baseClass("inetOrgPerson", {"inetOrgPerson"}), "Person");
    std::vector<std::string> groups = map.ldapClasses("group");
    EXPECT_NE(std::find(groups.begin(), groups.end(), "posixgroup"), groups.end());
    EXPECT_NE(std::find(groups.begin(), groups.end(), "tarvelgroup"), groups.end());
    EXPECT_EQ(map.ldapClasses("Queue"), v({"Queue"}));
}

TEST(AttributeMapping, TableThenEDirectoryRule) {
    NameMap map;
    EXPECT_EQ(map.ldapAttribute("Member"), "member");
    EXPECT_EQ(map.ldapAttribute("Group Membership"), "groupMembership");
    EXPECT_EQ(map.ldapAttribute("security equals"), "securityEquals");
    EXPECT_EQ(map.ldapAttribute("Equivalent To Me"), "equivalentToMe");
    EXPECT_EQ(map.ldapAttribute("Object Class"), "objectClass");
    EXPECT_EQ(map.ldapAttribute("Login Disabled"), "loginDisabled");
    EXPECT_EQ(map.ldapAttribute("Description"), "description");
    EXPECT_EQ(map.ldapAttribute("CN"), "cn");
    map.configure({{"attribute.login disabled", "nsAccountLock"}});
    EXPECT_EQ(map.ldapAttribute("Login Disabled"), "nsAccountLock");
}

TEST(AttributeMapping, BuiltInNamesTheServerLacksFallBackUnlessTheSiteChose) {
    auto openLdap = [](const std::string& name) { return name == "displayName" || name == "cn"; };
    auto eDirectory = [](const std::string& name) { return name == "displayName" || name == "fullName"; };

    NameMap onOpenLdap;
    onOpenLdap.adaptToSchema(openLdap);
    EXPECT_EQ(onOpenLdap.ldapAttribute("Full Name"), "displayName");

    NameMap onEDirectory;
    onEDirectory.adaptToSchema(eDirectory);
    EXPECT_EQ(onEDirectory.ldapAttribute("Full Name"), "fullName");

    NameMap configured;
    configured.configure({{"attribute.full name", "gecos"}});
    configured.adaptToSchema(openLdap);
    EXPECT_EQ(configured.ldapAttribute("Full Name"), "gecos");
}

TEST(SyntaxMapping, LdapSyntaxesToClientSyntaxes) {
    EXPECT_EQ(syntaxFromOid("1.3.6.1.4.1.1466.115.121.1.12"), 1u);
    EXPECT_EQ(syntaxFromOid("1.3.6.1.4.1.1466.115.121.1.15{32768}"), 3u);
    EXPECT_EQ(syntaxFromOid("1.3.6.1.4.1.1466.115.121.1.44"), 4u);
    EXPECT_EQ(syntaxFromOid("1.3.6.1.4.1.1466.115.121.1.36"), 5u);
    EXPECT_EQ(syntaxFromOid("1.3.6.1.4.1.1466.115.121.1.7"), 7u);
    EXPECT_EQ(syntaxFromOid("1.3.6.1.4.1.1466.115.121.1.27"), 8u);
    EXPECT_EQ(syntaxFromOid("1.3.6.1.4.1.1466.115.121.1.50"), 10u);
    EXPECT_EQ(syntaxFromOid("1.3.6.1.4.1.1466.115.121.1.24"), 24u);
    EXPECT_EQ(syntaxFromOid("1.3.6.1.4.1.1466.115.121.1.28"), 9u);  // JPEG: octets
}

TEST(ResultCodes, OneTableForEveryOperation) {
    EXPECT_EQ(ndsStatusFromLdap(LDAP_SUCCESS), 0);
    EXPECT_EQ(ndsStatusFromLdap(LDAP_NO_SUCH_OBJECT), ERR_NO_SUCH_ENTRY);
    EXPECT_EQ(ndsStatusFromLdap(LDAP_NO_SUCH_ATTRIBUTE), ERR_NO_SUCH_ATTRIBUTE);
    EXPECT_EQ(ndsStatusFromLdap(LDAP_INSUFFICIENT_ACCESS), ERR_NO_ACCESS);
    EXPECT_EQ(ndsStatusFromLdap(LDAP_TYPE_OR_VALUE_EXISTS), ERR_DUPLICATE_VALUE);
    EXPECT_EQ(ndsStatusFromLdap(LDAP_ASSERTION_FAILED), ERR_ATTRIBUTE_ALREADY_EXISTS);
    EXPECT_EQ(ndsStatusFromLdap(LDAP_SERVER_DOWN), ERR_UNREACHABLE_SERVER);
    EXPECT_EQ(ndsStatusFromLdap(LDAP_TIMEOUT), ERR_TIME_OUT);
    EXPECT_EQ(ndsStatusFromLdap(LDAP_INVALID_CREDENTIALS), ERR_FAILED_AUTHENTICATION);
    EXPECT_EQ(ndsStatusFromLdap(LDAP_OBJECT_CLASS_VIOLATION), ERR_MISSING_MANDATORY);
    // A listing the server cut short is a failure, never success.
    EXPECT_NE(ndsStatusFromLdap(LDAP_SIZELIMIT_EXCEEDED), 0);
    EXPECT_NE(ndsStatusFromLdap(LDAP_ADMINLIMIT_EXCEEDED), 0);
    EXPECT_NE(ndsStatusFromLdap(12345), 0);
    EXPECT_TRUE(isConnectionLost(LDAP_SERVER_DOWN));
    EXPECT_FALSE(isConnectionLost(LDAP_NO_SUCH_OBJECT));
}
