#include "web/throttle.h"

#include <algorithm>
#include <deque>
#include <list>
#include <mutex>
#include <unordered_map>

namespace web {

namespace {

constexpr int MaxFailures = 5;
constexpr std::time_t Window = 5 * 60;
// Keys remembered at most (logins and addresses together); a flood of invented logins pushes
// out the oldest entries instead of growing without end.
constexpr size_t MaxKeys = 20000;

// Logins compare without regard to ASCII case, as the directories do: "Lehrer1" and "lehrer1"
// share one count.
std::string loginKey(const std::string& login) {
    std::string key = "l:" + login;
    for (char& c : key)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return key;
}

}  // namespace

struct LoginThrottle::Impl {
    struct Entry {
        std::deque<std::time_t> failures;  // at most MaxFailures, oldest first
        std::list<std::string>::iterator age;
    };
    std::mutex mutex;
    std::unordered_map<std::string, Entry> entries;
    std::list<std::string> byAge;  // most recently failed first

    // Seconds until key may try again; 0 when it may now.
    int wait(const std::string& key, std::time_t now) {
        auto it = entries.find(key);
        if (it == entries.end()) return 0;
        auto& failures = it->second.failures;
        while (!failures.empty() && now - failures.front() >= Window) failures.pop_front();
        if (failures.empty()) {
            byAge.erase(it->second.age);
            entries.erase(it);
            return 0;
        }
        if (failures.size() < static_cast<size_t>(MaxFailures)) return 0;
        return static_cast<int>(failures.front() + Window - now);
    }

    void fail(const std::string& key, std::time_t now) {
        auto it = entries.find(key);
        if (it == entries.end()) {
            if (entries.size() >= MaxKeys) {
                entries.erase(byAge.back());
                byAge.pop_back();
            }
            byAge.push_front(key);
            it = entries.emplace(key, Entry{{}, byAge.begin()}).first;
        } else {
            byAge.splice(byAge.begin(), byAge, it->second.age);
        }
        auto& failures = it->second.failures;
        failures.push_back(now);
        while (failures.size() > static_cast<size_t>(MaxFailures)) failures.pop_front();
    }

    void forget(const std::string& key) {
        auto it = entries.find(key);
        if (it == entries.end()) return;
        byAge.erase(it->second.age);
        entries.erase(it);
    }
};

std::shared_ptr<LoginThrottle::Impl> LoginThrottle::makeImpl() { return std::make_shared<Impl>(); }

// Logins and addresses share one table under distinct prefixes, so neither can shadow the other.
bool LoginThrottle::allowed(const std::string& login, const std::string& address, std::time_t now, int& retryAfter) {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    retryAfter = std::max(impl_->wait(loginKey(login), now), impl_->wait("a:" + address, now));
    return retryAfter == 0;
}

void LoginThrottle::failed(const std::string& login, const std::string& address, std::time_t now) {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    impl_->fail(loginKey(login), now);
    impl_->fail("a:" + address, now);
}

// A success clears the login's count but not the address's: one teacher's good password must
// not reset the tries of someone guessing other logins from the same machine.
void LoginThrottle::succeeded(const std::string& login, const std::string&) {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    impl_->forget(loginKey(login));
}

}  // namespace web
