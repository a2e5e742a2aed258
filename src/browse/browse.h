// The directory browser logic, shared by the main window (TForm1) and the directory picker
// (TMiniNDSBrowser): listing entries "[Class] name", the class-symbol table that gives every
// row its icon, the display-class and name filters, the sort, the ".." row and a panel model
// that lists a context and rebuilds rows, entries and full names together. No Qt here; the
// forms only turn BrowserPanel::rows() into list-view items.
#pragma once

#include "platform/text.h"

#include <array>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace browse {

using text::NameList;

// ---- class-symbol table ----
// A class's position is its icon index. 0 is the ".." row, 1 every class the table lacks; the
// "?" entries are placeholders for no class.
inline constexpr int ClassSymbolCount = 60;
extern const std::array<const char*, ClassSymbolCount> KlassenSymbole;
inline constexpr int SymbolUp = 0;
inline constexpr int SymbolUnknown = 1;
inline constexpr int SymbolOrganization = 29;
inline constexpr int SymbolOrganizationalUnit = 31;
inline constexpr int SymbolUser = 45;

// Builds the lookup behind SymbolIndex and KlassenPosition (done on first use otherwise).
void InitKlassenSymbole();

// ---- listing entries ----
// "[User] Gast01" -> "User"; empty for ".." and for an entry without "]".
std::string KlasseAusEintrag(std::string_view entry);
// "[User] Gast01" -> "Gast01"; an entry that is not "[...]..." comes back unchanged.
std::string NameAusEintrag(std::string_view entry);
// Icon index: 0 for "..", the table position of the entry's class (ASCII case-insensitive),
// 1 for a class the table lacks.
int SymbolIndex(std::string_view entry);
// First table position from 2 on whose class equals the name (ASCII case-insensitive), or -1.
int KlassenPosition(std::string_view className);
// Organization, Organizational Unit and Country (ASCII case-insensitive); all else is a leaf.
bool IstContainerKlasse(std::string_view className);

// ---- filters (all keep the order of what they leave) ----
// Keeps the entries whose class is exactly (case-sensitively) one of the display classes.
// No list (nullptr) or no entries: nothing happens. A lone "" or "[] " entry (an empty
// container) is removed. An empty list keeps everything.
void FilterKlassen(const NameList* displayClasses, NameList& entries);
// The name filters clean their word list in place first (empty words and "*" go); with no word
// left they do nothing. Only entries other than ".." whose container-ness equals `containers`
// are judged, by their name part.
// Show filter: an entry stays if a word matches — "abc*" as a prefix, "abc" as the whole name.
void FilterZeige(NameList& entries, NameList& words, bool containers);
// Hide filter: an entry goes if its name contains a word; "*" is an ordinary character here.
void FilterZeigeNicht(NameList& entries, NameList& words, bool containers);
// Both ignore letter case under the locale's rules.

// Sorts entries by their whole text, locale-aware and case-insensitive (punctuation before
// digits before letters, so classes come in the order Organization, Organizational Unit, User,
// Workstation). Stable, n log n.
void SortiereEintraege(NameList& entries);

// Cuts a context text at its first ".[" (drops a root suffix such as ".[ROOT]").
std::string StripRootSuffix(std::string_view context);
// True where the layer's context counts as the tree root: "[root]" in any ASCII case.
bool IstRootContext(std::string_view context);

// ---- the panel model ----

// The four name-filter word lists of the main window (the picker has none).
struct NameFilters {
    NameList showContainers;  // ShowContainerList
    NameList hideContainers;  // NoShowContainerList
    NameList showLeaves;      // ShowLeafList
    NameList hideLeaves;      // NoShowLeafList
};

// Where ".." may not leave a context: going up from `container` (case-insensitive under the
// locale's rules, umlauts too) is refused while `allowUp` is off. The main window passes both
// base containers with their switches; the picker passes its start context with ErlaubeHoeher.
struct UpBarrier {
    std::string container;
    bool allowUp = false;
};

struct ListingOptions {
    const NameList* displayClasses = nullptr;  // BrowserKlassen / AnzeigeKlassen
    int mode = 0;                              // passed to ListeUnterobjekte
    const NameFilters* filters = nullptr;      // null: no name filters (the picker)
    // Called whenever AktContext is set during a listing (the picker's context label).
    std::function<void(const std::string&)> onAktContext;
};

struct Row {
    std::string caption;  // NameAusEintrag(entry)
    int icon = 0;         // SymbolIndex(entry)
};

enum class ListingResult {
    Shown,      // rows, entries and full names rebuilt
    Unchanged,  // went back: nothing of the display classes there, or the change failed
    Ignored,    // another listing of this panel is still running
};

// One list view's worth of browser state. Rows, CtxEintraege and CtxVolleNamen are always
// row-parallel: they are rebuilt together at the end of a listing, or not at all.
class BrowserPanel {
public:
    BrowserPanel() = default;
    BrowserPanel(const BrowserPanel&) = delete;
    BrowserPanel& operator=(const BrowserPanel&) = delete;

    // Changes into `context` and lists it into `entries`. reverted = true when nothing of the
    // display classes is there, or the change failed: then the directory layer is back at this
    // panel's own context, AktContext is unchanged and `entries` is as it was.
    void ListeContext(const std::string& context, const NameList* displayClasses, bool& reverted,
                      NameList& entries, int mode = 0);

    // The panel's entry point: lists `context` and rebuilds rows, entries and full names (each
    // full name is caption + "." + `context` as passed). Shows the hourglass meanwhile. A call
    // while a listing of this panel runs (window messages are pumped during a listing) is
    // ignored.
    ListingResult ZeigeContext(const std::string& context, const ListingOptions& options);

    // The context a double-click on the row with this caption goes to: the parent for "..",
    // else the object below AktContext; nothing when going up is refused by a barrier.
    std::optional<std::string> NavigationTarget(const std::string& caption,
                                               const std::vector<UpBarrier>& barriers) const;
    // NavigationTarget, then ZeigeContext; Unchanged when going up is refused.
    ListingResult Navigiere(const std::string& caption, const std::vector<UpBarrier>& barriers,
                            const ListingOptions& options);

    bool busy() const { return busy_; }
    const std::string& AktContext() const { return aktContext_; }
    const NameList& CtxEintraege() const { return entries_; }
    const NameList& CtxVolleNamen() const { return fullNames_; }
    const std::vector<Row>& rows() const { return rows_; }
    // Back to the empty panel (no rows, no context).
    void clear();

private:
    void listeContextUnguarded(const std::string& context, const NameList* displayClasses,
                               bool& reverted, NameList& entries, int mode,
                               const std::function<void(const std::string&)>& onAktContext);
    void setAktContext(const std::string& layerText,
                       const std::function<void(const std::string&)>& onAktContext);

    std::string aktContext_;    // cut at ".[": the context of the rows shown
    std::string layerContext_;  // the layer's text for it, uncut: where going back returns to
    bool listed_ = false;       // false until the first successful change into a context
    NameList entries_;
    NameList fullNames_;
    std::vector<Row> rows_;
    bool busy_ = false;
};

}  // namespace browse
