// Attribute values in three shapes: the backend's AttrValue, the bytes a value takes in a
// buffer, and the value block of syntax.h that NWDSGetAttrVal hands out.
#pragma once

#include "nwclient/backend.h"
#include "nwclient/status.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace nw::values {

bool isTextSyntax(uint32_t syntax);
// Syntaxes whose values name objects (the text field holds a full name).
bool isNameSyntax(uint32_t syntax);

// The encoding that follows a value's 4-byte length in a buffer.
std::vector<uint8_t> encode(uint32_t syntax, const AttrValue& value);
bool decode(uint32_t syntax, const uint8_t* data, size_t size, AttrValue& value);

// Size of the value block, and the block itself (struct first, texts and bytes behind it).
size_t blockSize(uint32_t syntax, const AttrValue& value);
void writeBlock(uint32_t syntax, const AttrValue& value, void* block);

// The value a caller hands to NWDSPutAttrVal: a text for the text syntaxes, the syntax's
// struct for the others (Octet_String_T for the byte syntaxes).
NWDSCCODE fromCaller(uint32_t syntax, const void* attrVal, AttrValue& value);

}  // namespace nw::values
