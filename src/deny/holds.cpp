#include "deny/holds.h"

#include "deny/client_conf.h"
#include "deny/schedule.h"
#include "deny/state_file.h"
#include "platform/ports.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_map>
#include <unordered_set>

namespace deny {

namespace {

constexpr const char* Header =
    "# tarvel holds 1: id, state, since, until (0: for good), tree, deny group, holder, user; tab-separated";

const statefile::Words& words() {
    static const statefile::Words w{"Die Liste der Sperren",
                                    "Die Sperrdatei der Liste der Sperren",
                                    "Die Liste der Sperren kann nicht gelesen werden:",
                                    "Die Liste der Sperren kann nicht geschrieben werden:",
                                    "Die Liste der Sperren kann nicht gesperrt werden:",
                                    "Die Liste der Sperren ist gerade von einem anderen Vorgang gesperrt"};
    return w;
}

// The file's contents. next is never reused, even after every hold is gone: a stop still running
// confirms its intents by id and must never confirm another's.
struct Contents {
    uint64_t next = 1;
    std::vector<Hold> holds;
};

const char* stateName(Hold::State s) {
    switch (s) {
        case Hold::State::Intent: return "intent";
        case Hold::State::Held: return "held";
        case Hold::State::Releasing: return "releasing";
    }
    return "held";
}

bool parseState(const std::string& text, Hold::State& s) {
    if (text == "intent") s = Hold::State::Intent;
    else if (text == "held") s = Hold::State::Held;
    else if (text == "releasing") s = Hold::State::Releasing;
    else return false;
    return true;
}

bool parseNumber(const std::string& text, unsigned long long& value) {
    if (text.empty() || text.size() > 20 || !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return false;
    errno = 0;
    value = std::strtoull(text.c_str(), nullptr, 10);
    return errno == 0;
}

std::vector<std::string> splitTabs(const std::string& line) {
    std::vector<std::string> fields;
    for (size_t start = 0;;) {
        const size_t tab = line.find('\t', start);
        fields.push_back(line.substr(start, tab == std::string::npos ? tab : tab - start));
        if (tab == std::string::npos) return fields;
        start = tab + 1;
    }
}

bool parseHolds(const std::string& text, const std::string& path, Contents& out, std::string& error) {
    std::istringstream in(text);
    std::string line;
    size_t number = 0;
    bool sawNext = false;
    std::unordered_set<uint64_t> ids;
    while (std::getline(in, line)) {
        ++number;
        if (line.empty() || line[0] == '#') continue;
        const std::vector<std::string> f = splitTabs(line);
        bool ok = false;
        unsigned long long id = 0, since = 0, until = 0;
        if (f.size() == 2 && f[0] == "next" && !sawNext) {
            ok = parseNumber(f[1], id) && id > 0;
            out.next = id;
            sawNext = true;
        } else if (f.size() == 8) {
            Hold h;
            ok = parseNumber(f[0], id) && id > 0 && ids.insert(id).second && parseState(f[1], h.state) &&
                 parseNumber(f[2], since) && parseNumber(f[3], until) &&
                 statefile::unescapeField(f[4], h.tree, true) && statefile::unescapeField(f[5], h.group) &&
                 statefile::unescapeField(f[6], h.holder) && statefile::unescapeField(f[7], h.user);
            h.id = id;
            h.since = std::time_t(since);
            h.until = std::time_t(until);
            out.holds.push_back(std::move(h));
        }
        if (!ok) {
            error = platform::joinLines({words().unreadable, path, "Zeile " + std::to_string(number) + " ist kein Eintrag."});
            return false;
        }
    }
    for (const Hold& h : out.holds) {
        if (h.id >= out.next) {
            error = platform::joinLines({words().unreadable, path, "Die Nummer der nächsten Sperre fehlt oder ist zu klein."});
            return false;
        }
    }
    return true;
}

// The collation keys of the names in the file, kept between calls: every update reads and writes
// the whole file again, and a key costs more than all the rest of its line.
class KeyMemo {
public:
    std::string operator()(const std::string& name) {
        std::lock_guard lock(mutex_);
        auto it = keys_.find(name);
        if (it != keys_.end()) return it->second;
        if (keys_.size() >= Limit) keys_.clear();
        return keys_.emplace(name, scheduleKey(name)).first->second;
    }

private:
    static constexpr size_t Limit = size_t(1) << 18;
    std::mutex mutex_;
    std::unordered_map<std::string, std::string> keys_;
};

std::string formatHolds(const Contents& c, KeyMemo& key) {
    // By user then since; keys made once, as a school has tens of thousands of pupils.
    std::vector<std::pair<std::string, const Hold*>> order;
    order.reserve(c.holds.size());
    for (const Hold& h : c.holds) order.emplace_back(key(h.user), &h);
    std::stable_sort(order.begin(), order.end(), [](const auto& a, const auto& b) {
        return a.first != b.first ? a.first < b.first : a.second->since < b.second->since;
    });
    std::string text = std::string(Header) + "\nnext\t" + std::to_string(c.next) + "\n";
    for (const auto& [key, h] : order) {
        text += std::to_string(h->id) + "\t" + stateName(h->state) + "\t" +
                std::to_string(static_cast<long long>(h->since)) + "\t" +
                std::to_string(static_cast<long long>(h->until)) + "\t" + statefile::escapeField(h->tree) + "\t" +
                statefile::escapeField(h->group) + "\t" + statefile::escapeField(h->holder) + "\t" +
                statefile::escapeField(h->user) + "\n";
    }
    return text;
}

std::unordered_set<std::string> keysOf(const text::NameList& names, KeyMemo& key) {
    std::unordered_set<std::string> keys;
    keys.reserve(names.size());
    for (const std::string& n : names) keys.insert(key(n));
    return keys;
}

// A hold that keeps its pupil stopped: an intent or a stop that has not yet come to its end.
bool stands(const Hold& h) { return h.state != Hold::State::Releasing; }

// The folder must be the service's own: anyone else who could write it could swap the file.
bool checkFolder(const std::string& folder, std::string& error) {
    if (::mkdir(folder.c_str(), 0750) != 0 && errno != EEXIST) {
        error = platform::joinLines({"Der Ordner der Sperren kann nicht angelegt werden:", folder, std::strerror(errno)});
        return false;
    }
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    struct stat st {};
    std::string why;
    if (fd < 0) why = errno == ELOOP || errno == ENOTDIR ? "ist kein Ordner (oder ein symbolischer Verweis):" : std::strerror(errno);
    else if (::fstat(fd, &st) != 0) why = std::strerror(errno);
    else if (st.st_uid != ::geteuid()) why = "gehört nicht dem Konto, unter dem Tarvel läuft:";
    else if (st.st_mode & (S_IWGRP | S_IWOTH)) why = "darf von anderen Konten geschrieben werden:";
    if (fd >= 0) ::close(fd);
    if (why.empty()) return true;
    error = platform::joinLines({"Der Ordner der Sperren " + why, folder, "Er wird nicht verwendet."});
    return false;
}

class FileHoldStore : public HoldStore {
public:
    explicit FileHoldStore(const std::string& folder) : path_(folder + "/holds") {}

    // The first read-modify-write: creates the file when there is none yet.
    bool start(std::string& error) { return update(true, [](Contents&) { return false; }, error); }

    bool all(std::vector<Hold>& holds, std::string& error) override {
        holds.clear();
        Contents c;
        if (!read(c, error)) return false;
        holds = std::move(c.holds);
        sortByUser(holds);
        return true;
    }

    bool holdsOn(const text::NameList& users, std::vector<Hold>& holds, std::string& error) override {
        holds.clear();
        Contents c;
        if (!read(c, error)) return false;
        const auto keys = keysOf(users, key_);
        for (Hold& h : c.holds)
            if (keys.count(key_(h.user))) holds.push_back(std::move(h));
        sortByUser(holds);
        return true;
    }

    bool addIntents(const std::string& holder, const text::NameList& users, std::time_t since, std::time_t until,
                    const std::string& tree, const std::string& group, std::vector<uint64_t>& ids,
                    std::string& error) override {
        ids.clear();
        std::vector<uint64_t> made;
        const bool ok = update(false, [&](Contents& c) {
            made.clear();
            for (const std::string& u : users) {
                c.holds.push_back({c.next, u, holder, since, until, tree, group, Hold::State::Intent});
                made.push_back(c.next++);
            }
            return !users.empty();
        }, error);
        if (ok) ids = std::move(made);
        return ok;
    }

    bool confirm(const std::vector<uint64_t>& ids, const text::NameList& inGroup, std::string& error) override {
        const std::unordered_set<uint64_t> wanted(ids.begin(), ids.end());
        const auto in = keysOf(inGroup, key_);
        return update(false, [&](Contents& c) {
            // A teacher's newest stop of a pupil replaces their older one: stopping again "for 10
            // minutes" after "for good" does what the last click says.
            std::unordered_set<std::string> renewed;
            for (Hold& h : c.holds) {
                if (!wanted.count(h.id) || h.state != Hold::State::Intent) continue;
                if (!in.count(key_(h.user))) continue;
                h.state = Hold::State::Held;
                renewed.insert(ownKey(h));
            }
            std::erase_if(c.holds, [&](const Hold& h) {
                if (wanted.count(h.id)) return h.state == Hold::State::Intent;
                return h.state == Hold::State::Held && renewed.count(ownKey(h)) > 0;
            });
            return true;
        }, error);
    }

    bool endOwn(const std::string& holder, const text::NameList& users, text::NameList& nowFree,
                std::vector<Hold>& ended, std::string& error) override {
        nowFree.clear();
        ended.clear();
        const auto keys = keysOf(users, key_);
        const std::string holderKey = key_(holder);
        return update(false, [&](Contents& c) {
            ended.clear();
            nowFree.clear();
            std::unordered_set<std::string> touched, standing;
            std::erase_if(c.holds, [&](Hold& h) {
                const std::string key = key_(h.user);
                if (!keys.count(key)) return false;
                if (key_(h.holder) != holderKey) {
                    if (stands(h)) standing.insert(key);
                    return false;
                }
                touched.insert(key);
                ended.push_back(h);
                return true;
            });
            std::unordered_set<std::string> named;
            for (const std::string& u : users) {
                const std::string key = key_(u);
                if (touched.count(key) && !standing.count(key) && named.insert(key).second) nowFree.push_back(u);
            }
            return !ended.empty();
        }, error);
    }

    bool endAll(const text::NameList& users, std::vector<Hold>& ended, std::string& error) override {
        ended.clear();
        const auto keys = keysOf(users, key_);
        return update(false, [&](Contents& c) {
            ended.clear();
            std::erase_if(c.holds, [&](Hold& h) {
                if (!keys.count(key_(h.user))) return false;
                ended.push_back(h);
                return true;
            });
            return !ended.empty();
        }, error);
    }

    bool beginDue(std::time_t now, text::NameList& toFree, std::string& error) override {
        toFree.clear();
        return update(false, [&](Contents& c) {
            toFree.clear();
            auto isDue = [&](const Hold& h) { return h.state == Hold::State::Held && h.until != 0 && h.until <= now; };
            std::unordered_set<std::string> standing;
            for (const Hold& h : c.holds)
                if (stands(h) && !isDue(h)) standing.insert(key_(h.user));
            bool changed = false;
            std::unordered_set<std::string> listed;
            // Due holds, and those a run before could not free, of pupils nobody else holds: to
            // free. Those of pupils another hold keeps stopped simply end.
            std::erase_if(c.holds, [&](Hold& h) {
                if (!isDue(h) && h.state != Hold::State::Releasing) return false;
                const std::string key = key_(h.user);
                if (standing.count(key)) return changed = true;
                if (h.state != Hold::State::Releasing) {
                    h.state = Hold::State::Releasing;
                    changed = true;
                }
                if (listed.insert(key).second) toFree.push_back(h.user);
                return false;
            });
            return changed;
        }, error);
    }

    bool finishDue(const text::NameList& freed, text::NameList& stopAgain, std::string& error) override {
        stopAgain.clear();
        const auto keys = keysOf(freed, key_);
        return update(false, [&](Contents& c) {
            stopAgain.clear();
            bool changed = false;
            std::unordered_set<std::string> standing;
            std::erase_if(c.holds, [&](const Hold& h) {
                const std::string key = key_(h.user);
                if (!keys.count(key)) return false;
                if (stands(h)) {
                    standing.insert(key);
                    return false;
                }
                return changed = true;
            });
            std::unordered_set<std::string> named;
            for (const std::string& u : freed) {
                const std::string key = key_(u);
                if (standing.count(key) && named.insert(key).second) stopAgain.push_back(u);
            }
            return changed;
        }, error);
    }

private:
    std::string ownKey(const Hold& h) {
        return key_(h.holder) + '\t' + key_(h.user) + '\t' + h.tree + '\t' + key_(h.group);
    }

    void sortByUser(std::vector<Hold>& holds) {
        std::vector<std::pair<std::string, Hold>> keyed;
        keyed.reserve(holds.size());
        for (Hold& h : holds) keyed.emplace_back(key_(h.user), std::move(h));
        std::stable_sort(keyed.begin(), keyed.end(), [](const auto& a, const auto& b) {
            return a.first != b.first ? a.first < b.first : a.second.since < b.second.since;
        });
        holds.clear();
        for (auto& [key, h] : keyed) holds.push_back(std::move(h));
    }

    // A missing file is an error here: open() made it, so someone removed it since, and an
    // empty store would leave pupils stopped for good.
    bool readUnlocked(Contents& c, bool mayCreate, bool& missing, std::string& error) {
        std::string text;
        bool exists = false;
        if (!statefile::readOwnFile(path_, words(), text, exists, error)) return false;
        missing = !exists;
        if (!exists) {
            if (mayCreate) return true;
            error = platform::joinLines({words().unreadable, path_, "Die Datei fehlt."});
            return false;
        }
        return parseHolds(text, path_, c, error);
    }

    // No lock needed: the file is only ever replaced whole, by a rename.
    bool read(Contents& c, std::string& error) {
        bool missing = false;
        return readUnlocked(c, false, missing, error);
    }

    // One read-modify-write of the file. Calls that come while another thread writes wait and are
    // then taken together, in the order they came: one read, their changes one after the other,
    // one write and sync for all of them. Each call returns once its change is on disk.
    bool update(bool mayCreate, const std::function<bool(Contents&)>& change, std::string& error) {
        Pending me;
        me.change = &change;
        me.mayCreate = mayCreate;
        std::unique_lock lock(batchMutex_);
        waiting_.push_back(&me);
        while (!me.done) {
            if (writing_) {
                written_.wait(lock);
                continue;
            }
            writing_ = true;
            std::vector<Pending*> batch;
            batch.swap(waiting_);
            lock.unlock();
            writeBatch(batch);
            lock.lock();
            writing_ = false;
            for (Pending* p : batch) p->done = true;
            written_.notify_all();
        }
        error = me.error;
        return me.ok;
    }

    struct Pending {
        const std::function<bool(Contents&)>* change = nullptr;
        bool mayCreate = false;
        bool done = false;
        bool ok = false;
        std::string error;
    };

    void writeBatch(const std::vector<Pending*>& batch) {
        std::string error;
        bool busy = false;
        const int lock = statefile::lockByte(path_ + ".lock", 0, readClientConf().lockTimeout, words(),
                                             [] { platform::pumpMessages(); }, busy, error);
        bool ok = lock >= 0;
        Contents c;
        bool missing = false, changed = false;
        if (ok) ok = readUnlocked(c, true, missing, error);
        try {
            for (Pending* p : batch) {
                if (!ok) break;
                // A missing file only its first writer may create, as one call after another would.
                if (missing && !p->mayCreate) {
                    p->error = platform::joinLines({words().unreadable, path_, "Die Datei fehlt."});
                    continue;
                }
                p->ok = true;
                if ((*p->change)(c) || missing) changed = true;
                missing = false;
            }
        } catch (const std::exception& e) {
            ok = false;  // a change half made is never written
            error = platform::joinLines({words().unwritable, path_, e.what()});
        }
        if (ok && changed) ok = statefile::replaceFile(path_, formatHolds(c, key_), words(), error);
        if (lock >= 0) ::close(lock);
        for (Pending* p : batch) {
            if (!ok) p->ok = false;
            if (!p->ok && p->error.empty()) p->error = error;
        }
    }

    std::mutex batchMutex_;
    std::condition_variable written_;
    std::vector<Pending*> waiting_;
    bool writing_ = false;
    std::string path_;
    KeyMemo key_;
};

}  // namespace

std::unique_ptr<HoldStore> HoldStore::open(const std::string& folder, std::string& error) {
    if (!checkFolder(folder, error)) return nullptr;
    auto store = std::make_unique<FileHoldStore>(folder);
    if (!store->start(error)) return nullptr;
    return store;
}

}  // namespace deny
