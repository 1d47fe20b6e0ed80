#include "asn1/per_decoder.h"

#include <algorithm>

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

bool PERDecoder::decodeBitMap(uint8_t* map, unsigned bits) {
  if (bits <= 8) {
    // Most maps: a few optional fields.
    uint32_t v = 0;
    if (!r_.getBits(bits, v)) return false;
    if (bits) map[0] = uint8_t(v << (8 - bits));
    return true;
  }
  if (r_.bitsLeft() < bits) return false;
  // Up to 32 bits at a time, stored from the top of their first octet.
  for (unsigned i = 0; i < bits; i += 32) {
    unsigned take = bits - i < 32 ? bits - i : 32;
    uint32_t v = 0;
    r_.getBits(take, v);
    v <<= 32 - take;
    for (unsigned k = 0; k * 8 < take; ++k) map[i / 8 + k] = uint8_t(v >> (24 - 8 * k));
  }
  return true;
}

bool PERDecoder::decodeUnsigned(int64_t lo, int64_t hi, int64_t& out) {
  if (hi <= lo) {
    out = lo;
    return hi == lo;
  }
  // Every form below reads at least one bit, so it fails at the end of the
  // input without a separate check.
  uint64_t range = uint64_t(hi - lo) + 1;
  unsigned b = rangeBits(range);
  uint32_t v = 0;
  if (!aligned_ || range <= 255) {
    if (!r_.getBits(b, v)) return false;
  } else if (b <= 16) {
    r_.align();
    if (!r_.getBits(b <= 8 ? 8 : 16, v)) return false;
  } else {
    uint32_t k;
    if (!decodeLength(1, (b + 7) / 8, k) || k > 4) return false;
    r_.align();
    if (!r_.getBits(8 * k, v)) return false;
  }
  // Not checked against hi: the user of the value judges it.
  out = lo + int64_t(v);
  return true;
}

bool PERDecoder::decodeGeneralLength(uint32_t& out) {
  r_.align();
  uint32_t first;
  if (!r_.getBits(8, first)) return false;
  if (!(first & 0x80)) {
    out = first;
    return true;
  }
  if (first & 0x40) return false;  // fragmented form: not supported
  uint32_t second;
  if (!r_.getBits(8, second)) return false;
  out = ((first & 0x3F) << 8) | second;
  return true;
}

// An upper bound below 64K makes the length a constrained number (a bit
// field in the unaligned variant); larger bounds take the general form.
bool PERDecoder::decodeLength(uint32_t lo, uint32_t hi, uint32_t& out) {
  if (hi <= 65535) {
    int64_t v;
    if (!decodeUnsigned(lo, hi, v) || v > 0xFFFFFFFF) return false;
    out = uint32_t(v);
    return true;
  }
  return decodeGeneralLength(out);
}

bool PERDecoder::decodeSmallUnsigned(uint32_t& out) {
  bool big;
  if (!r_.getBit(big)) return false;
  if (!big) return r_.getBits(6, out);
  uint32_t k;
  // More than four octets do not fit a 32-bit field: the reader refuses them.
  if (!decodeGeneralLength(k) || k == 0) return false;
  return r_.getBits(8 * k, out);
}

bool PERDecoder::decodeConstrainedLength(const ConstrainedObject& object, uint32_t& out) {
  const ConstrainedInfo* inf = object.info();
  uint32_t lo = uint32_t(inf->lowerLimit), hi = inf->upperLimit;
  switch (inf->constraintType) {
    case ExtendableConstraint: {
      bool outside;
      if (!r_.getBit(outside)) return false;
      return outside ? decodeLength(0, Unbounded, out) : decodeLength(lo, hi, out);
    }
    case FixedConstraint:
      return decodeLength(lo, hi, out);
    case PartiallyConstrained:
      return decodeLength(lo, Unbounded, out);
    default:
      return decodeLength(0, Unbounded, out);
  }
}

bool PERDecoder::openWindow(std::size_t& end, std::size_t& saved) {
  uint32_t len;
  if (!decodeGeneralLength(len)) return false;
  if (r_.bitsLeft() / 8 < len) return false;
  end = r_.position() + 8 * std::size_t(len);
  saved = r_.limitEnd(end);
  return true;
}

bool PERDecoder::decodeOpenType(AbstractData& value) {
  std::size_t end, saved;
  if (!openWindow(end, saved)) return false;
  bool ok = value.accept(*this);
  closeWindow(end, saved);
  return ok;
}

