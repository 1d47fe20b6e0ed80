#include "hardware/hdlc.h"

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <unistd.h>

#include <iostream>
#include <memory>
#include <sstream>

#include "hardware/hw_mux.h"
#include "platform/drv.h"
#include "platform/mcc_records.h"
#include "platform/sysroot.h"
#include "runtime/ext_out.h"
#include "runtime/fd.h"
#include "runtime/traces.h"

namespace {

// Where callbacks go while no owner is bound: nowhere.
class Stub : public HDLC::Notify {
 public:
  void on_hdlc_receive(Packet&) override {}
  void on_hdlc_error(Cause::Type) override {}
  void on_hdlc_ready() override {}
};

HDLC::Notify* stub() {
  static Stub s;
  return &s;
}

// The driver's mode for a channel mode; -1 (refused by the driver) for a
// mode that has none.
std::int32_t driverMode(int mode) {
  switch (mode) {
    case 0:
      return mcc::ss7;
    case 1:
      return mcc::hdlc;
    case 2:
      return mcc::bri;
    default:
      return -1;
  }
}

}  // namespace

ssize_t ReadFrame(int fd, Packet& frame) {
  if (!frame.try_renew()) {
    static unsigned char scratch[packet_max_size];
    return ::read(fd, scratch, sizeof scratch);
  }
  const ssize_t n = ::read(fd, frame.put(0), frame.tailroom());
  if (n > 0) frame.put(static_cast<unsigned>(n));
  return n;
}

Fd AllocateMccChannel(const std::string& header, std::int32_t mode, std::int32_t txThreshold, int& channel) {
  const auto fail = [&header](const char* what) {
    const int err = errno;
    std::ostringstream line;
    line << header << what << ::strerror(err) << "\n";
    std::cerr << line.str() << std::flush;
    return Fd();
  };
  Fd fd(drv::open(sysroot::mcc_ctl, O_RDWR | O_NONBLOCK | O_CLOEXEC));
  if (!fd.valid()) return fail("fail to open MCC device: ");
  mcc::MccAllocate rec{mode, 512, 0, 1, txThreshold};
  if (drv::ioctl_ptr(fd.get(), MCC_ALLOCATE, &rec, sizeof rec) < 0) return fail("MCC_ALLOCATE fail: ");
  channel = drv::ioctl_val(fd.get(), MCC_TIMESLOT, 0);
  if (channel < 0) return fail("MCC_TIMESLOT fail: ");
  return fd;
}

HDLC::HDLC() : notify_(stub()), life_(std::make_shared<char>()) { writeError_.Bind(this, &HDLC::OnWriteError); }

HDLC::~HDLC() { releasePaths(); }

void HDLC::bind(Notify* notify) { notify_ = notify ? notify : stub(); }

void HDLC::unbind() { notify_ = stub(); }

void HDLC::PutHeader(std::ostream& s) const { s << "hdlc" << " [" << trunk_ << "/" << timeslot_ << "]: "; }

bool HDLC::activate() {
  deactivate();
  counters_ = Counters();
  writeError_.Deactivate();  // a failure of the channel before this one is no news now

  std::ostringstream header;
  header << ext::header(this);
  int m;
  Fd fd = AllocateMccChannel(header.str(), driverMode(mode_), 4, m);
  if (!fd.valid()) return false;

  // The controller's output to the line, then the line to its input.
  HwMux& mux = HwMux::instance();
  channel_ = m;
  drives_ = mode_ == 2 ? transmit_ : tdm_;
  mux.Connect(m, drives_);
  mux.Connect(tdm_, m);

  event_.Bind("HDLC::OnEvent", &HDLC::on_event, this);
  event_.Schedule(fd, POLLIN | POLLOUT);  // the event keeps its own descriptor
  ready_ = false;
  if (traces.signalling_hdlc) std::clog << ext::header(this) << "activated" << std::endl;
  return true;
}

void HDLC::redrive() {
  if (channel_ >= 0) HwMux::instance().Connect(channel_, drives_);
}

