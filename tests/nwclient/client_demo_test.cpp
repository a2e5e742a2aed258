// The client over the demo school in an SQLite tree file, opened through nwclient.conf.
#include "client_fixture.h"
#include "temp_trees.h"

#include <cstring>
#include <filesystem>
#include <unistd.h>

using namespace nw;

namespace {

class DemoTree : public testsupport::ClientTest {
protected:
    testsupport::TempDir dir;

    void SetUp() override {
        resetClient();
        testsupport::useDemoTree(dir);
        uint32_t ref = 0;
        ASSERT_EQ(NWCCGetPrimConnRef(&ref), SUCCESSFUL);
        ASSERT_EQ(NWDSCreateContextHandle(&ctx), SUCCESSFUL);
    }

    std::vector<std::string> search(const std::string& base, const char* className) {
        Buf_T* filter = nullptr;
        Buf_T* names = nullptr;
        Buf_T* reply = nullptr;
        NWDSAllocBuf(DEFAULT_MESSAGE_LEN, &filter);
        NWDSInitBuf(ctx, DSV_SEARCH_FILTER, filter);
        Filter_Cursor_T* cur = nullptr;
        NWDSAllocFilter(&cur);
        NWDSAddFilterToken(cur, FTOK_ANAME, "Object Class", SYN_CLASS_NAME);
        NWDSAddFilterToken(cur, FTOK_EQ, nullptr, 0);
        NWDSAddFilterToken(cur, FTOK_AVAL, className, SYN_CLASS_NAME);
        NWDSAddFilterToken(cur, FTOK_END, nullptr, 0);
        EXPECT_EQ(NWDSPutFilter(ctx, filter, cur, nullptr), SUCCESSFUL);
        NWDSAllocBuf(DEFAULT_MESSAGE_LEN, &names);
        NWDSInitBuf(ctx, DSV_SEARCH, names);
        NWDSPutAttrName(ctx, names, "");
        NWDSAllocBuf(DEFAULT_MESSAGE_LEN, &reply);
        std::vector<std::string> out;
        int32_t iter = NO_MORE_ITERATIONS;
        do {
            EXPECT_EQ(NWDSSearch(ctx, base.c_str(), DS_SEARCH_SUBTREE, 0, filter, DS_ATTRIBUTE_VALUES, 0, names,
                                 &iter, 0, nullptr, reply),
                      SUCCESSFUL);
            uint32_t count = 0;
            NWDSGetObjectCount(ctx, reply, &count);
            for (uint32_t i = 0; i < count; ++i) {
                char name[MAX_DN_BYTES];
                EXPECT_EQ(NWDSGetObjectName(ctx, reply, name, nullptr, nullptr), SUCCESSFUL);
                out.push_back(name);
            }
        } while (iter != NO_MORE_ITERATIONS);
        NWDSFreeBuf(reply);
        NWDSFreeBuf(names);
        NWDSFreeBuf(filter);
        return out;
    }
};

bool contains(const std::vector<std::string>& v, const std::string& s) {
    return std::find(v.begin(), v.end(), s) != v.end();
}

}  // namespace

TEST_F(DemoTree, ConnectsThroughTheConfigurationAndLists) {
    char server[NW_MAX_SERVER_NAME_LEN] = {};
    ASSERT_EQ(NWCCGetConnRefInfo(1, NWCC_INFO_SERVER_NAME, sizeof server, server), SUCCESSFUL);
    EXPECT_GT(strlen(server), 0u);
    auto top = list("[root]");
    ASSERT_EQ(top.status, SUCCESSFUL);
    EXPECT_TRUE(contains(top.names, "UNTERRICHT"));
    EXPECT_TRUE(contains(top.names, "DE"));
    auto org = list(".unterricht", true);
    EXPECT_TRUE(contains(org.names, "PROJEKTE"));
    EXPECT_TRUE(contains(org.names, "LEHRER"));
    for (uint32_t f : org.flags) EXPECT_TRUE(f & DS_CONTAINER_ENTRY);
    ASSERT_EQ(setContext(".schueler.unterricht"), SUCCESSFUL);
    EXPECT_EQ(getContext(), "SCHUELER.UNTERRICHT");
}

TEST_F(DemoTree, ARelativeTreeFileSitsBesideTheConfiguration) {
    resetClient();
    testsupport::writeFile(dir.file("nwclient.conf"), "Tree=sqlite:school.tree\nOperator=admin.UNTERRICHT\n");
    setConfigurationFile(dir.file("nwclient.conf"));
    auto cwd = std::filesystem::current_path();
    std::filesystem::current_path("/");
    uint32_t ref = 0;
    NWCCODE rc = NWCCGetPrimConnRef(&ref);
    std::filesystem::current_path(cwd);
    EXPECT_EQ(rc, SUCCESSFUL);
}

