// tarvel-tree: creates and inspects the embedded directory (SQLite tree files) without the
// program: the demo school, large generated trees, values of any syntax, group members,
// volumes and trustee rights.
#include "commands.h"

#include "nwclient/embedded/tree_builder.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <map>

namespace fs = std::filesystem;
using nw::ObjectId;
using nw::embedded::TreeStore;

namespace tarveltree {

namespace {

struct Command {
    std::string usage;
    CommandFn fn = nullptr;
};

std::map<std::string, Command>& registry() {
    static std::map<std::string, Command> commands;
    return commands;
}

const char* statusText(nw::NWCCODE status) {
    switch (status) {
    case nw::TARVEL_TREE_MISSING: return "Datei nicht gefunden";
    case nw::TARVEL_TREE_UNREADABLE: return "keine Baumdatei oder nicht lesbar";
    case nw::TARVEL_TREE_LOCKED: return "die Baumdatei ist von einem anderen Programm gesperrt";
    case nw::TARVEL_TREE_DAMAGED: return "die Baumdatei ist beschädigt (tarvel-tree check DATEI sagt, wie)";
    default: return "kann nicht geöffnet werden";
    }
}

std::string errorText(nw::NWDSCCODE st) {
    switch (st) {
    case nw::ERR_NO_SUCH_ENTRY: return "Objekt nicht gefunden (-601)";
    case nw::ERR_NO_SUCH_VALUE: return "Wert nicht vorhanden (-602)";
    case nw::ERR_NO_SUCH_ATTRIBUTE: return "Attribut nicht vorhanden (-603)";
    case nw::ERR_ENTRY_ALREADY_EXISTS: return "Objekt existiert bereits (-606)";
    case nw::ERR_CANT_HAVE_MULTIPLE_VALUES: return "das Attribut nimmt nur einen Wert (-612)";
    case nw::ERR_SYNTAX_VIOLATION: return "falsche Syntax für dieses Attribut (-613)";
    case nw::ERR_DUPLICATE_VALUE: return "doppelter Wert (-614)";
    case nw::ERR_ILLEGAL_ATTRIBUTE: return "das Attribut kann nicht gesetzt werden (-608)";
    case nw::ERR_INVALID_DS_NAME: return "ungültiger Name (-342)";
    case nw::ERR_RDN_TOO_LONG: return "Namensteil zu lang (-334)";
    case nw::ERR_DN_TOO_LONG: return "Name zu lang (-353)";
    case nw::ERR_ILLEGAL_DS_NAME: return "das übergeordnete Objekt ist kein Container (-610)";
    case nw::ERR_DS_LOCKED: return "die Baumdatei ist von einem anderen Programm gesperrt (-663)";
    default: return "Status " + std::to_string(st);
    }
}

bool parseCount(const std::string& text, int& out) {
    char* end = nullptr;
    long v = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end || v < 0 || v > 10000000) return false;
    out = int(v);
    return true;
}

// ---- init ----
int cmdInit(const Args& args) {
    bool demo = false;
    std::string file, server = "SCHULSERVER";
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--demo") demo = true;
        else if (args[i] == "--server" && i + 1 < args.size()) server = args[++i];
        else if (file.empty() && args[i].rfind("--", 0) != 0) file = args[i];
        else return usage("init");
    }
    if (file.empty()) return usage("init");
    std::string error;
    std::shared_ptr<TreeStore> store = TreeStore::create(file, server, error);
    if (!store) return fail(error);
    try {
        if (demo) nw::embedded::buildDemoSchool(*store);
    } catch (const std::exception& e) {
        store.reset();
        std::error_code ec;
        for (const char* suffix : {"", "-wal", "-shm"}) fs::remove(file + suffix, ec);
        return fail(std::string("die Demo-Schule kann nicht angelegt werden: ") + e.what());
    }
    return 0;
}

