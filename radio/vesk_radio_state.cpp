#include "radio/vesk_radio_state.h"

#include <arpa/inet.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <string>

namespace RTPSignalling {

namespace {

using Params = TERM::VeskRadioModifierParams;

// Each packet type and the controller's alternative that carries it (the
// alternatives are not in the order of the types).
struct CommandAlternative {
  int command;
  int alternative;
};
constexpr CommandAlternative kAlternatives[] = {
    {GW_FLAG, Params::e_gw_set_flags},
    {GW_ADJUST_CHAN, Params::e_gw_set_freq},
    {GW_FLAG_PTT, Params::e_gw_set_ptt},
    {GW_FLAG_BSS, Params::e_gw_set_bss},
    {GW_FLAG_RV, Params::e_gw_set_rv},
    {GW_FLAG_SH, Params::e_gw_set_sh},
    {GW_FLAG_PW, Params::e_gw_set_pwr},
    {GW_FLAG_RS, Params::e_gw_set_resv},
    {GW_SEL_CALL, Params::e_gw_set_selcall},
    {GW_SELECT_RC_CHAN, Params::e_gw_set_remote},
    {GW_ADJUST_SQUELSHE, Params::e_gw_set_squelshe},
    {GW_ADJUST_RTE, Params::e_gw_set_rte},
    {GW_ADJUST_STANDBY, Params::e_gw_set_standby},
    {WM_FLAG, Params::e_wm_flags},
    {WM_TRANS, Params::e_wm_trans},
    {WM_RADIO_QUALITY, Params::e_wm_quality},
    {WM_CHAN, Params::e_wm_chan},
    {WM_SEL_CALL_TRANS, Params::e_wm_selcall},
    {WM_SELECT_RC_CHAN, Params::e_wm_remote},
    {WM_STANDBY, Params::e_wm_standby},
};

int alternativeOf(int command) {
  for (const auto& c : kAlternatives)
    if (c.command == command) return c.alternative;
  return -1;
}

int commandOf(int alternative) {
  for (const auto& c : kAlternatives)
    if (c.alternative == alternative) return c.command;
  return 0;
}

// ---- values inside the controller's types ----

// A float as the controller reads it: "%4.6f".
std::string floatText(float value) {
  char text[256];
  std::snprintf(text, sizeof text, "%4.6f", static_cast<double>(value));
  return text;
}
float textFloat(const std::string& text) { return static_cast<float>(std::strtod(text.c_str(), nullptr)); }

std::string dotted(std::uint32_t networkOrder) {
  in_addr a;
  a.s_addr = networkOrder;
  char text[INET_ADDRSTRLEN] = "";
  ::inet_ntop(AF_INET, &a, text, sizeof text);
  return text;
}
// A text that is no address gives 255.255.255.255, as inet_addr does.
std::uint32_t textAddr(const std::string& text) { return ::inet_addr(text.c_str()); }

void setCallerId(VeskRadioState& s, const char* text, std::size_t max) {
  std::memset(s.caller_id, 0, sizeof s.caller_id);
  std::size_t n = 0;
  while (n < max && n < sizeof s.caller_id - 1 && text[n]) ++n;
  std::memcpy(s.caller_id, text, n);
}
std::size_t callerIdLength(const VeskRadioState& s) { return ::strnlen(s.caller_id, sizeof s.caller_id - 1); }

void putFlags(const VeskRadioState& s, TERM::RadioFlags& f) {
  f.set_prio(s.priority);
  f.set_ptt(s.ptt != 0);
  f.set_bss(s.bss != 0);
  f.set_vad_rx(s.vad_rx != 0);
  f.set_vad_tx(s.vad_tx != 0);
  f.set_sql(s.sql != 0);
  f.set_sh(s.sh != 0);
  f.set_pwr(s.pwr != 0);
  f.set_rv(s.rv != 0);
  f.set_resv(s.resv != 0);
  f.set_selcall(s.selcall);
  f.set_li(s.li);
}

void getFlags(const TERM::RadioFlags& f, VeskRadioState& s) {
  s.priority = f.get_prio().getValue();
  s.ptt = f.get_ptt() ? 1 : 0;
  s.bss = f.get_bss() ? 1 : 0;
  s.vad_rx = f.get_vad_rx() ? 1 : 0;
  s.vad_tx = f.get_vad_tx() ? 1 : 0;
  s.sql = f.get_sql() ? 1 : 0;
  s.sh = f.get_sh() ? 1 : 0;
  s.pwr = f.get_pwr() ? 1 : 0;
  s.rv = f.get_rv() ? 1 : 0;
  s.resv = f.get_resv() ? 1 : 0;
  s.selcall = static_cast<int>(f.get_selcall().getValue());
  s.li = static_cast<int>(f.get_li().getValue());
}

void putFreq(const VeskRadioState& s, TERM::RadioFrequency& f) {
  f.set_channel(s.chan_id);
  f.set_frequency(floatText(s.frequency));
}
void getFreq(const TERM::RadioFrequency& f, VeskRadioState& s) {
  s.chan_id = f.get_channel().getValue();
  s.frequency = textFloat(f.get_frequency());
}

void putRemote(const VeskRadioState& s, TERM::RadioRemote& r) {
  r.set_no(s.interface);
  r.set_ch(s.channel);
}
void getRemote(const TERM::RadioRemote& r, VeskRadioState& s) {
  s.interface = static_cast<int>(r.get_no().getValue());
  s.channel = static_cast<int>(r.get_ch().getValue());
}

// The flags, a session and, where the type has one, a caller identity.
template <class T>
void putSession(const VeskRadioState& s, T& cmd) {
  putFlags(s, cmd.get_flags());
  cmd.set_ip(dotted(s.session_addr));
  cmd.set_ssrc(static_cast<unsigned>(s.session_ssrc));
}
template <class T>
void getSession(const T& cmd, VeskRadioState& s) {
  getFlags(cmd.get_flags(), s);
  s.session_addr = textAddr(cmd.get_ip());
  s.session_ssrc = cmd.get_ssrc().getValue();
}
template <class T>
void putSelCall(const VeskRadioState& s, T& cmd) {
  putSession(s, cmd);
  cmd.set_cid(std::string(s.caller_id, callerIdLength(s)));
}
template <class T>
void getSelCall(const T& cmd, VeskRadioState& s) {
  getSession(cmd, s);
  setCallerId(s, cmd.get_cid().c_str(), 255);
}

// The alternative's value from the state.
void putParams(const VeskRadioState& s, int alternative, Params& p) {
  switch (alternative) {
    case Params::e_gw_set_flags:
    case Params::e_gw_set_ptt:
    case Params::e_gw_set_bss:
    case Params::e_gw_set_sh:
    case Params::e_gw_set_pwr:
    case Params::e_gw_set_rv:
    case Params::e_gw_set_resv:
      // One type for all of them; the alternative tells which flag changed.
      p.select(alternative);
      putFlags(s, static_cast<TERM::RadioCommandGWSetFlags*>(p.getSelectedValue())->get_flags());
      return;
    case Params::e_gw_set_freq:
      return putFreq(s, p.select_gw_set_freq().get_freq());
    case Params::e_gw_set_selcall:
      return putSelCall(s, p.select_gw_set_selcall());
    case Params::e_gw_set_remote:
      return putRemote(s, p.select_gw_set_remote().get_remote());
    case Params::e_gw_set_squelshe:
      return p.select_gw_set_squelshe().get_squelshe().setValue(s.squelch);
    case Params::e_gw_set_rte:
      return p.select_gw_set_rte().get_rte().setValue(s.rte);
    case Params::e_gw_set_standby:
      return p.select_gw_set_standby().get_state().setValue(s.standby_state);
    case Params::e_wm_flags:
      return putFlags(s, p.select_wm_flags().get_flags());
    case Params::e_wm_trans:
      return putSession(s, p.select_wm_trans());
    case Params::e_wm_quality:
      return p.select_wm_quality().set_bss_val(floatText(s.radio_quality));
    case Params::e_wm_chan: {
      TERM::RadioCommandWMChan& c = p.select_wm_chan();
      putFreq(s, c.get_freq());
      c.get_squelshe().setValue(s.squelch);
      c.get_rte().setValue(s.rte);
      return;
    }
    case Params::e_wm_selcall:
      return putSelCall(s, p.select_wm_selcall());
    case Params::e_wm_remote:
      return putRemote(s, p.select_wm_remote().get_remote());
    case Params::e_wm_standby: {
      TERM::RadioCommandWMStandby& c = p.select_wm_standby();
      c.get_state_channel().setValue(s.standby_state);
      c.set_group(s.standby_group);
      c.get_state_receiver().setValue(s.standby_receiver);
      return;
    }
    default:
      return;
  }
}

// The state's fields from the alternative's value.
void getParams(const Params& p, VeskRadioState& s) {
  switch (p.getSelection()) {
    case Params::e_gw_set_flags:
    case Params::e_gw_set_ptt:
    case Params::e_gw_set_bss:
    case Params::e_gw_set_sh:
    case Params::e_gw_set_pwr:
    case Params::e_gw_set_rv:
    case Params::e_gw_set_resv:
      return getFlags(static_cast<const TERM::RadioCommandGWSetFlags*>(p.getSelectedValue())->get_flags(), s);
    case Params::e_gw_set_freq:
      return getFreq(p.get_gw_set_freq().get_freq(), s);
    case Params::e_gw_set_selcall:
      return getSelCall(p.get_gw_set_selcall(), s);
    case Params::e_gw_set_remote:
      return getRemote(p.get_gw_set_remote().get_remote(), s);
    case Params::e_gw_set_squelshe:
      s.squelch = p.get_gw_set_squelshe().get_squelshe().ASN1::ENUMERATED::getValue();
      return;
    case Params::e_gw_set_rte:
      s.rte = p.get_gw_set_rte().get_rte().ASN1::ENUMERATED::getValue();
      return;
    case Params::e_gw_set_standby:
      s.standby_state = p.get_gw_set_standby().get_state().ASN1::ENUMERATED::getValue();
      return;
    case Params::e_wm_flags:
      return getFlags(p.get_wm_flags().get_flags(), s);
    case Params::e_wm_trans:
      return getSession(p.get_wm_trans(), s);
    case Params::e_wm_quality:
      s.radio_quality = textFloat(p.get_wm_quality().get_bss_val());
      return;
    case Params::e_wm_chan: {
      const TERM::RadioCommandWMChan& c = p.get_wm_chan();
      getFreq(c.get_freq(), s);
      s.squelch = c.get_squelshe().ASN1::ENUMERATED::getValue();
      s.rte = c.get_rte().ASN1::ENUMERATED::getValue();
      return;
    }
    case Params::e_wm_selcall:
      return getSelCall(p.get_wm_selcall(), s);
    case Params::e_wm_remote:
      return getRemote(p.get_wm_remote().get_remote(), s);
    case Params::e_wm_standby: {
      const TERM::RadioCommandWMStandby& c = p.get_wm_standby();
      s.standby_state = c.get_state_channel().ASN1::ENUMERATED::getValue();
      s.standby_group = static_cast<int>(c.get_group().getValue());
      s.standby_receiver = c.get_state_receiver().ASN1::ENUMERATED::getValue();
      return;
    }
    default:
      return;
  }
}

}  // namespace

bool isPTTCommand(int command) {
  sig_proto r{};
  r.type = static_cast<std::uint32_t>(command);
  return sig_proto_is_ptt_command(&r) != 0;
}

bool isDefaultInitCommand(int command) { return command <= 0; }

int DecodeProto(const sig_proto& r, VeskRadioState& s) {
  s.command = static_cast<int>(r.type);
  s.source_addr = r.source_addr;
  s.source_ssrc = r.source_ssrc;
  s.priority = static_cast<int>(r.priority);
  s.ptt = static_cast<int>(r.flag_p);
  s.bss = static_cast<int>(r.flag_b);
  s.vad_rx = static_cast<int>(r.flag_r);
  s.vad_tx = static_cast<int>(r.flag_t);
  s.sql = static_cast<int>(r.flag_s);
  s.sh = static_cast<int>(r.flag_sh);
  s.pwr = static_cast<int>(r.flag_pw);
  s.rv = static_cast<int>(r.flag_rv);
  s.resv = static_cast<int>(r.flag_rs);
  s.selcall = static_cast<int>(r.flag_c);
  s.li = static_cast<int>(r.status);
  switch (r.type) {
    case GW_FLAG:
    case GW_FLAG_PTT:
    case GW_FLAG_BSS:
    case GW_FLAG_RV:
    case GW_FLAG_SH:
    case GW_FLAG_PW:
    case GW_FLAG_RS:
    case WM_FLAG:
      return 0;
    case GW_ADJUST_CHAN:
      s.chan_id = static_cast<int>(r.gw_adjust_chan.id);
      s.frequency = r.gw_adjust_chan.freq;
      return 0;
    case GW_SEL_CALL:
      setCallerId(s, reinterpret_cast<const char*>(r.gw_sel_call.callerID), 255);
      return 0;
    case GW_SELECT_RC_CHAN:
    case WM_SELECT_RC_CHAN:  // one layout for both
      s.interface = r.gw_select_rc_chan.interface;
      s.channel = r.gw_select_rc_chan.channel;
      return 0;
    case GW_ADJUST_SQUELSHE:
      s.squelch = r.gw_adjust_squelsh.squelsh;
      return 0;
    case GW_ADJUST_RTE:
      s.rte = r.gw_adjust_rte.rte;
      return 0;
    case GW_ADJUST_STANDBY:
      s.standby_state = r.gw_adjust_standby.state;
      return 0;
    case WM_TRANS:
      s.session_addr = r.wm_trans.session_addr;
      s.session_ssrc = r.wm_trans.ssrc;
      return 0;
    case WM_RADIO_QUALITY:
      s.radio_quality = r.wm_radio_quality.radio_quality;
      return 0;
    case WM_CHAN:
      s.chan_id = static_cast<int>(r.wm_chan.id);
      s.frequency = r.wm_chan.freq;
      s.squelch = r.wm_chan.squelsh;
      s.rte = r.wm_chan.rte;
      return 0;
    case WM_SEL_CALL_TRANS:
      s.session_addr = r.wm_sel_call_trans.session_addr;
      s.session_ssrc = r.wm_sel_call_trans.ssrc;
      setCallerId(s, reinterpret_cast<const char*>(r.wm_sel_call_trans.callerID), 255);
      return 0;
    case WM_STANDBY:
      s.standby_state = r.wm_standby.state;
      s.standby_group = r.wm_standby.group;
      s.standby_receiver = r.wm_standby.receiver_state;
      return 0;
    default:
      return -1;
  }
}

namespace {

// Whether an enumeration of the controller's types has the value, in its
// coded form (RadioStandby's not-use has none).
template <class E>
bool inside(int value) {
  E e;
  e.setValue(value);
  return value >= 0 && e.getName() != nullptr;
}

// One enumerated octet of a packet: kept when inside; else the known
// value when there is one and the packet says more than this; else the
// packet is dropped (result -1).
template <class E>
int checkField(std::uint8_t& field, int known, bool alone, const char* name, std::string& bad) {
  if (inside<E>(field)) return 0;
  if (bad.empty()) bad = std::string(name) + " " + std::to_string(field);
  if (alone || !inside<E>(known)) return -1;
  field = static_cast<std::uint8_t>(known);
  return 1;
}

int worst(std::initializer_list<int> results) {
  int r = 0;
  for (int x : results) {
    if (x < 0) return -1;
    if (x > r) r = x;
  }
  return r;
}

}  // namespace

int CheckProto(sig_proto& r, const VeskRadioState& known, std::string& bad) {
  bad.clear();
  switch (r.type) {
    case GW_ADJUST_SQUELSHE:
      return checkField<TERM::RadioSquelshe>(r.gw_adjust_squelsh.squelsh, known.squelch, true, "squelch", bad);
    case GW_ADJUST_RTE:
      return checkField<TERM::RadioRTE>(r.gw_adjust_rte.rte, known.rte, true, "rte", bad);
    case GW_ADJUST_STANDBY:
      return checkField<TERM::RadioStandby>(r.gw_adjust_standby.state, known.standby_state, true, "standby", bad);
    case WM_CHAN:
      return worst({checkField<TERM::RadioSquelshe>(r.wm_chan.squelsh, known.squelch, false, "squelch", bad),
                    checkField<TERM::RadioRTE>(r.wm_chan.rte, known.rte, false, "rte", bad)});
    case WM_STANDBY:
      return worst(
          {checkField<TERM::RadioStandby>(r.wm_standby.state, known.standby_state, false, "standby", bad),
           checkField<TERM::RadioStandby>(r.wm_standby.receiver_state, known.standby_receiver, false,
                                          "standby receiver", bad)});
    default:
      return 0;
  }
}

int EncodeProtoHeader(const VeskRadioState& s, sig_proto& r) {
  sig_proto_init(&r);
  r.type = static_cast<std::uint32_t>(s.command);
  r.source_addr = s.source_addr;
  r.source_ssrc = s.source_ssrc;
  r.priority = static_cast<std::uint32_t>(s.priority);
  r.flag_p = static_cast<std::uint32_t>(s.ptt);
  r.flag_b = static_cast<std::uint32_t>(s.bss);
  r.flag_r = static_cast<std::uint32_t>(s.vad_rx);
  r.flag_t = static_cast<std::uint32_t>(s.vad_tx);
  r.flag_s = static_cast<std::uint32_t>(s.sql);
  r.flag_sh = static_cast<std::uint32_t>(s.sh);
  r.flag_pw = static_cast<std::uint32_t>(s.pwr);
  r.flag_rv = static_cast<std::uint32_t>(s.rv);
  r.flag_rs = static_cast<std::uint32_t>(s.resv);
  r.flag_c = static_cast<std::uint32_t>(s.selcall);
  r.status = static_cast<std::uint32_t>(s.li);
  return 0;
}

int EncodeProtoGatewayPayload(const VeskRadioState& s, sig_proto& r) {
  in_addr session;
  session.s_addr = s.session_addr;
  switch (s.command) {
    case WM_FLAG:
      return 0;
    case WM_TRANS:
      return sig_proto_set_wm_transmite(&r, session, s.session_ssrc);
    case WM_RADIO_QUALITY:
      return sig_proto_set_wm_radio_quality(&r, s.radio_quality);
    case WM_CHAN:
      return sig_proto_set_wm_chan(&r, static_cast<unsigned>(s.chan_id), s.frequency,
                                   static_cast<unsigned char>(s.squelch), static_cast<unsigned char>(s.rte));
    case WM_SEL_CALL_TRANS:
      return sig_proto_set_wm_selcall_transmite(&r, session, s.session_ssrc, s.caller_id,
                                                static_cast<unsigned char>(callerIdLength(s)));
    case WM_SELECT_RC_CHAN:
      return sig_proto_set_wm_select_rc_chan(&r, static_cast<unsigned char>(s.interface),
                                             static_cast<unsigned char>(s.channel));
    case WM_STANDBY:
      return sig_proto_set_wm_standby(&r, static_cast<unsigned char>(s.standby_state),
                                      static_cast<unsigned char>(s.standby_group),
                                      static_cast<unsigned char>(s.standby_receiver));
    default:
      return -1;
  }
}

int EncodeProtoWorkstationPayload(const VeskRadioState& s, sig_proto& r) {
  switch (s.command) {
    case GW_FLAG:
    case GW_FLAG_PTT:
    case GW_FLAG_BSS:
    case GW_FLAG_RV:
    case GW_FLAG_SH:
    case GW_FLAG_PW:
    case GW_FLAG_RS:
      return 0;
    case GW_ADJUST_CHAN:
      return sig_proto_set_gw_adjust_chan(&r, static_cast<unsigned>(s.chan_id), s.frequency);
    case GW_SEL_CALL:
      return sig_proto_set_gw_selcall(&r, s.caller_id, static_cast<unsigned char>(callerIdLength(s)));
    case GW_SELECT_RC_CHAN:
      return sig_proto_set_gw_select_rc_chan(&r, static_cast<unsigned char>(s.interface),
                                             static_cast<unsigned char>(s.channel));
    case GW_ADJUST_SQUELSHE:
      return sig_proto_set_gw_adjust_squelsh(&r, static_cast<unsigned char>(s.squelch));
    case GW_ADJUST_RTE:
      return sig_proto_set_gw_adjust_rte(&r, static_cast<unsigned char>(s.rte));
    case GW_ADJUST_STANDBY:
      return sig_proto_set_gw_adjust_standby(&r, static_cast<unsigned char>(s.standby_state));
    default:
      return -1;
  }
}

int DecodeASN(const TERM::VeskRadioStatus& status, VeskRadioState& s) {
  s.command = 0;
  getFlags(status.get_flags(), s);
  getFreq(status.get_freq(), s);
  s.rte = status.get_rte().ASN1::ENUMERATED::getValue();
  s.squelch = status.get_squelshe().ASN1::ENUMERATED::getValue();
  getRemote(status.get_remote(), s);
  s.standby_state = status.get_standby_state_channel().ASN1::ENUMERATED::getValue();
  s.standby_group = static_cast<int>(status.get_standby_group().getValue());
  s.standby_receiver = status.get_standby_state_receiver().ASN1::ENUMERATED::getValue();
  return 0;
}

int DecodeASN(const TERM::VeskRadioModifier& modifier, VeskRadioState& s) {
  s.command = 0;
  s.source_addr = textAddr(modifier.get_addr().get_session_addr());
  s.source_ssrc = modifier.get_addr().get_session_ssrc().getValue();
  const Params& p = modifier.get_params();
  if (!p.isSelected()) return 0;
  s.command = commandOf(p.getSelection());
  getParams(p, s);
  return 0;
}

int EncodeStatusASN(const VeskRadioState& s, TERM::RtpRadioRequest& request) {
  TERM::VeskRadioStatus& v = request.get_status().select_vesk();
  putFlags(s, v.get_flags());
  putFreq(s, v.get_freq());
  putRemote(s, v.get_remote());
  v.get_squelshe().setValue(s.squelch);
  v.get_rte().setValue(s.rte);
  v.get_standby_state_channel().setValue(s.standby_state);
  v.set_standby_group(s.standby_group);
  v.get_standby_state_receiver().setValue(s.standby_receiver);
  return 0;
}

int EncodeASN(const VeskRadioState& status_state, const VeskRadioState& event, TERM::RtpRadioRequest& request) {
  EncodeStatusASN(status_state, request);
  request.includeOptionalField(TERM::RtpRadioRequest::o_request, TERM::RtpRadioRequest::e_request);
  TERM::VeskRadioModifier& m = request.get_request().select_vesk();
  m.get_addr().set_session_addr(dotted(event.source_addr));
  m.get_addr().set_session_ssrc(static_cast<unsigned>(event.source_ssrc));
  const int alternative = alternativeOf(event.command);
  if (alternative >= 0) putParams(event, alternative, m.get_params());
  return 0;
}

}  // namespace RTPSignalling
