// The Qt implementations of the desktop ports (platform/ports.h). app/main.cpp creates one
// QtPorts after the QApplication and keeps it for the program's lifetime; it installs itself
// and puts the silent ports back when it goes.
#pragma once

#include "platform/ports.h"

#include <QDialog>
#include <QElapsedTimer>

class QCoreApplication;

#include <functional>

class QLabel;
class QLineEdit;
class QProgressBar;

namespace platform::qt {

// Error icon, no owner window, modal for the whole application (the program's windows are all
// blocked, as a task-modal box blocks them). CR LF in the text become line breaks; the text is
// shown as plain text, so a name with "<" is never taken for markup.
class QtMessageBox : public MessageBoxPort {
public:
    Answer show(const std::string& text, const std::string& caption, Buttons buttons) override;
    // The same frame with the information icon and OK.
    void inform(const std::string& text, const std::string& caption) override;

private:
    Answer run(const std::string& text, const std::string& caption, Buttons buttons, bool information);
};

// The program speaks German whatever the locale: Qt's own words ("Abbrechen" in the boxes, the
// edit fields' context menu, the lines of --help) come from Qt's German translations
// (qtbase_de in QLibraryInfo's translations folder). False when they are not installed.
bool installGermanTranslations(QCoreApplication& app);

// The hourglass through QGuiApplication's override-cursor stack, so nesting works.
class QtBusyCursor : public BusyCursorPort {
public:
    void push() override;
    void pop() override;
    int depth() const { return depth_; }
    // Counts the pushes: a new command (or a new listing inside one) has begun since.
    quint64 generation() const { return generation_; }
    std::function<void()> onIdle;  // called when the last hourglass goes

private:
    int depth_ = 0;
    quint64 generation_ = 0;
};

// Shown over a listing that takes long: what is going on, a running bar, no "Abbrechen" (a
// listing cut short would show a partial container as if it were whole). Esc and the close
// box do nothing; it goes when the listing ends.
class ListingProgress : public QDialog {
    Q_OBJECT
public:
    ListingProgress();
    QLabel* label() const { return label_; }
    QProgressBar* bar() const { return bar_; }
    void reject() override {}

private:
    QLabel* label_ = nullptr;
    QProgressBar* bar_ = nullptr;
};

// Processes window messages, but at most once every IntervalMs: the directory listing pumps
// about twice per entry, and handling the messages each time cost more than the listing.
// While the hourglass is up, a listing that has pumped for ProgressAfterMs shows ListingProgress
// until the hourglass goes.
class QtEventPump : public EventPumpPort {
public:
    static constexpr int IntervalMs = 20;
    static constexpr int ProgressAfterMs = 500;

    explicit QtEventPump(const QtBusyCursor* busy = nullptr) : busy_(busy) {}
    ~QtEventPump() override;
    void pump() override;
    // Closes the progress window (the listing has ended).
    void endProgress();
    ListingProgress* progress() const { return progress_; }

private:
    const QtBusyCursor* busy_;
    QElapsedTimer lastProcessed_;
    QElapsedTimer listingSince_;  // first pump since the hourglass went up
    quint64 listingGeneration_ = 0;
    ListingProgress* progress_ = nullptr;
};

class QtShell : public ShellPort {
public:
    bool openWebAddress(const std::string& address) override;
    // Leaves the event loop and ends the process with the code.
    [[noreturn]] void endProgram(int exitCode) override;
};

// The small login dialog behind QtCredentials: the prompt, a password field that does not
// echo, "OK" and "Abbrechen".
class PasswordDialog : public QDialog {
    Q_OBJECT
public:
    explicit PasswordDialog(const QString& prompt, QWidget* parent = nullptr);
    QString password() const;
    QLineEdit* passwordEdit() const { return edit_; }

private:
    QLabel* label_ = nullptr;
    QLineEdit* edit_ = nullptr;
};

class QtCredentials : public CredentialsPort {
public:
    bool askPassword(const std::string& prompt, std::string& password) override;
};

// Owns one of each port and installs them for its lifetime.
class QtPorts {
public:
    QtPorts();
    ~QtPorts();
    QtPorts(const QtPorts&) = delete;
    QtPorts& operator=(const QtPorts&) = delete;

    QtMessageBox messageBox;
    QtBusyCursor busyCursor;
    QtEventPump eventPump{&busyCursor};
    QtShell shell;
    QtCredentials credentials;
};

}  // namespace platform::qt
