// The simulated mixer driver through the device seam: enumeration, sums
// with weights, the refusals a driver gives, and the mixer command.
#include "platform/sim/mixer_model.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "platform/mixer_records.h"
#include "tests/sim_board_fixture.h"

namespace {

using Lines = std::vector<std::string>;

class MixerModelTest : public hwtest::SimBoardTest {
 protected:
  // One request on a fresh descriptor: the result, and errno in err.
  template <class Record>
  int request(unsigned long code, Record& rec, std::size_t size = sizeof(Record)) {
    const int fd = drv::open(sysroot::mixer, O_RDONLY);
    EXPECT_GE(fd, 0);
    errno = 0;
    const int rc = drv::ioctl_ptr(fd, code, &rec, size);
    err = errno;
    ::close(fd);
    return rc;
  }
  int add(int rx, int tx, int weight, int dev = 0) {
    MixRx r{{dev, 0, rx}, {dev, 0, tx}, weight};
    return request(MIX_RX_ADD, r);
  }
  std::string sum(int dev, int channel) {
    return command("mixer sum " + std::to_string(dev) + " " + std::to_string(channel)).at(0);
  }
  // The devices the driver lists, in its order, as "dev:tdm:inputs".
  Lines enumerate() {
    Lines out;
    MixDevice d{-1, 0, 0, 0};
    while (request(MIX_NEXT_DEVICE, d) == 0)
      out.push_back(std::to_string(d.dev_no) + ":" + std::to_string(d.tdm_channels) + ":" +
                    std::to_string(d.mixer_inputs));
    EXPECT_EQ(err, ENODEV);
    return out;
  }

  int err = 0;
};

TEST_F(MixerModelTest, DevicesAreListedInOrderOfNumberAndVanishWithTheirSums) {
  EXPECT_EQ(enumerate(), Lines{"0:32:64"});
  command("mixer add 5 8 4");
  command("mixer add 2 16 10");
  EXPECT_EQ(enumerate(), (Lines{"0:32:64", "2:16:10", "5:8:4"}));
  EXPECT_EQ(command("mixer"), (Lines{"mixer 0 tdm 32 inputs 64 timeslots 6144..6175 summed 0",
                                     "mixer 2 tdm 16 inputs 10 timeslots 6184..6199 summed 0",
                                     "mixer 5 tdm 8 inputs 4 timeslots 6176..6183 summed 0"}));
  ASSERT_EQ(add(1, 0, 100, 2), 0);
  command("mixer vanish 2");
  EXPECT_EQ(enumerate(), (Lines{"0:32:64", "5:8:4"}));
  EXPECT_EQ(add(1, 0, 100, 2), -1);
  EXPECT_EQ(err, ENODEV);
  // Back on its old timeslots, with nothing summed.
  command("mixer add 2 16 10");
  mix_slot s{2, 0, 15};
  EXPECT_EQ(request(MIX_TDM, s), 6199);
  EXPECT_EQ(sum(2, 1), "2/1: {}");
  EXPECT_NE(board().execute("mixer add 2 1 1").error, "");
  EXPECT_NE(board().execute("mixer add 9 2000 1").error, "");  // no timeslots left for it
  EXPECT_NE(board().execute("mixer vanish 7").error, "");
}

TEST_F(MixerModelTest, ASummatorAddsItsInputsWithWeightsAtTheEdgesOfTheirRange) {
  EXPECT_EQ(add(3, 1, 16384), 0);
  EXPECT_EQ(add(3, 0, 0), 0);
  EXPECT_EQ(add(3, 31, 32767), 0);
  EXPECT_EQ(sum(0, 3), "0/3: {0: 0, 1: 16384, 31: 32767}");
  for (int weight : {-1, 32768}) {
    EXPECT_EQ(add(3, 2, weight), -1) << weight;
    EXPECT_EQ(err, EINVAL);
  }
  // Adding again changes the weight; removing takes the input out, and is
  // no error for an input not summed.
  EXPECT_EQ(add(3, 1, 32767), 0);
  MixRx r{{0, 0, 3}, {0, 0, 1}, 0};
  EXPECT_EQ(request(MIX_RX_REMOVE, r), 0);
  EXPECT_EQ(request(MIX_RX_REMOVE, r), 0);
  EXPECT_EQ(sum(0, 3), "0/3: {0: 0, 31: 32767}");
  mix_slot s{0, 0, 3};
  EXPECT_EQ(request(MIX_RX_CLEAR, s), 0);
  EXPECT_EQ(sum(0, 3), "0/3: {}");
  EXPECT_TRUE(hwtest::contains(journal().back(), "-> 0 (clear 0/3)")) << journal().back();
}

TEST_F(MixerModelTest, ChannelsOutsideTheDeviceOtherTypesAndShortRecordsAreRefused) {
  mix_slot s{0, 0, 31};
  EXPECT_EQ(request(MIX_TDM, s), 6175);
  for (mix_slot bad : {mix_slot{0, 0, 32}, mix_slot{0, 0, -1}, mix_slot{0, 1, 0}}) {
    EXPECT_EQ(request(MIX_TDM, bad), -1);
    EXPECT_EQ(err, EINVAL);
  }
  EXPECT_EQ(request(MIX_RX_CLEAR, s, 8), -1);
  EXPECT_EQ(err, EFAULT);
  command("mixer add 1 4 4");
  MixRx across{{0, 0, 3}, {1, 0, 1}, 100};
  EXPECT_EQ(request(MIX_RX_ADD, across), -1);
  EXPECT_EQ(err, EINVAL);
  EXPECT_EQ(add(32, 1, 100), -1);
  EXPECT_EQ(err, EINVAL);
}

TEST_F(MixerModelTest, ADeviceHoldsNoMoreInputsThanItHasRoomFor) {
  command("mixer add 1 4 2");
  EXPECT_EQ(add(0, 1, 1, 1), 0);
  EXPECT_EQ(add(2, 3, 1, 1), 0);
  EXPECT_EQ(add(0, 1, 5, 1), 0);  // a weight changed takes no more room
  EXPECT_EQ(add(0, 2, 1, 1), -1);
  EXPECT_EQ(err, ENOSPC);
  EXPECT_EQ(command("mixer").at(1), "mixer 1 tdm 4 inputs 2 timeslots 6176..6179 summed 2");
}

}  // namespace
