// The coder environment: rule words, and output or target touched only on
// success.
#include <gtest/gtest.h>

#include <vector>

#include "asn1/asn1.h"
#include "tests/asn1/AsnTest.h"

using namespace AsnTest;

TEST(CoderEnv, FailuresTouchNeitherOutputNorTarget) {
  Message ping, unselected;
  ping.get_pdu().select_command().select_ping();
  const char in[] = {0x00, 0x18};
  for (uint32_t rule : {4u, 99u, 0xFFFFFFFFu, uint32_t(ASN1::CoderEnv::per_Aligned)}) {
    ASN1::CoderEnv env(rule);
    std::vector<char> out{'x'};
    const bool known = rule == ASN1::CoderEnv::per_Aligned;
    EXPECT_FALSE(ASN1::encode(known ? unselected : ping, &env, std::back_inserter(out))) << rule;
    EXPECT_EQ(std::vector<char>{'x'}, out);
    if (known) continue;
    Message target;
    target.includeOptionalField(Message::o_seq, Message::e_seq);
    target.set_seq(42);
    Message before(target);
    EXPECT_FALSE(ASN1::decode(in, in + 2, &env, target));
    EXPECT_EQ(0, before.compare(target));
  }
}

TEST(CoderEnv, NullEncodesToNoOctets) {
  ASN1::Null n;
  ASN1::CoderEnv env;
  std::vector<char> out;
  EXPECT_TRUE(ASN1::encode(n, &env, std::back_inserter(out)));
  EXPECT_TRUE(out.empty());
  EXPECT_TRUE(ASN1::decode(out.data(), out.data(), &env, n));
}
