// Library set-up, configuration, the primary connection, context handles and buffers.
#include "nwclient/client_setup.h"
#include "nwclient/client_state.h"
#include "nwclient/ldap/ldap_diagnostics.h"
#include "nwclient/names.h"
#include "nwclient/wire.h"
#include "platform/config_files.h"
#include "platform/text.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace nw {

namespace fs = std::filesystem;

ClientState& state() {
    static ClientState s;
    return s;
}

// ---- configuration -----------------------------------------------------------------------

namespace {

// Far more than any real nwclient.conf; a larger file is not one.
constexpr std::uintmax_t MAX_CONFIG_BYTES = 1 << 20;

}  // namespace

void setConfigurationFile(const std::string& path) {
    state().configFile = path;
    state().configLoaded = false;
}

std::vector<std::string> configurationSearchPath() { return platform::configurationSearchPath("nwclient.conf"); }

std::string findConfigurationFile() { return platform::findConfigurationFile("nwclient.conf"); }

std::string configurationFileOption(const std::vector<std::string>& arguments) {
    std::string file;
    for (size_t i = 1; i < arguments.size(); ++i) {
        if (arguments[i].rfind("--nwclient=", 0) == 0) file = arguments[i].substr(11);
        else if (arguments[i] == "--nwclient" && i + 1 < arguments.size()) file = arguments[++i];
    }
    return file;
}

NWCCODE loadConfiguration(ClientConfig& config) {
    std::string file = state().configFile;
    if (file.empty()) {
        file = findConfigurationFile();
        if (file.empty()) return TARVEL_NO_CONFIGURATION;
    }
    std::error_code ec;
    if (!fs::exists(file, ec)) return TARVEL_NO_CONFIGURATION;
    if (!fs::is_regular_file(file, ec)) return TARVEL_CONFIGURATION_INVALID;
    auto size = fs::file_size(file, ec);
    if (ec || size > MAX_CONFIG_BYTES) return TARVEL_CONFIGURATION_INVALID;
    std::ifstream in(file, std::ios::binary);
    if (!in) return TARVEL_CONFIGURATION_INVALID;
    std::ostringstream text;
    text << in.rdbuf();
    NWCCODE rc = parseConfiguration(text.str(), file, config);
    if (rc == SUCCESSFUL && state().sessionAccount) {
        config.operatorName = state().sessionOperator;
        if (state().sessionBindDn.empty()) config.values.erase("binddn");
        else config.values["binddn"] = state().sessionBindDn;
        // The file's password is the file's account's, never the session's.
        config.values.erase("passwordfile");
    }
    // The box shows the code only; the line to fix goes where the administrator looks, once
    // however often the file is read.
    for (const std::string& warning : configurationWarnings()) ldap::reportOnce(warning);
    if (rc != SUCCESSFUL && !configurationProblem().empty()) ldap::reportOnce(configurationProblem());
    return rc;
}

// ---- set-up outside the NetWare calls ----------------------------------------------------

void installBackend(std::unique_ptr<DirectoryBackend> backend) { state().installed = std::move(backend); }

DirectoryBackend* currentBackend() { return state().backend.get(); }

void setSessionAccount(const std::string& operatorName, const std::string& bindDn) {
    ClientState& s = state();
    s.sessionAccount = !operatorName.empty() || !bindDn.empty();
    s.sessionOperator = operatorName;
    s.sessionBindDn = bindDn;
    s.configLoaded = false;
}

std::string distinguishedNameOf(const std::string& fullName) {
    DirectoryBackend* backend = state().backend.get();
    std::string_view name = names::stripRootSpelling(fullName);
    if (!name.empty() && name.front() == '.') name.remove_prefix(1);
    std::vector<std::string> rootFirst = names::splitEscaped(name);
    std::reverse(rootFirst.begin(), rootFirst.end());
    ObjectId id = -1;
    if (!backend || backend->resolve(rootFirst, id) != SUCCESSFUL) return {};
    return backend->distinguishedNameOf(id);
}

std::string fullNameOfDistinguishedName(const std::string& dn) {
    return state().backend ? state().backend->fullNameOfDistinguishedName(dn) : std::string();
}

