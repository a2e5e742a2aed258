// Listing a container and searching a subtree: object entries in 4096-byte replies, batches
// through the iteration handle, and the search filter.
#include "nwclient/client_state.h"
#include "nwclient/names.h"
#include "nwclient/values.h"
#include "nwclient/wire.h"

#include <cstring>

namespace nw {

namespace {

std::string entryName(const ObjectSummary& o, Iteration::Kind kind) {
    // Listings hand out the object's own name, searches the full name the backend built.
    return kind == Iteration::Kind::List ? names::escape(o.name) : o.name;
}

size_t entrySize(const std::string& name, const ObjectSummary& o) {
    return wire::textSize(name.size()) + 12 + wire::textSize(o.baseClass.size()) + 4;
}

// Takes the next page from the cursor into pending; false at the end or on failure (then rc).
bool fetch(Iteration& it, NWDSCCODE& rc) {
    std::vector<ObjectSummary> page;
    rc = it.cursor->next(page);
    if (rc != SUCCESSFUL || page.empty()) {
        it.cursorDone = true;
        return false;
    }
    for (ObjectSummary& o : page) it.pending.push_back(std::move(o));
    return true;
}

// Fills the reply with as many entries as fit. Returns the status of the call; *more tells
// whether another reply follows.
NWDSCCODE fillEntries(Iteration& it, Buf_T* reply, bool& more) {
    startReply(reply, it.kind == Iteration::Kind::List ? BufContent::ListReply : BufContent::SearchReply);
    more = false;
    if (it.deferred != SUCCESSFUL) return it.deferred;
    wire::Writer w(reply->data);
    uint32_t count = 0;
    while (true) {
        if (it.pending.empty() && !it.cursorDone) {
            NWDSCCODE rc = SUCCESSFUL;
            if (!fetch(it, rc) && rc != SUCCESSFUL) {
                if (count == 0) return rc;
                it.deferred = rc;  // the entries so far go out; the failure comes with the next call
                more = true;
                break;
            }
        }
        if (it.pending.empty()) break;
        const ObjectSummary& o = it.pending.front();
        std::string name = entryName(o, it.kind);
        if (w.size() + entrySize(name, o) > reply->capacity) {
            if (count == 0) return ERR_INSUFFICIENT_BUFFER;
            break;
        }
        w.text(name);
        w.u32(o.flags);
        w.u32(o.subordinateCount);
        w.u32(o.modificationTime);
        w.text(o.baseClass);
        w.u32(0);  // attribute count: entries carry no attribute data
        ++count;
        it.pending.pop_front();
    }
    w.patchU32(0, count);
    if (!more) {
        if (it.pending.empty() && !it.cursorDone) {
            // Look ahead so the last reply already says that none follows.
            NWDSCCODE rc = SUCCESSFUL;
            if (!fetch(it, rc) && rc != SUCCESSFUL) it.deferred = rc;
        }
        more = !it.pending.empty() || it.deferred != SUCCESSFUL;
    }
    return SUCCESSFUL;
}

NWDSCCODE listImpl(NWDSContextHandle context, const char* objectName, int32_t* iterationHandle, Buf_T* reply,
                   bool containersOnly) {
    ContextState* c = findContext(context);
    if (!c) return ERR_BAD_CONTEXT;
    return runIteration(
        context, Iteration::Kind::List, iterationHandle, reply,
        [&](Iteration& it) {
            ObjectId id = ROOT_ID;
            if (NWDSCCODE rc = resolveName(*c, objectName, id)) return rc;
            return state().backend->list(id, containersOnly, it.cursor);
        },
        fillEntries);
}

bool isEntryReply(const Buf_T* b) {
    return b->content == BufContent::ListReply || b->content == BufContent::SearchReply;
}

// Skips the attribute data of a search entry that the caller did not read.
bool skipAttributes(Buf_T* b) {
    wire::Reader r(b->data.data(), b->data.size(), b->pos);
    if (!r.skipValues(b->valuesLeft)) return false;
    for (; b->attrsLeftInEntry; --b->attrsLeftInEntry) {
        std::string name;
        uint32_t syntax = 0, values = 0;
        if (!r.text(name) || !r.u32(syntax) || !r.u32(values) || !r.skipValues(values)) return false;
    }
    b->pos = r.pos();
    return true;
}

}  // namespace

std::string NWDSIncompleteDetail() { return state().backend ? state().backend->problemDetail() : std::string(); }

NWDSCCODE NWDSList(NWDSContextHandle context, const char* objectName, int32_t* iterationHandle, Buf_T* subordinates) {
    return listImpl(context, objectName, iterationHandle, subordinates, false);
}

NWDSCCODE NWDSListContainers(NWDSContextHandle context, const char* objectName, int32_t* iterationHandle,
                             Buf_T* subordinates) {
    return listImpl(context, objectName, iterationHandle, subordinates, true);
}

NWDSCCODE NWDSGetObjectCount(NWDSContextHandle context, Buf_T* buffer, uint32_t* objectCount) {
    if (!findContext(context)) return ERR_BAD_CONTEXT;
    if (!validBuffer(buffer) || !objectCount) return ERR_NULL_POINTER;
    if (!isEntryReply(buffer)) return ERR_BAD_VERB;
    return readCountField(buffer, *objectCount);
}

NWDSCCODE NWDSGetObjectName(NWDSContextHandle context, Buf_T* buffer, char* objectName, uint32_t* attrCount,
                            Object_Info_T* info) {
    if (!findContext(context)) return ERR_BAD_CONTEXT;
    if (!validBuffer(buffer) || !objectName) return ERR_NULL_POINTER;
    if (!isEntryReply(buffer)) return ERR_BAD_VERB;
    if (!buffer->countRead) {
        uint32_t ignored = 0;
        if (NWDSCCODE rc = NWDSGetObjectCount(context, buffer, &ignored)) return rc;
    }
    if (!skipAttributes(buffer)) return ERR_INVALID_SERVER_RESPONSE;
    if (buffer->itemsLeft == 0) return ERR_BUFFER_EMPTY;
    wire::Reader r(buffer->data.data(), buffer->data.size(), buffer->pos);
    std::string name, baseClass;
    uint32_t flags = 0, subordinates = 0, modified = 0, attributes = 0;
    if (!r.text(name) || !r.u32(flags) || !r.u32(subordinates) || !r.u32(modified) || !r.text(baseClass) ||
        !r.u32(attributes))
        return ERR_BUFFER_EMPTY;
    if (name.size() >= MAX_DN_BYTES) return ERR_DN_TOO_LONG;  // never cut a name
    buffer->pos = r.pos();
    --buffer->itemsLeft;
    buffer->attrsLeftInEntry = attributes;
    std::memcpy(objectName, name.c_str(), name.size() + 1);
    if (attrCount) *attrCount = attributes;
    if (info) {
        info->objectFlags = flags;
        info->subordinateCount = subordinates;
        info->modificationTime = modified;
        copyBounded(info->baseClass, sizeof info->baseClass, baseClass);
    }
    return SUCCESSFUL;
}

// ---- search filter -------------------------------------------------------------------------

NWDSCCODE NWDSAllocFilter(Filter_Cursor_T** cursor) {
    if (!cursor) return ERR_NULL_POINTER;
    auto* f = new Filter_Cursor_T;
    state().filters.insert(f);
    *cursor = f;
    return SUCCESSFUL;
}

NWDSCCODE NWDSAddFilterToken(Filter_Cursor_T* cursor, uint32_t token, const void* value, uint32_t syntax) {
    if (!cursor || !state().filters.count(cursor)) return ERR_NULL_POINTER;
    Filter_Cursor_T::Token t{token, syntax, {}, const_cast<void*>(value)};
    if (token == FTOK_ANAME || token == FTOK_AVAL) {
        if (!value) return ERR_NULL_POINTER;
        // Values are compared as texts; a value of another syntax cannot be read as one.
        if (token == FTOK_AVAL && !values::isTextSyntax(syntax)) return ERR_INVALID_FILTER_SYNTAX;
        std::string text;
        if (NWDSCCODE rc = callerName(static_cast<const char*>(value), text)) return rc;
        t.value = std::move(text);
    }
    cursor->tokens.push_back(std::move(t));
    return SUCCESSFUL;
}

NWDSCCODE NWDSFreeFilter(Filter_Cursor_T* cursor, void (*freeValue)(uint32_t, void*)) {
    if (!cursor) return ERR_NULL_POINTER;
    if (!state().filters.erase(cursor)) return ERR_INVALID_HANDLE;  // already freed (by NWDSPutFilter)
    if (freeValue)
        for (auto& t : cursor->tokens)
            if (t.original && (t.token == FTOK_ANAME || t.token == FTOK_AVAL)) freeValue(t.syntax, t.original);
    delete cursor;
    return SUCCESSFUL;
}

NWDSCCODE NWDSPutFilter(NWDSContextHandle context, Buf_T* buffer, Filter_Cursor_T* cursor,
                        void (*freeValue)(uint32_t, void*)) {
    if (!cursor || !state().filters.count(cursor)) return ERR_NULL_POINTER;
    // The filter cursor is used up here, whatever the outcome, as a NetWare client does.
    std::vector<Filter_Cursor_T::Token> tokens = cursor->tokens;
    NWDSFreeFilter(cursor, freeValue);
    if (!findContext(context)) return ERR_BAD_CONTEXT;
    if (!validBuffer(buffer)) return ERR_NULL_POINTER;
    if (buffer->content != BufContent::Filter) return ERR_BAD_VERB;
    // The one filter this client evaluates: attribute equals value.
    if (!tokens.empty() && tokens.back().token == FTOK_END) tokens.pop_back();
    if (tokens.size() != 3 || tokens[0].token != FTOK_ANAME || tokens[1].token != FTOK_EQ ||
        tokens[2].token != FTOK_AVAL || tokens[0].value.empty())
        return ERR_INVALID_FILTER_SYNTAX;
    std::vector<uint8_t> data;
    wire::Writer w(data);
    w.u32(uint32_t(tokens.size() + 1));
    for (const auto& t : tokens) {
        w.u32(t.token);
        w.u32(t.syntax);
        if (t.token == FTOK_ANAME || t.token == FTOK_AVAL) w.text(t.value);
    }
    w.u32(FTOK_END);
    w.u32(0);
    if (data.size() > buffer->capacity) return ERR_BUFFER_FULL;
    buffer->data = std::move(data);
    return SUCCESSFUL;
}

namespace {

NWDSCCODE readFilter(const Buf_T* filter, std::string& attribute, std::string& value) {
    if (!validBuffer(filter)) return ERR_NULL_POINTER;
    if (filter->content != BufContent::Filter) return ERR_BAD_VERB;
    wire::Reader r(filter->data.data(), filter->data.size());
    uint32_t count = 0, token = 0, syntax = 0;
    if (!r.u32(count) || count != 4) return ERR_INVALID_FILTER_SYNTAX;
    if (!r.u32(token) || token != FTOK_ANAME || !r.u32(syntax) || !r.text(attribute)) return ERR_INVALID_FILTER_SYNTAX;
    if (!r.u32(token) || token != FTOK_EQ || !r.u32(syntax)) return ERR_INVALID_FILTER_SYNTAX;
    if (!r.u32(token) || token != FTOK_AVAL || !r.u32(syntax) || !r.text(value)) return ERR_INVALID_FILTER_SYNTAX;
    return SUCCESSFUL;
}

// Search replies carry names only: the attribute list may be absent or hold empty names.
NWDSCCODE checkNoAttributes(uint8_t allAttrs, const Buf_T* attrNames) {
    if (allAttrs) return ERR_INVALID_REQUEST;
    if (!attrNames) return SUCCESSFUL;
    std::vector<std::string> names;
    if (NWDSCCODE rc = readRequestNames(attrNames, BufContent::SearchRequest, names)) return rc;
    for (const std::string& name : names)
        if (!name.empty()) return ERR_INVALID_REQUEST;
    return SUCCESSFUL;
}

}  // namespace

NWDSCCODE NWDSSearch(NWDSContextHandle context, const char* baseObjectName, int scope, uint8_t, Buf_T* filter,
                     uint32_t, uint8_t allAttrs, Buf_T* attrNames, int32_t* iterationHandle, int32_t,
                     int32_t* countObjectsSearched, Buf_T* objectInfo) {
    ContextState* c = findContext(context);
    if (!c) return ERR_BAD_CONTEXT;
    NWDSCCODE rc = runIteration(
        context, Iteration::Kind::Search, iterationHandle, objectInfo,
        [&](Iteration& it) {
            if (scope != DS_SEARCH_SUBTREE) return ERR_INVALID_REQUEST;
            std::string attribute, value;
            if (NWDSCCODE r = readFilter(filter, attribute, value)) return r;
            if (NWDSCCODE r = checkNoAttributes(allAttrs, attrNames)) return r;
            ObjectId base = ROOT_ID;
            if (NWDSCCODE r = resolveName(*c, baseObjectName, base)) return r;
            return state().backend->search(base, attribute, value, it.cursor);
        },
        fillEntries);
    if (countObjectsSearched) {
        uint32_t n = 0;
        if (rc == SUCCESSFUL) std::memcpy(&n, objectInfo->data.data(), 4);
        *countObjectsSearched = int32_t(n);
    }
    return rc;
}

}  // namespace nw
