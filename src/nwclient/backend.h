// Where the tree lives. The client (nwclient.h) turns the NetWare calls into these operations;
// a backend knows nothing of contexts, buffers or iteration handles. Names cross this interface
// as components (RDN values, unescaped) or as full typeless names (absolute, no leading or
// trailing dot, dots inside a component escaped as "\.").
#pragma once

#include "nwclient/nwclient.h"
#include "nwclient/status.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace nw {

// Opaque object handle of a backend. 0 is the tree root. Stable for the life of the backend.
using ObjectId = int64_t;
constexpr ObjectId ROOT_ID = 0;

struct ObjectSummary {
    ObjectId id = ROOT_ID;
    std::string name;          // listing: the object's own name (RDN value); search: full name
    std::string baseClass;     // "User", "Organizational Unit", ...
    uint32_t flags = 0;        // 0x04 container
    uint32_t subordinateCount = 0;
    uint32_t modificationTime = 0;  // seconds since 1970
};

// One attribute value, whatever its syntax. Which fields carry what:
//   1-5,10,20 text; 1 text = full name of the referenced object
//   6   list
//   7,8,22,24,27  number;  19 number = seconds, number2 = replica/event
//   9,0,13,18,>27 bytes
//   11  text = telephone number, bytes = parameters
//   12  number = address type, bytes = address
//   14  number = type, text = address
//   15  number = name space, text = volume, text2 = path
//   16  text = server, number = replica type, number2 = replica number
//   17  text = protected attribute name, text2 = subject (full name), number = privileges
//   21  bytes = stream contents
//   23  number = remote id, text = object name
//   25  text = object name, number = level, number2 = interval
//   26  text = object name, number = amount
struct AttrValue {
    std::string text;
    std::string text2;
    std::vector<std::string> list;
    std::string bytes;
    int64_t number = 0;
    int64_t number2 = 0;
};

struct Attribute {
    std::string name;          // schema name as the directory spells it
    uint32_t syntax = 0;
    std::vector<AttrValue> values;
};

struct Change {
    uint32_t type = 0;         // DS_ADD_ATTRIBUTE 0, DS_REMOVE_VALUE 3, DS_ADDITIONAL_VALUE 4 (and 1, 2)
    std::string attribute;
    uint32_t syntax = 0;
    std::vector<AttrValue> values;
};

// A running listing or search. next() hands out the following page (any size >= 1); an empty
// page with status 0 means the end. A failure (the container went away, the server stopped)
// is a non-zero status; the cursor is then finished.
class ObjectCursor {
public:
    virtual ~ObjectCursor() = default;
    virtual NWDSCCODE next(std::vector<ObjectSummary>& page) = 0;
};

struct VolumeInfo {
    std::string server;
    std::string volume;
    std::string localPath;     // folder the volume is mounted on; empty when not mounted
};

class DirectoryBackend {
public:
    virtual ~DirectoryBackend() = default;

    // Where this directory keeps a membership: NDS and our schema on LDAP keep all four places;
    // Active Directory only the group's member (a user's memberOf is the server's own reckoning).
    // A place not kept is never written, read for a check, or reported missing.
    virtual uint32_t membershipPlaces() const { return PLACES_ALL; }
    // The attribute that holds the name a user logs in with elsewhere (the proxy's login): the
    // object's own name, CN; Active Directory's sAMAccountName.
    virtual std::string loginAttribute() const { return "CN"; }

    // The name of the server of the primary connection (up to 48 characters).
    virtual std::string serverName() = 0;

    // Resolves components given root first (UNTERRICHT, PROJEKTE, Gast01), each compared
    // without regard to case. An empty vector is the root. ERR_NO_SUCH_ENTRY when a component
    // does not exist.
    virtual NWDSCCODE resolve(const std::vector<std::string>& componentsFromRoot, ObjectId& id) = 0;
    // Full name (as the directory spells it) and summary of an object.
    virtual NWDSCCODE describe(ObjectId id, std::string& fullName, ObjectSummary& summary) = 0;

    // Only the full name of an object, for values that refer to it. The default describes it;
    // a server backend that knows the name answers without a request.
    virtual NWDSCCODE fullNameOf(ObjectId id, std::string& fullName);

    // Subordinates of a container, in a stable order, optionally containers only.
    virtual NWDSCCODE list(ObjectId container, bool containersOnly, std::unique_ptr<ObjectCursor>& cursor) = 0;
    // Every object below base (the whole subtree, base excluded) whose attribute equals value
    // (for "Object Class": the object's class or one of its superclasses). Summaries carry full
    // names.
    virtual NWDSCCODE search(ObjectId base, const std::string& attribute, const std::string& value,
                             std::unique_ptr<ObjectCursor>& cursor) = 0;

    // One attribute with all its values, in the directory's order. ERR_NO_SUCH_ATTRIBUTE when
    // the object has no value for it.
    virtual NWDSCCODE readAttribute(ObjectId id, const std::string& attribute, Attribute& out) = 0;
    // Syntax of an attribute from the schema; ERR_NO_SUCH_ATTRIBUTE for an unknown name.
    virtual NWDSCCODE attributeSyntax(const std::string& attribute, uint32_t& syntax) = 0;

