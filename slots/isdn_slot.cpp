#include "slots/isdn_slot.h"

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <unistd.h>

#include <algorithm>
#include <iostream>
#include <sstream>

#include "hardware/hw_mux.h"
#include "platform/drv.h"
#include "platform/dsp_data_records.h"
#include "platform/mcc_records.h"
#include "platform/sysroot.h"
#include "runtime/traces.h"
#include "slots/signalling_link.h"

namespace {

const char factory_header[] = "mcc/isdn: ";

ISDN::Side::type sideOf(const LGCP::IsdnSide& side) {
  return side.getSelection() == LGCP::IsdnSide::e_network ? ISDN::Side::network : ISDN::Side::user;
}

// One line on the error stream, written at once.
void fault(const std::string& text) {
  std::ostringstream line;
  line << text << "\n";
  std::cerr << line.str() << std::flush;
}

// The factory's line for a driver that refused: what failed, and why.
void refused(const char* what) {
  const int err = errno;
  fault(std::string(factory_header) + what + ::strerror(err));
}

}  // namespace

// ---- the ISDN slot ----

IsdnSlot::IsdnSlot(const Fd& fd, int channel, ISDN::LAPD* link, const char* eventName)
    : channel(channel), lapd(link) {
  lapd->set_observer(this);
  lapd->set_transmitter(this);
  event.Bind(eventName, &IsdnSlot::OnEvent, this);
  event.Schedule(fd, POLLIN | POLLOUT);
  add_protocol_tail(lapd);
}

IsdnSlot::~IsdnSlot() {
  // The link goes before the descriptor it writes to.
  lapd = nullptr;
  while (Protocol* layer = tail()) delete layer;
  ReleaseDescriptor();
}

void IsdnSlot::ReleaseDescriptor() {
  if (is_open()) HwMux::instance().Release(channel);
  event.Release();
}

bool IsdnSlot::IActivate(const TERM::TermActivateParams&) {
  activate();
  return true;
}

bool IsdnSlot::IDeactivate() {
  deactivate();
  return true;
}

bool IsdnSlot::IUserData(const std::vector<char>& data) { return SendUserData(*this, *this, *this, data); }

void IsdnSlot::Trace(const char* way, const Packet& frame) const {
  std::ostringstream line;
  line << *this << way << frame.text() << "\n";
  std::clog << line.str() << std::flush;
}

void IsdnSlot::OnEvent(int fd, short revents) {
  if (revents & (POLLIN | POLLHUP | POLLERR)) {
    Packet frame = rx_;
    rx_ = Packet();
    const ssize_t n = ReadFrame(fd, frame);
    if (n > 0 && frame.is_null()) {
      std::ostringstream line;
      line << *this << ": rx frame of " << n << " octets dropped: no free packet";
      fault(line.str());
    } else if (n > 0) {
      if (traces.signalling_isdn) Trace(": rx ", frame);
      receive(frame);
    } else if (const int err = n == 0 ? 0 : errno; err != EAGAIN && err != EINTR) {
      // A driver never hands over an empty frame: nothing read means its
      // end has gone. Watching on would spin the loop on a descriptor that
      // stays readable; the link goes down instead, and the controller
      // hears of it.
      std::ostringstream line;
      line << *this << ": read error: " << (err == 0 ? "end of file" : ::strerror(err));
      fault(line.str());
      // The driver may give the channel's number to the next slot that
      // asks: nothing may still be switched to or from it by then.
      OnChangeOutputStream(false);
      OnChangeInputStream(false);
      ReleaseDescriptor();
      deactivate();
      return;
    }
    if (frame.get() && frame.get()->references() == 1) rx_ = frame;  // a frame a layer keeps stays its own
  }
  if ((revents & POLLOUT) && !ready && is_open()) {
    ready = true;
    event.Schedule(event.fd(), POLLIN);
    lapd->on_hdlc_ready();
  }
}

bool IsdnSlot::hdlc_transmit(Packet& frame) {
  if (frame.length() == 0) return true;
  if (!is_open()) return false;
  for (;;) {
    if (::write(event.fd().get(), frame.data(), frame.length()) >= 0) {
      if (traces.signalling_isdn) Trace(": tx ", frame);
      return true;
    }
    const int err = errno;
    if (err == EINTR) continue;
    if (err == EAGAIN) {
      // The link keeps the frame until the channel is writable again.
      ready = false;
      event.Schedule(event.fd(), POLLIN | POLLOUT);
      return false;
    }
    std::ostringstream line;
    line << *this << ": write error: " << ::strerror(err);
    fault(line.str());
    return false;
  }
}

void IsdnSlot::on_activated(Protocol*) {
  UpdateISDN_Statistics();
  OnActivated();
}

void IsdnSlot::on_deactivated(Protocol*, Protocol_status) {
  UpdateISDN_Statistics();
  OnDeactivated();
}

void IsdnSlot::on_message(Packet& p) { ReportUserData(*this, p); }

void IsdnSlot::UpdateISDN_Statistics() {
  if (lapd) ReportIsdnLinkInfo(*this, *lapd);
}

// ---- ATS-QSIG ----

AtsQsigSlot::AtsQsigSlot(const Fd& fd, int channel, ISDN::LAPD* link)
    : IsdnSlot(fd, channel, link, "AtsQsigSlot::OnEvent") {}

