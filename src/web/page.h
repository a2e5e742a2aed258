// The teachers' page as HTML: German, usable on a phone and on the room's PC, every control
// labelled and reachable by keyboard. Plain forms work without JavaScript; tarvel.js only
// sends them in the background and polls the job. Everything from the directory is escaped;
// the page has no inline script or style, so the strict Content-Security-Policy holds.
#pragma once

#include "deny/holds.h"
#include "web/worker.h"

#include <ctime>
#include <string>
#include <vector>

namespace web::page {

// <, >, &, " and ' as entities.
std::string escape(const std::string& text);
// Every byte but A-Z a-z 0-9 - . _ ~ as %XX, for a name put into an address.
std::string percentEncode(const std::string& text);
// "/klasse?name=..." for a class (not yet escaped for an attribute).
std::string classAddress(const std::string& className);

struct Frame {
    std::string teacher;  // who is logged in (empty on the login page)
    std::string token;    // the session's token for the forms
};

struct PupilView {
    PupilEntry pupil;
    std::vector<deny::Hold> holds;  // on this pupil
};

struct JobView {
    unsigned long id = 0;
    bool running = true;
    size_t done = 0, total = 0;
    bool ok = false;
    std::string caption;
    std::vector<std::string> lines;  // describe's words and the desk's lines
    std::string backTo;              // the class to go back to
};

std::string loginPage(const std::string& message, const std::string& login);
std::string classesPage(const Frame& frame, const std::vector<ClassEntry>& classes,
                        const std::vector<Box>& boxes);
// lessonEnd: when "bis Stundenende" would end now (0: no lesson left today; the button then
// says so and is disabled).
std::string classPage(const Frame& frame, const ClassEntry& cls, const std::vector<PupilView>& pupils,
                      std::time_t lessonEnd, std::time_t now, const std::vector<Box>& boxes);
std::string jobPage(const Frame& frame, const JobView& job);
std::string errorPage(const Frame& frame, const std::string& caption, const std::vector<std::string>& lines);

const std::string& stylesheet();
const std::string& script();

}  // namespace web::page
