// Reading attributes: replies continued through the iteration handle, the value block of every
// syntax, the missing attribute, and streams as file descriptors.
#include "client_fixture.h"
#include "nwclient/client_state.h"

#include <filesystem>
#include <iterator>

#include <sys/stat.h>
#include <unistd.h>

using namespace nw;
using testsupport::ClientTest;

namespace {

AttrValue val(std::string text = {}, int64_t number = 0, std::string text2 = {}, int64_t number2 = 0,
              std::string bytes = {}) {
    AttrValue v;
    v.text = std::move(text);
    v.number = number;
    v.text2 = std::move(text2);
    v.number2 = number2;
    v.bytes = std::move(bytes);
    return v;
}

// The descriptors this process holds.
long openDescriptors() {
    return std::distance(std::filesystem::directory_iterator("/proc/self/fd"), std::filesystem::directory_iterator());
}

}  // namespace

class Reading : public ClientTest {
protected:
    // Reads the one value of an attribute into a block of the size the client reports.
    std::vector<uint8_t> block(const std::string& attribute, uint32_t expectSyntax) {
        Buf_T* names = nullptr;
        Buf_T* reply = nullptr;
        NWDSAllocBuf(DEFAULT_MESSAGE_LEN, &names);
        NWDSInitBuf(ctx, DSV_READ, names);
        EXPECT_EQ(NWDSPutAttrName(ctx, names, attribute.c_str()), SUCCESSFUL);
        NWDSAllocBuf(DEFAULT_MESSAGE_LEN, &reply);
        int32_t iter = NO_MORE_ITERATIONS;
        EXPECT_EQ(NWDSRead(ctx, ".Gast01.PROJEKTE.UNTERRICHT", DS_ATTRIBUTE_VALUES, 0, names, &iter, reply), SUCCESSFUL);
        EXPECT_EQ(iter, NO_MORE_ITERATIONS);
        uint32_t count = 0, syntax = 0, size = 0;
        char name[MAX_SCHEMA_NAME_BYTES];
        EXPECT_EQ(NWDSGetAttrCount(ctx, reply, &count), SUCCESSFUL);
        EXPECT_EQ(NWDSGetAttrName(ctx, reply, name, &count, &syntax), SUCCESSFUL);
        EXPECT_EQ(count, 1u);
        EXPECT_EQ(syntax, expectSyntax);
        EXPECT_EQ(NWDSComputeAttrValSize(ctx, reply, syntax, &size), SUCCESSFUL);
        std::vector<uint8_t> out(size + 16, 0xEE);  // guard bytes behind the block
        EXPECT_EQ(NWDSGetAttrVal(ctx, reply, syntax, out.data()), SUCCESSFUL);
        for (size_t i = size; i < out.size(); ++i) EXPECT_EQ(out[i], 0xEE) << "written past the size";
        out.resize(size);
        NWDSFreeBuf(reply);
        NWDSFreeBuf(names);
        return out;
    }
    void put(const std::string& attribute, uint32_t syntax, AttrValue v) { tree->set(gast01, attribute, syntax, {v}); }
};

TEST_F(Reading, ValuesThatDoNotFitOneReplyContinueUnderTheSameName) {
    std::vector<AttrValue> members;
    for (int i = 0; i < 300; ++i) members.push_back(val("user" + std::to_string(i) + ".GROSS.UNTERRICHT"));
    tree->set(denyGroup, "Member", SYN_DIST_NAME, members);
    auto r = readTexts(".G_User_Internet_Deny.PROJEKTE.UNTERRICHT", "Member");
    ASSERT_EQ(r.status, SUCCESSFUL);
    EXPECT_GE(r.replies, 3);
    ASSERT_EQ(r.texts.size(), 300u);
    for (int i = 0; i < 300; ++i) EXPECT_EQ(r.texts[size_t(i)], "user" + std::to_string(i) + ".GROSS.UNTERRICHT");
    for (auto& n : r.attrNames) EXPECT_EQ(n, "Member");
    EXPECT_TRUE(state().iterations.empty());
}

TEST_F(Reading, AnAttributeWithoutValuesAnswersNoSuchAttribute) {
    EXPECT_EQ(readTexts(".G_User_Internet_Deny.PROJEKTE.UNTERRICHT", "Member").status, ERR_NO_SUCH_ATTRIBUTE);
    tree->set(denyGroup, "Member", SYN_DIST_NAME, {});
    EXPECT_EQ(readTexts(".G_User_Internet_Deny.PROJEKTE.UNTERRICHT", "Member").status, ERR_NO_SUCH_ATTRIBUTE);
    EXPECT_EQ(readTexts(".Nobody.PROJEKTE.UNTERRICHT", "Member").status, ERR_NO_SUCH_ENTRY);
}

