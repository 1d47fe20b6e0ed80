// The one bit writer and bit reader of the PER coder. Fields are written
// most significant bit first, filling each octet from bit 7 down; all
// packing is done with shifts, so the result does not depend on the host's
// byte order. The reader works on bit positions inside a window it never
// leaves.
//
// Both serve the two variants: in the aligned one, align() moves to the next
// octet boundary and octet blocks start on one; in the unaligned one nothing
// is ever aligned, so align() does nothing and octet blocks are written and
// read as runs of 8-bit fields wherever the position is.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace ASN1 {

class BitWriter {
 public:
  explicit BitWriter(std::vector<char>& out, bool aligned = true) : out_(out), free_(8), aligned_(aligned) {}

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
  // Aligned variant: closes the current octet (its free low bits stay 0).
  void align() {
    if (aligned_) free_ = 8;
  }
  // True when the next bit starts a new octet.
  bool atBoundary() const { return free_ == 8; }
  bool alignedVariant() const { return aligned_; }
  // Aligns, then appends the octets.
  void putOctets(const void* p, std::size_t n) {
    align();
    const char* c = static_cast<const char*>(p);
    if (free_ == 8) {
      out_.insert(out_.end(), c, c + n);
      return;
    }
    for (std::size_t i = 0; i < n; ++i) putBits(uint8_t(c[i]), 8);
  }
  void putOctet(uint8_t b) {
    align();
    putBits(b, 8);
  }
  // The octets from `start` to the end of the buffer were appended as whole
  // octets while the writer stood inside the octet before them; moves them,
  // preceded by the headLen octets of head, to the writer's bit position.
  // The writer stays the same number of bits into its last octet.
  void spliceTail(std::size_t start, const uint8_t* head, std::size_t headLen) {
    if (free_ == 8) {
      out_.insert(out_.begin() + std::ptrdiff_t(start), head, head + headLen);
      return;
    }
    const unsigned used = 8 - free_;  // bits of the octet before start
    const std::size_t m = headLen + (out_.size() - start);
    out_.resize(out_.size() + headLen);
    uint8_t* o = reinterpret_cast<uint8_t*>(out_.data());
    // Stream octet j of head-then-tail; the tail still sits at start.
    auto s = [&](std::size_t j) -> uint8_t { return j < headLen ? head[j] : o[start + j - headLen]; };
    // From the end down: octet start - 1 + j reads stream octets j - 1 and
    // j, which lie at or below it and are not yet overwritten.
    o[start - 1 + m] = uint8_t(s(m - 1) << (8 - used));
    for (std::size_t j = m - 1; j >= 1; --j) o[start - 1 + j] = uint8_t(s(j - 1) << (8 - used) | s(j) >> used);
    o[start - 1] = uint8_t(o[start - 1] | s(0) >> used);
  }
  std::vector<char>& buffer() { return out_; }
  std::size_t size() const { return out_.size(); }

 private:
  std::vector<char>& out_;
  unsigned free_;  // free low bits of the last octet; 8: next bit opens a new octet
  bool aligned_;
};

class BitReader {
 public:
  // Input beyond what a bit position can count (on a 32-bit host, past
  // 512 MiB) is treated as absent.
  BitReader(const char* data, std::size_t size, bool aligned = true)
      : data_(reinterpret_cast<const uint8_t*>(data)),
        size_(size < SIZE_MAX / 8 ? size : SIZE_MAX / 8),
        tailStart_(size_ > 8 ? size_ - 8 : 0),
        pos_(0),
        end_(size_ * 8),
        aligned_(aligned) {
    std::memset(tail_, 0, sizeof tail_);
    if (size_ > tailStart_) std::memcpy(tail_, data_ + tailStart_, size_ - tailStart_);
  }

