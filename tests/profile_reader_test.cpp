#include "settings/profile_reader.hpp"

#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include <ostream>

#include "settings/ini_file.hpp"
#include "support/fixtures.hpp"

namespace falcet {
namespace {

struct ReadCase {
  const char* name;
  std::string file;
  const char* section;
  const char* key;
  std::optional<std::string> want;
};

void PrintTo(const ReadCase& c, std::ostream* os) {
  *os << c.name << " ([" << c.section << "] " << c.key << ")";
}

class ProfileRules : public ::testing::TestWithParam<ReadCase> {};

TEST_P(ProfileRules, ReadsAsTheProfileReaderDoes) {
  const ReadCase& c = GetParam();
  EXPECT_EQ(ProfileDocument::parse(c.file).read(c.section, c.key), c.want);
}

const std::string kLong(300, 'x');

INSTANTIATE_TEST_SUITE_P(
    Lines, ProfileRules,
    ::testing::Values(
        ReadCase{"Plain", "[s]\nk=v\n", "s", "k", "v"},
        ReadCase{"SectionCaseInsensitive", "[Sec]\nk=v\n", "sEC", "k", "v"},
        ReadCase{"KeyCaseInsensitive", "[s]\nKey=v\n", "s", "kEY", "v"},
        ReadCase{"FirstSectionWins", "[s]\na=1\n[s]\nk=2\n", "s", "k", std::nullopt},
        ReadCase{"FirstKeyWins", "[s]\nk=1\nk=2\n", "s", "k", "1"},
        ReadCase{"CrLf", "[s]\r\nk=v\r\nj=w\r\n", "s", "j", "w"},
        ReadCase{"CrOnly", "[s]\rk=v\rj=w", "s", "j", "w"},
        ReadCase{"BlanksTrimmed", "  [ s ]  \n \t k \t=  v w \t\n", "s", "k", "v w"},
        ReadCase{"Comment", "[s]\n ; k=v\nk=w\n", "s", "k", "w"},
        ReadCase{"HashIsText", "[s]\n#k=v\n", "s", "#k", "v"},
        ReadCase{"TextAfterHeader", "[s] trailing\nk=v\n", "s", "k", "v"},
        ReadCase{"HeaderWithoutBracket", "[s\nk=v\n", "s", "k", "v"},
        ReadCase{"HeaderEndsAtFirstBracket", "[a]b]\nk=v\n", "a", "k", "v"},
        ReadCase{"NoEqualsIsNoValue", "[s]\nk\n", "s", "k", std::nullopt},
        ReadCase{"NoEqualsShadowsLaterKey", "[s]\nk\nk=v\n", "s", "k", std::nullopt},
        ReadCase{"FurtherEqualsInValue", "[s]\nk=a=b\n", "s", "k", "a=b"},
        ReadCase{"DoubleQuotes", "[s]\nk=\" v \"\n", "s", "k", " v "},
        ReadCase{"SingleQuotes", "[s]\nk='v'\n", "s", "k", "v"},
        ReadCase{"UnmatchedQuotes", "[s]\nk=\"v'\n", "s", "k", "\"v'"},
        ReadCase{"LoneQuote", "[s]\nk=\"\n", "s", "k", "\""},
        ReadCase{"EmptyValue", "[s]\nk=\n", "s", "k", std::nullopt},
        ReadCase{"BlankValue", "[s]\nk=   \n", "s", "k", std::nullopt},
        ReadCase{"EmptyQuotes", "[s]\nk=\"\"\n", "s", "k", std::nullopt},
        ReadCase{"NulEndsValue", std::string("[s]\nk=ab\0cd\n", 12), "s", "k", "ab"},
        ReadCase{"CutAt254", "[s]\nk=" + kLong + "\n", "s", "k", std::string(254, 'x')},
        ReadCase{"KeyBeforeAnySection", "k=v\n[s]\n", "s", "k", std::nullopt},
        ReadCase{"MissingSection", "[s]\nk=v\n", "t", "k", std::nullopt},
        ReadCase{"MissingKey", "[s]\nk=v\n", "s", "j", std::nullopt},
        ReadCase{"Utf8Bom", "\xEF\xBB\xBF[s]\nk=v\n", "s", "k", "v"},
        ReadCase{"Utf8BomInvalidBytes", "\xEF\xBB\xBF[s]\nk=a\xFF\xC3" "b\xFD\x80" "c\xED\xA0\x80" "d\n", "s", "k",
                 "a\uFFFD\uFFFDb\uFFFD\uFFFDc\uFFFD\uFFFD\uFFFDd"},
        ReadCase{"Utf16LeBom", std::string("\xFF\xFE[\0s\0]\0\n\0k\0=\0v\0\n\0", 18), "s", "k", "v"},
        ReadCase{"Utf16BeBom", std::string("\xFE\xFF\0[\0s\0]\0\n\0k\0=\0v\0\n", 18), "s", "k", "v"}),
    [](const auto& row) { return std::string(row.param.name); });

TEST(ProfileFiles, MissingFileOrFolderGivesEmptyDocument) {
  testing::TempDir dir;
  EXPECT_FALSE(ProfileDocument::load(dir.path() / "none.ini").read("s", "k"));
  EXPECT_FALSE(ProfileDocument::load(dir.path()).read("s", "k"));
#ifndef _WIN32
  // Neither waits for a FIFO's writer nor reads a device without end.
  ASSERT_EQ(::mkfifo((dir.path() / "fifo.ini").c_str(), 0600), 0);
  EXPECT_FALSE(ProfileDocument::load(dir.path() / "fifo.ini").read("s", "k"));
  EXPECT_FALSE(ProfileDocument::load("/dev/zero").read("s", "k"));
#else
  EXPECT_FALSE(ProfileDocument::load("NUL").read("s", "k"));  // a device, not a file
#endif
}

TEST(IniFileAccess, FirstSelectFixesTheFile) {
  testing::TempDir dir;
  testing::writeFile(dir.path() / "Falcet.ini", "[A]\nk=1\n[B]\nk=2\n");
  testing::writeFile(dir.path() / "Other.ini", "[B]\nk=other\n");
  IniFile ini(dir.path(), "prog");
  ini.IniSelect("Falcet", "A");
  EXPECT_EQ(ini.IniRead("k", "d"), "1");
  ini.IniSelect("Other", "B");
  EXPECT_EQ(ini.IniFilePath(), dir.path() / "Falcet.ini");
  EXPECT_EQ(ini.IniRead("k", "d"), "2");
  EXPECT_EQ(ini.IniRead("missing", "dflt"), "dflt");
  EXPECT_EQ(ini.IniRead("missing", ""), "");
  EXPECT_EQ(ini.IniRead("k", "", "A"), "1");
}

TEST(IniFileAccess, EmptyNamesFallBackAndResetWorks) {
  IniFile ini("/opt/app", "prog");
  std::string base;
  ini.IniSelect(base, "S");
  EXPECT_EQ(base, "prog");
  EXPECT_EQ(ini.IniFilePath(), std::filesystem::path("/opt/app/prog.ini"));
  std::string none;
  ini.IniSelect(none, "");  // a reset: the next call fixes the file again
  EXPECT_EQ(ini.IniSection(), "prog");
  IniFile unnamed("/", "");
  std::string b2;
  unnamed.IniSelect(b2, "");
  EXPECT_EQ(b2, "Falcet");
  EXPECT_EQ(unnamed.IniSection(), "Falcet");
  EXPECT_EQ(unnamed.IniFilePath(), std::filesystem::path("/Falcet.ini"));
}

TEST(IniFileAccess, CutAtNul) {
  EXPECT_EQ(CutAtNul("abc"), "abc");
  EXPECT_EQ(CutAtNul(std::string("\0abc", 4)), "");
  EXPECT_EQ(CutAtNul(std::string("ab\0c", 4)), "ab");
}

}  // namespace
}  // namespace falcet
