#include "web/throttle.h"

#include <gtest/gtest.h>

namespace {

TEST(LoginThrottle, FiveFailuresWithinFiveMinutesSlowTheLoginAndTheAddress) {
    web::LoginThrottle t;
    const std::time_t start = 1'000'000;
    int wait = -1;
    for (int i = 0; i < 5; ++i) {
        EXPECT_TRUE(t.allowed("Lehrer1", "10.0.0.1", start + i * 10, wait)) << i;
        t.failed("Lehrer1", "10.0.0.1", start + i * 10);
    }
    struct Case {
        const char* login;
        const char* address;
        std::time_t at;
        bool allowed;
        int wait;
    } cases[] = {
        {"lehrer1", "10.0.0.2", start + 60, false, 240},  // the login, from elsewhere, in any case
        {"lehrer2", "10.0.0.1", start + 60, false, 240},  // the address, for another login
        {"lehrer2", "10.0.0.2", start + 60, true, 0},
    };
    for (const Case& c : cases) {
        wait = -1;
        EXPECT_EQ(t.allowed(c.login, c.address, c.at, wait), c.allowed) << c.login << " " << c.address;
        EXPECT_EQ(wait, c.wait) << c.login << " " << c.address;
    }
    // A success clears the login but not the address.
    t.succeeded("Lehrer1", "10.0.0.1");
    EXPECT_TRUE(t.allowed("Lehrer1", "10.0.0.2", start + 60, wait));
    EXPECT_FALSE(t.allowed("lehrer2", "10.0.0.1", start + 60, wait));
    // Once the oldest failure is five minutes old, the address may try again.
    EXPECT_TRUE(t.allowed("lehrer2", "10.0.0.1", start + 300, wait));
}

}  // namespace
