#include "platform/sim/board.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <net/if.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>

#include "platform/sim/command_words.h"
#include "platform/sysroot.h"

namespace sim {

namespace {

std::string flagsText(int flags) {
  std::string text;
  switch (flags & O_ACCMODE) {
    case O_RDONLY:
      text = "rdonly";
      break;
    case O_WRONLY:
      text = "wronly";
      break;
    default:
      text = "rdwr";
      break;
  }
  if (flags & O_NONBLOCK) text += "|nonblock";
  return text;
}

std::string resultText(int rc, int err) {
  if (rc >= 0) return std::to_string(rc);
  const char* name = ::strerrorname_np(err);
  return "-1 " + std::string(name ? name : std::to_string(err));
}

std::vector<std::string> splitWords(const std::string& line) {
  std::vector<std::string> out;
  std::istringstream s(line);
  std::string w;
  while (s >> w) out.push_back(w);
  return out;
}

// A long reply is topped up while less than this is pending for its
// client, and a piece of it is this many lines.
constexpr std::size_t reply_low_water = 64 * 1024;
constexpr unsigned journal_piece = 256;
// Read from and written to one client in one loop pass, so that a client
// that never stops sending, or reads as fast as the board writes, cannot
// hold the loop.
constexpr std::size_t read_per_pass = 64 * 1024;
constexpr std::size_t write_per_pass = 256 * 1024;

// A content line as it goes on the socket: one that looks like a status
// line gets one more "." in front.
void putLine(std::string& out, const std::string& line) {
  if (!line.empty() && (line[0] == '.' || line[0] == '?')) out += '.';
  out += line;
  out += '\n';
}

}  // namespace

struct Board::Client {
  Board* board;
  Event event;
  std::string in;
  std::string out;
  // A long reply under way, and the status line that ends it.
  std::function<bool(std::vector<std::string>&)> more;
  std::string status;
  bool gone = false;
  void OnEvent(int, short revents) { board->OnControl(this, revents); }
};

Board& Board::instance() {
  static Board board;
  return board;
}

Board::Board() {
  reaper_.Bind(this, &Board::OnReap);
  add_command("help", "help: the commands and what they do", [this](const Args&, Reply& r) {
    for (const auto& c : commands_) r.line(c.second.help);
  });
  add_command("journal",
              "journal [clear]: the latest device requests seen, oldest first, after a line with the count of "
              "older ones dropped, if any (clear: forget them)",
              [this](const Args& a, Reply& r) {
                if (a.empty()) {
                  if (dropped_ > 0) r.line("journal: " + std::to_string(dropped_) + " earlier lines dropped");
                  std::uint64_t next = recorded_ - journal_.size();
                  const std::uint64_t end = recorded_;
                  r.more = [this, next, end](std::vector<std::string>& lines) mutable {
                    return journalPiece(next, end, lines);
                  };
                } else if (a.size() == 1 && a[0] == "clear") {
                  clear_journal();
                } else {
                  r.fail("usage: journal [clear]");
                }
              });
  add_command("fail",
              "fail DEVICE CODE ERRNO [N] | fail DEVICE CODE off | fail clear | fail: requests CODE (hex) on "
              "DEVICE (e.g. hal, mcc/ctl) fail with ERRNO (name or number), the next N of them or all; "
              "without arguments the faults set",
              [this](const Args& a, Reply& r) { failCommand(a, r); });
  add_command("refuse-open",
              "refuse-open DEVICE [ERRNO] | refuse-open DEVICE off: opens of DEVICE fail (ENODEV by default)",
              [this](const Args& a, Reply& r) { refuseOpenCommand(a, r); });
  add_command("hang-up",
              "hang-up DEVICE [hup|err]: every open of DEVICE fails like a broken driver: the board closes its "
              "end, so the daemon's descriptors poll readable and hang-up and read end of file; with hup they "
              "poll hang-up alone and read end of file, with err they poll error alone and every read fails",
              [this](const Args& a, Reply& r) { hangUpCommand(a, r); });
}

// ---- faults on demand ----

std::string Board::modelPath(const std::string& name) const {
  if (models_.count(name) || (name == "netif" && !netifs_.empty())) return name;
  for (const auto& m : models_) {
    const std::string& path = m.first;
    if (path.size() > name.size() && path.compare(path.size() - name.size(), name.size(), name) == 0 &&
        path[path.size() - name.size() - 1] == '/')
      return path;
  }
  return std::string();
}

void Board::failCommand(const Args& a, Reply& r) {
  if (a.empty()) {
    for (const auto& f : faults_)
      r.line(f.first.first + " " + words::hex(f.first.second, 8) + " " + words::errno_name(f.second.err) +
             (f.second.remaining > 0 ? " next " + std::to_string(f.second.remaining) : std::string(" all")));
    return;
  }
  if (a.size() == 1 && a[0] == "clear") {
    faults_.clear();
    return;
  }
  const std::string path = a.size() >= 3 ? modelPath(a[0]) : std::string();
  char* end = nullptr;
  const unsigned long code = a.size() >= 3 ? std::strtoul(a[1].c_str(), &end, 16) : 0;
  if (a.size() < 3 || a.size() > 4 || path.empty() || !end || *end != '\0') {
    r.fail("usage: fail DEVICE CODE ERRNO [N] | fail DEVICE CODE off | fail clear (DEVICE a modelled device)");
    return;
  }
  if (a[2] == "off" && a.size() == 3) {
    faults_.erase(Fault(path, code));
    return;
  }
  Injected f;
  if (!words::to_errno(a[2], f.err)) return r.fail("unknown errno '" + a[2] + "'");
  if (a.size() == 4) {
    f.remaining = std::strtol(a[3].c_str(), &end, 10);
    if (*end != '\0' || f.remaining <= 0) return r.fail("N must be a positive count");
  }
  faults_[Fault(path, code)] = f;
}

void Board::refuseOpenCommand(const Args& a, Reply& r) {
  const std::string path = a.empty() ? std::string() : modelPath(a[0]);
  if (a.empty() || a.size() > 2 || path.empty()) {
    r.fail("usage: refuse-open DEVICE [ERRNO] | refuse-open DEVICE off (DEVICE a modelled device)");
    return;
  }
  if (a.size() == 2 && a[1] == "off") {
    refusedOpens_.erase(path);
    return;
  }
  int err = ENODEV;
  if (a.size() == 2 && !words::to_errno(a[1], err)) return r.fail("unknown errno '" + a[1] + "'");
  refusedOpens_[path] = err;
}

void Board::hangUpCommand(const Args& a, Reply& r) {
  const std::string path = a.size() == 1 || a.size() == 2 ? modelPath(a[0]) : std::string();
  const std::string how = a.size() == 2 ? a[1] : std::string();
  if (path.empty() || (how != "" && how != "hup" && how != "err"))
    return r.fail("usage: hang-up DEVICE [hup|err] (DEVICE a modelled device)");
  std::vector<std::pair<Key, Device*>> opens;
  for (const auto& d : open_)
    if (d.second->path() == path) opens.emplace_back(d.first, d.second.get());
  if (opens.empty()) return r.fail(path + " is not open");
  for (const auto& o : opens) {
    if (!how.empty() && !replaceDaemonEnds(o.first, how == "err")) return r.fail(std::strerror(errno));
    o.second->hang_up();
  }
}

// The daemon's descriptors of one open (any dup of it) become the far end
// of an emptied pipe: its read end, whose writer has gone, polls POLLHUP
// alone and reads end of file; its write end, whose reader has gone, polls
// POLLERR alone and cannot be read. Same numbers, same close-on-exec.
bool Board::replaceDaemonEnds(const Key& key, bool error) {
  int ends[2];
  if (::pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0) return false;
  Fd keep(ends[error ? 1 : 0]);
  ::close(ends[error ? 0 : 1]);
  const std::string dir = std::string(sysroot::proc_dir) + "/self/fd";
  DIR* d = ::opendir(dir.c_str());
  if (!d) return false;
  while (const dirent* e = ::readdir(d)) {
    char* end = nullptr;
    const long fd = std::strtol(e->d_name, &end, 10);
    Key k;
    if (end == e->d_name || *end != '\0' || fd == ::dirfd(d) || !keyOf(int(fd), k) || k != key) continue;
    const int flags = ::fcntl(int(fd), F_GETFD);
    if (::dup2(keep.get(), int(fd)) < 0) continue;
    if (flags >= 0) ::fcntl(int(fd), F_SETFD, flags);
  }
  ::closedir(d);
  return true;
}

Board::~Board() { close_control(); }

void Board::add_model(const std::string& path, std::unique_ptr<DeviceModel> model) {
  models_[path] = std::move(model);
}

void Board::add_command(const std::string& name, const std::string& help, Command command) {
  commands_[name] = CommandEntry{help, std::move(command)};
}

Board::Reply Board::execute(const std::string& line) {
  Reply reply = run(line);
  if (reply.more) {
    while (reply.more(reply.lines)) {
    }
    reply.more = nullptr;
  }
  return reply;
}

Board::Reply Board::run(const std::string& line) {
  Reply reply;
  std::vector<std::string> w = splitWords(line);
  if (w.empty()) {
    reply.fail("empty request");
    return reply;
  }
  auto it = commands_.find(w[0]);
  if (it == commands_.end()) {
    reply.fail("unknown command '" + w[0] + "' (try help)");
    return reply;
  }
  it->second.run(Args(w.begin() + 1, w.end()), reply);
  return reply;
}

bool Board::execute_file(const std::string& path) {
  std::ifstream file(path);
  bool ok = true;
  for (std::string line; std::getline(file, line);) {
    if (splitWords(line).empty() || line[line.find_first_not_of(" \t")] == '#') continue;
    const Reply reply = execute(line);
    if (reply.error.empty()) continue;
    std::cerr << "simulated board: " << path << ": " << line << ": " << reply.error << std::endl;
    ok = false;
  }
  return ok;
}

// ---- journal ----

void Board::record(const std::string& line) {
  journal_.push_back(line);
  ++recorded_;
  if (journal_.size() > journal_lines) {
    journal_.pop_front();
    ++dropped_;
  }
}

void Board::clear_journal() {
  journal_.clear();
  dropped_ = 0;
}

// Lines that left the journal while their reply was being sent are passed
// over with a line that counts them.
bool Board::journalPiece(std::uint64_t& next, std::uint64_t end, std::vector<std::string>& lines) const {
  const std::uint64_t first = recorded_ - journal_.size();
  if (next < first) {
    lines.push_back("journal: " + std::to_string(std::min(first, end) - next) + " lines dropped while sending");
    next = first;
  }
  for (unsigned n = 0; n < journal_piece && next < end; ++n, ++next)
    lines.push_back(journal_[static_cast<std::size_t>(next - first)]);
  return next < end;
}

// ---- devices ----

bool Board::keyOf(int fd, Key& key) {
  struct stat st;
  if (::fstat(fd, &st) != 0 || !S_ISSOCK(st.st_mode)) return false;
  key = Key(st.st_dev, st.st_ino);
  return true;
}

Device* Board::device_of(int fd) const {
  Key key;
  if (!keyOf(fd, key)) return nullptr;
  auto it = open_.find(key);
  return it == open_.end() ? nullptr : it->second.get();
}

bool Board::broadcast(const std::string& path, const void* data, std::size_t len) const {
  bool sent = false;
  for (Device* d : devices(path)) sent = d->send(data, len) || sent;
  return sent;
}

std::vector<Device*> Board::devices(const std::string& path) const {
  std::vector<Device*> out;
  for (const auto& d : open_)
    if (d.second->path() == path) out.push_back(d.second.get());
  std::sort(out.begin(), out.end(), [](const Device* a, const Device* b) { return a->serial_ < b->serial_; });
  return out;
}

int Board::open(const char* path, int flags) {
  auto model = models_.find(path);
  if (model == models_.end()) return drv::kernel().open(path, flags);

  const std::string request = std::string("open ") + path + " " + flagsText(flags);
  int pair[2];
  if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, pair) != 0) {
    const int err = errno;
    record(request + " -> " + resultText(-1, err));
    errno = err;
    return -1;
  }
  Fd daemonEnd(pair[0]);
  Fd boardEnd(pair[1]);
  errno = 0;
  auto refused = refusedOpens_.find(path);
  std::unique_ptr<Device> device;
  if (refused != refusedOpens_.end())
    errno = refused->second;
  else
    device = model->second->open(path, flags);
  if (!device) {
    const int err = errno ? errno : ENODEV;
    record(request + " -> " + resultText(-1, err));
    errno = err;
    return -1;
  }
  if (!(flags & O_CLOEXEC)) SetCloexec(daemonEnd.get(), false);
  if (flags & O_NONBLOCK) daemonEnd.NonBlock();
  boardEnd.NonBlock();
  Key key;
  keyOf(daemonEnd.get(), key);
  device->serial_ = ++opens_;
  const int boardFd = boardEnd.get();
  device->attach(this, path, flags, std::move(boardEnd));
  device->on_open(daemonEnd.get(), boardFd);
  open_[key] = std::move(device);
  record(request + " -> 0");
  return daemonEnd.release();
}

