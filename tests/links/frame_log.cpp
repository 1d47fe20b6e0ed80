#include "tests/links/frame_log.h"

#include <cstdio>
#include <cstring>

namespace linktest {

namespace {

// pcapng blocks are written in the writer's byte order; the section header's
// magic tells readers which one that is.
void put32(Bytes& b, std::uint32_t v) {
  unsigned char raw[4];
  std::memcpy(raw, &v, 4);
  b.insert(b.end(), raw, raw + 4);
}

void put16(Bytes& b, std::uint16_t v) {
  unsigned char raw[2];
  std::memcpy(raw, &v, 2);
  b.insert(b.end(), raw, raw + 2);
}

void pad4(Bytes& b) {
  while (b.size() % 4) b.push_back(0);
}

// Block type, total length, body, total length again.
void block(Bytes& out, std::uint32_t type, const Bytes& body) {
  const std::uint32_t total = static_cast<std::uint32_t>(12 + body.size());
  put32(out, type);
  put32(out, total);
  out.insert(out.end(), body.begin(), body.end());
  put32(out, total);
}

void option(Bytes& b, std::uint16_t code, const void* value, std::uint16_t len) {
  put16(b, code);
  put16(b, len);
  const auto* v = static_cast<const std::uint8_t*>(value);
  b.insert(b.end(), v, v + len);
  pad4(b);
}

}  // namespace

std::size_t FrameLog::add(std::uint64_t us, const std::string& from, bool outbound, const Bytes& sent) {
  frames_.push_back(Frame{us, from, outbound, sent, Fate::in_flight, Bytes()});
  return frames_.size() - 1;
}

void FrameLog::settle(std::size_t index, Fate fate, const Bytes& delivered) {
  if (index >= frames_.size()) return;
  frames_[index].fate = fate;
  frames_[index].delivered = delivered;
}

const char* FrameLog::fate_name(Fate f) {
  switch (f) {
    case Fate::delivered: return "delivered";
    case Fate::dropped: return "dropped";
    case Fate::truncated: return "truncated";
    case Fate::altered: return "altered";
    case Fate::in_flight: return "in flight";
  }
  return "?";
}

Bytes FrameLog::pcapng() const {
  Bytes out;
  {
    Bytes shb;
    put32(shb, 0x1A2B3C4Du);
    put16(shb, 1);
    put16(shb, 0);
    put32(shb, 0xFFFFFFFFu);  // section length unknown (64 bits of -1)
    put32(shb, 0xFFFFFFFFu);
    put32(shb, 0);  // end of options
    block(out, 0x0A0D0D0Au, shb);
  }
  {
    Bytes idb;
    put16(idb, linkType_);
    put16(idb, 0);
    put32(idb, 0x40000u);  // snap length
    put32(idb, 0);         // end of options (time stamps in microseconds)
    block(out, 1, idb);
  }
  for (const Frame& f : frames_) {
    Bytes epb;
    put32(epb, 0);  // interface 0
    put32(epb, static_cast<std::uint32_t>(f.us >> 32));
    put32(epb, static_cast<std::uint32_t>(f.us));
    put32(epb, static_cast<std::uint32_t>(f.sent.size()));
    put32(epb, static_cast<std::uint32_t>(f.sent.size()));
    epb.insert(epb.end(), f.sent.begin(), f.sent.end());
    pad4(epb);
    const std::uint32_t flags = f.outbound ? 2u : 1u;  // direction bits: 01 inbound, 10 outbound
    option(epb, 2, &flags, 4);
    if (f.fate != Fate::delivered && f.fate != Fate::in_flight) {
      std::string note = fate_name(f.fate);
      if (f.fate == Fate::truncated) note += " to " + std::to_string(f.delivered.size()) + " octets";
      note += " by the line";
      option(epb, 1, note.data(), static_cast<std::uint16_t>(note.size()));
    }
    put32(epb, 0);  // end of options
    block(out, 6, epb);
  }
  return out;
}

bool FrameLog::write_pcapng(const std::string& path) const {
  const Bytes b = pcapng();
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  const bool ok = std::fwrite(b.data(), 1, b.size(), f) == b.size();
  return std::fclose(f) == 0 && ok;
}

}  // namespace linktest
