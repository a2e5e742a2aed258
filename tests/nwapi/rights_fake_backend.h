// A directory backend for the clock and rights tests: a fixed server clock, volumes mounted on
// test folders, rights looked up per (volume, folded path), and a record of every query. It
// holds no objects; every directory call answers "no such entry".
#pragma once

#include "nwclient/backend.h"
#include "nwclient/client_setup.h"
#include "nwapi/nwapi.h"
#include "platform/text.h"

#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace rightstest {

struct FakeState {
    std::string server = "SCHULSRV";
    uint8_t clock[7] = {126, 12, 6, 15, 30, 0, 0};
    nw::NWCCODE clockStatus = 0;
    std::vector<nw::VolumeInfo> volumes;
    // key: upper-case volume + ":" + upper-case path with "\" separators
    std::map<std::string, uint16_t> rights;
    nw::NWCCODE rightsStatus = 0;
    std::vector<std::pair<std::string, std::string>> queries;  // (volume, directory path) asked
};

inline std::string rightsKey(const std::string& volume, const std::string& path) {
    std::string p = text::toUpperAscii(path);
    for (char& c : p)
        if (c == '/') c = '\\';
    while (!p.empty() && p.back() == '\\') p.pop_back();
    return text::toUpperAscii(volume) + ":" + p;
}

class FakeBackend : public nw::DirectoryBackend {
public:
    explicit FakeBackend(std::shared_ptr<FakeState> s) : s_(std::move(s)) {}
    std::string serverName() override { return s_->server; }
    nw::NWDSCCODE resolve(const std::vector<std::string>& c, nw::ObjectId& id) override {
        id = nw::ROOT_ID;
        return c.empty() ? 0 : nw::ERR_NO_SUCH_ENTRY;
    }
    nw::NWDSCCODE describe(nw::ObjectId, std::string& name, nw::ObjectSummary& summary) override {
        name = "[Root]";
        summary = {};
        return 0;
    }
    nw::NWDSCCODE list(nw::ObjectId, bool, std::unique_ptr<nw::ObjectCursor>&) override { return nw::ERR_NO_SUCH_ENTRY; }
    nw::NWDSCCODE search(nw::ObjectId, const std::string&, const std::string&, std::unique_ptr<nw::ObjectCursor>&) override {
        return nw::ERR_NO_SUCH_ENTRY;
    }
    nw::NWDSCCODE readAttribute(nw::ObjectId, const std::string&, nw::Attribute&) override { return nw::ERR_NO_SUCH_ATTRIBUTE; }
    nw::NWDSCCODE attributeSyntax(const std::string&, uint32_t&) override { return nw::ERR_NO_SUCH_ATTRIBUTE; }
    nw::NWDSCCODE modify(nw::ObjectId, const std::vector<nw::Change>&) override { return nw::ERR_NO_ACCESS; }
    nw::NWDSCCODE addSecurityEquivalence(nw::ObjectId, nw::ObjectId) override { return nw::ERR_NO_ACCESS; }
    nw::NWDSCCODE removeSecurityEquivalence(nw::ObjectId, nw::ObjectId) override { return nw::ERR_NO_ACCESS; }
    nw::NWDSCCODE readStream(nw::ObjectId, const std::string&, std::string&) override { return nw::ERR_NO_SUCH_ATTRIBUTE; }
    nw::NWCCODE serverDateTime(uint8_t dateTime[7]) override {
        if (s_->clockStatus) return s_->clockStatus;
        std::memcpy(dateTime, s_->clock, 7);
        return 0;
    }
    std::vector<nw::VolumeInfo> volumes() override { return s_->volumes; }
    nw::NWCCODE effectiveRights(const std::string& volume, const std::string& path, uint16_t& rights) override {
        s_->queries.emplace_back(volume, path);
        if (s_->rightsStatus) return s_->rightsStatus;
        const auto it = s_->rights.find(rightsKey(volume, path));
        if (it == s_->rights.end()) return nw::INVALID_PATH;
        rights = it->second;
        return 0;
    }

private:
    std::shared_ptr<FakeState> s_;
};

// Installs a fresh fake as the primary connection's backend and opens the layer on it.
inline std::shared_ptr<FakeState> openFakeServer() {
    auto state = std::make_shared<FakeState>();
    nw::resetClient();
    nwapi::resetLayerForTesting();
    nw::installBackend(std::make_unique<FakeBackend>(state));
    bool ok = false;
    nwapi::InitNWConnection(ok);
    return state;
}

}  // namespace rightstest
