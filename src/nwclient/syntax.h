// Syntax numbers and the value structures that NWDSGetAttrVal copies out, one plain struct per
// syntax. A value is copied into one block of the size NWDSComputeAttrValSize reports: the
// struct first, the texts and bytes it points to behind it in the same block, so freeing the
// block frees everything. Texts are NUL-terminated UTF-8.
//
//   syntax                                   value block starts with
//   1-5, 10, 20 (names and strings)          the text itself (char[])
//   6  case-ignore list                      CI_List_T (next, text)
//   7  boolean                               uint8_t
//   8, 22 integer, counter                   int32_t
//   9  octet string                          Octet_String_T
//   11 facsimile number                      Fax_Number_T
//   12 network address                       Net_Address_T
//   14 e-mail address                        EMail_Address_T
//   15 path                                  Path_T
//   16 replica pointer                       Replica_Pointer_T
//   17 object ACL                            Object_ACL_T
//   19 timestamp                             NWDS_TimeStamp_T
//   21 stream                                nothing useful (read with NWDSOpenStream)
//   23 back link                             Back_Link_T
//   24 time                                  uint32_t seconds since 1970-01-01
//   25 typed name                            Typed_Name_T
//   26 hold                                  Hold_T
//   27 interval                              int32_t seconds
//   0, 13, 18, >27                           raw bytes
#pragma once

#include <cstdint>

namespace nw {

enum Syntax : uint32_t {
    SYN_UNKNOWN = 0,
    SYN_DIST_NAME = 1,
    SYN_CE_STRING = 2,
    SYN_CI_STRING = 3,
    SYN_PR_STRING = 4,
    SYN_NU_STRING = 5,
    SYN_CI_LIST = 6,
    SYN_BOOLEAN = 7,
    SYN_INTEGER = 8,
    SYN_OCTET_STRING = 9,
    SYN_TEL_NUMBER = 10,
    SYN_FAX_NUMBER = 11,
    SYN_NET_ADDRESS = 12,
    SYN_OCTET_LIST = 13,
    SYN_EMAIL_ADDRESS = 14,
    SYN_PATH = 15,
    SYN_REPLICA_POINTER = 16,
    SYN_OBJECT_ACL = 17,
    SYN_PO_ADDRESS = 18,
    SYN_TIMESTAMP = 19,
    SYN_CLASS_NAME = 20,
    SYN_STREAM = 21,
    SYN_COUNTER = 22,
    SYN_BACK_LINK = 23,
    SYN_TIME = 24,
    SYN_TYPED_NAME = 25,
    SYN_HOLD = 26,
    SYN_INTERVAL = 27,
};

struct CI_List_T {
    CI_List_T* next;
    char* s;
};

struct Octet_String_T {
    uint32_t length;
    uint8_t* data;
};

struct Bit_String_T {
    uint32_t numOfBits;
    uint8_t* data;
};

struct Fax_Number_T {
    char* telephoneNumber;
    Bit_String_T parameters;
};

struct Net_Address_T {
    uint32_t addressType;   // 0 IPX, 1 IP, 8 UDP, 9 TCP, others as stored
    uint32_t addressLength;
    uint8_t* address;
};

struct EMail_Address_T {
    uint32_t type;
    char* address;
};

struct Path_T {
    uint32_t nameSpaceType;  // 0 DOS, 1 Mac, 2 NFS, 3 FTAM, 4 Long
    char* volumeName;
    char* path;
};

struct Replica_Pointer_T {
    char* serverName;
    int32_t replicaType;
    int32_t replicaNumber;
    uint32_t count;          // address hints that follow (not filled by this client)
};

struct Object_ACL_T {
    char* protectedAttrName;
    char* subjectName;
    uint32_t privileges;
};

struct NWDS_TimeStamp_T {
    uint32_t wholeSeconds;
    uint16_t replicaNum;
    uint16_t eventID;
};

struct Back_Link_T {
    uint32_t remoteID;
    char* objectName;
};

struct Typed_Name_T {
    char* objectName;
    uint32_t level;
    uint32_t interval;
};

struct Hold_T {
    char* objectName;
    int32_t amount;
};

// Rights bits of ACL privileges ([Entry Rights] and attribute rights).
constexpr uint32_t DS_ENTRY_BROWSE = 0x01;
constexpr uint32_t DS_ENTRY_ADD = 0x02;
constexpr uint32_t DS_ENTRY_DELETE = 0x04;
constexpr uint32_t DS_ENTRY_RENAME = 0x08;
constexpr uint32_t DS_ENTRY_SUPERVISOR = 0x10;
constexpr uint32_t DS_ATTR_COMPARE = 0x01;
constexpr uint32_t DS_ATTR_READ = 0x02;
constexpr uint32_t DS_ATTR_WRITE = 0x04;
constexpr uint32_t DS_ATTR_SELF = 0x08;
constexpr uint32_t DS_ATTR_SUPERVISOR = 0x20;

}  // namespace nw
