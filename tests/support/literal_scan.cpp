#include "support/literal_scan.hpp"

namespace falcet::testing {
namespace {

// Every access goes through here: false when the index lies outside the buffer.
bool byteAt(const unsigned char* bytes, std::int32_t size, std::int64_t index, unsigned char& out) {
  if (index < 0 || index >= size) return false;
  out = bytes[index];
  return true;
}

bool longAt(const unsigned char* bytes, std::int32_t size, std::int64_t index, std::int32_t& out) {
  std::uint32_t v = 0;
  for (int i = 3; i >= 0; --i) {
    unsigned char b;
    if (!byteAt(bytes, size, index + i, b)) return false;
    v = (v << 8) | b;
  }
  out = static_cast<std::int32_t>(v);
  return true;
}

bool inInt32(std::int64_t v) { return v >= INT32_MIN && v <= INT32_MAX; }

// One position; a failure (an index outside, an overflow) ends it with nothing.
bool tryPosition(const unsigned char* bytes, std::int32_t size, const PictureKinds& kinds,
                 bool delphi, std::int32_t position, ScanMatch& match) {
  for (std::size_t k = 0; k < kinds.size(); ++k) {
    const PictureKind& kind = kinds[k];
    bool differs = false;
    for (std::size_t j = 0; j < kind.FileHandleMark.size(); ++j) {
      unsigned char b;
      if (!byteAt(bytes, size, static_cast<std::int64_t>(position) + static_cast<std::int64_t>(j), b))
        return false;
      if (b != static_cast<unsigned char>(kind.FileHandleMark[j])) differs = true;
    }
    if (differs) continue;
    std::int64_t start = static_cast<std::int64_t>(position) + kind.FilePosFix;
    if (!inInt32(start)) return false;
    std::int32_t stored;
    if (!longAt(bytes, size, start + kind.BinFileLenPos, stored)) return false;
    std::int64_t length = static_cast<std::int64_t>(stored) - kind.BinFileLenFix;
    if (!inInt32(length)) return false;
    bool ok = true;
    if (kind.FileLenPos != 0) {
      std::int32_t second;
      if (!longAt(bytes, size, start + kind.FileLenPos, second)) return false;
      if (second != stored) ok = false;
    }
    if (ok && length > static_cast<std::int64_t>(size) - position) ok = false;
    if (ok && delphi) {
      std::int32_t block;
      if (!longAt(bytes, size, start + kind.DfmBlockLenPos, block)) return false;
      std::int64_t want = static_cast<std::int64_t>(kind.DfmBlockLenFix) + length;
      if (!inInt32(want)) return false;
      if (block != want) ok = false;
    }
    if (!ok) continue;
    match = ScanMatch{position, static_cast<std::int32_t>(start), static_cast<std::int32_t>(length), k};
    return true;
  }
  return false;
}

}  // namespace

void literalScan(const unsigned char* bytes, std::int32_t size, const PictureKinds& kinds,
                 bool delphiBlockTest, const std::function<std::int32_t(const ScanMatch&)>& onMatch) {
  const std::int64_t last = static_cast<std::int64_t>(size) - 2;
  std::int64_t position = 0;
  while (position <= last) {
    ScanMatch m;
    std::int64_t skip = 0;
    if (tryPosition(bytes, size, kinds, delphiBlockTest, static_cast<std::int32_t>(position), m))
      skip = onMatch(m);
    position += skip + 1;
  }
}

}  // namespace falcet::testing
