#pragma once
// ISDN layer 2: the Q.921 data link (modulo-128 multiple-frame operation) on
// one HDLC channel, user or network side, PRI or BRI.
//
// The owner (a signalling slot) builds it, sets it up and stacks it as the
// top layer of its protocol family:
//
//   auto* link = new ISDN::LAPD(ISDN::Side::user, log);
//   link->set_transmitter(&hdlc);       // a GenericHDLC; never deleted by the link
//   link->set_observer(this);           // LAPD::Notify, told of flow-status changes
//   link->set_link(number);             // "LAPD[number]" in every log line
//   hdlc.bind(link);                    // frames come in as HDLC::Notify
//   family.add_protocol_tail(link);
//   family.activate();                  // DL-ESTABLISH: SABME, then on_activate on UA
//   family.message(packet);             // DL-DATA: layer-3 message as an I frame
//
// Upwards, through the protocol framework: on_activate when the link is
// established, on_deactivate with a status when it is released, on_status
// for MDL errors and timer warnings, on_message with the information field
// of each accepted I frame. Statistics go to the owner through GetInfo.
//
// The state machine is one table of (state, event) -> handler, in
// lapd.cpp; each handler is one cell of the SDL of Q.921 Annex B.
// T200, T202 and T203 share one timer. Nothing here blocks or allocates per
// frame beyond packets and status objects.
#include <cstdint>
#include <iosfwd>

#include "asn1/modules/ACP.h"
#include "hardware/hdlc.h"
#include "links/isdn/lapd_state.h"
#include "runtime/clean_queue.h"
#include "runtime/protocol.h"
#include "runtime/timer.h"

namespace ISDN {

class LAPD : public Protocol, private LAPDFullState, public HDLC::Notify {
 public:
  // Told after each change of the flow status; reads it from the link.
  class Notify {
   public:
    virtual ~Notify() = default;
    virtual void OnLAPD_FlowStatusChange(LAPD* link) = 0;
  };

  struct FlowStatus {
    enum Type { normal = 0, busy = 1 };
  };

  struct Stats {
    std::uint32_t t200 = 0;             // T200 expiries
    std::uint32_t t202 = 0;             // T202 expiries
    std::uint32_t t203 = 0;             // T203 expiries
    std::uint32_t errors = 0;           // frames discarded as too short to be valid
    std::uint32_t retrains = 0;         // I frames put back for retransmission
    std::uint32_t out_overflows = 0;    // messages refused: out queue full
    std::uint32_t ack_overflows = 0;    // sent I frames that did not fit the ack queue
    std::uint32_t from_above = 0;       // DL-DATA requests, empty ones included
    std::uint32_t accepted = 0;         // in-sequence I frames
    std::uint32_t empty = 0;            // empty DL-DATA requests
    std::uint32_t out_of_sequence = 0;  // I frames with N(S) other than V(R)
    std::uint32_t nr_errors = 0;        // N(R) outside V(A)..V(S)

    // On lines of their own, each begun by "   - ".
    void print(std::ostream& s) const;
  };

  // A report of the link: a text and the state variables when it was made.
  class Status : public Protocol_status_error, private LAPDFullState {
   public:
    Status(LAPD* link, const std::string& text);
    void out(std::ostream& s) const override;
    const LAPDFullState& snapshot() const { return *this; }
  };

  // Q.921 3.6.2, 5.9: k, N200 and the timers.
  static constexpr unsigned window = 7;
  static constexpr int N200 = 3;
  // Identity requests repeated on T202 after the first: five in all.
  static constexpr int T202_retries = 4;
  static constexpr unsigned T200_ms = 1000;
  static constexpr unsigned T202_ms = 2000;
  static constexpr unsigned T203_ms = 10000;
  // Flow control towards layer 3: busy above, normal again below.
  static constexpr unsigned busy_above = 88;
  static constexpr unsigned normal_below = 65;
  static constexpr unsigned out_limit = 128;  // messages waiting at most

  LAPD(Side::type side, unsigned log_level);
  ~LAPD() override;

  void set_transmitter(GenericHDLC* t) { transmitter_ = t; }
  void set_observer(Notify* n) { observer_ = n; }
  void set_side(Side::type s) { side_ = s; }
  void set_link(std::uint32_t n) { link_ = n; }
  void set_log(std::uint32_t level) { log_ = level; }
  void change_to_bri() { bri_ = true; }

  Side::type side() const { return side_; }
  std::uint32_t link() const { return link_; }
  std::uint32_t log_level() const { return log_; }
  bool bri() const { return bri_; }
  FlowStatus::Type flow_status() const { return flow_; }
  const Stats& stats() const { return stats_; }
  const LAPDFullState& full_state() const { return *this; }
  std::uint32_t current_state() const { return LAPDFullState::state; }
  unsigned out_queue() const { return out_.count(); }
  unsigned ack_queue() const { return ack_.count(); }
  // Reference number of the last identity request (TEI assignment).
  std::uint16_t ri() const { return ri_; }

