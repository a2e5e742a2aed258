// Linked into every GoogleTest program: the surroundings each test runs in.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

namespace {

// Changes through the deny job write the audit trail: into the build folder, never into the
// operator's home, also when a test program is started by hand. (ctest cannot pass this beside
// LC_ALL: gtest_discover_tests spreads a property's list over separate words, and the labels
// after it would be lost.)
const bool stateInBuildFolder = ::setenv("XDG_STATE_HOME", TARVEL_TEST_STATE_HOME, 1) == 0;

long offsetSeconds(std::time_t t) {
    std::tm local{};
    localtime_r(&t, &local);
    return local.tm_gmtoff;
}

// When ctest runs a program under a time zone that is not UTC (TARVEL_ZONE_RUN set beside TZ),
// the run first makes sure the zone took: a TZ string the C library did not understand falls
// back to UTC, and the tests would pass without testing.
class ZoneInForce : public ::testing::Environment {
public:
    void SetUp() override {
        if (!std::getenv("TARVEL_ZONE_RUN")) return;
        tzset();
        // January and July, so a zone with summer time is checked in both halves of the year.
        EXPECT_NE(offsetSeconds(1767225600), 0) << "TZ=" << std::getenv("TZ") << " is in force in January";
        EXPECT_NE(offsetSeconds(1782864000), 0) << "TZ=" << std::getenv("TZ") << " is in force in July";
    }
};

const auto* registered = ::testing::AddGlobalTestEnvironment(new ZoneInForce);

}  // namespace
