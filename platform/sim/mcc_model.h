#pragma once
// The simulated "/dev/mcc/ctl": the channels of the board's multi-channel
// HDLC controller.
//
// Each open is one descriptor; MCC_ALLOCATE binds a free controller channel
// to it (matrix channels 1024..1087, lowest free first; ENOSPC when none is
// free, EBUSY when the descriptor has one) and MCC_TIMESLOT answers its
// matrix channel. The channel is freed when the daemon closes its last
// descriptor of the open.
//
// In the framed modes (HDLC, BRI, SS7) one write is one frame and one read
// one frame. In transparent mode the channel carries a byte stream: a write
// is a run of octets of any length, and the daemon's reads give what
// arrived in pieces of at most the allocation's receive packet size, so a
// reader whose buffer is that large never loses a tail. Either way the
// controller sends what the daemon writes one write at a time at the line
// rate (64 kbit/s, 125 us an octet; a frame adds three octets of FCS and
// flag) and takes the next only when the line is free, so the daemon's
// writes meet EAGAIN once its small transmit queue is full. What goes out on
// the line reaches every controller channel that hears it along the matrix
// and the lines (sim::Tdm::reach); each takes it into its receive queue for
// the daemon. A frame whose receiver's queue is full waits on the line: a
// receiver that does not read holds up its sender, which in turn sees its
// queue fill.
//
// Tests and operators drive it with the `mcc` commands (README.md): list,
// stall and resume a channel, drop every n-th frame it receives, fail it
// like a broken driver, tap its frames into a pcap file, inject octets or a
// file as received from the line, and see or capture what the daemon wrote.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "platform/sim/device.h"
#include "platform/sim/pcap_tap.h"
#include "runtime/timer.h"

namespace sim {

class Board;
class Mcc;

class MccDevice : public Device {
 public:
  using Frame = std::vector<std::uint8_t>;
  // Frames a channel holds for the daemon beyond its socket.
  static constexpr std::size_t rx_queue_frames = 8;

  explicit MccDevice(Mcc& mcc) : mcc_(mcc) {}
  ~MccDevice() override;

  int ioctl_ptr(unsigned long code, void* rec, std::size_t size) override;
  int ioctl_val(unsigned long code, unsigned long value) override;
  void on_write(const std::uint8_t* data, std::size_t len) override;
  void on_writable() override;
  void on_close() override;
  void on_open(int daemon_fd, int board_fd) override;

  int number() const { return number_; }
  int mode() const { return mode_; }
  // Transparent mode: a byte stream rather than frames.
  bool bytes() const;
  // The most a read gives in transparent mode.
  std::size_t rx_size() const { return rxSize_; }
  std::size_t queued() const { return rx_.size(); }
  bool has_room() const { return rx_.size() < rx_queue_frames; }

  // A frame (or a run of octets) that arrived along the line, or was
  // injected as if it had.
  void receive(const Frame& frame);
  // Hands queued frames to the daemon while it takes them.
  void flush();
  // Tries again to hand the frame on the line to receivers that were full.
  void retry();
  // Stall lifted, or set: takes frames again (or stops).
  void restart();
  // Fails like a broken driver: the daemon's next read or write errs.
  void fail() { hang_up(); }

  struct Counters {
    std::uint32_t sent = 0;      // frames that went out on the line
    std::uint32_t lost = 0;      // of those, frames no channel heard
    std::uint32_t received = 0;  // frames taken for the daemon
    std::uint32_t dropped = 0;   // frames dropped on demand
  };
  const Counters& counters() const { return counters_; }

 private:
  void OnLineFree();
  void release();

  Mcc& mcc_;
  int number_ = -1;
  int mode_ = -1;
  std::size_t rxSize_ = 0;
  Counters counters_;
  std::deque<Frame> rx_;
  Frame tx_;
  bool transmitting_ = false;
  std::vector<int> pending_;  // receivers the frame on the line still waits for
  std::uint32_t lineFree_ = 0;  // loop-clock microseconds at which the line is free
  bool lineUsed_ = false;
  Timer timer_;
};

class Mcc {
 public:
  static constexpr int first_channel = 1024;
  static constexpr int channel_count = 64;

  static Mcc& instance();

  // What tests and operators set per channel number; kept across
  // allocations, so it can be set before the daemon takes the channel.
  struct Settings {
    bool stalled = false;
    std::uint32_t dropEvery = 0;  // 0: none
    std::uint32_t dropCount = 0;
    std::unique_ptr<PcapTap> tap;
    // Every octet the daemon writes is appended to this file.
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> capture{nullptr, &std::fclose};
    std::string capturePath;
  };
  Settings& settings(int number) { return settings_[number]; }
  const Settings* find_settings(int number) const;
  // Forgets every setting and what was written (channels in use stay
  // allocated).
  void reset_settings() {
    settings_.clear();
    written_.clear();
  }

  // What the daemon wrote on a channel since the channel was last
  // allocated: one entry per frame (per write in transparent mode), the
  // latest written_writes of them within written_octets.
  static constexpr std::size_t written_writes = 1024;
  static constexpr std::size_t written_octets = 256 * 1024;
  struct Written {
    std::deque<MccDevice::Frame> writes;
    std::size_t octets = 0;
    std::uint64_t dropped = 0;  // older writes let go for newer ones
  };
  void wrote(int number, const MccDevice::Frame& data);
  const Written* written(int number) const;
  void clear_written(int number) { written_.erase(number); }

  // Binds the lowest free channel to a device; -1 when none is free.
  int allocate(MccDevice* device);
  void release(MccDevice* device);
  MccDevice* device(int number) const;
  const std::map<int, MccDevice*>& in_use() const { return inUse_; }

  // The channels that hear what channel `from` sends.
  std::vector<int> receivers(int from) const;

  // A sender waits for room at a receiver (or no longer does).
  void wait(MccDevice* sender) { waiting_.insert(sender); }
  void unwait(MccDevice* sender) { waiting_.erase(sender); }
  // Room appeared somewhere (or a channel went): senders try again.
  void wake();

 private:
  std::map<int, MccDevice*> inUse_;
  std::map<int, Settings> settings_;
  std::map<int, Written> written_;
  std::set<MccDevice*> waiting_;
  bool waking_ = false;
  bool wakeAgain_ = false;
};

// Registers the "/dev/mcc/ctl" model and the `mcc` command.
void install_mcc(Board& board);

}  // namespace sim
