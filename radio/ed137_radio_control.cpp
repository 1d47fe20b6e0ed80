#include "radio/ed137_radio_control.h"

#include <arpa/inet.h>
#include <poll.h>

#include <sstream>

#include "runtime/mux_clock.h"

namespace RTPSignalling {

namespace {

using State = ED137RadioState;

std::uint32_t enumValue(const ASN1::ENUMERATED& e) { return static_cast<std::uint32_t>(e.getValue()); }

void getHeader(const TERM::ED137RadioHeader& h, State& s) {
  s.ptt = enumValue(h.get_ptt());
  s.squ = enumValue(h.get_squ());
  s.ptt_id = static_cast<std::uint32_t>(h.get_ptt_id().getValue());
  s.ptt_mute = h.get_ptt_mute().getValue() ? 1 : 0;
  s.ptt_summation = h.get_ptt_summation().getValue() ? 1 : 0;
  s.sct = h.get_sct().getValue() ? 1 : 0;
}

void getSqi(const TERM::ED137RadioExtensionSQI& sqi, State& s) {
  s.flags |= State::has_sqi;
  s.bss_method = enumValue(sqi.get_bss_method());
  s.bss_quality = static_cast<std::uint32_t>(sqi.get_bss_quality().getValue());
}

void putHeader(const State& s, TERM::ED137RadioHeader& h) {
  h.get_ptt().setValue(static_cast<int>(s.ptt));
  h.get_squ().setValue(static_cast<int>(s.squ));
  h.set_ptt_id(static_cast<unsigned>(s.ptt_id));
  h.set_ptt_mute(s.ptt_mute != 0);
  h.set_ptt_summation(s.ptt_summation != 0);
  h.set_sct(s.sct != 0);
}

void putSqi(const State& s, TERM::ED137RadioExtensionSQI& sqi) {
  sqi.get_bss_method().setValue(static_cast<int>(s.bss_method));
  sqi.set_bss_quality(static_cast<unsigned>(s.bss_quality));
}

// What a side keeps of a state: everything but the SQI words of a state
// without them.
void keep(State& to, const State& s) {
  const std::uint32_t method = to.bss_method, quality = to.bss_quality;
  to = s;
  if (!(s.flags & State::has_sqi)) {
    to.bss_method = method;
    to.bss_quality = quality;
  }
}

std::string dotted(std::uint32_t networkOrder) {
  in_addr a;
  a.s_addr = networkOrder;
  char text[INET_ADDRSTRLEN] = {};
  ::inet_ntop(AF_INET, &a, text, sizeof text);
  return text;
}

}  // namespace

void ED137RadioParams::Init(const TERM::ED137RadioResponse& r) {
  using R = TERM::ED137RadioResponse;
  if (r.hasOptionalField(R::o_transmission_depend_on_squ))
    transmission_depends_on_squ = r.get_transmission_depend_on_squ().getValue();
  if (r.hasOptionalField(R::o_sigtime)) sigtime = static_cast<int>(r.get_sigtime().getValue());
  if (r.hasOptionalField(R::o_r2s_keepalive_period))
    keepalive_period = static_cast<int>(r.get_r2s_keepalive_period().getValue());
  if (r.hasOptionalField(R::o_r2s_keepalive_multiplier))
    keepalive_multiplier = static_cast<int>(r.get_r2s_keepalive_multiplier().getValue());
  radio_type = r.get_type().ASN1::ENUMERATED::getValue();
  txrx_mode = r.get_txrxmode().ASN1::ENUMERATED::getValue();
}

bool ED137RadioState::IsEqual(const ED137RadioState& o) const {
  return flags == o.flags && ptt == o.ptt && squ == o.squ && ptt_id == o.ptt_id && ptt_mute == o.ptt_mute &&
         ptt_summation == o.ptt_summation && sct == o.sct && bss_method == o.bss_method &&
         bss_quality == o.bss_quality && session_addr == o.session_addr && session_ssrc == o.session_ssrc;
}

ED137RadioControl::ED137RadioControl(int channel, const rtp_ext_attach_session_params& attach,
                                     const rtp_ext_init_params& init)
    : RadioControl(channel, attach, init) {
  Init();
}

ED137RadioControl::ED137RadioControl(const rtp_ext_init_params& init) : RadioControl(init) { Init(); }

ED137RadioControl::ED137RadioControl(int channel, Fd rtp, const rtp_attach_session_params& attach)
    : RadioControl(channel, std::move(rtp), attach) {
  Init();
}

void ED137RadioControl::Init() {
  const std::uint32_t now = Mux::milliseconds();
  last_activity_ms_ = last_keepalive_ms_ = last_report_ms_ = last_receive_ms_ = now;
  r2s_proto_init(&rx_record_, r2s_proto_type_empty);
  r2s_proto_init(&last_rx_record_, r2s_proto_type_empty);
  r2s_proto_init(&spare_record_, r2s_proto_type_empty);
}

// ---- from the controller to the channel ----

void ED137RadioControl::DecodeASN(const TERM::ED137RadioStatus& status, State& s) {
  s.flags = State::rx_direction | State::has_header;
  getHeader(status.get_header(), s);
  if (status.hasOptionalField(TERM::ED137RadioStatus::o_sqi)) getSqi(status.get_sqi(), s);
}

void ED137RadioControl::DecodeASN(const TERM::ED137RadioModifier& request, State& s) {
  s.flags = 0;
  s.session_addr = ::inet_addr(request.get_addr().get_session_addr().c_str());
  s.session_ssrc = static_cast<std::uint32_t>(request.get_addr().get_session_ssrc().getValue());
  const TERM::ED137RadioModifierParams& p = request.get_params();
  if (!p.isSelected()) return;
  switch (p.getSelection()) {
    case TERM::ED137RadioModifierParams::e_rx:
      s.flags |= State::rx_direction | State::has_header;
      getHeader(p.get_rx().get_header(), s);
      if (p.get_rx().hasOptionalField(TERM::ED137RadioRxCommand::o_sqi)) getSqi(p.get_rx().get_sqi(), s);
      break;
    case TERM::ED137RadioModifierParams::e_tx:
      s.flags |= State::tx_direction | State::has_header;
      getHeader(p.get_tx().get_header(), s);
      break;
    default:
      break;
  }
}

bool ED137RadioControl::SendASNToChan(const TERM::RadioStatus& status) {
  if (status.getSelection() != TERM::RadioStatus::e_ed_137) return false;
  State state = radio_state_;
  DecodeASN(status.get_ed_137(), state);
  SendRadioStateToChan(state);
  return true;
}

bool ED137RadioControl::SendASNToChan(const TERM::RadioModifier& request) {
  if (request.getSelection() != TERM::RadioModifier::e_ed_137) return false;
  State state = radio_state_;
  DecodeASN(request.get_ed_137(), state);
  SendRadioStateToChan(state);
  return true;
}

bool ED137RadioControl::GetSQU() { return radio_state_.squ != 0; }

// Words 4 and 5 of the init record tell whether the driver repeats the
// state itself; when either is 0 every state is sent.
bool ED137RadioControl::NeedSendProto(const State& state) const {
  if (ext_init_.fill[2] < 1 || ext_init_.fill[3] < 1) return true;
  return !state.IsEqual(radio_state_);
}

void ED137RadioControl::SendRadioStateToChan(const State& state) {
  if (!NeedSendProto(state)) return;
  PutProtoFromRadioToChan(state);
  r2s_proto record{};
  if (EncodeProto(state, record) == 0) {
    SendProtoToChan(record);
    const std::uint32_t now = Mux::milliseconds();
    last_activity_ms_ = now;
    if (workstation_ == 0 && (state.flags & State::rx_direction)) last_keepalive_ms_ = now;
  }
  if (trace_) {
    TERM::RtpRadioRequest request;
    EncodeStatusASN(radio_state_, request);
    std::ostringstream text;
    text << "command=0x" << std::hex << std::uppercase << state.flags << std::dec
         << " receive extension from controller: " << request;
    LogTrace(text.str());
  }
  UpdateAccess(radio_state_.ptt != 0, in_addr{radio_state_.session_addr});
}

int ED137RadioControl::SendProtoToChan(r2s_proto& record) {
  unsigned char buf[rtp_ext::max_payload];
  const int n = r2s_proto_pack(&record, buf, sizeof buf);
  if (n < 1) {
    last_pack_error_ = n;
    return 0;
  }
  return WriteToChan(buf, n);
}

// ---- from the channel to the controller ----

void ED137RadioControl::OnRtpExtEvent(int, short events) {
  if (!(events & POLLIN)) return;
  if (trace_) LogTrace("receive extension packet(s)!");
  last_activity_ms_ = Mux::milliseconds();
  r2s_proto_init(&last_rx_record_, r2s_proto_type_empty);
  unsigned batch = 0;
  unsigned char buf[rtp_ext::max_payload];
  for (ssize_t n; (n = ReadFromChan(buf)) > 0;) {
    r2s_proto_init(&rx_record_, r2s_proto_type_empty);
    // Operator positions send the tx direction only.
    const int r = r2s_proto_unpack_tx(&rx_record_, buf, static_cast<int>(n));
    if (r != 0) {
      last_unpack_error_ = r;
      continue;
    }
    last_receive_ms_ = Mux::milliseconds();
    ++rx_packets_;
    rx_record_.source_addr = packet_info_.addr;
    rx_record_.source_ssrc = packet_info_.ssrc;
    if (batch > 0 && cmp_r2s_proto_source(&last_rx_record_, &rx_record_) != 0) OnRtpProtoRXEvent(last_rx_record_);
    last_rx_record_ = rx_record_;
    ++batch;
  }
  if (batch > 0) OnRtpProtoRXEvent(last_rx_record_);
}

void ED137RadioControl::DecodeProto(const r2s_proto& r, State& s) {
  s = State{};
  s.session_addr = r.source_addr;
  s.session_ssrc = r.source_ssrc;
  if (r.type == r2s_proto_type_tx) {
    s.flags = State::tx_direction | State::has_header;
    s.ptt = r.tx.ptt_type;
    s.ptt_id = r.tx.ptt_id;
    s.ptt_mute = r.tx.ptt_mute;
    s.ptt_summation = r.tx.ptt_summation;
  } else if (r.type == r2s_proto_type_rx) {
    s.flags = State::rx_direction | State::has_header;
    s.ptt = r.rx.ptt_type;
    s.squ = r.rx.squ;
    s.ptt_id = r.rx.ptt_id;
    s.ptt_mute = r.rx.ptt_mute;
    s.ptt_summation = r.rx.ptt_summation;
    s.sct = r.rx.sct;
    const std::uint32_t count = r.additionals_count < static_cast<std::uint32_t>(r2s_proto_max_additionals)
                                    ? r.additionals_count
                                    : static_cast<std::uint32_t>(r2s_proto_max_additionals);
    // The quality index is the SQI's first field, its method the second;
    // the last SQI counts.
    for (std::uint32_t i = 0; i < count; ++i) {
      if (r.additionals[i].kind != r2s_proto_rx_sqi) continue;
      s.flags |= State::has_sqi;
      s.bss_quality = r.additionals[i].rx_sqi.first;
      s.bss_method = r.additionals[i].rx_sqi.second;
    }
  }
}

void ED137RadioControl::OnRtpProtoRXEvent(const r2s_proto& record) {
  State state;
  DecodeProto(record, state);
  if (!AccessFormChanToRadio(state)) return;
  const std::uint32_t now = Mux::milliseconds();
  // A repeat within one interval is not reported again.
  if (state.IsEqual(chan_state_) && Elapsed(now, last_report_ms_) < status_interval_) return;
  PutProtoFromChanToRadio(state);
  TERM::RtpRadioRequest request;
  EncodeASN(state, request);
  if (trace_) {
    std::ostringstream text;
    text << " command=0x" << std::hex << std::uppercase << state.flags << std::dec
         << " send extension to controller: " << request;
    LogTrace(text.str());
  }
  last_report_ms_ = now;
  if (notify_) notify_->RadioControlNotify(request);
}

void ED137RadioControl::EncodeStatusASN(const State& s, TERM::RtpRadioRequest& request) {
  TERM::ED137RadioStatus& status = request.get_status().select_ed_137();
  putHeader(s, status.get_header());
  status.includeOptionalField(TERM::ED137RadioStatus::o_sqi, TERM::ED137RadioStatus::e_sqi);
  putSqi(s, status.get_sqi());
}

void ED137RadioControl::EncodeASN(const State& received, TERM::RtpRadioRequest& request) const {
  EncodeStatusASN(radio_state_, request);
  request.includeOptionalField(TERM::RtpRadioRequest::o_request, TERM::RtpRadioRequest::e_request);
  TERM::ED137RadioModifier& m = request.get_request().select_ed_137();
  m.get_addr().set_session_addr(dotted(received.session_addr));
  m.get_addr().set_session_ssrc(static_cast<unsigned>(received.session_ssrc));
  if (received.flags & State::rx_direction) {
    TERM::ED137RadioRxCommand& rx = m.get_params().select_rx();
    putHeader(received, rx.get_header());
    if (received.flags & State::has_sqi) {
      rx.includeOptionalField(TERM::ED137RadioRxCommand::o_sqi, TERM::ED137RadioRxCommand::e_sqi);
      putSqi(received, rx.get_sqi());
    }
  } else if (received.flags & State::tx_direction) {
    putHeader(received, m.get_params().select_tx().get_header());
  }
}

int ED137RadioControl::PutProtoFromRadioToChan(const State&) { return 0; }
int ED137RadioControl::PutProtoFromChanToRadio(const State&) { return 0; }
bool ED137RadioControl::AccessFormChanToRadio(const State&) { return true; }
int ED137RadioControl::EncodeProto(const State&, r2s_proto&) { return 0; }

// ---- the radio gateway ----

unsigned long ED137RadioGWControl::ProcessRadioStatus(unsigned long now_, unsigned long interval_) {
  const auto now = static_cast<std::uint32_t>(now_);
  const auto interval = static_cast<std::uint32_t>(interval_);
  const std::uint32_t limit =
      static_cast<std::uint32_t>(params_.keepalive_period) * static_cast<std::uint32_t>(params_.keepalive_multiplier);
  // Told on every tick until something is received.
  if (limit != 0 && Elapsed(now, last_receive_ms_) >= limit && notify_) notify_->RadioControlNotify(no_reception);

  if (Elapsed(now, last_keepalive_ms_) >= interval) {
    // A state that holds the tx direction now has both and is not sent.
    radio_state_.flags |= State::rx_direction | State::has_header;
    r2s_proto record{};
    if (EncodeProto(radio_state_, record) == 0) {
      SendProtoToChan(record);
      last_keepalive_ms_ = now;
    }
  }
  const std::uint32_t elapsed = Elapsed(now, last_keepalive_ms_);
  return (elapsed != 0 && elapsed < interval) ? interval - elapsed + 10 : interval;
}

int ED137RadioGWControl::PutProtoFromRadioToChan(const State& state) {
  keep(radio_state_, state);
  return 0;
}

int ED137RadioGWControl::PutProtoFromChanToRadio(const State& state) {
  keep(chan_state_, state);
  return 0;
}

bool ED137RadioGWControl::AccessFormChanToRadio(const State&) {
  const bool transmits = params_.radio_type == TERM::ED137RadioType::radio_txrx ||
                         params_.radio_type == TERM::ED137RadioType::radio ||
                         params_.radio_type == TERM::ED137RadioType::coupling;
  const bool mode =
      params_.txrx_mode == TERM::ED137RadioTxRxMode::tx || params_.txrx_mode == TERM::ED137RadioTxRxMode::txrx;
  return transmits && mode;
}

int ED137RadioGWControl::EncodeProto(const State& s, r2s_proto& record) {
  int result = -1;
  switch (s.flags & State::directions) {
    case State::rx_direction:
      r2s_proto_init(&record, r2s_proto_type_rx);
      result = r2s_proto_set_rx_header(&record, s.ptt, s.squ, s.ptt_id, s.ptt_mute, s.ptt_summation, s.sct);
      // The quality index goes first (bits 7 to 3), its method second.
      if (s.flags & State::has_sqi) r2s_proto_add_rx_sqi(&record, s.bss_quality, s.bss_method);
      break;
    case State::tx_direction:
      r2s_proto_init(&record, r2s_proto_type_tx);
      result = r2s_proto_set_tx_header(&record, s.ptt, s.ptt_id, s.ptt_mute, s.ptt_summation);
      break;
    default:
      return -1;
  }
  record.source_addr = s.session_addr;
  record.source_ssrc = s.session_ssrc;
  return result;
}

}  // namespace RTPSignalling
