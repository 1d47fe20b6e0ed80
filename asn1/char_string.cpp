#include "asn1/char_string.h"

#include <cstring>
#include <cwchar>

#include "asn1/visitor.h"

namespace ASN1 {

// Every code of the range, ascending, then the terminating NUL.
const char IA5StringSet[129] =
    "\x00\x01\x02\x03\x04\x05\x06\x07\x08\x09\x0a\x0b\x0c\x0d\x0e\x0f"
    "\x10\x11\x12\x13\x14\x15\x16\x17\x18\x19\x1a\x1b\x1c\x1d\x1e\x1f"
    "\x20\x21\x22\x23\x24\x25\x26\x27\x28\x29\x2a\x2b\x2c\x2d\x2e\x2f"
    "\x30\x31\x32\x33\x34\x35\x36\x37\x38\x39\x3a\x3b\x3c\x3d\x3e\x3f"
    "\x40\x41\x42\x43\x44\x45\x46\x47\x48\x49\x4a\x4b\x4c\x4d\x4e\x4f"
    "\x50\x51\x52\x53\x54\x55\x56\x57\x58\x59\x5a\x5b\x5c\x5d\x5e\x5f"
    "\x60\x61\x62\x63\x64\x65\x66\x67\x68\x69\x6a\x6b\x6c\x6d\x6e\x6f"
    "\x70\x71\x72\x73\x74\x75\x76\x77\x78\x79\x7a\x7b\x7c\x7d\x7e\x7f";
const char VisibleStringSet[96] =
    "\x20\x21\x22\x23\x24\x25\x26\x27\x28\x29\x2a\x2b\x2c\x2d\x2e\x2f"
    "\x30\x31\x32\x33\x34\x35\x36\x37\x38\x39\x3a\x3b\x3c\x3d\x3e\x3f"
    "\x40\x41\x42\x43\x44\x45\x46\x47\x48\x49\x4a\x4b\x4c\x4d\x4e\x4f"
    "\x50\x51\x52\x53\x54\x55\x56\x57\x58\x59\x5a\x5b\x5c\x5d\x5e\x5f"
    "\x60\x61\x62\x63\x64\x65\x66\x67\x68\x69\x6a\x6b\x6c\x6d\x6e\x6f"
    "\x70\x71\x72\x73\x74\x75\x76\x77\x78\x79\x7a\x7b\x7c\x7d\x7e";
const char GeneralStringSet[257] =
    "\x00\x01\x02\x03\x04\x05\x06\x07\x08\x09\x0a\x0b\x0c\x0d\x0e\x0f"
    "\x10\x11\x12\x13\x14\x15\x16\x17\x18\x19\x1a\x1b\x1c\x1d\x1e\x1f"
    "\x20\x21\x22\x23\x24\x25\x26\x27\x28\x29\x2a\x2b\x2c\x2d\x2e\x2f"
    "\x30\x31\x32\x33\x34\x35\x36\x37\x38\x39\x3a\x3b\x3c\x3d\x3e\x3f"
    "\x40\x41\x42\x43\x44\x45\x46\x47\x48\x49\x4a\x4b\x4c\x4d\x4e\x4f"
    "\x50\x51\x52\x53\x54\x55\x56\x57\x58\x59\x5a\x5b\x5c\x5d\x5e\x5f"
    "\x60\x61\x62\x63\x64\x65\x66\x67\x68\x69\x6a\x6b\x6c\x6d\x6e\x6f"
    "\x70\x71\x72\x73\x74\x75\x76\x77\x78\x79\x7a\x7b\x7c\x7d\x7e\x7f"
    "\x80\x81\x82\x83\x84\x85\x86\x87\x88\x89\x8a\x8b\x8c\x8d\x8e\x8f"
    "\x90\x91\x92\x93\x94\x95\x96\x97\x98\x99\x9a\x9b\x9c\x9d\x9e\x9f"
    "\xa0\xa1\xa2\xa3\xa4\xa5\xa6\xa7\xa8\xa9\xaa\xab\xac\xad\xae\xaf"
    "\xb0\xb1\xb2\xb3\xb4\xb5\xb6\xb7\xb8\xb9\xba\xbb\xbc\xbd\xbe\xbf"
    "\xc0\xc1\xc2\xc3\xc4\xc5\xc6\xc7\xc8\xc9\xca\xcb\xcc\xcd\xce\xcf"
    "\xd0\xd1\xd2\xd3\xd4\xd5\xd6\xd7\xd8\xd9\xda\xdb\xdc\xdd\xde\xdf"
    "\xe0\xe1\xe2\xe3\xe4\xe5\xe6\xe7\xe8\xe9\xea\xeb\xec\xed\xee\xef"
    "\xf0\xf1\xf2\xf3\xf4\xf5\xf6\xf7\xf8\xf9\xfa\xfb\xfc\xfd\xfe\xff";
const char NumericStringSet[] = " 0123456789";
const char PrintableStringSet[] = " '()+,-./0123456789:=?ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";

namespace {

// The descriptor of a built-in string type: no size constraint, the whole
// alphabet of the type (set, without its NUL) and the character widths.
template <class Class, std::size_t N>
constexpr AbstractStringInfo builtinString(uint32_t tag, const char (&set)[N], uint32_t canonical,
                                           uint32_t unaligned, uint32_t aligned) {
  return {{{&Class::create, tag, &Class::make_copy}, Unconstrained, 0, UnboundedUpper},
          set,
          uint32_t(N - 1),
          canonical,
          unaligned,
          aligned};
}

}  // namespace

const AbstractStringInfo IA5String::theInfo = builtinString<IA5String>(22, IA5StringSet, 7, 7, 8);
const AbstractStringInfo NumericString::theInfo = builtinString<NumericString>(18, NumericStringSet, 4, 4, 4);
const AbstractStringInfo PrintableString::theInfo = builtinString<PrintableString>(19, PrintableStringSet, 7, 7, 8);
const AbstractStringInfo VisibleString::theInfo = builtinString<VisibleString>(26, VisibleStringSet, 7, 7, 8);
const AbstractStringInfo GeneralString::theInfo = builtinString<GeneralString>(27, GeneralStringSet, 8, 8, 8);
const BMPStringInfo BMPString::theInfo = {
    {{&BMPString::create, 30, &BMPString::make_copy}, Unconstrained, 0, UnboundedUpper}, 0, 65535, 16, 16};

int AbstractString::alphabetIndex(unsigned char c) const {
  const AbstractStringInfo* inf = info();
  const char* set = inf->characterSet;
  uint32_t n = inf->characterSetSize;
  if (!set || n == 0) return -1;
  // A contiguous alphabet (the built-in ones) answers without a search.
  unsigned first = static_cast<unsigned char>(set[0]);
  if (static_cast<unsigned char>(set[n - 1]) - first + 1 == n) {
    return c >= first && c - first < n ? int(c - first) : -1;
  }
  uint32_t lo = 0, hi = n;
  while (lo < hi) {
    uint32_t mid = lo + (hi - lo) / 2;
    if (static_cast<unsigned char>(set[mid]) < c)
      lo = mid + 1;
    else
      hi = mid;
  }
  return lo < n && static_cast<unsigned char>(set[lo]) == c ? int(lo) : -1;
}

int AbstractString::do_compare(const AbstractData& other) const {
  const AbstractString& o = static_cast<const AbstractString&>(other);
  size_t n = std::min(size(), o.size());
  int r = n ? std::memcmp(data(), o.data(), n) : 0;
  if (r) return r < 0 ? -1 : 1;
  return compare3(size(), o.size());
}
bool AbstractString::do_accept(Visitor& v) { return v.do_visit(*this); }
bool AbstractString::do_accept(ConstVisitor& v) const { return v.do_visit(*this); }

std::size_t BMPString::first_illegal_at() const {
  for (std::size_t i = 0; i < size(); ++i) {
    if (!legalCharacter((*this)[i])) return i;
  }
  return size();
}

int BMPString::do_compare(const AbstractData& other) const {
  const BMPString& o = static_cast<const BMPString&>(other);
  size_t n = std::min(size(), o.size());
  for (size_t i = 0; i < n; ++i) {
    if ((*this)[i] != o[i]) return (*this)[i] < o[i] ? -1 : 1;
  }
  return compare3(size(), o.size());
}
bool BMPString::do_accept(Visitor& v) { return v.do_visit(*this); }
bool BMPString::do_accept(ConstVisitor& v) const { return v.do_visit(*this); }

}  // namespace ASN1
