#include "hardware/tonec_receiver.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "platform/sysroot.h"
#include "runtime/test_clock.h"
#include "tests/sim_board_fixture.h"

namespace {

using hwtest::contains;
using hwtest::hasLine;

using Hardware::TonecReceiver;
using Hardware::TonecReceiverService;
namespace tc = Hardware::tonec;

// A protocol value written in value notation.
template <class T>
T value(const std::string& valueNotation) {
  T v;
  EXPECT_TRUE(v.setFromValueNotation(valueNotation)) << valueNotation;
  return v;
}

// A digit string of tone pairs, with the rest of the parameters as given.
LGCP::TranslateDtmfParams digits(const std::vector<std::pair<int, int>>& pairs, const std::string& rest = "") {
  std::string text = "{ digits { ";
  for (std::size_t i = 0; i < pairs.size(); ++i)
    text += (i ? ", " : "") + std::string("{ freq1 ") + std::to_string(pairs[i].first) + ", freq2 " +
            std::to_string(pairs[i].second) + " }";
  return value<LGCP::TranslateDtmfParams>(text + " }" + rest + " }");
}

// An owner of one timeslot that records what it is handed.
struct ToneUser : TonecReceiver {
  explicit ToneUser(unsigned timeslot) : ts(timeslot) {}
  void tonec_event(const Params& p) override {
    events.push_back(p);
    if (onEvent) onEvent();
  }
  unsigned tonec_timeslot() const override { return ts; }
  void tone_gen_complete() override { ++completions; }

  unsigned ts;
  std::vector<Params> events;
  int completions = 0;
  std::function<void()> onEvent;
};

class TonecReceiverTest : public hwtest::SimBoardTest {
 protected:
  void SetUp() override {
    hwtest::SimBoardTest::SetUp();
    ASSERT_TRUE(TonecReceiverService::instance().is_open());
    board().clear_journal();
  }

