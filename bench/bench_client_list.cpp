// The client's own cost over the embedded store: listing and searching in 4096-byte replies,
// reading a group's members across many replies, and resolving names. Compare with
// bench_embedded's raw enumeration of the same generated trees.
#include "bench_embedded_trees.h"

#include "nwclient/client_setup.h"
#include "nwclient/embedded/embedded_backend.h"
#include "nwclient/nwclient.h"

#include <benchmark/benchmark.h>

#include <stdexcept>

namespace {

nw::NWDSContextHandle connect(const std::string& treeFile) {
    nw::resetClient();
    nw::NWCCODE status = 0;
    auto backend = nw::makeEmbeddedBackend(treeFile, "admin.UNTERRICHT", status);
    if (!backend) throw std::runtime_error("cannot open " + treeFile);
    nw::installBackend(std::move(backend));
    uint32_t ref = 0;
    nw::NWDSContextHandle ctx = -1;
    if (nw::NWCCGetPrimConnRef(&ref) || nw::NWDSCreateContextHandle(&ctx)) throw std::runtime_error("no connection");
    return ctx;
}

// Every subordinate of a container of N users, batch by batch, names and infos copied out.
void BM_ClientList(benchmark::State& state) {
    const int users = int(state.range(0));
    nw::NWDSContextHandle ctx = connect(benchtrees::tree(users, 1));
    nw::Buf_T* buf = nullptr;
    nw::NWDSAllocBuf(nw::DEFAULT_MESSAGE_LEN, &buf);
    for (auto _ : state) {
        size_t n = 0;
        int32_t iter = nw::NO_MORE_ITERATIONS;
        do {
            if (nw::NWDSList(ctx, ".K00001.SCHUELER.UNTERRICHT", &iter, buf)) {
                state.SkipWithError("list failed");
                break;
            }
            uint32_t count = 0;
            nw::NWDSGetObjectCount(ctx, buf, &count);
            for (uint32_t i = 0; i < count; ++i) {
                char name[nw::MAX_DN_BYTES];
                nw::Object_Info_T info;
                nw::NWDSGetObjectName(ctx, buf, name, nullptr, &info);
                benchmark::DoNotOptimize(name);
            }
            n += count;
        } while (iter != nw::NO_MORE_ITERATIONS);
        if (n != size_t(users)) state.SkipWithError("listing incomplete");
    }
    nw::NWDSFreeBuf(buf);
    state.SetItemsProcessed(state.iterations() * users);
    state.SetComplexityN(users);
}
BENCHMARK(BM_ClientList)->Arg(5000)->Arg(20000)->Unit(benchmark::kMillisecond)->Complexity();

// Every User below SCHUELER.UNTERRICHT, full names, through the search iteration.
void BM_ClientSearch(benchmark::State& state) {
    const int users = int(state.range(0));
    nw::NWDSContextHandle ctx = connect(benchtrees::tree(users, 50));
    nw::Buf_T* filter = nullptr;
    nw::Buf_T* names = nullptr;
    nw::Buf_T* reply = nullptr;
    nw::NWDSAllocBuf(nw::DEFAULT_MESSAGE_LEN, &filter);
    nw::NWDSInitBuf(ctx, nw::DSV_SEARCH_FILTER, filter);
    nw::Filter_Cursor_T* cur = nullptr;
    nw::NWDSAllocFilter(&cur);
    nw::NWDSAddFilterToken(cur, nw::FTOK_ANAME, "Object Class", nw::SYN_CLASS_NAME);
    nw::NWDSAddFilterToken(cur, nw::FTOK_EQ, nullptr, 0);
    nw::NWDSAddFilterToken(cur, nw::FTOK_AVAL, "User", nw::SYN_CLASS_NAME);
    nw::NWDSAddFilterToken(cur, nw::FTOK_END, nullptr, 0);
    nw::NWDSPutFilter(ctx, filter, cur, nullptr);
    nw::NWDSAllocBuf(nw::DEFAULT_MESSAGE_LEN, &names);
    nw::NWDSInitBuf(ctx, nw::DSV_SEARCH, names);
    nw::NWDSPutAttrName(ctx, names, "");
    nw::NWDSAllocBuf(nw::DEFAULT_MESSAGE_LEN, &reply);
    for (auto _ : state) {
        size_t n = 0;
        int32_t iter = nw::NO_MORE_ITERATIONS;
        do {
            if (nw::NWDSSearch(ctx, ".SCHUELER.UNTERRICHT", nw::DS_SEARCH_SUBTREE, 0, filter, 1, 0, names, &iter, 0,
                               nullptr, reply)) {
                state.SkipWithError("search failed");
                break;
            }
            uint32_t count = 0;
            nw::NWDSGetObjectCount(ctx, reply, &count);
            for (uint32_t i = 0; i < count; ++i) {
                char name[nw::MAX_DN_BYTES];
                nw::NWDSGetObjectName(ctx, reply, name, nullptr, nullptr);
                benchmark::DoNotOptimize(name);
            }
            n += count;
        } while (iter != nw::NO_MORE_ITERATIONS);
        if (n != size_t(users)) state.SkipWithError("search incomplete");
    }
    nw::NWDSFreeBuf(reply);
    nw::NWDSFreeBuf(names);
    nw::NWDSFreeBuf(filter);
    state.SetItemsProcessed(state.iterations() * users);
    state.SetComplexityN(users);
}
BENCHMARK(BM_ClientSearch)->Arg(10000)->Arg(50000)->Unit(benchmark::kMillisecond)->Complexity();

// A deny group of N members read value by value across as many replies as it takes.
void BM_ClientReadMembers(benchmark::State& state) {
    const int members = int(state.range(0));
    nw::NWDSContextHandle ctx = connect(benchtrees::tree(members, 10, members));
    nw::Buf_T* names = nullptr;
    nw::Buf_T* reply = nullptr;
    nw::NWDSAllocBuf(nw::DEFAULT_MESSAGE_LEN, &names);
    nw::NWDSInitBuf(ctx, nw::DSV_READ, names);
    nw::NWDSPutAttrName(ctx, names, "Member");
    nw::NWDSAllocBuf(nw::DEFAULT_MESSAGE_LEN, &reply);
    for (auto _ : state) {
        size_t n = 0;
        int32_t iter = nw::NO_MORE_ITERATIONS;
        do {
            if (nw::NWDSRead(ctx, ".G_User_Internet_Deny.PROJEKTE.UNTERRICHT", 1, 0, names, &iter, reply)) {
                state.SkipWithError("read failed");
                break;
            }
            uint32_t attrs = 0, values = 0, syntax = 0;
            char attr[nw::MAX_SCHEMA_NAME_BYTES];
            nw::NWDSGetAttrCount(ctx, reply, &attrs);
            nw::NWDSGetAttrName(ctx, reply, attr, &values, &syntax);
            for (uint32_t i = 0; i < values; ++i) {
                char value[nw::MAX_DN_BYTES];
                uint32_t size = 0;
                nw::NWDSComputeAttrValSize(ctx, reply, syntax, &size);
                nw::NWDSGetAttrVal(ctx, reply, syntax, value);
                benchmark::DoNotOptimize(value);
            }
            n += values;
        } while (iter != nw::NO_MORE_ITERATIONS);
        if (n != size_t(members)) state.SkipWithError("members incomplete");
    }
    nw::NWDSFreeBuf(reply);
    nw::NWDSFreeBuf(names);
    state.SetItemsProcessed(state.iterations() * members);
    state.SetComplexityN(members);
}
BENCHMARK(BM_ClientReadMembers)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond)->Complexity();

}  // namespace

BENCHMARK_MAIN();
