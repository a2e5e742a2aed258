#include "settings/ui/mini_nds_browser.h"

#include "nwapi/nwapi.h"
#include "settings/ui/form_support.h"

#include <QCloseEvent>
#include <QFocusEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QTreeWidget>
#include <QTreeWidgetItem>

#include <algorithm>
#include <functional>

namespace {
constexpr int IconRole = Qt::UserRole + 1;

// The list reports every left double-click, also one below the last row: navigation works from
// the focused row, not from the row under the mouse.
class PickerList : public QTreeWidget {
public:
    PickerList(QWidget* parent, std::function<void()> dblClick)
        : QTreeWidget(parent), dblClick_(std::move(dblClick)) {}

protected:
    void mouseDoubleClickEvent(QMouseEvent* event) override {
        QTreeWidget::mouseDoubleClickEvent(event);
        if (event->button() == Qt::LeftButton) dblClick_();
    }

private:
    std::function<void()> dblClick_;
};
}  // namespace

TMiniNDSBrowser::TMiniNDSBrowser(QWidget* owner) : QDialog(owner) {
    setObjectName(QStringLiteral("MiniNDSBrowser"));
    setFont(formsupport::msSansSerif());
    setWindowIcon(formsupport::pickerIcon());
    setSizeGripEnabled(true);

    LAktContext = new QLabel(this);
    LAktContext->setObjectName(QStringLiteral("LAktContext"));
    QFont bold = font();
    bold.setBold(true);
    LAktContext->setFont(bold);
    LAktContext->move(8, 8);

    // Navigation comes from a double-click and from Return typed in the list, never from a
    // single click (which only selects).
    LVCtxBrowser = new PickerList(this, [this] { LVCtxBrowserDblClick(); });
    LVCtxBrowser->setObjectName(QStringLiteral("LVCtxBrowser"));
    LVCtxBrowser->setGeometry(6, 32, 203, 216);
    LVCtxBrowser->setColumnCount(1);
    LVCtxBrowser->setHeaderLabels({QStringLiteral("NDS-Objekte:")});
    LVCtxBrowser->setHeaderHidden(true);
    LVCtxBrowser->setRootIsDecorated(false);
    LVCtxBrowser->setItemsExpandable(false);
    LVCtxBrowser->setUniformRowHeights(true);
    LVCtxBrowser->setEditTriggers(QAbstractItemView::NoEditTriggers);
    LVCtxBrowser->setIconSize(QSize(16, 16));
    LVCtxBrowser->setSelectionMode(QAbstractItemView::SingleSelection);
    LVCtxBrowser->setAllColumnsShowFocus(true);
    LVCtxBrowser->header()->setStretchLastSection(false);

    BOk = new QPushButton(QStringLiteral("&Ok"), this);
    BOk->setObjectName(QStringLiteral("BOk"));
    BOk->setGeometry(219, 32, 49, 25);
    BOk->setDefault(true);

    BAbbruch = new QPushButton(QStringLiteral("&Abbruch"), this);
    BAbbruch->setObjectName(QStringLiteral("BAbbruch"));
    BAbbruch->setGeometry(219, 64, 49, 25);

    setTabOrder(LVCtxBrowser, BOk);
    setTabOrder(BOk, BAbbruch);

    TILSymbole = formsupport::loadSymbolImages();

    connect(LVCtxBrowser->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            [this](const QItemSelection& selected, const QItemSelection& deselected) {
                if (filling_) return;
                for (const QModelIndex& index : deselected.indexes()) LVCtxBrowserSelectItem(index.row(), false);
                for (const QModelIndex& index : selected.indexes()) LVCtxBrowserSelectItem(index.row(), true);
            });
    LVCtxBrowser->installEventFilter(this);
    connect(BOk, &QPushButton::clicked, this, [this] { BOkClick(); });
    connect(BAbbruch, &QPushButton::clicked, this, [this] { BAbbruchClick(); });

    FormCreate();
}

TMiniNDSBrowser::~TMiniNDSBrowser() = default;

void TMiniNDSBrowser::FormCreate() {
    setWindowTitle(QStringLiteral("Quillon-Mini-NDSBrowser 1.5"));
    browse::InitKlassenSymbole();
    resize(DesignWidth, DesignHeight);
    // The design's list is 65 pixels shorter than the form; later resizes keep 75.
    LVCtxBrowser->resize(width() - LVCtxBrowser->x() - BOk->width() - 20, height() - 65);
    const int buttonLeft = LVCtxBrowser->x() + LVCtxBrowser->width() + 10;
    BOk->move(buttonLeft, BOk->y());
    BAbbruch->move(buttonLeft, BAbbruch->y());
    LAktContext->setText(QStringLiteral("?"));
    LAktContext->adjustSize();
    startContext_ = "[ROOT]";
    erlaubeHoeher_ = true;
    listenModus_ = 0;
    ergebnis_.clear();
    auswahlSymbole_.reset();
}

