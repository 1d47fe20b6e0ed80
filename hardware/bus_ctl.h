#pragma once
// The clock source of the board's TDM bus ("/dev/hal"), on the controller's
// `clockCfg`. Whenever a controller connects or goes, the bus falls back to
// the board's free-running clock. Started with "--disable-clock" the daemon
// leaves the clock alone: `clockCfg` is answered `unsupported` and the
// device is never opened.
//
// Messages go to std::cerr behind "clkctl: ".
#include <iosfwd>

#include "control/ctrl_service.h"

class BusCtl : public CtrlSrv::Service {
 public:
  // The process-wide instance, built on first use.
  static BusCtl& instance();

  BusCtl() = default;
  ~BusCtl() override;

  // For good: the clock is no longer this daemon's to set.
  void DisableControl();
  bool control_enabled() const { return enabled_; }

  void OnConnect() override;
  void OnDisconnect() override;
  // Claims `clockCfg` only. It is answered success when the clock was set
  // (or the configuration selects nothing), an error when the device cannot
  // be reached or refuses the selection.
  bool OnCommand(const LGCP::Command& command) override;

  // The printed name of a clock source number.
  static const char* SourceName(int source);
  void PutHeader(std::ostream& s) const;

 private:
  bool IsOpen();
  bool SetDefaultClock();
  // False when the device cannot be opened or refused the selection.
  bool SetClockSrc(const LGCP::ClockCfg& cfg);
  bool DrvSetClkSrc(int source);

  int fd_ = -1;
  bool enabled_ = true;
};
