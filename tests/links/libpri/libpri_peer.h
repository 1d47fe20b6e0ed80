#pragma once
// Debian's libpri (an independent Q.921/Q.931 stack) as the far end of the
// test line. libpri runs on one end of a SOCK_SEQPACKET socket pair, as on
// a D-channel device whose frames carry two FCS octets; the adapter holds
// the other end: it strips the two octets from what libpri sends and puts
// the frame on the line, and writes what comes off the line with two zero
// octets added. Descriptor events and libpri's own timers run on the event
// loop; libpri reads the time of day, which the test program ties to the
// loop clock (virtual_time.cpp), so its T200 and T203 run on the test clock.
//
//   LibpriPeer peer(h.b(), PRI_NETWORK);     // h: a linktest::LinkHarness
//   LibpriPeer te(h.b(), PRI_CPE, PRI_SWITCH_EUROISDN_E1, LibpriPeer::basic);
//                                            // a BRI terminal on a bus, with
//                                            //   TEI management
//   h.add_busy([&] { return peer.busy(); });
//   peer.on_event = [&](pri_event* e) { ... };
//   ... pri_setup(peer.pri(), ...); peer.poke();
//
// Every message libpri gives through its error callback is kept in
// LibpriPeer::errors().
// libpri's header declares C functions without saying so.
extern "C" {
#include <libpri.h>
}

#include <functional>
#include <string>
#include <vector>

#include "runtime/event.h"
#include "runtime/fd.h"
#include "runtime/timer.h"
#include "tests/links/link_harness.h"

class LibpriPeer {
 public:
  // Primary rate (point-to-point), or basic rate point-to-multipoint.
  enum Access { primary, basic };

  LibpriPeer(linktest::LinkEnd& end, int nodetype, int switchtype = PRI_SWITCH_EUROISDN_E1,
             Access access = primary);
  ~LibpriPeer();
  LibpriPeer(const LibpriPeer&) = delete;
  LibpriPeer& operator=(const LibpriPeer&) = delete;

  struct pri* pri() { return pri_; }
  // Frames still in the socket pair, either way.
  bool busy() const;
  // After a call into libpri from outside its callbacks: its timers may
  // have changed.
  void poke() { rearm(); }

  std::function<void(pri_event*)> on_event;
  int up = 0;    // D-channel up events
  int down = 0;  // D-channel down events

  static std::vector<std::string>& errors();
  static std::vector<std::string>& messages();

 private:
  void OnLibpriSide(int fd, short revents);
  void OnAdapterSide(int fd, short revents);
  void OnTimer();
  void rearm();
  void handle(pri_event* e);
  void to_libpri(Packet& frame);

  linktest::LinkEnd& end_;
  Fd libpriFd_;
  Fd adapterFd_;
  Event libpriEvent_;
  Event adapterEvent_;
  Timer timer_;
  struct pri* pri_ = nullptr;
};
