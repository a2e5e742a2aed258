// What the commands share: messages, counts, JSON, the deny group's members and login names, and
// the proxy's list file.
#include "ctl/ctl.h"
#include "deny/client_conf.h"
#include "deny/describe.h"
#include "deny/members.h"
#include "nwapi/nwapi.h"
#include "nwclient/names.h"
#include "platform/stderr_line.h"
#include "platform/text.h"
#include "settings/settings.h"
#include "settings/settings_file.h"

#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <sys/wait.h>

namespace ctl {

void say(const std::string& message) {
    platform::endStderrLine();
    std::fprintf(stderr, "%s\n", message.c_str());
    std::fflush(stderr);
}

std::string jsonString(const std::string& text) {
    std::string out = "\"";
    for (unsigned char c : text) {
        switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            default:
                if (c < 0x20) {
                    char hex[8];
                    std::snprintf(hex, sizeof hex, "\\u%04x", c);
                    out += hex;
                } else {
                    out += char(c);
                }
        }
    }
    return out + "\"";
}

std::string denyGroup() { return settings::values().GroupInternetUserDeny; }

bool loginOf(const std::string& member, std::string& login) {
    const std::vector<std::string> parts = nw::names::splitEscaped(nw::names::stripRootSpelling(member));
    login = parts.empty() ? std::string() : parts.front();
    // Where the login is an attribute of its own (AD's sAMAccountName), the proxy sees that one.
    const std::string attribute = nw::NWDSLoginAttribute();
    if (!text::equalsAsciiNoCase(attribute, "CN")) {
        text::NameList values;
        const bool read = nwapi::GetAttributeMultiValueStringList(
            nwapi::layer().context, "." + std::string(nw::names::stripRootSpelling(member)), attribute, values);
        login = read && values.size() == 1 ? values.front() : std::string();
    }
    bool bad = login.empty();
    for (unsigned char c : login)
        if (c < 0x20 || c == 0x7f || c == ' ') bad = true;
    // Squid's list ACLs take these words for "any user": such a line would stop everyone.
    if (text::equalsAsciiNoCase(login, "REQUIRED")) bad = true;
    if (bad) say("Der Login-Name von " + jsonString(member) + " taugt nicht für eine Proxy-Liste und wird übergangen.");
    return !bad;
}

bool readDenyMembers(text::NameList& members) {
    return deny::readMembers(denyGroup(), members);
}

bool refreshProxyList() {
    const deny::ClientConf conf = deny::readClientConf();
    if (conf.listFile.empty()) return true;
    text::NameList members;
    if (!readDenyMembers(members)) {
        say("Die Proxy-Liste " + conf.listFile + " bleibt unverändert: die Gruppe ist nicht lesbar.");
        return false;
    }
    std::string contents;
    bool ok = true;
    for (const std::string& m : members) {
        std::string login;
        if (loginOf(m, login)) contents += login + "\n";
        else ok = false;
    }
    // What the proxy loaded last is recorded beside the list once its reload worked. The list is
    // compared with that, not with the file: after a failed reload the file already holds the new
    // names, and comparing with it would never reload again.
    const std::string loaded = conf.listFile + ".loaded";
    const auto readWhole = [](const std::string& path, std::string& text) {
        std::ifstream in(path, std::ios::binary);
        if (!in) return false;
        std::ostringstream all;
        all << in.rdbuf();
        text = all.str();
        return !in.bad();
    };
    std::string current, lastLoaded;
    const bool fileCurrent = readWhole(conf.listFile, current) && current == contents;
    const bool proxyCurrent = conf.reloadCommand.empty() || (readWhole(loaded, lastLoaded) && lastLoaded == contents);
    // Unchanged: no rewrite and no reload (a reload makes the proxy refuse connections for a moment).
    if (fileCurrent && proxyCurrent) return ok;
    int error = 0;
    if (!fileCurrent && settings::replaceFileContents(conf.listFile, contents, error) != settings::ReplaceResult::Written) {
        say("Die Proxy-Liste kann nicht geschrieben werden: " + conf.listFile + ": " + std::strerror(error));
        return false;
    }
    if (!conf.reloadCommand.empty()) {
        const int status = std::system(conf.reloadCommand.c_str());
        if (status != 0) {
            say("ReloadCommand ist fehlgeschlagen (" + conf.reloadCommand + "), Status " +
                std::to_string(WIFEXITED(status) ? WEXITSTATUS(status) : status) +
                ". Der Proxy kennt die Liste noch nicht; der nächste Aufruf versucht es wieder.");
            return false;
        }
        if (settings::replaceFileContents(loaded, contents, error) != settings::ReplaceResult::Written) {
            say("Die Proxy-Liste wurde geladen, aber " + loaded + " kann nicht geschrieben werden: " +
                std::strerror(error));
            return false;
        }
    }
    return ok;
}

int cmdList(const Options& options) {
    text::NameList members, through;
    if (!deny::readMembers(denyGroup(), members, through)) {
        say("Die Mitglieder der Gruppe " + denyGroup() + " können nicht gelesen werden.");
        return Failed;
    }
    bool allTaken = true;
    text::NameList lines;
    for (size_t i = 0; i < members.size(); ++i) {
        const std::string& m = members[i];
        if (!options.logins) {
            // The JSON list stays one of names.
            lines.push_back(options.json ? m : m + deny::throughText(through[i]));
            continue;
        }
        std::string login;
        if (loginOf(m, login)) lines.push_back(login);
        else allTaken = false;
    }
    std::string out;
    if (options.json) {
        out = "[";
        for (size_t i = 0; i < lines.size(); ++i) out += (i ? "," : "") + jsonString(lines[i]);
        out += "]\n";
    } else {
        for (const std::string& l : lines) out += l + "\n";
    }
    if (options.output.empty()) {
        std::fwrite(out.data(), 1, out.size(), stdout);
        if (std::fflush(stdout) != 0) return Failed;
    } else {
        int error = 0;
        if (settings::replaceFileContents(options.output, out, error) != settings::ReplaceResult::Written) {
            say("Die Datei kann nicht geschrieben werden: " + options.output + ": " + std::strerror(error));
            return Failed;
        }
    }
    return allTaken ? Done : Failed;
}

}  // namespace ctl
