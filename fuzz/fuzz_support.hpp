#pragma once
// Shared helpers of the fuzz targets: a private scratch folder, reading an input piece by piece,
// and failing loudly so that both libFuzzer and the replay runner stop on a finding.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>

#include "transfer/picture_kind.hpp"

namespace falcet::fuzz {

// Stops the run with a message; libFuzzer keeps the input that got here.
[[noreturn]] inline void fail(const char* what) {
  std::fprintf(stderr, "fuzz check failed: %s\n", what);
  std::abort();
}

inline void check(bool ok, const char* what) {
  if (!ok) fail(what);
}

// One scratch folder per process, under $TMPDIR, removed at exit.
const std::filesystem::path& scratchFolder();

// Removes everything inside the scratch folder.
void clearScratch();

std::string readFileBytes(const std::filesystem::path& path);
void writeFileBytes(const std::filesystem::path& path, std::string_view bytes);

// Takes bytes off the front of an input; past the end it gives zeros.
class InputReader {
 public:
  InputReader(const std::uint8_t* data, std::size_t size) : m_data(data), m_size(size) {}
  std::uint8_t u8() { return m_pos < m_size ? m_data[m_pos++] : 0; }
  std::uint16_t u16() { return static_cast<std::uint16_t>(u8() | u8() << 8); }
  std::int8_t s8() { return static_cast<std::int8_t>(u8()); }
  std::string bytes(std::size_t n) {
    n = std::min(n, m_size - m_pos);
    std::string out(reinterpret_cast<const char*>(m_data + m_pos), n);
    m_pos += n;
    return out;
  }
  std::string rest() { return bytes(m_size - m_pos); }
  [[nodiscard]] std::size_t left() const { return m_size - m_pos; }

 private:
  const std::uint8_t* m_data;
  std::size_t m_size;
  std::size_t m_pos = 0;
};

// One picture kind from the input: a marker of up to maxMarker bytes, signed offsets and fixes
// (each optional one behind a flag bit), the extension "bin" or "*".
PictureKind readKind(InputReader& in, std::size_t index, std::size_t maxMarker);

}  // namespace falcet::fuzz