  static std::string dtmf() { return sysroot::dtmf; }
  static const sim::DtmfModel::Timeslot& slot(unsigned ts) { return sim::DtmfModel::state().timeslots[ts]; }
  // The generator requests of a timeslot: "at freq1 freq2 amp1 amp2".
  static std::vector<std::string> tones(unsigned ts) {
    std::vector<std::string> out;
    for (const auto& t : slot(ts).tones)
      out.push_back(std::to_string(t.at) + " " + std::to_string(t.freq1) + " " + std::to_string(t.freq2) + " " +
                    std::to_string(t.amp1) + " " + std::to_string(t.amp2));
    return out;
  }
  static std::string eventText(const char* head, std::uint32_t timestamp, unsigned ts, unsigned code,
                               std::uint32_t id) {
    return std::string(head) + " timestamp=" + std::to_string(timestamp) + " timeslot=" + std::to_string(ts) +
           " code=" + std::to_string(code) + " id=" + std::to_string(id);
  }
};

TEST_F(TonecReceiverTest, EnablingDtmfSendsOneEnableWithAFreshIdAndDisableTakesTheTimeslotByValue) {
  ToneUser a(5), b(6);
  ASSERT_TRUE(a.enableDTMF(true));
  const std::uint32_t id = a.dtmf_id();
  EXPECT_NE(id, 0u);
  EXPECT_TRUE(a.enableDTMF(true));  // already on: nothing sent
  ASSERT_TRUE(b.enableDTMF(true));
  EXPECT_EQ(b.dtmf_id(), id + 1);
  ASSERT_TRUE(a.disableDTMF());
  EXPECT_FALSE(a.dtmf_enabled());
  EXPECT_EQ(journal(), (std::vector<std::string>{
                           recLine(sysroot::dtmf, 0x40084203ul, tc::dtmf_enable{5, id}),
                           recLine(sysroot::dtmf, 0x40084203ul, tc::dtmf_enable{6, id + 1}),
                           valLine(sysroot::dtmf, 0x40044204ul, 5),
                       }));
  EXPECT_TRUE(contains(err(), "DTMF_ENABLE_DETECTOR done: timeslot=5 id=" + std::to_string(id) + "\n"));
  EXPECT_TRUE(contains(err(), "DTMF_DISABLE_DETECTOR done: timeslot=5\n"));
}

TEST_F(TonecReceiverTest, AnInjectedDigitReachesOnlyItsTimeslotsReceiver) {
  ToneUser a(5), b(6);
  ASSERT_TRUE(a.enableDTMF(true));
  ASSERT_TRUE(b.enableDTMF(true));
  command("dtmf 5 3 time 1234");
  ASSERT_TRUE(pump([&] { return a.events.size() == 1; }));
  settle();
  EXPECT_EQ(a.events.size(), 1u);
  EXPECT_EQ(a.events[0].code, 3u);
  EXPECT_EQ(a.events[0].timestamp, 1234u);
  EXPECT_TRUE(b.events.empty());
  EXPECT_TRUE(contains(log(), eventText("dtmf event: ", 1234, 5, 3, a.dtmf_id()) + "\n"));
}

TEST_F(TonecReceiverTest, SpuriousAndStaleIdsAndDisabledDetectorsAreLoggedAndIgnored) {
  ToneUser a(5);
  ASSERT_TRUE(a.enableDTMF(true));
  const std::uint32_t first = a.dtmf_id();
  command("dtmf 5 3 id " + std::to_string(first + 1000) + " time 7");
  ASSERT_TRUE(pump([&] { return contains(log(), "ignore spurious"); }));
  EXPECT_TRUE(contains(log(), eventText("ignore spurious dtmf event: ", 7, 5, 3, first + 1000) +
                                  " rid=" + std::to_string(first) + "\n"));

  ASSERT_TRUE(a.disableDTMF());
  clog_.take();
  command("dtmf 5 5 time 9");
  ASSERT_TRUE(pump([&] { return contains(log(), "ignore spurious"); }));
  EXPECT_TRUE(contains(log(), eventText("ignore spurious dtmf event (DTMF disabled): ", 9, 5, 5, a.dtmf_id())));
  EXPECT_TRUE(a.events.empty());
}

// DTMF and IVA detection are switched independently: each is really sent
// when the other is on, and either alone keeps the timeslot's events coming.
TEST_F(TonecReceiverTest, DtmfAndIvaDetectionKeepSeparateFlags) {
  ToneUser a(5);
  ASSERT_TRUE(a.enableIVA(true));
  EXPECT_TRUE(a.detector_enabled());
  ASSERT_TRUE(a.enableDTMF(true));
  const std::uint32_t id = a.dtmf_id();
  EXPECT_EQ(journal(), (std::vector<std::string>{
                           valLine(sysroot::dtmf, 0x4004420Bul, 5),
                           recLine(sysroot::dtmf, 0x40084203ul, tc::dtmf_enable{5, id}),
                       }));
  EXPECT_TRUE(contains(log(), "IVA_DETECTOR_ENABLE[5] ok\n"));

  ASSERT_TRUE(a.enableIVA(false));
  EXPECT_TRUE(a.dtmf_enabled());
  command("dtmf 5 1");
  ASSERT_TRUE(pump([&] { return a.events.size() == 1; }));

  ASSERT_TRUE(a.disableDTMF());
  command("dtmf 5 2");
  ASSERT_TRUE(pump([&] { return contains(log(), "(DTMF disabled)"); }));
  EXPECT_EQ(a.events.size(), 1u);

  // IVA alone: events carrying the receiver's id are taken.
  ASSERT_TRUE(a.enableIVA(true));
  EXPECT_FALSE(a.dtmf_enabled());
  command("dtmf 5 3");
  ASSERT_TRUE(pump([&] { return a.events.size() == 2; }));
  EXPECT_EQ(a.events[1].code, 3u);
}

TEST_F(TonecReceiverTest, OfTwoReceiversOnOneTimeslotTheOlderTakesTheEvents) {
  auto older = std::make_unique<ToneUser>(5);
  ToneUser newer(5);
  ASSERT_TRUE(older->enableDTMF(true));
  command("dtmf 5 8");
  ASSERT_TRUE(pump([&] { return older->events.size() == 1; }));
  EXPECT_TRUE(newer.events.empty());
  older.reset();
  ASSERT_TRUE(newer.enableDTMF(true));
  command("dtmf 5 9");
  ASSERT_TRUE(pump([&] { return newer.events.size() == 1; }));
}

TEST_F(TonecReceiverTest, ReceiversReleasedMidEventAreNotCalledAndShortRecordsEndThePass) {
  ToneUser a(5);
  auto* b = new ToneUser(6);
  auto* c = new ToneUser(7);
  ASSERT_TRUE(a.enableDTMF(true));
  ASSERT_TRUE(b->enableDTMF(true));
  ASSERT_TRUE(c->enableDTMF(true));
  bool bGone = false;
  a.onEvent = [&] {
    delete b;
    bGone = true;
  };
  c->onEvent = [&] { delete c; };  // an owner that goes on its own event
  // All four records wait in the device and are read in one pass.
  command("dtmf 5 1");
  command("dtmf 6 2");
  command("dtmf 7 3");
  command("dtmf 7 4");
  ASSERT_TRUE(pump([&] { return contains(err(), "unknown timeslot 7\n"); }));
  EXPECT_TRUE(bGone);
  EXPECT_EQ(a.events.size(), 1u);
  EXPECT_TRUE(contains(err(), "receive tonec event from unknown timeslot 6\n"));

  a.onEvent = nullptr;
  command("dtmf raw 01 02 03");
  command("dtmf 5 6");
  ASSERT_TRUE(pump([&] { return a.events.size() == 2; }));
  EXPECT_EQ(a.events[1].code, 6u);
  EXPECT_TRUE(contains(err(), "fail to read from tonec: incomplete record of 3 bytes\n"));
}

// "12": tone, pause, tone, pause of 70 ms each, then the generator off and
// one completion.
TEST_F(TonecReceiverTest, DiallingTwelvePlaysTwoDigitsWithTheirSpacingThenCompletesOnce) {
  Mux::TestClock clock(1000);
  ToneUser a(5), b(6);
  const auto one = Dtmf::tonesValidator.at('1');
  const auto two = Dtmf::tonesValidator.at('2');
  a.translateDTMF(digits({{one.first, one.second}, {two.first, two.second}}));
  EXPECT_TRUE(a.dialling());
  EXPECT_EQ(tones(5).size(), 1u);
  clock.advance(69);
  EXPECT_EQ(tones(5).size(), 1u);
  clock.advance(1);
  EXPECT_EQ(tones(5).size(), 2u);
  clock.advance(210);
  EXPECT_EQ(tones(5), (std::vector<std::string>{
                          "1000 697 1209 16384 16384",
                          "1070 1000 1000 0 0",
                          "1140 697 1336 16384 16384",
                          "1210 1000 1000 0 0",
                          "1280 0 0 0 0",
                      }));
  EXPECT_EQ(a.completions, 1);
  EXPECT_FALSE(a.dialling());
  clock.advance(5000);
  EXPECT_EQ(tones(5).size(), 5u);
  EXPECT_EQ(a.completions, 1);
  EXPECT_EQ(b.completions, 0);
  EXPECT_TRUE(tones(6).empty());
  EXPECT_EQ(journal().front(), recLine(sysroot::dtmf, 0x400C4205ul, tc::dtmf_dial{5, 697, 1209, 16384, 16384}));
}

TEST_F(TonecReceiverTest, DiallingTakesGivenLevelsAndDurationsAndANewStringReplacesTheRest) {
  Mux::TestClock clock(0);
  ToneUser a(5);
  a.translateDTMF(
      digits({{697, 1209}, {697, 1336}, {697, 1477}}, ", amp1 100, amp2 200, toneDuration 40, pauseDuration 20"));
  clock.advance(45);  // into the first pause
  a.translateDTMF(digits({{941, 1477}}));  // '#'
  EXPECT_EQ(tones(5).size(), 2u);  // nothing new until the pause ends
  clock.advance(1000);
  EXPECT_EQ(tones(5), (std::vector<std::string>{
                          "0 697 1209 100 200",
                          "40 1000 1000 0 0",
                          "60 941 1477 16384 16384",
                          "130 1000 1000 0 0",
                          "200 0 0 0 0",
                      }));
  EXPECT_EQ(a.completions, 1);

  // Nothing to dial: the generator off and the completion at once.
  a.translateDTMF(digits({}));
  EXPECT_EQ(a.completions, 2);
  EXPECT_EQ(tones(5).back(), "1045 0 0 0 0");
  EXPECT_FALSE(a.dialling());

  // Stopping a string: no completion, and the timer is gone.
  a.translateDTMF(digits({{697, 1209}, {697, 1336}, {697, 1477}}, ", amp1 100, amp2 200"));
  const std::size_t before = tones(5).size();
  EXPECT_TRUE(a.disableToneGenerator(false));
  EXPECT_FALSE(a.dialling());
  EXPECT_EQ(tones(5).size(), before + 1);
  EXPECT_TRUE(a.disableToneGenerator(false));  // not dialling, not forced: nothing
  clock.advance(1000);
  EXPECT_EQ(tones(5).size(), before + 1);
  EXPECT_EQ(a.completions, 2);
}

// An owner may go when it is told its string is out (from the tone timer).
TEST_F(TonecReceiverTest, AnOwnerMayGoInItsCompletion) {
  Mux::TestClock clock(0);
  struct Leaving : ToneUser {
    Leaving(unsigned ts, bool* gone) : ToneUser(ts), gone_(gone) {}
    void tone_gen_complete() override {
      *gone_ = true;
      delete this;
    }
    bool* gone_;
  };
  bool gone = false;
  auto* owner = new Leaving(5, &gone);
  owner->translateDTMF(digits({{852, 1477}}));
  clock.advance(140);
  EXPECT_TRUE(gone);
  EXPECT_EQ(tones(5).back(), "140 0 0 0 0");
}

TEST_F(TonecReceiverTest, WaitingToneCyclesUntilCancelledAndStaysOffAfterwards) {
  Mux::TestClock clock(0);
  ToneUser a(5);
  a.activateAudibleCall();
  clock.advance(1000);
  clock.advance(3000);
  clock.advance(500);
  EXPECT_EQ(tones(5), (std::vector<std::string>{
                          "0 425 0 2048 2048",
                          "1000 1000 1000 0 0",
                          "4000 425 0 2048 2048",
                      }));
  a.cancelAudibleCall();
  EXPECT_EQ(tones(5).back(), "4500 0 0 0 0");
  clock.advance(10000);
  EXPECT_EQ(tones(5).size(), 4u);

  // While a string is dialled, cancelling the waiting tone leaves it alone.
  a.translateDTMF(digits({{697, 1209}}));
  a.cancelAudibleCall();
  EXPECT_TRUE(a.dialling());
  clock.advance(200);
  EXPECT_EQ(a.completions, 1);

  // The cadence takes over from a string being dialled, which is dropped.
  a.translateDTMF(digits({{697, 1209}}));
  a.activateAudibleCall();
  EXPECT_FALSE(a.dialling());
  clock.advance(1000);
  EXPECT_EQ(tones(5).back(), "15700 1000 1000 0 0");
  EXPECT_EQ(a.completions, 1);
  a.cancelAudibleCall();
}

TEST_F(TonecReceiverTest, RefusedRequestsAreLoggedAndLeaveTheRememberedStateAlone) {
  ToneUser a(5);
  command("fail dtmf 40084203 EIO");
  command("fail dtmf 40044209 EBUSY");
  command("fail dtmf 40044207 ENODEV");
  command("fail dtmf 400C4205 EINVAL");
  EXPECT_FALSE(a.enableDTMF(true));
  EXPECT_FALSE(a.dtmf_enabled());
  EXPECT_TRUE(hasLine(err(), "DTMF_ENABLE_DETECTOR fail: timeslot=5 id=", " errno=\"Input/output error\""));
  EXPECT_EQ(a.dtmf_id(), 0u);
  EXPECT_FALSE(a.enableDTMFReject(true));
  EXPECT_FALSE(a.dtmf_reject_enabled());
  EXPECT_TRUE(contains(err(), "DTMF_REJECTION_ENABLE fail: timeslot=5 errno=\"Device or resource busy\"\n"));
  EXPECT_TRUE(a.echoCancel(true));
  EXPECT_TRUE(contains(log(), "CHANNEL_LMS_ON[5] ok\n"));
  EXPECT_FALSE(a.echoCancel(false));
  EXPECT_TRUE(contains(err(), "CHANNEL_LMS_OFF fail: timeslot=5 errno=\"No such device\"\n"));
  EXPECT_FALSE(a.enableSilence());
  EXPECT_TRUE(contains(err(), "DTMF_DIAL fail: timeslot=5 errno=\"Invalid argument\"\n"));
}

TEST_F(TonecReceiverTest, CleanBeforeDestroySwitchesOffDetectionAndRejection) {
  ToneUser a(5), idle(6);
  ASSERT_TRUE(a.enableDTMF(true));
  ASSERT_TRUE(a.enableIVA(true));
  ASSERT_TRUE(a.enableDTMFReject(true));
  board().clear_journal();
  idle.CleanBeforeDestroy();
  a.CleanBeforeDestroy();
  EXPECT_EQ(journal(), (std::vector<std::string>{
                           valLine(sysroot::dtmf, 0x40044204ul, 5),
                           valLine(sysroot::dtmf, 0x4004420Cul, 5),
                           valLine(sysroot::dtmf, 0x4004420Aul, 5),
                       }));
  EXPECT_TRUE(contains(log(), "IVA_DETECTOR_DISABLE[5] ok\n"));
  EXPECT_FALSE(slot(5).reject);
}

TEST_F(TonecReceiverTest, ConfigureRecordsAndSelcalSigns) {
  ToneUser a(5);
  ASSERT_TRUE(a.configureDTMF(
      value<LGCP::DTMFParams>("{ threshold { twist 1, ratio 2, noise 3 }, level { silence 4 } }")));
  EXPECT_TRUE(contains(log(), "DTMF_CONFIGURE_DETECTOR ts=5 twist=1 ratio=2 noise=3 silence=4\n"));
  ASSERT_TRUE(a.configureIVA(value<LGCP::IVAParams>("{ det_lvl_dB -30 }")));
  EXPECT_TRUE(contains(log(), "IVA_CONFIGURE_DETECTOR ts=5 det_lvl_dB=-30\n"));

  EXPECT_FALSE(a.translateSelcal(value<TERM::SelcalCommand>("{ signs \"ABC\" }")));
  EXPECT_TRUE(contains(err(), "SELCAL_DIAL fail: timeslot=5 incorect signs:ABC\n"));
  ASSERT_TRUE(a.translateSelcal(value<TERM::SelcalCommand>("{ signs \"PQRSTU\" }")));
  ASSERT_TRUE(a.translateSelcal(value<TERM::SelcalCommand>("{ amp 900, signs \"WXYZ\" }")));

  tc::selcal_dial s1{5, 12000, {'P', 'Q', 'R', 'S'}, 0};
  tc::selcal_dial s2{5, 900, {'W', 'X', 'Y', 'Z'}, 0};
  EXPECT_EQ(journal(), (std::vector<std::string>{
                           recLine(sysroot::dtmf, 0x40144202ul, tc::dtmf_detector_config{5, 1, 2, 4, 3}),
                           recLine(sysroot::dtmf, 0x4008420Dul, tc::iva_config{5, -30}),
                           recLine(sysroot::dtmf, 0x400C420Eul, s1),
                           recLine(sysroot::dtmf, 0x400C420Eul, s2),
                       }));
  EXPECT_EQ(command("dtmf state 5"),
            std::vector<std::string>{"ts=5 detector=off id=0 twist=1 ratio=2 silence=4 noise=3 lms=off reject=off "
                                     "iva=off iva_level=-30 selcal=WXYZ selcal_amp=900"});
}

TEST_F(TonecReceiverTest, WithoutTheDeviceRequestsFailAndConfigureRetriesTheOpen) {
  command("refuse-open dtmf ENOENT");
  {
    TonecReceiverService service;
    EXPECT_FALSE(service.is_open());
    EXPECT_TRUE(contains(err(), "open tonec fail, DTMF proceeding disabled: No such file or directory\n"));
    EXPECT_FALSE(service.configureDTMF(5, LGCP::DTMFParams()));
    EXPECT_TRUE(contains(err(), "configure DTMF fail: (interface not opened) timeslot=5\n"));
    EXPECT_FALSE(service.echoCancel(5, true));  // sent regardless, refused
    EXPECT_TRUE(hasLine(err(), "CHANNEL_LMS_ON fail: timeslot=5 errno=\"", "\""));
    const std::string refused = dtmf() + " rdonly|nonblock -> -1 ENOENT";
    EXPECT_EQ(journal(), (std::vector<std::string>{"open " + refused, "open " + refused}));

    command("refuse-open dtmf off");
    EXPECT_TRUE(service.configureDTMF(5, LGCP::DTMFParams()));
    EXPECT_TRUE(service.is_open());
    EXPECT_EQ(journal()[2], "open " + dtmf() + " rdonly|nonblock -> 0");
  }
  settle();  // the closed device leaves the board
  EXPECT_EQ(board().devices(sysroot::dtmf).size(), 1u);
}

// A tone processor that fails like a broken driver (readable and hung up,
// hung up alone, in error alone) is closed rather than polled for ever; the
// next configuration opens it again and the events flow.
TEST_F(TonecReceiverTest, DeviceThatFailsIsClosedAndOpenedAgainByTheNextConfiguration) {
  TonecReceiverService& service = TonecReceiverService::instance();
  ToneUser a(5);
  ASSERT_TRUE(a.enableDTMF(true));
  const std::pair<const char*, const char*> ways[] = {
      {"", "Broken pipe"}, {" hup", "Broken pipe"}, {" err", "Bad file descriptor"}};
  std::size_t digits = 0;
  for (const auto& way : ways) {
    SCOPED_TRACE(way.first);
    command(std::string("hang-up dtmf") + way.first);
    ASSERT_TRUE(pump([&] { return !service.is_open(); }));
    EXPECT_TRUE(contains(err(), std::string("fail to read from tonec: ") + way.second + "\n")) << err();
    ASSERT_TRUE(service.configureDTMF(5, LGCP::DTMFParams()));
    command("dtmf 5 " + std::to_string(++digits));
    ASSERT_TRUE(pump([&] { return a.events.size() == digits; }));
  }
}

// One low-group and one high-group tone per digit, no pair twice, in the
// keypad's order.
TEST(DtmfDigits, TheTableHoldsTheSixteenQ23Pairs) {
  using Tones = std::pair<unsigned short, unsigned short>;
  ASSERT_EQ(Dtmf::tonesValidator.size(), 16u);
  EXPECT_EQ(Dtmf::tonesValidator.at('5'), Tones(770, 1336));
  EXPECT_EQ(Dtmf::tonesValidator.at('D'), Tones(941, 1633));
  std::set<Tones> pairs;
  const std::set<unsigned short> low{697, 770, 852, 941}, high{1209, 1336, 1477, 1633};
  for (int i = 0; i < 16; ++i) {
    EXPECT_TRUE(low.count(Dtmf::freq1[i]) && high.count(Dtmf::freq2[i])) << Dtmf::strRep[i];
    pairs.insert({Dtmf::freq1[i], Dtmf::freq2[i]});
  }
  EXPECT_EQ(pairs.size(), 16u);
}

}  // namespace
