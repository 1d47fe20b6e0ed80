// The coder environment: rule words and the output only on success.
#include <gtest/gtest.h>

#include <vector>

#include "asn1/asn1.h"
#include "tests/asn1/AsnTest.h"

using namespace AsnTest;

TEST(CoderEnv, UnknownRulesFailWithoutTouchingAnything) {
  Message m;
  m.get_pdu().select_command().select_ping();
  for (uint32_t rule : {4u, 99u, 0xFFFFFFFFu}) {
    ASN1::CoderEnv env(rule);
    std::vector<char> out{'x'};
    EXPECT_FALSE(ASN1::encode(m, &env, std::back_inserter(out)));
    EXPECT_EQ(std::vector<char>{'x'}, out);
    const char in[] = {0x00, 0x18};
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
