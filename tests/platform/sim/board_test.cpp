#include "platform/sim/board.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/drv.h"
#include "platform/sysroot.h"
#include "runtime/multiplexer.h"
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

}  // namespace
