#pragma once
// Small TCP servers exchanging TPKT frames with any number of observers at
// once, outside the protocol-layer framework. TPKTTracer sends each message
// to every observer, or only to the one whose frame is being handled;
// TPKTTracerP2P addresses each observer by its address. Frames are read
// into a fixed buffer per connection (512 or 2048 octets of payload); a
// larger frame, a bad header or any socket error closes that connection
// only.
//
//   struct Printer : TPKTTracer::Receiver {
//     void OnFrame(const void* data, unsigned length) override { ... }
//   } printer;
//   TPKTTracer tracer(&printer);
//   tracer.Listen(20002);
//   tracer.Send(text.data(), text.size());     // to every observer
#include <cstdint>
#include <list>
#include <vector>

#include "runtime/event.h"
#include "runtime/fd.h"
#include "runtime/inet4_addr.h"

namespace tpkt_tracer_detail {

// What both tracers share: the listener, the per-connection reader and the
// framed send.
class Server {
 public:
  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;
  virtual ~Server();

  // Listens on INADDR_ANY:port; false (and nothing open) on any failure.
  bool Listen(unsigned short port);
  std::size_t connection_count() const { return connections_.size(); }

 protected:
  struct Connection {
    bool header = true;     // reading a header (else a payload)
    unsigned expected = 4;  // octets of the part being read
    unsigned received = 0;  // octets of it read so far
    Fd fd;
    Event event;
    INet4::Addr peer;
    std::vector<unsigned char> buffer;
  };
  using List = std::list<Connection*>;

  Server(const char* listenName, const char* dataName, unsigned bufferSize);

  // One sendmsg of the header and the data: the octets written, or minus
  // errno. The connection is closed on a failure other than EINTR and on a
  // short write.
  int SendTo(Connection* c, const void* data, unsigned length);
  void CloseConnection(Connection* c);
  bool Contains(const Connection* c) const;
  List::iterator FindConnection(int fd);
  List::iterator FindConnection(const INet4::Addr& peer);

  virtual const char* OpenText() const = 0;
  virtual void OnOpened(Connection*) {}
  virtual void OnClosing(Connection*) {}
  virtual void OnFrame(Connection* c, const unsigned char* data, unsigned length) = 0;
  virtual void OnDataBegin(List::iterator) {}
  virtual void OnDataEnd() {}

  List connections_;

 private:
  void OnEvent(int fd, short revents);
  void OnDataEvent(int fd, short revents);
  void ReadFrames(Connection* c);

  const char* data_name_;
  unsigned buffer_size_;
  Fd listen_fd_;
  Event listen_event_;
};

}  // namespace tpkt_tracer_detail

class TPKTTracer : public tpkt_tracer_detail::Server {
 public:
  class Receiver {
   public:
    virtual ~Receiver() = default;
    virtual void OnFrame(const void* data, unsigned length) = 0;
  };

  static constexpr unsigned buffer_size = 512;

  explicit TPKTTracer(Receiver* receiver = nullptr);
  ~TPKTTracer() override;

  // To the observer whose frame is being handled, else to every observer.
  void Send(const void* data, unsigned length);

 private:
  const char* OpenText() const override;
  void OnClosing(Connection* c) override;
  void OnFrame(Connection* c, const unsigned char* data, unsigned length) override;
  void OnDataBegin(List::iterator it) override { current_ = it; }
  void OnDataEnd() override { current_ = connections_.end(); }

  Receiver* receiver_;
  List::iterator current_;
};

class TPKTTracerP2P : public tpkt_tracer_detail::Server {
 public:
  class Receiver {
   public:
    virtual ~Receiver() = default;
    virtual void OnOpen(const INet4::Addr& peer, int fd) = 0;
    virtual void OnClose(const INet4::Addr& peer) = 0;
    virtual void OnFrame(const INet4::Addr& peer, const void* data, unsigned length) = 0;
  };

  static constexpr unsigned buffer_size = 2048;

  explicit TPKTTracerP2P(Receiver* receiver = nullptr);
  ~TPKTTracerP2P() override;

  // The octets written, -EFAULT for a peer not connected, or minus errno.
  int Send(const INet4::Addr& peer, const void* data, unsigned length);
  // 0, or -EFAULT for a peer not connected.
  int Close(const INet4::Addr& peer);
  bool IsConnected(const INet4::Addr& peer);

 private:
  const char* OpenText() const override;
  void OnOpened(Connection* c) override;
  void OnClosing(Connection* c) override;
  void OnFrame(Connection* c, const unsigned char* data, unsigned length) override;

  Receiver* receiver_;
};
