#include "deny/check.h"
#include "deny/group_check.h"

#include "nwapi/nwapi.h"
#include "nwapi/names.h"

#include <algorithm>
#include <map>
#include <unordered_map>

namespace deny {

namespace {

const char* const Member = "Member";
const char* const EquivalentToMe = "Equivalent To Me";
const char* const GroupMembership = "Group Membership";
const char* const SecurityEquals = "Security Equals";

std::string key(const std::string& name) {
    return text::localeSortKey(nwapi::StripRootSpelling(name));
}

// Values that have no name (the reader named them once) go into the report as they were shown.
bool readValues(const std::string& object, const char* attribute, text::NameList& values, CheckReport& report) {
    values.clear();
    const bool ok = nwapi::GetAttributeMultiValueStringList(
        nwapi::layer().context, "." + std::string(nwapi::StripRootSpelling(object)), attribute, values);
    for (const std::string& shown : nwapi::SkippedValues()) report.unnamable.push_back({object, attribute, shown, 0});
    return ok;
}

// Values of one attribute counted by name; repeated ones go into the report.
std::unordered_map<std::string, std::pair<std::string, size_t>> countValues(const std::string& object,
                                                                           const char* attribute,
                                                                           const text::NameList& values,
                                                                           CheckReport& report) {
    std::unordered_map<std::string, std::pair<std::string, size_t>> counted;
    for (const std::string& v : values) {
        auto& slot = counted[key(v)];
        if (slot.second++ == 0) slot.first = v;
    }
    for (const auto& [k, slot] : counted)
        if (slot.second > 1) report.repeated.push_back({object, attribute, slot.first, slot.second});
    return counted;
}

std::string loginKey(const std::string& user) {
    const std::vector<std::string> parts = nwapi::NameComponents(nwapi::StripRootSpelling(user));
    return text::foldCaseLocale(parts.empty() ? std::string() : parts.front());
}

}  // namespace

CheckReport checkGroup(const std::string& group) {
    CheckReport report;
    nwapi::SetzeContext("[root]");
    // The places this directory keeps; one it does not keep (AD keeps Member alone) is neither
    // read nor ever missing: it agrees with Member.
    const uint32_t kept = nw::NWDSMembershipPlaces();
    text::NameList members, equivalents;
    // A deny group that is no group has no side to check; what it left on users is stray.
    std::string baseClass;
    if (denyGroupState(group, &baseClass) == GroupState::NotAGroup) {
        report.notAGroup = baseClass;
    } else {
        if (nwapi::ClassGroupsEnabled()) {
            // Its members are its own and those of its class groups; a class group is none.
            std::vector<nwapi::GroupMember> read;
            if (!nwapi::ReadGroupMembers(group, read)) report.complete = false;
            for (const nwapi::GroupMember& m : read)
                if (m.own()) members.push_back(m.name);
        } else if (!readValues(group, Member, members, report)) {
            report.complete = false;
        }
        if ((kept & nw::PLACE_EQUIVALENT_TO_ME) && !readValues(group, EquivalentToMe, equivalents, report))
            report.complete = false;
    }
    report.members = members.size();
    const auto memberCount = countValues(group, Member, members, report);
    const auto equivalentCount = countValues(group, EquivalentToMe, equivalents, report);

    text::NameList users;
    if (!nwapi::SearchObjects("[root]", users, "User")) report.complete = false;
    report.usersInTree = users.size();

    // Every user's two places, and the login names of the whole tree.
    std::map<std::string, Places> places;  // by key; ordered for a stable report
    std::unordered_map<std::string, text::NameList> byLogin;
    const std::string groupKey = key(group);
    std::unordered_map<std::string, std::string> userByKey;
    text::NameList values;
    for (const std::string& user : users) {
        const std::string k = key(user);
        userByKey.emplace(k, user);
        byLogin[loginKey(user)].push_back(user);
        Places p;
        p.user = user;
        for (const char* attribute : {GroupMembership, SecurityEquals}) {
            if (!(kept & (attribute == GroupMembership ? nw::PLACE_GROUP_MEMBERSHIP : nw::PLACE_SECURITY_EQUALS))) continue;
            if (!readValues(user, attribute, values, report)) report.complete = false;
            size_t count = 0;
            for (const std::string& v : values)
                if (key(v) == groupKey) ++count;
            (attribute == GroupMembership ? p.groupMembership : p.securityEquals) = count > 0;
            if (count > 0 && !report.notAGroup.empty()) report.stray.push_back({user, attribute, group, 0});
            else if (count > 1) report.repeated.push_back({user, attribute, group, count});
        }
        if (!report.notAGroup.empty()) continue;
        const auto m = memberCount.find(k);
        const auto e = equivalentCount.find(k);
        p.member = m != memberCount.end();
        p.equivalentToMe = (kept & nw::PLACE_EQUIVALENT_TO_ME) ? e != equivalentCount.end() : p.member;
        if (!(kept & nw::PLACE_GROUP_MEMBERSHIP)) p.groupMembership = p.member;
        if (!(kept & nw::PLACE_SECURITY_EQUALS)) p.securityEquals = p.member;
        if (p.member || p.equivalentToMe || p.groupMembership || p.securityEquals) places.emplace(k, p);
    }

    // Group values that are no users of the tree: other objects, or nothing at all.
    text::NameList strangers;
    for (const auto* counted : {&memberCount, &equivalentCount})
        for (const auto& [k, slot] : *counted)
            if (!userByKey.count(k)) strangers.push_back(slot.first);
    std::sort(strangers.begin(), strangers.end(), text::lessLocaleNoCase);
    strangers.erase(std::unique(strangers.begin(), strangers.end(),
                                [](const std::string& a, const std::string& b) { return text::equalsLocaleNoCase(a, b); }),
                    strangers.end());
    for (const std::string& s : strangers) {
        if (nwapi::ObjektExistiert("." + std::string(nwapi::StripRootSpelling(s))))
            report.notUsers.push_back(s);
        else
            report.dangling.push_back({group, memberCount.count(key(s)) ? Member : EquivalentToMe, s, 0});
    }

    for (auto& [k, p] : places) {
        if (!p.all()) report.partial.push_back(p);
        if (!p.member) continue;
        const text::NameList& same = byLogin[loginKey(p.user)];
        if (same.size() < 2) continue;
        SharedLogin shared{p.user, nwapi::NameComponents(nwapi::StripRootSpelling(p.user)).front(), {}};
        for (const std::string& other : same)
            if (key(other) != k) shared.others.push_back(other);
        report.shared.push_back(std::move(shared));
    }
    std::stable_sort(report.repeated.begin(), report.repeated.end(), [](const Repeated& a, const Repeated& b) {
        const int c = text::compareLocaleNoCase(a.object, b.object);
        return c != 0 ? c < 0 : text::lessLocaleNoCase(a.value, b.value);
    });
    return report;
}

std::vector<RepairStep> planRepair(const CheckReport& report) {
    std::map<std::string, RepairStep> steps;
    for (const Places& p : report.partial) {
        RepairStep s;
        s.user = p.user;
        s.add = p.member;
        // In Member: the missing places are added; else the leftover ones go.
        s.groupMembership = p.groupMembership != p.member;
        s.securityEquals = p.securityEquals != p.member;
        s.equivalentToMe = p.equivalentToMe != p.member;
        steps[key(p.user)] = s;
    }
    for (const Repeated& r : report.repeated) {
        if (r.attribute != GroupMembership && r.attribute != SecurityEquals) continue;
        auto it = steps.find(key(r.object));
        if (it == steps.end()) {
            RepairStep s;
            s.user = r.object;
            s.add = true;
            it = steps.emplace(key(r.object), s).first;
        }
        it->second.dedupe = true;
    }
    std::vector<RepairStep> out;
    for (auto& [k, s] : steps) out.push_back(s);
    return out;
}

namespace {

// One modify request of one object: per attribute, remove the value (all copies) and/or add it
// once. The layer's error box reports a failure.
bool modify(const std::string& object, const std::vector<std::pair<const char*, std::pair<bool, bool>>>& changes,
            const std::string& value, const std::string& what) {
    using namespace nw;
    nwapi::LayerState& L = nwapi::layer();
    Buf_T* buffer = nullptr;
    NWDSCCODE status = NWDSAllocBuf(4096, &buffer);
    if (status == 0) status = NWDSInitBuf(L.context, DSV_MODIFY_ENTRY, buffer);
    for (const auto& [attribute, removeAdd] : changes) {
        if (status == 0 && removeAdd.first) {
            status = NWDSPutChange(L.context, buffer, DS_REMOVE_VALUE, attribute);
            if (status == 0) status = NWDSPutAttrVal(L.context, buffer, SYN_DIST_NAME, value.c_str());
        }
        if (status == 0 && removeAdd.second) {
            status = NWDSPutChange(L.context, buffer, DS_ADDITIONAL_VALUE, attribute);
            if (status == 0) status = NWDSPutAttrVal(L.context, buffer, SYN_DIST_NAME, value.c_str());
        }
    }
    const std::string dotted = "." + std::string(nwapi::StripRootSpelling(object));
    if (status == 0) status = NWDSModifyObject(L.context, dotted.c_str(), nullptr, 0, buffer);
    if (buffer) NWDSFreeBuf(buffer);
    if (status != 0) nwapi::ShowNDSError(status, "Repair (" + what + " of " + object + ")");
    return status == 0;
}

}  // namespace

namespace {

std::string stepKey(const RepairStep& s) {
    return key(s.user) + '\n' + char('0' + s.add) + char('0' + s.groupMembership) + char('0' + s.securityEquals) +
           char('0' + s.equivalentToMe) + char('0' + s.dedupe);
}

std::string valueKey(const Repeated& r) { return key(r.object) + '\n' + r.attribute + '\n' + key(r.value); }

// Of first, what second found too (by key): acted on; the rest counts as settled.
template <typename T, typename KeyFn>
std::vector<T> foundTwice(const std::vector<T>& first, const std::vector<T>& second, KeyFn keyOf, size_t& settled) {
    std::unordered_map<std::string, size_t> again;
    for (const T& t : second) ++again[keyOf(t)];
    std::vector<T> out;
    for (const T& t : first) {
        auto it = again.find(keyOf(t));
        if (it != again.end() && it->second > 0) {
            --it->second;
            out.push_back(t);
        } else {
            ++settled;
        }
    }
    return out;
}

}  // namespace

RepairResult repairGroup(const std::string& group, const CheckReport& report) {
    RepairResult result;
    // Read again right before writing: what another operator's change completed (or undid)
    // since the check is not this repair's to touch.
    const CheckReport again = checkGroup(group);
    nwapi::SetzeContext("[root]");
    const std::string groupValue = "." + std::string(nwapi::StripRootSpelling(group));
    if (!again.complete) {
        result.reread = false;
        return result;
    }
    for (const Repeated& u : foundTwice(report.unnamable, again.unnamable, valueKey, result.settled)) {
        const std::string object = "." + std::string(nwapi::StripRootSpelling(u.object));
        nwapi::RemoveSkippedValue(object, u.attribute, u.value) ? ++result.done : ++result.failed;
    }
    for (const Repeated& r : foundTwice(report.stray, again.stray, valueKey, result.settled))
        modify(r.object, {{r.attribute == GroupMembership ? GroupMembership : SecurityEquals, {true, false}}}, groupValue,
               r.attribute)
            ? ++result.done
            : ++result.failed;
    for (const RepairStep& s : foundTwice(planRepair(report), planRepair(again), stepKey, result.settled)) {
        const std::string userValue = "." + std::string(nwapi::StripRootSpelling(s.user));
        std::vector<std::pair<const char*, std::pair<bool, bool>>> own;
        // Folding repeated values: all copies out, one back in, in the same request.
        const bool keep = s.add;
        if (s.groupMembership || s.dedupe)
            own.push_back({GroupMembership, {!s.add || s.dedupe, keep}});
        if (s.securityEquals || s.dedupe)
            own.push_back({SecurityEquals, {!s.add || s.dedupe, keep}});
        bool ok = true;
        if (!own.empty()) ok = modify(s.user, own, groupValue, "Group Membership/Security Equals");
        if (ok && s.equivalentToMe) ok = modify(group, {{EquivalentToMe, {!s.add, s.add}}}, userValue, "Equivalent To Me");
        ok ? ++result.done : ++result.failed;
    }
    // Repeated values on the group's side.
    std::vector<Repeated> groupSide[2];
    for (int pass = 0; pass < 2; ++pass)
        for (const Repeated& r : (pass == 0 ? report : again).repeated)
            if (r.attribute == Member || r.attribute == EquivalentToMe) groupSide[pass].push_back(r);
    for (const Repeated& r : foundTwice(groupSide[0], groupSide[1], valueKey, result.settled)) {
        const std::string value = "." + std::string(nwapi::StripRootSpelling(r.value));
        modify(group, {{r.attribute == Member ? Member : EquivalentToMe, {true, true}}}, value, r.attribute) ? ++result.done
                                                                                                          : ++result.failed;
    }
    return result;
}

}  // namespace deny
