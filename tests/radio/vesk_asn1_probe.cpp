// Prints the radio reports the VESK translations build, encoded in aligned
// PER, one "NAME HEX" a line, for vesk_asn1_oracle.py to decode with
// Erlang's asn1:
//   status         a full status as a controller sets it
//   wm-selcall     that status with a wm-selcall request from the controller
//   type-N         that status with a received packet of type N (from
//                  10.1.2.3, SSRC 258) as the request
#include <arpa/inet.h>

#include <cstdio>
#include <cstring>
#include <iterator>
#include <string>
#include <vector>

#include "asn1/coder_env.h"
#include "radio/vesk_radio_state.h"

namespace {

using namespace RTPSignalling;

void print(const char* name, const TERM::RtpRadioRequest& request) {
  ASN1::CoderEnv env(ASN1::CoderEnv::per_Aligned);
  std::vector<char> out;
  if (!ASN1::encode(request, &env, std::back_inserter(out))) {
    std::printf("%s error\n", name);
    return;
  }
  std::printf("%s ", name);
  for (char c : out) std::printf("%02x", static_cast<unsigned char>(c));
  std::printf("\n");
}

VeskRadioState controllerStatus() {
  TERM::RadioStatus status;
  const bool ok = status.setFromValueNotation(
      "vesk : { flags { prio 3, ptt TRUE, bss FALSE, vad-rx TRUE, vad-tx FALSE, sql TRUE, sh FALSE, pwr TRUE, "
      "rv FALSE, resv TRUE, selcall 2, li 300 }, freq { channel 7, frequency \"145.5\" }, remote { no 2, ch 3 }, "
      "squelshe on, rte a1b, standby-state-channel active, standby-group 4, standby-state-receiver active }");
  VeskRadioState s;
  if (ok) DecodeASN(status.get_vesk(), s);
  return s;
}

// A received packet of the given type with every field it can carry set.
VeskRadioState received(unsigned type) {
  sig_proto r;
  sig_proto_init(&r);
  r.type = type;
  sig_proto_set_base(&r, 4, 1, 1, 0, 1, 0, 1, 0, 1, 0, 3, 511);
  in_addr session;
  session.s_addr = ::inet_addr("10.0.0.7");
  switch (type) {
    case GW_ADJUST_CHAN:
      sig_proto_set_gw_adjust_chan(&r, 7, 145.5f);
      break;
    case GW_SEL_CALL:
      sig_proto_set_gw_selcall(&r, "A1", 2);
      break;
    case GW_SELECT_RC_CHAN:
    case WM_SELECT_RC_CHAN:
      sig_proto_set_gw_select_rc_chan(&r, 1, 2);
      break;
    case GW_ADJUST_SQUELSHE:
      sig_proto_set_gw_adjust_squelsh(&r, 2);
      break;
    case GW_ADJUST_RTE:
      sig_proto_set_gw_adjust_rte(&r, 3);
      break;
    case GW_ADJUST_STANDBY:
      sig_proto_set_gw_adjust_standby(&r, 0);
      break;
    case WM_TRANS:
      sig_proto_set_wm_transmite(&r, session, 5);
      break;
    case WM_RADIO_QUALITY:
      sig_proto_set_wm_radio_quality(&r, 0.75f);
      break;
    case WM_CHAN:
      sig_proto_set_wm_chan(&r, 7, 145.5f, 2, 3);
      break;
    case WM_SEL_CALL_TRANS:
      sig_proto_set_wm_selcall_transmite(&r, session, 5, "A1", 2);
      break;
    case WM_STANDBY:
      sig_proto_set_wm_standby(&r, 0, 4, 0);
      break;
    default:
      break;
  }
  r.source_addr = ::inet_addr("10.1.2.3");
  r.source_ssrc = 258;
  VeskRadioState s;
  DecodeProto(r, s);
  return s;
}

}  // namespace

int main() {
  const VeskRadioState status = controllerStatus();
  TERM::RtpRadioRequest report;
  EncodeStatusASN(status, report);
  print("status", report);

  TERM::VeskRadioModifier modifier;
  if (modifier.setFromValueNotation(
          "{ addr { session-addr \"10.0.0.9\", session-ssrc 77 }, params wm-selcall : { flags { prio 1, ptt TRUE, "
          "bss FALSE, vad-rx FALSE, vad-tx FALSE, sql FALSE, sh FALSE, pwr FALSE, rv FALSE, resv FALSE, selcall 0, "
          "li 0 }, ip \"10.0.0.7\", ssrc 5, cid \"A1\" } }")) {
    VeskRadioState event = status;
    DecodeASN(modifier, event);
    TERM::RtpRadioRequest r;
    EncodeASN(status, event, r);
    print("wm-selcall", r);
  }

  const unsigned types[] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 129, 130, 131, 132, 133, 134, 135};
  for (unsigned t : types) {
    TERM::RtpRadioRequest r;
    EncodeASN(status, received(t), r);
    print(("type-" + std::to_string(t)).c_str(), r);
  }
  return 0;
}
