// ISDN and ATS-QSIG slots: a Q.921 link on a data channel the slot reads
// and writes itself, and the B channels of an ATS-QSIG D channel.
#include "slots/isdn_slot.h"

#include <fcntl.h>
#include <gtest/gtest.h>

#include <algorithm>

#include "platform/drv.h"
#include "platform/dsp_data_records.h"
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

TEST_F(IsdnSlots, AChannelIsAllocatedInTheModeOfTheTypeAndAnnouncedOnlyWithTheFirstConnection) {
  EXPECT_EQ(exchange(create(1, 5, "isdn : { type bri, trunk 1, log 0, side user : NULL }")), Lines{success(1, 5)});
  EXPECT_EQ(exchange(create(2, 6, isdnPri)), Lines{success(2, 6)});
  const mcc::MccAllocate bri{mcc::bri, 512, 0, 1, 1};
  const mcc::MccAllocate pri{mcc::hdlc, 512, 0, 1, 1};
  const Lines j = journal();
  EXPECT_NE(std::find(j.begin(), j.end(),
                      recLine(sysroot::mcc_ctl, MCC_ALLOCATE, bri, "0 (allocate mode 1: channel 1024)")),
            j.end());
  EXPECT_NE(std::find(j.begin(), j.end(),
                      recLine(sysroot::mcc_ctl, MCC_ALLOCATE, pri, "0 (allocate mode 0: channel 1025)")),
            j.end());
  ASSERT_EQ(exchange(create(3, 1, "trunk : { trunk 0, timeslot 16 }")).size(), 3u);
  EXPECT_EQ(exchange(cmd(4, 1, "connect : 6")), (Lines{stream(6, "receiver", 1025), success(4, 1)}));
  EXPECT_EQ(matrix(1025), "1025 <- 16");
  EXPECT_EQ(exchange(cmd(5, 6, "connect : 1")), (Lines{stream(6, "transmitter", 1025), success(5, 6)}));
  EXPECT_EQ(matrix(16), "16 <- 1025");
  EXPECT_EQ(answer(cmd(6, 6, "ioctl : ss7RqBSN : NULL")), error(6, 6, "unsupported"));
}

TEST_F(IsdnSlots, AnIsdnSlotAndAPstnSlotOnCabledTrunksBringTheLinkUpAndCarryMessages) {
  ASSERT_EQ(exchange(create(1, 1, "trunk : { trunk 0, timeslot 16 }")).size(), 3u);
  ASSERT_EQ(exchange(create(2, 2, "trunk : { trunk 1, timeslot 16 }")).size(), 3u);
  ASSERT_EQ(exchange(create(3, 10, isdnPri)).size(), 1u);
  ASSERT_EQ(exchange(create(4, 20, "pstn : isdn : { type pri, trunk 2, log 0, side network : NULL }")).size(), 1u);
  ASSERT_EQ(exchange(cmd(5, 1, "connect : 10")).back(), success(5, 1));
  ASSERT_EQ(exchange(cmd(6, 10, "connect : 1")).back(), success(6, 10));
  EXPECT_EQ(answer(cmd(7, 10, "activate : empty : NULL")), success(7, 10));
  // The peer comes up afterwards, and answers the link's next SABME.
  ASSERT_EQ(exchange(cmd(8, 2, "connect : 20")).back(), success(8, 2));
  ASSERT_EQ(exchange(cmd(9, 20, "connect : 2")).back(), success(9, 20));
  const Lines out = during(1100);
  EXPECT_EQ(kinds(of(10, out)), (Lines{"ioctl : isdnLinkInfo", "activated"})) << ::testing::PrintToString(out);
  EXPECT_EQ(kinds(of(20, out)), (Lines{"ioctl : isdnLinkInfo", "activated"}));
  EXPECT_EQ(answer(cmd(10, 10, "userData : '0801010504038090A2'H")), success(10, 10));
  EXPECT_EQ(of(20, during(20)), Lines{signal(20, "userData : '08 01 01 05 04 03 80 90 a2'H")});
  EXPECT_EQ(answer(cmd(11, 20, "userData : '08018102180189'H")), success(11, 20));
  EXPECT_EQ(of(10, during(20)), Lines{signal(10, "userData : '08 01 81 02 18 01 89'H")});
  // No periodic report: statistics come with changes of state.
  EXPECT_EQ(of(10, during(PstnSlot::update_ms)), Lines{});
  EXPECT_EQ(answer(cmd(12, 10, "deactivate : NULL")), success(12, 10));
  EXPECT_EQ(kinds(of(10, during(20))), (Lines{"ioctl : isdnLinkInfo", "deactivated"}));
}

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

TEST_F(IsdnSlots, FramesAreTracedOnlyUnderTheIsdnTraceSwitch) {
  ASSERT_EQ(exchange(create(1, 5, isdnPri)).size(), 1u);
  EXPECT_EQ(answer(cmd(2, 5, "activate : empty : NULL")), success(2, 5));
  command("mcc inject 1024 00 01 73");
  during(10);
  EXPECT_FALSE(contains(log(), ": tx ")) << log();
  EXPECT_FALSE(contains(log(), ": rx ")) << log();
  traces.signalling_isdn = true;
  EXPECT_EQ(answer(cmd(3, 5, "activate : empty : NULL")), success(3, 5));
  command("mcc inject 1024 00 01 73");
  during(10);
  EXPECT_TRUE(contains(log(), "05:MCC: tx 00 01 7F")) << log();
  EXPECT_TRUE(contains(log(), "05:MCC: rx 00 01 73")) << log();
}

