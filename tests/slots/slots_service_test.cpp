// The slot registry as a control service while no slot type exists yet:
// a controller's view of an empty registry.
#include <gtest/gtest.h>

#include "slots/slots.h"
#include "tests/control/session_test_support.h"

namespace {

class SlotsService : public linktest::Session {
 protected:
  SlotsService() { server.Bind(&Slots::instance()); }
};

TEST_F(SlotsService, QueryWithoutSlotIsAnsweredThenTheResourcesFollow) {
  start();
  send("{ seq 1, pdu command : query : NULL }");
  EXPECT_EQ(receive(), "{ seq 1, pdu response : success : NULL }");
  const std::string report = receive();
  EXPECT_EQ(report.rfind("{ pdu signal : query : { boardMajor 0, boardMinor 0, rtp-g729 0,", 0), 0u) << report;
  EXPECT_NE(report.find("mux TRUE"), std::string::npos) << report;
  EXPECT_TRUE(quiet());
}

TEST_F(SlotsService, SlotCommandsFindNoSlotAndCreateFindsNoFactory) {
  start();
  send("{ seq 2, slot 5, pdu command : create : trunk : { trunk 1, timeslot 2 } }");
  EXPECT_EQ(receive(), "{ seq 2, slot 5, pdu response : error : insufficientResources }");
  for (const char* command :
       {"destroy : NULL", "disconnect : NULL", "deactivate : NULL", "userData : '01'H", "connect : 3"}) {
    send(std::string("{ seq 3, slot 5, pdu command : ") + command + " }");
    EXPECT_EQ(receive(), "{ seq 3, slot 5, pdu response : error : slotNotExists }") << command;
  }
  // connect to 1024 (which the coder would not write): the target is
  // checked before any slot is looked up.
  controller.send(linktest::tpkt({0xC0, 0x01, 0x04, 0x00, 0x05, 0x04, 0x04, 0x00}));
  EXPECT_EQ(receive(), "{ seq 4, slot 5, pdu response : error : invalidSlot }");
}

TEST_F(SlotsService, QueryWithASlotAndOtherCommandsAreNotClaimed) {
  start();
  send("{ seq 5, slot 0, pdu command : query : NULL }");
  EXPECT_EQ(receive(), "{ seq 5, slot 0, pdu response : error : unexpectedMsgType }");
  send("{ seq 6, pdu command : destroy : NULL }");
  EXPECT_EQ(receive(), "{ seq 6, pdu response : error : unexpectedMsgType }");
}

TEST_F(SlotsService, ResourceReportWithoutAControllerIsDropped) {
  linktest::Capture err(std::cerr);
  Slots::instance().UpdateHardwareResources();
  EXPECT_EQ(err.str(), "ctrl [null]: send fail: Service not attached!\n");
}

}  // namespace
