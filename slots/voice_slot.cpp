#include "slots/voice_slot.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <iostream>
#include <sstream>

#include "hardware/hw_mux.h"
#include "platform/sysroot.h"
#include "runtime/ext_out.h"
#include "slots/voice_factory.h"

namespace {

constexpr unsigned kConnectTimeout = 5000;  // ms
constexpr unsigned kFileBuffer = 8192;

// One write per line: the log streams may be unbuffered.
template <class T>
void Log(std::ostream& stream, const T* obj, const std::string& text) {
  std::ostringstream line;
  line << ext::header(obj) << text << '\n';
  stream << line.str() << std::flush;
}

// Into the channel: done once the last octets have left the socket.
ASync::Copy::EventsParams IntoChannel() {
  ASync::Copy::EventsParams events;
  events.read = POLLIN;
  events.write = POLLOUT;
  events.flush = POLLWRNORM;
  return events;
}

// Out of the channel: done once everything is written.
ASync::Copy::EventsParams OutOfChannel() {
  ASync::Copy::EventsParams events;
  events.read = POLLIN;
  events.write = POLLOUT;
  events.flush = 0;
  return events;
}

LGCP::IoctlResponse StopRecording(LGCP::StopRecordingCause::NamedNumber cause) {
  LGCP::IoctlResponse response;
  response.set_stopRecording(cause);
  return response;
}

}  // namespace

// --- players -----------------------------------------------------------

PlaySlotGeneric::PlaySlotGeneric(VoiceFactory& owner, Fd mcc, int channel)
    : VoiceSlot(owner), channel(channel), mcc(std::move(mcc)) {}

// A slot deleted without the destroy hook (the controller gone while it
// released) still leaves the factory's list.
PlaySlotGeneric::~PlaySlotGeneric() { owner_.OnDestroy(this); }

bool PlaySlotGeneric::IBeforeDestroy() {
  owner_.OnDestroy(this);
  return true;
}

void PlaySlotGeneric::PutHeader(std::ostream& s) const {
  s << "player"
    << "[" << channel << "]: ";
}

PlaySlotNetwork::PlaySlotNetwork(VoiceFactory& owner, Fd mcc, int channel, std::string host, std::uint32_t id)
    : PlaySlotGeneric(owner, std::move(mcc), channel), host(std::move(host)), id(id) {}

// A second connection while one is under way or playing (or after the end)
// opens nothing more.
bool PlaySlotNetwork::IOnOutputStream() {
  if (state == idle) {
    state = connecting;
    connector.reset(new ASync::Connect);
    connector->Bind(&PlaySlotNetwork::OnConnect, this);
    connector->Start(host, kConnectTimeout);  // may end at once, in OnConnect
  }
  OnChangeOutputStream(true);
  return channel >= 0;
}

void PlaySlotNetwork::OnConnect(ASync::Connect::Status::Type status, Fd sock) {
  if (status != ASync::Connect::Status::connected) {
    Log(std::clog, this, "connection to " + host + " fail.");
    Release();
    return;
  }
  Log(std::clog, this, "connected to " + host + ".");
  LGCP::IoctlResponse response;
  response.select_startPlaying();
  OnIoctlResponse(response);
  state = playing;
  connector.reset();  // its own handler: nothing of it runs after this one
  // The peer reads the id before it sends a single octet; a peer that is
  // already gone ends the player like a lost connection.
  const unsigned char octets[4] = {static_cast<unsigned char>(id >> 24), static_cast<unsigned char>(id >> 16),
                                   static_cast<unsigned char>(id >> 8), static_cast<unsigned char>(id)};
  if (::write(sock.get(), octets, sizeof octets) != static_cast<ssize_t>(sizeof octets)) {
    const int err = errno;
    Log(std::cerr, this, "play failed: id not written to " + host + ": " + ::strerror(err));
    Release();
    return;
  }
  copier.reset(new ASync::Copy);
  copier->Bind(&PlaySlotNetwork::OnPlayComplete, this);
  copier->set_events(IntoChannel());
  copier->Start(std::move(sock), mcc);
}

void PlaySlotNetwork::OnPlayComplete(ASync::Copy::Status::Type status) {
  if (status == ASync::Copy::Status::completed)
    Log(std::clog, this, "connection to " + host + " closed.");
  else
    Log(std::cerr, this, "play failed");
  Release();
}

void PlaySlotNetwork::Release() {
  state = released;
  OnChangeOutputStream(false);
  copier.reset();
  connector.reset();
  OnAbort(0);
}

PlaySlotFile::PlaySlotFile(VoiceFactory& owner, Fd mcc, int channel, std::vector<std::string> phrases,
                           std::uint32_t repeat)
    : PlaySlotGeneric(owner, std::move(mcc), channel), repeat(repeat), phrases(std::move(phrases)) {
  abortCall.Bind(this, &PlaySlotFile::delayed_abort);
}

