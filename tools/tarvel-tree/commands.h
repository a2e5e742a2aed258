// tarvel-tree: commands and the helpers they share. A command gets the arguments after its own
// name and returns the exit status: 0 done, 1 failed, 2 bad usage. Commands defined in other
// files of the tool (export and import of LDIF) register themselves with CommandRegistration.
#pragma once

#include "nwclient/backend.h"
#include "nwclient/embedded/tree_store.h"

#include <memory>
#include <string>
#include <vector>

namespace tarveltree {

using Args = std::vector<std::string>;
using CommandFn = int (*)(const Args& args);

struct CommandRegistration {
    CommandRegistration(const char* name, const char* usage, CommandFn fn);
};

// Prints "tarvel-tree: " + message to stderr; returns 1.
int fail(const std::string& message);
// Prints the usage of one command (or all) to stderr; returns 2.
int usage(const std::string& command = std::string());

// Opens an existing tree file, printing the reason when it cannot.
std::shared_ptr<nw::embedded::TreeStore> openTree(const std::string& file);
// Resolves an object's full name, printing the reason when it cannot.
bool findObject(nw::embedded::TreeStore& store, const std::string& name, nw::ObjectId& id);

// Values as command-line text, by syntax. Fields of composite values are separated by "|"
// (network address "1|00500A010203", ACL "[Entry Rights]|admin.UNTERRICHT|0x1F", ...); bytes
// are hexadecimal; a stream value starting with "@" is read from that file.
bool parseValue(uint32_t syntax, const std::string& text, nw::AttrValue& value, std::string& error);
std::string formatValue(uint32_t syntax, const nw::AttrValue& value);
// One line per syntax for the usage text.
const char* valueFormats();

// NetWare rights letters (SRWECMFA) to bits; nwapi::RightsMaskToText writes them.
bool parseFileRights(const std::string& letters, uint32_t& rights);

}  // namespace tarveltree
