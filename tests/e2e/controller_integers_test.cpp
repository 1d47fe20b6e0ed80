// Every integer a controller can put into a create or an ioctl, driven from
// the LGCP module's descriptors: each integer field of a command, in turn,
// is set to INT_MIN, -1, 0, INT_MAX, the bounds of its constraint and, for
// a number its slot uses with a range, either side of each bound and a
// value inside; the command goes to the real daemon. Whatever the value,
// the daemon answers it and reports no fault of its own (the sanitizer
// build stops at the first). A value outside what its use takes answers
// invalidParams; any other value never does.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <iterator>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "asn1/choice.h"
#include "asn1/sequence.h"
#include "asn1/sequence_of.h"
#include "asn1/visitor.h"
#include "tests/e2e/lgcp_controller.h"

namespace {

using e2e::cmd;
using e2e::Lines;

// The integer fields of a value, each by its path of field and
// alternative names ("pstn.ss7.trunk", "digits.freq1").
class IntegerFields : public ASN1::ConstVisitor {
 public:
  struct Field {
    std::string path;
    const ASN1::INTEGER* value;
  };
  std::vector<Field> fields;
  // CHOICEs with no alternative chosen yet.
  std::vector<const ASN1::CHOICE*> open;

  bool do_visit(const ASN1::INTEGER& v) override {
    fields.push_back({path(), &v});
    return true;
  }
  bool do_visit(const ASN1::CHOICE& v) override {
    if (!v.getSelectedValue()) {
      open.push_back(&v);
      return true;
    }
    names_.push_back(v.getSelectionName());
    const bool ok = v.getSelectedValue()->accept(*this);
    names_.pop_back();
    return ok;
  }
  bool do_visit(const ASN1::SEQUENCE_OF_Base& v) override {
    for (const ASN1::AbstractData* e : v.elements())
      if (e && !e->accept(*this)) return false;
    return true;
  }
  bool visitExtensionRoot(const ASN1::SEQUENCE& seq, int index) override { return field(seq, index); }
  bool visitKnownExtension(const ASN1::SEQUENCE& seq, int index) override { return field(seq, index); }