bool PlaySlotFile::Acceptable(const std::string& name) {
  if (!name.empty() && name[0] == '/') return false;
  std::size_t begin = 0;
  while (begin <= name.size()) {
    std::size_t end = name.find('/', begin);
    if (end == std::string::npos) end = name.size();
    if (name.compare(begin, end - begin, "..") == 0) return false;
    begin = end + 1;
  }
  return true;
}

bool PlaySlotFile::IOnOutputStream() {
  if (!started) {
    if (!restart()) {
      // Nothing to play: the connection is refused now and the controller
      // told once, from the loop.
      abortCall.Activate();
      return false;
    }
    started = true;
  }
  OnChangeOutputStream(true);
  return channel >= 0;
}

bool PlaySlotFile::restart() {
  current = 0;
  return next_phrase();
}

bool PlaySlotFile::next_phrase() {
  for (; current < phrases.size(); ++current) {
    const std::string& name = phrases[current];
    // A name reaching outside the phrase directory is never opened, and
    // only a plain file is a phrase.
    if (!Acceptable(name)) continue;
    Fd file(::open(sysroot::path(sysroot::voice_dir + name).c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    struct stat st;
    if (!file.valid() || ::fstat(file.get(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
    ++current;
    copier.reset(new ASync::Copy);
    copier->Bind(&PlaySlotFile::OnPlayComplete, this);
    copier->set_bufsize(kFileBuffer);
    copier->set_events(IntoChannel());
    copier->Start(std::move(file), mcc);  // may end at once, in OnPlayComplete
    return true;
  }
  return false;
}

void PlaySlotFile::OnPlayComplete(ASync::Copy::Status::Type status) {
  if (status != ASync::Copy::Status::completed) {
    Release();
    return;
  }
  if (next_phrase()) return;
  // The end of the list: once more, unless that was the last round.
  if (repeat != 0 && repeat-- == 1) {
    Release();
    return;
  }
  if (!restart()) OnAbort(0);
}

void PlaySlotFile::delayed_abort() {
  abortCall.Deactivate();
  OnAbort(0);
}

void PlaySlotFile::Release() {
  OnChangeOutputStream(false);
  copier.reset();
  OnAbort(0);
}

// --- recorder ----------------------------------------------------------

RecordSlot::RecordSlot(VoiceFactory& owner, Fd mcc, std::string host, int channel)
    : VoiceSlot(owner), channel(channel), mcc(std::move(mcc)), host(std::move(host)) {
  peer.Bind("RecordSlot::OnPeerEvent", &RecordSlot::OnPeerEvent, this);
}

RecordSlot::~RecordSlot() { owner_.OnDestroy(this); }

void RecordSlot::PutHeader(std::ostream& s) const {
  s << "recorder"
    << "[" << channel << "]: ";
}

void RecordSlot::IAfterCreate() { OnChangeInputStream(true); }

bool RecordSlot::IBeforeDestroy() {
  HwMux::instance().Release(channel);
  owner_.OnDestroy(this);
  return true;
}

bool RecordSlot::IOnInputStream() {
  connector.reset(new ASync::Connect);
  connector->Bind(&RecordSlot::OnConnect, this);
  connector->Start(host, kConnectTimeout);  // may end at once, in OnConnect
  return true;
}

void RecordSlot::OnConnect(ASync::Connect::Status::Type status, Fd sock) {
  if (status != ASync::Connect::Status::connected) {
    Log(std::clog, this, "connection to " + host + " fail.");
    Stop(LGCP::StopRecordingCause::connectionFail);
    return;
  }
  Log(std::clog, this, "connected to " + host + ".");
  connector.reset();  // its own handler: nothing of it runs after this one
  peer.Schedule(sock, POLLIN);
  copier.reset(new ASync::Copy);
  copier->Bind(&RecordSlot::OnRecordComplete, this);
  copier->set_events(OutOfChannel());
  copier->Start(mcc, std::move(sock));
}

void RecordSlot::OnPeerEvent(int fd, short revents) {
  if (!(revents & (POLLIN | POLLERR | POLLHUP))) return;
  char drop[256];
  const ssize_t n = ::read(fd, drop, sizeof drop);
  if (n > 0 || (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))) return;
  if (n == 0) {
    Log(std::clog, this, "connection to " + host + " closed.");
    Stop(LGCP::StopRecordingCause::userRequest);
  } else {
    Log(std::cerr, this, "record aborted");
    Stop(LGCP::StopRecordingCause::connectionAborted);
  }
}

void RecordSlot::OnRecordComplete(ASync::Copy::Status::Type status) {
  if (status == ASync::Copy::Status::completed) {
    Log(std::clog, this, "connection to " + host + " closed.");
    Stop(LGCP::StopRecordingCause::userRequest);
  } else {
    Log(std::cerr, this, "record aborted");
    Stop(LGCP::StopRecordingCause::connectionAborted);
  }
}

void RecordSlot::Stop(LGCP::StopRecordingCause::NamedNumber cause) {
  peer.Release();
  copier.reset();
  connector.reset();
  OnIoctlResponse(StopRecording(cause));
}
