#include "transfer/import.hpp"

#include <gtest/gtest.h>

#include "support/fixtures.hpp"
#include "transfer/export.hpp"

namespace falcet {
namespace {

using testing::readFile;
using testing::u32le;
using testing::writeFile;

PictureKind picKind() {
  PictureKind k;
  k.Name = "Pic";
  k.FileHandleMark = "PIC";
  k.FilePosFix = 7;
  k.BinFileLenPos = -4;
  k.FileExt = "dat";
  return k;
}

struct ImportFixture : ::testing::Test {
  testing::TempDir dir;
  testing::RecordingSink sink;
  Session session;
  std::string source;
  std::string original;
  void SetUp() override {
    session.pictureKinds = {picKind()};
    source = dir.file("prog.exe");
  }
  void exportSource(const std::string& content, SourceKindValue kind) {
    original = content;
    writeFile(source, content);
    session.SourceKind = kind;
    std::string p = source;
    ASSERT_TRUE(ExportPictures(session, p, sink));
    sink.messages.clear();
  }
  ImportOutcome import() { return ImportPictures(session, source + ".pic.log", sink); }
  std::string picture(int n) { return pictureFileName(source, n, "dat"); }
};

const std::string kTwoPictures = "head" + std::string("PIC") + u32le(4) + "abcd" + "mid" + "PIC" + u32le(3) + "xyz" + "tail";

TEST_F(ImportFixture, UneditedRoundTripIsByteIdentical) {
  for (SourceKindValue kind : {SourceKindValue::VbExe, SourceKindValue::VbBin, SourceKindValue::DelphiExe, SourceKindValue::DelphiDfm}) {
    session.pictureKinds[0].DfmBlockLenPos = -4;  // the length itself: the block test holds
    exportSource(kTwoPictures, kind);
    EXPECT_EQ(import(), ImportOutcome::Done) << kind;
    EXPECT_EQ(readFile(source), original) << kind;
    EXPECT_EQ(readFile(source + ".bak"), original) << kind;
  }
}

TEST_F(ImportFixture, ExecutablePatchedInPlace) {
  exportSource(kTwoPictures, SourceKindValue::VbExe);
  writeFile(picture(1), "AB");       // smaller: zero-filled
  writeFile(picture(2), "XYZW");     // larger: refused
  EXPECT_EQ(import(), ImportOutcome::Partial);
  std::string want = kTwoPictures;
  want.replace(11, 4, std::string("AB\0\0", 4));
  EXPECT_EQ(readFile(source), want);
  EXPECT_EQ(sink.messages.at(0).text, picture(1) + "  圖像成功匯入！\r\n" + picture(2) +
                                          "  大於原圖像，此圖像未匯入！\r\n匯入完成！");
}

TEST_F(ImportFixture, FormFileRebuiltWithNewLengths) {
  exportSource(kTwoPictures, SourceKindValue::VbBin);
  const std::string grown(104, 'G');
  writeFile(picture(1), grown);
  writeFile(picture(2), "x");
  EXPECT_EQ(import(), ImportOutcome::Done);
  EXPECT_EQ(readFile(source), "headPIC" + u32le(104) + grown + "midPIC" + u32le(1) + "x" + "tail");
  EXPECT_EQ(readFile(source + ".bak"), original);
}

TEST_F(ImportFixture, DfmBlockFieldAndLengthFix) {
  session.pictureKinds[0].DfmBlockLenPos = -11;
  session.pictureKinds[0].DfmBlockLenFix = 4;
  session.pictureKinds[0].BinFileLenFix = 1;
  const std::string content = u32le(7) + "PIC" + u32le(4) + "abc" + "end";
  exportSource(content, SourceKindValue::DelphiDfm);
  ASSERT_EQ(readFile(picture(1)), "abc");
  writeFile(picture(1), "abcdef");
  EXPECT_EQ(import(), ImportOutcome::Done);
  EXPECT_EQ(readFile(source), u32le(10) + "PIC" + u32le(7) + "abcdef" + "end");
}

TEST_F(ImportFixture, DfmResourceHeaderFollowsTheNewSize) {
  const std::string stream = "TPF0" + std::string("PIC") + u32le(2) + "ab" + "rest";
  const std::string header = std::string("\xFF\x0A\x00", 3) + "TFORM1" + '\0' + "\x30\x10" +
                             u32le(static_cast<std::uint32_t>(stream.size()));
  session.pictureKinds[0].DfmBlockLenPos = -4;
  exportSource(header + stream, SourceKindValue::DelphiDfm);
  writeFile(picture(1), "abcde");
  EXPECT_EQ(import(), ImportOutcome::Done);
  const std::string out = readFile(source);
  EXPECT_EQ(out.substr(12, 4), u32le(static_cast<std::uint32_t>(stream.size() + 3)));
  EXPECT_EQ(out.size(), header.size() + stream.size() + 3);
}

TEST_F(ImportFixture, SkippedEntriesKeepTheirBytes) {
  exportSource(kTwoPictures, SourceKindValue::VbBin);
  writeFile(picture(1), "QQQQQQ");
  std::string log = readFile(source + ".pic.log");
  log.replace(log.rfind(":Pic:"), 5, ":Gone:");  // the last entry's kind is unknown
  writeFile(source + ".pic.log", log);
  EXPECT_EQ(import(), ImportOutcome::Partial);
  EXPECT_EQ(readFile(source), "headPIC" + u32le(6) + "QQQQQQ" + "midPIC" + u32le(3) + "xyz" + "tail");
  EXPECT_NE(sink.messages.at(0).text.find("  類型未知，此圖像未匯入！"), std::string::npos);
}

TEST_F(ImportFixture, OutOfRangeAndBackwardEntriesAreSkipped) {
  writeFile(source, kTwoPictures);
  writeFile(dir.file("p"), "zz");
  session.SourceKind = SourceKindValue::VbBin;
  const std::string p = dir.file("p");
  writeFile(source + ".pic.log", "-1:2:Pic:" + p + "\r\n" + "30:5:Pic:" + p + "\r\n" + "25:3:Pic:" + p +
                                     "\r\n" + "11:4:Pic:" + p + "\r\n");
  EXPECT_EQ(import(), ImportOutcome::Partial);
  EXPECT_EQ(sink.messages.at(0).text, p + "  位置超出範圍，此圖像未匯入！\r\n" + p + "  位置超出範圍，此圖像未匯入！\r\n" + p +
                                          "  圖像成功匯入！\r\n" + p + "  位置超出範圍，此圖像未匯入！\r\n匯入完成！");
  session.SourceKind = SourceKindValue::VbExe;
  writeFile(source, kTwoPictures);
  writeFile(source + ".pic.log", "30:5:Pic:" + p + "\r\n");
  EXPECT_EQ(import(), ImportOutcome::Partial);
  EXPECT_EQ(readFile(source), kTwoPictures);
}

TEST_F(ImportFixture, MissingAndUnreadablePictures) {
  exportSource(kTwoPictures, SourceKindValue::VbBin);
  std::filesystem::remove(picture(2));
  std::filesystem::create_directory(picture(2));  // measurable, but not a readable file
  EXPECT_EQ(import(), ImportOutcome::Partial);
  EXPECT_NE(sink.messages.at(0).text.find(picture(2) + "  圖像檔案無法讀取，此圖像未匯入！"), std::string::npos);
  EXPECT_EQ(readFile(source), kTwoPictures);
}

TEST_F(ImportFixture, SecondImportReplacesTheBackup) {
  exportSource(kTwoPictures, SourceKindValue::VbBin);
  writeFile(picture(1), "1");
  ASSERT_EQ(import(), ImportOutcome::Done);
  const std::string first = readFile(source);
  (void)import();
  EXPECT_EQ(readFile(source + ".bak"), first);
}

TEST_F(ImportFixture, FailedSourceLoadAndWriteLeaveTheSource) {
  exportSource(kTwoPictures, SourceKindValue::VbExe);
  std::filesystem::remove(source);
  EXPECT_EQ(import(), ImportOutcome::Failed);
  EXPECT_EQ(sink.messages.at(0).text, "讀檔案錯誤！");
  // A backup name that cannot be replaced (a non-empty folder) stops the write.
  writeFile(source, kTwoPictures);
  std::filesystem::create_directories(source + ".bak/x");
  sink.messages.clear();
  EXPECT_EQ(import(), ImportOutcome::Failed);
  EXPECT_EQ(sink.messages.at(0).text, "寫入檔案錯誤，請確認對此程序擁有寫入權限並且磁盤未滿！");
  EXPECT_EQ(readFile(source), kTwoPictures);
  for (const auto& entry : std::filesystem::directory_iterator(dir.path()))
    EXPECT_EQ(entry.path().filename().string().find(".falcet-"), std::string::npos);
}

TEST_F(ImportFixture, BlankBeforeLogSuffixUsesTrimmedSource) {
  exportSource(kTwoPictures, SourceKindValue::VbExe);
  std::filesystem::rename(source + ".pic.log", source + " .pic.log");
  EXPECT_EQ(ImportPictures(session, source + " .pic.log", sink), ImportOutcome::Done);
  EXPECT_TRUE(std::filesystem::exists(source + ".bak"));
}

}  // namespace
}  // namespace falcet
