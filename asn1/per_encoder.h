// Packed encoding rules, aligned and unaligned: the encoder. The unaligned
// variant is X.691's: nothing is aligned, and open types hold complete
// encodings in the same variant.
#pragma once

#include <cstdint>
#include <vector>

#include "asn1/bit_stream.h"
#include "asn1/visitor.h"

namespace ASN1 {

class ConstrainedObject;

class PEREncoder : public ConstVisitor {
 public:
  // Appends to out. The aligned variant is the wire form of the control
  // and agent links.
  PEREncoder(std::vector<char>& out, bool aligned = true) : w_(out, aligned), aligned_(aligned) {}

  bool aligned() const { return aligned_; }

  bool do_visit(const Null& v) override;
  bool do_visit(const BOOLEAN& v) override;
  bool do_visit(const INTEGER& v) override;
  bool do_visit(const ENUMERATED& v) override;
  bool do_visit(const OBJECT_IDENTIFIER& v) override;
  bool do_visit(const BIT_STRING& v) override;
  bool do_visit(const OCTET_STRING& v) override;
  bool do_visit(const AbstractString& v) override;
  bool do_visit(const BMPString& v) override;
  bool do_visit(const CHOICE& v) override;
  bool do_visit(const OpenData& v) override;
  bool do_visit(const GeneralizedTime& v) override;
  bool do_visit(const SEQUENCE_OF_Base& v) override;
  bool preVisitExtensionRoots(const SEQUENCE& seq) override;
  bool visitExtensionRoot(const SEQUENCE& seq, int index) override;
  bool preVisitExtensions(const SEQUENCE& seq) override;
  bool visitKnownExtension(const SEQUENCE& seq, int index) override;

  // Primitives.
  void encodeSingleBit(bool bit) { w_.putBit(bit); }
  void encodeMultiBit(uint32_t value, unsigned n) { w_.putBits(value, n); }
  void encodeBitMap(const uint8_t* map, unsigned bits);
  void encodeBlock(const char* octets, std::size_t n) {
    if (n) w_.putOctets(octets, n);
  }
  void encodeByte(uint8_t b) { w_.putOctet(b); }
  // Constrained whole number v in lo..hi (64-bit so that every 32-bit
  // range, signed or unsigned, fits).
  bool encodeUnsigned(int64_t v, int64_t lo, int64_t hi);
  // Length determinant; hi = Unbounded for no upper bound. Lengths of
  // 16384 and more have no unfragmented form: they fail.
  bool encodeLength(uint32_t length, uint32_t lo, uint32_t hi);
  bool encodeSmallUnsigned(uint32_t n);
  // Length of a string or list under its descriptor's size constraint.
  bool encodeConstrainedLength(const ConstrainedObject& object, uint32_t length);
  // The value as an open type: a length, then its own complete encoding.
  bool encodeAnyType(const AbstractData* value);

  static const uint32_t Unbounded = 0x7FFFFFFF;

 private:
  bool encodeGeneralLength(uint32_t length);
  bool encodeOpenOctets(const char* octets, std::size_t n);

  BitWriter w_;
  bool aligned_;
};

}  // namespace ASN1
