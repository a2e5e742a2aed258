// Reading LDIF for the tree import, through libldap's own record reader and line parser, with
// what an import must never do refused: reading local files (":<" URL values, "include:"),
// changes other than additions, and bytes libldap would silently cut (NUL).
#pragma once

#include <string>
#include <vector>

namespace tarveltree {

struct LdifValue {
    std::string type;   // as written
    std::string value;  // decoded (base64 undone, folding removed)
    int line = 0;
};

struct LdifRecord {
    std::string dn;
    int line = 0;       // the line of "dn:"
    std::vector<LdifValue> values;
};

// The add records of an LDIF text (content records, or changetype add). False with
// "line N: what" in error at the first line that is not understood or not allowed; records
// then holds what came before.
bool readLdif(const std::string& text, std::vector<LdifRecord>& records, std::string& error);

}  // namespace tarveltree
