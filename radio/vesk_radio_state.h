#pragma once
// The state of one VESK radio channel, and its four translations: from a
// received sig_proto packet, into a packet to send, from the controller's
// TERM radio messages, and into the TERM::RtpRadioRequest the controller
// is told. The VESK radio controls (vesk_radio_control.h) keep two of these
// (what the channel said, what the controller set); the translations use
// nothing else, so they stand alone.
//
// One vocabulary for the three forms (packet header / state / RadioFlags):
//   priority/priority/prio  flag_p/ptt/ptt  flag_b/bss/bss
//   flag_r/vad_rx/vad-rx    flag_t/vad_tx/vad-tx  flag_s/sql/sql
//   flag_sh/sh/sh  flag_pw/pwr/pwr  flag_rv/rv/rv  flag_rs/resv/resv
//   flag_c/selcall/selcall  status/li/li
// A state whose command is 0 or below is full: it carries every field.
// Otherwise its command is a packet type, and it carries the header
// fields and that type's payload.
#include <cstdint>
#include <string>

#include "asn1/modules/TERM.h"
#include "radio/sig_proto.h"

namespace RTPSignalling {

struct VeskRadioState {
  int command = 0;  // sig_proto type; 0 or below: a full state
  int priority = 15;
  int ptt = 0;
  std::uint32_t session_addr = 0;  // the transmitting session, network order
  std::uint32_t session_ssrc = 0;
  char caller_id[256] = {};  // zero-terminated
  int bss = 0;
  int vad_rx = 0;
  int vad_tx = 0;
  int sql = 0;  // squelch
  int sh = 0;
  int pwr = 0;
  int rv = 0;
  int resv = 0;
  int selcall = 0;    // 0..3
  int li = 0;         // 0..511
  int interface = 0;  // remote-control interface
  int channel = 0;    // remote-control channel
  int chan_id = 0;    // channel number of the frequency
  float frequency = 0.0f;
  int squelch = -1;  // TERM::RadioSquelshe value; -1 none set
  int rte = -1;      // TERM::RadioRTE value; -1 none set
  int standby_state = -1;     // TERM::RadioStandby value
  int standby_group = -1;     // 0..255; -1 none set
  int standby_receiver = -1;  // TERM::RadioStandby value
  float radio_quality = 0.0f;
  std::uint32_t source_addr = 0;  // the session a received packet came from, network order
  std::uint32_t source_ssrc = 0;
};

// The push-to-talk commands: GW_FLAG, GW_FLAG_PTT, GW_SEL_CALL, WM_FLAG,
// WM_TRANS, WM_SEL_CALL_TRANS.
bool isPTTCommand(int command);
// 0 and below: a full state.
bool isDefaultInitCommand(int command);

// A received packet into a state: the command, the source, the header and
// the type's payload. -1 for a type outside the table (the header is set
// all the same), else 0.
int DecodeProto(const sig_proto& record, VeskRadioState& state);
// Checks a received packet's enumerated values (squelch, RTE, standby
// states) against the controller's enumerations, which could not carry a
// value outside them. A value outside takes the one `known` holds (what
// the channel said last) where the packet carries other fields. Returns 0
// when every value is inside, 1 when one was replaced, -1 when nothing
// valid is left (the value was the packet's only one, or nothing is known
// to stand in): such a packet must be dropped. `bad` names the first value
// outside ("rte 9"), for the log.
int CheckProto(sig_proto& record, const VeskRadioState& known, std::string& bad);
// The common part of a packet to send: the record zeroed, then its type
// (the state's command), source and header. Returns 0.
int EncodeProtoHeader(const VeskRadioState& state, sig_proto& record);
// The payloads each side sends, after the header: the gateway's status
// packets (WM_*) and the workstation's commands (GW_*). -1 for a command
// the side does not send.
int EncodeProtoGatewayPayload(const VeskRadioState& state, sig_proto& record);
int EncodeProtoWorkstationPayload(const VeskRadioState& state, sig_proto& record);

// The controller's full status into a state (a full state: command 0).
// Fields the status does not carry keep what the state held. Returns 0.
int DecodeASN(const TERM::VeskRadioStatus& status, VeskRadioState& state);
// The controller's request into a state: the command of its alternative,
// the source from its address, and the alternative's fields; the rest keep
// what the state held. Returns 0.
int DecodeASN(const TERM::VeskRadioModifier& modifier, VeskRadioState& state);
// The request's status from a state. Returns 0.
int EncodeStatusASN(const VeskRadioState& state, TERM::RtpRadioRequest& request);
// The status from the first state and the request from a received one
// (its command's alternative, none for a command outside the table).
// Returns 0.
int EncodeASN(const VeskRadioState& status_state, const VeskRadioState& event, TERM::RtpRadioRequest& request);

}  // namespace RTPSignalling
