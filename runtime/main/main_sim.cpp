// korvend-sim: the daemon on the simulated board. Every fixed path resolves
// under KORVEND_ROOT, the board answers the device seam, and its control
// socket is served from the daemon's own loop.
#include <cstdlib>
#include <iostream>
#include <string>

#include "control/heart_beat_ctl.h"
#include "platform/drv.h"
#include "platform/sim/board.h"
#include "platform/sysroot.h"
#include "runtime/main/entry.h"

int main(int argc, char** argv) {
  const char* root = std::getenv("KORVEND_ROOT");
  if (root && *root && !sysroot::set_root(root)) {
    std::cerr << "korvend-sim: KORVEND_ROOT=" << root << " is not a directory; not starting" << std::endl;
    return 2;
  }
  // The services close their devices as the process exits, after main has
  // returned: the board stays behind the seam until it is gone itself
  // (built first, this guard goes after it).
  static struct SeamGuard {
    ~SeamGuard() { drv::install(nullptr); }
  } seamGuard;
  sim::Board& board = sim::Board::instance();
  sim::install_models(board);
  // End-to-end tests of the controller link shorten the heartbeat, so that
  // they need not wait two minutes for it; the daemon on the board always
  // keeps the full period.
  board.add_command("heartbeat",
                    "heartbeat [MS]: the controller heartbeat's period in ms, shown or set (from its next arming)",
                    [](const sim::Board::Args& a, sim::Board::Reply& r) {
                      HeartBeatCtl* heartbeat = HeartBeatCtl::instance();
                      if (a.empty()) return r.line(std::to_string(heartbeat->period()));
                      char* end = nullptr;
                      const unsigned long ms = a.size() == 1 ? std::strtoul(a[0].c_str(), &end, 10) : 0;
                      if (a.size() != 1 || *end != '\0' || ms == 0 || ms > HeartBeatCtl::timeout_ms)
                        return r.fail("usage: heartbeat [MS] (1.." + std::to_string(HeartBeatCtl::timeout_ms) + ")");
                      heartbeat->set_period(static_cast<unsigned>(ms));
                    });
  drv::install(&board);
  if (sysroot::root().empty())
    std::cerr << "korvend-sim: KORVEND_ROOT is not set: paths are the board's own and the board's control socket is off"
              << std::endl;
  else {
    board.execute_file(sysroot::path(sysroot::sim_board_init));
    board.listen();
  }
  const int status = korvend_main(argc, argv);
  board.close_control();
  return status;
}
