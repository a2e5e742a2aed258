// A DirectoryBackend for tests that wraps another one and makes chosen calls fail.
//
//   auto faults = std::make_unique<nw::FaultBackend>(std::move(real));
//   faults->failNth(nw::FaultBackend::Call::Modify, 2, nw::ERR_NO_ACCESS);  // 2nd modify fails
//   faults->onModify([](int n, nw::ObjectId) { if (n == 100) _exit(9); });  // before each modify
//   nw::FaultBackend* probe = faults.get();
//   nw::installBackend(std::move(faults));
//
// Calls are counted per kind from the wrapper's creation, starting at 1; a failed call is
// counted too and never reaches the wrapped backend. ListPage and SearchPage count next() on
// the cursors of list() and search(); a failing page ends its cursor.
#pragma once

#include "nwclient/backend.h"

#include <functional>
#include <map>
#include <memory>

namespace nw {

class FaultBackend : public DirectoryBackend {
public:
    enum class Call {
        ServerName, Resolve, Describe, List, ListPage, Search, SearchPage, ReadAttribute, AttributeSyntax,
        Modify, AddEquiv, RemoveEquiv, ReadStream, ServerDateTime, Volumes, EffectiveRights
    };

    explicit FaultBackend(std::unique_ptr<DirectoryBackend> inner);

    // Calls n .. n+times-1 of this kind answer status (times < 0: every call from n on).
    // ServerName answers an empty name and Volumes no volumes instead of a status.
    void failNth(Call call, int n, int32_t status, int times = 1);
    // Forgets every planned failure.
    void clearFailures();
    // How often a kind was called so far.
    int calls(Call call) const;
    // Called before each modify with its number (from 1) and the object, before any failure
    // planned for it.
    void onModify(std::function<void(int, ObjectId)> hook);
    // Called with each page that a list or search cursor returns, before the caller sees it: a
    // test can make the pages look as other servers send them.
    void onPage(std::function<void(Call, std::vector<ObjectSummary>&)> hook);

    DirectoryBackend& inner() { return *inner_; }

    std::string serverName() override;
    // The wrapped directory's membership model and login, as they are.
    uint32_t membershipPlaces() const override { return inner_->membershipPlaces(); }
    std::string loginAttribute() const override { return inner_->loginAttribute(); }
    std::string problemDetail() override { return inner_->problemDetail(); }
    std::vector<std::string> skippedValues() override { return inner_->skippedValues(); }
    NWDSCCODE removeSkippedValue(ObjectId id, const std::string& attribute, const std::string& shown) override {
        return inner_->removeSkippedValue(id, attribute, shown);
    }
    NWDSCCODE resolve(const std::vector<std::string>& componentsFromRoot, ObjectId& id) override;
    NWDSCCODE describe(ObjectId id, std::string& fullName, ObjectSummary& summary) override;
    NWDSCCODE list(ObjectId container, bool containersOnly, std::unique_ptr<ObjectCursor>& cursor) override;
    NWDSCCODE search(ObjectId base, const std::string& attribute, const std::string& value,
                     std::unique_ptr<ObjectCursor>& cursor) override;
    NWDSCCODE readAttribute(ObjectId id, const std::string& attribute, Attribute& out) override;
    NWDSCCODE attributeSyntax(const std::string& attribute, uint32_t& syntax) override;
    NWDSCCODE modify(ObjectId id, const std::vector<Change>& changes) override;
    NWDSCCODE addSecurityEquivalence(ObjectId user, ObjectId group) override;
    NWDSCCODE removeSecurityEquivalence(ObjectId user, ObjectId group) override;
    // One Member change of the group as far as hooks and planned failures go (Call::Modify).
    NWDSCCODE changeMembers(ObjectId group, bool add, const std::vector<ObjectId>& users, const BatchAnswer& answer,
                            const BatchCancel& cancel) override;
    NWDSCCODE readStream(ObjectId id, const std::string& attribute, std::string& contents) override;
    NWCCODE serverDateTime(uint8_t dateTime[7]) override;
    std::vector<VolumeInfo> volumes() override;
    NWCCODE effectiveRights(const std::string& volume, const std::string& directoryPath, uint16_t& rights) override;

    // Counts a call of this kind; true (with status) when it is to fail. Used by the cursors.
    bool shouldFail(Call call, int32_t& status);
    // Gives a page to the onPage hook. Used by the cursors.
    void rewritePage(Call call, std::vector<ObjectSummary>& page);

private:
    struct Plan {
        int from = 0;
        int times = 0;
        int32_t status = 0;
    };
    std::unique_ptr<DirectoryBackend> inner_;
    std::map<Call, int> counts_;
    std::multimap<Call, Plan> plans_;
    std::function<void(int, ObjectId)> modifyHook_;
    std::function<void(Call, std::vector<ObjectSummary>&)> pageHook_;
};

}  // namespace nw
