// Recording implementations of the ports, for tests: boxes are kept (caption, text, buttons)
// so a test can assert the exact words; pumping counts and may run a test's callback;
// ending the program throws ProgramEnded so the test can see it and carry on.
#pragma once

#include "platform/ports.h"

#include <deque>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

namespace platform {

struct RecordedBox {
    std::string caption;
    std::string text;
    Buttons buttons;
};

class RecordingMessageBox : public MessageBoxPort {
public:
    Answer show(const std::string& text, const std::string& caption, Buttons buttons) override;
    std::vector<RecordedBox> boxes;
    std::deque<Answer> nextAnswers;  // answers to give, front first; OK when empty
    std::function<void(const RecordedBox&)> onShow;
};

class RecordingBusyCursor : public BusyCursorPort {
public:
    void push() override;
    void pop() override;
    int depth = 0;
    int maxDepth = 0;
    int pushes = 0;
};

class RecordingEventPump : public EventPumpPort {
public:
    void pump() override;
    int count = 0;
    std::function<void(int)> onPump;  // called with the running count
};

class ProgramEnded : public std::runtime_error {
public:
    explicit ProgramEnded(int code) : std::runtime_error("program ended"), exitCode(code) {}
    int exitCode;
};

class RecordingShell : public ShellPort {
public:
    bool openWebAddress(const std::string& address) override;
    [[noreturn]] void endProgram(int exitCode) override;  // throws ProgramEnded
    std::vector<std::string> opened;
    bool openSucceeds = true;
    int endCount = 0;
};

class RecordingCredentials : public CredentialsPort {
public:
    bool askPassword(const std::string& prompt, std::string& password) override;
    std::vector<std::string> prompts;
    std::string password;
    bool give = true;
};

// Owns one of each and installs them; uninstalls (back to the silent ports) on destruction.
class RecordingPorts {
public:
    RecordingPorts();
    ~RecordingPorts();
    RecordingMessageBox box;
    RecordingBusyCursor cursor;
    RecordingEventPump pump;
    RecordingShell shell;
    RecordingCredentials credentials;
};

}  // namespace platform
