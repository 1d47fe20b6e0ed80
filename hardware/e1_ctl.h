#pragma once
// The board's four E1 trunks: each trunk's synchronisation state to the
// controller once a second (`trunkStatus`), the transmit-clock mask
// (`trunkCfg`), and channel-associated signalling (`ioctl` `cas`): opening
// it on a trunk, switching timeslots on and off, reading and setting the
// ABCD bits, and every change the driver reports as a `cas` signal.
//
// Driver results of the CAS requests reach the controller in the `rx` of
// `cas` signals; a signal with timeslot 0 reports a trunk-level result.
// Timeslots 0 and 16 (frame alignment, the signalling channel itself) get
// no per-channel requests when opening or closing. A CAS device that fails
// (error, hang-up, end of file) is closed and opened again when next
// needed; so is the maintenance device that will not open.
//
// Messages begin with "E1: ".
#include <cstdint>
#include <iosfwd>

#include "control/ctrl_service.h"
#include "platform/cas_records.h"
#include "runtime/event.h"
#include "runtime/fd.h"
#include "runtime/timer.h"

class E1Ctl : public CtrlSrv::Service {
 public:
  static constexpr int trunks = 4;
  static constexpr unsigned status_period_ms = 1000;

  // The process-wide instance, built on first use.
  static E1Ctl& instance();

  E1Ctl() = default;
  ~E1Ctl() override;

  // Sends every trunk's status, starts the status timer, clears the TCLK
  // mask and tries to open the CAS device.
  void OnConnect() override;
  // Closes CAS on every trunk that has it open; the status keeps going.
  void OnDisconnect() override;
  // Claims `ioctl` (a CAS command; anything else is unsupported here) and
  // `trunkCfg`.
  bool OnCommand(const LGCP::Command& command) override;

  // Selects the trunk clock source (nothing in the daemon calls it).
  void select_source(int source);
  // Sets a channel's transmit bits and reports them (nothing in the daemon
  // calls it: the `set` command takes the open path).
  void HandleCasSet(const cas::cas_channel& channel, int value);

  bool cas_open(int trunk) const { return trunk >= 0 && trunk < trunks && casOpen_[trunk] != 0; }
  std::uint32_t tclk() const { return tclk_; }
  void PutHeader(std::ostream& s) const;

 private:
  bool IsOpen();
  void SendStatus();
  void OnCheckStatus();
  void SetMode(const LGCP::TrunkCfg& cfg);
  void UpdateTclk();
  bool CheckOpenCas();
  void OnUpdateCas(int fd, short revents);
  void HandleCas(const LGCP::CasCommand& command);
  void Open(const cas::cas_channel& channel, int value);
  void Close(const cas::cas_channel& channel);
  void Get(const cas::cas_channel& channel);
  void SendCas(std::uint32_t trunk, std::uint32_t timeslot, int rx, int tx);

  int fd_ = -1;  // the maintenance device
  Timer status_;
  Fd cas_;
  Event casEvent_;
  std::uint32_t casOpen_[trunks] = {};
  std::uint32_t tclk_ = 0;
};
