#include "samba_fixture.h"

#include "nwclient/client_setup.h"
#include "nwclient/ldap/ldap_escape.h"

#include <cstdio>  // ldif.h uses FILE without including it
#include <fcntl.h>
#include <lber.h>
#include <ldif.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <set>
#include <sstream>
#include <stdexcept>

namespace adtest {
namespace {

using nw::ldap::Rdn;

std::string shellQuote(const std::string& s) {
    std::string out = "'";
    for (char c : s) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

std::string script() { return std::string(TARVEL_SOURCE_DIR) + "/scripts/samba-fixture.sh"; }

std::string trimmed(std::string s) {
    while (!s.empty() && (s.back() == '\n' || s.back() == '\r')) s.pop_back();
    return s;
}

std::string lower(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return s;
}

using Record = std::vector<std::pair<std::string, std::string>>;  // type, value; the DN first

// LDIF records, continuation lines joined, base64 values decoded by libldap.
std::vector<Record> parseLdif(const std::string& text) {
    std::vector<Record> records;
    std::vector<std::string> lines;
    std::istringstream in(text);
    std::string line;
    auto flush = [&] {
        Record record;
        for (std::string& l : lines) {
            if (l.empty() || l[0] == '#') continue;
            berval type{0, nullptr}, value{0, nullptr};
            int freeValue = 0;
            if (ldif_parse_line2(l.data(), &type, &value, &freeValue) != 0) continue;
            record.emplace_back(std::string(type.bv_val, type.bv_len),
                                value.bv_val ? std::string(value.bv_val, value.bv_len) : std::string());
            if (freeValue) ber_memfree(value.bv_val);
        }
        if (!record.empty()) records.push_back(std::move(record));
        lines.clear();
    };
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty()) flush();
        else if (line[0] == ' ' && !lines.empty()) lines.back() += line.substr(1);
        else lines.push_back(line);
    }
    flush();
    return records;
}

std::string encode(const std::string& in) {
    char* line = ldif_put_wrap(LDIF_PUT_BINARY, "x", in.data(), in.size(), LDIF_LINE_WIDTH_MAX);
    std::string out = line ? line : "";
    ber_memfree(line);
    return out.size() > 4 ? out.substr(4, out.size() - 5) : std::string();
}

void put(std::ostringstream& out, const std::string& type, const std::string& value) {
    out << type << ":: " << encode(value) << "\n";
}

// A login AD takes (at most 20 characters, none of "/\[]:;|=,+*?<>@), unique in the domain.
std::string loginFor(const std::string& cn, std::set<std::string>& taken, bool computer) {
    const size_t most = computer ? 19 : 20;
    std::string login = cn;
    if (login.size() > most || login.find_first_of("\"/\\[]:;|=,+*?<>@ .") != std::string::npos) login = "u";
    while (login == "u" || !taken.insert(lower(login)).second) login = "u" + std::to_string(taken.size() + 1);
    return computer ? login + "$" : login;
}

}  // namespace

std::string classGroup(const std::string& klasse) { return "G_Internet_Deny_" + klasse + ".PROJEKTE.UNTERRICHT"; }

