#include "hardware/hw_mux.h"

#include <errno.h>
#include <execinfo.h>
#include <fcntl.h>
#include <string.h>
#include <sys/types.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <iostream>

#include "platform/drv.h"
#include "platform/hal_records.h"
#include "platform/sysroot.h"
#include "runtime/full_sleep.h"

namespace {

constexpr unsigned table_size = hal::bus_channels;
constexpr unsigned sweep_per_run = 128;

}  // namespace

HwMux& HwMux::instance() {
  static HwMux mux;
  return mux;
}

HwMux::HwMux() {
  for (auto& e : table_) e = disabled;
  std::clog << "hwMux: init" << std::endl;
  dpc_.Bind(this, &HwMux::OnDPC);
  IsOpened();
}

HwMux::~HwMux() {
  if (fd_ >= 0) ::close(fd_);
  dpc_.Deactivate();
}

int HwMux::index(int channel) {
  return channel >= hal::bus_first && channel <= hal::bus_last ? channel - hal::bus_first : -1;
}

std::uint16_t HwMux::entry(int channel) const {
  const int i = index(channel);
  return i < 0 ? disabled : table_[i];
}

void HwMux::note(int channel, std::uint16_t what) {
  const int i = index(channel);
  if (i >= 0)
    table_[i] = what;
  else if (what == disabled)
    others_.erase(channel);
  else
    others_[channel] = what;
}

std::uint16_t HwMux::driven(int channel) const {
  const int i = index(channel);
  if (i >= 0) return table_[i];
  const auto it = others_.find(channel);
  return it == others_.end() ? disabled : it->second;
}

bool HwMux::IsOpened() {
  if (fd_ >= 0) return true;
  fd_ = drv::open(sysroot::hal, O_RDWR | O_CLOEXEC);
  if (fd_ < 0) {
    std::clog << "hwMux: can't open device: " << ::strerror(errno) << std::endl;
    return false;
  }
  std::clog << "hwMux: device opened" << std::endl;
  for (unsigned i = 0; i < table_size; ++i) {
    hal::MatrixChannel rec{static_cast<std::int32_t>(hal::bus_first + i)};
    drv::ioctl_ptr(fd_, hal::matrix_disable, &rec, sizeof rec);
    table_[i] = disabled;
  }
  cursor_ = 0;
  dpc_.Activate();
  full_sleep_us(500);
  return true;
}

bool HwMux::Connect(int source, int destination) {
  if (!IsOpened() || (source | destination) < 0) {
    std::clog << "hwMux: ERROR not opened" << std::endl;
    return false;
  }
  note(destination, static_cast<std::uint16_t>(source));
  hal::MatrixConnect rec{destination, source};
  if (drv::ioctl_ptr(fd_, hal::matrix_connect, &rec, sizeof rec) < 0) {
    std::clog << "hwMux: connect " << source << " -> " << destination << " failed: " << ::strerror(errno)
              << std::endl;
    return false;
  }
  return true;
}

bool HwMux::Disconnect(int channel) {
  if (!IsOpened() || channel < 0) return false;
  note(channel, constant);
  hal::MatrixValue rec{channel, hal::idle_byte};
  if (drv::ioctl_ptr(fd_, hal::matrix_write, &rec, sizeof rec) < 0) {
    std::clog << "hwMux: disconnect failed " << channel << " : " << ::strerror(errno) << std::endl;
    return false;
  }
  return true;
}

bool HwMux::Disable(int channel) {
  if (!IsOpened() || channel < 0) return false;
  note(channel, disabled);
  hal::MatrixChannel rec{channel};
  if (drv::ioctl_ptr(fd_, hal::matrix_disable, &rec, sizeof rec) < 0) {
    std::clog << "hwMux: disable failed " << channel << " : " << ::strerror(errno) << std::endl;
    return false;
  }
  return true;
}

bool HwMux::Write(int channel, unsigned char value) {
  if (!IsOpened() || channel < 0) return false;
  note(channel, constant);
  hal::MatrixValue rec{channel, value};
  if (drv::ioctl_ptr(fd_, hal::matrix_write, &rec, sizeof rec) < 0) {
    std::clog << "hwMux: write failed " << channel << " <- " << "0x" << std::hex << unsigned(value) << std::dec
              << " : " << ::strerror(errno) << std::endl;
    return false;
  }
  return true;
}

bool HwMux::Release(int output, int source) {
  if (output < 0) return true;
  if (source != any && driven(output) != static_cast<std::uint16_t>(source)) return true;
  if (output >= hal::trunk_first && output <= hal::trunk_last) return Disconnect(output);
  return Disable(output);
}

unsigned char HwMux::Read(int channel) {
  if (!IsOpened() || channel < 0) return 255;
  hal::MatrixValue rec{channel, 255};
  if (drv::ioctl_ptr(fd_, hal::matrix_read, &rec, sizeof rec) < 0) {
    std::clog << "hwMux: read failed " << channel << " -> " << "0x" << std::hex << rec.value << std::dec << " : "
              << ::strerror(errno) << std::endl;
    return 255;
  }
  return static_cast<unsigned char>(rec.value & 0xFF);
}

void HwMux::Reset() {}

void HwMux::OnDPC() {
  if (fd_ < 0) return;
  for (unsigned n = 0; n < sweep_per_run; ++n) {
    cursor_ = (cursor_ + 1) % table_size;
    if (table_[cursor_] == disabled) RefreshChannel(cursor_);
  }
}

void HwMux::RefreshChannel(unsigned i) {
  hal::MatrixChannel rec{static_cast<std::int32_t>(hal::bus_first + i)};
  drv::ioctl_ptr(fd_, hal::matrix_disable, &rec, sizeof rec);
}

void print_trace() {
  void* frames[10];
  const int size = ::backtrace(frames, 10);
  char** lines = ::backtrace_symbols(frames, size);
  std::printf("Obtained %zd stack frames.\n", static_cast<ssize_t>(size));
  if (!lines) return;  // no memory for the symbol lines: the count is all there is
  for (int i = 0; i < size; ++i) std::puts(lines[i]);
  std::free(lines);
}
