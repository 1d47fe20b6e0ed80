// The Q.931 trace text: golden transcripts of whole frames, and the bounds
// (never a read past the frame, never a write past the buffer).
#include "links/isdn/q931_trace.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;

// The frame in a heap block of its own size, so that a read past it is
// caught by the sanitizer build.
std::string decode(const Bytes& frame, int direction = 0, std::size_t size = ISDN::logbuf_size) {
  std::vector<unsigned char> exact(frame);
  std::vector<char> out(size, '#');
  ISDN::dlogframe(exact.empty() ? nullptr : exact.data(), static_cast<unsigned>(exact.size()), direction, out.data(),
                  out.size());
  return std::string(out.data(), strnlen(out.data(), out.size()));
}

TEST(Q931Trace, BroadcastSetupOfBasicAccess) {
  EXPECT_EQ(decode({0x02, 0xFF, 0x03, 0x08, 0x01, 0x81, 0x05, 0x04, 0x03, 0x80, 0x90, 0xA2}, 1),
            " 02 FF 03 08 01 81 05 04 03 80 90 A2\n"
            "frame network->user broadcast\n"
            "callref 1 called size 9 message type SETUP\n"
            "  Bearer capability\n"
            "    octet 3  10000000\n"
            "    octet 4  10010000\n"
            "    octet 5  10100010\n");
}

TEST(Q931Trace, TwoOctetCallReferenceOfPrimaryRate) {
  // DISCONNECT, call reference 0x0123 from the originating side, cause 16.
  EXPECT_EQ(decode({0x00, 0x01, 0x02, 0x02, 0x08, 0x02, 0x01, 0x23, 0x45, 0x08, 0x02, 0x80, 0x90}),
            " 00 01 02 02 08 02 01 23 45 08 02 80 90\n"
            "frame user->network IFrame tei = 0\n"
            "callref 291 caller (2 octets) size 9 message type DISCONNECT\n"
            "  Cause\n"
            "    coding 00 location 0000\n"
            "  cause value 10 : Normal call clearing \n");
  // The flag is the first octet's bit 8, not part of the value.
  EXPECT_NE(decode({0x02, 0x01, 0x02, 0x02, 0x08, 0x02, 0x80, 0x05, 0x5A}).find("callref 5 called (2 octets) size 5 "
                                                                                "message type RELEASE COMPLETE\n"),
            std::string::npos);
  // The dummy call reference has no octet.
  EXPECT_NE(decode({0x00, 0x01, 0x02, 0x02, 0x08, 0x00, 0x62}).find("callref 0 caller (0 octets) size 3 message "
                                                                    "type FACILITY\n"),
            std::string::npos);
}

TEST(Q931Trace, ShortFramesLeaveAFreshTextNeverAnOldOne) {
  char buf[64];
  const unsigned char setup[] = {0x02, 0xFF, 0x03, 0x08, 0x01, 0x81, 0x05};
  ISDN::dlogframe(setup, sizeof setup, 1, buf, sizeof buf);
  const unsigned char two[] = {0x00, 0x01};
  ISDN::dlogframe(two, 2, 1, buf, sizeof buf);
  EXPECT_STREQ(buf, " 00 01\nframe too short\n");
  ISDN::dlogframe(nullptr, 0, 1, buf, sizeof buf);
  EXPECT_STREQ(buf, "\nframe too short\n");
  // An I frame without information, a message cut before its type.
  EXPECT_EQ(decode({0x00, 0x01, 0x00, 0x00}), " 00 01 00 00\nframe user->network IFrame tei = 0\nframe too short\n");
  EXPECT_EQ(decode({0x00, 0x01, 0x00, 0x00, 0x08, 0x02, 0x00}),
            " 00 01 00 00 08 02 00\nframe user->network IFrame tei = 0\nframe too short\n");
}

TEST(Q931Trace, HeaderClasses) {
  EXPECT_EQ(decode({0x00, 0x01, 0x01, 0x05}), " 00 01 01 05\nframe user->network SFrame tei = 0 (01 05 )\n");
  EXPECT_EQ(decode({0xFC, 0xFF, 0x03, 0x0F, 0x12, 0x34, 0x01, 0xFF}),
            " FC FF 03 0F 12 34 01 FF\nframe user->network tei management:\n");
  EXPECT_EQ(decode({0x04, 0xFF, 0x03}), " 04 FF 03\nframe user->network unknown sapi 1 broadcast\n");
  EXPECT_EQ(decode({0x02, 0xFF, 0x7F}), " 02 FF 7F\nframe user->network no UI broadcast\n");
  EXPECT_EQ(decode({0x40, 0x81, 0x00, 0x00}), " 40 81 00 00\nframe user->network unknown sapi = 16; tei = 64\n");
  EXPECT_EQ(decode({0x00, 0x01, 0x00, 0x00, 0x41}),
            " 00 01 00 00 41\nframe user->network IFrame tei = 0\nUnknown protocol 41!");
}

TEST(Q931Trace, UnknownTypesElementsAndSingleOctets) {
  EXPECT_EQ(decode({0x00, 0x01, 0x00, 0x00, 0x08, 0x01, 0x01, 0x99, 0x50, 0x02, 0x01, 0x02, 0xA1, 0xA0, 0xA5,
                    0x96, 0xB3, 0xD2, 0xE7}),
            " 00 01 00 00 08 01 01 99 50 02 01 02 A1 A0 A5 96 B3 D2 E7\n"
            "frame user->network IFrame tei = 0\n"
            "callref 1 caller size 15 unknown message type 99!\n"
            "  attribute 50 attribute size 2\n"
            "  Sending complete\n"
            "  More data\n"
            "  Shift 6\n"
            "  Congestion level 3\n"
            "  Repeat indicator 2\n"
            "  Reserved e7\n");
}

