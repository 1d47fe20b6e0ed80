#include "hardware/hw_tests.h"

#include <stdlib.h>

#include <iostream>

#include "hardware/hw_mux.h"
#include "platform/hal_records.h"
#include "runtime/ext_out.h"
#include "runtime/full_sleep.h"

namespace {

// The driver needs this long to put written bytes on the bus, and to take
// disabled outputs off it.
constexpr unsigned write_settle_us = 500;
constexpr unsigned disable_settle_us = 250;

constexpr int buses = hal::bus_channels / hal::bus_timeslots;

unsigned char nextByte() { return static_cast<unsigned char>(::random() & 0xFF); }

}  // namespace

HwTests& HwTests::instance() {
  static HwTests tests(HwMux::instance());
  return tests;
}

void HwTests::PutHeader(std::ostream& s) const { s << "bus " << bus_ << ": "; }

bool HwTests::OnCommand(const LGCP::Command& command) {
  if (command.getSelection() != LGCP::Command::e_testBpc) return false;
  OnTestBpc(command.get_testBpc());
  return true;
}

void HwTests::OnTestBpc(const LGCP::BpcTestParams& params) {
  bus_ = params.get_bus().getValue();
  const int start = params.get_timeslot_start().getValue();
  const int length = params.get_timeslot_length().getValue();
  // A range past the end of its bus would drive the next bus's outputs, or
  // from bus 15 outputs beyond the matrix.
  if (bus_ < 0 || bus_ >= buses || start < 0 || length < 0 || start + length > hal::bus_timeslots) {
    std::cerr << ext::header(this) << "test refused: timeslots " << start << " + " << length << " beyond the bus"
              << std::endl;
    Error(LGCP::ErrorCause::invalidParams);
    return;
  }
  first_ = bus_ * hal::bus_timeslots + hal::bus_first + start;
  end_ = first_ + length;
  seed_ = static_cast<std::uint32_t>(params.get_seed().getValue());
  ::srandom(seed_);

  switch (params.get_mode().getSelection()) {
    case LGCP::BpcTestMode::e_read:
      if (Compare("test failed on channel ", " expected ", " read "))
        Success();
      else
        Error(LGCP::ErrorCause::busError);
      return;
    case LGCP::BpcTestMode::e_write:
      for (int ch = first_; ch < end_; ++ch) mux_.Write(ch, nextByte());
      full_sleep_us(write_settle_us);
      ::srandom(seed_);
      if (Compare("write failed on channel ", " write ", " written "))
        Success();
      else
        Error(LGCP::ErrorCause::busError);
      return;
    case LGCP::BpcTestMode::e_disconnect:
      for (int ch = first_; ch < end_; ++ch) mux_.Disable(ch);
      full_sleep_us(disable_settle_us);
      Success();
      return;
    default:
      Error(LGCP::ErrorCause::invalidParams);
      return;
  }
}

bool HwTests::Compare(const char* failed, const char* expected, const char* read) {
  for (int ch = first_; ch < end_; ++ch) {
    const unsigned char want = nextByte();
    const unsigned char got = mux_.Read(ch);
    if (got == want) continue;
    std::cerr << ext::header(this) << failed << ch << expected << ext::OutUnsignedInHex(want, 2) << read
              << ext::OutUnsignedInHex(got, 2) << std::endl;
    return false;
  }
  return true;
}
