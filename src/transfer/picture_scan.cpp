// The picture scan, and the filter that makes it fast.
//
// The scan's rule is simple and slow: at every position 0 .. size - 2, try the kinds in table
// order; the first kind whose marker matches and whose length fields agree is taken, its picture
// exported, and the scan goes on at marker position + length. Written literally that is
// positions x kinds x marker bytes (tests/support/literal_scan.cpp keeps that version as the
// reference, and the tests compare the two on random buffers and kind tables).
//
// The filter (a "Teddy" filter) rejects most positions without looking at the kinds. Each
// marker's first three bytes (its prefix) go into one of eight buckets, one bit each. For every
// prefix offset k = 0, 1, 2 two 16-entry tables say which buckets have a prefix byte with that low
// nibble (lo[k]) and that high nibble (hi[k]) at offset k. A position p may hold a marker only
// when some bucket bit survives
//
//   lo[0][b0 & 15] & hi[0][b0 >> 4] & lo[1][b1 & 15] & hi[1][b1 >> 4] & lo[2][b2 & 15] & hi[2][b2 >> 4]
//
// with b0, b1, b2 the bytes at p, p + 1, p + 2. A worked example with two markers (buckets are
// given in the order of the prefixes' bytes):
//
//   bucket bit 01: "\x07TBitmap" (07 54 42 ...), prefix 07 54 42
//   bucket bit 02: "lt\0\0"      (6C 74 00 00),  prefix 6C 74 00
//
//   offset 0: lo[0][7] = 01, hi[0][0] = 01 (07)    lo[0][C] = 02, hi[0][6] = 02 (6C)
//   offset 1: lo[1][4] = 03 (54 and 74 share it)   hi[1][5] = 01 (54), hi[1][7] = 02 (74)
//   offset 2: lo[2][2] = 01, hi[2][4] = 01 (42)    lo[2][0] = 02, hi[2][0] = 02 (00)
//
//   bytes 6C 74 00: 02 & 02 & 03 & 02 & 02 & 02 = 02 -> candidate, tested against the kinds
//   bytes 6C 54 00: 02 & 02 & 03 & 01 & ...     = 00 -> rejected (54 at offset 1 is bucket 01's)
//   bytes 07 74 42: 01 & 01 & 03 & 02 & ...     = 00 -> rejected (the buckets disagree)
//
// Nibble tables can let a few non-markers through (two prefixes in one bucket mix their
// nibbles), never keep a marker out; every candidate is then tested exactly, in kind order. With
// more than eight prefixes, buckets are shared, which only adds candidates; each prefix goes
// where it adds the fewest (see the constructor). A marker shorter than
// three bytes fills the offsets it lacks with every nibble. A kind with an empty marker matches
// everywhere and turns the filter off.
//
// The tail: from size - longest marker + 1 on, the longest marker would run past the end of the
// buffer, and the scan's rule says that such a marker ends the test of its position (the kinds
// after it are not tried). The filter cannot see that, so those last positions are tested one by
// one (filterEnd). The filter itself reads up to p + 2, which the tail rule keeps in the buffer.
//
// The filter runs 32 positions at a time with AVX2 where the machine has it
// (picture_scan_x86.cpp, built on x86-64 only; six pshufb lookups per block); elsewhere, and for
// the positions after the last whole block, the byte tables m_table (lo & hi per byte value)
// are used one position at a time.

#include "transfer/picture_scan.hpp"

#include <algorithm>
#include <bit>
#include <cstring>
#include <map>
#include <vector>

#include "transfer/picture_scan_wide.hpp"
#include "base/bytes.hpp"