// ---- generate ----
int cmdGenerate(const Args& args) {
    nw::embedded::GenerateOptions options;
    std::string file;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        bool hasValue = i + 1 < args.size();
        if (a == "--users" && hasValue) {
            if (!parseCount(args[++i], options.users)) return usage("generate");
        } else if (a == "--containers" && hasValue) {
            if (!parseCount(args[++i], options.containers) || options.containers < 1) return usage("generate");
        } else if (a == "--members" && hasValue) {
            if (!parseCount(args[++i], options.denyMembers)) return usage("generate");
        } else if (file.empty() && a.rfind("--", 0) != 0) {
            file = a;
        } else {
            return usage("generate");
        }
    }
    if (file.empty()) return usage("generate");
    if (options.denyMembers > options.users) return fail("--members darf nicht größer als --users sein");
    std::string error;
    std::shared_ptr<TreeStore> store = TreeStore::create(file, "SCHULSERVER", error);
    if (!store) return fail(error);
    try {
        nw::embedded::generateTree(*store, options);
    } catch (const std::exception& e) {
        return fail(std::string("der Baum kann nicht erzeugt werden: ") + e.what());
    }
    return 0;
}

// ---- show ----
void printAttribute(const nw::Attribute& a, bool withName) {
    for (const nw::AttrValue& v : a.values) {
        std::string text = formatValue(a.syntax, v);
        if (withName) std::cout << a.name << ": ";
        std::cout << text;
        if (text.empty() || text.back() != '\n') std::cout << '\n';
    }
}

int cmdShow(const Args& args) {
    if (args.size() < 2 || args.size() > 3) return usage("show");
    auto store = openTree(args[0]);
    if (!store) return 1;
    ObjectId id;
    if (!findObject(*store, args[1], id)) return 1;
    try {
        if (args.size() == 3) {
            nw::embedded::AttrDef def;
            if (!store->attribute(args[2], def)) return fail("unbekanntes Attribut \"" + args[2] + "\"");
            nw::Attribute a;
            nw::NWDSCCODE st = store->readAttribute(id, args[2], a);
            if (st == nw::ERR_NO_SUCH_ATTRIBUTE) return 0;  // no values: nothing to print
            if (st) return fail(errorText(st));
            printAttribute(a, false);
            return 0;
        }
        nw::embedded::ObjectRow row;
        store->object(id, row);
        std::cout << store->fullName(id) << "\n";
        std::cout << "Base Class: " << row.className << "\n";
        for (const std::string& name : store->attributeNames(id)) {
            nw::Attribute a;
            if (store->readAttribute(id, name, a) == 0) printAttribute(a, true);
        }
    } catch (const nw::embedded::SqlError& e) {
        return fail(e.what());
    }
    return 0;
}

// ---- set ----
int cmdSet(const Args& args) {
    if (args.size() < 4) return usage("set");
    char* end = nullptr;
    unsigned long syntax = std::strtoul(args[3].c_str(), &end, 10);
    if (args[3].empty() || *end || syntax > 255) return usage("set");
    auto store = openTree(args[0]);
    if (!store) return 1;
    ObjectId id;
    if (!findObject(*store, args[1], id)) return 1;
    std::vector<nw::AttrValue> values;
    for (size_t i = 4; i < args.size(); ++i) {
        nw::AttrValue v;
        std::string error;
        if (!parseValue(uint32_t(syntax), args[i], v, error)) return fail(error);
        values.push_back(std::move(v));
    }
    try {
        nw::embedded::Transaction t(store->db());
        nw::embedded::AttrDef def;
        if (!store->attribute(args[2], def)) {
            store->defineAttribute(args[2], uint32_t(syntax), false);
            store->attribute(args[2], def);
        } else if (def.syntax != syntax) {
            return fail("\"" + def.name + "\" hat die Syntax " + std::to_string(def.syntax));
        }
        nw::Attribute old;
        std::vector<nw::Change> changes;
        if (store->readAttribute(id, def.name, old) == 0)
            changes.push_back({nw::DS_REMOVE_ATTRIBUTE, def.name, def.syntax, {}});
        if (!values.empty()) changes.push_back({nw::DS_ADD_ATTRIBUTE, def.name, def.syntax, values});
        if (nw::NWDSCCODE st = store->applyChanges(id, changes)) return fail(errorText(st));
        t.commit();
    } catch (const nw::embedded::SqlError& e) {
        return fail(e.what());
    }
    return 0;
}

