#include "slapd_fixture.h"

#include "nwclient/client_setup.h"
#include "nwclient/ldap/ldap_escape.h"

#include <cstdio>  // ldif.h uses FILE without including it
#include <lber.h>
#include <ldif.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <sstream>
#include <stdexcept>

namespace ldaptest {

const std::vector<std::string> ODD_NAMES = {"*)(cn=*", "Herr.Meier", "Müller, Hans", "#1 + \"Zwei\"", "Back\\slash"};

namespace {

std::string shellQuote(const std::string& s) {
    std::string out = "'";
    for (char c : s) {
        if (c == '\'') out += "'\\''";
        else out += c;
    }
    return out + "'";
}

std::string script() { return std::string(TARVEL_SOURCE_DIR) + "/scripts/slapd-fixture.sh"; }

// Base64 as LDIF has it, by libldap's own LDIF functions (as tarvel-tree uses them).
std::string base64Decode(const std::string& in) {
    std::string line = "x::" + in;
    berval type{0, nullptr}, value{0, nullptr};
    int freeValue = 0;
    if (ldif_parse_line2(line.data(), &type, &value, &freeValue) != 0) return std::string();
    std::string out = value.bv_val ? std::string(value.bv_val, value.bv_len) : std::string();
    if (freeValue) ber_memfree(value.bv_val);
    return out;
}

struct LdifWriter {
    std::string base = BASE;
    std::ostringstream out;
    void entry(const std::string& dn, const std::vector<std::pair<std::string, std::string>>& attributes) {
        // Everything base64: names with umlauts, commas or a leading "#" need no special case.
        out << "dn:: " << encode(dn) << "\n";
        // Values of one attribute together: slapadd takes a second run of a type as a new attribute.
        std::vector<std::string> order;
        for (const auto& a : attributes)
            if (std::find(order.begin(), order.end(), a.first) == order.end()) order.push_back(a.first);
        for (const std::string& type : order)
            for (const auto& [t, value] : attributes)
                if (t == type) out << type << ":: " << encode(value) << "\n";
        out << "\n";
    }
    static std::string encode(const std::string& in) {
        char* line = ldif_put_wrap(LDIF_PUT_BINARY, "x", in.data(), in.size(), LDIF_LINE_WIDTH_MAX);
        std::string out = line ? line : "";
        ber_memfree(line);
        // "x:: VALUE\n" without its type and line end.
        out = out.size() > 4 ? out.substr(4, out.size() - 5) : std::string();
        return out;
    }
    void user(const std::string& name, const std::vector<std::pair<std::string, std::string>>& more = {}) {
        std::vector<std::pair<std::string, std::string>> a = {
            {"objectClass", "inetOrgPerson"}, {"cn", nw::ldap::splitTypelessName(name).front()}, {"sn", "Test"}};
        a.insert(a.end(), more.begin(), more.end());
        entry(dnOf(name, base), a);
    }
    void ou(const std::string& name) {
        entry(dnOf(name, base), {{"objectClass", "organizationalUnit"}, {"ou", nw::ldap::splitTypelessName(name).front()}});
    }
};

}  // namespace

int run(const std::string& command, std::string* out) { return testsupport::runCommand(command, out); }

std::string dnOf(const std::string& typelessName) { return dnOf(typelessName, BASE); }

std::string dnOf(const std::string& typelessName, const std::string& base) {
    std::vector<std::string> parts = nw::ldap::splitTypelessName(typelessName);
    std::vector<nw::ldap::Rdn> rdns;
    for (size_t i = 0; i < parts.size(); ++i) {
        std::string type = i + 1 == parts.size() ? "o" : (i == 0 && parts.size() > 1 ? "cn" : "ou");
        rdns.push_back({type, parts[i]});
    }
    // Containers named alone or as the leaf of an OU path are OUs; the school's leaves that are
    // containers are listed here.
    static const char* const containers[] = {"PROJEKTE", "LEHRER", "SCHUELER", "KLASSE5A", "KLASSE5B",
                                             "KLASSE6A", "LEER",   "GROSS", "ORTE"};
    if (parts.size() > 1)
        for (const char* c : containers)
            if (parts[0] == c) rdns[0].type = "ou";
    std::string dn = nw::ldap::formatDn(rdns);
    if (base.empty()) return dn;
    return dn.empty() ? base : dn + "," + base;
}

std::string schoolLdif(const SchoolOptions& options) {
    LdifWriter w;
    w.base = options.suffixAtTop ? std::string() : std::string(BASE);
    auto dnOf = [&](const std::string& name) { return ldaptest::dnOf(name, w.base); };
    const std::string deny = dnOf(DENY_GROUP);
    w.entry(dnOf("UNTERRICHT"), {{"objectClass", "organization"}, {"o", "UNTERRICHT"}});
    w.user(ADMIN, {{"description", "Verwaltet das Schulnetz"}});
    w.ou("PROJEKTE.UNTERRICHT");
    w.entry(deny, {{"objectClass", "tarvelGroup"},
                   {"cn", "G_User_Internet_Deny"},
                   {"member", dnOf("Gast01.PROJEKTE.UNTERRICHT")},
                   {"member", dnOf("Gast02.PROJEKTE.UNTERRICHT")},
                   {"equivalentToMe", dnOf("Gast01.PROJEKTE.UNTERRICHT")},
                   {"equivalentToMe", dnOf("Gast02.PROJEKTE.UNTERRICHT")}});
    w.entry(dnOf("G_WS_Internet_Deny.PROJEKTE.UNTERRICHT"),
            {{"objectClass", "tarvelGroup"}, {"cn", "G_WS_Internet_Deny"}});
    for (int i = 1; i <= 5; ++i) {
        std::string name = "Gast0" + std::to_string(i) + ".PROJEKTE.UNTERRICHT";
        if (i <= 2)
            w.user(name, {{"objectClass", "tarvelMembership"},
                          {"groupMembership", deny},
                          {"securityEquals", deny},
                          {"description", "Gastzugang"}});
        else
            w.user(name, {{"description", "Gastzugang"}, {"telephoneNumber", "+49 30 12345" + std::to_string(i)}});
    }
    for (const std::string& odd : ODD_NAMES)
        w.user(nw::ldap::escapeTypelessComponent(odd) + ".PROJEKTE.UNTERRICHT");
    w.ou("LEHRER.UNTERRICHT");
    std::vector<std::pair<std::string, std::string>> lehrerGroup = {{"objectClass", "tarvelGroup"}, {"cn", "G_Lehrer"}};
    for (int i = 1; i <= 3; ++i) {
        std::string name = "lehrer" + std::to_string(i) + ".LEHRER.UNTERRICHT";
        w.user(name, {{"title", "Lehrkraft"}});
        lehrerGroup.push_back({"member", dnOf(name)});
    }
    w.entry(dnOf("G_Lehrer.LEHRER.UNTERRICHT"), lehrerGroup);
    w.ou("SCHUELER.UNTERRICHT");
    for (const char* klasse : {"KLASSE5A", "KLASSE5B", "KLASSE6A"}) {
        std::string ou = std::string(klasse) + ".SCHUELER.UNTERRICHT";
        w.ou(ou);
        for (int i = 1; i <= 5; ++i) w.user("S" + std::string(klasse + 6) + "0" + std::to_string(i) + "." + ou);
    }
    w.entry(dnOf("WS-R101-01.SCHUELER.UNTERRICHT"), {{"objectClass", "tarvelWorkstation"}, {"cn", "WS-R101-01"}});
    w.entry(dnOf("Drucker-R101.SCHUELER.UNTERRICHT"),
            {{"objectClass", "tarvelPrinter"}, {"cn", "Drucker-R101"}, {"serialNumber", "PRN-0815"}});
    w.ou("LEER.UNTERRICHT");
    w.entry(dnOf("G_Alt.UNTERRICHT"),
            {{"objectClass", "groupOfNames"}, {"cn", "G_Alt"}, {"member", dnOf("Gast03.PROJEKTE.UNTERRICHT")}});
    if (options.bigContainerSize > 0) {
        w.ou("GROSS.UNTERRICHT");
        for (int i = 0; i < options.bigContainerSize; ++i) {
            char name[32];
            std::snprintf(name, sizeof name, "U%05d", i);
            w.user(std::string(name) + ".GROSS.UNTERRICHT");
        }
    }
    if (options.localities > 0) {
        w.ou("ORTE.UNTERRICHT");
        for (int i = 0; i < options.localities; ++i) {
            char name[32];
            std::snprintf(name, sizeof name, "Ort%03d", i);
            w.entry("l=" + std::string(name) + "," + dnOf("ORTE.UNTERRICHT"), {{"objectClass", "locality"}, {"l", name}});
        }
    }
    if (!options.suffixAtTop) {
        w.entry(std::string("c=DE,") + BASE, {{"objectClass", "country"}, {"c", "DE"}});
        w.entry(std::string("l=Berlin,") + BASE, {{"objectClass", "locality"}, {"l", "Berlin"}});
    }
    return w.out.str();
}

Slapd::Slapd(const SchoolOptions& options) {
    std::string ldif = dir_.file("school.ldif");
    testsupport::writeFile(ldif, schoolLdif(options));
    suffixAtTop_ = options.suffixAtTop;
    teacherClasses_ = options.teacherClasses;
    if (suffixAtTop_) base_.clear();
    start(ldif, options.tls, true);
}

std::string Slapd::ldapsUrl() const {
    std::string url = testsupport::readFile(dir_.file("slapd/ldaps-url"));
    while (!url.empty() && (url.back() == '\n' || url.back() == '\r')) url.pop_back();
    return url;
}

Slapd::Slapd(const std::string& ldifFile) { start(ldifFile); }

void Slapd::start(const std::string& ldif, bool tls, bool school) {
    std::string command = "bash " + shellQuote(script()) + " start " + shellQuote(dir_.file("slapd")) +
                          " --base " + shellQuote(suffixAtTop_ ? TOP_SUFFIX : BASE) + " --ldif " + shellQuote(ldif) +
                          " --admin " + shellQuote(dn(ADMIN)) + " --teacher " + shellQuote(dn(TEACHER)) +
                          " --teacher-scope " + shellQuote(dn("KLASSE5A.SCHUELER.UNTERRICHT")) + " --teacher-scope " +
                          shellQuote(dn("KLASSE5B.SCHUELER.UNTERRICHT")) + " --teacher-scope " +
                          shellQuote(dn("GROSS.UNTERRICHT")) + " --teacher-group " + shellQuote(dn(DENY_GROUP)) +
                          " --plain " + shellQuote(dn(PLAIN)) + (school ? " --limited " + shellQuote(dn(LIMITED)) : "") +
                          (suffixAtTop_ ? " --base-in-ldif" : "") + (teacherClasses_ ? " --teacher-classes" : "") + " --owner " + std::to_string(getpid()) +
                          (tls ? " --tls" : "");
    std::string out;
    if (run(command, &out) != 0)
        throw std::runtime_error("slapd fixture did not start: " + out + testsupport::readFile(dir_.file("slapd/slapd.log")));
    url_ = testsupport::readFile(dir_.file("slapd/url"));
    while (!url_.empty() && (url_.back() == '\n' || url_.back() == '\r')) url_.pop_back();
    running_ = true;
}

Slapd::~Slapd() { stop(); }

void Slapd::stop() {
    if (!running_) return;
    run("bash " + shellQuote(script()) + " stop " + shellQuote(dir_.file("slapd")));
    running_ = false;
}

void Slapd::restart() {
    std::string out;
    if (run("bash " + shellQuote(script()) + " restart " + shellQuote(dir_.file("slapd")), &out) != 0)
        throw std::runtime_error("slapd did not come back: " + out);
    running_ = true;
}

std::string Slapd::passwordFile(const std::string& who) const { return dir_.file("slapd/" + who + ".pw"); }

std::string Slapd::useAs(const std::string& who, const std::string& extraLines) {
    std::string operatorName = who == "admin"     ? ADMIN
                               : who == "teacher" ? TEACHER
                               : who == "limited" ? LIMITED
                                                  : PLAIN;
    std::string conf = dir_.file("nwclient-" + who + ".conf");
    testsupport::writeFile(conf, "Tree=" + url_ + "\nBase=" + base_ + "\nOperator=" + operatorName +
                                     "\nPasswordFile=" + passwordFile(who) + "\nTimeout=5\n" + extraLines);
    nw::setConfigurationFile(conf);
    return conf;
}

std::string Slapd::search(const std::string& baseDn, const std::string& scope, const std::string& filter,
                          const std::string& attributes) const {
    std::string out;
    std::string rootdn = testsupport::readFile(dir_.file("slapd/rootdn"));
    while (!rootdn.empty() && rootdn.back() == '\n') rootdn.pop_back();
    run("ldapsearch -x -LLL -o ldif-wrap=no -H " + shellQuote(url_) + " -D " + shellQuote(rootdn) + " -y " +
            shellQuote(dir_.file("slapd/root.pw")) + " -s " + scope + " -b " + shellQuote(baseDn) + " " +
            shellQuote(filter) + " " + attributes,
        &out);
    return out;
}

std::vector<std::string> Slapd::values(const std::string& dn, const std::string& attribute) const {
    std::vector<std::string> result;
    std::istringstream lines(search(dn, "base", "(objectClass=*)", attribute));
    std::string line;
    std::string prefix = attribute + ":";
    while (std::getline(lines, line)) {
        if (line.size() <= prefix.size() || line.compare(0, prefix.size(), prefix) != 0) continue;
        std::string rest = line.substr(prefix.size());
        if (!rest.empty() && rest[0] == ':') result.push_back(base64Decode(rest.substr(1)));
        else result.push_back(rest.empty() ? rest : rest.substr(1));
    }
    return result;
}

bool Slapd::modify(const std::string& ldif) const {
    std::string file = dir_.file("change.ldif");
    testsupport::writeFile(file, ldif);
    std::string rootdn = testsupport::readFile(dir_.file("slapd/rootdn"));
    while (!rootdn.empty() && rootdn.back() == '\n') rootdn.pop_back();
    return run("ldapmodify -x -H " + shellQuote(url_) + " -D " + shellQuote(rootdn) + " -y " +
               shellQuote(dir_.file("slapd/root.pw")) + " -f " + shellQuote(file)) == 0;
}

bool Slapd::holdsDn(const std::string& dn, const std::string& attribute, const std::string& valueDn) const {
    const std::string key = nw::ldap::dnKey(valueDn);
    for (const std::string& v : values(dn, attribute))
        if (nw::ldap::dnKey(v) == key) return true;
    return false;
}

std::string exportTree(const std::string& treeFile, const std::string& ldifFile) {
    std::string out;
    if (testsupport::runTreeTool("export --ldif " + shellQuote(ldifFile) + " " + shellQuote(treeFile) + " --base " +
                                     shellQuote(BASE),
                                 &out) != 0)
        throw std::runtime_error("tarvel-tree export --ldif failed: " + out);
    return ldifFile;
}

bool stopProcess(int pid) {
    if (pid <= 0 || kill(pid, SIGSTOP) != 0) return false;
    for (int i = 0; i < 500; ++i) {
        // The state is the field after the command's closing parenthesis: T when stopped.
        std::string stat = testsupport::readFile("/proc/" + std::to_string(pid) + "/stat");
        size_t close = stat.rfind(')');
        if (close != std::string::npos && close + 2 < stat.size() && stat[close + 2] == 'T') return true;
        usleep(2000);
    }
    return false;
}

}  // namespace ldaptest
