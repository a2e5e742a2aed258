// The directory layer connected to a temporary tree (the demo school or a generated one), with
// recorded boxes, and optionally through the fault-injecting backend.
//
// The demo school runs on either backend: TEST_P cases instantiated with BOTH_BACKENDS run once on
// the embedded tree and once on a private slapd loaded with the same school's LDIF export. TEST_F
// cases (generated trees, stored-file specifics) stay on the embedded tree. ALL_BACKENDS adds a
// Samba AD domain controller (one per test program, the school set back for each case), where the
// directory keeps a membership in the group's member alone.
#pragma once

#include "nwapi/nwapi.h"
#include "nwclient/client_setup.h"
#include "nwclient/embedded/tree_builder.h"
#include "nwclient/embedded/tree_store.h"
#include "nwclient/fault_backend.h"
#include "platform/recording.h"
#include "samba_fixture.h"
#include "slapd_fixture.h"
#include "temp_trees.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>
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
    // Recorded as the Member change it is.
    nw::NWDSCCODE changeMembers(nw::ObjectId group, bool add, const std::vector<nw::ObjectId>& users,
                                const BatchAnswer& answer, const BatchCancel& cancel) override {
        nw::Change change{add ? nw::DS_ADDITIONAL_VALUE : nw::DS_REMOVE_VALUE, "Member", nw::SYN_DIST_NAME, {}};
        for (nw::ObjectId user : users) {
            nw::AttrValue value;
            inner().fullNameOf(user, value.text);
            change.values.push_back(value);
        }
        requests.push_back({group, {change}});
        return FaultBackend::changeMembers(group, add, users, answer, cancel);
    }
};

enum class Backend { Embedded, Ldap, Ad };

inline const char* backendText(Backend backend) {
    return backend == Backend::Embedded ? "Embedded" : backend == Backend::Ldap ? "Ldap" : "Ad";
}

inline void PrintTo(Backend backend, std::ostream* out) { *out << backendText(backend); }

inline std::string backendName(const ::testing::TestParamInfo<Backend>& info) { return backendText(info.param); }

#define BOTH_BACKENDS(Fixture)                                                                                  \
    INSTANTIATE_TEST_SUITE_P(Backends, Fixture,                                                                \
                             ::testing::Values(testsupport::Backend::Embedded, testsupport::Backend::Ldap),   \
                             testsupport::backendName)

#define ALL_BACKENDS(Fixture)                                                                                   \
    INSTANTIATE_TEST_SUITE_P(Backends, Fixture,                                                                \
                             ::testing::Values(testsupport::Backend::Embedded, testsupport::Backend::Ldap,     \
                                               testsupport::Backend::Ad),                                      \
                             testsupport::backendName)

class LayerTest : public ::testing::TestWithParam<Backend> {
protected:
    TempDir dir;
    platform::RecordingPorts ports;
    RecordingFaults* faults = nullptr;
    std::string treeFile;
    std::unique_ptr<ldaptest::Slapd> server;  // on Ldap, from connectDemo() or startDemo()
    std::unique_ptr<adtest::SambaDc> dc;      // on Ad, from connectDemo() or startDemo()
    std::map<std::string, std::string> adSettings;  // more nwclient.conf keys on Ad (lower-case)

    void SetUp() override {
        nwapi::resetLayerForTesting();
        nw::resetClient();
    }
    void TearDown() override {
        nwapi::DoneNWConnection();
        nw::resetClient();
        nwapi::resetLayerForTesting();
    }

    // The backend of this case: the parameter of a TEST_P case, the embedded tree for TEST_F.
    Backend backend() const {
        const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
        return info && info->value_param() ? GetParam() : Backend::Embedded;
    }
    bool onLdap() const { return backend() == Backend::Ldap; }
    // Group Membership, Security Equals and Equivalent To Me are kept (not on AD).
    bool keepsAllPlaces() const { return backend() != Backend::Ad; }

    // The demo school, through the fault-injecting backend when asked.
    void connectDemo(bool withFaults = false, const std::string& operatorName = "admin.UNTERRICHT") {
        startDemo(operatorName);
        connect(withFaults, operatorName);
    }

    // The demo school's tree file, and on Ldap a server loaded with its export; not yet connected.
    void startDemo(const std::string& operatorName = "admin.UNTERRICHT") {
        useDemoTree(dir, operatorName);
        treeFile = dir.file("school.tree");
        if (onLdap() && !server) startServer();
        if (backend() == Backend::Ad && !dc) dc = std::make_unique<adtest::SambaDc>();
    }

