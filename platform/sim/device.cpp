#include "platform/sim/device.h"

#include <errno.h>
#include <sys/socket.h>

#include "platform/sim/board.h"

namespace sim {

Device::~Device() = default;

int Device::ioctl_ptr(unsigned long, void*, std::size_t) {
  errno = ENOTTY;
  return -1;
}

int Device::ioctl_val(unsigned long, unsigned long) {
  errno = ENOTTY;
  return -1;
}

void Device::on_write(const std::uint8_t*, std::size_t) {}

void Device::on_close() {}

bool Device::send(const void* data, std::size_t len) {
  if (!end_.valid()) return false;
  return ::send(end_.get(), data, len, MSG_DONTWAIT | MSG_NOSIGNAL) == static_cast<ssize_t>(len);
}

void Device::attach(Board* board, const std::string& path, int flags, Fd boardEnd) {
  board_ = board;
  path_ = path;
  flags_ = flags;
  end_ = std::move(boardEnd);
  event_.Bind("sim::Device::OnEvent", &Device::OnEvent, this);
  event_.Schedule(end_, POLLIN);
}

void Device::OnEvent(int fd, short revents) {
  if (closed_ || !(revents & (POLLIN | POLLHUP | POLLERR))) return;
  static std::uint8_t frame[65536];
  for (;;) {
    ssize_t n = ::recv(fd, frame, sizeof frame, MSG_DONTWAIT);
    if (n > 0) {
      on_write(frame, static_cast<std::size_t>(n));
      continue;
    }
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) return;
    // End of stream: the daemon has closed every descriptor of this open.
    closed_ = true;
    event_.Release();
    end_.close();
    board_->closed(this);
    return;
  }
}

}  // namespace sim
