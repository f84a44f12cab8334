#include "transfer/import.hpp"

#include <gtest/gtest.h>

#include "formats/pe_image.hpp"
#include "support/fixtures.hpp"
#include "texts/texts.hpp"
#include "transfer/log_reader.hpp"
#include "transfer/export.hpp"
#include "transfer/log_reader.hpp"

#ifndef _WIN32
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace falcet {
namespace {

using testing::readFile;
using testing::u32le;
using testing::writeFile;

using testing::picKind;

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
    sink.results.clear();
  }
  ImportOutcome import() { return ImportPictures(session, source + ".pic.log", sink); }
  std::string picture(int n) { return pictureFileName(source, n, "dat"); }
  // The name the log and the report give the picture file: beside the log, its name alone.
  std::string leaf(int n) { return std::filesystem::path(picture(n)).filename().string(); }
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
  EXPECT_EQ(sink.messages.at(0).text, leaf(1) + "  圖像成功匯入！\r\n" + leaf(2) +
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
  EXPECT_NE(sink.messages.at(0).text.find(leaf(2) + "  圖像檔案無法讀取，此圖像未匯入！"), std::string::npos);
  EXPECT_EQ(readFile(source), kTwoPictures);
}

// A picture file deleted since the export gets its own verdict; the others still go in.
TEST_F(ImportFixture, DeletedPictureFileIsOneEntryOnly) {
  exportSource(kTwoPictures, SourceKindValue::VbBin);
  std::filesystem::remove(picture(1));
  writeFile(picture(2), "XYZ");
  EXPECT_EQ(import(), ImportOutcome::Partial);
  EXPECT_EQ(sink.messages.at(0).text,
            leaf(1) + "  檔案未找到，此圖像未匯入！\r\n" + leaf(2) + "  圖像成功匯入！\r\n匯入完成！");
  EXPECT_EQ(readFile(source), "headPIC" + u32le(4) + "abcd" + "midPIC" + u32le(3) + "XYZ" + "tail");
}

// A log an editor saved as UTF-16 is read as such; a bad line is quoted short.
TEST_F(ImportFixture, LogInUtf16AndALongBadLine) {
  exportSource(kTwoPictures, SourceKindValue::VbBin);
  writeFile(picture(1), "1234");
  const std::string line = "11:4:Pic:" + leaf(1) + "\r\n";
  for (const bool mark : {true, false}) {
    std::string utf16 = mark ? "\xFF\xFE" : "";
    for (char c : line) utf16 += std::string{c, '\0'};
    writeFile(source + ".pic.log", utf16);
    sink.messages.clear();
    EXPECT_EQ(import(), ImportOutcome::Done) << mark << ": " << sink.messages.at(0).text;
  }
  writeFile(source + ".pic.log", std::string(100000, '9') + ":1:Pic:x\r\n");
  sink.messages.clear();
  EXPECT_EQ(import(), ImportOutcome::Failed);
  EXPECT_LT(sink.messages.at(0).text.size(), 400u);
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

// What a killed import left beside the source goes with the next import of that source: new
// content that never moved in, and old content that the source or its backup still holds. Old
// content held nowhere else stays, and so do other files' temporaries.
TEST_F(ImportFixture, NextImportRemovesWhatAKilledOneLeft) {
  exportSource(kTwoPictures, SourceKindValue::VbBin);
  const std::string leaf = std::filesystem::path(source).filename().string();
  const auto left = [&](const std::string& name) { return dir.file("." + leaf + ".falcet-" + name); };
  writeFile(left("new-a1b2c3"), "half written");
  writeFile(left("old-d4e5f6"), kTwoPictures);
  writeFile(left("old-g7h8i9"), "a version held nowhere else");
  writeFile(left("new-toolong"), "not one of ours");
  writeFile(dir.file(".other.frx.falcet-new-j0k1l2"), "another file's");
  writeFile(picture(1), "new!");
  ASSERT_EQ(import(), ImportOutcome::Done);
  EXPECT_FALSE(std::filesystem::exists(left("new-a1b2c3")));
  EXPECT_FALSE(std::filesystem::exists(left("old-d4e5f6")));
  EXPECT_EQ(readFile(left("old-g7h8i9")), "a version held nowhere else");
  EXPECT_TRUE(std::filesystem::exists(left("new-toolong")));
  EXPECT_TRUE(std::filesystem::exists(dir.file(".other.frx.falcet-new-j0k1l2")));
}

TEST_F(ImportFixture, BlankBeforeLogSuffixUsesTrimmedSource) {
  exportSource(kTwoPictures, SourceKindValue::VbExe);
  std::filesystem::rename(source + ".pic.log", source + " .pic.log");
  EXPECT_EQ(ImportPictures(session, source + " .pic.log", sink), ImportOutcome::Done);
  EXPECT_TRUE(std::filesystem::exists(source + ".bak"));
}

}  // namespace
}  // namespace falcet

