// Every type of the test modules, filled at random: through both PER
// variants, BER and value notation and back to an equal value; and decoding
// truncated, changed or random input fails cleanly (the sanitizer build
// checks that nothing is read out of bounds).
#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <string>
#include <vector>

#include "asn1/asn1.h"
#include "asn1/ber_common.h"
#include "asn1/data_length_counter.h"
#include "tests/asn1/AsnTest.h"
#include "tests/asn1/encodings.h"
#include "tests/asn1/random_value.h"

namespace {

using ASN1::CoderEnv;

std::vector<const ASN1::Module*> testModules() { return {&AsnTest::module, &AsnTestBase::module}; }

std::string describe(const ASN1::Module& m, uint32_t i, uint32_t seed, uint32_t rule) {
  return std::string(m.name()) + "." + m.type(i).name + " seed " + std::to_string(seed) + " rule " +
         std::to_string(rule);
}

}  // namespace

TEST(RoundTrip, EveryTypeThroughEveryRule) {
  const uint32_t rules[] = {CoderEnv::per_Aligned, CoderEnv::per_Unaligned, CoderEnv::ber, CoderEnv::avn};
  for (const ASN1::Module* m : testModules()) {
    for (uint32_t i = 0; i < m->typeCount(); ++i) {
      const void* info = m->type(i).info;
      for (uint32_t seed = 1; seed <= 40; ++seed) {
        std::unique_ptr<ASN1::AbstractData> v(asn1test::randomValue(info, seed * 7919 + i));
        for (uint32_t rule : rules) {
          CoderEnv env(rule);
          std::vector<char> out;
          ASSERT_TRUE(ASN1::encode(*v, &env, std::back_inserter(out))) << describe(*m, i, seed, rule) << "\n" << *v;
          // The length counter announces what the BER writers then write.
          if (rule == CoderEnv::ber) {
            EXPECT_EQ(ASN1::getObjectLength(*v, ASN1::ber::NoTag), out.size());
          }
          // The value decodes the same with or without the environment.
          for (bool hide : {true, false}) {
            std::unique_ptr<ASN1::AbstractData> back(m->create(m->type(i).name));
            ASSERT_TRUE(ASN1::decode(out.data(), out.data() + out.size(), &env, *back, hide))
                << describe(*m, i, seed, rule) << "\n" << *v << "\n" << asn1test::hex(out);
            ASSERT_EQ(0, v->compare(*back)) << describe(*m, i, seed, rule) << "\n" << *v << "\n" << *back;
          }
        }
      }
    }
  }
}

// Every prefix of a valid encoding, the encoding with octets changed, and
// noise: nothing crashes or reads past the input, and what decodes prints
// and encodes again. Every BER value has its length in front, so no BER
// prefix is complete; a PER prefix may be (trailing zero bits).
TEST(RoundTrip, CutChangedOrRandomInputFailsCleanlyAndWhatDecodesEncodesAgain) {
  std::mt19937 rng(12345);
  for (const ASN1::Module* m : testModules()) {
    for (uint32_t i = 0; i < m->typeCount(); ++i) {
      for (uint32_t round = 0; round < 300; ++round) {
        std::unique_ptr<ASN1::AbstractData> seedValue(asn1test::randomValue(m->type(i).info, round));
        for (uint32_t rule : {CoderEnv::per_Aligned, CoderEnv::per_Unaligned, CoderEnv::ber}) {
          CoderEnv env(rule);
          std::vector<char> valid;
          ASSERT_TRUE(env.encodeInto(*seedValue, valid));
          std::vector<std::vector<char> > inputs;
          if (round < 10) {
            for (size_t n = 0; n < valid.size(); ++n) inputs.emplace_back(valid.begin(), valid.begin() + std::ptrdiff_t(n));
          }
          std::vector<char> in = valid;
          for (int k = 0, changes = int(rng() % 4); k < changes && !in.empty(); ++k) in[rng() % in.size()] = char(rng());
          if (round % 3 == 0) {
            in.resize(rng() % 48);
            for (char& c : in) c = char(rng());
          }
          inputs.push_back(in);
          for (size_t k = 0; k < inputs.size(); ++k) {
            const bool cut = k + 1 < inputs.size();
            std::unique_ptr<ASN1::AbstractData> v(m->create(m->type(i).name));
            const bool decoded = asn1test::decodeOctets(inputs[k], *v, rule);
            if (cut && rule == CoderEnv::ber) {
              EXPECT_FALSE(decoded) << describe(*m, i, round, rule) << " cut at " << k << " of " << asn1test::hex(valid);
            }
            if (!decoded) continue;
            // A decoded value prints, and encodes again; changed PER input
            // only when its values lie within their constraints (a decoder
            // accepts others and leaves them to the user of the value).
            const std::string text = v->asValueNotation();
            EXPECT_FALSE(text.empty());
            std::vector<char> out;
            if (!env.encodeInto(*v, out)) {
              EXPECT_FALSE(cut || rule == CoderEnv::ber) << describe(*m, i, round, rule) << "\n" << text;
              continue;
            }
            std::unique_ptr<ASN1::AbstractData> back(m->create(m->type(i).name));
            ASSERT_TRUE(ASN1::decode(out.data(), out.data() + out.size(), &env, *back));
            EXPECT_EQ(0, v->compare(*back)) << describe(*m, i, round, rule) << "\n" << text;
          }
        }
      }
    }
  }
}

// A time decoded into a value that held another keeps none of its fraction,
// offset or UTC mark.
TEST(RoundTrip, DecodingIntoAUsedTimeKeepsNothingOfIt) {
  const ASN1::GeneralizedTime plain(2023, 1, 2, 3, 4, 5);
  for (uint32_t rule : {CoderEnv::per_Aligned, CoderEnv::per_Unaligned, CoderEnv::ber, CoderEnv::avn}) {
    for (const ASN1::GeneralizedTime& used :
         {ASN1::GeneralizedTime(2020, 6, 7, 8, 9, 10, 250, 90), ASN1::GeneralizedTime(2020, 6, 7, 8, 9, 10, 0, 0, true)}) {
      CoderEnv env(rule);
      std::vector<char> out;
      ASSERT_TRUE(env.encodeInto(plain, out));
      ASN1::GeneralizedTime back(used);
      ASSERT_TRUE(ASN1::decode(out.data(), out.data() + out.size(), &env, back)) << rule;
      EXPECT_EQ("20230102030405", back.get()) << rule;
      EXPECT_EQ(0, back.compare(plain)) << rule;
    }
  }
}