int Board::ioctl_ptr(int fd, unsigned long code, void* rec, std::size_t size) {
  Device* device = device_of(fd);
  if (!device) return drv::kernel().ioctl_ptr(fd, code, rec, size);
  // The record as the daemon passed it, for the journal line. Formatted only
  // when the line is written: the matrix refresh sends hundreds of quiet
  // requests every loop pass.
  unsigned char small[64];
  const bool fits = size <= sizeof small;
  std::string passed;
  if (fits)
    std::memcpy(small, rec, size);
  else
    passed = words::hex_octets(rec, size);
  int rc;
  errno = 0;
  if (!injected(device->path(), code, rc)) {
    device->requestFd_ = fd;
    rc = device->ioctl_ptr(code, rec, size);
    device->requestFd_ = -1;
  }
  const int err = errno;
  std::string note;
  if (answered(device, rc, note)) {
    if (fits) passed = words::hex_octets(small, size);
    record("ioctl " + device->path() + " " + words::hex(code, 8) + " rec=" + passed, rc, err, note);
  }
  errno = err;
  return rc;
}

int Board::ioctl_val(int fd, unsigned long code, unsigned long value) {
  Device* device = device_of(fd);
  if (!device) return drv::kernel().ioctl_val(fd, code, value);
  int rc;
  errno = 0;
  if (!injected(device->path(), code, rc)) {
    device->requestFd_ = fd;
    rc = device->ioctl_val(code, value);
    device->requestFd_ = -1;
  }
  const int err = errno;
  std::string note;
  if (answered(device, rc, note))
    record("ioctl " + device->path() + " " + words::hex(code, 8) + " val=" + std::to_string(value), rc, err, note);
  errno = err;
  return rc;
}

