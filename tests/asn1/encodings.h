// Helpers of the coder tests: octets as hex text and back, a value encoded
// or decoded under one rule through the coder environment, values read from
// value notation, and tables of known encodings.
#pragma once

#include <algorithm>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "asn1/asn1.h"
#include "asn1/modules/korvend_asn1_modules_registry.h"
#include "tests/asn1/AsnTest.h"
#include "tests/asn1/korvend_asn1_testmodules_registry.h"

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

// A new empty value of a type named "Module.Type" (protocol or test module)
// or just "Type" (AsnTest); null when there is none.
inline std::unique_ptr<ASN1::AbstractData> newValue(const std::string& type) {
  const size_t dot = type.find('.');
  const std::string mod = dot == std::string::npos ? "AsnTest" : type.substr(0, dot);
  for (const ASN1::Module* const* list : {korvend_asn1_testmodules_registry, korvend_asn1_modules_registry}) {
    for (const ASN1::Module* const* m = list; *m; ++m) {
      if (mod == (*m)->name()) return std::unique_ptr<ASN1::AbstractData>((*m)->create(type.substr(dot + 1).c_str()));
    }
  }
  return nullptr;
}

// The same, read from value notation; null when the text does not read.
inline std::unique_ptr<ASN1::AbstractData> value(const std::string& type, const std::string& text) {
  std::unique_ptr<ASN1::AbstractData> v = newValue(type);
  if (v && !v->setFromValueNotation(text)) v.reset();
  return v;
}

// A value in value notation and its encoding; "FAIL" when the encoder must
// refuse it.
struct Vector {
  const char* type;
  const char* text;
  const char* hex;
};

// Each value encodes to its octets, and those decode to an equal value.
inline void checkVectors(uint32_t rule, std::initializer_list<Vector> vectors) {
  for (const Vector& c : vectors) {
    SCOPED_TRACE(std::string(c.type) + " " + c.text);
    std::unique_ptr<ASN1::AbstractData> v = value(c.type, c.text), back = newValue(c.type);
    ASSERT_TRUE(v);
    EXPECT_EQ(c.hex, encodeHex(*v, rule));
    if (std::string(c.hex) == "FAIL") continue;
    ASSERT_TRUE(decodeHex(c.hex, *back, rule));
    EXPECT_EQ(0, back->compare(*v)) << back->asValueNotation();
  }
}

// Octets and the value they decode to; a null text when they must be refused.
struct Reading {
  const char* type;
  const char* hex;
  const char* text;
};

inline void checkReadings(uint32_t rule, std::initializer_list<Reading> readings) {
  for (const Reading& c : readings) {
    SCOPED_TRACE(std::string(c.type) + " " + c.hex);
    std::unique_ptr<ASN1::AbstractData> v = newValue(c.type);
    ASSERT_TRUE(v);
    if (!c.text) {
      EXPECT_FALSE(decodeHex(c.hex, *v, rule));
      continue;
    }
    std::unique_ptr<ASN1::AbstractData> want = value(c.type, c.text);
    ASSERT_TRUE(want);
    ASSERT_TRUE(decodeHex(c.hex, *v, rule));
    EXPECT_EQ(0, v->compare(*want)) << v->asValueNotation();
    EXPECT_EQ(encodeHex(*want, rule), encodeHex(*v, rule));  // nothing unknown is kept to be sent on
  }
}

}  // namespace asn1test
