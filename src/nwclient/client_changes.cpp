// Changing an object: change records and values in a 4096-byte request, the modify call that
// applies them whole, and security equivalence.
#include "nwclient/client_state.h"
#include "nwclient/syntax.h"
#include "nwclient/values.h"
#include "nwclient/wire.h"

#include <cstring>

namespace nw {

namespace {

uint32_t readU32(const Buf_T* b, size_t pos) {
    uint32_t v = 0;
    wire::Reader r(b->data.data(), b->data.size(), pos);
    r.u32(v);
    return v;
}

// A name inside a value, resolved in the context and replaced by the object's full name, so
// the directory stores a reference to an existing object.
NWDSCCODE canonicalName(const ContextState& context, std::string& name) {
    ObjectId id = ROOT_ID;
    if (NWDSCCODE rc = resolveName(context, name.c_str(), id)) return rc;
    std::string full;
    if (NWDSCCODE rc = state().backend->fullNameOf(id, full)) return rc;
    name = full;
    return SUCCESSFUL;
}

NWDSCCODE decodeRequest(const ContextState& context, const Buf_T* b, std::vector<Change>& changes) {
    wire::Reader r(b->data.data(), b->data.size());
    uint32_t count = 0;
    if (!r.u32(count)) return ERR_BUFFER_EMPTY;
    for (uint32_t i = 0; i < count; ++i) {
        Change ch;
        uint32_t values = 0;
        if (!r.u32(ch.type) || !r.text(ch.attribute) || !r.u32(values)) return ERR_INVALID_REQUEST;
        bool syntaxKnown = false;
        for (uint32_t v = 0; v < values; ++v) {
            uint32_t syntax = 0, len = 0;
            if (!r.u32(syntax) || !r.u32(len) || wire::padded(len) > r.remaining()) return ERR_INVALID_REQUEST;
            AttrValue value;
            if (!values::decode(syntax, b->data.data() + r.pos(), len, value)) return ERR_INVALID_REQUEST;
            r.skip(len);
            if (syntaxKnown && syntax != ch.syntax) return ERR_SYNTAX_VIOLATION;
            ch.syntax = syntax;
            syntaxKnown = true;
            if (values::isNameSyntax(syntax)) {
                if (NWDSCCODE rc = canonicalName(context, value.text)) return rc;
            } else if (syntax == SYN_OBJECT_ACL) {
                if (NWDSCCODE rc = canonicalName(context, value.text2)) return rc;
            }
            ch.values.push_back(std::move(value));
        }
        if (!syntaxKnown) {
            uint32_t syntax = 0;
            if (state().backend->attributeSyntax(ch.attribute, syntax) == SUCCESSFUL) ch.syntax = syntax;
        }
        changes.push_back(std::move(ch));
    }
    return SUCCESSFUL;
}

NWDSCCODE equivalence(NWDSContextHandle context, const char* userName, const char* groupName, bool add) {
    ContextState* c = findContext(context);
    if (!c) return ERR_BAD_CONTEXT;
    ObjectId user = ROOT_ID, group = ROOT_ID;
    if (NWDSCCODE rc = resolveName(*c, userName, user)) return rc;
    if (NWDSCCODE rc = resolveName(*c, groupName, group)) return rc;
    return add ? state().backend->addSecurityEquivalence(user, group)
               : state().backend->removeSecurityEquivalence(user, group);
}

}  // namespace

NWDSCCODE NWDSPutChange(NWDSContextHandle context, Buf_T* buffer, uint32_t changeType, const char* attributeName) {
    if (!findContext(context)) return ERR_BAD_CONTEXT;
    if (!validBuffer(buffer) || !attributeName) return ERR_NULL_POINTER;
    if (buffer->content != BufContent::ModifyRequest) return ERR_BAD_VERB;
    if (changeType > DS_ADDITIONAL_VALUE) return ERR_INVALID_REQUEST;
    std::string attribute;
    if (NWDSCCODE rc = checkSchemaName(attributeName, attribute)) return rc;
    if (buffer->data.size() + 4 + wire::textSize(attribute.size()) + 4 > buffer->capacity) return ERR_BUFFER_FULL;
    wire::Writer w(buffer->data);
    w.u32(changeType);
    w.text(attribute);
    buffer->valueCountPos = w.size();
    w.u32(0);
    w.patchU32(0, readU32(buffer, 0) + 1);
    return SUCCESSFUL;
}

NWDSCCODE NWDSPutAttrVal(NWDSContextHandle context, Buf_T* buffer, uint32_t syntaxID, const void* attrVal) {
    ContextState* c = findContext(context);
    if (!c) return ERR_BAD_CONTEXT;
    if (!validBuffer(buffer)) return ERR_NULL_POINTER;
    if (buffer->content != BufContent::ModifyRequest || buffer->valueCountPos == 0) return ERR_BAD_VERB;
    AttrValue value;
    if (NWDSCCODE rc = values::fromCaller(syntaxID, attrVal, value)) return rc;
    if (values::isNameSyntax(syntaxID)) {
        // Checked here already so that a name too long is refused where it is put, never cut.
        std::vector<std::string> ignored;
        if (NWDSCCODE rc = componentsOf(*c, value.text.c_str(), ignored)) return rc;
    }
    std::vector<uint8_t> enc = values::encode(syntaxID, value);
    if (buffer->data.size() + 8 + wire::padded(enc.size()) > buffer->capacity) return ERR_BUFFER_FULL;
    wire::Writer w(buffer->data);
    w.u32(syntaxID);
    w.u32(uint32_t(enc.size()));
    w.bytes(std::string_view(reinterpret_cast<const char*>(enc.data()), enc.size()));
    w.patchU32(buffer->valueCountPos, readU32(buffer, buffer->valueCountPos) + 1);
    return SUCCESSFUL;
}

NWDSCCODE NWDSModifyObject(NWDSContextHandle context, const char* objectName, int32_t* iterationHandle, uint8_t,
                           Buf_T* changes) {
    ContextState* c = findContext(context);
    if (!c) return ERR_BAD_CONTEXT;
    if (!validBuffer(changes)) return ERR_NULL_POINTER;
    if (changes->content != BufContent::ModifyRequest) return ERR_BAD_VERB;
    if (iterationHandle) *iterationHandle = NO_MORE_ITERATIONS;  // one request is always whole
    ObjectId id = ROOT_ID;
    if (NWDSCCODE rc = resolveName(*c, objectName, id)) return rc;
    std::vector<Change> list;
    if (NWDSCCODE rc = decodeRequest(*c, changes, list)) return rc;
    return state().backend->modify(id, list);
}

NWDSCCODE NWDSAddSecurityEquiv(NWDSContextHandle context, const char* userName, const char* groupName) {
    return equivalence(context, userName, groupName, true);
}

NWDSCCODE NWDSRemSecurityEquiv(NWDSContextHandle context, const char* userName, const char* groupName) {
    return equivalence(context, userName, groupName, false);
}

}  // namespace nw

