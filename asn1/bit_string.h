// BIT STRING, OCTET STRING and OBJECT IDENTIFIER values.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "asn1/scalar.h"

namespace ASN1 {

class BIT_STRING : public ConstrainedObject, public detail::Allocator<BIT_STRING> {
  ASN1_VALUE_CLASS_MEMBERS(BIT_STRING)
  static const ConstrainedInfo theInfo;
  explicit BIT_STRING(const void* info = &theInfo) : ConstrainedObject(info), bits_(0) {}
  // Bit count.
  unsigned size() const { return bits_; }
  // Sets the bit count; new bits are 0.
  void resize(unsigned bits);
  bool getBit(unsigned i) const { return i < bits_ && (bytes_[i / 8] & (0x80 >> (i % 8))); }
  void setBit(unsigned i, bool on);
  // Bit 0 is the most significant bit of the first octet.
  const std::vector<uint8_t>& bytes() const { return bytes_; }
  std::vector<uint8_t>& bytes() { return bytes_; }

 private:
  uint32_t bits_;
  std::vector<uint8_t> bytes_;
};

class OCTET_STRING : public ConstrainedObject,
                     public std::vector<char>,
                     public detail::Allocator<OCTET_STRING> {
  ASN1_VALUE_CLASS_MEMBERS(OCTET_STRING)
  typedef std::vector<char> base_vector;
  static const ConstrainedInfo theInfo;
  explicit OCTET_STRING(const void* info = &theInfo) : ConstrainedObject(info) {}
  OCTET_STRING(std::size_t count, char fill, const void* info) : ConstrainedObject(info), base_vector(count, fill) {}
  OCTET_STRING(const std::vector<char>& octets, const void* info) : ConstrainedObject(info), base_vector(octets) {}
  OCTET_STRING& operator=(const std::string& s) {
    assign(s.begin(), s.end());
    return *this;
  }
  OCTET_STRING& operator=(const std::vector<char>& v) {
    base_vector::operator=(v);
    return *this;
  }
  operator std::string() const { return std::string(data(), size()); }
};

class OBJECT_IDENTIFIER : public AbstractData, public detail::Allocator<OBJECT_IDENTIFIER> {
  ASN1_VALUE_CLASS_MEMBERS(OBJECT_IDENTIFIER)
  static const TypeInfo theInfo;
  explicit OBJECT_IDENTIFIER(const void* info = &theInfo) : AbstractData(info) {}
  unsigned levels() const { return unsigned(arcs_.size()); }
  uint32_t operator[](unsigned i) const { return arcs_[i]; }
  const std::vector<uint32_t>& arcs() const { return arcs_; }
  std::vector<uint32_t>& arcs() { return arcs_; }
  // Contents octets shared by BER and PER: arc0 * 40 + arc1, then the other
  // arcs, base 128. Fewer than two arcs give no octets; a first arc above
  // 2, or a second above 39 under arc 0 or 1, has no such form (false).
  bool encodeCommon(std::vector<char>& out) const;
  // False when the octets end inside a subidentifier or one exceeds 32 bits.
  bool decodeCommon(const char* data, unsigned length);

 private:
  std::vector<uint32_t> arcs_;
};

}  // namespace ASN1
