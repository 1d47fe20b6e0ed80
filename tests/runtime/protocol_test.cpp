#include "runtime/protocol.h"

#include <gtest/gtest.h>

#include <functional>
#include <sstream>
#include <string>
#include <vector>

namespace protocol_test {  // named: see "Unity builds" in tests/README.md

typedef std::vector<std::string> Trace;

std::string describe(const Protocol_status& s) {
  std::ostringstream os;
  os << (s->success() ? "ok " : "error ") << s->reporter()->name().name() << " ";
  s->out(os);
  return os.str();
}

// A layer that records every framework call it receives, pushes a header of
// its own name's first letter on the way down and pulls it on the way up.
class TraceLayer : public Protocol {
 public:
  TraceLayer(Trace* trace, const char* name, unsigned header = 1)
      : trace_(trace), name_(name), header_(header) {}
  ~TraceLayer() override { log("destroyed"); }

  bool compare_name(const Protocol_name& n) const override { return name_.compare(n); }
  const Protocol_name& name() const override { return name_; }

  void local_prepare_head(Packet& p) override {
    log("local_prepare_head");
    p.reserve_head(header_);
  }
  Protocol_status local_initialize() override {
    log("local_initialize");
    if (fail_init) return Protocol_status(new Protocol_status_error(this, "init failed"));
    return Protocol::local_initialize();
  }
  void local_activate() override {
    log("local_activate");
    if (!hold_activation) Protocol::local_activate();
  }
  void local_deactivate() override {
    log("local_deactivate");
    if (fail_deactivation)
      on_deactivate(Protocol_status(new Protocol_status_error(this, "link lost")));
    else
      Protocol::local_deactivate();
  }
  void on_deactivate(Protocol_status status) override {
    log("on_deactivate(" + describe(status) + ")");
    Protocol::on_deactivate(status);
  }
  void message(Packet& p) override {
    log("message " + p.text());
    for (unsigned i = 0; i < header_; ++i) p.push8(static_cast<unsigned char>(name_.name()[0]));
    transmit(p);
  }
  void receive(Packet& p) override {
    log("receive " + p.text());
    if (p.length() < header_) return;  // too short for our header: dropped
    p.pull(header_);
    on_message(p);
  }

  bool hold_activation = false;
  bool fail_deactivation = false;
  bool fail_init = false;

 private:
  void log(const std::string& what) {
    if (trace_) trace_->push_back(std::string(name_.name()) + "." + what);
  }

  Trace* trace_;
  Protocol_name_str name_;
  unsigned header_;
};

// The owner of a stack: records what leaves the stack and the notifications.
class TraceOwner : public ProtocolsList {
 public:
  explicit TraceOwner(Trace* trace) : trace_(trace) {}
  void on_activated(Protocol* top) override {
    trace_->push_back(std::string("owner.on_activated(") + top->name().name() + ")");
  }
  void on_deactivated(Protocol* p, Protocol_status status) override {
    trace_->push_back(std::string("owner.on_deactivated(") + p->name().name() + ", " +
                      describe(status) + ")");
  }
  void transmit(Packet& p) override { trace_->push_back("owner.transmit " + p.text()); }
  void on_message(Packet& p) override { trace_->push_back("owner.on_message " + p.text()); }
  void on_status(Protocol_status status) override {
    trace_->push_back("owner.on_status(" + describe(status) + ")");
  }

 private:
  Trace* trace_;
};

// A family whose top hands received payloads to its user, as a service does.
class TraceFamily : public ProtocolsFamily {
 public:
  TraceFamily(Trace* trace, const char* name) : trace_(trace), name_(name) {}
  const Protocol_name& name() const override { return name_; }
  bool compare_name(const Protocol_name& n) const override { return name_.compare(n); }
  void on_activate() override {
    trace_->push_back(std::string(name_.name()) + ".on_activate");
    ProtocolsFamily::on_activate();
  }

 private:
  Trace* trace_;
  Protocol_name_str name_;
};

// Three layers: bottom (1 header octet) | middle (2) | top (3).
struct Stack {
  Stack() : owner(&trace) {
    bottom = new TraceLayer(&trace, "bottom", 1);
    middle = new TraceLayer(&trace, "middle", 2);
    top = new TraceLayer(&trace, "top", 3);
    owner.add_protocol_tail(bottom);
    owner.add_protocol_tail(middle);
    owner.add_protocol_tail(top);
  }
  ~Stack() { trace.clear(); }

