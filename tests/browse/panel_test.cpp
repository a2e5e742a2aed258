// The browser panel model over the demo school tree, through the real directory layer.
#include "browse/browse.h"
#include "nwapi/nwapi.h"
#include "platform/recording.h"
#include "temp_trees.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

using browse::ListingResult;
using browse::NameList;

namespace {

const NameList kBrowserKlassen = {"Organizational Unit", "Organization", "User", "Workstation"};
const NameList kPickerGroupKlassen = {"Organizational Unit", "Organization", "Group"};

class PanelTest : public ::testing::Test {
protected:
    void SetUp() override {
        text::setLocaleForTesting("de_DE");
        testsupport::useDemoTree(dir);
        bool ok = false;
        nwapi::InitNWConnection(ok);
        ASSERT_TRUE(ok) << "no connection to the demo tree";
        nwapi::SetzeContext("[root]");
        browse::InitKlassenSymbole();
        options.displayClasses = &kBrowserKlassen;
        ports.box.boxes.clear();
    }
    void TearDown() override {
        nwapi::DoneNWConnection();
        nwapi::resetLayerForTesting();
        text::setLocaleForTesting("");
    }

    static std::vector<std::string> captions(const browse::BrowserPanel& p) {
        std::vector<std::string> c;
        for (const auto& r : p.rows()) c.push_back(r.caption);
        return c;
    }

    // The first container below `context` (as the raw listing gives it) whose own listing has
    // nothing of the display classes.
    static std::string containerWithoutDisplayClasses(const std::string& context) {
        NameList raw;
        nwapi::ListeUnterobjekte(context, raw, 1);
        for (const auto& e : raw) {
            const std::string name = browse::NameAusEintrag(e);
            NameList below;
            nwapi::ListeUnterobjekte(name + "." + context, below, 0);
            browse::FilterKlassen(&kBrowserKlassen, below);
            if (below.empty()) return name;
        }
        return {};
    }

