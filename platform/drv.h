#pragma once
// The device seam: every open of a board device node and every driver
// request goes through here, so that the same daemon code runs on the board
// (requests go to the kernel) and on the simulated board (requests are
// answered in-process). read/write/poll/close stay plain system calls: the
// simulated board hands out real descriptors.
#include <sys/types.h>

#include <cstddef>

struct ifreq;

namespace drv {

// Opens a fixed path of the sysroot table (given as the board names it, e.g.
// sysroot::hal). Returns a descriptor or -1 with errno set, like open(2).
int open(const char* path, int flags);

// A driver request whose argument is a record in memory.
int ioctl_ptr(int fd, unsigned long code, void* rec, std::size_t size);

// A driver request whose argument is the number itself ("by value").
int ioctl_val(int fd, unsigned long code, unsigned long value);

// A request about a network interface, made on a socket of the caller's
// (SIOCGIFINDEX, SIOCGIFFLAGS, SIOCSIFFLAGS, SIOCWANDEV on the board's
// "hdlc%d" interfaces). The board build passes it to the kernel.
int netif_ioctl(int sock, unsigned long request, ifreq* ifr);

// After a read of a driver's record that brought nothing (n <= 0, errno as
// the read left it) in a pass whose poll reported `revents`: why the
// descriptor is to be closed, or null when the read is merely to be tried
// again. A driver never hands over an empty record, so nothing read means
// its end has gone; and one that has gone reports an error or hang-up,
// readable or not, on every poll: left open, the loop would spin on it.
const char* readLost(ssize_t n, short revents);

// What a build puts behind the seam. The board build uses the kernel; the
// simulated board installs its own at start.
class Backend {
 public:
  virtual ~Backend() = default;
  virtual int open(const char* path, int flags) = 0;
  virtual int ioctl_ptr(int fd, unsigned long code, void* rec, std::size_t size) = 0;
  virtual int ioctl_val(int fd, unsigned long code, unsigned long value) = 0;
  // The kernel's answer unless a backend models the interface.
  virtual int netif_ioctl(int sock, unsigned long request, ifreq* ifr);
};

// Replaces the backend (nullptr restores the kernel one). Not owned.
void install(Backend* backend);

// The kernel backend, for a simulated device that falls back to it.
Backend& kernel();

}  // namespace drv