TEST_F(Reading, TextSyntaxesGiveTheTextItself) {
    for (uint32_t syntax : {1u, 2u, 3u, 4u, 5u, 10u, 20u}) {
        put("Description", syntax, val("Ärger.PROJEKTE"));
        auto b = block("Description", syntax);
        EXPECT_EQ(b.size(), std::string("Ärger.PROJEKTE").size() + 1);
        EXPECT_STREQ(reinterpret_cast<const char*>(b.data()), "Ärger.PROJEKTE");
    }
}

TEST_F(Reading, ListBooleanAndNumbers) {
    AttrValue list;
    list.list = {"a", "b", "c"};
    put("L", SYN_CI_LIST, list);
    auto b = block("L", SYN_CI_LIST);
    auto* item = reinterpret_cast<const CI_List_T*>(b.data());
    std::vector<std::string> items;
    for (; item; item = item->next) {
        ASSERT_GE(reinterpret_cast<const uint8_t*>(item->s), b.data());
        ASSERT_LT(reinterpret_cast<const uint8_t*>(item->s), b.data() + b.size());
        items.push_back(item->s);
    }
    EXPECT_EQ(items, (std::vector<std::string>{"a", "b", "c"}));

    put("B", SYN_BOOLEAN, val({}, 255));
    EXPECT_EQ(block("B", SYN_BOOLEAN), std::vector<uint8_t>{255});
    for (uint32_t syntax : {8u, 22u, 27u}) {
        put("N", syntax, val({}, -5));
        auto n = block("N", syntax);
        ASSERT_EQ(n.size(), 4u);
        EXPECT_EQ(*reinterpret_cast<const int32_t*>(n.data()), -5);
    }
    put("T", SYN_TIME, val({}, 4000000000LL));
    auto t = block("T", SYN_TIME);
    EXPECT_EQ(*reinterpret_cast<const uint32_t*>(t.data()), 4000000000u);
}

TEST_F(Reading, ByteSyntaxes) {
    std::string raw("\x00\x50\x0A\x01\x02\x03", 6);
    put("O", SYN_OCTET_STRING, val({}, 0, {}, 0, raw));
    auto o = block("O", SYN_OCTET_STRING);
    auto* os = reinterpret_cast<const Octet_String_T*>(o.data());
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(os->data), os->length), raw);

    put("A", SYN_NET_ADDRESS, val({}, 1, {}, 0, raw));
    auto a = block("A", SYN_NET_ADDRESS);
    auto* na = reinterpret_cast<const Net_Address_T*>(a.data());
    EXPECT_EQ(na->addressType, 1u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(na->address), na->addressLength), raw);

    for (uint32_t syntax : {0u, 13u, 18u, 28u}) {
        put("R", syntax, val({}, 0, {}, 0, raw));
        auto r = block("R", syntax);
        EXPECT_EQ(std::string(r.begin(), r.end()), raw);  // the block is the bytes, size as reported
    }
    put("R", SYN_OCTET_LIST, val());
    EXPECT_TRUE(block("R", SYN_OCTET_LIST).empty());

    put("F", SYN_FAX_NUMBER, val("+49 30 1234", 0, {}, 0, "\x01"));
    auto f = block("F", SYN_FAX_NUMBER);
    auto* fax = reinterpret_cast<const Fax_Number_T*>(f.data());
    EXPECT_STREQ(fax->telephoneNumber, "+49 30 1234");
    EXPECT_EQ(fax->parameters.numOfBits, 8u);
}

