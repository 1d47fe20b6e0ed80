#include "control/strm_protocol.h"

#include <errno.h>
#include <linux/sockios.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cstring>
#include <iostream>

#include "runtime/ext_out.h"
#include "runtime/multiplexer.h"
#include "runtime/mux_clock.h"

int strm_protocol_debug = 0;

namespace {

// Wait for room, per packet, before the connection is given up.
constexpr std::int32_t write_deadline_ms = 1000;

int sockopt_int(int fd, int option) {
  int value = 0;
  socklen_t len = sizeof value;
  if (fd < 0 || ::getsockopt(fd, SOL_SOCKET, option, &value, &len) != 0) return 0;
  return value;
}

int ioctl_int(int fd, unsigned long request) {
  int value = 0;
  if (fd < 0 || ::ioctl(fd, request, &value) != 0) return 0;
  return value;
}

}  // namespace

StrmProtocol::StrmProtocol() { init(); }

StrmProtocol::StrmProtocol(const Fd& fd) {
  init();
  attach(fd);
}

StrmProtocol::~StrmProtocol() {
  if (strm_protocol_debug)
    std::clog << "Enter StrmProtocol::~StrmProtocol()"
              << " this=" << std::hex << static_cast<const void*>(this) << std::dec << std::endl;
  release();
}

void StrmProtocol::init() {
  read_event_.Bind("StrmProtocol::on_event", &StrmProtocol::on_event, this);
  outq_reports_free_ = false;
  debug_ = false;
  write_failures_ = 0;
}

void StrmProtocol::attach(const Fd& fd) {
  if (&fd != &fd_) {
    release();
    fd_ = fd;
  }
  // Nothing has been written yet, so a kernel that reports queued octets
  // reads 0 here; one that reports free room reads more.
  outq_reports_free_ = outq_space() > 0;
}

void StrmProtocol::release() {
  held_.clear();
  if (!fd_.valid()) return;
  read_event_.Release();
  fd_.close();
}

int StrmProtocol::sendbuf_space() const { return sockopt_int(fd_.get(), SO_SNDBUF); }
int StrmProtocol::recvbuf_space() const { return sockopt_int(fd_.get(), SO_RCVBUF); }
int StrmProtocol::inq_space() const { return ioctl_int(fd_.get(), SIOCINQ); }
int StrmProtocol::outq_space() const { return ioctl_int(fd_.get(), SIOCOUTQ); }

int StrmProtocol::free_space() const { return outq_reports_free_ ? outq_space() : sendbuf_space() - outq_space(); }

void StrmProtocol::local_prepare_head(Packet& p) { p.reserve_head(0); }

void StrmProtocol::local_prepare_tail(Packet& p) { p.reserve_tail(0); }

void StrmProtocol::local_activate() {
  if (!fd_.valid()) {
    on_deactivate(Protocol_status(new Protocol_status_error(this, "fd not attached")));
    return;
  }
  read_event_.Schedule(fd_, POLLIN);
  on_activate();
}

// Answers still held go out before the socket closes: a user may answer
// and then disconnect.
void StrmProtocol::local_deactivate() {
  flush(false);
  release();
  on_deactivate(Protocol_status(new Protocol_status_success(this, "success")));
}

void StrmProtocol::PutHeader(std::ostream& s) const { s << "SockStream[" << connection_name_ << "]: "; }

void StrmProtocol::put_queues(std::ostream& s) const {
  s << ", sendbuf=" << sendbuf_space() << ", recvbuf=" << recvbuf_space() << ", free=" << free_space()
    << ", inq=" << inq_space() << ", outq=" << outq_space();
}

void StrmProtocol::on_error(const std::string& text) {
  release();
  on_deactivate(Protocol_status(new Protocol_status_error(this, text)));
}

void StrmProtocol::on_event(int, short revents) {
  if (revents & POLLERR) {
    on_error(std::string("pollerr: ") + std::strerror(errno));
  } else if (revents & POLLHUP) {
    on_error(std::string("pollhup: ") + std::strerror(errno));
  } else if (revents & POLLIN) {
    read_socket();
  }
}

