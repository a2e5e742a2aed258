// Reading an object: attribute values in 4096-byte replies (continued through the iteration
// handle), value blocks, streams, name-to-id and object information.
#include "nwclient/client_state.h"
#include "nwclient/values.h"
#include "nwclient/wire.h"

#include <cstring>
#include <cerrno>
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

namespace nw {

namespace {

// Fills a read reply: attribute headers and as many values as fit; an attribute whose values
// do not all fit goes on in the next reply under the same name. *more tells whether one follows.
NWDSCCODE fillAttributes(Iteration& it, Buf_T* reply, bool& more) {
    startReply(reply, BufContent::ReadReply);
    wire::Writer w(reply->data);
    uint32_t count = 0;
    while (it.attrIndex < it.attributes.size()) {
        const Attribute& a = it.attributes[it.attrIndex];
        size_t header = wire::textSize(a.name.size()) + 8;
        if (w.size() + header > reply->capacity) {
            if (count == 0) return ERR_INSUFFICIENT_BUFFER;
            break;
        }
        size_t start = w.size();
        w.text(a.name);
        w.u32(a.syntax);
        size_t countPos = w.size();
        w.u32(0);
        uint32_t values = 0;
        if (!it.namesOnly) {
            while (it.valueIndex < a.values.size()) {
                std::vector<uint8_t> enc = values::encode(a.syntax, a.values[it.valueIndex]);
                if (w.size() + 4 + wire::padded(enc.size()) > reply->capacity) break;
                w.u32(uint32_t(enc.size()));
                w.bytes(std::string_view(reinterpret_cast<const char*>(enc.data()), enc.size()));
                ++values;
                ++it.valueIndex;
            }
        }
        if (values == 0 && !it.namesOnly && it.valueIndex < a.values.size()) {
            reply->data.resize(start);
            if (count == 0) return ERR_INSUFFICIENT_BUFFER;  // one value larger than the whole reply
            break;
        }
        w.patchU32(countPos, values);
        ++count;
        if (it.namesOnly || it.valueIndex >= a.values.size()) {
            ++it.attrIndex;
            it.valueIndex = 0;
        } else {
            break;  // the rest of this attribute's values go into the next reply
        }
    }
    w.patchU32(0, count);
    more = it.attrIndex < it.attributes.size();
    return SUCCESSFUL;
}

bool isReadReply(const Buf_T* b) {
    return b->content == BufContent::ReadReply || b->content == BufContent::SearchReply;
}

// Decodes the next value of the current attribute without moving on; next is where the one
// after it starts.
NWDSCCODE peekValue(Buf_T* b, uint32_t syntax, AttrValue& value, size_t& next) {
    if (b->valuesLeft == 0) return ERR_BUFFER_EMPTY;
    if (syntax != b->currentSyntax) return ERR_BAD_SYNTAX;
    wire::Reader r(b->data.data(), b->data.size(), b->pos);
    uint32_t len = 0;
    if (!r.u32(len) || wire::padded(len) > r.remaining()) return ERR_BUFFER_EMPTY;
    if (!values::decode(syntax, b->data.data() + r.pos(), len, value)) return ERR_INVALID_SERVER_RESPONSE;
    next = r.pos() + wire::padded(len);
    return SUCCESSFUL;
}

}  // namespace

NWDSCCODE NWDSPutAttrName(NWDSContextHandle context, Buf_T* buffer, const char* attributeName) {
    if (!findContext(context)) return ERR_BAD_CONTEXT;
    if (!validBuffer(buffer)) return ERR_NULL_POINTER;
    if (buffer->content != BufContent::ReadRequest && buffer->content != BufContent::SearchRequest)
        return ERR_BAD_VERB;
    std::string name;
    if (NWDSCCODE rc = checkSchemaName(attributeName, name)) return rc;
    if (buffer->data.size() + wire::textSize(name.size()) > buffer->capacity) return ERR_BUFFER_FULL;
    wire::Writer w(buffer->data);
    w.text(name);
    uint32_t count = 0;
    std::memcpy(&count, buffer->data.data(), 4);
    w.patchU32(0, count + 1);
    return SUCCESSFUL;
}

NWDSCCODE NWDSRead(NWDSContextHandle context, const char* objectName, uint32_t infoType, uint8_t allAttrs,
                   Buf_T* attrNames, int32_t* iterationHandle, Buf_T* objectInfo) {
    ContextState* c = findContext(context);
    if (!c) return ERR_BAD_CONTEXT;
    return runIteration(
        context, Iteration::Kind::Read, iterationHandle, objectInfo,
        [&](Iteration& fresh) {
            if (!state().backend) return ERR_NO_CONNECTION;
            if (infoType != DS_ATTRIBUTE_NAMES && infoType != DS_ATTRIBUTE_VALUES) return ERR_INVALID_REQUEST;
            // The backend reads attributes by name only.
            if (allAttrs) return ERR_INVALID_REQUEST;
            std::vector<std::string> wanted;
            if (NWDSCCODE rc = readRequestNames(attrNames, BufContent::ReadRequest, wanted)) return rc;
            ObjectId id = ROOT_ID;
            if (NWDSCCODE rc = resolveName(*c, objectName, id)) return rc;
            for (const std::string& name : wanted) {
                Attribute a;
                NWDSCCODE rc = state().backend->readAttribute(id, name, a);
                if (rc == ERR_NO_SUCH_ATTRIBUTE || (rc == SUCCESSFUL && a.values.empty())) continue;
                if (rc != SUCCESSFUL) return rc;
                fresh.attributes.push_back(std::move(a));
            }
            if (fresh.attributes.empty()) return ERR_NO_SUCH_ATTRIBUTE;
            fresh.namesOnly = infoType == DS_ATTRIBUTE_NAMES;
            return SUCCESSFUL;
        },
        fillAttributes);
}

NWDSCCODE NWDSGetAttrCount(NWDSContextHandle context, Buf_T* buffer, uint32_t* attrCount) {
    if (!findContext(context)) return ERR_BAD_CONTEXT;
    if (!validBuffer(buffer) || !attrCount) return ERR_NULL_POINTER;
    if (buffer->content == BufContent::SearchReply) {
        // The attributes of the entry just read by NWDSGetObjectName.
        *attrCount = buffer->attrsLeftInEntry;
        return SUCCESSFUL;
    }
    if (buffer->content != BufContent::ReadReply) return ERR_BAD_VERB;
    return readCountField(buffer, *attrCount);
}

NWDSCCODE NWDSGetAttrName(NWDSContextHandle context, Buf_T* buffer, char* attrName, uint32_t* attrValCount,
                          uint32_t* syntaxID) {
    if (!findContext(context)) return ERR_BAD_CONTEXT;
    if (!validBuffer(buffer) || !attrName) return ERR_NULL_POINTER;
    if (!isReadReply(buffer)) return ERR_BAD_VERB;
    uint32_t* left = &buffer->itemsLeft;
    if (buffer->content == BufContent::SearchReply) {
        left = &buffer->attrsLeftInEntry;
    } else if (!buffer->countRead) {
        uint32_t ignored = 0;
        if (NWDSCCODE rc = NWDSGetAttrCount(context, buffer, &ignored)) return rc;
    }
    wire::Reader r(buffer->data.data(), buffer->data.size(), buffer->pos);
    // Values of the previous attribute that the caller left unread.
    if (!r.skipValues(buffer->valuesLeft)) return ERR_BUFFER_EMPTY;
    if (*left == 0) return ERR_BUFFER_EMPTY;
    std::string name;
    uint32_t syntax = 0, count = 0;
    if (!r.text(name) || !r.u32(syntax) || !r.u32(count)) return ERR_BUFFER_EMPTY;
    if (name.size() >= MAX_SCHEMA_NAME_BYTES) return ERR_SCHEMA_NAME_TOO_LONG;
    buffer->pos = r.pos();
    --*left;
    buffer->valuesLeft = count;
    buffer->currentSyntax = syntax;
    std::memcpy(attrName, name.c_str(), name.size() + 1);
    if (attrValCount) *attrValCount = count;
    if (syntaxID) *syntaxID = syntax;
    return SUCCESSFUL;
}

NWDSCCODE NWDSComputeAttrValSize(NWDSContextHandle context, Buf_T* buffer, uint32_t syntaxID, uint32_t* attrValSize) {
    if (!findContext(context)) return ERR_BAD_CONTEXT;
    if (!validBuffer(buffer) || !attrValSize) return ERR_NULL_POINTER;
    if (!isReadReply(buffer)) return ERR_BAD_VERB;
    AttrValue value;
    size_t next = 0;
    if (NWDSCCODE rc = peekValue(buffer, syntaxID, value, next)) return rc;
    *attrValSize = uint32_t(values::blockSize(syntaxID, value));
    return SUCCESSFUL;
}

NWDSCCODE NWDSGetAttrVal(NWDSContextHandle context, Buf_T* buffer, uint32_t syntaxID, void* attrVal) {
    if (!findContext(context)) return ERR_BAD_CONTEXT;
    if (!validBuffer(buffer)) return ERR_NULL_POINTER;
    if (!isReadReply(buffer)) return ERR_BAD_VERB;
    AttrValue value;
    size_t next = 0;
    if (NWDSCCODE rc = peekValue(buffer, syntaxID, value, next)) return rc;
    if (!attrVal && values::blockSize(syntaxID, value) > 0) return ERR_NULL_POINTER;
    if (attrVal) values::writeBlock(syntaxID, value, attrVal);
    buffer->pos = next;
    --buffer->valuesLeft;
    return SUCCESSFUL;
}

NWDSCCODE NWDSOpenStream(NWDSContextHandle context, const char* objectName, const char* attrName, uint32_t flags,
                         int* fileHandle) {
    ContextState* c = findContext(context);
    if (!c) return ERR_BAD_CONTEXT;
    if (!fileHandle) return ERR_NULL_POINTER;
    if (flags != DS_READ_STREAM) return ERR_INVALID_REQUEST;  // this client only reads streams
    std::string attribute;
    if (NWDSCCODE rc = checkSchemaName(attrName, attribute)) return rc;
    ObjectId id = ROOT_ID;
    if (NWDSCCODE rc = resolveName(*c, objectName, id)) return rc;
    std::string contents;
    if (NWDSCCODE rc = state().backend->readStream(id, attribute, contents)) return rc;
    // A memory file rather than a pipe: a pipe stalls at its capacity and reads may come back
    // short, while the caller reads the whole stream with one read.
    int fd = memfd_create("tarvel-stream", MFD_CLOEXEC);
    if (fd < 0) {
        char pattern[] = "/tmp/tarvel-stream-XXXXXX";
        fd = mkostemp(pattern, O_CLOEXEC);
        if (fd < 0) return ERR_SYSTEM_ERROR;
        unlink(pattern);
    }
    size_t written = 0;
    while (written < contents.size()) {
        ssize_t n = write(fd, contents.data() + written, contents.size() - written);
        if (n < 0) {
            if (errno == EINTR) continue;
            close(fd);
            return ERR_SYSTEM_ERROR;
        }
        written += size_t(n);
    }
    if (lseek(fd, 0, SEEK_SET) != 0) {
        close(fd);
        return ERR_SYSTEM_ERROR;
    }
    *fileHandle = fd;
    return SUCCESSFUL;
}

NWDSCCODE NWDSMapNameToID(NWDSContextHandle context, NWCONN_HANDLE, const char* objectName, uint32_t* objectID) {
    ContextState* c = findContext(context);
    if (!c) return ERR_BAD_CONTEXT;
    if (!objectID) return ERR_NULL_POINTER;
    ObjectId id = ROOT_ID;
    if (NWDSCCODE rc = resolveName(*c, objectName, id)) return rc;
    *objectID = uint32_t(id);
    return SUCCESSFUL;
}

NWDSCCODE NWDSReadObjectInfo(NWDSContextHandle context, const char* objectName, char* distinguishedName,
                             Object_Info_T* info) {
    ContextState* c = findContext(context);
    if (!c) return ERR_BAD_CONTEXT;
    if (!distinguishedName) return ERR_NULL_POINTER;
    ObjectId id = ROOT_ID;
    if (NWDSCCODE rc = resolveName(*c, objectName, id)) return rc;
    std::string fullName;
    ObjectSummary summary;
    if (NWDSCCODE rc = state().backend->describe(id, fullName, summary)) return rc;
    if (fullName.empty()) fullName = "[root]";
    if (fullName.size() >= MAX_DN_BYTES) return ERR_DN_TOO_LONG;
    std::memcpy(distinguishedName, fullName.c_str(), fullName.size() + 1);
    if (info) {
        info->objectFlags = summary.flags;
        info->subordinateCount = summary.subordinateCount;
        info->modificationTime = summary.modificationTime;
        copyBounded(info->baseClass, sizeof info->baseClass, summary.baseClass);
    }
    return SUCCESSFUL;
}

}  // namespace nw