TEST_F(Reading, StructuredSyntaxes) {
    put("E", SYN_EMAIL_ADDRESS, val("a@b.de", 3));
    auto e = block("E", SYN_EMAIL_ADDRESS);
    EXPECT_EQ(reinterpret_cast<const EMail_Address_T*>(e.data())->type, 3u);
    EXPECT_STREQ(reinterpret_cast<const EMail_Address_T*>(e.data())->address, "a@b.de");

    put("P", SYN_PATH, val("SYS", 4, "PUBLIC"));
    auto p = block("P", SYN_PATH);
    auto* path = reinterpret_cast<const Path_T*>(p.data());
    EXPECT_EQ(path->nameSpaceType, 4u);
    EXPECT_STREQ(path->volumeName, "SYS");
    EXPECT_STREQ(path->path, "PUBLIC");

    put("RP", SYN_REPLICA_POINTER, val("SRV1", 2, {}, 7));
    auto rp = block("RP", SYN_REPLICA_POINTER);
    auto* rep = reinterpret_cast<const Replica_Pointer_T*>(rp.data());
    EXPECT_STREQ(rep->serverName, "SRV1");
    EXPECT_EQ(rep->replicaType, 2);
    EXPECT_EQ(rep->replicaNumber, 7);

    put("ACL", SYN_OBJECT_ACL, val("ACL", 6, "ADMIN.ORG"));
    auto acl = block("ACL", SYN_OBJECT_ACL);
    auto* a = reinterpret_cast<const Object_ACL_T*>(acl.data());
    EXPECT_STREQ(a->protectedAttrName, "ACL");
    EXPECT_STREQ(a->subjectName, "ADMIN.ORG");
    EXPECT_EQ(a->privileges, 6u);

    put("TS", SYN_TIMESTAMP, val({}, 1234, {}, 3 | (9 << 16)));
    auto ts = block("TS", SYN_TIMESTAMP);
    auto* stamp = reinterpret_cast<const NWDS_TimeStamp_T*>(ts.data());
    EXPECT_EQ(stamp->wholeSeconds, 1234u);
    EXPECT_EQ(stamp->replicaNum, 3);
    EXPECT_EQ(stamp->eventID, 9);

    put("BL", SYN_BACK_LINK, val("Gast02.PROJEKTE.UNTERRICHT", 77));
    auto bl = block("BL", SYN_BACK_LINK);
    EXPECT_EQ(reinterpret_cast<const Back_Link_T*>(bl.data())->remoteID, 77u);
    EXPECT_STREQ(reinterpret_cast<const Back_Link_T*>(bl.data())->objectName, "Gast02.PROJEKTE.UNTERRICHT");

    put("TN", SYN_TYPED_NAME, val("Gast02.PROJEKTE.UNTERRICHT", 1, {}, 2));
    auto tn = block("TN", SYN_TYPED_NAME);
    auto* typed = reinterpret_cast<const Typed_Name_T*>(tn.data());
    EXPECT_STREQ(typed->objectName, "Gast02.PROJEKTE.UNTERRICHT");
    EXPECT_EQ(typed->level, 1u);
    EXPECT_EQ(typed->interval, 2u);

    put("H", SYN_HOLD, val("Gast02.PROJEKTE.UNTERRICHT", -12));
    auto h = block("H", SYN_HOLD);
    EXPECT_STREQ(reinterpret_cast<const Hold_T*>(h.data())->objectName, "Gast02.PROJEKTE.UNTERRICHT");
    EXPECT_EQ(reinterpret_cast<const Hold_T*>(h.data())->amount, -12);
}

TEST_F(Reading, StreamsOpenAsAFileReadInOneGo) {
    std::string contents;
    for (int i = 0; i < 70000; ++i) contents += char('a' + i % 26);
    put("Login Script", SYN_STREAM, val({}, 0, {}, 0, contents));
    auto b = block("Login Script", SYN_STREAM);  // the reply carries the size only
    ASSERT_EQ(b.size(), 4u);
    EXPECT_EQ(*reinterpret_cast<const uint32_t*>(b.data()), 70000u);

    const long descriptors = openDescriptors();
    int fd = -1;
    ASSERT_EQ(NWDSOpenStream(ctx, ".Gast01.PROJEKTE.UNTERRICHT", "Login Script", DS_READ_STREAM, &fd), SUCCESSFUL);
    struct stat st{};
    ASSERT_EQ(fstat(fd, &st), 0);
    EXPECT_FALSE(S_ISFIFO(st.st_mode));
    std::vector<char> buf(64512);
    ASSERT_EQ(read(fd, buf.data(), buf.size()), 64512);
    EXPECT_EQ(std::string(buf.data(), 64512), contents.substr(0, 64512));
    close(fd);
    // Closing the one descriptor handed out gives back everything the call took.
    EXPECT_EQ(openDescriptors(), descriptors);
    EXPECT_EQ(NWDSOpenStream(ctx, ".Gast02.PROJEKTE.UNTERRICHT", "Login Script", DS_READ_STREAM, &fd),
              ERR_NO_SUCH_ATTRIBUTE);
}

