// The RTCP packets of the RTP slots, octet for octet, and the guarantee that
// matters most for a packet built into a caller's buffer: whatever the
// buffer's size, nothing is written past it and what is written is a
// complete packet (or nothing at all).
#include "slots/rtpc.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;

Bytes encode(const RTPC::Msg& msg, unsigned size = 1024) {
  std::vector<char> buf(size);
  const unsigned n = msg.encode(buf.data(), size);
  return Bytes(buf.begin(), buf.begin() + n);
}

Bytes bytes(const std::string& text) { return Bytes(text.begin(), text.end()); }
Bytes cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

const Bytes ssrc = {0x12, 0x34, 0x56, 0x78};

RTPC::SDES description() {
  RTPC::SDES sdes(0x12345678);
  sdes.add(RTPC::SDES::Item::CNAME, "gw");
  sdes.add(RTPC::SDES::Item::EMAIL, "noc@x.y");
  sdes.add(RTPC::SDES::Item::PHONE, "+1 2");
  return sdes;
}

TEST(Rtpc, ByeAndDescriptionAreWordAlignedWithTheirLengthInWordsMinusOne) {
  EXPECT_EQ(encode(RTPC::BYE(0x12345678, "session end")), cat({{0x81, 203, 0, 4}, ssrc, {11}, bytes("session end")}));
  EXPECT_EQ(encode(RTPC::BYE(0x12345678, "")), cat({{0x81, 203, 0, 1}, ssrc}));
  EXPECT_EQ(encode(RTPC::BYE(0x12345678, "bye")), cat({{0x81, 203, 0, 2}, ssrc, {3}, bytes("bye")}));
  // 4 + 4 + (2 + 2) + (2 + 7) + (2 + 4) + 1: 28, no padding.
  EXPECT_EQ(encode(description()),
            cat({{0x81, 202, 0, 6}, ssrc, {1, 2}, bytes("gw"), {3, 7}, bytes("noc@x.y"), {4, 4}, bytes("+1 2"), {0}}));
  // A text longer than an item can say is cut to 255 octets.
  RTPC::SDES longName(0x12345678);
  longName.add(RTPC::SDES::Item::CNAME, std::string(300, 'a'));
  const Bytes p = encode(longName);
  ASSERT_EQ(p.size(), 4u + 4 + 2 + 255 + 3);
  EXPECT_EQ(p[9], 255);
  EXPECT_EQ(p[8 + 2 + 255], 0);  // the end of the list
}

TEST(Rtpc, ADescriptionWithoutItemsStillEndsItsChunk) {
  EXPECT_EQ(encode(RTPC::SDES(0x12345678)), cat({{0x81, 202, 0, 2}, ssrc, {0, 0, 0, 0}}));
}

// Every buffer size from 0 to past the whole packet: no octet past the
// size is touched, and a non-empty result is one well-formed packet whose
// items are a prefix of the full packet's.
TEST(Rtpc, AnyBufferSizeGivesAWholePacketOrNothingAndNeverOverruns) {
  const RTPC::SDES sdes = description();
  const RTPC::BYE bye(0x12345678, "session end");
  for (const RTPC::Msg* msg : {static_cast<const RTPC::Msg*>(&sdes), static_cast<const RTPC::Msg*>(&bye)}) {
    const Bytes whole = encode(*msg);
    for (unsigned size = 0; size <= whole.size() + 4; ++size) {
      std::vector<char> buf(size + 8, '\x5A');
      const unsigned n = msg->encode(buf.data(), size);
      for (unsigned i = size; i < buf.size(); ++i) ASSERT_EQ(buf[i], '\x5A') << "size " << size;
      ASSERT_LE(n, size);
      if (size < 8) {
        EXPECT_EQ(n, 0u) << "size " << size;
      }
      if (n == 0) continue;
      const Bytes p(buf.begin(), buf.begin() + n);
      ASSERT_EQ(n % 4, 0u) << "size " << size;
      EXPECT_EQ((p[2] << 8 | p[3]) + 1u, n / 4) << "size " << size;
      if (msg == &sdes) {
        // The items that fit, then the null item and padding.
        std::size_t at = 8;
        while (at < n && p[at] != 0) {
          ASSERT_EQ(Bytes(p.begin() + 8, p.begin() + at + 2 + p[at + 1]),
                    Bytes(whole.begin() + 8, whole.begin() + at + 2 + p[at + 1]));
          at += 2 + p[at + 1];
        }
        ASSERT_LT(at, n) << "no end of list, size " << size;
        for (; at < n; ++at) EXPECT_EQ(p[at], 0) << "size " << size;
      } else {
        ASSERT_GE(n, 8u);
        if (n > 8) {
          EXPECT_LE(p[8] + 9u, n);  // the reason, cut, fits
        }
      }
    }
    EXPECT_EQ(encode(*msg, static_cast<unsigned>(whole.size())), whole);
  }
  // The smallest room for a description ends it without items; one item
  // short of room for the second stops there.
  EXPECT_EQ(encode(sdes, 12), cat({{0x81, 202, 0, 2}, ssrc, {0, 0, 0, 0}}));
  EXPECT_EQ(encode(sdes, 16), cat({{0x81, 202, 0, 3}, ssrc, {1, 2}, bytes("gw"), {0, 0, 0, 0}}));
}

}  // namespace