AtsQsigSlot::~AtsQsigSlot() {
  // Closing the descriptor releases their channels in the driver.
  for (AtsQsigBSlot* b : bSlots_) b->Orphan();
}

bool AtsQsigSlot::IBeforeDestroy() {
  // Its B channels go with the descriptor; what their slots may still be
  // fed from is undone now, since those slots no longer own the channels.
  for (const AtsQsigBSlot* b : bSlots_) HwMux::instance().Release(b->get_channel());
  ReleaseDescriptor();
  return true;
}

AtsQsigBSlot* AtsQsigSlot::NewBChannel(unsigned index) {
  dspdata::BChannel rec{static_cast<std::int32_t>(index), -1};
  const int rc = drv::ioctl_ptr(descriptor(), dspdata::b_open, &rec, sizeof rec);
  if (rc < 0 || rec.channel < 0) {
    // A driver that answered yes without a channel gets its index back.
    if (rc >= 0) drv::ioctl_ptr(descriptor(), dspdata::b_release, &rec, sizeof rec);
    fault("ats-qsig: add B channel fail !!!");
    return nullptr;
  }
  auto* b = new AtsQsigBSlot(*this, index, rec.channel);
  bSlots_.push_back(b);
  return b;
}

void AtsQsigSlot::ReleaseBChannel(const AtsQsigBSlot& b) {
  dspdata::BChannel rec{static_cast<std::int32_t>(b.get_index()), b.get_channel()};
  if (drv::ioctl_ptr(descriptor(), dspdata::b_release, &rec, sizeof rec) < 0) {
    const int err = errno;
    std::ostringstream line;
    line << b << ": release of B channel " << b.get_index() << " fail: " << ::strerror(err);
    fault(line.str());
  }
}

void AtsQsigSlot::Forget(AtsQsigBSlot* b) { bSlots_.erase(std::remove(bSlots_.begin(), bSlots_.end(), b), bSlots_.end()); }

AtsQsigBSlot::~AtsQsigBSlot() {
  if (parent_) parent_->Forget(this);
}

bool AtsQsigBSlot::IBeforeDestroy() {
  if (parent_) {
    HwMux::instance().Release(bChannel);
    parent_->ReleaseBChannel(*this);
  } else {
    std::ostringstream line;
    line << *this << ": Can't find signalling slot\n";
    std::clog << line.str() << std::flush;
  }
  return true;
}

// ---- the factory ----

Slot* IsdnFactory::INewSlot(const LGCP::CreateParams& params) {
  switch (params.getSelection()) {
    case LGCP::CreateParams::e_isdn:
      return NewIsdnSlot(params.get_isdn());
    case LGCP::CreateParams::e_ats_qsig:
      return NewAtsQsigSlot(params.get_ats_qsig());
    case LGCP::CreateParams::e_ats_qsig_b:
      return NewAtsQsigBSlot(params.get_ats_qsig_b());
    default:
      return nullptr;
  }
}

Slot* IsdnFactory::FindSlot(unsigned number) const {
  for (Slot* s : slots())
    if (static_cast<unsigned>(s->id()) == number) return s;
  return nullptr;
}

Slot* IsdnFactory::NewIsdnSlot(const LGCP::IsdnParams& params) {
  const bool bri = params.get_type().getValue() == LGCP::IsdnType::bri;
  // A slot without a channel could never be connected: none is made.
  int channel;
  const Fd fd = AllocateMccChannel(factory_header, bri ? mcc::bri : mcc::hdlc, 1, channel);
  if (!fd.valid()) return nullptr;
  auto* link = new ISDN::LAPD(ISDN::Side::user, 0);
  if (bri) link->change_to_bri();
  link->set_link(static_cast<std::uint32_t>(params.get_trunk().getValue()));
  link->set_log(LinkLogLevel(params.get_log().getValue()));
  link->set_side(sideOf(params.get_side()));
  return new IsdnSlot(fd, channel, link);
}

Slot* IsdnFactory::NewAtsQsigSlot(const LGCP::AtsQsigParams& params) {
  Fd fd(drv::open(sysroot::dsp_data, O_RDWR | O_NONBLOCK | O_CLOEXEC));
  if (!fd.valid()) {
    refused("fail to open dsp-data device: ");
    return nullptr;
  }
  const int channel = drv::ioctl_val(fd.get(), dspdata::d_channel, 0);
  if (channel < 0) {
    refused("D channel request fail: ");
    return nullptr;
  }
  auto* link = new ISDN::LAPD(ISDN::Side::user, 0);
  link->set_log(LinkLogLevel(params.get_log().getValue()));
  link->set_side(sideOf(params.get_side()));
  link->set_link(static_cast<std::uint32_t>(channel));
  return new AtsQsigSlot(fd, channel, link);
}

Slot* IsdnFactory::NewAtsQsigBSlot(const LGCP::AtsQsigBParams& params) {
  const int number = params.get_slot().getValue();
  auto* parent = dynamic_cast<AtsQsigSlot*>(FindSlot(static_cast<unsigned>(number)));
  if (!parent) {
    fault(factory_header + std::string("no ATS-QSIG slot ") + std::to_string(number) + " for a B channel");
    return nullptr;
  }
  const int subslot = params.get_subslot().getValue();
  if (subslot < 1 || subslot > dspdata::b_channels) {
    fault(factory_header + std::string("no B channel ") + std::to_string(subslot));
    return nullptr;
  }
  return parent->NewBChannel(static_cast<unsigned>(subslot - 1));
}
