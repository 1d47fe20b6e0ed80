// Mixer slots on the simulated mixer devices: the devices learnt at each
// query, sums set by outputs and joined by inputs, refusals, a device that
// disappears, and the control requests of both kinds.
#include <gtest/gtest.h>

#include "slots/mixer_factory.h"
#include "tests/slots/slots_fixture.h"

namespace {

using namespace slotstest;
using Lines = std::vector<std::string>;

class MixerSlots : public SlotsTest {
 protected:
  void SetUp() override {
    SlotsTest::SetUp();
    Mixer::MixerFactory::instance();  // built by the process entry in the daemon
  }
  // The query's answer, the signals before the report, and the report's
  // mixer list.
  Lines query() {
    Lines out = exchange("{ seq 90, pdu command : query : NULL }");
    std::string& report = out.back();
    const std::size_t from = report.find("mixer {"), to = report.find(", mux TRUE");
    if (from != std::string::npos && to != std::string::npos) report = report.substr(from, to - from);
    return out;
  }
  static std::string device(int unit, int tdm, int inputs) {
    return "{ unit " + std::to_string(unit) + ", tdm_inputs " + std::to_string(tdm) + ", tdm_outputs " +
           std::to_string(tdm) + ", mixer_inputs " + std::to_string(inputs) +
           ", dpu_per_mixer 770, dpu_per_ec 17, dpu_per_lms 24 }";
  }
  static std::string sum(int dev, int channel) {
    return command("mixer sum " + std::to_string(dev) + " " + std::to_string(channel)).at(0);
  }
  static std::string abort(int slot) { return "{ slot " + std::to_string(slot) + ", pdu signal : abort : 0 }"; }
};

TEST_F(MixerSlots, AQueryReportsEveryDeviceWithTheSmallestCountsAndNewDevicesAreReset) {
  command("mixer add 3 8 100");
  EXPECT_EQ(query(), (Lines{hwtest::success(90), "mixer { " + device(0, 8, 64) + ", " + device(3, 8, 64) + " }"}));
  EXPECT_TRUE(contains(log(), "mixer [3]: clear all inputs\n")) << log();
  EXPECT_TRUE(contains(journalText(), "(clear 3/7)\n"));
  EXPECT_FALSE(contains(journalText(), "(clear 3/8)\n"));
  // No device: nothing reported, nothing made.
  command("mixer vanish 0");
  command("mixer vanish 3");
  EXPECT_EQ(query(), (Lines{hwtest::success(90), "mixer { }"}));
  EXPECT_EQ(answer(create(1, 1, "mixerOut : { unit 0, channel tdm : 3, inputs { } }")),
            error(1, 1, "insufficientResources"));
}

TEST_F(MixerSlots, EachQueryReadsTheVoiceDriversVersionAndKeepsItWhenTheDriverCannotBeOpened) {
  const Mixer::MixerFactory& f = Mixer::MixerFactory::instance();
  const auto words = [&f] {
    std::string text;
    for (std::uint32_t w : f.version().words) text += std::to_string(w) + " ";
    return text;
  };
  command("voice version 1 2 3 4 5");
  query();
  EXPECT_TRUE(f.version_valid());
  EXPECT_EQ(words(), "1 2 3 4 5 ");
  command("refuse-open voice ENOENT");
  query();
  const std::string openFail = std::string("mixer: device \"") + sysroot::voice + "\" open fail: ";
  EXPECT_TRUE(contains(err(), openFail + "No such file or directory\n")) << err();
  EXPECT_TRUE(f.version_valid());
  command("refuse-open voice off");
  command("fail voice 4014560A EIO");
  command("voice version 9 9 9 9 9");
  query();
  EXPECT_FALSE(f.version_valid());
  EXPECT_EQ(words(), "1 2 3 4 5 ");
}

TEST_F(MixerSlots, OneEnumerationTakesAHundredDevicesAndAHundredKnownStayKnown) {
  for (int d = 1; d <= 100; ++d) command("mixer add " + std::to_string(d) + " 1 1");
  const Lines first = query();
  ASSERT_EQ(first.size(), 2u);
  EXPECT_TRUE(contains(first[1], device(99, 1, 1) + " }")) << first[1];
  EXPECT_FALSE(contains(first[1], "unit 100,"));
  ASSERT_EQ(answer(create(1, 5, "mixerOut : { unit 99, channel tdm : 0, inputs { } }")), success(1, 5));
  // Found again, the devices keep their slots and sums.
  board().clear_journal();
  EXPECT_EQ(query().size(), 2u);
  EXPECT_FALSE(contains(journalText(), "0x800C4D02")) << journalText();
  EXPECT_EQ(sum(99, 0), "99/0: {0: 32767}");
}

TEST_F(MixerSlots, ARefusedOutputKeepsWhatItSetAndTheCreateFails) {
  command("mixer add 1 8 64");  // the channel bound is now 8
  query();
  const std::string refused = error(1, 1, "insufficientResources");
  EXPECT_EQ(answer(create(1, 1,
                          "mixerOut : { unit 0, channel tdm : 3, inputs { { channel tdm : 1, gain 100 }, "
                          "{ channel tdm : 2, gain 32768 }, { channel tdm : 4, gain 5 } } }")),
            refused);
  EXPECT_EQ(sum(0, 3), "0/3: {1: 100}");
  EXPECT_TRUE(contains(err(), "mixer [0]: MIX_RX_ADD fail : Invalid argument\n")) << err();
  // Device 0 has channel 8, but no slot may take it: its sum stays set.
  EXPECT_EQ(answer(create(1, 1, "mixerOut : { unit 0, channel tdm : 8, inputs { } }")), refused);
  EXPECT_EQ(sum(0, 8), "0/8: {8: 32767}");
  EXPECT_EQ(answer(create(1, 1, "mixerOut : { unit 0, channel tdm : 2, inputs { { channel rtp : 1, gain 5 } } }")),
            refused);
  EXPECT_EQ(answer(create(1, 1, "mixerOut : { unit 0, channel rtp : 2, inputs { } }")), refused);
  // A negative channel never reaches the device.
  EXPECT_EQ(answer(create(1, 1, "mixerOut : { unit 1, channel tdm : -1, inputs { } }")),
            error(1, 1, "invalidParams"));
  EXPECT_TRUE(contains(err(), "mixer [0]: SetTX error: translation fail [2]\n")) << err();
  EXPECT_TRUE(contains(err(), "mixer [0]: ClearTX error: translation fail\n")) << err();
  EXPECT_FALSE(contains(err(), "number=-1")) << err();
  EXPECT_EQ(at(1), nullptr);
}

TEST_F(MixerSlots, AnInputJoinsItsSummatorAtUnityAndLeavesItWhenDestroyed) {
  query();
  ASSERT_EQ(answer(create(1, 1, "mixerOut : { unit 0, channel tdm : 3, inputs { { channel tdm : 1, gain 16384 } } }")),
            success(1, 1));
  EXPECT_EQ(exchange(create(2, 2,
                            "mixerIn : { unit 0, channel tdm : 1, summator tdm : 3, ecm { ec FALSE, es TRUE } }")),
            Lines{success(2, 2)});
  EXPECT_EQ(sum(0, 3), "0/3: {1: 32767}");
  EXPECT_TRUE(contains(command("dtmf state 6145").at(0), " lms=on ")) << command("dtmf state 6145").at(0);
  EXPECT_EQ(answer(cmd(3, 2, "destroy : NULL")), success(3, 2));
  EXPECT_EQ(sum(0, 3), "0/3: {}");
  // A summator that is no TDM channel is not joined, and not left.
  EXPECT_EQ(answer(create(4, 2, "mixerIn : { unit 0, channel tdm : 2, summator rtp : 3 }")), success(4, 2));
  EXPECT_TRUE(contains(err(), "mixer [0]: wrong summator coding !\n")) << err();
  board().clear_journal();
  EXPECT_EQ(answer(cmd(5, 2, "destroy : NULL")), success(5, 2));
  EXPECT_FALSE(contains(journalText(), "0x801C4D04")) << journalText();
  // A refused join keeps the slot.
  command("fail mixer 801C4D03 ENOSPC 1");
  EXPECT_EQ(answer(create(6, 2, "mixerIn : { unit 0, channel tdm : 2, summator tdm : 3 }")), success(6, 2));
  EXPECT_TRUE(contains(err(), "mixer [0]: MIX_RX_ADD fail : No space left on device\n")) << err();
  for (const char* channel : {"tdm : 32", "rtp : 1"})
    EXPECT_EQ(answer(create(7, 3, std::string("mixerIn : { unit 0, channel ") + channel + " }")),
              error(7, 3, "insufficientResources"))
        << channel;
  EXPECT_EQ(answer(create(7, 3, "mixerIn : { unit 0, channel tdm : -1 }")), error(7, 3, "invalidParams"));
}

TEST_F(MixerSlots, AVanishedDevicesSlotsAreAbortedAndLeaveTheSumsOfItsSuccessorAlone) {
  command("mixer add 1 32 64");
  query();
  ASSERT_EQ(answer(create(1, 1, "mixerOut : { unit 0, channel tdm : 3, inputs { { channel tdm : 1, gain 9 } } }")),
            success(1, 1));
  ASSERT_EQ(answer(create(2, 2, "mixerIn : { unit 0, channel tdm : 1, summator tdm : 3 }")), success(2, 2));
  ASSERT_EQ(answer(create(3, 3, "mixerOut : { unit 1, channel tdm : 3, inputs { } }")), success(3, 3));
  command("mixer vanish 0");
  EXPECT_EQ(query(), (Lines{hwtest::success(90), abort(1), abort(2), "mixer { " + device(1, 32, 64) + " }"}));
  EXPECT_EQ(query(), (Lines{hwtest::success(90), "mixer { " + device(1, 32, 64) + " }"}));
  // It comes back, and a new output takes channel 3 before the old slots go.
  command("mixer add 0 32 64");
  query();
  ASSERT_EQ(answer(create(4, 4, "mixerOut : { unit 0, channel tdm : 3, inputs { { channel tdm : 2, gain 7 } } }")),
            success(4, 4));
  EXPECT_EQ(answer(cmd(5, 1, "destroy : NULL")), success(5, 1));
  EXPECT_EQ(answer(cmd(6, 2, "destroy : NULL")), success(6, 2));
  EXPECT_EQ(sum(0, 3), "0/3: {2: 7}");
  EXPECT_EQ(sum(1, 3), "1/3: {3: 32767}");
  EXPECT_FALSE(contains(err(), "MIX_RX")) << err();
}

TEST_F(MixerSlots, EachKindAnswersItsOwnControlRequestsAndEvents) {
  query();
  ASSERT_EQ(answer(create(1, 1, "mixerIn : { unit 0, channel tdm : 1 }")), success(1, 1));
  ASSERT_EQ(answer(create(2, 2, "mixerOut : { unit 0, channel tdm : 3, inputs { } }")), success(2, 2));
  EXPECT_EQ(answer(cmd(3, 1, "ioctl : delays : { rx 20, tx 30, selcal 5 }")), success(3, 1));
  EXPECT_TRUE(contains(err(), "mixer [0]: error: selcal delay isn't supported for mixer!!! Set to zero.\n"));
  EXPECT_EQ(answer(cmd(4, 1, "ioctl : rx-gain : { gainDB 257 }")), success(4, 1));
  EXPECT_TRUE(contains(command("dsp state 6145").at(0), " delays=20,30,0 gain=1")) << command("dsp state 6145")[0];
  EXPECT_EQ(answer(cmd(5, 2, "ioctl : tone-gen-enable : { freq 425, amp 300 }")), success(5, 2));
  EXPECT_TRUE(contains(command("dtmf state 6147").at(0), " tone=425,0,300,0")) << command("dtmf state 6147")[0];
  EXPECT_EQ(answer(cmd(6, 1, "ioctl : tone-gen-enable : { freq 425, amp 300 }")), error(6, 1, "unsupported"));
  EXPECT_EQ(answer(cmd(7, 2, "ioctl : echoSuppressor : TRUE")), error(7, 2, "unsupported"));
  EXPECT_EQ(answer(cmd(8, 2, "ioctl : dtmf-enable : TRUE")), error(8, 2, "unsupported"));
  // The input reports digits; the output reports no voice activity.
  ASSERT_EQ(answer(cmd(9, 1, "ioctl : dtmf-enable : TRUE")), success(9, 1));
  ASSERT_EQ(answer(cmd(10, 2, "ioctl : vad-enable : TRUE")), success(10, 2));
  command("dtmf 6145 5 time 77");
  command("dsp 6147 vad 1 1 0");
  EXPECT_EQ(drain(), Lines{"{ slot 1, pdu signal : tonec : { timestamp 77, event dtmf : 5 } }"});
  // An output destroyed while it dials ends on silence.
  ASSERT_EQ(answer(cmd(11, 2, "ioctl : translateDTMF : { digits { { freq1 697, freq2 1209 } } }")), success(11, 2));
  ASSERT_EQ(answer(cmd(12, 2, "destroy : NULL")), success(12, 2));
  const Lines tones = command("dtmf tones 6147");
  ASSERT_GE(tones.size(), 2u);
  EXPECT_TRUE(contains(tones[tones.size() - 2], "freq1=1000 freq2=1000 amp1=0 amp2=0")) << tones[tones.size() - 2];
}

}  // namespace
