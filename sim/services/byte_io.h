// Little-endian fields of the services' byte layouts. The layouts are fixed by the bridge on the
// other side, so the helpers never follow the host's byte order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace sim::services {

using Bytes = std::vector<std::uint8_t>;

// The caller has checked that at + 2 <= bytes.size().
inline std::uint16_t GetU16(const Bytes& bytes, std::size_t at) {
  return static_cast<std::uint16_t>(bytes[at] | bytes[at + 1] << 8);
}

// The caller has checked that at + 4 <= bytes.size().
inline std::uint32_t GetU32(const Bytes& bytes, std::size_t at) {
  return static_cast<std::uint32_t>(bytes[at]) | static_cast<std::uint32_t>(bytes[at + 1]) << 8 |
         static_cast<std::uint32_t>(bytes[at + 2]) << 16 | static_cast<std::uint32_t>(bytes[at + 3]) << 24;
}

inline void AppendU32(Bytes& out, std::uint32_t v) {
  for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<std::uint8_t>(v >> shift));
}

// The caller has sized the buffer.
inline void PutU16(Bytes& out, std::size_t at, std::uint16_t v) {
  out[at] = static_cast<std::uint8_t>(v);
  out[at + 1] = static_cast<std::uint8_t>(v >> 8);
}

}  // namespace sim::services
