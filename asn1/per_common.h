// Arithmetic shared by the PER encoder and decoder.
#pragma once

#include <cstdint>

#include "asn1/type_info.h"

namespace ASN1 {
namespace per {

// Bits that hold every offset of a range of `range` values (range >= 1).
inline unsigned rangeBits(uint64_t range) {
  return range <= 1 ? 0 : unsigned(64 - __builtin_clzll(range - 1));
}

// Octets of a non-negative number, at least 1.
inline unsigned unsignedOctets(uint64_t v) {
  return v == 0 ? 1 : unsigned((64 - __builtin_clzll(v) + 7) / 8);
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
