// Moving around the tree: the name context, names built from contexts, listing a container,
// searching a subtree, reading group members, existence and base class of a name.
#include "nwapi/nwapi.h"

#include "platform/ports.h"

#include <cstring>
#include <vector>

namespace nwapi {
namespace {

constexpr uint32_t DSV_LIST = 5;  // the list verb, for closing a listing's iteration

std::string dotted(const std::string& name) { return (!name.empty() && name[0] == '.') ? name : "." + name; }

// A dot preceded by an odd number of backslashes belongs to a component's own name.
bool escapedAt(const std::string& name, size_t pos) {
    size_t backslashes = 0;
    while (pos > backslashes && name[pos - 1 - backslashes] == '\\') ++backslashes;
    return backslashes % 2 == 1;
}

size_t firstSeparator(const std::string& name, size_t from = 0) {
    for (size_t pos = name.find('.', from); pos != std::string::npos; pos = name.find('.', pos + 1))
        if (!escapedAt(name, pos)) return pos;
    return std::string::npos;
}

bool endsInSeparator(const std::string& name) {
    return !name.empty() && name.back() == '.' && !escapedAt(name, name.size() - 1);
}

struct ContextCopy {
    nw::NWDSContextHandle handle = -1;
    bool valid = false;
    ContextCopy() { valid = nw::NWDSDuplicateContextHandle(layer().context, &handle) == 0; }
    ~ContextCopy() {
        if (valid) nw::NWDSFreeContext(handle);  // frees its iterations too
    }
    ContextCopy(const ContextCopy&) = delete;
    ContextCopy& operator=(const ContextCopy&) = delete;
};

struct Buffer {
    nw::Buf_T* handle = nullptr;
    nw::NWDSCCODE status = 0;
    Buffer() { status = nw::NWDSAllocBuf(nw::DEFAULT_MESSAGE_LEN, &handle); }
    ~Buffer() {
        if (handle) nw::NWDSFreeBuf(handle);
    }
    Buffer(const Buffer&) = delete;
    Buffer& operator=(const Buffer&) = delete;
};

nw::NWDSCCODE readNameContext(nw::NWDSContextHandle context, std::string& name) {
    char buffer[nw::MAX_DN_BYTES] = {};
    nw::NWDSCCODE status = nw::NWDSGetContext(context, nw::DCK_NAME_CONTEXT, buffer);
    if (status == 0) name.assign(buffer, strnlen(buffer, sizeof buffer));
    return status;
}

// Skips the attribute data that follows an object in a search reply.
void skipAttributes(nw::NWDSContextHandle context, nw::Buf_T* reply, uint32_t attrCount) {
    for (uint32_t a = 0; a < attrCount; ++a) {
        char attrName[nw::MAX_SCHEMA_NAME_BYTES] = {};
        uint32_t valueCount = 0, syntax = 0;
        if (nw::NWDSGetAttrName(context, reply, attrName, &valueCount, &syntax) != 0) return;
        for (uint32_t v = 0; v < valueCount; ++v) {
            uint32_t size = 0;
            if (nw::NWDSComputeAttrValSize(context, reply, syntax, &size) != 0) return;
            std::vector<std::max_align_t> block(size / sizeof(std::max_align_t) + 2);
            if (nw::NWDSGetAttrVal(context, reply, syntax, block.data()) != 0) return;
        }
    }
}

// The entry the operator has to fix, when the client names one.
std::string withDetail(const std::string& operation, nw::NWDSCCODE status) {
    if (status != static_cast<nw::NWDSCCODE>(nw::TARVEL_LDAP_INCOMPLETE)) return operation;
    std::string detail = nw::NWDSIncompleteDetail();
    if (detail.empty()) return operation;
    return operation + "\r\n" + detail;
}

}  // namespace

void SetzeContext(const std::string& name) {
    LayerState& L = layer();
    nw::NWDSCCODE status = nw::NWDSSetContext(L.context, nw::DCK_NAME_CONTEXT, name.c_str());
    if (status != 0) {
        ShowNDSError(status, "NWDSSetContext");
        return;
    }
    L.currentContext = name;
}

void WechseleContextMitTest(const std::string& name, bool& ok) {
    ok = false;
    LayerState& L = layer();
    // Where the name context stands now, to go back there when the test fails.
    std::string previous;
    bool havePrevious = readNameContext(L.context, previous) == 0;

    nw::NWDSCCODE status = nw::NWDSSetContext(L.context, nw::DCK_NAME_CONTEXT, name.c_str());
    if (status != 0) {
        ShowNDSError(status, "NWDSSetContext");
        return;
    }
    std::string reported = name;
    std::string spelled;
    if (readNameContext(L.context, spelled) == 0) reported = spelled;

    {
        Buffer reply;
        status = reply.status;
        int32_t iteration = nw::NO_MORE_ITERATIONS;
        if (status == 0) status = nw::NWDSList(L.context, "", &iteration, reply.handle);
        if (status == 0 && iteration != nw::NO_MORE_ITERATIONS)
            nw::NWDSCloseIteration(L.context, iteration, DSV_LIST);
    }
    if (status != 0) {
        ShowNDSError(status, "NWDSList (WechseleContextMitTest)");
        // Later relative names must resolve where the rows still are.
        if (!havePrevious) previous = L.currentContext.empty() ? "[root]" : L.currentContext;
        nw::NWDSCCODE back = nw::NWDSSetContext(L.context, nw::DCK_NAME_CONTEXT, previous.c_str());
        if (back != 0) ShowNDSError(back, "NWDSSetContext");
        return;
    }
    ok = true;
    L.currentContext = reported;
}

std::string HoleAktContext() { return layer().currentContext; }

std::string UebergeordneterContext(const std::string& name) {
    if (name.size() < 2 || firstSeparator(name) == std::string::npos) return "[root]";
    std::string rest = name;
    if (rest[0] == '.') rest.erase(0, 1);
    size_t dot = firstSeparator(rest);
    if (dot != std::string::npos) rest.erase(0, dot + 1);
    return rest;
}

std::string NameMitContext(const std::string& context, const std::string& leaf) {
    if (context == "[root]") return leaf;
    return leaf + dotted(context);
}

void ListeUnterobjekte(const std::string& container, NameList& list, int mode) {
    TNDSObj obj;  // value-initialised: the zero-filled record
    obj.containerName = dotted(container);

    ContextCopy copy;
    obj.context = copy.handle;
    ModifyContextFlags(obj.context, '+', nw::DCV_TYPELESS_NAMES | nw::DCV_CANONICALIZE_NAMES);
    uint32_t confidence = 0;
    nw::NWDSSetContext(obj.context, nw::DCK_CONFIDENCE, &confidence);
    nw::NWDSSetContext(obj.context, nw::DCK_NAME_CONTEXT, obj.containerName.c_str() + 1);

    Buffer reply;
    if (reply.status != 0) return;
    obj.replyBuffer = reply.handle;
    obj.iterationHandle = nw::NO_MORE_ITERATIONS;
    obj.containersOnly = (mode == 1);

    // A listing that the client knows to be partial is reported, never shown as the whole
    // container (rows selected from it would be stopped as if they were all).
    bool fetched = false;
    auto fetchBatch = [&obj, &fetched]() {
        nw::NWDSCCODE status =
            obj.containersOnly
                ? nw::NWDSListContainers(obj.context, obj.containerName.c_str(), &obj.iterationHandle, obj.replyBuffer)
                : nw::NWDSList(obj.context, obj.containerName.c_str(), &obj.iterationHandle, obj.replyBuffer);
        if (status != 0) {
            if (status == static_cast<nw::NWDSCCODE>(nw::TARVEL_LDAP_INCOMPLETE) || fetched)
                ShowNDSError(status, withDetail("NWDSList (ListeUnterobjekte)", status));
            return false;
        }
        fetched = true;
        uint32_t count = 0;
        if (nw::NWDSGetObjectCount(obj.context, obj.replyBuffer, &count) != 0) return false;
        obj.entriesInBatch = static_cast<int32_t>(count);
        obj.entriesRead = 0;
        return true;
    };
    auto readEntry = [&obj]() {
        char name[nw::MAX_DN_BYTES] = {};
        nw::NWDSCCODE status = nw::NWDSGetObjectName(obj.context, obj.replyBuffer, name, &obj.attrCount, &obj.info);
        ++obj.entriesRead;
        if (status != 0) return false;
        obj.entryName.assign(name, strnlen(name, sizeof name));
        return true;
    };

    if (!fetchBatch()) return;
    if (obj.entriesInBatch > 0 && !readEntry()) return;
    for (;;) {
        platform::pumpMessages();
        bool container = (obj.info.objectFlags & nw::DS_CONTAINER_ENTRY) != 0;
        bool take = mode == 1 ? container : mode == 2 ? !container : true;
        if (take) {
            // Put together in its own room at once: a listing makes tens of thousands of these.
            const std::string_view baseClass(obj.info.baseClass, strnlen(obj.info.baseClass, sizeof obj.info.baseClass));
            std::string entry;
            entry.reserve(baseClass.size() + obj.entryName.size() + 3);
            entry.append("[").append(baseClass).append("] ").append(obj.entryName);
            list.push_back(std::move(entry));
        }
        while (obj.entriesRead >= obj.entriesInBatch) {
            platform::pumpMessages();
            if (obj.iterationHandle == nw::NO_MORE_ITERATIONS) return;
            if (!fetchBatch()) return;
        }
        platform::pumpMessages();
        if (!readEntry()) return;
    }
}

bool SearchObjects(const std::string& base, NameList& list, const std::string& className) {
    ContextCopy copy;
    nw::NWDSContextHandle context = copy.handle;
    nw::NWDSCCODE status = copy.valid ? 0 : nw::ERR_BAD_CONTEXT;

    Buffer filter;
    if (status == 0) status = filter.status;
    if (status == 0) status = nw::NWDSInitBuf(context, nw::DSV_SEARCH_FILTER, filter.handle);
    if (status == 0) {
        nw::Filter_Cursor_T* cursor = nullptr;
        status = nw::NWDSAllocFilter(&cursor);
        if (status == 0) status = nw::NWDSAddFilterToken(cursor, nw::FTOK_ANAME, "Object Class", nw::SYN_CLASS_NAME);
        if (status == 0) status = nw::NWDSAddFilterToken(cursor, nw::FTOK_EQ, nullptr, 0);
        if (status == 0) status = nw::NWDSAddFilterToken(cursor, nw::FTOK_AVAL, className.c_str(), nw::SYN_CLASS_NAME);
        if (status == 0) status = nw::NWDSAddFilterToken(cursor, nw::FTOK_END, nullptr, 0);
        // Putting the filter uses the cursor up, whatever its outcome.
        if (status == 0)
            status = nw::NWDSPutFilter(context, filter.handle, cursor, nullptr);
        else if (cursor)
            nw::NWDSFreeFilter(cursor, nullptr);
    }
    Buffer attrNames;
    if (status == 0) status = attrNames.status;
    if (status == 0) status = nw::NWDSInitBuf(context, nw::DSV_SEARCH, attrNames.handle);
    if (status == 0) status = nw::NWDSPutAttrName(context, attrNames.handle, "");
    Buffer reply;
    if (status == 0) status = reply.status;

    std::string dottedBase = dotted(base);
    int32_t iteration = nw::NO_MORE_ITERATIONS;
    while (status == 0) {
        int32_t searched = 0;
        status = nw::NWDSSearch(context, dottedBase.c_str(), nw::DS_SEARCH_SUBTREE, 0, filter.handle,
                                nw::DS_ATTRIBUTE_VALUES, 0, attrNames.handle, &iteration, 0, &searched, reply.handle);
        uint32_t count = 0;
        if (status == 0) status = nw::NWDSGetObjectCount(context, reply.handle, &count);
        for (uint32_t i = 0; status == 0 && i < count; ++i) {
            char name[nw::MAX_DN_BYTES] = {};
            uint32_t attrCount = 0;
            nw::Object_Info_T info{};
            status = nw::NWDSGetObjectName(context, reply.handle, name, &attrCount, &info);
            if (status != 0) break;
            std::string full(name, strnlen(name, sizeof name));
            while (endsInSeparator(full)) full.pop_back();
            list.push_back(std::move(full));
            skipAttributes(context, reply.handle, attrCount);
        }
        if (iteration == nw::NO_MORE_ITERATIONS) break;
    }
    // A search that broke off must not pass for the complete list of users.
    if (status != 0) {
        ShowNDSError(status, withDetail("NWDSSearch (SearchObjects)", status));
        return false;
    }
    return true;
}

void GetGroupMembers(const std::string& group, NameList& list, int32_t& error) {
    list.clear();
    if (GetAttributeMultiValueStringList(layer().context, group, "Member", list)) {
        error = 0;
    } else {
        error = GetLastNDSError();
        list.clear();
    }
    for (std::string& member : list)
        if (endsInSeparator(member)) member.pop_back();
}

bool ObjektExistiert(const std::string& name) {
    uint32_t id = 0;
    return nw::NWDSMapNameToID(layer().context, layer().connection, name.c_str(), &id) == 0;
}

std::string GetBaseClass(const std::string& name) {
    char distinguished[nw::MAX_DN_BYTES] = {};
    nw::Object_Info_T info{};
    if (nw::NWDSReadObjectInfo(layer().context, dotted(name).c_str(), distinguished, &info) != 0) return {};
    return std::string(info.baseClass, strnlen(info.baseClass, sizeof info.baseClass));
}

}  // namespace nwapi
