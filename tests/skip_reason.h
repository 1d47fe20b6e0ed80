#pragma once
// Why a test did not run, in the form scripts/skipped_tests reads from the
// report: every reason starts with its kind, so that a missing tool (which
// scripts/test installs, and whose skip fails its run) is told apart from
// what this machine refuses a test (which no package mends) without
// guessing from the words after it.
//   GTEST_SKIP() << testkit::missing("tshark") << ": the tap is not read back";
// A script run by ctest prints the same prefix on its last line of that
// kind before it exits 77. The board's emulator keeps its own prefix,
// "qemu-user: ".
#include <string>

namespace testkit {

// A tool or peer that is not installed (or not on PATH).
inline std::string missing(const std::string& what) { return "missing: " + what; }

// Root, a capability, a namespace or a mount that this machine refuses.
inline std::string refused(const std::string& what) { return "refused (privileges): " + what; }

// Core dumps that the kernel does not write as files here.
inline std::string noCoreDumps(const std::string& what) { return "refused (core dumps): " + what; }

}  // namespace testkit
