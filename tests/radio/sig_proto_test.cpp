#include "radio/sig_proto.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;

sig_proto record(std::uint32_t type) {
  sig_proto rec;
  sig_proto_init(&rec);
  rec.type = type;
  return rec;
}

// Packs into a buffer of the given size, pre-filled with a marker so that
// bytes the writer should have zeroed stand out.
Bytes packInto(const sig_proto& rec, int size, int* result) {
  Bytes buf(static_cast<std::size_t>(size) + 4, 0xEE);
  *result = sig_proto_pack(&rec, buf.data(), size);
  return buf;
}

Bytes packed(const sig_proto& rec) {
  int n = 0;
  Bytes buf = packInto(rec, 1024, &n);
  EXPECT_GT(n, 0);
  buf.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
  return buf;
}

in_addr address(const char* dotted) {
  in_addr a;
  EXPECT_EQ(::inet_pton(AF_INET, dotted, &a), 1);
  return a;
}

std::string printed(const sig_proto& rec, int flags, long size = 8192) {
  std::vector<char> text(static_cast<std::size_t>(size), 'x');
  const int n = sprintf_sig_proto(text.data(), size, &rec, flags);
  return std::string(text.data(), static_cast<std::size_t>(n));
}

TEST(SigProto, HeaderBitsSitWhereTheyBelongAndAreMaskedToTheirWidths) {
  sig_proto rec = record(GW_FLAG);
  sig_proto_set_base(&rec, 15, 1, 1, 1, 1, 1, 1, 1, 1, 1, 3, 511);
  EXPECT_EQ(packed(rec), (Bytes{0x01, 0xFF, 0xFF, 0xFF}));
  rec.status = 0x155;
  EXPECT_EQ(packed(rec), (Bytes{0x01, 0xFF, 0xFA, 0xAF}));

  // Each value one bit wider than its field, the field itself 0.
  rec = record(GW_FLAG);
  sig_proto_set_base(&rec, 16, 2, 2, 2, 2, 2, 2, 2, 2, 2, 4, 512);
  EXPECT_EQ(packed(rec), (Bytes{0x01, 0x00, 0x00, 0x00}));
  // One field at a time, to see that no bit lands on a neighbour.
  const struct {
    std::uint32_t sig_proto::*field;
    Bytes wire;
  } single[] = {
      {&sig_proto::priority, {0x01, 0xF0, 0x00, 0x00}}, {&sig_proto::flag_t, {0x01, 0x08, 0x00, 0x00}},
      {&sig_proto::flag_p, {0x01, 0x04, 0x00, 0x00}},   {&sig_proto::flag_r, {0x01, 0x02, 0x00, 0x00}},
      {&sig_proto::flag_s, {0x01, 0x01, 0x00, 0x00}},   {&sig_proto::flag_b, {0x01, 0x00, 0x80, 0x00}},
      {&sig_proto::flag_rv, {0x01, 0x00, 0x40, 0x00}},  {&sig_proto::flag_sh, {0x01, 0x00, 0x20, 0x00}},
      {&sig_proto::flag_pw, {0x01, 0x00, 0x10, 0x00}},  {&sig_proto::status, {0x01, 0x00, 0x0F, 0xF8}},
      {&sig_proto::flag_c, {0x01, 0x00, 0x00, 0x06}},   {&sig_proto::flag_rs, {0x01, 0x00, 0x00, 0x01}},
  };
  for (const auto& s : single) {
    rec = record(GW_FLAG);
    rec.*s.field = 0xFFFFFFFFu;
    EXPECT_EQ(packed(rec), s.wire);
    sig_proto back = record(0);
    ASSERT_EQ(sig_proto_unpack(&back, s.wire.data(), 4), 0);
    rec.*s.field = back.*s.field;  // the reader gives the masked value
    EXPECT_EQ(std::memcmp(&back, &rec, sizeof rec), 0);
  }
  // The type travels as its low 8 bits; a type outside the table packs as a header alone.
  rec = record(0x100 | WM_CHAN);
  EXPECT_EQ(packed(rec), (Bytes{WM_CHAN, 0, 0, 0}));
}

