// Text forms of attribute values, from hand-built value blocks.
#include "nwapi/nwapi.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

using namespace nwapi;

namespace {

std::string textOf(uint32_t syntax, const void* value, uint32_t size) { return AttributeValueToText(syntax, value, size); }

struct PinnedLocale {
    explicit PinnedLocale(const std::string& name) { text::setLocaleForTesting(name); }
    ~PinnedLocale() { text::setLocaleForTesting(""); }
};

}  // namespace

TEST(BytesToHexText, UpperCaseWithoutSeparatorsAndCountTakenAsSixteenBits) {
    const uint8_t bytes[] = {0x00, 0x1b, 0xa0, 0xff};
    EXPECT_EQ(BytesToHexText(bytes, 4), "001BA0FF");
    EXPECT_EQ(BytesToHexText(bytes, 0), "");
    std::vector<uint8_t> big(65536 + 2, 0xAB);
    EXPECT_EQ(BytesToHexText(big.data(), 65536 + 2), "ABAB");  // 65538 as 16 bits is 2
}

TEST(NameSpaceName, KnownNumbersAndOther) {
    EXPECT_EQ(NameSpaceName(0), "DOS");
    EXPECT_EQ(NameSpaceName(1), "Mac");
    EXPECT_EQ(NameSpaceName(2), "NFS");
    EXPECT_EQ(NameSpaceName(3), "FTAM");
    EXPECT_EQ(NameSpaceName(4), "Long");
    EXPECT_EQ(NameSpaceName(5), "other");
    EXPECT_EQ(NameSpaceName(-1), "other");
}

TEST(NetAddress, IpUdpTcpShowAddressAndPortHighByteFirst) {
    uint8_t bytes[] = {0x00, 0x50, 0x0A, 0x01, 0x02, 0x03};
    nw::Net_Address_T a{1, 6, bytes};
    EXPECT_EQ(NetAddressToText(a), "(1) [10.1.2.3:80]");
    uint8_t high[] = {0xFF, 0xFE, 0xC0, 0xA8, 0xFF, 0x01};
    nw::Net_Address_T tcp{9, 6, high};
    EXPECT_EQ(NetAddressToText(tcp), "(9) [192.168.255.1:65534]");
    nw::Net_Address_T udp{8, 6, bytes};
    EXPECT_EQ(NetAddressToText(udp), "(8) [10.1.2.3:80]");
}

TEST(NetAddress, IpxShowsNetworkAndNodeButNotSocket) {
    uint8_t bytes[] = {0x00, 0x00, 0x00, 0x01, 0x00, 0x1B, 0x21, 0x0A, 0x0B, 0x0C, 0x04, 0x51};
    nw::Net_Address_T a{0, 12, bytes};
    EXPECT_EQ(NetAddressToText(a), "(0) [00000001:001B210A0B0C]");
}

TEST(NetAddress, OtherTypesAndShortAddressesShowTheirBytes) {
    uint8_t bytes[] = {0xDE, 0xAD, 0xBE};
    nw::Net_Address_T other{13, 3, bytes};
    EXPECT_EQ(NetAddressToText(other), "(13) [DEADBE]");
    // Too short for what the type promises: shown as bytes, never read past the end.
    nw::Net_Address_T shortIp{1, 3, bytes};
    EXPECT_EQ(NetAddressToText(shortIp), "(1) [DEADBE]");
    nw::Net_Address_T shortIpx{0, 3, bytes};
    EXPECT_EQ(NetAddressToText(shortIpx), "(0) [DEADBE]");
}

TEST(Interval, UnitsWithTheirSeparators) {
    EXPECT_EQ(IntervalToText(59), "59 sec");
    EXPECT_EQ(IntervalToText(60), "1 min, ");
    EXPECT_EQ(IntervalToText(90), "1 min, 30 sec");
    EXPECT_EQ(IntervalToText(3600), "1 h, ");
    EXPECT_EQ(IntervalToText(86400), "1 days, ");
    EXPECT_EQ(IntervalToText(86400 + 3600 + 60 + 1), "1 days, 1 h, 1 min, 1 sec");
    EXPECT_EQ(IntervalToText(400 * 86400), "400 days, ");
    EXPECT_EQ(IntervalToText(86400 + 5), "1 days, 5 sec");
}

TEST(Interval, ZeroAndNegativeAddNoEntry) {
    EXPECT_EQ(IntervalToText(0), "");
    EXPECT_EQ(IntervalToText(-5), "");
    EXPECT_EQ(IntervalToText(-90000), "");
    int32_t v = -5;
    EXPECT_EQ(textOf(nw::SYN_INTERVAL, &v, sizeof v), "");
}

TEST(ValueText, Booleans) {
    for (uint8_t b : {uint8_t(0), uint8_t(1), uint8_t(255)})
        EXPECT_EQ(textOf(nw::SYN_BOOLEAN, &b, 1), b ? "TRUE" : "FALSE") << int(b);
}

