#pragma once
// The maker of RTP slots (factory "RTP"), and what every RTP factory shares
// with it: the voice driver's DSP channel counts it reports, the payload
// table, and the steps that open an RTP session and start a slot on it.
//
// A factory of a slot built on RtpSlot derives from RtpFactoryBase:
//
//   RtpFactoryBase::Opening o;
//   if (!OpenSession(p, reuseAddress, channelWord, o)) return nullptr;
//   auto* slot = new MySlot(o.channel, o.session, o.params, ...);
//   StartSlot(*slot, o, p.get_codecRTP());
//   return slot;          // o closes the factory's own descriptors
#include <netinet/in.h>

#include <cstdint>
#include <string>

#include "asn1/modules/LGCP.h"
#include "asn1/modules/TERM.h"
#include "platform/rtp_records.h"
#include "runtime/fd.h"
#include "slots/rtp_slot.h"
#include "slots/slot_factory.h"

class RtpFactoryBase : public SlotFactory {
 public:
  // Reads the counts afresh, then reports them.
  void Query(LGCP::Resources& resources) override;
  // Reads the DSP channel counts of each codec kind from the voice driver;
  // a count the driver does not give is 0.
  void IQuery();

  // The driver's payload number of a payload (0 for one it has none for).
  static int translateCodec(const TERM::Payload& payload);
  // Of payload, unless override is the other G.711 law: then override's.
  static int translateCodec(const TERM::Payload& payload, const TERM::Payload& override_);
  // A source identifier from the system's random source.
  static std::uint32_t randomSsrc();

  int g729() const { return g729_; }
  int g723() const { return g723_; }
  int g711() const { return g711_; }
  int g711mcc() const { return g711mcc_; }
  int universal() const { return universal_; }

 protected:
  // logName heads the log lines ("rtp" gives "rtp[0,30,60,2]: "). Reads
  // the counts once.
  explicit RtpFactoryBase(const char* logName);

  // The log prefix, with the G.723, G.729, G.711 and universal counts.
  std::string prefix() const;

  // What the steps before a slot leave open: the RTCP socket, the session
  // begun with its record, the channel the driver gave, the RTCP peer.
  struct Opening {
    Fd rtcp;
    Fd session;
    rtp_connection_params params{};
    int channel = -1;
    sockaddr_in rtcpPeer{};
  };
  // Checks the payload and the addresses, opens and binds the RTCP socket
  // (at the local port + 1, or where the system chooses for port 0;
  // SO_REUSEADDR when asked), begins a session and adds a new channel
  // whose fourth word is channelWord. False, with its line in the log and
  // nothing left open, when a step fails.
  bool OpenSession(const LGCP::CreateRtpParams& params, bool reuseAddress, std::uint32_t channelWord, Opening& opening);
  // Starts RTCP on the new slot and applies the echo settings.
  void StartSlot(RtpSlot& slot, Opening& opening, const TERM::RtpParams& params);

 private:
  const char* logName_;
  int g729_ = 0, g723_ = 0, g711_ = 0, g711mcc_ = 0, universal_ = 0;
};

class RtpFactory : public RtpFactoryBase {
 public:
  static RtpFactory& instance();

  const char* GetName() const override { return "RTP"; }
  // The `rtp` alternative without a radio field.
  Slot* INewSlot(const LGCP::CreateParams& params) override;

 private:
  RtpFactory() : RtpFactoryBase("rtp") {}
};
