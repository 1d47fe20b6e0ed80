#pragma once
// The backplane bus test (`testBpc`): pseudo-random bytes written to and
// read back from a run of bus channels through the switching matrix, so
// that the controller can check the bus between boards. The bytes are the
// low octets of random() after srandom(seed): a write test on one board
// and a read test with the same seed on another compare the same sequence.
//
// Messages go to std::cerr behind "bus N: ".
#include <cstdint>
#include <iosfwd>

#include "control/ctrl_service.h"

class HwMux;

class HwTests : public CtrlSrv::Service {
 public:
  // The process-wide instance, on the process-wide matrix.
  static HwTests& instance();
  // Tests run on the matrix handle given.
  explicit HwTests(HwMux& mux) : mux_(mux) {}

  void OnConnect() override {}
  void OnDisconnect() override {}
  // Claims `testBpc` only; the test answers it.
  bool OnCommand(const LGCP::Command& command) override;

  void PutHeader(std::ostream& s) const;

 private:
  void OnTestBpc(const LGCP::BpcTestParams& params);
  // Compares each channel with the next byte of the sequence; false (after
  // its message) at the first difference.
  bool Compare(const char* failed, const char* expected, const char* read);

  HwMux& mux_;
  int bus_ = 0;
  int first_ = 0;
  int end_ = 0;
  std::uint32_t seed_ = 0;
};
