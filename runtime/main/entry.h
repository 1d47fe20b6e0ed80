#pragma once
// The daemon's start-up sequence, loop and shutdown; returns the process
// exit status. Shared by the board build (korvend) and the simulated-board
// build (korvend-sim), whose main only prepares the board first.
int korvend_main(int argc, char** argv);

// Path of the configuration file (the board's name for it).
extern const char* configFile;
