#include "radio/r2s_proto.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;

// Packs into a buffer of the given size, pre-filled with a marker so that
// bytes the writer should have zeroed stand out; returns the whole buffer.
Bytes packInto(const r2s_proto& rec, int size, int* result) {
  Bytes buf(static_cast<std::size_t>(size) + 4, 0xEE);
  *result = r2s_proto_pack(&rec, buf.data(), size);
  return buf;
}

Bytes packed(const r2s_proto& rec) {
  int n = 0;
  Bytes buf = packInto(rec, 1024, &n);
  EXPECT_GT(n, 0);
  buf.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
  return buf;
}

r2s_proto rxRecord() {
  r2s_proto rec;
  r2s_proto_init(&rec, r2s_proto_type_rx);
  r2s_proto_set_rx_header(&rec, 1, 1, 5, 0, 0, 0);
  return rec;
}

TEST(R2sProto, RxHeaderAloneAndWithSqiPackToTheKnownPayloads) {
  r2s_proto rec = rxRecord();
  int n = 0;
  Bytes buf = packInto(rec, 16, &n);
  EXPECT_EQ(n, 4);
  EXPECT_EQ(Bytes(buf.begin(), buf.begin() + 16), (Bytes{0x31, 0x40, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(buf[16], 0xEE);  // nothing past the size

  r2s_proto_add_rx_sqi(&rec, 3, 2);
  EXPECT_EQ(packed(rec), (Bytes{0x31, 0x41, 0x11, 0x1A}));
  buf = packInto(rec, 3, &n);
  EXPECT_EQ(n, r2s_proto_too_short);
  EXPECT_EQ(buf[3], 0xEE);
}

TEST(R2sProto, PackRefusesWhatItCannotCodeAndBuffersTooShortForTheHeader) {
  r2s_proto rec;
  r2s_proto_init(&rec, r2s_proto_type_tx);
  unsigned char buf[8];
  EXPECT_EQ(r2s_proto_pack(&rec, buf, 1), r2s_proto_too_short);
  EXPECT_EQ(r2s_proto_pack(&rec, buf, 3), r2s_proto_too_short);  // no room for the two zero bytes
  EXPECT_EQ(r2s_proto_pack(&rec, buf, -5), r2s_proto_too_short);
  EXPECT_EQ(r2s_proto_pack(&rec, nullptr, 8), 0);
  EXPECT_EQ(r2s_proto_pack(nullptr, buf, 8), r2s_proto_missing);
  r2s_proto_set_type(&rec, r2s_proto_type_empty);
  EXPECT_EQ(r2s_proto_pack(&rec, buf, 8), r2s_proto_uncodable);
  r2s_proto_set_type(&rec, 3);
  EXPECT_EQ(r2s_proto_pack(&rec, buf, 8), r2s_proto_uncodable);

  rec = rxRecord();
  r2s_proto_rx_additional_rrc rrc = {};
  rrc.form = 2;
  r2s_proto_add_rx_rrc(&rec, &rrc);
  EXPECT_EQ(r2s_proto_pack(&rec, buf, 8), r2s_proto_uncodable);
}

TEST(R2sProto, EveryHeaderFieldIsMaskedToItsWidthAndLeavesItsNeighboursAlone) {
  r2s_proto rec;
  r2s_proto_init(&rec, r2s_proto_type_rx);
  // Each value one bit wider than its field, the field itself 0.
  r2s_proto_set_rx_header(&rec, 8, 2, 64, 2, 2, 2);
  EXPECT_EQ(packed(rec), (Bytes{0x00, 0x00, 0, 0}));
  r2s_proto_set_rx_header(&rec, 0xFFFFFFFFul, 0xFFFFFFFFul, 0xFFFFFFFFul, 0xFFFFFFFFul, 0xFFFFFFFFul, 0xFFFFFFFFul);
  EXPECT_EQ(packed(rec), (Bytes{0xFF, 0xF8, 0, 0}));  // reserved bits and X stay 0
  r2s_proto_set_tx_header(&rec, 0xFFFFFFFFul, 0xFFFFFFFFul, 0xFFFFFFFFul, 0xFFFFFFFFul);
  EXPECT_EQ(packed(rec), (Bytes{0xEF, 0xF0, 0, 0}));  // no SQU, no SCT in tx
  r2s_proto_set_tx_header(&rec, 4, 0x21, 1, 0);
  EXPECT_EQ(packed(rec), (Bytes{0x88, 0x60, 0, 0}));
}

TEST(R2sProto, EntriesOfTheOtherDirectionAreCarriedButNotPacked) {
  r2s_proto rec = rxRecord();
  r2s_proto_tx_additional_climax_time_delay delay = {7};
  r2s_proto_add_tx_time_delay(&rec, &delay);
  EXPECT_EQ(packed(rec), (Bytes{0x31, 0x41}));  // X set, no block: readers accept it
  r2s_proto_add_rx_sqi(&rec, 1, 1);
  EXPECT_EQ(packed(rec), (Bytes{0x31, 0x41, 0x11, 0x09}));

  r2s_proto_init(&rec, r2s_proto_type_tx);
  r2s_proto_add_rx_sqi(&rec, 1, 1);
  r2s_proto_tx_additional_rrc rrc = {1, 0, 1, 0, 0, 1, 0, 1};
  r2s_proto_add_tx_rrc(&rec, &rrc);
  EXPECT_EQ(packed(rec), (Bytes{0x00, 0x01, 0x31, 0xA5}));
}

TEST(R2sProto, BlocksThatDoNotFitStopThePackerAfterTheOnesThatDo) {
  r2s_proto rec;
  r2s_proto_init(&rec, r2s_proto_type_tx);
  r2s_proto_tx_additional_climax_time_delay delay = {9};
  r2s_proto_add_tx_time_delay(&rec, &delay);
  r2s_proto_tx_additional_rrm rrm = {1, 0x12345};
  r2s_proto_add_tx_rrm(&rec, &rrm);
  int n = 0;
  Bytes buf = packInto(rec, 8, &n);
  EXPECT_EQ(n, 8);
  buf = packInto(rec, 7, &n);
  EXPECT_EQ(n, r2s_proto_too_short);
  EXPECT_EQ(Bytes(buf.begin(), buf.begin() + 8), (Bytes{0x00, 0x01, 0x21, 0x09, 0, 0, 0, 0xEE}));

  rec = rxRecord();
  r2s_proto_rx_additional_mam mam = {};
  r2s_proto_add_rx_mam(&rec, &mam);
  EXPECT_EQ(packInto(rec, 15, &n).size(), 19u);
  EXPECT_EQ(n, 15);
  packInto(rec, 14, &n);
  EXPECT_EQ(n, r2s_proto_too_short);
  // A short RRC block reserves the room of the long form.
  rec = rxRecord();
  r2s_proto_rx_additional_rrc rrc = {};
  r2s_proto_add_rx_rrc(&rec, &rrc);
  packInto(rec, 7, &n);
  EXPECT_EQ(n, 4);
  packInto(rec, 6, &n);
  EXPECT_EQ(n, r2s_proto_too_short);
}

TEST(R2sProto, BuildersStopAtSixteenEntriesAndClearWhatAnEarlierEntryLeft) {
  r2s_proto rec = rxRecord();
  r2s_proto_rx_additional_rrc rrc = {1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 0xAA, 0xBB};
  for (int i = 0; i < 16; ++i) r2s_proto_add_rx_rrc(&rec, &rrc);
  r2s_proto before;
  std::memcpy(&before, &rec, sizeof rec);
  EXPECT_EQ(r2s_proto_add_rx_sqi(&rec, 1, 2), 0);
  EXPECT_EQ(r2s_proto_add_rx_rrc(&rec, nullptr), 0);
  EXPECT_EQ(std::memcmp(&before, &rec, sizeof rec), 0);
  EXPECT_EQ(rec.additionals_count, 16u);

  r2s_proto_reset_additionals(&rec);
  r2s_proto_add_rx_sqi(&rec, 4, 5);
  EXPECT_EQ(rec.additionals_count, 1u);
  EXPECT_EQ(rec.additionals[0].kind, r2s_proto_rx_sqi);
  EXPECT_EQ(rec.additionals[0].rx_sqi.first, 4u);
  EXPECT_EQ(rec.additionals[0].rx_sqi.second, 5u);
  for (int w = 2; w < 13; ++w) EXPECT_EQ(rec.additionals[0].values[w], 0u) << "word " << w;

  EXPECT_EQ(r2s_proto_add_rx_sqi(nullptr, 1, 2), 0);
  EXPECT_EQ(r2s_proto_init(nullptr, 1), 0);
}

TEST(R2sProto, ACountPastTheTableIsBoundedByIt) {
  r2s_proto rec = rxRecord();
  for (int i = 0; i < 16; ++i) r2s_proto_add_rx_sqi(&rec, static_cast<unsigned long>(i), 0);
  rec.additionals_count = 1000;
  const Bytes out = packed(rec);
  ASSERT_EQ(out.size(), 2u + 16 * 2);
  EXPECT_EQ(out[32], 0x11);
  EXPECT_EQ(out[33], 15 << 3);
}

TEST(R2sProto, HeaderOnlyPayloadsUnpack) {
  r2s_proto rec;
  r2s_proto_init(&rec, r2s_proto_type_empty);
  const unsigned char plain[] = {0x31, 0x40};
  EXPECT_EQ(r2s_proto_unpack_rx(&rec, plain, sizeof plain), 0);
  EXPECT_EQ(rec.type, r2s_proto_type_rx);
  EXPECT_EQ(rec.rx.ptt_type, 1u);
  EXPECT_EQ(rec.rx.squ, 1u);
  EXPECT_EQ(rec.rx.ptt_id, 5u);
  EXPECT_EQ(rec.rx.ptt_mute + rec.rx.ptt_summation + rec.rx.sct, 0u);
  EXPECT_EQ(rec.additionals_count, 0u);

  // X set but nothing behind it; bytes behind a header without X ignored.
  const unsigned char bare[] = {0x31, 0x41};
  EXPECT_EQ(r2s_proto_unpack_rx(&rec, bare, sizeof bare), 0);
  EXPECT_EQ(rec.additionals_count, 0u);
  const unsigned char ignored[] = {0x31, 0x40, 0x11, 0x1A};
  EXPECT_EQ(r2s_proto_unpack_rx(&rec, ignored, sizeof ignored), 0);
  EXPECT_EQ(rec.additionals_count, 0u);

  const unsigned char tx[] = {0xEF, 0xF8};  // SQU and SCT bits mean nothing in tx
  EXPECT_EQ(r2s_proto_unpack_tx(&rec, tx, sizeof tx), 0);
  EXPECT_EQ(rec.type, r2s_proto_type_tx);
  EXPECT_EQ(rec.tx.ptt_type, 7u);
  EXPECT_EQ(rec.tx.ptt_id, 63u);
  EXPECT_EQ(rec.tx.ptt_mute, 1u);
  EXPECT_EQ(rec.tx.ptt_summation, 1u);

  EXPECT_EQ(r2s_proto_unpack_rx(&rec, plain, 1), r2s_proto_too_short);
  EXPECT_EQ(r2s_proto_unpack_tx(&rec, plain, 0), r2s_proto_too_short);
  EXPECT_EQ(r2s_proto_unpack_rx(&rec, nullptr, 2), r2s_proto_missing);
  EXPECT_EQ(r2s_proto_unpack_tx(nullptr, plain, 2), r2s_proto_missing);
}

TEST(R2sProto, UnknownBlocksAndPaddingAreSkippedBetweenKnownOnes) {
  r2s_proto rec;
  r2s_proto_init(&rec, 0);
  // SQI, kind 5 length 2, zero padding, a CLIMAX block (tx only), MAM.
  const unsigned char rx[] = {0x31, 0x41, 0x11, 0x1A, 0x52, 0xFF, 0xFF, 0x00, 0x00, 0x21, 0x05, 0x4C,
                              0x80, 0x00, 0x0A, 0x00, 0x00, 0x14, 0x00, 0x01, 0x00, 0x02, 0x00, 0x03};
  ASSERT_EQ(r2s_proto_unpack_rx(&rec, rx, sizeof rx), 0);
  ASSERT_EQ(rec.additionals_count, 2u);
  EXPECT_EQ(rec.additionals[0].kind, r2s_proto_rx_sqi);
  EXPECT_EQ(rec.additionals[0].rx_sqi.first, 3u);
  EXPECT_EQ(rec.additionals[0].rx_sqi.second, 2u);
  const r2s_proto_rx_additional_mam& m = rec.additionals[1].rx_mam;
  EXPECT_EQ(rec.additionals[1].kind, r2s_proto_rx_mam);
  EXPECT_EQ((std::vector<std::uint32_t>{m.m0, m.m1, m.m2, m.m3, m.m4, m.m5, m.m6}),
            (std::vector<std::uint32_t>{1, 10, 0, 20, 1, 2, 3}));

  // The same kinds with lengths the direction does not know are skipped too.
  const unsigned char odd[] = {0x31, 0x41, 0x12, 0x1A, 0x1A, 0x32, 0xA5, 0x00, 0x31, 0xA5};
  ASSERT_EQ(r2s_proto_unpack_rx(&rec, odd, sizeof odd), 0);
  ASSERT_EQ(rec.additionals_count, 1u);
  EXPECT_EQ(rec.additionals[0].kind, r2s_proto_rx_rrc);

  // In tx, an SQI block is unknown; CLIMAX, RRC and RRM are read.
  const unsigned char tx[] = {0x20, 0x01, 0x11, 0x1A, 0x21, 0x8A, 0x31, 0x5A, 0x43, 0x81, 0x23, 0x45};
  ASSERT_EQ(r2s_proto_unpack_tx(&rec, tx, sizeof tx), 0);
  ASSERT_EQ(rec.additionals_count, 3u);
  EXPECT_EQ(rec.additionals[0].kind, r2s_proto_tx_climax_time_delay);
  EXPECT_EQ(rec.additionals[0].tx_time_delay.d, 0x8Au);
  const r2s_proto_tx_additional_rrc& f = rec.additionals[1].tx_rrc;
  EXPECT_EQ((std::vector<std::uint32_t>{f.f0, f.f1, f.f2, f.f3, f.f4, f.f5, f.f6, f.f7}),
            (std::vector<std::uint32_t>{0, 1, 0, 1, 1, 0, 1, 0}));
  EXPECT_EQ(rec.additionals[2].tx_rrm.r0, 1u);
  EXPECT_EQ(rec.additionals[2].tx_rrm.r1, 0x012345u);
}

TEST(R2sProto, RrcReadsItsFormFromTheBlockLength) {
  r2s_proto rec;
  r2s_proto_init(&rec, 0);
  const unsigned char rx[] = {0x31, 0x41, 0x34, 0xA5, 0xFF, 0x11, 0x22, 0x31, 0x5A};
  ASSERT_EQ(r2s_proto_unpack_rx(&rec, rx, sizeof rx), 0);
  ASSERT_EQ(rec.additionals_count, 2u);
  const r2s_proto_rx_additional_rrc& a = rec.additionals[0].rx_rrc;
  EXPECT_EQ(
      (std::vector<std::uint32_t>{a.f0, a.f1, a.f2, a.f3, a.f4, a.f5, a.f6, a.f7, a.form, a.e0, a.e1, a.b0, a.b1}),
      (std::vector<std::uint32_t>{1, 0, 1, 0, 0, 1, 0, 1, 1, 1, 1, 0x11, 0x22}));
  const r2s_proto_rx_additional_rrc& b = rec.additionals[1].rx_rrc;
  EXPECT_EQ((std::vector<std::uint32_t>{b.f0, b.f7, b.form, b.e0, b.e1, b.b0, b.b1}),
            (std::vector<std::uint32_t>{0, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(b.f1 + b.f3 + b.f4 + b.f6, 4u);
}

TEST(R2sProto, ABlockRunningPastTheEndKeepsTheEntriesBeforeIt) {
  r2s_proto rec;
  r2s_proto_init(&rec, 0);
  const unsigned char rx[] = {0x31, 0x41, 0x11, 0x1A, 0x31, 0xA5, 0x4C, 0x80, 0x00};
  EXPECT_EQ(r2s_proto_unpack_rx(&rec, rx, sizeof rx), r2s_proto_too_short);
  EXPECT_EQ(rec.additionals_count, 2u);
  EXPECT_EQ(rec.rx.ptt_id, 5u);
  // An unknown block is length-checked the same way.
  const unsigned char unknown[] = {0x31, 0x41, 0x11, 0x1A, 0xF3, 0x00, 0x00};
  EXPECT_EQ(r2s_proto_unpack_rx(&rec, unknown, sizeof unknown), r2s_proto_too_short);
  EXPECT_EQ(rec.additionals_count, 1u);
}

TEST(R2sProto, ReadingStopsAfterSixteenEntries) {
  Bytes rx = {0x31, 0x41};
  for (int i = 0; i < 17; ++i) {
    rx.push_back(0x11);
    rx.push_back(static_cast<unsigned char>(i << 3));
  }
  rx.push_back(0x4C);  // would run past the end, but is never reached
  r2s_proto rec;
  r2s_proto_init(&rec, 0);
  EXPECT_EQ(r2s_proto_unpack_rx(&rec, rx.data(), static_cast<int>(rx.size())), 0);
  EXPECT_EQ(rec.additionals_count, 16u);
  EXPECT_EQ(rec.additionals[15].rx_sqi.first, 15u);
}

TEST(R2sProto, SourceComparisonSeesTypeSsrcAndAddress) {
  r2s_proto a, b;
  r2s_proto_init(&a, r2s_proto_type_tx);
  r2s_proto_init(&b, r2s_proto_type_tx);
  a.source_ssrc = b.source_ssrc = 0x11223344;
  a.source_addr = b.source_addr = 0x0A000001;
  b.tx.ptt_type = 3;  // the header is not the source
  EXPECT_EQ(cmp_r2s_proto_source(&a, &b), 0);
  b.source_addr = 0x0A000003;
  EXPECT_EQ(cmp_r2s_proto_source(&a, &b), 2);
  b.source_ssrc = 0x11223340;
  EXPECT_EQ(cmp_r2s_proto_source(&a, &b), -4);
  b.source_ssrc = 0x91223344;  // a 32-bit difference, not a truncated one
  EXPECT_NE(cmp_r2s_proto_source(&a, &b), 0);
  b.source_ssrc = a.source_ssrc;
  b.source_addr = a.source_addr;
  b.type = static_cast<std::uint32_t>(r2s_proto_type_rx);
  EXPECT_EQ(cmp_r2s_proto_source(&a, &b), 1);
  EXPECT_EQ(cmp_r2s_proto_source(&a, nullptr), -1);
  EXPECT_EQ(cmp_r2s_proto_source(nullptr, &b), -1);
}

}  // namespace
