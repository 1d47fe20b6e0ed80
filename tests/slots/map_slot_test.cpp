// Map slots: shared bus channels, one holder a channel whichever side, and
// the receive channel left undriven when the slot goes.
#include "slots/map_slot.h"

#include <gtest/gtest.h>

#include "tests/slots/slots_fixture.h"

namespace {

using namespace slotstest;
using Lines = std::vector<std::string>;

using MapSlots = SlotsTest;

TEST_F(MapSlots, TheReceiverIsAnnouncedBeforeTheTransmitter) {
  EXPECT_EQ(exchange(create(1, 2, "map : { receiver { bus 1, channel 5 } }")),
            (Lines{success(1, 2), stream(2, "receiver", 8325)}));
  EXPECT_EQ(exchange(create(2, 3, "map : { transmitter { bus 15, channel 127 }, receiver { bus 0, channel 0 } }")),
            (Lines{success(2, 3), stream(3, "receiver", 8192), stream(3, "transmitter", 10239)}));
  EXPECT_EQ(MapFactory::instance().owner(133), at(2));
  EXPECT_EQ(MapFactory::instance().owner(2047), at(3));
}

TEST_F(MapSlots, ANewHolderOfAChannelDestroysTheOldOneWhicheverSide) {
  ASSERT_EQ(exchange(create(1, 2, "map : { transmitter { bus 1, channel 6 }, receiver { bus 1, channel 5 } }")).size(),
            3u);
  EXPECT_EQ(exchange(create(2, 4, "map : { transmitter { bus 1, channel 5 } }")),
            (Lines{success(2, 4), stream(4, "transmitter", 8325)}));
  EXPECT_EQ(err(),
            "map-slot: two slots require the same ipc-slot, remove old.\nnew slot na:map <-> old slot 02:map\n");
  EXPECT_EQ(at(2), nullptr);
  EXPECT_EQ(MapFactory::instance().owner(134), nullptr);
  EXPECT_TRUE(contains(matrix(8325), "8325 undriven (disabled")) << matrix(8325);
}

TEST_F(MapSlots, ASlotWithNeitherSideIsMadeButTakesNoConnection) {
  ASSERT_EQ(exchange(create(1, 5, "trunk : { trunk 0, timeslot 1 }")).size(), 3u);
  EXPECT_EQ(exchange(create(2, 6, "map : { }")), Lines{success(2, 6)});
  EXPECT_EQ(answer(cmd(3, 6, "connect : 5")), error(3, 6, "connectFail"));
  EXPECT_EQ(answer(cmd(4, 5, "connect : 6")), error(4, 5, "connectFail"));
}

TEST_F(MapSlots, DestroyStopsDrivingTheReceiveChannelAndFreesBothSides) {
  ASSERT_EQ(exchange(create(1, 1, "trunk : { trunk 1, timeslot 5 }")).size(), 3u);
  ASSERT_EQ(exchange(create(2, 2, "map : { transmitter { bus 2, channel 0 }, receiver { bus 1, channel 5 } }")).size(),
            3u);
  ASSERT_EQ(answer(cmd(3, 1, "connect : 2")), success(3, 1));
  EXPECT_EQ(matrix(8325), "8325 <- 37");
  EXPECT_EQ(answer(cmd(4, 2, "destroy : NULL")), success(4, 2));
  EXPECT_TRUE(contains(matrix(8325), "8325 undriven (disabled")) << matrix(8325);
  EXPECT_TRUE(contains(log(), "map: disable map channel 133\n")) << log();
  EXPECT_EQ(MapFactory::instance().owner(133), nullptr);
  EXPECT_EQ(MapFactory::instance().owner(256), nullptr);
  EXPECT_TRUE(at(1)->receivers().empty());
}

TEST_F(MapSlots, OneChannelOnBothSidesIsHeldOnce) {
  EXPECT_EQ(exchange(create(1, 2, "map : { transmitter { bus 3, channel 3 }, receiver { bus 3, channel 3 } }")),
            (Lines{success(1, 2), stream(2, "receiver", 8579), stream(2, "transmitter", 8579)}));
  EXPECT_EQ(MapFactory::instance().owner(387), at(2));
  EXPECT_EQ(answer(cmd(2, 2, "destroy : NULL")), success(2, 2));
  EXPECT_EQ(err(), "");
  EXPECT_EQ(MapFactory::instance().owner(387), nullptr);
}

}  // namespace
