#include "slots/mcc_factory.h"

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <unistd.h>

#include <iostream>
#include <sstream>
#include <string>

#include "hardware/hdlc.h"
#include "hardware/hw_mux.h"
#include "platform/drv.h"
#include "platform/mcc_records.h"
#include "platform/sysroot.h"
#include "runtime/ext_out.h"
#include "slots/slots.h"

namespace {

// The most one read takes: a piece of a transparent stream, or a frame.
constexpr std::size_t read_size = 1024;

}  // namespace

MccSlot::MccSlot(const Fd& mcc, int channel) : channel(channel) {
  event.Bind("MccSlot::OnEvent", &MccSlot::OnEvent, this);
  event.Schedule(mcc, POLLIN);
}

MccSlot::~MccSlot() {
  if (event.fd().valid()) HwMux::instance().Release(channel);
}

void MccSlot::PutHeader(std::ostream& s) const { s << "mcc[" << channel << "]: "; }

bool MccSlot::IUserData(const std::vector<char>& data) {
  if (data.empty()) return true;
  ssize_t n = -1;
  int err = EBADF;  // a channel that failed has been closed
  while (event.fd().valid()) {
    n = ::write(event.fd().get(), data.data(), data.size());
    err = errno;
    if (n >= 0 || err != EINTR) break;
  }
  if (n == static_cast<ssize_t>(data.size())) return true;
  std::ostringstream line;
  line << ext::header(this) << data.size() << " octets of user data not sent: "
       << (n < 0 ? std::string(::strerror(err)) : "short write of " + std::to_string(n)) << "\n";
  std::cerr << line.str() << std::flush;
  Slots::instance().Error(LGCP::ErrorCause::busError);
  return false;
}

void MccSlot::OnEvent(int, short revents) {
  if (revents & POLLIN) DoRead();
  // A driver that has gone reports hang-up (or an error) for ever: left
  // watched it would wake every loop pass.
  if (event.fd().valid() && (revents & (POLLHUP | POLLERR))) Close("channel hung up", 0);
}

void MccSlot::DoRead() {
  static char buffer[read_size];
  for (;;) {
    const ssize_t n = ::read(event.fd().get(), buffer, sizeof buffer);
    if (n > 0) {
      OnUserData(std::vector<char>(buffer, buffer + n));
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    // Nothing more now (EAGAIN), or a read of nothing, which ends the pass
    // rather than spin on it.
    if (n < 0 && errno != EAGAIN) Close("read error: ", errno);
    return;
  }
}

void MccSlot::Close(const char* why, int err) {
  std::ostringstream line;
  line << ext::header(this) << why << (err ? ::strerror(err) : "") << "\n";
  std::cerr << line.str() << std::flush;
  // The driver lets the channel go with the descriptor, and may give its
  // number to the next slot that asks: nothing may still be switched to or
  // from it by then.
  OnChangeOutputStream(false);
  OnChangeInputStream(false);
  HwMux::instance().Release(channel);
  event.Release();
}

Slot* MccFactory::INewSlot(const LGCP::CreateParams& params) {
  if (params.getSelection() != LGCP::CreateParams::e_mcc) return nullptr;
  const LGCP::MccParams& p = params.get_mcc();
  // As decoded: a crafted message can carry a value the schema has no name for.
  const int asked = static_cast<const ASN1::ENUMERATED&>(p.get_type()).getValue();
  std::int32_t type;
  switch (asked) {
    case LGCP::MccType::data:
      type = mcc::hdlc;
      break;
    case LGCP::MccType::bri:
      type = mcc::bri;
      break;
    case LGCP::MccType::transparent:
      type = mcc::transparent;
      break;
    default:
      std::cerr << "mcc: no MCC type " + std::to_string(asked) + "\n" << std::flush;
      return nullptr;
  }
  if (p.get_mode().getValue() == LGCP::MccMode::ss7) type = mcc::ss7;

  std::clog << "mcc: MCC_ALLOCATE type=" + std::to_string(type) + "\n" << std::flush;
  int channel;
  const Fd fd = AllocateMccChannel("mcc: ", type, 1, channel);
  if (!fd.valid()) return nullptr;
  return new MccSlot(fd, channel);
}

void MccFactory::Query(LGCP::Resources& resources) {
  resources.set_mcc_data(0);
  resources.set_mcc_bri(0);
  resources.set_mcc_trans(0);
  Fd fd(drv::open(sysroot::mcc_ctl, O_RDONLY | O_CLOEXEC));
  mcc::MccResources r{};
  if (!fd.valid() || drv::ioctl_ptr(fd.get(), MCC_RESOURCES, &r, sizeof r) < 0) return;
  resources.set_mcc_data(r.data);
  resources.set_mcc_bri(r.bri);
  resources.set_mcc_trans(r.transparent);
}
