// The VESK packet reader on hostile input: nothing is read past the packet;
// whatever reads packs again, into exactly the room it asks for, to a
// packet that reads back to the same record; the printers and comparisons
// take any record that reads, and no text runs past its buffer.
#include <cstdlib>
#include <cstring>
#include <vector>

#include "radio/sig_proto.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  // The first byte picks a print size and flags; the rest is the packet,
  // copied so that the sanitizer sees its exact end.
  const int printSize = data[0] & 0x7F;
  const int flags = data[0] >> 5;
  std::vector<unsigned char> packet(data + 1, data + size);
  sig_proto rec;
  sig_proto_init(&rec);
  const int result = sig_proto_unpack(&rec, packet.data(), static_cast<int>(packet.size()));
  if (result != 0) {
    const bool empty = packet.empty() && result == sig_proto_missing;  // no packet, no buffer
    if (result != sig_proto_unknown && result != sig_proto_too_short && !empty) std::abort();
    return 0;
  }

  std::vector<unsigned char> out(1024);
  const int n = sig_proto_pack(&rec, out.data(), static_cast<int>(out.size()));
  if (n < 4 || n % 4 != 0 || n > static_cast<int>(packet.size()) + 3) std::abort();
  sig_proto back;
  sig_proto_init(&back);
  if (sig_proto_unpack(&back, out.data(), n) != 0 || std::memcmp(&back, &rec, sizeof rec) != 0) std::abort();
  if (cmp_sig_proto(&rec, &back) != 0 || cmp_sig_proto_flags(&rec, &back) != 0) std::abort();
  if (cmp_sig_proto_header(&rec, &back) != 0) std::abort();

  // A buffer of every size up to the packet: refused, or the same packet.
  for (int room = 0; room <= n; ++room) {
    std::vector<unsigned char> tight(static_cast<std::size_t>(room));
    const int m = sig_proto_pack(&rec, room ? tight.data() : out.data(), room);
    if (m != sig_proto_too_short &&
        (m != n || std::memcmp(tight.data(), out.data(), static_cast<std::size_t>(n)) != 0)) {
      std::abort();
    }
  }

  std::vector<char> text(static_cast<std::size_t>(printSize) + 1);
  const int printed = sprintf_sig_proto(text.data(), printSize, &rec, flags);
  if (printed < 0 || (printSize > 0 && printed > printSize - 1)) std::abort();
  return 0;
}
