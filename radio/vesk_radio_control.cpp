#include "radio/vesk_radio_control.h"

#include <arpa/inet.h>
#include <poll.h>

#include <algorithm>
#include <cstring>
#include <initializer_list>
#include <sstream>
#include <string>

#include "runtime/mux_clock.h"

namespace RTPSignalling {

namespace {

bool full(const VeskRadioState& s) { return isDefaultInitCommand(s.command); }

bool oneOf(int command, std::initializer_list<int> commands) {
  for (int c : commands)
    if (c == command) return true;
  return false;
}

// What the controller decides, with the packet types that carry each part:
// the header flags always, the channel, the remote control, the session
// (of the types in sessionCommands), the quality and the standby.
void mergeRadioSide(VeskRadioState& to, const VeskRadioState& s, std::initializer_list<int> sessionCommands) {
  to.command = s.command;
  to.priority = s.priority;
  to.li = s.li;
  to.ptt = s.ptt;
  to.bss = s.bss;
  to.vad_rx = s.vad_rx;
  to.vad_tx = s.vad_tx;
  to.sql = s.sql;
  to.sh = s.sh;
  to.pwr = s.pwr;
  to.rv = s.rv;
  to.resv = s.resv;
  to.selcall = s.selcall;
  const bool all = full(s);
  if (all || s.command == WM_CHAN) {
    to.chan_id = s.chan_id;
    to.frequency = s.frequency;
    to.rte = s.rte;
    to.squelch = s.squelch;
  }
  if (all || s.command == WM_SELECT_RC_CHAN) {
    to.interface = s.interface;
    to.channel = s.channel;
  }
  if (all || oneOf(s.command, sessionCommands)) {
    to.session_addr = s.session_addr;
    to.session_ssrc = s.session_ssrc;
  }
  if (all || s.command == WM_RADIO_QUALITY) to.radio_quality = s.radio_quality;
  if (all || s.command == WM_STANDBY) {
    to.standby_state = s.standby_state;
    to.standby_group = s.standby_group;
    to.standby_receiver = s.standby_receiver;
  }
}

// What a workstation asks for, each part with the command that carries it.
void mergeChanSide(VeskRadioState& to, const VeskRadioState& s) {
  const bool all = full(s);
  const int c = s.command;
  if (all || oneOf(c, {GW_FLAG, GW_FLAG_PTT})) to.ptt = s.ptt;
  if (all || oneOf(c, {GW_FLAG, GW_FLAG_BSS})) to.bss = s.bss;
  if (all || oneOf(c, {GW_FLAG, GW_FLAG_SH})) to.sh = s.sh;
  if (all || oneOf(c, {GW_FLAG, GW_FLAG_RV})) to.rv = s.rv;
  if (all || oneOf(c, {GW_FLAG, GW_FLAG_PW})) to.pwr = s.pwr;
  if (all || oneOf(c, {GW_FLAG, GW_FLAG_RS})) to.resv = s.resv;
  if (all || c == GW_ADJUST_CHAN) {
    to.chan_id = s.chan_id;
    to.frequency = s.frequency;
  }
  if (all || c == GW_SEL_CALL) std::memcpy(to.caller_id, s.caller_id, sizeof to.caller_id);
  if (all || c == GW_SELECT_RC_CHAN) {
    to.interface = s.interface;
    to.channel = s.channel;
  }
  if (all || c == GW_ADJUST_SQUELSHE) to.squelch = s.squelch;
  if (all || c == GW_ADJUST_RTE) to.rte = s.rte;
  if (all || c == GW_ADJUST_STANDBY) to.standby_state = s.standby_state;
}

}  // namespace

VeskRadioControl::VeskRadioControl(int channel, const rtp_ext_attach_session_params& attach,
                                   const rtp_ext_init_params& init)
    : RadioControl(channel, attach, init) {
  Init();
}

VeskRadioControl::VeskRadioControl(const rtp_ext_init_params& init) : RadioControl(init) { Init(); }

VeskRadioControl::VeskRadioControl(int channel, Fd rtp, const rtp_attach_session_params& attach)
    : RadioControl(channel, std::move(rtp), attach) {
  Init();
}

void VeskRadioControl::Init() {
  const std::uint32_t now = Mux::milliseconds();
  last_activity_ms_ = flag_sent_ms_ = chan_sent_ms_ = remote_sent_ms_ = standby_sent_ms_ = now;
  sig_proto_init(&rx_record_);
  sig_proto_init(&last_rx_record_);
  sig_proto_init(&spare_record_);
}

bool VeskRadioControl::SendASNToChan(const TERM::RadioStatus& status) {
  if (status.getSelection() != TERM::RadioStatus::e_vesk) return false;
  VeskRadioState state = radio_state_;
  DecodeASN(status.get_vesk(), state);
  SendRadioStateToChan(state);
  return true;
}

bool VeskRadioControl::SendASNToChan(const TERM::RadioModifier& request) {
  if (request.getSelection() != TERM::RadioModifier::e_vesk) return false;
  VeskRadioState state = radio_state_;
  DecodeASN(request.get_vesk(), state);
  SendRadioStateToChan(state);
  return true;
}

bool VeskRadioControl::GetSQU() { return radio_state_.sql != 0; }

int VeskRadioControl::SendProtoToChan(sig_proto& record) {
  unsigned char buf[rtp_ext::max_payload];
  const int n = sig_proto_pack(&record, buf, sizeof buf);
  if (n < 1) {
    last_pack_error_ = n;
    return 0;
  }
  return WriteToChan(buf, n);
}

void VeskRadioControl::SendRadioStateToChan(const VeskRadioState& state) {
  if (PutProtoFromRadioToChan(state) == 0) {
    sig_proto record;
    if (EncodeProto(state, record) == 0) {
      SendProtoToChan(record);
      const std::uint32_t now = Mux::milliseconds();
      last_activity_ms_ = now;
      if (workstation_ == 0) {
        switch (state.command) {
          case WM_FLAG:
          case WM_TRANS:
          case WM_SEL_CALL_TRANS:
            flag_sent_ms_ = now;
            break;
          case WM_CHAN:
            chan_sent_ms_ = now;
            break;
          case WM_SELECT_RC_CHAN:
            remote_sent_ms_ = now;
            break;
          case WM_STANDBY:
            standby_sent_ms_ = now;
            break;
          default:
            break;
        }
      }
    }
  }
  if (trace_) {
    TERM::RtpRadioRequest request;
    EncodeStatusASN(radio_state_, request);
    std::ostringstream text;
    text << "command=0x" << std::hex << std::uppercase << state.command << std::dec
         << " receive extension from controller: " << request;
    LogTrace(text.str());
  }
  UpdateAccess(radio_state_.ptt != 0, in_addr{radio_state_.session_addr});
}

void VeskRadioControl::OnRtpExtEvent(int, short events) {
  if (!(events & POLLIN)) return;
  if (trace_) LogTrace("receive extension packet(s)!");
  sig_proto_init(&last_rx_record_);
  unsigned batch = 0;
  unsigned char buf[rtp_ext::max_payload];
  for (ssize_t n; (n = ReadFromChan(buf)) > 0;) {
    sig_proto_init(&rx_record_);
    const int r = sig_proto_unpack(&rx_record_, buf, static_cast<int>(n));
    if (r != 0) {
      last_unpack_error_ = r;
      continue;
    }
    ++rx_packets_;
    std::string bad;
    const int checked = CheckProto(rx_record_, chan_state_, bad);
    if (checked != 0) {
      ++bad_values_;
      if (!bad_run_) {
        in_addr from;
        from.s_addr = packet_info_.addr;
        LogError("packet type " + std::to_string(rx_record_.type) + " from " + ::inet_ntoa(from) + ": " + bad +
                 (checked < 0 ? " out of range, packet dropped" : " out of range, not taken"));
      }
      bad_run_ = true;
      if (checked < 0) continue;
    } else {
      bad_run_ = false;
    }
    rx_record_.source_addr = packet_info_.addr;
    rx_record_.source_ssrc = packet_info_.ssrc;
    if (batch > 0 && cmp_sig_proto_header(&last_rx_record_, &rx_record_) != 0) OnRtpProtoRXEvent(last_rx_record_);
    last_rx_record_ = rx_record_;
    ++batch;
  }
  if (batch > 0) OnRtpProtoRXEvent(last_rx_record_);
}

void VeskRadioControl::OnRtpProtoRXEvent(const sig_proto& record) {
  VeskRadioState state;
  DecodeProto(record, state);
  if (AccessFormChanToRadio(state)) {
    PutProtoFromChanToRadio(state);
    TERM::RtpRadioRequest request;
    EncodeASN(radio_state_, state, request);
    if (trace_) {
      std::ostringstream text;
      text << "command=0x" << std::hex << std::uppercase << state.command << std::dec
           << " send extension to controller: " << request;
      LogTrace(text.str());
    }
    if (notify_) notify_->RadioControlNotify(request);
  }
  UpdateAccess(radio_state_.ptt != 0, in_addr{radio_state_.session_addr});
}

void VeskRadioControl::SendStatus(int command, std::uint32_t& sent_ms, std::uint32_t now) {
  radio_state_.command = command;
  sig_proto record;
  if (EncodeProto(radio_state_, record) != 0) return;
  SendProtoToChan(record);
  sent_ms = now;
}

int VeskRadioControl::PutProtoFromRadioToChan(const VeskRadioState&) { return 0; }
int VeskRadioControl::PutProtoFromChanToRadio(const VeskRadioState&) { return 0; }
bool VeskRadioControl::AccessFormChanToRadio(const VeskRadioState&) { return true; }
int VeskRadioControl::EncodeProto(const VeskRadioState& state, sig_proto& record) {
  return EncodeProtoHeader(state, record);
}

// ---- the gateway ----

unsigned long VeskRadioGWControl::ProcessRadioStatus(unsigned long now_, unsigned long interval) {
  const auto now = static_cast<std::uint32_t>(now_);
  const VeskRadioState& s = radio_state_;
  if (Elapsed(now, flag_sent_ms_) > 999) SendStatus(s.ptt == 0 ? WM_FLAG : WM_TRANS, flag_sent_ms_, now);
  if (Elapsed(now, chan_sent_ms_) > 999 && s.chan_id >= 0 && s.frequency >= 0.0f)
    SendStatus(WM_CHAN, chan_sent_ms_, now);
  if (s.interface >= 0 && s.channel >= 0) SendStatus(WM_SELECT_RC_CHAN, remote_sent_ms_, now);
  if (Elapsed(now, standby_sent_ms_) > 999 && s.standby_state >= 0 && s.standby_group >= 0 &&
      s.standby_receiver >= 0)
    SendStatus(WM_STANDBY, standby_sent_ms_, now);

  // The oldest send decides when the next step is due.
  std::uint32_t d = 0;
  for (std::uint32_t t : {flag_sent_ms_, chan_sent_ms_, remote_sent_ms_, standby_sent_ms_})
    d = std::max(d, Elapsed(now, t));
  return (d > 0 && d < interval) ? interval - d + 10 : interval;
}

int VeskRadioGWControl::PutProtoFromRadioToChan(const VeskRadioState& state) {
  mergeRadioSide(radio_state_, state, {WM_TRANS, WM_SEL_CALL_TRANS});
  return full(state) ? -1 : 0;
}

int VeskRadioGWControl::PutProtoFromChanToRadio(const VeskRadioState& state) {
  chan_state_.session_addr = state.source_addr;
  chan_state_.session_ssrc = state.source_ssrc;
  chan_state_.command = state.command;
  chan_state_.priority = state.priority;
  mergeChanSide(chan_state_, state);
  return full(state) ? -1 : 0;
}

bool VeskRadioGWControl::AccessFormChanToRadio(const VeskRadioState& state) {
  const VeskRadioState& r = radio_state_;
  if (r.ptt == 0 || r.session_addr == local_addr_.sockaddr().sin_addr.s_addr) return true;
  if (isPTTCommand(state.command) && state.priority < r.priority && state.ptt != 0) return true;
  return r.session_addr == state.source_addr;
}

int VeskRadioGWControl::EncodeProto(const VeskRadioState& state, sig_proto& record) {
  EncodeProtoHeader(state, record);
  return EncodeProtoGatewayPayload(state, record) < 0 ? -1 : 0;
}

// ---- the workstation ----

int VeskRadioWSControl::PutProtoFromRadioToChan(const VeskRadioState& state) {
  radio_state_.command = state.command;
  radio_state_.priority = state.priority;
  mergeChanSide(radio_state_, state);
  return full(state) ? -1 : 0;
}

int VeskRadioWSControl::PutProtoFromChanToRadio(const VeskRadioState& state) {
  chan_state_.session_addr = state.source_addr;
  chan_state_.session_ssrc = state.source_ssrc;
  chan_state_.command = state.command;
  mergeRadioSide(chan_state_, state, {WM_SEL_CALL_TRANS});
  return full(state) ? -1 : 0;
}

int VeskRadioWSControl::EncodeProto(const VeskRadioState& state, sig_proto& record) {
  EncodeProtoHeader(state, record);
  return EncodeProtoWorkstationPayload(state, record) < 0 ? -1 : 0;
}

}  // namespace RTPSignalling
