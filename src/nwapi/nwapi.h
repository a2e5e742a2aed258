// The directory access layer: free functions over the NetWare client (nwclient.h) that report
// every failed client call themselves, through the "NW-Fehler" and "NDS-Fehler" boxes. One
// process-wide state (LayerState); user-interface thread only.
#pragma once

#include "nwclient/nwclient.h"
#include "platform/text.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace nwapi {

using text::NameList;

// ---- connection and error reporting ----
struct LayerState {
    bool initialised = false;
    nw::NWDSContextHandle context = -1;   // the directory context
    nw::LCONV locale{};
    uint32_t primaryConnRef = 0;
    nw::NWCONN_HANDLE connection = 0;
    char serverName[50] = {};
    nw::Buf_T* modifyBuffer = nullptr;    // shared by the membership changes
    std::string currentContext;
    int32_t lastNDSError = 0;
    bool suppressionArmed = false;
    int32_t expectedCode = 0;
    uint32_t connectionFailure = 0;       // status of the first failed connection step; 0: it opened
    NameList skippedValues;               // of the last attribute read (SkippedValues)
    std::set<std::string> skippedShown;   // object, attribute and value already named in a box
};
LayerState& layer();
// Back to the initial values without calling the client (tests).
void resetLayerForTesting();

void InitNWConnection(bool& ok);
void DoneNWConnection();
void ShowNWError(uint32_t code, const std::string& operation);
void ShowNDSError(int32_t code, const std::string& operation);
void ExpectNDSError(int32_t code);
int32_t GetLastNDSError();
void ModifyContextFlags(nw::NWDSContextHandle context, char operation, uint32_t mask);

// ---- attribute values as text ----
bool GetAttributeMultiValueStringList(nw::NWDSContextHandle context, const std::string& objectName,
                                      const std::string& attributeName, NameList& list);
// The values the last GetAttributeMultiValueStringList left out because no name can be given
// for them (a DN holding NUL, CR or LF), escaped for display (\00, \0A). The reader names each
// once per connection in an "NDS-Fehler" box (36628) and reads on: one such value must not block
// the group for everyone.
const NameList& SkippedValues();
// Removes exactly such a value from the object's attribute; a failure is reported.
bool RemoveSkippedValue(const std::string& objectName, const std::string& attributeName, const std::string& shown);
int32_t ReadStreamAttribute(nw::NWDSContextHandle context, const std::string& objectName,
                            const std::string& attributeName, std::string& text);
std::string BytesToHexText(const uint8_t* bytes, uint32_t count);
std::string NameSpaceName(int32_t number);
std::string DirTimeToText(uint32_t seconds);
// The text of one value block (syntax.h) as the attribute reader appends it; empty = no entry.
// size is what NWDSComputeAttrValSize reported. Stream values (21) are read by
// ReadStreamAttribute instead and give the empty text here.
std::string AttributeValueToText(uint32_t syntax, const void* value, uint32_t size);
std::string NetAddressToText(const nw::Net_Address_T& address);
// "1 days, 2 h, 3 min, 4 sec"; zero units left out; empty for 0 and negative values.
std::string IntervalToText(int32_t seconds);

// ---- context navigation, listing and names ----
// The iterator record of one listing.
struct TNDSObj {
    int32_t iterationHandle = 0;
    std::string entryName;
    std::string containerName;            // with leading dot
    uint32_t attrCount = 0;
    int32_t entriesInBatch = 0;
    int32_t entriesRead = 0;
    nw::Object_Info_T info{};
    nw::NWDSContextHandle context = 0;
    bool containersOnly = false;
    nw::Buf_T* replyBuffer = nullptr;
};

void SetzeContext(const std::string& name);
void WechseleContextMitTest(const std::string& name, bool& ok);
std::string HoleAktContext();
std::string UebergeordneterContext(const std::string& name);
std::string NameMitContext(const std::string& context, const std::string& leaf);
// mode 0 all, 1 containers only, 2 leaves only. Appends; never clears.
void ListeUnterobjekte(const std::string& container, NameList& list, int mode);
// Appends the full names of every object of the class below base. False when a search call
// failed (already reported); what was found so far stays in the list.
bool SearchObjects(const std::string& base, NameList& list, const std::string& className);
void GetGroupMembers(const std::string& group, NameList& list, int32_t& error);
bool ObjektExistiert(const std::string& name);
std::string GetBaseClass(const std::string& name);

