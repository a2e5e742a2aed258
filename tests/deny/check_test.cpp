// The consistency check of the deny group and its repair, on every backend: what the check finds
// in a school where two users disagree with Member, and that the repair makes them agree. AD keeps
// Member alone: nobody there can disagree with it, so the check finds nobody half done and the
// repair has nothing to mend.
#include "../nwapi/layer_fixture.h"
#include "deny/check.h"
#include "deny/group_check.h"
#include "nwapi/nwapi.h"

#include <string>

using testsupport::kDenyFull;
using testsupport::LayerTest;
using testsupport::runTreeTool;

namespace {

const std::string kGast01 = "Gast01.PROJEKTE.UNTERRICHT";  // in Member, lost its Security Equals
const std::string kGast03 = "Gast03.PROJEKTE.UNTERRICHT";  // not in Member, kept a Group Membership

}  // namespace

class DenyCheck : public LayerTest {
protected:
    // The demo school with these tree-tool changes ("NAME 'ATTRIBUTE' ..."), connected as the admin.
    // They give users places of their own, which AD does not have: its school stays as loaded.
    void connectWith(const std::vector<std::string>& changes) {
        useDemoTree(dir);
        treeFile = dir.file("school.tree");
        for (const std::string& change : changes) {
            if (!keepsAllPlaces()) break;
            ASSERT_EQ(runTreeTool("set " + treeFile + " " + change), 0);
        }
        if (onLdap()) startServer();
        if (!keepsAllPlaces()) dc = std::make_unique<adtest::SambaDc>();
        connect(false, "admin.UNTERRICHT");
    }
};
ALL_BACKENDS(DenyCheck);

TEST_P(DenyCheck, RepairMakesEveryUserAgreeWithMember) {
    connectWith({kGast01 + " 'Security Equals' 1", kGast03 + " 'Group Membership' 1 " + kDenyFull});

    deny::CheckReport report = deny::checkGroup(kDenyFull);
    EXPECT_TRUE(report.complete);
    if (!keepsAllPlaces()) {
        EXPECT_TRUE(report.partial.empty()) << report.partial.front().user;
        EXPECT_EQ(report.members, dc->values(dc->dn(kDenyFull), "member").size());
        EXPECT_GT(report.members, 1u);
        const deny::RepairResult result = deny::repairGroup(kDenyFull, report);
        EXPECT_EQ(result.done + result.failed + result.settled, 0u);
        EXPECT_TRUE(ports.box.boxes.empty()) << boxTexts().front();
        expectInGroup(kGast01, kDenyFull, true);
        expectInGroup(kGast03, kDenyFull, false);
        return;
    }
    ASSERT_EQ(report.partial.size(), 2u);
    const deny::Places& gast01 = report.partial[0].user == kGast01 ? report.partial[0] : report.partial[1];
    const deny::Places& gast03 = report.partial[0].user == kGast03 ? report.partial[0] : report.partial[1];
    EXPECT_EQ(gast01.user, kGast01);
    EXPECT_TRUE(gast01.member && gast01.equivalentToMe && gast01.groupMembership && !gast01.securityEquals);
    EXPECT_EQ(gast03.user, kGast03);
    EXPECT_TRUE(!gast03.member && !gast03.equivalentToMe && gast03.groupMembership && !gast03.securityEquals);

    const deny::RepairResult result = deny::repairGroup(kDenyFull, report);
    EXPECT_EQ(result.done, 2u);
    EXPECT_EQ(result.failed, 0u);
    EXPECT_TRUE(ports.box.boxes.empty()) << boxTexts().front();
    expectInGroup(kGast01, kDenyFull, true);
    expectInGroup(kGast03, kDenyFull, false);

    report = deny::checkGroup(kDenyFull);
    EXPECT_TRUE(report.complete);
    EXPECT_TRUE(report.partial.empty()) << report.partial.front().user;
}

// A repair reads again before it writes: a user half way through another operator's stop when
// the check ran, and completed since, is left whole.
TEST_P(DenyCheck, RepairLeavesAloneWhatAChangeCompletedSinceTheCheck) {
    connectWith({kGast03 + " 'Group Membership' 1 " + kDenyFull});

    const deny::CheckReport report = deny::checkGroup(kDenyFull);
    ASSERT_EQ(report.partial.size(), keepsAllPlaces() ? 1u : 0u);
    text::NameList users{kGast03};
    ASSERT_TRUE(nwapi::AddMultipleUsersToGroup(users, "." + kDenyFull));  // the stop completes

    const deny::RepairResult result = deny::repairGroup(kDenyFull, report);
    EXPECT_EQ(result.done, 0u);
    EXPECT_EQ(result.settled, keepsAllPlaces() ? 1u : 0u);
    EXPECT_TRUE(ports.box.boxes.empty()) << boxTexts().front();
    expectInGroup(kGast03, kDenyFull, true);
}

// A deny group that is no group is refused; what an earlier stop left on users naming it is
// found and removed.
TEST_P(DenyCheck, ADenyGroupThatIsNoGroupIsRefusedAndItsStrayValuesGo) {
    const std::string admin = "admin.UNTERRICHT";
    connectWith({kGast03 + " 'Group Membership' 1 " + admin, kGast03 + " 'Security Equals' 1 " + admin});
    const size_t strays = keepsAllPlaces() ? 2u : 0u;  // AD has no place for them

    const std::pair<std::string, deny::GroupState> states[] = {
        {kDenyFull, deny::GroupState::Group},
        {"." + kDenyFull, deny::GroupState::Group},
        {admin, deny::GroupState::NotAGroup},
        {"SCHUELER.UNTERRICHT", deny::GroupState::NotAGroup},
        {"Nichts.UNTERRICHT", deny::GroupState::Missing},
    };
    for (const auto& [name, state] : states) EXPECT_EQ(deny::denyGroupState(name), state) << name;
    EXPECT_EQ(deny::denyGroupProblem(admin), admin + " ist keine Gruppe (Klasse User): nichts wurde geändert.");

    deny::CheckReport report = deny::checkGroup(admin);
    EXPECT_EQ(report.notAGroup, "User");
    EXPECT_TRUE(report.partial.empty());
    EXPECT_TRUE(report.complete);
    ASSERT_EQ(report.stray.size(), strays);
    for (const deny::Repeated& stray : report.stray) EXPECT_EQ(stray.object + " " + stray.value, kGast03 + " " + admin);
    const deny::RepairResult result = deny::repairGroup(admin, report);
    EXPECT_EQ(result.done, strays);
    EXPECT_EQ(result.failed, 0u);
    EXPECT_TRUE(values(kGast03, "Group Membership").empty());
    EXPECT_TRUE(values(kGast03, "Security Equals").empty());
    EXPECT_TRUE(deny::checkGroup(admin).stray.empty());
    EXPECT_TRUE(ports.box.boxes.empty()) << boxTexts().front();
}