  Trace trace;
  TraceOwner owner;
  TraceLayer* bottom;
  TraceLayer* middle;
  TraceLayer* top;
};
struct ThreeLayers : ::testing::Test, Stack {};

TEST(ThreeLayersTest, CallsWalkTheStackInOrder) {
  const struct {
    const char* what;
    std::function<void(Stack&)> act;
    Trace expect;
  } cases[] = {
      {"activation starts at the bottom; the owner hears once, from the top",
       [](Stack& f) { f.middle->activate(); },
       {"bottom.local_activate", "middle.local_activate", "top.local_activate", "owner.on_activated(top)"}},
      {"a layer not up yet holds the ones above until it comes up",
       [](Stack& f) {
         f.middle->hold_activation = true;
         f.top->activate();
         f.trace.push_back("--");
         f.middle->on_activate();
       },
       {"bottom.local_activate", "middle.local_activate", "--", "top.local_activate",
        "owner.on_activated(top)"}},
      {"deactivation runs from the top; the bottom reports success",
       [](Stack& f) { f.top->deactivate(); },
       {"top.local_deactivate", "top.on_deactivate(ok top success)", "middle.local_deactivate",
        "middle.on_deactivate(ok middle success)", "bottom.local_deactivate",
        "bottom.on_deactivate(ok bottom success)", "owner.on_deactivated(bottom, ok bottom success)"}},
      {"a deactivation error climbs back without touching the bottom",
       [](Stack& f) {
         f.middle->fail_deactivation = true;
         f.top->deactivate();
       },
       {"top.local_deactivate", "top.on_deactivate(ok top success)", "middle.local_deactivate",
        "middle.on_deactivate(error middle link lost)", "top.on_deactivate(error middle link lost)",
        "owner.on_deactivated(top, error middle link lost)"}},
      {"status reports climb to the owner",
       [](Stack& f) {
         f.bottom->on_status(Protocol_status(new Protocol_status_error(f.bottom, "T200 expired")));
       },
       {"owner.on_status(error bottom T200 expired)"}},
      {"a destroyed layer leaves its list",
       [](Stack& f) {
         delete f.middle;
         f.trace.clear();
         f.top->activate();
       },
       {"bottom.local_activate", "top.local_activate", "owner.on_activated(top)"}},
  };
  for (const auto& c : cases) {
    Stack f;
    c.act(f);
    EXPECT_EQ(c.expect, f.trace) << c.what;
  }
}

TEST_F(ThreeLayers, InitialisationStopsAtTheFirstFailure) {
  Protocol_status ok = top->initialize();
  EXPECT_EQ("ok top success", describe(ok));
  EXPECT_EQ((Trace{"bottom.local_initialize", "middle.local_initialize", "top.local_initialize"}),
            trace);
  trace.clear();
  bottom->fail_init = true;
  EXPECT_EQ("error bottom init failed", describe(top->initialize()));
  EXPECT_EQ((Trace{"bottom.local_initialize"}), trace);
}

TEST_F(ThreeLayers, PacketsGoDownWithHeadersAndComeUpStripped) {
  Packet p;
  top->prepare_head(p);
  EXPECT_EQ(6u, p.headroom());
  p.put8(0xAA);
  trace.clear();

  top->message(p);
  EXPECT_EQ(0u, p.headroom());
  EXPECT_EQ((Trace{"top.message AA", "middle.message 74 74 74 AA",
                   "bottom.message 6D 6D 74 74 74 AA", "owner.transmit 62 6D 6D 74 74 74 AA"}),
            trace);

  trace.clear();
  bottom->receive(p);
  EXPECT_EQ((Trace{"bottom.receive 62 6D 6D 74 74 74 AA", "middle.receive 6D 6D 74 74 74 AA",
                   "top.receive 74 74 74 AA", "owner.on_message AA"}),
            trace);

  trace.clear();
  Packet short_frame;
  short_frame.reserve_head(0);
  short_frame.put8(1);
  bottom->receive(short_frame);
  EXPECT_EQ((Trace{"bottom.receive 01", "middle.receive "}), trace);
}

TEST_F(ThreeLayers, SearchFindsTheLowestMatchByExactName) {
  owner.add_protocol_tail(new TraceLayer(&trace, "middle"));
  EXPECT_EQ(middle, owner.search(Protocol_name_str("middle")));
  EXPECT_EQ(nullptr, owner.search(Protocol_name_str("mid")));
  EXPECT_EQ(nullptr, owner.search(Protocol_name_str("middle ")));
  EXPECT_EQ(nullptr, owner.search(Protocol_name_null()));
}

TEST(ProtocolsListTest, DestroyingAListDeletesItsLayersFromTheTop) {
  Trace trace;
  {
    ProtocolsList list;
    list.add_protocol_tail(new TraceLayer(&trace, "b"));
    list.add_protocol_tail(new TraceLayer(&trace, "c"));
    list.add_protocol_head(new TraceLayer(&trace, "a"));
  }
  EXPECT_EQ((Trace{"c.destroyed", "b.destroyed", "a.destroyed"}), trace);
}

TEST(ProtocolsListTest, ALayerAloneDropsWhatHasNowhereToGo) {
  Trace trace;
  TraceLayer alone(&trace, "alone");
  Packet p;
  alone.prepare_head(p);
  p.put8(1);
  alone.message(p);
  alone.receive(p);
  alone.activate();
  alone.deactivate();
  alone.on_status(Protocol_status(new Protocol_status_success(&alone, "fine")));
  EXPECT_EQ((Trace{"alone.local_prepare_head", "alone.message 01", "alone.receive 61 01",
                   "alone.local_activate", "alone.local_deactivate",
                   "alone.on_deactivate(ok alone success)"}),
            trace);
}

// A family nested in an outer list: wire | family{low, up} | app.
struct NestedFamily : ::testing::Test {
  NestedFamily() : owner(&trace) {
    wire = new TraceLayer(&trace, "wire", 1);
    family = new TraceFamily(&trace, "family");
    inner_low = new TraceLayer(&trace, "low", 1);
    inner_up = new TraceLayer(&trace, "up", 2);
    app = new TraceLayer(&trace, "app", 1);
    family->add_protocol_tail(inner_low);
    family->add_protocol_tail(inner_up);
    owner.add_protocol_tail(wire);
    owner.add_protocol_tail(family);
    owner.add_protocol_tail(app);
  }
  ~NestedFamily() override { trace.clear(); }

