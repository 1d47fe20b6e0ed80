#pragma once
// SS7 MTP level 2: signalling link control over one HDLC channel (Q.703).
//
// The link aligns (SIO, SIN or SIE, proving), then carries message signal
// units with the basic error correction method: 7-bit sequence numbers,
// indicator bits, a retransmission buffer (RTB) of 127 units and a
// transmission buffer (TB) in front of it. It has no error-rate monitors, no
// processor outage and no level-2 flow control: any LSSU in service, or any
// failure of the sequence checks, takes the link out of service and the
// owner learns it from the deactivation report ("impossible phasing").
//
// Each LSSU and FISU is handed to the channel once, when the state or an
// acknowledgement changes; filling the line between units (repeating the
// last FISU or LSSU, as Q.703 expects of the transmitter) is the channel's
// business.
//
// The owner (a PSTN signalling slot) sets it up, then stacks it as the top
// layer of its protocol family and forwards the channel's callbacks:
//
//   auto* slc = new SS7::SLC;
//   slc->set_transmitter(&hdlc);          // the channel it sends through
//   slc->set_trunk(1); slc->set_slc(0); slc->set_dpc(2); slc->set_opc(1);
//   slc->set_emergency(false);
//   family.add_protocol_tail(slc);        // hdlc.bind(...) forwards to slc
//   family.activate();                    // starts the alignment
//
// MSUs (service information octet first) go down through message(); each
// accepted MSU leaves through on_message(). The link reports on_activate()
// when it enters service and on_deactivate(error) when it returns to idle.
//
// All calls come from the event loop's thread, one at a time; a handler may
// change state inside another one.
#include <cstdint>
#include <iosfwd>

#include "hardware/hdlc.h"
#include "runtime/clean_queue.h"
#include "runtime/cyclic.h"
#include "runtime/packet.h"
#include "runtime/protocol.h"
#include "runtime/timer.h"

namespace LGCP {
class SS7L2Log;
}

namespace SS7 {

class SLC : public Protocol, public HDLC::Notify {
 public:
  typedef Cyclic<unsigned int, 127u> Seq;

  // The link states, also the values of ACP::SS7State.
  struct State {
    enum type { idle = 0, not_aligned = 1, aligned = 2, proving = 3, aligned_ready = 4, worked = 5 };
  };
  static const unsigned kStates = 6;

  // The status field of an LSSU (Q.703 11.1.2).
  enum Indication { sio = 0, sin = 1, sie = 2, sios = 3 };

  // What drives the link: the primitives from the owner, the units from the
  // peer, the timers. Every cell of the transition table is one of these in
  // one state.
  enum Event {
    ev_activate,        // local_activate
    ev_deactivate,      // local_deactivate
    ev_trunk_down,      // OnTrunkHardStatus(false)
    ev_sio,             // LSSU SIO
    ev_sin_sie,         // LSSU SIN or SIE
    ev_sios,            // LSSU SIOS, or a status this link does not know
    ev_fisu,            // FISU
    ev_msu,             // MSU from the peer
    ev_msu_from_above,  // MSU from the owner
    ev_t1,
    ev_t2,
    ev_t3,
    ev_t4,
    ev_t7,
    ev_channel_closed,  // channel_closed
  };
  static const unsigned kEvents = ev_channel_closed + 1;

  // The trace switches, in the order of the fields of LGCP::SS7L2Log.
  struct Traces {
    bool state = false;
    bool raw_receive = false;
    bool raw_transmit = false;
    bool mtp_transmit = false;
    bool mtp_receive = false;
    bool mtp_activate = false;
    bool timers = false;
    bool msu_processing = false;
  };

