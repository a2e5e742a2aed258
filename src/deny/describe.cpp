#include "deny/describe.h"

#include "nwclient/status.h"

namespace deny {

namespace {

std::vector<std::string> failureLines(const JobResult& r, const std::string& group, Repeat repeat) {
    std::vector<std::string> lines{"Es sind Fehler aufgetreten!",
                                   "Bitte benachrichtigen Sie den Administrator mit der Meldung:",
                                   "  In der Gruppe " + group,
                                   "  und/oder bei zugehörigen Usern",
                                   "  sind möglicherweise Inkonsistenzen aufgetreten."};
    if (!treeStateLine(r.firstFailure).empty()) lines.push_back(treeStateLine(r.firstFailure));
    if (!r.groupRead) lines.push_back("Die Mitglieder der Gruppe " + group + " können nicht gelesen werden: nichts wurde geändert.");
    // Who is half done and how to mend it: users a failed stop left outside Member keep their
    // Internet access and appear in no list.
    if (r.timedOut) lines.push_back("Der Server hat nicht rechtzeitig geantwortet.");
    if (r.halfDone > 0)
        lines.push_back(countText(r.halfDone) +
                        (r.halfDone == 1 ? " Benutzer ist nur halb geändert." : " Benutzer sind nur halb geändert."));
    if (r.timedOut || r.halfDone > 0)
        lines.push_back(repeat == Repeat::Press ? "Erneutes Drücken vervollständigt die Änderung."
                                                : "Erneutes Aufrufen vervollständigt die Änderung.");
    return lines;
}

bool noAccess(int32_t status) { return status == nw::ERR_NO_ACCESS || status == -nw::ERR_NO_ACCESS; }

}  // namespace

std::string treeStateLine(int32_t status) {
    if (status == nw::ERR_DS_LOCKED)
        return "Der Verzeichnisbaum ist belegt: ein anderes Programm hielt ihn länger als LockTimeout= "
               "(nwclient.conf).";
    if (status == static_cast<int32_t>(nw::TARVEL_TREE_DAMAGED) || status == nw::ERR_DATABASE_FORMAT)
        return "Der Verzeichnisbaum ist beschädigt: tarvel-tree check zeigt, was defekt ist.";
    return {};
}

std::string countText(size_t n) {
    std::string digits = std::to_string(n);
    for (int i = int(digits.size()) - 3; i > 0; i -= 3) digits.insert(size_t(i), ".");
    return digits;
}

const char* actionText(Direction direction) {
    return direction == Direction::Stop ? "Internet-Stop" : "Internet-Go";
}

std::string progressText(Direction direction, size_t done, size_t total) {
    return std::string(actionText(direction)) + ": " + countText(done) + " von " + countText(total) + " Benutzern";
}

std::string JobWords::boxText() const {
    std::string text;
    for (const std::string& line : lines) text += (text.empty() ? "" : "\r\n") + line;
    // A failed go always carries the two line ends; the hint only when access was refused.
    if (outcome == Outcome::Failed && caption == "Tarvel Internet-Go") text += "\r\n\r\n" + accessHint;
    return text;
}

std::string JobWords::oneLine() const {
    if (outcome == Outcome::Done) return lines.front();
    if (groupUnread) return lines.back();
    std::string text = caption + ":";
    for (const std::string& line : lines) text += " " + line.substr(line.find_first_not_of(' '));
    if (outcome == Outcome::Failed) text += " " + changedLine;
    if (!accessHint.empty()) text += " " + accessHint;
    return text;
}

JobWords describe(Direction direction, const JobResult& r, const std::string& group, Repeat repeat) {
    const bool stop = direction == Direction::Stop;
    JobWords words;
    words.caption = std::string("Tarvel ") + actionText(direction);
    words.changedLine = countText(r.changed) + " von " + countText(r.toChange) + " Benutzern wurden geändert.";
    if (r.ok()) {
        words.lines = {std::string(stop ? "Gesperrt: " : "Freigegeben: ") + countText(r.changed) + " Benutzer, " +
                       countText(r.unchanged) + (stop ? " waren schon gesperrt." : " waren nicht gesperrt.")};
        return words;
    }
    if (r.cancelled && r.firstFailure == 0 && !r.timedOut) {
        words.outcome = Outcome::Cancelled;
        words.lines = {"Abgebrochen.", words.changedLine,
                       repeat == Repeat::Press ? "Erneutes Drücken ändert die übrigen." : "Erneutes Aufrufen ändert die übrigen."};
        return words;
    }
    words.outcome = Outcome::Failed;
    words.groupUnread = !r.groupRead;
    // Held by another group, a user stays stopped whatever is done to the deny group: that
    // other group is the one to change, and nothing is inconsistent.
    const bool onlyHeld = r.firstFailure == 0 && !r.timedOut && !r.cancelled && r.groupRead;
    words.lines = onlyHeld ? std::vector<std::string>{} : failureLines(r, group, repeat);
    for (const auto& [user, holder] : r.throughGroups)
        words.lines.push_back(user + " ist über die Gruppe " + holder + " gesperrt und bleibt es: " + holder +
                              " ändern.");
    // Only a go hints at missing rights: a refused stop has nothing the operator could free.
    if (!stop && noAccess(r.lastFailure)) words.accessHint = "Oder: Sie haben keine Berechtigung.";
    return words;
}

}  // namespace deny