void resetClient() {
    ClientState& s = state();
    s.sessionAccount = false;
    s.sessionOperator.clear();
    s.sessionBindDn.clear();
    for (Buf_T* b : s.buffers) delete b;
    for (Filter_Cursor_T* f : s.filters) delete f;
    s.buffers.clear();
    s.filters.clear();
    s.iterations.clear();
    s.contexts.clear();
    s.backend.reset();
    s.installed.reset();
    s.connectionOpen = false;
    s.configLoaded = false;
    s.config = ClientConfig{};
    s.configFile.clear();
}

ConnectionIdentity connectionIdentity() {
    const ClientState& s = state();
    ConnectionIdentity id;
    id.configurationFile = s.configLoaded ? s.config.file : s.configFile;
    id.certificateUnchecked = ldap::certificateUnchecked();
    if (!s.configLoaded) return id;
    const ClientConfig& c = s.config;
    id.operatorName = c.operatorName;
    if (id.operatorName.empty())
        if (auto it = c.values.find("binddn"); it != c.values.end()) id.operatorName = it->second;
    if (c.tree.rfind("sqlite:", 0) == 0) {
        id.embedded = true;
        std::filesystem::path tree = c.tree.substr(7);
        if (tree.is_relative() && !c.file.empty()) tree = std::filesystem::path(c.file).parent_path() / tree;
        id.tree = tree.lexically_normal().string();
    } else {
        id.tree = c.tree;
        if (auto it = c.values.find("base"); it != c.values.end() && !it->second.empty()) id.tree += " (" + it->second + ")";
    }
    return id;
}

// ---- library, locale, connection -----------------------------------------------------------

// The client needs no global set-up of its own; these answer as a workstation client does.
NWCCODE NWCallsInit(void*, void*) { return SUCCESSFUL; }
NWCCODE NWCLXInit(void*, void*) { return SUCCESSFUL; }

void NWLlocaleconv(LCONV* lconv) {
    if (!lconv) return;
    lconv->country_id = 49;   // Germany
    lconv->code_page = 1252;  // Windows Latin-1
}

NWCCODE NWInitUnicodeTables(int, int) { return SUCCESSFUL; }
NWCCODE NWFreeUnicodeTables() { return SUCCESSFUL; }

namespace {
constexpr uint32_t PRIMARY_CONN_REF = 1;
constexpr NWCONN_HANDLE PRIMARY_CONN = 1;
}  // namespace

NWCCODE NWCCGetPrimConnRef(uint32_t* connRef) {
    if (!connRef) return NWE_PARAM_INVALID;
    ClientState& s = state();
    if (!s.backend) {
        if (s.installed) {
            s.backend = std::move(s.installed);
        } else {
            ClientConfig config;
            NWCCODE rc = loadConfiguration(config);
            if (rc != SUCCESSFUL) return rc;
            s.config = config;
            s.configLoaded = true;
            std::unique_ptr<DirectoryBackend> backend = openBackend(config, rc);
            if (!backend) return rc != SUCCESSFUL ? rc : TARVEL_TREE_UNREADABLE;
            s.backend = std::move(backend);
        }
    }
    *connRef = PRIMARY_CONN_REF;
    return SUCCESSFUL;
}

NWCCODE NWCCOpenConnByRef(uint32_t connRef, uint32_t, uint32_t, NWCONN_HANDLE* conn) {
    if (!conn) return NWE_PARAM_INVALID;
    if (!state().backend || connRef != PRIMARY_CONN_REF) return INVALID_CONNECTION;
    state().connectionOpen = true;
    *conn = PRIMARY_CONN;
    return SUCCESSFUL;
}

NWCCODE NWCCCloseConn(NWCONN_HANDLE conn) {
    if (conn != PRIMARY_CONN || !state().connectionOpen) return INVALID_CONNECTION;
    state().connectionOpen = false;
    return SUCCESSFUL;
}

NWCCODE NWCCGetConnRefInfo(uint32_t connRef, uint32_t infoType, uint32_t bufferLength, void* buffer) {
    if (!state().backend || connRef != PRIMARY_CONN_REF) return INVALID_CONNECTION;
    if (infoType != NWCC_INFO_SERVER_NAME || !buffer) return NWE_PARAM_INVALID;
    std::string name = state().backend->serverName();
    if (name.size() + 1 > bufferLength) return NWE_BUFFER_OVERFLOW;
    std::memcpy(buffer, name.c_str(), name.size() + 1);
    return SUCCESSFUL;
}