bool PERDecoder::do_visit(Null&) { return true; }

bool PERDecoder::do_visit(BOOLEAN& v) {
  bool b;
  if (!r_.getBit(b)) return false;
  v.setValue(b);
  return true;
}

// Reads k octets as a two's-complement (or plain unsigned) number. Four
// octets hold every value but the non-negative ones from 2^31 up in two's
// complement, which take a fifth, leading octet; longer forms are refused.
static bool readOctets(BitReader& r, uint32_t k, bool isSigned, int64_t& out) {
  if (k == 0 || k > 5) return false;
  uint32_t high = 0, low = 0;
  if (k > 4 && !r.getBits(8 * (k - 4), high)) return false;
  if (!r.getBits(8 * (k > 4 ? 4 : k), low)) return false;
  uint64_t v = uint64_t(high) << 32 | low;
  if (isSigned && (v >> (8 * k - 1)) & 1) v |= ~uint64_t(0) << (8 * k);
  out = int64_t(v);
  return true;
}

bool PERDecoder::do_visit(INTEGER& v) {
  const ConstrainedInfo* inf = v.info();
  if (inf->constraintType == Unconstrained || inf->constraintType > ExtendableConstraint) {
    // The most common kind: one to four octets of two's complement.
    uint32_t k, u;
    if (!decodeGeneralLength(k) || k == 0 || k > 4 || !r_.getBits(8 * k, u)) return false;
    if (k < 4 && (u >> (8 * k - 1)) & 1) u |= ~uint32_t(0) << (8 * k);
    v.setValue(int(int32_t(u)));
    return true;
  }
  int64_t lo = inf->lowerLimit, hi = upperBound(*inf);
  int64_t x;
  uint32_t k;
  switch (inf->constraintType) {
    case ExtendableConstraint: {
      bool outside;
      if (!r_.getBit(outside)) return false;
      if (outside) break;
    }
    // fall through
    case FixedConstraint:
      if (!decodeUnsigned(lo, hi, x)) return false;
      v.setValue(int(int32_t(uint32_t(uint64_t(x)))));
      return true;
    case PartiallyConstrained:
      if (!decodeGeneralLength(k) || !readOctets(r_, k, false, x)) return false;
      x += lo;
      if (x < lo || x > (lo < 0 ? int64_t(INT32_MAX) : int64_t(UINT32_MAX))) return false;
      v.setValue(int(int32_t(uint32_t(uint64_t(x)))));
      return true;
    default:
      break;
  }
  // Extensible range, value outside it: two's complement.
  if (!decodeGeneralLength(k) || !readOctets(r_, k, true, x)) return false;
  if (x < INT32_MIN || x > (lo < 0 ? int64_t(INT32_MAX) : int64_t(UINT32_MAX))) return false;
  v.setValue(int(int32_t(uint32_t(uint64_t(x)))));
  return true;
}

bool PERDecoder::do_visit(ENUMERATED& v) {
  int64_t x;
  if (v.extendable()) {
    bool ext;
    if (!r_.getBit(ext)) return false;
    if (ext) {
      uint32_t n;
      if (!decodeSmallUnsigned(n) || n == 0 || !decodeUnsigned(0, int64_t(n) - 1, x)) return false;
      v.setValue(int(int32_t(uint32_t(x))));
      return true;
    }
  }
  if (!decodeUnsigned(0, v.getMaximum(), x)) return false;
  v.setValue(int(int32_t(uint32_t(x))));
  return true;
}

bool PERDecoder::do_visit(OBJECT_IDENTIFIER& v) {
  uint32_t n;
  char octets[255];
  if (!decodeLength(0, 255, n) || !r_.getOctets(octets, n)) return false;
  return v.decodeCommon(octets, n);
}

bool PERDecoder::do_visit(BIT_STRING& v) {
  uint32_t n;
  if (!decodeConstrainedLength(v, n) || n > MaximumStringSize) return false;
  if (aligned_ && n > 16) r_.align();
  if (r_.bitsLeft() < n) return false;
  v.resize(0);
  v.resize(n);
  if (n == 0) return true;
  uint8_t* bytes = v.bytes().data();
  if (aligned_ && n > 16) {
    if (!r_.getOctets(bytes, (n + 7) / 8)) return false;
    v.resize(n);  // clears the padding bits of the last octet
    return true;
  }
  return decodeBitMap(bytes, n);
}

