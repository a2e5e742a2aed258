// The NetWare client: the operations the directory layer calls, with the arguments, status codes
// and buffer discipline of a NetWare client, over a replaceable backend (backend.h): an embedded
// SQLite tree or an LDAP server. Plain functions, one process-wide client, user-interface thread
// only (no locks).
//
// CONTRACT
//
// Names
//  N1  Names are typeless and dot-separated, leaf first: Gast01.PROJEKTE.UNTERRICHT. A component
//      may hold an escaped dot ("\.") or an escaped backslash ("\\"); such a component names an
//      object whose own name contains the dot.
//  N2  The starting name context of a new context handle is "[root]", or the DefaultContext of
//      nwclient.conf when it names one.
//  N3  "[root]" in any letter case names the tree root. A name that ends in ".[root]" (any case)
//      is absolute; so is a name with a leading dot. Any other name is resolved against the
//      context's name context: Gast01 under PROJEKTE.UNTERRICHT is Gast01.PROJEKTE.UNTERRICHT.
//      The empty name is the name context itself. Each trailing dot of a relative name climbs
//      one level of the name context (SCHUELER. under PROJEKTE.UNTERRICHT is
//      SCHUELER.UNTERRICHT); climbing above the root, trailing dots on an absolute name, empty
//      components, "." alone and "[root]" anywhere but at the end answer ERR_INVALID_DS_NAME.
//  N4  Reading the name context back (NWDSGetContext, key 3) reports the root as "[root]"; a
//      name context that names an existing object is reported as the directory spells it
//      (canonical case, no leading dot); one that names nothing is reported as it was set,
//      without a leading dot.
//  N5  Listing (NWDSList) returns names relative to the listed container (the object's own
//      name); search and reads (NWDSSearch, Member values and every other DN value) return full
//      names: absolute, without leading or trailing dot. DN values are stored as references to
//      objects, so a renamed or deleted member never leaves a dangling text.
//  N6  Limits: a distinguished name holds at most 256 characters and, as UTF-8, at most 513
//      bytes, so it fits a 514-byte name buffer with its NUL; one component at most 128
//      characters. Longer names are refused with ERR_DN_TOO_LONG / ERR_RDN_TOO_LONG, never cut.
//      Output name buffers passed in must hold MAX_DN_BYTES (514) bytes; schema names (classes,
//      attributes) MAX_SCHEMA_NAME_BYTES (66).
//
// Buffers
//  B1  A buffer (Buf_T) holds at most its allocated size, DEFAULT_MESSAGE_LEN = 4096 bytes (at
//      most MAX_MESSAGE_LEN = 64512 for a large request), of payload. Every item is accounted in bytes exactly as laid out below; a reply holds as
//      many entries as fit, the rest come in later replies through the iteration handle; a
//      request whose items do not fit answers ERR_BUFFER_FULL and leaves the buffer as it was.
//  B2  Layout: a 4-byte little-endian count field first (entries, attributes, values, changes);
//      numbers are 4-byte little-endian; a text is a 4-byte length (bytes including the NUL),
//      the UTF-8 bytes, the NUL, then zero padding to the next multiple of 4. A list entry is
//      name text + flags + subordinate count + modification time + base class text + attribute
//      count. A value is its 4-byte syntax-specific length followed by its encoding; in a
//      modify request each value is preceded by its 4-byte syntax number, and a change record
//      is change type + attribute name text + value count. A reply too small for even one entry
//      or value answers ERR_INSUFFICIENT_BUFFER.
//  B3  A buffer is initialised for one operation (DSV_READ, DSV_SEARCH, DSV_MODIFY_ENTRY,
//      DSV_SEARCH_FILTER); using it for another answers ERR_BAD_VERB. Reading past the last
//      item answers ERR_BUFFER_EMPTY.
//
// Iterations
//  I1  An iteration handle starts at -1 (NO_MORE_ITERATIONS). While a call leaves it other than
//      -1, more replies follow; after the last reply it is -1 again. A reply the directory fails
//      ends its iteration and leaves the handle -1; a call refused for a bad argument (buffer,
//      handle) leaves both as they were. Freeing the context frees its iterations; at most 64
//      stay open per context, and opening one more drops the oldest (its handle then answers
//      ERR_INVALID_HANDLE).
//
// Connection
//  C1  The client finds nwclient.conf beside the program, then in $XDG_CONFIG_HOME/tarvel (or
//      ~/.config/tarvel). NWCallsInit, NWInitUnicodeTables and NWCLXInit succeed without it;
//      NWCCGetPrimConnRef opens the tree it names and fails with a TARVEL_* status when there is
//      none or it cannot be opened; then NWCCOpenConnByRef and NWCCGetConnRefInfo fail with
//      INVALID_CONNECTION and every NDS call that needs the tree answers ERR_NO_CONNECTION.
//  C2  Every modify request is applied whole or not at all.
#pragma once

