#pragma once
// HDLC link slots: a raw HDLC data link on the TDM channel of the slot it is
// connected to (a trunk timeslot, typically). The slot switches its own HDLC
// channel (connection priority 1): connecting binds the channel to the
// peer's TDM channel and activates it, disconnecting releases it.
//
// The controller sends whole frame bodies in the ioctl `hdlcPackages`; each
// goes out as
//
//   octets 0-1  the slot's address, big-endian
//   octet  2    bits 5-7 the send counter (mod 8), bits 0-4 the counter last
//               received from the peer
//   octets 3..  the body
//
// through a queue of 120 frames while the channel cannot take them. Frames
// received with the slot's address come back, their bodies in order, in
// ioctl signals `hdlcPackages`: at once when the fifth octet of a frame
// has its top bit clear, else 100 ms after the first frame of the batch.
// A batch never holds more than the controller can decode (128 packages,
// one control-link frame). Every 3 s (and on deactivate) the channel's
// counters go to the controller as `hdlcLinkInfo`.
//
// Traces go to std::clog under the "signalling.hdlc" switch.
#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <string>

#include "hardware/hdlc.h"
#include "runtime/clean_queue.h"
#include "runtime/packet.h"
#include "runtime/timer.h"
#include "slots/slot.h"

class HdlcSlot : public Slot, private HDLC::Notify {
 public:
  // Frames held for the channel; a package beyond them is refused.
  static constexpr unsigned send_queue_size = 120;
  // The most packages one signal carries (the longest list the controller's
  // decoder takes).
  static constexpr unsigned batch_packages = 128;
  static constexpr unsigned statistics_ms = 3000;
  static constexpr unsigned flush_ms = 100;

  HdlcSlot(int trunk, int log, std::uint16_t address);
  ~HdlcSlot() override;

  // Activates the channel again; a failure is signalled `deactivated`.
  bool IActivate(const TERM::TermActivateParams& params) override;
  // Reports the counters at once.
  bool IDeactivate() override;
  // hdlcPackages; answered insufficientResources when some did not fit.
  bool Ioctl(const LGCP::IoctlParams& params) override;
  int GetConnectionPriority() const override { return 1; }
  bool IHwConnectTransmitter(Slot& receiver) override;
  bool IHwConnectReceiver(Slot& source) override;
  bool IHwDisconnectTransmitter(Slot& receiver) override;
  bool IHwDisconnectReceiver(Slot& source) override;
  bool IOnOutputStream() override { return true; }
  bool IOnInputStream() override { return true; }
  const char* GetName() const override { return "hdlc-slot"; }

  // "HdlcSlot[T/*]: ", T the trunk index (the request's trunk - 1).
  void PutHeader(std::ostream& s) const;

  const HDLC& link() const { return channel; }
  unsigned queued() const { return queue.count(); }

 private:
  // HDLC::Notify
  void on_hdlc_receive(Packet& frame) override;
  void on_hdlc_error(HDLC::Notify::Cause::Type cause) override;
  void on_hdlc_ready() override;

  // Binds the channel to a TDM channel and activates it (not for -1).
  void bindTo(int tdm);
  void iactivate();
  // A received body for the pending batch.
  void enqResponce(const unsigned char* body, std::size_t length);
  void flushResponce();
  void OnUpdateTimer();
  // A line to std::clog: always (log) or under the trace switch (trace).
  void log(const std::string& text) const;
  void trace(const std::string& text) const;

  HDLC channel;
  LGCP::IoctlResponse response;
  std::size_t responseOctets = 0;  // what the pending bodies add to the signal
  std::uint32_t trunkIndex;  // printed only
  Timer statistics;
  Timer flush;
  CleanQueue<Packet, send_queue_size> queue;
  std::uint16_t address;
  std::uint8_t sendCounter = 0;
  std::uint8_t peerCounter = 0;
};
