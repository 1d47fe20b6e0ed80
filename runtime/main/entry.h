#pragma once

// The daemon's start-up sequence and loop; returns the process exit status.
int korvend_main(int argc, char** argv);
