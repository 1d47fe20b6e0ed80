#pragma once
// One LAPD link on the test line, facing a peer that the test plays by hand:
// it writes raw Q.921 frames and reads what the link sent.
//
//   LapdFixture f(ISDN::Side::user);
//   f.peer.send(f.peer.sabme());            // from the network side
//   f.settle();
//   EXPECT_EQ(f.peer.heard.back(), f.peer.ua_to_me(true));
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "links/isdn/lapd.h"
#include "tests/links/link_harness.h"
#include "tests/stream_capture.h"

namespace lapdtest {

using linktest::Bytes;

// A Q.931 INFORMATION message whose display says n: a layer-3 message tshark
// dissects cleanly, and that tells which one it is.
inline Bytes q931(unsigned n) {
  const std::string digits = std::to_string(n);
  Bytes m;
  m.reserve(6 + digits.size());
  for (std::uint8_t o : {0x08, 0x01, 0x01, 0x7B, 0x28}) m.push_back(o);
  m.push_back(static_cast<std::uint8_t>(digits.size()));
  for (char c : digits) m.push_back(static_cast<std::uint8_t>(c));
  return m;
}

// The numbers of the messages made by q931() (-1 for anything else), for
// readable comparisons.
inline std::vector<int> numbers_of(const std::vector<Bytes>& messages) {
  std::vector<int> v;
  for (const Bytes& m : messages) {
    if (m.size() < 7 || m[4] != 0x28 || m[5] + 6u != m.size()) {
      v.push_back(-1);
      continue;
    }
    v.push_back(std::stoi(std::string(m.begin() + 6, m.end())));
  }
  return v;
}

inline std::vector<int> count_to(int n) {
  std::vector<int> v;
  for (int i = 0; i < n; ++i) v.push_back(i);
  return v;
}

// The raw peer of a link: builds its frames with the other side's C/R rule.
struct Peer : HDLC::Notify {
  bool network;  // the peer's side
  std::uint8_t tei = 0;
  std::vector<Bytes> heard;
  GenericHDLC* out = nullptr;

  // Called with each frame heard, for a peer that answers as it goes.
  std::function<void(const Bytes&)> on_answer;

  explicit Peer(bool isNetwork) : network(isNetwork) {}
  void on_hdlc_receive(Packet& p) override {
    heard.push_back(linktest::bytes_of(p));
    if (on_answer) on_answer(heard.back());
  }
  void on_hdlc_error(Cause::Type) override {}
  void on_hdlc_ready() override {}

  // C/R: 1 in a command from the network and in a response from the user.
  std::uint8_t addr(bool command) const { return command == network ? 0x02 : 0x00; }
  std::uint8_t tei_octet() const { return static_cast<std::uint8_t>(tei << 1 | 1); }
  Bytes u(std::uint8_t control, bool pf, bool command) const {
    return {addr(command), tei_octet(), static_cast<std::uint8_t>(control | (pf ? 0x10 : 0))};
  }
  Bytes s(std::uint8_t control, unsigned nr, bool pf, bool command) const {
    return {addr(command), tei_octet(), control, static_cast<std::uint8_t>(nr << 1 | (pf ? 1 : 0))};
  }
  Bytes sabme(bool p = true) const { return u(0x6F, p, true); }
  Bytes disc(bool p = true) const { return u(0x43, p, true); }
  Bytes ua(bool f = true) const { return u(0x63, f, false); }
  Bytes dm(bool f = true) const { return u(0x0F, f, false); }
  Bytes frmr(bool f = true) const { return u(0x87, f, false); }
  Bytes rr(unsigned nr, bool pf = false, bool command = false) const { return s(0x01, nr, pf, command); }
  Bytes rnr(unsigned nr, bool pf = false, bool command = false) const { return s(0x05, nr, pf, command); }
  Bytes rej(unsigned nr, bool pf = false, bool command = false) const { return s(0x09, nr, pf, command); }
  Bytes i(unsigned ns, unsigned nr, const Bytes& info, bool p = false) const {
    Bytes f = {addr(true), tei_octet(), static_cast<std::uint8_t>(ns << 1), static_cast<std::uint8_t>(nr << 1 | p)};
    f.insert(f.end(), info.begin(), info.end());
    return f;
  }

