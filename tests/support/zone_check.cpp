// Linked into every GoogleTest program. When ctest runs a program under a time zone that is not
// UTC (TARVEL_ZONE_RUN set beside TZ), the run first makes sure the zone took: a TZ string the
// C library did not understand falls back to UTC, and the tests would pass without testing.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

namespace {

long offsetSeconds(std::time_t t) {
    std::tm local{};
    localtime_r(&t, &local);
    return local.tm_gmtoff;
}

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