// ---- contexts --------------------------------------------------------------------------------

ContextState* findContext(NWDSContextHandle context) {
    auto it = state().contexts.find(context);
    return it == state().contexts.end() ? nullptr : &it->second;
}

NWDSCCODE NWDSCreateContextHandle(NWDSContextHandle* context) {
    if (!context) return ERR_NULL_POINTER;
    ClientState& s = state();
    if (!s.configLoaded) {
        // The starting name context may come from nwclient.conf even before the connection.
        ClientConfig config;
        if (loadConfiguration(config) == SUCCESSFUL) {
            s.config = config;
            s.configLoaded = true;
        }
    }
    ContextState c;
    if (s.configLoaded && !s.config.defaultContext.empty() &&
        names::parseContext(s.config.defaultContext, c.rootFirst) == SUCCESSFUL)
        c.nameContext = s.config.defaultContext;
    else
        c.rootFirst.clear();
    NWDSContextHandle handle = s.nextContext++;
    s.contexts.emplace(handle, std::move(c));
    *context = handle;
    return SUCCESSFUL;
}

NWDSCCODE NWDSDuplicateContextHandle(NWDSContextHandle source, NWDSContextHandle* destination) {
    ContextState* c = findContext(source);
    if (!c) return ERR_BAD_CONTEXT;
    if (!destination) return ERR_NULL_POINTER;
    ContextState copy = *c;
    NWDSContextHandle handle = state().nextContext++;
    state().contexts.emplace(handle, std::move(copy));
    *destination = handle;
    return SUCCESSFUL;
}

NWDSCCODE NWDSFreeContext(NWDSContextHandle context) {
    ClientState& s = state();
    if (!s.contexts.erase(context)) return ERR_BAD_CONTEXT;
    for (auto it = s.iterations.begin(); it != s.iterations.end();) {
        if (it->second.context == context)
            it = s.iterations.erase(it);
        else
            ++it;
    }
    return SUCCESSFUL;
}

NWDSCCODE NWDSGetContext(NWDSContextHandle context, int key, void* value) {
    ContextState* c = findContext(context);
    if (!c) return ERR_BAD_CONTEXT;
    if (!value) return ERR_NULL_POINTER;
    switch (key) {
    case DCK_FLAGS:
        std::memcpy(value, &c->flags, sizeof c->flags);
        return SUCCESSFUL;
    case DCK_CONFIDENCE:
        std::memcpy(value, &c->confidence, sizeof c->confidence);
        return SUCCESSFUL;
    case DCK_NAME_CONTEXT: {
        std::string name;
        ObjectId id = ROOT_ID;
        ObjectSummary summary;
        if (c->rootFirst.empty()) {
            name = "[root]";
        } else if (state().backend && state().backend->resolve(c->rootFirst, id) == SUCCESSFUL &&
                   state().backend->describe(id, name, summary) == SUCCESSFUL && !name.empty()) {
            // as the directory spells it
        } else {
            name = c->nameContext;
            if (!name.empty() && name[0] == '.') name.erase(0, 1);
        }
        if (name.size() >= MAX_DN_BYTES) return ERR_DN_TOO_LONG;
        std::memcpy(value, name.c_str(), name.size() + 1);
        return SUCCESSFUL;
    }
    default:
        return ERR_BAD_KEY;
    }
}

NWDSCCODE NWDSSetContext(NWDSContextHandle context, int key, const void* value) {
    ContextState* c = findContext(context);
    if (!c) return ERR_BAD_CONTEXT;
    if (!value) return ERR_NULL_POINTER;
    switch (key) {
    case DCK_FLAGS:
        std::memcpy(&c->flags, value, sizeof c->flags);
        return SUCCESSFUL;
    case DCK_CONFIDENCE:
        std::memcpy(&c->confidence, value, sizeof c->confidence);
        return SUCCESSFUL;
    case DCK_NAME_CONTEXT: {
        std::string name;
        if (NWDSCCODE rc = callerName(static_cast<const char*>(value), name)) return rc;
        std::vector<std::string> rootFirst;
        if (NWDSCCODE rc = names::parseContext(name, rootFirst)) return rc;
        c->nameContext = name.empty() ? "[root]" : name;
        c->rootFirst = std::move(rootFirst);
        return SUCCESSFUL;
    }
    default:
        return ERR_BAD_KEY;
    }
}

