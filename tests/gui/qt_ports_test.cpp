// The Qt ports on the offscreen platform: the message box as the program's boxes look, the
// nesting hourglass, pumping, and the login dialog.
#include "platform/qt/qt_ports.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QPointer>
#include <QtTest>

#include <functional>

using platform::Answer;
using platform::Buttons;

namespace {

// Runs `drive` on the first modal widget of type T once it shows (from inside its exec()).
template <typename T>
void whenModalShows(std::function<void(T*)> drive) {
    auto* timer = new QTimer;
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, [timer, drive] {
        if (auto* w = qobject_cast<T*>(QApplication::activeModalWidget()); w && w->isVisible()) {
            timer->stop();
            timer->deleteLater();
            drive(w);
        }
    });
    timer->start();
}

}  // namespace

class TestQtPorts : public QObject {
    Q_OBJECT

private slots:
    void messageBoxLooksAsTheProgramsBoxes() {
        platform::qt::QtMessageBox port;
        QString title, text;
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        Qt::WindowModality modality = Qt::NonModal;
        bool hasParent = true;
        int buttonCount = 0;
        whenModalShows<QMessageBox>([&](QMessageBox* box) {
            title = box->windowTitle();
            text = box->text();
            icon = box->icon();
            modality = box->windowModality();
            hasParent = box->parentWidget() != nullptr;
            buttonCount = int(box->buttons().size());
            box->button(QMessageBox::Ok)->click();
        });
        const Answer a = port.show(platform::joinLines({"In der Liste wurden keine", "Benutzer <ausgewählt>!"}),
                                   "Auswahl-Fehler", Buttons::Ok);
        QCOMPARE(a, Answer::Ok);
        QCOMPARE(title, QStringLiteral("Auswahl-Fehler"));
        QCOMPARE(text, QStringLiteral("In der Liste wurden keine\nBenutzer <ausgewählt>!"));
        QCOMPARE(icon, QMessageBox::Critical);
        QCOMPARE(modality, Qt::ApplicationModal);
        QVERIFY(!hasParent);
        QCOMPARE(buttonCount, 1);
    }

    // Qt's own words in German (the program speaks German whatever the locale); a box that
    // reports what the operator asked for shows the information icon, a fault the error icon.
    void okCancelBoxAnswersWhatWasPressed() {
        QVERIFY(platform::qt::installGermanTranslations(*QCoreApplication::instance()));
        platform::qt::QtMessageBox port;
        int buttonCount = 0;
        QString cancelText;
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        whenModalShows<QMessageBox>([&](QMessageBox* box) {
            buttonCount = int(box->buttons().size());
            cancelText = box->button(QMessageBox::Cancel)->text();
            icon = box->icon();
            box->button(QMessageBox::Cancel)->click();
        });
        QCOMPARE(port.show("Fehler 1. x", "NDS-Fehler", Buttons::OkCancel), Answer::Cancel);
        QCOMPARE(buttonCount, 2);
        QCOMPARE(cancelText, QStringLiteral("Abbrechen"));
        QCOMPARE(icon, QMessageBox::Critical);
        whenModalShows<QMessageBox>([&](QMessageBox* box) {
            icon = box->icon();
            buttonCount = int(box->buttons().size());
            box->button(QMessageBox::Ok)->click();
        });
        port.inform("Abgebrochen.", "Tarvel Internet-Stop");
        QCOMPARE(icon, QMessageBox::Information);
        QCOMPARE(buttonCount, 1);

        whenModalShows<QMessageBox>([](QMessageBox* box) { QTest::keyClick(box, Qt::Key_Escape); });
        QCOMPARE(port.show("Fehler 1. x", "NDS-Fehler", Buttons::OkCancel), Answer::Cancel);

        whenModalShows<QMessageBox>([](QMessageBox* box) { QTest::keyClick(box, Qt::Key_Return); });
        QCOMPARE(port.show("Fehler 1. x", "NDS-Fehler", Buttons::OkCancel), Answer::Ok);
    }

    void busyCursorNests() {
        platform::qt::QtBusyCursor cursor;
        QVERIFY(QGuiApplication::overrideCursor() == nullptr);
        cursor.push();
        cursor.push();
        QVERIFY(QGuiApplication::overrideCursor() != nullptr);
        QCOMPARE(QGuiApplication::overrideCursor()->shape(), Qt::WaitCursor);
        cursor.pop();
        QVERIFY(QGuiApplication::overrideCursor() != nullptr);
        cursor.pop();
        QVERIFY(QGuiApplication::overrideCursor() == nullptr);
        // one pop too many must not take away a cursor someone else set
        QGuiApplication::setOverrideCursor(QCursor(Qt::CrossCursor));
        cursor.pop();
        QVERIFY(QGuiApplication::overrideCursor() != nullptr);
        QGuiApplication::restoreOverrideCursor();
    }

