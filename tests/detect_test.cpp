#include "app/detect.hpp"

#include <gtest/gtest.h>

#include "support/fixtures.hpp"

namespace falcet {
namespace {

using testing::peFile;
using testing::writeFile;

struct DetectCase {
  const char* name;
  std::string fileName;
  std::string content;  // empty: no file is written
  std::optional<std::int32_t> want;
};

class Detection : public ::testing::TestWithParam<DetectCase> {};

TEST_P(Detection, ChoosesTheKind) {
  const DetectCase& c = GetParam();
  testing::TempDir dir;
  if (!c.content.empty()) writeFile(dir.path() / c.fileName, c.content);
  EXPECT_EQ(DetectSourceKind(dir.file(c.fileName)), c.want);
}

std::string pastTheEnd() {
  std::string pe = peFile("CODE", 3, "");
  pe.replace(60, 4, testing::u32le(5000));  // header offset beyond the file
  return pe;
}

INSTANTIATE_TEST_SUITE_P(
    Names, Detection,
    ::testing::Values(
        DetectCase{"VbText", "a.exe", peFile(".text", 3, ""), 0},
        DetectCase{"DelphiCode", "a.EXE", peFile("CODE", 8, ""), 2},
        DetectCase{"MixedCaseEnding", "a.Exe", peFile("CODE", 8, ""), 2},
        DetectCase{"LowerCaseCode", "a.exe", peFile("code", 3, ""), 0},
        DetectCase{"CodeTwo", "a.exe", peFile("CODE2", 3, ""), 0},
        DetectCase{"ZeroSections", "a.exe", peFile("CODE", 0, ""), 0},
        DetectCase{"TwentySections", "a.exe", peFile("CODE", 20, ""), 2},
        DetectCase{"TwentyOneSections", "a.exe", peFile("CODE", 21, ""), 0},
        DetectCase{"NegativeCountPasses", "a.exe", peFile("CODE", 0x8000, ""), 2},
        DetectCase{"Missing", "gone.exe", "", 0},
        DetectCase{"TooShort", "a.exe", peFile("CODE", 3, "").substr(0, 1022), 0},
        DetectCase{"JustLongEnough", "a.exe", peFile("CODE", 3, "").substr(0, 1023), 2},
        DetectCase{"HeaderPastEnd", "a.exe", pastTheEnd(), 0},
        DetectCase{"TrailingBlank", "a.exe ", peFile("CODE", 3, ""), std::nullopt},
        DetectCase{"Bin", "f.BIN", "", 1}, DetectCase{"Dfm", "f.dfm", "", 3},
        DetectCase{"Dll", "f.dll", "", std::nullopt}, DetectCase{"Ocx", "f.ocx", "", std::nullopt},
        DetectCase{"Log", "f.log", "", std::nullopt}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(DetectionNames, ShortNames) {
  EXPECT_EQ(DetectSourceKind("exe"), std::nullopt);
  EXPECT_EQ(DetectSourceKind(""), std::nullopt);
  EXPECT_EQ(DetectSourceKind(".bin"), 1);
}

}  // namespace
}  // namespace falcet
