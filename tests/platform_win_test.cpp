// The Win32 platform layer: code page conversions under 950, 1252 and 65001 in one run, file names
// in any script, and the file rules the POSIX tests pin (refused devices, links never written
// through, replacement that keeps the backup).

#include <gtest/gtest.h>

#include <windows.h>

#include "platform/codepage.hpp"
#include "platform/file_io.hpp"
#include "support/fixtures.hpp"

namespace falcet {
namespace {

struct CodePage {
  unsigned page;
  ~CodePage() { useCodePageForTesting(0); }
};

TEST(CodePages, ConvertTheLocaleTextBothWays) {
  const std::string chinese = "\xE5\x9C\x96\xE5\x83\x8F";  // 圖像
  {
    CodePage cp{950};
    useCodePageForTesting(cp.page);
    EXPECT_EQ(localeCharset(), "CP950");
    EXPECT_EQ(utf8ToLocale(chinese), "\xB9\xCF\xB9\xB3");
    EXPECT_EQ(localeToUtf8("\xB9\xCF\xB9\xB3"), chinese);
    EXPECT_EQ(utf8ToLocale("\xC3\xA9"), "?");  // é is not in Big5
    EXPECT_EQ(cutToLocaleBytes(chinese, 3), "\xE5\x9C\x96");
  }
  {
    CodePage cp{1252};
    useCodePageForTesting(cp.page);
    EXPECT_EQ(utf8ToLocale("\xC3\xA9"), "\xE9");
    EXPECT_EQ(localeToUtf8("\xE9"), "\xC3\xA9");
    EXPECT_EQ(utf8ToLocale(chinese), "??");
  }
  {
    CodePage cp{65001};
    useCodePageForTesting(cp.page);
    EXPECT_TRUE(localeIsUtf8());
    EXPECT_EQ(utf8ToLocale(chinese), chinese);
    EXPECT_EQ(localeToUtf8("a\xFF"), "a\xEF\xBF\xBD");
  }
}

// A Chinese file name works whatever the code page: paths never pass through it.
TEST(CodePages, FileNamesSurviveEveryCodePage) {
  testing::TempDir dir;
  for (unsigned page : {950u, 1252u, 65001u}) {
    CodePage cp{page};
    useCodePageForTesting(page);
    const std::string name = utf8Path(dir.path()) + "\\\xE5\x9C\x96\xE5\x83\x8F-" + std::to_string(page) + ".frx";
    ASSERT_EQ(writeWholeFile(nativePath(name), "bytes"), WriteResult::Written) << page;
    EXPECT_EQ(readWholeFile(nativePath(name)), "bytes") << page;
    EXPECT_EQ(utf8Path(nativePath(name)), name);
  }
}

TEST(WinFiles, DevicesAndFoldersAreRefused) {
  testing::TempDir dir;
  EXPECT_FALSE(readWholeFile(L"NUL"));
  EXPECT_FALSE(readWholeFile(dir.path()));
  EXPECT_EQ(errno, EISDIR);
  EXPECT_EQ(writeWholeFile(dir.path(), "x"), WriteResult::Refused);
}

TEST(WinFiles, ReplaceKeepsBackupAndOriginal) {
  testing::TempDir dir;
  const auto target = dir.path() / "Form1.frx";
  testing::writeFile(target, "one");
  ASSERT_TRUE(replaceFileContent(target, "two", 3, {}));
  ASSERT_TRUE(replaceFileContent(target, "three", 5, {}));
  EXPECT_EQ(testing::readFile(target), "three");
  EXPECT_EQ(testing::readFile(dir.path() / "Form1.frx.bak"), "two");
  EXPECT_EQ(testing::readFile(dir.path() / "Form1.frx.orig"), "one");
  // A backup name a file cannot take: nothing changes, nothing is left behind.
  std::filesystem::remove(dir.path() / "Form1.frx.bak");
  std::filesystem::create_directories(dir.path() / "Form1.frx.bak" / "x");
  EXPECT_FALSE(replaceFileContent(target, "four", 4, {}));
  EXPECT_EQ(testing::readFile(target), "three");
  std::size_t files = 0;
  for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir.path())) ++files;
  EXPECT_EQ(files, 3u);
}

TEST(WinFiles, TheSourceItselfIsNeverOverwritten) {
  testing::TempDir dir;
  const auto source = dir.path() / "a.exe";
  testing::writeFile(source, "program");
  FileDescriptor fd = openRegularForRead(source);
  ASSERT_TRUE(fd.valid());
  const auto id = identityOf(fd);
  ASSERT_TRUE(id);
  ASSERT_TRUE(::CreateHardLinkW((dir.path() / "a.exe.001.bmp").c_str(), source.c_str(), nullptr));
  EXPECT_EQ(writeWholeFile(dir.path() / "a.exe.001.bmp", "picture", &*id), WriteResult::Refused);
  EXPECT_EQ(errno, EEXIST);
  EXPECT_EQ(testing::readFile(source), "program");
}

}  // namespace
}  // namespace falcet
