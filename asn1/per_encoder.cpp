#include "asn1/per_encoder.h"

#include "asn1/bit_string.h"
#include "asn1/char_string.h"
#include "asn1/choice.h"
#include "asn1/generalized_time.h"
#include "asn1/open_data.h"
#include "asn1/per_common.h"
#include "asn1/sequence.h"
#include "asn1/sequence_of.h"

namespace ASN1 {

using namespace per;

void PEREncoder::encodeBitMap(const uint8_t* map, unsigned bits) {
  unsigned i = 0;
  for (; i + 8 <= bits; i += 8) w_.putBits(map[i / 8], 8);
  if (i < bits) w_.putBits(uint32_t(map[i / 8]) >> (8 - (bits - i)), bits - i);
}

bool PEREncoder::encodeUnsigned(int64_t v, int64_t lo, int64_t hi) {
  if (hi < lo || v < lo || v > hi) return false;
  if (lo == hi) return true;
  uint64_t range = uint64_t(hi - lo) + 1;
  uint64_t off = uint64_t(v - lo);
  unsigned b = rangeBits(range);
  if (!aligned_ || range <= 255) {
    w_.putBits(uint32_t(off), b);
    return true;
  }
  if (b <= 8) {
    w_.align();
    w_.putBits(uint32_t(off), 8);
    return true;
  }
  if (b <= 16) {
    w_.align();
    w_.putBits(uint32_t(off), 16);
    return true;
  }
  unsigned k = unsignedOctets(off);
  if (!encodeLength(k, 1, (b + 7) / 8)) return false;
  w_.align();
  for (unsigned i = k; i-- > 0;) w_.putBits(uint32_t(off >> (8 * i)) & 0xFF, 8);
  return true;
}

bool PEREncoder::encodeGeneralLength(uint32_t length) {
  w_.align();
  if (length <= 127) {
    w_.putBits(length, 8);
    return true;
  }
  if (length <= 16383) {
    w_.putBits(0x8000 | length, 16);
    return true;
  }
  // 16384 and more would need fragmentation, which neither side speaks.
  return false;
}

// An upper bound below 64K makes the length a constrained number (a bit
// field in the unaligned variant); larger bounds take the general form.
bool PEREncoder::encodeLength(uint32_t length, uint32_t lo, uint32_t hi) {
  if (length < lo || length > hi) return false;
  if (hi <= 65535) return encodeUnsigned(length, lo, hi);
  return encodeGeneralLength(length);
}

bool PEREncoder::encodeSmallUnsigned(uint32_t n) {
  if (n <= 63) {
    w_.putBits(n, 7);
    return true;
  }
  w_.putBit(true);
  unsigned k = unsignedOctets(n);
  if (!encodeGeneralLength(k)) return false;
  w_.putBits(n, 8 * k);
  return true;
}

bool PEREncoder::encodeConstrainedLength(const ConstrainedObject& object, uint32_t length) {
  const ConstrainedInfo* inf = object.info();
  uint32_t lo = uint32_t(inf->lowerLimit), hi = inf->upperLimit;
  switch (inf->constraintType) {
    case ExtendableConstraint: {
      bool outside = length < lo || length > hi;
      w_.putBit(outside);
      return outside ? encodeLength(length, 0, Unbounded) : encodeLength(length, lo, hi);
    }
    case FixedConstraint:
      return encodeLength(length, lo, hi);
    case PartiallyConstrained:
      return encodeLength(length, lo, Unbounded);
    default:
      return encodeLength(length, 0, Unbounded);
  }
}

bool PEREncoder::encodeOpenOctets(const char* octets, std::size_t n) {
  if (n == 0) {
    static const char empty = 0;
    return encodeOpenOctets(&empty, 1);
  }
  if (n > 16383 || !encodeGeneralLength(uint32_t(n))) return false;
  w_.putOctets(octets, n);
  return true;
}

bool PEREncoder::encodeAnyType(const AbstractData* value) {
  // The contents are a complete encoding in this variant, made in place in
  // whole octets after the current one; the length is then slid in front of
  // them (and, unaligned, both are moved to the current bit): no separate
  // buffer.
  w_.align();
  std::vector<char>& out = w_.buffer();
  std::size_t start = out.size();
  if (value) {
    PEREncoder inner(out, aligned_);
    if (!value->accept(inner)) return false;
  }
  if (out.size() == start) out.push_back(0);  // an empty encoding is sent as one octet 0
  std::size_t n = out.size() - start;
  if (n <= 127) {
    const uint8_t len = uint8_t(n);
    w_.spliceTail(start, &len, 1);
  } else if (n <= 16383) {
    const uint8_t len[2] = {uint8_t(0x80 | (n >> 8)), uint8_t(n & 0xFF)};
    w_.spliceTail(start, len, 2);
  } else {
    return false;
  }
  return true;
}

bool PEREncoder::do_visit(const Null&) { return true; }

bool PEREncoder::do_visit(const BOOLEAN& v) {
  w_.putBit(v.getValue());
  return true;
}

bool PEREncoder::do_visit(const INTEGER& v) {
  const ConstrainedInfo* inf = v.info();
  int64_t lo = inf->lowerLimit, hi = upperBound(*inf);
  int64_t x = v.getWideValue();
  switch (inf->constraintType) {
    case FixedConstraint:
      return encodeUnsigned(x, lo, hi);
    case ExtendableConstraint: {
      bool outside = x < lo || x > hi;
      w_.putBit(outside);
      if (!outside) return encodeUnsigned(x, lo, hi);
      break;
    }
    case PartiallyConstrained: {
      if (x < lo) return false;
      uint64_t off = uint64_t(x - lo);
      unsigned k = unsignedOctets(off);
      if (!encodeGeneralLength(k)) return false;
      for (unsigned i = k; i-- > 0;) w_.putBits(uint32_t(off >> (8 * i)) & 0xFF, 8);
      return true;
    }
    default:
      break;
  }
  // Two's complement in the fewest octets.
  unsigned k = signedOctets(x);
  if (!encodeGeneralLength(k)) return false;
  for (unsigned i = k; i-- > 0;) w_.putBits(uint32_t(uint64_t(x) >> (8 * i)) & 0xFF, 8);
  return true;
}

// Enumerations are coded by their value, not their position.
bool PEREncoder::do_visit(const ENUMERATED& v) {
  int64_t x = v.getValue(), max = v.getMaximum();
  if (v.extendable()) {
    bool ext = x > max;
    w_.putBit(ext);
    if (ext) return encodeSmallUnsigned(uint32_t(x + 1)) && encodeUnsigned(x, 0, x);
  }
  return encodeUnsigned(x, 0, max);
}

bool PEREncoder::do_visit(const OBJECT_IDENTIFIER& v) {
  std::vector<char> octets;
  if (!v.encodeCommon(octets) || octets.size() > 255) return false;
  if (!encodeLength(uint32_t(octets.size()), 0, 255)) return false;
  encodeBlock(octets.data(), octets.size());
  return true;
}

bool PEREncoder::do_visit(const BIT_STRING& v) {
  unsigned n = v.size();
  if (!encodeConstrainedLength(v, n)) return false;
  if (n == 0) return true;
  const std::vector<uint8_t>& bytes = v.bytes();
  if (aligned_ && n > 16) {
    w_.putOctets(bytes.data(), n / 8);
    if (n % 8) {
      w_.putBits(uint32_t(bytes[n / 8]) >> (8 - n % 8), n % 8);
      w_.align();
    }
    return true;
  }
  encodeBitMap(bytes.data(), n);
  return true;
}

bool PEREncoder::do_visit(const OCTET_STRING& v) {
  std::size_t n = v.size();
  if (n > 0xFFFFFFFFu || !encodeConstrainedLength(v, uint32_t(n))) return false;
  if (n <= 2) {
    for (std::size_t i = 0; i < n; ++i) w_.putBits(uint8_t(v[i]), 8);
  } else {
    w_.putOctets(v.data(), n);
  }
  return true;
}

bool PEREncoder::do_visit(const AbstractString& v) {
  const AbstractStringInfo* inf = v.info();
  std::size_t n = v.size();
  if (n > 0xFFFFFFFFu || !encodeConstrainedLength(v, uint32_t(n))) return false;
  unsigned b = aligned_ ? inf->alignedWidth : inf->unalignedWidth;
  bool small = inf->constraintType != Unconstrained && uint64_t(inf->upperLimit) * b <= 16;
  if (!small && n > 0) {
    if (b == 8) {
      w_.putOctets(v.data(), n);
      return true;
    }
    if (aligned_) w_.align();
  }
  bool byCode = inf->canonicalWidth > 4 && inf->canonicalWidth <= b;
  for (std::size_t i = 0; i < n; ++i) {
    unsigned char c = static_cast<unsigned char>(v[i]);
    int index = v.alphabetIndex(c);
    if (index < 0) return false;
    w_.putBits(byCode ? c : unsigned(index), b);
  }
  return true;
}

bool PEREncoder::do_visit(const BMPString& v) {
  const BMPStringInfo* inf = v.info();
  std::size_t n = v.size();
  if (n > 0xFFFFFFFFu || !encodeConstrainedLength(v, uint32_t(n))) return false;
  unsigned b = aligned_ ? inf->alignedWidth : inf->unalignedWidth;
  bool small = inf->constraintType != Unconstrained && uint64_t(inf->upperLimit) * b <= 16;
  if (aligned_ && !small && n > 0) w_.align();
  for (std::size_t i = 0; i < n; ++i) {
    if (!v.legalCharacter(v[i])) return false;
    w_.putBits(uint32_t(v[i]) - inf->firstChar, b);
  }
  return true;
}

bool PEREncoder::do_visit(const CHOICE& v) {
  const ChoiceInfo* inf = v.info();
  int sel = v.getSelection();
  if (sel < 0 || uint32_t(sel) >= inf->totalCount || !v.getSelectedValue()) return false;
  if (inf->extendable) {
    bool ext = uint32_t(sel) >= inf->rootCount;
    w_.putBit(ext);
    if (ext) return encodeSmallUnsigned(uint32_t(sel) - inf->rootCount) && encodeAnyType(v.getSelectedValue());
  } else if (uint32_t(sel) >= inf->rootCount) {
    return false;
  }
  return encodeUnsigned(sel, 0, int64_t(inf->rootCount) - 1) && v.getSelectedValue()->accept(*this);
}

bool PEREncoder::do_visit(const OpenData& v) {
  if (v.has_data()) return encodeAnyType(&v.get_data());
  if (v.has_buf()) return encodeOpenOctets(v.get_buf().data(), v.get_buf().size());
  return encodeAnyType(nullptr);
}

// The text in octets (aligned variant), or in 7-bit characters as
// unaligned PER writes the VisibleString it is made of.
bool PEREncoder::do_visit(const GeneralizedTime& v) {
  std::string text = v.get();
  if (!encodeGeneralLength(uint32_t(text.size()))) return false;
  if (aligned_) {
    w_.putOctets(text.data(), text.size());
    return true;
  }
  for (char c : text) {
    if (uint8_t(c) > 0x7F) return false;
    w_.putBits(uint8_t(c), 7);
  }
  return true;
}

bool PEREncoder::do_visit(const SEQUENCE_OF_Base& v) {
  if (!encodeConstrainedLength(v, v.size())) return false;
  for (const AbstractData* e : v.elements()) {
    if (!e || !e->accept(*this)) return false;
  }
  return true;
}

bool PEREncoder::preVisitExtensionRoots(const SEQUENCE& seq) {
  const SequenceInfo* inf = seq.info();
  // The extension part follows only when an addition is present.
  if (inf->extendable) w_.putBit(seq.extensionMap().any());
  encodeBitMap(seq.optionalMap().data(), inf->optionalCount);
  return true;
}

bool PEREncoder::visitExtensionRoot(const SEQUENCE& seq, int index) {
  const AbstractData* f = seq.getField(unsigned(index));
  return f && f->accept(*this);
}

bool PEREncoder::preVisitExtensions(const SEQUENCE& seq) {
  const SEQUENCE::BitMap& map = seq.extensionMap();
  if (!map.any()) return true;
  if (!encodeSmallUnsigned(map.size() - 1)) return false;
  encodeBitMap(map.data(), map.size());
  return true;
}

bool PEREncoder::visitKnownExtension(const SEQUENCE& seq, int index) {
  return encodeAnyType(seq.getField(unsigned(index)));
}

}  // namespace ASN1
