#pragma once
// Little-endian integers in byte buffers, bounds-checked. Every read and write names its byte
// order and width; an offset that would reach outside the buffer gives no value (reads) or false
// (writes) and touches nothing. The checks are written as `size - off < n` after `off <= size`, so
// they cannot overflow. Depends on nothing but the standard library, so every layer may use it.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace falcet {

using ByteSpan = std::span<const unsigned char>;
using MutableByteSpan = std::span<unsigned char>;

// True when n bytes from offset off lie inside a buffer of size bytes (off may be negative).
[[nodiscard]] constexpr bool fitsIn(std::size_t size, std::int64_t off, std::size_t n) {
  if (off < 0) return false;
  const auto u = static_cast<std::uint64_t>(off);
  return u <= size && size - u >= n;
}

[[nodiscard]] constexpr std::uint16_t loadU16le(const unsigned char* p) {
  return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}

[[nodiscard]] constexpr std::uint32_t loadU32le(const unsigned char* p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

constexpr void storeU32le(unsigned char* p, std::uint32_t v) {
  p[0] = static_cast<unsigned char>(v);
  p[1] = static_cast<unsigned char>(v >> 8);
  p[2] = static_cast<unsigned char>(v >> 16);
  p[3] = static_cast<unsigned char>(v >> 24);
}

[[nodiscard]] constexpr std::optional<std::uint16_t> u16le(ByteSpan bytes, std::int64_t off) {
  if (!fitsIn(bytes.size(), off, 2)) return std::nullopt;
  return loadU16le(bytes.data() + off);
}

[[nodiscard]] constexpr std::optional<std::uint32_t> u32le(ByteSpan bytes, std::int64_t off) {
  if (!fitsIn(bytes.size(), off, 4)) return std::nullopt;
  return loadU32le(bytes.data() + off);
}

[[nodiscard]] constexpr std::optional<std::int32_t> i32le(ByteSpan bytes, std::int64_t off) {
  auto v = u32le(bytes, off);
  if (!v) return std::nullopt;
  return static_cast<std::int32_t>(*v);
}

// Big-endian reads (PNG, JPEG).
[[nodiscard]] constexpr std::optional<std::uint16_t> u16be(ByteSpan bytes, std::int64_t off) {
  if (!fitsIn(bytes.size(), off, 2)) return std::nullopt;
  const unsigned char* p = bytes.data() + off;
  return static_cast<std::uint16_t>(p[0] << 8 | p[1]);
}

[[nodiscard]] constexpr std::optional<std::uint32_t> u32be(ByteSpan bytes, std::int64_t off) {
  if (!fitsIn(bytes.size(), off, 4)) return std::nullopt;
  const unsigned char* p = bytes.data() + off;
  return static_cast<std::uint32_t>(p[0]) << 24 | static_cast<std::uint32_t>(p[1]) << 16 |
         static_cast<std::uint32_t>(p[2]) << 8 | static_cast<std::uint32_t>(p[3]);
}

[[nodiscard]] constexpr std::optional<std::uint8_t> u8at(ByteSpan bytes, std::int64_t off) {
  if (!fitsIn(bytes.size(), off, 1)) return std::nullopt;
  return bytes[static_cast<std::size_t>(off)];
}

[[nodiscard]] constexpr bool putU32le(MutableByteSpan bytes, std::int64_t off, std::uint32_t v) {
  if (!fitsIn(bytes.size(), off, 4)) return false;
  storeU32le(bytes.data() + off, v);
  return true;
}

[[nodiscard]] constexpr bool putI32le(MutableByteSpan bytes, std::int64_t off, std::int32_t v) {
  return putU32le(bytes, off, static_cast<std::uint32_t>(v));
}

}  // namespace falcet