TEST(Q931Trace, ElementPrinters) {
  // SETUP: calling number with octet 3a, called number, channel, display
  // with a control character, a facility, general octet groups.
  EXPECT_EQ(decode({0x02, 0x01, 0x00, 0x00, 0x08, 0x01, 0x81, 0x05,  //
                    0x6C, 0x04, 0x01, 0x80, 0x31, 0x32,              // calling
                    0x70, 0x03, 0x81, 0x33, 0x34,                    // called
                    0x18, 0x01, 0x89,                                // channel
                    0x28, 0x03, 0x41, 0x07, 0x42,                    // display
                    0x1C, 0x05, 0x91, 0xA1, 0x02, 0x02, 0x01,        // facility
                    0x7C, 0x03, 0x08, 0x09, 0x81},                   // low layer compatibility
                   1),
            " 02 01 00 00 08 01 81 05 6C 04 01 80 31 32 70 03 81 33 34 18 01 89 28 03 41 07 42 1C 05 91 A1 02 02 "
            "01 7C 03 08 09 81\n"
            "frame network->user IFrame tei = 0\n"
            "callref 1 called size 35 message type SETUP\n"
            "  Calling party number\n"
            "    octet 3 00000001\n"
            "    octet 3a 10000000\n"
            "    number digits 12\n"
            "  Called party number\n"
            "    octet 3 10000001\n"
            "    number digits 34\n"
            "  Channel identification\n"
            "    octet 3 10001001\n"
            "  Display\n"
            "   \"A.B\"\n"
            "  Facility\n"
            "    octet 3 10010001\n"
            "   octet 4 10100001\n"
            "   octet 5 2\n"
            "   contents  2  1 \n"
            "  Low layer compatibility\n"
            "    octet 3  00001000\n"
            "    octet 3a 00001001\n"
            "    octet 3b 10000001\n");
}

TEST(Q931Trace, CauseAndBearerDetails) {
  // Cause with octet 3a, an unknown value and diagnostics; bearer with a
  // multirate octet 4.1 and layer 1, 2 and 3 octets.
  EXPECT_EQ(decode({0x00, 0x01, 0x00, 0x00, 0x08, 0x01, 0x01, 0x45,  //
                    0x08, 0x06, 0x02, 0x81, 0xFD, 0x83, 0x04, 0x85,  // cause
                    0x04, 0x06, 0x88, 0x18, 0x81, 0xA1, 0x42, 0x66}),
            " 00 01 00 00 08 01 01 45 08 06 02 81 FD 83 04 85 04 06 88 18 81 A1 42 66\n"
            "frame user->network IFrame tei = 0\n"
            "callref 1 caller size 20 message type DISCONNECT\n"
            "  Cause\n"
            "    coding 00 location 0010\n"
            "Unknown cause type 7d!\n"
            "    diag attribute 3  rej 4  av 5\n"
            "  Bearer capability\n"
            "    octet 3  10001000\n"
            "    octet 4  00011000\n"
            "    octet 4.1 10000001\n"
            "    octet 5  10100001\n"
            "    octet 6  01000010\n"
            "    octet 7  01100110\n");
}

TEST(Q931Trace, ElementCutByTheEndOfTheFrame) {
  // The cause announces 9 octets and the frame holds 2 of them.
  EXPECT_EQ(decode({0x00, 0x01, 0x00, 0x00, 0x08, 0x01, 0x01, 0x45, 0x08, 0x09, 0x80, 0x90}),
            " 00 01 00 00 08 01 01 45 08 09 80 90\n"
            "frame user->network IFrame tei = 0\n"
            "callref 1 caller size 8 message type DISCONNECT\n"
            "  Cause\n"
            "    coding 00 location 0000\n"
            "  cause value 10 : Normal call clearing \n"
            "  (element cut by the end of the frame)\n");
  // An identifier with no length octet.
  EXPECT_EQ(decode({0x00, 0x01, 0x00, 0x00, 0x08, 0x01, 0x01, 0x45, 0x1C}),
            " 00 01 00 00 08 01 01 45 1C\n"
            "frame user->network IFrame tei = 0\n"
            "callref 1 caller size 5 message type DISCONNECT\n"
            "  Facility\n"
            "  (element cut by the end of the frame)\n");
}

TEST(Q931Trace, LongFramesNeverOverrunTheBuffer) {
  // 600 octets of a SETUP full of displays: far more text than fits.
  Bytes frame = {0x00, 0x01, 0x00, 0x00, 0x08, 0x01, 0x01, 0x05};
  while (frame.size() + 10 <= 600) {
    const Bytes display = {0x28, 0x08, 'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h'};
    frame.insert(frame.end(), display.begin(), display.end());
  }
  for (std::size_t size : {std::size_t(1), std::size_t(4), std::size_t(5), std::size_t(40), ISDN::logbuf_size}) {
    std::vector<char> out(size + 8, '#');
    ISDN::dlogframe(frame.data(), static_cast<unsigned>(frame.size()), 0, out.data(), size);
    const std::string text(out.data(), strnlen(out.data(), size));
    EXPECT_LT(text.size(), size) << size;
    for (std::size_t i = size; i < out.size(); ++i) ASSERT_EQ(out[i], '#') << "written past " << size;
    if (size >= 5) {
      EXPECT_EQ(text.substr(text.size() - 4), "...\n") << size;
    }
  }
  // The hex line is cut short, so the message itself still shows.
  const std::string text = decode(frame);
  EXPECT_NE(text.find(" ... (598 octets)\n"), std::string::npos);
  EXPECT_NE(text.find("message type SETUP\n  Display\n   \"abcdefgh\"\n"), std::string::npos);
}

}  // namespace
