#include "platform/sim/hal_model.h"

#include <errno.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "platform/hal_records.h"
#include "platform/sim/board.h"
#include "platform/sim/command_words.h"
#include "platform/sim/front_panel.h"
#include "platform/sim/spi_model.h"
#include "platform/sim/tdm.h"
#include "platform/sysroot.h"

namespace sim {

namespace {

template <class Record>
bool fits(std::size_t size) {
  if (size == sizeof(Record)) return true;
  errno = EFAULT;  // the driver would copy sizeof(Record) octets from the pointer
  return false;
}

int& selectedClock() {
  static int source = -1;
  return source;
}

}  // namespace

int bus_clock() { return selectedClock(); }
void reset_bus_clock() { selectedClock() = -1; }

int HalDevice::ioctl_ptr(unsigned long code, void* rec, std::size_t size) {
  switch (code) {
    case hal::matrix_connect:
    case hal::matrix_disable:
    case hal::matrix_write:
    case hal::matrix_read:
      return matrix(code, rec, size);
    case hal::clock_select:
      return clock(rec, size);
    case hal::spi_write:
    case hal::spi_read:
    case hal::dip_switch:
    case hal::power_supply:
    case hal::framer_leds: {
      std::string note;
      const bool spi = code == hal::spi_write || code == hal::spi_read;
      const int rc = spi ? SpiChips::instance().request(code, rec, size, note)
                         : FrontPanel::instance().request(code, rec, size, note);
      if (!note.empty()) annotate(note);
      return rc;
    }
    default:
      return Device::ioctl_ptr(code, rec, size);
  }
}

int HalDevice::clock(void* rec, std::size_t size) {
  if (!fits<hal::ClockSource>(size)) return -1;
  hal::ClockSource r;
  std::memcpy(&r, rec, sizeof r);
  annotate("clock " + std::to_string(r.source));
  if (r.source < 0 || r.source > 7) return refuse(EINVAL);
  selectedClock() = r.source;
  return 0;
}

int HalDevice::matrix(unsigned long code, void* rec, std::size_t size) {
  if (code == hal::matrix_connect) {
    if (!fits<hal::MatrixConnect>(size)) return -1;
    hal::MatrixConnect r;
    std::memcpy(&r, rec, sizeof r);
    if (r.destination < 0 || r.source < 0) return refuse(EINVAL);
    tdm_.connect(r.destination, r.source);
    annotate("connect " + std::to_string(r.destination) + " <- " + std::to_string(r.source));
    return 0;
  }
  if (code == hal::matrix_disable) {
    if (!fits<hal::MatrixChannel>(size)) return -1;
    hal::MatrixChannel r;
    std::memcpy(&r, rec, sizeof r);
    if (r.channel < 0) return refuse(EINVAL);
    // The refresh re-sends a disable for every disabled output on every
    // pass; only those that change something make a journal line.
    if (!tdm_.disable(r.channel)) quiet();
    annotate("disable " + std::to_string(r.channel));
    return 0;
  }
  if (!fits<hal::MatrixValue>(size)) return -1;
  hal::MatrixValue r;
  std::memcpy(&r, rec, sizeof r);
  if (r.channel < 0) return refuse(EINVAL);
  if (code == hal::matrix_write) {
    tdm_.write(r.channel, static_cast<std::uint8_t>(r.value));
    annotate("write " + std::to_string(r.channel) + " = " + words::hex(static_cast<std::uint8_t>(r.value), 2));
    return 0;
  }
  const std::uint8_t byte = tdm_.read(r.channel);
  r.value = byte;
  std::memcpy(rec, &r, sizeof r);
  annotate("read " + std::to_string(r.channel) + " = " + words::hex(byte, 2));
  return 0;
}

namespace {

class HalModel : public DeviceModel {
 public:
  std::unique_ptr<Device> open(const std::string&, int) override {
    return std::make_unique<HalDevice>(Tdm::instance());
  }
};

bool channel(const std::string& text, int& ch) {
  std::int32_t v;
  if (!words::to_i32(text, v) || v < 0) return false;
  ch = v;
  return true;
}

bool trunk(const std::string& text, int& t) {
  std::uint32_t v;
  if (!words::to_u32(text, v) || v >= static_cast<std::uint32_t>(Tdm::trunks)) return false;
  t = static_cast<int>(v);
  return true;
}

// A byte given as 0xNN or decimal.
bool byteValue(const std::string& text, std::uint8_t& b) {
  std::uint32_t v;
  if (!words::to_u32(text, v) || v > 255) return false;
  b = static_cast<std::uint8_t>(v);
  return true;
}

void matrixCommand(const Board::Args& a, Board::Reply& r) {
  Tdm& tdm = Tdm::instance();
  int d = 0, s = 0;
  if (a.empty()) {
    for (const auto& o : tdm.outputs())
      if (o.second.drive != Tdm::Drive::undriven) r.line(Tdm::describe(o.first, o.second));
    return;
  }
  const std::string& op = a[0];
  if (op == "connect" && a.size() == 3 && channel(a[1], d) && channel(a[2], s)) {
    tdm.connect(d, s);
  } else if (op == "write" && a.size() == 3 && channel(a[1], d)) {
    std::uint8_t b;
    if (!byteValue(a[2], b)) return r.fail("BYTE is 0..255 or 0x00..0xFF");
    tdm.write(d, b);
  } else if (op == "disable" && a.size() == 2 && channel(a[1], d)) {
    tdm.disable(d);
  } else if (op == "read" && a.size() == 2 && channel(a[1], d)) {
    r.line(std::to_string(d) + " " + words::hex(tdm.read(d), 2));
  } else {
    for (const std::string& w : a) {
      if (!channel(w, d)) {
        r.lines.clear();
        return r.fail(
            "usage: matrix [CHANNEL...] | matrix connect DEST SOURCE | matrix write DEST BYTE | "
            "matrix disable DEST | matrix read CHANNEL");
      }
      r.line(Tdm::describe(d, tdm.output(d)));
    }
  }
}

// bus read CHANNEL N: the bytes heard on N channels from CHANNEL on;
// bus write CHANNEL BYTE...: another board drives them, one a channel;
// bus clear: no other board drives any.
void busCommand(const Board::Args& a, Board::Reply& r) {
  Tdm& tdm = Tdm::instance();
  int first = 0;
  std::uint32_t n = 0;
  if (a.size() == 3 && a[0] == "read" && channel(a[1], first) && words::to_u32(a[2], n) && n > 0 && n <= 2048) {
    std::string line = std::to_string(first) + ":";
    for (std::uint32_t i = 0; i < n; ++i) line += " " + words::hex(tdm.read(first + static_cast<int>(i)), 2).substr(2);
    return r.line(line);
  }
  if (a.size() >= 3 && a[0] == "write" && channel(a[1], first)) {
    std::vector<std::uint8_t> bytes;
    for (std::size_t i = 2; i < a.size(); ++i) {
      std::uint8_t b;
      if (!byteValue(a[i], b)) return r.fail("BYTE is 0..255 or 0x00..0xFF");
      bytes.push_back(b);
    }
    for (std::size_t i = 0; i < bytes.size(); ++i) {
      const int ch = first + static_cast<int>(i);
      if (!Tdm::is_bus(ch)) return r.fail(std::to_string(ch) + " is no bus channel (8192..10239)");
      tdm.drive_remote(ch, bytes[i]);
    }
    return;
  }
  if (a.size() == 1 && a[0] == "clear") return tdm.clear_remote();
  r.fail("usage: bus read CHANNEL N | bus write CHANNEL BYTE... | bus clear");
}

std::string lineOf(int t) {
  const int far = Tdm::instance().far_end(t);
  if (far < 0) return "trunk " + std::to_string(t) + " unplugged";
  if (far == t) return "trunk " + std::to_string(t) + " loop";
  return "trunk " + std::to_string(t) + " cable " + std::to_string(far);
}

}  // namespace

void install_hal(Board& board) {
  board.add_model(sysroot::hal, std::make_unique<HalModel>());
  board.add_command(
      "matrix",
      "matrix [CHANNEL...]: what drives each output (all driven ones without CHANNEL); "
      "matrix connect DEST SOURCE | write DEST BYTE | disable DEST: change an output by hand, as something "
      "other than the daemon would; matrix read CHANNEL: the byte heard on a channel",
      matrixCommand);
  board.add_command("bus",
                    "bus read CHANNEL N: the bytes heard on N channels from CHANNEL on, in hex; "
                    "bus write CHANNEL BYTE...: another board drives them with constants, one a channel (this "
                    "board's own outputs drive over it); bus clear: no other board drives any",
                    busCommand);
  board.add_command("clock", "clock: the source the TDM bus clock was last set to (none before the first)",
                    [](const Board::Args& a, Board::Reply& r) {
                      if (!a.empty()) return r.fail("usage: clock");
                      r.line(bus_clock() < 0 ? std::string("clock none") : "clock " + std::to_string(bus_clock()));
                    });
  SpiChips::install(board);
  FrontPanel::install(board);
  board.add_command("cable", "cable A B: join trunk A's line to trunk B's (timeslot s to timeslot s)",
                    [](const Board::Args& a, Board::Reply& r) {
                      int x, y;
                      if (a.size() != 2 || !trunk(a[0], x) || !trunk(a[1], y) || x == y)
                        return r.fail("usage: cable A B (two trunks 0..3; loop T for one)");
                      Tdm::instance().cable(x, y);
                    });
  board.add_command("loop", "loop T: send trunk T's line back to itself", [](const Board::Args& a, Board::Reply& r) {
    int t;
    if (a.size() != 1 || !trunk(a[0], t)) return r.fail("usage: loop T (trunk 0..3)");
    Tdm::instance().cable(t, t);
  });
  board.add_command("unplug", "unplug T: take trunk T's line off (and the far end's)",
                    [](const Board::Args& a, Board::Reply& r) {
                      int t;
                      if (a.size() != 1 || !trunk(a[0], t)) return r.fail("usage: unplug T (trunk 0..3)");
                      Tdm::instance().unplug(t);
                    });
  board.add_command("lines", "lines: each trunk's line (unplugged, loop, cable B)",
                    [](const Board::Args& a, Board::Reply& r) {
                      if (!a.empty()) return r.fail("usage: lines");
                      for (int t = 0; t < Tdm::trunks; ++t) r.line(lineOf(t));
                    });
}

}  // namespace sim