TEST(SigProto, SessionAddressTravelsReversedOnEveryHost) {
  sig_proto rec = record(WM_TRANS);
  sig_proto_set_wm_transmite(&rec, address("10.1.2.3"), 258);
  EXPECT_EQ(packed(rec), (Bytes{WM_TRANS, 0, 0, 0, 3, 2, 1, 10, 0, 0, 1, 2}));
  const Bytes wire = packed(rec);
  sig_proto back = record(0);
  ASSERT_EQ(sig_proto_unpack(&back, wire.data(), static_cast<int>(wire.size())), 0);
  EXPECT_EQ(back.wm_trans.session_addr, address("10.1.2.3").s_addr);
  EXPECT_EQ(back.wm_trans.ssrc, 258u);

  rec = record(WM_SEL_CALL_TRANS);
  sig_proto_set_wm_selcall_transmite(&rec, address("192.168.7.9"), 0xA1B2C3D4u, "AB", 2);
  EXPECT_EQ(packed(rec), (Bytes{WM_SEL_CALL_TRANS, 0, 0, 0, 9, 7, 168, 192, 0xA1, 0xB2, 0xC3, 0xD4, 2, 'A', 'B', 0}));
  EXPECT_EQ(is_little_endian(), __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__ ? 1 : 0);
}

TEST(SigProto, CallerIdentitiesArePaddedToFourAndNeedTheirReserve) {
  sig_proto rec = record(GW_SEL_CALL);
  sig_proto_set_gw_selcall(&rec, "123", 3);
  EXPECT_EQ(packed(rec), (Bytes{GW_SEL_CALL, 0, 0, 0, 3, '1', '2', '3'}));
  sig_proto_set_gw_selcall(&rec, "1234", 4);
  EXPECT_EQ(packed(rec), (Bytes{GW_SEL_CALL, 0, 0, 0, 4, '1', '2', '3', '4', 0, 0, 0}));

  const std::string longest(300, 'z');
  sig_proto_set_gw_selcall(&rec, longest.c_str(), 255);
  Bytes wire = packed(rec);
  ASSERT_EQ(wire.size(), 260u);
  EXPECT_EQ(wire[4], 255);
  EXPECT_EQ(wire[259], 'z');
  sig_proto back = record(0);
  ASSERT_EQ(sig_proto_unpack(&back, wire.data(), static_cast<int>(wire.size())), 0);
  EXPECT_EQ(std::memcmp(&back, &rec, sizeof rec), 0);

  sig_proto_set_gw_selcall(&rec, "1", 1);
  int n = 0;
  Bytes buf = packInto(rec, 12, &n);
  EXPECT_EQ(n, sig_proto_too_short);  // needs L + 12 = 13
  EXPECT_EQ(Bytes(buf.begin(), buf.begin() + 13), (Bytes{GW_SEL_CALL, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xEE}));
  packInto(rec, 13, &n);
  EXPECT_EQ(n, 8);

  rec = record(WM_SEL_CALL_TRANS);
  sig_proto_set_wm_selcall_transmite(&rec, address("1.2.3.4"), 5, longest.c_str(), 255);
  packInto(rec, 274, &n);
  EXPECT_EQ(n, sig_proto_too_short);  // needs L + 20 = 275
  packInto(rec, 275, &n);
  EXPECT_EQ(n, 268);
}

