// The simulated trunk maintenance driver: a trunk's framer status file and
// its sync-status record tell the same.
#include "platform/sim/maintenance_model.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>

#include "platform/maintenance_records.h"
#include "tests/sim_board_fixture.h"

namespace {

class MaintenanceModelTest : public hwtest::SimBoardTest {
 protected:
  std::string framerFile(int t) const { return std::string(sysroot::framer_dir) + std::to_string(t); }
  void writeFramer(int t, const std::string& text) {
    root_.make_parent(framerFile(t));
    std::ofstream(root_.path(framerFile(t))) << text;
  }
  std::string readFramer(int t) const {
    std::ifstream in(root_.path(framerFile(t)));
    if (!in) return "(none)";
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
  }
  static std::string framerText(const char* state, const char* signal, const char* frame, int slips) {
    return std::string("Current state           : ") + state + "\nLoss of Signal          : " + signal +
           "\nLoss of Frame Alignment : " + frame + "\nReceive Slip Negative   : " + std::to_string(slips) +
           " events\nReceive Slip Positive   : 0 events\n";
  }
  maint::SyncStatus status(int t) {
    const int fd = drv::open(sysroot::maintenance, O_RDWR);
    maint::SyncStatus rec{};
    rec.trunk = t;
    EXPECT_EQ(drv::ioctl_ptr(fd, maint::sync_status, &rec, sizeof rec), 0);
    ::close(fd);
    return rec;
  }
};

TEST_F(MaintenanceModelTest, AFramerFileIsWrittenFromItsTrunksRecord) {
  writeFramer(0, "Current state           : No Carrier\n");
  writeFramer(2, "Current state           : No Carrier\n");
  // At start a framer file says what its trunk's record says: normal.
  sim::install_models(board());
  EXPECT_EQ(readFramer(0), framerText("Synchronized", "no", "no", 0));
  EXPECT_EQ(readFramer(2), framerText("Synchronized", "no", "no", 0));

  command("trunk 2 state 2 slips 3");
  EXPECT_EQ(status(2).state, 2);
  EXPECT_EQ(readFramer(2), framerText("No Carrier", "yes", "yes", 3));
  command("trunk 0 state 1");
  EXPECT_EQ(readFramer(0), framerText("FAS Loss", "no", "yes", 0));
  for (const auto& [state, text] : {std::make_pair(3, "AIS"), std::make_pair(4, "RAI"), std::make_pair(5, "Unknown"),
                                    std::make_pair(-1, "Unknown"), std::make_pair(0, "Synchronized")}) {
    command("trunk 0 state " + std::to_string(state));
    EXPECT_EQ(readFramer(0), framerText(text, "no", "no", 0)) << state;
  }
  // A trunk without a framer file gets none; a refused trunk keeps its file.
  command("trunk 1 state 2");
  EXPECT_EQ(readFramer(1), "(none)");
  command("trunk 2 fail EIO");
  EXPECT_EQ(readFramer(2), framerText("No Carrier", "yes", "yes", 3));
}

}  // namespace
