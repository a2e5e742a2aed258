// Failed logins are slowed per login and per address: after five failures within five minutes
// the next try waits until the oldest of them is five minutes old, which stays below a
// directory's own lockout. Thread-safe; memory is bounded by forgetting the oldest entries.
#pragma once

#include <ctime>
#include <memory>
#include <string>

namespace web {

class LoginThrottle {
public:
    // True when a login may be tried now; else retryAfter gets the seconds to wait.
    bool allowed(const std::string& login, const std::string& address, std::time_t now, int& retryAfter);
    void failed(const std::string& login, const std::string& address, std::time_t now);
    void succeeded(const std::string& login, const std::string& address);

private:
    struct Impl;
    std::shared_ptr<Impl> impl_ = makeImpl();
    static std::shared_ptr<Impl> makeImpl();
};

}  // namespace web