namespace falcet {
namespace {

// Entries whose place in the source does not hold the kind's marker and the recorded length (a
// hand-edited position that reads as 0, another source's log) go nowhere.
TEST_F(ImportFixture, EntriesThatDoNotMatchTheSourceAreRefused) {
  for (SourceKindValue kind : {SourceKindValue::VbExe, SourceKindValue::VbBin}) {
    exportSource(kTwoPictures, kind);
    const std::string p1 = picture(1);
    writeFile(p1, "QQQQ");
    writeFile(source + ".pic.log", "0x40C:4:Pic:" + p1 + "\r\n" + "11:3:Pic:" + p1 + "\r\n" +
                                       "12:4:Pic:" + p1 + "\r\n");
    EXPECT_EQ(import(), ImportOutcome::Partial) << kind;
    EXPECT_EQ(sink.messages.at(0).text, p1 + "  記錄與原始檔不符，此圖像未匯入！\r\n" + p1 +
                                            "  記錄與原始檔不符，此圖像未匯入！\r\n" + p1 +
                                            "  記錄與原始檔不符，此圖像未匯入！\r\n匯入完成！")
        << kind;
    EXPECT_EQ(readFile(source), kTwoPictures) << kind;
  }
}

// An executable image is patched in place, whatever kind of source the list says.
TEST_F(ImportFixture, ExecutableImageIsNeverRebuilt) {
  const std::string exe = testing::peFile(".text", 3, kTwoPictures);
  for (SourceKindValue kind : {SourceKindValue::VbBin, SourceKindValue::DelphiDfm}) {
    exportSource(exe, SourceKindValue::VbExe);
    session.SourceKind = kind;
    writeFile(picture(1), "AB");
    writeFile(picture(2), "LONGER");
    EXPECT_EQ(import(), ImportOutcome::Partial) << kind;
    const std::string out = readFile(source);
    EXPECT_EQ(out.size(), exe.size()) << kind;
    EXPECT_NE(out.find(std::string("PIC") + u32le(4) + std::string("AB\0\0", 4)), std::string::npos);
  }
}

// A log read twice after a size change puts the pictures where they now are: the log is
// rewritten with the new places and lengths, and the second import gives the same file.
TEST_F(ImportFixture, RebuiltFormFileLogFollowsThePictures) {
  exportSource(kTwoPictures, SourceKindValue::VbBin);
  writeFile(picture(1), "GROWN-BY-SEVEN!");
  writeFile(picture(2), "x");
  ASSERT_EQ(import(), ImportOutcome::Done);
  const std::string once = readFile(source);
  EXPECT_EQ(once, "headPIC" + u32le(15) + "GROWN-BY-SEVEN!" + "midPIC" + u32le(1) + "x" + "tail");
  EXPECT_EQ(readFile(source + ".pic.log"),
            "11:15:Pic:" + leaf(1) + "\r\n" + "36:1:Pic:" + leaf(2) + "\r\n");
  sink.messages.clear();
  ASSERT_EQ(import(), ImportOutcome::Done) << sink.messages.at(0).text;
  EXPECT_EQ(readFile(source), once);
  EXPECT_EQ(readFile(source + ".bak"), once);
  EXPECT_EQ(readFile(source + ".orig"), original);  // the first original stays
}

// Fields that enclose a picture follow its new length where they held the old one plus their
// difference; a field holding anything else (an item number) is left alone.
TEST_F(ImportFixture, EnclosingLengthFieldsFollowTheNewLength) {
  session.pictureKinds[0].EnclosingLenFields = {{-11, 8, 0, {}}, {-15, 24, 0, {}}};
  const std::string content = u32le(4 + 24) + u32le(4 + 8) + "PIC" + u32le(4) + "abcd" +
                              u32le(1) + u32le(2) + "PIC" + u32le(3) + "xyz" + "end";
  exportSource(content, SourceKindValue::VbBin);
  writeFile(picture(1), "abcdefgh");
  writeFile(picture(2), "xyzxyz");
  ASSERT_EQ(import(), ImportOutcome::Done);
  EXPECT_EQ(readFile(source), u32le(8 + 24) + u32le(8 + 8) + "PIC" + u32le(8) + "abcdefgh" +
                                  u32le(1) + u32le(2) + "PIC" + u32le(6) + "xyzxyz" + "end");
}

TEST_F(ImportFixture, LogWithByteOrderMarkAndRelativeNames) {
  exportSource(kTwoPictures, SourceKindValue::VbBin);
  writeFile(picture(1), "1234");
  // Picture names relative to the log's folder, read from another current folder.
  const std::string name = std::filesystem::path(picture(1)).filename().string();
  writeFile(source + ".pic.log", "\xEF\xBB\xBF" "11:4:Pic:" + name + "\r\n");
  const auto cwd = std::filesystem::current_path();
  std::filesystem::current_path("/");
  const ImportOutcome outcome = import();
  std::filesystem::current_path(cwd);
  EXPECT_EQ(outcome, ImportOutcome::Done) << sink.messages.at(0).text;
  EXPECT_EQ(readFile(source), "headPIC" + u32le(4) + "1234" + "midPIC" + u32le(3) + "xyz" + "tail");
  EXPECT_EQ(sink.messages.at(0).text, name + "  圖像成功匯入！\r\n匯入完成！");
}

// Checks on the picture file itself, with the shipped kinds: a PNG does not go into a VB picture
// slot (VB's loader has no PNG), a truncated JPEG is refused, a GIF in place of a bitmap goes in.
TEST_F(ImportFixture, PictureFilesAreCheckedBeforeTheyGoIn) {
  session.pictureKinds = testing::shippedKinds();
  source = dir.file("form.bin");  // a blob file without a companion text file
  const std::string form = testing::vbFormFile({testing::bmpImage(8, 4, 1), testing::jpegImage(80, 2),
                                                testing::bmpImage(4, 4, 3)});
  exportSource(form, SourceKindValue::VbBin);
  ASSERT_TRUE(ReadLog(session, source + ".pic.log", sink));
  const std::vector<LogEntry> e = session.LogEntries;
  ASSERT_EQ(e.size(), 3u);
  writeFile(e[0].PicturePath, testing::pngImage(4));
  writeFile(e[1].PicturePath, testing::jpegImage(80, 2).substr(0, 60));
  writeFile(e[2].PicturePath, testing::gifImage(5));
  sink.messages.clear();
  EXPECT_EQ(import(), ImportOutcome::Partial);
  EXPECT_EQ(sink.messages.at(0).text, e[0].PictureFile + "  格式不符，此圖像未匯入！\r\n" + e[1].PictureFile +
                                          "  圖像不完整，此圖像未匯入！\r\n" + e[2].PictureFile +
                                          "  圖像成功匯入！\r\n匯入完成！");
  const std::string now = readFile(source);
  EXPECT_NE(now.find(testing::gifImage(5)), std::string::npos);
  EXPECT_EQ(now.substr(0, static_cast<std::size_t>(e[2].Position) - 12), form.substr(0, static_cast<std::size_t>(e[2].Position) - 12));
}

#ifndef _WIN32  // POSIX file kinds, owners and processes
// A failed import leaves the previous backup as it was, no original and no temporary file. The
// source is made immutable: it is read, and the move over it is the step that fails.
TEST_F(ImportFixture, FailedImportKeepsThePreviousBackup) {
  exportSource(kTwoPictures, SourceKindValue::VbBin);
  writeFile(source + ".bak", "the previous backup");
  writeFile(picture(1), "new!");
  if (std::system(("chattr +i " + testing::shellQuoted(source) + " 2> /dev/null").c_str()) != 0)
    GTEST_SKIP() << "chattr +i is not allowed here";
  const ImportOutcome outcome = import();
  EXPECT_EQ(std::system(("chattr -i " + testing::shellQuoted(source)).c_str()), 0);
  EXPECT_EQ(outcome, ImportOutcome::Failed);
  EXPECT_EQ(sink.messages.at(0).text, "寫入檔案錯誤，請確認對此程序擁有寫入權限並且磁盤未滿！");
  EXPECT_EQ(readFile(source), kTwoPictures);
  EXPECT_EQ(readFile(source + ".bak"), "the previous backup");
  EXPECT_FALSE(std::filesystem::exists(source + ".orig"));
  for (const auto& entry : std::filesystem::directory_iterator(dir.path()))
    EXPECT_EQ(entry.path().filename().string().find(".falcet-"), std::string::npos);
}
#endif

#ifndef _WIN32  // symbolic links
// The backup and the original are copies of their own where the source has other names: a file
// with another hard link, or a symbolic link to the file; a later change through the other name
// does not reach them.
TEST_F(ImportFixture, BackupsOfALinkedSourceAreRealCopies) {
  for (const bool symbolic : {false, true}) {
    testing::TempDir other;
    source = dir.file(symbolic ? "sym.frx" : "hard.frx");
    const std::string elsewhere = other.file("target.frx");
    writeFile(elsewhere, kTwoPictures);
    if (symbolic) std::filesystem::create_symlink(elsewhere, source);
    else std::filesystem::create_hard_link(elsewhere, source);
    std::string path = source;
    session.SourceKind = SourceKindValue::VbBin;
    ASSERT_TRUE(ExportPictures(session, path, sink));
    writeFile(picture(1), "new!");
    ASSERT_EQ(import(), ImportOutcome::Done) << symbolic;
    writeFile(elsewhere, "changed later through the other name");
    EXPECT_EQ(readFile(source + ".orig"), kTwoPictures) << symbolic;
    EXPECT_EQ(readFile(source + ".bak"), kTwoPictures) << symbolic;
    EXPECT_FALSE(std::filesystem::is_symlink(source + ".orig")) << symbolic;
  }
}
#endif

#ifndef _WIN32  // chattr
// A backup that cannot be replaced is reported with where the old content stayed; nothing is lost.
TEST_F(ImportFixture, BackupThatCannotBeReplacedIsReported) {
  exportSource(kTwoPictures, SourceKindValue::VbBin);
  writeFile(source + ".bak", "the previous backup");
  writeFile(picture(1), "new!");
  if (std::system(("chattr +i " + testing::shellQuoted(source + ".bak") + " 2> /dev/null").c_str()) != 0)
    GTEST_SKIP() << "chattr +i is not allowed here";
  const ImportOutcome outcome = import();
  EXPECT_EQ(std::system(("chattr -i " + testing::shellQuoted(source + ".bak")).c_str()), 0);
  EXPECT_EQ(outcome, ImportOutcome::Partial);
  const std::string& text = sink.messages.at(0).text;
  const std::size_t at = text.find(std::string(texts::kBackupNotReplaced) + "\r\n  ");
  ASSERT_NE(at, std::string::npos) << text;
  const std::size_t nameAt = at + texts::kBackupNotReplaced.size() + 4;
  EXPECT_EQ(readFile(text.substr(nameAt, text.find("\r\n", nameAt) - nameAt)), kTwoPictures);
  EXPECT_EQ(readFile(source + ".bak"), "the previous backup");
}
#endif

// A source name of 242 to 247 bytes still imports: the temporary file has a short name.
TEST_F(ImportFixture, LongSourceNameImports) {
  source = dir.file(std::string(245 - 4, 'n') + ".frx");
  exportSource(kTwoPictures, SourceKindValue::VbBin);
  writeFile(picture(1), "long name");
  EXPECT_EQ(import(), ImportOutcome::Done);
  EXPECT_EQ(readFile(source).substr(11, 9), "long name");
}

#ifndef _WIN32  // POSIX file kinds, owners and processes
// Run as root on another user's file, the file keeps its owner, group and mode.
TEST_F(ImportFixture, RootKeepsTheOwner) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root";
  exportSource(kTwoPictures, SourceKindValue::VbBin);
  ASSERT_EQ(::chown(source.c_str(), 4321, 4322), 0);
  ASSERT_EQ(::chmod(source.c_str(), 04755), 0);
  writeFile(picture(1), "owned");
  ASSERT_EQ(import(), ImportOutcome::Done);
  struct stat st {};
  ASSERT_EQ(::stat(source.c_str(), &st), 0);
  EXPECT_EQ(st.st_uid, 4321u);
  EXPECT_EQ(st.st_gid, 4322u);
  EXPECT_EQ(st.st_mode & 07777, 04755u);
}
#endif

#ifndef _WIN32  // POSIX file kinds, owners and processes
// Where the owner cannot be kept (another user imports into a file it may write but not own),
// the new file does not keep the set-user-ID and set-group-ID bits.
TEST_F(ImportFixture, SetIdBitsDroppedWhereTheOwnerCannotBeKept) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to act as two users";
  exportSource(kTwoPictures, SourceKindValue::VbBin);
  writeFile(picture(1), "mine");
  ASSERT_EQ(::chown(source.c_str(), 4321, 4321), 0);
  ASSERT_EQ(::chmod(source.c_str(), 06777), 0);
  ASSERT_EQ(::chmod(dir.path().c_str(), 0777), 0);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    Session other;
    other.pictureKinds = session.pictureKinds;
    other.SourceKind = SourceKindValue::VbBin;
    testing::RecordingSink quiet;
    const bool dropped = ::setgid(65534) == 0 && ::setuid(65534) == 0;
    ::_exit(dropped && ImportPictures(other, source + ".pic.log", quiet) == ImportOutcome::Done ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  struct stat st {};
  ASSERT_EQ(::stat(source.c_str(), &st), 0);
  EXPECT_EQ(st.st_uid, 65534u);
  EXPECT_EQ(st.st_mode & 07777, 0777u);
  EXPECT_EQ(readFile(source).substr(11, 4), "mine");
}
#endif

}  // namespace
}  // namespace falcet

