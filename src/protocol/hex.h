// Bytes as people read and type them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace zr::protocol {

// "00 01 67".
std::string hex(const std::uint8_t* p, std::size_t n);
inline std::string hex(std::span<const std::uint8_t> b) { return hex(b.data(), b.size()); }
// "00 01 67", "000167", "0x00,0x01" ... -> bytes; false on anything that is not hex.
bool parse_hex(const std::string& text, std::vector<std::uint8_t>& out);

}  // namespace zr::protocol
