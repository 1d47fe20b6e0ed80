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
  // The dummy call reference has no octet, and prints as call reference 0
  // with no length.
  EXPECT_EQ(decode({0x00, 0x01, 0x02, 0x02, 0x08, 0x00, 0x62}),
            " 00 01 02 02 08 00 62\n"
            "frame user->network IFrame tei = 0\n"
            "callref 0 caller size 3 message type FACILITY\n");
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

// An element printer's text, the element in a heap block of its own size.
using Printer = int (*)(char*, const unsigned char*, std::size_t);
std::string print(Printer p, const Bytes& element, std::size_t room = ISDN::logbuf_size) {
  std::vector<unsigned char> exact(element);
  std::vector<char> out(room + 8, '#');
  const int n = p(out.data(), exact.data(), room);
  for (std::size_t i = room; i < out.size(); ++i)
    if (out[i] != '#') ADD_FAILURE() << "written past " << room;
  const std::string text(out.data(), strnlen(out.data(), room));
  EXPECT_EQ(n, static_cast<int>(text.size()));
  return text;
}

// Each printer on its own writes what the frame's text shows for its
// element (the frames' texts are those tshark's dissection is compared
// with).
TEST(Q931Trace, PublicPrintersWriteTheFramesElementText) {
  const Bytes header = {0x00, 0x01, 0x00, 0x00, 0x08, 0x01, 0x01, 0x05};
  const struct {
    Printer p;
    Bytes element;
  } cases[] = {
      {ISDN::general, {0x7C, 0x03, 0x08, 0x09, 0x81}},
      {ISDN::prbearer, {0x04, 0x06, 0x88, 0x18, 0x81, 0xA1, 0x42, 0x66}},
      {ISDN::prcause, {0x08, 0x06, 0x02, 0x81, 0xFD, 0x83, 0x04, 0x85}},
      {ISDN::prcause, {0x08, 0x02, 0x80, 0x90}},
      {ISDN::prchident, {0x18, 0x03, 0xA9, 0x83, 0x81}},
      {ISDN::prfacility, {0x1C, 0x05, 0x91, 0xA1, 0x02, 0x02, 0x01}},
      {ISDN::display, {0x28, 0x04, 0x54, 0x65, 0x73, 0x74}},
      {ISDN::prcalling, {0x6C, 0x06, 0x00, 0x80, 0x31, 0x32, 0x33, 0x34}},
      {ISDN::prcalled, {0x70, 0x04, 0x81, 0x35, 0x36, 0x37}},
  };
  for (const auto& c : cases) {
    Bytes frame = header;
    frame.insert(frame.end(), c.element.begin(), c.element.end());
    const std::string whole = decode(frame);
    const std::string mine = print(c.p, c.element);
    ASSERT_FALSE(mine.empty());
    // The frame's text: the element's name line, then the printer's lines.
    const std::size_t name_end = whole.find('\n', whole.find("message type SETUP\n") + 19);
    EXPECT_EQ(whole.substr(name_end + 1), mine) << whole;
  }
  // A printer's text is cut to its room like a frame's.
  const std::string cut = print(ISDN::general, {0x7E, 0x06, 1, 2, 3, 4, 5, 6}, 40);
  EXPECT_EQ(cut.size(), 39u);
  EXPECT_EQ(cut.substr(35), "...\n");
}

TEST(Q931Trace, BitsAndExtensionGroups) {
  char out[9] = "########";
  const unsigned char octet = 0xA5;
  EXPECT_EQ(ISDN::printbits(out, &octet, 8, 8), 8);
  EXPECT_STREQ(out, "10100101");
  std::memset(out, '#', 8);
  EXPECT_EQ(ISDN::printbits(out, &octet, 6, 3), 3);
  EXPECT_EQ(std::string(out, 8), "100#####");  // bits 6, 5, 4; nothing else touched
  EXPECT_EQ(ISDN::printbits(out, &octet, 2, 4), 2);  // only bits 2 and 1 exist

  const unsigned char group[] = {0x01, 0x02, 0x83, 0x04};
  EXPECT_EQ(ISDN::skipext(group), group + 3);
  EXPECT_EQ(ISDN::skipext(group + 2), group + 3);
  EXPECT_EQ(ISDN::skipext(group, group + 2), group + 2);  // no end of group before end
  EXPECT_EQ(ISDN::skipext(group, group + 4), group + 3);
}

// The variants no trace selects: National ISDN-1 elements, 1TR6 causes and
// charging, tagged displays, the hex dump.
TEST(Q931Trace, OtherVariantsTablesAndPrinters) {
  EXPECT_EQ(print(ISDN::ni1_element, {0x3A, 0x05, '0', '1', '2', '3', '4'}),
            "  Service profile identification\n   \"01234\"\n");
  EXPECT_EQ(print(ISDN::ni1_element, {0x39, 0x02, 0x85, 0x03}), "  Feature indication\n    feature 5\n    status Pending\n");
  EXPECT_EQ(print(ISDN::ni1_element, {0x04, 0x02, 0x80, 0x90}),
            "  Bearer capability\n    octet 3  10000000\n    octet 4  10010000\n");
  EXPECT_EQ(print(ISDN::ni1_element, {0x1C, 0x01, 0x00}), "  attribute 1c attribute size 1\n");
  // A feature number with its extension octet; a status with no name.
  EXPECT_EQ(print(ISDN::prfeatureind, {0x39, 0x03, 0x01, 0x82, 0x07}), "    feature 130\n    status (Reserved)\n");
  EXPECT_EQ(print(ISDN::prbearer_ni1, {0x04, 0x03, 0x80, 0x90, 0xA2}),
            "    octet 3  10000000\n    octet 4  10010000\n    octet 5  10100010\n");

  EXPECT_EQ(ISDN::cause_1tr6_text(0x02), nullptr);
  EXPECT_EQ(print(ISDN::prcause_1tr6, {0x08, 0x00}), "  cause value 0 : Normal call clearing \n");
  EXPECT_EQ(print(ISDN::prcause_1tr6, {0x08, 0x02, 0xBB, 0x04}), "  cause value 3b : User busy \n    location 0100\n");
  EXPECT_EQ(print(ISDN::prcause_1tr6, {0x08, 0x01, 0x82}), "Unknown cause type 2!\n");
  EXPECT_EQ(print(ISDN::prcharge, {0x02, 0x03, 0x01, '1', '2'}), "    octet 3 00000001\n    units 12\n");

  EXPECT_EQ(ISDN::display_tag(0x97), nullptr);
  EXPECT_EQ(print(ISDN::disptext_tags, {0x28, 0x09, 0x8D, 0x03, 'B', 'o', 'b', 0x97, 0x01, 'x', 0x9E}),
            "    Calling party name: \"Bob\"\n    tag 97: \"x\"\n    Text: \"\"\n");
  EXPECT_EQ(print(ISDN::disptext_tags, {0x28, 0x02, 'h', 'i'}), "   \"hi\"\n");

  char hex[16];
  const unsigned char octets[] = {0x00, 0xAB, 0x7F};
  EXPECT_EQ(ISDN::QuickHex(hex, octets, 3, sizeof hex), 9);
  EXPECT_STREQ(hex, " 00 AB 7F");
  EXPECT_EQ(ISDN::QuickHex(hex, octets, 3, 6), 5);  // cut to its room
}

}  // namespace
