// The marker filter's block path on x86-64: AVX2 (32 positions a block) or SSSE3 (16), chosen at
// run time; the scalar loop covers machines with neither. See picture_scan.cpp for the filter's
// idea.

#include <algorithm>
#include <cstdint>
#include <immintrin.h>

#include "transfer/picture_scan_wide.hpp"

namespace falcet {
namespace {

// The bucket bits of 32 bytes: low-nibble table AND high-nibble table.
__attribute__((target("avx2"))) inline __m256i classify(__m256i v, __m256i lo, __m256i hi,
                                                        __m256i nib) {
  __m256i vl = _mm256_and_si256(v, nib);
  __m256i vh = _mm256_and_si256(_mm256_srli_epi16(v, 4), nib);
  return _mm256_and_si256(_mm256_shuffle_epi8(lo, vl), _mm256_shuffle_epi8(hi, vh));
}

__attribute__((target("avx2"))) WideResult nextAvx2(const unsigned char* bytes, std::size_t from,
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
    if (mask) return {p + static_cast<std::size_t>(__builtin_ctz(mask)), true};
  }
  return {p, false};
}

__attribute__((target("ssse3"))) inline __m128i classify16(__m128i v, __m128i lo, __m128i hi, __m128i nib) {
  __m128i vl = _mm_and_si128(v, nib);
  __m128i vh = _mm_and_si128(_mm_srli_epi16(v, 4), nib);
  return _mm_and_si128(_mm_shuffle_epi8(lo, vl), _mm_shuffle_epi8(hi, vh));
}

__attribute__((target("ssse3"))) WideResult nextSsse3(const unsigned char* bytes, std::size_t from,
                                                      std::size_t to, const unsigned char (*lo)[32],
                                                      const unsigned char (*hi)[32]) {
  const __m128i nib = _mm_set1_epi8(0x0F);
  const __m128i lo0 = _mm_load_si128(reinterpret_cast<const __m128i*>(lo[0]));
  const __m128i lo1 = _mm_load_si128(reinterpret_cast<const __m128i*>(lo[1]));
  const __m128i lo2 = _mm_load_si128(reinterpret_cast<const __m128i*>(lo[2]));
  const __m128i hi0 = _mm_load_si128(reinterpret_cast<const __m128i*>(hi[0]));
  const __m128i hi1 = _mm_load_si128(reinterpret_cast<const __m128i*>(hi[1]));
  const __m128i hi2 = _mm_load_si128(reinterpret_cast<const __m128i*>(hi[2]));
  const __m128i zero = _mm_setzero_si128();
  std::size_t p = from;
  for (; p + 16 <= to; p += 16) {
    __m128i v0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + p));
    __m128i v1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + p + 1));
    __m128i v2 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + p + 2));
    __m128i r = _mm_and_si128(classify16(v0, lo0, hi0, nib),
                              _mm_and_si128(classify16(v1, lo1, hi1, nib), classify16(v2, lo2, hi2, nib)));
    auto mask = static_cast<std::uint32_t>(~_mm_movemask_epi8(_mm_cmpeq_epi8(r, zero))) & 0xFFFFu;
    if (mask) return {p + static_cast<std::size_t>(__builtin_ctz(mask)), true};
  }
  return {p, false};
}

WideLevel machineLevel() {
  static const WideLevel level = __builtin_cpu_supports("avx2")    ? WideLevel::Avx2
                                 : __builtin_cpu_supports("ssse3") ? WideLevel::Ssse3
                                                                   : WideLevel::None;
  return level;
}

WideLevel g_cap = WideLevel::Avx2;

}  // namespace

WideLevel capWideLevel(WideLevel level) {
  const WideLevel old = g_cap;
  g_cap = level;
  return old;
}

WideResult wideFilterNext(const unsigned char* bytes, std::size_t from, std::size_t to,
                          const unsigned char (*lo)[32], const unsigned char (*hi)[32]) {
  const WideLevel level = std::min(machineLevel(), g_cap);
  if (level == WideLevel::Avx2) return nextAvx2(bytes, from, to, lo, hi);
  if (level == WideLevel::Ssse3) return nextSsse3(bytes, from, to, lo, hi);
  return {from, false};
}

}  // namespace falcet