void HDLC::releasePaths() {
  if (channel_ < 0) return;
  HwMux& mux = HwMux::instance();
  mux.Release(channel_);
  mux.Release(drives_, channel_);
  channel_ = drives_ = -1;
}

void HDLC::deactivate() {
  releasePaths();
  event_.Release();
  rx_ = Packet();
  ready_ = false;
  if (traces.signalling_hdlc) std::clog << ext::header(this) << "deactivated" << std::endl;
}

void HDLC::on_event(int, short revents) {
  const std::weak_ptr<char> alive = life_;
  // A driver that has gone reports hang-up or error rather than readable;
  // the read then tells which.
  if (revents & (POLLIN | POLLHUP | POLLERR)) {
    do_read();
    if (alive.expired()) return;
  }
  if ((revents & POLLOUT) && !ready_ && is_open()) {
    ready_ = true;
    event_.Schedule(event_.fd(), POLLIN);
    notify_->on_hdlc_ready();
  }
}

void HDLC::do_read() {
  if (traces.signalling_hdlc) std::clog << ext::header(this) << "do_read" << std::endl;
  if (!is_open()) {
    std::clog << ext::header(this) << "do_read: !m_event.IsActive()" << std::endl;
    return;
  }
  const std::weak_ptr<char> alive = life_;
  for (;;) {
    const int fd = event_.fd().get();
    // The frame is a local: a receiver may destroy the channel, and the
    // frame must outlive its call.
    Packet frame = rx_;
    rx_ = Packet();
    const ssize_t n = ReadFrame(fd, frame);
    if (n > 0 && frame.is_null()) {
      std::clog << ext::header(this) << "rx frame of " << n << " octets dropped: no free packet" << std::endl;
      continue;
    }
    if (n > 0) {
      if (traces.signalling_hdlc) std::clog << "HDLC[" << trunk_ << "]: rx " << frame.text() << std::endl;
      ++counters_.received;
      notify_->on_hdlc_receive(frame);
      if (alive.expired() || !is_open()) return;  // the owner closed (or destroyed) the channel
      // Kept only when no layer holds the frame: a layer's copy must stay
      // its own, or changing it would cost a copy.
      if (frame.get() && frame.get()->references() == 1) rx_ = frame;
      continue;
    }
    // A driver never hands over an empty frame: a read of nothing means its
    // end has gone, which is an error like any other, not "try later".
    const int err = n == 0 ? EPIPE : errno;
    if (err == EAGAIN) {
      rx_ = frame;  // for the next frame
      return;
    }
    std::cerr << ext::header(this) << "read error: " << ::strerror(err) << std::endl;
    deactivate();
    notify_->on_hdlc_error(Notify::Cause::read_error);
    return;
  }
}

bool HDLC::hdlc_transmit(Packet& frame) {
  if (frame.length() == 0) return true;
  if (!is_open()) {
    ++counters_.discarded;
    return false;
  }
  if (traces.signalling_hdlc) std::clog << "HDLC[" << trunk_ << "]: tx " << frame.text() << std::endl;
  for (;;) {
    if (::write(event_.fd().get(), frame.data(), frame.length()) >= 0) {
      ++counters_.sent;
      return true;
    }
    const int err = errno;
    if (err == EINTR) continue;
    if (err == EAGAIN) {
      // Full: the owner keeps the frame until on_hdlc_ready.
      ready_ = false;
      event_.Schedule(event_.fd(), POLLIN | POLLOUT);
      return false;
    }
    // Anything else will not go away by waiting: no readiness would ever
    // come, so the channel is closed and its owner told.
    ++counters_.errors;
    std::cerr << ext::header(this) << "write error: " << ::strerror(err) << std::endl;
    deactivate();
    writeError_.Activate();
    return false;
  }
}

void HDLC::OnWriteError() {
  writeError_.Deactivate();
  notify_->on_hdlc_error(Notify::Cause::write_error);
}