TEST_F(DemoTree, SearchFindsEveryPupilWithFullNames) {
    auto users = search(".SCHUELER.UNTERRICHT", "User");
    EXPECT_EQ(users.size(), size_t(24 + 27 + 22 + 30 + 20 + 25));
    for (const auto& u : users) {
        EXPECT_NE(u.front(), '.');
        EXPECT_NE(u.back(), '.');
        EXPECT_NE(u.find(".SCHUELER.UNTERRICHT"), std::string::npos) << u;
    }
}

TEST_F(DemoTree, MembershipChangesReadBackAsFullNames) {
    ASSERT_EQ(setContext("PROJEKTE.UNTERRICHT"), SUCCESSFUL);
    Buf_T* req = nullptr;
    NWDSAllocBuf(DEFAULT_MESSAGE_LEN, &req);
    NWDSInitBuf(ctx, DSV_MODIFY_ENTRY, req);
    ASSERT_EQ(NWDSPutChange(ctx, req, DS_ADDITIONAL_VALUE, "Member"), SUCCESSFUL);
    ASSERT_EQ(NWDSPutAttrVal(ctx, req, SYN_DIST_NAME, "gast01"), SUCCESSFUL);
    NWDSCCODE rc = NWDSModifyObject(ctx, "G_User_Internet_Deny", nullptr, 0, req);
    // The demo may already hold Gast01; either way it is a member afterwards.
    EXPECT_TRUE(rc == SUCCESSFUL || rc == ERR_DUPLICATE_VALUE) << rc;
    auto r = readTexts("G_User_Internet_Deny", "Member");
    ASSERT_EQ(r.status, SUCCESSFUL);
    EXPECT_TRUE(contains(r.texts, "Gast01.PROJEKTE.UNTERRICHT"));
    for (const auto& m : r.texts) EXPECT_NE(m.front(), '.');
    NWDSFreeBuf(req);
}

TEST_F(DemoTree, LoginScriptOpensAsAFile) {
    int fd = -1;
    ASSERT_EQ(NWDSOpenStream(ctx, ".UNTERRICHT", "Login Script", DS_READ_STREAM, &fd), SUCCESSFUL);
    char buf[256] = {};
    ASSERT_GT(read(fd, buf, sizeof buf - 1), 0);
    close(fd);
    EXPECT_EQ(std::string(buf).rfind("REM Anmeldeskript", 0), 0u);
}

TEST_F(DemoTree, PathsOnTheVolumeAndTheirRightsStayWithinTheCallersBuffers) {
    // Each output of NWParsePath is a 255-byte buffer; the directory's has one guard byte more.
    char server[255], volume[255], directory[256];
    NWCONN_HANDLE conn = 0;
    ASSERT_EQ(NWParsePath("data:TARVEL\\Tarvel.ini", server, &conn, volume, directory), SUCCESSFUL);
    EXPECT_STREQ(server, "SCHULSERVER");
    EXPECT_STREQ(volume, "DATA");
    EXPECT_STREQ(directory, "TARVEL\\Tarvel.ini");
    ASSERT_NE(conn, 0u);
    uint16_t rights = 0;
    EXPECT_EQ(NWGetEffectiveRights(conn, 0, "DATA:TARVEL\\Tarvel.ini", &rights), SUCCESSFUL);
    EXPECT_EQ(rights, 0x1FB);
    // This client hands out no directory handles, so a caller's handle is refused, not ignored.
    rights = 0x5555;
    EXPECT_EQ(NWGetEffectiveRights(conn, 1, "DATA:TARVEL\\Tarvel.ini", &rights), NWE_PARAM_INVALID);
    EXPECT_EQ(rights, 0x5555);

    // A directory of 254 bytes fits with its NUL; one byte more is an overflow, never a cut.
    const std::string longest(254, 'd');
    ASSERT_EQ(NWParsePath(("DATA:" + longest).c_str(), server, &conn, volume, directory), SUCCESSFUL);
    EXPECT_EQ(std::string(directory), longest);
    EXPECT_EQ(NWParsePath(("DATA:" + longest + "d").c_str(), server, &conn, volume, directory), NWE_BUFFER_OVERFLOW);

    // A local path off every volume comes back as itself, cut to what the buffer holds.
    std::string local = "/nirgends";
    while (local.size() < 400) local += "/ordner";
    std::memset(directory, '#', sizeof directory);
    ASSERT_EQ(NWParsePath(local.c_str(), server, &conn, volume, directory), SUCCESSFUL);
    EXPECT_EQ(conn, 0u);
    EXPECT_STREQ(volume, "");
    EXPECT_EQ(std::string(directory), local.substr(0, 254));
    EXPECT_EQ(directory[255], '#');
}
