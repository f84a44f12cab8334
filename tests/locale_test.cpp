// The reader, the kinds and source loading under a Big5 locale, where the settings file, the
// marker bytes and file names are Big5 bytes while the program's text is UTF-8.

#include <gtest/gtest.h>

#include <clocale>
#include <string>

#include "platform/codepage.hpp"
#include "settings/ini_file.hpp"
#include "support/fixtures.hpp"
#include "transfer/export.hpp"
#include "transfer/import.hpp"
#include "transfer/log_line.hpp"
#include "transfer/picture_kind.hpp"
#include "transfer/source.hpp"

namespace falcet {
namespace {

class LocaleParam : public ::testing::TestWithParam<const char*> {
 protected:
  void SetUp() override {
#ifdef _WIN32
    // Windows has code pages, not locales: the same conversions under 65001 and 950.
    useCodePageForTesting(std::string(GetParam()) == "C.UTF-8" ? 65001 : 950);
#else
    m_saved = std::setlocale(LC_ALL, nullptr);
    if (!std::setlocale(LC_ALL, GetParam())) GTEST_SKIP() << GetParam() << " is not installed";
#endif
  }
  void TearDown() override {
#ifdef _WIN32
    useCodePageForTesting(0);
#else
    std::setlocale(LC_ALL, m_saved.c_str());
#endif
  }

 private:
  std::string m_saved;
};

// "也" is A4 5D in Big5: its second byte is "]".
const std::string kBracketChar = "也";

TEST_P(LocaleParam, ChineseSectionsValuesAndKinds) {
  testing::TempDir dir;
  const std::string ini = "[Falcet]\n001=圖像" + kBracketChar + "\n[圖像" + kBracketChar +
                          "]\nFileHandleMark=圖\nFilePosFix=0\nFileLenPos=0\nBinFileLenPos=2\n"
                          "FileExt=點陣圖\nDfmBlockLenPos=0\nDfmBlockLenFix=0\n[長]\nk=x" +
                          [] {
                            std::string s;
                            for (int i = 0; i < 200; ++i) s += "長";
                            return s;
                          }() + "\n";
  testing::writeFile(dir.path() / "Falcet.ini", utf8ToLocale(ini));
  IniFile file(dir.path(), "x");
  PictureKinds kinds;
  ASSERT_TRUE(LoadPictureKinds(file, kinds).ok());
  ASSERT_EQ(kinds.size(), 1u);
  EXPECT_EQ(kinds[0].Name, "圖像" + kBracketChar);
  EXPECT_EQ(kinds[0].FileExt, "點陣圖");
  EXPECT_EQ(kinds[0].FileHandleMark, utf8ToLocale("圖"));

  const std::string value = file.IniRead("k", "", "長");
  const std::string bytes = utf8ToLocale(value);
  EXPECT_LE(bytes.size(), 254u);
  // Cut at the last whole character: 1 + 2 x 126 in Big5, 1 + 3 x 84 in UTF-8.
  EXPECT_EQ(bytes.size(), localeIsUtf8() ? 253u : 253u);
  EXPECT_EQ(value.substr(0, 1), "x");
}

TEST_P(LocaleParam, LoadsAChineseFileName) {
  testing::TempDir dir;
  const std::string name = (dir.path() / "圖像程式.exe").string();
  testing::writeFile(nativePath(name), "MZ");
  std::string path = name;
  Source src;
  ASSERT_TRUE(LoadSource(path, src));
  EXPECT_EQ(src.SourceSize, 2);
}

// A log is in the locale's set where that spells every name, else UTF-8 behind a byte-order mark:
// a simplified-Chinese name ("简" has no Big5 form) must not become "?" and be lost.
TEST_P(LocaleParam, LogOfNamesTheLocaleCannotSpellIsUtf8) {
  const bool big5 = std::string(GetParam()) != "C.UTF-8";
  const std::string spelled = "1:2:K:圖像.frx.001.ico", unspelled = "1:2:K:简体.frx.001.ico";
  EXPECT_EQ(encodeLogText(spelled), big5 ? utf8ToLocale(spelled) : spelled);
  EXPECT_EQ(encodeLogText(unspelled), big5 ? "\xEF\xBB\xBF" + unspelled : unspelled);
  for (const auto& text : {spelled, unspelled}) EXPECT_EQ(decodeLogText(encodeLogText(text)), text);

  testing::TempDir dir;
  const std::string source = (dir.path() / "简体程式.bin").string();
  testing::writeFile(nativePath(source), "..PIC" + testing::u32le(2) + "ab..");
  Session session;
  session.pictureKinds = {testing::picKind()};
  session.SourceKind = SourceKindValue::VbBin;
  testing::RecordingSink sink;
  std::string path = source;
  ASSERT_TRUE(ExportPictures(session, path, sink));
  testing::writeFile(nativePath(source + ".001.dat"), "xy");
  ASSERT_EQ(ImportPictures(session, source + ".pic.log", sink), ImportOutcome::Done) << sink.messages.back().text;
  EXPECT_EQ(testing::readFile(nativePath(source)), "..PIC" + testing::u32le(2) + "xy..");
}

INSTANTIATE_TEST_SUITE_P(Locales, LocaleParam, ::testing::Values("C.UTF-8", "zh_TW.BIG5"),
                         [](const auto& row) {
                           return std::string(row.param[0] == 'C' ? "Utf8" : "Big5");
                         });

}  // namespace
}  // namespace falcet
