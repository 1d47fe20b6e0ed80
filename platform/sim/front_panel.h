#pragma once
// The simulated board's front panel behind "/dev/hal": the DIP switch and
// the power supply the monitoring service reads, and the framer LEDs it
// writes. Tests set the two bytes read and see every LED byte written, in
// order. Control commands: "dip", "power", "leds".
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace sim {

class Board;

class FrontPanel {
 public:
  static FrontPanel& instance();

  // Power-on: DIP switch 0, power byte 0, no LED byte written.
  void reset();
  void set_dip(std::uint8_t value) { dip_ = value; }
  void set_power(std::uint8_t value) { power_ = value; }
  std::uint8_t dip() const { return dip_; }
  std::uint8_t power() const { return power_; }
  // Every LED byte written since power-on (or the last clear), oldest first.
  const std::vector<std::uint8_t>& leds() const { return leds_; }
  void clear_leds() { leds_.clear(); }

  // A panel request of the hal: 0, or -1 with errno (EFAULT for a record
  // that is not one byte). `note` gets the request's decoded form.
  int request(unsigned long code, void* rec, std::size_t size, std::string& note);

  // Registers the "dip", "power" and "leds" commands.
  static void install(Board& board);

 private:
  std::uint8_t dip_ = 0;
  std::uint8_t power_ = 0;
  std::vector<std::uint8_t> leds_;
};

}  // namespace sim
