#include "links/isdn/lapd.h"

#include <sys/random.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>
#include <iostream>
#include <string>

#include "links/isdn/q931_trace.h"
#include "links/isdn/tei_message.h"
#include "runtime/ext_out.h"

namespace ISDN {

// ------------------------------------------------------------ the table

using L = LAPD;

// One row per event, one cell per state (0 TEI unassigned .. 7 timer
// recovery); an empty cell means the event changes nothing in that state.
const LAPD::Row LAPD::table_[EV_COUNT] = {
    // Q.921 5.5.1.1 (establishment), 5.3.2 (TEI assignment first)
    {EV_DL_ESTABLISH,
     {&L::dl_establish_tei_unassigned, &L::dl_establish_assign_awaiting, nullptr, &L::dl_establish_tei_assigned,
      &L::dl_establish_awaiting_est, nullptr, &L::dl_establish_established, &L::dl_establish_established}},
    // Q.921 5.5.3.1
    {EV_DL_RELEASE,
     {nullptr, nullptr, nullptr, &L::dl_release_tei_assigned, &L::dl_release_awaiting_est, nullptr,
      &L::dl_release_established, &L::dl_release_timer_recovery}},
    {EV_DL_DATA, {&L::dl_data_tei_unassigned, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr}},
    // Q.921 5.3.2, 5.3.4.1
    {EV_MDL_ASSIGN,
     {&L::mdl_assign_other, &L::mdl_assign_other, &L::mdl_assign_awaiting_est, &L::mdl_assign_other,
      &L::mdl_assign_other, &L::mdl_assign_other, &L::mdl_assign_other, &L::mdl_assign_other}},
    {EV_MDL_REMOVE,
     {nullptr, nullptr, nullptr, &L::mdl_remove_tei_assigned, &L::mdl_remove_awaiting_est,
      &L::mdl_remove_awaiting_rel, &L::mdl_remove_established, &L::mdl_remove_timer_recovery}},
    // Q.921 5.5.1.2, 5.5.3.2, 5.6.1
    {EV_RX_SABME,
     {&L::sabme_reset, &L::sabme_reset, &L::sabme_reset, &L::sabme_tei_assigned, &L::sabme_awaiting_est,
      &L::sabme_awaiting_rel, &L::sabme_established, &L::sabme_timer_recovery}},
    // Q.921 5.5.3.2
    {EV_RX_DISC,
     {nullptr, nullptr, nullptr, &L::disc_dm, &L::disc_dm, &L::disc_awaiting_rel, &L::disc_established,
      &L::disc_timer_recovery}},
    // Q.921 5.5.1.2, 5.5.3.2; unsolicited: 5.8.7
    {EV_RX_UA,
     {&L::ua_reset, &L::ua_reset, &L::ua_reset, &L::ua_unsolicited, &L::ua_awaiting_est, &L::ua_awaiting_rel,
      &L::ua_unsolicited, &L::ua_unsolicited}},
    // Q.921 5.5.1.3, 5.5.3.3, 5.8.7
    {EV_RX_DM,
     {nullptr, nullptr, nullptr, &L::dm_tei_assigned, &L::dm_awaiting_est, &L::dm_awaiting_rel, &L::dm_established,
      &L::dm_timer_recovery}},
    // Q.921 5.8.6
    {EV_RX_FRMR,
     {nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &L::frmr_reestablish, &L::frmr_reestablish}},
    // Q.921 5.6.3, 5.6.4, 5.6.7
    {EV_RX_RR,
     {nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &L::rr_established, &L::rr_timer_recovery}},
    {EV_RX_RNR,
     {nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &L::rnr_established, &L::rnr_timer_recovery}},
    {EV_RX_REJ,
     {nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &L::rej_established, &L::rej_timer_recovery}},
    // Q.921 5.6.2, 5.8.1
    {EV_RX_I, {nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &L::i_frame, &L::i_frame}},
    // Q.921 5.2.2 (unacknowledged information): layer 3 to every terminal;
    // a terminal without its link brings it up to answer.
    {EV_RX_UI,
     {&L::ui_deliver, &L::ui_deliver, &L::ui_deliver, &L::ui_tei_assigned, &L::ui_awaiting_est, &L::ui_deliver,
      &L::ui_deliver, &L::ui_deliver}},
    // Q.921 5.3.2: the answers to an identity request wait in states 1 and 2.
    {EV_TEI_ASSIGNED,
     {nullptr, &L::tei_assigned, &L::tei_assigned, nullptr, nullptr, nullptr, nullptr, nullptr}},
    {EV_TEI_DENIED, {nullptr, &L::tei_denied, &L::tei_denied, nullptr, nullptr, nullptr, nullptr, nullptr}},
    // Q.921 5.3.5 (check), 5.3.4.1 (remove): for a terminal holding a TEI.
    {EV_TEI_CHECK,
     {nullptr, nullptr, nullptr, &L::tei_check, &L::tei_check, &L::tei_check, &L::tei_check, &L::tei_check}},
    {EV_TEI_REMOVE,
     {&L::tei_remove, nullptr, nullptr, &L::tei_remove, &L::tei_remove, &L::tei_remove, &L::tei_remove,
      &L::tei_remove}},
    // Q.921 5.5.1.3, 5.5.3.3, 5.6.7
    {EV_T200,
     {nullptr, nullptr, nullptr, nullptr, &L::t200_awaiting_est, &L::t200_awaiting_rel, &L::t200_established,
      &L::t200_timer_recovery}},
    // Q.921 5.3.2 (identity request unanswered)
    {EV_T202, {nullptr, &L::t202_awaiting_tei, &L::t202_awaiting_tei, nullptr, nullptr, nullptr, nullptr, nullptr}},
    // Q.921 5.6.7 (link idle)
    {EV_T203, {nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &L::t203_established, nullptr}},
    // Q.921 Annex B (persistent deactivation): layer 3 hears of the release
    // wherever it asked for the link or had it.
    {EV_PH_DEACTIVATE,
     {&L::ph_deactivate, &L::ph_deactivate, &L::ph_deactivate_owed, &L::ph_deactivate, &L::ph_deactivate_owed,
      &L::ph_deactivate_owed, &L::ph_deactivate_owed, &L::ph_deactivate_owed}},
};

void LAPD::dispatch(LapdEvent ev, const Rx& rx) {
  const Handler h = table_[ev].in[LAPDFullState::state < ST_COUNT ? LAPDFullState::state : 0];
  if (!h) return;
  // A cell may raise another event (a UI frame asks for establishment, a
  // remove runs MDL-REMOVE): the inner one is named while it runs.
  const LapdEvent outer = event_;
  event_ = ev;
  (this->*h)(rx);
  event_ = outer;
}

// ---------------------------------------------------------- construction

LAPD::LAPD(Side::type side, unsigned log_level) : side_(side), log_(log_level) {
  static_assert(sizeof table_ / sizeof table_[0] == EV_COUNT, "one row per event");
}

LAPD::~LAPD() = default;

void LAPD::local_prepare_head(Packet& p) { p.reserve_head(4); }

void LAPD::local_prepare_tail(Packet& p) { p.reserve_tail(0); }

void LAPD::PutHeader(std::ostream& s) const { s << "LAPD[" << link_ << "] (" << state_text() << "): "; }

void LAPD::protocol_info(std::ostream& os) const {
  PutHeader(os);
  os << "side " << side_;
  LAPDFullState::print(os);
  stats_.print(os);
  os << "\n   - queues: out: " << out_.count() << ", ack: " << ack_.count() << '\n';
}

void LAPD::Stats::print(std::ostream& s) const {
  s << "\n   - timers expire count: T200: " << t200 << ", T202: " << t202 << ", T203: " << t203
    << "\n   - errors: " << errors << ", retrains: " << retrains << "\n   - queue overflows: out: " << out_overflows
    << ", ack: " << ack_overflows;
}

LAPD::Status::Status(LAPD* link, const std::string& text)
    : Protocol_status_error(link, text), LAPDFullState(link->full_state()) {}

void LAPD::Status::out(std::ostream& s) const {
  s << message();
  LAPDFullState::print(s);
}

Protocol_status LAPD::status() { return Protocol_status(new Status(this, "current status")); }

void LAPD::show_stat() const {
  std::cout << " - current state: ";
  LAPDFullState::print(std::cout);
  std::cout << "\n - statistics: ";
  stats_.print(std::cout);
  std::cout << std::endl;
}

// ----------------------------------------------------------- primitives

void LAPD::local_activate() {
  if (log_ > 0) std::clog << ext::header(this) << "DL-ESTABLISH" << std::endl;
  dispatch(EV_DL_ESTABLISH, Rx());
}

void LAPD::local_deactivate() {
  if (log_ > 1) std::clog << ext::header(this) << "DL-RELEASE" << std::endl;
  dispatch(EV_DL_RELEASE, Rx());
}

void LAPD::channel_closed() {
  if (log_ > 0) std::clog << ext::header(this) << "PH-DEACTIVATE" << std::endl;
  dispatch(EV_PH_DEACTIVATE, Rx());
}

void LAPD::message(Packet& p) {
  ++stats_.from_above;
  if (p.length() == 0) {
    ++stats_.empty;
    return;
  }
  if (out_.count() >= out_limit) {
    std::clog << ext::header(this) << "discard outgoing message: buffer overflow" << std::endl;
    ++stats_.out_overflows;
    return;
  }
  if (log_ > 2) {
    if (out_.count() > window)
      std::clog << ext::header(this) << "outgoing queue size = " << out_.count() << " tx counter = " << stats_.from_above
                << std::endl;
    std::clog << ext::header(this) << "add to tx queue: " << p.text() << std::endl;
  }
  out_.put(p);
  QueuedUp = true;
  dispatch(EV_DL_DATA, Rx());
  if (out_.count() > busy_above) set_flow(FlowStatus::busy);
  local_events();
}

void LAPD::mdl_assign(unsigned char tei) {
  if (log_ > 1) std::clog << ext::header(this) << "MDL-ASSIGN (tei=" << unsigned(tei) << ")" << std::endl;
  self_tei = tei;
  dispatch(EV_MDL_ASSIGN, Rx());
}

void LAPD::mdl_remove() {
  std::clog << ext::header(this) << "MDL-REMOVE" << std::endl;
  dispatch(EV_MDL_REMOVE, Rx());
}

const char* LAPD::mdl_error_text(unsigned code) {
  switch (code) {
    case 1: return "Supervisory (F = 1)";
    case 2: return "DM (F = 1)";
    case 4: return "UA (F = 1)";
    case 8: return "UA (F = 0)";
    case 16: return "Receipt of DM response (F = 0)";
    case 32: return "Peer initiated re-establishment - SABME";
    case 64: return "Unsuccessful retransmission (N200 times) - SABME";
    case 128: return "Unsuccessful retransmission (N200 times) - DISC";
    case 256: return "Unsuccessful retransmission (N200 times) - Status enquiry";
    case 512: return "Other - N(R) error";
    case 1024: return "Other - Receipt of FRMR response";
    case 2048: return "Other - Receipt of undefined frame";
    case 4096: return "Other - Receipt of I field not permitted";
    case 8192: return "Other - Receipt of frame with wrong size";
    case 16384: return "Other - N201 error";
    case 32768: return "Tei Assign - Tei denied";
    default: return "Other - Unknown";
  }
}

void LAPD::on_error(unsigned code) { on_error(mdl_error_text(code)); }

void LAPD::on_error(const char* text) { on_status(Protocol_status(new Status(this, text))); }

bool LAPD::GetInfo(ACP::IsdnLinkInfo& info) const {
  info.set_msuTxCount(stats_.from_above);
  info.set_msuRxCount(stats_.accepted);
  info.set_mT200(stats_.t200);
  info.set_mT203(stats_.t203);
  info.set_errors(stats_.errors);
  info.set_retrains(stats_.retrains);
  info.set_rejected(stats_.out_of_sequence);
  info.set_badconfirm(stats_.nr_errors);
  info.set_outOverflows(stats_.out_overflows);
  info.set_ackOverflows(stats_.ack_overflows);
  info.set_lapdState(static_cast<ACP::LAPDState::NamedNumber>(current_state() < ST_COUNT ? current_state() : 0));
  info.set_rc(RC);
  info.set_peerBusy(peer_busy);
  info.set_ownBusy(own_busy);
  info.set_rejException(RejectException);
  info.set_ackPending(false);
  info.set_l3Initiated(L3Initiated);
  info.set_establishable(Establishable);
  info.set_queuedUpRQ(QueuedUp);
  info.set_retrRQ(RetrRQ);
  info.set_ackRQ(AckRQ);
  info.set_t200run(T200_running);
  info.set_t203run(T203_running);
  info.set_vs(unsigned(VS));
  info.set_va(unsigned(VA));
  info.set_vr(unsigned(VR));
  info.set_queueOut(out_.count());
  info.set_queueAck(ack_.count());
  if (reported_ && info == last_) return false;
  last_ = info;
  reported_ = true;
  return true;
}

// ------------------------------------------------------------- receiving

void LAPD::receive(Packet& frame) {
  const unsigned n = frame.length();
  if (log_ > 2) {
    dlogframe(frame.data(), n, side_ == Side::user ? 1 : 0, logbuf);
    std::clog << ext::header(this) << "rx:" << logbuf << std::flush;
  }
  // Q.921 2.9: an I or S frame needs 4 octets, a U frame 3; a shorter one
  // is invalid and discarded.
  if (n < 3 || ((frame[2] & 3u) != 3u && n < 4)) {
    ++stats_.errors;
    if (log_ > 3) std::clog << ext::header(this) << "discard frame of " << n << " octets" << std::endl;
    return;
  }
  const unsigned char* const header = frame.data();  // n >= 3 octets, 4 for I and S frames
  const unsigned char a1 = header[0];
  const unsigned char a2 = header[1];
  const unsigned char control = header[2];
  // Q.921 3.3.2: C/R is 1 in a command from the network and in a response
  // from the user.
  const bool cr = (a1 & 2) != 0;
  Rx rx;
  rx.command = side_ == Side::user ? cr : !cr;
  peer_sapi = a1 >> 2;
  if (a1 & 1) return;     // address longer than two octets
  if (!(a2 & 1)) return;  // likewise
  peer_tei = a2 >> 1;
  if (bri_ && side_ == Side::user && peer_tei != self_tei && peer_tei != 127) return;

  LapdEvent ev;
  if ((control & 1) == 0) {
    rx.ns = Seq(control >> 1);
    rx.pf = header[3] & 1;
    rx.nr = Seq(header[3] >> 1);
    frame.pull(4);
    rx.info = &frame;
    ev = EV_RX_I;
  } else if ((control & 3) == 1) {
    rx.pf = header[3] & 1;
    rx.nr = Seq(header[3] >> 1);
    switch ((control >> 2) & 3) {
      case 0: ev = EV_RX_RR; break;
      case 1: ev = EV_RX_RNR; break;
      case 2: ev = EV_RX_REJ; break;
      default: local_events(); return;
    }
  } else {
    rx.pf = (control & 0x10) != 0;
    switch (control & ~0x10 & 0xFF) {
      case 0x6F: ev = EV_RX_SABME; break;
      case 0x43: ev = EV_RX_DISC; break;
      case 0x63: ev = EV_RX_UA; break;
      case 0x0F: ev = EV_RX_DM; break;
      case 0x87: ev = EV_RX_FRMR; break;
      case 0x03:
        frame.pull(3);
        on_UI(frame);
        local_events();
        return;
      default: local_events(); return;
    }
  }
  if (log_ > 3) log_frame(ev, rx);
  dispatch(ev, rx);
  local_events();
}

void LAPD::log_frame(LapdEvent ev, const Rx& rx) const {
  if (log_ <= 3) return;
  std::clog << ext::header(this);
  if (ev == EV_RX_I) {
    std::clog << "I-Command pf=" << rx.pf << std::endl;
    return;
  }
  std::clog << event_name(ev) << ' ' << (rx.command ? "command" : "response");
  if (ev == EV_RX_RR || ev == EV_RX_RNR || ev == EV_RX_REJ || ev == EV_RX_FRMR) std::clog << " pf=" << rx.pf;
  std::clog << std::endl;
}

// ------------------------------------------------------ TEI management

std::uint16_t LAPD::new_ri() {
  std::uint16_t ri = 0;
  // Non-blocking: early after boot the pool may not be ready yet, and the
  // loop must not stall on it.
  for (;;) {
    const ssize_t n = ::getrandom(&ri, sizeof ri, GRND_NONBLOCK);
    if (n == static_cast<ssize_t>(sizeof ri)) return ri;
    if (n < 0 && errno == EINTR) continue;
    break;
  }
  // No random source yet: the clock's nanoseconds, the process and a
  // counter still differ between terminals started together.
  static std::uint32_t drawn = 0;
  timespec ts{};
  ::clock_gettime(CLOCK_MONOTONIC, &ts);
  std::uint32_t x = static_cast<std::uint32_t>(ts.tv_nsec) ^ static_cast<std::uint32_t>(::getpid()) << 16 ^
                    ++drawn * 0x9E3779B9u;
  x ^= x >> 16;
  x *= 0x7FEB352Du;
  x ^= x >> 15;
  return static_cast<std::uint16_t>(x);
}

// Q.921 5.3.2. When layer 3 asked for the link (state 2, Establish awaiting
// TEI), the state stays: the establishment is carried out once the TEI
// arrives, as Q.921's state 3 requires, instead of being forgotten.
void LAPD::BeginTeiAssignProcedure() {
  if (!bri_ || side_ != Side::user) return;
  if (LAPDFullState::state != ST_ESTABLISH_AWAITING_TEI) change_state(ST_ASSIGN_AWAITING_TEI);
  on_mdl_assign();
  ri_ = new_ri();
  tx_identity(ri_, TeiMessage::group_tei, TeiMessage::identity_request);
  RC = 0;
  stop_T200();
  stop_T203();
  start_T202();
}

void LAPD::tx_identity(unsigned short ri, int ai, unsigned char type) {
  if (!bri_) return;
  Packet f = TeiMessage::frame(side_, ri, static_cast<unsigned>(ai), type);
  xmit(f);
}

void LAPD::on_UI(Packet& info) {
  if (!bri_ || info.length() == 0) return;
  if (log_ > 3) std::clog << ext::header(this) << "on_UI()" << std::endl;
  Rx rx;
  if (info[0] != TeiMessage::entity) {
    rx.info = &info;
    dispatch(EV_RX_UI, rx);
    return;
  }
  TeiMessage m;
  if (!m.parse(info)) return;
  if (log_ > 3) std::clog << ext::header(this) << "on_UI() type=" << unsigned(m.type) << " Ai=" << m.ai << std::endl;
  rx.ri = m.ri;
  rx.ai = m.ai;
  switch (m.type) {
    case TeiMessage::identity_assigned: dispatch(EV_TEI_ASSIGNED, rx); return;
    case TeiMessage::identity_denied: dispatch(EV_TEI_DENIED, rx); return;
    case TeiMessage::identity_check_request: dispatch(EV_TEI_CHECK, rx); return;
    case TeiMessage::identity_remove: dispatch(EV_TEI_REMOVE, rx); return;
    default: return;
  }
}

// ------------------------------------------------------------- sending

bool LAPD::xmit(Packet& frame) {
  if (!transmitter_) {
    if (log_ > 3) std::clog << ext::header(this) << "no HDLC device attached!!!" << std::endl;
    return false;
  }
  if (!transmitter_->hdlc_transmit(frame)) {
    std::clog << ext::header(this) << "tx full" << std::endl;
    return false;
  }
  if (log_ > 2) {
    dlogframe(frame.data(), frame.length(), side_ == Side::user ? 0 : 1, logbuf);
    std::clog << ext::header(this) << "tx: " << logbuf << std::flush;
  }
  return true;
}

bool LAPD::tx_cmd_resp(Kind kind, bool pf, bool command) {
  const auto k = static_cast<unsigned char>(kind);
  const bool supervisory = (k & 3) == 1;
  // The buffer of the last one serves again when the channel kept no
  // reference to it: the link sends one of these for nearly every frame it
  // receives.
  Packet& f = control_frame_;
  if (!f.try_renew()) throw std::bad_alloc();
  unsigned char* b = f.put(supervisory ? 4 : 3);
  const bool cr = side_ == Side::user ? !command : command;
  b[0] = static_cast<unsigned char>(self_sapi << 2 | (cr ? 2 : 0));
  b[1] = static_cast<unsigned char>(self_tei << 1 | 1);
  if (supervisory) {
    b[2] = k;
    b[3] = static_cast<unsigned char>(unsigned(VR) << 1 | (pf ? 1 : 0));
  } else {
    b[2] = static_cast<unsigned char>(k | (pf ? 0x10 : 0));
  }
  return xmit(f);
}

// The queued message keeps no header: each transmission writes the present
// V(S) and V(R) in front of a shared copy of it.
bool LAPD::tx_iframe(const Packet& msg) {
  Packet f = msg.with_headroom(4);
  unsigned char* h = f.push(4);
  h[0] = static_cast<unsigned char>(self_sapi << 2 | (side_ == Side::user ? 0 : 2));
  h[1] = static_cast<unsigned char>(self_tei << 1 | 1);
  h[2] = static_cast<unsigned char>(unsigned(VS) << 1);
  h[3] = static_cast<unsigned char>(unsigned(VR) << 1);
  return xmit(f);
}

// ------------------------------------------------------------ local events

void LAPD::local_events() {
  // Frames acknowledged since the last run.
  const unsigned outstanding = VS - VA;
  unsigned dropped = 0;
  while (ack_.count() > outstanding) {
    Packet gone;
    ack_.get(gone);
    ++dropped;
  }
  if (log_ > 2) {
    if (dropped)
      std::clog << ext::header(this) << "acknowledge " << dropped << " frames" << " VS=" << unsigned(VS)
                << " VA=" << unsigned(VA) << std::endl;
    if (out_.empty()) std::clog << ext::header(this) << "outgoing queue empty." << std::endl;
  }
  // Q.921 5.6.4: the unacknowledged frames go out again from V(A), oldest
  // first, ahead of what waits.
  if (RetrRQ) {
    if (log_ > 0 && !ack_.empty())
      std::clog << ext::header(this) << "retransmission " << " VS=" << unsigned(VS) << " VA=" << unsigned(VA)
                << std::endl;
    VS = VA;
    Packet p;
    while (ack_.get_last(&p)) {
      out_.append(p);
      ++stats_.retrains;
    }
    RetrRQ = false;
  }
  if (QueuedUp) queued_up();
  if (AckRQ) ack_pending();
  if (flow_ != FlowStatus::normal && out_.count() < normal_below) set_flow(FlowStatus::normal);
}

// Q.921 5.6.1: I frames go out while the window is open and the peer is not
// busy; in timer recovery they wait.
void LAPD::queued_up() {
  while (QueuedUp) {
    QueuedUp = false;
    switch (LAPDFullState::state) {
      case ST_MULTIPLE_FRAME_ESTABLISHED: {
        if (peer_busy || VS == VA + Seq(window)) {
          QueuedUp = true;
          return;
        }
        Packet msg;
        if (!out_.preview(&msg)) return;
        if (!tx_iframe(msg)) {
          QueuedUp = true;
          return;
        }
        out_.get(msg);
        if (!ack_.put(msg)) {
          std::clog << ext::header(this) << "ack queue overflow!" << std::endl;
          ++stats_.ack_overflows;
        }
        ++VS;
        AckRQ = false;
        if (!T200_running) {
          stop_T203();
          start_T200();
        }
        if (!out_.empty()) QueuedUp = true;
        break;
      }
      case ST_TIMER_RECOVERY:
        QueuedUp = true;
        return;
      case ST_AWAITING_ESTABLISHMENT:
        if (!L3Initiated) QueuedUp = true;
        return;
      default:
        return;
    }
  }
}

void LAPD::ack_pending() {
  if (!AckRQ) return;
  const auto s = LAPDFullState::state;
  if (s != ST_MULTIPLE_FRAME_ESTABLISHED && s != ST_TIMER_RECOVERY) return;
  if (tx_cmd_resp(Kind::RR, false, false)) AckRQ = false;
}

void LAPD::set_flow(FlowStatus::Type f) {
  if (f == flow_) return;
  flow_ = f;
  if (observer_) observer_->OnLAPD_FlowStatusChange(this);
}

// ------------------------------------------------------------- states

void LAPD::change_state(std::uint32_t s) {
  const std::uint32_t old = LAPDFullState::state;
  if (s == old) return;
  const bool recovery = (old == ST_MULTIPLE_FRAME_ESTABLISHED && s == ST_TIMER_RECOVERY) ||
                        (old == ST_TIMER_RECOVERY && s == ST_MULTIPLE_FRAME_ESTABLISHED);
  if (log_ > 3 || (log_ > 1 && !recovery))
    std::clog << "LAPD[" << link_ << "] : change state \"" << statetext(old) << "\" -> \"" << statetext(s)
              << "\" on " << event_name(event_) << std::endl;
  LAPDFullState::state = s;
  // Messages given before the link came up go out now.
  if (s == ST_MULTIPLE_FRAME_ESTABLISHED && !out_.empty()) QueuedUp = true;
}

void LAPD::discard_queues() {
  if (log_ > 0)
    std::clog << ext::header(this) << "discard queue " << " OutData=" << out_.count() << " AckData=" << ack_.count()
              << std::endl;
  out_.clear();
  ack_.clear();
}

// ------------------------------------------------------------- timers

const char* LAPD::timer_name(Tn t) { return t == Tn::t200 ? "T200" : t == Tn::t202 ? "T202" : "T203"; }

bool& LAPD::running(Tn t) {
  return t == Tn::t200 ? T200_running : t == Tn::t202 ? T202_running : T203_running;
}

// One event serves the three timers: a start or a stop while another is
// flagged is reported, as it means the other one's wait is lost.
void LAPD::warn_running(const char* verb, Tn t, Tn first, Tn second) {
  for (Tn other : {first, second})
    if (running(other))
      on_error((std::string("trying to ") + verb + " " + timer_name(t) + " while " + timer_name(other) + " running")
                   .c_str());
}

// Whether a timer other than t is flagged: on every frame received the
// answer is no, and the warnings need not be looked at.
bool LAPD::others_running(Tn t) const {
  const unsigned flagged = unsigned(T200_running) + unsigned(T202_running) + unsigned(T203_running);
  const bool self = t == Tn::t200 ? T200_running : t == Tn::t202 ? T202_running : T203_running;
  return flagged > unsigned(self);
}

void LAPD::start_timer(Tn t) {
  if (others_running(t)) {
    if (t == Tn::t200) warn_running("start", t, Tn::t202, Tn::t203);
    if (t == Tn::t202) warn_running("start", t, Tn::t200, Tn::t203);
    if (t == Tn::t203) warn_running("start", t, Tn::t200, Tn::t202);
    // A restart (T203 on every frame received) is a stop and a start, but
    // arming moves the pending event: it need not be taken out first.
    if (running(t)) warn_stop(t);
  }
  running(t) = true;
  timer_.arm(t, t == Tn::t200 ? T200_ms : t == Tn::t202 ? T202_ms : T203_ms);
}

void LAPD::stop_timer(Tn t) {
  if (!running(t)) return;
  warn_stop(t);
  running(t) = false;
  timer_.cancel();
}

void LAPD::warn_stop(Tn t) {
  if (!others_running(t)) return;
  if (t == Tn::t200) warn_running("stop", t, Tn::t203, Tn::t202);
  if (t == Tn::t202) warn_running("stop", t, Tn::t200, Tn::t203);
  if (t == Tn::t203) warn_running("stop", t, Tn::t200, Tn::t202);
}

void LAPD::OnTimer() {
  const Tn t = timer_.serves;
  timer_.serves = Tn::none;
  switch (t) {
    case Tn::t200: OnT200(); break;
    case Tn::t202: OnT202(); break;
    case Tn::t203: OnT203(); break;
    case Tn::none: break;
  }
}

void LAPD::OnT200() {
  T200_running = false;
  ++stats_.t200;
  dispatch(EV_T200, Rx());
  local_events();
}

void LAPD::OnT202() {
  T202_running = false;
  ++stats_.t202;
  dispatch(EV_T202, Rx());
  local_events();
}

void LAPD::OnT203() {
  T203_running = false;
  ++stats_.t203;
  std::clog << ext::header(this) << "T203." << std::endl;
  dispatch(EV_T203, Rx());
  local_events();
}

// ------------------------------------------------------------- procedures

void LAPD::clear_exceptions() {
  peer_busy = false;
  own_busy = false;
  RejectException = false;
  AckRQ = false;
}

// Q.921 5.5.1.1
void LAPD::establish() {
  clear_exceptions();
  RC = 0;
  tx_cmd_resp(Kind::SABME, true, true);
  stop_T203();
  start_T200();
}

// Q.921 5.6.7
void LAPD::transmit_enquiry() {
  if (log_ > 3) std::clog << ext::header(this) << "tx_enquiry, ownBusy=" << own_busy << std::endl;
  tx_cmd_resp(own_busy ? Kind::RNR : Kind::RR, true, true);
  AckRQ = false;
  start_T200();
}

void LAPD::enquiry_response() {
  if (log_ > 3) std::clog << ext::header(this) << "tx_enquiry_response" << std::endl;
  tx_cmd_resp(own_busy ? Kind::RNR : Kind::RR, true, false);
  AckRQ = false;
}

void LAPD::retransmit_from(Seq nr) {
  VA = nr;
  RetrRQ = true;
  QueuedUp = true;
}

// Q.921 5.8.2
void LAPD::nr_error() {
  ++stats_.nr_errors;
  on_error(512);
  establish();
  L3Initiated = false;
  change_state(ST_AWAITING_ESTABLISHMENT);
}

bool LAPD::in_range(Seq nr) const { return (VA <= nr) <= VS; }

void LAPD::reset_sequence() {
  VS = 0;
  VA = 0;
  VR = 0;
  ack_.clear();
}

void LAPD::release(const char* text) { on_deactivate(Protocol_status(new Status(this, text))); }

void LAPD::released_locally(const char* text) {
  on_deactivate(Protocol_status(new Protocol_status_success(this, text)));
}

// ------------------------------------------------------------- the cells

// Q.921 5.3.2: the request waits in state 2 for the TEI (see
// BeginTeiAssignProcedure), which a BRI terminal asks for now.
void LAPD::dl_establish_tei_unassigned(const Rx&) {
  RC = 0;
  change_state(ST_ESTABLISH_AWAITING_TEI);
  if (bri_ && side_ == Side::user)
    BeginTeiAssignProcedure();  // which tells on_mdl_assign
  else
    on_mdl_assign();
}

void LAPD::dl_establish_assign_awaiting(const Rx&) { change_state(ST_ESTABLISH_AWAITING_TEI); }

void LAPD::dl_establish_tei_assigned(const Rx&) {
  establish();
  L3Initiated = true;
  change_state(ST_AWAITING_ESTABLISHMENT);
}

void LAPD::dl_establish_awaiting_est(const Rx&) {
  discard_queues();
  L3Initiated = true;
}

void LAPD::dl_establish_established(const Rx&) {
  discard_queues();
  establish();
  L3Initiated = true;
  change_state(ST_AWAITING_ESTABLISHMENT);
}

void LAPD::dl_release_tei_assigned(const Rx&) { released_locally("success (deactivated locally)"); }

void LAPD::dl_release_awaiting_est(const Rx&) {
  discard_queues();
  RC = 0;
  tx_cmd_resp(Kind::DISC, true, true);
  stop_T203();
  stop_T202();
  start_T200();
  change_state(ST_TEI_ASSIGNED);
  released_locally("success (deactivated locally)");
}

void LAPD::dl_release_established(const Rx&) {
  discard_queues();
  RC = 0;
  tx_cmd_resp(Kind::DISC, true, true);
  stop_T203();
  start_T200();
  change_state(ST_AWAITING_RELEASE);
}

void LAPD::dl_release_timer_recovery(const Rx&) {
  discard_queues();
  RC = 0;
  tx_cmd_resp(Kind::DISC, true, true);
  start_T200();
  change_state(ST_AWAITING_RELEASE);
}

// The message stays queued: without a TEI there is nothing to send it on.
// A BRI terminal asks for one; the message goes out once the link is up.
void LAPD::dl_data_tei_unassigned(const Rx&) { BeginTeiAssignProcedure(); }

void LAPD::mdl_assign_awaiting_est(const Rx&) {
  establish();
  L3Initiated = true;
  change_state(ST_AWAITING_ESTABLISHMENT);
}

void LAPD::mdl_assign_other(const Rx&) { change_state(ST_TEI_ASSIGNED); }

void LAPD::mdl_remove_tei_assigned(const Rx&) {
  discard_queues();
  change_state(ST_TEI_UNASSIGNED);
}

void LAPD::mdl_remove_awaiting_est(const Rx&) {
  discard_queues();
  stop_T200();
  change_state(ST_TEI_UNASSIGNED);
  release("error (MDL-REMOVE received)");
}

void LAPD::mdl_remove_awaiting_rel(const Rx&) {
  stop_T200();
  change_state(ST_TEI_UNASSIGNED);
  release("error (MDL-REMOVE received)");
}

void LAPD::mdl_remove_established(const Rx&) {
  discard_queues();
  stop_T200();
  stop_T203();
  change_state(ST_TEI_UNASSIGNED);
  release("error (MDL-REMOVE received)");
}

void LAPD::mdl_remove_timer_recovery(const Rx&) {
  discard_queues();
  stop_T200();
  change_state(ST_TEI_UNASSIGNED);
  release("error (MDL-REMOVE received)");
}

void LAPD::sabme_reset(const Rx&) { reset_sequence(); }

void LAPD::sabme_tei_assigned(const Rx& rx) {
  reset_sequence();
  if (!Establishable) {
    tx_cmd_resp(Kind::DM, rx.pf, false);
    return;
  }
  tx_cmd_resp(Kind::UA, rx.pf, false);
  clear_exceptions();
  start_T203();
  change_state(ST_MULTIPLE_FRAME_ESTABLISHED);
  on_activate();
}

void LAPD::sabme_awaiting_est(const Rx& rx) {
  reset_sequence();
  tx_cmd_resp(Kind::UA, rx.pf, false);
}

void LAPD::sabme_awaiting_rel(const Rx& rx) {
  reset_sequence();
  tx_cmd_resp(Kind::DM, rx.pf, false);
}

void LAPD::sabme_established(const Rx& rx) {
  reset_sequence();
  tx_cmd_resp(Kind::UA, rx.pf, false);
  clear_exceptions();
  on_error(32);
  on_activate();
  stop_T200();
  start_T203();
}

void LAPD::sabme_timer_recovery(const Rx& rx) {
  reset_sequence();
  tx_cmd_resp(Kind::UA, rx.pf, false);
  clear_exceptions();
  on_error(32);
  change_state(ST_MULTIPLE_FRAME_ESTABLISHED);
  on_activate();
  stop_T200();
  start_T203();
}

void LAPD::disc_dm(const Rx& rx) { tx_cmd_resp(Kind::DM, rx.pf, false); }

void LAPD::disc_awaiting_rel(const Rx& rx) { tx_cmd_resp(Kind::UA, rx.pf, false); }

void LAPD::disc_established(const Rx& rx) {
  discard_queues();
  tx_cmd_resp(Kind::UA, rx.pf, false);
  stop_T200();
  stop_T203();
  change_state(ST_TEI_ASSIGNED);
  release("remote error (DISC received)");
}

void LAPD::disc_timer_recovery(const Rx& rx) {
  discard_queues();
  tx_cmd_resp(Kind::UA, rx.pf, false);
  stop_T200();
  change_state(ST_TEI_ASSIGNED);
  release("remote error (DISC received)");
}

void LAPD::ua_reset(const Rx&) { reset_sequence(); }

// Q.921 5.8.7: a UA nobody asked for is reported (MDL error C or D) and
// changes nothing, so no acknowledged data is lost and the sequence numbers
// stay in step with the peer.
void LAPD::ua_unsolicited(const Rx& rx) { on_error(rx.pf ? 4u : 8u); }

void LAPD::ua_awaiting_est(const Rx& rx) {
  reset_sequence();
  if (!rx.pf) {
    on_error(8);
    return;
  }
  change_state(ST_MULTIPLE_FRAME_ESTABLISHED);
  stop_T200();
  start_T203();
  on_activate();
}

void LAPD::ua_awaiting_rel(const Rx& rx) {
  reset_sequence();
  if (!rx.pf) {
    on_error(8);
    return;
  }
  stop_T200();
  change_state(ST_TEI_ASSIGNED);
  released_locally("success (UA received)");
}

void LAPD::dm_tei_assigned(const Rx& rx) {
  if (rx.command || rx.pf || !Establishable) return;
  establish();
  L3Initiated = true;
  change_state(ST_AWAITING_ESTABLISHMENT);
}

void LAPD::dm_awaiting_est(const Rx& rx) {
  if (rx.command || !rx.pf) return;
  discard_queues();
  stop_T200();
  change_state(ST_TEI_ASSIGNED);
  release("error (DM received)");
}

void LAPD::dm_awaiting_rel(const Rx& rx) {
  if (rx.command || !rx.pf) return;
  stop_T200();
  change_state(ST_TEI_ASSIGNED);
  release("error (DM received)");
}

void LAPD::dm_established(const Rx& rx) {
  if (!rx.command && rx.pf) {
    on_error(2);
    return;
  }
  on_error(16);
  establish();
  L3Initiated = false;
  change_state(ST_AWAITING_ESTABLISHMENT);
}

void LAPD::dm_timer_recovery(const Rx& rx) {
  on_error(!rx.command && rx.pf ? 2u : 16u);
  establish();
  L3Initiated = false;
  change_state(ST_AWAITING_ESTABLISHMENT);
}

void LAPD::frmr_reestablish(const Rx&) {
  on_error(1024);
  establish();
  L3Initiated = false;
  change_state(ST_AWAITING_ESTABLISHMENT);
}

void LAPD::rr_established(const Rx& rx) {
  peer_busy = false;
  if (rx.pf) {
    if (rx.command)
      enquiry_response();
    else if (log_ > 3)
      std::clog << ext::header(this) << "receive RR (solicited response) in MFE_EST" << std::endl;
  }
  if (!in_range(rx.nr)) {
    nr_error();
    return;
  }
  if (rx.nr == VS) {
    VA = rx.nr;
    stop_T200();
    start_T203();
  } else if (rx.nr != VA) {
    VA = rx.nr;
    start_T200();
  }
}

// Q.921 5.6.7: in timer recovery only the response to the enquiry (F = 1)
// ends the recovery, sending again from its N(R); any other RR, REJ or RNR
// only moves V(A). After an RNR answer T200 goes on polling the busy peer.
void LAPD::supervisory_in_recovery(const Rx& rx, LapdEvent ev) {
  peer_busy = ev == EV_RX_RNR;
  if (!rx.command && rx.pf) {
    if (!in_range(rx.nr)) {
      nr_error();
      return;
    }
    if (ev == EV_RX_RNR) {
      start_T200();
    } else {
      stop_T200();
      start_T203();
    }
    retransmit_from(rx.nr);
    change_state(ST_MULTIPLE_FRAME_ESTABLISHED);
    return;
  }
  if (rx.command && rx.pf) enquiry_response();
  if (in_range(rx.nr)) {
    VA = rx.nr;
    return;
  }
  if (ev == EV_RX_RR && log_ > 3) std::clog << ext::header(this) << "receive RR with out of order N(R)" << std::endl;
  nr_error();
}

void LAPD::rr_timer_recovery(const Rx& rx) { supervisory_in_recovery(rx, EV_RX_RR); }

void LAPD::rej_timer_recovery(const Rx& rx) { supervisory_in_recovery(rx, EV_RX_REJ); }

void LAPD::rnr_timer_recovery(const Rx& rx) { supervisory_in_recovery(rx, EV_RX_RNR); }

// An enquiry from the peer is answered; an F = 1 nobody asked for is
// reported (MDL error A).
void LAPD::answer_poll(const Rx& rx) {
  if (!rx.pf) return;
  if (rx.command)
    enquiry_response();
  else
    on_error(1);
}

void LAPD::rej_established(const Rx& rx) {
  peer_busy = false;
  answer_poll(rx);
  if (!in_range(rx.nr)) {
    nr_error();
    return;
  }
  stop_T200();
  start_T203();
  retransmit_from(rx.nr);
}

void LAPD::rnr_established(const Rx& rx) {
  peer_busy = true;
  answer_poll(rx);
  if (!in_range(rx.nr)) {
    nr_error();
    return;
  }
  VA = rx.nr;
  stop_T203();
  start_T200();
}

// Q.921 5.6.2, 5.8.1: an I frame in sequence is acknowledged and passed up
// (after its N(R) has been taken in); one out of sequence brings one REJ.
void LAPD::i_frame(const Rx& rx) {
  bool deliver = false;
  if (!own_busy) {
    if (rx.ns == VR) {
      ++VR;
      RejectException = false;
      ++stats_.accepted;
      if (rx.pf) {
        AckRQ = false;
        tx_cmd_resp(Kind::RR, true, false);
      } else {
        AckRQ = true;
      }
      deliver = true;
    } else {
      ++stats_.out_of_sequence;
      if (!RejectException) {
        RejectException = true;
        tx_cmd_resp(Kind::REJ, rx.pf, false);
        AckRQ = false;
      } else if (rx.pf) {
        tx_cmd_resp(Kind::RR, true, false);
        AckRQ = false;
      }
    }
  } else if (rx.pf) {
    tx_cmd_resp(Kind::RNR, true, false);
    AckRQ = false;
  }
  if (in_range(rx.nr)) {
    if (!peer_busy && LAPDFullState::state == ST_MULTIPLE_FRAME_ESTABLISHED) {
      if (rx.nr == VS) {
        stop_T200();
        start_T203();
      } else if (rx.nr != VA) {
        start_T200();
      }
    }
    VA = rx.nr;
  } else {
    nr_error();
  }
  if (deliver && rx.info) on_message(*rx.info);
}

void LAPD::t200_awaiting_est(const Rx&) {
  if (RC == N200) {
    discard_queues();
    on_error(64);
    change_state(ST_TEI_ASSIGNED);
    release("link error (T200 expired N200 times)");
    return;
  }
  ++RC;
  tx_cmd_resp(Kind::SABME, true, true);
  start_T200();
}

void LAPD::t200_awaiting_rel(const Rx&) {
  if (RC == N200) {
    on_error(128);
    change_state(ST_TEI_ASSIGNED);
    release("link error (T200 expired N200 times)");
    return;
  }
  ++RC;
  tx_cmd_resp(Kind::DISC, true, true);
  start_T200();
}

void LAPD::t200_established(const Rx&) {
  RC = 0;
  transmit_enquiry();
  ++RC;
  if (log_ > 1) std::clog << ext::header(this) << "ack expired" << std::endl;
  change_state(ST_TIMER_RECOVERY);
}

void LAPD::t200_timer_recovery(const Rx&) {
  if (RC == N200) {
    if (log_ > 1) std::clog << ext::header(this) << "ack error !!!" << std::endl;
    on_error(256);
    establish();
    L3Initiated = false;
    change_state(ST_AWAITING_ESTABLISHMENT);
    return;
  }
  if (log_ > 1) std::clog << ext::header(this) << "ack timeout expired RC=" << RC << std::endl;
  transmit_enquiry();
  ++RC;
}

void LAPD::t203_established(const Rx&) {
  transmit_enquiry();
  RC = 0;
  change_state(ST_TIMER_RECOVERY);
}

// Q.921 5.3.2: the request is repeated with a new Ri until the network has
// been asked five times; then the link gives up and says why.
void LAPD::t202_awaiting_tei(const Rx&) {
  if (RC >= T202_retries) {
    change_state(ST_TEI_UNASSIGNED);
    release("link error (T202 expired N202 times)");
    return;
  }
  ri_ = new_ri();
  tx_identity(ri_, TeiMessage::group_tei, TeiMessage::identity_request);
  start_T202();
  ++RC;
}

// The channel has gone from under the link: there is no line left to
// release it on, and a DISC or a poll repeated on T200 would only meet the
// next connection the owner makes. The link forgets it ever ran, so that
// the next establishment starts it as a new link's first one does.
void LAPD::ph_deactivate(const Rx&) {
  timer_.cancel();
  discard_queues();
  const std::uint32_t was = LAPDFullState::state;
  static_cast<LAPDFullState&>(*this) = LAPDFullState();
  const std::uint32_t fresh = LAPDFullState::state;
  LAPDFullState::state = was;
  change_state(fresh);
  set_flow(FlowStatus::normal);
}

void LAPD::ph_deactivate_owed(const Rx& rx) {
  ph_deactivate(rx);
  release("link error (channel closed)");
}

// --------------------------------------------------- UI and TEI management

void LAPD::ui_deliver(const Rx& rx) { on_message(*rx.info); }

// A terminal re-establishing its link gives that up for the call offered.
void LAPD::ui_awaiting_est(const Rx& rx) {
  if (side_ == Side::user) change_state(ST_TEI_ASSIGNED);
  ui_tei_assigned(rx);
}

void LAPD::ui_tei_assigned(const Rx& rx) {
  if (side_ == Side::user) local_activate();
  on_message(*rx.info);
}

// The answer to this terminal's request (its Ri). T202 is stopped before
// the assignment, which may start T200 for the establishment: the other
// order reports the shared timer's "while T202 running" warnings on every
// assignment.
void LAPD::tei_assigned(const Rx& rx) {
  if (rx.ri != ri_) return;
  stop_T202();
  mdl_assign(static_cast<unsigned char>(rx.ai));
  start_T200();
}

// Either awaiting state: state 2 is where an assignment asked for by layer 3
// waits. T202 keeps running and asks again.
void LAPD::tei_denied(const Rx& rx) {
  if (rx.ri != ri_) return;
  if (rx.ai != TeiMessage::group_tei)
    std::clog << ext::header(this) << "ASP returned: TEI " << rx.ai << " denied" << std::endl;
  else
    std::clog << ext::header(this) << "ASP returned: All TEI's used" << std::endl;
  on_error(32768);
}

void LAPD::tei_check(const Rx& rx) {
  if (rx.ai == TeiMessage::group_tei || rx.ai == self_tei)
    tx_identity(ri_, static_cast<int>(self_tei), TeiMessage::identity_check_response);
}

// Not in the awaiting states: no TEI is held while an assignment is under
// way, and the request in flight stands. Asking again for every remove
// would take one TEI of the network's pool per remove (networks send them
// in bursts), all but the last of them left to the network as dead
// terminals.
void LAPD::tei_remove(const Rx& rx) {
  if (rx.ai < TeiMessage::group_tei && rx.ai != self_tei) return;
  mdl_remove();
  BeginTeiAssignProcedure();
}

}  // namespace ISDN