namespace falcet {
namespace {

// Each entry's row says what became of it and whether the picture differs from what the source
// held: an edited picture is changed, an untouched one is not, a refused one neither.
TEST_F(ImportFixture, ResultRowsGiveVerdictsAndChangedPictures) {
  exportSource("head" + std::string("PIC") + u32le(4) + "abcd" + "mid" + "PIC" + u32le(3) + "xyz" + "PIC" +
                   u32le(2) + "qq" + "tail",
               SourceKindValue::VbBin);
  writeFile(picture(1), "ABCD");
  std::filesystem::remove(picture(3));
  std::filesystem::create_directory(picture(3));  // there, but not a readable file
  EXPECT_EQ(import(), ImportOutcome::Partial);
  ASSERT_EQ(sink.results.size(), 1u);
  const ResultReport& r = sink.results[0];
  EXPECT_EQ(r.operation, ResultReport::Operation::Import);
  ASSERT_EQ(r.rows.size(), 3u);
  EXPECT_TRUE(r.rows[0].imported);
  EXPECT_TRUE(r.rows[0].changed);
  EXPECT_EQ(r.rows[0].verdict, "圖像成功匯入！");
  EXPECT_EQ(r.rows[0].file, leaf(1));
  EXPECT_EQ(r.rows[0].bytes, 4);
  EXPECT_TRUE(r.rows[1].imported);
  EXPECT_FALSE(r.rows[1].changed);
  EXPECT_FALSE(r.rows[2].imported);
  EXPECT_FALSE(r.rows[2].changed);
  EXPECT_EQ(r.rows[2].verdict, "圖像檔案無法讀取，此圖像未匯入！");
  EXPECT_EQ(r.text, sink.messages.back().text);

  // In an executable patched in place, a shorter picture is a change too.
  exportSource(kTwoPictures, SourceKindValue::VbExe);
  writeFile(picture(2), "xy");
  sink.results.clear();
  EXPECT_EQ(import(), ImportOutcome::Done);
  ASSERT_EQ(sink.results.at(0).rows.size(), 2u);
  EXPECT_FALSE(sink.results[0].rows[0].changed);
  EXPECT_TRUE(sink.results[0].rows[1].changed);
}

}  // namespace
}  // namespace falcet

