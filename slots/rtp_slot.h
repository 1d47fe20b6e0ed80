#pragma once
// An RTP slot: one TDM channel carried as an RTP stream by a session of the
// board's RTP driver. The driver does the media; the slot begins the
// session with one record, starts and stops its input stream as
// connections come and go, changes payload types on the controller's
// codec-mode requests (by beginning the session again), reads the driver's
// events, and sends RTCP itself: a source description when its factory
// starts RTCP, a bye when the slot goes. It also takes the tone and DSP
// requests of its channel and reports their events.
//
// The radio RTP slots derive from it. What they rely on:
//   - the constructor, on a channel the driver gave, an open session and
//     the record that began it;
//   - `channel`, `session` (its number changes with every restart()),
//     `params`, `input_running`, `input_held` (set to keep the input
//     stream off while connections come and go);
//   - IAfterCreate, IBeforeDestroy and Ioctl, called from their overrides;
//     a codec-mode request that Ioctl takes has restarted the session, so
//     an extension joined to the old one joins `session` again;
//   - tone_receiver() and dsp_receiver() for the factory's settings;
//   - startRTPC, called by the factory; the destructor sends the bye.
#include <netinet/in.h>

#include <cstdint>
#include <string>

#include "asn1/modules/LGCP.h"
#include "platform/rtp_records.h"
#include "runtime/event.h"
#include "runtime/fd.h"
#include "slots/rtpc.h"
#include "slots/slot.h"

// Opens a session of the driver (non-blocking: its events are read in
// bursts until none is left), begins it with the record and adds the
// channel described by `info` ({-1, -1, -1, w} for a new one, {channel, -1,
// -1, 0} for the slot's own again), whose number the driver writes in
// info.tdm. An invalid Fd when a step fails, with one line after `prefix`
// on the error stream.
Fd BeginRtpSession(const rtp_connection_params& params, rtp_channel_info& info, const std::string& prefix);

class RtpSlot : public Slot, private Hardware::TonecReceiver, private Hardware::DSProcReceiver {
 public:
  RtpSlot(int channel, Fd session, const rtp_connection_params& params);
  ~RtpSlot() override;

  // Keeps a duplicate of the RTCP socket and the peer, and sends the source
  // description.
  void startRTPC(const Fd& rtcp, const sockaddr_in& peer);
  // Sends one RTCP packet to the peer: what sendto answers, 0 when the
  // packet does not encode.
  int send(const RTPC::Msg& msg);

  bool enablePD(const LGCP::PDParams& params);
  bool disablePD();
  // Begins the session again on a new descriptor with the current record
  // and the slot's channel; false leaves the slot without a session.
  bool restart();
  // The payload number a codec mode asks for.
  int translate_payload(const LGCP::CodecMode& mode) const;

  void IAfterCreate() override;
  bool IBeforeDestroy() override;
  bool Ioctl(const LGCP::IoctlParams& params) override;
  bool IOnOutputStream() override { return true; }
  bool IOnInputStream() override;
  void IOnOutputRelease() override {}
  void IOnInputRelease() override;
  int IGetTransmitChannel() const override { return channel; }
  int IGetReceiveChannel() const override { return channel; }
  const char* GetName() const override { return "rtp"; }

  Hardware::TonecReceiver& tone_receiver() { return *this; }
  Hardware::DSProcReceiver& dsp_receiver() { return *this; }

 protected:
  // The driver's events on the session: read until none is left.
  void OnRtpEvent(int fd, short revents);

  const int channel;
  Fd session;
  Event event;
  rtp_connection_params params;
  sockaddr_in rtcp_peer{};
  Fd rtcp;
  const int default_pt;
  bool input_running = false;
  bool input_held = false;

 private:
  // A codec-mode request for one direction's payload field.
  bool changeCodec(const LGCP::IoctlParams& request, const LGCP::CodecMode& mode, std::uint16_t& field, bool encoder);
  // Watches the session descriptor for events.
  void watch();
  // "rtp[4096]: ", the head of the slot's log lines.
  std::string prefix() const;

  void tonec_event(const Params& p) override { processTonecEvent(p); }
  unsigned tonec_timeslot() const override { return static_cast<unsigned>(channel); }
  void dsproc_vad_event(const Hardware::DSProcVADEvent& e) override { processVADEvent(e); }
  void dsproc_bss_event(const ::dsproc_bss_event* e) override { processBSSEvent(e); }
  void dsproc_sd_event(const Hardware::DSProcSDEvent& e) override { processSDEvent(e); }
  void dsproc_tone_flt_event(const dsproc_tone_event* e) override { processToneFltEvent(e); }
  void dsproc_flags_event(const ::dsproc_flags_event* e) override { processFlagsEvent(e); }
  unsigned dsproc_timeslot() const override { return static_cast<unsigned>(channel); }
};