TEST_F(IsdnSlots, AFailedChannelRequestOrOpenRefusesTheCreate) {
  command("fail mcc/ctl 20004D02 EIO 1");
  EXPECT_EQ(answer(create(1, 5, isdnPri)), error(1, 5, "insufficientResources"));
  EXPECT_EQ(err(), "mcc/isdn: MCC_TIMESLOT fail: Input/output error\n");
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
  EXPECT_EQ(answer(cmd(2, 5, "userData : '0801010504038090A2'H")), success(2, 5));
}

TEST_F(IsdnSlots, AnAtsQsigBSlotOpensItsIndexOnItsParentAndReleasesItThere) {
  EXPECT_EQ(exchange(create(1, 30, "ats-qsig : { side network : NULL, log 0 }")), Lines{success(1, 30)});
  EXPECT_EQ(exchange(create(2, 31, "ats-qsig-b : { slot 30, subslot 3 }")), Lines{success(2, 31)});
  EXPECT_EQ(command("dspdata"), Lines{"4096 open b2 4099 sent 0 received 0"});
  EXPECT_EQ(dynamic_cast<IsdnSlot&>(*at(30)).link().link(), 4096u);
  EXPECT_STREQ(at(30)->GetName(), "ATS-QSIG");
  EXPECT_STREQ(at(31)->GetName(), "ATS-QSIG-B");
  // A B slot is a media slot on its channel.
  ASSERT_EQ(exchange(create(3, 1, "trunk : { trunk 0, timeslot 5 }")).size(), 3u);
  EXPECT_EQ(exchange(cmd(4, 1, "connect : 31")), (Lines{stream(31, "receiver", 4099), success(4, 1)}));
  EXPECT_EQ(matrix(4099), "4099 <- 5");
  EXPECT_EQ(answer(cmd(5, 31, "destroy : NULL")), success(5, 31));
  EXPECT_EQ(command("dspdata"), Lines{"4096 open sent 0 received 0"});
  const dspdata::BChannel released{2, 4099};
  const Lines j = journal();
  EXPECT_NE(std::find(j.begin(), j.end(), recLine(sysroot::dsp_data, dspdata::b_release, released, "0 (release B 2)")),
            j.end());
}

TEST_F(IsdnSlots, ABSlotMustNameALiveAtsQsigSlot) {
  ASSERT_EQ(exchange(create(1, 1, "trunk : { trunk 0, timeslot 5 }")).size(), 3u);
  ASSERT_EQ(exchange(create(2, 5, isdnPri)).size(), 1u);
  EXPECT_EQ(answer(create(3, 31, "ats-qsig-b : { slot 1, subslot 1 }")), error(3, 31, "insufficientResources"));
  EXPECT_EQ(answer(create(4, 31, "ats-qsig-b : { slot 5, subslot 1 }")), error(4, 31, "insufficientResources"));
  EXPECT_EQ(answer(create(5, 31, "ats-qsig-b : { slot 30, subslot 1 }")), error(5, 31, "insufficientResources"));
  // One index, one B slot.
  ASSERT_EQ(exchange(create(6, 30, "ats-qsig : { side user : NULL, log 0 }")).size(), 1u);
  ASSERT_EQ(answer(create(7, 31, "ats-qsig-b : { slot 30, subslot 1 }")), success(7, 31));
  cerr_.take();
  EXPECT_EQ(answer(create(8, 32, "ats-qsig-b : { slot 30, subslot 1 }")), error(8, 32, "insufficientResources"));
  EXPECT_EQ(err(), "ats-qsig: add B channel fail !!!\n");
}

TEST_F(IsdnSlots, ABSlotOutlivingItsParentReleasesNothingOnTheSlotThatTookItsNumber) {
  ASSERT_EQ(exchange(create(1, 30, "ats-qsig : { side user : NULL, log 0 }")).size(), 1u);
  ASSERT_EQ(answer(create(2, 31, "ats-qsig-b : { slot 30, subslot 1 }")), success(2, 31));
  ASSERT_EQ(answer(cmd(3, 30, "destroy : NULL")), success(3, 30));
  during(5);  // the driver hears the close
  // The number again, and with it the same unit of the driver.
  ASSERT_EQ(exchange(create(4, 30, "ats-qsig : { side user : NULL, log 0 }")).size(), 1u);
  ASSERT_EQ(answer(create(5, 32, "ats-qsig-b : { slot 30, subslot 1 }")), success(5, 32));
  EXPECT_EQ(command("dspdata"), Lines{"4096 open b0 4097 sent 0 received 0"});
  board().clear_journal();
  EXPECT_EQ(answer(cmd(6, 31, "destroy : NULL")), success(6, 31));
  EXPECT_EQ(command("dspdata"), Lines{"4096 open b0 4097 sent 0 received 0"});
  EXPECT_EQ(journal(), Lines{});
  EXPECT_TRUE(contains(log(), "31:ATS-QSIG-B: Can't find signalling slot\n")) << log();
  // Its own B slot still goes as it should.
  EXPECT_EQ(answer(cmd(7, 32, "destroy : NULL")), success(7, 32));
  EXPECT_EQ(command("dspdata"), Lines{"4096 open sent 0 received 0"});
}

}  // namespace
