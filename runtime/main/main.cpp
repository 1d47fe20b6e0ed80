#include "runtime/main/entry.h"

int main(int argc, char** argv) { return korvend_main(argc, argv); }
