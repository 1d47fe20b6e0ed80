// Arithmetic shared by the BER encoder, the BER decoder and the length
// counter: tag words, identifier and length octet counts, and the tag each
// SEQUENCE field and CHOICE alternative is coded with.
#pragma once

#include <cstdint>

#include "asn1/abstract_data.h"
#include "asn1/sequence.h"
#include "asn1/type_info.h"

namespace ASN1 {
namespace ber {

// Pending-tag word: no tag pending, the value is coded with its own tag.
// (A pending tag of 0 means the value is coded without identifier and
// length: an untagged CHOICE or open type.)
const uint32_t NoTag = 0xFFFFFFFF;

inline uint32_t contextTag(uint32_t n) { return ContextSpecificTagClass | n; }
inline uint32_t tagNumber(uint32_t tag) { return tag & 0xFFFF; }
inline uint32_t tagClass(uint32_t tag) { return (tag >> 22) & 3; }
inline uint32_t makeTag(uint32_t cls, uint32_t number) { return cls << 22 | number; }

// Identifier octets of a tag: one below 31, else one plus the base-128
// groups of the number.
inline unsigned identifierLength(uint32_t tag) {
  uint32_t n = tagNumber(tag);
  if (n < 31) return 1;
  unsigned k = 1;
  for (; n; n >>= 7) ++k;
  return k;
}

// Length octets of the definite form.
inline unsigned lengthLength(uint32_t length) {
  if (length < 128) return 1;
  return 1 + (CountBits(length + 1) + 7) / 8;
}

// The tag field `index` of a SEQUENCE is coded with: its position as a
// context tag without a tag table, the field type's own tag with the
// shared default table, else the table's entry.
inline uint32_t fieldTag(const SequenceInfo* inf, unsigned index) {
  if (!inf->tags) return contextTag(index);
  if (inf->tags == &SEQUENCE::defaultTag) {
    const void* fi = inf->fieldInfos[index];
    return fi ? typeInfo(fi)->tag : 0;
  }
  return inf->tags[index];
}

// The tag alternative `index` of a CHOICE is coded with.
inline uint32_t alternativeTag(const ChoiceInfo* inf, unsigned index) {
  return inf->tags ? inf->tags[index] : contextTag(index);
}

}  // namespace ber
}  // namespace ASN1
