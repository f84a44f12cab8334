#pragma once
// Finding pictures: the test of one byte position against the kind table, and the scan over a
// whole buffer that gives exactly the result of testing every position in turn.

#include <cstdint>
#include <optional>
#include <vector>

#include "transfer/picture_kind.hpp"

namespace falcet {

struct ScanMatch {
  std::int32_t markerPos = 0;
  std::int32_t start = 0;   // markerPos + FilePosFix
  std::int32_t length = 0;  // stored length minus BinFileLenFix; may be 0 or negative
  std::size_t kind = 0;     // 0-based index into the kind table
};

// Tests one position as export does: kinds in table order, the first one whose marker matches
// and whose length tests pass is taken. Nothing when a marker would run past the buffer's end
// (the later kinds are then not tried), when a length field lies outside the buffer, or when an
// offset overflows 32 bits. A match does not promise that the picture bytes lie in the buffer.
// delphiBlockTest: the source is a Delphi executable or form file.
[[nodiscard]] std::optional<ScanMatch> testPosition(const unsigned char* bytes, std::int32_t size,
                                                    const PictureKinds& kinds,
                                                    bool delphiBlockTest, std::int32_t pos);

// The same test where bytes holds only part of the file, from file offset base on: every byte
// the kinds may read for pos (see readReach) must lie in it.
[[nodiscard]] std::optional<ScanMatch> testPosition(const unsigned char* bytes, std::int64_t base,
                                                    std::int32_t size, const PictureKinds& kinds,
                                                    bool delphiBlockTest, std::int32_t pos);

// Whether a match's picture lies inside a source of size bytes and has any bytes: only then is it
// a picture export writes (the match still uses up a picture number either way).
[[nodiscard]] constexpr bool pictureInSource(const ScanMatch& m, std::int64_t size) {
  return m.length > 0 && m.start >= 0 && static_cast<std::int64_t>(m.start) + m.length <= size;
}

// How far the test of one position may read: from pos - before up to (not including) pos + after.
struct ReadReach {
  std::int64_t before = 0;
  std::int64_t after = 2;
};
[[nodiscard]] ReadReach readReach(const PictureKinds& kinds, bool delphiBlockTest);

// The multi-marker prefilter: a position it rejects cannot match any kind's marker.
class MarkerFilter {
 public:
  explicit MarkerFilter(const PictureKinds& kinds);
  // The first position in [from, to) that may hold a marker, or to. Reads bytes up to to + 1,
  // so to + 2 <= the buffer's size.
  [[nodiscard]] std::size_t next(const unsigned char* bytes, std::size_t from,
                                 std::size_t to) const;
  // False when a kind has an empty marker: every position is then a candidate.
  [[nodiscard]] bool enabled() const { return m_enabled; }
  [[nodiscard]] std::size_t longestMarker() const { return m_longest; }

 private:
  std::size_t nextScalar(const unsigned char* bytes, std::size_t from, std::size_t to) const;
  bool m_enabled = true;
  std::size_t m_longest = 0;
  // Per prefix offset (0..2): bucket bits by low and high nibble, and the exact byte table.
  alignas(32) unsigned char m_lo[3][32] = {};
  alignas(32) unsigned char m_hi[3][32] = {};
  unsigned char m_table[3][256] = {};
};

// The first position at which the filter may no longer be used: from there on the longest
// marker could run past the end, which the test of each position must see for itself.
[[nodiscard]] std::int64_t filterEnd(const MarkerFilter& filter, std::int32_t size);

// Scans positions pos .. to - 1 of a file of size bytes, of which bytes holds the part from
// offset base on (every byte the kinds may read for those positions, and up to to + 1). For each
// match, onMatch(match) returns how many bytes the scan skips beyond the usual step of one. Returns
// the position where the scan goes on (to, or past it after a picture).
template <typename OnMatch>
std::int64_t scanRange(const unsigned char* bytes, std::int64_t base, std::int32_t size,
                       const PictureKinds& kinds, bool delphiBlockTest, const MarkerFilter& filter,
                       std::int64_t fastEnd, std::int64_t pos, std::int64_t to, OnMatch&& onMatch) {
  while (pos < to) {
    if (pos < fastEnd) {
      const std::int64_t stop = std::min(fastEnd, to);
      pos = base + static_cast<std::int64_t>(filter.next(bytes, static_cast<std::size_t>(pos - base),
                                                         static_cast<std::size_t>(stop - base)));
      if (pos >= stop) continue;
    }
    auto m = testPosition(bytes, base, size, kinds, delphiBlockTest, static_cast<std::int32_t>(pos));
    const std::int64_t skip = m ? static_cast<std::int64_t>(onMatch(*m)) : 0;
    pos += skip + 1;
  }
  return pos;
}

// Scans positions 0 .. size - 2 of a buffer that holds the whole file, in order; onMatch as above.
template <typename OnMatch>
void scanPictures(const unsigned char* bytes, std::int32_t size, const PictureKinds& kinds,
                  bool delphiBlockTest, const MarkerFilter& filter, OnMatch&& onMatch) {
  if (size < 2) return;
  scanRange(bytes, 0, size, kinds, delphiBlockTest, filter, filterEnd(filter, size), 0,
            static_cast<std::int64_t>(size) - 1, onMatch);
}

}  // namespace falcet
