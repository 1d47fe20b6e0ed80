// Decodes frames written one per line as "I|O hex octets" (I: network to
// user, O: user to network, as text2pcap takes them) and prints each text
// after a line "=== frame N". Lines starting with '#' and blank lines are
// skipped. Used by the comparison with tshark.
#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "links/isdn/q931_trace.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: q931_trace FRAMES" << std::endl;
    return 2;
  }
  std::ifstream in(argv[1]);
  if (!in) {
    std::cerr << "q931_trace: cannot open " << argv[1] << std::endl;
    return 2;
  }
  std::string line;
  int n = 0;
  while (std::getline(in, line)) {
    std::istringstream words(line);
    std::string dir;
    if (!(words >> dir) || dir[0] == '#') continue;
    std::vector<unsigned char> frame;
    std::string octet;
    while (words >> octet) {
      if (octet[0] == '#') break;
      frame.push_back(static_cast<unsigned char>(std::stoul(octet, nullptr, 16)));
    }
    char text[ISDN::logbuf_size];
    ISDN::dlogframe(frame.data(), static_cast<unsigned>(frame.size()), dir == "I" ? 1 : 0, text);
    std::cout << "=== frame " << ++n << '\n' << text;
  }
  return 0;
}
