#include "web/web_config.h"

#include "platform/text.h"

#include <arpa/inet.h>

#include <algorithm>
#include <fstream>
#include <functional>
#include <map>
#include <set>
#include <sstream>

namespace web {

namespace {


// A blank or tab followed by "#" starts a comment at the end of a line, as in nwclient.conf.
std::string withoutComment(const std::string& line) {
    for (size_t i = 1; i < line.size(); ++i)
        if (line[i] == '#' && (line[i - 1] == ' ' || line[i - 1] == '\t')) return text::trimBlanks(line.substr(0, i));
    return line;
}

bool wholeNumber(const std::string& text, int low, int high, int& out) {
    if (text.empty() || text.size() > 9 || text.find_first_not_of("0123456789") != std::string::npos) return false;
    out = std::stoi(text);
    return out >= low && out <= high;
}

// "HH:MM" as minutes after midnight.
bool clockTime(const std::string& text, int& minutes) {
    const size_t colon = text.find(':');
    if (colon == std::string::npos) return false;
    int h = 0, m = 0;
    if (colon == 0 || colon > 2 || text.size() - colon - 1 != 2) return false;
    if (!wholeNumber(text.substr(0, colon), 0, 23, h) || !wholeNumber(text.substr(colon + 1), 0, 59, m)) return false;
    minutes = h * 60 + m;
    return true;
}

bool ipAddress(const std::string& text) {
    unsigned char buffer[16];
    return ::inet_pton(AF_INET, text.c_str(), buffer) == 1 || ::inet_pton(AF_INET6, text.c_str(), buffer) == 1;
}

std::string folderOf(const std::string& file) {
    const size_t slash = file.rfind('/');
    return slash == std::string::npos ? std::string() : file.substr(0, slash + 1);
}

}  // namespace

bool readWebConfig(const std::string& file, WebConfig& config, std::string& error) {
    config = WebConfig{};
    config.file = file;
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        error = file + " kann nicht gelesen werden.";
        return false;
    }
    std::ostringstream all;
    all << in.rdbuf();
    std::string text = all.str();
    if (text.rfind("\xEF\xBB\xBF", 0) == 0) text.erase(0, 3);
    if (text.find('\0') != std::string::npos) {
        error = file + ": enthält ein NUL-Byte (keine Textdatei)";
        return false;
    }
    const std::string beside = folderOf(file);
    auto path = [&](const std::string& value) { return value.empty() || value[0] == '/' ? value : beside + value; };

    using Setter = std::function<const char*(const std::string&)>;  // null, or why the value is refused
    auto number = [](int& target, int low, int high) -> Setter {
        return [&target, low, high](const std::string& v) -> const char* {
            return wholeNumber(v, low, high, target) ? nullptr : "keine ganze Zahl im erlaubten Bereich";
        };
    };
    auto file_ = [&](std::string& target) -> Setter {
        return [&target, &path](const std::string& v) -> const char* {
            target = path(v);
            return nullptr;
        };
    };
    const std::map<std::string, Setter> service = {
        {"listen", [&](const std::string& v) -> const char* {
             config.listen = v;
             return ipAddress(v) ? nullptr : "keine IP-Adresse";
         }},
        {"port", number(config.port, 1, 65535)},
        {"certificate", file_(config.certificate)},
        {"key", file_(config.key)},
        {"statedir", file_(config.stateDir)},
        {"nwclient", file_(config.clientConfiguration)},
        {"settings", file_(config.settingsFile)},
        {"logins", file_(config.loginFile)},
        {"sessionminutes", number(config.sessionMinutes, 1, 24 * 60)},
        {"maxsessions", number(config.maxSessions, 1, 10000)},
        {"auditdays", number(config.auditDays, 1, 3650)},
        {"trustedproxy", [&](const std::string& v) -> const char* {
             config.trustedProxies.clear();
             std::istringstream list(v);
             std::string one;
             while (std::getline(list, one, ','))
                 if (!text::trimBlanks(one).empty()) config.trustedProxies.push_back(text::trimBlanks(one));
             for (const std::string& a : config.trustedProxies)
                 if (!ipAddress(a)) return "keine Liste von IP-Adressen";
             return nullptr;
         }},
    };