    testsupport::TempDir dir;
    platform::RecordingPorts ports;
    browse::ListingOptions options;
    browse::BrowserPanel panel;
};

TEST_F(PanelTest, ListsAContextSortedWithUpRowIconsAndFullNames) {
    ASSERT_EQ(panel.ZeigeContext("PROJEKTE.UNTERRICHT", options), ListingResult::Shown);
    EXPECT_TRUE(text::equalsAsciiNoCase(panel.AktContext(), "PROJEKTE.UNTERRICHT")) << panel.AktContext();
    ASSERT_GE(panel.rows().size(), 2u);
    EXPECT_EQ(panel.rows()[0].caption, "..");
    EXPECT_EQ(panel.rows()[0].icon, 0);

    // rows, entries and full names run parallel; full names use the context as requested
    ASSERT_EQ(panel.CtxEintraege().size(), panel.rows().size());
    ASSERT_EQ(panel.CtxVolleNamen().size(), panel.rows().size());
    for (size_t i = 0; i < panel.rows().size(); ++i) {
        EXPECT_EQ(panel.rows()[i].caption, browse::NameAusEintrag(panel.CtxEintraege()[i]));
        EXPECT_EQ(panel.rows()[i].icon, browse::SymbolIndex(panel.CtxEintraege()[i]));
        EXPECT_EQ(panel.CtxVolleNamen()[i], panel.rows()[i].caption + ".PROJEKTE.UNTERRICHT");
    }
    // the deny groups live here but are no display class
    const auto c = captions(panel);
    EXPECT_EQ(std::count(c.begin(), c.end(), "G_User_Internet_Deny"), 0);
    EXPECT_EQ(std::count(c.begin(), c.end(), "Gast01"), 1);
    for (size_t i = 1; i < panel.rows().size(); ++i) {
        const int icon = panel.rows()[i].icon;
        EXPECT_TRUE(icon == browse::SymbolUser || icon == 50 || icon == browse::SymbolOrganization ||
                    icon == browse::SymbolOrganizationalUnit)
            << panel.rows()[i].caption;
    }
    NameList sorted(panel.CtxEintraege().begin() + 1, panel.CtxEintraege().end());
    browse::SortiereEintraege(sorted);
    EXPECT_TRUE(std::equal(sorted.begin(), sorted.end(), panel.CtxEintraege().begin() + 1));
    // the hourglass showed and is gone again
    EXPECT_GE(ports.cursor.pushes, 1);
    EXPECT_EQ(ports.cursor.depth, 0);
}

TEST_F(PanelTest, RootHasNoUpRowAndNoCountryOrLocality) {
    ASSERT_EQ(panel.ZeigeContext("[ROOT]", options), ListingResult::Shown);
    ASSERT_FALSE(panel.rows().empty());
    EXPECT_NE(panel.rows()[0].caption, "..");
    for (const auto& e : panel.CtxEintraege()) {
        EXPECT_NE(browse::KlasseAusEintrag(e), "Country");
        EXPECT_NE(browse::KlasseAusEintrag(e), "Locality");
    }
    const auto c = captions(panel);
    const auto it = std::find(c.begin(), c.end(), "UNTERRICHT");
    ASSERT_NE(it, c.end());
    // requested as "[ROOT]": the full name carries that suffix, cut off by whoever uses it
    EXPECT_EQ(panel.CtxVolleNamen()[size_t(it - c.begin())], "UNTERRICHT.[ROOT]");
}

TEST_F(PanelTest, ContainerWithoutDisplayClassesIsNotEntered) {
    ASSERT_EQ(panel.ZeigeContext("UNTERRICHT", options), ListingResult::Shown);
    const std::string empty = containerWithoutDisplayClasses("UNTERRICHT");
    ASSERT_FALSE(empty.empty()) << "the demo tree needs an OU without users or containers";
    const auto rowsBefore = captions(panel);
    const NameList namesBefore = panel.CtxVolleNamen();
    ports.box.boxes.clear();

    EXPECT_EQ(panel.Navigiere(empty, {}, options), ListingResult::Unchanged);
    EXPECT_EQ(captions(panel), rowsBefore);
    EXPECT_EQ(panel.CtxVolleNamen(), namesBefore);
    EXPECT_TRUE(text::equalsAsciiNoCase(panel.AktContext(), "UNTERRICHT"));
    EXPECT_TRUE(text::equalsAsciiNoCase(nwapi::HoleAktContext(), "UNTERRICHT"));
    EXPECT_TRUE(ports.box.boxes.empty());  // no message for this
}

TEST_F(PanelTest, GoingBackReturnsToThePanelsOwnContext) {
    ASSERT_EQ(panel.ZeigeContext("PROJEKTE.UNTERRICHT", options), ListingResult::Shown);
    // another browser (the picker) moves the layer meanwhile
    browse::BrowserPanel picker;
    ASSERT_EQ(picker.ZeigeContext("UNTERRICHT", options), ListingResult::Shown);
    ASSERT_TRUE(text::equalsAsciiNoCase(nwapi::HoleAktContext(), "UNTERRICHT"));

    // a group holds nothing of the display classes: not entered
    EXPECT_EQ(panel.Navigiere("G_User_Internet_Deny", {}, options), ListingResult::Unchanged);
    EXPECT_TRUE(text::equalsAsciiNoCase(panel.AktContext(), "PROJEKTE.UNTERRICHT")) << panel.AktContext();
    EXPECT_TRUE(text::equalsAsciiNoCase(nwapi::HoleAktContext(), "PROJEKTE.UNTERRICHT"))
        << nwapi::HoleAktContext();
    // and relative names resolve where the rows are
    EXPECT_TRUE(nwapi::ObjektExistiert("Gast01"));
}

TEST_F(PanelTest, FailedChangeCountsAsGoingBack) {
    ASSERT_EQ(panel.ZeigeContext("PROJEKTE.UNTERRICHT", options), ListingResult::Shown);
    const auto rowsBefore = captions(panel);
    const NameList entriesBefore = panel.CtxEintraege();
    const NameList namesBefore = panel.CtxVolleNamen();
    ports.box.boxes.clear();

    EXPECT_EQ(panel.ZeigeContext("GIBTESNICHT.UNTERRICHT", options), ListingResult::Unchanged);
    ASSERT_EQ(ports.box.boxes.size(), 1u);  // reported once, by the layer
    EXPECT_EQ(ports.box.boxes[0].caption, "NDS-Fehler");
    EXPECT_EQ(captions(panel), rowsBefore);
    EXPECT_EQ(panel.CtxEintraege(), entriesBefore);
    EXPECT_EQ(panel.CtxVolleNamen(), namesBefore);
    EXPECT_TRUE(text::equalsAsciiNoCase(panel.AktContext(), "PROJEKTE.UNTERRICHT"));
    EXPECT_TRUE(nwapi::ObjektExistiert("Gast01"));

    // also when the picker had moved the layer away: the layer comes back to the rows' context
    browse::BrowserPanel picker;
    ASSERT_EQ(picker.ZeigeContext("UNTERRICHT", options), ListingResult::Shown);
    EXPECT_EQ(panel.ZeigeContext("GIBTESNICHT.UNTERRICHT", options), ListingResult::Unchanged);
    EXPECT_TRUE(text::equalsAsciiNoCase(nwapi::HoleAktContext(), "PROJEKTE.UNTERRICHT"))
        << nwapi::HoleAktContext();
    EXPECT_TRUE(nwapi::ObjektExistiert("Gast01"));
}

TEST_F(PanelTest, RequestsDuringAListingAreIgnored) {
    ASSERT_EQ(panel.ZeigeContext("UNTERRICHT", options), ListingResult::Shown);
    int nested = 0;
    ListingResult nestedResult = ListingResult::Shown;
    bool busyInside = false;
    ports.pump.onPump = [&](int) {
        if (nested++ > 0) return;
        busyInside = panel.busy();
        nestedResult = panel.Navigiere("..", {}, options);  // a double-click arriving mid-listing
    };
    ASSERT_EQ(panel.ZeigeContext("PROJEKTE.UNTERRICHT", options), ListingResult::Shown);
    ports.pump.onPump = nullptr;
    EXPECT_GT(nested, 0) << "the listing never pumped messages";
    EXPECT_TRUE(busyInside);
    EXPECT_EQ(nestedResult, ListingResult::Ignored);
    EXPECT_FALSE(panel.busy());
    EXPECT_TRUE(text::equalsAsciiNoCase(panel.AktContext(), "PROJEKTE.UNTERRICHT"));
    EXPECT_EQ(panel.CtxVolleNamen().back().substr(panel.CtxVolleNamen().back().find('.')),
              ".PROJEKTE.UNTERRICHT");
}

TEST_F(PanelTest, UpRowRespectsBarriers) {
    ASSERT_EQ(panel.ZeigeContext("PROJEKTE.UNTERRICHT", options), ListingResult::Shown);
    // base container with its switch off: ".." is shown but does nothing
    std::vector<browse::UpBarrier> barriers = {{"projekte.unterricht", false}, {"[ROOT]", false}};
    EXPECT_FALSE(panel.NavigationTarget("..", barriers).has_value());
    EXPECT_EQ(panel.Navigiere("..", barriers, options), ListingResult::Unchanged);
    EXPECT_TRUE(text::equalsAsciiNoCase(panel.AktContext(), "PROJEKTE.UNTERRICHT"));

    // user switch on, workstation switch off, both containers equal: still refused
    barriers = {{"PROJEKTE.UNTERRICHT", true}, {"PROJEKTE.UNTERRICHT", false}};
    EXPECT_FALSE(panel.NavigationTarget("..", barriers).has_value());

    // switch on: climbs to the parent, then on to the root
    barriers = {{"PROJEKTE.UNTERRICHT", true}, {"[ROOT]", false}};
    EXPECT_EQ(panel.Navigiere("..", barriers, options), ListingResult::Shown);
    EXPECT_TRUE(text::equalsAsciiNoCase(panel.AktContext(), "UNTERRICHT"));
    EXPECT_EQ(panel.Navigiere("..", barriers, options), ListingResult::Shown);
    EXPECT_TRUE(browse::IstRootContext(panel.AktContext())) << panel.AktContext();
    EXPECT_NE(panel.rows().front().caption, "..");
    // and down again into the object of a row
    EXPECT_EQ(panel.Navigiere("UNTERRICHT", barriers, options), ListingResult::Shown);
    EXPECT_TRUE(text::equalsAsciiNoCase(panel.AktContext(), "UNTERRICHT"));
}

TEST_F(PanelTest, NameFiltersApplyWithoutChangingTheSettingsLists) {
    browse::NameFilters filters;
    filters.hideLeaves = {"Gast0"};
    filters.showContainers = {"*"};
    options.filters = &filters;
    ASSERT_EQ(panel.ZeigeContext("PROJEKTE.UNTERRICHT", options), ListingResult::Shown);
    for (const auto& r : panel.rows()) EXPECT_EQ(r.caption.find("Gast0"), std::string::npos) << r.caption;
    EXPECT_EQ(panel.rows().front().caption, "..");
    EXPECT_EQ(filters.showContainers, NameList{"*"});
    ASSERT_EQ(panel.CtxVolleNamen().size(), panel.rows().size());
}

TEST_F(PanelTest, PickerConfigurationListsGroupsAndReportsItsContext) {
    std::vector<std::string> labels;
    options.displayClasses = &kPickerGroupKlassen;
    options.onAktContext = [&](const std::string& c) { labels.push_back(c); };
    ASSERT_EQ(panel.ZeigeContext("PROJEKTE.UNTERRICHT", options), ListingResult::Shown);
    const auto c = captions(panel);
    EXPECT_EQ(std::count(c.begin(), c.end(), "G_User_Internet_Deny"), 1);
    EXPECT_EQ(std::count(c.begin(), c.end(), "Gast01"), 0);
    ASSERT_EQ(labels.size(), 1u);
    EXPECT_TRUE(text::equalsAsciiNoCase(labels[0], "PROJEKTE.UNTERRICHT"));

    // a group is not entered; whatever the label showed meanwhile, it ends at the rows' context
    labels.clear();
    EXPECT_EQ(panel.Navigiere("G_User_Internet_Deny", {}, options), ListingResult::Unchanged);
    if (!labels.empty()) {
        EXPECT_TRUE(text::equalsAsciiNoCase(labels.back(), "PROJEKTE.UNTERRICHT"));
    }
    EXPECT_TRUE(text::equalsAsciiNoCase(panel.AktContext(), "PROJEKTE.UNTERRICHT"));
    // a picker that starts at the root with going higher off
    browse::BrowserPanel atRoot;
    ASSERT_EQ(atRoot.ZeigeContext("[ROOT]", options), ListingResult::Shown);
    EXPECT_FALSE(atRoot.NavigationTarget("..", {{"[ROOT]", false}}).has_value());
}

}  // namespace
