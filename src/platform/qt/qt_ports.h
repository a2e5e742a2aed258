// The Qt implementations of the desktop ports (platform/ports.h). app/main.cpp creates one
// QtPorts after the QApplication and keeps it for the program's lifetime; it installs itself
// and puts the silent ports back when it goes.
#pragma once

#include "platform/ports.h"

#include <QDialog>

class QLabel;
class QLineEdit;

namespace platform::qt {

// Error icon, no owner window, modal for the whole application (the program's windows are all
// blocked, as a task-modal box blocks them). CR LF in the text become line breaks; the text is
// shown as plain text, so a name with "<" is never taken for markup.
class QtMessageBox : public MessageBoxPort {
public:
    Answer show(const std::string& text, const std::string& caption, Buttons buttons) override;
};

// The hourglass through QGuiApplication's override-cursor stack, so nesting works.
class QtBusyCursor : public BusyCursorPort {
public:
    void push() override;
    void pop() override;
    int depth() const { return depth_; }

private:
    int depth_ = 0;
};

class QtEventPump : public EventPumpPort {
public:
    void pump() override;
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
    QtEventPump eventPump;
    QtShell shell;
    QtCredentials credentials;
};

}  // namespace platform::qt
