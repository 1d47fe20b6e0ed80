#pragma once
// The dial-in plug-in's records as a test writes them, octet by octet
// (big-endian words), and the answers it expects: written apart from the
// daemon's own coder, so that a fault shared by both cannot hide.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>

#include "tests/loopback_client.h"

namespace plugin {

// A record of the plug-in: header and body words, big-endian.
inline testkit::Bytes record(std::uint32_t length, std::uint32_t type, std::int32_t session,
                             const testkit::Bytes& body = {}) {
  testkit::Bytes r;
  for (std::uint32_t w : {length, type, static_cast<std::uint32_t>(session)})
    for (int shift = 24; shift >= 0; shift -= 8) r.push_back(static_cast<unsigned char>(w >> shift));
  r.insert(r.end(), body.begin(), body.end());
  return r;
}
// An authentication request: two texts of 64 octets.
inline testkit::Bytes authRequest(std::int32_t session, const std::string& user, const std::string& password) {
  testkit::Bytes body(128, 0);
  std::copy(user.begin(), user.begin() + static_cast<long>(std::min<std::size_t>(user.size(), 64)), body.begin());
  std::copy(password.begin(), password.begin() + static_cast<long>(std::min<std::size_t>(password.size(), 64)),
            body.begin() + 64);
  return record(140, 1, session, body);
}
// An accounting record whose counters are small numbers.
inline testkit::Bytes accounting(std::int32_t session, std::uint8_t out, std::uint8_t in, std::uint8_t time) {
  testkit::Bytes body(52, 0);
  body[12 + 7] = out;  // octets sent, low octet of 64 bits
  body[20 + 7] = in;   // octets received
  body[44 + 3] = time;
  return record(64, 4, session, body);
}

// What the controller sees of the records, in value notation.
inline std::string auth(int slot, const std::string& user, const std::string& password) {
  return "{ slot " + std::to_string(slot) + ", pdu signal : modemProceeding : auth : { username \"" + user +
         "\", password \"" + password + "\" } }";
}
inline std::string acct(int slot, int out, int in, int time) {
  return "{ slot " + std::to_string(slot) + ", pdu signal : modemProceeding : acct : { octetsOut { low " +
         std::to_string(out) + ", high 0 }, octetsIn { low " + std::to_string(in) +
         ", high 0 }, packetsOut { low 0, high 0 }, packetsIn { low 0, high 0 }, time { low " +
         std::to_string(time) + ", high 0 } } }";
}
inline std::string aborted(int slot, int code) {
  return "{ slot " + std::to_string(slot) + ", pdu signal : abort : " + std::to_string(code) + " }";
}

// The controller's activate with the user's parameters, and the octets of
// the records that answer it for a session (a modem number).
inline std::string activation() {
  return "activate : modem : { remoteAddr \"10.1.2.3\", netmask \"255.255.255.0\", gateway \"10.1.2.1\", "
         "dns \"10.1.2.53\", mtu 1500 }";
}
inline std::string answers(int session) {
  char s[16];
  std::snprintf(s, sizeof s, "%02X", session);
  const std::string n = std::string("00 00 00 ") + s;
  return "00 00 00 10 00 00 00 02 " + n + " 00 00 00 01 00 00 00 24 00 00 00 03 " + n +
         " 00 00 00 00 0A 01 02 03 FF FF FF 00 0A 01 02 01 0A 01 02 35 00 00 05 DC";
}

}  // namespace plugin
