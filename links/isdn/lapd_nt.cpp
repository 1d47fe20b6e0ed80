#include "links/isdn/lapd_nt.h"

#include <iostream>

#include "links/isdn/tei_message.h"
#include "runtime/ext_out.h"

namespace ISDN {

namespace {

constexpr unsigned char octet(FrameKind k) { return static_cast<unsigned char>(k); }
constexpr unsigned char RR = octet(FrameKind::RR);
constexpr unsigned char RNR = octet(FrameKind::RNR);
constexpr unsigned char REJ = octet(FrameKind::REJ);
constexpr unsigned char UI = octet(FrameKind::UI);
constexpr unsigned char PF = 0x10;  // P/F bit of a U frame

constexpr unsigned char SETUP = 0x05;  // Q.931 message type

unsigned char mod128(int v) { return static_cast<unsigned char>(v & 0x7F); }

}  // namespace

// ---------------------------------------------------------- LAPD_NT_user

std::ostream& LAPD_NT_user::log() const { return std::clog << ext::header(this) << ' '; }

void LAPD_NT_user::note(const char* text) const {
  if (log_ > 1) log() << text << std::endl;
}

void LAPD_NT_user::PutHeader(std::ostream& s) const {
  s << "LAPD_user(NT BRI)[";
  if (state_ == unassigned) {
    s << "unassigned]:";
    return;
  }
  s << "Tei=" << unsigned(tei_) << (state_ == assigned ? ",assigned" : ",wait_answer");
  if (check_) s << ",check";
  if (busy_) s << ",busy";
  s << "]";
}

void LAPD_NT_user::arm(unsigned ms) { linkTimer_.set(ms, &LAPD_NT_user::on_timer, this); }

void LAPD_NT_user::assign() {
  if (check_ && state_ != unassigned) {
    note("checked");
    check_ = false;
    checkTimer_.reset();
    return;
  }
  note("assigned");
  vr_ = va_ = vs_ = 0;
  state_ = assigned;
  tx_U(octet(FrameKind::SABME), true, true);
  busy_ = false;
  check_ = false;
  out_.clear();
  ack_.clear();
  rc_ = 0;
  arm(idle_ms);
}

// The queues are emptied at the next assignment.
void LAPD_NT_user::unassign() {
  note("unassigned");
  state_ = unassigned;
  linkTimer_.reset();
  checkTimer_.reset();
}

void LAPD_NT_user::checking() {
  if (state_ == unassigned) return;
  note("checking started");
  check_ = true;
  checkTimer_.set(check_ms, &LAPD_NT_user::unassign, this);
}

void LAPD_NT_user::receive(Packet& f, bool cr) {
  if (f.length() == 0) return;
  const unsigned char control = f[0];
  if ((control & 3) != 3) {
    // Q.921 2.9: I and S frames have a second control octet; without it
    // the frame is invalid, not one whose N(R) reads as 0.
    if (f.length() < 2) return;
    const auto nr = static_cast<unsigned char>(f[1] >> 1);
    const bool pf = (f[1] & 1) != 0;
    if ((control & 1) == 0) {
      if (cr) return;  // an I frame is always a command
      f.pull(2);
      on_I(static_cast<unsigned char>(control >> 1), nr, pf, f);
      return;
    }
    switch (control) {
      case RR: on_RR(cr, pf, nr); return;
      case RNR: on_RNR(cr, pf, nr); return;
      case REJ: on_REJ(cr, pf, nr); return;
      default: return;
    }
  }
  const bool pf = (control & PF) != 0;
  switch (static_cast<FrameKind>(control & ~PF & 0xFF)) {
    case FrameKind::SABME:
      if (!cr) on_SABME(pf);
      return;
    case FrameKind::DM:
      if (cr) on_DM();
      return;
    case FrameKind::DISC:
      if (!cr) on_DISC(pf);
      return;
    case FrameKind::FRMR:
      if (cr) on_FRMR();
      return;
    case FrameKind::XID: on_XID(); return;
    default: return;  // UA and UI among them
  }
}

void LAPD_NT_user::on_I(unsigned char ns, unsigned char nr, bool p, Packet& info) {
  note("received I frame");
  if (ns == vr_) {
    vr_ = mod128(vr_ + 1);
    if (p) tx_S(RR, true, false);
    // A message too short to hold a call reference (one with the dummy
    // call reference) belongs to no call: it goes up all the same, and the
    // call reference of the terminal's call stays.
    if (info.length() > 3) callref_ = info[2] & 0x7F;
    if (info.length() > 0) owner_->send_to_layer3(info);
  } else {
    tx_S(REJ, p, false);
  }
  bool progress;
  if (took(nr, progress)) resume(progress);
}

void LAPD_NT_user::on_RR(bool cr, bool pf, unsigned char nr) {
  note("received RR frame");
  if (!cr && pf) tx_S(RR, true, false);
  bool progress;
  if (!took(nr, progress)) return;
  set_unbusy();
  resume(progress);
}

void LAPD_NT_user::on_RNR(bool cr, bool pf, unsigned char nr) {
  note("received RNR frame");
  set_busy();
  if (!cr && pf) tx_S(RR, true, false);
  bool progress;
  if (took(nr, progress)) resume(progress);
}

// Q.921 5.6.4: the frames before N(R) are acknowledged, the rest go again.
void LAPD_NT_user::on_REJ(bool cr, bool pf, unsigned char nr) {
  note("received REJ frame");
  if (!cr && pf) tx_S(RR, true, false);
  bool progress;
  if (!took(nr, progress)) return;
  retransmit();
  set_unbusy();
  resume(true);
}

void LAPD_NT_user::on_SABME(bool p) {
  note("received SABME frame");
  vr_ = va_ = vs_ = 0;
  if (p) tx_U(octet(FrameKind::UA), true, false);
  ack_.clear();
  set_unbusy();
  resume(false);
}

void LAPD_NT_user::on_DISC(bool p) {
  note("received DISC frame");
  if (p) tx_U(octet(FrameKind::UA), true, false);
  unassign();
}

void LAPD_NT_user::on_DM() {
  note("received DM frame");
  unassign();
}

void LAPD_NT_user::on_FRMR() {
  note("received FRMR frame");
  unassign();
}

void LAPD_NT_user::on_XID() {
  note("received XID frame");
}

// An N(R) outside V(A)..V(S) costs the terminal its TEI.
bool LAPD_NT_user::took(unsigned char nr, bool& progress) {
  const unsigned char before = va_;
  if (!ack_queue(nr)) {
    unassign();
    return false;
  }
  progress = va_ != before;
  return true;
}

// The ack queue holds exactly the frames V(A)..V(S)-1, since no more than
// the window is ever outstanding.
bool LAPD_NT_user::ack_queue(unsigned char nr) {
  note("ack queue");
  const unsigned char acked = mod128(nr - va_);
  if (acked > mod128(vs_ - va_)) return false;
  for (unsigned i = 0; i < acked; ++i) {
    Packet gone;
    ack_.get(gone);
  }
  va_ = nr;
  return true;
}

// Oldest first, the queue keeping its order. Each frame carries the present
// V(R): the N(R) it first went out with may since have been overtaken by an
// acknowledgement, and the terminal would take it for an N(R) error.
void LAPD_NT_user::retransmit() {
  note("retransmit queue");
  for (unsigned n = ack_.count(); n > 0; --n) {
    Packet f;
    ack_.get(f);
    const auto ns = static_cast<unsigned char>(f[2] >> 1);
    f.pull(4);
    tx_I(f, vr_, ns);
    ack_.put(f);
  }
}

void LAPD_NT_user::set_busy() {
  if (!busy_) note("set busy");
  busy_ = true;
}

void LAPD_NT_user::set_unbusy() {
  if (busy_) note("set unbusy");
  busy_ = false;
}

// A busy terminal idles and is polled; otherwise the link waits for an
// answer while anything is outstanding. Only progress (frames acknowledged
// or sent) restarts the wait, so a terminal that answers without ever
// acknowledging still runs out of retries.
void LAPD_NT_user::resume(bool progress) {
  if (!busy_ && send_waiting()) progress = true;
  if (busy_ || vs_ == va_) {
    state_ = assigned;
    arm(idle_ms);
    return;
  }
  if (state_ != wait_answer || progress) {
    state_ = wait_answer;
    rc_ = 0;
    arm(retry_ms);
  }
}

bool LAPD_NT_user::send_waiting() {
  bool sent = false;
  Packet msg;
  while (mod128(vs_ - va_) < window && out_.get(msg)) {
    send_now(msg);
    sent = true;
  }
  return sent;
}

void LAPD_NT_user::send_now(const Packet& msg) {
  Packet frame = msg;
  tx_I(frame, vr_, vs_);
  ack_.put(frame);
  vs_ = mod128(vs_ + 1);
}

// Q.921 5.6.1: at most k frames outstanding; the others wait, as they do
// while the terminal is busy.
bool LAPD_NT_user::message(Packet& msg) {
  if (state_ == unassigned || (msg[2] & 0x7F) != callref_) return false;
  if (busy_ || mod128(vs_ - va_) >= window) {
    if (out_.count() >= out_limit) {
      Packet gone;
      out_.get(gone);
    }
    out_.put(msg);
    return true;
  }
  send_now(msg);
  state_ = wait_answer;
  arm(retry_ms);
  return true;
}

void LAPD_NT_user::on_timer() {
  if (state_ == assigned) {
    state_ = wait_answer;
    tx_S(RR, true, true);
    rc_ = 0;
    arm(retry_ms);
    return;
  }
  if (state_ != wait_answer) return;
  if (rc_ == N200) {
    note("T200 expiried N200 times");
    unassign();
    return;
  }
  ++rc_;
  // With nothing outstanding the terminal is polled: one lost answer must
  // not cost it its TEI.
  if (vs_ == va_)
    tx_S(RR, true, true);
  else
    retransmit();
  arm(retry_ms);
}

void LAPD_NT_user::tx_U(unsigned char control, bool pf, bool command) {
  note("transmit U frame");
  Packet f;
  f.reserve_head(0);
  unsigned char* b = f.put(3);
  b[0] = command ? 0x02 : 0x00;
  b[1] = static_cast<unsigned char>(tei_ << 1 | 1);
  b[2] = static_cast<unsigned char>(control | (pf ? PF : 0));
  owner_->send_to_layer1(f);
}

void LAPD_NT_user::tx_S(unsigned char control, bool pf, bool command) {
  note("transmit S frame");
  Packet f;
  f.reserve_head(0);
  unsigned char* b = f.put(4);
  b[0] = command ? 0x02 : 0x00;
  b[1] = static_cast<unsigned char>(tei_ << 1 | 1);
  b[2] = control;
  b[3] = static_cast<unsigned char>(vr_ << 1 | (pf ? 1 : 0));
  owner_->send_to_layer1(f);
}

// Every I frame polls (P = 1). The message becomes the frame; what goes
// down is another handle on it, so a layer below cannot change the copy
// kept for retransmission.
void LAPD_NT_user::tx_I(Packet& msg, unsigned char nr, unsigned char ns) {
  note("transmit I frame");
  msg = msg.with_headroom(4);
  unsigned char* h = msg.push(4);
  h[0] = 0x02;
  h[1] = static_cast<unsigned char>(tei_ << 1 | 1);
  h[2] = static_cast<unsigned char>(ns << 1);
  h[3] = static_cast<unsigned char>(nr << 1 | 1);
  Packet out = msg;
  owner_->send_to_layer1(out);
}

// --------------------------------------------------------------- LAPD_NT

LAPD_NT::LAPD_NT() {
  for (LAPD_NT_user& u : users_) u.set_lapd(this);
}

LAPD_NT::~LAPD_NT() = default;

void LAPD_NT::set_log(unsigned level) {
  log_ = level;
  for (LAPD_NT_user& u : users_) u.set_log(level);
}

std::ostream& LAPD_NT::log() const { return std::clog << ext::header(this) << ' '; }

void LAPD_NT::PutHeader(std::ostream& s) const { s << "LAPD(NT BRI):"; }

void LAPD_NT::local_prepare_head(Packet& p) { p.reserve_head(4); }

void LAPD_NT::local_prepare_tail(Packet& p) { p.reserve_tail(0); }

void LAPD_NT::local_activate() {
  if (log_ > 0) log() << "activate" << std::endl;
  check_all_Tei();
  on_activate();
}

// Reports its end like any layer, so that the owner's deactivation
// completes.
void LAPD_NT::local_deactivate() {
  if (log_ > 0) log() << "deactivate" << std::endl;
  checkTimer_.reset();
  for (LAPD_NT_user& u : users_) u.unassign();
  on_deactivate(Protocol_status(new Protocol_status_success(this, "success (deactivated locally)")));
}

void LAPD_NT::message(Packet& p) {
  if (p.length() <= 3) return;
  if (p[3] == SETUP) {
    // Offered to every terminal: UI to the group TEI (Q.931 5.2.1).
    Packet f = p.with_headroom(3);
    f.push8(UI);
    f.push8(static_cast<unsigned char>(TeiMessage::group_tei << 1 | 1));
    f.push8(0x02);  // SAPI 0, command
    transmit(f);
    return;
  }
  for (LAPD_NT_user& u : users_)
    if (u.message(p)) return;
}

void LAPD_NT::receive(Packet& f) {
  if (f.length() <= 2) return;
  const unsigned char a1 = f[0];
  const unsigned char a2 = f[1];
  if ((a1 & 1) || !(a2 & 1)) return;
  const bool cr = (a1 & 2) != 0;
  const unsigned sapi = a1 >> 2;
  const auto tei = static_cast<unsigned char>(a2 >> 1);
  if (tei == TeiMessage::group_tei) {
    if (f[2] != UI) return;
    f.pull(3);
    if (sapi < TeiMessage::sapi)
      send_to_layer3(f);
    else
      on_tei_procedure(f);
    return;
  }
  LAPD_NT_user* u = find_Tei(tei);
  if (!u) {
    u = find_free_Tei(tei);
    if (!u) {
      if (log_ > 0) log() << "recieved packet with unassigned TEI=" << unsigned(tei) << ",removed" << std::endl;
      remove_tei(tei);
      return;
    }
    if (log_ > 0) log() << "Warning:recieved packet with unassigned TEI=" << unsigned(tei) << std::endl;
    u->assign();
  }
  f.pull(2);
  u->receive(f, cr);
}

void LAPD_NT::tx_identity(unsigned short ri, int ai, unsigned char type) {
  Packet f = TeiMessage::frame(Side::network, ri, static_cast<unsigned>(ai), type);
  send_to_layer1(f);
}

void LAPD_NT::remove_tei(unsigned ai) {
  for (int i = 0; i < 2; ++i) tx_identity(0, static_cast<int>(ai), TeiMessage::identity_remove);
}

void LAPD_NT::check_all_Tei() {
  if (log_ > 0) log() << "Checking Tei values...." << std::endl;
  checkTimer_.reset();
  for (LAPD_NT_user& u : users_) u.checking();
  tx_identity(0, TeiMessage::group_tei, TeiMessage::identity_check_request);
  checkTimer_.set(check_period_ms, &LAPD_NT::check_all_Tei, this);
}

LAPD_NT_user* LAPD_NT::find_Tei(unsigned char tei) {
  for (LAPD_NT_user& u : users_)
    if (u.link_state() != LAPD_NT_user::unassigned && u.tei() == tei) return &u;
  return nullptr;
}

LAPD_NT_user* LAPD_NT::find_free_Tei(unsigned char tei) {
  LAPD_NT_user* free = nullptr;
  for (LAPD_NT_user& u : users_)
    if (u.link_state() == LAPD_NT_user::unassigned) {
      free = &u;
      break;
    }
  if (!free) return nullptr;
  if (tei == TeiMessage::group_tei) {
    unsigned t = first_tei;
    while (t <= last_tei && find_Tei(static_cast<unsigned char>(t))) ++t;
    if (t > last_tei) return nullptr;
    tei = static_cast<unsigned char>(t);
  }
  free->set_tei(tei);
  return free;
}

// Q.921 5.3.2 (assignment), 5.3.5 (check), 5.3.4.1 (verify).
void LAPD_NT::on_tei_procedure(Packet& info) {
  TeiMessage m;
  if (!m.parse(info)) return;
  switch (m.type) {
    case TeiMessage::identity_request: {
      if (m.ai < first_tei) {
        if (log_ > 0) log() << "recieved identity request with wrong Ai=" << m.ai << ",ignored" << std::endl;
        return;
      }
      if (m.ai != TeiMessage::group_tei) {
        if (log_ > 0) log() << "recieved identity request with wrong Ai=" << m.ai << ",denied" << std::endl;
        tx_identity(m.ri, static_cast<int>(m.ai), TeiMessage::identity_denied);
        return;
      }
      LAPD_NT_user* u = find_free_Tei(TeiMessage::group_tei);
      if (!u) {
        if (log_ > 0) log() << "recieved identity request, but all TEI values is ussigned" << std::endl;
        tx_identity(m.ri, TeiMessage::group_tei, TeiMessage::identity_denied);
        return;
      }
      if (log_ > 0) log() << "recieved identity request,TEI assigned:" << unsigned(u->tei()) << std::endl;
      tx_identity(m.ri, u->tei(), TeiMessage::identity_assigned);
      u->assign();
      return;
    }
    case TeiMessage::identity_check_response: {
      if (m.ai == TeiMessage::group_tei) {
        if (log_ > 0) log() << "recieved check response with wrong Ai=" << m.ai << ",removed" << std::endl;
        // Every terminal drops its TEI and asks again: the table must not
        // keep them, or the requests that follow find no TEI free.
        for (LAPD_NT_user& u : users_) u.unassign();
        remove_tei(m.ai);
        return;
      }
      const auto tei = static_cast<unsigned char>(m.ai);
      LAPD_NT_user* u = find_Tei(tei);
      if (u && !u->check()) {
        if (m.ri == u->ri()) return;  // the terminal that answered before
        // Another terminal answers for the same TEI.
        if (log_ > 0) log() << "recieved check response with dublicated Ai=" << m.ai << ",removed" << std::endl;
        u->unassign();
        remove_tei(m.ai);
        return;
      }
      if (!u) u = find_free_Tei(tei);  // a terminal this side did not know of
      if (!u) {
        if (log_ > 0) log() << "recieved check response with wrong Ai=" << m.ai << ",removed" << std::endl;
        remove_tei(m.ai);
        return;
      }
      if (log_ > 0) log() << "TEI " << m.ai << " checked" << std::endl;
      u->assign();
      u->set_ri(m.ri);
      return;
    }
    case TeiMessage::identity_verify:
      if (log_ > 0) log() << "recieved verify request" << std::endl;
      check_all_Tei();
      return;
    default: return;
  }
}

}  // namespace ISDN