  // Protocol
  bool compare_name(const Protocol_name& n) const override { return name_.compare(n); }
  const Protocol_name& name() const override { return name_; }
  void local_prepare_head(Packet& p) override;
  void local_prepare_tail(Packet& p) override;
  void local_activate() override;    // DL-ESTABLISH request
  void local_deactivate() override;  // DL-RELEASE request
  void message(Packet& p) override;  // DL-DATA request
  void receive(Packet& frame) override;
  void protocol_info(std::ostream& os) const override;

  // "LAPD[n] (state): "
  void PutHeader(std::ostream& s) const;

  // HDLC::Notify
  void on_hdlc_receive(Packet& frame) override { receive(frame); }
  void on_hdlc_error(Cause::Type) override {}
  // PH-DEACTIVATE: the channel has closed under the link (the owner cut or
  // lost it). Nothing is sent; timers stop, queued frames are dropped, and
  // a link that was up or coming up or going down reports its release.
  void channel_closed();
  void on_hdlc_ready() override { local_events(); }

  // Management (Q.921 5.3): MDL-ASSIGN and MDL-REMOVE requests, and the hook
  // called when an assignment starts.
  virtual void mdl_assign(unsigned char tei);
  virtual void on_mdl_assign() {}
  virtual void mdl_remove();
  // MDL-ERROR indication upwards, as an on_status report.
  virtual void on_error(unsigned code);
  void on_error(const char* text);

  // The statistics and state as the owner reports them; true (and
  // remembered) when the record differs from the last one returned true.
  // `side` is left to the caller.
  bool GetInfo(ACP::IsdnLinkInfo& info) const;

  Protocol_status status();
  void show_stat() const;  // on standard output
  const char* state_text() const { return statetext(current_state()); }

  // The text of an MDL error code (Q.921 Table II.1 letters A to O).
  static const char* mdl_error_text(unsigned code);

 protected:
  // One received frame, as the handlers see it.
  struct Rx {
    bool command = false;
    bool pf = false;
    Seq nr;
    Seq ns;
    Packet* info = nullptr;  // information field of an I or UI frame
    // A TEI management message: its reference number and action indicator.
    std::uint16_t ri = 0;
    unsigned ai = 0;
  };

  // The one place that changes state; its trace names the event being
  // handled and both states.
  void change_state(std::uint32_t s);
  void dispatch(LapdEvent ev, const Rx& rx);
  // Runs after every frame, timer expiry, message and readiness.
  void local_events();

  // Frames out.
  using Kind = FrameKind;
  bool tx_cmd_resp(Kind kind, bool pf, bool command);
  bool xmit(Packet& frame);

  // The shared timer.
  enum class Tn { none, t200, t202, t203 };
  void start_timer(Tn t);
  void stop_timer(Tn t);
  void start_T200() { start_timer(Tn::t200); }
  void start_T202() { start_timer(Tn::t202); }
  void start_T203() { start_timer(Tn::t203); }
  // A timer not flagged needs no call (T200 is stopped on nearly every frame).
  void stop_T200() {
    if (T200_running) stop_timer(Tn::t200);
  }
  void stop_T202() {
    if (T202_running) stop_timer(Tn::t202);
  }
  void stop_T203() {
    if (T203_running) stop_timer(Tn::t203);
  }

  // TEI assignment (Q.921 5.3.2); runs on a BRI user side only.
  void BeginTeiAssignProcedure();
  // UI frames: TEI management and layer 3 broadcast, on a BRI link only;
  // info is the frame after its 3 header octets.
  void on_UI(Packet& info);
  // One TEI management message, on a BRI link only.
  void tx_identity(unsigned short ri, int ai, unsigned char type);

  void discard_queues();
  void set_flow(FlowStatus::Type f);

 private:
  using Handler = void (LAPD::*)(const Rx&);
  struct Row {
    LapdEvent event;
    Handler in[ST_COUNT];
  };
  static const Row table_[EV_COUNT];

  // T200, T202 and T203 share this event, re-armed in place: a link that
  // restarts T203 for every frame it receives allocates nothing for it.
  class LinkTimer : public TimerEvent {
   public:
    explicit LinkTimer(LAPD* link) : link_(link) {}
    void fire() override { link_->OnTimer(); }
    void arm(Tn t, unsigned ms) {
      serves = t;
      schedule(ms);
    }
    void cancel() {
      serves = Tn::none;
      reset();
    }
    Tn serves = Tn::none;

   private:
    LAPD* link_;
  };