#include "nwclient/status.h"
#include "nwclient/syntax.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace nw {

using NWDSContextHandle = int32_t;
using NWCONN_HANDLE = uint32_t;
using NWDIR_HANDLE = uint8_t;

constexpr int32_t NO_MORE_ITERATIONS = -1;
constexpr size_t DEFAULT_MESSAGE_LEN = 4096;
constexpr size_t MAX_MESSAGE_LEN = 64512;  // the largest buffer a client request may use (63 KB)
constexpr size_t MAX_DN_CHARS = 256;
constexpr size_t MAX_DN_BYTES = 514;
constexpr size_t MAX_RDN_CHARS = 128;
constexpr size_t MAX_SCHEMA_NAME_CHARS = 32;
constexpr size_t MAX_SCHEMA_NAME_BYTES = 66;
constexpr size_t NW_MAX_SERVER_NAME_LEN = 49;

// Context keys and flags.
constexpr int DCK_FLAGS = 1;
constexpr int DCK_CONFIDENCE = 2;
constexpr int DCK_NAME_CONTEXT = 3;
constexpr uint32_t DCV_DEREF_ALIASES = 0x01;
constexpr uint32_t DCV_XLATE_STRINGS = 0x02;
constexpr uint32_t DCV_TYPELESS_NAMES = 0x04;
constexpr uint32_t DCV_CANONICALIZE_NAMES = 0x10;
constexpr uint32_t DCV_DEFAULT_FLAGS = DCV_DEREF_ALIASES | DCV_XLATE_STRINGS;

// Buffer operations.
constexpr uint32_t DSV_READ = 3;
constexpr uint32_t DSV_SEARCH = 6;
constexpr uint32_t DSV_MODIFY_ENTRY = 9;
constexpr uint32_t DSV_SEARCH_FILTER = 28;

// Information types and search scopes.
constexpr uint32_t DS_ATTRIBUTE_NAMES = 0;
constexpr uint32_t DS_ATTRIBUTE_VALUES = 1;
constexpr int DS_SEARCH_ENTRY = 0;
constexpr int DS_SEARCH_SUBORDINATES = 1;
constexpr int DS_SEARCH_SUBTREE = 2;

// Change types.
constexpr uint32_t DS_ADD_ATTRIBUTE = 0;
constexpr uint32_t DS_REMOVE_ATTRIBUTE = 1;
constexpr uint32_t DS_ADD_VALUE = 2;
constexpr uint32_t DS_REMOVE_VALUE = 3;
constexpr uint32_t DS_ADDITIONAL_VALUE = 4;

// Object flags.
constexpr uint32_t DS_ALIAS_ENTRY = 0x01;
constexpr uint32_t DS_PARTITION_ROOT = 0x02;
constexpr uint32_t DS_CONTAINER_ENTRY = 0x04;

