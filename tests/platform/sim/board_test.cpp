#include "platform/sim/board.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "platform/drv.h"
#include "platform/sysroot.h"
#include "runtime/multiplexer.h"
#include "tests/stream_capture.h"
#include "tests/temp_root.h"

namespace {

// A device that answers one request, echoes frames back and counts closes.
struct EchoDevice : sim::Device {
  static int closes;
  int ioctl_ptr(unsigned long code, void* rec, std::size_t size) override {
    if (code != 0xC0084801u || size != 4) return sim::Device::ioctl_ptr(code, rec, size);
    auto* bytes = static_cast<unsigned char*>(rec);
    bytes[3] = 0x2A;
    return 0;
  }
  int ioctl_val(unsigned long code, unsigned long value) override {
    return code == 0x20004D02u ? static_cast<int>(value) + 1 : sim::Device::ioctl_val(code, value);
  }
  void on_write(const std::uint8_t* data, std::size_t len) override { send(data, len); }
  void on_close() override { ++closes; }
};
int EchoDevice::closes = 0;

struct Refusing : sim::DeviceModel {
  std::unique_ptr<sim::Device> open(const std::string&, int) override {
    errno = EBUSY;
    return nullptr;
  }
};

class BoardTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(root_.ok());
    board().add_model(sysroot::hal, std::make_unique<sim::ModelOf<EchoDevice>>());
    board().add_model(sysroot::mcc_ctl, std::make_unique<Refusing>());
    // Devices an earlier test left open are closed, and journalled, first.
    for (int i = 0; i < 3; ++i) multiplexer.run_once(0);
    board().clear_journal();
    drv::install(&board());
  }
  void TearDown() override {
    board().close_control();
    drv::install(nullptr);
    for (int i = 0; i < 3; ++i) multiplexer.run_once(0);  // let closed devices go
  }
  static sim::Board& board() { return sim::Board::instance(); }
  TempRoot root_;
};

TEST_F(BoardTest, ModelledDeviceAnswersRequestsAndTheJournalRecordsThem) {
  int fd = drv::open(sysroot::hal, O_RDWR | O_NONBLOCK);
  ASSERT_GE(fd, 0);
  EXPECT_TRUE(::fcntl(fd, F_GETFL) & O_NONBLOCK);
  unsigned char rec[4] = {0x00, 0x00, 0x20, 0x00};
  EXPECT_EQ(drv::ioctl_ptr(fd, 0xC0084801u, rec, sizeof rec), 0);
  EXPECT_EQ(rec[3], 0x2A);
  int copy = ::dup(fd);  // a duplicate reaches the same device
  EXPECT_EQ(drv::ioctl_val(copy, 0x20004D02u, 5), 6);
  errno = 0;
  EXPECT_EQ(drv::ioctl_val(copy, 0x1234u, 1), -1);
  EXPECT_EQ(errno, ENOTTY);
  EXPECT_EQ(drv::open(sysroot::mcc_ctl, O_RDWR), -1);
  EXPECT_EQ(errno, EBUSY);
  ::close(copy);
  ::close(fd);
  const int closesBefore = EchoDevice::closes;
  multiplexer.run_once(1000);
  EXPECT_EQ(EchoDevice::closes, closesBefore + 1);
  EXPECT_EQ(board().journal(), (std::vector<std::string>{
                                   "open /dev/hal rdwr|nonblock -> 0",
                                   "ioctl /dev/hal 0xC0084801 rec=00 00 20 00 -> 0",
                                   "ioctl /dev/hal 0x20004D02 val=5 -> 6",
                                   "ioctl /dev/hal 0x00001234 val=1 -> -1 ENOTTY",
                                   "open /dev/mcc/ctl rdwr -> -1 EBUSY",
                                   "close /dev/hal",
                               }));
}

TEST_F(BoardTest, EachWriteIsOneFrameAndEachSendOneRead) {
  int fd = drv::open(sysroot::hal, O_RDWR | O_NONBLOCK);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::write(fd, "abc", 3), 3);
  ASSERT_EQ(::write(fd, "de", 2), 2);
  char buf[16];
  EXPECT_EQ(::read(fd, buf, sizeof buf), -1);  // nothing yet: the loop has not run
  EXPECT_EQ(errno, EAGAIN);
  multiplexer.run_once(1000);
  EXPECT_EQ(::read(fd, buf, sizeof buf), 3);
  EXPECT_EQ(std::string(buf, 3), "abc");
  EXPECT_EQ(::read(fd, buf, sizeof buf), 2);
  int second = drv::open(sysroot::hal, O_RDWR);
  std::vector<sim::Device*> open = board().devices(sysroot::hal);
  ASSERT_EQ(open.size(), 2u);
  EXPECT_EQ(board().device_of(fd), open[0]);  // oldest first
  EXPECT_EQ(board().device_of(second), open[1]);
  ASSERT_TRUE(open[1]->send("ev", 2));
  EXPECT_EQ(::read(second, buf, sizeof buf), 2);
  ::close(second);
  ::close(fd);
}

