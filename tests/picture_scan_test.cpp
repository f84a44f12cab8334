#include "transfer/picture_scan.hpp"
#include "transfer/picture_scan_wide.hpp"

#include <gtest/gtest.h>

#include <random>

#include "support/fixtures.hpp"
#include "support/literal_scan.hpp"

namespace falcet {
namespace {

using testing::literalScan;
using testing::u32le;

struct Found {
  std::int32_t markerPos, start, length;
  std::size_t kind;
  bool operator==(const Found&) const = default;
};

std::vector<Found> fastScan(const std::string& buf, const PictureKinds& kinds, bool delphi) {
  std::vector<Found> out;
  const auto* bytes = reinterpret_cast<const unsigned char*>(buf.data());
  const auto size = static_cast<std::int32_t>(buf.size());
  MarkerFilter filter(kinds);
  PictureWalk walk(kinds, size);
  scanPictures(bytes, size, kinds, delphi, filter, [&](const ScanMatch& m) {
    out.push_back({m.markerPos, m.start, m.length, m.kind});
    return walk.step(m, bytes);
  });
  return out;
}

std::vector<Found> referenceScan(const std::string& buf, const PictureKinds& kinds, bool delphi) {
  std::vector<Found> out;
  const auto* bytes = reinterpret_cast<const unsigned char*>(buf.data());
  const auto size = static_cast<std::int32_t>(buf.size());
  PictureWalk walk(kinds, size);
  literalScan(bytes, size, kinds, delphi, [&](const ScanMatch& m) {
    out.push_back({m.markerPos, m.start, m.length, m.kind});
    return walk.step(m, bytes);
  });
  return out;
}

PictureKind kind(std::string mark, std::int32_t posFix, std::int32_t lenPos) {
  PictureKind k;
  k.Name = "k" + mark;
  k.FileHandleMark = std::move(mark);
  k.FilePosFix = posFix;
  k.BinFileLenPos = lenPos;
  k.FileExt = "bin";
  return k;
}

TEST(PictureScan, MarkerPastTheEndEndsThePosition) {
  // "B" at 4 is found. "B" at 10 would fit too, but the earlier kind's four-byte marker cannot
  // be compared there (10 + 4 > 12), which ends the position before "B" is tried.
  PictureKinds kinds{kind("XYZW", 0, 0), kind("B", 0, -4)};
  std::string buf = u32le(1) + "B" + "x" + u32le(1) + "B" + "x";
  auto found = fastScan(buf, kinds, false);
  EXPECT_EQ(found, referenceScan(buf, kinds, false));
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0].markerPos, 4);
}

TEST(PictureScan, LowerIndexWinsAndSpanHidesMarkers) {
  PictureKinds kinds{kind("AB", 2, 0), kind("A", 1, 0)};
  std::string body = "AB" + u32le(10) + "ABABAB" + "AB" + u32le(3) + "zzz..";
  auto found = fastScan(body, kinds, false);
  EXPECT_EQ(found, referenceScan(body, kinds, false));
  ASSERT_FALSE(found.empty());
  EXPECT_EQ(found[0], (Found{0, 2, 10, 0}));
  for (const Found& f : found) EXPECT_FALSE(f.markerPos > 0 && f.markerPos < 10);
}

TEST(PictureScan, LengthBoundaryIsRemainingBytesFromMarker) {
  PictureKinds kinds{kind("M", 0, 1)};
  std::string exact = "M" + u32le(5);  // 5 bytes remain from position 0: accepted
  std::string over = "M" + u32le(6);
  EXPECT_EQ(fastScan(exact, kinds, false).size(), 1u);
  EXPECT_EQ(fastScan(over, kinds, false).size(), 0u);
}

TEST(PictureScan, LastByteIsNeverAStart) {
  PictureKinds kinds{kind("M", 0, -4)};
  std::string buf = u32le(0) + "M";
  EXPECT_TRUE(fastScan(buf, kinds, false).empty());
  EXPECT_TRUE(referenceScan(buf, kinds, false).empty());
}

