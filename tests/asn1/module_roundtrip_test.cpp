// Random values of every type of every protocol module survive both PER
// variants and the value notation: decoded or read back, they compare equal.
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "asn1/asn1.h"
#include "asn1/modules/korvend_asn1_modules_registry.h"
#include "tests/asn1/random_value.h"

namespace {

TEST(ModuleRoundTrip, EveryTypeSurvivesPerAndValueNotation) {
  ASN1::CoderEnv aligned(ASN1::CoderEnv::per_Aligned), unaligned(ASN1::CoderEnv::per_Unaligned);
  unsigned values = 0;
  for (const ASN1::Module* const* m = korvend_asn1_modules_registry; *m; ++m) {
    for (uint32_t t = 0; t < (*m)->typeCount(); ++t) {
      const ASN1::ModuleType& type = (*m)->type(t);
      for (uint32_t seed = 1; seed <= 20; ++seed, ++values) {
        std::unique_ptr<ASN1::AbstractData> v(asn1test::randomValue(type.info, seed * 7919 + t));
        SCOPED_TRACE(std::string((*m)->name()) + "." + type.name + " " + v->asValueNotation());
        for (ASN1::CoderEnv* env : {&aligned, &unaligned}) {
          std::vector<char> octets;
          ASSERT_TRUE(env->encodeInto(*v, octets)) << "rule " << env->getEncodingRule();
          std::unique_ptr<ASN1::AbstractData> back((*m)->create(type.name));
          ASSERT_TRUE(env->decode(octets.data(), octets.data() + octets.size(), *back));
          ASSERT_TRUE(*back == *v) << "rule " << env->getEncodingRule();
        }
        std::unique_ptr<ASN1::AbstractData> read((*m)->create(type.name));
        ASSERT_TRUE(read->setFromValueNotation(v->asValueNotation()));
        ASSERT_TRUE(*read == *v);
      }
    }
  }
  EXPECT_EQ(values, 592u * 20u);
}

}  // namespace
