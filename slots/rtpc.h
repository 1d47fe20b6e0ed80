#pragma once
// The two RTCP packets an RTP slot sends on its own (RFC 3550): a source
// description when its session starts, a bye when it ends. Each goes out
// alone in one datagram; the driver makes every report.
//
//   RTPC::SDES sdes(ssrc);
//   sdes.add(RTPC::SDES::Item::CNAME, "gw@example.net");
//   char buf[1024];
//   unsigned n = sdes.encode(buf, sizeof buf);   // 0: nothing to send
//
// Every write stays inside the buffer given, whatever its size: a packet
// that cannot be written whole with its mandatory parts is not written.
#include <cstdint>
#include <string>
#include <vector>

namespace RTPC {

class Msg {
 public:
  explicit Msg(std::uint32_t ssrc) : ssrc_(ssrc) {}
  virtual ~Msg() = default;

  virtual unsigned pt() const = 0;
  // The 5-bit count of the header.
  virtual unsigned count() const = 0;
  // Writes the body into p (size octets); its length, a multiple of four,
  // or 0 when it does not fit.
  virtual unsigned encode_body(char* p, unsigned size) const = 0;

  // The whole packet: its length, or 0 when it does not fit.
  unsigned encode(char* buf, unsigned size) const;

  std::uint32_t ssrc() const { return ssrc_; }

 protected:
  // Writes the SSRC at p (four octets, network order).
  void put_ssrc(char* p) const;

 private:
  std::uint32_t ssrc_;
};

// A source description of one source: one chunk with its items.
class SDES : public Msg {
 public:
  struct Item {
    enum Type : std::uint8_t { END = 0, CNAME = 1, NAME = 2, EMAIL = 3, PHONE = 4, LOC = 5, TOOL = 6, NOTE = 7 };
    Type type;
    std::string text;  // cut to 255 octets when written
  };

  using Msg::Msg;
  void add(Item::Type type, const std::string& text) { items_.push_back(Item{type, text}); }

  unsigned pt() const override { return 202; }
  unsigned count() const override { return 1; }
  // The items that fit, in order, then the end of the list: an item that
  // would leave no room for that end is dropped with those after it.
  unsigned encode_body(char* p, unsigned size) const override;

 private:
  std::vector<Item> items_;
};

// The source leaves, with an optional reason (cut to what fits).
class BYE : public Msg {
 public:
  BYE(std::uint32_t ssrc, const std::string& reason) : Msg(ssrc), reason_(reason) {}

  unsigned pt() const override { return 203; }
  unsigned count() const override { return 1; }
  unsigned encode_body(char* p, unsigned size) const override;

 private:
  std::string reason_;
};

}  // namespace RTPC