    // All changes to one object, applied whole or not at all, with the operator's rights
    // (ERR_NO_ACCESS without them). Adding a value that is there: ERR_DUPLICATE_VALUE; adding an
    // attribute that has values: ERR_ATTRIBUTE_ALREADY_EXISTS; removing a value that is not
    // there: ERR_NO_SUCH_VALUE.
    virtual NWDSCCODE modify(ObjectId id, const std::vector<Change>& changes) = 0;
    // Security Equals on the user and Equivalent To Me on the group, in one transaction.
    virtual NWDSCCODE addSecurityEquivalence(ObjectId user, ObjectId group) = 0;
    virtual NWDSCCODE removeSecurityEquivalence(ObjectId user, ObjectId group) = 0;

    // ---- batch operations of this client (a NetWare client makes one call per object) ----

    // Resolves many names at once, each as resolve() would; ids and statuses get one entry per
    // name. The default resolves one after the other; a server backend sends them together.
    virtual void resolveMany(const std::vector<std::vector<std::string>>& namesFromRoot, std::vector<ObjectId>& ids,
                             std::vector<NWDSCCODE>& statuses);

    // The users' own side of a membership in group, one unit per user: Group Membership and
    // Security Equals get the group (add) or lose it (remove); Equivalent To Me on the group is
    // the group's side and goes with its next change (a backend may queue it until then). A value
    // already there (add) or already gone (remove) counts as done. answer(i, status) is called
    // once for every user that was sent, in the order the answers come. Nothing more is sent after
    // a failed answer or once cancel() says so; users not sent get no answer. Returns 0 when no
    // answer failed (also when cancelled), else the first failure; ERR_TIME_OUT means a request
    // got no answer in time, so whether that user changed is unknown.
    using BatchAnswer = std::function<void(size_t index, NWDSCCODE status)>;
    using BatchCancel = std::function<bool()>;
    virtual NWDSCCODE changeUserSides(ObjectId group, bool add, const std::vector<ObjectId>& users,
                                      const BatchAnswer& answer, const BatchCancel& cancel);
    // The group's Member of many users, for a directory that keeps membership there alone: added
    // (or removed) in as few requests as the backend may send, a value already there (or already
    // gone) counting as done. answer(i, status) once for every user whose request was answered;
    // cancel() is asked before each request. Returns as changeUserSides.
    virtual NWDSCCODE changeMembers(ObjectId group, bool add, const std::vector<ObjectId>& users,
                                    const BatchAnswer& answer, const BatchCancel& cancel);

    // What the last listing or search that ended with TARVEL_LDAP_INCOMPLETE could not hand out
    // (the entry to fix), or empty.
    virtual std::string problemDetail() { return {}; }

    // The values the last readAttribute left out because no name can be given for them (a DN
    // whose name holds NUL, CR or LF: cut or split on its way, it might name someone else),
    // escaped for display (\00, \0D, \0A). Empty when it left out none.
    virtual std::vector<std::string> skippedValues() { return {}; }
    // Removes from the attribute exactly the value that skippedValues() showed as shown, and no
    // value that can be named. ERR_NO_SUCH_VALUE when the attribute holds no such value.
    virtual NWDSCCODE removeSkippedValue(ObjectId, const std::string&, const std::string&) { return ERR_NO_SUCH_VALUE; }

    // An LDAP server's DN of an object, and the object's typeless full name of a DN: the account a
    // web session binds as. Empty where the directory has no DNs or the DN is none of the tree.
    virtual std::string distinguishedNameOf(ObjectId) { return {}; }
    virtual std::string fullNameOfDistinguishedName(const std::string&) { return {}; }

    // Contents of a stream attribute (syntax 21).
    virtual NWDSCCODE readStream(ObjectId id, const std::string& attribute, std::string& contents) = 0;

    // Server clock: year - 1900, month, day, hour, minute, second, weekday. Non-zero when the
    // clock cannot be read.
    virtual NWCCODE serverDateTime(uint8_t dateTime[7]) = 0;
    // Volumes of the tree with the local folders they are mounted on.
    virtual std::vector<VolumeInfo> volumes() = 0;
    // The operator's effective rights on a directory path of a volume (NetWare bits, 0x1FB all).
    virtual NWCCODE effectiveRights(const std::string& volume, const std::string& directoryPath, uint16_t& rights) = 0;
};

// nwclient.conf, as read. Lines "Key=Value"; "#" or ";" start a comment line.
struct ClientConfig {
    std::string file;              // where it was read from
    std::string tree;              // "sqlite:PATH" (relative to the file's folder) or ldap://, ldaps://
    std::string operatorName;      // typeless full name of the operator
    std::string defaultContext;    // starting name context; empty = [root]
    std::map<std::string, std::string> values;  // every key, lower-cased, for backend-specific settings
};

// Opens the backend that config.tree names. On failure returns null and sets status to a
// TARVEL_* code.
std::unique_ptr<DirectoryBackend> openBackend(const ClientConfig& config, NWCCODE& status);

}  // namespace nw
