#include "app/detect.hpp"

#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include <ostream>

#include "support/fixtures.hpp"

namespace falcet {
namespace {

using testing::peFile;
using testing::writeFile;

struct DetectCase {
  const char* name;
  std::string fileName;
  std::string content;  // empty: no file is written
  std::optional<SourceKindValue> want;
};

void PrintTo(const DetectCase& c, std::ostream* os) {
  *os << c.name << " (\"" << c.fileName << "\", " << c.content.size() << " bytes, want ";
  if (c.want) *os << *c.want;
  else *os << "none";
  *os << ")";
}

class Detection : public ::testing::TestWithParam<DetectCase> {};

TEST_P(Detection, ChoosesTheKind) {
  const DetectCase& c = GetParam();
  testing::TempDir dir;
  if (!c.content.empty()) writeFile(dir.path() / c.fileName, c.content);
  if (c.fileName.rfind("fifo", 0) == 0) {
#ifdef _WIN32
    GTEST_SKIP() << "no FIFOs in the file system on Windows";
#else
    ASSERT_EQ(::mkfifo(dir.file(c.fileName).c_str(), 0600), 0);
#endif
  }
  EXPECT_EQ(DetectSourceKind(dir.file(c.fileName)), c.want);
}

std::string program(std::string firstSection, bool is64, std::vector<std::pair<std::string, std::string>> rcdata,
                    std::vector<std::string> imports = {}) {
  testing::PeLayout layout;
  layout.firstSection = std::move(firstSection);
  layout.is64 = is64;
  layout.rcdata = std::move(rcdata);
  layout.imports = std::move(imports);
  return testing::peProgram(layout);
}

std::string pastTheEnd() {
  std::string pe = peFile("CODE", 3, "");
  pe.replace(60, 4, testing::u32le(5000));  // header offset beyond the file
  return pe;
}

INSTANTIATE_TEST_SUITE_P(
    Names, Detection,
    ::testing::Values(
        DetectCase{"VbText", "a.exe", peFile(".text", 3, ""), SourceKindValue::VbExe},
        DetectCase{"DelphiCode", "a.EXE", peFile("CODE", 8, ""), SourceKindValue::DelphiExe},
        DetectCase{"MixedCaseEnding", "a.Exe", peFile("CODE", 8, ""), SourceKindValue::DelphiExe},
        DetectCase{"LowerCaseCode", "a.exe", peFile("code", 3, ""), SourceKindValue::VbExe},
        DetectCase{"CodeTwo", "a.exe", peFile("CODE2", 3, ""), SourceKindValue::VbExe},
        DetectCase{"ZeroSections", "a.exe", peFile("CODE", 0, ""), SourceKindValue::VbExe},
        DetectCase{"TwentySections", "a.exe", peFile("CODE", 20, ""), SourceKindValue::DelphiExe},
        DetectCase{"TwentyOneSections", "a.exe", peFile("CODE", 21, ""), SourceKindValue::VbExe},
        DetectCase{"NegativeCountPasses", "a.exe", peFile("CODE", 0x8000, ""), SourceKindValue::DelphiExe},
        DetectCase{"Missing", "gone.exe", "", SourceKindValue::VbExe},
        DetectCase{"TooShort", "a.exe", peFile("CODE", 3, "").substr(0, 1022), SourceKindValue::VbExe},
        DetectCase{"JustLongEnough", "a.exe", peFile("CODE", 3, "").substr(0, 1023), SourceKindValue::DelphiExe},
        DetectCase{"HeaderPastEnd", "a.exe", pastTheEnd(), SourceKindValue::VbExe},
        // By content: form streams in RCDATA make a Delphi-family program whatever its first
        // section; MSVBVM60 imported makes a VB program; else the first section decides.
        DetectCase{"FormStreamBehindText", "a.exe", program(".text", false, {{"TFORM1", "TPF0\x06TForm1"}}), SourceKindValue::DelphiExe},
        DetectCase{"FormStream64", "a.exe", program(".text", true, {{"DATA", "x"}, {"TFORM1", "TPF0\x06TForm1"}}), SourceKindValue::DelphiExe},
        DetectCase{"VbRuntimeBehindCode", "a.exe", program("CODE", false, {}, {"KERNEL32.dll", "msvbvm60.dll"}), SourceKindValue::VbExe},
        DetectCase{"RcdataWithoutStream", "a.exe", program(".text", false, {{"X", "abcd"}}), SourceKindValue::VbExe},
        DetectCase{"RcdataWithoutStreamCode", "a.exe", program("CODE", false, {{"X", "abcd"}}), SourceKindValue::DelphiExe},
        DetectCase{"TrailingBlank", "a.exe ", peFile("CODE", 3, ""), std::nullopt},
        DetectCase{"Bin", "f.BIN", "", SourceKindValue::VbBin}, DetectCase{"Dfm", "f.dfm", "", SourceKindValue::DelphiDfm},
        DetectCase{"Frx", "f.frx", "", SourceKindValue::VbBin},
        DetectCase{"CtxUpperCase", "f.CTX", "", SourceKindValue::VbBin},
        DetectCase{"Dsx", "f.Dsx", "", SourceKindValue::VbBin},
        DetectCase{"Pgx", "f.pgx", "", SourceKindValue::VbBin},
        DetectCase{"Dox", "f.dox", "", SourceKindValue::VbBin},
        DetectCase{"FrmIsNoBlob", "f.frm", "", std::nullopt},
        DetectCase{"FifoExeDoesNotBlock", "fifo.exe", "", SourceKindValue::VbExe},
        DetectCase{"Dll", "f.dll", "", std::nullopt}, DetectCase{"Ocx", "f.ocx", "", std::nullopt},
        DetectCase{"Log", "f.log", "", std::nullopt}),
    [](const auto& row) { return std::string(row.param.name); });

TEST(DetectionNames, ShortNames) {
  EXPECT_EQ(DetectSourceKind("exe"), std::nullopt);
  EXPECT_EQ(DetectSourceKind(""), std::nullopt);
  EXPECT_EQ(DetectSourceKind(".bin"), SourceKindValue::VbBin);
}

}  // namespace
}  // namespace falcet
