#include "platform/sim/device.h"

#include <errno.h>
#include <sys/socket.h>

#include "platform/sim/board.h"

namespace sim {

Device::~Device() = default;

int Device::ioctl_ptr(unsigned long, void*, std::size_t) { return refuse(ENOTTY); }

int Device::ioctl_val(unsigned long, unsigned long) { return refuse(ENOTTY); }

void Device::on_write(const std::uint8_t*, std::size_t) {}

void Device::on_close() {}

void Device::on_open(int, int) {}

void Device::on_writable() {}

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

void Device::watch() {
  if (closed_) return;
  const short events = static_cast<short>((held_ ? 0 : POLLIN) | (wantOut_ ? POLLOUT : 0));
  if (event_.events() != events) event_.Schedule(event_.fd(), events);
}

void Device::hold_writes(bool hold) {
  held_ = hold;
  watch();
}

void Device::want_writable(bool want) {
  wantOut_ = want;
  watch();
}

void Device::hang_up() {
  if (closed_) return;
  closed_ = true;
  event_.Release();
  end_.close();
  board_->closed(this);
}

void Device::OnEvent(int fd, short revents) {
  if (closed_) return;
  if ((revents & POLLOUT) && wantOut_) {
    wantOut_ = false;
    watch();
    on_writable();
    if (closed_) return;
  }
  const bool gone = revents & (POLLHUP | POLLERR);
  if (!(revents & POLLIN) && !gone) return;
  static std::uint8_t frame[65536];
  for (;;) {
    // Held: frames stay with the daemon, unless it has gone, when what it
    // left behind is dropped on the way to the close below.
    if (held_ && !gone) return;
    ssize_t n = ::recv(fd, frame, sizeof frame, MSG_DONTWAIT);
    if (n > 0) {
      if (!held_) on_write(frame, static_cast<std::size_t>(n));
      if (closed_) return;
      continue;
    }
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) return;
    // End of stream: the daemon has closed every descriptor of this open.
    hang_up();
    return;
  }
}

}  // namespace sim
