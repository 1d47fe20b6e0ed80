#include "runtime/child_wait.h"

#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "platform/sysroot.h"
#include "runtime/ipc_signal.h"
#include "tests/child_records.h"
#include "tests/children.h"
#include "tests/e2e/process_scan.h"
#include "tests/runtime/run_loop.h"
#include "tests/skip_reason.h"
#include "tests/deadline.h"
#include "tests/stream_capture.h"

namespace child_wait_test {  // named: see "Unity builds" in tests/README.md

std::vector<int>& toldPids() {
  static std::vector<int> pids;
  return pids;
}

// Activates the service for one test and puts everything back afterwards:
// the handler reaps every child of the process while it is installed.
class ChildWaitTest : public testing::Test {
 protected:
  void SetUp() override {
    toldPids().clear();
    ChildWait::Activate();
    ASSERT_NE(ChildWaitService::childWaitService, nullptr);
    ASSERT_TRUE(ChildWaitService::childWaitService->writeEnd().valid());
  }
  void TearDown() override {
    children_.end();
    ChildWaitService::Listen(nullptr);
    IPC::Signal::system(SIGCHLD);
    ChildWait::Cleanup();
    ChildWait::Initialize();
  }

  e2e::Process spawnExit(int code) {
    return children_.start([code] { return code; });
  }
  // A child that waits for a signal, sent sig.
  e2e::Process spawnKilled(int sig) {
    const e2e::Process child = children_.start([] {
      for (;;) ::pause();
      return 0;
    });
    if (child.pid > 0) ::kill(child.pid, sig);
    return child;
  }
  // A shell that dumps core in dir, with SIGQUIT's default disposition
  // whatever the test was started with, and the soft core limit at `core`.
  static int dumpCore(const std::string& dir, rlim_t core) {
    rlimit limit;
    if (::getrlimit(RLIMIT_CORE, &limit) != 0) return 1;
    limit.rlim_cur = core;
    sigset_t quit;
    ::sigemptyset(&quit);
    ::sigaddset(&quit, SIGQUIT);
    if (::setrlimit(RLIMIT_CORE, &limit) != 0 || ::chdir(dir.c_str()) != 0 || ::signal(SIGQUIT, SIG_DFL) == SIG_ERR ||
        ::sigprocmask(SIG_UNBLOCK, &quit, nullptr) != 0)
      return 1;
    ::execlp("sh", "sh", "-c", "kill -QUIT $$", static_cast<char*>(nullptr));
    return 127;
  }

