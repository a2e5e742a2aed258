// The browser panel of the main window: listing a context into LVCtxBrowser, navigation by
// double-click, and the focus and selection rules that switch the "Internet" buttons.
#include "main/tform1.h"

#include "main/pictures.h"
#include "main/widgets.h"
#include "nwapi/nwapi.h"
#include "settings/settings.h"

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

void TForm1::FillRows(TListView* view, const std::vector<browse::Row>& rows) {
    view->setUpdatesEnabled(false);
    view->clear();
    for (const browse::Row& row : rows) {
        const QString caption = QString::fromStdString(row.caption);
        auto* item = new QListWidgetItem(pictures::symbol(row.icon), caption);
        item->setData(Qt::UserRole, row.icon);
        // A long name is cut at the row's end; the hint shows it whole. (A deny-list caption is
        // the full name already; the browser puts its own full names in afterwards.)
        item->setToolTip(caption);
        view->addItem(item);
    }
    view->setUpdatesEnabled(true);
}

void TForm1::ZeigeContext(const std::string& context) {
    const browse::ListingResult result = Browser.ZeigeContext(context, listingOptions());
    if (result == browse::ListingResult::Ignored) return;
    if (result == browse::ListingResult::Shown) {
        FillRows(LVCtxBrowser, Browser.rows());
        const text::NameList& fullNames = Browser.CtxVolleNamen();
        for (int i = 0; i < LVCtxBrowser->count() && size_t(i) < fullNames.size(); ++i) {
            // ".." names the context it leads up to.
            const std::string full = LVCtxBrowser->item(i)->text() == QLatin1String("..")
                                         ? nwapi::UebergeordneterContext(Browser.AktContext())
                                         : browse::StripRootSuffix(fullNames[size_t(i)]);
            LVCtxBrowser->item(i)->setToolTip(QString::fromStdString(full));
        }
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
