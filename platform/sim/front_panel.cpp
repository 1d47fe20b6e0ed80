#include "platform/sim/front_panel.h"

#include <errno.h>

#include "platform/hal_records.h"
#include "platform/sim/board.h"
#include "platform/sim/command_words.h"
#include "platform/sim/device.h"

namespace sim {

namespace {

// The command that reads or sets one of the panel's bytes.
Board::Command byteCommand(const std::string& name, void (FrontPanel::*set)(std::uint8_t),
                           std::uint8_t (FrontPanel::*get)() const) {
  return [=](const Board::Args& a, Board::Reply& r) {
    FrontPanel& panel = FrontPanel::instance();
    std::uint32_t v = 0;
    if (a.empty()) return r.line(name + " " + std::to_string((panel.*get)()));
    if (a.size() != 1 || !words::to_u32(a[0], v) || v > 255)
      return r.fail("usage: " + name + " [BYTE] (0..255 or 0x00..0xFF)");
    (panel.*set)(static_cast<std::uint8_t>(v));
  };
}

}  // namespace

FrontPanel& FrontPanel::instance() {
  static FrontPanel panel;
  return panel;
}

void FrontPanel::reset() {
  dip_ = 0;
  power_ = 0;
  leds_.clear();
}

int FrontPanel::request(unsigned long code, void* rec, std::size_t size, std::string& note) {
  if (size != 1) return refuse(EFAULT);
  std::uint8_t* byte = static_cast<std::uint8_t*>(rec);
  if (code == hal::framer_leds) {
    leds_.push_back(*byte);
    note = "leds " + words::hex(*byte, 2);
    return 0;
  }
  const bool dip = code == hal::dip_switch;
  *byte = dip ? dip_ : power_;
  note = std::string(dip ? "dip " : "power ") + std::to_string(*byte);
  return 0;
}

void FrontPanel::install(Board& board) {
  // Built now, before any service of the daemon, so that it outlives them:
  // the monitoring service darkens the LEDs as the process exits.
  instance();
  board.add_command("dip", "dip [BYTE]: the DIP switch setting the hal reads (0 at start); without BYTE: dip N",
                    byteCommand("dip", &FrontPanel::set_dip, &FrontPanel::dip));
  board.add_command("power",
                    "power [BYTE]: the power supply's raw byte the hal reads (0 at start: both supplies); "
                    "without BYTE: power N",
                    byteCommand("power", &FrontPanel::set_power, &FrontPanel::power));
  board.add_command("leds", "leds: every framer LED byte written, one a line, oldest first; leds clear: forget them",
                    [](const Board::Args& a, Board::Reply& r) {
                      FrontPanel& panel = instance();
                      if (a.size() == 1 && a[0] == "clear") return panel.clear_leds();
                      if (!a.empty()) return r.fail("usage: leds | leds clear");
                      for (std::uint8_t b : panel.leds()) r.line(words::hex(b, 2));
                    });
}

}  // namespace sim
