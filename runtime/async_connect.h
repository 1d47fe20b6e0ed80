#pragma once
// Opens a TCP connection without blocking the loop, with a time-out, and
// hands the connected socket to its owner:
//
//   class Streamer {
//     ASync::Connect connect_;
//     Fd sock_;
//     void OnConnect(ASync::Connect::Status::Type st, Fd fd) {
//       if (st == ASync::Connect::Status::connected) sock_ = fd;  // keeps a duplicate
//     }
//    public:
//     Streamer() { connect_.Bind(&Streamer::OnConnect, this); }
//     void Open(const std::string& host) { connect_.Start(host, 3000); }  // "10.0.0.5:5004"
//   };
//
// The connected socket is non-blocking. Every failure (no socket, an address
// that is not a dotted IPv4 address, refusal, an error event, the time-out)
// is `failed`. The handler may be called from inside Start and Stop, and may
// destroy the connector; destroying the connector stops it without a call.
#include <string>

#include "runtime/event.h"
#include "runtime/fd.h"
#include "runtime/timer.h"

namespace ASync {

class Connect {
 public:
  struct Status {
    enum Type {
      idle = 0,  // never started
      connecting = 1,
      failed = 2,
      connected = 3,
      stopped = 4
    };
  };

  class Handler {
   public:
    virtual void Invoke(Status::Type status, Fd fd) = 0;
    virtual ~Handler() = default;
  };

  template <class T>
  class THandler : public Handler {
   public:
    using Member = void (T::*)(Status::Type, Fd);
    THandler(Member member, T* obj) : member_(member), obj_(obj) {}
    void Invoke(Status::Type status, Fd fd) override {
      if (member_) (obj_->*member_)(status, std::move(fd));
    }

   private:
    Member member_;
    T* obj_;
  };

  Connect() = default;
  ~Connect();
  Connect(const Connect&) = delete;
  Connect& operator=(const Connect&) = delete;

  // address: "a.b.c.d:port"; timeout in milliseconds.
  void Start(const std::string& address, unsigned timeout);
  void Stop();

  // Keeps the handler (owned), deleting the one held before.
  void Bind(Handler* handler);
  template <class T>
  void Bind(void (T::*member)(Status::Type, Fd), T* obj) {
    Bind(new THandler<T>(member, obj));
  }
  void UnBind();

  Status::Type status() const { return status_; }
  // True while the time-out is armed.
  bool timing() const { return timer_.isSet(); }

 private:
  void OnSocketEvent(int fd, short revents);
  void OnTimeOut();
  void Complete(Status::Type status);

  Status::Type status_ = Status::idle;
  Fd sock_;
  Event event_;
  Handler* handler_ = nullptr;
  Timer timer_;
};

}  // namespace ASync