// Filter tokens.
constexpr uint32_t FTOK_END = 0;
constexpr uint32_t FTOK_OR = 1;
constexpr uint32_t FTOK_AND = 2;
constexpr uint32_t FTOK_NOT = 3;
constexpr uint32_t FTOK_LPAREN = 4;
constexpr uint32_t FTOK_RPAREN = 5;
constexpr uint32_t FTOK_AVAL = 6;
constexpr uint32_t FTOK_EQ = 7;
constexpr uint32_t FTOK_ANAME = 14;
constexpr uint32_t FTOK_PRESENT = 15;

// Connection info and stream flags.
constexpr uint32_t NWCC_OPEN_LICENSED = 1;
constexpr uint32_t NWCC_INFO_SERVER_NAME = 7;
constexpr uint32_t DS_READ_STREAM = 1;

struct Buf_T;            // opaque: allocate with NWDSAllocBuf
struct Filter_Cursor_T;  // opaque: allocate with NWDSAllocFilter

struct Object_Info_T {
    uint32_t objectFlags;
    uint32_t subordinateCount;
    uint32_t modificationTime;
    char baseClass[MAX_SCHEMA_NAME_BYTES];
};

struct LCONV {
    int country_id;
    int code_page;
};

// ---- library, locale, connection ----
NWCCODE NWCallsInit(void* in, void* out);
NWCCODE NWCLXInit(void* in, void* out);
void NWLlocaleconv(LCONV* lconv);
NWCCODE NWInitUnicodeTables(int countryCode, int codePage);
NWCCODE NWFreeUnicodeTables();
NWCCODE NWCCGetPrimConnRef(uint32_t* connRef);
NWCCODE NWCCOpenConnByRef(uint32_t connRef, uint32_t openState, uint32_t reserved, NWCONN_HANDLE* conn);
NWCCODE NWCCCloseConn(NWCONN_HANDLE conn);
// infoType 7: the server name, NUL-terminated, into buffer of bufferLength bytes (49 suffice).
NWCCODE NWCCGetConnRefInfo(uint32_t connRef, uint32_t infoType, uint32_t bufferLength, void* buffer);

// ---- contexts ----
NWDSCCODE NWDSCreateContextHandle(NWDSContextHandle* context);
NWDSCCODE NWDSDuplicateContextHandle(NWDSContextHandle source, NWDSContextHandle* destination);
NWDSCCODE NWDSFreeContext(NWDSContextHandle context);
// key 1: uint32_t flags; key 2: uint32_t confidence; key 3: char[MAX_DN_BYTES] name context.
NWDSCCODE NWDSGetContext(NWDSContextHandle context, int key, void* value);
NWDSCCODE NWDSSetContext(NWDSContextHandle context, int key, const void* value);

// ---- buffers ----
NWDSCCODE NWDSAllocBuf(size_t size, Buf_T** buffer);
NWDSCCODE NWDSFreeBuf(Buf_T* buffer);
NWDSCCODE NWDSInitBuf(NWDSContextHandle context, uint32_t operation, Buf_T* buffer);

// ---- listing ----
NWDSCCODE NWDSList(NWDSContextHandle context, const char* objectName, int32_t* iterationHandle, Buf_T* subordinates);
NWDSCCODE NWDSListContainers(NWDSContextHandle context, const char* objectName, int32_t* iterationHandle,
                             Buf_T* subordinates);
NWDSCCODE NWDSGetObjectCount(NWDSContextHandle context, Buf_T* buffer, uint32_t* objectCount);
// objectName: MAX_DN_BYTES; attrCount and info may be null.
NWDSCCODE NWDSGetObjectName(NWDSContextHandle context, Buf_T* buffer, char* objectName, uint32_t* attrCount,
                            Object_Info_T* info);
// Ends an iteration early and frees what it holds.
NWDSCCODE NWDSCloseIteration(NWDSContextHandle context, int32_t iterationHandle, uint32_t operation);

