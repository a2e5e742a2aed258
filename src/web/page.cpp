#include "web/page.h"

#include <cstdio>

#include "deny/describe.h"

namespace web::page {

std::string escape(const std::string& text) {
    std::string out;
    out.reserve(text.size() + text.size() / 8);
    for (char c : text) {
        switch (c) {
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '&':
                out += "&amp;";
                break;
            case '"':
                out += "&quot;";
                break;
            case '\'':
                out += "&#39;";
                break;
            default:
                out += c;
        }
    }
    return out;
}

std::string percentEncode(const std::string& text) {
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : text) {
        bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
                     c == '.' || c == '_' || c == '~';
        if (plain) {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

std::string classAddress(const std::string& className) { return "/klasse?name=" + percentEncode(className); }

namespace {

// A time as the teacher reads it: "10:20" today, "03.06. 10:20" on another day.
std::string clockText(std::time_t at, std::time_t now) {
    std::tm when{}, today{};
    localtime_r(&at, &when);
    localtime_r(&now, &today);
    bool sameDay = when.tm_year == today.tm_year && when.tm_yday == today.tm_yday;
    char buffer[32];
    std::strftime(buffer, sizeof buffer, sameDay ? "%H:%M" : "%d.%m. %H:%M", &when);
    return buffer;
}

std::string hidden(const std::string& name, const std::string& value) {
    return "<input type=\"hidden\" name=\"" + name + "\" value=\"" + escape(value) + "\">";
}

std::string head(const Frame& frame, const std::string& title, int refreshSeconds = 0) {
    std::string out =
        "<!DOCTYPE html>\n<html lang=\"de\">\n<head>\n<meta charset=\"utf-8\">\n"
        "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n";
    if (refreshSeconds > 0) out += "<meta http-equiv=\"refresh\" content=\"" + std::to_string(refreshSeconds) + "\">\n";
    out += "<title>" + escape(title) +
           " – Tarvel</title>\n"
           "<link rel=\"stylesheet\" href=\"/tarvel.css\">\n"
           "<script src=\"/tarvel.js\" defer></script>\n"
           "</head>\n<body>\n<header class=\"kopf\">\n<p class=\"marke\"><a href=\"/\">Tarvel</a></p>\n";
    if (!frame.teacher.empty()) {
        out += "<p class=\"wer\">Angemeldet als <strong>" + escape(frame.teacher) +
               "</strong></p>\n"
               "<form class=\"abmelden\" method=\"post\" action=\"/abmelden\">" +
               hidden("token", frame.token) + "<button type=\"submit\">Abmelden</button></form>\n";
    }
    out += "</header>\n<main id=\"inhalt\">\n";
    return out;
}

const char* const foot = "</main>\n</body>\n</html>\n";

// A box's text is lines joined by CR LF; each becomes a paragraph.
std::string paragraphs(const std::string& text, const char* cls = nullptr) {
    std::string out;
    for (const std::string& line : text::nonEmptyLines(text))
        out += std::string(cls ? "<p class=\"" + std::string(cls) + "\">" : "<p>") + escape(line) + "</p>\n";
    return out;
}

std::string boxesHtml(const std::vector<Box>& boxes) {
    std::string out;
    for (const Box& box : boxes) {
        out += "<section class=\"meldung\" role=\"alert\">\n<h2>" + escape(box.caption) + "</h2>\n" +
               paragraphs(box.text) + "</section>\n";
    }
    return out;
}

std::string statusRegion(const std::string& text = {}) {
    return "<p id=\"status\" class=\"status\" role=\"status\" aria-live=\"polite\" tabindex=\"-1\">" + escape(text) +
           "</p>\n";
}

// The five changes for one target (a pupil or the whole class), each its own form, so that
// Enter in the minutes field sends the minutes and nothing else.
std::string actionForms(const Frame& frame, const std::string& className, const std::string& names,
                        const std::string& id, const std::string& labelledBy, std::time_t lessonEnd, std::time_t now) {
    auto form = [&](const std::string& action, const std::string& inner) {
        return "<form class=\"aktion\" method=\"post\" action=\"/aktion\">" + hidden("token", frame.token) +
               hidden("names", names) + hidden("klasse", className) + hidden("action", action) + inner + "</form>\n";
    };
    std::string out = "<div class=\"aktionen\" role=\"group\" aria-labelledby=\"" + labelledBy + "\">\n";
    std::string hint = id + "-stunde";
    if (lessonEnd != 0) {
        out += form("stunde", "<button type=\"submit\" aria-describedby=\"" + hint +
                                  "\">Internet aus bis Stundenende</button><span class=\"hinweis\" id=\"" + hint +
                                  "\">endet um " + clockText(lessonEnd, now) + "</span>");
    } else {
        out += form("stunde", "<button type=\"submit\" disabled aria-describedby=\"" + hint +
                                  "\">Internet aus bis Stundenende</button><span class=\"hinweis\" id=\"" + hint +
                                  "\">Heute ist keine Stunde mehr.</span>");
    }
    out += form("minuten", "<label for=\"" + id + "-min\">Minuten</label><input type=\"number\" id=\"" + id +
                               "-min\" name=\"minutes\" min=\"1\" max=\"600\" step=\"1\" value=\"15\" "
                               "inputmode=\"numeric\" required><button type=\"submit\">Internet aus für "
                               "<span class=\"n\">15</span> Minuten</button>");
    out += form("weiter", "<button type=\"submit\">Internet aus bis auf Weiteres</button>");
    out += form("an", "<button type=\"submit\">Internet an</button>");
    out += form("meine", "<button type=\"submit\">Meine Sperren aufheben</button>");
    out += "</div>\n";
    return out;
}

std::string holdText(const deny::Hold& hold, std::time_t now) {
    std::string out = "gesperrt von " + escape(hold.holder) + " ";
    out += hold.until == 0 ? std::string("bis auf Weiteres") : "bis " + clockText(hold.until, now);
    if (hold.state == deny::Hold::State::Intent)
        out += " (wird gesperrt)";
    else if (hold.state == deny::Hold::State::Releasing)
        out += " (wird freigegeben)";
    return out;
}

std::string pupilItem(const Frame& frame, const std::string& className, const PupilView& view, size_t index,
                      std::time_t lessonEnd, std::time_t now) {
    std::string id = "s" + std::to_string(index);
    const PupilEntry& pupil = view.pupil;
    std::string out = "<li class=\"schueler " + std::string(pupil.stopped ? "aus" : "an") + "\">\n<h3 id=\"" + id +
                      "\">" + escape(pupil.caption) +
                      "</h3>\n<p class=\"zustand\">Internet: " + (pupil.stopped ? "aus" : "an") + "</p>\n";
    if (!view.holds.empty()) {
        out += "<ul class=\"sperren\">\n";
        for (const deny::Hold& hold : view.holds) out += "<li>" + holdText(hold, now) + "</li>\n";
        out += "</ul>\n";
    } else if (pupil.stopped) {
        out += "<p class=\"sperren\">Wer gesperrt hat, ist beim Dienst nicht verzeichnet.</p>\n";
    }
    out += "<details>\n<summary>Aktionen für " + escape(pupil.caption) + "</summary>\n" +
           actionForms(frame, className, pupil.name, id, id, lessonEnd, now) + "</details>\n</li>\n";
    return out;
}

}  // namespace

std::string loginPage(const std::string& message, const std::string& login) {
    std::string out = head(Frame{}, "Anmelden") + "<h1>Anmelden</h1>\n";
    std::string described;
    if (!message.empty()) {
        out += "<p id=\"meldung\" class=\"fehler\" role=\"alert\">" + escape(message) + "</p>\n";
        described = " aria-describedby=\"meldung\"";
    }
    out +=
        "<form class=\"anmelden\" method=\"post\" action=\"/anmelden\">\n"
        "<label for=\"login\">Anmeldename</label>\n"
        "<input type=\"text\" id=\"login\" name=\"login\" value=\"" +
        escape(login) + "\" autocomplete=\"username\" autocapitalize=\"none\" spellcheck=\"false\" required" +
        described +
        ">\n<label for=\"password\">Kennwort</label>\n"
        "<input type=\"password\" id=\"password\" name=\"password\" autocomplete=\"current-password\" required>\n"
        "<button type=\"submit\">Anmelden</button>\n</form>\n";
    return out + foot;
}

std::string classesPage(const Frame& frame, const std::vector<ClassEntry>& classes, const std::vector<Box>& boxes) {
    std::string out = head(frame, "Klassen") + "<h1>Klassen</h1>\n" + boxesHtml(boxes);
    if (classes.empty()) {
        out += "<p>Unter dem Basiscontainer sind keine Klassen.</p>\n";
    } else {
        out += "<ul class=\"klassen\">\n";
        for (const ClassEntry& cls : classes)
            out += "<li><a href=\"" + escape(classAddress(cls.name)) + "\">" + escape(cls.caption) + "</a></li>\n";
        out += "</ul>\n";
    }
    return out + foot;
}

std::string classPage(const Frame& frame, const ClassEntry& cls, const std::vector<PupilView>& pupils,
                      std::time_t lessonEnd, std::time_t now, const std::vector<Box>& boxes) {
    std::string out =
        head(frame, "Klasse " + cls.caption) + "<nav aria-label=\"Zurück\"><a href=\"/\">Alle Klassen</a></nav>\n" +
        "<h1>Klasse " + escape(cls.caption) + "</h1>\n" + boxesHtml(boxes) +
        "<section class=\"klasse\" aria-labelledby=\"ganze\">\n<h2 id=\"ganze\">Ganze Klasse</h2>\n" +
        actionForms(frame, cls.name, cls.name, "k", "ganze", lessonEnd, now) + "</section>\n" + statusRegion();
    size_t stopped = 0;
    for (const PupilView& view : pupils) stopped += view.pupil.stopped ? 1 : 0;
    out +=
        "<section id=\"schueler\" aria-labelledby=\"schueler-titel\">\n<h2 id=\"schueler-titel\">"
        "Schülerinnen und Schüler</h2>\n<p class=\"summe\">" +
        deny::countText(pupils.size()) + " in der Klasse, Internet aus bei " + deny::countText(stopped) + "</p>\n";
    if (!pupils.empty()) {
        out += "<ul class=\"liste\">\n";
        for (size_t i = 0; i < pupils.size(); ++i) out += pupilItem(frame, cls.name, pupils[i], i + 1, lessonEnd, now);
        out += "</ul>\n";
    }
    out += "</section>\n";
    return out + foot;
}

std::string jobPage(const Frame& frame, const JobView& job) {
    std::string number = std::to_string(job.id);
    std::string back = job.backTo.empty()
                           ? std::string("<p><a href=\"/\">Zurück zu den Klassen</a></p>\n")
                           : "<p><a href=\"" + escape(classAddress(job.backTo)) + "\">Zurück zur Klasse</a></p>\n";
    if (job.running) {
        std::string progress =
            "Auftrag " + number + ": " + deny::countText(job.done) + " von " + deny::countText(job.total);
        std::string bar =
            "<progress aria-labelledby=\"status\" max=\"" + std::to_string(job.total ? job.total : 1) + "\"";
        if (job.total) bar += " value=\"" + std::to_string(job.done) + "\"";
        return head(frame, "Auftrag " + number, 2) + "<h1>Auftrag " + number + "</h1>\n" + statusRegion(progress) +
               bar + "></progress>\n<p>Die Seite zeigt sich alle zwei Sekunden neu, bis der Auftrag fertig ist.</p>\n" +
               back + foot;
    }
    std::string caption = job.caption.empty() ? "Auftrag " + number : job.caption;
    std::string out = head(frame, caption) + "<h1>" + escape(caption) + "</h1>\n" +
                      "<section id=\"status\" class=\"ergebnis " + (job.ok ? "ok" : "fehler") +
                      "\" role=\"status\" aria-live=\"polite\">\n<p>Auftrag " + number +
                      (job.ok ? ": erledigt" : ": nicht alles erledigt") + "</p>\n";
    for (const std::string& line : job.lines) out += paragraphs(line);
    return out + "</section>\n" + back + foot;
}

std::string errorPage(const Frame& frame, const std::string& caption, const std::vector<std::string>& lines) {
    std::string out =
        head(frame, caption) + "<h1>" + escape(caption) + "</h1>\n<section class=\"meldung\" role=\"alert\">\n";
    for (const std::string& line : lines) out += paragraphs(line);
    return out + "</section>\n<p><a href=\"/\">Zurück</a></p>\n" + foot;
}

}  // namespace web::page
