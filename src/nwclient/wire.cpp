#include "nwclient/wire.h"

#include <cstring>

namespace nw::wire {

void Writer::u32(uint32_t v) {
    for (int i = 0; i < 4; ++i) out_.push_back(uint8_t(v >> (8 * i)));
}

void Writer::text(std::string_view s) {
    u32(uint32_t(s.size() + 1));
    out_.insert(out_.end(), s.begin(), s.end());
    out_.push_back(0);
    while (out_.size() % 4) out_.push_back(0);
}

void Writer::bytes(std::string_view b) {
    out_.insert(out_.end(), b.begin(), b.end());
    while (out_.size() % 4) out_.push_back(0);
}

void Writer::patchU32(size_t offset, uint32_t v) {
    for (int i = 0; i < 4; ++i) out_[offset + i] = uint8_t(v >> (8 * i));
}

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
