#include "slots/rtp_slot.h"

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

#include <iostream>

#include "hardware/hw_mux.h"
#include "platform/drv.h"
#include "platform/sysroot.h"

namespace {

// What the source description says of the gateway.
const char kCanonicalName[] = "korvend@media-gateway";
const char kContactEmail[] = "noc@korvend.invalid";
const char kContactPhone[] = "+1 555 0100";
const char kByeReason[] = "session end";

// One line on a stream in one write: korvend-sim leaves std::clog
// unbuffered.
void put(std::ostream& s, const std::string& line) { s << line + "\n" << std::flush; }

}  // namespace

Fd BeginRtpSession(const rtp_connection_params& params, rtp_channel_info& info, const std::string& prefix) {
  Fd session(drv::open(sysroot::rtp, O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  if (!session.valid()) {
    put(std::cerr, prefix + "device \"" + sysroot::rtp + "\" open fail: " + ::strerror(errno));
    return Fd();
  }
  rtp_connection_params record = params;
  if (drv::ioctl_ptr(session.get(), rtpdrv::begin_session, &record, sizeof record) < 0) {
    put(std::cerr, prefix + "begin session fail !!! ");
    return Fd();
  }
  if (drv::ioctl_ptr(session.get(), rtpdrv::add_channel, &info, sizeof info) < 0) {
    put(std::cerr, prefix + "add channel fail !!!");
    return Fd();
  }
  return session;
}

RtpSlot::RtpSlot(int channel, Fd session, const rtp_connection_params& params)
    : channel(channel), session(std::move(session)), params(params), default_pt(params.rx_pt) {
  rtcp_peer.sin_family = AF_INET;
  event.Bind("RtpSlot::OnRtpEvent", &RtpSlot::OnRtpEvent, this);
  watch();
}

RtpSlot::~RtpSlot() {
  send(RTPC::BYE(params.ssrc, kByeReason));
  rtcp.close();
  Hardware::TonecReceiver::CleanBeforeDestroy();
  Hardware::DSProcReceiver::CleanBeforeDestroy();
  event.Release();
}

void RtpSlot::watch() {
  if (session.valid()) event.Schedule(session, POLLIN);
}

std::string RtpSlot::prefix() const { return "rtp[" + std::to_string(channel) + "]: "; }

void RtpSlot::startRTPC(const Fd& socket, const sockaddr_in& peer) {
  rtcp_peer = peer;
  rtcp = socket;
  RTPC::SDES sdes(params.ssrc);
  sdes.add(RTPC::SDES::Item::CNAME, kCanonicalName);
  sdes.add(RTPC::SDES::Item::EMAIL, kContactEmail);
  sdes.add(RTPC::SDES::Item::PHONE, kContactPhone);
  send(sdes);
}

int RtpSlot::send(const RTPC::Msg& msg) {
  char buf[1024];
  const unsigned n = msg.encode(buf, sizeof buf);
  if (n == 0) return 0;
  return static_cast<int>(
      ::sendto(rtcp.get(), buf, n, MSG_DONTWAIT, reinterpret_cast<const sockaddr*>(&rtcp_peer), sizeof rtcp_peer));
}

void RtpSlot::OnRtpEvent(int fd, short revents) {
  if (revents & POLLIN) {
    // One record a read, until none is left (the descriptor never blocks);
    // an empty or short read ends the burst as well.
    for (;;) {
      rtp_event ev;
      const ssize_t n = ::read(fd, &ev, sizeof ev);
      if (n == static_cast<ssize_t>(sizeof ev)) {
        put(std::clog, prefix() + "rtp event:  type=" + std::to_string(ev.type));
        processRtpEvent(ev);
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
        put(std::cerr, prefix() + "fail to read from rtp: " + ::strerror(errno));
        event.Release();  // a failed session would wake the loop on every pass
        return;
      }
      break;
    }
  }
  if (revents & (POLLHUP | POLLERR | POLLNVAL)) {
    put(std::cerr, prefix() + "fail to read from rtp: the driver closed the session");
    event.Release();
  }
}

bool RtpSlot::enablePD(const LGCP::PDParams& pd) {
  rtp_pd_params rec{};
  rec.type = rtpdrv::event_pd;
  rec.timeout = pd.get_timeout().getValue();
  rec.timeout_again = rec.timeout;
  if (drv::ioctl_ptr(session.get(), rtpdrv::pd_enable, &rec, sizeof rec) < 0) {
    put(std::cerr, prefix() + "RTP SET EVENT PD fail: errno=\"" + ::strerror(errno) + "\"");
    return false;
  }
  put(std::clog, prefix() + "RTP SET EVENT PD timeout=" + std::to_string(rec.timeout));
  return true;
}

bool RtpSlot::disablePD() {
  std::uint32_t word = 1;
  if (drv::ioctl_ptr(session.get(), rtpdrv::pd_reset, &word, sizeof word) < 0) {
    put(std::cerr, prefix() + "RTP RESET EVENT PD fail: errno=\"" + ::strerror(errno) + "\"");
    return false;
  }
  put(std::clog, prefix() + "RTP RESET EVENT PD");
  return true;
}

bool RtpSlot::restart() {
  // The watch goes with the old session and follows the new one.
  event.Release();
  session.close();
  rtp_channel_info info{channel, -1, -1, 0};
  session = BeginRtpSession(params, info, prefix());
  if (!session.valid()) return false;
  watch();
  // The new session's input stream is off: a slot that has a source keeps
  // receiving from it.
  if (input_running && drv::ioctl_val(session.get(), rtpdrv::input_start, 0) < 0) {
    put(std::cerr, prefix() + "input start fail: " + ::strerror(errno));
    input_running = false;
  }
  return true;
}

int RtpSlot::translate_payload(const LGCP::CodecMode& mode) const {
  switch (mode.getValue()) {
    case LGCP::CodecMode::alaw:
      return 8;
    case LGCP::CodecMode::ulaw:
      return 0;
    default:
      return default_pt;
  }
}

bool RtpSlot::changeCodec(const LGCP::IoctlParams& request, const LGCP::CodecMode& mode, std::uint16_t& field,
                          bool encoder) {
  std::string line = prefix() + "do restart RTP session (change tx payload):" + request.asValueNotation();
  const int pt = translate_payload(mode);
  if (pt == field) {
    put(std::clog, line + " - Nothing to do");
    return true;
  }
  field = static_cast<std::uint16_t>(pt);
  if (!restart()) {
    put(std::clog, line);
    put(std::cerr, prefix() + "fail to restart RTP session!");
    return false;
  }
  put(std::clog, encoder ? line + " - OK" : line);
  return true;
}

void RtpSlot::IAfterCreate() {
  OnChangeOutputStream(true);
  OnChangeInputStream(true);
}

bool RtpSlot::IBeforeDestroy() {
  if (session.valid()) {  // a failed restart left none
    const int fd = session.get();
    drv::ioctl_val(fd, rtpdrv::stop_session, 0);
    drv::ioctl_val(fd, rtpdrv::end_session, 0);
    drv::ioctl_val(fd, rtpdrv::remove_channel, 0);
    disablePD();
  }
  event.Release();
  session.close();
  HwMux::instance().Disable(channel);
  return true;
}

bool RtpSlot::IOnInputStream() {
  if (input_held) return true;
  if (drv::ioctl_val(session.get(), rtpdrv::input_start, 0) < 0) {
    put(std::cerr, prefix() + "input start fail: " + ::strerror(errno));
    return true;
  }
  input_running = true;
  return true;
}

void RtpSlot::IOnInputRelease() {
  drv::ioctl_val(session.get(), rtpdrv::input_stop, 0);
  input_running = false;
}

bool RtpSlot::Ioctl(const LGCP::IoctlParams& p) {
  using P = LGCP::IoctlParams;
  Hardware::TonecReceiver& tone = *this;
  Hardware::DSProcReceiver& dsp = *this;
  switch (p.getSelection()) {
    case P::e_echoSuppressor:
      return tone.echoCancel(p.get_echoSuppressor().getValue());
    case P::e_activateWaitTone:
      tone.activateAudibleCall();
      return true;
    case P::e_deactivateWaitTone:
      tone.cancelAudibleCall();
      return true;
    case P::e_translateDTMF:
      tone.translateDTMF(p.get_translateDTMF());
      return true;
    case P::e_dtmf_params:
      return tone.configureDTMF(p.get_dtmf_params());
    case P::e_dtmf_enable:
      return tone.enableDTMF(p.get_dtmf_enable().getValue());
    case P::e_encoder_mode:
      return changeCodec(p, p.get_encoder_mode(), params.tx_pt, true);
    case P::e_decoder_mode:
      return changeCodec(p, p.get_decoder_mode(), params.rx_pt, false);
    case P::e_vad_params:
      return dsp.configureVAD(p.get_vad_params());
    case P::e_vad_enable:
      return dsp.enableVAD(p.get_vad_enable().getValue());
    case P::e_vad_disable:
      return dsp.disableVAD();
    case P::e_dtmf_reject_enable:
      return tone.enableDTMFReject(p.get_dtmf_reject_enable().getValue());
    case P::e_sd_params:
      return dsp.configureSD();
    case P::e_sd_enable:
      return dsp.enableSD(p.get_sd_enable().getValue());
    case P::e_sd_disable:
      return dsp.disableSD();
    case P::e_pd_enable:
      return enablePD(p.get_pd_enable());
    case P::e_pd_disable:
      return disablePD();
    case P::e_rx_gain:
      dsp.configureRxGain(static_cast<signed char>(p.get_rx_gain().get_gainDB().getValue() & 0xFF));
      return true;
    case P::e_tone_filter: {
      const LGCP::ToneFilter& f = p.get_tone_filter();
      dsp.configureToneFilter(static_cast<unsigned>(f.get_freq().getValue()), f.get_enable().getValue() ? 1 : 0,
                              f.get_duration_th_msec().getValue(), f.get_det_level_dB().getValue());
      return true;
    }
    case P::e_selcal:
      tone.translateSelcal(p.get_selcal());
      return true;
    default:
      return false;
  }
}
