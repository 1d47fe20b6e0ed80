#pragma once
// The simulated board for the radio controls: the RTP extension driver at
// power-on, an RTP session of the daemon to join (begun, on channel 4096),
// and the journal as one text.
#include <fcntl.h>
#include <unistd.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/rtp_ext_records.h"
#include "slots/rtp_slot.h"
#include "tests/sim_board_fixture.h"

namespace radiotest {

using Lines = std::vector<std::string>;

class RadioBoardTest : public hwtest::SimBoardTest {
 protected:
  void SetUp() override {
    hwtest::SimBoardTest::SetUp();
    rtp_channel_info info{-1, -1, -1, 0};
    rtp_ = BeginRtpSession(rtp_connection_params{}, info, "").release();
    ASSERT_GE(rtp_, 0);
    board().clear_journal();
  }
  void TearDown() override {
    ::close(rtp_);
    hwtest::SimBoardTest::TearDown();
  }

  // Journal lines of one request code on a device, in order.
  static Lines requests(const std::string& device, const std::string& code) {
    return journalWith("ioctl " + device + " " + code + " ");
  }
  static int count(const std::string& text, const std::string& part) {
    int n = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
  }

  // The attach record naming the test's RTP session as the daemon's own.
  rtp_ext_attach_session_params attach() const { return {rtp_, static_cast<std::int32_t>(::getpid())}; }
  static rtp_ext_init_params init(std::uint16_t etype = rtp_ext::vesk_identifier) {
    rtp_ext_init_params p{};
    p.etype = etype;
    return p;
  }

  int rtp_ = -1;
};

}  // namespace radiotest
