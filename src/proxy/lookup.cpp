#include "proxy/lookup.h"

#include "nwapi/nwapi.h"
#include "nwclient/names.h"
#include "platform/text.h"

#include <cstring>
#include <vector>

namespace proxy {

namespace {

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

std::string absolute(const std::string& name) { return !name.empty() && name[0] == '.' ? name : "." + name; }

// Full names (absolute, without dots around them) of every object below base whose attribute
// equals value; the client's status.
nw::NWDSCCODE searchEqual(const std::string& base, const char* attribute, uint32_t syntax, const std::string& value,
                          std::vector<std::string>& found) {
    const nw::NWDSContextHandle context = nwapi::layer().context;
    Buffer filter, attrNames, reply;
    nw::NWDSCCODE status = filter.status ? filter.status : attrNames.status ? attrNames.status : reply.status;
    if (status == 0) status = nw::NWDSInitBuf(context, nw::DSV_SEARCH_FILTER, filter.handle);
    if (status == 0) {
        nw::Filter_Cursor_T* cursor = nullptr;
        status = nw::NWDSAllocFilter(&cursor);
        if (status == 0) status = nw::NWDSAddFilterToken(cursor, nw::FTOK_ANAME, attribute, syntax);
        if (status == 0) status = nw::NWDSAddFilterToken(cursor, nw::FTOK_EQ, nullptr, 0);
        if (status == 0) status = nw::NWDSAddFilterToken(cursor, nw::FTOK_AVAL, value.c_str(), syntax);
        if (status == 0) status = nw::NWDSAddFilterToken(cursor, nw::FTOK_END, nullptr, 0);
        if (status == 0) status = nw::NWDSPutFilter(context, filter.handle, cursor, nullptr);
        else if (cursor) nw::NWDSFreeFilter(cursor, nullptr);
    }
    if (status == 0) status = nw::NWDSInitBuf(context, nw::DSV_SEARCH, attrNames.handle);
    if (status == 0) status = nw::NWDSPutAttrName(context, attrNames.handle, "");
    int32_t iteration = nw::NO_MORE_ITERATIONS;
    while (status == 0) {
        int32_t searched = 0;
        status = nw::NWDSSearch(context, base.c_str(), nw::DS_SEARCH_SUBTREE, 0, filter.handle,
                                nw::DS_ATTRIBUTE_NAMES, 0, attrNames.handle, &iteration, 0, &searched, reply.handle);
        uint32_t count = 0;
        if (status == 0) status = nw::NWDSGetObjectCount(context, reply.handle, &count);
        for (uint32_t i = 0; status == 0 && i < count; ++i) {
            char name[nw::MAX_DN_BYTES] = {};
            uint32_t attrCount = 0;
            status = nw::NWDSGetObjectName(context, reply.handle, name, &attrCount, nullptr);
            if (status == 0) found.emplace_back(name, strnlen(name, sizeof name));
        }
        if (iteration == nw::NO_MORE_ITERATIONS) break;
    }
    if (status != 0 && iteration != nw::NO_MORE_ITERATIONS) nw::NWDSCloseIteration(context, iteration, nw::DSV_SEARCH);
    return status;
}

Verdict broken(const std::string& what, nw::NWDSCCODE status) {
    return Verdict{Verdict::Broken, what + ": Fehler " + std::to_string(status)};
}

}  // namespace

Verdict askDirectory(const std::string& login, const std::string& denyGroup) {
    if (login.empty()) return Verdict{Verdict::Stopped, {}};
    const nw::NWDSContextHandle context = nwapi::layer().context;
    // The group itself, every time: a deleted or renamed group must not let everybody through.
    const std::string group = absolute(denyGroup);
    char canonical[nw::MAX_DN_BYTES] = {};
    nw::Object_Info_T info{};
    if (nw::NWDSCCODE st = nw::NWDSReadObjectInfo(context, group.c_str(), canonical, &info))
        return broken("Internet-Verbotsgruppe " + denyGroup + " nicht lesbar", st);
    const std::string groupName(canonical, strnlen(canonical, sizeof canonical));
    std::vector<std::string> parts = nw::names::splitEscaped(groupName);
    parts.erase(parts.begin());
    const std::string groupParent = parts.empty() ? std::string("[root]") : "." + nw::names::joinLeafFirst(parts);

    std::vector<std::string> users;
    if (nw::NWDSCCODE st = searchEqual("[root]", nw::NWDSLoginAttribute().c_str(), nw::SYN_CI_STRING, login, users))
        return broken("Suche nach dem Login-Namen " + login, st);
    for (const std::string& user : users) {
        std::vector<std::string> groups;
        if (nw::NWDSCCODE st = searchEqual(groupParent, "Member", nw::SYN_DIST_NAME, user, groups))
            return broken("Gruppen von " + user + " nicht lesbar", st);
        for (const std::string& g : groups)
            if (text::equalsLocaleNoCase(g, groupName)) return Verdict{Verdict::Stopped, {}};
    }
    return Verdict{Verdict::MayBrowse, {}};
}

}  // namespace proxy
