// The directory picker: a small modal dialog in which the operator picks one container or group
// from the tree. The settings dialog opens it from its "..." buttons. It browses with the shared
// browser logic (browse/) and the directory layer, never through the main window.
//
// Use: create it hidden, configure it (SetStartContext, SetErlaubeHoeher, SetListenModus,
// SetMehrfachAuswahl, the two class lists), exec() it, then read Ergebnis (empty: nothing chosen).
#pragma once

#include "browse/browse.h"
#include "platform/text.h"

#include <QDialog>
#include <QList>

#include <bitset>
#include <optional>
#include <string>

class QLabel;
class QPushButton;
class QTreeWidget;

class TMiniNDSBrowser : public QDialog {
    Q_OBJECT
public:
    explicit TMiniNDSBrowser(QWidget* owner = nullptr);
    ~TMiniNDSBrowser() override;

    static constexpr int DesignWidth = 278;
    static constexpr int DesignHeight = 280;

    // ---- components ----
    QLabel* LAktContext = nullptr;
    QTreeWidget* LVCtxBrowser = nullptr;
    QPushButton* BOk = nullptr;
    QPushButton* BAbbruch = nullptr;

    // ---- configuration, between creation and the modal run ----
    // A name that does not exist in the directory falls back to "[ROOT]".
    void SetStartContext(const std::string& context);
    void SetErlaubeHoeher(bool allow);
    // Values of 4 and above give 0 (all objects).
    void SetListenModus(int mode);
    void SetMehrfachAuswahl(bool multi);
    // The dialog owns the lists from here on. Without a display-class list everything is listed.
    void SetAnzeigeKlassen(text::NameList classes);
    void SetAuswahlKlassen(text::NameList classes);

    // ---- fields ----
    const std::string& StartContext() const { return startContext_; }
    bool ErlaubeHoeher() const { return erlaubeHoeher_; }
    int ListenModus() const { return listenModus_; }
    const text::NameList* AnzeigeKlassen() const { return anzeigeKlassen_ ? &*anzeigeKlassen_ : nullptr; }
    const text::NameList* AuswahlKlassen() const { return auswahlKlassen_ ? &*auswahlKlassen_ : nullptr; }
    const std::bitset<64>& AuswahlSymbole() const { return auswahlSymbole_; }
    const std::string& AktContext() const { return panel_.AktContext(); }
    const text::NameList& CtxEintraege() const { return panel_.CtxEintraege(); }
    const text::NameList& CtxVolleNamen() const { return panel_.CtxVolleNamen(); }
    // The chosen object's full name without a root suffix; empty when nothing was chosen.
    const std::string& Ergebnis() const { return ergebnis_; }
    // True while a listing runs; commands that arrive meanwhile are ignored, and closing (the
    // close box, Esc) waits until the listing has ended.
    bool busy() const { return panel_.busy(); }

    // ---- handlers ----
    void FormCreate();
    void FormActivate();  // once per modal run, when the dialog is shown
    void FormResize();
    void ZeigeContext(const std::string& context);
    void LVCtxBrowserDblClick();
    void LVCtxBrowserEnter();
    void LVCtxBrowserKeyPress(char key);
    void LVCtxBrowserSelectItem(int row, bool selected);
    void BOkClick();
    void BAbbruchClick();

public slots:
    void reject() override;

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* object, QEvent* event) override;

private:
    void fillRows();
    browse::ListingOptions listingOptions();
    int focusedRow() const;

    std::string startContext_ = "[ROOT]";
    bool erlaubeHoeher_ = true;
    int listenModus_ = 0;
    std::optional<text::NameList> anzeigeKlassen_;
    std::optional<text::NameList> auswahlKlassen_;
    std::bitset<64> auswahlSymbole_;
    std::string ergebnis_;
    browse::BrowserPanel panel_;
    QList<QIcon> TILSymbole;
    bool runStarted_ = false;  // FormActivate ran for the current modal run
    bool filling_ = false;     // rows are being rebuilt: selection changes are not the operator's
    bool closePending_ = false;  // closing was asked for during a listing
};