 private:
  bool field(const ASN1::SEQUENCE& seq, int index) {
    const ASN1::AbstractData* f = seq.getField(static_cast<unsigned>(index));
    if (!f) return true;
    names_.push_back(seq.info()->fieldNames[index]);
    const bool ok = f->accept(*this);
    names_.pop_back();
    return ok;
  }
  std::string path() const {
    std::string p;
    for (const std::string& n : names_) p += (p.empty() ? "" : ".") + n;
    return p;
  }
  std::vector<std::string> names_;
};

// The numbers a slot indexes with or puts into a field narrower than 32
// bits, by path below the command, with that use and the bounds it takes.
// Every other integer field is a label, a 32-bit word or read by nothing,
// and takes any value.
struct Range {
  long long low, high;
  const char* use;
};
constexpr long long u8max = (1LL << 8) - 1, u16max = (1LL << 16) - 1;
const std::map<std::string, Range> usable = {
    {"create.pstn.ss7.slc", {0, (1LL << 4) - 1, "4-bit signalling link code of the routing label"}},
    {"create.pstn.ss7.dpc", {0, (1LL << 24) - 1, "24-bit point code"}},
    {"create.pstn.ss7.opc", {0, (1LL << 24) - 1, "24-bit point code"}},
    {"create.hdlcParams.address", {0, u16max, "16-bit address of every frame"}},
    {"create.ext.transmitter", {0, 2048 - 1, "one of the bus's 2048 channels, an index of its table"}},
    {"create.ext.receiver", {0, 2048 - 1, "one of the bus's 2048 channels, an index of its table"}},
    {"create.echo.bus", {0, 16 - 1, "one of 16 echo buses, an index of those present"}},
    {"create.echo.channel", {0, 32 - 1, "one of a bus's 32 channels"}},
    {"create.mixerOut.channel.tdm", {0, INT_MAX, "an index of the unit's channels"}},
    {"create.mixerOut.inputs.channel.tdm", {0, INT_MAX, "an index of the unit's channels"}},
    {"create.mixerIn.channel.tdm", {0, INT_MAX, "an index of the unit's channels"}},
    {"create.mixerIn.summator.tdm", {0, INT_MAX, "an index of the unit's channels"}},
    {"ioctl.translateDTMF.digits.freq1", {0, u16max, "u16 frequency of the tone generator"}},
    {"ioctl.translateDTMF.digits.freq2", {0, u16max, "u16 frequency of the tone generator"}},
    {"ioctl.translateDTMF.amp1", {0, u16max, "u16 amplitude of the tone generator"}},
    {"ioctl.translateDTMF.amp2", {0, u16max, "u16 amplitude of the tone generator"}},
    {"ioctl.cas.channel.path", {0, 4 - 1, "one of the board's 4 trunks, an index"}},
    {"ioctl.cas.channel.timeslot", {0, 32 - 1, "one of a trunk's 32 timeslots"}},
    {"ioctl.vad-params.v2.voice-th-msec", {0, u16max, "u16 of the DSP's VAD record"}},
    {"ioctl.vad-params.v2.silence-th-msec", {0, u16max, "u16 of the DSP's VAD record"}},
    {"ioctl.vad-params.v2.e-th-dB", {0, u8max, "u8 of the DSP's VAD record"}},
    {"ioctl.tone-filter.freq", {0, u16max, "u16 of the DSP's tone-filter record"}},
    {"ioctl.tone-filter.duration-th-msec", {0, u16max, "u16 of the DSP's tone-filter record"}},
    {"ioctl.tone-gen-enable.freq", {0, u16max, "u16 frequency of the tone generator"}},
    {"ioctl.tone-gen-enable.amp", {0, u16max, "u16 amplitude of the tone generator"}},
    {"ioctl.selcal.amp", {0, u16max, "u16 amplitude of the selective-call record"}},
};

// The values a field is set to: the extremes and the constraint's bounds;
// for a ranged number also either side of each bound and a value inside.
std::vector<long long> valuesFor(const ASN1::INTEGER& field, const Range* range) {
  std::vector<long long> values = {INT_MIN, -1, 0, INT_MAX};
  if (field.constraintType() != ASN1::Unconstrained) {
    values.push_back(field.getLowerLimit());
    values.push_back(field.isUnsigned() ? static_cast<long long>(field.getUpperLimit())
                                        : static_cast<long long>(static_cast<std::int32_t>(field.getUpperLimit())));
  }
  if (range)
    for (long long v : {range->low - 1, range->low, range->low + (range->high - range->low) / 2, range->high,
                        range->high + 1})
      if (v >= INT_MIN && v <= INT_MAX) values.push_back(v);
  return values;
}

const char rtpParams[] =
    "{ payload ptG711-Alaw, dhost { iaddr \"127.0.0.1\", port 5004 }, jitter { start 10, max 20 }, pfactor 1, "
    "crate 0, rtp-e2m { slot 1, channel 1 }, ssrc 5, ttl 64 }";

// One command of every create and every ioctl that carries an integer,
// with values a slot can take.
std::vector<std::string> creates() {
  return {
      "mixerOut : { unit 0, channel tdm : 3, inputs { { channel tdm : 1, gain 100 } } }",
      "mixerIn : { unit 0, channel tdm : 1, summator tdm : 3 }",
      std::string("mixerIn : { unit 0, channel tdm : 1, rtp ") + rtpParams + " }",
      std::string("rtpOnMixer : { unit 0, tdm 1, rtp 2, params ") + rtpParams + " }",
      "voice : record : { iaddr \"127.0.0.1\", port 5006 }",
      "voice : player : network : { host { iaddr \"127.0.0.1\", port 5008 }, id 1 }",
      "voice : player : file : { name { \"tone.al\" }, repeat 1 }",
      std::string("rtp : { codecRTP ") + rtpParams + ", txPayload ptG711-Alaw, rxPayload ptG711-Alaw }",
      "modem : { cid \"\", cdid \"\", dmp { { offset 1, value 2 } } }",
      "pstn : ss7 : { trunk 1, slc 0, dpc 1, opc 2, emergency FALSE }",
      "pstn : isdn : { type pri, trunk 1, log 0, side user : NULL }",
      "pstn : cas : { trunk 1 }",
      "trunk : { trunk 1, timeslot 5 }",
      "trunk_bri : { trunk 1, timeslot 1 }",
      "map : { transmitter { bus 0, channel 1 }, receiver { bus 0, channel 2 } }",
      "ext : { transmitter 5, receiver 6 }",
      "echo : { bus 0, channel 1 }",
      "t38soft : { dhost { iaddr \"192.0.2.9\", port 4100 }, shost { iaddr \"0.0.0.0\", port 4200 }, "
      "rx-packet-size 160, rx-threshold 1, tx-threshold 1, args { } }",
      "isdn : { type pri, trunk 1, log 0, side user : NULL }",
      "hdlcParams : { trunk 1, log 0, address 5 }",
      "spi-tdm : { channel 1 }",
      "ats-qsig : { side user : NULL, log 0 }",
      "ats-qsig-b : { slot 11, subslot 1 }",
      "usb-tdm : { channel 1 }",
  };
}

std::vector<std::string> ioctls() {
  return {
      "activateRecord : { iaddr \"127.0.0.1\", port 5010 }",
      "translateDTMF : { digits { { freq1 697, freq2 1209 } }, amp1 1000, amp2 1000, toneDuration 70, "
      "pauseDuration 70 }",
      "dtmf-params : { threshold { twist 1, ratio 2, noise 3 }, level { silence 4 } }",
      "cas : { channel { path 0, timeslot 1 }, cmd open : 5 }",
      "cas : { channel { path 0, timeslot 1 }, cmd set : 3 }",
      "vad-params : v2 : { voice-th-msec 10, silence-th-msec 10, e-th-dB 3 }",
      "iva-params : { det_lvl_dB 10 }",
      "pd-enable : { timeout 10 }",
      "rx-gain : { gainDB 3 }",
      "delays : { rx 1, tx 2, selcal 3 }",
      "tone-filter : { freq 1000, enable TRUE, duration-th-msec 10, det-level-dB 5 }",
      "tone-gen-enable : { freq 1000, amp 100 }",
      "selcal : { amp 100, signs \"ABCD\" }",
  };
}

// Every value the command takes with each CHOICE left open filled by each
// of its alternatives in turn (the radio requests and modifiers, built
// here rather than written out).
std::vector<LGCP::Message> variants(const LGCP::Message& m) {
  IntegerFields f;
  m.get_pdu().accept(f);
  if (f.open.empty()) return {m};
  std::vector<LGCP::Message> out;
  const unsigned count = f.open[0]->info()->rootCount;
  for (unsigned i = 0; i < count && out.size() < 200; ++i) {
    LGCP::Message v(m);
    IntegerFields g;
    v.get_pdu().accept(g);
    const_cast<ASN1::CHOICE*>(g.open[0])->select(static_cast<int>(i));
    for (LGCP::Message& more : variants(v)) out.push_back(more);
  }
  return out;
}

// Slot n < 0: a command to the board rather than to a slot.
std::string head(int n) { return n < 0 ? std::string("{ seq 1, ") : "{ seq 1, slot " + std::to_string(n) + ", "; }

LGCP::Message command(int n, const std::string& kind, const std::string& body) {
  LGCP::Message m;
  EXPECT_TRUE(m.setFromValueNotation(head(n) + "pdu command : " + kind + " : " + body + " }")) << body;
  return m;
}

// An RTP slot's create with a radio request of every kind.
LGCP::Message radioCreate(int n) {
  LGCP::Message m = command(n, "create", std::string("rtp : { codecRTP ") + rtpParams +
                                             ", txPayload ptG711-Alaw, rxPayload ptG711-Alaw }");
  TERM::RtpParams& p = m.get_pdu().get_command().get_create().get_rtp().get_codecRTP();
  p.includeOptionalField(TERM::RtpParams::o_radio, TERM::RtpParams::e_radio);
  TERM::RtpRadioRequest& r = p.get_radio();
  using Q = TERM::RtpRadioRequest;
  r.includeOptionalField(Q::o_rx_delay, Q::e_rx_delay);
  r.includeOptionalField(Q::o_tx_delay, Q::e_tx_delay);
  r.includeOptionalField(Q::o_selcal_delay, Q::e_selcal_delay);
  return m;
}

LGCP::Message radioIoctl(int n) {
  LGCP::Message m = command(n, "ioctl", "rx-gain : { gainDB 3 }");
  m.get_pdu().get_command().get_ioctl().select_rtpExt();
  return m;
}

bool encodes(const LGCP::Message& m) {
  ASN1::CoderEnv env(ASN1::CoderEnv::per_Aligned);
  std::vector<char> out;
  return ASN1::encode(m, &env, std::back_inserter(out));
}

class ControllerIntegers : public e2e::ControllerTest {
 protected:
  // The daemon has reported no fault of its own so far.
  void clean() {
    const std::string err = daemon->err();
    ASSERT_EQ(err.find("runtime error"), std::string::npos) << err.substr(err.find("runtime error"), 600);
    ASSERT_EQ(err.find("AddressSanitizer"), std::string::npos) << err;
  }

