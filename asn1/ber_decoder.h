// Basic encoding rules (X.690), definite lengths: the decoder. It reads
// inside a window that every header narrows to its contents, so no length
// can carry a read, a skip or an allocation past the octets that are there.
// The indefinite-length form is refused.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "asn1/ber_common.h"
#include "asn1/visitor.h"

namespace ASN1 {

class CoderEnv;

class BERDecoder : public Visitor {
 public:
  BERDecoder(const char* first, const char* last, CoderEnv* env = nullptr)
      : data_(reinterpret_cast<const uint8_t*>(first)),
        pos_(0),
        end_(std::size_t(last - first)),
        env_(env),
        tag_(ber::NoTag) {}

  CoderEnv* getEnv() const { return env_; }
  // Octet offset of the read position from the start of the input.
  std::size_t offset() const { return pos_; }
  // The tag the next value must carry instead of its own (ber::NoTag: its
  // own; 0: the value has no identifier and length of its own).
  void setTag(uint32_t tag) { tag_ = tag; }

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
  int visitKnownExtension(SEQUENCE& seq, int index, int optionalId) override;
  bool visitUnknownExtensions(SEQUENCE& seq) override;

  // Reads identifier and length octets. Fails, leaving the position where
  // it was, when they are cut short, announce more contents than the
  // window holds, use the indefinite form or more than four length octets,
  // or a tag number above 16 bits.
  bool decodeHeader(uint32_t& tag, bool& primitive, uint32_t& length);
  // The same, and the tag must be the pending tag (or the value's own).
  bool decodeHeader(const AbstractData& value, bool& primitive, uint32_t& length);
  // Copies min(n, octets left in the window) octets; answers the count.
  std::size_t decodeBlock(char* dst, std::size_t n);

 private:
  struct Window {
    std::size_t end;    // where the contents end
    std::size_t outer;  // the enclosing window's end
  };
  uint32_t takeTag(const AbstractData& value) {
    uint32_t t = tag_ == ber::NoTag ? value.getTag() : tag_;
    tag_ = ber::NoTag;
    return t;
  }
  // Header of a primitive encoding; length receives its contents length.
  bool primitiveHeader(const AbstractData& value, uint32_t& length);
  // Header of a constructed encoding; narrows the window to its contents.
  bool enter(const AbstractData& value, Window& w);
  // Back to the enclosing window; false when contents are left unread.
  bool leave(const Window& w);
  // The tag of the next header, without moving.
  bool peekTag(uint32_t& tag);
  int decodeField(SEQUENCE& seq, int index, int optionalId);
  bool decodeSigned(int64_t& out, uint32_t length);

  const uint8_t* data_;
  std::size_t pos_;
  std::size_t end_;
  CoderEnv* env_;
  uint32_t tag_;
  std::vector<Window> seqWindows_;  // one per SEQUENCE being decoded
};

}  // namespace ASN1
