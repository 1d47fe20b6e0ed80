#pragma once
// The simulated "/dev/dsp-data": the DSP's data units that carry ATS-QSIG
// signalling.
//
// Each open is one unit (the lowest free of 16; the open is refused with
// ENOSPC when none is free): a D channel on TDM channel 5120 + 4u and three
// B channels, index i on 5121 + 4u + i. The D channel carries frames: one
// write is one frame, one read one received frame. A B channel is opened by
// index (EBUSY when it is open already, EINVAL for an index outside 0..2)
// and released by index and channel (EINVAL when they do not name an open
// B channel). Closing the unit's last descriptor frees it with its B
// channels.
//
// The D channel's frames do not travel on the fabric: tests see what the
// daemon wrote and inject what it receives with the `dspdata` commands
// (README.md).
#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <vector>

#include "platform/sim/device.h"

namespace sim {

class Board;
class DspDataDevice;

class DspData {
 public:
  using Frame = std::vector<std::uint8_t>;
  static constexpr int first_channel = 5120;
  static constexpr int units = 16;
  // Frames written that a unit keeps for `dspdata written`, the latest.
  static constexpr std::size_t written_frames = 1024;

  struct Unit {
    bool open = false;
    std::array<bool, 3> b{};  // B channels open, by index
    std::deque<Frame> written;  // what the daemon wrote, oldest first
    std::deque<Frame> rx;       // frames waiting for the daemon
    std::uint32_t sent = 0;     // frames the daemon wrote
    std::uint32_t received = 0;
  };

  static DspData& instance();

  static int d_channel(int unit) { return first_channel + 4 * unit; }
  static int b_channel(int unit, int index) { return d_channel(unit) + 1 + index; }
  // The unit of a D channel, -1 for another number.
  static int unit_of(int d_channel);

  Unit& unit(int n) { return units_[static_cast<std::size_t>(n)]; }
  // The lowest free unit, now taken; -1 when none is free.
  int take();

  // The open that holds a unit, null when it is free.
  DspDataDevice* device(int n) const { return devices_[static_cast<std::size_t>(n)]; }
  void set_device(int n, DspDataDevice* d) { devices_[static_cast<std::size_t>(n)] = d; }

 private:
  std::array<Unit, units> units_{};
  std::array<DspDataDevice*, units> devices_{};
};

// One open of the node: one unit.
class DspDataDevice : public Device {
 public:
  explicit DspDataDevice(int unit) : unit_(unit) {}
  ~DspDataDevice() override;

  int ioctl_ptr(unsigned long code, void* rec, std::size_t size) override;
  int ioctl_val(unsigned long code, unsigned long value) override;
  void on_write(const std::uint8_t* data, std::size_t len) override;
  void on_writable() override;
  void on_close() override;
  void on_open(int daemon_fd, int board_fd) override;

  // A frame for the daemon, as received on the D channel.
  void receive(const DspData::Frame& frame);

 private:
  void flush();
  void release();

  int unit_;
};

// Registers the "/dev/dsp-data" model and the `dspdata` command.
void install_dsp_data(Board& board);

}  // namespace sim
