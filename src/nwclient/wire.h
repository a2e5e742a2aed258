// Byte layout of the client's 4096-byte buffers: little-endian 4-byte numbers, texts as a 4-byte
// length (bytes including the NUL), the bytes, the NUL, zero padding to the next multiple of 4.
// Writer appends within a byte budget; Reader walks the bytes and refuses to read past the end.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace nw::wire {

constexpr size_t padded(size_t n) { return (n + 3) & ~size_t(3); }
// Bytes a text takes in a buffer.
constexpr size_t textSize(size_t utf8Bytes) { return 4 + padded(utf8Bytes + 1); }

class Writer {
public:
    explicit Writer(std::vector<uint8_t>& out) : out_(out) {}
    void u32(uint32_t v);
    void text(std::string_view s);
    // Raw bytes followed by padding to 4.
    void bytes(std::string_view b);
    size_t size() const { return out_.size(); }
    // Overwrites a 4-byte number written earlier.
    void patchU32(size_t offset, uint32_t v);

private:
    std::vector<uint8_t>& out_;
};

class Reader {
public:
    Reader(const uint8_t* data, size_t size, size_t pos = 0) : data_(data), size_(size), pos_(pos) {}
    bool u32(uint32_t& v);
    bool text(std::string& s);
    bool bytes(size_t n, std::string& b);  // reads n bytes and skips the padding
    bool skip(size_t n);
    // Skips length-prefixed values, counting left down to 0; false when one runs past the end.
    bool skipValues(uint32_t& left);
    size_t pos() const { return pos_; }
    size_t remaining() const { return size_ - pos_; }

private:
    const uint8_t* data_;
    size_t size_;
    size_t pos_;
};

}  // namespace nw::wire
