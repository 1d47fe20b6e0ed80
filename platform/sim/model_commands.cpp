#include "platform/sim/model_commands.h"

#include <vector>

#include "platform/sysroot.h"

namespace sim {

std::string under_root(const std::string& path) {
  if (!path.empty() && path[0] != '/' && !sysroot::root().empty()) return sysroot::root() + "/" + path;
  return path;
}

void raw_record(Board& board, const std::string& path, const Board::Args& a, Board::Reply& r) {
  std::vector<std::uint8_t> bytes;
  if (!words::to_bytes(a, 1, bytes)) return r.fail("bad bytes");
  if (!board.broadcast(path, bytes.data(), bytes.size())) r.fail("no open " + path);
}

}  // namespace sim
