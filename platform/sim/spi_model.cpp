#include "platform/sim/spi_model.h"

#include <errno.h>

#include <cstring>

#include "platform/hal_records.h"
#include "platform/sim/board.h"
#include "platform/sim/command_words.h"
#include "platform/sim/device.h"

namespace sim {

namespace {

std::string registers(const SpiChips& chips, int ch, const std::map<int, std::uint8_t>& set) {
  std::map<int, std::uint8_t> shown = set;
  shown[SpiChips::status_register] = chips.reg(ch, SpiChips::status_register);
  std::string line = std::to_string(ch) + ":";
  for (const auto& r : shown) line += " " + std::to_string(r.first) + "=" + words::hex(r.second, 2);
  return line;
}

const char kUsage[] =
    "spi [CH]: the registers of each chip that were set, and the status register (51); "
    "spi CH reg ADDR VALUE: set a register (51 = 0x00: no carrier, 0xC5: in sync, 0x20: slip); "
    "spi absent | spi present: the hal has no SPI bus (ENODEV) / has one again";

}  // namespace

SpiChips& SpiChips::instance() {
  static SpiChips chips;
  return chips;
}

void SpiChips::reset() {
  present_ = true;
  for (auto& r : regs_) r.clear();
}

std::uint8_t SpiChips::reg(int channel, int address) const {
  const auto& r = regs_.at(channel);
  auto it = r.find(address);
  if (it != r.end()) return it->second;
  return address == status_register ? status_in_sync : 0;
}

int SpiChips::request(unsigned long code, void* rec, std::size_t size, std::string& note) {
  hal::SpiRegister r;
  if (size != sizeof r) return refuse(EFAULT);
  if (!present_) return refuse(ENODEV);
  std::memcpy(&r, rec, sizeof r);
  if (r.channel >= hal::spi_channels) return refuse(EINVAL);
  const std::string where = "spi " + std::to_string(r.channel) + " ";
  if (code == hal::spi_write) {
    set(r.channel, r.address, r.data);
    note = where + "write " + std::to_string(r.address) + " = " + std::to_string(r.data);
    return 0;
  }
  const std::uint8_t value = reg(r.channel, r.address);
  note = where + "read " + std::to_string(r.address) + " = " + words::hex(value, 2);
  return value;
}

void SpiChips::install(Board& board) {
  board.add_command("spi", kUsage, [](const Board::Args& a, Board::Reply& r) {
    SpiChips& chips = instance();
    std::uint32_t ch = 0, addr = 0, value = 0;
    if (a.size() == 1 && (a[0] == "absent" || a[0] == "present")) {
      chips.set_present(a[0] == "present");
    } else if (a.empty()) {
      for (int c = 0; c < hal::spi_channels; ++c) r.line(registers(chips, c, chips.regs_[c]));
    } else if (a.size() == 1 && words::to_u32(a[0], ch) && ch < hal::spi_channels) {
      r.line(registers(chips, static_cast<int>(ch), chips.regs_[ch]));
    } else if (a.size() == 4 && a[1] == "reg" && words::to_u32(a[0], ch) && ch < hal::spi_channels &&
               words::to_u32(a[2], addr) && addr < 256 && words::to_u32(a[3], value) && value < 256) {
      chips.set(static_cast<int>(ch), static_cast<int>(addr), static_cast<std::uint8_t>(value));
    } else {
      r.fail("usage: spi [CH] | spi CH reg ADDR VALUE | spi absent | spi present (CH 0..7, ADDR and VALUE 0..255)");
    }
  });
}

}  // namespace sim
