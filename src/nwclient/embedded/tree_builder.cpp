#include "nwclient/embedded/tree_builder.h"

#include <cstdio>
#include <filesystem>
#include <stdexcept>

namespace nw::embedded {

namespace {

// Thin helper: every failure is a programming error in the builder and aborts the whole tree.
class Builder {
public:
    explicit Builder(TreeStore& store) : store_(store) {}

    ObjectId add(ObjectId parent, const std::string& name, const std::string& className) {
        ObjectId id;
        if (NWDSCCODE st = store_.addObject(parent, name, className, id))
            throw std::runtime_error("cannot add " + name + ": status " + std::to_string(st));
        return id;
    }

    void put(ObjectId id, const std::string& attribute, std::vector<AttrValue> values) {
        AttrDef def;
        if (!store_.attribute(attribute, def)) throw std::runtime_error("unknown attribute " + attribute);
        Change c{DS_ADDITIONAL_VALUE, def.name, def.syntax, std::move(values)};
        if (NWDSCCODE st = store_.applyChanges(id, {c}))
            throw std::runtime_error("cannot set " + attribute + " of " + store_.fullName(id) + ": status " +
                                     std::to_string(st));
    }
    void text(ObjectId id, const std::string& attribute, const std::string& value) {
        AttrValue v;
        v.text = value;
        put(id, attribute, {v});
    }
    void number(ObjectId id, const std::string& attribute, int64_t value, int64_t value2 = 0) {
        AttrValue v;
        v.number = value;
        v.number2 = value2;
        put(id, attribute, {v});
    }
    void dn(ObjectId id, const std::string& attribute, ObjectId target) { text(id, attribute, store_.fullName(target)); }
    void acl(ObjectId id, const std::string& protectedAttribute, const std::string& subject, uint32_t privileges) {
        AttrValue v;
        v.text = protectedAttribute;
        v.text2 = subject;
        v.number = privileges;
        put(id, "ACL", {v});
    }
    void stream(ObjectId id, const std::string& attribute, const std::string& contents) {
        AttrValue v;
        v.bytes = contents;
        put(id, attribute, {v});
    }
    void address(ObjectId id, uint32_t type, std::string bytes) {
        AttrValue v;
        v.number = type;
        v.bytes = std::move(bytes);
        put(id, "Network Address", {v});
    }
    // Member on the group, Group Membership on the user, and the security equivalence both ways.
    void joinGroup(ObjectId user, ObjectId group, bool equivalence = true) {
        dn(group, "Member", user);
        dn(user, "Group Membership", group);
        if (equivalence) {
            dn(user, "Security Equals", group);
            dn(group, "Equivalent To Me", user);
        }
    }
    void person(ObjectId id, const std::string& given, const std::string& surname) {
        text(id, "Given Name", given);
        text(id, "Surname", surname);
        text(id, "Full Name", given + " " + surname);
    }
    std::string full(ObjectId id) { return store_.fullName(id); }

private:
    TreeStore& store_;
};

std::string bytes(std::initializer_list<int> list) {
    std::string out;
    for (int b : list) out += char(b);
    return out;
}

const char* kGiven[] = {"Lena", "Jonas", "Mia", "Leon", "Emma", "Paul", "Hannah", "Ben", "Sophie", "Felix",
                        "Marie", "Lukas", "Anna", "Tim", "Lea", "Niklas", "Laura", "Finn", "Jana", "Elias"};
const char* kSurname[] = {"Müller", "Schmidt", "Schneider", "Fischer", "Weber", "Meyer", "Wagner", "Becker",
                          "Schulz", "Hoffmann", "Schäfer", "Koch", "Bauer", "Richter", "Klein", "Wolf",
                          "Köhler", "Neumann", "Jäger", "Böhm", "Krüger", "Hartmann", "Lange", "Werner"};

constexpr uint32_t ENTRY_ALL = DS_ENTRY_BROWSE | DS_ENTRY_ADD | DS_ENTRY_DELETE | DS_ENTRY_RENAME | DS_ENTRY_SUPERVISOR;
constexpr uint32_t ATTR_ALL = DS_ATTR_COMPARE | DS_ATTR_READ | DS_ATTR_WRITE | DS_ATTR_SELF | DS_ATTR_SUPERVISOR;
constexpr uint32_t ATTR_READ_WRITE = DS_ATTR_COMPARE | DS_ATTR_READ | DS_ATTR_WRITE;

struct Skeleton {
    ObjectId org, admin, projekte, schueler, deny, denyWs;
};

// What the demo and the generated trees share: the organization, its administrator with all
// rights, the deny groups.
Skeleton skeleton(Builder& b) {
    Skeleton s;
    s.org = b.add(ROOT_ID, "UNTERRICHT", "Organization");
    s.admin = b.add(s.org, "admin", "User");
    b.person(s.admin, "Schul", "Administrator");
    b.acl(ROOT_ID, "[Entry Rights]", b.full(s.admin), ENTRY_ALL);
    b.acl(ROOT_ID, "[All Attributes Rights]", b.full(s.admin), ATTR_ALL);
    b.acl(ROOT_ID, "[Entry Rights]", "[Public]", DS_ENTRY_BROWSE);
    s.projekte = b.add(s.org, "PROJEKTE", "Organizational Unit");
    s.deny = b.add(s.projekte, "G_User_Internet_Deny", "Group");
    b.text(s.deny, "Description", "Benutzer ohne Internetzugang");
    s.denyWs = b.add(s.projekte, "G_WS_Internet_Deny", "Group");
    b.text(s.denyWs, "Description", "Arbeitsplätze ohne Internetzugang");
    s.schueler = b.add(s.org, "SCHUELER", "Organizational Unit");
    return s;
}

}  // namespace

void buildDemoSchool(TreeStore& store) {
    Transaction t(store.db());
    Builder b(store);

    const std::string loginScript =
        "REM Anmeldeskript der Demo-Schule\r\n"
        "MAP DISPLAY OFF\r\n"
        "MAP ROOT H:=SCHULSERVER/DATA:HOME\\%LOGIN_NAME\r\n"
        "MAP S1:=SCHULSERVER/DATA:PROGRAMME\r\n"
        "WRITE \"Guten %GREETING_TIME, %FULL_NAME!\"\r\n";

    b.add(ROOT_ID, "DE", "Country");
    b.add(ROOT_ID, "Musterstadt", "Locality");
    Skeleton s = skeleton(b);

    // The organization: a login script, an intruder interval, replica and synchronisation data.
    b.text(s.org, "Description", "Demo-Schule für Tarvelweb");
    b.text(s.org, "Telephone Number", "+49 30 1234567");
    b.stream(s.org, "Login Script", loginScript);
    b.number(s.org, "Login Intruder Reset Interval", 86400 + 3600 + 60 + 1);
    b.number(s.org, "Received Up To", 1764979200, 1);
    {
        AttrValue replica;
        replica.text = "SCHULSERVER";
        replica.number = 0;
        replica.number2 = 1;
        b.put(s.org, "Replica", {replica});
    }

    // The administrator: addresses of both kinds, times, a path, a list, a stream.
    b.text(s.admin, "Description", "Verwaltet das Schulnetz");
    b.address(s.admin, 0, bytes({0x00, 0x00, 0x00, 0x01, 0x00, 0x1B, 0x21, 0x0A, 0x0B, 0x0C, 0x04, 0x51}));
    b.address(s.admin, 1, bytes({0x00, 0x50, 0x0A, 0x01, 0x02, 0x03}));
    b.number(s.admin, "Login Time", 1764999000);
    b.number(s.admin, "Last Login Time", 1764912600);
    {
        AttrValue home;
        home.number = 4;
        home.text = "DATA";
        home.text2 = "HOME\\admin";
        b.put(s.admin, "Home Directory", {home});
        AttrValue language;
        language.list = {"DEUTSCH", "ENGLISH", "FRANCAIS"};
        b.put(s.admin, "Language", {language});
        AttrValue mail;
        mail.number = 0;
        mail.text = "admin@schule.example";
        b.put(s.admin, "EMail Address", {mail});
        AttrValue fax;
        fax.text = "+49 30 1234568";
        b.put(s.admin, "Facsimile Telephone Number", {fax});
        AttrValue key;
        key.bytes = bytes({0x30, 0x82, 0x01, 0x0A, 0x02, 0x82, 0x01, 0x01, 0x00, 0xC4});
        b.put(s.admin, "Public Key", {key});
    }
    b.number(s.admin, "Login Disabled", 0);
    b.number(s.admin, "Login Grace Limit", 6);
    b.number(s.admin, "Login Intruder Attempts", 0);
    b.number(s.admin, "Password Minimum Length", 8);
    b.number(s.admin, "Password Expiration Interval", 90 * 86400);
    b.stream(s.admin, "Login Script", "REM Administrator\r\nMAP ROOT X:=SCHULSERVER/DATA:\r\n");

    ObjectId server = b.add(s.org, "SCHULSERVER", "NCP Server");
    b.text(server, "Description", "Dateiserver der Schule");
    b.address(server, 1, bytes({0x02, 0x0C, 0x0A, 0x00, 0x00, 0x01}));
    {
        AttrValue hold;
        hold.text = b.full(s.admin);
        hold.number = 25;
        b.put(server, "Server Holds", {hold});
    }
    ObjectId volume = b.add(s.org, "SCHULSERVER_DATA", "Volume");
    b.dn(volume, "Host Server", server);
    b.text(volume, "Description", "Daten der Schule");
    {
        AttrValue link;
        link.number = 0x0100002A;
        link.text = b.full(server);
        b.put(volume, "Back Link", {link});
    }
    ObjectId role = b.add(s.org, "Hausmeister", "Organizational Role");
    b.text(role, "Telephone Number", "+49 30 1234569");
    b.add(s.org, "ARCHIV", "Organizational Unit");

    // PROJEKTE: guests, two of them denied.
    std::vector<ObjectId> guests;
    for (int i = 1; i <= 5; ++i) {
        char name[16];
        std::snprintf(name, sizeof name, "Gast%02d", i);
        ObjectId g = b.add(s.projekte, name, "User");
        b.text(g, "Description", "Gastzugang");
        b.text(g, "Surname", name);
        guests.push_back(g);
    }
    b.joinGroup(guests[0], s.deny);
    b.joinGroup(guests[1], s.deny);

    // LEHRER: teachers, their group, a printer.
    ObjectId lehrer = b.add(s.org, "LEHRER", "Organizational Unit");
    ObjectId teachers = b.add(lehrer, "G_Lehrer", "Group");
    b.text(teachers, "Description", "Alle Lehrkräfte");
    std::vector<ObjectId> teacherIds;
    for (int i = 1; i <= 6; ++i) {
        ObjectId t = b.add(lehrer, "lehrer" + std::to_string(i), "User");
        b.person(t, kGiven[(i * 3) % 20], kSurname[(i * 5) % 24]);
        b.text(t, "Title", "Lehrkraft");
        b.joinGroup(t, teachers);
        teacherIds.push_back(t);
    }
    ObjectId printer = b.add(lehrer, "Drucker-Lehrerzimmer", "NDPS Printer");
    b.text(printer, "Description", "Laserdrucker im Lehrerzimmer");
    {
        AttrValue notify;
        notify.text = b.full(teacherIds[0]);
        notify.number = 1;
        notify.number2 = 60;
        b.put(printer, "Notify", {notify});
    }

    // SCHUELER: workstations, a printer and the classes.
    ObjectId wsGroup = s.denyWs;
    for (int i = 1; i <= 6; ++i) {
        char name[24];
        std::snprintf(name, sizeof name, "WS-R101-%02d", i);
        ObjectId ws = b.add(s.schueler, name, "Workstation");
        b.address(ws, 1, bytes({0x00, 0x00, 0x0A, 0x00, 0x65, i}));
        if (i == 6) b.dn(wsGroup, "Member", ws);
    }
    ObjectId roomPrinter = b.add(s.schueler, "Drucker-R101", "Printer");
    b.text(roomPrinter, "Serial Number", "PRN-0815");
    ObjectId pupils = b.add(s.schueler, "G_Schueler", "Group");
    b.text(pupils, "Description", "Alle Schülerinnen und Schüler");

    struct Klasse {
        const char* name;
        int size;
        bool classGroup;
    };
    const Klasse klassen[] = {{"KLASSE5A", 24, true}, {"KLASSE5B", 27, false}, {"KLASSE6A", 22, true},
                              {"KLASSE6B", 30, false}, {"KLASSE7A", 20, true}, {"KLASSE7B", 25, false}};
    int serial = 0;
    for (size_t k = 0; k < std::size(klassen); ++k) {
        const Klasse& kl = klassen[k];
        ObjectId ou = b.add(s.schueler, kl.name, "Organizational Unit");
        b.text(ou, "Description", std::string("Klasse ") + (kl.name + 6));
        ObjectId classGroup = -1;
        if (kl.classGroup) classGroup = b.add(ou, std::string("G_") + kl.name, "Group");
        for (int i = 0; i < kl.size; ++i, ++serial) {
            std::string given = kGiven[(serial * 7 + 3) % 20];
            std::string surname = kSurname[(serial * 5 + k) % 24];
            ObjectId u;
            std::string name = surname + given;
            for (int n = 2; store.child(ou, name, u); ++n) name = surname + given + std::to_string(n);
            u = b.add(ou, name, "User");
            b.person(u, given, surname);
            if (classGroup >= 0) b.joinGroup(u, classGroup, false);
            if (i == 0) b.number(u, "Login Time", 1764900000 + serial * 60);
        }
        if (k == 0) b.add(ou, "WS-" + std::string(kl.name + 6) + "-01", "Workstation");
    }
    // Pupils of KLASSE6B and KLASSE7A already denied.
    for (const char* klasse : {"KLASSE6B", "KLASSE7A"}) {
        ObjectId ou;
        store.child(s.schueler, klasse, ou);
        int taken = 0;
        for (const ObjectRow& r : store.children(ou, "", false, 100)) {
            if (r.className != "User" || taken == (klasse[7] == 'B' ? 1 : 2)) continue;
            b.joinGroup(r.id, s.deny);
            ++taken;
        }
    }

    // The teacher operator: group memberships and equivalences of KLASSE5A and KLASSE5B, and the
    // deny group's members; nothing else.
    const std::string lehrer1 = b.full(teacherIds[0]);
    for (const char* klasse : {"KLASSE5A", "KLASSE5B"}) {
        ObjectId ou;
        store.child(s.schueler, klasse, ou);
        b.acl(ou, "Group Membership", lehrer1, ATTR_READ_WRITE);
        b.acl(ou, "Security Equals", lehrer1, ATTR_READ_WRITE);
    }
    b.acl(s.deny, "Member", lehrer1, ATTR_READ_WRITE);
    b.acl(s.projekte, "[Entry Rights]", b.full(teachers), DS_ENTRY_BROWSE);

    // The volume DATA beside the tree file, with a folder for the program's settings.
    store.addVolume("DATA", "DATA");
    store.setTrustee("DATA", "", teachers, 0x001 | 0x040);
    store.setTrustee("DATA", "TARVEL", teacherIds[0], 0x001 | 0x002 | 0x010 | 0x008 | 0x080 | 0x040);
    t.commit();

    std::error_code ec;
    std::filesystem::path folder = std::filesystem::path(store.file()).parent_path() / "DATA" / "TARVEL";
    std::filesystem::create_directories(folder, ec);
}

void generateTree(TreeStore& store, const GenerateOptions& options) {
    if (options.users < 0 || options.containers < 1 || options.denyMembers < 0 || options.denyMembers > options.users ||
        (!options.userNames.empty() && options.userNames.size() != size_t(options.users)))
        throw std::runtime_error("bad sizes");
    Transaction t(store.db());
    Builder b(store);
    Skeleton s = skeleton(b);
    std::vector<ObjectId> containers;
    for (int c = 0; c < options.containers; ++c) {
        char name[16];
        std::snprintf(name, sizeof name, "K%05d", c + 1);
        containers.push_back(b.add(s.schueler, name, "Organizational Unit"));
    }
    std::vector<AttrValue> members;
    for (int i = 0; i < options.users; ++i) {
        char numbered[16];
        std::snprintf(numbered, sizeof numbered, "U%07d", i + 1);
        ObjectId container = containers[size_t(int64_t(i) * options.containers / std::max(options.users, 1))];
        ObjectId u = b.add(container, options.userNames.empty() ? numbered : options.userNames[size_t(i)], "User");
        if (i < options.denyMembers) {
            b.dn(u, "Group Membership", s.deny);
            b.dn(u, "Security Equals", s.deny);
            AttrValue v;
            v.text = b.full(u);
            members.push_back(std::move(v));
        }
    }
    if (!members.empty()) {
        b.put(s.deny, "Member", members);
        b.put(s.deny, "Equivalent To Me", members);
    }
    t.commit();
}

}  // namespace nw::embedded
