#include "runtime/fd.h"

#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

Fd& Fd::operator=(const Fd& other) {
  if (this != &other) reset(other.dup());
  return *this;
}

Fd& Fd::operator=(Fd&& other) noexcept {
  if (this != &other) {
    reset(other.fd_);
    other.fd_ = -1;
  }
  return *this;
}

Fd::~Fd() {
  if (fd_ >= 0) ::close(fd_);
}

void Fd::reset(int fd) {
  if (fd_ >= 0 && fd_ != fd) ::close(fd_);
  fd_ = fd;
}

int Fd::release() {
  int fd = fd_;
  fd_ = -1;
  return fd;
}

int Fd::close() {
  if (fd_ < 0) {
    errno = EBADF;
    return -1;
  }
  int rc = ::close(fd_);
  fd_ = -1;
  return rc;
}

int Fd::dup() const {
  if (fd_ < 0) return -1;
  return ::fcntl(fd_, F_DUPFD_CLOEXEC, 0);
}

bool Fd::NonBlock() { return fd_ >= 0 && NonBlockMode(fd_); }

namespace {

bool setStatusFlag(int fd, int flag, bool on) {
  int flags = ::fcntl(fd, F_GETFL);
  if (flags < 0) return false;
  flags = on ? (flags | flag) : (flags & ~flag);
  return ::fcntl(fd, F_SETFL, flags) == 0;
}

}  // namespace

bool NonBlockMode(int fd) { return setStatusFlag(fd, O_NONBLOCK, true); }

bool BlockMode(int fd) { return setStatusFlag(fd, O_NONBLOCK, false); }

bool SetCloexec(int fd, bool on) {
  int flags = ::fcntl(fd, F_GETFD);
  if (flags < 0) flags = 0;
  flags = on ? (flags | FD_CLOEXEC) : (flags & ~FD_CLOEXEC);
  return ::fcntl(fd, F_SETFD, flags) != 0;
}
