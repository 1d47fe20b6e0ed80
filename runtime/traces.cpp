#include "runtime/traces.h"

TraceCtl traces;