AdSchool adSchoolOf(const std::string& exportLdif) {
    AdSchool school;
    const std::vector<Record> records = parseLdif(exportLdif);
    // First the DNs: cn= stays CN=, o= and ou= become OU=, the base DC=; entries of other kinds
    // (country, locality, printers, volumes, servers) have no place in the domain.
    struct Entry {
        std::string dn, name, kind;  // kind: ou, user, group, computer
        const Record* record;
    };
    std::vector<Entry> entries;
    std::map<std::string, std::string> byExportKey;  // dnKey of the export's DN -> AD DN
    for (const Record& r : records) {
        if (r.front().first != "dn") continue;
        std::vector<Rdn> rdns;
        if (!nw::ldap::parseDn(r.front().second, rdns) || rdns.size() < 3) continue;
        std::set<std::string> classes;
        for (const auto& [type, value] : r)
            if (lower(type) == "objectclass") classes.insert(lower(value));
        std::string kind = classes.count("organizationalunit") || classes.count("organization") ? "ou"
                           : classes.count("inetorgperson")                                     ? "user"
                           : classes.count("tarvelgroup") || classes.count("groupofnames")     ? "group"
                           : classes.count("tarvelworkstation")                                 ? "computer"
                                                                                                : "";
        if (kind.empty()) continue;
        std::vector<Rdn> ad;
        std::vector<std::string> parts;
        bool fits = true;
        for (size_t i = 0; i + 2 < rdns.size(); ++i) {
            const std::string type = lower(rdns[i].type);
            if (type != "cn" && type != "ou" && type != "o") fits = false;
            ad.push_back({i == 0 && kind != "ou" ? "CN" : "OU", rdns[i].value});
            parts.push_back(nw::ldap::escapeTypelessComponent(rdns[i].value));
        }
        if (!fits) continue;
        const std::string dn = nw::ldap::formatDn(ad) + "," + BASE;
        byExportKey[nw::ldap::dnKey(r.front().second)] = dn;
        entries.push_back({dn, lower(nw::ldap::joinTypelessName(parts)), kind, &r});
    }
    // Parents before children: the export lists them so.
    std::ostringstream out, reset, memberChanges;
    std::set<std::string> logins;
    for (const Entry& e : entries) {
        school.dns[e.name] = e.dn;
        put(out, "dn", e.dn);
        std::vector<std::string> members;
        out << "changetype: add\n";
        if (e.kind == "ou") put(out, "objectClass", "organizationalUnit");
        if (e.kind == "group") put(out, "objectClass", "group");
        if (e.kind == "user" || e.kind == "computer") put(out, "objectClass", e.kind);
        for (const auto& [type, value] : *e.record) {
            const std::string t = lower(type);
            if (t == "description" || (e.kind == "user" && (t == "sn" || t == "givenname" || t == "title" ||
                                                            t == "telephonenumber" || t == "displayname")))
                put(out, type, value);
            if (t == "member" && byExportKey.count(nw::ldap::dnKey(value))) members.push_back(byExportKey[nw::ldap::dnKey(value)]);
        }
        if (e.kind != "ou") {
            std::vector<Rdn> rdns;
            nw::ldap::parseDn(e.dn, rdns);
            put(out, "sAMAccountName", e.kind == "group" ? rdns.front().value : loginFor(rdns.front().value, logins, e.kind == "computer"));
        }
        out << "\n";
        // Members once every entry is there: a member must exist when it is named.
        if (!members.empty()) {
            put(memberChanges, "dn", e.dn);
            memberChanges << "changetype: modify\nadd: member\n";
            for (const std::string& m : members) put(memberChanges, "member", m);
            memberChanges << "-\n\n";
        }
        if (e.kind == "group") {
            put(reset, "dn", e.dn);
            reset << "changetype: modify\nreplace: member\n";
            for (const std::string& m : members) put(reset, "member", m);
            reset << "-\n\n";
        }
    }
    // One deny group per class, empty.
    for (const auto& [name, dn] : std::map<std::string, std::string>(school.dns)) {
        std::vector<std::string> parts = nw::ldap::splitTypelessName(name);
        if (parts.size() != 3 || parts[1] != "schueler" || parts[0].rfind("klasse", 0) != 0) continue;
        std::vector<Rdn> rdns;
        nw::ldap::parseDn(dn, rdns);
        const std::string group = classGroup(rdns.front().value);
        const std::string groupDn = "CN=" + nw::ldap::splitTypelessName(group).front() + ",OU=PROJEKTE," + SCHOOL;
        school.dns[lower(group)] = groupDn;
        put(out, "dn", groupDn);
        out << "changetype: add\n";
        put(out, "objectClass", "group");
        put(out, "sAMAccountName", nw::ldap::splitTypelessName(group).front());
        out << "\n";
        put(reset, "dn", groupDn);
        reset << "changetype: modify\nreplace: member\n-\n\n";
    }
    // The admin of the tests is a domain admin.
    if (school.dns.count(lower(ADMIN))) {
        put(out, "dn", std::string("CN=Domain Admins,CN=Users,") + BASE);
        out << "changetype: modify\nadd: member\n";
        put(out, "member", school.dns[lower(ADMIN)]);
        out << "-\n\n";
    }
    school.ldif = out.str() + memberChanges.str();
    school.resetLdif = reset.str();
    return school;
}

