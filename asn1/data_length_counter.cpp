#include "asn1/data_length_counter.h"

#include "asn1/ber_common.h"
#include "asn1/bit_string.h"
#include "asn1/char_string.h"
#include "asn1/choice.h"
#include "asn1/generalized_time.h"
#include "asn1/open_data.h"
#include "asn1/sequence.h"
#include "asn1/sequence_of.h"

namespace ASN1 {

unsigned getIntegerDataLength(int64_t v) {
  // Drops leading octets while the nine top bits that remain are all equal.
  unsigned k = 8;
  while (k > 1) {
    int64_t top9 = v >> (8 * k - 9);
    if (top9 != 0 && top9 != -1) break;
    --k;
  }
  return k;
}

uint32_t getDataLength(const AbstractData& value) {
  DataLengthCounter counter;
  value.accept(counter);
  return counter.getDataLength();
}

uint32_t getObjectLength(const AbstractData& value, uint32_t tag) {
  if (tag == ber::NoTag) tag = value.getTag();
  uint32_t length = getDataLength(value);
  if (tag == 0) return length;
  return ber::identifierLength(tag) + ber::lengthLength(length) + length;
}

bool DataLengthCounter::do_visit(const Null&) { return true; }

bool DataLengthCounter::do_visit(const BOOLEAN&) {
  length_ += 1;
  return true;
}

bool DataLengthCounter::do_visit(const INTEGER& v) {
  length_ += getIntegerDataLength(v.getWideValue());
  return true;
}

bool DataLengthCounter::do_visit(const ENUMERATED& v) {
  length_ += getIntegerDataLength(v.getValue());
  return true;
}

bool DataLengthCounter::do_visit(const OBJECT_IDENTIFIER& v) {
  std::vector<char> octets;
  if (!v.encodeCommon(octets)) return false;
  length_ += uint32_t(octets.size());
  return true;
}

bool DataLengthCounter::do_visit(const BIT_STRING& v) {
  length_ += (v.size() + 7) / 8 + 1;
  return true;
}

bool DataLengthCounter::do_visit(const OCTET_STRING& v) {
  length_ += uint32_t(v.size());
  return true;
}

bool DataLengthCounter::do_visit(const AbstractString& v) {
  length_ += uint32_t(v.size());
  return true;
}

bool DataLengthCounter::do_visit(const BMPString& v) {
  length_ += 2 * uint32_t(v.size());
  return true;
}

bool DataLengthCounter::do_visit(const GeneralizedTime& v) {
  length_ += uint32_t(v.get().size());
  return true;
}

// The contents of an explicit wrapper: the alternative's whole encoding.
bool DataLengthCounter::do_visit(const CHOICE& v) {
  const int sel = v.getSelection();
  if (sel < 0 || uint32_t(sel) >= v.info()->totalCount || !v.getSelectedValue()) return sel < 0;
  length_ += getObjectLength(*v.getSelectedValue(), ber::alternativeTag(v.info(), unsigned(sel)));
  return true;
}

// The contained value is coded whole, with its own tag; undecoded octets
// are a whole encoding already.
bool DataLengthCounter::do_visit(const OpenData& v) {
  if (v.has_data())
    length_ += getObjectLength(v.get_data(), ber::NoTag);
  else if (v.has_buf())
    length_ += uint32_t(v.get_buf().size());
  return true;
}

bool DataLengthCounter::do_visit(const SEQUENCE_OF_Base& v) {
  for (const AbstractData* e : v.elements()) {
    if (!e) return false;
    length_ += getObjectLength(*e, ber::NoTag);
  }
  return true;
}

bool DataLengthCounter::field(const SEQUENCE& seq, int index) {
  const AbstractData* f = seq.getField(unsigned(index));
  if (!f) return false;
  length_ += getObjectLength(*f, ber::fieldTag(seq.info(), unsigned(index)));
  return true;
}

bool DataLengthCounter::visitExtensionRoot(const SEQUENCE& seq, int index) { return field(seq, index); }

bool DataLengthCounter::visitKnownExtension(const SEQUENCE& seq, int index) { return field(seq, index); }

}  // namespace ASN1
