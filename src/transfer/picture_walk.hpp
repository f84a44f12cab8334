#pragma once
// The one rule for walking the matches of a scan, shared by export, list and the tests' reference
// scan: every match uses up a picture number (so numbering stays stable whatever becomes of a
// match); a match whose picture lies inside the source and, where its kind names the formats it
// accepts, is a picture of one of them, is offered, and a picture taken is skipped as a whole: the
// scan resumes at marker position + length. A match not taken (outside the source, empty, no
// picture of the kind's formats, refused by the caller) lets the scan go on one byte after its
// marker.

#include <cstdint>

#include "formats/picture_format.hpp"
#include "transfer/picture_kind.hpp"
#include "transfer/picture_scan.hpp"

namespace falcet {

// Whether a picture's bytes are of a format the kind accepts.
[[nodiscard]] inline bool kindAccepts(const PictureKind& kind, ByteSpan picture) {
  return acceptsFormat(kind, formatName(sniffPictureFormat(picture)));
}

class PictureWalk {
 public:
  PictureWalk(const PictureKinds& kinds, std::int64_t sourceSize) : m_kinds(kinds), m_size(sourceSize) {}

  // fetch(match) gives the picture's bytes (nullptr when they cannot be read); take(match, number,
  // bytes) says whether the picture was taken. Returns what the scan skips beyond its usual step
  // of one byte.
  template <typename Fetch, typename Take>
  std::int32_t step(const ScanMatch& m, Fetch&& fetch, Take&& take) {
    ++m_number;
    if (!pictureInSource(m, m_size)) return 0;
    const unsigned char* bytes = fetch(m);
    if (!bytes || !kindAccepts(m_kinds[m.kind], ByteSpan(bytes, static_cast<std::size_t>(m.length)))) return 0;
    if (!take(m, m_number, bytes)) return 0;
    return m.length - 1;
  }
  // The source whole in memory; every picture offered taken.
  std::int32_t step(const ScanMatch& m, const unsigned char* source) {
    return step(
        m, [source](const ScanMatch& match) { return source + match.start; },
        [](const ScanMatch&, std::int32_t, const unsigned char*) { return true; });
  }

  // The number of the last match.
  [[nodiscard]] std::int32_t number() const { return m_number; }
  // Goes on after match number `number` (taken back: what followed it is walked again).
  void resumeAfter(std::int32_t number) { m_number = number; }

 private:
  const PictureKinds& m_kinds;
  std::int64_t m_size;
  std::int32_t m_number = 0;
};

}  // namespace falcet