// Sends request lines over the control socket and returns what came back
// up to the last status line.
std::string converse(const std::string& requests, int replies) {
  int s = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  const std::string path = sysroot::path(sysroot::sim_board_socket);
  std::strncpy(addr.sun_path, path.c_str(), sizeof addr.sun_path - 1);
  EXPECT_EQ(::connect(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  EXPECT_EQ(::write(s, requests.data(), requests.size()), static_cast<ssize_t>(requests.size()));
  std::string got;
  int seen = 0;
  for (int pass = 0; pass < 200 && seen < replies; ++pass) {
    multiplexer.run_once(50);
    char buf[4096];
    ssize_t n;
    while ((n = ::recv(s, buf, sizeof buf, MSG_DONTWAIT)) > 0) got.append(buf, static_cast<std::size_t>(n));
    seen = 0;
    std::size_t at = 0;
    for (std::size_t nl; (nl = got.find('\n', at)) != std::string::npos; at = nl + 1) {
      const std::string line = got.substr(at, nl - at);
      if (line == "." || line.rfind("? ", 0) == 0) ++seen;
    }
  }
  ::close(s);
  return got;
}

TEST_F(BoardTest, ControlSocketAnswersOneReplyPerLineEndedByAStatusLine) {
  ASSERT_TRUE(board().listen());
  board().record("open /dev/hal rdwr -> 0");
  board().record(".hidden");
  board().add_command("echo", "echo WORDS: the words back", [](const sim::Board::Args& a, sim::Board::Reply& r) {
    if (a.empty()) return r.fail("nothing to echo");
    for (const auto& w : a) r.line(w);
  });
  EXPECT_EQ(converse("journal\r\nbogus x\necho ?q a\necho\njournal clear\njournal\n", 6),
            "open /dev/hal rdwr -> 0\n..hidden\n.\n"
            "? unknown command 'bogus' (try help)\n"
            ".?q\na\n.\n"
            "? nothing to echo\n"
            ".\n"
            ".\n");
  EXPECT_TRUE(board().journal().empty());
}

// A control client on a non-blocking socket whose waits are passes of the
// loop that serves it.
class ControlClient {
 public:
  ControlClient() : fd_(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0)) {
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    const std::string path = sysroot::path(sysroot::sim_board_socket);
    std::strncpy(addr.sun_path, path.c_str(), sizeof addr.sun_path - 1);
    connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
  }
  ~ControlClient() { ::close(fd_); }
  bool connected() const { return connected_; }
  // Writes what the socket takes, a loop pass between writes, until all is
  // written (true) or the board has dropped the client (false).
  bool write(const std::string& data) {
    for (std::size_t at = 0; at < data.size();) {
      const ssize_t n = ::send(fd_, data.data() + at, data.size() - at, MSG_NOSIGNAL);
      if (n > 0)
        at += static_cast<std::size_t>(n);
      else if (errno != EAGAIN)
        return false;
      multiplexer.run_once(0);
    }
    return true;
  }
  // Reads, a loop pass between reads, until the text ends with `tail` or
  // the board closes.
  std::string readUntil(const std::string& tail) {
    std::string got;
    for (int pass = 0; pass < 2000; ++pass) {
      multiplexer.run_once(5);
      char buf[65536];
      ssize_t n;
      while ((n = ::recv(fd_, buf, sizeof buf, 0)) > 0) got.append(buf, static_cast<std::size_t>(n));
      if (n == 0 || (got.size() >= tail.size() && got.compare(got.size() - tail.size(), tail.size(), tail) == 0))
        break;
    }
    return got;
  }
  // True once the board has closed its end.
  bool closedByBoard() {
    for (int pass = 0; pass < 200; ++pass) {
      multiplexer.run_once(5);
      char buf[65536];
      ssize_t n;
      while ((n = ::recv(fd_, buf, sizeof buf, 0)) > 0) {
      }
      if (n == 0 || (n < 0 && errno != EAGAIN)) return true;
    }
    return false;
  }

 private:
  int fd_;
  bool connected_ = false;
};

std::vector<std::string> linesOf(const std::string& text) {
  std::vector<std::string> out;
  std::size_t at = 0;
  for (std::size_t nl; (nl = text.find('\n', at)) != std::string::npos; at = nl + 1) out.push_back(text.substr(at, nl - at));
  return out;
}

// The board runs for days: its journal keeps the latest lines and says how
// many older ones went.
TEST_F(BoardTest, JournalKeepsTheLatestLinesAndCountsTheDroppedOnes) {
  ASSERT_TRUE(board().listen());
  const std::size_t keep = sim::Board::journal_lines;
  for (std::size_t i = 0; i < keep + 5; ++i) board().record("request " + std::to_string(i));
  const std::vector<std::string> kept = board().journal();
  ASSERT_EQ(kept.size(), keep);
  EXPECT_EQ(kept.front(), "request 5");
  EXPECT_EQ(kept.back(), "request " + std::to_string(keep + 4));
  EXPECT_EQ(board().journal_dropped(), 5u);

  ControlClient c;
  ASSERT_TRUE(c.connected());
  ASSERT_TRUE(c.write("journal\n"));
  const std::vector<std::string> reply = linesOf(c.readUntil("\n.\n"));
  ASSERT_EQ(reply.size(), keep + 2);
  EXPECT_EQ(reply[0], "journal: 5 earlier lines dropped");
  EXPECT_EQ(reply[1], "request 5");
  EXPECT_EQ(reply[keep], "request " + std::to_string(keep + 4));
  EXPECT_EQ(reply[keep + 1], ".");

  board().clear_journal();
  EXPECT_EQ(board().journal_dropped(), 0u);
  board().record("after");
  ASSERT_TRUE(c.write("journal\n"));
  EXPECT_EQ(c.readUntil("\n.\n"), "after\n.\n");
}

// A long reply is made as the client reads it: a client that does not read
// holds a piece of it, not the whole; requests sent behind it are answered
// after it, in order; and the reply is the journal as it stood when asked,
// with lines that left it meanwhile counted.
TEST_F(BoardTest, LongReplyIsSentInPiecesAsTheClientReads) {
  ASSERT_TRUE(board().listen());
  board().add_command("echo", "echo WORDS: the words back", [](const sim::Board::Args& a, sim::Board::Reply& r) {
    for (const auto& w : a) r.line(w);
  });
  const std::size_t keep = sim::Board::journal_lines;
  const std::string pad(40, '-');
  for (std::size_t i = 0; i < keep; ++i) board().record(pad + std::to_string(i));
  ControlClient slow;
  ASSERT_TRUE(slow.write("journal\necho behind\n"));
  for (int pass = 0; pass < 20; ++pass) multiplexer.run_once(0);
  // The whole reply is some 5 MB: what is held is one piece of it.
  EXPECT_LT(board().control_buffered(), 256u * 1024);
  // Another client is served meanwhile.
  ControlClient other;
  ASSERT_TRUE(other.write("echo x\n"));
  EXPECT_EQ(other.readUntil(".\n"), "x\n.\n");
  // Lines recorded now are not in the reply; the oldest half of the
  // journal leaves it before the reply reaches it.
  for (std::size_t i = 0; i < keep / 2; ++i) board().record("later");
  const std::vector<std::string> reply = linesOf(slow.readUntil("behind\n.\n"));
  std::size_t at = 0;
  unsigned long skipped = 0;
  while (at < reply.size() && std::sscanf(reply[at].c_str(), "journal: %lu lines dropped while sending", &skipped) != 1)
    ++at;
  ASSERT_LT(at, reply.size());
  ASSERT_GT(skipped, 0u);
  // In order from the first line up to the count, and from the oldest line
  // still kept after it.
  for (std::size_t i = 0; i < at; ++i) ASSERT_EQ(reply[i], pad + std::to_string(i));
  EXPECT_EQ(at + skipped, keep / 2);
  ASSERT_EQ(reply.size(), at + 1 + (keep - keep / 2) + 3);
  for (std::size_t i = at + 1; i < reply.size() - 3; ++i) ASSERT_EQ(reply[i], pad + std::to_string(i - 1 + skipped));
  EXPECT_EQ(std::vector<std::string>(reply.end() - 3, reply.end()), (std::vector<std::string>{".", "behind", "."}));
}

// What a control client may have pending is bounded each way: past it the
// client is dropped with one line, its buffers freed, and the others go on.
TEST_F(BoardTest, ClientWithALineWithoutEndOrUnreadRepliesIsDroppedWithOneLine) {
  ASSERT_TRUE(board().listen());
  board().add_command("big", "big: a long line", [](const sim::Board::Args&, sim::Board::Reply& r) {
    r.line(std::string(10000, 'x'));
  });
  testkit::StreamCapture err(std::cerr);
  {
    ControlClient endless;
    EXPECT_FALSE(endless.write(std::string(4 * sim::Board::client_limit, 'a')));
    EXPECT_TRUE(endless.closedByBoard());
  }
  EXPECT_EQ(err.take(), "simulated board: control client dropped: request line longer than 1048576 octets\n");
  EXPECT_EQ(board().control_buffered(), 0u);
  {
    // Never reads: its replies pile up until the limit.
    ControlClient deaf;
    std::string requests;
    for (int i = 0; i < 1000; ++i) requests += "big\n";
    deaf.write(requests);
    EXPECT_TRUE(deaf.closedByBoard());
  }
  const std::string line = err.take();
  EXPECT_EQ(line.rfind("simulated board: control client dropped: ", 0), 0u) << line;
  EXPECT_NE(line.find(" octets of replies not read\n"), std::string::npos) << line;
  EXPECT_EQ(std::count(line.begin(), line.end(), '\n'), 1);
  EXPECT_EQ(board().control_buffered(), 0u);
  ControlClient next;
  ASSERT_TRUE(next.write("big\n"));
  EXPECT_EQ(next.readUntil(".\n").size(), 10000u + 1 + 2);
}

}  // namespace
