#include "hardware/dsproc_receiver.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "platform/sysroot.h"
#include "runtime/traces.h"
#include "tests/sim_board_fixture.h"

namespace {

using hwtest::contains;
using hwtest::hasLine;

using Hardware::DSProcReceiver;
using Hardware::DSProcReceiverService;
namespace dp = Hardware::dsproc;

// An owner of one timeslot that records what it is handed.
struct DspUser : DSProcReceiver {
  explicit DspUser(unsigned timeslot) : ts(timeslot) {}
  void dsproc_vad_event(const Hardware::DSProcVADEvent& e) override {
    vad.push_back(e);
    if (onEvent) onEvent();
  }
  void dsproc_bss_event(const ::dsproc_bss_event* e) override {
    bss.push_back(e->score);
    if (onEvent) onEvent();
  }
  void dsproc_sd_event(const Hardware::DSProcSDEvent& e) override {
    sd.push_back(e.value);
    if (onEvent) onEvent();
  }
  void dsproc_tone_flt_event(const ::dsproc_tone_event* e) override {
    tone.push_back(*e);
    if (onEvent) onEvent();
  }
  void dsproc_flags_event(const ::dsproc_flags_event* e) override {
    flags.push_back(*e);
    if (onEvent) onEvent();
  }
  unsigned dsproc_timeslot() const override { return ts; }
  std::size_t count() const { return vad.size() + bss.size() + sd.size() + tone.size() + flags.size(); }

  unsigned ts;
  std::vector<Hardware::DSProcVADEvent> vad;
  std::vector<float> bss;
  std::vector<std::int32_t> sd;
  std::vector<::dsproc_tone_event> tone;
  std::vector<::dsproc_flags_event> flags;
  std::function<void()> onEvent;
};

class DSProcReceiverTest : public hwtest::SimBoardTest {
 protected:
  void SetUp() override {
    hwtest::SimBoardTest::SetUp();
    ASSERT_TRUE(DSProcReceiverService::instance().is_open());
    board().clear_journal();
    traces.signalling_events = true;
  }
  void TearDown() override {
    traces.signalling_events = false;
    hwtest::SimBoardTest::TearDown();
  }

