#include "nwclient/values.h"

#include "nwclient/syntax.h"
#include "nwclient/wire.h"

#include <cstring>

namespace nw::values {

namespace {

enum class Shape { Text, List, Boolean, Int32, Uint32, Octets, Fax, NetAddress, EMail, Path, Replica, Acl,
                   TimeStamp, Stream, BackLink, TypedName, Hold, Raw };

Shape shapeOf(uint32_t syntax) {
    switch (syntax) {
    case SYN_DIST_NAME: case SYN_CE_STRING: case SYN_CI_STRING: case SYN_PR_STRING: case SYN_NU_STRING:
    case SYN_TEL_NUMBER: case SYN_CLASS_NAME:
        return Shape::Text;
    case SYN_CI_LIST: return Shape::List;
    case SYN_BOOLEAN: return Shape::Boolean;
    case SYN_INTEGER: case SYN_COUNTER: case SYN_INTERVAL: return Shape::Int32;
    case SYN_TIME: return Shape::Uint32;
    case SYN_OCTET_STRING: return Shape::Octets;
    case SYN_FAX_NUMBER: return Shape::Fax;
    case SYN_NET_ADDRESS: return Shape::NetAddress;
    case SYN_EMAIL_ADDRESS: return Shape::EMail;
    case SYN_PATH: return Shape::Path;
    case SYN_REPLICA_POINTER: return Shape::Replica;
    case SYN_OBJECT_ACL: return Shape::Acl;
    case SYN_TIMESTAMP: return Shape::TimeStamp;
    case SYN_STREAM: return Shape::Stream;
    case SYN_BACK_LINK: return Shape::BackLink;
    case SYN_TYPED_NAME: return Shape::TypedName;
    case SYN_HOLD: return Shape::Hold;
    default: return Shape::Raw;  // 0, 13, 18 and anything above 27
    }
}

// Lays a value block out at base, or only measures it when base is null. The struct comes
// first (pointer-aligned), texts and bytes follow in the order of the struct's fields.
class Block {
public:
    explicit Block(uint8_t* base) : base_(base) {}
    template <typename T> T* head() {
        used_ = sizeof(T);
        if (!base_) return nullptr;
        std::memset(base_, 0, sizeof(T));
        return reinterpret_cast<T*>(base_);
    }
    template <typename T> T* array(size_t n) {
        used_ = (used_ + alignof(T) - 1) & ~(alignof(T) - 1);
        T* p = base_ ? reinterpret_cast<T*>(base_ + used_) : nullptr;
        if (p) std::memset(static_cast<void*>(p), 0, n * sizeof(T));
        used_ += n * sizeof(T);
        return p;
    }
    char* text(const std::string& s) {
        char* p = base_ ? reinterpret_cast<char*>(base_ + used_) : nullptr;
        if (p) std::memcpy(p, s.c_str(), s.size() + 1);
        used_ += s.size() + 1;
        return p;
    }
    uint8_t* bytes(const std::string& b) {
        uint8_t* p = base_ ? base_ + used_ : nullptr;
        if (p && !b.empty()) std::memcpy(p, b.data(), b.size());
        used_ += b.size();
        return p;
    }
    size_t used() const { return used_; }

private:
    uint8_t* base_;
    size_t used_ = 0;
};

size_t layout(uint32_t syntax, const AttrValue& v, uint8_t* base) {
    Block b(base);
    switch (shapeOf(syntax)) {
    case Shape::Text:
        b.text(v.text);
        break;
    case Shape::List: {
        size_t n = v.list.empty() ? 1 : v.list.size();
        b.head<CI_List_T>();
        CI_List_T* nodes = base ? reinterpret_cast<CI_List_T*>(base) : nullptr;
        b.array<CI_List_T>(n - 1);
        static const std::string empty;
        for (size_t i = 0; i < n; ++i) {
            char* s = b.text(v.list.empty() ? empty : v.list[i]);
            if (nodes) {
                nodes[i].s = s;
                nodes[i].next = i + 1 < n ? &nodes[i + 1] : nullptr;
            }
        }
        break;
    }
    case Shape::Boolean:
        if (uint8_t* p = b.head<uint8_t>()) *p = uint8_t(v.number);
        break;
    case Shape::Int32:
        if (int32_t* p = b.head<int32_t>()) *p = int32_t(v.number);
        break;
    case Shape::Uint32:
    case Shape::Stream:
        if (uint32_t* p = b.head<uint32_t>()) *p = uint32_t(v.number);
        break;
    case Shape::Octets: {
        auto* p = b.head<Octet_String_T>();
        uint8_t* data = b.bytes(v.bytes);
        if (p) *p = {uint32_t(v.bytes.size()), data};
        break;
    }
    case Shape::Fax: {
        auto* p = b.head<Fax_Number_T>();
        char* tel = b.text(v.text);
        uint8_t* params = b.bytes(v.bytes);
        if (p) *p = {tel, {uint32_t(v.bytes.size() * 8), params}};
        break;
    }
    case Shape::NetAddress: {
        auto* p = b.head<Net_Address_T>();
        uint8_t* data = b.bytes(v.bytes);
        if (p) *p = {uint32_t(v.number), uint32_t(v.bytes.size()), data};
        break;
    }
    case Shape::EMail: {
        auto* p = b.head<EMail_Address_T>();
        char* address = b.text(v.text);
        if (p) *p = {uint32_t(v.number), address};
        break;
    }
    case Shape::Path: {
        auto* p = b.head<Path_T>();
        char* volume = b.text(v.text);
        char* path = b.text(v.text2);
        if (p) *p = {uint32_t(v.number), volume, path};
        break;
    }
    case Shape::Replica: {
        auto* p = b.head<Replica_Pointer_T>();
        char* server = b.text(v.text);
        if (p) *p = {server, int32_t(v.number), int32_t(v.number2), 0};
        break;
    }
    case Shape::Acl: {
        auto* p = b.head<Object_ACL_T>();
        char* attr = b.text(v.text);
        char* subject = b.text(v.text2);
        if (p) *p = {attr, subject, uint32_t(v.number)};
        break;
    }
    case Shape::TimeStamp:
        // number2 carries the replica number in its low and the event id in its high 16 bits.
        if (auto* p = b.head<NWDS_TimeStamp_T>())
            *p = {uint32_t(v.number), uint16_t(v.number2 & 0xFFFF), uint16_t((v.number2 >> 16) & 0xFFFF)};
        break;
    case Shape::BackLink: {
        auto* p = b.head<Back_Link_T>();
        char* name = b.text(v.text);
        if (p) *p = {uint32_t(v.number), name};
        break;
    }
    case Shape::TypedName: {
        auto* p = b.head<Typed_Name_T>();
        char* name = b.text(v.text);
        if (p) *p = {name, uint32_t(v.number), uint32_t(v.number2)};
        break;
    }
    case Shape::Hold: {
        auto* p = b.head<Hold_T>();
        char* name = b.text(v.text);
        if (p) *p = {name, int32_t(v.number)};
        break;
    }
    case Shape::Raw:
        b.bytes(v.bytes);
        break;
    }
    return b.used();
}

std::string bytesOf(const uint8_t* data, size_t n) {
    return data && n ? std::string(reinterpret_cast<const char*>(data), n) : std::string();
}

std::string textOf(const char* s) { return s ? std::string(s) : std::string(); }

}  // namespace

bool isTextSyntax(uint32_t syntax) { return shapeOf(syntax) == Shape::Text; }

bool isNameSyntax(uint32_t syntax) {
    return syntax == SYN_DIST_NAME || syntax == SYN_BACK_LINK || syntax == SYN_TYPED_NAME || syntax == SYN_HOLD;
}

std::vector<uint8_t> encode(uint32_t syntax, const AttrValue& v) {
    std::vector<uint8_t> out;
    wire::Writer w(out);
    switch (shapeOf(syntax)) {
    case Shape::Text:
        out.assign(v.text.begin(), v.text.end());
        out.push_back(0);
        break;
    case Shape::List:
        w.u32(uint32_t(v.list.size()));
        for (const std::string& s : v.list) w.text(s);
        break;
    case Shape::Boolean:
        out.push_back(uint8_t(v.number));
        break;
    case Shape::Int32: case Shape::Uint32:
        w.u32(uint32_t(v.number));
        break;
    case Shape::Stream:
        // A reply carries only the stream's size; its contents come through NWDSOpenStream.
        w.u32(uint32_t(v.bytes.empty() ? v.number : int64_t(v.bytes.size())));
        break;
    case Shape::Octets: case Shape::Raw:
        out.assign(v.bytes.begin(), v.bytes.end());
        break;
    case Shape::Fax:
        w.text(v.text);
        w.u32(uint32_t(v.bytes.size()));
        w.bytes(v.bytes);
        break;
    case Shape::NetAddress:
        w.u32(uint32_t(v.number));
        w.u32(uint32_t(v.bytes.size()));
        w.bytes(v.bytes);
        break;
    case Shape::EMail: case Shape::BackLink:
        w.u32(uint32_t(v.number));
        w.text(v.text);
        break;
    case Shape::Path:
        w.u32(uint32_t(v.number));
        w.text(v.text);
        w.text(v.text2);
        break;
    case Shape::Replica: case Shape::TypedName:
        w.text(v.text);
        w.u32(uint32_t(v.number));
        w.u32(uint32_t(v.number2));
        break;
    case Shape::Acl:
        w.text(v.text);
        w.text(v.text2);
        w.u32(uint32_t(v.number));
        break;
    case Shape::TimeStamp:
        w.u32(uint32_t(v.number));
        w.u32(uint32_t(v.number2));
        break;
    case Shape::Hold:
        w.text(v.text);
        w.u32(uint32_t(v.number));
        break;
    }
    return out;
}

bool decode(uint32_t syntax, const uint8_t* data, size_t size, AttrValue& v) {
    v = AttrValue{};
    wire::Reader r(data, size);
    uint32_t n = 0, m = 0;
    switch (shapeOf(syntax)) {
    case Shape::Text:
        if (size == 0 || data[size - 1] != 0) return false;
        v.text.assign(reinterpret_cast<const char*>(data), size - 1);
        return true;
    case Shape::List:
        if (!r.u32(n) || n > size / 4) return false;
        v.list.resize(n);
        for (std::string& s : v.list)
            if (!r.text(s)) return false;
        return true;
    case Shape::Boolean:
        if (size != 1) return false;
        v.number = data[0];
        return true;
    case Shape::Int32:
        if (!r.u32(n)) return false;
        v.number = int32_t(n);
        return true;
    case Shape::Uint32: case Shape::Stream:
        if (!r.u32(n)) return false;
        v.number = n;
        return true;
    case Shape::Octets: case Shape::Raw:
        v.bytes = bytesOf(data, size);
        return true;
    case Shape::Fax:
        return r.text(v.text) && r.u32(n) && r.bytes(n, v.bytes);
    case Shape::NetAddress:
        if (!r.u32(m) || !r.u32(n) || !r.bytes(n, v.bytes)) return false;
        v.number = m;
        return true;
    case Shape::EMail: case Shape::BackLink:
        if (!r.u32(n) || !r.text(v.text)) return false;
        v.number = n;
        return true;
    case Shape::Path:
        if (!r.u32(n) || !r.text(v.text) || !r.text(v.text2)) return false;
        v.number = n;
        return true;
    case Shape::Replica:
        if (!r.text(v.text) || !r.u32(n) || !r.u32(m)) return false;
        v.number = int32_t(n);
        v.number2 = int32_t(m);
        return true;
    case Shape::TypedName:
        if (!r.text(v.text) || !r.u32(n) || !r.u32(m)) return false;
        v.number = n;
        v.number2 = m;
        return true;
    case Shape::Acl:
        if (!r.text(v.text) || !r.text(v.text2) || !r.u32(n)) return false;
        v.number = n;
        return true;
    case Shape::TimeStamp:
        if (!r.u32(n) || !r.u32(m)) return false;
        v.number = n;
        v.number2 = m;
        return true;
    case Shape::Hold:
        if (!r.text(v.text) || !r.u32(n)) return false;
        v.number = int32_t(n);
        return true;
    }
    return false;
}

size_t blockSize(uint32_t syntax, const AttrValue& value) { return layout(syntax, value, nullptr); }

void writeBlock(uint32_t syntax, const AttrValue& value, void* block) {
    layout(syntax, value, static_cast<uint8_t*>(block));
}

NWDSCCODE fromCaller(uint32_t syntax, const void* attrVal, AttrValue& v) {
    v = AttrValue{};
    if (!attrVal) return ERR_NULL_POINTER;
    switch (shapeOf(syntax)) {
    case Shape::Text:
        v.text = static_cast<const char*>(attrVal);
        return SUCCESSFUL;
    case Shape::List:
        for (auto* item = static_cast<const CI_List_T*>(attrVal); item; item = item->next)
            v.list.push_back(textOf(item->s));
        return SUCCESSFUL;
    case Shape::Boolean:
        v.number = *static_cast<const uint8_t*>(attrVal);
        return SUCCESSFUL;
    case Shape::Int32:
        v.number = *static_cast<const int32_t*>(attrVal);
        return SUCCESSFUL;
    case Shape::Uint32:
        v.number = *static_cast<const uint32_t*>(attrVal);
        return SUCCESSFUL;
    case Shape::Octets: case Shape::Raw: {
        auto* p = static_cast<const Octet_String_T*>(attrVal);
        v.bytes = bytesOf(p->data, p->length);
        return SUCCESSFUL;
    }
    case Shape::Fax: {
        auto* p = static_cast<const Fax_Number_T*>(attrVal);
        v.text = textOf(p->telephoneNumber);
        v.bytes = bytesOf(p->parameters.data, (p->parameters.numOfBits + 7) / 8);
        return SUCCESSFUL;
    }
    case Shape::NetAddress: {
        auto* p = static_cast<const Net_Address_T*>(attrVal);
        v.number = p->addressType;
        v.bytes = bytesOf(p->address, p->addressLength);
        return SUCCESSFUL;
    }
    case Shape::EMail: {
        auto* p = static_cast<const EMail_Address_T*>(attrVal);
        v.number = p->type;
        v.text = textOf(p->address);
        return SUCCESSFUL;
    }
    case Shape::Path: {
        auto* p = static_cast<const Path_T*>(attrVal);
        v.number = p->nameSpaceType;
        v.text = textOf(p->volumeName);
        v.text2 = textOf(p->path);
        return SUCCESSFUL;
    }
    case Shape::Replica: {
        auto* p = static_cast<const Replica_Pointer_T*>(attrVal);
        v.text = textOf(p->serverName);
        v.number = p->replicaType;
        v.number2 = p->replicaNumber;
        return SUCCESSFUL;
    }
    case Shape::Acl: {
        auto* p = static_cast<const Object_ACL_T*>(attrVal);
        v.text = textOf(p->protectedAttrName);
        v.text2 = textOf(p->subjectName);
        v.number = p->privileges;
        return SUCCESSFUL;
    }
    case Shape::TimeStamp: {
        auto* p = static_cast<const NWDS_TimeStamp_T*>(attrVal);
        v.number = p->wholeSeconds;
        v.number2 = int64_t(p->replicaNum) | int64_t(p->eventID) << 16;
        return SUCCESSFUL;
    }
    case Shape::Stream:
        return ERR_INVALID_ATTR_SYNTAX;  // streams are not written through a modify request
    case Shape::BackLink: {
        auto* p = static_cast<const Back_Link_T*>(attrVal);
        v.number = p->remoteID;
        v.text = textOf(p->objectName);
        return SUCCESSFUL;
    }
    case Shape::TypedName: {
        auto* p = static_cast<const Typed_Name_T*>(attrVal);
        v.text = textOf(p->objectName);
        v.number = p->level;
        v.number2 = p->interval;
        return SUCCESSFUL;
    }
    case Shape::Hold: {
        auto* p = static_cast<const Hold_T*>(attrVal);
        v.text = textOf(p->objectName);
        v.number = p->amount;
        return SUCCESSFUL;
    }
    }
    return ERR_INVALID_ATTR_SYNTAX;
}

}  // namespace nw::values
