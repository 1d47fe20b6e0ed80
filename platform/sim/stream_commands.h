#pragma once
namespace sim {

class Board;

// Control commands that make the daemon write to its standard streams, so
// that tests can see where those streams lead (the terminal, or the system
// log in daemon mode).
void install_stream_commands(Board& board);

}  // namespace sim
