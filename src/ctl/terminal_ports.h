// The ports for a program on a terminal: the layer's boxes go to stderr (caption, then the text),
// the password is asked for on the terminal without echo, the hourglass and the message pump do
// nothing.
#pragma once

#include "platform/ports.h"

namespace ctl {

class StderrMessageBox : public platform::MessageBoxPort {
public:
    platform::Answer show(const std::string& text, const std::string& caption, platform::Buttons buttons) override;
    int shown = 0;  // boxes so far: a failure the layer reported
};

// Reads the password from /dev/tty with echo off; no terminal, no password.
class TerminalCredentials : public platform::CredentialsPort {
public:
    bool askPassword(const std::string& prompt, std::string& password) override;
};

// Installs both (and silent cursor and pump) for the life of the program.
void installTerminalPorts();
StderrMessageBox& messageBox();

}  // namespace ctl
