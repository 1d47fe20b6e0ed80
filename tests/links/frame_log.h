#pragma once
// What a test line carried: every frame a station handed to its transmitter,
// in order, with what the line did to it. Written out as pcapng for tshark,
// with the direction of each frame kept (the EPB flags), because the LAPD
// dissector needs it to tell commands from responses.
//
//   FrameLog log(203);                       // LINKTYPE_LAPD (140: MTP2)
//   log.add(t_us, "user", true, bytes, FrameLog::Fate::delivered, bytes);
//   log.write_pcapng("lapd.pcapng");         // tshark -r lapd.pcapng ...
//
// The pcapng holds the frames as their sender wrote them; a frame the line
// dropped, cut or altered carries a comment saying so (tshark: frame.comment).
#include <cstdint>
#include <string>
#include <vector>

namespace linktest {

using Bytes = std::vector<std::uint8_t>;

class FrameLog {
 public:
  enum class Fate { delivered, dropped, truncated, altered, in_flight };

  struct Frame {
    std::uint64_t us;    // loop clock when sent
    std::string from;    // name of the sending end
    bool outbound;       // pcapng direction: true outbound, false inbound
    Bytes sent;          // as the sender wrote it
    Fate fate;
    Bytes delivered;     // what reached the peer (empty when dropped)
  };

  explicit FrameLog(std::uint16_t linkType) : linkType_(linkType) {}

  // Returns the frame's index in the log.
  std::size_t add(std::uint64_t us, const std::string& from, bool outbound, const Bytes& sent);
  void settle(std::size_t index, Fate fate, const Bytes& delivered);

  const std::vector<Frame>& frames() const { return frames_; }
  std::uint16_t link_type() const { return linkType_; }
  void clear() { frames_.clear(); }

  // The whole log as a pcapng file (host byte order, as the format allows);
  // false when the file cannot be written.
  bool write_pcapng(const std::string& path) const;
  Bytes pcapng() const;

  static const char* fate_name(Fate f);

 private:
  std::uint16_t linkType_;
  std::vector<Frame> frames_;
};

}  // namespace linktest
