#include "asn1/avn_encoder.h"

#include <climits>
#include <cwchar>
#include <ostream>
#include <string>

#include "asn1/bit_string.h"
#include "asn1/char_string.h"
#include "asn1/choice.h"
#include "asn1/generalized_time.h"
#include "asn1/open_data.h"
#include "asn1/sequence.h"
#include "asn1/sequence_of.h"

namespace ASN1 {

bool AVNEncoder::ok() const { return !os_.fail(); }

void AVNEncoder::blanks(int n) {
  for (int i = 0; i < n; ++i) os_.put(' ');
}

bool AVNEncoder::do_visit(const Null&) {
  os_ << "NULL";
  return ok();
}

bool AVNEncoder::do_visit(const BOOLEAN& v) {
  os_ << (v.getValue() ? "TRUE" : "FALSE");
  return ok();
}

bool AVNEncoder::do_visit(const INTEGER& v) {
  os_ << v.getWideValue();
  return ok();
}

bool AVNEncoder::do_visit(const IntegerWithNamedNumber& v) {
  const char* name = v.getName();
  if (name) {
    os_ << name;
    return ok();
  }
  return do_visit(static_cast<const INTEGER&>(v));
}

bool AVNEncoder::do_visit(const ENUMERATED& v) {
  const char* name = v.getName();
  if (name)
    os_ << name;
  else
    os_ << v.getValue();
  return ok();
}

bool AVNEncoder::do_visit(const OBJECT_IDENTIFIER& v) {
  os_ << "{ ";
  for (uint32_t arc : v.arcs()) os_ << arc << ' ';
  os_ << '}';
  return ok();
}

bool AVNEncoder::do_visit(const BIT_STRING& v) {
  std::string s;
  s.reserve(v.size() + 3);
  s += '\'';
  for (unsigned i = 0; i < v.size(); ++i) s += v.getBit(i) ? '1' : '0';
  s += "'B";
  os_ << s;
  return ok();
}

void AVNEncoder::printOctets(std::ostream& os, const char* data, std::size_t n) {
  static const char hex[] = "0123456789abcdef";
  std::string s;
  s.reserve(n * 3 + 3);
  s += '\'';
  for (std::size_t i = 0; i < n; ++i) {
    if (i) s += ' ';
    uint8_t b = uint8_t(data[i]);
    s += hex[b >> 4];
    s += hex[b & 15];
  }
  s += "'H";
  os << s;
}

bool AVNEncoder::do_visit(const OCTET_STRING& v) {
  printOctets(os_, v.data(), v.size());
  return ok();
}

// A double quote inside the string is doubled, so that the text reads back.
bool AVNEncoder::do_visit(const AbstractString& v) {
  std::string s;
  s.reserve(v.size() + 2);
  s += '"';
  for (char c : v) {
    if (c == '"') s += '"';
    s += c;
  }
  s += '"';
  os_ << s;
  return ok();
}

bool AVNEncoder::do_visit(const BMPString& v) {
  std::string s = "\"";
  std::mbstate_t state = std::mbstate_t();
  char buf[MB_LEN_MAX];
  bool converted = true;
  for (wchar_t c : v) {
    std::size_t n = std::wcrtomb(buf, c, &state);
    if (n == std::size_t(-1)) {
      converted = false;
      break;
    }
    if (n == 1 && buf[0] == '"') s += '"';
    s.append(buf, n);
  }
  if (converted) {
    s += '"';
    os_ << s;
    return ok();
  }
  os_ << '{';
  for (std::size_t i = 0; i < v.size(); ++i) {
    if (i) os_ << ", ";
    unsigned c = unsigned(v[i]);
    os_ << "{ 0, 0, " << (c / 256) << ", " << (c % 256) << '}';
  }
  os_ << '}';
  return ok();
}

bool AVNEncoder::do_visit(const CHOICE& v) {
  const char* name = v.getSelectionName();
  const AbstractData* value = v.getSelectedValue();
  if (!name || !value) return false;
  os_ << name << " : ";
  return ok() && value->accept(*this);
}

bool AVNEncoder::do_visit(const OpenData& v) {
  if (v.has_data()) return v.get_data().accept(*this);
  if (v.has_buf()) {
    printOctets(os_, v.get_buf().data(), v.get_buf().size());
    return ok();
  }
  return false;
}

bool AVNEncoder::do_visit(const GeneralizedTime& v) {
  os_ << '"' << v.get() << '"';
  return ok();
}

bool AVNEncoder::do_visit(const SEQUENCE_OF_Base& v) {
  os_ << "{\n";
  indent_ += 2;
  bool first = true;
  for (const AbstractData* e : v.elements()) {
    if (!first) os_ << ",\n";
    first = false;
    blanks(indent_);
    if (!e || !e->accept(*this)) return false;
  }
  indent_ -= 2;
  if (!first) os_ << '\n';
  blanks(indent_);
  os_ << '}';
  return ok();
}

bool AVNEncoder::preVisitExtensionRoots(const SEQUENCE&) {
  os_ << "{\n";
  indent_ += 2;
  printed_.push_back(false);
  return ok();
}

bool AVNEncoder::printField(const SEQUENCE& seq, int index) {
  const AbstractData* f = seq.getField(unsigned(index));
  if (!f) return false;
  if (printed_.back()) os_ << ",\n";
  printed_.back() = true;
  blanks(indent_);
  os_ << seq.info()->fieldNames[index] << ' ';
  return ok() && f->accept(*this);
}

bool AVNEncoder::visitExtensionRoot(const SEQUENCE& seq, int index) { return printField(seq, index); }

bool AVNEncoder::visitKnownExtension(const SEQUENCE& seq, int index) { return printField(seq, index); }

bool AVNEncoder::afterVisitSequence(const SEQUENCE&) {
  indent_ -= 2;
  if (printed_.back()) os_ << '\n';
  printed_.pop_back();
  blanks(indent_);
  os_ << '}';
  return ok();
}

}  // namespace ASN1
