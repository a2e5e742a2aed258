// The equivalence sides queued for one entry until its next change. A stop of 50,000 users queues
// 50,000 values on the group and takes them a request's worth at a time, those of the users the
// request names first: the values are indexed by key once, so taking a part, asking what the queue
// wants for a value and dropping a value cost what they touch, not what is queued.
#pragma once

#include "nwclient/backend.h"

#include <cstdint>
#include <functional>
#include <list>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace nw::ldapbackend {

struct Pending {
    bool add = true;
    std::string attribute;  // lower-cased LDAP name
    std::string ldapName;
    std::string valueDn;
    std::string valueKey;
    ObjectId partner = -1;  // the entry holding the other side
    uint64_t pair = 0;      // 0: no other side to take back
};

class PendingQueue {
public:
    void push(Pending p);
    size_t size() const { return items_.size(); }
    bool empty() const { return items_.empty(); }
    // Everything, in the order it was queued; the queue is empty after.
    std::vector<Pending> takeAll();
    // At most `most` values, those whose key is among preferredKeys first, each group in queue
    // order; the rest stay queued, in order.
    std::vector<Pending> takePart(size_t most, const std::unordered_set<std::string>& preferredKeys);
    // The last queued value of this attribute and key, or null.
    const Pending* last(const std::string& attribute, const std::string& valueKey) const;
    // Drops the values of this key that match; how many.
    size_t dropIf(const std::string& valueKey, const std::function<bool(const Pending&)>& match);
    // Drops the value of this pair; false when none is queued.
    bool dropPair(uint64_t pair);

private:
    struct Entry {
        Pending value;
        uint64_t seq;  // order of queuing
    };
    using Item = std::list<Entry>::iterator;
    void unindex(Item item);
    Pending take(Item item);

    std::list<Entry> items_;
    std::unordered_map<std::string, std::vector<Item>> byKey_;  // each key's values in queue order
    std::unordered_map<uint64_t, Item> byPair_;
    uint64_t nextSeq_ = 0;
};

}  // namespace nw::ldapbackend
