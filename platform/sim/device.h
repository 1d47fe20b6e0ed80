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
#include <errno.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "runtime/event.h"
#include "runtime/fd.h"

namespace sim {

class Board;

// A driver request's answer when the driver refuses it: -1 with errno err.
inline int refuse(int err) {
  errno = err;
  return -1;
}

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
  // The open has just been made: the daemon's end and the board's (a model
  // may tune them, e.g. their socket buffers, to give a driver's queues).
  virtual void on_open(int daemon_fd, int board_fd);
  // The daemon's end has room again after send() failed (asked for with
  // want_writable).
  virtual void on_writable();

  // Sends one frame or event record to the daemon (one read() there).
  // False when the daemon's end is full (or gone): nothing was sent.
  bool send(const void* data, std::size_t len);

  const std::string& path() const { return path_; }
  int flags() const { return flags_; }
  Board* board() const { return board_; }
  bool hung_up() const { return closed_; }

 protected:
  // While held, the board takes no frames from the daemon: they wait in the
  // daemon's socket, whose writes meet EAGAIN once it is full. A model that
  // paces its input holds after each frame and releases when ready.
  void hold_writes(bool hold);
  bool writes_held() const { return held_; }
  // Asks for on_writable() once the daemon's end has room.
  void want_writable(bool want);
  // Ends the open from the board's side, as a failing driver would: the
  // daemon's next read or write on it fails. on_close() runs and the device
  // is released after the current pass; nothing may use it afterwards.
  void hang_up();
  // Journal line of the request being answered: a short decoded form added
  // to it (annotate), or no line at all (quiet: for a request that changes
  // nothing and comes by the hundred, like a refresh).
  void annotate(const std::string& text) { note_ = text; }
  void quiet() { quiet_ = true; }
  // The daemon's descriptor that carries the request being answered (-1
  // outside a request): for a model that tunes the daemon's end when a
  // request changes what the open is, such as the size of its writes.
  int request_fd() const { return requestFd_; }
  // The board's end of the open (-1 once it has hung up).
  int board_fd() const { return end_.get(); }

 private:
  friend class Board;
  void attach(Board* board, const std::string& path, int flags, Fd boardEnd);
  void OnEvent(int fd, short revents);
  void watch();

  Board* board_ = nullptr;
  std::string path_;
  int flags_ = 0;
  Fd end_;
  Event event_;
  bool closed_ = false;
  bool held_ = false;
  bool wantOut_ = false;
  bool quiet_ = false;
  int requestFd_ = -1;
  std::string note_;
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
