#pragma once
// A test line for data links (LAPD, MTP2, ...): two ends joined by a channel
// that carries frames through the event loop, on the loop's test clock, with
// faults on demand and a frame log that tshark can read. It knows nothing of
// the protocols it carries.
//
// How to use it:
//
//   linktest::LinkHarness h(203);            // pcap link type: 203 LAPD, 140 MTP2
//   h.a().set_name("user");                  // names in the log; a() is outbound
//   h.b().set_name("network");               //   in the pcapng, b() inbound
//
//   // A link that sends through a GenericHDLC and receives as an
//   // HDLC::Notify: give it an end as its transmitter and bind it there.
//   auto* link = new MyLink(...);            // derives from Protocol and HDLC::Notify
//   link->set_transmitter(&h.a());
//   h.a().bind(link);                        // frames from b() and readiness of a()
//   h.family_a().add_protocol_tail(link);    // a recording ProtocolsFamily
//
//   // A layer that sends through Protocol::transmit needs no more: family_b()
//   // sends what leaves its bottom into b(); bind b() to the family's receive.
//   h.family_b().add_protocol_tail(other);
//   h.b().bind([&](Packet& p) { h.family_b().receive(p); });
//
//   h.family_a().activate();
//   h.settle();                              // frames go to and fro until quiet
//   h.advance(10000);                        // the clock moves, timers fire,
//                                            //   frames settle at each expiry
//   EXPECT_EQ(h.family_a().activations, 1);
//   h.family_a().message(h.family_a().payload({0x08, 0x01, ...}));
//
// Faults, on the frames one end sends (ordinals count the frames that end's
// transmitter accepted, from 1):
//   h.a().drop({3, 7});                      // the 3rd and 7th are lost
//   h.a().truncate(5, 2);                    // the 5th arrives cut to 2 octets
//   h.a().set_filter(fn);                    // any rule: fn(ordinal, frame&) -> Fate
//   h.a().refuse(2);                         // the next 2 offers are refused,
//                                            //   then on_hdlc_ready (via the loop)
//   h.a().set_refusing(true/false);          // refuse until cleared, then ready
//   h.a().set_open(false);                   // refuse with no readiness ever
//
// Delivery never happens inside hdlc_transmit: a frame waits for a deferred
// call of the loop, so a link's reaction to a frame is never re-entered by
// the peer's answer. Frames keep their order per direction.
//
// A bus (a BRI D-channel with several terminals): more stations join b()'s
// side of the line. Every frame a() sends reaches b() and each of them; the
// frames of each reach a() only, as terminals on an S-bus hear the network
// side and not one another:
//   linktest::LinkEnd& t2 = h.add_end("terminal 2");
//   t2.set_outbound(true);
//
// A peer that lives outside the loop's deferred calls (a library run over a
// socket pair) tells the line when it still has frames in flight:
//   h.add_busy([&] { return peer.busy(); });
//
// h.log() holds every frame sent, with its fate; h.log().write_pcapng(path)
// writes them for tshark. When the environment variable KORVEND_LINK_PCAP_DIR
// is set, each harness writes its log there at destruction, named after the
// running test (see LinkHarness::set_pcap_name).
#include <cstdint>
#include <deque>
#include <functional>
#include <initializer_list>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "hardware/hdlc.h"
#include "runtime/dpc.h"
#include "runtime/packet.h"
#include "runtime/protocol.h"
#include "runtime/test_clock.h"
#include "tests/links/frame_log.h"

namespace linktest {

Packet packet_of(const Bytes& b, unsigned headroom = 0);
Bytes bytes_of(const Packet& p);
// "08 01 81 05"
std::string hex(const Bytes& b);

class LinkHarness;

// One station's attachment to the line: its transmitter, and where frames
// from the other end and readiness of its own transmitter go.
class LinkEnd : public GenericHDLC {
 public:
  using Fate = FrameLog::Fate;
  // May change the frame (a truncation, a flipped bit); returns its fate.
  using Filter = std::function<Fate(unsigned ordinal, Bytes& frame)>;

  LinkEnd(LinkHarness& h, std::string name, bool outbound);

  void set_name(const std::string& n) { name_ = n; }
  const std::string& name() const { return name_; }
  // Direction of this end's frames in the pcapng.
  void set_outbound(bool o) { outbound_ = o; }
  bool outbound() const { return outbound_; }

  // Frames from the peer go to notify->on_hdlc_receive, readiness to
  // notify->on_hdlc_ready.
  void bind(HDLC::Notify* notify);
  // Or to functions.
  void bind(std::function<void(Packet&)> receive, std::function<void()> ready = nullptr);

  // GenericHDLC
  bool hdlc_transmit(Packet& frame) override;
  bool is_open() const override { return open_; }
  bool is_ready() const override { return open_ && !refusing_ && refuseCount_ == 0; }