namespace falcet {
namespace {

constexpr int kPrefix = 3;

// Reads a 32-bit little-endian value at file offset off if it lies wholly inside the file; bytes
// holds the file from offset base on (and every byte the kinds may read, see readReach).
bool readU32le(const unsigned char* bytes, std::int64_t base, std::int32_t size, std::int64_t off,
               std::int32_t& out) {
  if (!fitsIn(static_cast<std::size_t>(size), off, 4)) return false;
  out = static_cast<std::int32_t>(loadU32le(bytes + (off - base)));
  return true;
}

bool fitsInt32(std::int64_t v) { return v >= INT32_MIN && v <= INT32_MAX; }

}  // namespace

std::optional<ScanMatch> testPosition(const unsigned char* bytes, std::int32_t size,
                                      const PictureKinds& kinds, bool delphiBlockTest,
                                      std::int32_t pos) {
  return testPosition(bytes, 0, size, kinds, delphiBlockTest, pos);
}

std::optional<ScanMatch> testPosition(const unsigned char* bytes, std::int64_t base,
                                      std::int32_t size, const PictureKinds& kinds,
                                      bool delphiBlockTest, std::int32_t pos) {
  for (std::size_t k = 0; k < kinds.size(); ++k) {
    const PictureKind& kind = kinds[k];
    const std::string& mark = kind.FileHandleMark;
    if (static_cast<std::int64_t>(pos) + static_cast<std::int64_t>(mark.size()) > size)
      return std::nullopt;
    if (!mark.empty() && std::memcmp(bytes + (pos - base), mark.data(), mark.size()) != 0) continue;

    const std::int64_t start = static_cast<std::int64_t>(pos) + kind.FilePosFix;
    if (!fitsInt32(start)) return std::nullopt;
    std::int32_t stored;
    if (!readU32le(bytes, base, size, start + kind.BinFileLenPos, stored)) return std::nullopt;
    const std::int64_t length = static_cast<std::int64_t>(stored) - kind.BinFileLenFix;
    if (!fitsInt32(length)) return std::nullopt;
    if (kind.FileLenPos != 0) {
      std::int32_t copy;
      if (!readU32le(bytes, base, size, start + kind.FileLenPos, copy)) return std::nullopt;
      if (copy != stored) continue;
    }
    if (length > static_cast<std::int64_t>(size) - pos) continue;
    if (delphiBlockTest) {
      std::int32_t block;
      if (!readU32le(bytes, base, size, start + kind.DfmBlockLenPos, block)) return std::nullopt;
      const std::int64_t want = static_cast<std::int64_t>(kind.DfmBlockLenFix) + length;
      if (!fitsInt32(want)) return std::nullopt;
      if (block != want) continue;
    }
    return ScanMatch{pos, static_cast<std::int32_t>(start), static_cast<std::int32_t>(length), k};
  }
  return std::nullopt;
}

std::int64_t filterEnd(const MarkerFilter& filter, std::int32_t size) {
  if (!filter.enabled()) return 0;
  const std::int64_t end = std::min<std::int64_t>(
      static_cast<std::int64_t>(size) - static_cast<std::int64_t>(filter.longestMarker()) + 1,
      static_cast<std::int64_t>(size) - 2);
  return std::max<std::int64_t>(end, 0);
}

ReadReach readReach(const PictureKinds& kinds, bool delphiBlockTest) {
  ReadReach r;
  auto take = [&](std::int64_t from, std::int64_t to) {
    r.before = std::max(r.before, -from);
    r.after = std::max(r.after, to);
  };
  for (const PictureKind& k : kinds) {
    take(0, static_cast<std::int64_t>(k.FileHandleMark.size()));
    const std::int64_t start = k.FilePosFix;
    take(start + k.BinFileLenPos, start + k.BinFileLenPos + 4);
    if (k.FileLenPos != 0) take(start + k.FileLenPos, start + k.FileLenPos + 4);
    if (delphiBlockTest) take(start + k.DfmBlockLenPos, start + k.DfmBlockLenPos + 4);
  }
  return r;
}

MarkerFilter::MarkerFilter(const PictureKinds& kinds) {
  // Group the markers by their first (up to) three bytes; each group gets one of eight buckets
  // (groups share a bucket when there are more than eight, which only adds candidates).
  std::map<std::string, int> groups;
  for (const PictureKind& k : kinds) {
    if (k.FileHandleMark.empty()) m_enabled = false;
    m_longest = std::max(m_longest, k.FileHandleMark.size());
    groups.emplace(k.FileHandleMark.substr(0, kPrefix), 0);
  }
  if (!m_enabled || kinds.empty()) {
    m_enabled = !kinds.empty() && m_enabled;
    return;
  }
  // Each prefix goes into the bucket where it lets through the fewest other bytes: a bucket
  // passes every combination of its prefixes' nibbles, so its share of random positions is the
  // product, over the offsets, of (low nibbles x high nibbles) / 256. Prefixes with fewer bytes
  // (which pass everything at the offsets they lack) are placed first, so that they take
  // buckets of their own while there are empty ones.
  std::vector<std::string> order;
  for (const auto& [prefix, bucket] : groups) order.push_back(prefix);
  std::stable_sort(order.begin(), order.end(), [](const std::string& a, const std::string& b) { return a.size() < b.size(); });
  struct Nibbles {
    unsigned short lo[kPrefix] = {}, hi[kPrefix] = {};  // one bit per nibble value
  };
  auto add = [](Nibbles n, const std::string& prefix) {
    for (int off = 0; off < kPrefix; ++off) {
      if (off < static_cast<int>(prefix.size())) {
        const auto b = static_cast<unsigned char>(prefix[static_cast<std::size_t>(off)]);
        n.lo[off] = static_cast<unsigned short>(n.lo[off] | (1u << (b & 15)));
        n.hi[off] = static_cast<unsigned short>(n.hi[off] | (1u << (b >> 4)));
      } else {
        n.lo[off] = n.hi[off] = 0xFFFF;
      }
    }
    return n;
  };
  auto share = [](const Nibbles& n) {
    double pass = 1;
    for (int off = 0; off < kPrefix; ++off)
      pass *= std::popcount(n.lo[off]) * std::popcount(n.hi[off]) / 256.0;
    return pass;
  };
  Nibbles buckets[8];
  bool used[8] = {};
  for (const std::string& prefix : order) {
    int best = 0;
    double bestCost = 0;
    for (int b = 0; b < 8; ++b) {
      const double cost = share(add(buckets[b], prefix)) - (used[b] ? share(buckets[b]) : 0);
      if (b == 0 || cost < bestCost) {
        best = b;
        bestCost = cost;
      }
    }
    buckets[best] = add(buckets[best], prefix);
    used[best] = true;
    groups[prefix] = best;
  }
  for (auto& [prefix, bucket] : groups) {
    const auto bit = static_cast<unsigned char>(1u << bucket);
    for (int off = 0; off < kPrefix; ++off) {
      if (off < static_cast<int>(prefix.size())) {
        const auto b = static_cast<unsigned char>(prefix[static_cast<std::size_t>(off)]);
        m_lo[off][b & 15] |= bit;
        m_hi[off][b >> 4] |= bit;
      } else {
        for (int n = 0; n < 16; ++n) {
          m_lo[off][n] |= bit;
          m_hi[off][n] |= bit;
        }
      }
    }
  }
  for (int off = 0; off < kPrefix; ++off) {
    std::memcpy(m_lo[off] + 16, m_lo[off], 16);
    std::memcpy(m_hi[off] + 16, m_hi[off], 16);
    for (int b = 0; b < 256; ++b)
      m_table[off][b] = static_cast<unsigned char>(m_lo[off][b & 15] & m_hi[off][b >> 4]);
  }
}

std::size_t MarkerFilter::nextScalar(const unsigned char* bytes, std::size_t from,
                                     std::size_t to) const {
  for (std::size_t p = from; p < to; ++p) {
    if (m_table[0][bytes[p]] & m_table[1][bytes[p + 1]] & m_table[2][bytes[p + 2]]) return p;
  }
  return to;
}

std::size_t MarkerFilter::next(const unsigned char* bytes, std::size_t from, std::size_t to) const {
  if (!m_enabled) return from;
  const WideResult wide = wideFilterNext(bytes, from, to, m_lo, m_hi);
  if (wide.found) return wide.pos;
  return nextScalar(bytes, wide.pos, to);
}

}  // namespace falcet