void StrmProtocol::read_socket() {
  Packet p;
  if (!p.try_reserve_head(0)) {
    // No buffer: the octets are read and dropped (the framing above
    // resynchronises) rather than left to wake every pass of the loop.
    static char scratch[4096];
    const ssize_t n = ::recv(fd_.get(), scratch, sizeof scratch, MSG_DONTWAIT | MSG_NOSIGNAL);
    if (n > 0)
      std::cerr << ext::header(this) << "receive drop: packet pool empty, " << n << " octets lost" << std::endl;
    if (n == 0 || (n < 0 && errno != EAGAIN)) on_error(std::string("read error: ") + std::strerror(errno));
    return;
  }
  read_measure_.begin();
  const ssize_t n = ::recv(fd_.get(), p.put(0), p.tailroom(), MSG_DONTWAIT | MSG_NOSIGNAL);
  const int err = errno;
  read_measure_.end();
  if (n < 0) {
    if (err != EAGAIN) on_error(std::string("read error: ") + std::strerror(err));
    return;
  }
  if (n == 0) {
    on_error(std::string("read error: ") + std::strerror(err));
    return;
  }
  if (debug_) {
    std::clog << ext::header(this) << "receive success";
    put_queues(std::clog);
    std::clog << std::endl;
  }
  p.put(static_cast<unsigned>(n));
  receiving_ = true;
  on_message(p);
  receiving_ = false;
  flush(true);
}

void StrmProtocol::message(Packet& p) {
  if (p.length() == 0) {
    write_measure_.begin();
    write_measure_.end();
    return;
  }
  held_.push_back(p);
  if (!receiving_ || held_.size() >= max_held) flush(true);
}

bool StrmProtocol::flush(bool report) {
  if (held_.empty()) return true;
  write_measure_.begin();
  const std::uint32_t start = Mux::milliseconds();
  iovec parts[max_held];
  int count = 0;
  for (const Packet& h : held_) parts[count++] = {const_cast<unsigned char*>(h.data()), h.length()};
  int first = 0;
  bool timeout = false;
  int err = 0;
  while (first < count) {
    ssize_t n = ::writev(fd_.get(), parts + first, count - first);
    if (n != -1) {
      while (first < count && static_cast<std::size_t>(n) >= parts[first].iov_len)
        n -= static_cast<ssize_t>(parts[first++].iov_len);
      if (first < count) {
        parts[first].iov_base = static_cast<char*>(parts[first].iov_base) + n;
        parts[first].iov_len -= static_cast<std::size_t>(n);
      }
      continue;
    }
    if (errno == EINTR) continue;
    if (errno != EAGAIN) {
      err = errno;
      break;
    }
    const std::int32_t remain = write_deadline_ms - static_cast<std::int32_t>(Mux::milliseconds() - start);
    if (remain <= 0) {
      timeout = true;
      break;
    }
    pollfd entry{fd_.get(), POLLOUT, 0};
    multiplexer.resetWD();
    const int ready = ::poll(&entry, 1, remain);
    const int pollErr = errno;
    multiplexer.resetWD();
    if (ready == 1 || (ready == -1 && pollErr == EINTR)) continue;
    timeout = true;
    break;
  }
  held_.clear();
  if (timeout) {
    write_measure_.end();
    std::cerr << ext::header(this) << "write timeout";
    put_queues(std::cerr);
    std::cerr << std::endl;
    ++write_failures_;
    if (report) on_error("write timeout");
    return false;
  }
  if (first < count) {
    write_measure_.end();
    std::cerr << ext::header(this) << "write error";
    put_queues(std::cerr);
    std::cerr << ", error=" << std::strerror(err) << std::endl;
    ++write_failures_;
    if (report) on_error(std::string("write error: ") + std::strerror(err));
    return false;
  }
  if (debug_) {
    std::clog << ext::header(this) << "write success";
    put_queues(std::clog);
    std::clog << std::endl;
  }
  write_measure_.end();
  return true;
}
