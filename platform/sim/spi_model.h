#pragma once
// The line-interface chips behind the simulated "/dev/hal"'s SPI bus: one
// chip per channel 0..7, 256 registers each. Every register reads 0 until
// written, except the status register, which reads as a line in sync
// (0xC5) until a test sets it. A board without SPI refuses every register
// request with ENODEV. Control command: "spi".
#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>

namespace sim {

class Board;

class SpiChips {
 public:
  static constexpr std::uint8_t status_register = 51;
  static constexpr std::uint8_t status_in_sync = 0xC5;

  static SpiChips& instance();

  // Power-on: SPI present, every register at its first value.
  void reset();
  bool present() const { return present_; }
  void set_present(bool present) { present_ = present; }
  std::uint8_t reg(int channel, int address) const;
  void set(int channel, int address, std::uint8_t value) { regs_.at(channel)[address] = value; }

  // A register request of the hal: the driver's result (the register value
  // for a read), or -1 with errno. `note` gets the request's decoded form.
  int request(unsigned long code, void* rec, std::size_t size, std::string& note);

  // Registers the "spi" command.
  static void install(Board& board);

 private:
  bool present_ = true;
  // The registers set since power-on, by address.
  std::array<std::map<int, std::uint8_t>, 8> regs_;
};

}  // namespace sim
