// The fast scan against the literal reference on arbitrary buffers and kind tables: any
// difference in the matches (position, start, length, kind) or in the order is a finding.

#include <cstdint>
#include <vector>

#include "fuzz_support.hpp"
#include "support/literal_scan.hpp"
#include "transfer/picture_scan.hpp"

using namespace falcet;

namespace {

struct Found {
  std::int32_t markerPos, start, length;
  std::size_t kind;
  bool operator==(const Found&) const = default;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::InputReader in(data, size);
  const std::uint8_t head = in.u8();
  const bool delphi = head & 0x80;
  const std::size_t kindCount = 1 + head % 8;
  PictureKinds kinds;
  for (std::size_t i = 0; i < kindCount; ++i) kinds.push_back(fuzz::readKind(in, i, 12));
  const std::string buffer = in.rest();
  const auto* bytes = reinterpret_cast<const unsigned char*>(buffer.data());
  const auto n = static_cast<std::int32_t>(buffer.size());

  std::vector<Found> fast, literal;
  MarkerFilter filter(kinds);
  PictureWalk walk(kinds, n);
  scanPictures(bytes, n, kinds, delphi, filter, [&](const ScanMatch& m) {
    fast.push_back({m.markerPos, m.start, m.length, m.kind});
    return walk.step(m, bytes);
  });
  PictureWalk literalWalk(kinds, n);
  testing::literalScan(bytes, n, kinds, delphi, [&](const ScanMatch& m) {
    literal.push_back({m.markerPos, m.start, m.length, m.kind});
    return literalWalk.step(m, bytes);
  });
  fuzz::check(fast == literal, "the fast scan differs from the literal one");
  return 0;
}
