// lgcpctl: a test controller for korvend. See usage() or the README.
#include <poll.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "runtime/event.h"
#include "runtime/mux_clock.h"
#include "tools/lgcpctl/lgcp_client.h"

namespace {

const char* usage() {
  return "Usage: lgcpctl [--host ADDR] [--port N] [--wait MS] [STEP...]\n"
         "Talks LGCP to a korvend controller port, in value notation. Every message sent\n"
         "(>) or received (<) is printed on one line after a time stamp.\n"
         "\n"
         "Steps, run in order:\n"
         "  send MSG          send one message, e.g. '{ seq 7, pdu command : ping : NULL }'\n"
         "  expect MSG [MS]   the next response (signals are printed and skipped) must\n"
         "                    equal MSG and come within MS ms (default 5000)\n"
         "  listen MS         print what arrives for MS ms\n"
         "Without steps, each message read from standard input is sent (a message may\n"
         "span lines until its braces close) and everything received is printed; at the\n"
         "end of input lgcpctl waits up to --wait ms for the answers still due.\n"
         "\n"
         "Options:\n"
         "  --host ADDR   daemon address (default 127.0.0.1)\n"
         "  --port N      controller port (default 20001)\n"
         "  --wait MS     how long to try to connect, and to wait for answers at the end\n"
         "                of input (default 5000)\n"
         "  --help        this text\n"
         "\n"
         "Exit status: 0 done; 1 an expectation failed or the connection was lost;\n"
         "2 bad usage, a message that does not parse, or no connection.\n";
}

bool number(const char* text, unsigned& value) {
  char* end = nullptr;
  const unsigned long v = std::strtoul(text, &end, 10);
  if (!*text || *end || v > 0xFFFFFFFFul) return false;
  value = static_cast<unsigned>(v);
  return true;
}

// Whole messages from standard input, read through the loop.
class Input {
 public:
  explicit Input(lgcpctl::Client& client) : client_(client) {
    event_.Bind("Input::OnRead", &Input::OnRead, this);
    event_.Schedule(STDIN_FILENO, POLLIN);
  }
  bool done() const { return done_; }
  bool failed() const { return failed_; }

 private:
  void OnRead(int fd, short revents) {
    if (!(revents & (POLLIN | POLLHUP | POLLERR))) return;
    char buf[4096];
    const ssize_t n = ::read(fd, buf, sizeof buf);
    if (n <= 0) {
      event_.Release();
      done_ = true;
      if (!lgcpctl::OneLine(text_).empty()) Take();
      return;
    }
    for (ssize_t i = 0; i < n; ++i) {
      text_ += buf[i];
      if (buf[i] == '"') quoted_ = !quoted_;
      if (quoted_) continue;
      if (buf[i] == '{') ++depth_;
      if (buf[i] == '}' && --depth_ == 0) Take();
      if (buf[i] == '\n' && depth_ == 0 && lgcpctl::OneLine(text_).empty()) text_.clear();
    }
  }
  void Take() {
    if (!client_.Send(text_)) failed_ = true;
    text_.clear();
    depth_ = 0;
  }

  lgcpctl::Client& client_;
  Event event_;
  std::string text_;
  int depth_ = 0;
  bool quoted_ = false;
  bool done_ = false;
  bool failed_ = false;
};

int interactive(lgcpctl::Client& client, unsigned wait_ms) {
  Input input(client);
  while (!input.done() && !client.lost()) client.Pump(1000);
  const std::uint32_t start = Mux::milliseconds();
  while (!client.lost() && client.responses() < client.sent_commands() && Mux::milliseconds() - start < wait_ms)
    client.Pump(wait_ms - (Mux::milliseconds() - start));
  if (input.failed()) return 2;
  return client.lost() ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::string host = "127.0.0.1";
  unsigned port = 20001;
  unsigned wait_ms = 5000;
  int i = 1;
  for (; i < argc && std::strncmp(argv[i], "--", 2) == 0; ++i) {
    const std::string option = argv[i];
    if (option == "--help") {
      std::cout << usage();
      return 0;
    }
    if (i + 1 >= argc) {
      std::cerr << "lgcpctl: " << option << " needs a value\n" << usage();
      return 2;
    }
    const char* value = argv[++i];
    if (option == "--host") {
      host = value;
    } else if ((option == "--port" && (!number(value, port) || port == 0 || port > 65535)) ||
               (option == "--wait" && !number(value, wait_ms)) || (option != "--port" && option != "--wait")) {
      std::cerr << "lgcpctl: bad option " << option << " " << value << "\n" << usage();
      return 2;
    }
  }

  // The steps are checked before anything is sent.
  struct Step {
    std::string verb, message;
    unsigned ms;
  };
  std::vector<Step> steps;
  while (i < argc) {
    const std::string verb = argv[i++];
    Step step{verb, "", 5000};
    if ((verb == "send" || verb == "expect") && i < argc) {
      step.message = argv[i++];
      if (verb == "expect" && i < argc && number(argv[i], step.ms)) ++i;
    } else if (!(verb == "listen" && i < argc && number(argv[i++], step.ms))) {
      std::cerr << "lgcpctl: bad step " << verb << "\n" << usage();
      return 2;
    }
    steps.push_back(step);
  }

  lgcpctl::Client client(host, static_cast<unsigned short>(port), std::cout);
  if (!client.Connect(wait_ms)) {
    std::cerr << "lgcpctl: no connection to " << host << ":" << port << " within " << wait_ms << " ms" << std::endl;
    return 2;
  }
  if (steps.empty()) return interactive(client, wait_ms);
  for (const Step& step : steps) {
    if (step.verb == "send") {
      if (!client.Send(step.message)) return 2;
    } else if (step.verb == "expect") {
      if (!client.Expect(step.message, step.ms)) return 1;
    } else {
      client.Listen(step.ms);
    }
  }
  return 0;
}
