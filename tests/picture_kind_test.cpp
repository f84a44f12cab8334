#include "transfer/picture_kind.hpp"

#include <gtest/gtest.h>

#include "support/fixtures.hpp"

namespace falcet {
namespace {

std::string kindSection(const std::string& name, const std::string& mark = "lt") {
  return "[" + name + "]\nFileHandleMark=" + mark +
         "\nFilePosFix=8\nFileLenPos=0\nBinFileLenPos=-4\nFileExt=bmp\nDfmBlockLenPos=0\nDfmBlockLenFix=0\n";
}

struct Loaded {
  KindsLoadResult result;
  PictureKinds kinds;
};

Loaded load(const std::string& ini) {
  testing::TempDir dir;
  testing::writeFile(dir.path() / "Falcet.ini", ini);
  IniFile file(dir.path(), "x");
  Loaded l;
  l.result = LoadPictureKinds(file, l.kinds);
  return l;
}

TEST(PictureKindTable, ListEndsAtFirstGap) {
  Loaded l = load("[Falcet]\n001=A\n002=B\n004=D\n" + kindSection("A") + kindSection("B") + kindSection("D"));
  ASSERT_TRUE(l.result.ok());
  ASSERT_EQ(l.kinds.size(), 2u);
  EXPECT_EQ(l.kinds[1].Name, "B");
  EXPECT_EQ(l.kinds[0].FilePosFix, 8);
  EXPECT_EQ(l.kinds[0].BinFileLenPos, -4);
  EXPECT_EQ(l.kinds[0].FileHandleMark, "lt");
  EXPECT_EQ(l.kinds[0].BinFileLenFix, 0);
  EXPECT_EQ(load("[Falcet]\n001=A\n002=\n003=A\n" + kindSection("A")).kinds.size(), 1u);
}

TEST(PictureKindTable, ReadsAll999AndNoMore) {
  std::string ini = "[Falcet]\n";
  char key[8];
  for (int i = 1; i <= 1000; ++i) {
    std::snprintf(key, sizeof key, "%03d", i);
    ini += std::string(key) + "=A\n";
  }
  Loaded l = load(ini + kindSection("A"));
  ASSERT_TRUE(l.result.ok());
  EXPECT_EQ(l.kinds.size(), 999u);
}

TEST(PictureKindTable, NoKindLeavesTableAlone) {
  testing::TempDir dir;
  testing::writeFile(dir.path() / "Falcet.ini", "[Falcet]\n002=A\n" + kindSection("A"));
  IniFile file(dir.path(), "x");
  PictureKinds kinds(1);
  kinds[0].Name = "old";
  EXPECT_EQ(LoadPictureKinds(file, kinds).status, KindsLoadResult::Status::NoKinds);
  ASSERT_EQ(kinds.size(), 1u);
  EXPECT_EQ(kinds[0].Name, "old");
}

TEST(PictureKindTable, SettingsErrorsNameSectionAndKey) {
  Loaded missing = load("[Falcet]\n001=A\n[A]\nFileHandleMark=lt\nFilePosFix=8\n");
  EXPECT_EQ(missing.result.status, KindsLoadResult::Status::BadKey);
  EXPECT_EQ(missing.result.section, "A");
  EXPECT_EQ(missing.result.key, "FileLenPos");
  std::string msg = describeKindsError(missing.result, "/x/Falcet.ini");
  EXPECT_NE(msg.find("[A]"), std::string::npos);
  EXPECT_NE(msg.find("FileLenPos"), std::string::npos);
  EXPECT_NE(msg.find("/x/Falcet.ini"), std::string::npos);

  std::string bad = kindSection("A");
  bad.replace(bad.find("FilePosFix=8"), 12, "FilePosFix=eight");
  EXPECT_EQ(load("[Falcet]\n001=A\n" + bad).result.key, "FilePosFix");

  Loaded noSection = load("[Falcet]\n001=Nowhere\n");
  EXPECT_EQ(noSection.result.status, KindsLoadResult::Status::MissingSection);
  EXPECT_EQ(noSection.result.section, "Nowhere");

  Loaded badHex = load("[Falcet]\n001=A\n" + kindSection("A") + "FileHandleMarkHex=6C 7\n");
  EXPECT_EQ(badHex.result.key, "FileHandleMarkHex");
}

TEST(PictureKindTable, OptionalKeys) {
  Loaded l = load("[Falcet]\n001=A\n002=A\n" + kindSection("A", "ignored") +
                  "FileHandleMarkHex=6C 74 0000\nBinFileLenFix=&H6\n");
  ASSERT_TRUE(l.result.ok());
  EXPECT_EQ(l.kinds[0].FileHandleMark, std::string("lt\0\0", 4));
  EXPECT_EQ(l.kinds[0].BinFileLenFix, 6);
  EXPECT_EQ(l.kinds[0], l.kinds[1]);
}

TEST(PictureKindTable, ShippedSettingsLoad) {
  PictureKinds kinds = testing::shippedKinds();
  EXPECT_GE(kinds.size(), 5u);
}

TEST(PictureKindTable, SniffsExtensions) {
  auto ext = [](const std::string& s) {
    return sniffPictureExtension(reinterpret_cast<const unsigned char*>(s.data()), s.size());
  };
  EXPECT_EQ(ext(testing::bmpImage(2, 2, 1)), "bmp");
  EXPECT_EQ(ext(testing::icoImage(1)), "ico");
  EXPECT_EQ(ext(std::string("\0\0\2\0", 4)), "cur");
  EXPECT_EQ(ext(testing::gifImage(1)), "gif");
  EXPECT_EQ(ext(testing::pngImage(1)), "png");
  EXPECT_EQ(ext(testing::jpegImage(4, 1)), "jpg");
  EXPECT_EQ(ext("\xD7\xCD\xC6\x9A"), "wmf");
  EXPECT_EQ(ext("hello"), "bin");
}

}  // namespace
}  // namespace falcet

namespace falcet {
namespace {

TEST(LenFields, PairsAndGuards) {
  const auto fields = parseLenFields("-12:8, -28:24:-24=0452E30B");
  ASSERT_TRUE(fields);
  ASSERT_EQ(fields->size(), 2u);
  EXPECT_EQ((*fields)[0], (LenField{-12, 8, 0, {}}));
  EXPECT_EQ((*fields)[1], (LenField{-28, 24, -24, std::string("\x04\x52\xE3\x0B", 4)}));
  for (const char* bad : {"-12", "-12:x", "-28:24:-24", "-28:24:-24=", "-28:24:x=04", "-28:24:-24=0G"})
    EXPECT_FALSE(parseLenFields(bad)) << bad;
}

}  // namespace
}  // namespace falcet
