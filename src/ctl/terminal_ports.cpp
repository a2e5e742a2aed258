#include "ctl/terminal_ports.h"

#include "platform/stderr_line.h"

#include <cstdio>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

namespace ctl {

namespace {

std::string withoutCarriageReturns(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i)
        if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')) out += text[i];
    return out;
}

StderrMessageBox box;
TerminalCredentials credentials;

}  // namespace

platform::Answer StderrMessageBox::show(const std::string& text, const std::string& caption, platform::Buttons) {
    ++shown;
    platform::endStderrLine();
    std::fprintf(stderr, "%s: %s\n", caption.c_str(), withoutCarriageReturns(text).c_str());
    std::fflush(stderr);
    return platform::Answer::Ok;
}

bool TerminalCredentials::askPassword(const std::string& prompt, std::string& password) {
    const int fd = ::open("/dev/tty", O_RDWR | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) return false;
    termios old{};
    const bool isTerminal = ::tcgetattr(fd, &old) == 0;
    if (!isTerminal) {
        ::close(fd);
        return false;
    }
    termios quiet = old;
    quiet.c_lflag &= ~tcflag_t(ECHO);
    quiet.c_lflag |= ECHONL;
    ::tcsetattr(fd, TCSAFLUSH, &quiet);
    const std::string ask = prompt + ": ";
    (void)!::write(fd, ask.data(), ask.size());
    password.clear();
    char c = 0;
    bool got = false;
    while (::read(fd, &c, 1) == 1) {
        got = true;
        if (c == '\n' || c == '\r') break;
        password += c;
    }
    ::tcsetattr(fd, TCSAFLUSH, &old);
    ::close(fd);
    return got && !password.empty();
}

void installTerminalPorts() {
    platform::Ports ports;
    ports.messageBox = &box;
    ports.credentials = &credentials;
    platform::installPorts(ports);
}

StderrMessageBox& messageBox() { return box; }

}  // namespace ctl
