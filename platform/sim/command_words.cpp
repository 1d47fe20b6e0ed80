#include "platform/sim/command_words.h"

#include <string.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>

namespace sim {
namespace words {

bool to_u32(const std::string& word, std::uint32_t& value) {
  if (word.empty() || word[0] == '-' || word[0] == '+') return false;
  char* end = nullptr;
  errno = 0;
  const unsigned long long v = std::strtoull(word.c_str(), &end, 0);
  if (errno || *end || v > 0xFFFFFFFFull) return false;
  value = static_cast<std::uint32_t>(v);
  return true;
}

bool to_i32(const std::string& word, std::int32_t& value) {
  if (word.empty()) return false;
  char* end = nullptr;
  errno = 0;
  const long long v = std::strtoll(word.c_str(), &end, 0);
  if (errno || *end || v < INT32_MIN || v > INT32_MAX) return false;
  value = static_cast<std::int32_t>(v);
  return true;
}

bool to_float(const std::string& word, float& value) {
  if (word.empty()) return false;
  char* end = nullptr;
  errno = 0;
  const float v = std::strtof(word.c_str(), &end);
  if (errno || *end) return false;
  value = v;
  return true;
}

bool to_errno(const std::string& word, int& err) {
  std::uint32_t n;
  if (to_u32(word, n)) {
    if (n == 0 || n > 4095) return false;
    err = static_cast<int>(n);
    return true;
  }
  for (int e = 1; e < 4096; ++e) {
    const char* name = ::strerrorname_np(e);
    if (name && word == name) {
      err = e;
      return true;
    }
  }
  return false;
}

std::string errno_name(int err) {
  const char* name = ::strerrorname_np(err);
  return name ? name : std::to_string(err);
}

bool to_bytes(const std::vector<std::string>& words, std::size_t first, std::vector<std::uint8_t>& bytes) {
  bytes.clear();
  for (std::size_t i = first; i < words.size(); ++i) {
    const std::string& w = words[i];
    if (w.empty() || w.size() % 2) return false;
    for (std::size_t k = 0; k < w.size(); k += 2) {
      char pair[3] = {w[k], w[k + 1], 0};
      char* end = nullptr;
      const unsigned long v = std::strtoul(pair, &end, 16);
      if (*end || pair[0] == '-' || pair[0] == '+' || pair[0] == ' ') return false;
      bytes.push_back(static_cast<std::uint8_t>(v));
    }
  }
  return !bytes.empty();
}

std::string hex(unsigned long value, int digits) {
  char text[24];
  std::snprintf(text, sizeof text, "0x%0*lX", digits, value);
  return text;
}

std::string hex_octets(const void* data, std::size_t size) {
  static const char digits[] = "0123456789ABCDEF";
  const auto* p = static_cast<const std::uint8_t*>(data);
  std::string text;
  text.reserve(size * 3);
  for (std::size_t i = 0; i < size; ++i) {
    if (i) text += ' ';
    text += digits[p[i] >> 4];
    text += digits[p[i] & 15];
  }
  return text;
}

}  // namespace words
}  // namespace sim
