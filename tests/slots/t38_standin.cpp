// Stands in for the board's T.38 program in tests. A test installs it under
// the daemon's root at the program's path; it keeps its records in
// $KORVEND_ROOT/t38/ (the daemon passes its environment on):
//
//   t38 --num-of-instances   prints the first line of t38/instances, or
//                            nothing when there is no such file, after
//                            sleeping the milliseconds t38/instances-delay
//                            holds, if any;
//   t38 --child ...          writes its argv, one argument a line, to
//                            t38/<pid>.argv, then appends what it reads on
//                            its standard input to t38/<pid>.in. When
//                            t38/exit holds "BYTES CODE" it exits with CODE
//                            once it has read BYTES octets; otherwise it
//                            reads until the end of its input and exits 0.
//                            When t38/ignore-term exists it ignores SIGTERM.
//                            When t38/child-ignoring-term exists it first
//                            starts a child that ignores SIGTERM and waits,
//                            and writes its pid to t38/<pid>.child; when
//                            t38/helper-holding-input exists, the same with
//                            a child that also ignores SIGHUP and keeps the
//                            standard input (the slot's channel) open;
//                            when t38/helper-ending-on-term exists, one
//                            that keeps it open and takes SIGTERM's
//                            default; when t38/helper-forking-into-group
//                            exists, one like the holding helper that,
//                            once t38/fork-now exists, starts a child of
//                            its own (ignoring SIGTERM and SIGHUP, holding
//                            the input), writes its pid to
//                            t38/<pid>.grandchild and exits; when
//                            t38/helper-leaving-group exists, one like the
//                            holding helper that, once t38/leave-now
//                            exists, moves to a process group of its own
//                            and writes its pid to t38/<pid>.left. When
//                            t38/orphans holds N it starts N children
//                            that wait for a signal, holding nothing.
//
// The records are written under a temporary name and renamed, so a test
// that sees a file sees it whole.
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <time.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

namespace {

std::string dir() {
  const char* root = std::getenv("KORVEND_ROOT");
  return std::string(root ? root : ".") + "/t38/";
}

void writeWhole(const std::string& path, const std::string& text) {
  const std::string temp = path + ".tmp";
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    out << text;
  }
  std::rename(temp.c_str(), path.c_str());
}

std::string readWhole(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// A refused fork ends the program saying so, rather than name pid -1 in
// its files.
int refused(const char* what) {
  std::fprintf(stderr, "t38 stand-in: could not fork %s: %s\n", what, std::strerror(errno));
  return 3;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && std::strcmp(argv[1], "--num-of-instances") == 0) {
    long delay = 0;
    std::istringstream(readWhole(dir() + "instances-delay")) >> delay;
    struct timespec left = {delay / 1000, (delay % 1000) * 1000000};
    while (::nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
    std::ifstream in(dir() + "instances");
    std::string line;
    if (std::getline(in, line)) std::printf("%s\n", line.c_str());
    return 0;
  }
  ::mkdir(dir().c_str(), 0755);
  if (::access((dir() + "ignore-term").c_str(), F_OK) == 0) ::signal(SIGTERM, SIG_IGN);
  const std::string me = dir() + std::to_string(::getpid());
  const bool holding = ::access((dir() + "helper-holding-input").c_str(), F_OK) == 0;
  const bool ending = ::access((dir() + "helper-ending-on-term").c_str(), F_OK) == 0;
  const bool forking = ::access((dir() + "helper-forking-into-group").c_str(), F_OK) == 0;
  const bool leaving = ::access((dir() + "helper-leaving-group").c_str(), F_OK) == 0;
  if (holding || ending || forking || leaving || ::access((dir() + "child-ignoring-term").c_str(), F_OK) == 0) {
    const pid_t child = ::fork();
    if (child < 0) return refused("its helper");
    if (child == 0) {
      if (!ending) ::signal(SIGTERM, SIG_IGN);
      if (holding || forking || leaving)
        ::signal(SIGHUP, SIG_IGN);
      else if (!ending)
        ::close(0);
      while (leaving && ::access((dir() + "leave-now").c_str(), F_OK) != 0) ::usleep(10000);
      if (leaving) {
        ::setpgid(0, 0);
        writeWhole(me + ".left", std::to_string(::getpid()));
      }
      while (forking && ::access((dir() + "fork-now").c_str(), F_OK) != 0) ::usleep(10000);
      if (forking) {
        const pid_t grandchild = ::fork();
        if (grandchild < 0) ::_exit(refused("the helper's child"));
        if (grandchild == 0)
          for (;;) ::pause();
        writeWhole(me + ".grandchild", std::to_string(grandchild));
        ::_exit(0);
      }
      for (;;) ::pause();
    }
    writeWhole(me + ".child", std::to_string(child));
  }
  long orphans = 0;
  std::istringstream(readWhole(dir() + "orphans")) >> orphans;
  for (long i = 0; i < orphans; ++i) {
    const pid_t orphan = ::fork();
    if (orphan < 0) return refused("an orphan");
    if (orphan == 0) {
      ::close(0);
      for (;;) ::pause();
    }
  }
  std::string args;
  for (int i = 0; i < argc; ++i) args += std::string(argv[i]) + "\n";
  writeWhole(me + ".argv", args);

  long limit = -1;
  int code = 0;
  std::istringstream(readWhole(dir() + "exit")) >> limit >> code;
  std::string input;
  char buf[4096];
  while (limit < 0 || static_cast<long>(input.size()) < limit) {
    const ssize_t n = ::read(0, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    input.append(buf, static_cast<std::size_t>(n));
    writeWhole(me + ".in", input);
  }
  return limit >= 0 ? code : 0;
}
