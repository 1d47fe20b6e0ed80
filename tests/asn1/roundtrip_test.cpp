// Every type of the test modules, filled at random: through both PER
// variants and value notation and back to an equal value; and decoding
// truncated or random input fails cleanly (the sanitizer build checks that
// nothing is read out of bounds).
#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <string>
#include <vector>

#include "asn1/asn1.h"
#include "tests/asn1/AsnTest.h"
#include "tests/asn1/random_value.h"

namespace {

std::vector<const ASN1::Module*> testModules() { return {&AsnTest::module, &AsnTestBase::module}; }

std::string describe(const ASN1::Module& m, uint32_t i, uint32_t seed) {
  return std::string(m.name()) + "." + m.type(i).name + " seed " + std::to_string(seed);
}

}  // namespace

TEST(RoundTrip, EveryTypeThroughBothPerVariantsAndValueNotation) {
  const uint32_t rules[] = {ASN1::CoderEnv::per_Aligned, ASN1::CoderEnv::per_Unaligned, ASN1::CoderEnv::avn};
  for (const ASN1::Module* m : testModules()) {
    for (uint32_t i = 0; i < m->typeCount(); ++i) {
      const void* info = m->type(i).info;
      for (uint32_t seed = 1; seed <= 40; ++seed) {
        std::unique_ptr<ASN1::AbstractData> v(asn1test::randomValue(info, seed * 7919 + i));
        for (uint32_t rule : rules) {
          ASN1::CoderEnv env(rule);
          std::vector<char> out;
          ASSERT_TRUE(ASN1::encode(*v, &env, std::back_inserter(out)))
              << describe(*m, i, seed) << " rule " << rule << "\n" << *v;
          std::unique_ptr<ASN1::AbstractData> back(m->create(m->type(i).name));
          ASSERT_TRUE(ASN1::decode(out.data(), out.data() + out.size(), &env, *back))
              << describe(*m, i, seed) << " rule " << rule << "\n" << *v;
          ASSERT_EQ(0, v->compare(*back)) << describe(*m, i, seed) << " rule " << rule << "\n"
                                          << *v << "\n" << *back;
          // The value decodes the same with or without the environment.
          std::unique_ptr<ASN1::AbstractData> shown(m->create(m->type(i).name));
          ASSERT_TRUE(ASN1::decode(out.data(), out.data() + out.size(), &env, *shown, false));
          ASSERT_EQ(0, v->compare(*shown));
        }
      }
    }
  }
}

TEST(RoundTrip, TruncatedInputFailsWithoutReadingPastIt) {
  for (const ASN1::Module* m : testModules()) {
    for (uint32_t i = 0; i < m->typeCount(); ++i) {
      for (uint32_t seed = 1; seed <= 10; ++seed) {
        std::unique_ptr<ASN1::AbstractData> v(asn1test::randomValue(m->type(i).info, seed));
        for (bool aligned : {true, false}) {
          ASN1::CoderEnv env(aligned ? ASN1::CoderEnv::per_Aligned : ASN1::CoderEnv::per_Unaligned);
          std::vector<char> out;
          ASSERT_TRUE(env.encodeInto(*v, out));
          for (size_t n = 0; n < out.size(); ++n) {
            // Each prefix in a buffer of its own size, so that ASan sees any over-read.
            std::unique_ptr<char[]> cut(new char[n ? n : 1]);
            std::copy(out.begin(), out.begin() + std::ptrdiff_t(n), cut.get());
            std::unique_ptr<ASN1::AbstractData> back(m->create(m->type(i).name));
            // A shorter prefix may still be a complete value (trailing zero
            // bits); whatever it decodes to must then encode again.
            if (ASN1::decode(cut.get(), cut.get() + n, &env, *back)) {
              std::vector<char> again;
              EXPECT_TRUE(env.encodeInto(*back, again)) << describe(*m, i, seed);
            }
          }
        }
      }
    }
  }
}

TEST(RoundTrip, RandomInputNeverCrashesAndWhatDecodesEncodesAgain) {
  std::mt19937 rng(12345);
  for (const ASN1::Module* m : testModules()) {
    for (uint32_t i = 0; i < m->typeCount(); ++i) {
      for (int round = 0; round < 300; ++round) {
        size_t n = rng() % 48;
        std::unique_ptr<char[]> buf(new char[n ? n : 1]);
        for (size_t k = 0; k < n; ++k) buf[k] = char(rng());
        for (uint32_t rule : {ASN1::CoderEnv::per_Aligned, ASN1::CoderEnv::per_Unaligned}) {
          ASN1::CoderEnv env(rule);
          std::unique_ptr<ASN1::AbstractData> v(m->create(m->type(i).name));
          if (!ASN1::decode(buf.get(), buf.get() + n, &env, *v)) continue;
          // A decoded value prints, and encodes unless it holds a value its
          // constraints do not allow (a decoder accepts those).
          std::string text = v->asValueNotation();
          EXPECT_FALSE(text.empty());
          std::vector<char> out;
          if (env.encodeInto(*v, out)) {
            std::unique_ptr<ASN1::AbstractData> back(m->create(m->type(i).name));
            ASSERT_TRUE(ASN1::decode(out.data(), out.data() + out.size(), &env, *back));
            EXPECT_EQ(0, v->compare(*back)) << m->type(i).name << "\n" << text;
          }
        }
      }
    }
  }
}