  // Sends the command of slot n with each integer field at each extreme in
  // turn; after each, run(answer, created) puts things back.
  void sweep(int n, const std::string& kind, const std::string& body, bool create) {
    for (const LGCP::Message& v : variants(command(n, kind, body))) sweep(n, v, create);
  }
  void sweep(int n, const LGCP::Message& base, bool create) {
    IntegerFields found;
    ASSERT_TRUE(base.get_pdu().accept(found));
    if (found.fields.empty()) return;
    for (std::size_t i = 0; i < found.fields.size(); ++i) {
      const ASN1::INTEGER& field = *found.fields[i].value;
      const std::string path = found.fields[i].path.substr(found.fields[i].path.find('.') + 1);
      const auto range = usable.find(path);
      if (range != usable.end()) swept.insert(path);
      const std::vector<long long> values = valuesFor(field, range == usable.end() ? nullptr : &range->second);
      for (long long value : values) {
        LGCP::Message m(base);
        IntegerFields again;
        ASSERT_TRUE(m.get_pdu().accept(again));
        ASN1::INTEGER& target = const_cast<ASN1::INTEGER&>(*again.fields[i].value);
        target.setValue(static_cast<unsigned>(static_cast<std::uint32_t>(value)));
        if (!encodes(m)) continue;  // the wire cannot carry it
        SCOPED_TRACE(path + " = " + std::to_string(value));
        ++sent;
        const Lines answer = c.exchange(m.asValueNotation());
        if (::testing::Test::HasFatalFailure()) return;
        ASSERT_FALSE(answer.empty()) << "no answer; " << daemon->err();
        const std::string response = head(n) + "pdu response : ";
        const auto at = std::find_if(answer.begin(), answer.end(),
                                     [&](const std::string& l) { return l.rfind(response, 0) == 0; });
        ASSERT_NE(at, answer.end()) << answer[0];
        const bool success = *at == response + "success : NULL }";
        if (range != usable.end() && (value < range->second.low || value > range->second.high)) {
          EXPECT_EQ(*at, response + "error : invalidParams }") << range->second.use;
          ++refused;
        } else {
          EXPECT_NE(*at, response + "error : invalidParams }")
              << (range != usable.end() ? range->second.use : "unranged");
          ++taken;
        }
        clean();
        if (create && success) c.exchange(cmd(2, n, "destroy : NULL"));
      }
    }
  }

