// External channel slots: the numbers the bus has, and an activation that
// leaves a connected source alone.
#include "slots/ext_factory.h"

#include <gtest/gtest.h>

#include "tests/slots/slots_fixture.h"

namespace {

using namespace slotstest;
using Lines = std::vector<std::string>;

class ExtSlots : public SlotsTest {
 protected:
  void SetUp() override {
    SlotsTest::SetUp();
    ExtFactory::instance();  // built by the process entry in the daemon
  }
};

// 8192 plus a number past the bus would name a channel outside the matrix,
// or overflow.
TEST_F(ExtSlots, OnlyNumbersOfTheBusAreTaken) {
  EXPECT_EQ(exchange(create(1, 1, "ext : { transmitter 0, receiver 2047 }")),
            (Lines{success(1, 1), stream(1, "transmitter", 8192)}));
  for (const char* bad : {"ext : { transmitter 2048, receiver 0 }", "ext : { transmitter 0, receiver -1 }",
                          "ext : { transmitter 2147483647, receiver 0 }", "ext : { transmitter 0, receiver -2147483648 }"})
    EXPECT_EQ(answer(create(2, 2, bad)), error(2, 2, "invalidParams")) << bad;
  EXPECT_TRUE(contains(err(), "slots: create refused, out of range: transmitter=2048\n")) << err();
  EXPECT_EQ(at(2), nullptr);
}

TEST_F(ExtSlots, ActivatingAgainKeepsTheSourcesPath) {
  ASSERT_EQ(exchange(create(1, 1, "trunk : { trunk 1, timeslot 5 }")).size(), 3u);
  ASSERT_EQ(exchange(create(2, 2, "ext : { transmitter 5, receiver 6 }")).size(), 2u);
  EXPECT_EQ(exchange(cmd(3, 2, "activate : empty : NULL")), (Lines{stream(2, "receiver", 8198), success(3, 2)}));
  EXPECT_EQ(matrix(8198), "8198 = 0xD5");
  ASSERT_EQ(answer(cmd(4, 1, "connect : 2")), success(4, 1));
  EXPECT_EQ(answer(cmd(5, 2, "activate : empty : NULL")), success(5, 2));
  EXPECT_EQ(matrix(8198), "8198 <- 37");
  EXPECT_EQ(at(2)->source(), at(1));
}

}  // namespace
