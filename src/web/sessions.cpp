#include "web/sessions.h"

#include <algorithm>
#include <cerrno>
#include <crypt.h>
#include <stdexcept>
#include <sys/random.h>

namespace web {

std::string randomHex(size_t bytes) {
    std::string raw(bytes, '\0');
    size_t got = 0;
    while (got < bytes) {
        ssize_t n = getrandom(raw.data() + got, bytes - got, 0);
        if (n < 0 && errno == EINTR) continue;
        // Without the kernel's randomness no session id may be handed out at all.
        if (n <= 0) throw std::runtime_error("getrandom failed");
        got += size_t(n);
    }
    static const char digits[] = "0123456789abcdef";
    std::string out;
    out.reserve(bytes * 2);
    for (unsigned char c : raw) {
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

bool sameSecret(const std::string& a, const std::string& b) {
    if (a.size() != b.size() || a.empty()) return false;
    unsigned char diff = 0;
    for (size_t i = 0; i < a.size(); ++i) diff |= static_cast<unsigned char>(a[i] ^ b[i]);
    return diff == 0;
}

WorkerSlots::Slot& WorkerSlots::Slot::operator=(Slot&& other) noexcept {
    if (this != &other) {
        release();
        owner_ = other.owner_;
        other.owner_ = nullptr;
    }
    return *this;
}

void WorkerSlots::Slot::release() {
    if (owner_) owner_->used_.fetch_sub(1);
    owner_ = nullptr;
}

WorkerSlots::Slot WorkerSlots::take() {
    int used = used_.load();
    while (used < limit_)
        if (used_.compare_exchange_weak(used, used + 1)) return Slot(this);
    return Slot();
}

namespace {
constexpr std::time_t BasicIdleSeconds = 60;
constexpr size_t BasicIdlePerLogin = 2;
}  // namespace

BasicPool::BasicPool() {
    static const char alphabet[] = "./0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
    salt_ = "$5$rounds=1000$";
    for (char c : randomHex(16)) salt_ += alphabet[(unsigned char)c % 64];
    salt_ += "$";
}

std::string BasicPool::digest(const std::string& password) const {
    auto data = std::make_unique<crypt_data>();
    const char* hashed = crypt_r(password.c_str(), salt_.c_str(), data.get());
    // A failed hash ("*0" and the like) must never match another failed one.
    if (!hashed || hashed[0] != '$') return {};
    return hashed;
}

std::shared_ptr<BasicWorker> BasicPool::take(const std::string& login, const std::string& digest) {
    std::shared_ptr<BasicWorker> found;
    {
        std::lock_guard lock(mutex_);
        auto [first, last] = idle_.equal_range(login);
        for (auto it = first; it != last; ++it)
            if (sameSecret(it->second.worker->digest, digest)) {
                found = std::move(it->second.worker);
                idle_.erase(it);
                break;
            }
    }
    if (found && !found->worker->alive()) return nullptr;  // ends here; the caller starts another
    return found;
}

void BasicPool::give(std::shared_ptr<BasicWorker> worker, std::time_t now) {
    if (!worker || worker->digest.empty() || !worker->worker->alive()) return;
    const std::string login = worker->login;
    std::lock_guard lock(mutex_);
    if (idle_.count(login) >= BasicIdlePerLogin) return;  // ends as the caller drops it
    idle_.emplace(login, Idle{std::move(worker), now});
}

void BasicPool::remember(const std::string& login, const std::string& digest, std::time_t now) {
    if (digest.empty()) return;
    std::lock_guard lock(mutex_);
    accepted_[login] = {digest, now};
}

bool BasicPool::recentlyAccepted(const std::string& login, const std::string& digest, std::time_t now) {
    std::lock_guard lock(mutex_);
    auto it = accepted_.find(login);
    return it != accepted_.end() && now - it->second.second < BasicIdleSeconds && !digest.empty() &&
           sameSecret(it->second.first, digest);
}

std::vector<std::shared_ptr<BasicWorker>> BasicPool::expire(std::time_t now, bool everything) {
    std::vector<std::shared_ptr<BasicWorker>> ended;
    std::lock_guard lock(mutex_);
    for (auto it = accepted_.begin(); it != accepted_.end();)
        it = everything || now - it->second.second >= BasicIdleSeconds ? accepted_.erase(it) : std::next(it);
    for (auto it = idle_.begin(); it != idle_.end();) {
        if (everything || now - it->second.since >= BasicIdleSeconds) {
            ended.push_back(std::move(it->second.worker));
            it = idle_.erase(it);
        } else {
            ++it;
        }
    }
    return ended;
}

std::shared_ptr<Session> SessionTable::add(const std::string& login, std::unique_ptr<Worker> worker,
                                           WorkerSlots::Slot slot, std::time_t now) {
    auto session = std::make_shared<Session>();
    session->id = randomHex(32);
    session->token = randomHex(32);
    session->login = login;
    session->teacher = worker->operatorName();
    session->slot = std::move(slot);
    session->worker = std::move(worker);
    session->lastUse = now;
    std::lock_guard lock(mutex_);
    sessions_[session->id] = session;
    return session;
}

std::shared_ptr<Session> SessionTable::find(const std::string& id, std::time_t now) {
    std::shared_ptr<Session> session;
    {
        std::lock_guard lock(mutex_);
        auto it = sessions_.find(id);
        if (it == sessions_.end()) return nullptr;
        if (now - it->second->lastUse > idleSeconds_ || !it->second->worker->alive()) {
            session = std::move(it->second);
            sessions_.erase(it);
        } else {
            it->second->lastUse = std::max(it->second->lastUse, now);
            return it->second;
        }
    }
    return nullptr;  // session's worker ends here, outside the lock
}

std::shared_ptr<Session> SessionTable::remove(const std::string& id) {
    std::lock_guard lock(mutex_);
    auto it = sessions_.find(id);
    if (it == sessions_.end()) return nullptr;
    auto session = std::move(it->second);
    sessions_.erase(it);
    return session;
}

std::vector<std::shared_ptr<Session>> SessionTable::expire(std::time_t now) {
    std::vector<std::shared_ptr<Session>> ended;
    std::lock_guard lock(mutex_);
    for (auto it = sessions_.begin(); it != sessions_.end();) {
        if (now - it->second->lastUse > idleSeconds_ || !it->second->worker->alive()) {
            ended.push_back(std::move(it->second));
            it = sessions_.erase(it);
        } else {
            ++it;
        }
    }
    return ended;
}

}  // namespace web
