// Scan throughput, in one run on the same buffer: the fast scan, the literal reference scan, and
// one memchr pass for a byte that does not occur (the memory-bandwidth limit); then a whole
// export of a 16 MiB file.
//   falcet_bench [MiB]      (default 512)

#include <chrono>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>

#include "support/fixtures.hpp"
#include "support/literal_scan.hpp"
#include "transfer/export.hpp"
#include "transfer/picture_scan_wide.hpp"

using namespace falcet;
using Clock = std::chrono::steady_clock;

namespace {

double seconds(Clock::time_point a, Clock::time_point b) { return std::chrono::duration<double>(b - a).count(); }

std::string plantedBuffer(std::size_t size, int pictures, unsigned seed) {
  std::mt19937_64 rng(seed);
  std::string buf(size, '\0');
  for (std::size_t i = 0; i + 8 <= size; i += 8) {
    std::uint64_t v = rng();
    std::memcpy(&buf[i], &v, 8);
  }
  for (int p = 0; p < pictures; ++p) {
    std::string blob = testing::vbPictureBlob(testing::gifImage(static_cast<unsigned>(p)) + std::string(500, 'x'));
    std::size_t at = (size / static_cast<std::size_t>(pictures)) * static_cast<std::size_t>(p);
    buf.replace(at, blob.size(), blob);
  }
  // Keep one byte value out of the buffer, for the memchr pass.
  for (char& c : buf)
    if (static_cast<unsigned char>(c) == 0xFF) c = '\xFE';
  return buf;
}

}  // namespace

int main(int argc, char** argv) {
  // falcet_bench --write FILE MIB: only writes the planted buffer to FILE (for whole_export.sh).
  if (argc == 4 && std::string(argv[1]) == "--write") {
    testing::writeFile(argv[2], plantedBuffer(std::stoul(argv[3]) << 20, 4000, 1));
    return 0;
  }
  const std::size_t mib = argc > 1 ? std::stoul(argv[1]) : 512;
  const PictureKinds kinds = testing::shippedKinds();
  const std::string buf = plantedBuffer(mib << 20, 4000, 1);
  const auto* bytes = reinterpret_cast<const unsigned char*>(buf.data());
  const auto size = static_cast<std::int32_t>(buf.size());
  const double gb = static_cast<double>(buf.size()) / 1e9;

  const int absent = 0xFF;
  const void* hit = nullptr;
  double tMemchr = 1e9;
  for (int r = 0; r < 3; ++r) {
    auto t0 = Clock::now();
    hit = std::memchr(bytes, absent, buf.size());
    tMemchr = std::min(tMemchr, seconds(t0, Clock::now()));
  }

  MarkerFilter filter(kinds);
  std::size_t fastCount = 0;
  double tFast = 1e9;
  for (int r = 0; r < 3; ++r) {
    fastCount = 0;
    auto t0 = Clock::now();
    PictureWalk walk(kinds, size);
    scanPictures(bytes, size, kinds, false, filter, [&](const ScanMatch& m) {
      ++fastCount;
      return walk.step(m, bytes);
    });
    tFast = std::min(tFast, seconds(t0, Clock::now()));
  }

  // The narrower block paths, as machines without AVX-512 or AVX2 run them.
  auto timeCapped = [&](WideLevel level) {
    const WideLevel old = capWideLevel(level);
    double best = 1e9;
    for (int r = 0; r < 3; ++r) {
      auto t0 = Clock::now();
      PictureWalk walk(kinds, size);
      scanPictures(bytes, size, kinds, false, filter, [&](const ScanMatch& m) { return walk.step(m, bytes); });
      best = std::min(best, seconds(t0, Clock::now()));
    }
    (void)capWideLevel(old);
    return best;
  };
  const double tAvx2 = timeCapped(WideLevel::Avx2);
  const double tSsse3 = timeCapped(WideLevel::Ssse3), tScalar = timeCapped(WideLevel::None);

  std::size_t literalCount = 0;
  auto t0 = Clock::now();
  PictureWalk walk(kinds, size);
  testing::literalScan(bytes, size, kinds, false, [&](const ScanMatch& m) {
    ++literalCount;
    return walk.step(m, bytes);
  });
  const double tLiteral = seconds(t0, Clock::now());

  std::printf("buffer %zu MiB, %zu kinds, matches fast %zu literal %zu%s\n", mib, kinds.size(), fastCount,
              literalCount, hit ? " (memchr byte present!)" : "");
  std::printf("memchr absent byte: %.3f s  %.2f GB/s\n", tMemchr, gb / tMemchr);
  std::printf("fast scan:          %.3f s  %.2f GB/s\n", tFast, gb / tFast);
  std::printf("fast scan, AVX2:    %.3f s  %.2f GB/s\n", tAvx2, gb / tAvx2);
  std::printf("fast scan, SSSE3:   %.3f s  %.2f GB/s\n", tSsse3, gb / tSsse3);
  std::printf("fast scan, scalar:  %.3f s  %.2f GB/s\n", tScalar, gb / tScalar);
  std::printf("literal scan:       %.3f s  %.2f GB/s\n", tLiteral, gb / tLiteral);
  std::printf("fast / literal: %.1fx   fast / memchr: %.2f\n", tLiteral / tFast, tMemchr / tFast);

  // A whole export of a 16 MiB file.
  testing::TempDir dir;
  const std::string file = dir.file("big.exe");
  testing::writeFile(file, buf.substr(0, 16u << 20));
  Session session;
  session.pictureKinds = kinds;
  struct Quiet : ResultSink {
    int show(std::string_view, std::string_view, MessageKind) override { return kButtonOk; }
  } sink;
  std::string path = file;
  t0 = Clock::now();
  (void)ExportPictures(session, path, sink);
  std::printf("export of 16 MiB:   %.3f s\n", seconds(t0, Clock::now()));
  return fastCount == literalCount ? 0 : 1;
}
