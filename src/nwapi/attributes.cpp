// Attribute values as text: the generic attribute reader and the text form of each syntax.
#include "nwapi/nwapi.h"

#include <unistd.h>

#include <cstdio>
#include <ctime>
#include <memory>
#include <new>
#include <vector>

namespace nwapi {
namespace {

constexpr size_t STREAM_READ_LIMIT = 64512;

template <typename... Args>
std::string format(const char* pattern, Args... args) {
    int n = std::snprintf(nullptr, 0, pattern, args...);
    if (n <= 0) return {};
    std::string out(static_cast<size_t>(n) + 1, '\0');
    std::snprintf(out.data(), out.size(), pattern, args...);
    out.resize(static_cast<size_t>(n));
    return out;
}

// Value blocks hold pointers; keep them aligned for any of the structs.
struct ValueBlock {
    explicit ValueBlock(uint32_t size) : storage((size + sizeof(std::max_align_t) - 1) / sizeof(std::max_align_t) + 1) {}
    void* data() { return storage.data(); }
    std::vector<std::max_align_t> storage;
};

const char* orEmpty(const char* s) { return s ? s : ""; }

std::string listText(const nw::CI_List_T* item) {
    std::string out;
    for (bool first = true; item; item = item->next, first = false) {
        if (!first) out += "\r\n";
        out += orEmpty(item->s);
    }
    return out;
}

}  // namespace

std::string BytesToHexText(const uint8_t* bytes, uint32_t count) {
    if (!bytes) return {};
    // The count is taken as a 16-bit word, as the program always has.
    return text::toHexUpper(std::string_view(reinterpret_cast<const char*>(bytes), static_cast<uint16_t>(count)));
}

std::string NameSpaceName(int32_t number) {
    switch (number) {
        case 0: return "DOS";
        case 1: return "Mac";
        case 2: return "NFS";
        case 3: return "FTAM";
        case 4: return "Long";
        default: return "other";
    }
}

std::string DirTimeToText(uint32_t seconds) {
    std::time_t t = static_cast<std::time_t>(seconds);
    std::tm tm{};
    gmtime_r(&t, &tm);  // the directory's seconds are shown as they are, without a time zone
    std::string out = text::formatShortDate(tm);
    if (tm.tm_hour != 0 || tm.tm_min != 0 || tm.tm_sec != 0) {
        out += ' ';
        out += text::formatLongTime(tm);
    }
    return out;
}

std::string IntervalToText(int32_t seconds) {
    int32_t value = seconds;
    std::string out;
    int32_t s = value % 60;
    if (s > 0) out = format("%d sec", s);
    value /= 60;
    int32_t m = value % 60;
    if (m > 0) out = format("%d min, %s", m, out.c_str());
    value /= 60;
    int32_t h = value % 24;
    if (h > 0) out = format("%d h, %s", h, out.c_str());
    value /= 24;
    if (value > 0) out = format("%d days, %s", value, out.c_str());
    return out;
}

std::string NetAddressToText(const nw::Net_Address_T& a) {
    int32_t type = static_cast<int32_t>(a.addressType);
    const uint8_t* b = a.address;
    // A short address is shown as plain bytes rather than read past its end.
    if (type == 0 && b && a.addressLength >= 10)
        return format("(%d) [%s:%s]", type, BytesToHexText(b, 4).c_str(), BytesToHexText(b + 4, 6).c_str());
    if ((type == 1 || type == 8 || type == 9) && b && a.addressLength >= 6) {
        unsigned port = (static_cast<unsigned>(b[0]) << 8) | b[1];
        return format("(%d) [%d.%d.%d.%d:%d]", type, b[2], b[3], b[4], b[5], static_cast<int>(port));
    }
    return format("(%d) [%s]", type, BytesToHexText(b, static_cast<uint16_t>(a.addressLength)).c_str());
}

std::string AttributeValueToText(uint32_t syntax, const void* value, uint32_t size) {
    if (!value) return {};
    const auto* bytes = static_cast<const uint8_t*>(value);
    switch (syntax) {
        case nw::SYN_DIST_NAME:
        case nw::SYN_CE_STRING:
        case nw::SYN_CI_STRING:
        case nw::SYN_PR_STRING:
        case nw::SYN_NU_STRING:
        case nw::SYN_TEL_NUMBER:
        case nw::SYN_CLASS_NAME: {
            const char* s = static_cast<const char*>(value);
            size_t n = 0;
            while (n < size && s[n]) ++n;  // never past the block, even without a NUL
            return std::string(s, n);
        }
        case nw::SYN_CI_LIST:
            return listText(static_cast<const nw::CI_List_T*>(value));
        case nw::SYN_BOOLEAN:
            return bytes[0] ? "TRUE" : "FALSE";
        case nw::SYN_INTEGER:
        case nw::SYN_COUNTER:
            return std::to_string(*static_cast<const int32_t*>(value));
        case nw::SYN_OCTET_STRING: {
            const auto* o = static_cast<const nw::Octet_String_T*>(value);
            return BytesToHexText(o->data, o->length);
        }
        case nw::SYN_FAX_NUMBER:
            return orEmpty(static_cast<const nw::Fax_Number_T*>(value)->telephoneNumber);
        case nw::SYN_NET_ADDRESS:
            return NetAddressToText(*static_cast<const nw::Net_Address_T*>(value));
        case nw::SYN_EMAIL_ADDRESS:
            return orEmpty(static_cast<const nw::EMail_Address_T*>(value)->address);
        case nw::SYN_PATH: {
            const auto* p = static_cast<const nw::Path_T*>(value);
            return format("(%s) %s: %s", NameSpaceName(static_cast<int32_t>(p->nameSpaceType)).c_str(),
                          orEmpty(p->volumeName), orEmpty(p->path));
        }
        case nw::SYN_REPLICA_POINTER: {
            const auto* r = static_cast<const nw::Replica_Pointer_T*>(value);
            return format("%s [Type: %d] [Nr: %d]", orEmpty(r->serverName), r->replicaType, r->replicaNumber);
        }
        case nw::SYN_OBJECT_ACL: {
            const auto* acl = static_cast<const nw::Object_ACL_T*>(value);
            return format("%s [%s: %08X]", orEmpty(acl->subjectName), orEmpty(acl->protectedAttrName),
                          acl->privileges);
        }
        case nw::SYN_TIMESTAMP:
            return DirTimeToText(static_cast<const nw::NWDS_TimeStamp_T*>(value)->wholeSeconds);
        case nw::SYN_TIME:
            return DirTimeToText(*static_cast<const uint32_t*>(value));
        case nw::SYN_STREAM:
            return {};
        case nw::SYN_BACK_LINK:
            return orEmpty(static_cast<const nw::Back_Link_T*>(value)->objectName);
        case nw::SYN_TYPED_NAME:
            return orEmpty(static_cast<const nw::Typed_Name_T*>(value)->objectName);
        case nw::SYN_HOLD: {
            const auto* h = static_cast<const nw::Hold_T*>(value);
            return format("%s (%d)", orEmpty(h->objectName), h->amount);
        }
        case nw::SYN_INTERVAL:
            return IntervalToText(*static_cast<const int32_t*>(value));
        default:  // 0, 13, 18 and every number above 27: the bytes as they are
            return BytesToHexText(bytes, size);
    }
}

int32_t ReadStreamAttribute(nw::NWDSContextHandle context, const std::string& objectName,
                            const std::string& attributeName, std::string& text) {
    text.clear();
    try {
        std::vector<char> buffer(STREAM_READ_LIMIT, '\0');
        int fd = -1;
        nw::NWDSCCODE status = nw::NWDSOpenStream(context, objectName.c_str(), attributeName.c_str(),
                                                  nw::DS_READ_STREAM, &fd);
        if (status != 0) return status;
        // Read until the limit or the end: one read may come back short.
        size_t got = 0;
        while (got < buffer.size()) {
            ssize_t n = ::read(fd, buffer.data() + got, buffer.size() - got);
            if (n <= 0) break;
            got += static_cast<size_t>(n);
        }
        ::close(fd);
        size_t end = 0;
        while (end < got && buffer[end] != '\0') ++end;
        text.assign(buffer.data(), end);
        return 0;
    } catch (...) {
        text.clear();
        return -1;
    }
}

bool GetAttributeMultiValueStringList(nw::NWDSContextHandle context, const std::string& objectName,
                                      const std::string& attributeName, NameList& list) {
    nw::NWDSCCODE status = 0;
    nw::Buf_T* request = nullptr;
    nw::Buf_T* reply = nullptr;

    status = nw::NWDSAllocBuf(nw::DEFAULT_MESSAGE_LEN, &request);
    if (status == 0) status = nw::NWDSInitBuf(context, nw::DSV_READ, request);
    if (status == 0) {
        status = nw::NWDSPutAttrName(context, request, attributeName.c_str());
        if (status == 0) {
            int32_t iteration = nw::NO_MORE_ITERATIONS;
            status = nw::NWDSAllocBuf(nw::DEFAULT_MESSAGE_LEN, &reply);
            if (status == 0) status = nw::NWDSInitBuf(context, nw::DSV_READ, reply);
            if (status == 0) {
                do {
                    status = nw::NWDSRead(context, objectName.c_str(), nw::DS_ATTRIBUTE_VALUES, 0, request,
                                          &iteration, reply);
                    if (status != 0) break;
                    uint32_t attrCount = 0;
                    uint32_t valueCount = 0;
                    uint32_t syntax = 0;
                    char attrName[nw::MAX_SCHEMA_NAME_BYTES] = {};
                    status = nw::NWDSGetAttrCount(context, reply, &attrCount);
                    if (status == 0) status = nw::NWDSGetAttrName(context, reply, attrName, &valueCount, &syntax);
                    if (status != 0) break;
                    for (int32_t i = 0; i < static_cast<int32_t>(valueCount); ++i) {
                        uint32_t size = 0;
                        status = nw::NWDSComputeAttrValSize(context, reply, syntax, &size);
                        ValueBlock block(size);
                        if (status == 0) status = nw::NWDSGetAttrVal(context, reply, syntax, block.data());
                        if (status != 0) continue;  // this value is skipped; the next may still come
                        std::string entry;
                        if (syntax == nw::SYN_STREAM)
                            status = ReadStreamAttribute(context, objectName, attributeName, entry);
                        else
                            entry = AttributeValueToText(syntax, block.data(), size);
                        if (!entry.empty()) list.push_back(std::move(entry));
                    }
                } while (iteration != nw::NO_MORE_ITERATIONS && status == 0);
                // Ending early must not leave the directory context holding the read open.
                if (iteration != nw::NO_MORE_ITERATIONS)
                    nw::NWDSCloseIteration(context, iteration, nw::DSV_READ);
            }
            if (reply) nw::NWDSFreeBuf(reply);
        }
    }
    if (request) nw::NWDSFreeBuf(request);

    LayerState& L = layer();
    L.skippedValues.clear();
    if (status != 0 && status != nw::ERR_NO_SUCH_ATTRIBUTE && status != -nw::ERR_NO_SUCH_ATTRIBUTE) {
        ShowNDSError(status, "GetAttributeMultiValueStringList (" + attributeName + ")");
        return false;
    }
    if (status != 0) L.lastNDSError = status;
    L.skippedValues = nw::NWDSSkippedValues();
    std::string unnamed;
    for (const std::string& value : L.skippedValues)
        if (L.skippedShown.insert(objectName + '\n' + attributeName + '\n' + value).second) unnamed += "\r\n" + value;
    if (!unnamed.empty()) {
        // Named once, and the read goes on with the others: the box must not come at every read.
        const int32_t last = L.lastNDSError;
        ShowNDSError(static_cast<int32_t>(nw::TARVEL_LDAP_INCOMPLETE),
                     "GetAttributeMultiValueStringList (" + attributeName + ")" + unnamed);
        L.lastNDSError = last;
    }
    return true;
}

const NameList& SkippedValues() { return layer().skippedValues; }

bool RemoveSkippedValue(const std::string& objectName, const std::string& attributeName, const std::string& shown) {
    const nw::NWDSCCODE status =
        nw::NWDSRemoveSkippedValue(layer().context, objectName.c_str(), attributeName.c_str(), shown.c_str());
    if (status != 0) ShowNDSError(status, "RemoveSkippedValue (" + attributeName + " of " + objectName + ")\r\n" + shown);
    return status == 0;
}

}  // namespace nwapi