// ---- names shared by the calls -----------------------------------------------------------

NWDSCCODE callerName(const char* name, std::string& out) {
    if (!name) return ERR_NULL_POINTER;
    size_t n = strnlen(name, MAX_DN_BYTES);
    if (n >= MAX_DN_BYTES) return ERR_DN_TOO_LONG;
    out.assign(name, n);
    return SUCCESSFUL;
}

NWDSCCODE checkSchemaName(const char* name, std::string& out) {
    if (!name) return ERR_NULL_POINTER;
    size_t n = strnlen(name, MAX_SCHEMA_NAME_BYTES);
    if (n >= MAX_SCHEMA_NAME_BYTES) return ERR_SCHEMA_NAME_TOO_LONG;
    out.assign(name, n);
    if (names::utf8Chars(out) > MAX_SCHEMA_NAME_CHARS) return ERR_SCHEMA_NAME_TOO_LONG;
    return SUCCESSFUL;
}

NWDSCCODE componentsOf(const ContextState& context, const char* name, std::vector<std::string>& rootFirst) {
    std::string text;
    if (NWDSCCODE rc = callerName(name, text)) return rc;
    return names::resolveAgainst(context.rootFirst, text, rootFirst);
}

NWDSCCODE resolveName(const ContextState& context, const char* name, ObjectId& id) {
    if (!state().backend) return ERR_NO_CONNECTION;
    std::vector<std::string> rootFirst;
    if (NWDSCCODE rc = componentsOf(context, name, rootFirst)) return rc;
    return state().backend->resolve(rootFirst, id);
}

// ---- iterations ----------------------------------------------------------------------------

int32_t addIteration(Iteration iteration) {
    ClientState& s = state();
    // A caller that stops reading early never closes its iteration; on a long-lived context
    // such leftovers would pile up, so the oldest goes once there are too many.
    auto oldest = s.iterations.end();
    size_t open = 0;
    for (auto it = s.iterations.begin(); it != s.iterations.end(); ++it) {
        if (it->second.context != iteration.context) continue;
        if (open++ == 0) oldest = it;
    }
    if (open >= MAX_ITERATIONS_PER_CONTEXT) s.iterations.erase(oldest);
    int32_t handle = s.nextIteration++;
    if (s.nextIteration <= 0) s.nextIteration = 1;  // never hand out -1
    s.iterations[handle] = std::move(iteration);
    return handle;
}

Iteration* findIteration(int32_t handle, NWDSContextHandle context, Iteration::Kind kind) {
    auto it = state().iterations.find(handle);
    if (it == state().iterations.end() || it->second.context != context || it->second.kind != kind) return nullptr;
    return &it->second;
}

void dropIteration(int32_t handle) { state().iterations.erase(handle); }

NWDSCCODE runIteration(NWDSContextHandle context, Iteration::Kind kind, int32_t* iterationHandle, Buf_T* reply,
                       const IterationStart& start, IterationFill fill) {
    if (!iterationHandle) return ERR_NULL_POINTER;
    if (!validBuffer(reply)) return reply ? ERR_INVALID_HANDLE : ERR_NULL_POINTER;
    int32_t handle = *iterationHandle;
    Iteration fresh;
    Iteration* it = nullptr;
    if (handle == NO_MORE_ITERATIONS) {
        fresh.kind = kind;
        fresh.context = context;
        if (NWDSCCODE rc = start(fresh)) return rc;
        it = &fresh;
    } else {
        it = findIteration(handle, context, kind);
        if (!it) return ERR_INVALID_HANDLE;
    }
    bool more = false;
    NWDSCCODE rc = fill(*it, reply, more);
    if (rc != SUCCESSFUL) {
        startReply(reply, reply->content);  // nothing half-written is left to read
        if (handle != NO_MORE_ITERATIONS) dropIteration(handle);
        *iterationHandle = NO_MORE_ITERATIONS;
        return rc;
    }
    if (!more) {
        if (handle != NO_MORE_ITERATIONS) dropIteration(handle);
        *iterationHandle = NO_MORE_ITERATIONS;
    } else if (handle == NO_MORE_ITERATIONS) {
        *iterationHandle = addIteration(std::move(fresh));
    }
    return SUCCESSFUL;
}