  // The link's counters, named after the ACP::SS7LinkInfo fields the owner
  // copies them into.
  struct Statistics {
    std::uint32_t msuTxCount = 0;    // FISUs and MSUs handed to the channel (LSSUs are not counted)
    std::uint32_t msuRxCount = 0;    // units of 3 octets or more received
    std::uint32_t octetsTx = 0;      // octets of the units counted in msuTxCount, header included
    std::uint32_t octetsRx = 0;      // octets of every frame received, short ones included
    std::uint32_t overflowCntr = 0;  // MSUs refused because the TB was full
    std::uint32_t rtbSize = 0;       // MSUs in the RTB when the record was taken
    std::uint32_t repeatCntr = 0;    // retransmission cycles
    std::uint32_t badSeqCntr = 0;    // negative acknowledgements sent
  };

  // A timer: its duration and the member that handles its expiry.
  struct TimerRecord {
    unsigned ms;
    void (SLC::*handler)(Timer*);
  };
  // Q.703 12.3. T5 and T6 belong to level-2 flow control, which this link
  // does not run: nothing arms them. T7 is longer than Q.703's 0.5-2 s.
  static const TimerRecord T1, T2, T3, T4n, T4e, T5, T6, T7;

  // The TB takes no new MSU once it holds this many; its capacity leaves
  // room for a whole RTB moved back in front of them by a retransmission.
  static const unsigned kTbLimit = 200;
  static const unsigned kRtbSize = 127;

  SLC();
  ~SLC() override;

  // Set by the owner before the link is stacked.
  void set_transmitter(GenericHDLC* t) { transmitter_ = t; }
  void set_trunk(std::uint32_t v) { trunk_ = v; }
  void set_slc(std::uint32_t v) { slc_ = v; }
  void set_dpc(std::uint32_t v) { dpc_ = v; }
  void set_opc(std::uint32_t v) { opc_ = v; }  // kept, not used
  void set_emergency(bool v) { emergency_ = v; }
  void set_traces(const Traces& t) { traces_ = t; }
  // The trace switches of an "ss7Log" request.
  void set_traces(const LGCP::SS7L2Log& log);

  GenericHDLC* transmitter() const { return transmitter_; }
  std::uint32_t trunk() const { return trunk_; }
  std::uint32_t slc() const { return slc_; }
  std::uint32_t dpc() const { return dpc_; }
  std::uint32_t opc() const { return opc_; }
  bool emergency() const { return emergency_; }
  const Traces& traces() const { return traces_; }

  // The current state (the owner's ss7state).
  State::type get_state_id() const { return state_; }
  // The BSN the link sends: the FSN of the last accepted MSU (ss7RqBSN).
  unsigned bsn_to_send() const { return bsn_to_send_; }
  // The counters, with the RTB fill taken now.
  const Statistics& statistics() const;

  // The trunk under the channel changed; down takes the link out of service.
  void OnTrunkHardStatus(bool up);
  // The channel has closed under the link (the owner cut or lost it): a
  // link not idle goes out of service at once, without a unit sent, and
  // the MSUs waiting to be sent are dropped.
  void channel_closed();
  // A once-a-second gate: true while less than a second has passed since it
  // last answered false.
  bool CoutCongestion();
  // Sends a copy of an MSU as it stands, outside the sequence handling.
  bool send_msu(Packet& p);

  // Protocol
  const Protocol_name& name() const override { return name_; }
  bool compare_name(const Protocol_name& other) const override { return name_.compare(other); }
  void local_prepare_head(Packet& p) override;
  void local_prepare_tail(Packet& p) override;
  void local_activate() override;
  void local_deactivate() override;
  void message(Packet& p) override;
  void receive(Packet& p) override;
  void protocol_info(std::ostream& os) const override;

  // HDLC::Notify
  void on_hdlc_receive(Packet& frame) override { receive(frame); }
  void on_hdlc_error(HDLC::Notify::Cause::Type cause) override;
  void on_hdlc_ready() override;

  // "SS7/L2 [dpc=2, slc=0, trunk=1] (worked): "
  void PutHeader(std::ostream& s) const;

  static const char* state_name(unsigned state);
  // "activate" .. "T7"; "unknown" for any other value.
  static const char* event_name(unsigned event);
  // Writes "out of alignment" ... or "unknown:0x.." for other values.
  static void put_indication(std::ostream& s, unsigned indication);