// ---- reading ----
NWDSCCODE NWDSPutAttrName(NWDSContextHandle context, Buf_T* buffer, const char* attributeName);
// infoType 0 or 1, named attributes only (allAttrs answers ERR_INVALID_REQUEST). Attributes
// without values are left out; when none has values: ERR_NO_SUCH_ATTRIBUTE.
NWDSCCODE NWDSRead(NWDSContextHandle context, const char* objectName, uint32_t infoType, uint8_t allAttrs,
                   Buf_T* attrNames, int32_t* iterationHandle, Buf_T* objectInfo);
NWDSCCODE NWDSGetAttrCount(NWDSContextHandle context, Buf_T* buffer, uint32_t* attrCount);
// attrName: MAX_SCHEMA_NAME_BYTES.
NWDSCCODE NWDSGetAttrName(NWDSContextHandle context, Buf_T* buffer, char* attrName, uint32_t* attrValCount,
                          uint32_t* syntaxID);
NWDSCCODE NWDSComputeAttrValSize(NWDSContextHandle context, Buf_T* buffer, uint32_t syntaxID, uint32_t* attrValSize);
// Copies the next value into attrVal, which must hold the size just computed (syntax.h).
NWDSCCODE NWDSGetAttrVal(NWDSContextHandle context, Buf_T* buffer, uint32_t syntaxID, void* attrVal);
// Opens a stream attribute (syntax 21) for reading; *fileHandle is an operating-system file
// descriptor positioned at the start, to be closed by the caller.
NWDSCCODE NWDSOpenStream(NWDSContextHandle context, const char* objectName, const char* attrName, uint32_t flags,
                         int* fileHandle);
NWDSCCODE NWDSMapNameToID(NWDSContextHandle context, NWCONN_HANDLE conn, const char* objectName, uint32_t* objectID);
// distinguishedName: MAX_DN_BYTES (the full name); info may be null.
NWDSCCODE NWDSReadObjectInfo(NWDSContextHandle context, const char* objectName, char* distinguishedName,
                             Object_Info_T* info);

// ---- search ----
NWDSCCODE NWDSAllocFilter(Filter_Cursor_T** cursor);
// value: a text for FTOK_ANAME and FTOK_AVAL, null for the others.
NWDSCCODE NWDSAddFilterToken(Filter_Cursor_T* cursor, uint32_t token, const void* value, uint32_t syntax);
// The filter evaluated is ANAME EQ AVAL (END); any other answers ERR_INVALID_FILTER_SYNTAX.
// Uses the cursor up whatever the result: it is freed here (freeValue called for its values).
NWDSCCODE NWDSPutFilter(NWDSContextHandle context, Buf_T* buffer, Filter_Cursor_T* cursor, void (*freeValue)(uint32_t, void*));
NWDSCCODE NWDSFreeFilter(Filter_Cursor_T* cursor, void (*freeValue)(uint32_t, void*));
// Scope DS_SEARCH_SUBTREE only (others: ERR_INVALID_REQUEST). Entries carry full names and no
// attribute data: attrNames holds no names or only empty ones, allAttrs 0.
NWDSCCODE NWDSSearch(NWDSContextHandle context, const char* baseObjectName, int scope, uint8_t searchAliases,
                     Buf_T* filter, uint32_t infoType, uint8_t allAttrs, Buf_T* attrNames, int32_t* iterationHandle,
                     int32_t countObjectsToSearch, int32_t* countObjectsSearched, Buf_T* objectInfo);

// ---- changes ----
NWDSCCODE NWDSPutChange(NWDSContextHandle context, Buf_T* buffer, uint32_t changeType, const char* attributeName);
// For syntax 1 (and the other text syntaxes) attrVal is a const char* text; for the others a
// pointer to the syntax's struct of syntax.h (Octet_String_T for 0, 13, 18 and above 27).
NWDSCCODE NWDSPutAttrVal(NWDSContextHandle context, Buf_T* buffer, uint32_t syntaxID, const void* attrVal);
// DN values (and ACL subjects) are resolved in the context and stored as references; one
// that names nothing fails the whole request with ERR_NO_SUCH_ENTRY.
NWDSCCODE NWDSModifyObject(NWDSContextHandle context, const char* objectName, int32_t* iterationHandle, uint8_t more,
                           Buf_T* changes);
