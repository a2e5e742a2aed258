#include "platform/recording.h"

namespace platform {

Answer RecordingMessageBox::show(const std::string& text, const std::string& caption, Buttons buttons) {
    boxes.push_back({caption, text, buttons});
    if (onShow) onShow(boxes.back());
    if (nextAnswers.empty()) return Answer::Ok;
    Answer a = nextAnswers.front();
    nextAnswers.pop_front();
    return a;
}

void RecordingBusyCursor::push() {
    ++depth;
    ++pushes;
    if (depth > maxDepth) maxDepth = depth;
}

void RecordingBusyCursor::pop() { --depth; }

void RecordingEventPump::pump() {
    ++count;
    if (onPump) onPump(count);
}

bool RecordingShell::openWebAddress(const std::string& address) {
    opened.push_back(address);
    return openSucceeds;
}

void RecordingShell::endProgram(int exitCode) {
    ++endCount;
    throw ProgramEnded(exitCode);
}

bool RecordingCredentials::askPassword(const std::string& prompt, std::string& pw) {
    prompts.push_back(prompt);
    if (give) pw = password;
    return give;
}

RecordingPorts::RecordingPorts() { installPorts({&box, &cursor, &pump, &shell, &credentials}); }
RecordingPorts::~RecordingPorts() { installPorts({}); }

}  // namespace platform