TEST(ValueText, StringsIntegersAndCounters) {
    const char name[] = "Gast01.PROJEKTE.UNTERRICHT";
    for (uint32_t syntax : {1u, 2u, 3u, 4u, 5u, 10u, 20u})
        EXPECT_EQ(textOf(syntax, name, sizeof name), "Gast01.PROJEKTE.UNTERRICHT") << syntax;
    const char empty[] = "";
    EXPECT_EQ(textOf(nw::SYN_CI_STRING, empty, 1), "");
    int32_t n = -42;
    EXPECT_EQ(textOf(nw::SYN_INTEGER, &n, 4), "-42");
    uint32_t big = 0xFFFFFFFFu;  // taken as signed
    EXPECT_EQ(textOf(nw::SYN_COUNTER, &big, 4), "-1");
}

TEST(ValueText, CaseIgnoreListIsOneEntryJoinedByCrLf) {
    char a[] = "a", b[] = "b", c[] = "c";
    nw::CI_List_T third{nullptr, c}, second{&third, b}, first{&second, a};
    EXPECT_EQ(textOf(nw::SYN_CI_LIST, &first, sizeof first), "a\r\nb\r\nc");
}

TEST(ValueText, OctetStringAndRawSyntaxes) {
    uint8_t bytes[] = {0x01, 0xAB, 0xFF};
    nw::Octet_String_T o{3, bytes};
    EXPECT_EQ(textOf(nw::SYN_OCTET_STRING, &o, sizeof o), "01ABFF");
    nw::Octet_String_T none{0, bytes};
    EXPECT_EQ(textOf(nw::SYN_OCTET_STRING, &none, sizeof none), "");
    for (uint32_t syntax : {0u, 13u, 18u, 28u, 200u})
        EXPECT_EQ(textOf(syntax, bytes, 3), "01ABFF") << syntax;
}

TEST(ValueText, PathInNameSpaces) {
    char vol[] = "SYS", path[] = "PUBLIC";
    nw::Path_T p4{4, vol, path};
    EXPECT_EQ(textOf(nw::SYN_PATH, &p4, sizeof p4), "(Long) SYS: PUBLIC");
    nw::Path_T p7{7, vol, path};
    EXPECT_EQ(textOf(nw::SYN_PATH, &p7, sizeof p7), "(other) SYS: PUBLIC");
}

TEST(ValueText, AclReplicaHoldAndNames) {
    char attr[] = "ACL", subject[] = "ADMIN.ORG";
    nw::Object_ACL_T acl{attr, subject, 6};
    EXPECT_EQ(textOf(nw::SYN_OBJECT_ACL, &acl, sizeof acl), "ADMIN.ORG [ACL: 00000006]");
    nw::Object_ACL_T full{attr, subject, 0x8000001Fu};
    EXPECT_EQ(textOf(nw::SYN_OBJECT_ACL, &full, sizeof full), "ADMIN.ORG [ACL: 8000001F]");

    char server[] = "FS1.UNTERRICHT";
    nw::Replica_Pointer_T r{server, 1, -2, 0};
    EXPECT_EQ(textOf(nw::SYN_REPLICA_POINTER, &r, sizeof r), "FS1.UNTERRICHT [Type: 1] [Nr: -2]");

    char obj[] = "meier.LEHRER";
    nw::Hold_T h{obj, -7};
    EXPECT_EQ(textOf(nw::SYN_HOLD, &h, sizeof h), "meier.LEHRER (-7)");
    nw::Back_Link_T bl{99, obj};
    EXPECT_EQ(textOf(nw::SYN_BACK_LINK, &bl, sizeof bl), "meier.LEHRER");
    nw::Typed_Name_T tn{obj, 1, 2};
    EXPECT_EQ(textOf(nw::SYN_TYPED_NAME, &tn, sizeof tn), "meier.LEHRER");
    char phone[] = "+49 30 1234", mail[] = "a@b.de";
    nw::Fax_Number_T fax{phone, {0, nullptr}};
    EXPECT_EQ(textOf(nw::SYN_FAX_NUMBER, &fax, sizeof fax), "+49 30 1234");
    nw::EMail_Address_T em{3, mail};
    EXPECT_EQ(textOf(nw::SYN_EMAIL_ADDRESS, &em, sizeof em), "a@b.de");
}

TEST(ValueText, TimeZeroIsTheDateAloneInTheShortFormat) {
    PinnedLocale german("de_DE");
    EXPECT_EQ(DirTimeToText(0), "01.01.1970");
    uint32_t zero = 0;
    EXPECT_EQ(textOf(nw::SYN_TIME, &zero, 4), "01.01.1970");
    nw::NWDS_TimeStamp_T ts{0, 1, 2};
    EXPECT_EQ(textOf(nw::SYN_TIMESTAMP, &ts, sizeof ts), "01.01.1970");
}

TEST(ValueText, TimeIsShownWithoutTimeZoneAndWithTheLongTime) {
    PinnedLocale german("de_DE");
    // 2001-09-09 01:46:40 UTC
    EXPECT_EQ(DirTimeToText(1000000000u), "09.09.2001 01:46:40");
    // Past 2038 the seconds are still unsigned.
    EXPECT_EQ(DirTimeToText(4000000000u), "02.10.2096 07:06:40");
}
