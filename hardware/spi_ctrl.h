#pragma once
// The line-interface chips of the board's BRI lines, one per channel 0..7,
// reached over the SPI bus of "/dev/hal". The chips are set up when the
// service is built; while a controller is connected each chip's status
// register is read once a second and reported as a `trunkStatus` of type
// `bri`. Bus clock control makes one chip the clock master (or none).
//
// A hal without SPI bus (its requests refused with ENODEV) switches the
// service off for the rest of the process: no further requests, no status.
// The service claims no command. Messages go to std::clog behind "spi: ".
#include <cstdint>

#include "control/ctrl_service.h"
#include "runtime/timer.h"

class spiCtrl : public CtrlSrv::Service {
 public:
  static constexpr int channels = 8;

  // The process-wide instance, built (and the chips set up) on first use.
  static spiCtrl& instance();

  // Opens "/dev/hal" and initialises and enables channels 0..6.
  spiCtrl();
  // Disables every channel and clears the clock master.
  ~spiCtrl() override;

  void init_channel(int ch);
  void enable_channel(int ch);
  void disable_channel(int ch);
  // Makes channel ch (0..7) the clock master; -1: none.
  void clock(int ch);

  // Register access; nothing is sent unless the device is open and has its
  // SPI bus (a read then answers 0, as it does on failure).
  void write(int channel, int address, int data);
  unsigned char read(int channel, int address);

  void OnConnect() override;
  void OnDisconnect() override;
  bool OnCommand(const LGCP::Command& command) override;

  bool spi_present() const { return spiPresent_; }
  bool is_open() const { return fd_ >= 0; }
  int fd() const { return fd_; }
  bool reporting() const { return timer_.isSet(); }

 private:
  void init_device_and_channels();
  // SPI present and ch a channel (else "spi: bad channel for WHAT ch"); the
  // device is opened first if need be.
  bool ready(int ch, const char* what);
  // A refused request: ENODEV switches the service off. True when it did.
  bool lostSpi();
  void status();

  int fd_ = -1;
  Timer timer_;
  bool spiPresent_ = true;
  // A slip is reported once per run of passes that show it, per channel.
  bool slipLatch_[channels] = {};
};
