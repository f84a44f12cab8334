#pragma once
// The marker filter's block path: 64, 32 or 16 positions at a time where the machine has a vector
// unit for it. Private to the scan; picture_scan_x86.cpp implements it on x86-64 (AVX-512, AVX2,
// else SSSE3, checked at run time), picture_scan_generic.cpp everywhere else.

#include <cstddef>

namespace falcet {

struct WideResult {
  std::size_t pos;  // the candidate when found, else where the scalar loop goes on
  bool found;
};

// The widest block path used: the machine's, or less where a test asks for it.
enum class WideLevel { None, Ssse3, Avx2, Avx512 };
// Caps the block path at level (tests run each path on one machine); returns the previous cap.
WideLevel capWideLevel(WideLevel level);

// Looks for a candidate in the whole blocks of [from, to); reads up to to + 1.
// lo and hi are the filter's nibble tables (three offsets, each 16 entries twice).
[[nodiscard]] WideResult wideFilterNext(const unsigned char* bytes, std::size_t from,
                                        std::size_t to, const unsigned char (*lo)[32],
                                        const unsigned char (*hi)[32]);

}  // namespace falcet
