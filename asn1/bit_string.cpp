#include "asn1/bit_string.h"

#include "asn1/visitor.h"

namespace ASN1 {

const ConstrainedInfo BIT_STRING::theInfo = {{&BIT_STRING::create, 3, &BIT_STRING::make_copy}, Unconstrained, 0,
                                             UnboundedUpper};
const ConstrainedInfo OCTET_STRING::theInfo = {{&OCTET_STRING::create, 4, &OCTET_STRING::make_copy}, Unconstrained,
                                               0, UnboundedUpper};
const TypeInfo OBJECT_IDENTIFIER::theInfo = {&OBJECT_IDENTIFIER::create, 6, &OBJECT_IDENTIFIER::make_copy};

void BIT_STRING::resize(unsigned bits) {
  bytes_.resize((size_t(bits) + 7) / 8, 0);
  // Bits cut off the last octet must read as 0 if the string grows again.
  if (bits % 8) bytes_.back() &= uint8_t(0xFF00 >> (bits % 8));
  bits_ = bits;
}

void BIT_STRING::setBit(unsigned i, bool on) {
  if (i >= bits_) return;
  if (on)
    bytes_[i / 8] |= uint8_t(0x80 >> (i % 8));
  else
    bytes_[i / 8] &= uint8_t(~(0x80 >> (i % 8)));
}

int BIT_STRING::do_compare(const AbstractData& other) const {
  const BIT_STRING& o = static_cast<const BIT_STRING&>(other);
  size_t n = std::min(bytes_.size(), o.bytes_.size());
  for (size_t i = 0; i < n; ++i) {
    if (bytes_[i] != o.bytes_[i]) return bytes_[i] < o.bytes_[i] ? -1 : 1;
  }
  return compare3(bits_, o.bits_);
}
bool BIT_STRING::do_accept(Visitor& v) { return v.do_visit(*this); }
bool BIT_STRING::do_accept(ConstVisitor& v) const { return v.do_visit(*this); }

int OCTET_STRING::do_compare(const AbstractData& other) const {
  const OCTET_STRING& o = static_cast<const OCTET_STRING&>(other);
  const unsigned char* a = reinterpret_cast<const unsigned char*>(data());
  const unsigned char* b = reinterpret_cast<const unsigned char*>(o.data());
  return lexicographic_compare_bytes(a, a + size(), b, b + o.size());
}
bool OCTET_STRING::do_accept(Visitor& v) { return v.do_visit(*this); }
bool OCTET_STRING::do_accept(ConstVisitor& v) const { return v.do_visit(*this); }

static void appendBase128(std::vector<char>& out, uint64_t v) {
  char tmp[10];
  int n = 0;
  do {
    tmp[n++] = char(v & 0x7F);
    v >>= 7;
  } while (v);
  while (n > 1) out.push_back(char(tmp[--n] | 0x80));
  out.push_back(tmp[0]);
}

bool OBJECT_IDENTIFIER::encodeCommon(std::vector<char>& out) const {
  out.clear();
  if (arcs_.size() < 2) return true;
  if (arcs_[0] > 2 || (arcs_[0] < 2 && arcs_[1] > 39)) return false;
  appendBase128(out, uint64_t(arcs_[0]) * 40 + arcs_[1]);
  for (size_t i = 2; i < arcs_.size(); ++i) appendBase128(out, arcs_[i]);
  return true;
}

bool OBJECT_IDENTIFIER::decodeCommon(const char* data, unsigned length) {
  arcs_.clear();
  uint64_t v = 0;
  bool inside = false;
  for (unsigned i = 0; i < length; ++i) {
    uint8_t b = uint8_t(data[i]);
    v = (v << 7) | (b & 0x7F);
    // The first subidentifier holds two arcs and may reach 2^32 + 79.
    if (v > (arcs_.empty() ? uint64_t(0xFFFFFFFF) + 80 : uint64_t(0xFFFFFFFF))) {
      arcs_.clear();
      return false;
    }
    inside = (b & 0x80) != 0;
    if (inside) continue;
    if (arcs_.empty()) {
      uint32_t first = v >= 80 ? 2 : (v >= 40 ? 1 : 0);
      arcs_.push_back(first);
      arcs_.push_back(uint32_t(v - first * 40));
    } else {
      arcs_.push_back(uint32_t(v));
    }
    v = 0;
  }
  if (inside) {
    arcs_.clear();
    return false;
  }
  return true;
}

int OBJECT_IDENTIFIER::do_compare(const AbstractData& other) const {
  const OBJECT_IDENTIFIER& o = static_cast<const OBJECT_IDENTIFIER&>(other);
  size_t n = std::min(arcs_.size(), o.arcs_.size());
  for (size_t i = 0; i < n; ++i) {
    if (arcs_[i] != o.arcs_[i]) return arcs_[i] < o.arcs_[i] ? -1 : 1;
  }
  return compare3(arcs_.size(), o.arcs_.size());
}
bool OBJECT_IDENTIFIER::do_accept(Visitor& v) { return v.do_visit(*this); }
bool OBJECT_IDENTIFIER::do_accept(ConstVisitor& v) const { return v.do_visit(*this); }

}  // namespace ASN1