bool PERDecoder::do_visit(OCTET_STRING& v) {
  uint32_t n;
  if (!decodeConstrainedLength(v, n) || n > MaximumStringSize) return false;
  if (n <= 2) {
    if (r_.bitsLeft() < 8 * n) return false;
    v.resize(n);
    for (uint32_t i = 0; i < n; ++i) {
      uint32_t b = 0;
      r_.getBits(8, b);
      v[i] = char(b);
    }
    return true;
  }
  r_.align();
  if (r_.bitsLeft() < 8 * std::size_t(n)) return false;
  if (const char* p = r_.takeOctets(n)) {
    v.assign(p, p + n);
    return true;
  }
  v.resize(n);
  return r_.getOctets(v.data(), n);
}

bool PERDecoder::do_visit(AbstractString& v) {
  const AbstractStringInfo* inf = v.info();
  uint32_t n;
  if (!decodeConstrainedLength(v, n) || n > MaximumStringSize) return false;
  unsigned b = aligned_ ? inf->alignedWidth : inf->unalignedWidth;
  bool small = inf->constraintType != Unconstrained && uint64_t(inf->upperLimit) * b <= 16;
  if (!small && n > 0) {
    if (b == 8) {
      r_.align();
      if (r_.bitsLeft() < 8 * std::size_t(n)) return false;
      if (const char* p = r_.takeOctets(n)) {
        v.assign(p, n);
        return true;
      }
      v.resize(n);
      return r_.getOctets(&v[0], n);
    }
    if (aligned_) r_.align();
  }
  if (r_.bitsLeft() < uint64_t(n) * b) return false;
  bool byCode = inf->canonicalWidth > 4 && inf->canonicalWidth <= b;
  v.resize(n);
  for (uint32_t i = 0; i < n; ++i) {
    uint32_t c = 0;
    r_.getBits(b, c);
    if (!byCode) {
      // An index past the permitted alphabet has no character.
      if (c >= inf->characterSetSize) return false;
      c = static_cast<unsigned char>(inf->characterSet[c]);
    }
    v[i] = char(c);
  }
  return true;
}

bool PERDecoder::do_visit(BMPString& v) {
  const BMPStringInfo* inf = v.info();
  uint32_t n;
  if (!decodeConstrainedLength(v, n) || n > MaximumStringSize) return false;
  unsigned b = aligned_ ? inf->alignedWidth : inf->unalignedWidth;
  bool small = inf->constraintType != Unconstrained && uint64_t(inf->upperLimit) * b <= 16;
  if (aligned_ && !small && n > 0) r_.align();
  if (r_.bitsLeft() < uint64_t(n) * b) return false;
  v.resize(n);
  for (uint32_t i = 0; i < n; ++i) {
    uint32_t c = 0;
    r_.getBits(b, c);
    v[i] = wchar_t(c + inf->firstChar);
  }
  return true;
}

bool PERDecoder::do_visit(CHOICE& v) {
  const ChoiceInfo* inf = v.info();
  if (r_.atEnd() && !(inf->rootCount == 1 && !inf->extendable)) return false;
  bool ext = false;
  if (inf->extendable && !r_.getBit(ext)) return false;
  if (ext) {
    uint32_t n;
    if (!decodeSmallUnsigned(n)) return false;
    uint64_t index = uint64_t(inf->rootCount) + n;
    // An alternative this system does not know fails the decode.
    if (index >= inf->totalCount) return false;
    AbstractData* alt = v.select(int(index));
    return alt && decodeOpenType(*alt);
  }
  int64_t index;
  if (inf->rootCount == 0 || !decodeUnsigned(0, int64_t(inf->rootCount) - 1, index)) return false;
  // A root index past the root alternatives is not a root alternative.
  if (uint64_t(index) >= inf->rootCount) return false;
  AbstractData* alt = v.select(int(index));
  return alt && alt->accept(*this);
}

bool PERDecoder::do_visit(SEQUENCE_OF_Base& v) {
  uint32_t n;
  if (!decodeConstrainedLength(v, n) || n > MaximumArraySize) return false;
  // Elements are added one at a time, so a short input never builds a
  // long list of empty elements.
  for (uint32_t i = 0; i < n; ++i) {
    AbstractData* e = i < v.size() ? v.at(i) : v.append();
    if (!e || !e->accept(*this)) {
      v.erase(i, v.size());
      return false;
    }
  }
  if (v.size() > n) v.erase(n, v.size());
  return true;
}