// Security Equals on the user and Equivalent To Me on the group, in one transaction.
// Already equivalent: ERR_DUPLICATE_VALUE; removing an equivalence that is not there: ERR_NO_SUCH_VALUE.
NWDSCCODE NWDSAddSecurityEquiv(NWDSContextHandle context, const char* userName, const char* groupName);
NWDSCCODE NWDSRemSecurityEquiv(NWDSContextHandle context, const char* userName, const char* groupName);

// This client's own batch call, for the membership changes (a NetWare client would call
// NWDSModifyObject and NWDSAdd/RemSecurityEquiv per user): the own side of many users, see
// DirectoryBackend::changeUserSides, pipelined where the backend can. Every name is resolved
// before anything is sent; a name that does not resolve is answered with its status and
// nothing is changed.
NWDSCCODE NWDSChangeUserSidesOfGroup(NWDSContextHandle context, const char* groupName, bool add,
                                     const std::vector<std::string>& userNames,
                                     const std::function<void(size_t, NWDSCCODE)>& answer,
                                     const std::function<bool()>& cancel);
// Likewise the group's Member of many users (DirectoryBackend::changeMembers), for a directory
// that keeps membership there alone.
NWDSCCODE NWDSChangeMembersOfGroup(NWDSContextHandle context, const char* groupName, bool add,
                                   const std::vector<std::string>& userNames,
                                   const std::function<void(size_t, NWDSCCODE)>& answer,
                                   const std::function<bool()>& cancel);

// The places a directory keeps a group membership in (NWDSMembershipPlaces).
enum MembershipPlace : uint32_t {
    PLACE_MEMBER = 0x1,             // the group's Member
    PLACE_EQUIVALENT_TO_ME = 0x2,   // the group's Equivalent To Me
    PLACE_GROUP_MEMBERSHIP = 0x4,   // the user's Group Membership
    PLACE_SECURITY_EQUALS = 0x8,    // the user's Security Equals
    PLACES_ALL = 0xF,
};

// This client's own: the places the connected directory keeps a membership in; all four when
// no directory is connected.
uint32_t NWDSMembershipPlaces();

// This client's own: the attribute holding the login name of a user (CN; on Active Directory
// sAMAccountName). On Active Directory a search by Member also finds the groups that hold the
// value through other groups (the server's nested membership).
std::string NWDSLoginAttribute();

// This client's own: when a listing or search ended with TARVEL_LDAP_INCOMPLETE because of an
// entry it could not hand out (a name with NUL, CR or LF), that entry's DN (escaped) for the
// operator to fix; otherwise empty.
std::string NWDSIncompleteDetail();

// This client's own: the values the last NWDSRead left out because no name can be given for
// them (a DN holding NUL, CR or LF), escaped for display (\00, \0D, \0A); empty when none.
std::vector<std::string> NWDSSkippedValues();
// This client's own: removes from the object's attribute exactly the value NWDSSkippedValues
// showed as shown (never a value that has a name). ERR_NO_SUCH_VALUE when it holds no such value.
NWDSCCODE NWDSRemoveSkippedValue(NWDSContextHandle context, const char* objectName, const char* attrName,
                                 const char* shown);

// ---- server clock, paths and file-system rights ----
// dateTime: 7 bytes: year - 1900, month, day, hour, minute, second, weekday (0 = Sunday).
NWCCODE NWGetFileServerDateAndTime(NWCONN_HANDLE conn, uint8_t* dateTime);
// Outputs of 255 bytes each (server name may be null). A path below a mounted volume yields its
// server, volume and directory; any other local path yields an empty server and conn 0.
NWCCODE NWParsePath(const char* path, char* serverName, NWCONN_HANDLE* conn, char* volName, char* dirPath);
NWCCODE NWGetEffectiveRights(NWCONN_HANDLE conn, NWDIR_HANDLE dirHandle, const char* path, uint16_t* rights);

}  // namespace nw
