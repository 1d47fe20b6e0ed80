// Encodings of the protocol modules that peers and the control link rely
// on. Where X.691 gives the same bits, each vector was also produced by
// Erlang's asn1 from the oracle copy.
#include <gtest/gtest.h>

#include "asn1/asn1.h"
#include "asn1/modules/VESKGW.h"
#include "tests/asn1/encodings.h"

namespace {

TEST(ModuleVectors, AlignedPer) {
  asn1test::checkVectors(ASN1::CoderEnv::per_Aligned, {
      {"LGCP.Message", "{ seq 5, pdu command : ping : NULL }", "80 01 05 18"},
      // Slot and connect target are two aligned octets, 0..1023.
      {"LGCP.Message", "{ seq 7, slot 3, pdu command : connect : 4 }", "C0 01 07 00 03 04 00 04"},
      {"LGCP.Message", "{ seq 7, slot 1024, pdu command : connect : 4 }", "FAIL"},
      {"LGCP.Message", "{ seq 7, slot 1023, pdu command : connect : 1024 }", "FAIL"},
      {"LGCP.Message", "{ seq 5, pdu response : success : NULL }", "80 01 05 40"},
      {"LGCP.Message", "{ seq 7, pdu response : error : invalidSlot }", "80 01 07 62"},
      // Above the last root value an ErrorCause goes as an extension value:
      // bit 1, small number 14, then 13 in 0..13.
      {"LGCP.Message", "{ seq 7, pdu response : error : 13 }", "80 01 07 71 DA"},
      {"LGCP.Message", "{ pdu response : success : NULL }", "10"},
      {"LGCP.TonecCode", "dtmfDone : NULL", "80 01 00"},
      // trunk and trunk_bri share a type and differ by index.
      {"LGCP.CreateParams", "trunk : { trunk 3, timeslot 4 }", "1C 03 20"},
      {"LGCP.CreateParams", "trunk_bri : { trunk 3, timeslot 4 }", "20 03 20"},
      // drvVersion is presence bit zero of Resources.
      {"LGCP.Resources",
       "{ boardMajor 1, boardMinor 2, drvVersion { type release, version \"v\", date \"d\", revision 3 }, rtp-g729 0, "
       "rtp-g723 0, rtp-g711 0, rtp-g711mcc 0, modem 0, mixer { }, mux FALSE, mcc-data 0, mcc-bri 0, mcc-trans 0, "
       "echoBus { }, t38-instances 0, digital-modems 0, lin16 0, universal 0 }",
       "40 01 01 01 02 00 01 76 01 64 01 03 01 00 01 00 01 00 01 00 01 00 00 00 01 00 01 00 01 00 00 01 "
       "00 01 00 01 00 01 00"},
      // Extension bit, seven empty root presence bits, a one-bit extension
      // map (our maps end at the last addition present), then the open type.
      {"TERM.TermParams", "{ traceLevel 5 }", "80 01 02 01 05"},
      {"TERM.IpQoSDSCP", "cs1", "20"},  // 8 in six bits
      {"TERM.RadioCommandGWSetStandby", "{ state standby }", "80"},
      {"TERM.RadioCommandGWSetStandby", "{ state not-use }", "FAIL"},  // -1 has no coded form
      {"VESKGW.ProtoVeskMsgID", "gw-get-id", "00 10 01"},
      {"VESKGW.ProtoVeskMsgID", "ali-server-p1", "00 33 00"},
      {"VESKGW.ProtoVeskPackets", "{ }", "00 00"},
      {"MON.Message", "{ pdu command : ping : NULL }", "18"},
      // From index nine an ACP command is an extension alternative.
      {"ACP.AcpCommand", "channel-block : { trunk 1, timeslot 2 }", "80 05 00 01 01 01 02"},
      {"CCP.Message", "{ protocolIdentifier { 1 2 3 }, seq 7, body media : { ref 1, pdu command : create : { } } }",
       "02 2A 03 01 07 00 00 01 00 00"},
  });
  // The session answers invalidSlot; the decoder must not refuse the slot.
  asn1test::checkReadings(ASN1::CoderEnv::per_Aligned,
                          {{"LGCP.Message", "C0 01 07 FF FF 18", "{ seq 7, slot 65535, pdu command : ping : NULL }"}});
}

TEST(ModuleVectors, DnameTakesOneToSixtyFourCharacters) {
  for (unsigned n : {0u, 1u, 64u, 65u}) {
    std::string text = "{ payload ptG711-Alaw, dhost { iaddr \"10.0.0.1\", port 0 }, dname \"" + std::string(n, 'a') + "\" }";
    std::unique_ptr<ASN1::AbstractData> p = asn1test::value("TERM.RtpParams", text);
    ASSERT_TRUE(p) << text;
    EXPECT_EQ(asn1test::encodeHex(*p, ASN1::CoderEnv::per_Aligned) == "FAIL", n == 0 || n == 65) << n;
  }
}

TEST(ModuleVectors, VeskgwMessageCodesAreTheirWireValues) {
  EXPECT_EQ(VESKGW::ProtoVeskPacketPayload::e_ali_server_p1, 66);
  VESKGW::ProtoVeskMsgID id;
  id.ASN1::ENUMERATED::setValue(20000);  // above the largest code: an extension value
  EXPECT_EQ("C", asn1test::encodeHex(id, ASN1::CoderEnv::per_Aligned).substr(0, 1));
}

}  // namespace