  static std::string enableLine(unsigned ts, std::uint32_t id, std::uint32_t mask) {
    return recLine(sysroot::dsp, 0x400C6402ul, dp::dsproc_feature{ts, id, mask});
  }
  static std::string disableLine(unsigned ts, std::uint32_t mask) {
    return recLine(sysroot::dsp, 0x400C6403ul, dp::dsproc_feature{ts, 0, mask});
  }
  static std::string configureLine(const dp::dsproc_configure& rec) {
    return recLine(sysroot::dsp, 0x40146401ul, rec);
  }
  static dp::dsproc_configure configureRec(unsigned ts, std::uint32_t kind) {
    dp::dsproc_configure rec{};
    rec.timeslot = ts;
    rec.kind = kind;
    return rec;
  }
};

TEST_F(DSProcReceiverTest, EnablingVadSendsItsMaskWithAFreshIdOnceAndAVadEventReachesItsReceiver) {
  DspUser a(5), b(6);
  ASSERT_TRUE(b.enableVAD(true));
  const std::uint32_t id = b.id(DSProcReceiverService::VAD);
  EXPECT_EQ(b.state(DSProcReceiverService::VAD), 1);
  EXPECT_TRUE(b.enableVAD(true));
  EXPECT_EQ(journal(), std::vector<std::string>{enableLine(6, id, 0x1)});
  EXPECT_TRUE(contains(err(), "DSPROC_ENABLE VAD done: timeslot=6 id=" + std::to_string(id) + "\n"));

  // Direction mask 2: only the transmit value is carried.
  command("dsp 6 vad 2 0 1");
  ASSERT_TRUE(pump([&] { return b.vad.size() == 1; }));
  EXPECT_EQ(b.vad[0].rx, -1);
  EXPECT_EQ(b.vad[0].tx, 1);
  command("dsp 6 vad 1 7 8");
  command("dsp 6 vad 3 -4 9");
  ASSERT_TRUE(pump([&] { return b.vad.size() == 3; }));
  EXPECT_EQ(b.vad[1].rx, 7);
  EXPECT_EQ(b.vad[1].tx, -1);
  EXPECT_EQ(b.vad[2].rx, -4);
  EXPECT_EQ(b.vad[2].tx, 9);
  EXPECT_EQ(a.count(), 0u);
  EXPECT_TRUE(contains(log(), "dsproc event:  timeslot=6 id=" + std::to_string(id) + " type=1\n"));
  EXPECT_TRUE(contains(log(), "dsproc vad event:  dir_mask=2 vad_rx=0 vad_tx=1\n"));
}

TEST_F(DSProcReceiverTest, VadAndSdEventsNeedTheFeatureOnAndTheirId) {
  DspUser a(5);
  // Never switched: the first disable of VAD and SD is sent, of BSS not.
  ASSERT_TRUE(a.disableVAD());
  ASSERT_TRUE(a.disableSD());
  ASSERT_TRUE(a.disableBSS());
  EXPECT_EQ(journal(), (std::vector<std::string>{disableLine(5, 0x1), disableLine(5, 0x2)}));
  EXPECT_TRUE(contains(err(), "DSPROC_DISABLE VAD done: timeslot=5\n"));

  command("dsp 5 vad 3 1 1 id 0");
  ASSERT_TRUE(pump([&] { return contains(log(), "ignore spurious dsproc vad event (dsproc disabled): "); }));
  EXPECT_TRUE(contains(log(), "ignore spurious dsproc vad event (dsproc disabled):  timeslot=5 id=0 type=1\n"));

  ASSERT_TRUE(a.enableVAD(true));
  ASSERT_TRUE(a.enableSD(true));
  const std::uint32_t vadId = a.id(DSProcReceiverService::VAD);
  const std::uint32_t sdId = a.id(DSProcReceiverService::SD);
  EXPECT_EQ(sdId, vadId + 1);
  command("dsp 5 vad 3 1 1 id " + std::to_string(sdId));  // a stale id for VAD
  command("dsp 5 sd 4 id " + std::to_string(vadId));      // and for SD
  command("dsp 5 sd 12");
  ASSERT_TRUE(pump([&] { return a.sd.size() == 1; }));
  settle();
  EXPECT_TRUE(a.vad.empty());
  EXPECT_EQ(a.sd, std::vector<std::int32_t>{12});
  EXPECT_TRUE(contains(log(), "ignore spurious dsproc vad event:  timeslot=5 id=" + std::to_string(sdId) +
                                  " type=1 rid=" + std::to_string(vadId) + "\n"));
  EXPECT_TRUE(contains(log(), "dsproc sd event:  sd_rx=4\n"));

  ASSERT_TRUE(a.disableSD());
  command("dsp 5 sd 13 id " + std::to_string(sdId));
  command("dsp 5 vad 1 5 0");
  ASSERT_TRUE(pump([&] { return a.vad.size() == 1; }));
  EXPECT_EQ(a.sd.size(), 1u);
}

TEST_F(DSProcReceiverTest, BssIsCheckedByStateOnlyWhileToneAndFlagsEventsAlwaysPass) {
  DspUser a(5);
  command("dsp 5 bss 0.5");
  command("dsp 5 flags 0x30 0xF0");
  command("dsp 5 tone 1000 1");
  ASSERT_TRUE(pump([&] { return a.tone.size() == 1; }));
  EXPECT_TRUE(a.bss.empty());
  EXPECT_TRUE(contains(log(), "ignore spurious dsproc bss event (dsproc disabled):  timeslot=5 id=0 type=16\n"));
  ASSERT_EQ(a.flags.size(), 1u);
  EXPECT_EQ(a.flags[0].flags, 0x30u);
  EXPECT_EQ(a.flags[0].mask, 0xF0u);
  EXPECT_TRUE(contains(log(), "dsproc flags event:  flags=30, mask=f0\n"));
  EXPECT_EQ(a.tone[0].frequency, 1000u);
  EXPECT_EQ(a.tone[0].presence, 1u);

  ASSERT_TRUE(a.enableBSS(true));
  command("dsp 5 bss 0.75 id " + std::to_string(a.id(DSProcReceiverService::BSS) + 100));  // stale: still taken
  ASSERT_TRUE(pump([&] { return a.bss.size() == 1; }));
  EXPECT_FLOAT_EQ(a.bss[0], 0.75f);
  EXPECT_TRUE(contains(log(), "dsproc bss event:  score=0.75\n"));
}

TEST_F(DSProcReceiverTest, TraceLinesOnlyUnderTheSwitch) {
  DspUser a(5);
  traces.signalling_events = false;
  ASSERT_TRUE(a.enableVAD(true));
  ASSERT_TRUE(a.disableVAD());
  command("dsp 5 vad 1 1 1");
  command("dsp 9 flags 1 1");
  command("dsp 5 tone 1 1");
  ASSERT_TRUE(pump([&] { return a.tone.size() == 1; }));
  EXPECT_EQ(log(), "");
  EXPECT_FALSE(contains(err(), "unknown timeslot"));
  traces.signalling_events = true;
  command("dsp 9 flags 1 1");
  ASSERT_TRUE(pump([&] { return contains(err(), "receive dsproc event from unknown timeslot 9\n"); }));
}

TEST_F(DSProcReceiverTest, SelcalShNgAndMuteSwitchWithTheirBits) {
  DspUser a(5);
  ASSERT_TRUE(a.enableSelcalSh(true));
  const std::uint32_t id = a.id(DSProcReceiverService::SELCAL_SH);
  ASSERT_TRUE(a.disableSelcalSh());
  EXPECT_EQ(a.state(DSProcReceiverService::SELCAL_SH), 0);
  ASSERT_TRUE(a.enableNG(true));
  EXPECT_EQ(journal(), (std::vector<std::string>{enableLine(5, id, 0x400), disableLine(5, 0x400),
                                                 enableLine(5, id + 1, 0x80)}));
  EXPECT_TRUE(contains(err(), "DSPROC_DISABLE SELCAL_SH done: timeslot=5\n"));
  EXPECT_TRUE(contains(err(), "DSPROC_ENABLE NG done: timeslot=5 id=" + std::to_string(id + 1) + "\n"));

  // Mute: sent once per change; off clears both directions.
  board().clear_journal();
  ASSERT_TRUE(a.enableMute(true, false));
  ASSERT_TRUE(a.enableMute(true, false));
  ASSERT_TRUE(a.enableMute(true, true));
  ASSERT_TRUE(a.disableMute());
  EXPECT_EQ(a.tx_mute(), 0);
  ASSERT_TRUE(a.disableMute());
  EXPECT_EQ(journal(), (std::vector<std::string>{enableLine(5, id + 2, 0x4), enableLine(5, id + 3, 0xC),
                                                 disableLine(5, 0xC)}));
  EXPECT_TRUE(contains(err(), "DSPROC_ENABLE MUTE done: timeslot=5 id=" + std::to_string(id + 2) + "\n"));
}

TEST_F(DSProcReceiverTest, VadConfigurationFollowsTheDriversParameterVersion) {
  DspUser a(5);
  LGCP::VADParams v1, v2;
  ASSERT_TRUE(v1.setFromValueNotation("v1 : NULL"));
  ASSERT_TRUE(v2.setFromValueNotation("v2 : { voice-th-msec 300, silence-th-msec 700, e-th-dB 40 }"));

  EXPECT_FALSE(a.configureVAD(v1));
  EXPECT_TRUE(contains(err(), "DSPROC_CONFIGURE VAD: params not specified for v2:  timeslot=5\n"));
  ASSERT_TRUE(a.configureVAD(v2));
  EXPECT_TRUE(contains(log(), "DSPROC_CONFIGURE VAD ts=5\n"));
  dp::dsproc_configure version2 = configureRec(5, dp::KIND_VAD);
  version2.params.vad_v2.voice_th_msec = 300;
  version2.params.vad_v2.silence_th_msec = 700;
  version2.params.vad_v2.e_th_dB = 40;

  command("dsp version 1");
  ASSERT_TRUE(a.configureVAD(v1));
  dp::dsproc_configure fixed = configureRec(5, dp::KIND_VAD);
  fixed.params.vad_fixed.word1 = 3;
  fixed.params.vad_fixed.word2 = 127;
  const std::string version = valLine(sysroot::dsp, 0x40046404ul, 0, "2");
  EXPECT_EQ(journal(), (std::vector<std::string>{version, version, configureLine(version2),
                                                 valLine(sysroot::dsp, 0x40046404ul, 0, "1"),
                                                 configureLine(fixed)}));
  EXPECT_EQ(command("dsp state 5"), std::vector<std::string>{"ts=5 enabled=0x0 vad=3,127"});
}

TEST_F(DSProcReceiverTest, ConfigureRecordsOfSdDelaysGainAndToneFilters) {
  DspUser a(5);
  ASSERT_TRUE(a.configureSD());
  ASSERT_TRUE(a.configureDelays(10, 20, 30));
  ASSERT_TRUE(a.configureRxGain(-6));
  ASSERT_TRUE(a.configureToneFilter(2100, 1, 250, -35));
  dp::dsproc_configure delays = configureRec(5, dp::KIND_DELAYS);
  delays.params.delays = dp::delay_params{10, 20, 30};
  dp::dsproc_configure gain = configureRec(5, dp::KIND_RX_GAIN);
  gain.params.rx_gain.gain_dB = -6;
  dp::dsproc_configure filter = configureRec(5, dp::KIND_TONE_FILTER);
  filter.params.tone_filter.freq = 2100;
  filter.params.tone_filter.enable = 1;
  filter.params.tone_filter.dur_th_msec = 250;
  filter.params.tone_filter.det_lvl_dB = -35;
  EXPECT_EQ(journal(), (std::vector<std::string>{configureLine(configureRec(5, dp::KIND_SD)), configureLine(delays),
                                                 configureLine(gain), configureLine(filter)}));
  EXPECT_TRUE(contains(log(), "DSPROC_CONFIGURE SD ts=5\n"));
  EXPECT_TRUE(contains(log(), "DSPROC_CONFIGURE DELAYS ts=5 rx=10 tx=20 selcal=30\n"));
  EXPECT_TRUE(contains(log(), "DSPROC_CONFIGURE RX GAIN ts=5 gain_dB=-6\n"));
  EXPECT_TRUE(contains(log(), "DSPROC_CONFIGURE TONE FILTER ts=5 freq=2100, en=1, dur_th_msec=250, det_lvl_dB=-35\n"));
  EXPECT_EQ(command("dsp state 5"),
            std::vector<std::string>{"ts=5 enabled=0x0 sd=configured delays=10,20,30 gain=-6 filter=2100:1:250:-35"});
}

TEST_F(DSProcReceiverTest, CleanBeforeDestroyUndoesWhatWasSetAndAlwaysSwitchesTheToneFiltersOff) {
  DspUser a(5), idle(6);
  ASSERT_TRUE(a.enableVAD(true));
  ASSERT_TRUE(a.enableBSS(true));
  ASSERT_TRUE(a.enableNG(true));
  ASSERT_TRUE(a.enableSelcalSh(true));
  ASSERT_TRUE(a.enableSD(true));
  ASSERT_TRUE(a.enableMute(true, true));
  ASSERT_TRUE(a.configureDelays(0, 5, 0));
  ASSERT_TRUE(a.configureRxGain(3));
  board().clear_journal();
  idle.CleanBeforeDestroy();
  a.CleanBeforeDestroy();
  dp::dsproc_configure zeroDelays = configureRec(5, dp::KIND_DELAYS);
  dp::dsproc_configure zeroGain = configureRec(5, dp::KIND_RX_GAIN);
  EXPECT_EQ(journal(), (std::vector<std::string>{
                           disableLine(6, 0x100),
                           disableLine(5, 0x1),
                           disableLine(5, 0x10),
                           disableLine(5, 0x80),
                           disableLine(5, 0x400),
                           configureLine(zeroDelays),
                           configureLine(zeroGain),
                           disableLine(5, 0x100),
                       }));
  EXPECT_TRUE(contains(log(), "DISABLE ALL TONE done:  timeslot=5\n"));
  EXPECT_FALSE(a.delays_set());
  EXPECT_FALSE(a.rx_gain_set());
  EXPECT_EQ(a.state(DSProcReceiverService::SD), 1);  // left as it is, like mute
  EXPECT_EQ(a.rx_mute(), 1);
}

TEST_F(DSProcReceiverTest, RefusedRequestsAreLoggedAndLeaveTheStateAlone) {
  DspUser a(5);
  command("fail dsp 400C6402 EIO");
  command("fail dsp 40146401 EINVAL");
  EXPECT_FALSE(a.enableVAD(true));
  EXPECT_EQ(a.state(DSProcReceiverService::VAD), -1);
  EXPECT_TRUE(hasLine(err(), "DSPROC_ENABLE VAD fail: timeslot=5 id=", " errno=\"Input/output error\""));
  EXPECT_FALSE(a.enableMute(false, true));
  EXPECT_EQ(a.tx_mute(), -1);
  EXPECT_FALSE(a.configureDelays(1, 2, 3));
  EXPECT_FALSE(a.delays_set());
  EXPECT_TRUE(contains(err(), "DSPROC_CONFIGURE DELAYS fail: timeslot=5 errno=\"Invalid argument\"\n"));
  EXPECT_FALSE(a.configureRxGain(2));
  EXPECT_TRUE(contains(err(), "DSPROC_CONFIGURE Rx Gain fail: timeslot=5 errno=\"Invalid argument\"\n"));
  EXPECT_FALSE(a.configureToneFilter(1, 1, 1, 1));
  EXPECT_TRUE(contains(err(), "DSPROC_CONFIGURE Tone Filter fail: timeslot=5 errno=\"Invalid argument\"\n"));
  command("fail dsp 400C6403 EBUSY");
  EXPECT_FALSE(a.disableToneAll());
  EXPECT_TRUE(contains(err(), "Disable All Tone fail: timeslot=5 errno=\"Device or resource busy\"\n"));
  EXPECT_TRUE(sim::DspModel::state().timeslots[5].enabled == 0);
}

TEST_F(DSProcReceiverTest, WithoutTheDeviceConfigureRetriesTheOpen) {
  command("refuse-open dsp ENODEV");
  {
    DSProcReceiverService service;
    EXPECT_FALSE(service.is_open());
    EXPECT_TRUE(contains(err(), "open dsproc fail, VAD proceeding disabled: No such device\n"));
    const std::pair<std::function<bool()>, const char*> refused[] = {
        {[&] { return service.configureSD(5); }, "configure SD"},
        {[&] { return service.configureVAD(5, LGCP::VADParams()); }, "configure VAD"},
        {[&] { return service.configureDelays(5, 0, 0, 0); }, "configure Delays"},
        {[&] { return service.configureRxGain(5, 0); }, "Configure Rx gain"},
        {[&] { return service.configureToneFilter(5, 0, 0, 0, 0); }, "Configure Tone Filter"},
        {[&] { return service.disableToneAll(5); }, "Disable All Tone"}};
    for (const auto& r : refused) {
      EXPECT_FALSE(r.first()) << r.second;
      EXPECT_TRUE(contains(err(), std::string(r.second) + " fail: (interface not opened) timeslot=5\n")) << r.second;
    }
    EXPECT_EQ(journal().size(), 7u);
    EXPECT_EQ(journal().back(), "open " + std::string(sysroot::dsp) + " rdwr|nonblock -> -1 ENODEV");
    command("refuse-open dsp off");
    EXPECT_TRUE(service.configureSD(5));
    EXPECT_TRUE(service.is_open());
  }
  settle();
  EXPECT_EQ(board().devices(sysroot::dsp).size(), 1u);
}

TEST_F(DSProcReceiverTest, ReceiversReleasedMidEventAreNotCalledAndShortRecordsEndThePass) {
  DspUser a(5);
  auto* b = new DspUser(6);
  auto* c = new DspUser(7);
  a.onEvent = [&] { delete b; };
  c->onEvent = [&] { delete c; };
  command("dsp 5 flags 1 1");
  command("dsp 6 flags 2 2");
  command("dsp 7 tone 3 1");
  command("dsp 7 tone 4 1");
  ASSERT_TRUE(pump([&] { return contains(err(), "receive dsproc event from unknown timeslot 7\n"); }));
  EXPECT_EQ(a.flags.size(), 1u);
  EXPECT_TRUE(contains(err(), "receive dsproc event from unknown timeslot 6\n"));

  a.onEvent = nullptr;
  command("dsp raw 00 00 00 05 00");
  command("dsp 5 flags 3 3");
  ASSERT_TRUE(pump([&] { return a.flags.size() == 2; }));
  EXPECT_TRUE(contains(err(), "fail to read from dsproc: incomplete record of 5 bytes\n"));
}

}  // namespace
