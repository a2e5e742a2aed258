// check and repair of the deny group's four membership places.
#include "ctl/ctl.h"
#include "deny/describe.h"
#include "deny/audit.h"
#include "deny/check.h"
#include "deny/group_check.h"

#include <cstdio>

namespace ctl {

namespace {

std::string placesText(const deny::Places& p) {
    std::string in, out;
    auto add = [](std::string& list, const char* name) { list += (list.empty() ? "" : ", ") + std::string(name); };
    add(p.member ? in : out, "Member");
    add(p.equivalentToMe ? in : out, "Equivalent To Me");
    add(p.groupMembership ? in : out, "Group Membership");
    add(p.securityEquals ? in : out, "Security Equals");
    return "steht in " + (in.empty() ? std::string("-") : in) + ", fehlt in " + out;
}

std::string reportText(const deny::CheckReport& r) {
    std::string out;
    for (const deny::Places& p : r.partial) out += "unvollständig\t" + p.user + "\t" + placesText(p) + "\n";
    for (const deny::Repeated& x : r.repeated)
        out += "doppelt\t" + x.object + "\t" + x.attribute + ": " + x.value + " (" + std::to_string(x.count) + "-mal)\n";
    for (const deny::Repeated& x : r.dangling) out += "verwaist\t" + x.value + "\t" + x.attribute + " nennt kein Objekt\n";
    for (const std::string& n : r.notUsers) out += "kein Benutzer\t" + n + "\n";
    for (const deny::Repeated& x : r.unnamable)
        out += "Wert ohne Namen\t" + x.object + "\t" + x.attribute + ": " + x.value + "\n";
    for (const deny::Repeated& x : r.stray)
        out += "keine Gruppe\t" + x.object + "\t" + x.attribute + ": " + x.value + "\n";
    for (const deny::SharedLogin& s : r.shared) {
        std::string others;
        for (const std::string& o : s.others) others += (others.empty() ? "" : ", ") + o;
        out += "Login-Name mehrfach\t" + s.member + "\t" + s.login + " auch: " + others + "\n";
    }
    return out;
}

std::string reportJson(const deny::CheckReport& r) {
    std::string out = "{\"complete\":" + std::string(r.complete ? "true" : "false") + ",\"partial\":[";
    for (size_t i = 0; i < r.partial.size(); ++i) {
        const deny::Places& p = r.partial[i];
        auto b = [](bool v) { return v ? "true" : "false"; };
        out += std::string(i ? "," : "") + "{\"user\":" + jsonString(p.user) + ",\"member\":" + b(p.member) +
               ",\"equivalentToMe\":" + b(p.equivalentToMe) + ",\"groupMembership\":" + b(p.groupMembership) +
               ",\"securityEquals\":" + b(p.securityEquals) + "}";
    }
    out += "],\"repeated\":[";
    for (size_t i = 0; i < r.repeated.size(); ++i)
        out += std::string(i ? "," : "") + "{\"object\":" + jsonString(r.repeated[i].object) +
               ",\"attribute\":" + jsonString(r.repeated[i].attribute) + ",\"value\":" + jsonString(r.repeated[i].value) +
               ",\"count\":" + std::to_string(r.repeated[i].count) + "}";
    out += "],\"dangling\":[";
    for (size_t i = 0; i < r.dangling.size(); ++i)
        out += std::string(i ? "," : "") + "{\"attribute\":" + jsonString(r.dangling[i].attribute) +
               ",\"value\":" + jsonString(r.dangling[i].value) + "}";
    out += "],\"notUsers\":[";
    for (size_t i = 0; i < r.notUsers.size(); ++i) out += std::string(i ? "," : "") + jsonString(r.notUsers[i]);
    for (const auto* list : {&r.unnamable, &r.stray}) {
        out += list == &r.stray ? "],\"stray\":[" : "],\"unnamable\":[";
        for (size_t i = 0; i < list->size(); ++i)
            out += std::string(i ? "," : "") + "{\"object\":" + jsonString((*list)[i].object) +
                   ",\"attribute\":" + jsonString((*list)[i].attribute) + ",\"value\":" + jsonString((*list)[i].value) + "}";
    }
    out += "],\"sharedLogins\":[";
    for (size_t i = 0; i < r.shared.size(); ++i) {
        out += std::string(i ? "," : "") + "{\"member\":" + jsonString(r.shared[i].member) +
               ",\"login\":" + jsonString(r.shared[i].login) + ",\"others\":[";
        for (size_t j = 0; j < r.shared[i].others.size(); ++j)
            out += std::string(j ? "," : "") + jsonString(r.shared[i].others[j]);
        out += "]}";
    }
    return out + "],\"notAGroup\":" + (r.notAGroup.empty() ? std::string("null") : jsonString(r.notAGroup)) + "}\n";
}

std::string notAGroupText(const std::string& group, const std::string& baseClass) {
    return group + " ist keine Gruppe (Klasse " + baseClass + "): ihre Mitglieder wurden nicht geprüft.";
}

}  // namespace

int cmdCheck(const Options& options, bool repair) {
    const std::string group = denyGroup();
    const deny::CheckReport report = deny::checkGroup(group);
    if (!repair) {
        const std::string out = options.json ? reportJson(report) : reportText(report);
        std::fwrite(out.data(), 1, out.size(), stdout);
        std::fflush(stdout);
        if (!report.notAGroup.empty()) say(notAGroupText(group, report.notAGroup));
        if (!report.complete) say("Die Prüfung ist unvollständig: nicht alles war lesbar.");
        else if (report.clean())
            say("Keine Befunde: " + deny::countText(report.members) + " Mitglieder, " + deny::countText(report.usersInTree) +
                " Benutzer im Baum.");
        return report.complete && report.clean() ? Done : Failed;
    }

    if (!report.complete) {
        say("Die Prüfung ist unvollständig: nichts wurde repariert.");
        return Failed;
    }
    const std::vector<deny::RepairStep> steps = deny::planRepair(report);
    if (options.dryRun) {
        for (const deny::RepairStep& s : steps) {
            std::string places;
            auto add = [&](bool on, const char* name) {
                if (on) places += (places.empty() ? "" : ", ") + std::string(name);
            };
            add(s.groupMembership, "Group Membership");
            add(s.securityEquals, "Security Equals");
            add(s.equivalentToMe, "Equivalent To Me");
            if (s.dedupe) places += (places.empty() ? "" : ", ") + std::string("doppelte Werte");
            std::printf("%s %s: %s\n", s.add ? "ergänzen" : "entfernen", s.user.c_str(), places.c_str());
        }
        for (const auto* list : {&report.unnamable, &report.stray})
            for (const deny::Repeated& x : *list)
                std::printf("entfernen %s: %s %s\n", x.object.c_str(), x.attribute.c_str(), x.value.c_str());
        std::fflush(stdout);
        say("Probelauf: " + deny::countText(steps.size()) + " Benutzer würden repariert.");
        return Done;
    }
    const deny::RepairResult result = deny::repairGroup(group, report);
    if (result.done + result.failed > 0) {
        text::NameList users;
        for (const deny::RepairStep& s : steps) users.push_back(s.user);
        for (const deny::Repeated& x : report.stray) users.push_back(x.object);
        deny::writeAudit({"repair", users,
                          result.failed ? "failed repaired=" + std::to_string(result.done) + " failed=" +
                                              std::to_string(result.failed)
                                        : "done repaired=" + std::to_string(result.done)});
    }
    if (!result.reread) {
        say("Die erneute Prüfung vor dem Reparieren ist unvollständig: nichts wurde repariert.");
        return Failed;
    }
    int status = result.failed ? Failed : Done;
    say("Repariert: " + deny::countText(result.done) + ", fehlgeschlagen: " + deny::countText(result.failed) + ".");
    // What changed between the check and the re-read belongs to a change still running.
    if (result.settled)
        say("Übergangen, weil inzwischen anders: " + deny::countText(result.settled) + ". Erneutes Reparieren prüft sie wieder.");
    if (!report.notAGroup.empty()) {
        say(notAGroupText(group, report.notAGroup));
        status = Failed;
    }
    const bool unfixable = !report.dangling.empty() || !report.notUsers.empty() || !report.shared.empty();
    if (unfixable) {
        const std::string rest = reportText([&] {
            deny::CheckReport left;
            left.dangling = report.dangling;
            left.notUsers = report.notUsers;
            left.shared = report.shared;
            return left;
        }());
        say("Nicht automatisch zu beheben:\n" + rest.substr(0, rest.size() - 1));
        status = Failed;
    }
    if (!refreshProxyList()) status = Failed;
    return status;
}

}  // namespace ctl
