// acl: the OpenLDAP access rules that let one teacher stop and free the pupils of some classes and
// nobody else, for slapd.conf (or olcAccess), printed for the configured deny group and Base=; with
// --ad the samba-tool commands that do the same on Active Directory through class groups.
#include "ctl/ctl.h"
#include "nwclient/client_setup.h"
#include "nwclient/ldap/ldap_escape.h"
#include "nwclient/names.h"

#include <cstdio>

namespace ctl {

namespace {

// A typeless name as DN, by the rule the README gives for the directory's layout: the leaf of an
// object is cn, the top container o, the containers between ou; below Base=. A name that is a DN
// already (a site named otherwise, uid= or dc=) is taken as written. False for a name that is
// neither.
bool dnOfName(const std::string& name, bool leafIsObject, const nw::ClientConfig& config, std::string& dn,
              bool ad = false) {
    std::vector<nw::ldap::Rdn> rdns;
    if (name.find('=') != std::string::npos && nw::ldap::parseDn(name, rdns) && !rdns.empty()) {
        dn = name;
        return true;
    }
    std::vector<std::string> context, rootFirst;
    if (!config.defaultContext.empty() && nw::names::parseContext(config.defaultContext, context) != 0) return false;
    if (nw::names::resolveAgainst(context, name, rootFirst) != 0 || rootFirst.empty()) return false;
    rdns.clear();
    for (size_t i = rootFirst.size(); i-- > 0;) {
        const bool leaf = i + 1 == rootFirst.size();
        rdns.push_back({leaf && leafIsObject ? "cn" : i == 0 && !ad ? "o" : "ou", rootFirst[i]});
    }
    dn = nw::ldap::formatDn(rdns);
    auto base = config.values.find("base");
    if (base != config.values.end() && !base->second.empty()) dn += "," + base->second;
    return true;
}

// A value in double quotes as slapd's configuration reads it: there a backslash escapes the next
// character, so the DN's own escapes are doubled.
std::string quoted(const std::string& value) {
    std::string out = "\"";
    for (char c : value) {
        if (c == '\\' || c == '"') out += '\\';
        out += c;
    }
    return out + "\"";
}

std::string teacherAcl(const std::string& teacherDn, const std::string& groupDn, const std::vector<std::string>& classDns,
                       const std::string& membershipClass) {
    // Every rule ends in "by * break": whoever is not this teacher goes on to the next rule, so the
    // block sits ahead of the site's own rules (and other teachers' blocks) without hiding them.
    auto rule = [&](const std::string& what) {
        return "access to " + what + "\n  by dn.exact=" + quoted(teacherDn) + " write\n  by * break\n";
    };
    std::string out;
    for (const std::string& c : classDns)
        for (const char* attribute : {"member", "equivalentToMe"})
            out += rule("dn.exact=" + quoted(groupDn) + " attrs=" + attribute + " val.children=" + quoted(c));
    for (const std::string& c : classDns) {
        for (const char* attribute : {"groupMembership", "securityEquals"})
            out += rule("dn.subtree=" + quoted(c) + " attrs=" + attribute + " val=" + quoted(groupDn));
        out += rule("dn.subtree=" + quoted(c) + " attrs=objectClass val=" + membershipClass);
    }
    return out;
}

// A word for the shell in single quotes.
std::string shellWord(const std::string& value) {
    std::string out = "'";
    for (char c : value) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

// AD cannot limit a write on member to some values: each class gets a group of its own (the deny
// group's name, "_", the class's name, beside the deny group, nested in it) and the teacher the
// right to write member of that group alone.
std::string teacherAdCommands(const std::string& teacherDn, const std::string& groupDn,
                              const std::vector<std::string>& classDns, const std::string& base) {
    std::vector<nw::ldap::Rdn> group, teacher;
    nw::ldap::parseDn(groupDn, group);
    nw::ldap::parseDn(teacherDn, teacher);
    const std::string groupName = group.front().value;
    const std::string parentDn = nw::ldap::formatDn(std::vector<nw::ldap::Rdn>(group.begin() + 1, group.end()));
    // samba-tool's --groupou is below the domain: Base= is taken off.
    std::string parentOu = parentDn;
    const std::string suffix = "," + base;
    if (!base.empty() && parentOu.size() > suffix.size() &&
        nw::ldap::dnKey(parentOu.substr(parentOu.size() - base.size())) == nw::ldap::dnKey(base) &&
        parentOu.compare(parentOu.size() - suffix.size(), 1, ",") == 0)
        parentOu.resize(parentOu.size() - suffix.size());
    // The login of the teacher is taken to be the name (CN); samba-tool shows the SID.
    std::string out = "# Auf dem Domänencontroller als Domänen-Administrator ausführen.\n"
                      "SID=\"$(samba-tool user show " + shellWord(teacher.front().value) +
                      " --attributes=objectSid | sed -n 's/^objectSid: //p')\"\n";
    for (const std::string& c : classDns) {
        std::vector<nw::ldap::Rdn> klasse;
        nw::ldap::parseDn(c, klasse);
        const std::string name = groupName + "_" + klasse.front().value;
        const std::string dn = nw::ldap::formatDn({{"CN", name}}) + "," + parentDn;
        out += "samba-tool group add " + shellWord(name) + " --groupou=" + shellWord(parentOu) + "\n";
        out += "samba-tool group addmembers " + shellWord(groupName) + " " + shellWord(name) + "\n";
        // Write Property on member (its schemaIDGUID) for the teacher.
        out += "samba-tool dsacl set --objectdn=" + shellWord(dn) +
               " --sddl=\"(OA;;WP;bf9679c0-0de6-11d0-a285-00aa003049e2;;$SID)\" --action=allow\n";
    }
    return out;
}

}  // namespace

int cmdAcl(const Options& options) {
    nw::ClientConfig config;
    if (nw::loadConfiguration(config) != 0) {
        say("Keine lesbare nwclient.conf: ohne ihre Base= lassen sich die DNs nicht bilden.");
        return Failed;
    }
    std::string teacherDn, groupDn;
    std::vector<std::string> classDns(options.names.size() - 1);
    auto refuse = [](const std::string& name) {
        say("tarvel-ctl: " + name + " ist kein gültiger Name.");
        return WrongUse;
    };
    if (!dnOfName(options.names[0], true, config, teacherDn, options.ad)) return refuse(options.names[0]);
    if (!dnOfName(denyGroup(), true, config, groupDn, options.ad)) return refuse(denyGroup());
    for (size_t i = 1; i < options.names.size(); ++i)
        if (!dnOfName(options.names[i], false, config, classDns[i - 1], options.ad)) return refuse(options.names[i]);
    auto membershipClass = config.values.find("membershipclass");
    auto base = config.values.find("base");
    const std::string text = options.ad ? teacherAdCommands(teacherDn, groupDn, classDns,
                                                            base == config.values.end() ? std::string() : base->second)
                                        : teacherAcl(teacherDn, groupDn, classDns,
                                        membershipClass == config.values.end() || membershipClass->second.empty()
                                            ? std::string("tarvelMembership")
                                            : membershipClass->second);
    std::fwrite(text.data(), 1, text.size(), stdout);
    return std::fflush(stdout) == 0 ? Done : Failed;
}

}  // namespace ctl
