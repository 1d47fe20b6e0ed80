#pragma once
// The board's point-to-point HDLC interfaces ("hdlc0", "hdlc1", ...) as
// the simulated board answers requests about them, made on any socket:
// SIOCGIFINDEX, SIOCGIFFLAGS, SIOCSIFFLAGS (only IFF_UP changes) and
// SIOCWANDEV with IF_GET_IFACE (the interface's TDM channel at byte 12 of
// the caller's buffer, which must hold 16 bytes at least: ENOBUFS
// otherwise), IF_PROTO_PPP and IF_PROTO_HDLC (refused with EBUSY while the
// interface is up, as the kernel's HDLC layer does). A name the board has
// no interface for answers ENODEV.
//
// The board starts with none; tests add them with the `netif` command
// (README.md).
#include <map>
#include <string>

namespace sim {

class Board;

class NetifModel {
 public:
  struct Interface {
    int index = 0;
    int channel = 0;
    unsigned flags = 0;     // IFF_*
    unsigned proto = 0;     // IF_PROTO_HDLC or IF_PROTO_PPP
  };
  struct State {
    std::map<std::string, Interface> interfaces;
    int nextIndex = 100;
    void reset() { *this = State(); }
  };
  static State& state();
  // The channel an interface is given unless the test names one.
  static int default_channel(int unit) { return 3840 + unit; }

  // Registers the interfaces with the board, and their control command.
  static void install(Board& board);
};

}  // namespace sim
