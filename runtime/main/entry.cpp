#include "runtime/main/entry.h"

int korvend_main(int, char**) { return 0; }
