#include "asn1/ber_encoder.h"

#include "asn1/bit_string.h"
#include "asn1/char_string.h"
#include "asn1/choice.h"
#include "asn1/data_length_counter.h"
#include "asn1/generalized_time.h"
#include "asn1/open_data.h"
#include "asn1/primitive_checker.h"
#include "asn1/sequence.h"
#include "asn1/sequence_of.h"

namespace ASN1 {

void BEREncoder::encodeIdentifier(uint32_t tag, bool constructed) {
  const uint32_t number = ber::tagNumber(tag);
  const char lead = char(ber::tagClass(tag) << 6 | (constructed ? 0x20 : 0));
  if (number < 31) {
    out_.push_back(char(lead | char(number)));
    return;
  }
  out_.push_back(char(lead | 0x1F));
  unsigned groups = ber::identifierLength(tag) - 1;
  for (unsigned i = groups; i-- > 0;) out_.push_back(char(((number >> (7 * i)) & 0x7F) | (i ? 0x80 : 0)));
}

void BEREncoder::encodeLength(uint32_t length) {
  if (length < 128) {
    out_.push_back(char(length));
    return;
  }
  unsigned k = ber::lengthLength(length) - 1;
  out_.push_back(char(0x80 | k));
  for (unsigned i = k; i-- > 0;) out_.push_back(char(length >> (8 * i)));
}

void BEREncoder::encodeInteger(int64_t v) {
  for (unsigned i = getIntegerDataLength(v); i-- > 0;) out_.push_back(char(uint64_t(v) >> (8 * i)));
}

std::size_t BEREncoder::encodeHeader(const AbstractData& value) {
  const uint32_t tag = tag_ == ber::NoTag ? value.getTag() : tag_;
  tag_ = ber::NoTag;
  if (tag == 0) return NoEnd;
  PrimitiveChecker primitive;
  const uint32_t length = getDataLength(value);
  encodeIdentifier(tag, !value.accept(primitive));
  encodeLength(length);
  return out_.size() + length;
}

bool BEREncoder::do_visit(const Null& v) { return ended(encodeHeader(v)); }

bool BEREncoder::do_visit(const BOOLEAN& v) {
  std::size_t end = encodeHeader(v);
  out_.push_back(v.getValue() ? char(0xFF) : char(0));
  return ended(end);
}

// Values of an INTEGER (0..4294967295) of 2^31 and above are written as the
// positive numbers they are, in five octets.
bool BEREncoder::do_visit(const INTEGER& v) {
  std::size_t end = encodeHeader(v);
  encodeInteger(v.getWideValue());
  return ended(end);
}

bool BEREncoder::do_visit(const ENUMERATED& v) {
  std::size_t end = encodeHeader(v);
  encodeInteger(v.getValue());
  return ended(end);
}

bool BEREncoder::do_visit(const OBJECT_IDENTIFIER& v) {
  std::vector<char> octets;
  if (!v.encodeCommon(octets)) return false;
  std::size_t end = encodeHeader(v);
  out_.insert(out_.end(), octets.begin(), octets.end());
  return ended(end);
}

bool BEREncoder::do_visit(const BIT_STRING& v) {
  std::size_t end = encodeHeader(v);
  out_.push_back(char((8 - v.size() % 8) % 8));
  const std::vector<uint8_t>& bytes = v.bytes();
  out_.insert(out_.end(), bytes.begin(), bytes.begin() + std::ptrdiff_t((v.size() + 7) / 8));
  return ended(end);
}

bool BEREncoder::do_visit(const OCTET_STRING& v) {
  std::size_t end = encodeHeader(v);
  out_.insert(out_.end(), v.begin(), v.end());
  return ended(end);
}

bool BEREncoder::do_visit(const AbstractString& v) {
  std::size_t end = encodeHeader(v);
  out_.insert(out_.end(), v.begin(), v.end());
  return ended(end);
}

bool BEREncoder::do_visit(const BMPString& v) {
  for (wchar_t c : v) {
    if (uint32_t(c) > 0xFFFF) return false;  // outside the two octets of a BMP character
  }
  std::size_t end = encodeHeader(v);
  for (wchar_t c : v) {
    out_.push_back(char(uint32_t(c) >> 8));
    out_.push_back(char(uint32_t(c)));
  }
  return ended(end);
}

bool BEREncoder::do_visit(const GeneralizedTime& v) {
  const std::string text = v.get();
  std::size_t end = encodeHeader(v);
  out_.insert(out_.end(), text.begin(), text.end());
  return ended(end);
}

bool BEREncoder::do_visit(const CHOICE& v) {
  const int sel = v.getSelection();
  if (sel < 0 || uint32_t(sel) >= v.info()->totalCount || !v.getSelectedValue()) return false;
  std::size_t end = encodeHeader(v);
  setTag(ber::alternativeTag(v.info(), unsigned(sel)));
  return v.getSelectedValue()->accept(*this) && ended(end);
}

bool BEREncoder::do_visit(const OpenData& v) {
  if (!v.has_data() && !v.has_buf()) return false;
  std::size_t end = encodeHeader(v);
  if (v.has_data()) {
    if (!v.get_data().accept(*this)) return false;
  } else {
    out_.insert(out_.end(), v.get_buf().begin(), v.get_buf().end());
  }
  return ended(end);
}

bool BEREncoder::do_visit(const SEQUENCE_OF_Base& v) {
  for (const AbstractData* e : v.elements()) {
    if (!e) return false;
  }
  std::size_t end = encodeHeader(v);
  for (const AbstractData* e : v.elements()) {
    if (!e->accept(*this)) return false;
  }
  return ended(end);
}

bool BEREncoder::preVisitExtensionRoots(const SEQUENCE& seq) {
  seqEnds_.push_back(encodeHeader(seq));
  return true;
}

bool BEREncoder::field(const SEQUENCE& seq, int index) {
  const AbstractData* f = seq.getField(unsigned(index));
  if (!f) return false;
  setTag(ber::fieldTag(seq.info(), unsigned(index)));
  return f->accept(*this);
}

bool BEREncoder::visitExtensionRoot(const SEQUENCE& seq, int index) { return field(seq, index); }

bool BEREncoder::visitKnownExtension(const SEQUENCE& seq, int index) { return field(seq, index); }

bool BEREncoder::afterVisitSequence(const SEQUENCE&) {
  std::size_t end = seqEnds_.back();
  seqEnds_.pop_back();
  return ended(end);
}

}  // namespace ASN1