  // Bits that remain before the end of the window (the position never
  // passes it).
  std::size_t bitsLeft() const { return end_ - pos_; }
  bool atEnd() const { return pos_ == end_; }
  // Reads n bits (n <= 32); false when fewer remain.
  bool getBits(unsigned n, uint32_t& out) {
    if (n > 32 || bitsLeft() < n) return false;
    if (n == 0) {
      out = 0;
      return true;
    }
    // The field lies in at most five octets, all inside the window. Eight
    // octets are taken in one go: from the input where it has them, from
    // the zero-padded copy of its last octets near its end.
    const std::size_t at = pos_ >> 3;
    const uint8_t* p = at + 8 <= size_ ? data_ + at : tail_ + (at - tailStart_);
    uint64_t w = uint64_t(p[0]) << 56 | uint64_t(p[1]) << 48 | uint64_t(p[2]) << 40 | uint64_t(p[3]) << 32 |
                 uint64_t(p[4]) << 24 | uint64_t(p[5]) << 16 | uint64_t(p[6]) << 8 | uint64_t(p[7]);
    out = uint32_t((w << (pos_ & 7)) >> (64 - n));
    pos_ += n;
    return true;
  }
  bool getBit(bool& b) {
    if (pos_ >= end_) return false;
    b = (data_[pos_ >> 3] >> (7 - (pos_ & 7))) & 1;
    ++pos_;
    return true;
  }
  // Aligned variant: skips the unread bits of the current octet.
  void align() {
    if (aligned_) {
      std::size_t p = (pos_ + 7) & ~std::size_t(7);
      pos_ = p < end_ ? p : end_;
    }
  }
  // Aligns, then copies n octets; false (nothing consumed) when fewer remain.
  bool getOctets(void* dst, std::size_t n) {
    align();
    if (bitsLeft() / 8 < n) return false;
    uint8_t* d = static_cast<uint8_t*>(dst);
    const uint8_t* src = data_ + (pos_ >> 3);
    const unsigned skip = unsigned(pos_ & 7);
    if (skip == 0) {
      if (n) std::memcpy(d, src, n);
    } else {
      // n whole octets from a bit offset touch n + 1 input octets, the
      // last of which the check above leaves inside the window.
      for (std::size_t i = 0; i < n; ++i) d[i] = uint8_t(src[i] << skip | src[i + 1] >> (8 - skip));
    }
    pos_ += 8 * n;
    return true;
  }
  // Where the position is on an octet boundary and n octets remain in the
  // window: the octets in the input, the position moved past them.
  // Otherwise null, nothing consumed.
  const char* takeOctets(std::size_t n) {
    if ((pos_ & 7) || bitsLeft() / 8 < n) return nullptr;
    const char* p = reinterpret_cast<const char*>(data_ + (pos_ >> 3));
    pos_ += 8 * n;
    return p;
  }
  // Aligns, then steps over n octets; false when fewer remain.
  bool skipOctets(std::size_t n) {
    align();
    if (bitsLeft() / 8 < n) return false;
    pos_ += 8 * n;
    return true;
  }
  // Bit position from the start of the input.
  std::size_t position() const { return pos_; }
  std::size_t end() const { return end_; }
  // Narrows the window to end at a bit position inside it; returns the
  // previous end for restoreEnd().
  std::size_t limitEnd(std::size_t newEnd) {
    std::size_t old = end_;
    if (newEnd < end_) end_ = newEnd < pos_ ? pos_ : newEnd;
    return old;
  }
  void restoreEnd(std::size_t oldEnd) { end_ = oldEnd; }
  // Moves to a bit position inside the window.
  void setPosition(std::size_t pos) { pos_ = pos < end_ ? pos : end_; }

 private:
  const uint8_t* data_;
  std::size_t size_;       // octets of input
  std::size_t tailStart_;  // offset of the input's last octets copied to tail_
  uint8_t tail_[16];       // those octets (at most 8), then zeros
  std::size_t pos_;        // bits from data_
  std::size_t end_;  // bits from data_: the end of the current window
  bool aligned_;
};

}  // namespace ASN1
