// asn1-codec over the test modules: hex to value notation and back.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "tests/asn1/korvend_asn1_testmodules_registry.h"
#include "tools/asn1-codec/codec.h"

namespace {

struct Result {
  int code;
  std::string out, err;
};

Result codec(std::vector<std::string> args, const std::string& input = "") {
  args.insert(args.begin(), "asn1-codec");
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(&a[0]);
  std::istringstream in(input);
  std::ostringstream out, err;
  int code = asn1codec::run(int(argv.size()), argv.data(), korvend_asn1_testmodules_registry, in, out, err);
  return {code, out.str(), err.str()};
}

}  // namespace

TEST(CodecTool, DecodesHexToValueNotationAndEncodesItBack) {
  Result d = codec({"decode", "AsnTest", "Message", "C0 01 07 00 03 04 00 04"});
  ASSERT_EQ(0, d.code) << d.err;
  EXPECT_EQ("{\n  seq 7,\n  slot 3,\n  pdu command : connect : 4\n}\n", d.out);
  Result e = codec({"encode", "AsnTest", "Message"}, d.out);
  ASSERT_EQ(0, e.code) << e.err;
  EXPECT_EQ("C0 01 07 00 03 04 00 04\n", e.out);
}

TEST(CodecTool, UnalignedAndValueNotationRules) {
  Result e = codec({"-r", "uper", "encode", "AsnTest", "Message", "{ seq 7, slot 3, pdu command : connect : 4 }"});
  ASSERT_EQ(0, e.code) << e.err;
  EXPECT_EQ("C0 41 C0 30 40 20\n", e.out);
  Result d = codec({"-r", "uper", "decode", "AsnTest", "Message"}, "c041c0 304020");
  ASSERT_EQ(0, d.code) << d.err;
  EXPECT_NE(std::string::npos, d.out.find("connect : 4"));
  Result a = codec({"-r", "avn", "encode", "AsnTestBase", "HostAddress", "{ip '0a'H,port 7}"});
  ASSERT_EQ(0, a.code) << a.err;
  EXPECT_EQ("{\n  ip '0a'H,\n  port 7\n}\n", a.out);
}

TEST(CodecTool, TakesBerAsARule) {
  Result e = codec({"-r", "ber", "encode", "AsnTest", "Message", "{ seq 7, slot 3, pdu command : connect 4 }"});
  ASSERT_EQ(0, e.code) << e.err;
  EXPECT_EQ("30 0D 80 01 07 81 01 03 A2 05 A0 03 82 01 04\n", e.out);
  Result d = codec({"-r", "ber", "decode", "AsnTest", "Gain", "30 06 80 01 01 81 01 FE"});
  ASSERT_EQ(0, d.code) << d.err;
  EXPECT_EQ("{\n  id 1,\n  value -2\n}\n", d.out);
}

TEST(CodecTool, ListsModulesAndTypes) {
  Result m = codec({"list"});
  EXPECT_EQ("AsnTest\nAsnTestBase\n", m.out);
  Result t = codec({"list", "AsnTestBase"});
  EXPECT_EQ("Dscp\nHostAddress\nSlotNumber\n", t.out);
}

TEST(CodecTool, ReportsBadInput) {
  EXPECT_EQ(2, codec({}).code);
  EXPECT_EQ(2, codec({"-r", "xer", "decode", "AsnTest", "Message", "00"}).code);
  EXPECT_EQ(1, codec({"decode", "Nope", "Message", "00"}).code);
  EXPECT_EQ(1, codec({"decode", "AsnTest", "Nope", "00"}).code);
  Result odd = codec({"decode", "AsnTest", "Message", "C0 0"});
  EXPECT_EQ(1, odd.code);
  EXPECT_EQ("asn1-codec: the input is not hex octets\n", odd.err);
  Result cut = codec({"decode", "AsnTest", "Message", "C0 01 07 00"});
  EXPECT_EQ(1, cut.code);
  EXPECT_EQ("asn1-codec: does not decode as AsnTest.Message\n", cut.err);
  Result text = codec({"encode", "AsnTest", "Message", "{ seq x }"});
  EXPECT_EQ(1, text.code);
  Result range = codec({"encode", "AsnTest", "Message", "{ slot 1024, pdu command : ping : NULL }"});
  EXPECT_EQ(1, range.code);
  EXPECT_EQ("asn1-codec: the value does not encode\n", range.err);
}
