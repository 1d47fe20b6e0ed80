#pragma once
// The simulated RTP driver (the node sysroot::rtp). Each open is one
// session: it takes one session record, then one TDM channel of the
// driver's (the lowest free one, or a given one again after a restart), and
// starts and stops its input stream, packet detection and its release as
// the daemon asks. A channel is free again once the release removes it or
// the session's descriptor is closed. Event records (36 octets, one a read)
// are injected on a session by its channel. Control command: "rtp" (see
// `simboardctl help`).
#include <cstdint>
#include <string>

#include "platform/rtp_records.h"
#include "platform/sim/board.h"

namespace sim {

class RtpModel {
 public:
  // The driver's TDM channels: clear of the trunks, the MCC channels and
  // the bus, and of the mixer's, which start at 6144.
  static constexpr int first_channel = 4096;
  static constexpr int channel_count = 256;

  // What one session holds.
  struct Session {
    bool begun = false;
    rtp_connection_params params{};
    int channel = -1;
    bool input = false;
    bool stopped = false;  // its streams stopped by a release
    bool pd = false;
    std::int32_t pdTimeout = 0;
  };

  // The session of an open of the node (null for another device).
  static Session* session(Device* device);
  // The session holding a TDM channel, and its device; null when none.
  static Device* holder(Board& board, int channel);

  // Registers the model and its control command.
  static void install(Board& board);
};

}  // namespace sim
