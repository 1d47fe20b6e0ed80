#pragma once
// HDLC framing channels of the board's multi-channel controller
// ("/dev/mcc/ctl"), the frame path of the signalling links.
//
// The owner (a signalling slot) configures a channel, binds itself as the
// channel's Notify and activates it:
//
//   hdlc.set_trunk(1);  hdlc.set_timeslot(16);   // names in its traces
//   hdlc.set_tdm(48);                              // trunk 1 timeslot 16
//   hdlc.set_mode(1);                              // PRI LAPD link
//   hdlc.bind(this);
//   if (!hdlc.activate()) ...                      // logged on std::cerr
//
// Activation allocates a controller channel, learns its matrix channel m
// and switches the matrix both ways (m to the line, the line to m; in mode 2
// m goes to the transmit channel instead). Then one frame (no flags, no FCS)
// is one write, one received frame one read. Frames arrive through
// Notify::on_hdlc_receive. hdlc_transmit answers false when the channel
// cannot take the frame now: the owner keeps it and sends it again from
// Notify::on_hdlc_ready, which comes exactly once after the channel first
// becomes writable and once after each refusal for a full queue. A read
// error, or a write error other than a full queue, closes the channel and
// is reported through Notify::on_hdlc_error (the write error on the next
// loop pass, never from inside hdlc_transmit); the owner decides whether to
// activate again. Owners call unbind() before they go away.
//
// Closing a channel, for whatever reason, undoes both paths first: m's
// receiver is no longer driven, and the output m drove gets what
// HwMux::Release gives it, so that the next holder of m neither hears this
// line nor sends onto it.
//
// Traces (activation, frames) go to std::clog under the "signalling.hdlc"
// switch.
#include <sys/types.h>

#include <cstdint>
#include <iosfwd>
#include <memory>
#include <string>

#include "runtime/dpc.h"
#include "runtime/event.h"
#include "runtime/fd.h"
#include "runtime/packet.h"

// The transport a data link sends through.
class GenericHDLC {
 public:
  virtual ~GenericHDLC() = default;
  // Takes one frame (without flags and FCS); false when it cannot now.
  virtual bool hdlc_transmit(Packet& frame) = 0;
  virtual bool is_open() const = 0;
  // True when a frame can be taken now.
  virtual bool is_ready() const = 0;
};

// Reads one frame from a driver's descriptor into `frame`: into the buffer
// it holds when no other handle shares it (the last frame's, which no layer
// kept), else into a fresh packet. With no packet free the frame is taken
// off the descriptor all the same, so that the next ones are not held up
// behind it, and `frame` is null. Returns what read() returned.
ssize_t ReadFrame(int fd, Packet& frame);

// Opens the controller and binds one of its channels, in driver mode
// `mode`, to the descriptor; `channel` is then its matrix channel. On
// failure the descriptor is invalid, and what failed and why went to the
// error stream after `header`.
Fd AllocateMccChannel(const std::string& header, std::int32_t mode, std::int32_t txThreshold, int& channel);

class HDLC : public GenericHDLC {
 public:
  // The channel's callbacks to its owner.
  class Notify {
   public:
    struct Cause {
      enum Type {
        read_error = 0,   // a read failed; the channel is closed
        write_error = 1,  // a write failed for another reason than a full queue; the channel is closed
      };
    };
    virtual ~Notify() = default;
    virtual void on_hdlc_receive(Packet& frame) = 0;
    virtual void on_hdlc_error(Cause::Type cause) = 0;
    virtual void on_hdlc_ready() = 0;
  };

  struct Counters {
    std::uint32_t sent = 0;       // frames written
    std::uint32_t discarded = 0;  // frames offered while the channel was closed
    std::uint32_t errors = 0;     // writes that failed
    std::uint32_t overflows = 0;  // kept for the link statistics; nothing counts here
    std::uint32_t received = 0;   // frames read
  };

  HDLC();
  ~HDLC() override;
  HDLC(const HDLC&) = delete;
  HDLC& operator=(const HDLC&) = delete;

  // What the owner sets before activate().
  void set_tdm(int channel) { tdm_ = channel; }            // the line it hears (and sends to, but in mode 2)
  void set_transmit(int channel) { transmit_ = channel; }  // where it sends in mode 2
  // 0: SS7 link; 1: PRI LAPD or raw HDLC link; 2: BRI link.
  void set_mode(int mode) { mode_ = mode; }
  void set_log(int level) { log_ = level; }  // carried for the owner
  void set_trunk(int trunk) { trunk_ = trunk; }
  void set_timeslot(int timeslot) { timeslot_ = timeslot; }
  void bind(Notify* notify);
  // Callbacks go nowhere from now on.
  void unbind();

  // (Re)opens and configures the channel; true when active (not yet ready).
  bool activate();
  // Undoes the matrix paths, then closes the channel.
  void deactivate();
  // Switches the open channel's output again onto what activate() switched
  // it to, a path someone else may have taken since; nothing when closed.
  void redrive();

  // GenericHDLC
  bool hdlc_transmit(Packet& frame) override;
  bool is_open() const override { return event_.fd().valid(); }
  // The controller channel's matrix channel while open, -1 otherwise.
  int channel() const { return channel_; }
  bool is_ready() const override { return ready_; }

  // "hdlc [trunk/timeslot]: "
  void PutHeader(std::ostream& s) const;

  const Counters& counters() const { return counters_; }
  int tdm() const { return tdm_; }
  int transmit() const { return transmit_; }
  int mode() const { return mode_; }
  int log() const { return log_; }
  int trunk() const { return trunk_; }
  int timeslot() const { return timeslot_; }

 private:
  void on_event(int fd, short revents);
  // Undoes the paths activate() switched.
  void releasePaths();
  void do_read();
  void OnWriteError();

  bool ready_ = false;
  int tdm_ = -1;
  int transmit_ = -1;
  int mode_ = 0;
  Counters counters_;
  Event event_;
  int channel_ = -1;  // m while open
  int drives_ = -1;   // the output m was switched to
  int log_ = 0;
  int trunk_ = 0;
  int timeslot_ = 0;
  Notify* notify_;
  Packet rx_;                   // the last frame read, its buffer reused when no layer kept it
  Dpc writeError_;              // reports a write error on the next pass
  std::shared_ptr<char> life_;  // expires with the channel: an owner may destroy it from a callback
};