  int sent = 0, refused = 0, taken = 0;
  std::set<std::string> swept;  // the ranged paths met
};

TEST_F(ControllerIntegers, EveryIntegerOfEveryCreateAndIoctlAtItsExtremes) {
  start();
  // A parent for the B channel, and slots of each kind that take ioctls.
  c.exchange(cmd(1, 11, "create : ats-qsig : { side user : NULL, log 0 }"));
  for (const std::string& body : creates()) {
    SCOPED_TRACE(body);
    sweep(10, "create", body, true);
  }
  for (const LGCP::Message& v : variants(radioCreate(10))) sweep(10, v, true);
  const std::vector<std::pair<int, std::string>> targets = {
      {20, std::string("rtp : { codecRTP ") + rtpParams + ", txPayload ptG711-Alaw, rxPayload ptG711-Alaw }"},
      {21, "pstn : ss7 : { trunk 1, slc 0, dpc 1, opc 2, emergency FALSE }"},
      {22, "voice : record : { iaddr \"127.0.0.1\", port 5006 }"},
  };
  for (const auto& t : targets) c.exchange(cmd(1, t.first, "create : " + t.second));
  for (const auto& t : targets)
    for (const std::string& body : ioctls()) {
      SCOPED_TRACE(std::to_string(t.first) + ": " + body);
      sweep(t.first, "ioctl", body, false);
    }
  for (const auto& t : targets)
    for (const LGCP::Message& v : variants(radioIoctl(t.first))) sweep(t.first, v, false);
  // CAS signalling of a trunk goes to the board, not to a slot.
  sweep(-1, "ioctl", "cas : { channel { path 0, timeslot 1 }, cmd open : 5 }", false);
  RecordProperty("commands", sent);
  std::cout << sent << " commands, " << refused << " out of their slot's range, " << taken << " taken\n";
  // Every range was met, on both sides.
  for (const auto& r : usable) EXPECT_EQ(swept.count(r.first), 1u) << r.first << " was never sent";
  EXPECT_GT(refused, 0);
  EXPECT_GT(taken, 0);
  clean();
}

// A refused create leaves the slot that had the number as it was.
TEST_F(ControllerIntegers, ARefusedCreateKeepsTheSlotAtItsNumber) {
  start();
  ASSERT_EQ(c.exchange(cmd(1, 5, "create : trunk : { trunk 1, timeslot 5 }")).size(), 3u);
  const std::pair<const char*, const char*> cases[] = {
      {"pstn : ss7 : { trunk 1, slc 16, dpc 1, opc 2, emergency FALSE }", "slc=16"},
      {"hdlcParams : { trunk 1, log 0, address 65536 }", "address=65536"},
      {"ext : { transmitter 2048, receiver 6 }", "transmitter=2048"},
  };
  for (const auto& bad : cases) {
    SCOPED_TRACE(bad.first);
    EXPECT_EQ(c.exchange(cmd(2, 5, std::string("create : ") + bad.first)), Lines{e2e::refused(2, 5, "invalidParams")});
    EXPECT_NE(daemon->err().find(std::string("slots: create refused, out of range: ") + bad.second),
              std::string::npos);
  }
  EXPECT_EQ(c.exchange(cmd(3, 5, "destroy : NULL")), (Lines{e2e::ok(3, 5)}));
  clean();
}

// Numbers that are only labels, 32-bit words or read by nothing are taken
// as a controller sends them.
TEST_F(ControllerIntegers, NumbersNoSlotComputesWithAreTaken) {
  start();
  const std::string jitterless = std::string(rtpParams).replace(std::string(rtpParams).find("jitter { start 10, max 20 }"),
                                                                  27, "jitter { start -1, max -1 }");
  const char* const creates[] = {
      "pstn : isdn : { type pri, trunk 0, log 0, side user : NULL }",
      "pstn : isdn : { type pri, trunk -2147483648, log 0, side network : NULL }",
      "pstn : ss7 : { trunk 0, slc 0, dpc 1, opc 2, emergency FALSE }",
      "pstn : ss7 : { trunk -2147483648, slc 0, dpc 1, opc 2, emergency FALSE }",
      "pstn : cas : { trunk 0 }",
      "isdn : { type pri, trunk -1, log 0, side user : NULL }",
      "hdlcParams : { trunk 0, log 0, address 5 }",
      "hdlcParams : { trunk -2147483648, log 0, address 5 }",
      "t38soft : { dhost { iaddr \"192.0.2.9\", port 4100 }, shost { iaddr \"0.0.0.0\", port 4200 }, "
      "rx-packet-size 70000, rx-threshold -1, tx-threshold 2147483647, args { } }",
      "voice : player : network : { host { iaddr \"127.0.0.1\", port 5008 }, id -1 }",
      "voice : player : file : { name { \"tone.al\" }, repeat -1 }",
      "modem : { cid \"\", cdid \"\", dmp { { offset -1, value 2 }, { offset 3, value 4 } } }",
  };
  // A slot made earlier may signal in between.
  const auto answered = [](const Lines& lines, const std::string& ok) {
    return std::find(lines.begin(), lines.end(), ok) != lines.end();
  };
  for (int n = 0; n < static_cast<int>(std::size(creates)); ++n) {
    SCOPED_TRACE(creates[n]);
    const Lines answer = c.exchange(cmd(1, 40 + n, std::string("create : ") + creates[n]));
    EXPECT_TRUE(answered(answer, e2e::ok(1, 40 + n))) << answer.front();
  }
  const std::string rtp =
      "rtp : { codecRTP " + jitterless + ", txPayload ptG711-Alaw, rxPayload ptG711-Alaw }";
  ASSERT_TRUE(answered(c.exchange(cmd(2, 60, "create : " + rtp)), e2e::ok(2, 60)));
  EXPECT_TRUE(answered(c.exchange(cmd(3, 60, "ioctl : translateDTMF : { digits { { freq1 697, freq2 1209 } }, "
                                             "toneDuration 70000, pauseDuration -1 }")),
                       e2e::ok(3, 60)));
  clean();
}

}  // namespace