// ---- group membership ----
// Both drop from users what needs no change (repeated names, existing members / non-members,
// compared locale-aware ignoring case), change each remaining user on its own side (Group
// Membership and security equivalence, in one batch of the client; a value already there or
// already gone counts as done), then the group's Member for every user whose own side was done
// (also after a failure or a cancel), in requests of at most 1,000 values and as many as the
// names need; a group changed by someone else meanwhile is met by sending what is still missing
// (or still there) again. True when nothing was to change or everything was changed; false after
// a reported failure (only the first is shown) or a cancel. A rerun completes what a failed run
// left half done. An empty user or group
// name (it would stand for the name context's own object) and a name longer than a 514-byte name
// buffer holds are refused with a reported error before anything is changed.
bool AddMultipleUsersToGroup(NameList& users, const std::string& group);
bool DeleteMultipleUsersFromGroup(NameList& users, const std::string& group);

// Optional progress and cancel of a membership change. progress(done, total) is called once the
// users to change are known (done 0) and after every user's own side was answered; cancel() is
// asked between users and stops the change there.
struct MembershipProgress {
    std::function<void(size_t done, size_t total)> progress;
    std::function<bool()> cancel;
};
// What a membership change did. After a failed answer or a cancel the users whose own side was
// changed still get the group's side, so only a failure of the group's side (or a time-out)
// leaves users half done. A time-out (ERR_TIME_OUT) is unknown, not failed: nothing is undone
// and nothing more is sent; running the change again completes it.
struct MembershipOutcome {
    size_t toChange = 0;             // users left after the pre-check (the progress total)
    size_t changed = 0;              // changed on both sides
    size_t halfDone = 0;             // own side changed or unknown, group side not
    int32_t firstFailure = 0;        // first reported failure; 0 when none
    std::string failedOperation;     // its operation text as the box showed it
    bool groupRead = true;
    bool timedOut = false;
    bool cancelled = false;
    // A go's users who are in the group only through another group (user, that group): left
    // unchanged, as the other group is not the group asked for. The change is then not done.
    std::vector<std::pair<std::string, std::string>> throughGroups;
};
bool AddMultipleUsersToGroup(NameList& users, const std::string& group, const MembershipProgress& progress,
                             MembershipOutcome* outcome = nullptr);
bool DeleteMultipleUsersFromGroup(NameList& users, const std::string& group, const MembershipProgress& progress,
                                  MembershipOutcome* outcome = nullptr);

// ---- nested groups (Active Directory) ----
// A directory that nests groups (AD) stops whoever is in the deny group through another group
// as well. With ClassGroups=yes in nwclient.conf (AD only) the group's class groups (its name,
// "_", a container's name, beside it in its container, nested in it) hold its users: a stop
// writes a user into the class group of the user's container, a go takes the user out of the
// class group that holds him, and their users count as the group's own members.
struct GroupMember {
    std::string name;         // full typeless name
    std::string via;          // the group that holds it, when not the group itself
    bool classGroup = false;  // name (a group) or via is one of the group's class groups
    bool isGroup = false;     // a group; its users follow with via
    // The group's own member as the deny job sees it: no class group itself, directly or
    // through a class group.
    bool own() const { return !(isGroup && classGroup) && (via.empty() || classGroup); }
};
// The group's Member values, then the users of the groups among them (and of groups in those),
// each once. On a directory that does not nest groups, the Member values alone. False when a
// read failed (reported).
bool ReadGroupMembers(const std::string& group, std::vector<GroupMember>& members);
// ClassGroups=yes on a directory that nests groups.
bool ClassGroupsEnabled();
// The class group of group for a user: group's name + "_" + the name of the user's container,
// beside group. Empty for a user without a container.
std::string ClassGroupOf(const std::string& group, const std::string& user);

// ---- file-system rights and server time ----
struct ServerClock {
    int32_t year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, weekday = 0;
};
constexpr uint16_t RIGHTS_UNPARSABLE = 0xFFFF;   // -1
constexpr uint16_t RIGHTS_NOT_NETWARE = 0xFFFE;  // -2
constexpr uint16_t RIGHTS_UNREADABLE = 0xFFFD;   // -3
void ReadServerClock(ServerClock& record);
// Days since 1899-12-30 with the time as fraction of a day; 0 when the clock was not read.
void GetServerDateTime(double& value);
uint16_t GetEffectiveRightsMask(const std::string& path);
std::string RightsMaskToText(uint16_t mask);
std::string GetRightsText(const std::string& path);
bool ContainsAllLetters(const std::string& required, const std::string& available);

}  // namespace nwapi
