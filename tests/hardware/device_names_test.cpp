#include "hardware/device_names.h"

#include <errno.h>
#include <gtest/gtest.h>

#include <cstring>
#include <sstream>
#include <string>

namespace {

TEST(DeviceNames, CodecNamesAreLookedUpAsUnsigned) {
  const struct { int codec; const char* name; } cases[] = {
      {0, "unknown"}, {2, "g723"}, {7, "g723-rtp"}, {8, "conf"}, {9, "invalid"}, {-1, "invalid"}};
  for (const auto& c : cases) EXPECT_STREQ(GetCodecAsStr(c.codec), c.name) << c.codec;
}

TEST(DeviceNames, RtpErrorTextsAndTheSharedBufferForUnknownCodes) {
  EXPECT_STREQ(RTPStrError(0), "No error");
  EXPECT_STREQ(RTPStrError(0x03000002), "Parameter out of range");
  EXPECT_STREQ(RTPStrError(0x0300010C), "Invalid port specified");
  EXPECT_STREQ(RTPStrError(0x03000122), "Don't send this packet now");
  const char* first = RTPStrError(0x0300010D);  // a gap in the table
  EXPECT_STREQ(first, "Unknown RTP Error 50331917");
  const char* second = RTPStrError(-1);
  EXPECT_EQ(first, second);
  EXPECT_STREQ(first, "Unknown RTP Error -1");
  EXPECT_STREQ(RTPStrError(0x03000123), "Unknown RTP Error 50331939");
}

TEST(DeviceNames, RtpErrKeepsTheErrnoOfItsConstruction) {
  errno = EBADF;
  RtpErr e(0x03000107);
  errno = 0;
  std::ostringstream s;
  e.Put(s);
  EXPECT_EQ(s.str(), std::strerror(EBADF));
  EXPECT_EQ(e.code(), 0x03000107);
}

TEST(DeviceNames, RecordPrinters) {
  rtp_connection_params c{};
  c.rx_pt = 8;
  c.tx_pt = 18;
  c.packet_factor = 2;
  c.ssrc = 4000000000u;
  std::ostringstream s;
  s << c;
  EXPECT_EQ(s.str(),
            "  rtp_connection_params\n  {\n   packet_factor = 2\n   rx_pt = 8\n   tx_pt = 18\n   ssrc = 4000000000\n  }\n");

  std::ostringstream one;
  one << rtp_channel_info{37, -1, 5, 0} << "|";
  EXPECT_EQ(one.str(), "rtp_channel_info { tdm=37 dev_no=-1 chn=5 }|");

  std::ostringstream a;
  a << rtp_attach_session_params{7, 1234} << rtp_ext_attach_session_params{-1, 0};
  EXPECT_EQ(a.str(),
            "  rtp_attach_session_params\n  {\n   fd_rtp = 7\n   pid_rtp = 1234\n  }\n"
            "  rtp_ext_attach_session_params\n  {\n   fd_rtp = -1\n   pid_rtp = 0\n  }\n");

  rtp_ext_init_params i{};
  i.etype = 4919;
  std::ostringstream e;
  e << i;
  EXPECT_EQ(e.str(), "  rtp_ext_init_params\n  {\n   etype = 4919\n  }\n");
}

}  // namespace
