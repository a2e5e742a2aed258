// Shared by the main-window tests: recorded ports, a temporary demo tree, the window on it.
#pragma once

#include "main/pictures.h"
#include "main/tform1.h"
#include "main/widgets.h"
#include "nwapi/nwapi.h"
#include "nwclient/client_setup.h"
#include "nwclient/embedded/embedded_backend.h"
#include "nwclient/fault_backend.h"
#include "platform/recording.h"
#include "settings/settings.h"
#include "slapd_fixture.h"
#include "temp_trees.h"

#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QMainWindow>
#include <QPushButton>
#include <QListWidget>
#include <QTest>

#include <memory>
#include <string>
#include <vector>

namespace mainwindowtest {

inline const std::string DenyGroup = "G_User_Internet_Deny.PROJEKTE.UNTERRICHT";

struct Session {
    platform::RecordingPorts ports;
    testsupport::TempDir dir;
    std::unique_ptr<ldaptest::Slapd> server;  // set by open(..., ..., true); outlives the window
    std::unique_ptr<TForm1> form;
    nw::FaultBackend* faults = nullptr;  // set by open(..., true)

    std::string iniPath() const { return dir.file("tarvel.ini"); }

    // A settings file of this program with the given DEFAULT and SWITCH lines (CR LF).
    void writeSettings(const std::string& defaultLines, const std::string& switchLines = "") {
        testsupport::writeFile(iniPath(), "[TYP]\r\nTYP=Tarvel\r\nVer=100\r\n[DEFAULT]\r\n" + defaultLines +
                                              "[SWITCH]\r\n" + switchLines + "[SHOW]\r\nShowFirst=1\r\n");
    }

    // Builds the window on the demo tree (as the operator) and activates it once.
    // With faults, the demo tree is reached through a fault-injecting backend. On slapd, the
    // window works on a private server loaded with the demo tree's LDIF export instead.
    void open(const std::string& operatorName = "admin.UNTERRICHT", bool withFaults = false, bool onSlapd = false) {
        nw::resetClient();
        nwapi::resetLayerForTesting();
        settings::resetToStartValues();
        testsupport::useDemoTree(dir, operatorName);
        if (onSlapd) {
            server = std::make_unique<ldaptest::Slapd>(
                ldaptest::exportTree(dir.file("school.tree"), dir.file("school.ldif")));
            server->useAs(operatorName == ldaptest::ADMIN ? "admin" : "teacher");
        }
        if (withFaults && !onSlapd) {
            nw::NWCCODE status = 0;
            auto wrapped = std::make_unique<nw::FaultBackend>(
                nw::makeEmbeddedBackend(dir.file("school.tree"), operatorName, status));
            faults = wrapped.get();
            nw::installBackend(std::move(wrapped));
        }
        form = std::make_unique<TForm1>(std::vector<std::string>{"tarvel", "/ini=" + iniPath()});
        form->show();
        if (!QTest::qWaitForWindowActive(form.get())) form->FormActivate();
    }

    void close() {
        form.reset();
        nwapi::resetLayerForTesting();
        nw::resetClient();
        server.reset();
    }

    // Rows of a list view by caption.
    static QStringList captions(const QListWidget* view) {
        QStringList out;
        for (int i = 0; i < view->count(); ++i) out << view->item(i)->text();
        return out;
    }
    static int rowOf(const QListWidget* view, const QString& caption) {
        for (int i = 0; i < view->count(); ++i)
            if (view->item(i)->text().compare(caption, Qt::CaseInsensitive) == 0) return i;
        return -1;
    }
    static int iconOf(const QListWidget* view, int row) { return view->item(row)->data(Qt::UserRole).toInt(); }

    // Selects exactly these rows, as the operator's clicks would.
    static void select(QListWidget* view, const QList<int>& rows) {
        view->clearSelection();
        for (int r : rows) view->item(r)->setSelected(true);
    }

    // Double-clicks the row with this caption in the browser.
    bool enter(const QString& caption) {
        const int row = rowOf(form->LVCtxBrowser, caption);
        if (row < 0) return false;
        QListWidgetItem* item = form->LVCtxBrowser->item(row);
        form->LVCtxBrowser->scrollToItem(item);
        const QPoint at = form->LVCtxBrowser->visualItemRect(item).center();
        QTest::mouseClick(form->LVCtxBrowser->viewport(), Qt::LeftButton, {}, at);
        QTest::mouseDClick(form->LVCtxBrowser->viewport(), Qt::LeftButton, {}, at);
        return true;
    }

    std::vector<std::string> boxCaptions() const {
        std::vector<std::string> out;
        for (const auto& b : ports.box.boxes) out.push_back(b.caption);
        return out;
    }
};

// Presses a button as the operator would: only a visible, enabled one can be pressed.
inline void press(QPushButton* button) {
    QVERIFY2(button->isVisible() && button->isEnabled(), qPrintable(button->objectName()));
    QTest::mouseClick(button, Qt::LeftButton);
}

// Chooses a menu item: only an enabled, visible one can be chosen.
inline void choose(QAction* action) {
    QVERIFY2(action->isVisible() && action->isEnabled(), qPrintable(action->objectName()));
    action->trigger();
}

// For a menu item whose handler ends the program: the item must be one the operator can choose;
// its handler then runs directly, as an end thrown through Qt's signal path would not be safe.
inline bool choosable(const QAction* action) { return action->isVisible() && action->isEnabled(); }
inline bool pressable(const QPushButton* button) { return button->isVisible() && button->isEnabled(); }

// Values of one attribute of an object, read through the directory layer.
inline text::NameList attribute(const std::string& object, const std::string& name) {
    text::NameList values;
    nwapi::ExpectNDSError(-603);
    nwapi::GetAttributeMultiValueStringList(nwapi::layer().context, "." + object, name, values);
    return values;
}

inline bool holds(const text::NameList& values, const std::string& name) {
    for (const auto& v : values)
        if (text::equalsAsciiNoCase(v, name) || text::equalsAsciiNoCase(v, "." + name)) return true;
    return false;
}

// No window of a finished test may stay behind.
inline QStringList leftoverWindows() {
    QStringList out;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->isVisible() || qobject_cast<QDialog*>(w) || qobject_cast<QMainWindow*>(w)) out << (w->objectName() + ":" + w->metaObject()->className());
    return out;
}

}  // namespace mainwindowtest