namespace falcet {
namespace {

// A program image holding VB pictures in its code, signed where signed says: a certificate table
// (WIN_CERTIFICATE: u32 length, revision 0x200, type 2, the signature) appended at the end.
std::string vbProgram(bool checksum, bool isSigned) {
  testing::PeLayout layout;
  layout.code = testing::vbFormFile({testing::bmpImage(8, 4, 2), testing::gifImage(3)});
  layout.checksum = checksum;
  std::string file = testing::peProgram(layout);
  if (!isSigned) return file;
  const std::string signature = "not really PKCS#7, but where a signature goes";
  std::string cert = u32le(static_cast<std::uint32_t>(8 + signature.size())) + testing::u16le(0x200) +
                     testing::u16le(2) + signature;
  cert.resize((cert.size() + 7) / 8 * 8, '\0');
  const auto at = static_cast<std::uint32_t>(file.size());
  file += cert;
  file.replace(0x80 + 24 + 96 + 4 * 8, 8, u32le(at) + u32le(static_cast<std::uint32_t>(cert.size())));
  return file;
}

struct ProgramImport : ::testing::Test {
  testing::TempDir dir;
  testing::RecordingSink sink;
  Session session;
  std::string source = dir.file("prog.exe");
  std::vector<LogEntry> entries;
  void exportProgram(const std::string& content) {
    writeFile(source, content);
    session.pictureKinds = testing::shippedKinds();
    session.SourceKind = SourceKindValue::VbExe;
    std::string path = source;
    ASSERT_TRUE(ExportPictures(session, path, sink));
    ASSERT_TRUE(ReadLog(session, source + ".pic.log", sink));
    entries = session.LogEntries;
    ASSERT_EQ(entries.size(), 2u);
    // A smaller picture of the same format goes into the first place.
    writeFile(entries[0].PicturePath, testing::bmpImage(4, 2, 5));
    sink.messages.clear();
  }
  std::uint32_t storedChecksum(const std::string& bytes) {
    return readPeImage(testing::asBytes(bytes))->checksum;
  }
};

// After an import the program's checksum is what the system computes, where it had one; a zero
// checksum stays zero.
TEST_F(ProgramImport, ChecksumFollowsTheChange) {
  for (const bool checksum : {true, false}) {
    exportProgram(vbProgram(checksum, false));
    ASSERT_EQ(ImportPictures(session, source + ".pic.log", sink), ImportOutcome::Done) << sink.messages.at(0).text;
    const std::string result = readFile(source);
    const auto image = readPeImage(testing::asBytes(result));
    ASSERT_TRUE(image);
    EXPECT_EQ(image->checksum, checksum ? peChecksum(testing::asBytes(result), image->checksumOffset) : 0u);
    EXPECT_NE(result, readFile(source + ".bak"));
  }
}

// A signed program is refused, nothing written; asked, "no" refuses as well; "yes" (or the command
// line's --remove-signature) removes the table, cuts its bytes and says so.
TEST_F(ProgramImport, SignedProgramRefusedOrItsSignatureRemoved) {
  const std::string original = vbProgram(true, true);
  exportProgram(original);
  EXPECT_EQ(ImportPictures(session, source + ".pic.log", sink), ImportOutcome::Failed);
  EXPECT_EQ(sink.messages.at(0).text, texts::kSignedProgramRefused);
  EXPECT_EQ(readFile(source), original);
  EXPECT_FALSE(std::filesystem::exists(source + ".bak"));

  sink.messages.clear();
  sink.answer = kButtonNo;
  EXPECT_EQ(ImportPictures(session, source + ".pic.log", sink, SignedPrograms::Ask), ImportOutcome::Failed);
  ASSERT_EQ(sink.messages.size(), 2u);
  EXPECT_EQ(sink.messages[0].kind, MessageKind::Question);
  EXPECT_EQ(readFile(source), original);

  sink.messages.clear();
  sink.answer = kButtonYes;
  ASSERT_EQ(ImportPictures(session, source + ".pic.log", sink, SignedPrograms::Ask), ImportOutcome::Done);
  const std::string result = readFile(source);
  EXPECT_NE(sink.messages.back().text.find(texts::kSignatureRemoved), std::string::npos);
  EXPECT_FALSE(certificateTable(testing::asBytes(result)));
  EXPECT_EQ(result.size(), vbProgram(true, false).size());  // the table's bytes are gone
  EXPECT_EQ(readPeImage(testing::asBytes(result))->checksum,
            peChecksum(testing::asBytes(result), readPeImage(testing::asBytes(result))->checksumOffset));
  EXPECT_EQ(readFile(source + ".orig"), original);
}

}  // namespace
}  // namespace falcet
