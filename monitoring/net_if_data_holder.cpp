#include "monitoring/net_if_data_holder.h"

#include <net/if.h>
#include <sys/ioctl.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>
#include <iostream>

#include "runtime/fd.h"
#include "runtime/traces.h"

static_assert(SIOCGIFNAME == 0x8910 && SIOCGIFFLAGS == 0x8913, "interface requests of the Linux socket layer");

namespace {

constexpr int kSamples = 3;
constexpr int kPacketFamily = 17;  // AF_PACKET
constexpr int kRawType = 3;        // SOCK_RAW
constexpr int kProtocol = 255;
constexpr unsigned kRunning = 0x40;  // IFF_RUNNING

void trace(const char* what, int error) {
  if (!traces.monitoring_internal) return;
  std::clog << what << " errno=\"" << std::strerror(error) << "\"" << std::endl;
}

}  // namespace

NetIfDataHolder::NetIfDataHolder(int index, const std::string& name) : index_(index), name_(name) {}

bool NetIfDataHolder::updateNetIf() {
  // Descriptor 0 is a descriptor like any other: only a negative result is
  // a failure (the socket would otherwise stay open for good).
  Fd sock(::socket(kPacketFamily, kRawType | SOCK_CLOEXEC, kProtocol));
  if (!sock.valid()) {
    trace("Error open socket: ", errno);
    return false;
  }
  ifreq request;
  std::memset(&request, 0, sizeof request);
  request.ifr_ifindex = index_;
  if (::ioctl(sock.get(), SIOCGIFNAME, &request) < 0 || ::ioctl(sock.get(), SIOCGIFFLAGS, &request) < 0) {
    trace("Error ioctl socket: ", errno);
    return false;
  }
  const unsigned flags = static_cast<unsigned short>(request.ifr_flags);
  return setNetIfStatus((flags & kRunning) ? 1 : 0);
}

bool NetIfDataHolder::setNetIfStatus(int sample) {
  samples_.push_back(sample);
  while (samples_.size() > static_cast<std::size_t>(kSamples)) samples_.pop_front();
  int sum = 0;
  for (int s : samples_) sum += s;
  const int before = running_;
  running_ = sum > 1 ? 1 : 0;
  operStatus_ = adminStatus_ = running_ == 1 ? 1 : 2;
  return running_ != before;
}
