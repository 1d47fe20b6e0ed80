#pragma once
// A simulated device: one open of a device node of the simulated board.
//
// The daemon gets one end of a socketpair(AF_UNIX, SOCK_SEQPACKET) as its
// descriptor; the board keeps the other end and serves it from the daemon's
// own event loop. So one write() by the daemon is one frame here
// (on_write), one send() here is one frame or event record for the daemon's
// read(), and POLLIN/POLLOUT/EAGAIN on the daemon's side come from the
// kernel. Driver requests (drv::ioctl_ptr / drv::ioctl_val) are plain
// calls of the device found by the descriptor's inode, which survives dup().
//
// A device model (DeviceModel) makes one Device per open; models are
// registered with the Board by the path the daemon opens (sysroot::hal,
// ...). Override what the driver needs:
//
//   class HalDevice : public sim::Device {
//     int ioctl_ptr(unsigned long code, void* rec, std::size_t size) override;
//   };
//   board.add_model(sysroot::hal, std::make_unique<sim::ModelOf<HalDevice>>());
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "runtime/event.h"
#include "runtime/fd.h"

namespace sim {

class Board;

class Device {
 public:
  Device() = default;
  Device(const Device&) = delete;
  Device& operator=(const Device&) = delete;
  virtual ~Device();

  // A driver request with a record in memory (read and written in place).
  // Returns what the driver would (>= 0), or -1 with errno set. The default
  // refuses every request with ENOTTY, like a driver that does not know it.
  virtual int ioctl_ptr(unsigned long code, void* rec, std::size_t size);
  // A driver request whose argument is the value itself.
  virtual int ioctl_val(unsigned long code, unsigned long value);
  // One frame the daemon wrote to its descriptor.
  virtual void on_write(const std::uint8_t* data, std::size_t len);
  // The daemon closed its last descriptor of this device.
  virtual void on_close();

  // Sends one frame or event record to the daemon (one read() there).
  bool send(const void* data, std::size_t len);

  const std::string& path() const { return path_; }
  int flags() const { return flags_; }
  Board* board() const { return board_; }

 private:
  friend class Board;
  void attach(Board* board, const std::string& path, int flags, Fd boardEnd);
  void OnEvent(int fd, short revents);

  Board* board_ = nullptr;
  std::string path_;
  int flags_ = 0;
  Fd end_;
  Event event_;
  bool closed_ = false;
  std::uint64_t serial_ = 0;  // order of the opens
};

// Makes the devices of one device node (or of several, when registered for
// more than one path). A model may keep state shared by all its devices.
class DeviceModel {
 public:
  virtual ~DeviceModel() = default;
  // A device for one open of path, or nullptr with errno set to refuse it.
  virtual std::unique_ptr<Device> open(const std::string& path, int flags) = 0;
};

// The model of a device that keeps no shared state: one T per open.
template <class T>
class ModelOf : public DeviceModel {
 public:
  std::unique_ptr<Device> open(const std::string&, int) override { return std::make_unique<T>(); }
};

}  // namespace sim
