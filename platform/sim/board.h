#pragma once
// The simulated board: what stands behind the device seam in korvend-sim.
//
// In-process and single-threaded: it answers drv::open / drv::ioctl_ptr /
// drv::ioctl_val for the device nodes that have a model, falls back to the
// kernel (a plain file under the root) for the others, keeps a journal of
// every request its devices saw, and serves a line-protocol control socket
// (sysroot::sim_board_socket under the root) from the daemon's own event
// loop. Protocol and commands: platform/sim/README.md.
//
// Growing it for a driver:
//   - a device model (device.h) registered in install_models() (models.cpp);
//   - control commands for tests, registered with add_command():
//       board.add_command("loop", "loop T: loop trunk T back",
//                         [](const sim::Board::Args& a, sim::Board::Reply& r) { ... });
#include <errno.h>

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/drv.h"
#include "platform/sim/device.h"
#include "runtime/dpc.h"
#include "runtime/event.h"
#include "runtime/fd.h"

namespace sim {

class Board : public drv::Backend {
 public:
  using Args = std::vector<std::string>;  // the words after the command
  struct Reply {
    std::vector<std::string> lines;
    std::string error;  // non-empty: the command was refused
    // A long reply's further lines: each call appends some to `lines` and
    // returns true while more are to come. The control socket asks for them
    // only as the client reads, so a long reply neither stalls the loop nor
    // piles up in memory.
    std::function<bool(std::vector<std::string>& lines)> more;
    void line(const std::string& text) { lines.push_back(text); }
    void fail(const std::string& text) { error = text; }
  };
  using Command = std::function<void(const Args& args, Reply& reply)>;

  static Board& instance();
  Board(const Board&) = delete;
  Board& operator=(const Board&) = delete;
  ~Board() override;

  // Device models, by the board's path of the node (e.g. sysroot::hal).
  void add_model(const std::string& path, std::unique_ptr<DeviceModel> model);
  // Control commands; a later registration of a name replaces the earlier.
  void add_command(const std::string& name, const std::string& help, Command command);
  // Runs one request line as the control socket would; the reply whole.
  Reply execute(const std::string& line);
  // Runs the request lines of a file (a missing file is no error); a
  // refused line is reported on std::cerr. False when one was refused.
  bool execute_file(const std::string& path);

  // The journal: one line per request the devices saw, the latest
  // journal_lines of them, so that the board can run for days.
  static constexpr std::size_t journal_lines = 100000;
  void record(const std::string& line);
  std::vector<std::string> journal() const { return std::vector<std::string>(journal_.begin(), journal_.end()); }
  // Lines that left the journal for newer ones since it was last cleared.
  std::uint64_t journal_dropped() const { return dropped_; }
  void clear_journal();

  // What a control client may have pending, each way: a request line
  // without its end, replies it has not read. Past it the client is
  // dropped.
  static constexpr std::size_t client_limit = 1 << 20;
  // Octets held for the control clients, both ways (for tests).
  std::size_t control_buffered() const;

  // The device open behind a daemon descriptor (any dup of it); null when
  // the descriptor is not one of the board's.
  Device* device_of(int fd) const;
  // Every open device of a path, oldest first (for injecting events).
  std::vector<Device*> devices(const std::string& path) const;
  // Sends one frame or event record to every open device of a path; false
  // when none took it (none open, or every one full).
  bool broadcast(const std::string& path, const void* data, std::size_t len) const;

  // Opens the control socket; false (with a message on stderr) when it
  // cannot. close_control() removes it again.
  bool listen();
  void close_control();

  // drv::Backend
  int open(const char* path, int flags) override;
  int ioctl_ptr(int fd, unsigned long code, void* rec, std::size_t size) override;
  int ioctl_val(int fd, unsigned long code, unsigned long value) override;
  int netif_ioctl(int sock, unsigned long request, ifreq* ifr) override;

  // Network interfaces the board models: a request on an interface whose
  // name begins with prefix goes to the handler (0, or -1 with errno, and a
  // note for the journal line "ioctl netif NAME CODE -> RESULT (note)"),
  // and fails on demand with "fail netif CODE ERRNO". Requests on other
  // interfaces reach the kernel.
  using NetifHandler = std::function<int(unsigned long request, ifreq* ifr, std::string& note)>;
  void add_netif(const std::string& prefix, NetifHandler handler);

  // A device whose daemon side has gone (called by Device).
  void closed(Device* device);

 private:
  struct Client;
  using Key = std::pair<unsigned long, unsigned long>;  // st_dev, st_ino

  Board();
  static bool keyOf(int fd, Key& key);
  // A request failed on demand (fail command): true with rc -1 and errno.
  bool injected(const std::string& path, unsigned long code, int& rc);
  // Takes the device's note on the request it answered; false when the
  // device asked that a successful answer be left out of the journal.
  bool answered(Device* device, int rc, std::string& note);
  // Journals a request with its result and the device's note.
  void record(const std::string& request, int rc, int err, const std::string& note);
  // The model path a control command names ("hal" or the whole path).
  std::string modelPath(const std::string& name) const;
  void failCommand(const Args& a, Reply& r);
  void refuseOpenCommand(const Args& a, Reply& r);
  // A request line run, without its long reply's further lines.
  Reply run(const std::string& line);
  // The journal from `next` up to (not including) `end`, by the count of
  // lines recorded, one piece a call.
  bool journalPiece(std::uint64_t& next, std::uint64_t end, std::vector<std::string>& lines) const;
  void OnAccept(int fd, short revents);
  void OnControl(Client* client, short revents);
  // Reads what the client sent and runs its requests; false at its end.
  bool readRequests(Client* client, std::string& why);
  // Runs the complete request lines received, while no long reply is
  // under way and the client reads its replies.
  void serve(Client* client);
  // Tops up a long reply while little is pending.
  void fill(Client* client);
  void flush(Client* client);
  void drop(Client* client);
  void OnReap();

  std::map<std::string, std::unique_ptr<DeviceModel>> models_;
  std::map<Key, std::unique_ptr<Device>> open_;
  std::vector<std::unique_ptr<Device>> closed_;
  struct CommandEntry {
    std::string help;
    Command run;
  };
  std::map<std::string, CommandEntry> commands_;
  std::deque<std::string> journal_;
  std::uint64_t recorded_ = 0;  // lines ever recorded
  std::uint64_t dropped_ = 0;
  using Fault = std::pair<std::string, unsigned long>;  // device path, request code
  struct Injected {
    int err = EIO;
    long remaining = 0;  // requests still to fail; 0: all
  };
  std::map<Fault, Injected> faults_;
  std::map<std::string, int> refusedOpens_;  // path -> errno
  std::vector<std::pair<std::string, NetifHandler>> netifs_;  // name prefix, handler

  Fd listener_;
  Event acceptEvent_;
  std::string socketPath_;
  std::vector<std::unique_ptr<Client>> clients_;
  std::vector<std::unique_ptr<Client>> goneClients_;
  std::uint64_t opens_ = 0;
  Dpc reaper_;  // frees closed devices and clients outside their callbacks
};

// Registers the device model of every simulated driver (models.cpp).
void install_models(Board& board);

}  // namespace sim
