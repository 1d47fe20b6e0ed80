// The ED-137 extension readers on hostile input: nothing is read past the
// payload; whatever reads (wholly, or up to a block cut short) packs again
// to a payload that reads back to the same record, and into any smaller
// room it is refused or the same.
#include <cstdlib>
#include <cstring>
#include <vector>

#include "radio/r2s_proto.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  // The first byte picks the direction; the rest is the payload, copied so
  // that the sanitizer sees its exact end.
  const bool rx = (data[0] & 1) != 0;
  std::vector<unsigned char> payload(data + 1, data + size);
  const int length = static_cast<int>(payload.size());
  auto unpack = rx ? r2s_proto_unpack_rx : r2s_proto_unpack_tx;
  r2s_proto rec;
  r2s_proto_init(&rec, r2s_proto_type_empty);
  const int result = unpack(&rec, length ? payload.data() : nullptr, length);
  if (result != 0 && result != r2s_proto_too_short && result != r2s_proto_missing) std::abort();
  if (rec.type == r2s_proto_type_empty) return 0;  // not even a header
  if (rec.additionals_count > 16) std::abort();

  std::vector<unsigned char> out(1024);
  const int n = r2s_proto_pack(&rec, out.data(), static_cast<int>(out.size()));
  if (n < 2) std::abort();
  r2s_proto back;
  r2s_proto_init(&back, r2s_proto_type_empty);
  if (unpack(&back, out.data(), n) != 0 || std::memcmp(&back, &rec, sizeof rec) != 0) std::abort();
  if (cmp_r2s_proto_source(&rec, &back) != 0) std::abort();

  for (int room = 0; room < n; ++room) {
    std::vector<unsigned char> tight(static_cast<std::size_t>(room));
    const int m = r2s_proto_pack(&rec, room ? tight.data() : out.data(), room);
    if (m != r2s_proto_too_short &&
        (m != n || std::memcmp(tight.data(), out.data(), static_cast<std::size_t>(n)) != 0)) {
      std::abort();
    }
  }
  return 0;
}
