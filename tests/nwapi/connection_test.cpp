// Opening and releasing the layer's connection.
#include "layer_fixture.h"

using namespace nwapi;
using testsupport::LayerTest;

class Connection : public LayerTest {};
BOTH_BACKENDS(Connection);

TEST_P(Connection, ConnectsToTheDemoTreeWithTypelessCanonicalNames) {
    connectDemo();
    const LayerState& L = layer();
    EXPECT_TRUE(L.initialised);
    EXPECT_NE(L.context, -1);
    EXPECT_STRNE(L.serverName, "?");
    EXPECT_STRNE(L.serverName, "");
    uint32_t flags = 0;
    ASSERT_EQ(nw::NWDSGetContext(L.context, nw::DCK_FLAGS, &flags), 0);
    EXPECT_EQ(flags & 0x14u, 0x14u);
    EXPECT_EQ(flags & nw::DCV_DEFAULT_FLAGS, nw::DCV_DEFAULT_FLAGS);  // the others stay as they were
}

TEST_F(LayerTest, WithoutConfigurationTheConnectionStepsFailButTheLayerIsUsable) {
    nw::setConfigurationFile(dir.file("missing.conf"));
    bool ok = false;
    InitNWConnection(ok);
    EXPECT_TRUE(ok);
    const auto& boxes = ports.box.boxes;
    ASSERT_EQ(boxes.size(), 3u) << boxTexts().front();
    const char* operations[] = {"NWCCGetPrimConnRef", "NWCCOpenConnByRef", "NWCCGetConnRefInfo"};
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(boxes[i].caption, "NW-Fehler");
        EXPECT_EQ(boxes[i].buttons, platform::Buttons::OkCancel);
        EXPECT_EQ(boxes[i].text.rfind("Fehler ", 0), 0u);
        EXPECT_EQ(boxes[i].text.substr(boxes[i].text.size() - std::string(operations[i]).size() - 2),
                  std::string(". ") + operations[i]);
    }
    EXPECT_EQ(boxes[1].text, "Fehler 34817. NWCCOpenConnByRef");
    EXPECT_STREQ(layer().serverName, "?");
    EXPECT_NE(layer().context, -1);
    // Later operations answer for themselves through the NDS box.
    EXPECT_FALSE(ObjektExistiert(testsupport::kDeny));
}

TEST_F(LayerTest, SecondInitDoesNothingAlsoAfterAFailedFirst) {
    nw::setConfigurationFile(dir.file("missing.conf"));
    bool ok = false;
    InitNWConnection(ok);
    size_t shown = ports.box.boxes.size();
    nw::NWDSContextHandle context = layer().context;
    testsupport::useDemoTree(dir);  // a tree is there now, but the second call must not look
    ok = false;
    InitNWConnection(ok);
    EXPECT_TRUE(ok);
    EXPECT_EQ(ports.box.boxes.size(), shown);
    EXPECT_EQ(layer().context, context);
    EXPECT_STREQ(layer().serverName, "?");
}

TEST_P(Connection, DoneReleasesContextAndModifyBufferAndAllowsANewStart) {
    connectDemo();
    nw::Buf_T* buffer = nullptr;
    ASSERT_EQ(nw::NWDSAllocBuf(nw::DEFAULT_MESSAGE_LEN, &buffer), 0);
    layer().modifyBuffer = buffer;
    nw::NWDSContextHandle context = layer().context;
    DoneNWConnection();
    EXPECT_TRUE(ports.box.boxes.empty());
    EXPECT_FALSE(layer().initialised);
    EXPECT_EQ(layer().modifyBuffer, nullptr);
    EXPECT_NE(nw::NWDSFreeBuf(buffer), 0);  // already freed
    uint32_t flags = 0;
    EXPECT_NE(nw::NWDSGetContext(context, nw::DCK_FLAGS, &flags), 0);
    bool ok = false;
    InitNWConnection(ok);
    EXPECT_TRUE(ok);
    EXPECT_TRUE(ObjektExistiert(testsupport::kDeny));
}

TEST_F(LayerTest, ModifyContextFlagsSetsClearsOrKeeps) {
    connectDemo();
    nw::NWDSContextHandle c = layer().context;
    uint32_t before = 0, flags = 0;
    nw::NWDSGetContext(c, nw::DCK_FLAGS, &before);
    ModifyContextFlags(c, '-', nw::DCV_TYPELESS_NAMES);
    nw::NWDSGetContext(c, nw::DCK_FLAGS, &flags);
    EXPECT_EQ(flags, before & ~nw::DCV_TYPELESS_NAMES);
    ModifyContextFlags(c, '?', 0xFFFFFFFFu);
    nw::NWDSGetContext(c, nw::DCK_FLAGS, &flags);
    EXPECT_EQ(flags, before & ~nw::DCV_TYPELESS_NAMES);
    ModifyContextFlags(c, '+', nw::DCV_TYPELESS_NAMES);
    nw::NWDSGetContext(c, nw::DCK_FLAGS, &flags);
    EXPECT_EQ(flags, before);
}

TEST_F(LayerTest, TreeFileThatIsNotADatabaseGivesClearBoxes) {
    testsupport::writeFile(dir.file("garbage.tree"), std::string(5000, '\x7f') + "kein Baum");
    testsupport::writeClientConfig(dir.path(), dir.file("garbage.tree"));
    bool ok = false;
    InitNWConnection(ok);
    EXPECT_TRUE(ok);
    ASSERT_EQ(ports.box.boxes.size(), 3u);
    EXPECT_EQ(ports.box.boxes[0].text, "Fehler " + std::to_string(nw::TARVEL_TREE_UNREADABLE) + ". NWCCGetPrimConnRef");
    EXPECT_STREQ(layer().serverName, "?");
    NameList list;
    ListeUnterobjekte("[root]", list, 0);
    EXPECT_TRUE(list.empty());
}