NWDSCCODE NWDSCloseIteration(NWDSContextHandle context, int32_t iterationHandle, uint32_t) {
    if (!findContext(context)) return ERR_BAD_CONTEXT;
    auto it = state().iterations.find(iterationHandle);
    if (it == state().iterations.end() || it->second.context != context) return ERR_INVALID_HANDLE;
    state().iterations.erase(it);
    return SUCCESSFUL;
}

// ---- buffers -------------------------------------------------------------------------------

bool validBuffer(const Buf_T* buffer) { return buffer && state().buffers.count(const_cast<Buf_T*>(buffer)); }

void startReply(Buf_T* buffer, BufContent content) {
    buffer->content = content;
    buffer->data.assign(4, 0);
    buffer->pos = 0;
    buffer->countRead = false;
    buffer->itemsLeft = 0;
    buffer->attrsLeftInEntry = 0;
    buffer->valuesLeft = 0;
    buffer->valueCountPos = 0;
}

NWDSCCODE readCountField(Buf_T* buffer, uint32_t& count) {
    wire::Reader r(buffer->data.data(), buffer->data.size());
    if (!r.u32(count)) return ERR_BUFFER_EMPTY;
    buffer->pos = r.pos();
    buffer->countRead = true;
    buffer->itemsLeft = count;
    buffer->attrsLeftInEntry = 0;
    buffer->valuesLeft = 0;
    return SUCCESSFUL;
}

NWDSCCODE readRequestNames(const Buf_T* request, BufContent kind, std::vector<std::string>& names) {
    if (!validBuffer(request)) return ERR_NULL_POINTER;
    if (request->content != kind) return ERR_BAD_VERB;
    wire::Reader r(request->data.data(), request->data.size());
    uint32_t count = 0;
    if (!r.u32(count)) return ERR_BUFFER_EMPTY;
    for (uint32_t i = 0; i < count; ++i) {
        std::string name;
        if (!r.text(name)) return ERR_BUFFER_EMPTY;
        names.push_back(std::move(name));
    }
    return SUCCESSFUL;
}

void copyBounded(char* out, size_t size, const std::string& s) {
    size_t n = std::min(s.size(), size - 1);
    std::memcpy(out, s.data(), n);
    out[n] = 0;
}

NWDSCCODE NWDSAllocBuf(size_t size, Buf_T** buffer) {
    if (!buffer) return ERR_NULL_POINTER;
    if (size == 0) return ERR_BUFFER_ZERO_LENGTH;
    if (size < 4) return ERR_INSUFFICIENT_BUFFER;
    auto* b = new Buf_T;
    b->capacity = size;
    b->data.reserve(size);
    state().buffers.insert(b);
    *buffer = b;
    return SUCCESSFUL;
}

NWDSCCODE NWDSFreeBuf(Buf_T* buffer) {
    if (!buffer) return ERR_NULL_POINTER;
    if (!state().buffers.erase(buffer)) return ERR_INVALID_HANDLE;
    delete buffer;
    return SUCCESSFUL;
}

NWDSCCODE NWDSInitBuf(NWDSContextHandle context, uint32_t operation, Buf_T* buffer) {
    if (!findContext(context)) return ERR_BAD_CONTEXT;
    if (!validBuffer(buffer)) return buffer ? ERR_INVALID_HANDLE : ERR_NULL_POINTER;
    BufContent content;
    switch (operation) {
    case DSV_READ: content = BufContent::ReadRequest; break;
    case DSV_SEARCH: content = BufContent::SearchRequest; break;
    case DSV_MODIFY_ENTRY: content = BufContent::ModifyRequest; break;
    case DSV_SEARCH_FILTER: content = BufContent::Filter; break;
    default: return ERR_BAD_VERB;
    }
    startReply(buffer, content);
    buffer->operation = operation;
    return SUCCESSFUL;
}

}  // namespace nw
