#include "asn1/avn_decoder.h"

#include <cctype>
#include <cwchar>
#include <istream>

#include "asn1/bit_string.h"
#include "asn1/char_string.h"
#include "asn1/choice.h"
#include "asn1/generalized_time.h"
#include "asn1/open_data.h"
#include "asn1/sequence.h"
#include "asn1/sequence_of.h"

namespace ASN1 {

int AVNDecoder::peek() {
  int c = is_.peek();
  while (c != EOF && std::isspace(c)) {
    is_.get();
    c = is_.peek();
  }
  return c;
}

bool AVNDecoder::expect(char c) {
  if (peek() != static_cast<unsigned char>(c)) return false;
  is_.get();
  return true;
}

bool AVNDecoder::readWord(std::string& word) {
  word.clear();
  int c = peek();
  while (c != EOF && (std::isalnum(c) || c == '-' || c == '_')) {
    word += char(is_.get());
    c = is_.peek();
  }
  return !word.empty();
}

bool AVNDecoder::readNumber(int64_t& out) {
  int c = peek();
  bool negative = false;
  if (c == '-') {
    negative = true;
    is_.get();
    c = is_.peek();
  }
  if (c == EOF || !std::isdigit(c)) return false;
  uint64_t v = 0;
  while (c != EOF && std::isdigit(c)) {
    v = v * 10 + unsigned(c - '0');
    if (v > 0x100000000ull) return false;
    is_.get();
    c = is_.peek();
  }
  out = negative ? -int64_t(v) : int64_t(v);
  return true;
}

bool AVNDecoder::readQuoted(std::string& out) {
  if (!expect('"')) return false;
  out.clear();
  for (;;) {
    int c = is_.get();
    if (c == EOF) return false;
    if (c == '"') {
      if (is_.peek() != '"') return true;
      is_.get();
    }
    out += char(c);
  }
}

bool AVNDecoder::readBits(std::vector<uint8_t>& bytes, unsigned& bits) {
  if (!expect('\'')) return false;
  std::string digits;
  for (;;) {
    int c = is_.get();
    if (c == EOF) return false;
    if (c == '\'') break;
    if (c == ' ' || c == '\t' || c == '\n' || c == '\r') continue;
    digits += char(c);
    if (digits.size() > 4 * std::size_t(MaximumStringSize)) return false;
  }
  int form = is_.get();
  unsigned per;
  if (form == 'B')
    per = 1;
  else if (form == 'H')
    per = 4;
  else
    return false;
  bits = unsigned(digits.size()) * per;
  bytes.assign((bits + 7) / 8, 0);
  unsigned at = 0;
  for (char d : digits) {
    unsigned v;
    if (per == 1) {
      if (d != '0' && d != '1') return false;
      v = unsigned(d - '0');
    } else if (std::isdigit(static_cast<unsigned char>(d))) {
      v = unsigned(d - '0');
    } else if (d >= 'a' && d <= 'f') {
      v = unsigned(d - 'a' + 10);
    } else if (d >= 'A' && d <= 'F') {
      v = unsigned(d - 'A' + 10);
    } else {
      return false;
    }
    for (unsigned i = per; i-- > 0; ++at) {
      if ((v >> i) & 1) bytes[at / 8] |= uint8_t(0x80 >> (at % 8));
    }
  }
  return true;
}

bool AVNDecoder::do_visit(Null&) {
  std::string w;
  return readWord(w) && w == "NULL";
}

bool AVNDecoder::do_visit(BOOLEAN& v) {
  std::string w;
  if (!readWord(w)) return false;
  if (w == "TRUE")
    v.setValue(true);
  else if (w == "FALSE")
    v.setValue(false);
  else
    return false;
  return true;
}

bool AVNDecoder::do_visit(INTEGER& v) {
  int64_t x;
  if (!readNumber(x)) return false;
  if (v.isUnsigned() ? (x < 0 || x > int64_t(UINT32_MAX)) : (x < INT32_MIN || x > INT32_MAX)) return false;
  v.setValue(int(int32_t(uint32_t(uint64_t(x)))));
  return true;
}

bool AVNDecoder::do_visit(IntegerWithNamedNumber& v) {
  int c = peek();
  if (c == '-' || (c != EOF && std::isdigit(c))) return do_visit(static_cast<INTEGER&>(v));
  std::string w;
  return readWord(w) && v.setFromName(w);
}

// A name, or the number of a value that has none (as the printer shows it).
bool AVNDecoder::do_visit(ENUMERATED& v) {
  int c = peek();
  if (c == '-' || (c != EOF && std::isdigit(c))) {
    int64_t x;
    if (!readNumber(x) || x < INT32_MIN || x > INT32_MAX) return false;
    v.setValue(int(x));
    return true;
  }
  std::string w;
  return readWord(w) && v.setFromName(w);
}

bool AVNDecoder::do_visit(OBJECT_IDENTIFIER& v) {
  if (!expect('{')) return false;
  std::vector<uint32_t>& arcs = v.arcs();
  arcs.clear();
  while (!expect('}')) {
    int c = peek();
    int64_t x;
    if (c != EOF && std::isdigit(c)) {
      if (!readNumber(x)) return false;
    } else {
      std::string name;
      if (!readWord(name) || !expect('(') || !readNumber(x) || !expect(')')) return false;
    }
    if (x < 0 || x > int64_t(UINT32_MAX)) return false;
    arcs.push_back(uint32_t(x));
  }
  return true;
}

bool AVNDecoder::do_visit(OCTET_STRING& v) {
  std::vector<uint8_t> bytes;
  unsigned bits;
  if (!readBits(bytes, bits)) return false;
  v.assign(bytes.begin(), bytes.end());
  return true;
}

bool AVNDecoder::do_visit(BIT_STRING& v) {
  std::vector<uint8_t> bytes;
  unsigned bits;
  if (!readBits(bytes, bits)) return false;
  v.bytes().swap(bytes);
  v.resize(bits);
  return true;
}

bool AVNDecoder::do_visit(AbstractString& v) {
  std::string s;
  if (!readQuoted(s)) return false;
  v.std::string::swap(s);
  return true;
}

bool AVNDecoder::do_visit(BMPString& v) {
  std::string s;
  if (!readQuoted(s)) return false;
  std::wstring w;
  std::mbstate_t state = std::mbstate_t();
  const char* p = s.data();
  std::size_t left = s.size();
  while (left) {
    wchar_t c;
    std::size_t n = std::mbrtowc(&c, p, left, &state);
    if (n == std::size_t(-1) || n == std::size_t(-2)) return false;
    if (n == 0) n = 1;
    w += c;
    p += n;
    left -= n;
  }
  v.std::wstring::swap(w);
  return true;
}

bool AVNDecoder::do_visit(CHOICE& v) {
  std::string name;
  if (!readWord(name)) return false;
  // The colon between the alternative and its value is optional on input.
  expect(':');
  const ChoiceInfo* inf = v.info();
  for (uint32_t i = 0; i < inf->totalCount; ++i) {
    if (name == inf->selectionNames[i]) {
      AbstractData* alt = v.select(int(i));
      return alt && alt->accept(*this);
    }
  }
  return false;
}

bool AVNDecoder::do_visit(SEQUENCE_OF_Base& v) {
  if (!expect('{')) return false;
  v.clear();
  if (expect('}')) return true;
  for (;;) {
    AbstractData* e = v.append();
    if (!e || !e->accept(*this)) return false;
    if (expect('}')) return true;
    if (!expect(',')) return false;
  }
}

bool AVNDecoder::do_visit(OpenData&) { return false; }
bool AVNDecoder::do_revisit(OpenData&) { return false; }

bool AVNDecoder::do_visit(TypeConstrainedOpenData& v) { return v.has_data() && v.get_data().accept(*this); }

bool AVNDecoder::do_visit(GeneralizedTime& v) {
  std::string s;
  return readQuoted(s) && v.setAfresh(s.c_str());
}

int AVNDecoder::preVisitExtensionRoots(SEQUENCE&) {
  if (!expect('{')) return FAIL;
  // "{}" ends the value at once.
  if (expect('}')) return STOP;
  names_.emplace_back();
  return readWord(names_.back()) ? CONTINUE : FAIL;
}

int AVNDecoder::visitField(SEQUENCE& seq, int index, int optionalId) {
  if (names_.back() != seq.info()->fieldNames[index]) {
    // Not this field: absent if it may be.
    if (optionalId < 0) return FAIL;
    seq.removeOptionalField(unsigned(optionalId));
    return CONTINUE;
  }
  if (optionalId >= 0) seq.includeOptionalField(unsigned(optionalId), unsigned(index));
  if (!seq.info()->fieldInfos[index] || !seq.field(unsigned(index)).accept(*this)) return FAIL;
  if (expect('}')) {
    names_.pop_back();
    return STOP;
  }
  if (!expect(',') || !readWord(names_.back())) return FAIL;
  return CONTINUE;
}

int AVNDecoder::visitExtensionRoot(SEQUENCE& seq, int index, int optionalId) {
  return visitField(seq, index, optionalId);
}

int AVNDecoder::visitKnownExtension(SEQUENCE& seq, int index, int optionalId) {
  return visitField(seq, index, optionalId);
}

// Every field was offered and a name is still pending: no such field.
bool AVNDecoder::visitUnknownExtensions(SEQUENCE&) { return false; }

}  // namespace ASN1
