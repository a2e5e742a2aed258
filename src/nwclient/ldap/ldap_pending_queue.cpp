#include "nwclient/ldap/ldap_pending_queue.h"

#include <algorithm>

namespace nw::ldapbackend {

void PendingQueue::push(Pending p) {
    items_.push_back(Entry{std::move(p), nextSeq_++});
    Item item = std::prev(items_.end());
    byKey_[item->value.valueKey].push_back(item);
    if (item->value.pair != 0) byPair_[item->value.pair] = item;
}

std::vector<Pending> PendingQueue::takeAll() {
    std::vector<Pending> out;
    out.reserve(items_.size());
    for (Entry& e : items_) out.push_back(std::move(e.value));
    items_.clear();
    byKey_.clear();
    byPair_.clear();
    return out;
}

void PendingQueue::unindex(Item item) {
    auto key = byKey_.find(item->value.valueKey);
    if (key != byKey_.end()) {
        auto& items = key->second;
        items.erase(std::find(items.begin(), items.end(), item));
        if (items.empty()) byKey_.erase(key);
    }
    auto pair = byPair_.find(item->value.pair);
    if (pair != byPair_.end() && pair->second == item) byPair_.erase(pair);
}

Pending PendingQueue::take(Item item) {
    unindex(item);
    Pending p = std::move(item->value);
    items_.erase(item);
    return p;
}

std::vector<Pending> PendingQueue::takePart(size_t most, const std::unordered_set<std::string>& preferredKeys) {
    if (most == 0) return {};
    if (items_.size() <= most) return takeAll();
    std::vector<Item> chosen;
    for (const std::string& key : preferredKeys) {
        auto it = byKey_.find(key);
        if (it != byKey_.end()) chosen.insert(chosen.end(), it->second.begin(), it->second.end());
    }
    std::sort(chosen.begin(), chosen.end(), [](Item a, Item b) { return a->seq < b->seq; });
    if (chosen.size() > most) chosen.resize(most);
    std::vector<Pending> taken;
    taken.reserve(most);
    for (Item item : chosen) taken.push_back(take(item));
    // Every preferred value is taken when there is room left: the rest fills up from the front.
    while (taken.size() < most && !items_.empty()) taken.push_back(take(items_.begin()));
    return taken;
}

const Pending* PendingQueue::last(const std::string& attribute, const std::string& valueKey) const {
    auto it = byKey_.find(valueKey);
    if (it == byKey_.end()) return nullptr;
    for (auto item = it->second.rbegin(); item != it->second.rend(); ++item)
        if ((*item)->value.attribute == attribute) return &(*item)->value;
    return nullptr;
}

size_t PendingQueue::dropIf(const std::string& valueKey, const std::function<bool(const Pending&)>& match) {
    auto it = byKey_.find(valueKey);
    if (it == byKey_.end()) return 0;
    std::vector<Item> matching;
    for (Item item : it->second)
        if (match(item->value)) matching.push_back(item);
    for (Item item : matching) take(item);
    return matching.size();
}

bool PendingQueue::dropPair(uint64_t pair) {
    auto it = byPair_.find(pair);
    if (pair == 0 || it == byPair_.end()) return false;
    take(it->second);
    return true;
}

}  // namespace nw::ldapbackend
