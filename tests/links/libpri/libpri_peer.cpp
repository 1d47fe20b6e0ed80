#include "tests/links/libpri/libpri_peer.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cstring>
#include <stdexcept>

#include "runtime/mux_clock.h"

namespace {

// libpri's frames carry two octets of FCS, which the channel device
// computes; here they are placeholders.
constexpr unsigned fcs_octets = 2;

void keep_error(struct pri*, char* text) { LibpriPeer::errors().push_back(text); }
void keep_message(struct pri*, char* text) { LibpriPeer::messages().push_back(text); }

bool readable(int fd) {
  pollfd p{fd, POLLIN, 0};
  return ::poll(&p, 1, 0) == 1 && (p.revents & POLLIN);
}

}  // namespace

std::vector<std::string>& LibpriPeer::errors() {
  static std::vector<std::string> e;
  return e;
}

std::vector<std::string>& LibpriPeer::messages() {
  static std::vector<std::string> m;
  return m;
}

LibpriPeer::LibpriPeer(linktest::LinkEnd& end, int nodetype, int switchtype, Access access) : end_(end) {
  int sv[2];
  if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, sv) != 0)
    throw std::runtime_error("socketpair");
  libpriFd_ = Fd(sv[0]);
  adapterFd_ = Fd(sv[1]);
  pri_set_error(keep_error);
  pri_set_message(keep_message);
  pri_ = access == basic ? pri_new_bri(libpriFd_.get(), 0, nodetype, switchtype)
                         : pri_new(libpriFd_.get(), nodetype, switchtype);
  if (!pri_) throw std::runtime_error("pri_new");
  // libpri has no way to free a controller: keep every one reachable, so
  // that the leak checker does not report them.
  static auto* controllers = new std::vector<struct pri*>;  // never destroyed
  controllers->push_back(pri_);
  libpriEvent_.Bind("LibpriPeer::OnLibpriSide", &LibpriPeer::OnLibpriSide, this);
  libpriEvent_.Schedule(libpriFd_, POLLIN);
  adapterEvent_.Bind("LibpriPeer::OnAdapterSide", &LibpriPeer::OnAdapterSide, this);
  adapterEvent_.Schedule(adapterFd_, POLLIN);
  end_.bind([this](Packet& p) { to_libpri(p); });
  rearm();
}

LibpriPeer::~LibpriPeer() {
  end_.bind(nullptr, nullptr);
  libpriEvent_.Release();
  adapterEvent_.Release();
  timer_.reset();
  // libpri keeps its controller until the process ends; no timer or event
  // of ours refers to it any more.
}

bool LibpriPeer::busy() const { return readable(libpriFd_.get()) || readable(adapterFd_.get()); }

void LibpriPeer::to_libpri(Packet& frame) {
  std::vector<unsigned char> b(frame.data(), frame.data() + frame.length());
  b.resize(b.size() + fcs_octets, 0);
  if (::write(adapterFd_.get(), b.data(), b.size()) != static_cast<ssize_t>(b.size()))
    errors().push_back("adapter: write to libpri failed");
}

void LibpriPeer::OnAdapterSide(int fd, short revents) {
  if (!(revents & POLLIN)) return;
  unsigned char buf[1024];
  for (;;) {
    const ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0) return;
    if (n < static_cast<ssize_t>(fcs_octets)) {
      errors().push_back("adapter: frame from libpri without FCS octets");
      continue;
    }
    Packet p = linktest::packet_of(linktest::Bytes(buf, buf + n - fcs_octets));
    end_.hdlc_transmit(p);
  }
}

void LibpriPeer::OnLibpriSide(int fd, short revents) {
  if (!(revents & POLLIN)) return;
  while (readable(fd)) handle(pri_check_event(pri_));
  rearm();
}

void LibpriPeer::OnTimer() {
  // Every timer due now, each possibly with an event.
  for (int i = 0; i < 100; ++i) {
    struct timeval* next = pri_schedule_next(pri_);
    if (!next) break;
    struct timeval now;
    gettimeofday(&now, nullptr);
    if (timercmp(next, &now, >)) break;
    handle(pri_schedule_run(pri_));
  }
  rearm();
}

void LibpriPeer::rearm() {
  struct timeval* next = pri_schedule_next(pri_);
  if (!next) {
    timer_.reset();
    return;
  }
  struct timeval now;
  gettimeofday(&now, nullptr);
  long long us = (static_cast<long long>(next->tv_sec) - now.tv_sec) * 1000000LL + (next->tv_usec - now.tv_usec);
  if (us < 0) us = 0;
  timer_.set(static_cast<unsigned>((us + 999) / 1000), &LibpriPeer::OnTimer, this);
}

void LibpriPeer::handle(pri_event* e) {
  if (!e) return;
  if (e->e == PRI_EVENT_DCHAN_UP) ++up;
  if (e->e == PRI_EVENT_DCHAN_DOWN) ++down;
  if (on_event) on_event(e);
}