TEST(SigProto, ShortPacketsOfKnownTypesLeaveTheRecordAlone) {
  sig_proto rec = record(WM_CHAN);
  sig_proto_set_base(&rec, 3, 0, 1, 0, 1, 0, 0, 0, 0, 0, 2, 300);
  sig_proto_set_wm_chan(&rec, 0x01020304, 118.5f, 7, 9);
  const Bytes wire = packed(rec);
  EXPECT_EQ(wire, (Bytes{WM_CHAN, 0x35, 0x09, 0x64, 1, 2, 3, 4, 0x42, 0xED, 0x00, 0x00, 7, 9, 0, 0}));

  sig_proto back = record(0);
  back.source_addr = 0x0100007F;
  back.source_ssrc = 99;
  sig_proto before = back;
  EXPECT_EQ(sig_proto_unpack(&back, wire.data(), 14), sig_proto_too_short);
  EXPECT_EQ(std::memcmp(&back, &before, sizeof back), 0);
  ASSERT_EQ(sig_proto_unpack(&back, wire.data(), 16), 0);
  EXPECT_EQ(back.source_addr, 0x0100007Fu);  // not on the wire: kept
  EXPECT_EQ(back.source_ssrc, 99u);
  back.source_addr = back.source_ssrc = 0;
  EXPECT_EQ(std::memcmp(&back, &rec, sizeof rec), 0);

  // A caller identity that runs past the packet.
  const unsigned char cut[] = {GW_SEL_CALL, 0, 0, 0, 10, 'a', 'b', 'c'};
  back = record(0);
  EXPECT_EQ(sig_proto_unpack(&back, cut, sizeof cut), sig_proto_too_short);
  EXPECT_EQ(back.type, 0u);
  const unsigned char cutTrans[] = {WM_SEL_CALL_TRANS, 0, 0, 0, 1, 2, 3, 4, 5, 6, 7, 8};
  EXPECT_EQ(sig_proto_unpack(&back, cutTrans, sizeof cutTrans), sig_proto_too_short);
  EXPECT_EQ(sig_proto_unpack(&back, cut, 4), sig_proto_too_short);  // its length byte is missing
  EXPECT_EQ(sig_proto_unpack(&back, cut, 3), sig_proto_too_short);
  EXPECT_EQ(sig_proto_unpack(&back, nullptr, 8), sig_proto_missing);
  EXPECT_EQ(sig_proto_unpack(nullptr, cut, 8), sig_proto_missing);
  EXPECT_EQ(back.type, 0u);
}

TEST(SigProto, UnknownTypesSetOnlyTheType) {
  for (unsigned char type : {0, 14, 128, 136, 200, 255}) {
    const unsigned char wire[] = {type, 0xFF, 0xFF, 0xFF};
    sig_proto rec = record(GW_FLAG);
    EXPECT_EQ(sig_proto_unpack(&rec, wire, sizeof wire), sig_proto_unknown);
    sig_proto expect = record(type);
    EXPECT_EQ(std::memcmp(&rec, &expect, sizeof rec), 0) << int(type);
  }
}

TEST(SigProto, PackWritesNothingWithoutARecordOrBuffer) {
  sig_proto rec = record(GW_FLAG);
  unsigned char buf[4] = {0xEE, 0xEE, 0xEE, 0xEE};
  EXPECT_EQ(sig_proto_pack(&rec, nullptr, 4), 0);
  EXPECT_EQ(sig_proto_pack(nullptr, buf, 4), 0);
  EXPECT_EQ(sig_proto_pack(&rec, buf, 3), sig_proto_too_short);
  EXPECT_EQ(sig_proto_pack(&rec, buf, -1), sig_proto_too_short);
  EXPECT_EQ(buf[0], 0xEE);
}

// Every type with a payload, with every payload byte distinct from zero
// where it can be: what goes out comes back.
TEST(SigProto, EveryTypeComesBackFromItsOwnPacket) {
  std::vector<sig_proto> records;
  auto add = [&records](std::uint32_t type) -> sig_proto& {
    records.push_back(record(type));
    sig_proto_set_base(&records.back(), 9, 1, 0, 1, 0, 1, 0, 1, 0, 1, 2, 0x1A5);
    return records.back();
  };
  for (std::uint32_t t : {GW_FLAG, GW_FLAG_PTT, GW_FLAG_BSS, GW_FLAG_RV, GW_FLAG_SH, GW_FLAG_PW, GW_FLAG_RS, WM_FLAG}) {
    add(t);
  }
  sig_proto_set_gw_adjust_chan(&add(GW_ADJUST_CHAN), 0xDEADBEEF, -1.25e-3f);
  sig_proto_set_gw_selcall(&add(GW_SEL_CALL), "caller-7", 8);
  sig_proto_set_gw_select_rc_chan(&add(GW_SELECT_RC_CHAN), 3, 250);
  sig_proto_set_gw_adjust_squelsh(&add(GW_ADJUST_SQUELSHE), 0x81);
  sig_proto_set_gw_adjust_rte(&add(GW_ADJUST_RTE), 0x42);
  sig_proto_set_gw_adjust_standby(&add(GW_ADJUST_STANDBY), 0xC3);
  sig_proto_set_wm_transmite(&add(WM_TRANS), address("172.16.254.1"), 0xFEDCBA98u);
  sig_proto_set_wm_radio_quality(&add(WM_RADIO_QUALITY), 0.73125f);
  sig_proto_set_wm_chan(&add(WM_CHAN), 77, 136.975f, 12, 200);
  sig_proto_set_wm_selcall_transmite(&add(WM_SEL_CALL_TRANS), address("10.20.30.40"), 1, "x", 1);
  sig_proto_set_wm_select_rc_chan(&add(WM_SELECT_RC_CHAN), 0xF0, 0x0F);
  sig_proto_set_wm_standby(&add(WM_STANDBY), 1, 2, 3);
  for (const sig_proto& rec : records) {
    const Bytes wire = packed(rec);
    EXPECT_EQ(wire.size() % 4, 0u) << rec.type;
    sig_proto back = record(0);
    ASSERT_EQ(sig_proto_unpack(&back, wire.data(), static_cast<int>(wire.size())), 0) << rec.type;
    EXPECT_EQ(std::memcmp(&back, &rec, sizeof rec), 0) << rec.type;
    EXPECT_EQ(cmp_sig_proto(&back, &rec), 0) << rec.type;
  }
}

