// A small in-memory tree for the client's tests: no SQLite, pages of a chosen size, modify
// applied whole or not at all, DN values kept as full-name texts.
#pragma once

#include "nwclient/backend.h"
#include "nwclient/syntax.h"

#include <algorithm>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace testsupport {

inline std::string lowerAscii(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
    return s;
}

inline std::string escapeComponent(const std::string& s) {
    std::string out;
    for (char c : s) {
        if (c == '.' || c == '\\') out += '\\';
        out += c;
    }
    return out;
}

class MemoryBackend : public nw::DirectoryBackend {
public:
    struct Object {
        nw::ObjectId parent = nw::ROOT_ID;
        std::string name;
        std::string baseClass;
        bool container = false;
        std::vector<nw::ObjectId> children;
        std::map<std::string, nw::Attribute> attributes;  // key: lower-case name
    };

    size_t pageSize = 37;  // deliberately not a divisor of anything
    std::string server = "TARVEL-SRV";
    std::map<std::string, uint32_t> schema = {
        {"member", nw::SYN_DIST_NAME}, {"group membership", nw::SYN_DIST_NAME},
        {"security equals", nw::SYN_DIST_NAME}, {"equivalent to me", nw::SYN_DIST_NAME},
        {"description", nw::SYN_CI_STRING}, {"object class", nw::SYN_CLASS_NAME}};
    int modifyCalls = 0;
    std::vector<nw::Change> lastChanges;

    MemoryBackend() { objects_[nw::ROOT_ID] = Object{nw::ROOT_ID, "", "Top", true, {}, {}}; }

    nw::ObjectId add(nw::ObjectId parent, const std::string& name, const std::string& baseClass,
                     bool container = false) {
        nw::ObjectId id = nextId_++;
        objects_[id] = Object{parent, name, baseClass, container, {}, {}};
        objects_[parent].children.push_back(id);
        return id;
    }
    void set(nw::ObjectId id, const std::string& name, uint32_t syntax, std::vector<nw::AttrValue> values) {
        objects_[id].attributes[lowerAscii(name)] = nw::Attribute{name, syntax, std::move(values)};
    }
    nw::AttrValue text(const std::string& s) {
        nw::AttrValue v;
        v.text = s;
        return v;
    }
    const Object& object(nw::ObjectId id) { return objects_.at(id); }
    std::vector<std::string> texts(nw::ObjectId id, const std::string& attribute) {
        std::vector<std::string> out;
        auto& attrs = objects_.at(id).attributes;
        auto it = attrs.find(lowerAscii(attribute));
        if (it != attrs.end())
            for (auto& v : it->second.values) out.push_back(v.text);
        return out;
    }
    std::string full(nw::ObjectId id) {
        std::string out;
        for (; id != nw::ROOT_ID; id = objects_.at(id).parent)
            out += (out.empty() ? "" : ".") + escapeComponent(objects_.at(id).name);
        return out;
    }

    std::string serverName() override { return server; }

    nw::NWDSCCODE resolve(const std::vector<std::string>& components, nw::ObjectId& id) override {
        id = nw::ROOT_ID;
        for (const std::string& c : components) {
            bool found = false;
            for (nw::ObjectId child : objects_[id].children)
                if (lowerAscii(objects_[child].name) == lowerAscii(c)) {
                    id = child;
                    found = true;
                    break;
                }
            if (!found) return nw::ERR_NO_SUCH_ENTRY;
        }
        return nw::SUCCESSFUL;
    }

    nw::NWDSCCODE describe(nw::ObjectId id, std::string& fullName, nw::ObjectSummary& summary) override {
        auto it = objects_.find(id);
        if (it == objects_.end()) return nw::ERR_NO_SUCH_ENTRY;
        fullName = full(id);
        summary = summaryOf(id, fullName);
        return nw::SUCCESSFUL;
    }

    nw::NWDSCCODE list(nw::ObjectId container, bool containersOnly,
                       std::unique_ptr<nw::ObjectCursor>& cursor) override {
        std::vector<nw::ObjectSummary> all;
        for (nw::ObjectId child : objects_.at(container).children)
            if (!containersOnly || objects_[child].container) all.push_back(summaryOf(child, objects_[child].name));
        cursor = std::make_unique<VectorCursor>(std::move(all), pageSize);
        return nw::SUCCESSFUL;
    }

    nw::NWDSCCODE search(nw::ObjectId base, const std::string& attribute, const std::string& value,
                         std::unique_ptr<nw::ObjectCursor>& cursor) override {
        if (lowerAscii(attribute) != "object class") return nw::ERR_INVALID_REQUEST;
        std::vector<nw::ObjectSummary> found;
        std::vector<nw::ObjectId> stack(objects_.at(base).children.rbegin(), objects_.at(base).children.rend());
        while (!stack.empty()) {
            nw::ObjectId id = stack.back();
            stack.pop_back();
            if (lowerAscii(objects_[id].baseClass) == lowerAscii(value)) found.push_back(summaryOf(id, full(id)));
            auto& ch = objects_[id].children;
            stack.insert(stack.end(), ch.rbegin(), ch.rend());
        }
        cursor = std::make_unique<VectorCursor>(std::move(found), pageSize);
        return nw::SUCCESSFUL;
    }

