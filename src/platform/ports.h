// Ports to the desktop. The directory layer and the settings file show message boxes, set the
// hourglass, pump window messages and may end the program; they do it only through these
// interfaces, so the core never links Qt. app/main.cpp installs the Qt implementations, tests
// install the recording ones (tests/support/platform/recording.h).
#pragma once

#include <functional>
#include <string>

namespace platform {

enum class Buttons { Ok, OkCancel };
enum class Answer { Ok, Cancel };

// Task-modal box without owner window and with the error icon. Multi-line texts arrive joined
// by CR LF.
class MessageBoxPort {
public:
    virtual ~MessageBoxPort() = default;
    virtual Answer show(const std::string& text, const std::string& caption, Buttons buttons) = 0;
    // A box with OK that reports what the operator asked for (a cancel, say), not a fault: the
    // information icon where the port shows icons.
    virtual void inform(const std::string& text, const std::string& caption) { show(text, caption, Buttons::Ok); }
};

class BusyCursorPort {
public:
    virtual ~BusyCursorPort() = default;
    virtual void push() = 0;  // nesting allowed; the hourglass shows while the depth is > 0
    virtual void pop() = 0;
};

class EventPumpPort {
public:
    virtual ~EventPumpPort() = default;
    virtual void pump() = 0;  // process pending window messages, then return
};

class ShellPort {
public:
    virtual ~ShellPort() = default;
    virtual bool openWebAddress(const std::string& address) = 0;  // false = could not start a browser
    virtual void endProgram(int exitCode) = 0;                    // does not return in the program
};

// Asks the operator for a password (LDAP bind). Returns false when the operator cancels.
class CredentialsPort {
public:
    virtual ~CredentialsPort() = default;
    virtual bool askPassword(const std::string& prompt, std::string& password) = 0;
};

struct Ports {
    MessageBoxPort* messageBox = nullptr;
    BusyCursorPort* busyCursor = nullptr;
    EventPumpPort* eventPump = nullptr;
    ShellPort* shell = nullptr;
    CredentialsPort* credentials = nullptr;
};

// Installs the ports; members left null fall back to silent do-nothing implementations
// (a box answers OK, no password is given).
void installPorts(const Ports& ports);
const Ports& ports();

// Convenience calls through the installed ports.
Answer showMessage(const std::string& text, const std::string& caption, Buttons buttons = Buttons::Ok);
void showInformation(const std::string& text, const std::string& caption);
void pumpMessages();
bool openWebAddress(const std::string& address);
[[noreturn]] void endProgram(int exitCode = 0);
bool askPassword(const std::string& prompt, std::string& password);

// Joins lines with CR LF, as every multi-line message text is.
std::string joinLines(std::initializer_list<std::string> lines);

// The hourglass for the lifetime of the object.
class BusyCursor {
public:
    BusyCursor();
    ~BusyCursor();
    BusyCursor(const BusyCursor&) = delete;
    BusyCursor& operator=(const BusyCursor&) = delete;
};

}  // namespace platform
