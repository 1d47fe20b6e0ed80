#include "platform/drv.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "platform/sysroot.h"

namespace drv {
namespace {

class KernelBackend : public Backend {
 public:
  int open(const char* path, int flags) override {
    const std::string real = sysroot::path(path);
    return ::open(real.c_str(), flags, 0644);
  }
  int ioctl_ptr(int fd, unsigned long code, void* rec, std::size_t) override {
    return ::ioctl(fd, code, rec);
  }
  int ioctl_val(int fd, unsigned long code, unsigned long value) override {
    return ::ioctl(fd, code, value);
  }
};

KernelBackend kernelBackend;
Backend* current = &kernelBackend;

}  // namespace

int Backend::netif_ioctl(int sock, unsigned long request, ifreq* ifr) { return ::ioctl(sock, request, ifr); }

Backend& kernel() { return kernelBackend; }

void install(Backend* backend) { current = backend ? backend : &kernelBackend; }

int open(const char* path, int flags) { return current->open(path, flags); }

int ioctl_ptr(int fd, unsigned long code, void* rec, std::size_t size) {
  return current->ioctl_ptr(fd, code, rec, size);
}

int ioctl_val(int fd, unsigned long code, unsigned long value) {
  return current->ioctl_val(fd, code, value);
}

int netif_ioctl(int sock, unsigned long request, ifreq* ifr) { return current->netif_ioctl(sock, request, ifr); }

const char* readLost(ssize_t n, short revents) {
  const int err = n == 0 ? EPIPE : errno;
  if (err != EAGAIN && err != EINTR) return std::strerror(err);
  return revents & (POLLERR | POLLHUP) ? "error or hang-up" : nullptr;
}

}  // namespace drv