  testkit::StreamCapture log_{std::clog};
  testkit::Children children_;
};

struct Owner {
  ChildWait wait;
  std::vector<int> statuses;
  Owner() { wait.Bind(this, &Owner::OnExit); }
  void OnExit(int status) { statuses.push_back(status); }
};

std::string line(pid_t pid, int status) {
  return "terminate child process, pid=" + std::to_string(pid) + " status=" + std::to_string(status) + "\n";
}

// A pipe whose ends are closed on every return.
struct Pipe {
  int fd[2] = {-1, -1};
  Pipe() {
    if (::pipe(fd) != 0) fd[0] = fd[1] = -1;
  }
  ~Pipe() {
    close(0);
    close(1);
  }
  void close(int end) {
    if (fd[end] >= 0) ::close(fd[end]);
    fd[end] = -1;
  }
};

// A folder of its own for the test's core dumps, removed with them.
struct CoreFolder {
  std::string dir = (std::filesystem::temp_directory_path() / "kv-core.XXXXXX").string();
  bool made = ::mkdtemp(dir.data()) != nullptr;
  ~CoreFolder() {
    std::error_code ec;
    if (made) std::filesystem::remove_all(dir, ec);
  }
};

// The soft core limit the dumping children take: the hard one, unless the
// kernel hands dumps to a collector (a core_pattern that pipes): there the
// dump is passed over rather than leave a crash record at every run, as a
// limit of 1 makes the kernel drop it. Why in *passed.
rlim_t coreLimit(std::string* passed) {
  rlimit limit{0, 0};
  ::getrlimit(RLIMIT_CORE, &limit);
  std::ifstream pattern(std::string(sysroot::proc_dir) + "/" + "sys/kernel/core_pattern");
  std::string first;
  if (!std::getline(pattern, first) || first.rfind('|', 0) != 0) return limit.rlim_max;
  *passed = "core_pattern hands dumps to a collector (\"" + first +
            "\"): the dump is passed over rather than leave a crash record at every run";
  return std::min<rlim_t>(1, limit.rlim_max);
}

TEST_F(ChildWaitTest, ChildrenEndingBeforeTheLoopRunsAreEachReportedOnceWithTheirOwnStatus) {
  CoreFolder cores;
  ASSERT_TRUE(cores.made) << std::strerror(errno);
  const std::string rowDumps = cores.dir + "/row", ownDumps = cores.dir + "/own";
  ASSERT_TRUE(std::filesystem::create_directory(rowDumps) && std::filesystem::create_directory(ownDumps));
  std::string passedOver;
  const rlim_t core = coreLimit(&passedOver);
  // What the kernel gives for a child dumped that way, as its parent reaps
  // it with waitpid: the status the loop must report. A child of the test
  // reaps it, out of the handler's reach, and passes it on.
  Pipe status;
  ASSERT_GE(status.fd[0], 0) << std::strerror(errno);
  const e2e::Process reaper = children_.start([&] {
    status.close(0);
    ::signal(SIGCHLD, SIG_DFL);  // not the loop's handler: this child reaps its own
    const pid_t dumper = ::fork();
    if (dumper == 0) ::_exit(dumpCore(ownDumps, core));
    int st = 0;
    if (dumper < 0 || ::waitpid(dumper, &st, 0) != dumper) return 1;
    return ::write(status.fd[1], &st, sizeof st) == static_cast<ssize_t>(sizeof st) ? 0 : 1;
  });
  status.close(1);
  int dump = -1;
  const bool heard = reaper.pid > 0 && ::read(status.fd[0], &dump, sizeof dump) == static_cast<ssize_t>(sizeof dump);
  ASSERT_GT(reaper.pid, 0) << children_.why();
  ASSERT_TRUE(heard) << "no status of the dumped child: its fork was refused, or it could not be reaped";
  ASSERT_TRUE(dump == SIGQUIT || dump == (SIGQUIT | WCOREFLAG)) << dump;
  // Its end is read before the row's children start.
  ASSERT_TRUE(runLoopUntil([&] { return log_.str().find(line(reaper.pid, 0)) != std::string::npos; })) << log_.str();

  Owner exited, killed, dumped;
  const e2e::Process a = spawnExit(3);
  ASSERT_GT(a.pid, 0) << children_.why();
  exited.wait.Attach(a.pid);
  const e2e::Process b = spawnKilled(SIGKILL);
  ASSERT_GT(b.pid, 0) << children_.why();
  killed.wait.Attach(b.pid);
  const e2e::Process d = children_.start([&] { return dumpCore(rowDumps, core); });
  ASSERT_GT(d.pid, 0) << children_.why();
  dumped.wait.Attach(d.pid);
  const e2e::Process nobody = spawnExit(0);  // nobody waits for this one
  ASSERT_GT(nobody.pid, 0) << children_.why();
  const std::vector<e2e::Process> children{a, b, d, nobody};
  const pid_t pids[] = {a.pid, b.pid, d.pid, nobody.pid};

  // All four are reaped by the signal handler before the loop reads.
  ASSERT_TRUE(testkit::waitFor([&] { return std::all_of(children.begin(), children.end(), e2e::gone); }));
  // Collected ends reach their watchers from the loop, not before, though
  // nothing is left in the pair to wake it (a second collect in the same
  // pass finds only the record that wakes it), and never to a watcher
  // attached since under one of their pids.
  std::vector<int> told;
  ChildWaitService::Listen(+[](int pid) { toldPids().push_back(pid); });
  ChildWaitService::childWaitService->Collect();
  ChildWaitService::childWaitService->Collect();
  ChildWaitService::Listen(nullptr);
  // One attached since under each pid: whichever end was read last, none
  // is theirs.
  Owner later[4];
  for (int i = 0; i < 4; ++i) later[i].wait.Attach(pids[i]);
  EXPECT_TRUE(exited.wait.ended());
  EXPECT_TRUE(killed.wait.ended());
  EXPECT_TRUE(dumped.wait.ended());
  for (const Owner& l : later) EXPECT_FALSE(l.wait.ended()) << l.wait.pid();
  told.swap(toldPids());
  std::sort(told.begin(), told.end());
  std::vector<int> all(std::begin(pids), std::end(pids));
  std::sort(all.begin(), all.end());
  EXPECT_EQ(told, all);
  EXPECT_TRUE(exited.statuses.empty() && killed.statuses.empty() && dumped.statuses.empty());

  ASSERT_TRUE(runLoopUntil(
      [&] { return !exited.statuses.empty() && !killed.statuses.empty() && !dumped.statuses.empty(); }));
  EXPECT_EQ(exited.statuses, std::vector<int>{768});  // exit code 3
  EXPECT_EQ(killed.statuses, std::vector<int>{SIGKILL});
  EXPECT_EQ(dumped.statuses, std::vector<int>{dump});
  for (const Owner& l : later) {
    EXPECT_TRUE(l.statuses.empty()) << l.wait.pid();
    EXPECT_TRUE(l.wait.attached()) << l.wait.pid();
  }
  EXPECT_FALSE(exited.wait.attached());
  EXPECT_FALSE(killed.wait.attached());

  ASSERT_TRUE(runLoopUntil([&] { return log_.str().find(line(nobody.pid, 0)) != std::string::npos; })) << log_.str();
  const std::string text = log_.str();
  EXPECT_NE(text.find(line(a.pid, 768)), std::string::npos) << text;
  EXPECT_NE(text.find(line(b.pid, SIGKILL)), std::string::npos) << text;
  EXPECT_NE(text.find(line(d.pid, dump)), std::string::npos) << text;
  multiplexer.run_once(0);
  EXPECT_EQ(exited.statuses.size() + killed.statuses.size() + dumped.statuses.size(), 3u);
  if (!WCOREDUMP(dump))
    GTEST_SKIP() << testkit::noCoreDumps(
        passedOver.empty() ? "the kernel wrote no core dump here (a core limit of " +
                                 (core == RLIM_INFINITY ? std::string("unlimited") : std::to_string(core)) +
                                 "): the status of a dumped child is not shown"
                           : passedOver);
}

// Twice as many children as the pair holds end while the loop does not
// read, the watched one last: none is reaped before its record is in the
// pair, so the last stays a zombie, and once the loop reads, every end
// comes once with its own status. So too when the ends are collected, as
// before every fork, which leaves no reaped child's end unread (a new
// child could take its pid and hear it), and when more children keep
// ending while the loop reads, the handler running between any two of its
// steps.
TEST_F(ChildWaitTest, MoreEndsThanThePairHoldsAreEachDeliveredOnceTheLoopReads) {
  const std::size_t room = testkit::childRecordRoom();
  ASSERT_GT(room, 0u);
  enum Read { byTheLoop, collected, amidMoreEnds };
  const struct {
    const char* name;
    Read read;
  } cases[] = {{"read by the loop", byTheLoop},
               {"collected, as before a fork", collected},
               {"read while more children end", amidMoreEnds}};
  for (const auto& k : cases) {
    SCOPED_TRACE(k.name);
    // The storm must have reached the loop while it read: a round where
    // it did not runs again.
    bool raced = false;
    for (int round = 0; round < (k.read == amidMoreEnds ? 5 : 1) && !raced; ++round) {
      log_.clear();
      // The others wait for its write end to close, on every return.
      Pipe release;
      ASSERT_GE(release.fd[0], 0) << std::strerror(errno);
      std::vector<e2e::Process> others;
      for (std::size_t i = 0; i < 2 * room; ++i) {
        const e2e::Process other = children_.start([&] {
          release.close(1);
          char c;
          return ::read(release.fd[0], &c, 1) == 0 ? static_cast<int>(i % 256) : 255;
        });
        ASSERT_GT(other.pid, 0) << children_.why() << ", after " << i << " of the others";
        others.push_back(other);
      }
      release.close(0);
      // Those that end one at a time while the loop reads, once the others
      // have.
      std::vector<pid_t> more;
      const auto paused = [&] {
        release.close(1);
        for (;;) ::pause();
        return 0;
      };
      for (std::size_t i = 0; k.read == amidMoreEnds && i < room / 2; ++i) {
        const e2e::Process one = children_.start(paused);
        ASSERT_GT(one.pid, 0) << children_.why() << ", after " << i << " of those that end while the loop reads";
        more.push_back(one.pid);
      }
      Owner watched;
      const e2e::Process lastOne = children_.start(paused);
      ASSERT_GT(lastOne.pid, 0) << children_.why() << ", for the watched child";
      const pid_t last = lastOne.pid;
      watched.wait.Attach(last);
      release.close(1);
      ASSERT_TRUE(testkit::waitFor([&] { return std::all_of(others.begin(), others.end(), e2e::ended); }));
      ::kill(last, SIGKILL);
      ASSERT_TRUE(testkit::waitFor([&] { return e2e::ended(lastOne); }));
      // The race ran: the pair was full when the last one ended, which is
      // still a zombie.
      EXPECT_FALSE(e2e::gone(lastOne)) << "reaped with " << room << " records in the pair";

      static std::atomic<std::size_t> reads;
      reads = 0;
      ChildWaitService::Listen(+[](int pid) {
        toldPids().push_back(pid);
        ++reads;
      });
      toldPids().clear();
      if (k.read == collected) {
        ChildWaitService::childWaitService->Collect();
        std::vector<int> told = toldPids(), all{last};
        for (const e2e::Process& o : others) all.push_back(o.pid);
        std::sort(told.begin(), told.end());
        std::sort(all.begin(), all.end());
        EXPECT_EQ(told, all) << "ends left unread";
        EXPECT_TRUE(e2e::gone(lastOne)) << "left a zombie";
        EXPECT_TRUE(watched.wait.ended());
      }
      if (k.read == amidMoreEnds) {
        // Each of the others ends once the loop has read an end since the
        // one before; the loop reads all the while. SIGCHLD goes to the
        // loop's thread, as in the daemon.
        sigset_t chld, before;
        ::sigemptyset(&chld);
        ::sigaddset(&chld, SIGCHLD);
        ::pthread_sigmask(SIG_BLOCK, &chld, &before);
        std::thread ender([&] {
          const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
          std::minstd_rand pause;
          for (std::size_t i = 0; i < more.size(); ++i) {
            const std::size_t seen = reads;
            // At no fixed step of the loop's.
            const auto at = std::chrono::steady_clock::now() + std::chrono::microseconds(pause() % 50);
            while (std::chrono::steady_clock::now() < at) {
            }
            ::kill(more[i], SIGKILL);
            while (reads == seen && std::chrono::steady_clock::now() < deadline) std::this_thread::yield();
          }
        });
        ::pthread_sigmask(SIG_SETMASK, &before, nullptr);
        // The handler as installed, and a count of its runs within the
        // loop's reading.
        static std::atomic<bool> reading;
        static std::atomic<int> heard;
        reading = false;
        heard = 0;
        IPC::Signal::handle(
            SIGCHLD,
            +[](int sig) {
              if (reading) ++heard;
              ChildWaitService::SigChldHandlerWrapper(sig);
            },
            SA_RESTART);
        const std::size_t total = others.size() + 1 + more.size();
        testkit::until([&] { return reads >= total; }, std::chrono::seconds(10), [] {
          reading = true;
          ChildWaitService::childWaitService->Drain();
          reading = false;
        });
        ender.join();
        IPC::Signal::handle(SIGCHLD, &ChildWaitService::SigChldHandlerWrapper, SA_RESTART);
        raced = heard > 0;
      } else {
        raced = true;
      }

      ASSERT_TRUE(runLoopUntil([&] { return !watched.statuses.empty(); })) << "the watched end is lost";
      EXPECT_EQ(watched.statuses, std::vector<int>{SIGKILL});
      multiplexer.run_once(0);
      ChildWaitService::Listen(nullptr);
      const std::string text = log_.str();
      const auto count = [&](const std::string& what) {
        std::size_t n = 0;
        for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
        return n;
      };
      for (std::size_t i = 0; i < others.size(); ++i) {
        EXPECT_EQ(count(line(others[i].pid, static_cast<int>(i % 256) << 8)), 1u) << others[i].pid;
        EXPECT_TRUE(e2e::gone(others[i])) << others[i].pid;
      }
      for (pid_t m : more) EXPECT_EQ(count(line(m, SIGKILL)), 1u) << m;
      EXPECT_EQ(count("terminate child process"), others.size() + 1 + more.size());
    }
    if (!raced) ADD_FAILURE() << "not exercised: no child ended while the loop read, 5 rounds";
  }
}

// A watcher is out of the list before its member runs: the member may
// destroy it. Attaching twice lists it once; a detached watcher hears
// nothing.
struct SelfDestroying {
  std::unique_ptr<ChildWait> wait{new ChildWait};
  int calls = 0;
  void OnExit(int) {
    ++calls;
    wait.reset();
  }
};

TEST_F(ChildWaitTest, WatcherMayDestroyItselfAndADetachedWatcherIsNotCalled) {
  SelfDestroying self;
  self.wait->Bind(&self, &SelfDestroying::OnExit);
  Owner detached, rebound;
  const pid_t a = spawnExit(1).pid;
  ASSERT_GT(a, 0) << children_.why();
  self.wait->Attach(a);
  self.wait->Attach(a);
  const pid_t b = spawnExit(2).pid;
  ASSERT_GT(b, 0) << children_.why();
  detached.wait.Attach(b);
  detached.wait.Detach();
  // Binding again replaces the handler: the first owner is not called.
  Owner other;
  const pid_t c = spawnExit(4).pid;
  ASSERT_GT(c, 0) << children_.why();
  rebound.wait.Attach(c);
  rebound.wait.Bind(&other, &Owner::OnExit);

  ASSERT_TRUE(runLoopUntil([&] {
    const std::string t = log_.str();
    return t.find(line(a, 256)) != std::string::npos && t.find(line(b, 512)) != std::string::npos &&
           t.find(line(c, 1024)) != std::string::npos;
  })) << log_.str();
  EXPECT_EQ(self.calls, 1);
  EXPECT_EQ(self.wait, nullptr);
  EXPECT_TRUE(detached.statuses.empty());
  EXPECT_TRUE(rebound.statuses.empty());
  EXPECT_EQ(other.statuses, std::vector<int>{1024});
}

// The handler runs between any two instructions of the loop: it must leave
// errno as it found it, and must never block on a pair the loop has not
// read.
TEST_F(ChildWaitTest, SignalHandlerKeepsErrnoAndItsEndOfThePairIsNonBlocking) {
  const int fd = ChildWaitService::childWaitService->writeEnd().get();
  EXPECT_TRUE(::fcntl(fd, F_GETFL) & O_NONBLOCK);
  EXPECT_TRUE(::fcntl(fd, F_GETFD) & FD_CLOEXEC);
  EXPECT_TRUE(::fcntl(ChildWaitService::childWaitService->event().fd().get(), F_GETFL) & O_NONBLOCK);

  const e2e::Process a = spawnExit(0);
  ASSERT_GT(a.pid, 0) << children_.why();
  ASSERT_TRUE(testkit::waitFor([&] { return e2e::gone(a); }));
  errno = EAGAIN;
  ChildWaitService::SigChldHandlerWrapper(SIGCHLD);  // waitpid ends with ECHILD
  EXPECT_EQ(errno, EAGAIN);

  struct sigaction sa;
  ::sigaction(SIGCHLD, nullptr, &sa);
  EXPECT_TRUE(sa.sa_flags & SA_RESTART);
}

}  // namespace child_wait_test
