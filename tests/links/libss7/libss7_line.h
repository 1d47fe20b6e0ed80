#pragma once
// A signalling line between one of our links and Debian's libss7 (an
// independent MTP2/MTP3/ISUP stack), both on the loop's test clock.
//
// libss7 runs its MTP2 on one end of a SOCK_SEQPACKET pair, as on a DAHDI
// D-channel: every frame it reads or writes carries 2 placeholder FCS
// octets, which the line strips and adds. It writes a unit whenever asked
// (it fills the line itself), so the line asks once per millisecond of line
// time and passes on only a unit that differs from the last one delivered:
// a repeat after a loss still gets through.
//
// Our link hands each unit to the channel once and leaves the fill-in to
// the channel, as a signalling controller does on a real line: this line
// repeats our last LSSU, or a FISU with the sequence fields of our last unit,
// in every millisecond in which our link sent nothing.
//
//   Mux::TestClock clock(1000);
//   Libss7Line line(log);                 // a FrameLog (140) for tshark
//   slc->set_transmitter(&line);
//   line.attach(slc);                     // units from libss7 go to slc
//   line.start(1, 2);                     // our point code, libss7's
//   for (...) line.tick();                // one millisecond each
//   isup_lpa(line.peer(), cic, 1);        // an MSU from libss7
//
// Loss on demand (both directions, from a fixed seed), a peer that stops
// hearing us, and libss7's events (link up, MTP3 up, received ISUP) kept for
// the test.
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "hardware/hdlc.h"
#include "runtime/fd.h"
#include "tests/links/frame_log.h"

struct ss7;

namespace linktest {

class Libss7Line : public GenericHDLC {
 public:
  explicit Libss7Line(FrameLog& log);
  ~Libss7Line() override;
  Libss7Line(const Libss7Line&) = delete;
  Libss7Line& operator=(const Libss7Line&) = delete;

  // Units from libss7 go to notify->on_hdlc_receive.
  void attach(HDLC::Notify* notify) { notify_ = notify; }
  // Starts libss7's link (ITU, national network) with the two point codes.
  void start(unsigned our_pc, unsigned peer_pc);
  struct ss7* peer() const {
    return ss7_;
  }

  // One millisecond of line time: our units (or the fill-in) to libss7,
  // libss7's timers, one unit from libss7 to us, libss7's events. The
  // caller moves the clock.
  void tick();

  // Each unit crossing the line is lost with this probability (per mille).
  void set_loss(unsigned per_mille, std::uint32_t seed);
  // libss7 hears nothing more from us (it keeps sending).
  void set_peer_deaf(bool deaf) { peer_deaf_ = deaf; }
  // Prints libss7's MTP2 and MTP3 trace on stdout.
  static void set_peer_debug(bool on);

  // GenericHDLC: our link's units.
  bool hdlc_transmit(Packet& frame) override;
  bool is_open() const override { return true; }
  bool is_ready() const override { return true; }

  // libss7's events: link up (MTP2) and up (MTP3) counts, links down, and
  // the CIC of each loop-back acknowledgement (LPA) received.
  int mtp2_up = 0;
  int mtp2_down = 0;
  int mtp3_up = 0;
  int mtp3_down = 0;
  std::vector<int> lpa_cics;
  unsigned lost_to_peer = 0;
  unsigned lost_to_us = 0;

 private:
  bool lose();
  void to_peer(const Bytes& unit);
  void events();

  FrameLog& log_;
  struct ss7* ss7_ = nullptr;
  Fd ours_;    // our end of the pair
  Fd theirs_;  // libss7's end
  HDLC::Notify* notify_ = nullptr;
  std::vector<Bytes> pending_;  // our units sent since the last tick
  Bytes fill_;                  // what the line repeats for us
  Bytes last_delivered_;        // the last unit of libss7 we passed on
  unsigned loss_ = 0;
  std::mt19937 rng_;
  bool peer_deaf_ = false;
};

}  // namespace linktest
