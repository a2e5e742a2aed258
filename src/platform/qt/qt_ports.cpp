#include "platform/qt/qt_ports.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QDialogButtonBox>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLabel>
#include <QLibraryInfo>
#include <QLineEdit>
#include <QLocale>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTranslator>
#include <QUrl>
#include <QVBoxLayout>

#include <cstdio>
#include <cstdlib>

namespace platform::qt {

namespace {

QString fromUtf8(const std::string& s) { return QString::fromUtf8(s.data(), qsizetype(s.size())); }

// Message texts join their lines with CR LF; a lone CR or LF breaks a line too.
QString messageText(const std::string& text) {
    QString t = fromUtf8(text);
    t.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    t.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return t;
}

}  // namespace

Answer QtMessageBox::show(const std::string& text, const std::string& caption, Buttons buttons) {
    return run(text, caption, buttons, false);
}

void QtMessageBox::inform(const std::string& text, const std::string& caption) { run(text, caption, Buttons::Ok, true); }

Answer QtMessageBox::run(const std::string& text, const std::string& caption, Buttons buttons, bool information) {
    if (!qobject_cast<QApplication*>(QCoreApplication::instance())) {
        // No window system yet (or a command-line caller): the words must not be lost.
        std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
        return Answer::Ok;
    }
    QMessageBox box;  // no owner window
    box.setIcon(information ? QMessageBox::Information : QMessageBox::Critical);
    box.setWindowTitle(fromUtf8(caption));
    box.setTextFormat(Qt::PlainText);
    box.setText(messageText(text));
    box.setWindowModality(Qt::ApplicationModal);
    QPushButton* ok = box.addButton(QMessageBox::Ok);
    QPushButton* cancel = nullptr;
    if (buttons == Buttons::OkCancel) {
        cancel = box.addButton(QMessageBox::Cancel);
        box.setEscapeButton(cancel);
    } else {
        box.setEscapeButton(ok);
    }
    box.setDefaultButton(ok);
    // The box waits for the operator: it shows the arrow, also while a command's hourglass is up.
    const bool hourglass = QGuiApplication::overrideCursor() != nullptr;
    if (hourglass) QGuiApplication::setOverrideCursor(QCursor(Qt::ArrowCursor));
    box.exec();
    if (hourglass) QGuiApplication::restoreOverrideCursor();
    return (cancel && box.clickedButton() == cancel) ? Answer::Cancel : Answer::Ok;
}

void QtBusyCursor::push() {
    ++depth_;
    ++generation_;
    if (qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        QGuiApplication::setOverrideCursor(QCursor(Qt::WaitCursor));
}

void QtBusyCursor::pop() {
    if (depth_ == 0) return;  // never pop a cursor someone else set
    --depth_;
    if (qobject_cast<QGuiApplication*>(QCoreApplication::instance())) QGuiApplication::restoreOverrideCursor();
    if (depth_ == 0 && onIdle) onIdle();
}

ListingProgress::ListingProgress() {
    setObjectName(QStringLiteral("ListingProgress"));
    setWindowTitle(QStringLiteral("Tarvelweb"));
    setWindowModality(Qt::ApplicationModal);
    setWindowFlags(windowFlags() & ~Qt::WindowCloseButtonHint & ~Qt::WindowContextHelpButtonHint);
    auto* layout = new QVBoxLayout(this);
    label_ = new QLabel(QStringLiteral("Das Verzeichnis wird gelesen …"), this);
    label_->setObjectName(QStringLiteral("LProgress"));
    layout->addWidget(label_);
    bar_ = new QProgressBar(this);
    bar_->setObjectName(QStringLiteral("PBProgress"));
    bar_->setRange(0, 0);  // how many entries follow is not known before the end
    bar_->setMinimumWidth(260);
    layout->addWidget(bar_);
}

QtEventPump::~QtEventPump() { endProgress(); }

void QtEventPump::pump() {
    if (!QCoreApplication::instance()) return;
    if (busy_ && busy_->depth() > 0 && qobject_cast<QApplication*>(QCoreApplication::instance())) {
        if (listingGeneration_ != busy_->generation() || !listingSince_.isValid()) {
            listingGeneration_ = busy_->generation();
            listingSince_.start();
        } else if (!progress_ && listingSince_.elapsed() >= ProgressAfterMs) {
            progress_ = new ListingProgress;
            progress_->show();
            lastProcessed_.invalidate();  // paint it now
        }
    }
    if (lastProcessed_.isValid() && lastProcessed_.elapsed() < IntervalMs) return;
    QCoreApplication::processEvents();
    lastProcessed_.start();
}

void QtEventPump::endProgress() {
    listingSince_.invalidate();
    if (!progress_) return;
    delete progress_;
    progress_ = nullptr;
}

bool QtShell::openWebAddress(const std::string& address) {
    const QUrl url = QUrl::fromUserInput(fromUtf8(address));
    if (!url.isValid()) return false;
    // A browser started on a file that is not there shows nothing the operator could act on.
    if (url.isLocalFile() && !QFileInfo::exists(url.toLocalFile())) return false;
    return QDesktopServices::openUrl(url);
}

void QtShell::endProgram(int exitCode) {
    if (QCoreApplication::instance()) QCoreApplication::exit(exitCode);
    std::fflush(nullptr);
    std::exit(exitCode);
}

PasswordDialog::PasswordDialog(const QString& prompt, QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("PasswordDialog"));
    setWindowTitle(QStringLiteral("Anmeldung am Verzeichnis"));
    setModal(true);
    auto* layout = new QVBoxLayout(this);
    label_ = new QLabel(prompt, this);
    label_->setObjectName(QStringLiteral("LPrompt"));
    label_->setTextFormat(Qt::PlainText);
    label_->setWordWrap(true);
    layout->addWidget(label_);
    edit_ = new QLineEdit(this);
    edit_->setObjectName(QStringLiteral("EPasswort"));
    edit_->setEchoMode(QLineEdit::Password);
    label_->setBuddy(edit_);
    layout->addWidget(edit_);
    auto* buttons = new QDialogButtonBox(this);
    QPushButton* ok = buttons->addButton(QStringLiteral("OK"), QDialogButtonBox::AcceptRole);
    ok->setObjectName(QStringLiteral("BOk"));
    ok->setDefault(true);
    QPushButton* cancel = buttons->addButton(QStringLiteral("Abbrechen"), QDialogButtonBox::RejectRole);
    cancel->setObjectName(QStringLiteral("BAbbruch"));
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    edit_->setFocus();
}

QString PasswordDialog::password() const { return edit_->text(); }

bool QtCredentials::askPassword(const std::string& prompt, std::string& password) {
    if (!qobject_cast<QApplication*>(QCoreApplication::instance())) return false;
    PasswordDialog dialog(messageText(prompt));  // "Kennwort falsch" stands on a line of its own
    if (dialog.exec() != QDialog::Accepted) return false;
    const QByteArray utf8 = dialog.password().toUtf8();
    password.assign(utf8.constData(), size_t(utf8.size()));
    return true;
}

bool installGermanTranslations(QCoreApplication& app) {
    auto* translator = new QTranslator(&app);
    if (!translator->load(QLocale(QLocale::German, QLocale::Germany), QStringLiteral("qtbase"), QStringLiteral("_"),
                          QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        delete translator;
        return false;
    }
    return QCoreApplication::installTranslator(translator);
}

QtPorts::QtPorts() {
    busyCursor.onIdle = [this] { eventPump.endProgress(); };
    Ports p;
    p.messageBox = &messageBox;
    p.busyCursor = &busyCursor;
    p.eventPump = &eventPump;
    p.shell = &shell;
    p.credentials = &credentials;
    installPorts(p);
}

QtPorts::~QtPorts() {
    busyCursor.onIdle = nullptr;
    eventPump.endProgress();
    while (busyCursor.depth() > 0) busyCursor.pop();
    installPorts(Ports{});
}

}  // namespace platform::qt
