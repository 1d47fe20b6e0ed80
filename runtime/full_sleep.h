#pragma once
// A short blocking wait that a signal cannot cut short: the daemon catches
// signals (children ending, a status dump asked for), and a wait that a
// handler ends early would let a driver be read before it has settled.
//
//   full_sleep_us(500);   // the bus holds the written bytes after this
//
// The wait ends at a deadline on CLOCK_MONOTONIC set at the call, so each
// resumption sleeps only what is left.
void full_sleep_us(unsigned us);
