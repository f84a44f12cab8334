#pragma once
// The one rule for walking the matches of a scan, shared by export, list and the tests' reference
// scan: every match uses up a picture number (so numbering stays stable whatever becomes of a
// match); a match whose picture lies inside the source is offered, and a picture taken is skipped
// as a whole: the scan resumes at marker position + length. A match not taken (outside the
// source, empty, refused by the caller) lets the scan go on one byte after its marker.

#include <cstdint>

#include "transfer/picture_scan.hpp"

namespace falcet {

class PictureWalk {
 public:
  explicit PictureWalk(std::int64_t sourceSize) : m_size(sourceSize) {}

  // take(match, number) says whether the picture was taken. Returns what the scan skips beyond
  // its usual step of one byte.
  template <typename Take>
  std::int32_t step(const ScanMatch& m, Take&& take) {
    ++m_number;
    if (!pictureInSource(m, m_size)) return 0;
    if (!take(m, m_number)) return 0;
    return m.length - 1;
  }
  // Every picture inside the source taken.
  std::int32_t step(const ScanMatch& m) {
    return step(m, [](const ScanMatch&, std::int32_t) { return true; });
  }

  // The number of the last match.
  [[nodiscard]] std::int32_t number() const { return m_number; }

 private:
  std::int64_t m_size;
  std::int32_t m_number = 0;
};

}  // namespace falcet
