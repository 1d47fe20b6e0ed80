#include "platform/sim/dsp_data_model.h"

#include <errno.h>
#include <sys/socket.h>

#include <cstring>
#include <memory>
#include <string>

#include "platform/dsp_data_records.h"
#include "platform/sim/board.h"
#include "platform/sim/command_words.h"
#include "platform/sysroot.h"

namespace sim {

namespace {

// The daemon's queues each way hold a few frames, as a driver's would.
constexpr int socket_buffer = 2048;

}  // namespace

// ---- the units ----

DspData& DspData::instance() {
  // Never destroyed: opens still held at exit free their units here.
  static DspData& d = *new DspData;
  return d;
}

int DspData::unit_of(int d) {
  const int n = (d - first_channel) / 4;
  return d >= first_channel && (d - first_channel) % 4 == 0 && n < units ? n : -1;
}

int DspData::take() {
  for (int n = 0; n < units; ++n) {
    if (unit(n).open) continue;
    unit(n) = Unit();
    unit(n).open = true;
    return n;
  }
  return -1;
}


// ---- one open ----

DspDataDevice::~DspDataDevice() { release(); }

void DspDataDevice::on_open(int daemon_fd, int board_fd) {
  ::setsockopt(daemon_fd, SOL_SOCKET, SO_SNDBUF, &socket_buffer, sizeof socket_buffer);
  ::setsockopt(board_fd, SOL_SOCKET, SO_SNDBUF, &socket_buffer, sizeof socket_buffer);
}

int DspDataDevice::ioctl_val(unsigned long code, unsigned long value) {
  if (code != dspdata::d_channel) return Device::ioctl_val(code, value);
  annotate("D channel " + std::to_string(DspData::d_channel(unit_)));
  return DspData::d_channel(unit_);
}

int DspDataDevice::ioctl_ptr(unsigned long code, void* rec, std::size_t size) {
  if (code != dspdata::b_open && code != dspdata::b_release) return Device::ioctl_ptr(code, rec, size);
  if (size != sizeof(dspdata::BChannel)) return refuse(EFAULT);
  dspdata::BChannel r;
  std::memcpy(&r, rec, sizeof r);
  if (r.index < 0 || r.index >= dspdata::b_channels) return refuse(EINVAL);
  bool& open = DspData::instance().unit(unit_).b[static_cast<std::size_t>(r.index)];
  const int channel = DspData::b_channel(unit_, r.index);
  if (code == dspdata::b_open) {
    if (open) return refuse(EBUSY);
    open = true;
    r.channel = channel;
    std::memcpy(rec, &r, sizeof r);
    annotate("open B " + std::to_string(r.index) + ": channel " + std::to_string(channel));
    return 0;
  }
  if (!open || r.channel != channel) return refuse(EINVAL);
  open = false;
  annotate("release B " + std::to_string(r.index));
  return 0;
}

void DspDataDevice::on_write(const std::uint8_t* data, std::size_t len) {
  DspData::Unit& u = DspData::instance().unit(unit_);
  u.written.emplace_back(data, data + len);
  while (u.written.size() > DspData::written_frames) u.written.pop_front();
  ++u.sent;
}

void DspDataDevice::receive(const DspData::Frame& frame) {
  DspData::Unit& u = DspData::instance().unit(unit_);
  u.rx.push_back(frame);
  ++u.received;
  flush();
}

void DspDataDevice::flush() {
  DspData::Unit& u = DspData::instance().unit(unit_);
  while (!u.rx.empty()) {
    if (!send(u.rx.front().data(), u.rx.front().size())) {
      if (errno == EMSGSIZE) {  // larger than any read could take: dropped, as a driver would
        u.rx.pop_front();
        continue;
      }
      want_writable(true);
      return;
    }
    u.rx.pop_front();
  }
}

void DspDataDevice::on_writable() { flush(); }

void DspDataDevice::on_close() { release(); }

void DspDataDevice::release() {
  DspData& d = DspData::instance();
  if (d.device(unit_) != this) return;
  d.set_device(unit_, nullptr);
  d.unit(unit_) = DspData::Unit();
}

// ---- model and commands ----

namespace {

class DspDataModel : public DeviceModel {
 public:
  std::unique_ptr<Device> open(const std::string&, int) override {
    const int n = DspData::instance().take();
    if (n < 0) {
      errno = ENOSPC;
      return nullptr;
    }
    auto device = std::make_unique<DspDataDevice>(n);
    DspData::instance().set_device(n, device.get());
    return device;
  }
};

std::string describe(int n) {
  const DspData::Unit& u = DspData::instance().unit(n);
  std::string text = std::to_string(DspData::d_channel(n));
  text += u.open ? " open" : " free";
  for (int i = 0; i < dspdata::b_channels; ++i)
    if (u.b[static_cast<std::size_t>(i)])
      text += " b" + std::to_string(i) + " " + std::to_string(DspData::b_channel(n, i));
  text += " sent " + std::to_string(u.sent) + " received " + std::to_string(u.received);
  return text;
}

const char usage[] =
    "usage: dspdata | dspdata inject D HEX... | dspdata written D [clear] "
    "(D a unit's D channel: 5120, 5124, ... 5180)";

void dspdataCommand(const Board::Args& a, Board::Reply& r) {
  DspData& d = DspData::instance();
  if (a.empty()) {
    for (int n = 0; n < DspData::units; ++n)
      if (d.unit(n).open) r.line(describe(n));
    return;
  }
  std::uint32_t channel;
  const int n = a.size() >= 2 && words::to_u32(a[1], channel) ? DspData::unit_of(static_cast<int>(channel)) : -1;
  if (n < 0) return r.fail(usage);
  DspData::Unit& u = d.unit(n);
  const std::string& op = a[0];
  if (op == "inject" && a.size() >= 3) {
    DspData::Frame frame;
    if (!words::to_bytes(a, 2, frame)) return r.fail(usage);
    DspDataDevice* dev = d.device(n);
    if (!dev) return r.fail("unit " + a[1] + " is not open");
    dev->receive(frame);
  } else if (op == "written" && a.size() <= 3) {
    if (a.size() == 3) {
      if (a[2] != "clear") return r.fail(usage);
      u.written.clear();
      return;
    }
    for (const DspData::Frame& f : u.written) r.line(words::hex_octets(f));
  } else {
    r.fail(usage);
  }
}

}  // namespace

void install_dsp_data(Board& board) {
  board.add_model(sysroot::dsp_data, std::make_unique<DspDataModel>());
  board.add_command("dspdata",
                    "dspdata: the units open (D channel, B channels open with their channels, frames sent and "
                    "received); dspdata inject D HEX...: D receives the octets as one "
                    "frame; dspdata written D [clear]: the frames the daemon wrote on D, a line of hex each, oldest "
                    "first",
                    dspdataCommand);
}

}  // namespace sim
