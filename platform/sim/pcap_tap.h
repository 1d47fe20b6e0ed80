#pragma once
// A capture file of the frames an MCC channel carries, in the classic pcap
// format, for tshark and other independent decoders. Frames are stored as
// the driver carries them (no flags, no FCS), each with the wall-clock time
// it was tapped.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

namespace sim {

class PcapTap {
 public:
  // Link types of the frames.
  static constexpr std::uint32_t lapd = 203;  // Q.921, from the address field on
  static constexpr std::uint32_t mtp2 = 140;  // MTP level 2 signal units
  enum Direction : unsigned { tx = 1, rx = 2, both = 3 };

  PcapTap() = default;
  ~PcapTap();
  PcapTap(const PcapTap&) = delete;
  PcapTap& operator=(const PcapTap&) = delete;

  // Starts a new file (an earlier one is closed); false with errno when it
  // cannot be written.
  bool open(const std::string& path, std::uint32_t linktype, Direction which);
  void close();
  bool active() const { return file_ != nullptr; }
  // Adds a frame that went the given way, if this tap takes that way.
  void add(const std::uint8_t* data, std::size_t len, Direction way);

  const std::string& path() const { return path_; }
  std::uint32_t linktype() const { return linktype_; }
  Direction which() const { return which_; }
  std::uint32_t frames() const { return frames_; }

 private:
  std::FILE* file_ = nullptr;
  std::string path_;
  std::uint32_t linktype_ = lapd;
  Direction which_ = both;
  std::uint32_t frames_ = 0;
};

}  // namespace sim
