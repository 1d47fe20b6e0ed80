#include "hardware/e1_ctl.h"

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <unistd.h>

#include <iostream>

#include "hardware/device_names.h"
#include "platform/drv.h"
#include "platform/maintenance_records.h"
#include "platform/sysroot.h"
#include "runtime/ext_out.h"

namespace {

constexpr std::uint32_t alignment_timeslot = 0;
constexpr std::uint32_t signalling_timeslot = 16;

bool carriesChannelSignalling(std::uint32_t ts) { return ts != alignment_timeslot && ts != signalling_timeslot; }

cas::cas_channel channelOf(std::uint32_t trunk, std::uint32_t timeslot) {
  cas::cas_channel c{};
  c.trunk = trunk;
  c.timeslot = timeslot;
  return c;
}

}  // namespace

E1Ctl& E1Ctl::instance() {
  static E1Ctl e1;
  return e1;
}

E1Ctl::~E1Ctl() {
  if (fd_ >= 0) ::close(fd_);
}

void E1Ctl::PutHeader(std::ostream& s) const { s << "E1: "; }

bool E1Ctl::IsOpen() {
  if (fd_ >= 0) return true;
  fd_ = drv::open(GetMaintenance(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
  return fd_ >= 0;
}

void E1Ctl::OnConnect() {
  SendStatus();
  status_.set(status_period_ms, &E1Ctl::OnCheckStatus, this);
  tclk_ = 0;
  UpdateTclk();
  CheckOpenCas();
}

void E1Ctl::OnDisconnect() {
  for (std::uint32_t t = 0; t < trunks; ++t)
    if (casOpen_[t]) Close(channelOf(t, alignment_timeslot));
}

bool E1Ctl::OnCommand(const LGCP::Command& command) {
  switch (command.getSelection()) {
    case LGCP::Command::e_ioctl: {
      const LGCP::IoctlParams& ioctl = command.get_ioctl();
      if (ioctl.getSelection() != LGCP::IoctlParams::e_cas) {
        Error(LGCP::ErrorCause::unsupported);
        return true;
      }
      const int trunk = ioctl.get_cas().get_channel().get_path().getValue();
      const int timeslot = ioctl.get_cas().get_channel().get_timeslot().getValue();
      if (trunk < 0 || trunk >= trunks || timeslot < 0 || timeslot > 31)
        Error(LGCP::ErrorCause::invalidParams);
      else if (!CheckOpenCas())
        Error(LGCP::ErrorCause::internal);
      else {
        HandleCas(ioctl.get_cas());
        Success();
      }
      return true;
    }
    case LGCP::Command::e_trunkCfg:
      SetMode(command.get_trunkCfg());
      Success();
      return true;
    default:
      return false;
  }
}

// ---- trunk status and transmit clock ----

void E1Ctl::SendStatus() {
  if (!IsOpen()) return;
  for (int t = 0; t < trunks; ++t) {
    maint::SyncStatus rec{};
    rec.trunk = t;
    if (drv::ioctl_ptr(fd_, maint::sync_status, &rec, sizeof rec) < 0) {
      std::cerr << ext::header(this) << "synchronization status read fail, trunk = " << t
                << " cause = " << ::strerror(errno) << std::endl;
      continue;
    }
    LGCP::Signal signal;
    ACP::TrunkStatus& st = signal.select_trunkStatus();
    st.set_trunk(t);
    st.get_state().setValue(rec.state);
    st.set_slips(rec.slips);
    st.set_lossBF(rec.lossBF);
    st.set_lossCarrier(rec.lossCarrier);
    st.set_lossAIS(rec.ais);
    st.set_lossRAI(rec.rai);
    st.set_clockMaster(false);
    st.set_type(ACP::TrunkType::e1);
    SendSignal(signal);
  }
}

void E1Ctl::OnCheckStatus() {
  SendStatus();
  CheckOpenCas();
  status_.set(status_period_ms, &E1Ctl::OnCheckStatus, this);
}

void E1Ctl::SetMode(const LGCP::TrunkCfg& cfg) {
  const int trunk = cfg.get_trunk().getValue();
  if (trunk < 0) return;
  const std::uint32_t bit = trunk < 32 ? 1u << trunk : 0;
  switch (static_cast<int>(cfg.get_mode().getValue())) {
    case LGCP::TrunkMode::slave:
      tclk_ |= bit;
      break;
    case LGCP::TrunkMode::master:
      tclk_ &= ~bit;
      break;
    default:
      return;
  }
  UpdateTclk();
}

void E1Ctl::UpdateTclk() {
  if (!IsOpen()) return;
  if (drv::ioctl_val(fd_, maint::set_tclk, tclk_) < 0) {
    std::cerr << ext::header(this) << "fail to set TCLK [cause=" << ::strerror(errno) << "]" << std::endl;
    return;
  }
  std::clog << ext::header(this) << "TCLT = 0x" << std::hex << tclk_ << std::dec << std::endl;
}

void E1Ctl::select_source(int source) {
  if (!IsOpen()) return;
  if (drv::ioctl_val(fd_, maint::select_clock, static_cast<unsigned long>(source)) < 0)
    std::cerr << ext::header(this) << "fail to set clock source" << std::endl;
}

// ---- CAS ----

bool E1Ctl::CheckOpenCas() {
  if (cas_.valid()) return true;
  const int fd = drv::open(sysroot::e1_cas, O_RDWR | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  cas_.reset(fd);
  std::clog << ext::header(this) << "cas interface opened!" << std::endl;
  casEvent_.Bind("E1/Cas", &E1Ctl::OnUpdateCas, this);
  casEvent_.Schedule(cas_, POLLIN);
  return true;
}

// Records a failed driver still holds are read first; then it is closed, to
// be opened again by the status timer or the next CAS command.
void E1Ctl::OnUpdateCas(int fd, short revents) {
  if (!(revents & (POLLIN | POLLERR | POLLHUP))) return;
  cas::cas_channel rec;
  const ssize_t n = ::read(fd, &rec, sizeof rec);
  if (n == static_cast<ssize_t>(sizeof rec)) {
    SendCas(rec.trunk, rec.timeslot, rec.rx, rec.tx);
    return;
  }
  if (n > 0) return;  // a short record is dropped
  const char* lost = drv::readLost(n, revents);
  if (!lost) return;
  std::cerr << ext::header(this) << "cas interface lost: " << lost << std::endl;
  casEvent_.Release();
  cas_.close();
}

void E1Ctl::SendCas(std::uint32_t trunk, std::uint32_t timeslot, int rx, int tx) {
  LGCP::Signal signal;
  LGCP::CasSignalling& c = signal.select_cas();
  c.get_channel().set_path(trunk);
  c.get_channel().set_timeslot(timeslot);
  c.set_rx(rx);
  c.set_tx(tx);
  SendSignal(signal);
}

void E1Ctl::HandleCas(const LGCP::CasCommand& command) {
  const LGCP::CasChannel& ch = command.get_channel();
  const cas::cas_channel channel = channelOf(static_cast<std::uint32_t>(ch.get_path().getValue()),
                                             static_cast<std::uint32_t>(ch.get_timeslot().getValue()));
  const LGCP::CasCommandSignal& cmd = command.get_cmd();
  switch (cmd.getSelection()) {
    case LGCP::CasCommandSignal::e_open:
      Open(channel, cmd.get_open().getValue());
      break;
    case LGCP::CasCommandSignal::e_set:
      Open(channel, cmd.get_set().getValue());
      break;
    case LGCP::CasCommandSignal::e_close:
      Close(channel);
      break;
    case LGCP::CasCommandSignal::e_get:
      Get(channel);
      break;
    default:
      break;
  }
}

void E1Ctl::Open(const cas::cas_channel& channel, int value) {
  const std::uint32_t t = channel.trunk;
  if (t >= trunks) return;
  if (!casOpen_[t]) {
    const int rc = drv::ioctl_val(cas_.get(), cas::open_trunk, t);
    SendCas(t, alignment_timeslot, rc, 0);
    if (rc < 0) {
      std::clog << ext::header(this) << "open cas signalling on trunk(" << t << ") - fail(" << rc << ")" << std::endl;
      return;
    }
    std::clog << ext::header(this) << "open cas signalling on trunk(" << t << ") - ok" << std::endl;
    casOpen_[t] = 1;
  } else {
    SendCas(t, alignment_timeslot, 0, 0);
  }
  if (!carriesChannelSignalling(channel.timeslot)) return;
  cas::cas_switch sw{};
  sw.channel = channel;
  sw.channel.tx = static_cast<std::uint8_t>(value & 15);
  sw.off = cas::switch_on;
  const int rc = drv::ioctl_ptr(cas_.get(), cas::channel_switch, &sw, sizeof sw);
  if (rc < 0) {
    SendCas(t, channel.timeslot, rc, 0);
    return;
  }
  Get(channel);
}

void E1Ctl::Close(const cas::cas_channel& channel) {
  const std::uint32_t t = channel.trunk;
  if (t >= trunks || !casOpen_[t]) return;
  if (channel.timeslot == alignment_timeslot) {
    const int rc = drv::ioctl_val(cas_.get(), cas::close_trunk, t);
    SendCas(t, alignment_timeslot, rc == 0 ? 1 : rc, 0);
    if (rc < 0) return;
    casOpen_[t] = 0;
  }
  if (!carriesChannelSignalling(channel.timeslot)) return;
  cas::cas_switch sw{};
  sw.channel = channel;
  sw.off = cas::switch_off;
  const int rc = drv::ioctl_ptr(cas_.get(), cas::channel_switch, &sw, sizeof sw);
  if (rc < 0)
    SendCas(t, channel.timeslot, rc, 0);
  else
    SendCas(t, channel.timeslot, -1, 1);
}

void E1Ctl::Get(const cas::cas_channel& channel) {
  const std::uint32_t t = channel.trunk;
  if (t >= trunks || !casOpen_[t]) return;
  cas::cas_channel c = channel;
  c.rx = 0;
  c.tx = 0;
  const int rc = drv::ioctl_ptr(cas_.get(), cas::get_bits, &c, sizeof c);
  if (rc < 0)
    SendCas(t, channel.timeslot, rc, 0);
  else
    SendCas(t, channel.timeslot, c.rx, c.tx);
}

void E1Ctl::HandleCasSet(const cas::cas_channel& channel, int value) {
  const std::uint32_t t = channel.trunk;
  if (t >= trunks || !casOpen_[t]) return;
  cas::cas_channel c = channel;
  c.rx = 0;
  c.tx = static_cast<std::uint8_t>(value & 15);
  const int rc = drv::ioctl_ptr(cas_.get(), cas::set_bits, &c, sizeof c);
  if (rc < 0) {
    SendCas(t, channel.timeslot, rc, 0);
    return;
  }
  Get(channel);
}
