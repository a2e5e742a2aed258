// Any bytes as an LDIF file for tarvel-tree import: the reader must neither crash nor read a
// file, and what it hands out keeps its promises (a DN per record, lines in file order).
#include "ldif_reader.h"

#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

void check(bool condition) {
    if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::vector<tarveltree::LdifRecord> records;
    std::string error;
    const bool ok = tarveltree::readLdif(text, records, error);
    check(ok == error.empty());
    if (!ok) check(error.rfind("Zeile ", 0) == 0);
    int lines = 1;
    for (char c : text) lines += c == '\n';
    int last = 0;
    for (const tarveltree::LdifRecord& r : records) {
        check(r.line > last && r.line <= lines);
        last = r.line;
        for (const tarveltree::LdifValue& v : r.values) {
            check(v.line > last && v.line <= lines);
            check(!v.type.empty());
            last = v.line;
        }
    }
    return 0;
}