    // A line ends at LF, CR LF or a lone CR, so every line number is the editor's.
    std::string lines;
    for (size_t i = 0; i < text.size(); ++i)
        if (text[i] != '\r') lines += text[i];
        else if (i + 1 >= text.size() || text[i + 1] != '\n') lines += '\n';
    std::istringstream stream(lines);
    std::string line, section;
    size_t number_ = 0;
    std::set<std::string> seen;
    auto refuse = [&](const std::string& shown, const std::string& why) {
        error = file + ", Zeile " + std::to_string(number_) + ": " + shown + " (" + why + ")";
        return false;
    };
    while (std::getline(stream, line)) {
        ++number_;
        line = text::trimBlanks(line);
        if (line.empty() || line[0] == '#' || line[0] == ';') continue;
        line = withoutComment(line);
        if (line.front() == '[') {
            if (line.back() != ']') return refuse(line, "unvollständiger Abschnittsname");
            section = text::toLowerAscii(text::trimBlanks(line.substr(1, line.size() - 2)));
            if (section != "dienst" && section != "stunden")
                return refuse(line, "unbekannter Abschnitt; erlaubt sind [Dienst] und [Stunden]");
            continue;
        }
        const size_t eq = line.find('=');
        if (eq == std::string::npos) return refuse(line, "keine Zeile der Form Schlüssel=Wert");
        const std::string key = text::toLowerAscii(text::trimBlanks(line.substr(0, eq)));
        const std::string value = text::trimBlanks(line.substr(eq + 1));
        if (section.empty()) return refuse(line, "steht vor dem ersten Abschnitt");
        if (!seen.insert(section + "/" + key).second) return refuse(line, "Schlüssel doppelt");
        if (section == "dienst") {
            const auto it = service.find(key);
            if (it == service.end()) return refuse(line, "unbekannter Schlüssel");
            if (const char* why = it->second(value)) return refuse(line, why);
        } else if (key == "pausenpuffer") {
            if (!wholeNumber(value, 0, 120, config.lessons.bufferMinutes))
                return refuse(line, "Minuten von 0 bis 120");
        } else {
            Lesson lesson;
            if (!wholeNumber(key, 0, 99, lesson.number)) return refuse(line, "unbekannter Schlüssel");
            const size_t dash = value.find('-');
            if (dash == std::string::npos || !clockTime(text::trimBlanks(value.substr(0, dash)), lesson.begin) ||
                !clockTime(text::trimBlanks(value.substr(dash + 1)), lesson.end))
                return refuse(line, "erwartet wird Beginn-Ende wie 07:45-08:30");
            if (lesson.end <= lesson.begin) return refuse(line, "das Ende liegt nicht nach dem Beginn");
            for (const Lesson& other : config.lessons.lessons)
                if (lesson.begin < other.end && other.begin < lesson.end)
                    return refuse(line, "überschneidet sich mit der " + std::to_string(other.number) + ". Stunde");
            config.lessons.lessons.push_back(lesson);
        }
    }
    std::sort(config.lessons.lessons.begin(), config.lessons.lessons.end(),
              [](const Lesson& a, const Lesson& b) { return a.begin < b.begin; });
    return true;
}

bool lessonEnd(const Lessons& lessons, std::time_t now, std::time_t& until) {
    std::tm local{};
    if (!::localtime_r(&now, &local)) return false;
    const int minute = local.tm_hour * 60 + local.tm_min;
    // Lessons are kept by begin: the first whose end is still ahead is the one running now, or,
    // in a break or before the first, the next one.
    const auto lesson = std::find_if(lessons.lessons.begin(), lessons.lessons.end(),
                                     [&](const Lesson& l) { return minute < l.end; });
    if (lesson == lessons.lessons.end()) return false;
    std::tm end = local;
    end.tm_hour = lesson->end / 60;
    end.tm_min = lesson->end % 60;
    end.tm_sec = 0;
    end.tm_isdst = -1;  // the day's own offset, also on the days the clocks change
    const std::time_t at = std::mktime(&end);
    if (at == static_cast<std::time_t>(-1)) return false;
    until = at + static_cast<std::time_t>(lessons.bufferMinutes) * 60;
    return true;
}

}  // namespace web
