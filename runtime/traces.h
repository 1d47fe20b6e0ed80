#pragma once
// The process's trace switches, set once at start-up from the "traces"
// section of the configuration file and read by the traced subsystems.
#include "runtime/trace_ctl.h"

extern TraceCtl traces;
