// The marker filter's block path on x86-64: AVX-512 (64 positions a block), AVX2 (32) or SSSE3
// (16), chosen at run time; the scalar loop covers machines with none of them. See picture_scan.cpp for the filter's
// idea.

#include <algorithm>
#include <cstdint>
#include <cstring>
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

// The bucket bits of 64 bytes, as classify.
__attribute__((target("avx512f,avx512bw"))) inline __m512i classify64(__m512i v, __m512i lo, __m512i hi,
                                                                     __m512i nib) {
  __m512i vl = _mm512_and_si512(v, nib);
  __m512i vh = _mm512_and_si512(_mm512_srli_epi16(v, 4), nib);
  return _mm512_and_si512(_mm512_shuffle_epi8(lo, vl), _mm512_shuffle_epi8(hi, vh));
}

// A table of 16 entries in each 128-bit lane, from one of 16 entries twice.
__attribute__((target("avx512f,avx512bw"))) inline __m512i table64(const unsigned char (&table)[32]) {
  alignas(64) unsigned char four[64];
  std::memcpy(four, table, 32);
  std::memcpy(four + 32, table, 32);
  return _mm512_load_si512(four);
}

// The blocks AVX-512 leaves (fewer than 64 positions) go to AVX2.
__attribute__((target("avx512f,avx512bw"))) WideResult nextAvx512(const unsigned char* bytes, std::size_t from,
                                                                  std::size_t to,
                                                                  const unsigned char (*lo)[32],
                                                                  const unsigned char (*hi)[32]) {
  const __m512i nib = _mm512_set1_epi8(0x0F);
  const __m512i lo0 = table64(lo[0]), lo1 = table64(lo[1]), lo2 = table64(lo[2]);
  const __m512i hi0 = table64(hi[0]), hi1 = table64(hi[1]), hi2 = table64(hi[2]);
  std::size_t p = from;
  if (p + 128 > to) return nextAvx2(bytes, p, to, lo, hi);
  // One load a block: the bytes one and two further on come from it and the next block (split
  // loads of 64 bytes each cost more than the whole classification).
  __m512i v0 = _mm512_loadu_si512(bytes + p);
  for (; p + 128 <= to; p += 64) {
    const __m512i next = _mm512_loadu_si512(bytes + p + 64);
    // Each lane's bytes 16 further on (the masked form: the plain one trips a compiler warning).
    const __m512i lanes = _mm512_mask_alignr_epi64(v0, 0xFF, next, v0, 2);
    __m512i v1 = _mm512_alignr_epi8(lanes, v0, 1);
    __m512i v2 = _mm512_alignr_epi8(lanes, v0, 2);
    __m512i r = _mm512_and_si512(classify64(v0, lo0, hi0, nib),
                                 _mm512_and_si512(classify64(v1, lo1, hi1, nib), classify64(v2, lo2, hi2, nib)));
    const __mmask64 mask = _mm512_test_epi8_mask(r, r);
    if (mask) return {p + static_cast<std::size_t>(__builtin_ctzll(mask)), true};
    v0 = next;
  }
  return nextAvx2(bytes, p, to, lo, hi);
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
  static const WideLevel level =
      __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") ? WideLevel::Avx512
      : __builtin_cpu_supports("avx2")                                        ? WideLevel::Avx2
      : __builtin_cpu_supports("ssse3")                                       ? WideLevel::Ssse3
                                                                              : WideLevel::None;
  return level;
}

WideLevel g_cap = WideLevel::Avx512;

}  // namespace

WideLevel capWideLevel(WideLevel level) {
  const WideLevel old = g_cap;
  g_cap = level;
  return old;
}

WideResult wideFilterNext(const unsigned char* bytes, std::size_t from, std::size_t to,
                          const unsigned char (*lo)[32], const unsigned char (*hi)[32]) {
  const WideLevel level = std::min(machineLevel(), g_cap);
  if (level == WideLevel::Avx512) return nextAvx512(bytes, from, to, lo, hi);
  if (level == WideLevel::Avx2) return nextAvx2(bytes, from, to, lo, hi);
  if (level == WideLevel::Ssse3) return nextSsse3(bytes, from, to, lo, hi);
  return {from, false};
}

}  // namespace falcet
