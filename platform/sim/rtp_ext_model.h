#pragma once
// The simulated RTP extension driver (the node sysroot::rtp_ext): one open
// is one extension session carrying radio signalling beside an RTP session.
//
// A session must be initialised first (INIT_SESSION, the header-extension
// identifier in the first 16 bits of the record); every other request before
// that is refused with EINVAL, a second initialisation with EBUSY. ATTACH
// joins it to an RTP session named by {descriptor, process}: the process is
// -1 (the caller) or the daemon's own pid (ESRCH otherwise), the descriptor
// one of the daemon's open sysroot::rtp sessions (EBADF otherwise), begun
// (EINVAL otherwise); EBUSY when attached already. The journal names the
// RTP session's channel. DETACH undoes it (EINVAL when not attached). The
// access filter (SET_FILTER, RESET_FILTER) is recorded and shown, and
// applied as a driver would: while it is on, a payload that arrives from
// another address is dropped (and counted).
//
// Payloads that tests inject wait in the session's queue, each with the
// source address and SSRC of the session it came from. The daemon's socket
// holds the next one at most, so PACKET_INFO (a result of 1) describes
// exactly what the following read returns; once that has been read, the
// next PACKET_INFO moves the queue on, and answers 0 when it is empty. One
// write is one payload (at most 1024 bytes): kept per session with the loop
// time it was written, and added to the pcap tap when one is set, as the
// header extension of an RTP packet (profile = the session's identifier) so
// that tshark can read it (`-d udp.port==5004,rtp`).
//
// Control commands: "rtp-ext" (README.md, `simboardctl help`).
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/rtp_ext_records.h"
#include "platform/sim/board.h"
#include "platform/sim/pcap_tap.h"

namespace sim {

class RtpExtModel {
 public:
  using Bytes = std::vector<std::uint8_t>;
  struct Payload {
    std::uint32_t addr = 0;  // network order
    std::uint32_t ssrc = 0;
    Bytes bytes;
  };
  struct Written {
    std::uint32_t at;  // loop clock, ms
    Bytes bytes;
  };
  // Closed sessions kept for the listing, the oldest first to go: a board
  // that runs for days must not keep every one.
  static constexpr std::size_t closed_kept = 256;
  // Payloads kept per session, the latest first to go.
  static constexpr std::size_t written_kept = 4096;

  struct Session {
    int number = 0;
    bool open = true;
    std::uint32_t openedAt = 0;  // loop clock, ms
    bool initialised = false;
    rtp_ext_init_params init{};
    bool attached = false;
    rtp_ext_attach_session_params attach{};
    bool filterOn = false;
    std::uint32_t filterAddr = 0;  // network order
    std::uint32_t dropped = 0;     // payloads the filter kept out
    std::deque<Payload> queue;     // the front is in the daemon's socket when delivered
    bool delivered = false;
    std::uint32_t read = 0;  // payloads the daemon has taken
    std::deque<Written> written;
    std::uint64_t writtenTotal = 0;
    std::uint16_t sequence = 0;  // of the RTP packets in the tap
  };

  // The driver's state, shared by every open; kept when the model is
  // registered again.
  struct State {
    std::map<int, Session> sessions;  // by number, from 1, the latest closed ones too
    std::deque<int> closed;           // the closed ones kept, in the order they closed
    int next = 1;
    std::unique_ptr<PcapTap> tap;
    void reset();
    // Session n has closed: kept, and the oldest closed one beyond
    // closed_kept forgotten.
    void closing(int n);
    // The newest open session; null when none.
    Session* last();
  };
  static State& state();

  // Registers the model and its control commands.
  static void install(Board& board);
};

}  // namespace sim
