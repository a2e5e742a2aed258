// The process-wide state of the client and the pieces its calls share: buffers, contexts,
// iterations, name resolution. Private to src/nwclient.
#pragma once

#include "nwclient/backend.h"
#include "nwclient/nwclient.h"

#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace nw {

// What a buffer currently holds; decides which calls may read or append.
enum class BufContent { None, ReadRequest, SearchRequest, ModifyRequest, Filter, ListReply, SearchReply, ReadReply };

struct Buf_T {
    size_t capacity = DEFAULT_MESSAGE_LEN;
    uint32_t operation = 0;              // as initialised by NWDSInitBuf; 0 = not initialised
    BufContent content = BufContent::None;
    std::vector<uint8_t> data;           // the payload, count field first

    // Reading a reply.
    size_t pos = 0;
    bool countRead = false;
    uint32_t itemsLeft = 0;              // entries (list, search) or attributes (read)
    uint32_t attrsLeftInEntry = 0;       // search entries: attributes not yet read
    uint32_t valuesLeft = 0;             // values of the current attribute not yet read
    uint32_t currentSyntax = 0;

    // Building a modify request.
    size_t valueCountPos = 0;            // where the current change's value count sits; 0 = no change yet
};

struct Filter_Cursor_T {
    struct Token {
        uint32_t token;
        uint32_t syntax;
        std::string value;
        void* original;                  // the caller's pointer, handed to its free callback
    };
    std::vector<Token> tokens;
};

struct ContextState {
    uint32_t flags = DCV_DEFAULT_FLAGS;
    uint32_t confidence = 0;
    std::string nameContext = "[root]";  // as set
    std::vector<std::string> rootFirst;  // the same, parsed
};

struct Iteration {
    enum class Kind { List, Search, Read } kind = Kind::List;
    NWDSContextHandle context = 0;
    // List and search.
    std::unique_ptr<ObjectCursor> cursor;
    std::deque<ObjectSummary> pending;   // fetched from the backend, not yet handed out
    bool cursorDone = false;
    NWDSCCODE deferred = 0;              // a failure met after a reply was already filled
    // Read.
    std::vector<Attribute> attributes;
    bool namesOnly = false;
    size_t attrIndex = 0;
    size_t valueIndex = 0;
};

struct ClientState {
    std::string configFile;              // set by setConfigurationFile; empty = search
    std::unique_ptr<DirectoryBackend> installed;
    std::unique_ptr<DirectoryBackend> backend;   // the open primary connection
    bool connectionOpen = false;
    bool configLoaded = false;
    ClientConfig config;
    bool sessionAccount = false;         // setSessionAccount overrides the file's account
    std::string sessionOperator, sessionBindDn;

    std::map<NWDSContextHandle, ContextState> contexts;
    NWDSContextHandle nextContext = 1;
    std::map<int32_t, Iteration> iterations;
    int32_t nextIteration = 1;
    std::set<Buf_T*> buffers;
    std::set<Filter_Cursor_T*> filters;
};

ClientState& state();

// Parses the text of a configuration file; TARVEL_CONFIGURATION_INVALID for garbage.
NWCCODE parseConfiguration(const std::string& text, const std::string& file, ClientConfig& config);
// Why the last parse refused the file, naming the line, where a line was the reason; else empty.
const std::string& configurationProblem();
// What the last parse passed over, one line each naming file and line (unknown keys).
const std::vector<std::string>& configurationWarnings();

ContextState* findContext(NWDSContextHandle context);
bool validBuffer(const Buf_T* buffer);
// Name of at most 513 bytes from a caller; ERR_DN_TOO_LONG when no NUL comes in time.
NWDSCCODE callerName(const char* name, std::string& out);
// An attribute or class name from a caller; ERR_SCHEMA_NAME_TOO_LONG when no NUL comes within
// MAX_SCHEMA_NAME_BYTES or it holds more than MAX_SCHEMA_NAME_CHARS characters.
NWDSCCODE checkSchemaName(const char* name, std::string& out);
// The components, root first, that name denotes in the context.
NWDSCCODE componentsOf(const ContextState& context, const char* name, std::vector<std::string>& rootFirst);
// Resolves a name of the context to an object of the open tree (ERR_NO_CONNECTION without one).
NWDSCCODE resolveName(const ContextState& context, const char* name, ObjectId& id);

// Open iterations one context keeps; beyond that the oldest is dropped.
constexpr size_t MAX_ITERATIONS_PER_CONTEXT = 64;

// A fresh iteration handle for it.
int32_t addIteration(Iteration iteration);
// The iteration behind handle, when it belongs to this context and is of this kind.
Iteration* findIteration(int32_t handle, NWDSContextHandle context, Iteration::Kind kind);
void dropIteration(int32_t handle);
// One reply of a listing, search or read: with *iterationHandle -1 a fresh iteration of this kind
// is set up by start, otherwise the open one is continued; fill writes the reply and says whether
// another follows. The handle is left -1 after the last reply or a failure.
using IterationStart = std::function<NWDSCCODE(Iteration&)>;
using IterationFill = NWDSCCODE (*)(Iteration& iteration, Buf_T* reply, bool& more);
NWDSCCODE runIteration(NWDSContextHandle context, Iteration::Kind kind, int32_t* iterationHandle, Buf_T* reply,
                       const IterationStart& start, IterationFill fill);

// Empties a buffer to receive a reply of this kind (the count field 0).
void startReply(Buf_T* buffer, BufContent content);
// Reads a reply's count field and positions on its first item.
NWDSCCODE readCountField(Buf_T* buffer, uint32_t& count);
// The attribute names of a request buffer that must hold this kind of request.
NWDSCCODE readRequestNames(const Buf_T* request, BufContent kind, std::vector<std::string>& names);
// Copies s into out (size bytes), cut to fit and always ended by a NUL.
void copyBounded(char* out, size_t size, const std::string& s);

}  // namespace nw
