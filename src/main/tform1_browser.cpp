// The browser panel of the main window: listing a context into LVCtxBrowser, navigation by
// double-click, and the focus and selection rules that switch the "Internet" buttons.
#include "main/tform1.h"

#include "main/pictures.h"
#include "main/widgets.h"
#include "nwapi/nwapi.h"
#include "settings/settings.h"

#include <QElapsedTimer>
#include <QItemSelectionModel>
#include <QPushButton>

browse::ListingOptions TForm1::listingOptions() {
    const settings::Values& v = settings::values();
    filters_ = {v.ShowContainerList, v.NoShowContainerList, v.ShowLeafList, v.NoShowLeafList};
    browse::ListingOptions options;
    options.displayClasses = &BrowserKlassen;
    options.mode = 0;
    options.filters = &filters_;
    return options;
}

std::vector<browse::UpBarrier> TForm1::barriers() const {
    // Both base containers are barriers whichever view is shown.
    const settings::Values& v = settings::values();
    return {{v.BasisUserContainer, v.BasisUserContainerGoUpALevel},
            {v.BasisWorkstationContainer, v.BasisGroupContainerGoUpALevel}};
}

void TForm1::FillRows(TListView* view, size_t count, const std::function<browse::Row(size_t)>& rowAt,
                      const std::function<std::string(size_t)>& hintAt) {
    view->clear();
    QElapsedTimer slice;
    size_t next = 0;
    while (next < count) {
        // Painted before every slice: what came before (reading the rows) held the window too.
        repaintWindows();
        view->setUpdatesEnabled(false);
        slice.start();
        // The clock is read every few rows only: a row costs a few microseconds.
        do {
            const browse::Row row = rowAt(next);
            const QString caption = QString::fromStdString(row.caption);
            auto* item = new QListWidgetItem(pictures::symbol(row.icon), caption);
            item->setData(Qt::UserRole, row.icon);
            // A long name is cut at the row's end; the hint shows it whole.
            item->setToolTip(hintAt ? QString::fromStdString(hintAt(next)) : caption);
            view->addItem(item);
            ++next;
        } while (next < count && (next % 32 != 0 || slice.elapsed() < FillSliceMs));
        view->setUpdatesEnabled(true);
    }
    // The last slice shows too before whatever comes next (the other list's reading) holds the window.
    if (count > 0) repaintWindows();
}

void TForm1::ZeigeContext(const std::string& context) {
    const browse::ListingResult result = Browser.ZeigeContext(context, listingOptions());
    if (result == browse::ListingResult::Ignored) return;
    if (result == browse::ListingResult::Shown) {
        const std::vector<browse::Row>& rows = Browser.rows();
        const text::NameList& fullNames = Browser.CtxVolleNamen();
        FillRows(
            LVCtxBrowser, rows.size(), [&rows](size_t i) { return rows[i]; },
            [this, &rows, &fullNames](size_t i) {
                // ".." names the context it leads up to.
                if (rows[i].caption == "..") return nwapi::UebergeordneterContext(Browser.AktContext());
                return i < fullNames.size() ? browse::StripRootSuffix(fullNames[i]) : rows[i].caption;
            });
    }
    LVCtxBrowserEnter();
}

void TForm1::LVCtxBrowserDblClick() {
    command([this] {
        const QList<int> selected = LVCtxBrowser->selectedRows();
        if (selected.isEmpty()) return;
        const std::string caption = LVCtxBrowser->item(selected.first())->text().toStdString();
        // A refused ".." does nothing at all; any other target is listed (or not entered).
        if (const auto target = Browser.NavigationTarget(caption, barriers())) ZeigeContext(*target);
    });
}

void TForm1::LVCtxBrowserEnter() {
    // The first row gets the focus mark without being selected.
    if (LVCtxBrowser->count() > 0)
        LVCtxBrowser->selectionModel()->setCurrentIndex(LVCtxBrowser->model()->index(0, 0),
                                                        QItemSelectionModel::NoUpdate);
    KompEnter();
}

void TForm1::LVCtxBrowserSelectItem() {
    BStop->setEnabled(true);
    BGo->setEnabled(true);
}

void TForm1::KompEnter() {
    BStop->setEnabled(false);
    BGo->setEnabled(false);
}
