// The directory layer connected to a temporary tree (the demo school or a generated one), with
// recorded boxes, and optionally through the fault-injecting backend.
#pragma once

#include "nwapi/nwapi.h"
#include "nwclient/client_setup.h"
#include "nwclient/embedded/tree_builder.h"
#include "nwclient/embedded/tree_store.h"
#include "nwclient/fault_backend.h"
#include "platform/recording.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace testsupport {

inline const std::string kDeny = ".G_User_Internet_Deny.PROJEKTE.UNTERRICHT";
inline const std::string kDenyFull = "G_User_Internet_Deny.PROJEKTE.UNTERRICHT";

// The fault-injecting backend that also keeps every modify request it was given.
class RecordingFaults : public nw::FaultBackend {
public:
    using FaultBackend::FaultBackend;
    struct Request {
        nw::ObjectId id;
        std::vector<nw::Change> changes;
    };
    std::vector<Request> requests;
    nw::NWDSCCODE modify(nw::ObjectId id, const std::vector<nw::Change>& changes) override {
        requests.push_back({id, changes});
        return FaultBackend::modify(id, changes);
    }
};

class LayerTest : public ::testing::Test {
protected:
    TempDir dir;
    platform::RecordingPorts ports;
    RecordingFaults* faults = nullptr;
    std::string treeFile;

    void SetUp() override {
        nwapi::resetLayerForTesting();
        nw::resetClient();
    }
    void TearDown() override {
        nwapi::DoneNWConnection();
        nw::resetClient();
        nwapi::resetLayerForTesting();
    }

    // The demo school, through the fault-injecting backend when asked.
    void connectDemo(bool withFaults = false, const std::string& operatorName = "admin.UNTERRICHT") {
        useDemoTree(dir, operatorName);
        treeFile = dir.file("school.tree");
        connect(withFaults, operatorName);
    }

    // A generated school: users U0000001.. in containers K00001.. below SCHUELER.UNTERRICHT.
    void connectGenerated(int users, int containers, int denyMembers = 0, bool withFaults = false) {
        generate(users, containers, denyMembers);
        connect(withFaults, "admin.UNTERRICHT");
    }

    void generate(int users, int containers, int denyMembers) {
        treeFile = dir.file("big.tree");
        std::string error;
        auto store = nw::embedded::TreeStore::create(treeFile, "SCHULSERVER", error);
        ASSERT_TRUE(store) << error;
        nw::embedded::GenerateOptions options;
        options.users = users;
        options.containers = containers;
        options.denyMembers = denyMembers;
        nw::embedded::generateTree(*store, options);
        store.reset();
        writeClientConfig(dir.path(), treeFile);
    }

    void connect(bool withFaults, const std::string& operatorName) {
        if (withFaults) {
            nw::ClientConfig config;
            config.file = dir.file("nwclient.conf");
            config.tree = "sqlite:" + treeFile;
            config.operatorName = operatorName;
            nw::NWCCODE status = 0;
            auto real = nw::openBackend(config, status);
            ASSERT_TRUE(real) << status;
            auto wrapper = std::make_unique<RecordingFaults>(std::move(real));
            faults = wrapper.get();
            nw::installBackend(std::move(wrapper));
        }
        bool ok = false;
        nwapi::InitNWConnection(ok);
        ASSERT_TRUE(ok);
        ASSERT_TRUE(ports.box.boxes.empty()) << ports.box.boxes.front().text;
    }

    nw::ObjectId idOf(const std::string& fullName) {
        std::vector<std::string> components;
        std::string name = fullName;
        if (!name.empty() && name[0] == '.') name.erase(0, 1);
        size_t start = 0;
        for (size_t dot; (dot = name.find('.', start)) != std::string::npos; start = dot + 1)
            components.push_back(name.substr(start, dot - start));
        components.push_back(name.substr(start));
        std::reverse(components.begin(), components.end());
        nw::ObjectId id = -1;
        nw::DirectoryBackend* backend = nw::currentBackend();
        if (!backend || backend->resolve(components, id) != 0) return -1;
        return id;
    }

    // An attribute's values straight from the backend (DN values as full names).
    std::vector<std::string> values(const std::string& fullName, const std::string& attribute) {
        nw::DirectoryBackend* backend = nw::currentBackend();
        nw::ObjectId id = idOf(fullName);
        if (!backend || id < 0) return {"<no such object>"};
        nw::Attribute attr;
        if (backend->readAttribute(id, attribute, attr) != 0) return {};
        std::vector<std::string> out;
        for (const auto& v : attr.values) out.push_back(v.text);
        return out;
    }

    bool holds(const std::string& fullName, const std::string& attribute, const std::string& value) {
        auto v = values(fullName, attribute);
        return std::find(v.begin(), v.end(), value) != v.end();
    }

    // Member, Group Membership, Security Equals and Equivalent To Me agree on the user.
    void expectInGroup(const std::string& user, const std::string& group, bool in) {
        EXPECT_EQ(holds(group, "Member", user), in) << user;
        EXPECT_EQ(holds(group, "Equivalent To Me", user), in) << user;
        EXPECT_EQ(holds(user, "Group Membership", group), in) << user;
        EXPECT_EQ(holds(user, "Security Equals", group), in) << user;
    }

    std::vector<std::string> boxTexts() const {
        std::vector<std::string> out;
        for (const auto& b : ports.box.boxes) out.push_back(b.caption + ": " + b.text);
        return out;
    }
};

}  // namespace testsupport
