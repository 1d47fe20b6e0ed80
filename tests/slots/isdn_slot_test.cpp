// ISDN and ATS-QSIG slots on the simulated board, on the loop's test clock:
// what the end-to-end tests leave out.
#include "slots/isdn_slot.h"

#include <fcntl.h>
#include <gtest/gtest.h>

#include "platform/drv.h"
#include "platform/mcc_records.h"
#include "platform/sysroot.h"
#include "tests/slots/signalling_fixture.h"

namespace {

using namespace slotstest;
using Lines = std::vector<std::string>;

const char isdnPri[] = "isdn : { type pri, trunk 1, log 0, side user : NULL }";

// A link that counts the readiness it is told of.
class CountingLink : public ISDN::LAPD {
 public:
  CountingLink() : LAPD(ISDN::Side::user, 0) {}
  void on_hdlc_ready() override {
    ++readies;
    LAPD::on_hdlc_ready();
  }
  int readies = 0;
};

using IsdnSlots = SignallingTest;

TEST_F(IsdnSlots, AFullQueueHoldsFramesUntilTheOneReadinessThatFollows) {
  const int fd = drv::open(sysroot::mcc_ctl, O_RDWR | O_NONBLOCK | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  Fd owned(fd);
  mcc::MccAllocate rec{mcc::hdlc, 512, 0, 1, 1};
  ASSERT_EQ(drv::ioctl_ptr(fd, MCC_ALLOCATE, &rec, sizeof rec), 0);
  auto* link = new CountingLink;
  IsdnSlot slot(owned, 1024, link);
  owned.close();
  settle();
  // Writable from the start: ready once.
  EXPECT_TRUE(slot.is_ready());
  EXPECT_EQ(link->readies, 1);

  command("mcc stall 1024");
  int taken = 0;
  for (; taken < 100; ++taken) {
    Packet frame;
    frame.reserve_head(0);
    frame.put(200);
    if (!slot.hdlc_transmit(frame)) break;
  }
  ASSERT_LT(taken, 100);
  EXPECT_FALSE(slot.is_ready());
  during(20);
  EXPECT_EQ(link->readies, 1);
  EXPECT_EQ(written(1024).size(), 0u);

  command("mcc resume 1024");
  during(100);
  EXPECT_EQ(link->readies, 2);
  EXPECT_TRUE(slot.is_ready());
  EXPECT_EQ(written(1024).size(), static_cast<std::size_t>(taken));
  during(20);
  EXPECT_EQ(link->readies, 2);
}

TEST_F(IsdnSlots, AFailedChannelRequestOrOpenRefusesTheCreate) {
  command("fail mcc/ctl 20004D02 EIO 1");
  EXPECT_EQ(answer(create(1, 5, isdnPri)), error(1, 5, "insufficientResources"));
  command("fail mcc/ctl 40144D00 ENOSPC 1");
  EXPECT_EQ(answer(create(2, 5, isdnPri)), error(2, 5, "insufficientResources"));
  command("refuse-open mcc/ctl");
  EXPECT_EQ(answer(create(3, 5, isdnPri)), error(3, 5, "insufficientResources"));
  command("refuse-open mcc/ctl off");
  command("fail dsp-data 40044211 EIO 1");
  EXPECT_EQ(answer(create(4, 6, "ats-qsig : { side user : NULL, log 0 }")), error(4, 6, "insufficientResources"));
  command("refuse-open dsp-data");
  EXPECT_EQ(answer(create(5, 6, "ats-qsig : { side user : NULL, log 0 }")), error(5, 6, "insufficientResources"));
  command("refuse-open dsp-data off");
  EXPECT_EQ(err(),
            "mcc/isdn: MCC_TIMESLOT fail: Input/output error\n"
            "mcc/isdn: MCC_ALLOCATE fail: No space left on device\n"
            "mcc/isdn: fail to open MCC device: No such device\n"
            "mcc/isdn: D channel request fail: Input/output error\n"
            "mcc/isdn: fail to open dsp-data device: No such device\n");
  // Nothing is left open of the refused ones.
  EXPECT_EQ(command("mcc"), Lines{});
  EXPECT_EQ(command("dspdata"), Lines{});
}

TEST_F(IsdnSlots, ADriverThatGoesTakesTheLinkDownAndIsWatchedNoMore) {
  ASSERT_EQ(exchange(create(1, 5, isdnPri)).size(), 1u);
  command("mcc error 1024");
  EXPECT_EQ(kinds(during(10)), (Lines{"ioctl : isdnLinkInfo", "deactivated"}));
  EXPECT_TRUE(contains(err(), "05:MCC: read error: end of file\n")) << err();
  auto& slot = dynamic_cast<IsdnSlot&>(*at(5));
  EXPECT_FALSE(slot.is_open());
  EXPECT_EQ(slot.descriptor(), -1);
  // Nothing could carry it: the controller must not take it for sent.
  EXPECT_EQ(answer(cmd(2, 5, "userData : '0801010504038090A2'H")), error(2, 5, "busError"));
}

TEST_F(IsdnSlots, ADriverThatGoesLeavesNothingSwitchedToOrFromItsChannel) {
  ASSERT_EQ(exchange(create(1, 5, isdnPri)).size(), 1u);
  ASSERT_EQ(exchange(create(2, 6, "trunk : { trunk 2, timeslot 7 }")).front(), success(2, 6));
  ASSERT_EQ(exchange(cmd(3, 6, "connect : 5")).back(), success(3, 6));
  ASSERT_EQ(exchange(cmd(4, 5, "connect : 6")).back(), success(4, 5));
  ASSERT_EQ(tdm().output(71).source, 1024);
  command("mcc error 1024");
  during(10);
  EXPECT_EQ(tdm().output(1024).drive, sim::Tdm::Drive::undriven);
  EXPECT_EQ(tdm().output(71).drive, sim::Tdm::Drive::constant);
  EXPECT_EQ(exchange(cmd(5, 6, "connect : 5")).back(), error(5, 6, "connectFail"));
}

TEST_F(IsdnSlots, ABSlotOutlivingItsParentReleasesNothingOnTheSlotThatTookItsNumber) {
  ASSERT_EQ(exchange(create(1, 30, "ats-qsig : { side user : NULL, log 0 }")).size(), 1u);
  ASSERT_EQ(answer(create(2, 31, "ats-qsig-b : { slot 30, subslot 1 }")), success(2, 31));
  ASSERT_EQ(answer(cmd(3, 30, "destroy : NULL")), success(3, 30));
  during(5);  // the driver hears the close
  // The number again, and with it the same unit of the driver.
  ASSERT_EQ(exchange(create(4, 30, "ats-qsig : { side user : NULL, log 0 }")).size(), 1u);
  ASSERT_EQ(answer(create(5, 32, "ats-qsig-b : { slot 30, subslot 1 }")), success(5, 32));
  EXPECT_EQ(command("dspdata"), Lines{"5120 open b0 5121 sent 0 received 0"});
  board().clear_journal();
  EXPECT_EQ(answer(cmd(6, 31, "destroy : NULL")), success(6, 31));
  EXPECT_EQ(command("dspdata"), Lines{"5120 open b0 5121 sent 0 received 0"});
  EXPECT_EQ(journal(), Lines{});
  EXPECT_TRUE(contains(log(), "31:ATS-QSIG-B: Can't find signalling slot\n")) << log();
  // Its own B slot still goes as it should.
  EXPECT_EQ(answer(cmd(7, 32, "destroy : NULL")), success(7, 32));
  EXPECT_EQ(command("dspdata"), Lines{"5120 open sent 0 received 0"});
}

}  // namespace
