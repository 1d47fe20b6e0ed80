#include "platform/sim/hal_model.h"

#include <errno.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "platform/hal_records.h"
#include "platform/sim/board.h"
#include "platform/sim/command_words.h"
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

int invalid() {
  errno = EINVAL;
  return -1;
}

std::string hex2(unsigned value) {
  char text[8];
  std::snprintf(text, sizeof text, "0x%02X", value & 0xFFu);
  return text;
}

}  // namespace

int HalDevice::ioctl_ptr(unsigned long code, void* rec, std::size_t size) {
  switch (code) {
    case hal::matrix_connect:
    case hal::matrix_disable:
    case hal::matrix_write:
    case hal::matrix_read:
      return matrix(code, rec, size);
    default:
      return Device::ioctl_ptr(code, rec, size);
  }
}

int HalDevice::matrix(unsigned long code, void* rec, std::size_t size) {
  if (code == hal::matrix_connect) {
    if (!fits<hal::MatrixConnect>(size)) return -1;
    hal::MatrixConnect r;
    std::memcpy(&r, rec, sizeof r);
    if (r.destination < 0 || r.source < 0) return invalid();
    tdm_.connect(r.destination, r.source);
    annotate("connect " + std::to_string(r.destination) + " <- " + std::to_string(r.source));
    return 0;
  }
  if (code == hal::matrix_disable) {
    if (!fits<hal::MatrixChannel>(size)) return -1;
    hal::MatrixChannel r;
    std::memcpy(&r, rec, sizeof r);
    if (r.channel < 0) return invalid();
    // The refresh re-sends a disable for every disabled output on every
    // pass; only those that change something make a journal line.
    if (!tdm_.disable(r.channel)) quiet();
    annotate("disable " + std::to_string(r.channel));
    return 0;
  }
  if (!fits<hal::MatrixValue>(size)) return -1;
  hal::MatrixValue r;
  std::memcpy(&r, rec, sizeof r);
  if (r.channel < 0) return invalid();
  if (code == hal::matrix_write) {
    tdm_.write(r.channel, static_cast<std::uint8_t>(r.value));
    annotate("write " + std::to_string(r.channel) + " = " + hex2(static_cast<unsigned>(r.value)));
    return 0;
  }
  const std::uint8_t byte = tdm_.read(r.channel);
  r.value = byte;
  std::memcpy(rec, &r, sizeof r);
  annotate("read " + std::to_string(r.channel) + " = " + hex2(byte));
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
    r.line(std::to_string(d) + " " + hex2(tdm.read(d)));
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
