#pragma once
// The listening socket of an acceptor, whatever its address family: bound
// (a failed bind is retried every 5000 ms for ever), listening with a
// backlog of 1, non-blocking and watched for POLLIN; every connection
// waiting on it is handed to the owner while the owner can take one. Its lines name the socket as the
// owner does ("socket", "domain socket") and are written only with the
// owner's log flag.
#include <sys/socket.h>

#include <string>

#include "runtime/event.h"
#include "runtime/fd.h"
#include "runtime/timer.h"

namespace Control {

class Listener {
 public:
  class Owner {
   public:
    virtual ~Owner() = default;
    // listen or the non-blocking mode failed (after the log line).
    virtual void OnListenFailure() = 0;
    // One accepted connection (close-on-exec, still blocking).
    virtual void OnAccept(Fd conn, const sockaddr_storage& peer, socklen_t length) = 0;
    // False while the close of the last connection is still to be reported
    // (the rest of the pass in which it closed): a peer that comes then
    // waits in the backlog and is taken on a later pass, when its
    // predecessor has gone, instead of being turned away.
    virtual bool Accepting() const = 0;
  };

  // eventName: how the loop's handler table names the watch.
  Listener(Owner* owner, const char* eventName, const char* kind, bool log);

  // Creates the socket; false, after the log line, when that fails.
  bool Open(int domain, int protocol);
  // Binds to the address (the path is removed first at every attempt when
  // given), then listens.
  void Start(const sockaddr* address, socklen_t length, const std::string& unlinkPath = std::string());
  // Cancels the retry, stops watching and closes the socket.
  void Close();

  int fd() const { return fd_.get(); }
  bool listening() const { return event_.fd().valid(); }

 private:
  void Bind();
  void OnBindRetry(Timer*);
  void OnSocketEvent(int fd, short revents);

  Owner* owner_;
  const char* kind_;
  bool log_;
  sockaddr_storage address_{};
  socklen_t length_ = 0;
  std::string unlink_;
  Fd fd_;
  Timer retry_;
  Event event_;
};

}  // namespace Control
