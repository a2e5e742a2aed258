#include "nwclient/wire.h"

#include <cstring>

namespace nw::wire {

namespace {

void putU32(uint8_t* at, uint32_t v) {
    for (int i = 0; i < 4; ++i) at[i] = uint8_t(v >> (8 * i));
}

}  // namespace

// Each write grows the buffer once: a listing writes tens of thousands of names.
void Writer::u32(uint32_t v) {
    const size_t at = out_.size();
    out_.resize(at + 4);
    putU32(out_.data() + at, v);
}

void Writer::text(std::string_view s) {
    const size_t at = out_.size();
    out_.resize(at + textSize(s.size()));  // the NUL and the padding come zeroed
    putU32(out_.data() + at, uint32_t(s.size() + 1));
    if (!s.empty()) std::memcpy(out_.data() + at + 4, s.data(), s.size());
}

void Writer::bytes(std::string_view b) {
    const size_t at = out_.size();
    out_.resize(at + padded(b.size()));
    if (!b.empty()) std::memcpy(out_.data() + at, b.data(), b.size());
}

void Writer::patchU32(size_t offset, uint32_t v) { putU32(out_.data() + offset, v); }

bool Reader::u32(uint32_t& v) {
    if (remaining() < 4) return false;
    v = uint32_t(data_[pos_]) | uint32_t(data_[pos_ + 1]) << 8 | uint32_t(data_[pos_ + 2]) << 16 |
        uint32_t(data_[pos_ + 3]) << 24;
    pos_ += 4;
    return true;
}

bool Reader::text(std::string& s) {
    size_t start = pos_;
    uint32_t len = 0;
    if (!u32(len) || len == 0 || padded(len) > remaining() || data_[pos_ + len - 1] != 0) {
        pos_ = start;
        return false;
    }
    s.assign(reinterpret_cast<const char*>(data_ + pos_), len - 1);
    pos_ += padded(len);
    return true;
}

bool Reader::bytes(size_t n, std::string& b) {
    if (padded(n) > remaining()) return false;
    b.assign(reinterpret_cast<const char*>(data_ + pos_), n);
    pos_ += padded(n);
    return true;
}

bool Reader::skip(size_t n) {
    if (padded(n) > remaining()) return false;
    pos_ += padded(n);
    return true;
}

bool Reader::skipValues(uint32_t& left) {
    for (; left; --left) {
        uint32_t len = 0;
        if (!u32(len) || !skip(len)) return false;
    }
    return true;
}

}  // namespace nw::wire
