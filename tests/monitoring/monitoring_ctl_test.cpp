// The monitoring service as a control service: `display` and the
// controller state.
#include "monitoring/monitoring_ctl.h"

#include <gtest/gtest.h>

#include "tests/control/session_test_support.h"

namespace {

class MonitoringService : public linktest::Session {
 protected:
  MonitoringService() { server.Bind(&MonitoringCtl::instance()); }
};

TEST_F(MonitoringService, ClaimsDisplayOnlyAndTracksTheController) {
  EXPECT_FALSE(MonitoringCtl::instance().controller_connected());
  start();
  EXPECT_TRUE(MonitoringCtl::instance().controller_connected());
  send("{ seq 1, pdu command : display : snmpTrapReceivers : { } }");
  EXPECT_EQ(receive(), "{ seq 1, pdu response : success : NULL }");
  send("{ seq 2, pdu command : ping : NULL }");
  EXPECT_EQ(receive(), "{ seq 2, pdu response : error : unexpectedMsgType }");
  linktest::Capture err(std::cerr);
  controller.close();
  ASSERT_TRUE(linktest::pump([] { return !MonitoringCtl::instance().controller_connected(); }));
}

}  // namespace