// ---------------------------------------------------------------- configuration

void TMiniNDSBrowser::SetStartContext(const std::string& context) {
    std::string name = context;
    if (name.empty() || name.front() != '.') name.insert(name.begin(), '.');
    if (!nwapi::ObjektExistiert(name)) name = ".[ROOT]";
    startContext_ = name.substr(1);
}

void TMiniNDSBrowser::SetErlaubeHoeher(bool allow) { erlaubeHoeher_ = allow; }

void TMiniNDSBrowser::SetListenModus(int mode) { listenModus_ = (mode >= 0 && mode < 4) ? mode : 0; }

void TMiniNDSBrowser::SetMehrfachAuswahl(bool multi) {
    LVCtxBrowser->setSelectionMode(multi ? QAbstractItemView::ExtendedSelection : QAbstractItemView::SingleSelection);
}

void TMiniNDSBrowser::SetAnzeigeKlassen(text::NameList classes) { anzeigeKlassen_ = std::move(classes); }

void TMiniNDSBrowser::SetAuswahlKlassen(text::NameList classes) { auswahlKlassen_ = std::move(classes); }

// ---------------------------------------------------------------- start, listing

void TMiniNDSBrowser::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    // A modal run starts once, when the dialog is shown; a message box closing over it gives
    // the activation back without starting it again. The start runs from the dialog's own
    // event loop, so a listing that pumps messages never runs inside show().
    if (!event->spontaneous() && !runStarted_) {
        runStarted_ = true;
        BOk->setEnabled(false);
        QMetaObject::invokeMethod(this, [this] { if (isVisible()) FormActivate(); }, Qt::QueuedConnection);
    }
}

void TMiniNDSBrowser::hideEvent(QHideEvent* event) {
    QDialog::hideEvent(event);
    if (!event->spontaneous()) runStarted_ = false;
}

void TMiniNDSBrowser::FormActivate() {
    BOk->setEnabled(false);
    auswahlSymbole_.reset();
    if (auswahlKlassen_) {
        for (const auto& name : *auswahlKlassen_) {
            const int position = browse::KlassenPosition(name);
            if (position >= 0 && position < int(auswahlSymbole_.size())) auswahlSymbole_.set(size_t(position));
        }
    }
    LVCtxBrowser->setFocus(Qt::OtherFocusReason);
    ZeigeContext(startContext_);
}

browse::ListingOptions TMiniNDSBrowser::listingOptions() {
    browse::ListingOptions options;
    options.displayClasses = AnzeigeKlassen();
    options.mode = listenModus_;
    options.filters = nullptr;  // the picker applies no name filters
    // The label follows the context as soon as the change into it succeeds, and again when a
    // listing goes back.
    options.onAktContext = [this](const std::string& context) {
        LAktContext->setText(QString::fromStdString(context));
        LAktContext->adjustSize();
    };
    return options;
}

void TMiniNDSBrowser::ZeigeContext(const std::string& context) {
    const browse::ListingResult result = panel_.ZeigeContext(context, listingOptions());
    if (result == browse::ListingResult::Ignored) return;
    if (result == browse::ListingResult::Shown) fillRows();
    LVCtxBrowserEnter();
    if (closePending_) {
        // The close box or Esc arrived during the listing: the dialog ends now.
        closePending_ = false;
        reject();
    }
}

void TMiniNDSBrowser::fillRows() {
    filling_ = true;
    LVCtxBrowser->clear();
    QList<QTreeWidgetItem*> items;
    items.reserve(qsizetype(panel_.rows().size()));
    for (const auto& row : panel_.rows()) {
        auto* item = new QTreeWidgetItem(QStringList{QString::fromStdString(row.caption)});
        const int icon = row.icon >= 0 && row.icon < TILSymbole.size() ? row.icon : browse::SymbolUnknown;
        item->setIcon(0, TILSymbole.at(icon));
        item->setData(0, IconRole, row.icon);
        items << item;
    }
    LVCtxBrowser->addTopLevelItems(items);
    filling_ = false;
}

// ---------------------------------------------------------------- focus, selection

void TMiniNDSBrowser::LVCtxBrowserEnter() {
    // The first row gets the focus mark without being selected.
    if (LVCtxBrowser->topLevelItemCount() == 0) return;
    const QModelIndex first = LVCtxBrowser->model()->index(0, 0);
    LVCtxBrowser->selectionModel()->setCurrentIndex(first, QItemSelectionModel::NoUpdate);
}

