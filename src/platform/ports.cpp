#include "platform/ports.h"

#include <cstdlib>

namespace platform {
namespace {

struct SilentBox : MessageBoxPort {
    Answer show(const std::string&, const std::string&, Buttons) override { return Answer::Ok; }
};
struct NoCursor : BusyCursorPort {
    void push() override {}
    void pop() override {}
};
struct NoPump : EventPumpPort {
    void pump() override {}
};
struct NoShell : ShellPort {
    bool openWebAddress(const std::string&) override { return false; }
    void endProgram(int exitCode) override { std::exit(exitCode); }
};
struct NoCredentials : CredentialsPort {
    bool askPassword(const std::string&, std::string&) override { return false; }
};

SilentBox silentBox;
NoCursor noCursor;
NoPump noPump;
NoShell noShell;
NoCredentials noCredentials;

Ports& installed() {
    static Ports p{&silentBox, &noCursor, &noPump, &noShell, &noCredentials};
    return p;
}

}  // namespace

void installPorts(const Ports& ports) {
    Ports& p = installed();
    p.messageBox = ports.messageBox ? ports.messageBox : &silentBox;
    p.busyCursor = ports.busyCursor ? ports.busyCursor : &noCursor;
    p.eventPump = ports.eventPump ? ports.eventPump : &noPump;
    p.shell = ports.shell ? ports.shell : &noShell;
    p.credentials = ports.credentials ? ports.credentials : &noCredentials;
}

const Ports& ports() { return installed(); }

Answer showMessage(const std::string& text, const std::string& caption, Buttons buttons) {
    return installed().messageBox->show(text, caption, buttons);
}

void showInformation(const std::string& text, const std::string& caption) {
    installed().messageBox->inform(text, caption);
}

void pumpMessages() { installed().eventPump->pump(); }

bool openWebAddress(const std::string& address) { return installed().shell->openWebAddress(address); }

void endProgram(int exitCode) {
    installed().shell->endProgram(exitCode);
    std::exit(exitCode);  // a port that returns still ends the program
}

bool askPassword(const std::string& prompt, std::string& password) {
    return installed().credentials->askPassword(prompt, password);
}

std::string joinLines(std::initializer_list<std::string> lines) {
    std::string out;
    bool first = true;
    for (const auto& line : lines) {
        if (!first) out += "\r\n";
        out += line;
        first = false;
    }
    return out;
}

BusyCursor::BusyCursor() { installed().busyCursor->push(); }
BusyCursor::~BusyCursor() { installed().busyCursor->pop(); }

}  // namespace platform
