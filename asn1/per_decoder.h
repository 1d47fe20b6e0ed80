// Packed encoding rules, aligned and unaligned: the decoder. Every read is
// checked against the end of the current window; open types are decoded
// inside a window that ends where their length says, at any bit in the
// unaligned variant.
#pragma once

#include <cstdint>

#include "asn1/bit_stream.h"
#include "asn1/visitor.h"

namespace ASN1 {

class CoderEnv;
class ConstrainedObject;

class PERDecoder : public Visitor {
 public:
  PERDecoder(const char* first, const char* last, CoderEnv* env = nullptr, bool aligned = true)
      : r_(first, std::size_t(last - first), aligned), env_(env), aligned_(aligned) {}

  CoderEnv* getEnv() const { return env_; }
  bool aligned() const { return aligned_; }
  std::size_t getBitsLeft() const { return r_.bitsLeft(); }
  // Bit position of the reader from the start of the input.
  std::size_t position() const { return r_.position(); }

  bool do_visit(Null& v) override;
  bool do_visit(BOOLEAN& v) override;
  bool do_visit(INTEGER& v) override;
  bool do_visit(ENUMERATED& v) override;
  bool do_visit(OBJECT_IDENTIFIER& v) override;
  bool do_visit(OCTET_STRING& v) override;
  bool do_visit(BIT_STRING& v) override;
  bool do_visit(AbstractString& v) override;
  bool do_visit(BMPString& v) override;
  bool do_visit(CHOICE& v) override;
  bool do_visit(SEQUENCE_OF_Base& v) override;
  bool do_visit(OpenData& v) override;
  bool do_revisit(OpenData& v) override;
  bool do_visit(TypeConstrainedOpenData& v) override;
  bool do_visit(GeneralizedTime& v) override;
  int preVisitExtensionRoots(SEQUENCE& seq) override;
  int visitExtensionRoot(SEQUENCE& seq, int index, int optionalId) override;
  int preVisitExtensions(SEQUENCE& seq) override;
  int visitKnownExtension(SEQUENCE& seq, int index, int optionalId) override;
  bool visitUnknownExtensions(SEQUENCE& seq) override;

  // Primitives; each fails rather than read past the window.
  bool decodeUnsigned(int64_t lo, int64_t hi, int64_t& out);
  bool decodeLength(uint32_t lo, uint32_t hi, uint32_t& out);
  bool decodeSmallUnsigned(uint32_t& out);
  bool decodeConstrainedLength(const ConstrainedObject& object, uint32_t& out);
  bool decodeBitMap(uint8_t* map, unsigned bits);

  static const uint32_t Unbounded = 0x7FFFFFFF;

 private:
  bool decodeGeneralLength(uint32_t& out);
  // Reads an open type's length and narrows the window to its contents;
  // `end` receives the bit position just after them, `saved` the outer end.
  bool openWindow(std::size_t& end, std::size_t& saved);
  void closeWindow(std::size_t end, std::size_t saved) {
    r_.restoreEnd(saved);
    r_.setPosition(end);
  }
  // Decodes a value in its own window: an open type's contents.
  bool decodeOpenType(AbstractData& value);

  BitReader r_;
  CoderEnv* env_;
  bool aligned_;
};

}  // namespace ASN1