    void boxShowsTheArrowOverTheHourglass() {
        platform::qt::QtMessageBox port;
        platform::qt::QtBusyCursor cursor;
        cursor.push();
        Qt::CursorShape during = Qt::WaitCursor;
        whenModalShows<QMessageBox>([&](QMessageBox* box) {
            during = QGuiApplication::overrideCursor()->shape();
            box->button(QMessageBox::Ok)->click();
        });
        port.show("Fehler 1. x", "NDS-Fehler", Buttons::Ok);
        const Qt::CursorShape after = QGuiApplication::overrideCursor()->shape();
        cursor.pop();
        QCOMPARE(during, Qt::ArrowCursor);
        QCOMPARE(after, Qt::WaitCursor);  // the hourglass is back for the rest of the command
        QVERIFY(QGuiApplication::overrideCursor() == nullptr);
    }

    void installedPortsAreUsedAndRemoved() {
        {
            platform::qt::QtPorts ports;
            QCOMPARE(platform::ports().messageBox, static_cast<platform::MessageBoxPort*>(&ports.messageBox));
            {
                platform::BusyCursor hourglass;
                QVERIFY(QGuiApplication::overrideCursor() != nullptr);
            }
            QVERIFY(QGuiApplication::overrideCursor() == nullptr);

            bool ran = false;
            QTimer::singleShot(0, [&] { ran = true; });
            platform::pumpMessages();
            QVERIFY(ran);
        }
        QVERIFY(platform::ports().messageBox != nullptr);
        QVERIFY(platform::ports().busyCursor != nullptr);
    }

    void pumpingIsRateLimited() {
        platform::qt::QtEventPump pump;
        pump.pump();  // the first call after a pause processes at once
        bool ran = false;
        QTimer::singleShot(0, [&] { ran = true; });
        QElapsedTimer clock;
        clock.start();
        int calls = 0;
        while (!ran && clock.elapsed() < 2000) {
            pump.pump();
            ++calls;
        }
        QVERIFY(ran);  // messages still get through while a listing pumps
        QVERIFY2(calls > 1, "every pump processed the window messages");
        QVERIFY(clock.elapsed() >= platform::qt::QtEventPump::IntervalMs - 1);
    }

    void longListingShowsProgressWithoutCancel() {
        platform::qt::QtPorts ports;
        // pumps the way a listing does, for the given time, under the hourglass
        auto listing = [](int ms) {
            platform::BusyCursor hourglass;
            QElapsedTimer clock;
            clock.start();
            while (clock.elapsed() < ms) platform::pumpMessages();
        };
        listing(150);
        QVERIFY2(ports.eventPump.progress() == nullptr, "a short listing showed progress");

        QPointer<platform::qt::ListingProgress> seen;
        bool visible = false;
        {
            platform::BusyCursor hourglass;
            QElapsedTimer clock;
            clock.start();
            while (clock.elapsed() < 800) {
                platform::pumpMessages();
                if (ports.eventPump.progress() && !seen) {
                    seen = ports.eventPump.progress();
                    // Esc does not end it: a listing cut short would look whole.
                    QTest::keyClick(seen, Qt::Key_Escape);
                }
            }
            QVERIFY2(seen, "no progress after 800 ms of listing");
            visible = seen->isVisible();
            QCOMPARE(seen->label()->text(), QStringLiteral("Das Verzeichnis wird gelesen …"));
            QCOMPARE(seen->bar()->maximum(), 0);  // a running bar: the count is not known
            QVERIFY(seen->findChildren<QPushButton*>().isEmpty());
            QCOMPARE(seen->windowModality(), Qt::ApplicationModal);
        }
        QVERIFY(visible);
        QVERIFY2(!seen, "the progress stayed after the listing ended");
        QVERIFY(ports.eventPump.progress() == nullptr);
    }

    void passwordDialogHidesAndReturnsThePassword() {
        platform::qt::QtCredentials port;
        QLineEdit::EchoMode echo = QLineEdit::Normal;
        QString title;
        whenModalShows<platform::qt::PasswordDialog>([&](platform::qt::PasswordDialog* d) {
            title = d->windowTitle();
            echo = d->passwordEdit()->echoMode();
            QTest::keyClicks(d->passwordEdit(), QStringLiteral("geh"));
            d->passwordEdit()->insert(QStringLiteral("ëim"));  // keyClicks knows ASCII only
            d->findChild<QPushButton*>(QStringLiteral("BOk"))->click();
        });
        std::string password;
        QVERIFY(port.askPassword("Passwort für admin.UNTERRICHT:", password));
        QCOMPARE(echo, QLineEdit::Password);
        QVERIFY(!title.isEmpty());
        QCOMPARE(QString::fromStdString(password), QStringLiteral("gehëim"));

        whenModalShows<platform::qt::PasswordDialog>([](platform::qt::PasswordDialog* d) {
            QTest::keyClicks(d->passwordEdit(), QStringLiteral("x"));
            d->findChild<QPushButton*>(QStringLiteral("BAbbruch"))->click();
        });
        password = "unchanged";
        QVERIFY(!port.askPassword("Passwort:", password));
        QCOMPARE(QString::fromStdString(password), QStringLiteral("unchanged"));
    }

    void unparsableWebAddressIsRefused() {
        platform::qt::QtShell shell;
        QVERIFY(!shell.openWebAddress(""));
        QVERIFY(!shell.openWebAddress("file:///nicht/da/README.md"));  // a browser would show nothing
    }
};

QTEST_MAIN(TestQtPorts)
#include "qt_ports_test.moc"
