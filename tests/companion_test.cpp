#include "transfer/companion.hpp"

#include <gtest/gtest.h>

#include <cctype>

#include "support/fixtures.hpp"
#include "texts/texts.hpp"
#include "transfer/export.hpp"
#include "transfer/import.hpp"
#include "transfer/log_reader.hpp"

namespace falcet {
namespace {

using testing::readFile;
using testing::writeFile;

TEST(CompanionOffsets, MapThroughTheChanges) {
  const std::vector<SizeChange> changes = {{10, 4, 9}, {30, 6, 2}};
  EXPECT_EQ(mapOffset(changes, 0), 0);
  EXPECT_EQ(mapOffset(changes, 10), 10);            // the changed picture's own start
  EXPECT_EQ(mapOffset(changes, 12), std::nullopt);  // inside it
  EXPECT_EQ(mapOffset(changes, 14), 19);            // right after it
  EXPECT_EQ(mapOffset(changes, 30), 35);
  EXPECT_EQ(mapOffset(changes, 36), 37);
}

TEST(CompanionText, MovesOnlyItsOwnReferences) {
  const std::string text =
      "Icon = \"Form1.frx\":0000\r\nPicture = \"FORM1.FRX\":0014\r\n"
      "Caption = $\"sub\\Form1.frx\":1A2B\r\nOther = \"Form2.frx\":0014\r\n"
      "Caption = \"\xA4\xA4\xA4\xE5 \"\"Form1.frx\"\":0014\"\r\nList = \"Form1.frx\":FFFF\r\n";
  const CompanionRewrite r = rewriteCompanion(text, "form1.frx", {{8, 4, 4100}});
  EXPECT_EQ(r.references, 4u);
  EXPECT_EQ(r.moved, 3u);
  EXPECT_EQ(r.text,
            "Icon = \"Form1.frx\":0000\r\nPicture = \"FORM1.FRX\":1014\r\n"
            "Caption = $\"sub\\Form1.frx\":2A2B\r\nOther = \"Form2.frx\":0014\r\n"
            "Caption = \"\xA4\xA4\xA4\xE5 \"\"Form1.frx\"\":0014\"\r\nList = \"Form1.frx\":10FFF\r\n");
}

TEST(CompanionNames, BlobExtensions) {
  EXPECT_EQ(companionExtension("a.FRX"), "frm");
  EXPECT_EQ(companionExtension("a.ctx"), "ctl");
  EXPECT_EQ(companionExtension("a.Dsx"), "dsr");
  EXPECT_EQ(companionExtension("a.pgx"), "pag");
  EXPECT_EQ(companionExtension("a.dox"), "dob");
  EXPECT_EQ(companionExtension("a.bin"), "");
  EXPECT_TRUE(isVbBlobFileName("x.frx"));
  EXPECT_FALSE(isVbBlobFileName("x.frm"));
}

// The offsets of a companion text's references ("...":HHHH), in order, and the text without them.
std::vector<std::size_t> referencedOffsets(const std::string& text, std::string* rest = nullptr) {
  std::vector<std::size_t> out;
  for (std::size_t at = text.find("\":"); at != std::string::npos; at = text.find("\":", at + 2)) {
    std::size_t end = at + 2;
    while (end < text.size() && std::isxdigit(static_cast<unsigned char>(text[end]))) ++end;
    if (end - at - 2 >= 4) out.push_back(std::stoul(text.substr(at + 2, end - at - 2), nullptr, 16));
  }
  if (rest) {
    *rest = text;
    for (std::size_t at = rest->find("\":"); at != std::string::npos; at = rest->find("\":", at + 2)) {
      std::size_t end = at + 2;
      while (end < rest->size() && std::isxdigit(static_cast<unsigned char>((*rest)[end]))) ++end;
      rest->erase(at + 2, end - at - 2);
    }
  }
  return out;
}

struct CompanionImport : ::testing::Test {
  testing::TempDir dir;
  testing::RecordingSink sink;
  Session session;
  // The GIF carries padding after its trailer, so a smaller GIF can take its place.
  std::vector<std::string> images = {testing::icoImage(1), testing::gifImage(2) + std::string(30, '\0'),
                                     testing::bmpImage(3, 2, 3)};
  std::string blob, companion;
  void SetUp() override {
    session.pictureKinds = testing::shippedKinds();
    session.SourceKind = SourceKindValue::VbBin;
    blob = dir.file("Form1.frx");
    companion = dir.file("form1.FRM");  // letter case differs from the blob file's
  }
  std::vector<std::string> pictureFiles;
  void exportPair(const testing::VbFormPair& pair) {
    writeFile(blob, pair.blobs);
    writeFile(companion, pair.text);
    std::string path = blob;
    ASSERT_TRUE(ExportPictures(session, path, sink));
    ASSERT_TRUE(ReadLog(session, blob + ".pic.log", sink));
    for (const LogEntry& e : session.LogEntries) pictureFiles.push_back(e.PicturePath);
    ASSERT_EQ(pictureFiles.size(), images.size());
    sink.messages.clear();
  }
};

// Every reference still points at its blob after pictures grew and shrank: a picture blob's
// sizes agree and hold the new picture, a text blob is unchanged.
TEST_F(CompanionImport, ReferencesFollowChangedPictures) {
  const testing::VbFormPair pair = testing::vbFormPair(images, "Form1.frx");
  exportPair(pair);
  const std::vector<std::string> edited = {images[0] + std::string(300, 'g'), testing::gifImage(9), images[2]};
  for (std::size_t i = 0; i < 3; ++i) writeFile(pictureFiles[i], edited[i]);
  ASSERT_EQ(ImportPictures(session, blob + ".pic.log", sink), ImportOutcome::Done) << sink.messages.at(0).text;
  EXPECT_NE(sink.messages.at(0).text.find("已更新窗體文字檔中的位置：\r\n  " + companion), std::string::npos)
      << sink.messages.at(0).text;
  EXPECT_EQ(readFile(companion + ".bak"), pair.text);
  const std::string blobs = readFile(blob);
  const std::string text = readFile(companion);
  const auto before = referencedOffsets(pair.text), after = referencedOffsets(text);
  ASSERT_EQ(after.size(), 6u);
  for (std::size_t i = 0; i < 3; ++i) {
    const std::size_t at = after[2 * i];
    const auto n = static_cast<std::uint32_t>(edited[i].size());
    EXPECT_EQ(blobs.substr(at, 12), testing::u32le(n + 8) + std::string("lt\0\0", 4) + testing::u32le(n)) << i;
    EXPECT_EQ(blobs.substr(at + 12, n), edited[i]) << i;
    EXPECT_EQ(blobs.substr(after[2 * i + 1], 34), pair.blobs.substr(before[2 * i + 1], 34)) << i;  // u32 + caption
  }
  // The rest of the text is as it was.
  std::string restAfter, restBefore;
  (void)referencedOffsets(text, &restAfter);
  (void)referencedOffsets(pair.text, &restBefore);
  EXPECT_EQ(restAfter, restBefore);
}

TEST_F(CompanionImport, MissingCompanionIsReported) {
  const testing::VbFormPair pair = testing::vbFormPair(images, "Form1.frx");
  exportPair(pair);
  std::filesystem::remove(companion);
  writeFile(pictureFiles[0], images[0] + "grown");
  EXPECT_EQ(ImportPictures(session, blob + ".pic.log", sink), ImportOutcome::Done);
  EXPECT_NE(sink.messages.at(0).text.find("找不到窗體文字檔，其中指向此檔的位置未能更新：\r\n  " + dir.file("Form1.frm")),
            std::string::npos)
      << sink.messages.at(0).text;
}

#ifndef _WIN32  // chattr
// A companion that cannot be written stops the import before anything is written, so the same
// log, imported again once it can be, puts everything in.
TEST_F(CompanionImport, CompanionThatCannotBeWrittenStopsTheImport) {
  const testing::VbFormPair pair = testing::vbFormPair(images, "Form1.frx");
  exportPair(pair);
  writeFile(pictureFiles[0], images[0] + "grown");
  const std::string log = readFile(blob + ".pic.log");
  if (std::system(("chattr +i " + testing::shellQuoted(companion) + " 2> /dev/null").c_str()) != 0)
    GTEST_SKIP() << "chattr +i is not allowed here";
  const ImportOutcome locked = ImportPictures(session, blob + ".pic.log", sink);
  EXPECT_EQ(std::system(("chattr -i " + testing::shellQuoted(companion)).c_str()), 0);
  EXPECT_EQ(locked, ImportOutcome::Failed);
  EXPECT_EQ(readFile(blob), pair.blobs);
  EXPECT_EQ(readFile(companion), pair.text);
  EXPECT_EQ(readFile(blob + ".pic.log"), log);
  sink.messages.clear();
  EXPECT_EQ(ImportPictures(session, blob + ".pic.log", sink), ImportOutcome::Done) << sink.messages.at(0).text;
  EXPECT_NE(readFile(companion), pair.text);
  EXPECT_NE(readFile(blob), pair.blobs);
}
#endif

// A companion whose references name another file (a Big5 .frm whose blob name was spelled in
// another code page, say) is named in the report: its offsets were not moved.
TEST_F(CompanionImport, CompanionWithoutOurReferencesIsReported) {
  const testing::VbFormPair pair = testing::vbFormPair(images, "Other.frx");
  exportPair(pair);
  writeFile(pictureFiles[0], images[0] + "grown");
  EXPECT_EQ(ImportPictures(session, blob + ".pic.log", sink), ImportOutcome::Done);
  EXPECT_NE(sink.messages.at(0).text.find(std::string(texts::kCompanionNoReferences) + "\r\n  " + companion),
            std::string::npos)
      << sink.messages.at(0).text;
  EXPECT_EQ(readFile(companion), pair.text);
}

}  // namespace
}  // namespace falcet
