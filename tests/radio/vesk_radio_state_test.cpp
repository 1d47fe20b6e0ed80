// The VESK radio state and its translations, each way, with the cases the
// controller's author relies on: a fresh state's report, the caller
// identity, the alternatives that are out of command order, unknown packet
// types, frequencies as text.
#include "radio/vesk_radio_state.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <string>

namespace {

using namespace RTPSignalling;

TERM::VeskRadioModifier modifier(const std::string& params, const std::string& addr = "10.0.0.9") {
  TERM::VeskRadioModifier m;
  EXPECT_TRUE(m.setFromValueNotation("{ addr { session-addr \"" + addr + "\", session-ssrc 77 }, params " + params +
                                     " }"))
      << params;
  return m;
}

const char kFlags[] =
    "flags { prio 1, ptt TRUE, bss FALSE, vad-rx FALSE, vad-tx FALSE, sql FALSE, sh FALSE, pwr FALSE, rv FALSE, "
    "resv FALSE, selcall 0, li 0 }";

TEST(VeskRadioState, AFreshStateReportsItsDefaultsAndMinusOneForWhatIsNotSet) {
  TERM::RtpRadioRequest r;
  EncodeStatusASN(VeskRadioState(), r);
  ASSERT_EQ(r.get_status().getSelection(), TERM::RadioStatus::e_vesk);
  const TERM::VeskRadioStatus& v = r.get_status().get_vesk();
  EXPECT_EQ(v.get_flags().get_prio().getValue(), 15);
  for (unsigned f = TERM::RadioFlags::e_ptt; f <= TERM::RadioFlags::e_resv; ++f)
    EXPECT_FALSE(static_cast<const ASN1::BOOLEAN*>(v.get_flags().getField(f))->getValue()) << f;
  EXPECT_EQ(v.get_freq().get_channel().getValue(), 0);
  EXPECT_EQ(v.get_freq().get_frequency(), "0.000000");
  EXPECT_EQ(v.get_remote().get_no().getValue(), 0u);
  EXPECT_EQ(v.get_remote().get_ch().getValue(), 0u);
  EXPECT_EQ(v.get_squelshe().ASN1::ENUMERATED::getValue(), -1);
  EXPECT_EQ(v.get_rte().ASN1::ENUMERATED::getValue(), -1);
  EXPECT_EQ(v.get_standby_state_channel().ASN1::ENUMERATED::getValue(), -1);
  EXPECT_EQ(v.get_standby_group().INTEGER::getValue(), -1);
  EXPECT_EQ(v.get_standby_state_receiver().ASN1::ENUMERATED::getValue(), -1);
  EXPECT_FALSE(r.hasOptionalField(TERM::RtpRadioRequest::o_request));
}

TEST(VeskRadioState, ASelectiveCallFromTheControllerBecomesAWmSelCallTransWithItsIdentity) {
  VeskRadioState s;
  DecodeASN(modifier(std::string("wm-selcall : { ") + kFlags + ", ip \"10.0.0.7\", ssrc 5, cid \"A1\" }"), s);
  EXPECT_EQ(s.command, 133);
  EXPECT_EQ(s.session_addr, ::inet_addr("10.0.0.7"));
  EXPECT_EQ(s.session_ssrc, 5u);
  EXPECT_STREQ(s.caller_id, "A1");
  EXPECT_EQ(s.source_addr, ::inet_addr("10.0.0.9"));
  EXPECT_EQ(s.source_ssrc, 77u);
  EXPECT_EQ(s.priority, 1);
  EXPECT_EQ(s.ptt, 1);

  sig_proto r;
  EncodeProtoHeader(s, r);
  ASSERT_EQ(EncodeProtoGatewayPayload(s, r), 0);
  EXPECT_EQ(r.type, WM_SEL_CALL_TRANS);
  EXPECT_EQ(r.wm_sel_call_trans.callerID_length, 2);
  unsigned char wire[64];
  EXPECT_EQ(sig_proto_pack(&r, wire, sizeof wire), 16);  // 13 + 2, padded
  // The workstation sends no such packet, the gateway no workstation command.
  EXPECT_EQ(EncodeProtoWorkstationPayload(s, r), -1);
  s.command = GW_SEL_CALL;
  EXPECT_EQ(EncodeProtoGatewayPayload(s, r), -1);
  EXPECT_EQ(EncodeProtoWorkstationPayload(s, r), 0);
  EXPECT_EQ(r.gw_sel_call.callerID_length, 2);
}

// The alternatives are not in command order: 5 is gw-set-rv, 6 gw-set-sh.
TEST(VeskRadioState, EachAlternativeNamesItsOwnCommandBothWays) {
  for (const auto& c : {std::make_pair("gw-set-rv", 5), std::make_pair("gw-set-sh", 6)}) {
    VeskRadioState s;
    DecodeASN(modifier(std::string(c.first) + " : { " + kFlags + " }"), s);
    EXPECT_EQ(s.command, c.second) << c.first;
    TERM::RtpRadioRequest r;
    EncodeASN(VeskRadioState(), s, r);
    EXPECT_STREQ(r.get_request().get_vesk().get_params().getSelectionName(), c.first);
  }
  VeskRadioState s;
  DecodeASN(modifier("wm-standby : { state-channel active, group 9, state-receiver active }"), s);
  EXPECT_EQ(s.command, 135);
  DecodeASN(modifier("gw-set-remote : { remote { no 4, ch 5 } }"), s);
  EXPECT_EQ(s.command, 10);
  EXPECT_EQ(s.interface, 4);
  EXPECT_EQ(s.standby_group, 9);  // what the request does not carry stays
}

// Each side's packets read back into the fields their type carries, the
// others as a fresh state has them.
TEST(VeskRadioState, EveryPacketTypeComesBackFromTheWireWithItsFields) {
  VeskRadioState s;
  s.priority = 9, s.ptt = 1, s.sql = 1, s.selcall = 2, s.li = 300;
  s.session_addr = ::inet_addr("10.1.2.3"), s.session_ssrc = 258;
  std::snprintf(s.caller_id, sizeof s.caller_id, "%s", "CALLER");
  s.interface = 6, s.channel = 7, s.chan_id = 11, s.frequency = 145.5f, s.squelch = 50, s.rte = 5;
  s.standby_state = 0, s.standby_group = 3, s.standby_receiver = 0, s.radio_quality = 0.25f;
  const VeskRadioState fresh;
  for (int type : {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 129, 130, 131, 132, 133, 134, 135}) {
    s.command = type;
    sig_proto out, in;
    EncodeProtoHeader(s, out);
    ASSERT_EQ(type < 128 ? EncodeProtoWorkstationPayload(s, out) : EncodeProtoGatewayPayload(s, out), 0) << type;
    unsigned char wire[1024];
    sig_proto_init(&in);
    ASSERT_EQ(sig_proto_unpack(&in, wire, sig_proto_pack(&out, wire, sizeof wire)), 0) << type;
    VeskRadioState got;
    ASSERT_EQ(DecodeProto(in, got), 0);
    EXPECT_EQ(got.command * 1000 + got.priority + got.sql + got.ptt + got.selcall + got.li, type * 1000 + 313);
    const auto expect = [&](bool carried, auto ours, auto theirs, auto initial, const char* field) {
      EXPECT_EQ(theirs, carried ? ours : initial) << "type " << type << " " << field;
    };
    const bool chan = type == 2 || type == 132, caller = type == 9 || type == 133;
    expect(chan, s.chan_id, got.chan_id, fresh.chan_id, "chan_id");
    expect(chan, s.frequency, got.frequency, fresh.frequency, "frequency");
    expect(type == 10 || type == 134, s.interface, got.interface, fresh.interface, "interface");
    expect(type == 130 || type == 133, s.session_addr, got.session_addr, fresh.session_addr, "session_addr");
    expect(caller, std::string("CALLER"), std::string(got.caller_id), std::string(), "caller_id");
    expect(type == 11 || type == 132, s.squelch, got.squelch, fresh.squelch, "squelch");
    expect(type == 12 || type == 132, s.rte, got.rte, fresh.rte, "rte");
    expect(type == 13 || type == 135, s.standby_state, got.standby_state, fresh.standby_state, "standby_state");
    expect(type == 135, s.standby_group, got.standby_group, fresh.standby_group, "standby_group");
    expect(type == 131, s.radio_quality, got.radio_quality, fresh.radio_quality, "radio_quality");
  }
}

TEST(VeskRadioState, UnknownTypesAndTextsDoNotPassForValues) {
  sig_proto r;
  sig_proto_init(&r);
  r.type = 14;
  r.priority = 3;
  VeskRadioState s;
  EXPECT_EQ(DecodeProto(r, s), -1);
  EXPECT_EQ(s.priority, 3);  // the header is taken all the same
  s.command = 14;
  EXPECT_EQ(EncodeProtoGatewayPayload(s, r), -1);
  EXPECT_EQ(EncodeProtoWorkstationPayload(s, r), -1);
  // A report of a type outside the table names no alternative.
  TERM::RtpRadioRequest report;
  EncodeASN(VeskRadioState(), s, report);
  EXPECT_FALSE(report.get_request().get_vesk().get_params().isSelected());

  // A session address that is no address reads as 255.255.255.255; an
  // identity is cut at 255 characters.
  DecodeASN(modifier(std::string("wm-trans : { ") + kFlags + ", ip \"no.where\", ssrc 1 }", "bad"), s);
  EXPECT_EQ(s.session_addr, 0xFFFFFFFFu);
  EXPECT_EQ(s.source_addr, 0xFFFFFFFFu);
  DecodeASN(modifier(std::string("gw-set-selcall : { ") + kFlags + ", ip \"1.2.3.4\", ssrc 1, cid \"" +
                     std::string(300, 'x') + "\" }"),
            s);
  EXPECT_EQ(std::string(s.caller_id), std::string(255, 'x'));
}

TEST(VeskRadioState, FrequenciesTravelAsTextWithSixDecimals) {
  VeskRadioState s;
  s.frequency = 145.5f;
  s.radio_quality = 0.125f;
  s.command = WM_RADIO_QUALITY;
  TERM::RtpRadioRequest r;
  EncodeASN(s, s, r);
  EXPECT_EQ(r.get_status().get_vesk().get_freq().get_frequency(), "145.500000");
  EXPECT_EQ(r.get_request().get_vesk().get_params().get_wm_quality().get_bss_val(), "0.125000");
  VeskRadioState back;
  DecodeASN(modifier("wm-chan : { freq { channel 3, frequency \"118.025\" }, squelshe percent-50, rte j3e }"), back);
  EXPECT_FLOAT_EQ(back.frequency, 118.025f);
  EXPECT_EQ(back.chan_id, 3);
  EXPECT_EQ(back.squelch, 53);
  EXPECT_EQ(back.rte, 7);
  EXPECT_TRUE(isPTTCommand(130) && isPTTCommand(1) && !isPTTCommand(2) && !isPTTCommand(131));
  EXPECT_TRUE(isDefaultInitCommand(0) && isDefaultInitCommand(-4) && !isDefaultInitCommand(1));
}

// The last value of each enumeration passes, the next one does not; a
// packet with more to say keeps it, taking the known value instead.
TEST(VeskRadioState, ValuesOutsideTheEnumerationsAreReplacedByTheKnownOnesOrDropThePacket) {
  VeskRadioState known;
  std::string bad;
  sig_proto r;
  const auto packet = [&](unsigned type) {
    sig_proto_init(&r);
    r.type = type;
    return &r;
  };
  sig_proto_set_gw_adjust_squelsh(packet(GW_ADJUST_SQUELSHE), 103);
  EXPECT_EQ(CheckProto(r, known, bad), 0);
  EXPECT_EQ(bad, "");
  sig_proto_set_gw_adjust_squelsh(packet(GW_ADJUST_SQUELSHE), 104);
  EXPECT_EQ(CheckProto(r, known, bad), -1);
  EXPECT_EQ(bad, "squelch 104");
  sig_proto_set_gw_adjust_rte(packet(GW_ADJUST_RTE), 7);
  EXPECT_EQ(CheckProto(r, known, bad), 0);
  sig_proto_set_gw_adjust_standby(packet(GW_ADJUST_STANDBY), 2);
  known.standby_state = 1;  // the packet's only value: dropped all the same
  EXPECT_EQ(CheckProto(r, known, bad), -1);
  EXPECT_EQ(bad, "standby 2");

  // A channel report: the frequency stands, the squelch is the known one.
  sig_proto_set_wm_chan(packet(WM_CHAN), 4, 121.5f, 200, 3);
  EXPECT_EQ(CheckProto(r, known, bad), -1);  // no squelch known yet
  known.squelch = 2;
  sig_proto_set_wm_chan(packet(WM_CHAN), 4, 121.5f, 200, 3);
  EXPECT_EQ(CheckProto(r, known, bad), 1);
  EXPECT_EQ(bad, "squelch 200");
  VeskRadioState got;
  DecodeProto(r, got);
  EXPECT_EQ(got.squelch, 2);
  EXPECT_EQ(got.rte, 3);
  EXPECT_EQ(got.frequency, 121.5f);
  sig_proto_set_wm_standby(packet(WM_STANDBY), 1, 200, 9);
  EXPECT_EQ(CheckProto(r, known, bad), -1);  // no receiver state known
  EXPECT_EQ(bad, "standby receiver 9");
}

}  // namespace
