// The one bit writer and bit reader of the PER coder. Fields are written
// most significant bit first, filling each octet from bit 7 down; all
// packing is done with shifts, so the result does not depend on the host's
// byte order. The reader works on offsets inside a window it never leaves.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace ASN1 {

class BitWriter {
 public:
  explicit BitWriter(std::vector<char>& out) : out_(out), free_(8) {}

  // The low n bits of v (n <= 32).
  void putBits(uint32_t v, unsigned n) {
    if (n < 32) v &= (uint32_t(1) << n) - 1;
    while (n) {
      if (free_ == 8) out_.push_back(0);
      unsigned take = n < free_ ? n : free_;
      n -= take;
      uint32_t chunk = (v >> n) & ((1u << take) - 1);
      out_.back() = char(uint8_t(out_.back()) | uint8_t(chunk << (free_ - take)));
      free_ -= take;
      if (free_ == 0) free_ = 8;
    }
  }
  void putBit(bool b) { putBits(b ? 1 : 0, 1); }
  // Closes the current octet (its free low bits stay 0).
  void align() { free_ = 8; }
  bool aligned() const { return free_ == 8; }
  // Aligns, then appends the octets.
  void putOctets(const void* p, std::size_t n) {
    align();
    const char* c = static_cast<const char*>(p);
    out_.insert(out_.end(), c, c + n);
  }
  void putOctet(uint8_t b) {
    align();
    out_.push_back(char(b));
  }
  std::vector<char>& buffer() { return out_; }
  std::size_t size() const { return out_.size(); }

 private:
  std::vector<char>& out_;
  unsigned free_;  // free low bits of the last octet; 8: next bit opens a new octet
};

class BitReader {
 public:
  BitReader(const char* data, std::size_t size)
      : data_(reinterpret_cast<const uint8_t*>(data)), pos_(0), end_(size), left_(8) {}

  // Bits that remain before the end of the window.
  std::size_t bitsLeft() const { return pos_ >= end_ ? 0 : (end_ - pos_) * 8 + left_ - 8; }
  bool atEnd() const { return bitsLeft() == 0; }
  // Reads n bits (n <= 32); false when fewer remain.
  bool getBits(unsigned n, uint32_t& out) {
    if (n > 32 || bitsLeft() < n) return false;
    uint32_t v = 0;
    while (n) {
      unsigned take = n < left_ ? n : left_;
      unsigned shift = left_ - take;
      v = (take == 32 ? 0 : v << take) | ((uint32_t(data_[pos_]) >> shift) & ((1u << take) - 1));
      n -= take;
      left_ -= take;
      if (left_ == 0) {
        left_ = 8;
        ++pos_;
      }
    }
    out = v;
    return true;
  }
  bool getBit(bool& b) {
    uint32_t v;
    if (!getBits(1, v)) return false;
    b = v != 0;
    return true;
  }
  // Skips the unread bits of the current octet.
  void align() {
    if (left_ != 8) {
      left_ = 8;
      ++pos_;
    }
  }
  // Aligns, then copies n octets; false (nothing consumed) when fewer remain.
  bool getOctets(void* dst, std::size_t n) {
    align();
    if (end_ - pos_ < n) return false;
    const uint8_t* src = data_ + pos_;
    uint8_t* d = static_cast<uint8_t*>(dst);
    for (std::size_t i = 0; i < n; ++i) d[i] = src[i];
    pos_ += n;
    return true;
  }
  // Aligns, then steps over n octets; false when fewer remain.
  bool skipOctets(std::size_t n) {
    align();
    if (end_ - pos_ < n) return false;
    pos_ += n;
    return true;
  }
  // Octet offset of the read position (after align(): of the next octet).
  std::size_t offset() const { return pos_; }
  std::size_t end() const { return end_; }
  const uint8_t* data() const { return data_; }
  // Narrows the window to end at an octet offset inside it; returns the
  // previous end for restoreEnd().
  std::size_t limitEnd(std::size_t newEnd) {
    std::size_t old = end_;
    if (newEnd < end_) end_ = newEnd;
    return old;
  }
  void restoreEnd(std::size_t oldEnd) { end_ = oldEnd; }
  // Moves to an octet boundary at an offset inside the window.
  void setOffset(std::size_t off) {
    pos_ = off < end_ ? off : end_;
    left_ = 8;
  }

 private:
  const uint8_t* data_;
  std::size_t pos_;
  std::size_t end_;
  unsigned left_;  // unread low bits of data_[pos_]; 8: untouched
};

}  // namespace ASN1