void Board::add_netif(const std::string& prefix, NetifHandler handler) {
  netifs_.emplace_back(prefix, std::move(handler));
}

int Board::netif_ioctl(int sock, unsigned long request, ifreq* ifr) {
  const std::string name(ifr->ifr_name, ::strnlen(ifr->ifr_name, IFNAMSIZ));
  for (const auto& netif : netifs_) {
    if (name.compare(0, netif.first.size(), netif.first) != 0) continue;
    int rc;
    std::string note;
    errno = 0;
    if (!injected("netif", request, rc)) rc = netif.second(request, ifr, note);
    const int err = errno;
    record("ioctl netif " + name + " " + words::hex(request, 8), rc, err, note);
    errno = err;
    return rc;
  }
  return drv::Backend::netif_ioctl(sock, request, ifr);
}

bool Board::injected(const std::string& path, unsigned long code, int& rc) {
  if (faults_.empty()) return false;
  auto it = faults_.find(Fault(path, code));
  if (it == faults_.end()) return false;
  errno = it->second.err;
  rc = -1;
  if (it->second.remaining > 0 && --it->second.remaining == 0) faults_.erase(it);
  return true;
}

bool Board::answered(Device* device, int rc, std::string& note) {
  const bool quiet = device->quiet_ && rc >= 0;
  device->quiet_ = false;
  note.swap(device->note_);
  device->note_.clear();
  return !quiet;
}

