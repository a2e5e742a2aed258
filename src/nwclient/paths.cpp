// The server clock, path parsing and effective file-system rights. Volumes of the tree are
// mounted on local folders (as NetWare volumes on a Linux workstation), so a local path below
// such a folder is a path on that volume; every other local path is on no server.
#include "nwclient/client_setup.h"
#include "nwclient/client_state.h"
#include "nwclient/nwclient.h"

#include "platform/text.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <system_error>

namespace nw {

namespace {

namespace fs = std::filesystem;

// The handle NWParsePath hands out for a path on a volume: a connection to the volume's
// server. Every volume of this client lives on the primary connection's server, so it needs
// no state of its own and releasing it changes nothing.
constexpr NWCONN_HANDLE PATH_CONN = 2;
constexpr size_t PATH_PART_BYTES = 255;  // each output of NWParsePath, NUL included

bool copyOut(char* out, const std::string& value) {
    if (!out) return true;
    if (value.size() + 1 > PATH_PART_BYTES) return false;
    std::memcpy(out, value.c_str(), value.size() + 1);
    return true;
}

// Absolute, without "." and "..", symbolic links of the existing part followed.
fs::path canonicalLocal(const std::string& path) {
    std::error_code ec;
    fs::path p = fs::absolute(fs::path(path.empty() ? "." : path), ec);
    if (ec) p = fs::path(path);
    fs::path canonical = fs::weakly_canonical(p, ec);
    return (ec ? p.lexically_normal() : canonical).lexically_normal();
}

// The components of path below folder, or false when it does not lie below it.
bool below(const fs::path& path, const fs::path& folder, std::vector<std::string>& rest) {
    rest.clear();
    auto p = path.begin();
    for (auto f = folder.begin(); f != folder.end(); ++f) {
        if (f->empty()) continue;  // the trailing separator of "/mnt/vol/"
        if (p == path.end() || *p != *f) return false;
        ++p;
    }
    for (; p != path.end(); ++p)
        if (!p->empty()) rest.push_back(p->string());
    return true;
}

struct VolumePath {
    std::string server, volume, directory;
};

// "SERVER VOLUME:DIR", "SERVER/VOLUME:DIR" or "VOLUME:DIR" (on the primary connection's
// server). A single letter before the colon is a drive and no volume.
bool splitNetWarePath(const std::string& path, VolumePath& out) {
    const size_t colon = path.find(':');
    if (colon == std::string::npos || path.empty() || path.front() == '/') return false;
    const std::string head = path.substr(0, colon);
    const size_t sep = head.find_first_of(" /");
    out.server = sep == std::string::npos ? std::string() : head.substr(0, sep);
    out.volume = sep == std::string::npos ? head : head.substr(sep + 1);
    if (sep == std::string::npos && out.volume.size() < 2) return false;
    out.directory = path.substr(colon + 1);
    while (!out.directory.empty() && (out.directory.front() == '\\' || out.directory.front() == '/'))
        out.directory.erase(0, 1);
    return true;
}

}  // namespace

NWCCODE NWGetFileServerDateAndTime(NWCONN_HANDLE conn, uint8_t* dateTime) {
    if (!dateTime) return NWE_PARAM_INVALID;
    DirectoryBackend* backend = currentBackend();
    if (!backend || conn == 0) return INVALID_CONNECTION;
    uint8_t reply[7] = {};
    const NWCCODE status = backend->serverDateTime(reply);
    if (status != SUCCESSFUL) return status;
    std::memcpy(dateTime, reply, sizeof reply);
    return SUCCESSFUL;
}

NWCCODE NWParsePath(const char* path, char* serverName, NWCONN_HANDLE* conn, char* volName, char* dirPath) {
    if (!path || !conn) return NWE_PARAM_INVALID;
    const std::string input(path);
    DirectoryBackend* backend = currentBackend();

    VolumePath vp;
    if (splitNetWarePath(input, vp)) {
        if (!backend) return NWE_SERVER_UNKNOWN;
        const std::string primary = backend->serverName();
        if (vp.server.empty()) vp.server = primary;
        if (!text::equalsAsciiNoCase(vp.server, primary)) return NWE_SERVER_UNKNOWN;
        bool known = false;
        for (const VolumeInfo& v : backend->volumes())
            if (text::equalsAsciiNoCase(v.volume, vp.volume)) {
                vp.volume = v.volume;
                known = true;
                break;
            }
        if (!known) return INVALID_PATH;
        if (!copyOut(serverName, primary) || !copyOut(volName, vp.volume) || !copyOut(dirPath, vp.directory))
            return NWE_BUFFER_OVERFLOW;
        *conn = PATH_CONN;
        return SUCCESSFUL;
    }

    // A local path: on a volume when it lies below a mounted one. Drive letters ("C:\\...")
    // are never mapped to volumes here.
    const bool driveLetter = input.size() >= 2 && input[1] == ':';
    if (backend && !driveLetter) {
        const fs::path local = canonicalLocal(input);
        const std::string primary = backend->serverName();
        std::vector<std::string> rest;
        for (const VolumeInfo& v : backend->volumes()) {
            if (v.localPath.empty() || !below(local, canonicalLocal(v.localPath), rest)) continue;
            std::string directory;
            for (const std::string& part : rest) directory += (directory.empty() ? "" : "\\") + part;
            if (!copyOut(serverName, v.server.empty() ? primary : v.server) || !copyOut(volName, v.volume) ||
                !copyOut(dirPath, directory))
                return NWE_BUFFER_OVERFLOW;
            *conn = PATH_CONN;
            return SUCCESSFUL;
        }
    }
    if (!copyOut(serverName, "") || !copyOut(volName, "")) return NWE_BUFFER_OVERFLOW;
    if (dirPath) {
        // The local path itself, as far as it fits; no server needs it.
        const size_t n = std::min(input.size(), PATH_PART_BYTES - 1);
        std::memcpy(dirPath, input.data(), n);
        dirPath[n] = '\0';
    }
    *conn = 0;
    return SUCCESSFUL;
}

NWCCODE NWGetEffectiveRights(NWCONN_HANDLE conn, NWDIR_HANDLE dirHandle, const char* path, uint16_t* rights) {
    if (!path || !rights) return NWE_PARAM_INVALID;
    DirectoryBackend* backend = currentBackend();
    if (!backend || conn == 0) return INVALID_CONNECTION;
    if (dirHandle != 0) return NWE_PARAM_INVALID;  // this client hands out no directory handles
    VolumePath vp;
    if (!splitNetWarePath(path, vp)) return INVALID_PATH;
    if (!vp.server.empty() && !text::equalsAsciiNoCase(vp.server, backend->serverName())) return NWE_SERVER_UNKNOWN;
    uint16_t mask = 0;
    const NWCCODE status = backend->effectiveRights(vp.volume, vp.directory, mask);
    if (status != SUCCESSFUL) return status;
    *rights = mask;
    return SUCCESSFUL;
}

}  // namespace nw