void TMiniNDSBrowser::LVCtxBrowserSelectItem(int row, bool selected) {
    if (!selected) return;  // deselecting changes nothing
    QTreeWidgetItem* item = LVCtxBrowser->topLevelItem(row);
    if (!item) return;
    const int icon = item->data(0, IconRole).toInt();
    if (icon == browse::SymbolUp) {
        // ".." can carry the focus mark but is never selected.
        item->setSelected(false);
        BOk->setEnabled(false);
        return;
    }
    BOk->setEnabled(icon >= 0 && icon < int(auswahlSymbole_.size()) && auswahlSymbole_.test(size_t(icon)));
}

int TMiniNDSBrowser::focusedRow() const {
    const QModelIndex current = LVCtxBrowser->currentIndex();
    return current.isValid() ? current.row() : -1;
}

// ---------------------------------------------------------------- navigation

void TMiniNDSBrowser::LVCtxBrowserDblClick() {
    if (busy()) return;
    // The focused row, not the selected one: ".." can only be focused.
    const int row = focusedRow();
    if (row < 0) return;
    const std::string caption = LVCtxBrowser->topLevelItem(row)->text(0).toStdString();
    const std::vector<browse::UpBarrier> barriers{{startContext_, erlaubeHoeher_}};
    const auto target = panel_.NavigationTarget(caption, barriers);
    if (!target) return;  // going up is refused here
    ZeigeContext(*target);
}

void TMiniNDSBrowser::LVCtxBrowserKeyPress(char key) {
    if (key == '\r') LVCtxBrowserDblClick();
}

bool TMiniNDSBrowser::eventFilter(QObject* object, QEvent* event) {
    if (object == LVCtxBrowser && event->type() == QEvent::FocusIn) {
        // Focus moving in from another control, not the window getting it back after a box.
        const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
        if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason) LVCtxBrowserEnter();
    }
    if (object == LVCtxBrowser && event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        const Qt::KeyboardModifiers modifiers = key->modifiers() & ~Qt::KeypadModifier;  // either Enter key
        if ((key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) && modifiers == Qt::NoModifier) {
            // While "&Ok" is enabled the default button takes Return and chooses.
            if (BOk->isEnabled()) return false;
            LVCtxBrowserKeyPress('\r');
            return true;
        }
    }
    return QDialog::eventFilter(object, event);
}

// ---------------------------------------------------------------- choosing, cancelling

void TMiniNDSBrowser::BOkClick() {
    if (busy()) return;
    QList<int> selectedRows;
    for (const QModelIndex& index : LVCtxBrowser->selectionModel()->selectedRows()) selectedRows << index.row();
    if (selectedRows.isEmpty()) {
        BOk->setEnabled(false);
        ergebnis_.clear();
        return;
    }
    std::sort(selectedRows.begin(), selectedRows.end());
    const text::NameList& fullNames = panel_.CtxVolleNamen();
    ergebnis_.clear();
    for (int row : selectedRows) {
        if (row < 0 || size_t(row) >= fullNames.size()) continue;
        std::string name = browse::StripRootSuffix(fullNames[size_t(row)]);
        if (!name.empty()) {
            ergebnis_ = name;
            break;
        }
    }
    accept();
}

void TMiniNDSBrowser::BAbbruchClick() {
    if (busy()) return;  // a button pressed during a listing is ignored
    reject();
}

void TMiniNDSBrowser::reject() {
    // A listing pumps messages; the dialog must not end under it, so it ends afterwards.
    if (busy()) {
        closePending_ = true;
        return;
    }
    ergebnis_.clear();
    QDialog::reject();
}

void TMiniNDSBrowser::closeEvent(QCloseEvent* event) {
    if (busy()) {
        closePending_ = true;
        event->ignore();
        return;
    }
    QDialog::closeEvent(event);
}

// ---------------------------------------------------------------- layout

void TMiniNDSBrowser::resizeEvent(QResizeEvent* event) {
    QDialog::resizeEvent(event);
    FormResize();
}

void TMiniNDSBrowser::FormResize() {
    const int w = width();
    const int h = height();
    LVCtxBrowser->resize(w - LVCtxBrowser->x() - BOk->width() - 20, h - 75);
    LVCtxBrowser->setColumnWidth(0, LVCtxBrowser->width() - 21);
    const int buttonLeft = LVCtxBrowser->x() + LVCtxBrowser->width() + 10;
    BOk->move(buttonLeft, BOk->y());
    BAbbruch->move(buttonLeft, BAbbruch->y());
}
