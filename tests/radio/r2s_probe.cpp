// The ED-137 extension coder driven by text, for checks against other
// decoders. One record or payload per input line, one answer per line.
//
//   r2s-probe pack     "rx PT SQU ID PM PTTS SCT [feature...]"
//                      "tx PT ID PM PTTS [feature...]"
//                      features: sqi A B | rrc F0..F7 FORM E0 E1 B0 B1 | mam M0..M6
//                                delay D | txrrc F0..F7 | rrm R0 R1
//                      (added through the builders whatever the direction)
//                      answers the payload in hex, or "error CODE"
//   r2s-probe unpack   "rx HEX" or "tx HEX"
//                      answers "CODE " and the record in the pack syntax
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "radio/r2s_proto.h"

namespace {

bool numbers(std::istringstream& in, std::uint32_t* out, int count) {
  for (int i = 0; i < count; ++i) {
    std::string word;
    if (!(in >> word)) return false;
    char* end = nullptr;
    const unsigned long v = std::strtoul(word.c_str(), &end, 0);
    if (*end != '\0') return false;
    out[i] = static_cast<std::uint32_t>(v);
  }
  return true;
}

bool parseRecord(const std::string& line, r2s_proto& rec) {
  std::istringstream in(line);
  std::string word;
  in >> word;
  std::uint32_t h[6];
  if (word == "rx") {
    if (!numbers(in, h, 6)) return false;
    r2s_proto_init(&rec, r2s_proto_type_rx);
    r2s_proto_set_rx_header(&rec, h[0], h[1], h[2], h[3], h[4], h[5]);
  } else if (word == "tx") {
    if (!numbers(in, h, 4)) return false;
    r2s_proto_init(&rec, r2s_proto_type_tx);
    r2s_proto_set_tx_header(&rec, h[0], h[1], h[2], h[3]);
  } else {
    return false;
  }
  while (in >> word) {
    std::uint32_t v[13];
    if (word == "sqi" && numbers(in, v, 2)) {
      r2s_proto_add_rx_sqi(&rec, v[0], v[1]);
    } else if (word == "rrc" && numbers(in, v, 13)) {
      const r2s_proto_rx_additional_rrc a = {v[0], v[1], v[2], v[3],  v[4],  v[5], v[6],
                                             v[7], v[8], v[9], v[10], v[11], v[12]};
      r2s_proto_add_rx_rrc(&rec, &a);
    } else if (word == "mam" && numbers(in, v, 7)) {
      const r2s_proto_rx_additional_mam a = {v[0], v[1], v[2], v[3], v[4], v[5], v[6]};
      r2s_proto_add_rx_mam(&rec, &a);
    } else if (word == "delay" && numbers(in, v, 1)) {
      const r2s_proto_tx_additional_climax_time_delay a = {v[0]};
      r2s_proto_add_tx_time_delay(&rec, &a);
    } else if (word == "txrrc" && numbers(in, v, 8)) {
      const r2s_proto_tx_additional_rrc a = {v[0], v[1], v[2], v[3], v[4], v[5], v[6], v[7]};
      r2s_proto_add_tx_rrc(&rec, &a);
    } else if (word == "rrm" && numbers(in, v, 2)) {
      const r2s_proto_tx_additional_rrm a = {v[0], v[1]};
      r2s_proto_add_tx_rrm(&rec, &a);
    } else {
      return false;
    }
  }
  return true;
}

std::string words(const std::uint32_t* v, int count) {
  std::string s;
  for (int i = 0; i < count; ++i) s += " " + std::to_string(v[i]);
  return s;
}

std::string describe(const r2s_proto& rec) {
  std::string s;
  const bool rx = rec.type == r2s_proto_type_rx;
  if (rx) {
    const std::uint32_t h[6] = {rec.rx.ptt_type, rec.rx.squ,           rec.rx.ptt_id,
                                rec.rx.ptt_mute, rec.rx.ptt_summation, rec.rx.sct};
    s = "rx" + words(h, 6);
  } else {
    const std::uint32_t h[4] = {rec.tx.ptt_type, rec.tx.ptt_id, rec.tx.ptt_mute, rec.tx.ptt_summation};
    s = "tx" + words(h, 4);
  }
  for (std::uint32_t i = 0; i < rec.additionals_count && i < 16; ++i) {
    const r2s_proto_additional& e = rec.additionals[i];
    if (rx && e.kind == r2s_proto_rx_sqi) {
      s += " sqi" + words(e.values, 2);
    } else if (rx && e.kind == r2s_proto_rx_rrc) {
      s += " rrc" + words(e.values, 13);
    } else if (rx && e.kind == r2s_proto_rx_mam) {
      s += " mam" + words(e.values, 7);
    } else if (!rx && e.kind == r2s_proto_tx_climax_time_delay) {
      s += " delay" + words(e.values, 1);
    } else if (!rx && e.kind == r2s_proto_tx_rrc) {
      s += " txrrc" + words(e.values, 8);
    } else if (!rx && e.kind == r2s_proto_tx_rrm) {
      s += " rrm" + words(e.values, 2);
    } else {
      s += " kind " + std::to_string(e.kind);
    }
  }
  return s;
}

bool parseHex(const std::string& text, std::vector<unsigned char>& out) {
  if (text.size() % 2 != 0) return false;
  for (std::size_t i = 0; i < text.size(); i += 2) {
    char* end = nullptr;
    const std::string pair = text.substr(i, 2);
    const unsigned long v = std::strtoul(pair.c_str(), &end, 16);
    if (*end != '\0') return false;
    out.push_back(static_cast<unsigned char>(v));
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc == 2 ? argv[1] : "";
  if (mode != "pack" && mode != "unpack") {
    std::cerr << "usage: r2s-probe pack|unpack < lines\n";
    return 2;
  }
  for (std::string line; std::getline(std::cin, line);) {
    if (mode == "pack") {
      r2s_proto rec;
      if (!parseRecord(line, rec)) {
        std::cerr << "r2s-probe: cannot read: " << line << "\n";
        return 2;
      }
      unsigned char buf[1024];
      const int n = r2s_proto_pack(&rec, buf, sizeof buf);
      if (n < 0) {
        std::cout << "error " << n << "\n";
        continue;
      }
      char hex[3];
      for (int i = 0; i < n; ++i) {
        std::snprintf(hex, sizeof hex, "%02x", buf[i]);
        std::cout << hex;
      }
      std::cout << "\n";
    } else {
      std::istringstream in(line);
      std::string direction, text;
      std::vector<unsigned char> payload;
      if (!(in >> direction >> text) || (direction != "rx" && direction != "tx") || !parseHex(text, payload)) {
        std::cerr << "r2s-probe: cannot read: " << line << "\n";
        return 2;
      }
      r2s_proto rec;
      r2s_proto_init(&rec, r2s_proto_type_empty);
      const int size = static_cast<int>(payload.size());
      const int result = direction == "rx" ? r2s_proto_unpack_rx(&rec, payload.data(), size)
                                           : r2s_proto_unpack_tx(&rec, payload.data(), size);
      std::cout << result << " " << describe(rec) << "\n";
    }
  }
  return 0;
}