TEST(SigProto, HeaderComparisonSeesTypeSsrcAndAddressOnly) {
  sig_proto a = record(GW_FLAG_PTT), b = record(GW_FLAG_PTT);
  a.source_ssrc = b.source_ssrc = 7;
  a.source_addr = b.source_addr = 0x0100000A;
  b.flag_p = 1;
  EXPECT_EQ(cmp_sig_proto_header(&a, &b), 0);
  b.source_addr = 0x0200000A;
  EXPECT_NE(cmp_sig_proto_header(&a, &b), 0);
  b.source_addr = a.source_addr;
  b.source_ssrc = 5;
  EXPECT_EQ(cmp_sig_proto_header(&a, &b), -2);
  b.source_ssrc = 7;
  b.type = GW_SEL_CALL;
  EXPECT_EQ(cmp_sig_proto_header(&a, &b), 6);
  EXPECT_EQ(cmp_sig_proto_header(&a, nullptr), -1);
}

TEST(SigProto, PushToTalkCommands) {
  std::vector<std::uint32_t> ptt;
  for (std::uint32_t t = 0; t < 256; ++t) {
    const sig_proto rec = record(t);
    if (sig_proto_is_ptt_command(&rec)) ptt.push_back(t);
  }
  EXPECT_EQ(ptt, (std::vector<std::uint32_t>{1, 3, 9, 129, 130, 133}));
  EXPECT_EQ(sig_proto_is_ptt_command(nullptr), 0);
}

TEST(SigProto, SettersLeaveFieldsAloneForNegativeArgumentsAndBoundTheCallerText) {
  sig_proto rec = record(GW_FLAG);
  sig_proto_set_base(&rec, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1);
  sig_proto_set_base(&rec, -1, 0, -1, 0, -1, 0, -1, 0, 0, -1, -1, 300);
  EXPECT_EQ((std::vector<std::uint32_t>{rec.priority, rec.flag_t, rec.flag_p, rec.flag_r, rec.flag_s, rec.flag_b,
                                        rec.flag_rv, rec.flag_sh, rec.flag_pw, rec.flag_rs, rec.flag_c, rec.status}),
            (std::vector<std::uint32_t>{1, 0, 1, 0, 1, 0, 1, 0, 0, 1, 1, 300}));
  sig_proto_set_ptt(&rec, -1);
  EXPECT_EQ(rec.flag_p, 1u);
  sig_proto_set_ptt(&rec, 0);
  EXPECT_EQ(rec.flag_p, 0u);

  rec = record(GW_SEL_CALL);
  std::memset(rec.gw_sel_call.callerID, 'q', sizeof rec.gw_sel_call.callerID);
  sig_proto_set_gw_selcall(&rec, "abc", 6);  // the given length stands; the rest is zeros
  EXPECT_EQ(rec.gw_sel_call.callerID_length, 6);
  EXPECT_EQ(Bytes(rec.gw_sel_call.callerID, rec.gw_sel_call.callerID + 7), (Bytes{'a', 'b', 'c', 0, 0, 0, 0}));
  EXPECT_EQ(rec.gw_sel_call.callerID[255], 0);
  const std::string tooLong(400, 'y');
  sig_proto_set_gw_selcall(&rec, tooLong.c_str(), 255);
  EXPECT_EQ(rec.gw_sel_call.callerID[254], 'y');
  EXPECT_EQ(rec.gw_sel_call.callerID[255], 0);
  sig_proto_set_gw_selcall(&rec, nullptr, 9);
  EXPECT_EQ(rec.gw_sel_call.callerID_length, 0);
  EXPECT_EQ(rec.gw_sel_call.callerID[0], 0);
  EXPECT_EQ(rec.gw_sel_call.callerID[1], 'y');

  EXPECT_EQ(sig_proto_set_base(nullptr, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1), 0);
  EXPECT_EQ(sig_proto_set_wm_chan(nullptr, 1, 1.0f, 1, 1), 0);
  EXPECT_EQ(sig_proto_set_gw_selcall(nullptr, "a", 1), 0);
}

