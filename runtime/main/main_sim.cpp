// korvend-sim: the daemon on the simulated board. Every fixed path resolves
// under KORVEND_ROOT, the board answers the device seam, and its control
// socket is served from the daemon's own loop.
#include <cstdlib>
#include <iostream>

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
