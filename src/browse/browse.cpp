#include "browse/browse.h"

#include "nwapi/nwapi.h"
#include "platform/ports.h"

#include <algorithm>
#include <unordered_map>

namespace browse {

const std::array<const char*, ClassSymbolCount> KlassenSymbole = {
    "..",                          // 0
    "Unknown",                     // 1
    "WIN95 User Package",          // 2
    "Workstation Inventory",       // 3
    "Alias",                       // 4
    "App:Folders",                 // 5
    "Audit File",                  // 6
    "Bindery",                     // 7
    "Computer",                    // 8
    "?",                           // 9
    "Country",                     // 10
    "DNIP:DHCP Server",            // 11
    "Directory Map",               // 12
    "DNIP:DNS Server",             // 13
    "Group",                       // 14
    "Groupwise Domain",            // 15
    "Groupwise External Entity",   // 16
    "Groupwise Library",           // 17
    "Groupwise Distribution List", // 18
    "Groupwise Post Office",       // 19
    "Groupwise Resource",          // 20
    "NLS:Product Container",       // 21
    "Locality",                    // 22
    "NLS:License Server",          // 23
    "NDPS Broker",                 // 24
    "NDPS Manager",                // 25
    "NDPS Printer",                // 26
    "WINNT User Package",          // 27
    "WINNT Workstation Package",   // 28
    "Organization",                // 29
    "Organizational Role",         // 30
    "Organizational Unit",         // 31
    "?",                           // 32
    "Policy Package",              // 33
    "Queue",                       // 34
    "Printer",                     // 35
    "Profile",                     // 36
    "Print Server",                // 37
    "?",                           // 38
    "SAS:Security",                // 39
    "NCP Server",                  // 40
    "SLP Directory Agent",         // 41
    "SLP Scope Unit",              // 42
    "Template",                    // 43
    "Tree",                        // 44
    "User",                        // 45
    "Volume",                      // 46
    "Application (Windows 3.x)",   // 47
    "App:Application",             // 48
    "Workstation Group",           // 49
    "Workstation",                 // 50
    "NDSCat:Master Catalog",       // 51
    "NDSCat:Slave Catalog",        // 52
    "NLS:License Certificate",     // 53
    "LDAP Server",                 // 54
    "LDAP Group",                  // 55
    "DNIP:Locator",                // 56
    "DNIP:Subnet",                 // 57
    "DNIP:DNS Zone",               // 58
    "IPXGW:IPX/IP Gateway Server", // 59
};

namespace {

// ASCII-lower-cased class name -> first table position from 2 on. Built once: the deny list
// asks for an icon per member, and there can be thousands.
const std::unordered_map<std::string, int>& positionTable() {
    static const std::unordered_map<std::string, int> table = [] {
        std::unordered_map<std::string, int> t;
        for (int i = 2; i < ClassSymbolCount; ++i)
            t.emplace(text::toLowerAscii(KlassenSymbole[size_t(i)]), i);  // emplace keeps the first
        return t;
    }();
    return table;
}

void cleanWords(NameList& words) {
    words.erase(std::remove_if(words.begin(), words.end(),
                               [](const std::string& w) { return w.empty() || w == "*"; }),
                words.end());
}

// Whether the name filters judge this entry at all.
bool subjectToFilter(const std::string& entry, bool containers) {
    return entry != ".." && IstContainerKlasse(KlasseAusEintrag(entry)) == containers;
}

}  // namespace

void InitKlassenSymbole() { (void)positionTable(); }

std::string KlasseAusEintrag(std::string_view entry) {
    if (entry.empty() || entry.front() != '[') return {};
    const size_t close = entry.find(']', 1);
    if (close == std::string_view::npos) return {};
    return std::string(entry.substr(1, close - 1));
}

std::string NameAusEintrag(std::string_view entry) {
    if (entry.empty() || entry.front() != '[') return std::string(entry);
    const size_t close = entry.find(']');
    if (close == std::string_view::npos) return std::string(entry);
    const size_t start = close + 2;  // skip "]" and the blank after it
    return start >= entry.size() ? std::string() : std::string(entry.substr(start));
}

int KlassenPosition(std::string_view className) {
    const auto& t = positionTable();
    auto it = t.find(text::toLowerAscii(className));
    return it == t.end() ? -1 : it->second;
}

int SymbolIndex(std::string_view entry) {
    if (entry == "..") return SymbolUp;
    const int pos = KlassenPosition(KlasseAusEintrag(entry));
    return pos < 0 ? SymbolUnknown : pos;
}

bool IstContainerKlasse(std::string_view className) {
    return text::equalsAsciiNoCase(className, "Organization") ||
           text::equalsAsciiNoCase(className, "Organizational Unit") ||
           text::equalsAsciiNoCase(className, "Country");
}

void FilterKlassen(const NameList* displayClasses, NameList& entries) {
    if (!displayClasses || entries.empty()) return;
    if (entries.size() == 1 && (entries.front().empty() || entries.front() == "[] ")) {
        entries.clear();
        return;
    }
    if (displayClasses->empty()) return;
    entries.erase(std::remove_if(entries.begin(), entries.end(),
                                 [&](const std::string& e) {
                                     const std::string cls = KlasseAusEintrag(e);
                                     return std::find(displayClasses->begin(), displayClasses->end(),
                                                      cls) == displayClasses->end();
                                 }),
                  entries.end());
}

void FilterZeige(NameList& entries, NameList& words, bool containers) {
    cleanWords(words);
    if (words.empty()) return;
    struct Word {
        std::string folded;
        bool prefix;
    };
    std::vector<Word> prepared;
    prepared.reserve(words.size());
    for (const auto& w : words) {
        const bool prefix = w.back() == '*';
        prepared.push_back({text::foldCaseLocale(prefix ? std::string_view(w).substr(0, w.size() - 1)
                                                        : std::string_view(w)),
                            prefix});
    }
    entries.erase(std::remove_if(entries.begin(), entries.end(),
                                 [&](const std::string& e) {
                                     if (!subjectToFilter(e, containers)) return false;
                                     const std::string name = text::foldCaseLocale(NameAusEintrag(e));
                                     for (const auto& w : prepared) {
                                         const bool match = w.prefix ? name.compare(0, w.folded.size(), w.folded) == 0
                                                                     : name == w.folded;
                                         if (match) return false;
                                     }
                                     return true;
                                 }),
                  entries.end());
}

void FilterZeigeNicht(NameList& entries, NameList& words, bool containers) {
    cleanWords(words);
    if (words.empty()) return;
    NameList folded;
    folded.reserve(words.size());
    for (const auto& w : words) folded.push_back(text::foldCaseLocale(w));
    entries.erase(std::remove_if(entries.begin(), entries.end(),
                                 [&](const std::string& e) {
                                     if (!subjectToFilter(e, containers)) return false;
                                     const std::string name = text::foldCaseLocale(NameAusEintrag(e));
                                     return std::any_of(folded.begin(), folded.end(), [&](const std::string& w) {
                                         return name.find(w) != std::string::npos;
                                     });
                                 }),
                  entries.end());
}

void SortiereEintraege(NameList& entries) { text::sortLocaleNoCase(entries); }

std::string StripRootSuffix(std::string_view context) {
    const size_t cut = context.find(".[");
    return std::string(cut == std::string_view::npos ? context : context.substr(0, cut));
}

bool IstRootContext(std::string_view context) { return text::equalsAsciiNoCase(context, "[root]"); }

// ---------------------------------------------------------------- BrowserPanel

namespace {

// Marks the panel busy for one listing, also when the listing leaves by an exception.
class BusyGuard {
public:
    explicit BusyGuard(bool& flag) : flag_(flag) { flag_ = true; }
    ~BusyGuard() { flag_ = false; }
    BusyGuard(const BusyGuard&) = delete;
    BusyGuard& operator=(const BusyGuard&) = delete;

private:
    bool& flag_;
};

}  // namespace

void BrowserPanel::setAktContext(const std::string& layerText,
                                 const std::function<void(const std::string&)>& onAktContext) {
    layerContext_ = layerText;
    aktContext_ = StripRootSuffix(layerText);
    listed_ = true;
    if (onAktContext) onAktContext(aktContext_);
}

void BrowserPanel::listeContextUnguarded(const std::string& context, const NameList* displayClasses,
                                         bool& reverted, NameList& entries, int mode,
                                         const std::function<void(const std::string&)>& onAktContext) {
    // Going back returns to the context of the rows shown, not to wherever another browser
    // (the picker) has left the layer since. Before the first listing there are no rows: then
    // it is the layer's context.
    const bool hadContext = listed_;
    const std::string previousLayer = hadContext ? layerContext_ : nwapi::HoleAktContext();
    const std::string previousAkt = aktContext_;
    reverted = false;

    bool ok = false;
    nwapi::WechseleContextMitTest(context, ok);
    if (!ok) {
        // Already reported by the layer. Count it as going back: the rows stay, and the layer
        // must be at their context for later relative names.
        reverted = true;
        if (hadContext && !text::equalsAsciiNoCase(nwapi::HoleAktContext(), previousLayer)) {
            bool back = false;
            nwapi::WechseleContextMitTest(previousLayer, back);
        }
        return;
    }
    setAktContext(nwapi::HoleAktContext(), onAktContext);

    NameList kept = std::move(entries);
    entries.clear();
    nwapi::ListeUnterobjekte(context, entries, mode);
    FilterKlassen(displayClasses, entries);
    if (!entries.empty()) return;

    // Nothing of the display classes there: do not enter it.
    reverted = true;
    bool back = false;
    nwapi::WechseleContextMitTest(previousLayer, back);
    if (back) {
        setAktContext(nwapi::HoleAktContext(), onAktContext);
    } else if (hadContext) {
        // The way back failed (reported); the rows still belong to the previous context.
        layerContext_ = previousLayer;
        aktContext_ = previousAkt;
        if (onAktContext) onAktContext(aktContext_);
    } else {
        setAktContext(previousLayer, onAktContext);
    }
    entries = std::move(kept);
}

void BrowserPanel::ListeContext(const std::string& context, const NameList* displayClasses, bool& reverted,
                                NameList& entries, int mode) {
    reverted = false;
    if (busy_) {
        reverted = true;
        return;
    }
    BusyGuard guard(busy_);
    listeContextUnguarded(context, displayClasses, reverted, entries, mode, nullptr);
}

ListingResult BrowserPanel::ZeigeContext(const std::string& context, const ListingOptions& options) {
    // One listing at a time: the listing pumps window messages, and a click that arrives then
    // must not start a second listing over the same lists.
    if (busy_) return ListingResult::Ignored;
    BusyGuard guard(busy_);
    platform::BusyCursor hourglass;

    // Listed into a list of its own, so the panel's lists stay whole while messages are pumped.
    NameList entries;
    bool reverted = false;
    listeContextUnguarded(context, options.displayClasses, reverted, entries, options.mode,
                          options.onAktContext);
    if (reverted) return ListingResult::Unchanged;

    SortiereEintraege(entries);
    if (!IstRootContext(nwapi::HoleAktContext()) && (entries.empty() || entries.front() != ".."))
        entries.insert(entries.begin(), "..");

    if (options.filters) {
        // Copies: cleaning a word list must not change the settings the words came from.
        NameFilters f = *options.filters;
        FilterZeige(entries, f.showContainers, true);
        FilterZeigeNicht(entries, f.hideContainers, true);
        FilterZeige(entries, f.showLeaves, false);
        FilterZeigeNicht(entries, f.hideLeaves, false);
    }

    NameList fullNames;
    std::vector<Row> rows;
    fullNames.reserve(entries.size());
    rows.reserve(entries.size());
    for (const auto& e : entries) {
        Row row{NameAusEintrag(e), SymbolIndex(e)};
        fullNames.push_back(row.caption + "." + context);
        rows.push_back(std::move(row));
    }
    entries_ = std::move(entries);
    fullNames_ = std::move(fullNames);
    rows_ = std::move(rows);
    return ListingResult::Shown;
}

std::optional<std::string> BrowserPanel::NavigationTarget(const std::string& caption,
                                                         const std::vector<UpBarrier>& barriers) const {
    if (caption == "..") {
        // The base containers are held lower-cased with the national rules ("schüler"), while
        // the layer gives the directory's spelling ("SCHÜLER"): only the locale's comparison
        // finds them equal.
        for (const auto& b : barriers)
            if (!b.allowUp && text::equalsLocaleNoCase(aktContext_, b.container)) return std::nullopt;
        return nwapi::UebergeordneterContext(aktContext_);
    }
    return nwapi::NameMitContext(aktContext_, caption);
}

ListingResult BrowserPanel::Navigiere(const std::string& caption, const std::vector<UpBarrier>& barriers,
                                      const ListingOptions& options) {
    if (busy_) return ListingResult::Ignored;
    const auto target = NavigationTarget(caption, barriers);
    if (!target) return ListingResult::Unchanged;
    return ZeigeContext(*target, options);
}

void BrowserPanel::clear() {
    if (busy_) return;
    aktContext_.clear();
    layerContext_.clear();
    listed_ = false;
    entries_.clear();
    fullNames_.clear();
    rows_.clear();
}

}  // namespace browse
