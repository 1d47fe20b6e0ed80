#include "runtime/main/command_line.h"

#include <getopt.h>

#include <cstring>
#include <iostream>
#include <string>

#include "hardware/bus_ctl.h"
#include "runtime/version.h"

int print_version = 0;

namespace {

constexpr int kDisableClock = 10;

const char kUsage[] =
    "Usage:\n"
    " korvend -Dh\n"
    "  -D --daemon                      run as daemon\n"
    "  -p --port                        use this port\n"
    "     --disable-clock               disable clock control\n"
    "     --version                     print version\n"
    "  -h --help                        display this information\n";

// A control port is a plain decimal number from 1 to 65535. Anything else
// is refused rather than silently becoming another port.
bool parsePort(const char* text, int& port) {
  if (!text || !*text || std::strlen(text) > 5) return false;
  int value = 0;
  for (const char* p = text; *p; ++p) {
    if (*p < '0' || *p > '9') return false;
    value = value * 10 + (*p - '0');
  }
  if (value < 1 || value > 65535) return false;
  port = value;
  return true;
}

// Takes effect at once, while the options are read: before any service
// is bound, so no controller connection ever reaches the clock.
void DisableClockControl() { BusCtl::instance().DisableControl(); }

}  // namespace

void PutUsage(std::ostream& out) { out << kUsage << std::endl; }

int ParseCommandLine(int argc, char** argv, CommandLine& line, std::ostream& out) {
  static const struct option options[] = {
      {"daemon", no_argument, nullptr, 'D'},
      {"disable-clock", no_argument, nullptr, kDisableClock},
      {"port", required_argument, nullptr, 'p'},
      {"version", no_argument, &print_version, 1},
      {"help", no_argument, nullptr, 'h'},
      {nullptr, 0, nullptr, 0},
  };
  opterr = 1;
  for (;;) {
    // The usage text offers "-p" beside "--port", so the short form is
    // accepted too; both go through the same port check.
    const int c = ::getopt_long(argc, argv, "Dhp:", options, nullptr);
    if (c == -1) break;
    switch (c) {
      case 'h':
        PutUsage(out);
        return 0;
      case '?':
        PutUsage(out);
        return 2;
      case 'D':
        line.daemon = true;
        break;
      case 'p':
        if (!parsePort(optarg, line.port)) {
          std::cerr << argv[0] << ": invalid port '" << optarg << "'" << std::endl;
          PutUsage(out);
          return 2;
        }
        break;
      case kDisableClock:
        DisableClockControl();
        break;
      default:
        break;
    }
  }
  if (print_version) {
    out << "server version: " << Version::current << std::endl;
    return 2;
  }
  return -1;
}
