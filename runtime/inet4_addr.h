#pragma once
// An IPv4 socket address (exactly the system's sockaddr_in) parsed from
// "a.b.c.d[:port]" and printed back as "a.b.c.d:port".
#include <netinet/in.h>

#include <iosfwd>
#include <string>
#include <vector>

namespace INet4 {

class Addr {
 public:
  Addr() { Reset(); }
  explicit Addr(const sockaddr_in& sa) : sa_(sa) {}

  // 0.0.0.0 port 0, family AF_INET.
  void Reset();
  // Text before the first colon is a dotted address (any inet_aton form);
  // the text after it a decimal port, whose low 16 bits are kept and whose
  // value is reported through port. Without a colon, -1 is reported and the
  // port is left as it was. Returns whether the address part converted; the
  // address is changed only then.
  bool Assign(const char* text, int* port);
  bool Assign(const std::string& text, int* port);
  // Sets the address (given in network byte order, like in_addr::s_addr).
  void Assign(unsigned long address);

  // Address and port equal (the family is not compared).
  bool IsEqual(const Addr& other) const;
  void Put(std::ostream& s) const;
  std::string GetString() const;
  // The four address bytes in network order.
  std::vector<char> GetVector() const;

  const sockaddr_in& sockaddr() const { return sa_; }
  sockaddr_in& sockaddr() { return sa_; }
  unsigned short port() const;  // host order

 private:
  sockaddr_in sa_;
};

std::ostream& operator<<(std::ostream& s, const Addr& a);

// A port written out whole: one to five decimal digits and nothing else
// (no blank, sign or trailer), 1..65535. Assign's reading keeps what it can
// of any text; a configured peer needs this stricter one.
bool ParsePort(const std::string& text, unsigned short* port);

}  // namespace INet4