bool PERDecoder::do_visit(OpenData& v) {
  uint32_t n;
  if (!decodeGeneralLength(n) || n > MaximumStringSize) return false;
  if (r_.bitsLeft() < 8 * std::size_t(n)) return false;
  std::vector<char>& buf = v.get_buf();
  buf.resize(n);
  return n == 0 || r_.getOctets(buf.data(), n);
}

bool PERDecoder::do_revisit(OpenData& v) {
  if (!v.has_buf() || !v.has_data()) return false;
  const std::vector<char>& buf = v.get_buf();
  PERDecoder inner(buf.data(), buf.data() + buf.size(), env_, aligned_);
  return v.get_data().accept(inner);
}

bool PERDecoder::do_visit(TypeConstrainedOpenData& v) {
  std::size_t end, saved;
  if (!openWindow(end, saved)) return false;
  bool ok = v.has_data() && v.get_data().accept(*this);
  closeWindow(end, saved);
  return ok;
}

// The text in octets (aligned variant), or in 7-bit characters as
// unaligned PER writes the VisibleString it is made of.
bool PERDecoder::do_visit(GeneralizedTime& v) {
  uint32_t n;
  if (!decodeGeneralLength(n) || n == 0) return false;
  std::string text(n, '\0');
  if (aligned_) {
    if (!r_.getOctets(&text[0], n)) return false;
  } else {
    if (r_.bitsLeft() / 7 < n) return false;
    for (uint32_t i = 0; i < n; ++i) {
      uint32_t c = 0;
      r_.getBits(7, c);
      text[i] = char(c);
    }
  }
  return v.setAfresh(text.c_str());
}

int PERDecoder::preVisitExtensionRoots(SEQUENCE& seq) {
  const SequenceInfo* inf = seq.info();
  bool ext = false;
  if (inf->extendable && !r_.getBit(ext)) return FAIL;
  SEQUENCE::BitMap& opt = seq.optionalMap();
  opt.resize(inf->optionalCount);
  if (!decodeBitMap(opt.data(), inf->optionalCount)) return FAIL;
  if (!ext) seq.extensionMap().resize(0);
  return ext ? CONTINUE : NO_EXTENSION;
}

int PERDecoder::visitExtensionRoot(SEQUENCE& seq, int index, int optionalId) {
  if (optionalId >= 0 && !seq.optionalMap()[unsigned(optionalId)]) return CONTINUE;
  AbstractData* f = seq.getField(unsigned(index));
  if (!f) {
    const void* fi = seq.info()->fieldInfos[index];
    if (!fi) return FAIL;
    f = &seq.field(unsigned(index));
  }
  return f->accept(*this) ? CONTINUE : FAIL;
}

int PERDecoder::preVisitExtensions(SEQUENCE& seq) {
  uint32_t small;
  if (!decodeSmallUnsigned(small)) return FAIL;
  uint64_t n = uint64_t(small) + 1;
  if (n > MaximumArraySize) return FAIL;
  SEQUENCE::BitMap& map = seq.extensionMap();
  map.resize(0);
  map.resize(unsigned(n));
  return decodeBitMap(map.data(), unsigned(n)) ? CONTINUE : FAIL;
}

int PERDecoder::visitKnownExtension(SEQUENCE& seq, int index, int) {
  unsigned k = unsigned(index) - seq.info()->rootFieldCount;
  if (!seq.extensionMap()[k]) return CONTINUE;
  std::size_t end, saved;
  if (!openWindow(end, saved)) return FAIL;
  bool ok = true;
  if (seq.info()->fieldInfos[index]) ok = seq.field(unsigned(index)).accept(*this);
  closeWindow(end, saved);
  return ok ? CONTINUE : FAIL;
}

bool PERDecoder::visitUnknownExtensions(SEQUENCE& seq) {
  SEQUENCE::BitMap& map = seq.extensionMap();
  unsigned known = seq.info()->extensionCount;
  for (unsigned k = known; k < map.size(); ++k) {
    if (!map[k]) continue;
    uint32_t len;
    if (!decodeGeneralLength(len) || !r_.skipOctets(len)) return false;
  }
  // Additions this system does not know are dropped, so that the value
  // encodes again without announcing contents it does not hold.
  if (map.size() > known) map.resize(known);
  return true;
}

}  // namespace ASN1
