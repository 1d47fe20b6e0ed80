#pragma once
// The daemon's command line.
#include <iosfwd>

struct CommandLine {
  bool daemon = false;
  int port = 20001;
};

// Set to 1 by "--version" through the option table.
extern int print_version;

// Reads the options. Returns -1 to go on, or the exit status when the
// process is to stop at once (help: 0; bad option, bad port, version: 2),
// after writing the usage or version text to out.
int ParseCommandLine(int argc, char** argv, CommandLine& line, std::ostream& out);

// The seven-line usage text.
void PutUsage(std::ostream& out);
