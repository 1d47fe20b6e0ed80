#include "asn1/abstract_data.h"

#include <istream>
#include <ostream>
#include <sstream>

#include "asn1/avn_decoder.h"
#include "asn1/avn_encoder.h"

namespace ASN1 {

unsigned MaximumArraySize = 128;
unsigned MaximumStringSize = 16384;

AbstractData* AbstractData::do_clone() const { return typeInfo(info_)->copy(*this); }

int AbstractData::print_on(std::ostream& os) const {
  AVNEncoder encoder(os);
  return accept(encoder) ? 0 : int(std::ios_base::failbit);
}

int AbstractData::get_from(std::istream& is) {
  AVNDecoder decoder(is);
  return accept(decoder) ? 0 : int(std::ios_base::failbit);
}

std::string AbstractData::asValueNotation() const {
  std::ostringstream os;
  print_on(os);
  return os.str();
}

bool AbstractData::setFromValueNotation(const std::string& text) {
  std::istringstream is(text);
  return get_from(is) == 0;
}

std::ostream& operator<<(std::ostream& os, const AbstractData& value) {
  if (!os.good()) return os;
  std::ostringstream text;
  value.print_on(text);
  const std::string s = text.str();
  os.write(s.data(), std::streamsize(s.size()));
  return os;
}

std::istream& operator>>(std::istream& is, AbstractData& value) {
  std::istream::sentry sentry(is);
  if (!sentry) return is;
  if (value.get_from(is) != 0) is.setstate(std::ios_base::failbit);
  return is;
}

unsigned CountBits(unsigned v) {
  if (v == 0) return 32;
  return v == 1 ? 0 : unsigned(32 - __builtin_clz(v - 1));
}

int lexicographic_compare_bytes(const unsigned char* first1, const unsigned char* last1,
                                const unsigned char* first2, const unsigned char* last2) {
  for (; first1 != last1 && first2 != last2; ++first1, ++first2) {
    if (*first1 != *first2) return *first1 < *first2 ? -1 : 1;
  }
  if (first1 == last1) return first2 == last2 ? 0 : -1;
  return 1;
}

}  // namespace ASN1