  static const char* timer_name(Tn t);
  bool& running(Tn t);
  void warn_running(const char* verb, Tn t, Tn first, Tn second);
  void warn_stop(Tn t);
  bool others_running(Tn t) const;
  void OnTimer();
  void OnT200();
  void OnT202();
  void OnT203();

  // Procedures of Q.921 5 used by several cells.
  void establish();
  void clear_exceptions();
  void transmit_enquiry();
  void enquiry_response();
  void retransmit_from(Seq nr);
  void nr_error();
  bool in_range(Seq nr) const;
  void reset_sequence();
  void release(const char* text);  // on_deactivate with an error status
  void released_locally(const char* text);
  bool tx_iframe(const Packet& msg);
  void queued_up();
  void ack_pending();
  void log_frame(LapdEvent ev, const Rx& rx) const;
  void supervisory_in_recovery(const Rx& rx, LapdEvent ev);
  void answer_poll(const Rx& rx);

  // Cells of the table.
  void dl_establish_tei_unassigned(const Rx&);
  void dl_establish_assign_awaiting(const Rx&);
  void dl_establish_tei_assigned(const Rx&);
  void dl_establish_awaiting_est(const Rx&);
  void dl_establish_established(const Rx&);
  void dl_release_tei_assigned(const Rx&);
  void dl_release_awaiting_est(const Rx&);
  void dl_release_established(const Rx&);
  void dl_release_timer_recovery(const Rx&);
  void dl_data_tei_unassigned(const Rx&);
  void mdl_assign_awaiting_est(const Rx&);
  void mdl_assign_other(const Rx&);
  void mdl_remove_tei_assigned(const Rx&);
  void mdl_remove_awaiting_est(const Rx&);
  void mdl_remove_awaiting_rel(const Rx&);
  void mdl_remove_established(const Rx&);
  void mdl_remove_timer_recovery(const Rx&);
  void sabme_reset(const Rx&);
  void sabme_tei_assigned(const Rx&);
  void sabme_awaiting_est(const Rx&);
  void sabme_awaiting_rel(const Rx&);
  void sabme_established(const Rx&);
  void sabme_timer_recovery(const Rx&);
  void disc_dm(const Rx&);
  void disc_awaiting_rel(const Rx&);
  void disc_established(const Rx&);
  void disc_timer_recovery(const Rx&);
  void ua_reset(const Rx&);
  void ua_unsolicited(const Rx&);
  void ua_awaiting_est(const Rx&);
  void ua_awaiting_rel(const Rx&);
  void dm_tei_assigned(const Rx&);
  void dm_awaiting_est(const Rx&);
  void dm_awaiting_rel(const Rx&);
  void dm_established(const Rx&);
  void dm_timer_recovery(const Rx&);
  void frmr_reestablish(const Rx&);
  void rr_established(const Rx&);
  void rr_timer_recovery(const Rx&);
  void rej_established(const Rx&);
  void rej_timer_recovery(const Rx&);
  void rnr_established(const Rx&);
  void rnr_timer_recovery(const Rx&);
  void i_frame(const Rx&);
  void t200_awaiting_est(const Rx&);
  void t200_awaiting_rel(const Rx&);
  void t200_established(const Rx&);
  void t200_timer_recovery(const Rx&);
  void t203_established(const Rx&);
  void t202_awaiting_tei(const Rx&);
  void ui_awaiting_est(const Rx&);
  void ui_tei_assigned(const Rx&);
  void ui_deliver(const Rx&);
  void tei_assigned(const Rx&);
  void tei_denied(const Rx&);
  void tei_check(const Rx&);
  void tei_remove(const Rx&);
  void ph_deactivate(const Rx&);
  void ph_deactivate_owed(const Rx&);

  // A fresh reference number for an identity request, from the system's
  // random source: terminals started together on one bus must not collide.
  static std::uint16_t new_ri();

  Side::type side_;
  Stats stats_;
  Notify* observer_ = nullptr;
  FlowStatus::Type flow_ = FlowStatus::normal;
  mutable ACP::IsdnLinkInfo last_;
  mutable bool reported_ = false;
  std::uint32_t link_ = 0;
  std::uint32_t log_;
  bool bri_ = false;
  std::uint16_t ri_ = 0;
  // The event the table is handling, for the state-change trace.
  LapdEvent event_ = EV_COUNT;
  LinkTimer timer_{this};
  CleanQueue<Packet, 135> out_;  // layer-3 messages waiting, oldest first
  CleanQueue<Packet, 7> ack_;    // I frames sent and not acknowledged, oldest first
  Protocol_name_str name_{"ISDN::LAPD"};
  GenericHDLC* transmitter_ = nullptr;
  Packet control_frame_;  // the last S or U frame sent, see tx_cmd_resp
};

}  // namespace ISDN