TEST(SigProto, NameTableLookups) {
  EXPECT_STREQ(sig_proto_find_name_by_id(sig_proto_packet_const_name, 133), "WM_SEL_CALL_TRANS");
  EXPECT_STREQ(sig_proto_find_name_by_id(sig_proto_packet_const_name, 11), "GW_ADJUST_SQUELSHE");
  // Entries past the end marker have the id 0; the search never reaches them.
  EXPECT_EQ(sig_proto_find_name_by_id(sig_proto_packet_const_name, 0), nullptr);
  EXPECT_EQ(sig_proto_find_name_by_id(sig_proto_packet_const_name, -1), nullptr);
  EXPECT_EQ(sig_proto_find_name_by_id(nullptr, 1), nullptr);
  EXPECT_EQ(sig_proto_find_id_by_name(sig_proto_packet_const_name, "WM_STANDBY"), 135);
  EXPECT_EQ(sig_proto_find_id_by_name(sig_proto_packet_const_name, "GW_FLAG"), 1);
  EXPECT_EQ(sig_proto_find_id_by_name(sig_proto_packet_const_name, "GW_FLA"), -1);
  EXPECT_EQ(sig_proto_find_id_by_name(sig_proto_packet_const_name, ""), -1);
  EXPECT_EQ(sig_proto_find_id_by_name(sig_proto_packet_const_name, nullptr), -1);
  int named = 0;
  for (int id = 0; id < 256; ++id) named += sig_proto_find_name_by_id(sig_proto_packet_const_name, id) != nullptr;
  EXPECT_EQ(named, 20);
}

TEST(SigProto, PrintersGiveTheRecordAsText) {
  sig_proto rec = record(WM_CHAN);
  sig_proto_set_base(&rec, 3, 0, 1, 0, 0, 0, 0, 0, 1, 0, 2, 300);
  sig_proto_set_wm_chan(&rec, 12, 118.5f, 7, 9);
  const std::string flags =
      "flag_t   : 0,\nflag_p   : 1,\nflag_r   : 0,\nflag_s   : 0,\nflag_b   : 0,\nflag_rv  : 0,\n"
      "flag_sh  : 0,\nflag_rs  : 0,\nflag_pw  : 1,\nflag_c   : 2,\n";
  const std::string rest =
      "priority : 3,\nstatus   : 300,\nwm_chan.id   : 12,\nwm_chan.freq : 118.5000,\n"
      "wm_chan.squelsh : 7,\nwm_chan.rte     : 9,\n";
  EXPECT_EQ(printed(rec, 2), "type      : WM_CHAN,\n" + flags + rest);
  EXPECT_EQ(printed(rec, 1), "type      : 0x00000084,\n" + flags + rest);
  EXPECT_EQ(printed(rec, 0), flags + rest);
  EXPECT_EQ(printed(rec, 4), flags);

  rec = record(WM_SEL_CALL_TRANS);
  sig_proto_set_wm_selcall_transmite(&rec, address("10.1.2.3"), 258, "AZ", 2);
  EXPECT_NE(printed(rec, 0).find("priority : 0,\nstatus   : 0,\n"
                                 "wm_sel_call_trans.session_addr : 10.1.2.3,\n"
                                 "wm_sel_call_trans.ssrc         : 0x00000102,\n"
                                 "wm_sel_call_trans.callerID_length: 2,\n"
                                 "wm_sel_call_trans.callerID : \n[0] : 0x41,\n[1] : 0x5A,\n"),
            std::string::npos);
  rec = record(WM_RADIO_QUALITY);
  sig_proto_set_wm_radio_quality(&rec, 0.5f);
  EXPECT_NE(printed(rec, 0).find("wm_radio_quality.radio_quality : 0.50000,\n"), std::string::npos);

  rec = record(0);  // type 0 has the base printer, but no name
  EXPECT_EQ(printed(rec, 2).substr(0, 22), "type      : 0x00000000");
  rec = record(14);
  char buf[16];
  EXPECT_EQ(sprintf_sig_proto(buf, sizeof buf, &rec, 1), 0);
  EXPECT_EQ(sprintf_sig_proto(nullptr, 16, &rec, 1), 0);
  EXPECT_EQ(sprintf_sig_proto(buf, 0, &rec, 1), 0);
}

