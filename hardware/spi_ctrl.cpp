#include "hardware/spi_ctrl.h"

#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

#include <iostream>

#include "platform/drv.h"
#include "platform/hal_records.h"
#include "platform/sysroot.h"

namespace {

constexpr int status_period_ms = 1000;
// The channels set up at start; the eighth is left as it is.
constexpr int started_channels = 7;

// Registers of the chip.
constexpr int reg_control = 50;
constexpr int reg_status = 51;
constexpr int reg_clock = 87;
constexpr int clock_slave = 48;
constexpr int clock_master = 56;

struct RegisterValue {
  int address;
  int value;
};
constexpr RegisterValue kInit[] = {{reg_control, 128}, {48, 8}, {reg_clock, clock_slave}, {52, 96},
                                   {53, 0},            {54, 0}, {55, 0}};
constexpr int control_enabled = 0;
constexpr int control_disabled = 128;

bool validChannel(int ch) { return ch >= 0 && ch < spiCtrl::channels; }

// The line state that the status register shows: the first rule that
// applies.
ACP::TrunkState::NamedNumber lineState(unsigned r) {
  if (!(r & 0x01)) return ACP::TrunkState::lossCarrier;
  if (!(r & 0x04)) return ACP::TrunkState::lossBF;
  if ((r & 0xC0) == 0x80) return ACP::TrunkState::rai;
  if ((r & 0xC0) == 0xC0) return ACP::TrunkState::normal;
  return ACP::TrunkState::ais;
}

constexpr unsigned slip_bit = 0x20;

}  // namespace

spiCtrl& spiCtrl::instance() {
  static spiCtrl spi;
  return spi;
}

spiCtrl::spiCtrl() { init_device_and_channels(); }

spiCtrl::~spiCtrl() {
  if (fd_ < 0) return;
  timer_.reset();
  for (int ch = 0; ch < channels; ++ch) disable_channel(ch);
  clock(-1);
  ::close(fd_);
  fd_ = -1;
}

void spiCtrl::init_device_and_channels() {
  if (fd_ >= 0 || !spiPresent_) return;
  std::clog << "spi: try init" << std::endl;
  // Close-on-exec like every device descriptor: the child programs the
  // daemon starts have no business with the board's hal.
  fd_ = drv::open(sysroot::hal, O_RDWR | O_CLOEXEC);
  if (fd_ < 0) {
    std::clog << "spi: " << sysroot::hal << " open fail" << std::endl;
    return;
  }
  for (int ch = 0; ch < started_channels; ++ch) {
    init_channel(ch);
    enable_channel(ch);
  }
}

bool spiCtrl::ready(int ch, const char* what) {
  if (!spiPresent_) return false;
  if (!validChannel(ch)) {
    std::clog << "spi: bad channel for " << what << " " << ch << std::endl;
    return false;
  }
  init_device_and_channels();
  return true;
}

void spiCtrl::init_channel(int ch) {
  if (!ready(ch, "init")) return;
  for (const RegisterValue& r : kInit) write(ch, r.address, r.value);
  std::clog << "spi: init channel " << ch << std::endl;
}

void spiCtrl::enable_channel(int ch) {
  if (!ready(ch, "enable")) return;
  write(ch, reg_control, control_enabled);
  std::clog << "spi: enable channel " << ch << std::endl;
}

void spiCtrl::disable_channel(int ch) {
  if (!ready(ch, "disable")) return;
  write(ch, reg_control, control_disabled);
  std::clog << "spi: disable channel " << ch << std::endl;
}

void spiCtrl::clock(int ch) {
  if (!spiPresent_) return;
  if (ch < -1 || ch >= channels) {
    std::clog << "spi: bad channel for set clock master " << ch << std::endl;
    return;
  }
  init_device_and_channels();
  for (int c = 0; c < channels; ++c) write(c, reg_clock, clock_slave);
  if (ch >= 0) {
    write(ch, reg_clock, clock_master);
    std::clog << "spi: set clock master on channel " << ch << std::endl;
  } else {
    std::clog << "spi: clock master disabled" << std::endl;
  }
}

bool spiCtrl::lostSpi() {
  if (errno != ENODEV) return false;
  spiPresent_ = false;
  timer_.reset();
  std::clog << "spi: hal without spi" << std::endl;
  return true;
}

void spiCtrl::write(int channel, int address, int data) {
  if (fd_ < 0 || !spiPresent_) return;
  hal::SpiRegister rec{static_cast<std::uint8_t>(channel), static_cast<std::uint8_t>(address),
                       static_cast<std::uint8_t>(data)};
  if (drv::ioctl_ptr(fd_, hal::spi_write, &rec, sizeof rec) >= 0 || lostSpi()) return;
  std::clog << "spi: write error: channel=" << channel << " addr=" << address << " data=" << data << std::endl;
}

unsigned char spiCtrl::read(int channel, int address) {
  if (fd_ < 0 || !spiPresent_) return 0;
  hal::SpiRegister rec{static_cast<std::uint8_t>(channel), static_cast<std::uint8_t>(address), 0xFF};
  const int rc = drv::ioctl_ptr(fd_, hal::spi_read, &rec, sizeof rec);
  if (rc >= 0) return static_cast<unsigned char>(rc & 0xFF);
  if (!lostSpi()) std::clog << "spi: read error: channel=" << channel << " addr=" << address << std::endl;
  return 0;
}

void spiCtrl::OnConnect() {
  if (fd_ >= 0 && spiPresent_) timer_.set(status_period_ms, &spiCtrl::status, this);
}

void spiCtrl::OnDisconnect() { timer_.reset(); }

bool spiCtrl::OnCommand(const LGCP::Command&) { return false; }

void spiCtrl::status() {
  if (!spiPresent_) return;
  for (int ch = 0; ch < channels; ++ch) {
    const unsigned r = read(ch, reg_status);
    // The bus went away during the pass: what it read is no line state.
    if (!spiPresent_) return;
    LGCP::Signal signal;
    ACP::TrunkStatus& st = signal.select_trunkStatus();
    st.set_trunk(ch);
    st.set_state(lineState(r));
    int slips = 0;
    if (!(r & slip_bit)) {
      slipLatch_[ch] = false;
    } else if (!slipLatch_[ch]) {
      slips = 1;
      slipLatch_[ch] = true;
    }
    st.set_slips(slips);
    st.set_lossBF(0);
    st.set_lossCarrier(0);
    st.set_lossAIS(0);
    st.set_lossRAI(0);
    st.set_clockMaster(false);
    st.set_type(ACP::TrunkType::bri);
    SendSignal(signal);
  }
  timer_.set(status_period_ms, &spiCtrl::status, this);
}
