// Shared by the picker and settings-dialog tests: a session on a temporary demo tree with
// recorded ports, and a catcher that drives a modal dialog from inside its exec().
#pragma once

#include "nwapi/nwapi.h"
#include "nwclient/client_setup.h"
#include "nwclient/embedded/tree_store.h"
#include "platform/recording.h"
#include "settings/settings.h"
#include "settings/ui/mini_nds_browser.h"
#include "temp_trees.h"

#include <QApplication>
#include <QDialog>
#include <QPointer>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include <functional>
#include <memory>
#include <string>

namespace pickertest {

// The demo school, plus an organizational unit PROJEKTE directly below the root, so that a
// choice at the root can be tried.
struct Session {
    platform::RecordingPorts ports;
    testsupport::TempDir dir;

    void open() {
        nw::resetClient();
        nwapi::resetLayerForTesting();
        settings::resetToStartValues();
        testsupport::useDemoTree(dir);
        {
            nw::NWCCODE status = 0;
            auto store = nw::embedded::TreeStore::open(dir.file("school.tree"), status);
            QVERIFY2(store, "demo tree not readable");
            nw::ObjectId id = 0;
            nw::ObjectId existing = 0;
            if (!store->child(nw::ROOT_ID, "PROJEKTE", existing))
                QCOMPARE(store->addObject(nw::ROOT_ID, "PROJEKTE", "Organizational Unit", id), 0);
        }
        bool ok = false;
        nwapi::InitNWConnection(ok);
        QVERIFY2(ok, "no connection to the demo tree");
        nwapi::SetzeContext("[root]");
        ports.box.boxes.clear();
    }

    void close() {
        nwapi::DoneNWConnection();
        nwapi::resetLayerForTesting();
        nw::resetClient();
        settings::resetToStartValues();
    }
};

// Runs `drive` on the first shown dialog of type D, from inside its modal run. Whatever
// `drive` leaves open is rejected afterwards, so a failed check never hangs the test.
template <typename D>
class CatchShow : public QObject {
public:
    explicit CatchShow(std::function<void(D*)> drive) : drive_(std::move(drive)) { qApp->installEventFilter(this); }
    ~CatchShow() override { qApp->removeEventFilter(this); }
    bool caught() const { return caught_; }

protected:
    bool eventFilter(QObject* object, QEvent* event) override {
        if (event->type() == QEvent::Show && !caught_) {
            if (auto* dialog = qobject_cast<D*>(object)) {
                caught_ = true;
                QPointer<D> guard(dialog);
                QTimer::singleShot(0, dialog, [this, guard] {
                    drive_(guard.data());
                    if (guard && guard->isVisible()) {
                        QTRY_VERIFY(!guard->busy());
                        guard->reject();
                    }
                });
            }
        }
        return false;
    }

private:
    std::function<void(D*)> drive_;
    bool caught_ = false;
};

// Waits until the picker has listed its start context.
inline bool waitForListing(TMiniNDSBrowser* picker, int minimumRows = 1) {
    return QTest::qWaitFor([&] { return !picker->busy() && picker->LVCtxBrowser->topLevelItemCount() >= minimumRows; });
}

inline QStringList captions(const TMiniNDSBrowser* picker) {
    QStringList out;
    for (int i = 0; i < picker->LVCtxBrowser->topLevelItemCount(); ++i)
        out << picker->LVCtxBrowser->topLevelItem(i)->text(0);
    return out;
}

inline int rowOf(const TMiniNDSBrowser* picker, const QString& caption) {
    for (int i = 0; i < picker->LVCtxBrowser->topLevelItemCount(); ++i)
        if (picker->LVCtxBrowser->topLevelItem(i)->text(0).compare(caption, Qt::CaseInsensitive) == 0) return i;
    return -1;
}

inline QRect rowRect(const TMiniNDSBrowser* picker, int row) {
    return picker->LVCtxBrowser->visualItemRect(picker->LVCtxBrowser->topLevelItem(row));
}

// A click on the row, as the operator's mouse would give it.
inline void clickRow(TMiniNDSBrowser* picker, int row) {
    QTest::mouseClick(picker->LVCtxBrowser->viewport(), Qt::LeftButton, {}, rowRect(picker, row).center());
}

inline void doubleClickRow(TMiniNDSBrowser* picker, int row) {
    const QPoint at = rowRect(picker, row).center();
    QTest::mouseClick(picker->LVCtxBrowser->viewport(), Qt::LeftButton, {}, at);
    QTest::mouseDClick(picker->LVCtxBrowser->viewport(), Qt::LeftButton, {}, at);
}

// Double-clicks the row and waits for the listing; true when the picker is then at `context`.
inline bool enterRow(TMiniNDSBrowser* picker, const QString& caption, const std::string& context) {
    const int row = rowOf(picker, caption);
    if (row < 0) return false;
    doubleClickRow(picker, row);
    return QTest::qWaitFor([&] { return !picker->busy() && picker->AktContext() == context; });
}

// The configuration the settings dialog gives for a container or a group button.
inline void configure(TMiniNDSBrowser& picker, bool groups) {
    picker.SetListenModus(0);
    picker.SetStartContext("[ROOT]");
    picker.SetErlaubeHoeher(true);
    picker.SetMehrfachAuswahl(false);
    if (groups) {
        picker.SetAnzeigeKlassen({"Organizational Unit", "Organization", "Group"});
        picker.SetAuswahlKlassen({"Group"});
    } else {
        picker.SetAnzeigeKlassen({"Organizational Unit", "Organization"});
        picker.SetAuswahlKlassen({"Organization", "Organizational Unit"});
    }
}

}  // namespace pickertest
