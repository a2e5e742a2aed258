#include "nwclient/fault_backend.h"

namespace nw {

namespace {

class FaultCursor : public ObjectCursor {
public:
    FaultCursor(FaultBackend& owner, FaultBackend::Call kind, std::unique_ptr<ObjectCursor> inner)
        : owner_(owner), kind_(kind), inner_(std::move(inner)) {}

    NWDSCCODE next(std::vector<ObjectSummary>& page) override {
        page.clear();
        if (failed_) return failed_;
        int32_t status = 0;
        if (owner_.shouldFail(kind_, status)) {
            failed_ = status;
            return status;
        }
        NWDSCCODE rc = inner_->next(page);
        if (rc == SUCCESSFUL) owner_.rewritePage(kind_, page);
        return rc;
    }

private:
    FaultBackend& owner_;
    FaultBackend::Call kind_;
    std::unique_ptr<ObjectCursor> inner_;
    NWDSCCODE failed_ = 0;
};

}  // namespace

FaultBackend::FaultBackend(std::unique_ptr<DirectoryBackend> inner) : inner_(std::move(inner)) {}

void FaultBackend::failNth(Call call, int n, int32_t status, int times) {
    plans_.emplace(call, Plan{n, times, status});
}

void FaultBackend::clearFailures() { plans_.clear(); }

int FaultBackend::calls(Call call) const {
    auto it = counts_.find(call);
    return it == counts_.end() ? 0 : it->second;
}

void FaultBackend::onModify(std::function<void(int, ObjectId)> hook) { modifyHook_ = std::move(hook); }

void FaultBackend::onPage(std::function<void(Call, std::vector<ObjectSummary>&)> hook) { pageHook_ = std::move(hook); }

void FaultBackend::rewritePage(Call call, std::vector<ObjectSummary>& page) {
    if (pageHook_) pageHook_(call, page);
}

bool FaultBackend::shouldFail(Call call, int32_t& status) {
    int n = ++counts_[call];
    auto range = plans_.equal_range(call);
    for (auto it = range.first; it != range.second; ++it) {
        const Plan& p = it->second;
        if (n >= p.from && (p.times < 0 || n < p.from + p.times)) {
            status = p.status;
            return true;
        }
    }
    return false;
}

std::string FaultBackend::serverName() {
    int32_t status = 0;
    return shouldFail(Call::ServerName, status) ? std::string() : inner_->serverName();
}

NWDSCCODE FaultBackend::resolve(const std::vector<std::string>& componentsFromRoot, ObjectId& id) {
    int32_t status = 0;
    return shouldFail(Call::Resolve, status) ? status : inner_->resolve(componentsFromRoot, id);
}

NWDSCCODE FaultBackend::describe(ObjectId id, std::string& fullName, ObjectSummary& summary) {
    int32_t status = 0;
    return shouldFail(Call::Describe, status) ? status : inner_->describe(id, fullName, summary);
}

NWDSCCODE FaultBackend::list(ObjectId container, bool containersOnly, std::unique_ptr<ObjectCursor>& cursor) {
    int32_t status = 0;
    if (shouldFail(Call::List, status)) return status;
    std::unique_ptr<ObjectCursor> inner;
    NWDSCCODE rc = inner_->list(container, containersOnly, inner);
    if (rc == SUCCESSFUL) cursor = std::make_unique<FaultCursor>(*this, Call::ListPage, std::move(inner));
    return rc;
}

NWDSCCODE FaultBackend::search(ObjectId base, const std::string& attribute, const std::string& value,
                               std::unique_ptr<ObjectCursor>& cursor) {
    int32_t status = 0;
    if (shouldFail(Call::Search, status)) return status;
    std::unique_ptr<ObjectCursor> inner;
    NWDSCCODE rc = inner_->search(base, attribute, value, inner);
    if (rc == SUCCESSFUL) cursor = std::make_unique<FaultCursor>(*this, Call::SearchPage, std::move(inner));
    return rc;
}

NWDSCCODE FaultBackend::readAttribute(ObjectId id, const std::string& attribute, Attribute& out) {
    int32_t status = 0;
    return shouldFail(Call::ReadAttribute, status) ? status : inner_->readAttribute(id, attribute, out);
}

NWDSCCODE FaultBackend::attributeSyntax(const std::string& attribute, uint32_t& syntax) {
    int32_t status = 0;
    return shouldFail(Call::AttributeSyntax, status) ? status : inner_->attributeSyntax(attribute, syntax);
}

NWDSCCODE FaultBackend::modify(ObjectId id, const std::vector<Change>& changes) {
    if (modifyHook_) modifyHook_(calls(Call::Modify) + 1, id);
    int32_t status = 0;
    return shouldFail(Call::Modify, status) ? status : inner_->modify(id, changes);
}

NWDSCCODE FaultBackend::addSecurityEquivalence(ObjectId user, ObjectId group) {
    int32_t status = 0;
    return shouldFail(Call::AddEquiv, status) ? status : inner_->addSecurityEquivalence(user, group);
}

NWDSCCODE FaultBackend::removeSecurityEquivalence(ObjectId user, ObjectId group) {
    int32_t status = 0;
    return shouldFail(Call::RemoveEquiv, status) ? status : inner_->removeSecurityEquivalence(user, group);
}

NWDSCCODE FaultBackend::changeMembers(ObjectId group, bool add, const std::vector<ObjectId>& users,
                                      const BatchAnswer& answer, const BatchCancel& cancel) {
    if (modifyHook_) modifyHook_(calls(Call::Modify) + 1, group);
    int32_t status = 0;
    return shouldFail(Call::Modify, status) ? status : inner_->changeMembers(group, add, users, answer, cancel);
}

NWDSCCODE FaultBackend::readStream(ObjectId id, const std::string& attribute, std::string& contents) {
    int32_t status = 0;
    return shouldFail(Call::ReadStream, status) ? status : inner_->readStream(id, attribute, contents);
}

NWCCODE FaultBackend::serverDateTime(uint8_t dateTime[7]) {
    int32_t status = 0;
    return shouldFail(Call::ServerDateTime, status) ? NWCCODE(status) : inner_->serverDateTime(dateTime);
}

std::vector<VolumeInfo> FaultBackend::volumes() {
    int32_t status = 0;
    return shouldFail(Call::Volumes, status) ? std::vector<VolumeInfo>() : inner_->volumes();
}

NWCCODE FaultBackend::effectiveRights(const std::string& volume, const std::string& directoryPath, uint16_t& rights) {
    int32_t status = 0;
    return shouldFail(Call::EffectiveRights, status) ? NWCCODE(status)
                                                      : inner_->effectiveRights(volume, directoryPath, rights);
}

}  // namespace nw
