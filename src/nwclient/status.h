// Status codes of the NetWare client, in one place. 0 is success. NDS errors are negative and
// carry the directory's own numbers; client and connection errors are unsigned 16-bit codes in
// the 0x88xx range. The codes of this client that a real NetWare client does not have
// (configuration and tree file problems, LDAP specifics) sit at 0x8F00 and up; the README lists
// them so an operator can look a box up.
#pragma once

#include <cstdint>

namespace nw {

using NWDSCCODE = int32_t;   // NDS calls
using NWCCODE = uint32_t;    // client and connection calls

constexpr NWDSCCODE SUCCESSFUL = 0;

// ---- NDS client-side errors ----
constexpr NWDSCCODE ERR_NOT_ENOUGH_MEMORY = -301;
constexpr NWDSCCODE ERR_BAD_KEY = -302;
constexpr NWDSCCODE ERR_BAD_CONTEXT = -303;
constexpr NWDSCCODE ERR_BUFFER_FULL = -304;
constexpr NWDSCCODE ERR_LIST_EMPTY = -305;
constexpr NWDSCCODE ERR_BAD_SYNTAX = -306;
constexpr NWDSCCODE ERR_BUFFER_EMPTY = -307;
constexpr NWDSCCODE ERR_BAD_VERB = -308;
constexpr NWDSCCODE ERR_INVALID_OBJECT_NAME = -314;
constexpr NWDSCCODE ERR_TOO_MANY_TOKENS = -316;
constexpr NWDSCCODE ERR_SYSTEM_ERROR = -319;
constexpr NWDSCCODE ERR_INVALID_HANDLE = -322;
constexpr NWDSCCODE ERR_BUFFER_ZERO_LENGTH = -323;
constexpr NWDSCCODE ERR_INVALID_ATTR_SYNTAX = -325;
constexpr NWDSCCODE ERR_INVALID_FILTER_SYNTAX = -326;
constexpr NWDSCCODE ERR_CONTEXT_CREATION = -328;
constexpr NWDSCCODE ERR_INVALID_SERVER_RESPONSE = -330;
constexpr NWDSCCODE ERR_NULL_POINTER = -331;
constexpr NWDSCCODE ERR_NO_CONNECTION = -333;
constexpr NWDSCCODE ERR_RDN_TOO_LONG = -334;
constexpr NWDSCCODE ERR_NOT_LOGGED_IN = -337;
constexpr NWDSCCODE ERR_FAILED_SERVER_AUTHENT = -339;
constexpr NWDSCCODE ERR_TRANSPORT = -340;
constexpr NWDSCCODE ERR_NO_SUCH_SYNTAX = -341;
constexpr NWDSCCODE ERR_INVALID_DS_NAME = -342;
constexpr NWDSCCODE ERR_ATTR_NAME_TOO_LONG = -343;
constexpr NWDSCCODE ERR_SCHEMA_NAME_TOO_LONG = -347;
constexpr NWDSCCODE ERR_DN_TOO_LONG = -353;

// ---- NDS server-side errors ----
constexpr NWDSCCODE ERR_NO_SUCH_ENTRY = -601;
constexpr NWDSCCODE ERR_NO_SUCH_VALUE = -602;
constexpr NWDSCCODE ERR_NO_SUCH_ATTRIBUTE = -603;
constexpr NWDSCCODE ERR_NO_SUCH_CLASS = -604;
constexpr NWDSCCODE ERR_ENTRY_ALREADY_EXISTS = -606;
constexpr NWDSCCODE ERR_ILLEGAL_ATTRIBUTE = -608;
constexpr NWDSCCODE ERR_MISSING_MANDATORY = -609;
constexpr NWDSCCODE ERR_ILLEGAL_DS_NAME = -610;
constexpr NWDSCCODE ERR_CANT_HAVE_MULTIPLE_VALUES = -612;
constexpr NWDSCCODE ERR_SYNTAX_VIOLATION = -613;
constexpr NWDSCCODE ERR_DUPLICATE_VALUE = -614;
constexpr NWDSCCODE ERR_ATTRIBUTE_ALREADY_EXISTS = -615;
constexpr NWDSCCODE ERR_DATABASE_FORMAT = -617;
constexpr NWDSCCODE ERR_INCONSISTENT_DATABASE = -618;
constexpr NWDSCCODE ERR_TRANSPORT_FAILURE = -625;
constexpr NWDSCCODE ERR_SYSTEM_FAILURE = -632;
constexpr NWDSCCODE ERR_REMOTE_FAILURE = -635;
constexpr NWDSCCODE ERR_UNREACHABLE_SERVER = -636;
constexpr NWDSCCODE ERR_INVALID_REQUEST = -641;
constexpr NWDSCCODE ERR_INSUFFICIENT_BUFFER = -649;   // a reply buffer too small for even one entry or value
constexpr NWDSCCODE ERR_PARTITION_BUSY = -654;
constexpr NWDSCCODE ERR_TIME_OUT = -659;   // the directory did not answer in time (store locked, server slow)
constexpr NWDSCCODE ERR_DS_LOCKED = -663;  // the tree file stayed locked by another program past LockTimeout=: nothing changed
constexpr NWDSCCODE ERR_FAILED_AUTHENTICATION = -669;
constexpr NWDSCCODE ERR_NO_ACCESS = -672;
constexpr NWDSCCODE ERR_INVALID_CONN_HANDLE = -676;
constexpr NWDSCCODE ERR_FATAL = -699;

// ---- client and connection errors (unsigned) ----
constexpr NWCCODE INVALID_CONNECTION = 0x8801;          // 34817
constexpr NWCCODE NWE_PARAM_INVALID = 0x8836;           // 34870
constexpr NWCCODE NWE_BUFFER_OVERFLOW = 0x880E;         // 34830
constexpr NWCCODE NWE_SERVER_UNKNOWN = 0x8847;          // 34887
constexpr NWCCODE INVALID_PATH = 0x899C;                // 35228
constexpr NWCCODE NO_SUCH_OBJECT = 0x89FC;              // 35324

// ---- this client's own (0x8F00 and up; listed in the README) ----
constexpr NWCCODE TARVEL_NO_CONFIGURATION = 0x8F01;     // 36609: no nwclient.conf found
constexpr NWCCODE TARVEL_CONFIGURATION_INVALID = 0x8F02;// 36610: nwclient.conf unreadable or without Tree=
constexpr NWCCODE TARVEL_TREE_MISSING = 0x8F03;         // 36611: the tree file named by Tree= does not exist
constexpr NWCCODE TARVEL_TREE_UNREADABLE = 0x8F04;      // 36612: not a tree file, or no read permission
constexpr NWCCODE TARVEL_TREE_LOCKED = 0x8F05;          // 36613: the tree file stayed locked past the busy timeout
constexpr NWCCODE TARVEL_OPERATOR_UNKNOWN = 0x8F06;     // 36614: Operator= names no object of the tree
constexpr NWCCODE TARVEL_TREE_DAMAGED = 0x8F07;         // 36615: the tree file fails its checks (tarvel-tree check)
constexpr NWCCODE TARVEL_LDAP_UNREACHABLE = 0x8F10;     // 36624: LDAP server does not answer
constexpr NWCCODE TARVEL_LDAP_BAD_CREDENTIALS = 0x8F11; // 36625: bind refused
constexpr NWCCODE TARVEL_LDAP_TLS_FAILED = 0x8F12;      // 36626: StartTLS/ldaps failed
constexpr NWCCODE TARVEL_LDAP_NO_PASSWORD = 0x8F13;     // 36627: no password file and none given
// 36628: a listing or search is incomplete: the server's size limit for the operator could not be
// worked around, or an entry's name holds NUL, CR or LF (that entry is left out)
constexpr NWCCODE TARVEL_LDAP_INCOMPLETE = 0x8F14;
constexpr NWCCODE TARVEL_LDAP_LIBRARY_MISSING = 0x8F15; // 36629: libldap cannot be loaded

}  // namespace nw
