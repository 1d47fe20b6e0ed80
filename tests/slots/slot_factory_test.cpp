#include "slots/slot_factory.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <vector>

#include "slots/hdlc_slot_factory.h"
#include "slots/rtp_factory.h"

namespace {

struct TestFactory : SlotFactory {
  const char* GetName() const override { return "Test"; }
  Slot* INewSlot(const LGCP::CreateParams&) override { return nullptr; }
  void Query(LGCP::Resources&) override {}
};

std::vector<const SlotFactory*> chain() {
  std::vector<const SlotFactory*> out;
  for (SlotFactory* f = SlotFactory::firstFactory; f; f = f->next()) out.push_back(f);
  return out;
}

TEST(SlotFactory, TheLastBuiltIsAskedFirstAndADestroyedOneLeavesTheChain) {
  const std::vector<const SlotFactory*> before = chain();
  auto a = std::make_unique<TestFactory>();
  auto b = std::make_unique<TestFactory>();
  auto c = std::make_unique<TestFactory>();
  std::vector<const SlotFactory*> expected{c.get(), b.get(), a.get()};
  expected.insert(expected.end(), before.begin(), before.end());
  EXPECT_EQ(chain(), expected);
  b.reset();
  expected.erase(expected.begin() + 1);
  EXPECT_EQ(chain(), expected);
  c.reset();
  a.reset();
  EXPECT_EQ(chain(), before);
}

// Other tests of this program may have used a singleton first.
TEST(SlotFactory, SingletonsJoinTheChainOnceOnFirstUse) {
  for (SlotFactory* (*use)() : {+[]() -> SlotFactory* { return &RtpFactory::instance(); },
                                +[]() -> SlotFactory* { return &HdlcSlotFactory::instance(); }}) {
    const std::size_t before = chain().size();
    const SlotFactory* f = use();
    if (chain().size() == before + 1) {
      EXPECT_EQ(chain()[0], f);
    } else {
      EXPECT_EQ(chain().size(), before);
    }
    EXPECT_EQ(use(), f);
    const std::vector<const SlotFactory*> now = chain();
    EXPECT_EQ(std::count(now.begin(), now.end(), f), 1);
  }
}

}  // namespace