  // What the link sends, with its own C/R rule (the opposite side's).
  std::uint8_t their_addr(bool command) const { return command == network ? 0x00 : 0x02; }
  Bytes their_u(std::uint8_t control, bool pf, bool command) const {
    return {their_addr(command), tei_octet(), static_cast<std::uint8_t>(control | (pf ? 0x10 : 0))};
  }
  Bytes their_s(std::uint8_t control, unsigned nr, bool pf, bool command) const {
    return {their_addr(command), tei_octet(), control, static_cast<std::uint8_t>(nr << 1 | (pf ? 1 : 0))};
  }
  Bytes their_i(unsigned ns, unsigned nr, const Bytes& info) const {
    Bytes f = {their_addr(true), tei_octet(), static_cast<std::uint8_t>(ns << 1), static_cast<std::uint8_t>(nr << 1)};
    f.insert(f.end(), info.begin(), info.end());
    return f;
  }

  // TEI management (SAPI 63, TEI 127, UI), as this peer sends it and as
  // the link does; Ri goes low octet first.
  static Bytes tei_message(bool fromNetwork, std::uint16_t ri, std::uint8_t type, unsigned ai) {
    return {static_cast<std::uint8_t>(fromNetwork ? 0xFE : 0xFC), 0xFF, 0x03, 0x0F, static_cast<std::uint8_t>(ri & 0xFF),
            static_cast<std::uint8_t>(ri >> 8), type, static_cast<std::uint8_t>(ai << 1 | 1)};
  }
  Bytes tei_msg(std::uint16_t ri, std::uint8_t type, unsigned ai) const { return tei_message(network, ri, type, ai); }
  Bytes their_tei_msg(std::uint16_t ri, std::uint8_t type, unsigned ai) const {
    return tei_message(!network, ri, type, ai);
  }
  // Layer 3 in a UI frame to every terminal.
  Bytes broadcast(const Bytes& info) const {
    Bytes f = {addr(true), 0xFF, 0x03};
    f.insert(f.end(), info.begin(), info.end());
    return f;
  }

  void send(const Bytes& frame) {
    Packet p = linktest::packet_of(frame);
    ASSERT_TRUE(out->hdlc_transmit(p));
  }
  // The frames heard since the last call.
  std::vector<Bytes> take() {
    std::vector<Bytes> h;
    h.swap(heard);
    return h;
  }
};

class LapdFixture {
 public:
  explicit LapdFixture(ISDN::Side::type side, unsigned log = 0)
      : peer(side == ISDN::Side::user), clog_(std::clog) {
    link = new ISDN::LAPD(side, log);
    link->set_transmitter(&h.a());
    link->set_link(7);
    h.a().bind(link);
    h.a().set_name(side == ISDN::Side::user ? "user" : "network");
    h.b().set_name(side == ISDN::Side::user ? "network" : "user");
    // The pcapng's outbound direction is the user side's.
    h.a().set_outbound(side == ISDN::Side::user);
    h.b().set_outbound(side != ISDN::Side::user);
    h.family_a().add_protocol_tail(link);
    peer.out = &h.b();
    h.b().bind(&peer);
  }

  ISDN::LAPD& lapd() { return *link; }
  linktest::RecordingFamily& family() { return h.family_a(); }
  const ISDN::LAPDFullState& vars() const { return link->full_state(); }
  void settle() { ASSERT_TRUE(h.settle()); }
  void advance(std::uint32_t ms) { ASSERT_TRUE(h.advance(ms)); }
  void send_message(const Bytes& m) {
    Packet p = family().payload(m);
    family().message(p);
  }
  // Brings the link to "multiple frame established" by the peer's SABME.
  void establish_by_peer() {
    peer.send(peer.sabme());
    settle();
    peer.take();
    ASSERT_EQ(link->current_state(), ISDN::ST_MULTIPLE_FRAME_ESTABLISHED);
  }
  std::string log_text() { return clog_.take(); }
  std::vector<std::string> status_texts() {
    std::vector<std::string> t;
    for (const auto& s : h.family_a().statuses) t.push_back(s.text);
    return t;
  }

  linktest::LinkHarness h{203};
  Peer peer;
  ISDN::LAPD* link;  // owned by the family

 private:
  testkit::StreamCapture clog_;
};

}  // namespace lapdtest
