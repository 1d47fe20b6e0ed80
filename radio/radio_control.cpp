#include "radio/radio_control.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cstdio>
#include <iostream>
#include <list>

#include "platform/drv.h"
#include "platform/sysroot.h"
#include "runtime/mux_clock.h"
#include "runtime/mux_timeval.h"
#include "runtime/net.h"

namespace RTPSignalling {

const char* GetRtpExtDevName() { return sysroot::rtp_ext; }

IRadioController::~IRadioController() = default;
bool IRadioController::SendASNToChan(const TERM::RadioStatus&) { return false; }
bool IRadioController::SendASNToChan(const TERM::RadioModifier&) { return false; }
bool IRadioController::GetSQU() { return false; }

IRadioIntController::~IRadioIntController() = default;
void IRadioIntController::OnRtpExtEvent(int, short) {}
unsigned long IRadioIntController::ProcessRadioStatus(unsigned long, unsigned long interval) { return interval; }

IRadioControlNotify::~IRadioControlNotify() = default;
void IRadioControlNotify::RadioControlNotify(const TERM::RtpRadioRequest&) {}
void IRadioControlNotify::RadioControlNotify(int) {}

RadioControl::RadioControl(int channel, const rtp_ext_attach_session_params& attach, const rtp_ext_init_params& init)
    : type_(own_session), ext_attach_(attach), ext_init_(init), channel_(channel) {
  Init(own_session);
}

RadioControl::RadioControl(const rtp_ext_init_params& init) : type_(unjoined), ext_init_(init) { Init(unjoined); }

RadioControl::RadioControl(int channel, Fd rtp, const rtp_attach_session_params& attach)
    : type_(attached_rtp), rtp_fd_(std::move(rtp)), rtp_attach_(attach), channel_(channel) {
  Init(attached_rtp);
}

// Members go in reverse order: the timer and the watch before the
// descriptors.
RadioControl::~RadioControl() = default;

bool RadioControl::SendASNToChan(const TERM::RadioStatus&) { return false; }
bool RadioControl::SendASNToChan(const TERM::RadioModifier&) { return false; }
bool RadioControl::GetSQU() { return false; }

void RadioControl::Init(RadioControlType) {
  last_activity_ms_ = Mux::milliseconds();
  status_interval_ = 1000;
  filter_on_ = false;
  notify_ = nullptr;
  timer_enabled_ = false;
  trace_ = false;
  // Bound before the session opens, which schedules the watch.
  if (type_ != attached_rtp) ext_event_.Bind("RadioControl::OnRtpExtEvent", &RadioControl::OnSessionEvent, this);
  RtpExtStart(true);

  std::list<INet4::Addr> addrs;
  Net::ifconfig(addrs, Net::ifconfig_private);
  if (addrs.empty())
    local_addr_.Assign("127.0.0.1", nullptr);
  else
    local_addr_ = addrs.front();
}

Fd RadioControl::OpenSession(bool attach) {
  Fd fd(drv::open(GetRtpExtDevName(), O_RDWR | O_NONBLOCK | O_CLOEXEC));
  if (!fd.valid()) {
    LogError("create rtp_ext session fail !!!");
    return Fd();
  }
  if (drv::ioctl_ptr(fd.get(), rtp_ext::INIT_SESSION, &ext_init_, sizeof ext_init_) < 0) {
    LogError("init rtp_ext session fail !!!");
    return Fd();
  }
  if (attach && drv::ioctl_ptr(fd.get(), rtp_ext::ATTACH_SESSION, &ext_attach_, sizeof ext_attach_) < 0) {
    LogError("attach rtp_ext session fail !!!");
    return Fd();
  }
  return fd;
}

bool RadioControl::RtpExtStart(bool open) {
  if (type_ == attached_rtp) {
    rtp_attached_ = drv::ioctl_ptr(rtp_fd_.get(), rtp_ext::RTP_ATTACH_SESSION, &rtp_attach_, sizeof rtp_attach_) >= 0;
    if (!rtp_attached_) LogError("attach rtp session fail !!!");
    return rtp_attached_;
  }
  if (type_ == unjoined && !open) return true;
  Fd fd = OpenSession(type_ == own_session);
  if (!fd.valid()) return false;
  ext_fd_ = std::move(fd);
  ext_event_.Schedule(ext_fd_, POLLIN);
  // A new session (after a codec change) knows nothing of the filter the
  // old one had; the radio's access rule must not lapse with it.
  if (filter_on_) SetFilter();
  return true;
}

bool RadioControl::RtpExtStop() {
  if (type_ != own_session || !ext_fd_.valid()) return true;
  // The driver takes no argument; the attach record goes along as it always has.
  if (drv::ioctl_ptr(ext_fd_.get(), rtp_ext::DETACH_SESSION, &ext_attach_, sizeof ext_attach_) < 0)
    LogError("detach rtp_ext session fail !!!");
  ext_fd_.close();
  ext_event_.Release();
  return true;
}

void RadioControl::SetRtpSession(const Fd& session) {
  if (type_ == own_session)
    ext_attach_.fd_rtp = session.get();
  else if (type_ == attached_rtp)
    rtp_fd_ = session;
}

void RadioControl::SetTimerEnable(bool on) {
  timer_enabled_ = on;
  if (on)
    SetTimer(status_interval_);
  else
    status_timer_.reset();
}

void RadioControl::SetTimerInterval(unsigned long ms) { status_interval_ = static_cast<std::uint32_t>(ms); }

void RadioControl::SetTimer(unsigned long ms) {
  status_timer_.set(static_cast<unsigned>(ms), &RadioControl::OnProcessStatus, this);
}

void RadioControl::OnProcessStatus(Timer*) {
  const std::uint32_t interval = status_interval_;
  const std::uint32_t now = Mux::milliseconds();
  last_activity_ms_ = now;
  const unsigned long next = ProcessRadioStatus(now, interval);
  // A step may have switched the timer off.
  if (timer_enabled_) SetTimer(next);
}

bool RadioControl::SetFilter() {
  if (drv::ioctl_ptr(ext_fd_.get(), rtp_ext::SET_FILTER, &filter_, sizeof filter_) >= 0) return true;
  LogError("set filer rtp_ext session fail !!!");
  return false;
}

// Without a session of its own (attached_rtp, or after a failed start)
// there is no driver to tell; the filter is still remembered.
int RadioControl::UpdateAccess(bool on, const in_addr& addr) {
  if (on && addr.s_addr != INADDR_ANY) {
    if (filter_on_ && filter_.filter_addr == addr.s_addr) return 0;
    filter_.filter_addr = addr.s_addr;
    filter_.zero = 0;
    filter_on_ = true;
    if (ext_fd_.valid()) SetFilter();
  } else if (filter_on_) {
    filter_ = rtp_ext_filter{};
    filter_on_ = false;
    if (ext_fd_.valid() && drv::ioctl_ptr(ext_fd_.get(), rtp_ext::RESET_FILTER, &filter_, sizeof filter_) < 0)
      LogError("reset filer rtp_ext session fail !!!");
  }
  return 0;
}

const std::string& RadioControl::GetPrefix() {
  Mux::timeval tv;
  Mux::gettimeval(tv);
  const std::string time = Mux::timevaltostring(tv);
  char text[255] = {};
  if (type_ == unjoined)
    std::snprintf(text, sizeof text - 1, "rtp_ext %s:", time.c_str());
  else
    std::snprintf(text, sizeof text - 1, "rtp_ext[%lu] %s:", static_cast<unsigned long>(channel_), time.c_str());
  prefix_ = text;
  return prefix_;
}

ssize_t RadioControl::ReadFromChan(unsigned char* buf) {
  // A refused request must not lend the previous packet's origin.
  packet_info_ = rtp_ext_packet_info{};
  const int info = drv::ioctl_ptr(ext_fd_.get(), rtp_ext::PACKET_INFO, &packet_info_, sizeof packet_info_);
  if (info > 0)
    ++info_requests_;
  else if (info < 0)
    info_errno_ = errno;
  const ssize_t n = ::read(ext_fd_.get(), buf, rtp_ext::max_payload);
  if (n > 0)
    rx_bytes_ += static_cast<std::uint32_t>(n);
  else if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK)
    read_errno_ = errno;
  return n;
}