  Trace trace;
  TraceOwner owner;
  TraceLayer* wire;
  TraceFamily* family;
  TraceLayer* inner_low;
  TraceLayer* inner_up;
  TraceLayer* app;
};

TEST_F(NestedFamily, AFamilyActsAsOneLayerOfTheOuterList) {
  app->activate();
  EXPECT_EQ((Trace{"wire.local_activate", "low.local_activate", "up.local_activate",
                   "family.on_activate", "app.local_activate", "owner.on_activated(app)"}),
            trace);
  trace.clear();
  inner_up->fail_init = true;
  EXPECT_EQ("error up init failed", describe(app->initialize()));
  EXPECT_EQ((Trace{"wire.local_initialize", "low.local_initialize", "up.local_initialize"}),
            trace);
}

TEST_F(NestedFamily, DeactivationCrossesTheFamilyAndAnErrorInsideClimbsOn) {
  app->deactivate();
  EXPECT_EQ((Trace{"app.local_deactivate", "app.on_deactivate(ok app success)",
                   "up.local_deactivate", "up.on_deactivate(ok up success)",
                   "low.local_deactivate", "low.on_deactivate(ok low success)",
                   "wire.local_deactivate", "wire.on_deactivate(ok wire success)",
                   "owner.on_deactivated(wire, ok wire success)"}),
            trace);
  trace.clear();
  inner_low->fail_deactivation = true;
  app->deactivate();
  EXPECT_EQ((Trace{"app.local_deactivate", "app.on_deactivate(ok app success)",
                   "up.local_deactivate", "up.on_deactivate(ok up success)",
                   "low.local_deactivate", "low.on_deactivate(error low link lost)",
                   "up.on_deactivate(error low link lost)",
                   "app.on_deactivate(error low link lost)",
                   "owner.on_deactivated(app, error low link lost)"}),
            trace);
}

TEST_F(NestedFamily, PacketsCrossTheFamilyBothWays) {
  Packet p;
  app->prepare_head(p);
  // The family reserves its inner layers' room, after the outer layers below.
  EXPECT_EQ((Trace{"wire.local_prepare_head", "low.local_prepare_head", "up.local_prepare_head",
                   "app.local_prepare_head"}),
            trace);
  EXPECT_EQ(5u, p.headroom());
  p.put8(0x01);
  trace.clear();

  app->message(p);
  EXPECT_EQ((Trace{"app.message 01", "up.message 61 01", "low.message 75 75 61 01",
                   "wire.message 6C 75 75 61 01", "owner.transmit 77 6C 75 75 61 01"}),
            trace);
  trace.clear();
  wire->receive(p);
  EXPECT_EQ((Trace{"wire.receive 77 6C 75 75 61 01", "low.receive 6C 75 75 61 01",
                   "up.receive 75 75 61 01", "app.receive 61 01", "owner.on_message 01"}),
            trace);

  // The inner bottom transmits into the outer layer below.
  trace.clear();
  Packet q;
  q.reserve_head(1);
  q.put8(0x42);
  inner_low->transmit(q);
  EXPECT_EQ((Trace{"wire.message 42", "owner.transmit 77 42"}), trace);
}

TEST(ProtocolsFamilyTest, AnEmptyFamilyFailsToInitialiseAndPassesNothing) {
  Trace trace;
  TraceOwner owner(&trace);
  TraceFamily* family = new TraceFamily(&trace, "empty");
  owner.add_protocol_tail(family);

  Protocol_status s = family->initialize();
  EXPECT_EQ("error empty error", describe(s));
  EXPECT_NE(nullptr, dynamic_cast<Protocol_initialize_error*>(s.get()));

  Packet p;
  p.reserve_head(0);
  p.put8(1);
  family->message(p);
  family->receive(p);
  family->activate();
  family->deactivate();
  EXPECT_TRUE(trace.empty());
  EXPECT_EQ("01", p.text());
}

}  // namespace protocol_test