// ---- add ----
int cmdAdd(const Args& args) {
    if (args.size() != 3) return usage("add");
    auto store = openTree(args[0]);
    if (!store) return 1;
    std::vector<std::string> components;
    if (!nw::embedded::splitFullName(args[1], components) || components.empty())
        return fail("ungültiger Name \"" + args[1] + "\"");
    std::string leaf = components.back();
    components.pop_back();
    try {
        ObjectId parent, id;
        if (store->resolve(components, parent) != 0) return fail("kein Container für \"" + args[1] + "\"");
        if (nw::NWDSCCODE st = store->addObject(parent, leaf, args[2], id)) return fail(errorText(st));
    } catch (const nw::embedded::SqlError& e) {
        return fail(e.what());
    }
    return 0;
}

// ---- members ----
int cmdMembers(const Args& args) {
    if (args.size() != 2) return usage("members");
    auto store = openTree(args[0]);
    if (!store) return 1;
    ObjectId id;
    if (!findObject(*store, args[1], id)) return 1;
    try {
        nw::Attribute a;
        nw::NWDSCCODE st = store->readAttribute(id, "Member", a);
        if (st == nw::ERR_NO_SUCH_ATTRIBUTE) return 0;
        if (st) return fail(errorText(st));
        for (const nw::AttrValue& v : a.values) std::cout << v.text << "\n";
    } catch (const nw::embedded::SqlError& e) {
        return fail(e.what());
    }
    return 0;
}

// ---- volume ----
int cmdVolume(const Args& args) {
    if (args.size() == 2 && args[1] == "list") {
        auto store = openTree(args[0]);
        if (!store) return 1;
        for (const TreeStore::Volume& v : store->volumes()) std::cout << v.name << "\t" << v.localPath << "\n";
        return 0;
    }
    if (args.size() != 4 || args[1] != "add" || args[2].empty()) return usage("volume");
    if (args[2].find_first_of(":/\\ ") != std::string::npos) return fail("ungültiger Volume-Name \"" + args[2] + "\"");
    auto store = openTree(args[0]);
    if (!store) return 1;
    std::error_code ec;
    fs::path local = fs::absolute(args[3], ec).lexically_normal();
    if (ec || !fs::is_directory(local, ec)) return fail("\"" + args[3] + "\" ist kein Ordner");
    try {
        store->addVolume(args[2], local.string());
    } catch (const nw::embedded::SqlError& e) {
        return fail(e.what());
    }
    return 0;
}

// ---- trustee ----
int cmdTrustee(const Args& args) {
    if (args.size() != 5) return usage("trustee");
    uint32_t rights;
    if (!parseFileRights(args[4], rights)) return fail("Rechte sind Buchstaben aus SRWECMFA, oder - für keine");
    auto store = openTree(args[0]);
    if (!store) return 1;
    TreeStore::Volume volume;
    if (!store->volume(args[1], volume)) return fail("kein Volume \"" + args[1] + "\"");
    ObjectId id;
    if (!findObject(*store, args[3], id)) return 1;
    try {
        store->setTrustee(volume.name, args[2], id, rights);
    } catch (const nw::embedded::SqlError& e) {
        return fail(e.what());
    }
    return 0;
}