    nw::NWDSCCODE readAttribute(nw::ObjectId id, const std::string& attribute, nw::Attribute& out) override {
        auto& attrs = objects_.at(id).attributes;
        auto it = attrs.find(lowerAscii(attribute));
        if (it == attrs.end() || it->second.values.empty()) return nw::ERR_NO_SUCH_ATTRIBUTE;
        out = it->second;
        return nw::SUCCESSFUL;
    }

    nw::NWDSCCODE attributeSyntax(const std::string& attribute, uint32_t& syntax) override {
        auto it = schema.find(lowerAscii(attribute));
        if (it == schema.end()) return nw::ERR_NO_SUCH_ATTRIBUTE;
        syntax = it->second;
        return nw::SUCCESSFUL;
    }

    nw::NWDSCCODE modify(nw::ObjectId id, const std::vector<nw::Change>& changes) override {
        ++modifyCalls;
        lastChanges = changes;
        auto attrs = objects_.at(id).attributes;  // applied to a copy: all or nothing
        for (const nw::Change& ch : changes) {
            nw::Attribute& a = attrs[lowerAscii(ch.attribute)];
            if (a.name.empty()) a = nw::Attribute{ch.attribute, ch.syntax, {}};
            auto has = [&](const nw::AttrValue& v) {
                return std::any_of(a.values.begin(), a.values.end(),
                                   [&](const nw::AttrValue& x) { return lowerAscii(x.text) == lowerAscii(v.text); });
            };
            switch (ch.type) {
            case 0:  // add attribute
                if (!a.values.empty()) return nw::ERR_ATTRIBUTE_ALREADY_EXISTS;
                [[fallthrough]];
            case 2: case 4:
                for (auto& v : ch.values) {
                    if (has(v)) return nw::ERR_DUPLICATE_VALUE;
                    a.values.push_back(v);
                }
                break;
            case 1:
                a.values.clear();
                break;
            case 3:
                for (auto& v : ch.values) {
                    if (!has(v)) return nw::ERR_NO_SUCH_VALUE;
                    a.values.erase(std::find_if(a.values.begin(), a.values.end(), [&](const nw::AttrValue& x) {
                        return lowerAscii(x.text) == lowerAscii(v.text);
                    }));
                }
                break;
            default:
                return nw::ERR_INVALID_REQUEST;
            }
        }
        objects_.at(id).attributes = std::move(attrs);
        return nw::SUCCESSFUL;
    }

    nw::NWDSCCODE addSecurityEquivalence(nw::ObjectId user, nw::ObjectId group) override {
        nw::Change se{4, "Security Equals", nw::SYN_DIST_NAME, {text(full(group))}};
        nw::Change eq{4, "Equivalent To Me", nw::SYN_DIST_NAME, {text(full(user))}};
        for (auto& v : texts(user, "Security Equals"))
            if (lowerAscii(v) == lowerAscii(full(group))) return nw::ERR_DUPLICATE_VALUE;
        nw::NWDSCCODE rc = modify(user, {se});
        return rc ? rc : modify(group, {eq});
    }

    nw::NWDSCCODE removeSecurityEquivalence(nw::ObjectId user, nw::ObjectId group) override {
        nw::NWDSCCODE rc = modify(user, {nw::Change{3, "Security Equals", nw::SYN_DIST_NAME, {text(full(group))}}});
        return rc ? rc : modify(group, {nw::Change{3, "Equivalent To Me", nw::SYN_DIST_NAME, {text(full(user))}}});
    }

    nw::NWDSCCODE readStream(nw::ObjectId id, const std::string& attribute, std::string& contents) override {
        nw::Attribute a;
        if (nw::NWDSCCODE rc = readAttribute(id, attribute, a)) return rc;
        contents = a.values.front().bytes;
        return nw::SUCCESSFUL;
    }

    nw::NWCCODE serverDateTime(uint8_t dateTime[7]) override {
        const uint8_t fixed[7] = {126, 12, 7, 8, 0, 0, 1};
        std::copy(fixed, fixed + 7, dateTime);
        return 0;
    }
    std::vector<nw::VolumeInfo> volumes() override { return {}; }
    nw::NWCCODE effectiveRights(const std::string&, const std::string&, uint16_t& rights) override {
        rights = 0;
        return nw::INVALID_PATH;
    }

private:
    class VectorCursor : public nw::ObjectCursor {
    public:
        VectorCursor(std::vector<nw::ObjectSummary> all, size_t page) : all_(std::move(all)), page_(page) {}
        nw::NWDSCCODE next(std::vector<nw::ObjectSummary>& page) override {
            page.clear();
            for (; pos_ < all_.size() && page.size() < page_; ++pos_) page.push_back(all_[pos_]);
            return nw::SUCCESSFUL;
        }

    private:
        std::vector<nw::ObjectSummary> all_;
        size_t page_;
        size_t pos_ = 0;
    };

    nw::ObjectSummary summaryOf(nw::ObjectId id, const std::string& name) {
        const Object& o = objects_[id];
        nw::ObjectSummary s;
        s.id = id;
        s.name = name;
        s.baseClass = o.baseClass;
        s.flags = o.container ? 0x04u : 0u;
        s.subordinateCount = uint32_t(o.children.size());
        s.modificationTime = 1700000000;
        return s;
    }

    std::map<nw::ObjectId, Object> objects_;
    nw::ObjectId nextId_ = 1;
};

}  // namespace testsupport
