// asn1-codec over the test modules: hex to value notation and back, its
// rules, listings and refusals.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "tests/asn1/korvend_asn1_testmodules_registry.h"
#include "tools/asn1-codec/codec.h"

TEST(CodecTool, CommandsAndTheirAnswers) {
  const char* const connectText = "{\n  seq 7,\n  slot 3,\n  pdu command : connect : 4\n}\n";
  const struct {
    std::vector<std::string> args;
    const char* input;
    int code;
    const char *out, *err;  // null: not checked
  } cases[] = {
      {{"decode", "AsnTest", "Message", "C0 01 07 00 03 04 00 04"}, "", 0, connectText, ""},
      {{"encode", "AsnTest", "Message"}, connectText, 0, "C0 01 07 00 03 04 00 04\n", ""},
      {{"-r", "uper", "encode", "AsnTest", "Message", "{ seq 7, slot 3, pdu command : connect : 4 }"}, "", 0,
       "C0 41 C0 30 40 20\n", ""},
      {{"-r", "uper", "decode", "AsnTest", "Message"}, "c041c0 304020", 0, connectText, ""},
      {{"-r", "avn", "encode", "AsnTestBase", "HostAddress", "{ip '0a'H,port 7}"}, "", 0,
       "{\n  ip '0a'H,\n  port 7\n}\n", ""},
      {{"-r", "ber", "encode", "AsnTest", "Message", "{ seq 7, slot 3, pdu command : connect 4 }"}, "", 0,
       "30 0D 80 01 07 81 01 03 A2 05 A0 03 82 01 04\n", ""},
      {{"-r", "ber", "decode", "AsnTest", "Gain", "30 06 80 01 01 81 01 FE"}, "", 0, "{\n  id 1,\n  value -2\n}\n", ""},
      {{"list"}, "", 0, "AsnTest\nAsnTestBase\n", ""},
      {{"list", "AsnTestBase"}, "", 0, "Dscp\nHostAddress\nSlotNumber\n", ""},
      {{}, "", 2, nullptr, nullptr},
      {{"-r", "xer", "decode", "AsnTest", "Message", "00"}, "", 2, nullptr, nullptr},
      {{"decode", "Nope", "Message", "00"}, "", 1, nullptr, nullptr},
      {{"decode", "AsnTest", "Nope", "00"}, "", 1, nullptr, nullptr},
      {{"decode", "AsnTest", "Message", "C0 0"}, "", 1, "", "asn1-codec: the input is not hex octets\n"},
      {{"decode", "AsnTest", "Message", "C0 01 07 00"}, "", 1, "", "asn1-codec: does not decode as AsnTest.Message\n"},
      {{"encode", "AsnTest", "Message", "{ seq x }"}, "", 1, "", nullptr},
      {{"encode", "AsnTest", "Message", "{ slot 1024, pdu command : ping : NULL }"}, "", 1, "",
       "asn1-codec: the value does not encode\n"},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args = c.args;
    args.insert(args.begin(), "asn1-codec");
    std::string line;
    std::vector<char*> argv;
    for (std::string& a : args) {
      argv.push_back(&a[0]);
      line += a + " ";
    }
    SCOPED_TRACE(line);
    std::istringstream in(c.input);
    std::ostringstream out, err;
    EXPECT_EQ(c.code, asn1codec::run(int(argv.size()), argv.data(), korvend_asn1_testmodules_registry, in, out, err));
    EXPECT_EQ(c.out ? c.out : out.str(), out.str());
    EXPECT_EQ(c.err ? c.err : err.str(), err.str());
  }
}