TEST(PictureScan, DelphiBlockTestAppliesToEveryKind) {
  PictureKinds kinds{kind("BM", 0, -4)};
  kinds[0].DfmBlockLenPos = 0;  // compares the value at the picture start itself
  kinds[0].DfmBlockLenFix = 0;
  std::string buf = u32le(6) + "BM" + u32le(0) + "..";
  EXPECT_EQ(fastScan(buf, kinds, false).size(), 1u);
  EXPECT_EQ(fastScan(buf, kinds, true).size(), 0u);
  EXPECT_EQ(referenceScan(buf, kinds, true).size(), 0u);
}

// The fast scan against the literal reference on many random buffers and kind tables, through
// each block path this machine has (AVX2, SSSE3, none).
class PictureScanPaths : public ::testing::TestWithParam<WideLevel> {
 protected:
  void SetUp() override { m_old = capWideLevel(GetParam()); }
  void TearDown() override { (void)capWideLevel(m_old); }
  WideLevel m_old = WideLevel::Avx512;
};

TEST_P(PictureScanPaths, MatchesTheLiteralScanOnRandomInput) {
  std::mt19937 rng(20261209);
  const std::string alphabet = std::string("ab\0\1", 4);
  auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
  std::size_t totalMatches = 0;
  for (int round = 0; round < 3000; ++round) {
    PictureKinds kinds;
    const int nKinds = 1 + pick(12);
    for (int k = 0; k < nKinds; ++k) {
      std::string mark;
      const int len = round % 50 == 0 ? pick(13) : 1 + pick(12);
      for (int j = 0; j < len; ++j) mark += alphabet[static_cast<std::size_t>(pick(4))];
      PictureKind pk = kind(mark, pick(20) - 10, pick(16) - 8);
      pk.FileLenPos = pick(4) == 0 ? pick(9) - 4 : 0;
      pk.DfmBlockLenPos = pick(9) - 4;
      pk.DfmBlockLenFix = pick(5);
      pk.BinFileLenFix = pick(4) == 0 ? pick(5) : 0;
      kinds.push_back(pk);
    }
    std::string buf(static_cast<std::size_t>(pick(400)), '\0');
    for (char& c : buf) c = pick(3) == 0 ? static_cast<char>(rng()) : alphabet[static_cast<std::size_t>(pick(4))];
    // Plant markers with small lengths after them, some near the end.
    for (int p = 0; p < 6 && !buf.empty(); ++p) {
      const PictureKind& pk = kinds[static_cast<std::size_t>(pick(nKinds))];
      std::size_t at = static_cast<std::size_t>(pick(static_cast<int>(buf.size())));
      std::string piece = pk.FileHandleMark + u32le(static_cast<std::uint32_t>(pick(40) - 4));
      buf.replace(at, std::min(piece.size(), buf.size() - at), piece.substr(0, buf.size() - at));
    }
    const bool delphi = pick(2) == 0;
    auto want = referenceScan(buf, kinds, delphi);
    ASSERT_EQ(fastScan(buf, kinds, delphi), want) << "round " << round;
    totalMatches += want.size();
  }
  EXPECT_GT(totalMatches, 1000u);  // the planted markers do get found
}

INSTANTIATE_TEST_SUITE_P(Paths, PictureScanPaths,
                         ::testing::Values(WideLevel::Avx512, WideLevel::Avx2, WideLevel::Ssse3, WideLevel::None),
                         [](const auto& path) {
                           switch (path.param) {
                             case WideLevel::Avx512: return std::string("Avx512");
                             case WideLevel::Avx2: return std::string("Avx2");
                             case WideLevel::Ssse3: return std::string("Ssse3");
                             case WideLevel::None: return std::string("Scalar");
                           }
                           return std::string();
                         });

TEST(PictureScan, EmptyMarkerMatchesEverywhere) {
  PictureKinds kinds{kind("", 0, 0)};
  std::string buf = u32le(2) + u32le(1) + "xyz";
  auto found = fastScan(buf, kinds, false);
  EXPECT_EQ(found, referenceScan(buf, kinds, false));
  EXPECT_FALSE(found.empty());
}

}  // namespace
}  // namespace falcet
