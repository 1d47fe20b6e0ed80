// Trunk and BRI trunk slots: the channel of a timeslot, one slot a
// timeslot, and where the twelve factories stand in the chain.
#include "slots/trunk_slot.h"

#include <gtest/gtest.h>

#include "tests/slots/slots_fixture.h"

namespace {

using namespace slotstest;
using Lines = std::vector<std::string>;

using TrunkSlots = SlotsTest;

TEST_F(TrunkSlots, ATimeslotsChannelIsAnnouncedAfterTheCreateAnswer) {
  EXPECT_EQ(exchange(create(1, 3, "trunk : { trunk 1, timeslot 5 }")),
            (Lines{success(1, 3), stream(3, "transmitter", 37), stream(3, "receiver", 37)}));
  EXPECT_EQ(exchange(create(2, 4, "trunk_bri : { trunk 7, timeslot 3 }")),
            (Lines{success(2, 4), stream(4, "transmitter", 31), stream(4, "receiver", 31)}));
  const TrunkSlot& e1 = dynamic_cast<const TrunkSlot&>(*at(3));
  const TrunkSlot& bri = dynamic_cast<const TrunkSlot&>(*at(4));
  EXPECT_EQ(e1.GetTrunk(), 1);
  EXPECT_EQ(e1.GetTrunkTimeSlot(), 5);
  EXPECT_EQ(bri.GetTrunk(), 7);
  EXPECT_EQ(bri.GetTimeSlot(), 3);
  EXPECT_STREQ(bri.GetName(), "trunkBRI");
  // No trunk 4, no BRI timeslot 4.
  EXPECT_EQ(answer(create(3, 5, "trunk : { trunk 4, timeslot 0 }")), error(3, 5, "insufficientResources"));
  EXPECT_EQ(answer(create(4, 5, "trunk_bri : { trunk 0, timeslot 4 }")), error(4, 5, "insufficientResources"));
}

TEST_F(TrunkSlots, ASecondSlotOnATimeslotDestroysTheFirstAndADestroyFreesItAtOnce) {
  ASSERT_EQ(exchange(create(1, 3, "trunk : { trunk 2, timeslot 0 }")).size(), 3u);
  EXPECT_EQ(exchange(create(2, 9, "trunk : { trunk 2, timeslot 0 }")).front(), success(2, 9));
  EXPECT_EQ(err(), "trunk-slot: two slots require the same timeslot, remove old.\n old slot 03:trunk\n");
  EXPECT_EQ(at(3), nullptr);
  EXPECT_EQ(answer(cmd(3, 3, "destroy : NULL")), error(3, 3, "slotNotExists"));
  EXPECT_EQ(answer(cmd(4, 9, "destroy : NULL")), success(4, 9));
  cerr_.take();
  EXPECT_EQ(exchange(create(5, 3, "trunk : { trunk 2, timeslot 0 }")).front(), success(5, 3));
  EXPECT_EQ(err(), "");
}

TEST(TrunkFactories, TheyEndTheChainInTheOrderTheyWereBuilt) {
  std::vector<const SlotFactory*> chain;
  for (SlotFactory* f = SlotFactory::firstFactory; f; f = f->next())
    if (dynamic_cast<TrunkFactory*>(f)) chain.push_back(f);
  EXPECT_EQ(chain, (std::vector<const SlotFactory*>{&trunk_bri7, &trunk_bri6, &trunk_bri5, &trunk_bri4, &trunk_bri3,
                                                    &trunk_bri2, &trunk_bri1, &trunk_bri0, &trunk3, &trunk2, &trunk1,
                                                    &trunk0}));
}

}  // namespace
