#include "web/jobs.h"

#include <vector>

namespace web {

JobTable::~JobTable() {
    std::map<unsigned long, std::shared_ptr<Entry>> jobs;
    {
        std::lock_guard lock(mutex_);
        jobs.swap(jobs_);
    }
    for (auto& [id, entry] : jobs)
        if (entry->thread.joinable()) entry->thread.join();
}

unsigned long JobTable::start(const std::string& owner, bool exclusive, const std::string& backTo, JobWork work,
                              unsigned long& running) {
    std::lock_guard lock(mutex_);
    running = 0;
    if (exclusive)
        for (const auto& [id, entry] : jobs_)
            if (entry->owner == owner && entry->status.running) {
                running = id;
                return 0;
            }
    auto entry = std::make_shared<Entry>();
    const unsigned long id = next_++;
    entry->owner = owner;
    entry->status.id = id;
    entry->status.backTo = backTo;
    jobs_[id] = entry;
    // The thread holds the entry itself, not the table's slot: pruning never pulls it away.
    entry->thread = std::thread([this, entry, work = std::move(work)] {
        DeskResult result = work([this, entry](size_t done, size_t total) {
            std::lock_guard lock(mutex_);
            entry->status.done = done;
            entry->status.total = total;
        });
        std::lock_guard lock(mutex_);
        entry->status.result = std::move(result);
        entry->status.running = false;
        entry->ended = std::time(nullptr);
        ended_.notify_all();
    });
    return id;
}

bool JobTable::read(unsigned long id, const std::string& owner, JobStatus& out, std::chrono::milliseconds wait) {
    std::unique_lock lock(mutex_);
    auto it = jobs_.find(id);
    if (it == jobs_.end() || it->second->owner != owner) return false;
    const std::shared_ptr<Entry> entry = it->second;
    ended_.wait_for(lock, wait, [&entry] { return !entry->status.running; });
    out = entry->status;
    return true;
}

void JobTable::prune(std::time_t now) {
    std::vector<std::shared_ptr<Entry>> gone;
    {
        std::lock_guard lock(mutex_);
        for (auto it = jobs_.begin(); it != jobs_.end();) {
            if (!it->second->status.running && now - it->second->ended > keepSeconds_) {
                gone.push_back(std::move(it->second));
                it = jobs_.erase(it);
            } else {
                ++it;
            }
        }
    }
    for (auto& entry : gone) entry->thread.join();  // already past its end
}

}  // namespace web
