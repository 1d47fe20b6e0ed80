#include "platform/sim/pcap_tap.h"

#include <sys/time.h>

namespace sim {

namespace {

// Written in the host's own order; readers tell it from the magic number.
struct FileHeader {
  std::uint32_t magic = 0xA1B2C3D4u;
  std::uint16_t major = 2;
  std::uint16_t minor = 4;
  std::int32_t zone = 0;
  std::uint32_t sigfigs = 0;
  std::uint32_t snaplen = 65535;
  std::uint32_t linktype = 0;
};
static_assert(sizeof(FileHeader) == 24, "pcap file header");

struct RecordHeader {
  std::uint32_t seconds;
  std::uint32_t microseconds;
  std::uint32_t captured;
  std::uint32_t length;
};
static_assert(sizeof(RecordHeader) == 16, "pcap record header");

}  // namespace

PcapTap::~PcapTap() { close(); }

bool PcapTap::open(const std::string& path, std::uint32_t linktype, Direction which) {
  close();
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  FileHeader h;
  h.linktype = linktype;
  if (std::fwrite(&h, sizeof h, 1, f) != 1 || std::fflush(f) != 0) {
    std::fclose(f);
    return false;
  }
  file_ = f;
  path_ = path;
  linktype_ = linktype;
  which_ = which;
  frames_ = 0;
  return true;
}

void PcapTap::close() {
  if (file_) std::fclose(file_);
  file_ = nullptr;
}

void PcapTap::add(const std::uint8_t* data, std::size_t len, Direction way) {
  if (!file_ || !(which_ & way)) return;
  timeval now;
  ::gettimeofday(&now, nullptr);
  RecordHeader r{static_cast<std::uint32_t>(now.tv_sec), static_cast<std::uint32_t>(now.tv_usec),
                 static_cast<std::uint32_t>(len), static_cast<std::uint32_t>(len)};
  std::fwrite(&r, sizeof r, 1, file_);
  if (len) std::fwrite(data, 1, len, file_);
  std::fflush(file_);  // readable while the board runs
  ++frames_;
}

}  // namespace sim
