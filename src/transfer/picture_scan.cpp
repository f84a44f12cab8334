#include "transfer/picture_scan.hpp"

#include <cstring>
#include <immintrin.h>
#include <map>

namespace falcet {
namespace {

constexpr int kPrefix = 3;

// Reads a 32-bit little-endian value at file offset off if it lies wholly inside the file; bytes
// holds the file from offset base on.
bool readU32le(const unsigned char* bytes, std::int64_t base, std::int32_t size, std::int64_t off,
               std::int32_t& out) {
  if (off < 0 || off > static_cast<std::int64_t>(size) - 4) return false;
  const unsigned char* p = bytes + (off - base);
  std::uint32_t v = static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
                    static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
  out = static_cast<std::int32_t>(v);
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
  int next = 0;
  for (auto& [prefix, bucket] : groups) {
    bucket = next++ % 8;
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

namespace {

// The bucket bits of 32 bytes: low-nibble table AND high-nibble table.
__attribute__((target("avx2"))) inline __m256i classify(__m256i v, __m256i lo, __m256i hi,
                                                        __m256i nib) {
  __m256i vl = _mm256_and_si256(v, nib);
  __m256i vh = _mm256_and_si256(_mm256_srli_epi16(v, 4), nib);
  return _mm256_and_si256(_mm256_shuffle_epi8(lo, vl), _mm256_shuffle_epi8(hi, vh));
}

__attribute__((target("avx2"))) std::size_t nextAvx2(const unsigned char* bytes, std::size_t from,
                                                     std::size_t to,
                                                     const unsigned char (*lo)[32],
                                                     const unsigned char (*hi)[32]) {
  const __m256i nib = _mm256_set1_epi8(0x0F);
  const __m256i lo0 = _mm256_load_si256(reinterpret_cast<const __m256i*>(lo[0]));
  const __m256i lo1 = _mm256_load_si256(reinterpret_cast<const __m256i*>(lo[1]));
  const __m256i lo2 = _mm256_load_si256(reinterpret_cast<const __m256i*>(lo[2]));
  const __m256i hi0 = _mm256_load_si256(reinterpret_cast<const __m256i*>(hi[0]));
  const __m256i hi1 = _mm256_load_si256(reinterpret_cast<const __m256i*>(hi[1]));
  const __m256i hi2 = _mm256_load_si256(reinterpret_cast<const __m256i*>(hi[2]));
  const __m256i zero = _mm256_setzero_si256();
  std::size_t p = from;
  for (; p + 32 <= to; p += 32) {
    __m256i v0 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(bytes + p));
    __m256i v1 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(bytes + p + 1));
    __m256i v2 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(bytes + p + 2));
    __m256i r = _mm256_and_si256(classify(v0, lo0, hi0, nib),
                                 _mm256_and_si256(classify(v1, lo1, hi1, nib), classify(v2, lo2, hi2, nib)));
    auto mask = static_cast<std::uint32_t>(~_mm256_movemask_epi8(_mm256_cmpeq_epi8(r, zero)));
    if (mask) return p + static_cast<std::size_t>(__builtin_ctz(mask));
  }
  return p;
}

bool haveAvx2() {
  static const bool has = __builtin_cpu_supports("avx2");
  return has;
}

}  // namespace

std::size_t MarkerFilter::next(const unsigned char* bytes, std::size_t from, std::size_t to) const {
  if (!m_enabled) return from;
  std::size_t p = from;
  if (haveAvx2()) {
    p = nextAvx2(bytes, from, to, m_lo, m_hi);
    if (p + 32 <= to) return p;  // a candidate inside a full block
  }
  return nextScalar(bytes, p, to);
}

}  // namespace falcet
