// Basic encoding rules (X.690), definite lengths: the encoder. Every field
// of a SEQUENCE and every CHOICE alternative is tagged implicitly with the
// tag of its position; a CHOICE or open type that is itself given a tag
// wraps its alternative in an explicit, constructed one.
#pragma once

#include <cstdint>
#include <vector>

#include "asn1/ber_common.h"
#include "asn1/visitor.h"

namespace ASN1 {

class BEREncoder : public ConstVisitor {
 public:
  // Appends to out.
  explicit BEREncoder(std::vector<char>& out) : out_(out), tag_(ber::NoTag) {}

  // The tag the next value is coded with instead of its own (ber::NoTag:
  // its own; 0: no identifier and length).
  void setTag(uint32_t tag) { tag_ = tag; }

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
  bool visitKnownExtension(const SEQUENCE& seq, int index) override;
  bool afterVisitSequence(const SEQUENCE& seq) override;

  // Writes the identifier and length octets of value under the pending tag
  // (consuming it) and answers the offset at which its contents must end;
  // NoEnd when the value is coded without a header.
  std::size_t encodeHeader(const AbstractData& value);
  // Identifier octets of a tag, with the constructed bit as given.
  void encodeIdentifier(uint32_t tag, bool constructed);
  void encodeLength(uint32_t length);
  // A two's-complement number in the fewest octets.
  void encodeInteger(int64_t v);

  static const std::size_t NoEnd = ~std::size_t(0);

 private:
  // Whether the contents written match what the header announced: the
  // length counter and the writers must agree, or the output is refused.
  bool ended(std::size_t end) const { return end == NoEnd || out_.size() == end; }
  bool field(const SEQUENCE& seq, int index);

  std::vector<char>& out_;
  uint32_t tag_;
  std::vector<std::size_t> seqEnds_;  // one per SEQUENCE being written
};

}  // namespace ASN1