  // Faults on this end's frames.
  void drop(std::initializer_list<unsigned> ordinals);
  void drop(const std::set<unsigned>& ordinals);
  void truncate(unsigned ordinal, unsigned length);
  void set_filter(Filter f) { filter_ = std::move(f); }
  void refuse(unsigned count) { refuseCount_ = count; }
  void set_refusing(bool on);
  void set_open(bool on) { open_ = on; }

  unsigned sent() const { return sent_; }        // frames accepted
  unsigned refused() const { return refused_; }  // offers refused
  unsigned received() const { return received_; }

 private:
  friend class LinkHarness;
  void deliver(Packet& frame);
  void ready();

  LinkHarness& h_;
  std::string name_;
  bool outbound_;
  HDLC::Notify* notify_ = nullptr;
  std::function<void(Packet&)> receive_;
  std::function<void()> ready_;
  std::set<unsigned> drops_;
  std::vector<std::pair<unsigned, unsigned>> truncations_;
  Filter filter_;
  unsigned refuseCount_ = 0;
  bool refusing_ = false;
  bool owesReady_ = false;
  bool open_ = true;
  unsigned sent_ = 0;
  unsigned refused_ = 0;
  unsigned received_ = 0;
};

// A protocol family that records what reaches its owner: activations,
// deactivations, status reports and messages out of its top. What leaves its
// bottom goes into its end of the line.
class RecordingFamily : public ProtocolsFamily {
 public:
  struct Report {
    bool success;
    std::string text;     // the status's message()
    std::string printed;  // its out()
  };

  explicit RecordingFamily(LinkEnd& end) : end_(end) {}

  // A payload packet with room for every layer's header.
  Packet payload(const Bytes& b);

  void transmit(Packet& p) override;
  void on_message(Packet& p) override;
  void on_activated(Protocol* top) override;
  void on_deactivated(Protocol* reporter, Protocol_status status) override;
  void on_status(Protocol_status status) override;

  int activations = 0;
  std::vector<Report> deactivations;
  std::vector<Report> statuses;
  std::vector<Bytes> received;
  // Called after each record, for tests that answer as they go.
  std::function<void(const Bytes&)> on_received;
  std::function<void()> on_up;
  std::function<void(const Report&)> on_down;

 private:
  LinkEnd& end_;
};

class LinkHarness {
 public:
  // linkType: pcap link type of the frames (203 LAPD, 140 MTP2).
  explicit LinkHarness(std::uint16_t linkType, std::uint32_t startMs = 1000);
  ~LinkHarness();
  LinkHarness(const LinkHarness&) = delete;
  LinkHarness& operator=(const LinkHarness&) = delete;

  LinkEnd& a() { return a_; }
  LinkEnd& b() { return b_; }
  // A further station on b()'s side (see above); it lives as long as the
  // line.
  LinkEnd& add_end(const std::string& name);
  RecordingFamily& family_a() { return familyA_; }
  RecordingFamily& family_b() { return familyB_; }
  Mux::TestClock& clock() { return clock_; }
  FrameLog& log() { return log_; }

  // Runs loop passes until no frame or readiness is pending; false when the
  // line is still busy after max_passes (two stations in a frame storm).
  bool settle(unsigned max_passes = 100000);
  // Moves the clock by ms: settles, then steps from timer expiry to timer
  // expiry, settling after each, up to now + ms.
  bool advance(std::uint32_t ms);
  std::uint32_t now() const { return clock_.now(); }

  bool busy() const;
  // Something else the line must wait for before it is quiet (a peer run
  // over sockets with frames still in them).
  void add_busy(std::function<bool()> pending) { extraBusy_.push_back(std::move(pending)); }

  // File name (without directory) for the automatic pcapng; by default the
  // running gtest's suite and name.
  void set_pcap_name(const std::string& name) { pcapName_ = name; }

 private:
  friend class LinkEnd;
  struct InFlight {
    LinkEnd* to;
    Bytes frame;
  };
  void send(LinkEnd& from, Bytes frame, std::size_t logIndex);
  void owe_ready() {
    readyOwed_ = true;
    dpc_.Activate();
  }
  void OnDpc();
  std::vector<LinkEnd*> ends();

  Mux::TestClock clock_;
  FrameLog log_;
  LinkEnd a_;
  LinkEnd b_;
  std::vector<std::unique_ptr<LinkEnd>> more_;  // further stations beside b_
  // Families after the ends (they refer to them) and destroyed before them.
  RecordingFamily familyA_;
  RecordingFamily familyB_;
  std::deque<InFlight> inFlight_;
  bool readyOwed_ = false;
  Dpc dpc_;
  std::string pcapName_;
  std::vector<std::function<bool()>> extraBusy_;
};

}  // namespace linktest