    // On Ldap: (re)loads a server from the tree file as it stands now.
    void startServer() {
        server.reset();
        const std::string ldif = ldaptest::exportTree(treeFile, dir.file("school.ldif"));
        // A generated school has no teachers and no guests; the server's operators need entries.
        std::string text = readFile(ldif);
        auto missing = [&](const std::string& name) { return text.find("dn: " + ldaptest::dnOf(name) + "\n") == std::string::npos; };
        std::string more;
        if (missing("LEHRER.UNTERRICHT"))
            more += "dn: " + ldaptest::dnOf("LEHRER.UNTERRICHT") + "\nobjectClass: organizationalUnit\nou: LEHRER\n\n";
        if (missing(ldaptest::TEACHER))
            more += "dn: " + ldaptest::dnOf(ldaptest::TEACHER) + "\nobjectClass: inetOrgPerson\ncn: lehrer1\nsn: Lehrer\n\n";
        if (missing(ldaptest::PLAIN))
            more += "dn: " + ldaptest::dnOf(ldaptest::PLAIN) + "\nobjectClass: inetOrgPerson\ncn: Gast05\nsn: Gast\n\n";
        if (!more.empty()) writeFile(ldif, text + "\n" + more);
        server = std::make_unique<ldaptest::Slapd>(ldif);
    }

    static std::string serverRole(const std::string& operatorName) {
        if (operatorName == ldaptest::ADMIN) return "admin";
        if (operatorName == ldaptest::TEACHER) return "teacher";
        ADD_FAILURE() << "the test server knows no operator " << operatorName;
        return "plain";
    }

    // A generated school: users U0000001.. in containers K00001.. below SCHUELER.UNTERRICHT.
    // On Ldap, the server is loaded with its export.
    void connectGenerated(int users, int containers, int denyMembers = 0, bool withFaults = false) {
        generate(users, containers, denyMembers);
        if (onLdap()) startServer();
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
        ASSERT_EQ(onLdap(), server != nullptr) << "an Ldap case must start its server first";
        nw::ClientConfig config;
        config.operatorName = operatorName;
        if (dc) {
            const std::string role = serverRole(operatorName);
            std::string lines = "Directory=ad\n";
            for (const auto& [key, value] : adSettings) lines += key + "=" + value + "\n";
            config.file = dc->useAs(role, lines);
            config.tree = dc->url();
            config.values = {{"base", adtest::BASE}, {"passwordfile", dc->passwordFile(role)}, {"timeout", "5"}, {"directory", "ad"}};
            config.values.insert(adSettings.begin(), adSettings.end());
        } else if (server) {
            const std::string role = serverRole(operatorName);
            config.file = server->useAs(role);
            config.tree = server->url();
            config.values = {{"base", ldaptest::BASE}, {"passwordfile", server->passwordFile(role)}, {"timeout", "5"}};
        } else {
            config.file = dir.file("nwclient.conf");
            config.tree = "sqlite:" + treeFile;
        }
        if (withFaults) {
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

    // Member, Group Membership, Security Equals and Equivalent To Me agree on the user: as the
    // backend reads them and, on Ldap, as ldapsearch shows them (no cache of ours in between).
    void expectInGroup(const std::string& user, const std::string& group, bool in) {
        EXPECT_EQ(holds(group, "Member", user), in) << user;
        if (dc) {
            // AD's one place, and none of the others at all.
            EXPECT_EQ(dc->holdsDn(dc->dn(group), "member", dc->dn(user)), in) << "ldapsearch: " << user;
            for (const char* place : {"Equivalent To Me", "Group Membership", "Security Equals"})
                EXPECT_TRUE(values(place[0] == 'E' ? group : user, place).empty()) << place;
            return;
        }
        EXPECT_EQ(holds(group, "Equivalent To Me", user), in) << user;
        EXPECT_EQ(holds(user, "Group Membership", group), in) << user;
        EXPECT_EQ(holds(user, "Security Equals", group), in) << user;
        if (!server) return;
        const std::string userDn = ldaptest::dnOf(user), groupDn = ldaptest::dnOf(group);
        EXPECT_EQ(server->holdsDn(groupDn, "member", userDn), in) << "ldapsearch: " << user;
        EXPECT_EQ(server->holdsDn(groupDn, "equivalentToMe", userDn), in) << "ldapsearch: " << user;
        EXPECT_EQ(server->holdsDn(userDn, "groupMembership", groupDn), in) << "ldapsearch: " << user;
        EXPECT_EQ(server->holdsDn(userDn, "securityEquals", groupDn), in) << "ldapsearch: " << user;
    }

    std::vector<std::string> boxTexts() const {
        std::vector<std::string> out;
        for (const auto& b : ports.box.boxes) out.push_back(b.caption + ": " + b.text);
        return out;
    }
};

}  // namespace testsupport
