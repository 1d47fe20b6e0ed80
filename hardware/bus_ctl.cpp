#include "hardware/bus_ctl.h"

#include <fcntl.h>
#include <unistd.h>

#include <iostream>

#include "hardware/spi_ctrl.h"
#include "platform/drv.h"
#include "platform/hal_records.h"
#include "platform/sysroot.h"
#include "runtime/ext_out.h"

BusCtl& BusCtl::instance() {
  static BusCtl bus;
  return bus;
}

BusCtl::~BusCtl() {
  if (fd_ >= 0) ::close(fd_);
}

void BusCtl::PutHeader(std::ostream& s) const { s << "clkctl: "; }

const char* BusCtl::SourceName(int source) {
  static const char* const names[] = {"f0", "f1", "f2", "f3", "freerun", "X3", "?1", "?2"};
  return source >= 0 && source < 8 ? names[source] : "?";
}

void BusCtl::DisableControl() {
  std::clog << "clock control disabled." << std::endl;
  enabled_ = false;
}

bool BusCtl::IsOpen() {
  if (fd_ >= 0) return true;
  if (!enabled_) return false;
  fd_ = drv::open(sysroot::hal, O_RDWR | O_CLOEXEC);
  return fd_ >= 0;
}

void BusCtl::OnConnect() {
  if (enabled_) SetDefaultClock();
}

void BusCtl::OnDisconnect() {
  if (enabled_) SetDefaultClock();
}

bool BusCtl::OnCommand(const LGCP::Command& command) {
  if (command.getSelection() != LGCP::Command::e_clockCfg) return false;
  if (!enabled_)
    Error(LGCP::ErrorCause::unsupported);
  else if (SetClockSrc(command.get_clockCfg()))
    Success();
  else
    Error(LGCP::ErrorCause::internal);
  return true;
}

bool BusCtl::SetDefaultClock() {
  LGCP::ClockCfg cfg;
  cfg.set_clkSel0(LGCP::ClkSel0::internal);
  cfg.set_bextEn(LGCP::BExtEn::disabled);
  cfg.set_source(-1);
  return SetClockSrc(cfg);
}

bool BusCtl::SetClockSrc(const LGCP::ClockCfg& cfg) {
  if (!IsOpen()) {
    // Without the hal the line chips cannot follow a bus clock either.
    spiCtrl::instance().clock(-1);
    std::cerr << ext::header(this) << "set clock source fail: code 1." << std::endl;
    return false;
  }
  std::cerr << ext::header(this) << "set clock source cmd: " << cfg << std::endl;
  if (cfg.get_clkSel0().getValue() == LGCP::ClkSel0::internal) return DrvSetClkSrc(hal::clock_freerun);
  switch (cfg.get_bextEn().getValue()) {
    case LGCP::BExtEn::enabled: {
      const int source = cfg.get_source().getValue();
      return source < 0 || DrvSetClkSrc(source);  // a negative source selects nothing
    }
    case LGCP::BExtEn::disabled:
      return DrvSetClkSrc(hal::clock_external);
    default:
      return true;
  }
}

bool BusCtl::DrvSetClkSrc(int source) {
  if (fd_ < 0) {
    std::cerr << ext::header(this) << "device open error" << std::endl;
    return false;
  }
  hal::ClockSource rec{source};
  if (drv::ioctl_ptr(fd_, hal::clock_select, &rec, sizeof rec) < 0) {
    std::cerr << ext::header(this) << "HW_CLOCK_SELECT fail." << std::endl;
    return false;
  }
  std::cerr << ext::header(this) << "clock source = " << SourceName(source) << std::endl;
  return true;
}