namespace nw {

namespace {

// The group and the users of a batch call: all names in one batch (a server backend asks for
// them together, not one after the other), every one resolved before anything is sent.
NWDSCCODE resolveBatch(NWDSContextHandle context, const char* groupName, const std::vector<std::string>& userNames,
                       const std::function<void(size_t, NWDSCCODE)>& answer, ObjectId& group,
                       std::vector<ObjectId>& users) {
    ContextState* c = findContext(context);
    if (!c) return ERR_BAD_CONTEXT;
    if (!groupName) return ERR_NULL_POINTER;
    if (NWDSCCODE rc = resolveName(*c, groupName, group)) return rc;
    // The split names go before the change, which keeps its own per-user state.
    std::vector<NWDSCCODE> statuses;
    {
        std::vector<std::vector<std::string>> components(userNames.size());
        for (size_t i = 0; i < userNames.size(); ++i) {
            if (NWDSCCODE rc = componentsOf(*c, userNames[i].c_str(), components[i])) {
                if (answer) answer(i, rc);
                return rc;
            }
        }
        state().backend->resolveMany(components, users, statuses);
    }
    for (size_t i = 0; i < userNames.size(); ++i) {
        if (statuses[i] != SUCCESSFUL) {
            if (answer) answer(i, statuses[i]);
            return statuses[i];
        }
    }
    return SUCCESSFUL;
}

}  // namespace

NWDSCCODE NWDSChangeMembersOfGroup(NWDSContextHandle context, const char* groupName, bool add,
                                   const std::vector<std::string>& userNames,
                                   const std::function<void(size_t, NWDSCCODE)>& answer,
                                   const std::function<bool()>& cancel) {
    ObjectId group = ROOT_ID;
    std::vector<ObjectId> users;
    if (NWDSCCODE rc = resolveBatch(context, groupName, userNames, answer, group, users)) return rc;
    return state().backend->changeMembers(group, add, users, answer, cancel);
}

NWDSCCODE NWDSChangeUserSidesOfGroup(NWDSContextHandle context, const char* groupName, bool add,
                                     const std::vector<std::string>& userNames,
                                     const std::function<void(size_t, NWDSCCODE)>& answer,
                                     const std::function<bool()>& cancel) {
    ObjectId group = ROOT_ID;
    std::vector<ObjectId> users;
    if (NWDSCCODE rc = resolveBatch(context, groupName, userNames, answer, group, users)) return rc;
    return state().backend->changeUserSides(group, add, users, answer, cancel);
}

}  // namespace nw

namespace nw {

uint32_t NWDSMembershipPlaces() { return state().backend ? state().backend->membershipPlaces() : PLACES_ALL; }

std::string NWDSLoginAttribute() { return state().backend ? state().backend->loginAttribute() : "CN"; }

}  // namespace nw
