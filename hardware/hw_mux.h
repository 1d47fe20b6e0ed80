#pragma once
// The program's one handle on the board's time-slot switching matrix
// ("/dev/hal"). Every connection of one TDM channel to another goes through
// it: slots joining trunk timeslots, mixer ports, HDLC controllers, the bus
// test.
//
//   HwMux& mux = HwMux::instance();
//   mux.Connect(5, 8200);     // output 8200 now carries what input 5 carries
//   mux.Disconnect(8200);     // output 8200 carries the idle byte
//
// It keeps its own table of what each bus output (8192..10239) is fed from,
// and a deferred call keeps re-disabling every output the table says is
// disabled, 128 outputs a run (two runs a loop pass), so an output driven by
// accident is silenced again within 8 passes. Channels below 8192 are valid
// sources and arguments; the table records nothing for them, nor for
// channels above 10239.
//
// Every operation first makes sure the device is open (IsOpened), so a
// device that could not be opened is tried again on the next call. All
// messages go to std::clog.
#include <cstdint>
#include <unordered_map>

#include "runtime/dpc.h"

class HwMux {
 public:
  // Table entries besides a source channel.
  static constexpr std::uint16_t constant = 65534;  // driven with a constant byte
  static constexpr std::uint16_t disabled = 65535;

  // The process-wide instance, built on first use; it lives until exit.
  static HwMux& instance();

  // The daemon uses instance(); tests build their own.
  HwMux();
  ~HwMux();
  HwMux(const HwMux&) = delete;
  HwMux& operator=(const HwMux&) = delete;

  // True when the device is open; otherwise tries to open it now. The first
  // open disables every bus output, 8192 to 10239 in order.
  bool IsOpened();
  // Drives output `destination` from input `source`.
  bool Connect(int source, int destination);
  // Drives the idle byte 0xD5 on the output.
  bool Disconnect(int channel);
  // Stops driving the output.
  bool Disable(int channel);
  // Drives a constant byte on the output.
  bool Write(int channel, unsigned char value);
  // Undoes what `source` drives on `output`, for whoever switched it and
  // is letting go of the channel behind it: a trunk timeslot gets the idle
  // byte (a line always carries something), any other output is no longer
  // driven. An output switched to another source since is left to it.
  // With `any` the output is released whatever drives it. True when there
  // was nothing to undo or the driver took the request.
  static constexpr int any = -1;
  bool Release(int output, int source = any);
  // The byte on the channel now; 255 on failure.
  unsigned char Read(int channel);
  void Reset();

  // The table's entry for a channel: its source, constant or disabled;
  // disabled for channels outside the table.
  std::uint16_t entry(int channel) const;
  int fd() const { return fd_; }

 private:
  // The table index of a channel, or -1 outside 8192..10239.
  static int index(int channel);
  void OnDPC();
  void RefreshChannel(unsigned index);

  // Records what an output is driven with: in the table, or in `others_`
  // for outputs outside it.
  void note(int channel, std::uint16_t what);
  std::uint16_t driven(int channel) const;

  int fd_ = -1;
  std::uint16_t table_[2048];
  // What the outputs outside the table that the daemon switched are driven
  // with, kept only so that Release knows whose they are.
  std::unordered_map<int, std::uint16_t> others_;
  std::uint32_t cursor_ = 0;
  Dpc dpc_;
};

// Writes the calling thread's stack (at most 10 frames, innermost first)
// to standard output. A diagnostic aid; nothing in the daemon calls it.
void print_trace();
