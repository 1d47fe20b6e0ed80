#include "links/ss7/slc.h"

#include <iomanip>
#include <iostream>

#include "asn1/modules/LGCP.h"
#include "runtime/ext_out.h"
#include "runtime/mux_clock.h"

namespace SS7 {

const SLC::TimerRecord SLC::T1 = {45000, &SLC::on_T1};
const SLC::TimerRecord SLC::T2 = {7000, &SLC::on_T2};
const SLC::TimerRecord SLC::T3 = {1500, &SLC::on_T3};
const SLC::TimerRecord SLC::T4n = {8200, &SLC::on_T4};
const SLC::TimerRecord SLC::T4e = {500, &SLC::on_T4};
const SLC::TimerRecord SLC::T5 = {100, &SLC::on_T5};
const SLC::TimerRecord SLC::T6 = {4500, &SLC::on_T6};
const SLC::TimerRecord SLC::T7 = {12000, &SLC::on_T7};

namespace {

const char* const kStateNames[SLC::kStates] = {"idle", "not aligned", "aligned", "proving", "aligned ready", "worked"};

const char* const kEventNames[SLC::kEvents] = {"activate", "deactivate", "trunk down", "SIO", "SIN/SIE",
                                               "SIOS",     "FISU",       "MSU",        "MSU from above",
                                               "T1",       "T2",         "T3",         "T4",  "T7",
                                               "channel closed"};

const char* const kIndicationNames[] = {"out of alignment", "normal alignment", "emergency alignment",
                                        "out of service"};

}  // namespace

// The transition table: one handler per (event, state), a timer's cell
// filled only in the state that arms it. It reads as the SDL
// of Q.703 figures 8 (link state control) and 10 (basic error correction),
// simplified as this link is: alignment starts on the peer's first LSSU
// without a start from level 3, an SIN or SIE while not aligned goes straight
// to proving, and proving ends at the peer's first FISU or MSU.
// clang-format off
#define H(m) &SLC::m
const SLC::Handler SLC::kTable[SLC::kEvents][SLC::kStates] = {
  //                   idle            not aligned     aligned         proving         ready           worked
  /* activate */      {H(start),       H(no_start),    H(no_start),    H(no_start),    H(no_start),    H(no_start)},
  /* deactivate */    {H(stop),        H(stop),        H(stop),        H(stop),        H(stop),        H(stop)},
  /* trunk down */    {H(ignore),      H(trunk_down),  H(trunk_down),  H(trunk_down),  H(trunk_down),  H(trunk_down)},
  /* SIO */           {H(to_aligned),  H(to_aligned),  H(ignore),      H(to_idle),     H(to_idle),     H(lssu_worked)},
  /* SIN, SIE */      {H(to_proving),  H(to_proving),  H(to_proving),  H(ignore),      H(ignore),      H(lssu_worked)},
  /* SIOS, unknown */ {H(ignore),      H(ignore),      H(ignore),      H(to_idle),     H(to_idle),     H(lssu_worked)},
  /* FISU */          {H(ignore),      H(ignore),      H(ignore),      H(to_worked),   H(to_worked),   H(fisu_worked)},
  // The MSU that ends proving is not delivered.
  /* MSU */           {H(ignore),      H(ignore),      H(ignore),      H(to_worked),   H(to_worked),   H(msu_worked)},
  /* from above */    {H(ignore),      H(ignore),      H(ignore),      H(ignore),      H(ignore),      H(put_to_tb)},
  /* T1 */            {H(ignore),      H(ignore),      H(ignore),      H(ignore),      H(t1_expired),  H(ignore)},
  /* T2 */            {H(ignore),      H(t2_expired),  H(ignore),      H(ignore),      H(ignore),      H(ignore)},
  /* T3 */            {H(ignore),      H(ignore),      H(t3_expired),  H(ignore),      H(ignore),      H(ignore)},
  /* T4 */            {H(ignore),      H(ignore),      H(ignore),      H(t4_expired),  H(ignore),      H(ignore)},
  /* T7 */            {H(ignore),      H(ignore),      H(ignore),      H(ignore),      H(ignore),      H(t7_expired)},
  /* closed */        {H(ignore),      H(channel_lost), H(channel_lost), H(channel_lost), H(channel_lost), H(channel_lost)},
};
#undef H
// clang-format on

SLC::SLC() : congestion_stamp_(Mux::milliseconds()), name_("MTP/L2") {
  // The link starts in idle without idle's entry actions; it still sends
  // the reset values (BSN and FSN 127, indicator bits 1) if the peer's LSSUs
  // take it to aligned ready before anything resets it.
  reset();
}

SLC::~SLC() = default;

void SLC::set_traces(const LGCP::SS7L2Log& log) {
  traces_.state = log.get_state();
  traces_.raw_receive = log.get_raw_receive();
  traces_.raw_transmit = log.get_raw_transmit();
  traces_.mtp_transmit = log.get_mtp_transmit();
  traces_.mtp_receive = log.get_mtp_receive();
  traces_.mtp_activate = log.get_mtp_activate();
  traces_.timers = log.get_timers();
  traces_.msu_processing = log.get_msu_processing();
}

const char* SLC::state_name(unsigned state) { return state < kStates ? kStateNames[state] : "unknown"; }

const char* SLC::event_name(unsigned event) { return event < kEvents ? kEventNames[event] : "unknown"; }

void SLC::put_indication(std::ostream& s, unsigned indication) {
  if (indication <= sios)
    s << kIndicationNames[indication];
  else
    s << "unknown:" << ext::OutUnsignedInHex(indication, 0);
}

void SLC::PutHeader(std::ostream& s) const {
  s << "SS7/L2 [dpc=" << dpc_ << ", slc=" << slc_ << ", trunk=" << trunk_ << "] (" << state_name(state_) << "): ";
}

void SLC::put_unit(std::ostream& s) const {
  s << " BSN=" << unsigned(rx_bsn_) << " BIB=" << rx_bib_ << " FSN=" << unsigned(rx_fsn_) << " FIB=" << rx_fib_;
}

void SLC::put_octets(std::ostream& s, const Packet& p) {
  const std::ios_base::fmtflags flags = s.flags();
  s << std::hex << std::uppercase;
  for (unsigned i = 0; i < p.length(); ++i) s << " 0x" << unsigned(p.data()[i]);
  s.flags(flags);
}

// --- the state machine -------------------------------------------------------

void SLC::dispatch(Event ev, Packet& unit) {
  const Handler handler = kTable[ev][state_];
  event_ = ev;
  (this->*handler)(unit);
}

void SLC::dispatch(Event ev) {
  Packet none;
  dispatch(ev, none);
}

void SLC::next_state(State::type s) {
  if (traces_.state)
    std::clog << "SS7/L2 [dpc=" << dpc_ << ", slc=" << slc_ << ", trunk=" << trunk_ << "]: change state from \""
              << state_name(state_) << "\" to \"" << state_name(s) << "\" on " << event_name(event_) << std::endl;
  // Every state but idle owns the one timer; leaving it cancels the timer.
  if (state_ != State::idle) timer_.reset();
  state_ = s;
  on_enter(s);
}

void SLC::arm(const TimerRecord& t) { timer_.set(t.ms, t.handler, this); }

void SLC::on_enter(State::type s) {
  switch (s) {
    case State::idle:
      reset();
      // Out of service is said on the line, where there is one.
      if (event_ != ev_channel_closed) lssu(sios);
      on_deactivate(Protocol_status(new Protocol_status_error(this, "impossible phasing")));
      break;
    case State::not_aligned:
      reset();
      arm(T2);
      lssu(sio);
      break;
    case State::aligned:
      arm(T3);
      if (traces_.timers) std::clog << ext::header(this) << "set T3" << std::endl;
      lssu(emergency_ ? sie : sin);
      break;
    case State::proving:
      // Q.703 7.3: the proving period follows the local emergency only.
      arm(emergency_ ? T4e : T4n);
      lssu(emergency_ ? sie : sin);
      if (traces_.timers) std::clog << ext::header(this) << "set T4" << std::endl;
      break;
    case State::aligned_ready:
      arm(T1);
      fisu();
      break;
    case State::worked:
      // No changeover here: what waited for the link is the controller's to
      // send again.
      if (!tb_.empty()) {
        std::cerr << ext::header(this) << "discard " << tb_.count() << " msu in TB" << std::endl;
        tb_.clear();
      }
      reset();
      fisu();
      process_tb();
      on_activate();
      break;
  }
}

void SLC::start(Packet&) {
  if (traces_.mtp_activate) std::clog << ext::header(this) << "local_activate: executing..." << std::endl;
  next_state(State::not_aligned);
}

void SLC::no_start(Packet&) {
  if (traces_.mtp_activate) std::clog << ext::header(this) << "local_activate: ignored." << std::endl;
  // A second activation of a link in service is answered again, so that the
  // owner's activation completes.
  if (state_ == State::worked) on_activate();
}

void SLC::stop(Packet&) { next_state(State::idle); }

void SLC::trunk_down(Packet&) {
  std::clog << ext::header(this) << " transport OFF by low level terminated" << std::endl;
  next_state(State::idle);
}

void SLC::channel_lost(Packet&) {
  std::clog << ext::header(this) << "channel closed" << std::endl;
  tb_.clear();
  next_state(State::idle);
}

void SLC::lssu_worked(Packet&) {
  // No processor outage or busy handling: any status in service ends it.
  std::cerr << ext::header(this) << "receive lssu: ";
  put_indication(std::cerr, rx_indication_);
  std::cerr << " ";
  put_unit(std::cerr);
  std::cerr << std::endl;
  next_state(State::idle);
}

void SLC::t1_expired(Packet&) {
  if (traces_.timers) std::clog << ext::header(this) << "T1 expired" << std::endl;
  next_state(State::idle);
}

void SLC::t2_expired(Packet&) {
  if (traces_.timers) std::clog << ext::header(this) << "T2 expired" << std::endl;
  next_state(State::idle);
}

void SLC::t3_expired(Packet&) {
  if (traces_.timers) std::clog << ext::header(this) << "T3 expired" << std::endl;
  next_state(State::idle);
}

void SLC::t4_expired(Packet&) {
  if (traces_.timers) std::clog << ext::header(this) << "T4 expired." << std::endl;
  next_state(State::aligned_ready);
}

void SLC::t7_expired(Packet&) {
  if (traces_.timers) std::clog << ext::header(this) << "T7 expired: " << rtb_count_ << " packets in RTB." << std::endl;
  next_state(State::idle);
}

// --- the owner's calls ---------------------------------------------------------

void SLC::local_prepare_head(Packet& p) { p.reserve_head(3); }

void SLC::local_prepare_tail(Packet& p) { p.reserve_tail(0); }

void SLC::local_activate() { dispatch(ev_activate); }

void SLC::local_deactivate() {
  if (traces_.mtp_activate) std::clog << ext::header(this) << "local_deactivate()" << std::endl;
  dispatch(ev_deactivate);
}

void SLC::message(Packet& p) {
  if (traces_.mtp_transmit) {
    std::clog << ext::header(this) << " mtp tx";
    put_octets(std::clog, p);
    std::clog << std::endl;
  }
  // Fewer than 3 octets would leave as a FISU or an LSSU, which the peer
  // takes for a status of this link and may go out of service for.
  if (p.length() < 3) {
    std::cerr << ext::header(this) << "msu of " << p.length() << " octet(s) refused: an msu has at least 3"
              << std::endl;
    return;
  }
  dispatch(ev_msu_from_above, p);
}

void SLC::channel_closed() { dispatch(ev_channel_closed); }

void SLC::OnTrunkHardStatus(bool up) {
  if (!up) dispatch(ev_trunk_down);
}

const SLC::Statistics& SLC::statistics() const {
  stats_.rtbSize = std::uint32_t(rtb_count_);
  return stats_;
}

bool SLC::CoutCongestion() {
  const std::uint32_t now = Mux::milliseconds();
  if (now - congestion_stamp_ <= 999) return true;
  congestion_stamp_ = now;
  return false;
}

bool SLC::send_msu(Packet& p) {
  if (p.length() < 3) {
    std::cerr << ext::header(this) << "fail to send msu (bad packet)" << std::endl;
    return false;
  }
  Packet copy = p;
  return send(copy);
}

void SLC::protocol_info(std::ostream& os) const { os << "MTP/L2"; }

void SLC::on_hdlc_error(HDLC::Notify::Cause::Type cause) {
  std::clog << ext::header(this) << "hdlc error [cause=" << int(cause) << "]" << std::endl;
}

void SLC::on_hdlc_ready() {
  std::clog << ext::header(this) << "hdlc ready" << std::endl;
  process_tb();
}

// --- units -----------------------------------------------------------------------

bool SLC::send(Packet& unit) {
  if (!transmitter_) {
    std::clog << ext::header(this) << "no HDLC interface attached!!!" << std::endl;
    return false;
  }
  // Q.703 2.3.3: LI is the payload length up to 62, and 63 for anything
  // longer.
  const unsigned len = unit.length();
  const unsigned li = len <= 62 ? len : 63;
  // A packet without room for the header gets a buffer that has it.
  if (unit.headroom() < 3) unit = unit.with_headroom(3);
  // The header goes into the unit's own head room and comes off again once
  // the channel has it: the RTB keeps MSUs without it, and the FISU buffer
  // serves again, without a buffer taken from the pool for each unit.
  unsigned char* h = unit.push(3);
  h[0] = static_cast<unsigned char>(bib_to_send_ << 7 | unsigned(bsn_to_send_));
  h[1] = static_cast<unsigned char>(fib_to_send_ << 7 | unsigned(fsn_sent_));
  h[2] = static_cast<unsigned char>(li);
  Packet wire = unit;
  const bool sent = transmitter_->hdlc_transmit(wire);
  if (!sent) {
    if (traces_.raw_transmit) std::clog << ext::header(this) << " tx full!" << std::endl;
  } else {
    if (traces_.raw_transmit) {
      std::clog << ext::header(this) << " tx raw";
      put_octets(std::clog, unit);
      std::clog << std::endl;
    }
    ++stats_.msuTxCount;
    stats_.octetsTx += unit.length();
  }
  wire = Packet();
  unit.pull(3);
  return sent;
}

void SLC::fisu() {
  if (fisu_.is_null()) prepare_head(fisu_);
  send(fisu_);
}

void SLC::lssu(Indication ind) {
  if (!transmitter_) return;
  // Q.703 11.1.2: LSSUs carry the reset sequence fields whatever the state.
  Packet p;
  p.reserve_tail(4);
  unsigned char* at = p.put(4);
  at[0] = 0xFF;
  at[1] = 0xFF;
  at[2] = 0x01;
  at[3] = static_cast<unsigned char>(ind);
  transmitter_->hdlc_transmit(p);
}

void SLC::receive(Packet& p) {
  if (traces_.raw_receive) {
    std::clog << ext::header(this) << " rx raw";
    put_octets(std::clog, p);
    std::clog << std::endl;
  }
  stats_.octetsRx += p.length();
  if (p.length() < 3) {
    std::cerr << ext::header(this) << "ignore packet, length too small " << p.text() << std::endl;
    return;
  }
  const unsigned char* h = p.data();
  rx_bsn_ = h[0] & 0x7F;
  rx_bib_ = h[0] >> 7;
  rx_fsn_ = h[1] & 0x7F;
  rx_fib_ = h[1] >> 7;
  rx_li_ = h[2];

  // Q.703 2.3.3: LI 63 stands for any payload of 63 octets or more. A
  // mismatch is repaired where it can be rather than discarding the unit.
  const unsigned payload = p.length() - 3;
  const unsigned l = payload > 63 ? 63 : payload;
  if (rx_li_ != l) {
    std::cerr << ext::header(this) << "invalid packet length,"
              << " expected = " << rx_li_ << ", received = " << payload << std::endl;
    if (l == 63) {
      std::cerr << ext::header(this) << "can't truncate signalling unit." << std::endl;
    } else if (rx_li_ < l) {
      p.cut(l - rx_li_);
      std::cerr << ext::header(this) << "truncate " << (l - rx_li_) << " octet(s) : " << p.text() << std::endl;
    }
  }
  p.pull(3);
  rx_li_ = p.length();
  ++stats_.msuRxCount;

  if (rx_li_ == 0) {
    dispatch(ev_fisu, p);
  } else if (rx_li_ <= 2) {
    rx_indication_ = p.data()[0];
    Event ev = ev_sios;  // and any status this link does not know
    if (rx_indication_ == sio)
      ev = ev_sio;
    else if (rx_indication_ == sin || rx_indication_ == sie)
      ev = ev_sin_sie;
    dispatch(ev, p);
  } else {
    dispatch(ev_msu, p);
  }
}

// --- basic error correction (Q.703 5) ----------------------------------------------

void SLC::reset() {
  clear_rtb();
  nack_pending_ = false;
  bad_bsn_seen_ = false;
  bad_fib_seen_ = false;
  bsn_to_send_ = 127;
  fsn_sent_ = 127;
  bib_to_send_ = 1;
  fib_to_send_ = 1;
}

void SLC::clear_rtb() {
  for (Seq f = first_unacked_; rtb_count_ > 0; ++f, --rtb_count_) rtb_[f] = Packet();
  first_unacked_ = 0;
  last_fsn_ = 127;
  rtb_count_ = 0;
}

void SLC::make_expected() {
  expected_.bsn = bsn_to_send_;
  expected_.bib = bib_to_send_;
  expected_.fib = fib_to_send_;
}

void SLC::msu_worked(Packet& msu) {
  make_expected();
  // Q.703 5.2.2 i): a unit already accepted (a retransmission overlapping
  // what arrived) is dropped, its acknowledgement fields unread.
  if (rx_fsn_ == expected_.bsn) {
    if (traces_.msu_processing)
      std::clog << ext::header(this) << "discard msu due to 5.2.2/i Q.702"
                << " fsnr=" << unsigned(rx_fsn_) << " fsnx=" << unsigned(expected_.bsn) << std::endl;
    return;
  }
  if (rx_fib_ == expected_.bib) {
    if (!expected_fib()) return;
    if (rx_fsn_ == expected_.bsn + Seq(1)) {
      ack();
      if (traces_.mtp_receive) {
        std::clog << ext::header(this) << " mtp rx";
        put_octets(std::clog, msu);
        std::clog << std::endl;
      }
      on_message(msu);
    } else {
      // Q.703 5.2.2 ii): a gap; ask for a retransmission.
      if (traces_.msu_processing)
        std::clog << ext::header(this) << "discard msu due to 5.2.2/ii Q.702"
                  << " fsnr=" << unsigned(rx_fsn_) << " fsnx=" << unsigned(expected_.bsn) << std::endl;
      nack();
    }
    return;
  }
  unexpected_fib();
}

void SLC::fisu_worked(Packet&) {
  make_expected();
  if (rx_fib_ != expected_.bib) {
    unexpected_fib();
    return;
  }
  if (!expected_fib()) return;
  // The FISU's FSN is the last MSU the peer sent: one not accepted here
  // was lost.
  if (rx_fsn_ != expected_.bsn) nack();
}

bool SLC::expected_fib() {
  nack_pending_ = false;
  bad_fib_seen_ = false;
  process_bsnr();
  // The acknowledgement may have been the second bad one in a row: the link
  // is out of service and nothing more of this unit is taken.
  return state_ == State::worked;
}

void SLC::unexpected_fib() {
  // Q.703 5.3.2: a FIB that differs is the start of a retransmission only
  // after a negative acknowledgement.
  if (nack_pending_) {
    process_bsnr();
  } else if (bad_fib_seen_) {
    if (traces_.msu_processing) {
      std::cerr << ext::header(this) << "bad start of a retransmission: ";
      put_unit(std::cerr);
      std::cerr << std::endl;
    }
    next_state(State::idle);
  } else {
    bad_fib_seen_ = true;
  }
}

void SLC::ack() {
  bsn_to_send_ = rx_fsn_;
  if (traces_.msu_processing) std::cerr << ext::header(this) << "ack!" << std::endl;
  fisu();
}

void SLC::nack() {
  bib_to_send_ ^= 1;
  expected_.bib ^= 1;
  nack_pending_ = true;
  fisu();
  ++stats_.badSeqCntr;
  if (traces_.msu_processing) std::cerr << ext::header(this) << "nack!" << std::endl;
}

void SLC::process_bsnr() {
  // Q.703 5.3.1: the BSN must acknowledge something between the last
  // acknowledged MSU and the last one sent.
  const Seq before_first = first_unacked_ - Seq(1);
  if (unsigned(last_fsn_ - before_first) < unsigned(rx_bsn_ - before_first)) {
    if (!bad_bsn_seen_) {
      bad_bsn_seen_ = true;
      return;
    }
    if (traces_.msu_processing) {
      std::cerr << ext::header(this) << "bad su acknowledgement received: ";
      put_unit(std::cerr);
      std::cerr << std::endl;
    }
    next_state(State::idle);
    return;
  }
  bad_bsn_seen_ = false;
  // Q.703 5.3.1: T7 runs from the last acknowledgement that freed an MSU.
  const bool freed = first_unacked_ != rx_bsn_ + Seq(1);
  if (freed) arm(T7);
  while (first_unacked_ != rx_bsn_ + Seq(1)) {
    rtb_[first_unacked_] = Packet();
    --rtb_count_;
    ++first_unacked_;
  }
  if (rtb_count_ == 0) timer_.reset();
  if (rx_bib_ != fib_to_send_)
    retransmit();
  else if (freed && !tb_.empty())
    process_tb();  // MSUs that waited for room in the RTB
}

void SLC::retransmit() {
  if (traces_.msu_processing)
    std::cerr << ext::header(this) << "retransmit"
              << " rtb=" << rtb_count_ << std::endl;
  ++stats_.repeatCntr;
  fsn_sent_ = first_unacked_ - Seq(1);
  fib_to_send_ = rx_bib_;
  // Newest first to the front of the TB, so that the oldest leaves first,
  // with the FSN it had.
  for (Seq f = last_fsn_; rtb_count_ > 0; --f, --rtb_count_) {
    tb_.append(rtb_[f]);
    rtb_[f] = Packet();
  }
  last_fsn_ = fsn_sent_;
  rtb_count_ = 0;
  process_tb();
}

void SLC::put_to_tb(Packet& msu) {
  if (tb_.count() >= kTbLimit) {
    ++stats_.overflowCntr;
    std::cerr << ext::header(this) << "no space in TB buffer,"
              << " TB=" << tb_.count() << " RTB=" << rtb_count_ << " ignoring msu: " << msu.text() << std::endl;
    return;
  }
  tb_.put(msu);
  process_tb();
}

void SLC::process_tb() {
  if (state_ != State::worked) return;
  if (tb_.empty()) {
    fisu();
    return;
  }
  Packet msu;
  while (rtb_count_ < std::int32_t(kRtbSize) && tb_.get(&msu)) {
    fsn_sent_ = last_fsn_ + Seq(1);
    if (!send(msu)) {
      // The MSU waits at the head of the TB for the channel; until it
      // leaves, the FISUs must not claim its FSN.
      tb_.append(msu);
      fsn_sent_ = last_fsn_;
      return;
    }
    last_fsn_ = fsn_sent_;
    rtb_[last_fsn_] = msu;
    if (++rtb_count_ == 1) arm(T7);
  }
}

}  // namespace SS7