TEST_F(Reading, SeveralAttributesInOneReadAndUnreadValuesSkipped) {
    tree->set(gast01, "Description", SYN_CI_STRING, {val("eins"), val("zwei")});
    tree->set(gast01, "Group Membership", SYN_DIST_NAME, {val("G_User_Internet_Deny.PROJEKTE.UNTERRICHT")});
    Buf_T* names = nullptr;
    Buf_T* reply = nullptr;
    NWDSAllocBuf(DEFAULT_MESSAGE_LEN, &names);
    NWDSInitBuf(ctx, DSV_READ, names);
    NWDSPutAttrName(ctx, names, "Description");
    NWDSPutAttrName(ctx, names, "Telephone Number");  // absent: left out
    NWDSPutAttrName(ctx, names, "Group Membership");
    NWDSAllocBuf(DEFAULT_MESSAGE_LEN, &reply);
    int32_t iter = NO_MORE_ITERATIONS;
    ASSERT_EQ(NWDSRead(ctx, ".Gast01.PROJEKTE.UNTERRICHT", DS_ATTRIBUTE_VALUES, 0, names, &iter, reply), SUCCESSFUL);
    uint32_t count = 0, values = 0, syntax = 0;
    char name[MAX_SCHEMA_NAME_BYTES];
    ASSERT_EQ(NWDSGetAttrCount(ctx, reply, &count), SUCCESSFUL);
    EXPECT_EQ(count, 2u);
    ASSERT_EQ(NWDSGetAttrName(ctx, reply, name, &values, &syntax), SUCCESSFUL);
    EXPECT_STREQ(name, "Description");
    EXPECT_EQ(values, 2u);
    uint32_t size = 0;
    EXPECT_EQ(NWDSComputeAttrValSize(ctx, reply, SYN_DIST_NAME, &size), ERR_BAD_SYNTAX);
    // Straight on to the next attribute without reading the values.
    ASSERT_EQ(NWDSGetAttrName(ctx, reply, name, &values, &syntax), SUCCESSFUL);
    EXPECT_STREQ(name, "Group Membership");
    char value[MAX_DN_BYTES];
    ASSERT_EQ(NWDSGetAttrVal(ctx, reply, syntax, value), SUCCESSFUL);
    EXPECT_STREQ(value, "G_User_Internet_Deny.PROJEKTE.UNTERRICHT");
    EXPECT_EQ(NWDSGetAttrVal(ctx, reply, syntax, value), ERR_BUFFER_EMPTY);
    EXPECT_EQ(NWDSGetAttrName(ctx, reply, name, &values, &syntax), ERR_BUFFER_EMPTY);
    NWDSFreeBuf(reply);
    // A reply already freed is refused, not read as if it were empty or still there.
    EXPECT_EQ(NWDSGetAttrName(ctx, reply, name, &values, &syntax), ERR_NULL_POINTER);
    NWDSFreeBuf(names);
}

TEST_F(Reading, AValueLargerThanAReplyIsAnError) {
    put("O", SYN_OCTET_STRING, val({}, 0, {}, 0, std::string(5000, 'x')));
    Buf_T* names = nullptr;
    Buf_T* reply = nullptr;
    NWDSAllocBuf(DEFAULT_MESSAGE_LEN, &names);
    NWDSInitBuf(ctx, DSV_READ, names);
    NWDSPutAttrName(ctx, names, "O");
    NWDSAllocBuf(DEFAULT_MESSAGE_LEN, &reply);
    int32_t iter = NO_MORE_ITERATIONS;
    EXPECT_EQ(NWDSRead(ctx, ".Gast01.PROJEKTE.UNTERRICHT", DS_ATTRIBUTE_VALUES, 0, names, &iter, reply),
              ERR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(iter, NO_MORE_ITERATIONS);
    EXPECT_TRUE(state().iterations.empty());
    // A reply too small even for the attribute's name: an error as well, never an endless loop.
    Buf_T* tiny = nullptr;
    NWDSAllocBuf(8, &tiny);
    NWDSPutAttrName(ctx, names, "Surname");
    tree->set(gast01, "Surname", SYN_CI_STRING, {val("Gast")});
    EXPECT_EQ(NWDSRead(ctx, ".Gast01.PROJEKTE.UNTERRICHT", DS_ATTRIBUTE_VALUES, 0, names, &iter, tiny),
              ERR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(iter, NO_MORE_ITERATIONS);
    NWDSFreeBuf(tiny);
    NWDSFreeBuf(reply);
    NWDSFreeBuf(names);
}

TEST_F(Reading, RequestBufferAccountsForEveryName) {
    Buf_T* names = nullptr;
    NWDSAllocBuf(DEFAULT_MESSAGE_LEN, &names);
    NWDSInitBuf(ctx, DSV_READ, names);
    // 31 characters: 4 + 32 bytes each; 113 of them and the count field take 4072 bytes, the
    // 114th would need 4108.
    std::string name(31, 'n');
    int put = 0;
    while (NWDSPutAttrName(ctx, names, name.c_str()) == SUCCESSFUL) ++put;
    EXPECT_EQ(put, 113);
    EXPECT_EQ(NWDSPutAttrName(ctx, names, std::string(33, 'n').c_str()), ERR_SCHEMA_NAME_TOO_LONG);
    NWDSFreeBuf(names);
}
