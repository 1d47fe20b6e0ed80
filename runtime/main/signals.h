#pragma once
// The daemon's signal handlers and the deferred work they request. The
// handlers only raise flags; CheckSignals, a deferred call of the loop, acts
// on them between passes.
#include <signal.h>

// Raised by SIGUSR2 / SIGHUP; cleared when acted on.
extern volatile sig_atomic_t doDumpStatus;
extern volatile sig_atomic_t updateResources;

// SIGPIPE: caught and ignored (writes to a closed socket fail with EPIPE);
// SIGTERM, SIGINT: stop the loop (no restart, so they cut a blocking call);
// SIGUSR2: status dump; SIGHUP: resource report.
void InstallSignalHandlers();

void CheckSignals();
// Writes "/var/log/server-status": banner, version, the loop's dump.
void CheckDumpStatus();
// Logs "update hardware resources" and has the slot registry report.
void CheckUpdateResources();