TEST(SigProto, PrintersStopAtTheEndOfTheBuffer) {
  sig_proto rec = record(GW_SEL_CALL);
  const std::string id(255, 'k');
  sig_proto_set_gw_selcall(&rec, id.c_str(), 255);
  const std::string whole = printed(rec, 2);
  ASSERT_GT(whole.size(), 3000u);
  for (long size : {1L, 2L, 17L, 18L, 1000L}) {
    std::vector<char> buf(static_cast<std::size_t>(size) + 8, 'x');
    const int n = sprintf_sig_proto(buf.data(), size, &rec, 2);
    ASSERT_EQ(n, size - 1) << size;
    EXPECT_EQ(std::string(buf.data(), static_cast<std::size_t>(n)), whole.substr(0, static_cast<std::size_t>(n)));
    EXPECT_EQ(buf[static_cast<std::size_t>(n)], '\0');
    EXPECT_EQ(buf[static_cast<std::size_t>(size)], 'x') << size;  // nothing past the size
  }
}

TEST(SigProto, RecordComparisonsFollowThePrintedText) {
  sig_proto a = record(WM_CHAN), b = record(WM_CHAN);
  sig_proto_set_wm_chan(&a, 1, 2.0f, 3, 4);
  b = a;
  b.source_ssrc = 77;  // not printed
  EXPECT_EQ(cmp_sig_proto(&a, &b), 0);
  b.wm_chan.rte = 5;
  EXPECT_GT(cmp_sig_proto(&a, &b), 0);
  EXPECT_LT(cmp_sig_proto(&b, &a), 0);
  EXPECT_EQ(cmp_sig_proto_flags(&a, &b), 0);  // flags only
  b.priority = 12;
  EXPECT_EQ(cmp_sig_proto_flags(&a, &b), 0);
  b.flag_s = 1;
  EXPECT_NE(cmp_sig_proto_flags(&a, &b), 0);
  b = a;
  b.wm_chan.id = 100;  // a longer text: the length difference
  EXPECT_EQ(cmp_sig_proto(&a, &b), 2);
  EXPECT_EQ(cmp_sig_proto(&a, nullptr), -1);
  EXPECT_EQ(cmp_sig_proto_flags(nullptr, &b), -1);
}

TEST(SigProto, QueueStartsWithItsSeventeenTypes) {
  static sig_proto_queue queue;
  std::memset(&queue, 0x5A, sizeof queue);
  EXPECT_EQ(init_sig_proto_queue(&queue), 0);
  std::vector<std::uint32_t> types;
  for (const sig_proto& rec : queue.records) types.push_back(rec.type);
  std::vector<std::uint32_t> expect = {1, 3, 4, 5, 6, 7, 8, 2, 9, 10, 13, 129, 130, 132, 131, 133, 135};
  expect.resize(32, 0xFFFFFFFFu);
  EXPECT_EQ(types, expect);
  EXPECT_EQ(queue.records[31].status, 0u);
  EXPECT_EQ(queue.reserved[127], 0);
}

}  // namespace