const CommandRegistration kBuiltins[] = {
    {"init", "init [--demo] [--server NAME] DATEI\n    neue Baumdatei; --demo füllt sie mit der Demo-Schule", cmdInit},
    {"generate", "generate DATEI --users N --containers M [--members K]\n"
                 "    neuer Baum mit N Benutzern in M Containern unter SCHUELER.UNTERRICHT; die ersten K in der\n"
                 "    Internet-Verbotsgruppe",
     cmdGenerate},
    {"show", "show DATEI NAME [ATTRIBUT]\n    Basisklasse und Attributwerte eines Objekts, oder die Werte eines Attributs",
     cmdShow},
    {"set", "set DATEI NAME ATTRIBUT SYNTAX [WERT...]\n    ersetzt die Werte des Attributs (ohne Wert: entfernt sie)",
     cmdSet},
    {"add", "add DATEI NAME KLASSE\n    neues Objekt, z. B. add school.tree Gast06.PROJEKTE.UNTERRICHT User", cmdAdd},
    {"members", "members DATEI GRUPPE\n    die Mitglieder der Gruppe, ein voller Name je Zeile", cmdMembers},
    {"volume", "volume DATEI add NAME ORDNER | volume DATEI list\n    Volumes und die Ordner, in die sie eingehängt sind",
     cmdVolume},
    {"trustee", "trustee DATEI VOLUME PFAD OBJEKT RECHTE\n    Dateisystem-Rechte (Buchstaben aus SRWECMFA, - für keine)",
     cmdTrustee},
};

}  // namespace

CommandRegistration::CommandRegistration(const char* name, const char* usageText, CommandFn fn) {
    registry()[name] = Command{usageText, fn};
}

int fail(const std::string& message) {
    std::cerr << "tarvel-tree: " << message << "\n";
    return 1;
}

int usage(const std::string& command) {
    auto& commands = registry();
    auto it = commands.find(command);
    if (it != commands.end()) {
        std::cerr << "Aufruf: tarvel-tree " << it->second.usage << "\n";
        if (command == "set") std::cerr << "Werte nach Syntax:\n" << valueFormats();
        return 2;
    }
    std::cerr << "Aufruf: tarvel-tree BEFEHL ARGUMENTE\n";
    for (auto& [name, c] : commands) std::cerr << "  " << c.usage << "\n";
    if (!commands.count("export")) std::cerr << "  (export/import --ldif: in diesem Build nicht enthalten)\n";
    return 2;
}

std::shared_ptr<TreeStore> openTree(const std::string& file) {
    nw::NWCCODE status = 0;
    std::shared_ptr<TreeStore> store = TreeStore::open(file, status);
    if (!store) fail(file + ": " + statusText(status));
    return store;
}

bool findObject(TreeStore& store, const std::string& name, ObjectId& id) {
    nw::NWDSCCODE st;
    try {
        st = store.resolveFullName(name, id);
    } catch (const nw::embedded::SqlError& e) {
        fail(e.what());
        return false;
    }
    if (st == 0) return true;
    fail("\"" + name + "\": " + errorText(st));
    return false;
}

}  // namespace tarveltree

int main(int argc, char** argv) {
    using namespace tarveltree;
    if (argc < 2) return usage();
    std::string command = argv[1];
    if (command == "--help" || command == "-h" || command == "help") {
        // Asked for, the usage is the answer: on standard output.
        std::streambuf* errors = std::cerr.rdbuf(std::cout.rdbuf());
        usage();
        std::cerr.rdbuf(errors);
        return 0;
    }
    if (command == "--version") {
        std::cout << "tarvel-tree " << TARVEL_VERSION << "\n";
        return 0;
    }
    auto& commands = registry();
    auto it = commands.find(command);
    if (it == commands.end()) {
        if (command == "export" || command == "import")
            return fail(command + " ist in diesem Build nicht enthalten");
        std::cerr << "tarvel-tree: unbekannter Befehl \"" << command << "\"\n";
        return usage();
    }
    Args args(argv + 2, argv + argc);
    return it->second.fn(args);
}
