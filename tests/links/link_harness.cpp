#include "tests/links/link_harness.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <sstream>

#include "runtime/multiplexer.h"
#include "runtime/mux_clock.h"

namespace linktest {

Packet packet_of(const Bytes& b, unsigned headroom) {
  Packet p;
  p.reserve_head(headroom);
  if (!b.empty()) std::memcpy(p.put(static_cast<unsigned>(b.size())), b.data(), b.size());
  return p;
}

Bytes bytes_of(const Packet& p) {
  if (p.is_null() || p.length() == 0) return Bytes();
  return Bytes(p.data(), p.data() + p.length());
}

std::string hex(const Bytes& b) {
  static const char digits[] = "0123456789ABCDEF";
  std::string s;
  for (std::size_t i = 0; i < b.size(); ++i) {
    if (i) s += ' ';
    s += digits[b[i] >> 4];
    s += digits[b[i] & 15];
  }
  return s;
}

// ---------------------------------------------------------------- LinkEnd

LinkEnd::LinkEnd(LinkHarness& h, std::string name, bool outbound)
    : h_(h), name_(std::move(name)), outbound_(outbound) {}

void LinkEnd::bind(HDLC::Notify* notify) {
  notify_ = notify;
  receive_ = nullptr;
  ready_ = nullptr;
}

void LinkEnd::bind(std::function<void(Packet&)> receive, std::function<void()> ready) {
  notify_ = nullptr;
  receive_ = std::move(receive);
  ready_ = std::move(ready);
}

void LinkEnd::drop(std::initializer_list<unsigned> ordinals) { drops_.insert(ordinals.begin(), ordinals.end()); }

void LinkEnd::drop(const std::set<unsigned>& ordinals) { drops_.insert(ordinals.begin(), ordinals.end()); }

void LinkEnd::truncate(unsigned ordinal, unsigned length) { truncations_.emplace_back(ordinal, length); }

void LinkEnd::set_refusing(bool on) {
  refusing_ = on;
  if (!on && owesReady_) h_.owe_ready();
}

bool LinkEnd::hdlc_transmit(Packet& frame) {
  if (!open_) {
    ++refused_;
    return false;
  }
  if (refusing_ || refuseCount_ > 0) {
    ++refused_;
    owesReady_ = true;
    if (refuseCount_ > 0 && --refuseCount_ == 0 && !refusing_) h_.owe_ready();
    return false;
  }
  const unsigned ordinal = ++sent_;
  Bytes sent = bytes_of(frame);
  const std::size_t index =
      h_.log_.add(static_cast<std::uint64_t>(Mux::milliseconds()) * 1000u, name_, outbound_, sent);
  Bytes wire = sent;
  Fate fate = drops_.count(ordinal) ? Fate::dropped : Fate::delivered;
  for (const auto& t : truncations_)
    if (t.first == ordinal && t.second < wire.size()) {
      wire.resize(t.second);
      fate = Fate::truncated;
    }
  if (fate != Fate::dropped && filter_) {
    const Fate f = filter_(ordinal, wire);
    if (f == Fate::dropped)
      fate = f;
    else if (wire.size() < sent.size() && std::equal(wire.begin(), wire.end(), sent.begin()))
      fate = Fate::truncated;
    else if (wire != sent)
      fate = Fate::altered;
  }
  if (fate == Fate::dropped) wire.clear();
  h_.log_.settle(index, fate, wire);
  if (fate != Fate::dropped) h_.send(*this, std::move(wire), index);
  return true;
}

void LinkEnd::deliver(Packet& frame) {
  ++received_;
  if (notify_)
    notify_->on_hdlc_receive(frame);
  else if (receive_)
    receive_(frame);
}

void LinkEnd::ready() {
  owesReady_ = false;
  if (notify_)
    notify_->on_hdlc_ready();
  else if (ready_)
    ready_();
}

// -------------------------------------------------------- RecordingFamily

Packet RecordingFamily::payload(const Bytes& b) {
  Packet p;
  prepare_head(p);
  if (!b.empty()) std::memcpy(p.put(static_cast<unsigned>(b.size())), b.data(), b.size());
  return p;
}

void RecordingFamily::transmit(Packet& p) { end_.hdlc_transmit(p); }

void RecordingFamily::on_message(Packet& p) {
  received.push_back(bytes_of(p));
  if (on_received) on_received(received.back());
}

void RecordingFamily::on_activated(Protocol*) {
  ++activations;
  if (on_up) on_up();
}

namespace {
RecordingFamily::Report report_of(const Protocol_status& s) {
  std::ostringstream printed;
  s->out(printed);
  return RecordingFamily::Report{s->success(), s->message(), printed.str()};
}
}  // namespace

void RecordingFamily::on_deactivated(Protocol*, Protocol_status status) {
  deactivations.push_back(report_of(status));
  if (on_down) on_down(deactivations.back());
}

void RecordingFamily::on_status(Protocol_status status) { statuses.push_back(report_of(status)); }

// ------------------------------------------------------------ LinkHarness

LinkHarness::LinkHarness(std::uint16_t linkType, std::uint32_t startMs)
    : clock_(startMs), log_(linkType), a_(*this, "a", true), b_(*this, "b", false), familyA_(a_), familyB_(b_) {
  dpc_.Bind(this, &LinkHarness::OnDpc);
}

LinkHarness::~LinkHarness() {
  const char* dir = std::getenv("KORVEND_LINK_PCAP_DIR");
  if (!dir || !*dir || log_.frames().empty()) return;
  std::string name = pcapName_;
  if (name.empty()) {
    const ::testing::TestInfo* t = ::testing::UnitTest::GetInstance()->current_test_info();
    name = t ? std::string(t->test_suite_name()) + "." + t->name() : "link";
    for (char& c : name)
      if (c == '/') c = '_';
  }
  log_.write_pcapng(std::string(dir) + "/" + name + ".pcapng");
}

LinkEnd& LinkHarness::add_end(const std::string& name) {
  more_.push_back(std::make_unique<LinkEnd>(*this, name, b_.outbound()));
  return *more_.back();
}

std::vector<LinkEnd*> LinkHarness::ends() {
  std::vector<LinkEnd*> all{&a_, &b_};
  for (const auto& e : more_) all.push_back(e.get());
  return all;
}

void LinkHarness::send(LinkEnd& from, Bytes frame, std::size_t) {
  if (&from != &a_) {
    inFlight_.push_back(InFlight{&a_, std::move(frame)});
  } else {
    inFlight_.push_back(InFlight{&b_, frame});
    for (const auto& e : more_) inFlight_.push_back(InFlight{e.get(), frame});
  }
  dpc_.Activate();
}

// Delivers what was in flight when the run began; what the receivers send
// in answer waits for the next run, as it would on a line.
void LinkHarness::OnDpc() {
  std::size_t n = inFlight_.size();
  while (n-- > 0 && !inFlight_.empty()) {
    InFlight f = std::move(inFlight_.front());
    inFlight_.pop_front();
    Packet p = packet_of(f.frame);
    f.to->deliver(p);
  }
  if (readyOwed_) {
    readyOwed_ = false;
    const std::vector<LinkEnd*> all = ends();
    for (LinkEnd* e : all)
      if (e->owesReady_ && e->is_ready()) e->ready();
    // An end that refused again from inside its readiness owes another.
    for (LinkEnd* e : all)
      if (e->owesReady_ && e->is_ready()) readyOwed_ = true;
  }
  if (inFlight_.empty() && !readyOwed_) dpc_.Deactivate();
}

bool LinkHarness::busy() const {
  if (!inFlight_.empty() || readyOwed_) return true;
  for (const auto& pending : extraBusy_)
    if (pending()) return true;
  return false;
}

bool LinkHarness::settle(unsigned max_passes) {
  for (unsigned i = 0; i < max_passes && busy(); ++i) multiplexer.run_once(0);
  return !busy();
}

bool LinkHarness::advance(std::uint32_t ms) {
  const std::uint32_t target = clock_.now() + ms;
  for (;;) {
    if (!settle()) return false;
    std::uint32_t expiry;
    const std::int32_t left = static_cast<std::int32_t>(target - clock_.now());
    if (multiplexer.first_expiry(expiry)) {
      std::int32_t ahead = static_cast<std::int32_t>(expiry - clock_.now());
      if (ahead < 0) ahead = 0;
      if (ahead <= left) {
        clock_.advance(static_cast<std::uint32_t>(ahead));
        continue;
      }
    }
    if (left > 0) clock_.advance(static_cast<std::uint32_t>(left));
    return settle();
  }
}

}  // namespace linktest
