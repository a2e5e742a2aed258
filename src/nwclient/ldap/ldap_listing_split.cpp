#include "nwclient/ldap/ldap_listing_split.h"

#include "platform/text.h"

#include <algorithm>
#include <atomic>

namespace nw::ldapbackend {
namespace {

// Slapd tells no total with the first page, so the part is taken to hold this many times what
// came before the limit, and each new part is aimed at this share of the limit: 1,200 entries
// at a limit of 500 go in three parts after the first try.
constexpr size_t ASSUMED_TOTAL_PER_RECEIVED_TENTHS = 25;
constexpr size_t AIM_PERCENT_OF_LIMIT = 90;
// A prefix is made longer while it holds more than this share of a part (finer packing).
constexpr size_t PIECES_PER_PART = 4;
constexpr size_t MAX_PREFIX_CHARACTERS = 64;

std::atomic<size_t> searches{0};

size_t characterWidth(std::string_view s, size_t at) {
    unsigned char c = static_cast<unsigned char>(s[at]);
    size_t n = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
    return std::min(n, s.size() - at);
}

// Whether one of the set is a prefix of `name` (ending on a character boundary), shorter than
// `name` when `proper`.
bool startsWithOneOf(const std::string& name, const std::set<std::string>& prefixes, bool proper) {
    for (size_t end = 0; end < name.size();) {
        end += characterWidth(name, end);
        if (proper && end == name.size()) break;
        if (prefixes.count(name.substr(0, end))) return true;
    }
    return false;
}

struct Piece {
    std::string prefix;
    size_t count;
};

class Planner {
public:
    Planner(const std::vector<std::string>& names, const std::set<std::string>& within, size_t fine)
        : names_(names), within_(within), fine_(fine) {}

    // The names [lo, hi) share their first `depth` bytes.
    void walk(size_t lo, size_t hi, size_t depth, size_t characters) {
        const std::string prefix = names_[lo].substr(0, depth);
        bool emittable = depth > 0 && (within_.empty() || startsWithOneOf(prefix, within_, true));
        if (emittable && (hi - lo <= fine_ || characters >= MAX_PREFIX_CHARACTERS)) {
            pieces.push_back(Piece{prefix, hi - lo});
            return;
        }
        if (characters >= MAX_PREFIX_CHARACTERS) return;
        // Names that end here are no piece's: they go with the rest.
        while (lo < hi && names_[lo].size() == depth) ++lo;
        while (lo < hi) {
            size_t width = characterWidth(names_[lo], depth);
            std::string_view next = std::string_view(names_[lo]).substr(depth, width);
            size_t end = lo + 1;
            while (end < hi && std::string_view(names_[end]).substr(depth, width) == next) ++end;
            walk(lo, end, depth + width, characters + 1);
            lo = end;
        }
    }

    std::vector<Piece> pieces;

private:
    const std::vector<std::string>& names_;
    const std::set<std::string>& within_;
    size_t fine_;
};

}  // namespace

std::string lowerName(std::string_view name) {
    std::string lowered;
    lowered.reserve(name.size());
    for (size_t at = 0; at < name.size();) {
        size_t width = characterWidth(name, at);
        std::string_view c = name.substr(at, width);
        lowered += width == 1 ? ::text::toLowerAscii(c) : ::text::toLowerLocale(c);
        at += width;
    }
    return lowered;
}

std::vector<std::vector<std::string>> planSplit(std::vector<std::string> names, size_t received,
                                                const std::set<std::string>& within,
                                                const std::set<std::string>& taken) {
    std::erase_if(names, [&](const std::string& n) {
        return n.empty() || startsWithOneOf(n, taken, false) || (!within.empty() && !startsWithOneOf(n, within, true));
    });
    if (names.empty()) return {};
    std::sort(names.begin(), names.end());
    const size_t quota =
        std::max<size_t>(1, received * AIM_PERCENT_OF_LIMIT * 10 / (100 * ASSUMED_TOTAL_PER_RECEIVED_TENTHS));
    Planner planner(names, within, std::max<size_t>(1, quota / PIECES_PER_PART));
    planner.walk(0, names.size(), 0, 0);
    // Neighbouring pieces packed into parts up to the quota, in the names' order.
    std::vector<std::vector<std::string>> parts;
    size_t filled = 0;
    for (const Piece& piece : planner.pieces) {
        if (parts.empty() || filled + piece.count > quota) {
            parts.emplace_back();
            filled = 0;
        }
        parts.back().push_back(piece.prefix);
        filled += piece.count;
    }
    return parts;
}

size_t searchesStarted() { return searches.load(); }
void countSearchStarted() { ++searches; }

}  // namespace nw::ldapbackend
