#include "fontfix/font_fix.hpp"

#include <gtest/gtest.h>

#include "app/startup.hpp"
#include "support/fixtures.hpp"

namespace falcet {
namespace {

const std::string kFonts =
    "[FontFix]\nAutoFix=1\nOriginFontSize=9\nOriginFontCharset=136\nFixedFontName=Noto\n"
    "FixedFontSize=10.5\nFixedFontCharset=1\n";

struct FontFixFixture : ::testing::Test {
  testing::TempDir dir;
  FontFixSettings settings;
  FontFixLoadResult load(const std::string& text) {
    testing::writeFile(dir.path() / "Falcet.ini", text);
    IniFile ini(dir.path(), "x");
    return LoadFontFixSettings(ini, settings);
  }
};

TEST_F(FontFixFixture, ReadsAllSix) {
  ASSERT_TRUE(load(kFonts).ok);
  EXPECT_TRUE(settings.AutoFix);
  EXPECT_EQ(settings.OriginFontSize, 90000);
  EXPECT_EQ(settings.OriginFontCharset, 136);
  EXPECT_EQ(settings.FixedFontName, "Noto");
  EXPECT_EQ(settings.FixedFontSize, 105000);
  EXPECT_EQ(settings.FixedFontCharset, 1);
  EXPECT_TRUE(isDesignFont(settings, toFixed4(9.0), 136));
  EXPECT_FALSE(isDesignFont(settings, toFixed4(9.75), 136));
  EXPECT_FALSE(isDesignFont(settings, toFixed4(9.0), 0));
}

TEST_F(FontFixFixture, AutoFixIsOnOnlyForOne) {
  for (auto [text, on] : {std::pair{"1", true}, {"1.0", true}, {"0", false}, {"2", false}, {"-1", false}}) {
    std::string ini = kFonts;
    ini.replace(ini.find("AutoFix=1"), 9, std::string("AutoFix=") + text);
    ASSERT_TRUE(load(ini).ok);
    EXPECT_EQ(settings.AutoFix, on) << text;
  }
}

TEST_F(FontFixFixture, MissingOrBadKeyIsNamed) {
  EXPECT_EQ(load("").key, "AutoFix");
  std::string ini = kFonts;
  ini.replace(ini.find("OriginFontCharset=136"), 21, "OriginFontCharset=99999");
  EXPECT_EQ(load(ini).key, "OriginFontCharset");
  ini = kFonts;
  ini.replace(ini.find("FixedFontSize=10.5"), 18, "FixedFontSize=");
  EXPECT_EQ(load(ini).key, "FixedFontSize");
}

TEST_F(FontFixFixture, StartupMessages) {
  testing::writeFile(dir.path() / "Falcet.ini", kFonts + "[Falcet]\n");
  IniFile ini(dir.path(), "x");
  FontFixSettings fonts;
  PictureKinds kinds;
  StartupResult r = loadStartupSettings(ini, fonts, kinds);
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.message, "起始化錯誤！請檢查 ini 檔案的設置後重新執行。");

  testing::writeFile(dir.path() / "Falcet.ini", "[Falcet]\n001=A\n");
  IniFile ini2(dir.path(), "x");
  r = loadStartupSettings(ini2, fonts, kinds);
  EXPECT_FALSE(r.ok);
  EXPECT_NE(r.message.find("AutoFix"), std::string::npos);
  EXPECT_NE(r.message.find("Falcet.ini"), std::string::npos);
}

}  // namespace
}  // namespace falcet