void Board::record(const std::string& request, int rc, int err, const std::string& note) {
  record(request + " -> " + resultText(rc, err) + (note.empty() ? std::string() : " (" + note + ")"));
}

void Board::closed(Device* device) {
  for (auto it = open_.begin(); it != open_.end(); ++it) {
    if (it->second.get() != device) continue;
    record("close " + device->path());
    device->on_close();
    closed_.push_back(std::move(it->second));
    open_.erase(it);
    reaper_.Activate();
    return;
  }
}

void Board::OnReap() {
  closed_.clear();
  goneClients_.clear();
  reaper_.Deactivate();
}

// ---- control socket ----

bool Board::listen() {
  const std::string path = sysroot::path(sysroot::sim_board_socket);
  const std::string dir = path.substr(0, path.rfind('/'));
  ::mkdir(dir.c_str(), 0755);
  sockaddr_un addr;
  std::memset(&addr, 0, sizeof addr);
  addr.sun_family = AF_UNIX;
  if (path.size() >= sizeof addr.sun_path) {
    std::cerr << "simulated board: control socket path too long (" << path.size() << " bytes): " << path
              << std::endl;
    return false;
  }
  std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
  Fd sock(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  ::unlink(path.c_str());  // a socket left by a run that did not stop cleanly
  if (!sock.valid() || ::bind(sock.get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
      ::listen(sock.get(), 8) != 0) {
    std::cerr << "simulated board: cannot listen on " << path << ": " << ::strerror(errno) << std::endl;
    return false;
  }
  listener_ = std::move(sock);
  socketPath_ = path;
  acceptEvent_.Bind("sim::Board::OnAccept", &Board::OnAccept, this);
  acceptEvent_.Schedule(listener_, POLLIN);
  return true;
}

void Board::close_control() {
  acceptEvent_.Release();
  clients_.clear();
  if (listener_.valid()) ::unlink(socketPath_.c_str());
  listener_.close();
}

void Board::OnAccept(int fd, short revents) {
  if (!(revents & POLLIN)) return;
  for (;;) {
    int conn = ::accept4(fd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (conn < 0) return;
    auto client = std::make_unique<Client>();
    client->board = this;
    client->event.Bind("sim::Board::OnControl", &Client::OnEvent, client.get());
    client->event.Schedule(conn, POLLIN);
    ::close(conn);  // the event keeps its own duplicate
    clients_.push_back(std::move(client));
  }
}

std::size_t Board::control_buffered() const {
  std::size_t n = 0;
  for (const auto& c : clients_) n += c->in.size() + c->out.size();
  return n;
}

void Board::OnControl(Client* client, short revents) {
  if (client->gone) return;
  std::string why;  // set: the client is dropped for it
  bool ended = false;
  if (!client->more && (revents & (POLLIN | POLLHUP | POLLERR)))
    ended = !readRequests(client, why);
  else if (revents & (POLLHUP | POLLERR))
    ended = true;  // gone while a long reply was under way
  if (!ended && why.empty()) {
    flush(client);
    if (client->out.size() > client_limit)
      why = std::to_string(client->out.size()) + " octets of replies not read";
  }
  if (!why.empty()) {
    std::cerr << "simulated board: control client dropped: " << why << std::endl;
    ended = true;
  }
  if (ended) drop(client);
}

bool Board::readRequests(Client* client, std::string& why) {
  char buf[16384];
  for (std::size_t got = 0; got < read_per_pass && !client->more;) {
    const ssize_t n = ::recv(client->event.fd().get(), buf, sizeof buf, MSG_DONTWAIT);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno == EAGAIN) return true;
    if (n <= 0) return false;
    got += static_cast<std::size_t>(n);
    client->in.append(buf, static_cast<std::size_t>(n));
    serve(client);
    if (client->out.size() > client_limit) {
      why = std::to_string(client->out.size()) + " octets of replies not read";
      return true;
    }
    if (!client->more && client->in.size() > client_limit) {
      why = "request line longer than " + std::to_string(client_limit) + " octets";
      return true;
    }
  }
  return true;
}

void Board::serve(Client* client) {
  std::size_t at = 0;
  for (std::size_t end; !client->more && client->out.size() <= client_limit &&
                        (end = client->in.find('\n', at)) != std::string::npos;
       at = end + 1) {
    std::string line = client->in.substr(at, end - at);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    Reply reply = run(line);
    for (const std::string& l : reply.lines) putLine(client->out, l);
    const std::string status = reply.error.empty() ? std::string(".\n") : "? " + reply.error + "\n";
    if (reply.more) {
      client->more = std::move(reply.more);
      client->status = status;
    } else {
      client->out += status;
    }
  }
  client->in.erase(0, at);
}

void Board::fill(Client* client) {
  std::vector<std::string> lines;
  while (client->more && client->out.size() < reply_low_water) {
    lines.clear();
    const bool again = client->more(lines);
    for (const std::string& l : lines) putLine(client->out, l);
    if (again) continue;
    client->more = nullptr;
    client->out += client->status;
    serve(client);  // the requests that waited behind it
  }
}

void Board::flush(Client* client) {
  for (std::size_t sent = 0; sent < write_per_pass;) {
    fill(client);
    if (client->out.empty()) break;
    const ssize_t n =
        ::send(client->event.fd().get(), client->out.data(), client->out.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
    if (n <= 0) break;
    sent += static_cast<std::size_t>(n);
    client->out.erase(0, static_cast<std::size_t>(n));
  }
  // No more requests are read while a long reply is under way: they wait
  // in the socket.
  const short want =
      static_cast<short>(client->more ? POLLOUT : (POLLIN | (client->out.empty() ? 0 : POLLOUT)));
  if (client->event.events() != want) client->event.Schedule(client->event.fd(), want);
}

void Board::drop(Client* client) {
  client->gone = true;
  client->event.Release();
  client->more = nullptr;
  std::string().swap(client->in);
  std::string().swap(client->out);
  for (auto it = clients_.begin(); it != clients_.end(); ++it) {
    if (it->get() != client) continue;
    goneClients_.push_back(std::move(*it));
    clients_.erase(it);
    break;
  }
  reaper_.Activate();
}

}  // namespace sim
