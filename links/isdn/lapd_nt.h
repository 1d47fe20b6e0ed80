#pragma once
// ISDN layer 2, network side of a BRI D-channel shared by several terminals
// (point-to-multipoint): TEI assignment and checks for up to eight
// terminals, one small multiple-frame link per terminal, layer-3 SETUPs
// broadcast to TEI 127 and every other downlink message routed to the
// terminal whose call reference it carries.
//
// It has no transmitter of its own: frames leave through the protocol
// framework's transmit and come in through receive, so its owner joins the
// family to the HDLC channel:
//
//   auto* nt = new ISDN::LAPD_NT;
//   nt->set_log(log);
//   family.add_protocol_tail(nt);
//   // family.transmit(p)         -> hdlc.hdlc_transmit(p)
//   // on_hdlc_receive(frame)     -> family.receive(frame)
//   family.activate();            // checks the TEIs, reports itself up at once
//   family.message(q931);         // SETUP: UI to all; else: by call reference
//
// Compared with ISDN::LAPD it is deliberately simple: a terminal counts as
// linked once SABME has been sent to it, every I frame polls (P = 1), a
// terminal idle for 10 s is polled and one that stays silent loses its TEI.
#include <cstdint>
#include <iosfwd>

#include "runtime/clean_queue.h"
#include "runtime/packet.h"
#include "runtime/protocol.h"
#include "runtime/timer.h"

namespace ISDN {

class LAPD_NT;

// One terminal as the network side sees it.
class LAPD_NT_user {
 public:
  enum LinkState : std::uint32_t { unassigned = 0, assigned = 1, wait_answer = 2 };

  static constexpr unsigned idle_ms = 10000;  // poll after this long without traffic
  static constexpr unsigned retry_ms = 1000;  // answer awaited (T200)
  static constexpr unsigned check_ms = 2000;  // TEI check answer awaited
  static constexpr int N200 = 3;
  static constexpr unsigned window = 7;       // I frames outstanding at most (k)
  static constexpr unsigned out_limit = 128;  // messages waiting at most

  LAPD_NT_user() = default;
  LAPD_NT_user(const LAPD_NT_user&) = delete;
  LAPD_NT_user& operator=(const LAPD_NT_user&) = delete;

  void set_lapd(LAPD_NT* owner) { owner_ = owner; }
  void set_log(unsigned level) { log_ = level; }
  void set_tei(unsigned char tei) { tei_ = tei; }

  // Q.921 5.3: the TEI is (again) in use; a running check ends with it.
  void assign();
  void unassign();
  // A TEI check is under way: an answer must come within check_ms.
  void checking();

  // One frame from the terminal after its two address octets.
  void receive(Packet& frame, bool cr);
  // A layer-3 message for the terminal: true when its call reference is
  // this terminal's.
  bool message(Packet& msg);

  void PutHeader(std::ostream& s) const;

  unsigned char tei() const { return tei_; }
  LinkState link_state() const { return state_; }
  bool check() const { return check_; }
  bool busy() const { return busy_; }
  unsigned char call_reference() const { return callref_; }
  std::uint16_t ri() const { return ri_; }
  void set_ri(std::uint16_t ri) { ri_ = ri; }
  unsigned char vs() const { return vs_; }
  unsigned char va() const { return va_; }
  unsigned char vr() const { return vr_; }
  int rc() const { return rc_; }
  unsigned out_queue() const { return out_.count(); }
  unsigned ack_queue() const { return ack_.count(); }

 private:
  // Frame handlers (the terminal's commands carry C/R 0).
  void on_I(unsigned char ns, unsigned char nr, bool p, Packet& info);
  void on_RR(bool cr, bool pf, unsigned char nr);
  void on_RNR(bool cr, bool pf, unsigned char nr);
  void on_REJ(bool cr, bool pf, unsigned char nr);
  void on_SABME(bool p);
  void on_DISC(bool p);
  void on_DM();
  void on_FRMR();
  void on_XID();

  // Q.921 5.6.3: takes N(R) in; false when it lies outside V(A)..V(S).
  bool ack_queue(unsigned char nr);
  // ack_queue, and progress when it acknowledged anything.
  bool took(unsigned char nr, bool& progress);
  void retransmit();
  void set_busy();
  void set_unbusy();
  // After an acknowledgement: what waits goes out while the window allows,
  // then the link waits for an answer or idles.
  void resume(bool progress);
  bool send_waiting();
  void send_now(const Packet& msg);

  void on_timer();
  void arm(unsigned ms);
  // The log stream after this terminal's header; a line of its own above
  // log level 1.
  std::ostream& log() const;
  void note(const char* text) const;

  // Frames out, address SAPI 0 and this terminal's TEI.
  void tx_U(unsigned char control, bool pf, bool command);
  void tx_S(unsigned char control, bool pf, bool command);
  void tx_I(Packet& msg, unsigned char nr, unsigned char ns);

  bool check_ = false;
  LAPD_NT* owner_ = nullptr;
  unsigned char vr_ = 0;
  unsigned char va_ = 0;  // oldest N(S) not yet acknowledged
  unsigned char vs_ = 0;
  unsigned char tei_ = 0;
  LinkState state_ = unassigned;
  Timer linkTimer_;
  Timer checkTimer_;
  int rc_ = 0;
  unsigned char callref_ = 0;
  bool busy_ = false;
  unsigned log_ = 0;
  CleanQueue<Packet, 135> out_;  // messages held while the terminal is busy or the window is full
  CleanQueue<Packet, 7> ack_;    // I frames sent, with their headers, not yet acknowledged
  std::uint16_t ri_ = 0;         // of the last check response accepted
};

class LAPD_NT : public Protocol {
 public:
  static constexpr unsigned users = 8;
  static constexpr unsigned check_period_ms = 60000;
  static constexpr unsigned first_tei = 64;  // automatic TEI values: 64..126
  static constexpr unsigned last_tei = 126;

  LAPD_NT();
  ~LAPD_NT() override;

  void set_log(unsigned level);
  unsigned log_level() const { return log_; }

  // Protocol
  void local_prepare_head(Packet& p) override;
  void local_prepare_tail(Packet& p) override;
  void local_activate() override;
  void local_deactivate() override;
  void message(Packet& p) override;
  void receive(Packet& frame) override;

  void send_to_layer3(Packet& p) { on_message(p); }
  void send_to_layer1(Packet& p) { transmit(p); }
  // A TEI management message to the terminals.
  void tx_identity(unsigned short ri, int ai, unsigned char type);

  // Q.921 5.3.5: every terminal must answer within its check time.
  void check_all_Tei();
  void on_tei_procedure(Packet& info);
  // The user holding tei, or null.
  LAPD_NT_user* find_Tei(unsigned char tei);
  // A free user given tei (127: the lowest automatic TEI nobody holds), or
  // null.
  LAPD_NT_user* find_free_Tei(unsigned char tei);

  void PutHeader(std::ostream& s) const;

  const LAPD_NT_user& user(unsigned i) const { return users_[i]; }

 private:
  void remove_tei(unsigned ai);
  std::ostream& log() const;

  Timer checkTimer_;
  LAPD_NT_user users_[users];
  unsigned log_ = 0;
};

}  // namespace ISDN