 private:
  typedef void (SLC::*Handler)(Packet& unit);
  static const Handler kTable[kEvents][kStates];

  void dispatch(Event ev, Packet& unit);
  void dispatch(Event ev);
  // The one place that changes state: leaves the old one (cancelling its
  // timer), enters the new one and runs its entry actions.
  void next_state(State::type s);
  void on_enter(State::type s);
  void arm(const TimerRecord& t);

  // Table cells.
  void ignore(Packet&) {}
  void start(Packet&);
  void no_start(Packet&);
  void stop(Packet&);
  void trunk_down(Packet&);
  void channel_lost(Packet&);
  void to_aligned(Packet&) { next_state(State::aligned); }
  void to_proving(Packet&) { next_state(State::proving); }
  void to_worked(Packet&) { next_state(State::worked); }
  void to_idle(Packet&) { next_state(State::idle); }
  void lssu_worked(Packet&);
  void fisu_worked(Packet&);
  void msu_worked(Packet& msu);
  void put_to_tb(Packet& msu);
  void t1_expired(Packet&);
  void t2_expired(Packet&);
  void t3_expired(Packet&);
  void t4_expired(Packet&);
  void t7_expired(Packet&);

  // Timer members.
  void on_T1(Timer*) { dispatch(ev_t1); }
  void on_T2(Timer*) { dispatch(ev_t2); }
  void on_T3(Timer*) { dispatch(ev_t3); }
  void on_T4(Timer*) { dispatch(ev_t4); }
  void on_T5(Timer*) {}
  void on_T6(Timer*) {}
  void on_T7(Timer*) { dispatch(ev_t7); }

  // Sequence handling (Q.703 5).
  void reset();
  void clear_rtb();
  void make_expected();
  // The FIB checks of a FISU or MSU in service: the one expected (false
  // when its BSN took the link out of service), and any other.
  bool expected_fib();
  void unexpected_fib();
  void process_bsnr();
  void ack();
  void nack();
  void retransmit();
  void process_tb();

  // Units on the channel.
  bool send(Packet& unit);
  void fisu();
  void lssu(Indication ind);

  // Trace helpers.
  void put_unit(std::ostream& s) const;
  static void put_octets(std::ostream& s, const Packet& p);

  Traces traces_;
  // The event the table is handling, for the state-change trace.
  Event event_ = ev_activate;

  // The last unit received.
  Seq rx_bsn_;
  unsigned rx_bib_ = 0;
  Seq rx_fsn_;
  unsigned rx_fib_ = 0;
  std::uint32_t rx_li_ = 0;
  unsigned rx_indication_ = 0;

  // What the link sends.
  Seq bsn_to_send_;
  unsigned bib_to_send_ = 1;
  Seq fsn_sent_;
  unsigned fib_to_send_ = 1;

  // Taken at the start of each FISU or MSU check.
  struct Expected {
    Seq bsn;
    unsigned bib = 1;
    unsigned fib = 1;
  } expected_;

  bool nack_pending_ = false;
  bool bad_bsn_seen_ = false;
  bool bad_fib_seen_ = false;

  Packet rtb_[kRtbSize + 1];  // indexed by FSN
  Seq first_unacked_;
  Seq last_fsn_;
  std::int32_t rtb_count_ = 0;
  CleanQueue<Packet, kTbLimit + kRtbSize> tb_;

  std::uint32_t trunk_ = 0;
  Timer timer_;
  State::type state_ = State::idle;
  bool emergency_ = false;
  std::uint32_t congestion_stamp_;
  std::uint32_t slc_ = 0;
  std::uint32_t dpc_ = 0;
  std::uint32_t opc_ = 0;
  mutable Statistics stats_;
  GenericHDLC* transmitter_ = nullptr;
  Packet fisu_;  // the one buffer every FISU goes out in
  Protocol_name_str name_;
};

}  // namespace SS7
