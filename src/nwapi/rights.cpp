// The operator's effective NetWare file-system rights on a path, as a mask and as letters.
#include "nwapi/nwapi.h"

#include "nwclient/nwclient.h"

#include <cstring>

namespace nwapi {

namespace {

// Brings a path into the form the path parser takes. UNC (\\SERVER\VOLUME\DIR) and NetWare
// (SERVER/VOLUME:DIR) paths become "SERVER VOLUME:DIR" and are marked server-qualified;
// everything else is a local path and stays as it is. On Linux a path that begins with "/"
// is local, and so is a relative one whose first "/" has no volume colon behind it.
std::string toParserForm(std::string path, bool& serverQualified) {
    serverQualified = false;
    // A Linux path is local even when a file name in it holds backslashes.
    if (!path.empty() && path.front() == '/') return path;
    if (path.find("\\\\") != std::string::npos) {
        path.erase(0, 2);
        size_t at = path.find('\\');
        if (at != std::string::npos) {
            path[at] = ' ';
            at = path.find('\\', at + 1);
        }
        if (at != std::string::npos)
            path[at] = ':';
        else if (path.find(':') == std::string::npos)
            path += ':';
        serverQualified = true;
        return path;
    }
    const size_t slash = path.find('/');
    if (slash == std::string::npos) return path;
    const std::string_view server(path.data(), slash);
    const bool netWarePath = server.find_first_of(":\\ ") == std::string_view::npos &&
                             path.find(':', slash + 1) != std::string::npos;
    if (!netWarePath) return path;
    path[slash] = ' ';
    serverQualified = true;
    return path;
}

}  // namespace

uint16_t GetEffectiveRightsMask(const std::string& path) {
    bool serverQualified = false;
    const std::string parsed = toParserForm(path, serverQualified);

    char server[256] = {};
    char volume[256] = {};
    char directory[256] = {};
    nw::NWCONN_HANDLE conn = 0;
    const nw::NWCCODE status = nw::NWParsePath(parsed.c_str(), server, &conn, volume, directory);
    if (status != 0) {
        ShowNWError(status, "NWParsePath (GetEffectiveRightsMask)");
        return RIGHTS_UNPARSABLE;
    }
    if (server[0] == '\0' && conn == 0) return RIGHTS_NOT_NETWARE;

    std::string rebuilt = std::string(volume) + ":" + directory;
    // A parser that leaves the server in front of the volume ("SERVER DATEN") gets it cut
    // off. Only the volume part is looked at: a blank inside a folder name stays.
    if (serverQualified) {
        const size_t blank = rebuilt.find(' ');
        if (blank != std::string::npos && blank < std::strlen(volume)) rebuilt.erase(0, blank + 1);
    }

    uint16_t rights = 0;
    uint16_t result = 0;
    const nw::NWCCODE rightsStatus = nw::NWGetEffectiveRights(conn, 0, rebuilt.c_str(), &rights);
    if (rightsStatus != 0) {
        ShowNWError(rightsStatus, "NWGetEffectiveRights (GetEffectiveRightsMask)");
        result = RIGHTS_UNREADABLE;
    } else {
        result = rights;
    }
    if (conn != 0) nw::NWCCCloseConn(conn);
    return result;
}

std::string RightsMaskToText(uint16_t mask) {
    static const struct {
        uint16_t bit;
        char letter;
    } order[] = {{0x100, 'S'}, {0x001, 'R'}, {0x002, 'W'}, {0x010, 'E'},
                 {0x008, 'C'}, {0x080, 'M'}, {0x040, 'F'}, {0x020, 'A'}};
    std::string text;
    for (const auto& o : order)
        if (mask & o.bit) text += o.letter;
    return text;
}

std::string GetRightsText(const std::string& path) {
    switch (const uint16_t mask = GetEffectiveRightsMask(path)) {
    case RIGHTS_UNREADABLE: return "F";
    case RIGHTS_NOT_NETWARE: return "L";
    case RIGHTS_UNPARSABLE: return "?";
    default: return RightsMaskToText(mask);
    }
}

bool ContainsAllLetters(const std::string& required, const std::string& available) {
    const std::string need = text::toUpperAscii(required);
    const std::string have = text::toUpperAscii(available);
    bool present[256] = {};
    for (char c : have) present[uint8_t(c)] = true;
    for (char c : need)
        if (!present[uint8_t(c)]) return false;
    return true;
}

}  // namespace nwapi
