// Helpers of the coder tests: octets as hex text and back, and a value
// encoded or decoded under one rule through the coder environment.
#pragma once

#include <algorithm>
#include <cstdint>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "asn1/asn1.h"

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

}  // namespace asn1test
