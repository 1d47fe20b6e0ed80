// Arithmetic shared by the PER encoder and decoder.
#pragma once

#include <cstdint>

#include "asn1/type_info.h"

namespace ASN1 {
namespace per {

// Bits that hold every offset of a range of `range` values (range >= 1).
inline unsigned rangeBits(uint64_t range) {
  unsigned n = 0;
  while ((uint64_t(1) << n) < range) ++n;
  return n;
}

// Octets of a non-negative number, at least 1.
inline unsigned unsignedOctets(uint64_t v) {
  unsigned k = 1;
  while (k < 8 && (v >> (8 * k)) != 0) ++k;
  return k;
}

// Octets of the shortest two's-complement form, at least 1.
inline unsigned signedOctets(int64_t v) {
  unsigned k = 1;
  while (k < 8) {
    int64_t lim = int64_t(1) << (8 * k - 1);
    if (v >= -lim && v < lim) break;
    ++k;
  }
  return k;
}

// The upper bound as the constraint means it: signed when the lower bound
// is negative, unsigned otherwise.
inline int64_t upperBound(const ConstrainedInfo& inf) {
  return inf.lowerLimit < 0 ? int64_t(int32_t(inf.upperLimit)) : int64_t(inf.upperLimit);
}

}  // namespace per
}  // namespace ASN1
