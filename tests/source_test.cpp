#include "transfer/source.hpp"

#include <gtest/gtest.h>

#include "support/fixtures.hpp"

namespace falcet {
namespace {

TEST(SourceLoading, TrimsThePathAndReadsEveryByte) {
  testing::TempDir dir;
  testing::writeFile(dir.path() / "a.bin", "x");
  std::string path = "  " + dir.file("a.bin") + "  ";
  Source src;
  ASSERT_TRUE(LoadSource(path, src));
  EXPECT_EQ(path, dir.file("a.bin"));
  EXPECT_EQ(src.SourceSize, 1);
  EXPECT_EQ(src.SourceBytes.data()[0], 'x');
}

TEST(SourceLoading, RefusesWhatCannotBeLoaded) {
  testing::TempDir dir;
  testing::writeFile(dir.path() / "empty", "");
  Source src;
  for (std::string path : {dir.file("empty"), dir.file("missing"), dir.path().string(), std::string()})
    EXPECT_FALSE(LoadSource(path, src)) << path;
}

TEST(SourceLoading, LargeFileUsesMappedBuffer) {
  testing::TempDir dir;
  std::string big(5u << 20, 'q');
  big.back() = 'z';
  testing::writeFile(dir.path() / "big", big);
  std::string path = dir.file("big");
  Source src;
  ASSERT_TRUE(LoadSource(path, src));
  EXPECT_EQ(src.SourceSize, static_cast<std::int32_t>(big.size()));
  EXPECT_EQ(src.SourceBytes.data()[big.size() - 1], 'z');
}

}  // namespace
}  // namespace falcet
