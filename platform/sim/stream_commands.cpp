#include "platform/sim/stream_commands.h"

#include <iostream>
#include <string>

#include "platform/sim/board.h"

namespace sim {

void install_stream_commands(Board& board) {
  board.add_command("say", "say out|err|log LINE...: the daemon writes each LINE to that stream, then flushes once",
                    [](const Board::Args& a, Board::Reply& r) {
                      std::ostream* os = nullptr;
                      if (!a.empty()) {
                        if (a[0] == "out") os = &std::cout;
                        if (a[0] == "err") os = &std::cerr;
                        if (a[0] == "log") os = &std::clog;
                      }
                      if (!os || a.size() < 2) {
                        r.fail("usage: say out|err|log LINE...");
                        return;
                      }
                      // One insertion and one flush, however many lines.
                      std::string text;
                      for (size_t i = 1; i < a.size(); ++i) text += a[i] + "\n";
                      *os << text << std::flush;
                    });
}

}  // namespace sim