SambaDc::SambaDc() {
    // The demo school as the embedded tree has it, in AD's form.
    const std::string tree = dir_.file("school.tree"), exported = dir_.file("export.ldif");
    std::string out;
    if (testsupport::runTreeTool("init --demo " + shellQuote(tree), &out) != 0 ||
        testsupport::runTreeTool("export --ldif " + shellQuote(exported) + " " + shellQuote(tree) + " --base dc=schule,dc=test", &out) != 0)
        throw std::runtime_error("tarvel-tree could not export the demo school: " + out);
    AdSchool school = adSchoolOf(testsupport::readFile(exported));
    dns_ = school.dns;
    const std::string ldif = dir_.file("school-ad.ldif"), reset = dir_.file("reset.ldif");
    testsupport::writeFile(ldif, school.ldif);
    testsupport::writeFile(reset, school.resetLdif);

    auto dnOf = [&](const std::string& name) { return shellQuote(dn(name)); };
    std::string accounts = " --password admin " + dnOf(ADMIN) + " --password teacher " + dnOf(TEACHER) +
                           " --password pupil " + dnOf(PUPIL);
    for (const char* klasse : {"KLASSE5A", "KLASSE5B"})
        accounts += " --member-writer " + dnOf(TEACHER) + " " + dnOf(classGroup(klasse));
    // The template is keyed by what goes into it: a changed school, script or account makes a new one.
    const std::string key = std::to_string(std::hash<std::string>{}(school.ldif + school.resetLdif + accounts +
                                                                     testsupport::readFile(script())));
    const std::string root = std::string(TARVEL_TEST_STATE_HOME) + "/samba";
    std::filesystem::create_directories(root);
    const std::string templ = root + "/template-" + key;
    const std::string command = "bash " + shellQuote(script()) + " template " + shellQuote(templ) + " --ldif " +
                                shellQuote(ldif) + " --reset " + shellQuote(reset) + accounts;
    if (testsupport::runCommand(command, &out) != 0) throw std::runtime_error("Samba template failed: " + out);

    // This program's copy, used by one test at a time.
    const std::string program = std::filesystem::read_symlink("/proc/self/exe").filename().string();
    copy_ = root + "/" + program + "-" + key;
    lock_ = ::open((copy_ + ".use").c_str(), O_CREAT | O_RDWR | O_CLOEXEC, 0600);
    if (lock_ < 0 || ::flock(lock_, LOCK_EX) != 0) throw std::runtime_error("cannot lock " + copy_ + ".use");
    if (testsupport::runCommand("bash " + shellQuote(script()) + " start " + shellQuote(copy_) + " --template " +
                                    shellQuote(templ),
                                &out) != 0 ||
        testsupport::runCommand("bash " + shellQuote(script()) + " reset " + shellQuote(copy_) + " --base " +
                                    shellQuote(SCHOOL),
                                &out) != 0) {
        ::close(lock_);
        throw std::runtime_error("Samba DC did not start: " + out);
    }
    url_ = trimmed(testsupport::readFile(copy_ + "/url"));
    ip_ = trimmed(testsupport::readFile(copy_ + "/ip"));
}

SambaDc::~SambaDc() {
    if (lock_ >= 0) ::close(lock_);  // the next test of the program may have the DC
}

std::string SambaDc::dn(const std::string& typelessName) const {
    std::string name = typelessName;
    if (!name.empty() && name[0] == '.') name.erase(0, 1);
    auto it = dns_.find(lower(name));
    return it == dns_.end() ? std::string() : it->second;
}

std::string SambaDc::useAs(const std::string& who, const std::string& extraLines) {
    std::string conf = dir_.file("nwclient-" + who + ".conf");
    testsupport::writeFile(conf, "Tree=" + url_ + "\nBase=" + BASE + "\nOperator=" + (who == "admin" ? ADMIN : TEACHER) +
                                     "\nPasswordFile=" + passwordFile(who) + "\nTimeout=10\n" + extraLines);
    nw::setConfigurationFile(conf);
    return conf;
}

std::vector<std::string> SambaDc::values(const std::string& dn, const std::string& attribute) const {
    std::vector<std::string> result;
    // ldapsearch follows no ranges: ask for them one after the other.
    for (size_t from = 0;;) {
        std::string out;
        const std::string ranged = attribute + ";range=" + std::to_string(from) + "-*";
        testsupport::runCommand("ldapsearch -x -LLL -o ldif-wrap=no -H " + shellQuote(url_) + " -D 'SCHULE\\Administrator' -y " +
                                    shellQuote(copy_ + "/administrator.pw") + " -s base -b " + shellQuote(dn) + " '(objectClass=*)' " +
                                    shellQuote(ranged),
                                &out);
        size_t before = result.size();
        bool last = true;
        for (const Record& r : parseLdif(out))
            for (const auto& [type, value] : r) {
                const std::string t = lower(type);
                if (t.rfind(lower(attribute), 0) != 0 || (t.size() > attribute.size() && t[attribute.size()] != ';')) continue;
                result.push_back(value);
                last = t.size() < 2 || t.substr(t.size() - 2) == "-*" || t == lower(attribute);
            }
        if (last || result.size() == before) break;
        from = result.size();
    }
    return result;
}

bool SambaDc::holdsDn(const std::string& dn, const std::string& attribute, const std::string& valueDn) const {
    const std::string key = nw::ldap::dnKey(valueDn);
    for (const std::string& v : values(dn, attribute))
        if (nw::ldap::dnKey(v) == key) return true;
    return false;
}

bool SambaDc::modify(const std::string& ldif, std::string* out) const {
    const std::string file = dir_.file("change.ldif");
    testsupport::writeFile(file, ldif);
    return testsupport::runCommand("ldapmodify -a -x -H " + shellQuote(url_) + " -D 'SCHULE\\Administrator' -y " +
                                       shellQuote(copy_ + "/administrator.pw") + " -f " + shellQuote(file),
                                   out) == 0;
}

}  // namespace adtest
