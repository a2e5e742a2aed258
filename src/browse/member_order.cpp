#include "browse/member_order.h"

#include <algorithm>
#include <numeric>
#include <vector>

namespace browse {

std::string KomponentenUmgekehrt(std::string_view name) {
    std::vector<std::string_view> parts;
    size_t start = 0;
    for (size_t i = 0; i < name.size(); ++i) {
        if (name[i] == '\\' && i + 1 < name.size()) {
            ++i;  // the escaped character belongs to the component
        } else if (name[i] == '.') {
            parts.push_back(name.substr(start, i - start));
            start = i + 1;
        }
    }
    parts.push_back(name.substr(start));
    std::string out;
    out.reserve(name.size());
    for (auto it = parts.rbegin(); it != parts.rend(); ++it) {
        if (it != parts.rbegin()) out += '.';
        out += *it;
    }
    while (!out.empty() && out.back() == '.') out.pop_back();
    return out;
}

void SortiereNachContainer(text::NameList& names) {
    // One collation key per name, then a plain byte sort of the keys.
    std::vector<std::string> keys;
    keys.reserve(names.size());
    for (const std::string& name : names) keys.push_back(text::localeSortKey(KomponentenUmgekehrt(name)));
    std::vector<size_t> order(names.size());
    std::iota(order.begin(), order.end(), size_t{0});
    std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) { return keys[a] < keys[b]; });
    text::NameList sorted;
    sorted.reserve(names.size());
    for (size_t i : order) sorted.push_back(std::move(names[i]));
    names = std::move(sorted);
}

}  // namespace browse
