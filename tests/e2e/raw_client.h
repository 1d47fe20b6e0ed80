#pragma once
// A controller that speaks octets: it writes the bytes it is given and
// reads TPKT frames back, sharing nothing with the daemon's coder, so a
// fault that the encoder and the decoder share cannot hide. Every wait is
// a poll with a deadline.
#include <cctype>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "tests/loopback_client.h"

namespace e2e {

using testkit::Bytes;
using testkit::tpkt;

// The octets of hex digits, spaced or not.
inline Bytes hex(const std::string& text) {
  std::string digits;
  for (char c : text)
    if (std::isxdigit(static_cast<unsigned char>(c))) digits += c;
  Bytes out;
  for (std::size_t i = 0; i + 1 < digits.size(); i += 2)
    out.push_back(static_cast<unsigned char>(std::stoul(digits.substr(i, 2), nullptr, 16)));
  return out;
}

inline std::string hex(const Bytes& bytes) {
  std::string out;
  char buf[4];
  for (unsigned char b : bytes) {
    std::snprintf(buf, sizeof buf, out.empty() ? "%02X" : " %02X", b);
    out += buf;
  }
  return out;
}

// Signals never carry seq; their pdu is alternative 2. Read from the
// aligned-PER preamble by hand: seq and slot presence bits, then (after the
// two octets of slot when present) the two bits of the pdu choice.
inline bool isSignal(const unsigned char* payload, std::size_t length) {
  if (length == 0 || (payload[0] & 0x80)) return false;
  if (payload[0] & 0x40) return length > 3 && (payload[3] >> 6) == 2;
  return ((payload[0] >> 4) & 0x03) == 2;
}
inline bool isSignal(const Bytes& payload) { return isSignal(payload.data(), payload.size()); }

class RawClient : public testkit::Client {
 public:
  bool sendPayload(const Bytes& payload) { return write(testkit::tpkt(payload)); }

  // The payload of the next frame, signals skipped; false when none came
  // within the deadline or the daemon closed the connection.
  bool reply(Bytes& payload, std::chrono::milliseconds deadline = std::chrono::seconds(5)) {
    const auto end = std::chrono::steady_clock::now() + deadline;
    for (;;) {
      if (!frame(payload, end)) return false;
      if (!isSignal(payload)) return true;
      signals_.push_back(payload);
    }
  }
  // The next reply's payload in hex ("" when none).
  std::string replyHex(std::chrono::milliseconds deadline = std::chrono::seconds(5)) {
    Bytes p;
    return reply(p, deadline) ? hex(p) : std::string();
  }
  const std::vector<Bytes>& signals() const { return signals_; }

 private:
  std::vector<Bytes> signals_;
};

}  // namespace e2e
