// Helpers of the coder tests: octets as hex text and back, a value encoded
// or decoded under one rule through the coder environment, and the test
// module's control messages that the byte vectors are written for.
#pragma once

#include <algorithm>
#include <cstdint>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "asn1/asn1.h"
#include "tests/asn1/AsnTest.h"

namespace asn1test {

// "0A FF": upper-case pairs with one blank between octets.
inline std::string hex(const std::vector<char>& octets) {
  static const char digits[] = "0123456789ABCDEF";
  std::string s;
  for (char c : octets) {
    if (!s.empty()) s += ' ';
    s += digits[uint8_t(c) >> 4];
    s += digits[uint8_t(c) & 15];
  }
  return s;
}

// The octets of blank-separated hex pairs, either case.
inline std::vector<char> bytes(const std::string& text) {
  std::vector<char> out;
  std::istringstream is(text);
  for (std::string pair; is >> pair;) out.push_back(char(std::stoi(pair, nullptr, 16)));
  return out;
}

// The encoding under rule as hex, "FAIL" when the encoder refuses.
inline std::string encodeHex(const ASN1::AbstractData& value, uint32_t rule) {
  ASN1::CoderEnv env(rule);
  std::vector<char> out;
  if (!ASN1::encode(value, &env, std::back_inserter(out))) return "FAIL";
  return hex(out);
}

// Decodes the octets from a buffer of exactly their size, so that ASan sees
// any read past them.
inline bool decodeOctets(const std::vector<char>& in, ASN1::AbstractData& value, uint32_t rule) {
  std::unique_ptr<char[]> exact(new char[in.empty() ? 1 : in.size()]);
  std::copy(in.begin(), in.end(), exact.get());
  ASN1::CoderEnv env(rule);
  return ASN1::decode(exact.get(), exact.get() + in.size(), &env, value);
}

inline bool decodeHex(const std::string& text, ASN1::AbstractData& value, uint32_t rule) {
  return decodeOctets(bytes(text), value, rule);
}

// { seq 5, pdu command : ping : NULL }
inline AsnTest::Message pingMessage() {
  AsnTest::Message m;
  m.includeOptionalField(AsnTest::Message::o_seq, AsnTest::Message::e_seq);
  m.set_seq(5);
  m.get_pdu().select_command().select_ping();
  return m;
}

// { seq 7, slot 3, pdu command : connect : 4 }
inline AsnTest::Message connectMessage() {
  AsnTest::Message m;
  m.includeOptionalField(AsnTest::Message::o_seq, AsnTest::Message::e_seq);
  m.includeOptionalField(AsnTest::Message::o_slot, AsnTest::Message::e_slot);
  m.set_seq(7);
  m.set_slot(3);
  m.get_pdu().select_command().set_connect(4);
  return m;
}

}  // namespace asn1test