int RadioControl::WriteToChan(const unsigned char* buf, int n) {
  const ssize_t w = ::write(ext_fd_.get(), buf, static_cast<std::size_t>(n));
  if (w > 0) {
    tx_bytes_ += static_cast<std::uint32_t>(w);
    ++tx_packets_;
  } else if (w < 0) {
    write_errno_ = errno;
  }
  return static_cast<int>(w);
}

std::uint32_t RadioControl::Elapsed(std::uint32_t now, std::uint32_t t) {
  const std::int32_t d = static_cast<std::int32_t>(now - t);
  return d > 0 ? static_cast<std::uint32_t>(d) : 0;
}

void RadioControl::LogError(const std::string& text) {
  const std::string line = GetPrefix() + text + "\n";
  std::cerr << line << std::flush;
}

void RadioControl::LogTrace(const std::string& text) {
  const std::string line = GetPrefix() + text + "\n";
  std::clog << line << std::flush;
}

void RadioControl::OnSessionEvent(int fd, short events) {
  OnRtpExtEvent(fd, events);
  // A driver that has gone would wake the loop on every pass.
  if ((events & (POLLHUP | POLLERR | POLLNVAL)) && ext_event_.fd().valid()) {
    LogError("rtp_ext session lost");
    ext_event_.Release();
  }
}

void RadioControl::OnRtpExtEvent(int, short events) {
  if ((events & POLLIN) && trace_) LogTrace("receive extension packet(s)!");
}

unsigned long RadioControl::ProcessRadioStatus(unsigned long, unsigned long interval) { return interval; }

}  // namespace RTPSignalling
