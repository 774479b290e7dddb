// Little-endian fields of byte layouts (records exchanged with the modem and with callers, NVM
// items, registry data, reply bytes), read and written one way everywhere: never by laying a
// struct over bytes, never past the end of the bytes at hand.
//
// Every access is bounds-checked against the span with arithmetic that cannot wrap. A reader or
// writer that is asked for a field beyond the end answers 0 (writes nothing) and stays failed, so a
// caller can make all its accesses and check ok() once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace plat {

// True when `size` bytes from `at` lie within `length` bytes.
constexpr bool FieldFits(std::size_t length, std::size_t at, std::size_t size) {
  return at <= length && size <= length - at;
}

class LeReader {
 public:
  explicit constexpr LeReader(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}

  constexpr std::uint8_t U8(std::size_t at) { return static_cast<std::uint8_t>(Field(at, 1)); }
  constexpr std::uint16_t U16(std::size_t at) { return static_cast<std::uint16_t>(Field(at, 2)); }
  constexpr std::uint32_t U32(std::size_t at) { return static_cast<std::uint32_t>(Field(at, 4)); }
  constexpr std::int16_t I16(std::size_t at) { return static_cast<std::int16_t>(U16(at)); }

  // False once any field asked for lay beyond the end.
  constexpr bool ok() const { return ok_; }
  constexpr std::size_t size() const { return bytes_.size(); }

 private:
  constexpr std::uint32_t Field(std::size_t at, std::size_t size) {
    if (!FieldFits(bytes_.size(), at, size)) {
      ok_ = false;
      return 0;
    }
    std::uint32_t v = 0;
    for (std::size_t i = 0; i < size; ++i) v |= static_cast<std::uint32_t>(bytes_[at + i]) << (8 * i);
    return v;
  }

  std::span<const std::uint8_t> bytes_;
  bool ok_ = true;
};

class LeWriter {
 public:
  explicit constexpr LeWriter(std::span<std::uint8_t> bytes) : bytes_(bytes) {}

  constexpr LeWriter& U8(std::size_t at, std::uint8_t v) { return Field(at, 1, v); }
  constexpr LeWriter& U16(std::size_t at, std::uint16_t v) { return Field(at, 2, v); }
  constexpr LeWriter& U32(std::size_t at, std::uint32_t v) { return Field(at, 4, v); }

  // False once any field lay beyond the end (that field was not written).
  constexpr bool ok() const { return ok_; }

 private:
  constexpr LeWriter& Field(std::size_t at, std::size_t size, std::uint32_t v) {
    if (!FieldFits(bytes_.size(), at, size)) {
      ok_ = false;
      return *this;
    }
    for (std::size_t i = 0; i < size; ++i) bytes_[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
    return *this;
  }

  std::span<std::uint8_t> bytes_;
  bool ok_ = true;
};

// One field, for a caller that reads a single one; nullopt when it lies beyond the end.
inline std::optional<std::uint16_t> ReadU16(std::span<const std::uint8_t> bytes, std::size_t at) {
  LeReader r(bytes);
  const std::uint16_t v = r.U16(at);
  return r.ok() ? std::optional<std::uint16_t>(v) : std::nullopt;
}
inline std::optional<std::uint32_t> ReadU32(std::span<const std::uint8_t> bytes, std::size_t at) {
  LeReader r(bytes);
  const std::uint32_t v = r.U32(at);
  return r.ok() ? std::optional<std::uint32_t>(v) : std::nullopt;
}

inline void AppendU16(std::vector<std::uint8_t>& out, std::uint16_t v) {
  out.push_back(static_cast<std::uint8_t>(v));
  out.push_back(static_cast<std::uint8_t>(v >> 8));
}
inline void AppendU32(std::vector<std::uint8_t>& out, std::uint32_t v) {
  for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<std::uint8_t>(v >> shift));
}

}  // namespace plat
