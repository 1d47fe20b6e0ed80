#pragma once
// Reading the words of a control command: numbers (decimal or 0x hex),
// errno names (EIO, or a number) and hex bytes. Each returns false when the
// word is not one, so a command can refuse it with its usage. And writing
// the numbers of replies and journal lines in hex.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace sim {
namespace words {

bool to_u32(const std::string& word, std::uint32_t& value);
bool to_i32(const std::string& word, std::int32_t& value);
bool to_float(const std::string& word, float& value);
// "EIO", "ENODEV", ... or a positive number.
bool to_errno(const std::string& word, int& err);
// The errno's name ("EIO"), or its number when it has none.
std::string errno_name(int err);
// "01 AB" or "01AB" (one or more words).
bool to_bytes(const std::vector<std::string>& words, std::size_t first, std::vector<std::uint8_t>& bytes);
// "0x" and the value in upper-case hex, at least `digits` of them.
std::string hex(unsigned long value, int digits = 1);
// The octets in upper-case hex, a blank between two: "01 AB".
std::string hex_octets(const void* data, std::size_t size);
inline std::string hex_octets(const std::vector<std::uint8_t>& bytes) { return hex_octets(bytes.data(), bytes.size()); }

}  // namespace words
}  // namespace sim
