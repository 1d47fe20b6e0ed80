// Measures the contents octets of a value's BER encoding: what the header
// in front of them announces.
#pragma once

#include <cstdint>

#include "asn1/visitor.h"

namespace ASN1 {

class DataLengthCounter : public ConstVisitor {
 public:
  DataLengthCounter() : length_(0) {}
  uint32_t getDataLength() const { return length_; }

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
  bool visitExtensionRoot(const SEQUENCE& seq, int index) override;
  bool visitKnownExtension(const SEQUENCE& seq, int index) override;

 private:
  bool field(const SEQUENCE& seq, int index);

  uint32_t length_;
};

// Octets of v as the shortest two's-complement number (1 to 5 for the
// 32-bit values, signed or unsigned, that the value model holds).
unsigned getIntegerDataLength(int64_t v);
// Contents octets of the value's encoding.
uint32_t getDataLength(const AbstractData& value);
// Octets of the whole encoding with the given tag: identifier, length and
// contents. ber::NoTag stands for the value's own tag; a value coded
// without a tag of its own (tag 0) is its contents alone.
uint32_t getObjectLength(const AbstractData& value, uint32_t tag);

}  // namespace ASN1
