#include "transfer/export.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <random>
#ifndef _WIN32
#include <sys/stat.h>
#endif

#include "support/fixtures.hpp"
#include "texts/texts.hpp"
#include "transfer/import.hpp"
#include "transfer/picture_list.hpp"
#include "base/lines.hpp"
#include "transfer/log_line.hpp"

namespace falcet {
namespace {

using testing::readFile;
using testing::u32le;
using testing::writeFile;

using testing::picKind;

struct ExportFixture : ::testing::Test {
  testing::TempDir dir;
  testing::RecordingSink sink;
  Session session;
  std::string source;
  void SetUp() override {
    session.pictureKinds = {picKind()};
    source = dir.file("prog.bin");
  }
  bool run(std::string path) { return ExportPictures(session, path, sink); }
};

TEST_F(ExportFixture, WritesPicturesLogAndReport) {
  writeFile(source, "xx" + std::string("PIC") + u32le(3) + "abc" + "yy" + "PIC" + u32le(2) + "de" + "z");
  ASSERT_TRUE(run(source));
  EXPECT_EQ(readFile(source + ".001.dat"), "abc");
  EXPECT_EQ(readFile(source + ".002.dat"), "de");
  EXPECT_EQ(readFile(source + ".pic.log"), "9:3:Pic:prog.bin.001.dat\r\n21:2:Pic:prog.bin.002.dat\r\n");
  ASSERT_EQ(sink.messages.size(), 1u);
  EXPECT_EQ(sink.messages[0].text, "記錄檔：\r\n  " + source + ".pic.log\r\n窗體匯出檔：\r\n  " + source +
                                       ".001.dat\r\n  " + source + ".002.dat\r\n匯出完畢！");
  EXPECT_EQ(session.PictureCounter, 0);
}

// After a picture the scan goes on at marker position + length, whatever FilePosFix is: a marker
// there is found, one a byte before it lies inside the skipped span. The rule is the production
// code's, through the whole command.
TEST_F(ExportFixture, ScanResumesAtMarkerPositionPlusLength) {
  struct Case {
    std::int32_t second;  // where the second marker starts
    std::size_t pictures;
  };
  for (const Case c : {Case{20, 2}, Case{19, 1}, Case{21, 2}}) {
    // The first picture (marker at 0, length 20) spans bytes 7 .. 26; the second marker lies in it.
    std::string bytes = "PIC" + u32le(20) + std::string(20, '.');
    const std::string second = "PIC" + u32le(5) + "hello";
    bytes.resize(static_cast<std::size_t>(c.second) + second.size(), '.');
    bytes.replace(static_cast<std::size_t>(c.second), second.size(), second);
    writeFile(source, bytes + "end");
    ASSERT_TRUE(run(source));
    const std::string log = readFile(source + ".pic.log");
    EXPECT_EQ(static_cast<std::size_t>(std::count(log.begin(), log.end(), '\n')), c.pictures)
        << "second marker at " << c.second << "\n" << log;
  }
}

// list shows what export writes: the same numbers (gaps included), places and lengths, through
// the places where the walk's rule decides (a marker exactly at marker + length of the picture
// before it, one byte before that, a match whose picture runs past the end, an empty match).
TEST_F(ExportFixture, ListAgreesWithExport) {
  const std::string first = "PIC" + u32le(20) + std::string(20, '.');  // marker 0, picture 7 .. 26
  auto at = [&](std::size_t pos, const std::string& tail) {
    std::string bytes = first;
    bytes.resize(pos, '.');
    return bytes + tail;
  };
  const std::string second = "PIC" + u32le(5) + "hello";
  const struct {
    const char* name;
    std::string bytes;
  } cases[] = {
      {"marker at marker + length", at(20, second + "..")},
      {"marker one byte before", at(19, second + "..")},
      {"picture past the end", first + "PIC" + u32le(8) + "abcde"},
      {"empty match between", first + "PIC" + u32le(0) + second + ".."},
      {"back to back", second + second + second + ".."},
  };
  for (const auto& c : cases) {
    writeFile(source, c.bytes);
    ASSERT_TRUE(run(source)) << c.name;
    std::vector<std::string> exported;
    const std::string log = readFile(source + ".pic.log");
    for (std::string_view line : splitLines(log)) {
      if (line.empty()) continue;
      const auto l = parseLogLine(line);
      ASSERT_TRUE(l) << line;
      exported.push_back(std::to_string(l->position) + ":" + std::to_string(l->length) + ":" + l->pictureFile);
    }
    const auto found = ListPictures(session, source);
    ASSERT_TRUE(found) << c.name;
    std::vector<std::string> listed;
    for (const FoundPicture& p : *found)
      listed.push_back(std::to_string(p.position) + ":" + std::to_string(p.length) + ":" +
                       std::filesystem::path(pictureFileName(source, p.number, "dat")).filename().string());
    EXPECT_EQ(listed, exported) << c.name;
    EXPECT_FALSE(exported.empty()) << c.name;
  }
}

// Where a kind names the formats it accepts, a hit that is no picture of them is neither written
// nor logged; its number is used up, and list shows the same.
TEST_F(ExportFixture, OnlyPicturesOfTheKindsFormats) {
  session.pictureKinds[0].AcceptFormats = {"gif"};
  const std::string gif = testing::gifImage(1);
  writeFile(source, "PIC" + u32le(static_cast<std::uint32_t>(gif.size())) + gif + "PIC" + u32le(5) + "hello" + "PIC" +
                        u32le(static_cast<std::uint32_t>(gif.size())) + gif + "..");
  ASSERT_TRUE(run(source));
  const std::string log = readFile(source + ".pic.log");
  EXPECT_NE(log.find("prog.bin.001.dat"), std::string::npos) << log;
  EXPECT_EQ(log.find("prog.bin.002.dat"), std::string::npos) << log;
  EXPECT_NE(log.find("prog.bin.003.dat"), std::string::npos) << log;
  EXPECT_FALSE(std::filesystem::exists(source + ".002.dat"));
  const auto found = ListPictures(session, source);
  ASSERT_TRUE(found);
  ASSERT_EQ(found->size(), 2u);
  EXPECT_EQ((*found)[0].number, 1);
  EXPECT_EQ((*found)[1].number, 3);
}

// A line break in the source name would split its log lines: refused before anything is written.
TEST_F(ExportFixture, LineBreakInTheSourceNameIsRefused) {
#ifndef _WIN32
  const std::string odd = dir.file("two\nlines.bin");
  writeFile(odd, "PIC" + u32le(1) + "a..");
  EXPECT_FALSE(run(odd));
  EXPECT_EQ(sink.messages.at(0).text, texts::kSourceNameLineBreak);
  EXPECT_FALSE(std::filesystem::exists(odd + ".pic.log"));
  EXPECT_FALSE(std::filesystem::exists(odd + ".001.dat"));
#endif
}

// An export that finds nothing (the wrong kind chosen, say) keeps the good log and says why.
TEST_F(ExportFixture, WrongKindKeepsTheGoodLog) {
  session.pictureKinds = testing::shippedKinds();
  writeFile(source, testing::vbFormFile({testing::bmpImage(8, 4, 1), testing::gifImage(2)}));
  session.SourceKind = SourceKindValue::VbBin;
  ASSERT_TRUE(run(source));
  const std::string good = readFile(source + ".pic.log");
  ASSERT_FALSE(good.empty());
  session.SourceKind = SourceKindValue::DelphiDfm;
  sink.messages.clear();
  ASSERT_TRUE(run(source));
  EXPECT_EQ(readFile(source + ".pic.log"), good);
  EXPECT_NE(sink.messages.at(0).text.find(std::string(texts::kNoPictureFound) + "\r\n" + std::string(texts::kPreviousLogKept)),
            std::string::npos)
      << sink.messages.at(0).text;
}

// A picture file edited since the last export survives a second one: kept (export fails, naming
// it), kept after "no", overwritten after "yes" or when overwriting is asked for.
TEST_F(ExportFixture, EditedPicturesAreNeverLostUnasked) {
  const std::string content = "PIC" + u32le(3) + "abc" + "PIC" + u32le(2) + "de" + "z";
  writeFile(source, content);
  ASSERT_TRUE(run(source));
  const std::string log = readFile(source + ".pic.log");
  writeFile(source + ".001.dat", "edited");
  std::string path = source;
  sink.messages.clear();
  EXPECT_FALSE(ExportPictures(session, path, sink, ExportReading{}, EditedPictures::Keep));
  EXPECT_EQ(readFile(source + ".001.dat"), "edited");
  EXPECT_EQ(readFile(source + ".pic.log"), log);
  EXPECT_EQ(sink.messages.back().text, std::string(texts::kEditedPicturesKept) + "\r\n  " + source + ".001.dat");

  sink.messages.clear();
  sink.answer = kButtonNo;
  EXPECT_TRUE(ExportPictures(session, path, sink, ExportReading{}, EditedPictures::Ask));
  EXPECT_EQ(sink.messages.at(0).kind, MessageKind::Question);
  EXPECT_EQ(sink.messages.at(0).text, texts::editedPicturesQuestion(1));
  EXPECT_EQ(readFile(source + ".001.dat"), "edited");

  sink.answer = kButtonYes;
  EXPECT_TRUE(ExportPictures(session, path, sink, ExportReading{}, EditedPictures::Ask));
  EXPECT_EQ(readFile(source + ".001.dat"), "abc");
  writeFile(source + ".002.dat", "again");
  EXPECT_TRUE(ExportPictures(session, path, sink, ExportReading{}, EditedPictures::Overwrite));
  EXPECT_EQ(readFile(source + ".002.dat"), "de");
}

TEST_F(ExportFixture, NoPictureGivesEmptyLogAndHeaderOnly) {
  writeFile(source, "nothing here");
  ASSERT_TRUE(run(source));
  EXPECT_EQ(readFile(source + ".pic.log"), "");
  EXPECT_EQ(sink.messages.at(0).text, "記錄檔：\r\n  " + source + ".pic.log\r\n窗體匯出檔：\r\n" +
                                          std::string(texts::kNoPictureFound) + "\r\n匯出完畢！");
}

TEST_F(ExportFixture, EmptyMatchConsumesANumber) {
  writeFile(source, "PIC" + u32le(1) + "a" + "PIC" + u32le(0) + "PIC" + u32le(1) + "b" + "..");
  ASSERT_TRUE(run(source));
  EXPECT_EQ(readFile(source + ".001.dat"), "a");
  EXPECT_FALSE(std::filesystem::exists(source + ".002.dat"));
  EXPECT_EQ(readFile(source + ".003.dat"), "b");
}

TEST_F(ExportFixture, PictureOutsideTheBufferYieldsNothing) {
  session.pictureKinds[0].FilePosFix = -20;  // the picture would start before the file
  session.pictureKinds[0].BinFileLenPos = 23;
  writeFile(source, std::string(30, '.') + "PIC" + u32le(2) + "ab..");
  ASSERT_TRUE(run(source));
  EXPECT_EQ(readFile(source + ".pic.log"), "10:2:Pic:prog.bin.001.dat\r\n");
  writeFile(source, "PIC" + u32le(2) + "ab..");  // start at -20: nothing, no out-of-bounds read
  ASSERT_TRUE(run(source));
  EXPECT_EQ(readFile(source + ".pic.log"), "10:2:Pic:prog.bin.001.dat\r\n");  // nothing found: the log stays
}

TEST_F(ExportFixture, ReexportTruncatesAnEditedPictureFile) {
  writeFile(source, "PIC" + u32le(3) + "abc..");
  writeFile(source + ".001.dat", "a much longer edited picture");
  ASSERT_TRUE(run(source));
  EXPECT_EQ(readFile(source + ".001.dat"), "abc");
}

TEST_F(ExportFixture, FailedLoadKeepsThePreviousLog) {
  writeFile(dir.file("gone.bin.pic.log"), "keep me");
  EXPECT_FALSE(run(dir.file("gone.bin")));
  EXPECT_EQ(readFile(dir.file("gone.bin.pic.log")), "keep me");
  ASSERT_EQ(sink.messages.size(), 1u);
  EXPECT_EQ(sink.messages[0].text, "讀檔案錯誤！");
}

TEST_F(ExportFixture, UnwritablePictureFileIsReportedAndLeftOutOfTheLog) {
  writeFile(source, std::string("PIC") + u32le(3) + "abc" + "PIC" + u32le(2) + "de" + "z");
  std::filesystem::create_directory(source + ".001.dat");  // a folder where the file should go
  EXPECT_FALSE(run(source));
  EXPECT_EQ(readFile(source + ".002.dat"), "de");
  EXPECT_EQ(readFile(source + ".pic.log"), "17:2:Pic:prog.bin.002.dat\r\n");
  ASSERT_EQ(sink.messages.size(), 2u);
  EXPECT_NE(sink.messages[0].text.find("匯出完畢！"), std::string::npos);
  EXPECT_EQ(sink.messages[1].kind, MessageKind::Error);
  EXPECT_EQ(sink.messages[1].text.rfind("下列圖像檔無法寫入，未記入記錄檔：\r\n  " + source + ".001.dat\r\n", 0), 0u)
      << sink.messages[1].text;
}

TEST_F(ExportFixture, NamesFilesFromThePathAsTyped) {
  writeFile(source, "PIC" + u32le(1) + "a..");
  ASSERT_TRUE(run(source + " "));
  EXPECT_TRUE(std::filesystem::exists(source + " .pic.log"));
  EXPECT_EQ(readFile(source + " .001.dat"), "a");
}

TEST_F(ExportFixture, ThousandthPictureHasFourDigits) {
  std::string data;
  for (int i = 0; i < 1000; ++i) data += "PIC" + u32le(1) + "p";
  writeFile(source, data + "..");
  ASSERT_TRUE(run(source));
  EXPECT_TRUE(std::filesystem::exists(source + ".999.dat"));
  EXPECT_TRUE(std::filesystem::exists(source + ".1000.dat"));
}

TEST_F(ExportFixture, StarExtensionComesFromThePicture) {
  session.pictureKinds[0].FileExt = "*";
  std::string gif = testing::gifImage(1);
  writeFile(source, "PIC" + u32le(static_cast<std::uint32_t>(gif.size())) + gif + "..");
  ASSERT_TRUE(run(source));
  EXPECT_EQ(readFile(source + ".001.gif"), gif);
}

TEST_F(ExportFixture, LengthFixIsSubtracted) {
  session.pictureKinds[0].BinFileLenFix = 2;
  writeFile(source, "PIC" + u32le(5) + "abc..");
  ASSERT_TRUE(run(source));
  EXPECT_EQ(readFile(source + ".001.dat"), "abc");
}

}  // namespace
}  // namespace falcet

namespace falcet {
namespace {

// Reading a source in pieces must give exactly the export of the whole file in memory: the same
// log, the same picture files, across piece borders, for markers that collide, empty markers,
// negative offsets and lengths near the end.
TEST(ExportInPieces, GivesTheSameExportAsTheWholeFile) {
  std::mt19937 rng(7);
  auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
  const std::string alphabet("ab\x01\x02\x00", 5);
  for (int round = 0; round < 300; ++round) {
    PictureKinds kinds;
    const int count = pick(1, 3);
    for (int i = 0; i < count; ++i) {
      PictureKind k;
      k.Name = "k" + std::to_string(i);
      for (int j = pick(round % 10 == 0 ? 0 : 1, 4); j > 0; --j) k.FileHandleMark += alphabet[pick(0, 1)];
      k.FilePosFix = pick(-6, 8);
      k.BinFileLenPos = pick(-8, 4);
      k.FileLenPos = pick(0, 2) == 0 ? pick(-4, 4) : 0;
      k.DfmBlockLenPos = pick(-8, 4);
      k.DfmBlockLenFix = pick(-2, 2);
      k.FileExt = "bin";
      kinds.push_back(k);
    }
    std::string bytes(static_cast<std::size_t>(pick(1, 400)), '\0');
    for (char& c : bytes) c = alphabet[static_cast<std::size_t>(pick(0, 4))];
    const SourceKindValue delphiKind = pick(0, 1) ? SourceKindValue::DelphiDfm : SourceKindValue::VbBin;

    testing::TempDir dir;
    auto exportWith = [&](const std::string& name, const ExportReading& reading) {
      Session session;
      session.pictureKinds = kinds;
      session.SourceKind = delphiKind;
      std::string path = dir.file(name);
      testing::writeFile(path, bytes);
      testing::RecordingSink sink;
      EXPECT_TRUE(ExportPictures(session, path, sink, reading));
      std::string log = testing::readFile(path + ".pic.log");
      std::string files;
      for (std::size_t at = 0; (at = log.find(path, at)) != std::string::npos; at += path.size()) {
        const std::size_t end = log.find("\r\n", at);
        files += testing::readFile(log.substr(at, end - at)) + "|";
      }
      for (std::size_t at = 0; (at = log.find(name)) != std::string::npos;) log.replace(at, name.size(), "SRC");
      return log + "#" + files;
    };
    const std::string whole = exportWith("whole", ExportReading{});
    // Pieces read by one thread or several; every few rounds, pieces that keep no match (the walk
    // then scans them itself); every few rounds again, the same export once more, where each file
    // already holds its picture.
    int k = 0;
    for (std::size_t pieceSize : {1, 3, 17, 64}) {
      const ExportReading reading{pieceSize, (round + k) % 3, round % 4 == 1 ? std::size_t{1} : 0};
      const std::string name = "piece" + std::to_string(k++);
      ASSERT_EQ(exportWith(name, reading), whole) << "round " << round << ", pieces of " << pieceSize;
      if (round % 5 == 0) ASSERT_EQ(exportWith(name, reading), whole) << "round " << round << " again";
    }
  }
}

}  // namespace
}  // namespace falcet

namespace falcet {
namespace {

// The whole outcome of one export of bytes as a source called name beside others in dir: whether
// it succeeded, the log, every picture file named in it and every message, with the name taken
// out. prepare(path) runs after the source is written.
std::string exportOutcome(const testing::TempDir& dir, const std::string& name, const std::string& bytes,
                          const ExportReading& reading, const std::function<void(const std::string&)>& prepare) {
  Session session;
  session.pictureKinds = {picKind()};
  std::string path = dir.file(name);
  writeFile(path, bytes);
  prepare(path);
  testing::RecordingSink sink;
  std::string out = ExportPictures(session, path, sink, reading) ? "ok\n" : "failed\n";
  const std::string log = readFile(path + ".pic.log");
  out += log;
  for (const std::string_view line : splitLines(log)) {
    const std::size_t at = line.rfind(':');
    if (at != std::string_view::npos) out += readFile(dir.file(std::string(line.substr(at + 1)))) + "|";
  }
  for (const auto& m : sink.messages) out += "#" + m.text;
  for (std::size_t at; (at = out.find(name)) != std::string::npos;) out.replace(at, name.size(), "SRC");
  return out;
}

// Many small pictures, the tenth of which holds two more inside it: those are only found when the
// tenth is not taken.
std::string manyPictures() {
  std::string bytes;
  for (int i = 0; i < 120; ++i) {
    bytes += "..";
    if (i == 10) {
      const std::string inside = "<" + std::string("PIC") + u32le(3) + "abc" + "PIC" + u32le(4) + "defg" + ">";
      bytes += "PIC" + u32le(static_cast<std::uint32_t>(inside.size())) + inside;
    }
    else bytes += "PIC" + u32le(5) + "p" + std::to_string(1000 + i).substr(0, 4);
  }
  return bytes;
}

// A large source is read in pieces by several threads, and the walk takes each picture before its
// file is written; where one cannot be written, the export must still come out as the plain walk
// has it (the pictures inside the one refused found and numbered, nothing else written).
TEST(ExportInPieces, APictureThatCannotBeWrittenIsTakenBack) {
  testing::TempDir dir;
  const std::string bytes = manyPictures();
  auto blocked = [](const std::string& path) { std::filesystem::create_directory(path + ".011.dat"); };
  const std::string whole = exportOutcome(dir, "whole.bin", bytes, {}, blocked);
  ASSERT_NE(whole.find("abc|defg|"), std::string::npos) << whole;  // the two inside, found
  ASSERT_EQ(whole.rfind("failed\n", 0), 0u);
  int n = 0;
  for (std::size_t pieceSize : {5, 16, 64, 300})
    for (int helpers : {0, 1, 2}) {
      const std::string name = "p" + std::to_string(n++) + ".bin";
      const ExportReading reading{pieceSize, helpers, 0};
      EXPECT_EQ(exportOutcome(dir, name, bytes, reading, blocked), whole) << pieceSize << " " << helpers;
      // Again, with every other file already in place.
      EXPECT_EQ(exportOutcome(dir, name, bytes, reading, [](const std::string&) {}), whole) << pieceSize;
    }
}

#ifndef _WIN32  // hard links
// A picture file that is a second name of another one changes when that one is written: what was
// found in it before may no longer be there, and the export must come out as the plain walk has it.
TEST(ExportInPieces, AFileChangedThroughAnotherNameIsLookedAtAgain) {
  testing::TempDir dir;
  const std::string bytes = manyPictures();
  auto linked = [](const std::string& path) {
    // 050 becomes a second name of 051: it holds 051's picture, and writing 050 changes 051.
    std::filesystem::remove(path + ".050.dat");
    std::filesystem::create_hard_link(path + ".051.dat", path + ".050.dat");
  };
  (void)exportOutcome(dir, "whole.bin", bytes, {}, [](const std::string&) {});
  const std::string whole = exportOutcome(dir, "whole.bin", bytes, {}, linked);
  int n = 0;
  for (std::size_t pieceSize : {16, 64})
    for (int helpers : {0, 1, 2}) {
      const std::string name = "p" + std::to_string(n++) + ".bin";
      const ExportReading reading{pieceSize, helpers, 0};
      (void)exportOutcome(dir, name, bytes, reading, [](const std::string&) {});
      EXPECT_EQ(exportOutcome(dir, name, bytes, reading, linked), whole) << pieceSize << " " << helpers;
    }
}
#endif

#ifndef _WIN32  // POSIX file kinds, owners and processes
// Export never writes through a link at a picture or log name, nor over the source itself: such
// a picture counts as unwritten (the error lists it), such a log as one that cannot be created.
TEST_F(ExportFixture, NeverWritesThroughLinksOrOverTheSource) {
  const std::string content = "xxPIC" + u32le(3) + "abc" + "yyPIC" + u32le(2) + "de" + "z";
  writeFile(source, content);
  const std::string elsewhere = dir.file("elsewhere");
  writeFile(elsewhere, "keep me");
  std::filesystem::create_symlink(elsewhere, source + ".001.dat");
  std::filesystem::create_hard_link(source, source + ".002.dat");
  EXPECT_FALSE(run(source));
  EXPECT_EQ(readFile(elsewhere), "keep me");
  EXPECT_EQ(readFile(source), content);
  EXPECT_TRUE(std::filesystem::is_symlink(source + ".001.dat"));
  EXPECT_EQ(readFile(source + ".pic.log"), "");
  ASSERT_EQ(sink.messages.size(), 2u);
  EXPECT_NE(sink.messages[1].text.find(source + ".001.dat"), std::string::npos);
  EXPECT_NE(sink.messages[1].text.find(source + ".002.dat"), std::string::npos);

  // A link at the log's name: the log cannot be created, nothing is written.
  std::filesystem::remove(source + ".pic.log");
  std::filesystem::create_symlink(elsewhere, source + ".pic.log");
  sink.messages.clear();
  EXPECT_FALSE(run(source));
  EXPECT_EQ(readFile(elsewhere), "keep me");
  EXPECT_EQ(sink.messages.at(0).text.rfind("無法建立記錄檔：", 0), 0u);
  std::filesystem::remove(source + ".pic.log");
  std::filesystem::create_hard_link(source, source + ".pic.log");
  EXPECT_FALSE(run(source));
  EXPECT_EQ(readFile(source), content);
}
#endif

#ifndef _WIN32  // POSIX file kinds, owners and processes
// A FIFO as the source or at a picture's name is refused at once; nothing waits for a writer.
TEST_F(ExportFixture, FifosNeitherBlockNorCount) {
  ASSERT_EQ(::mkfifo(source.c_str(), 0600), 0);
  EXPECT_FALSE(run(source));
  EXPECT_EQ(sink.messages.at(0).text, "讀檔案錯誤！");
  std::filesystem::remove(source);
  writeFile(source, "xxPIC" + u32le(3) + "abc" + "z");
  ASSERT_EQ(::mkfifo((source + ".001.dat").c_str(), 0600), 0);
  sink.messages.clear();
  EXPECT_FALSE(run(source));
  EXPECT_EQ(readFile(source + ".pic.log"), "");
  EXPECT_NE(sink.messages.at(1).text.find(source + ".001.dat"), std::string::npos);
}
#endif

}  // namespace
}  // namespace falcet

namespace falcet {
namespace {

// The shipped kinds find the layouts of newer Delphi programs, in a form file and in a program,
// and a rebuilt form file finds them again with their new sizes.
TEST_F(ExportFixture, ShippedKindsFindNewerDelphiLayouts) {
  session.pictureKinds = testing::shippedKinds();
  const std::string image = testing::pngImage(5), fill = testing::pngImage(6) + std::string(40, '\0');
  const std::string stream = testing::delphiNewerFormStream(image, fill);
  for (SourceKindValue kind : {SourceKindValue::DelphiDfm, SourceKindValue::DelphiExe}) {
    const std::string content = kind == SourceKindValue::DelphiExe ? testing::peFile("CODE", 3, stream) : stream;
    writeFile(source, content);
    session.SourceKind = kind;
    sink.messages.clear();
    ASSERT_TRUE(run(source));
    const std::string log = readFile(source + ".pic.log");
    EXPECT_EQ(log, std::to_string(content.find(image)) + ":" + std::to_string(image.size()) +
                       ":Delphi.ImageCollection:prog.bin.001.png\r\n" +
                       std::to_string(content.find(fill)) + ":" + std::to_string(fill.size()) +
                       ":Delphi.FMX.PathPNG:prog.bin.002.png\r\n")
        << kind;
  }
  // Back into a form file with other sizes; exported again, the new pictures are found.
  writeFile(source, stream);
  session.SourceKind = SourceKindValue::DelphiDfm;
  ASSERT_TRUE(run(source));
  const std::string bigger = testing::pngImage(7) + std::string(99, 'x'), smaller = testing::pngImage(8);
  writeFile(source + ".001.png", bigger);
  writeFile(source + ".002.png", smaller);
  ASSERT_EQ(ImportPictures(session, source + ".pic.log", sink), ImportOutcome::Done);
  const std::string rebuilt = readFile(source);
  ASSERT_TRUE(run(source));
  EXPECT_EQ(readFile(source + ".pic.log"),
            std::to_string(rebuilt.find(bigger)) + ":" + std::to_string(bigger.size()) +
                ":Delphi.ImageCollection:prog.bin.001.png\r\n" + std::to_string(rebuilt.find(smaller)) +
                ":" + std::to_string(smaller.size()) + ":Delphi.FMX.PathPNG:prog.bin.002.png\r\n");
}

}  // namespace
}  // namespace falcet

namespace falcet {
namespace {

// The result lists every written picture with its number, file, facts and owner, whether the
// source was scanned whole or in pieces.
TEST(ExportResult, ListsEachPictureWithFactsAndOwner) {
  testing::TempDir dir;
  const std::string dfm = testing::delphiDfmFile(testing::bmpImage(8, 4, 1), testing::bmpImage(2, 2, 2), testing::icoImage(3));
  for (std::size_t pieceSize : {std::size_t{0}, std::size_t{64}}) {
    const std::string source = dir.file("Form" + std::to_string(pieceSize) + ".dfm");
    writeFile(source, dfm);
    Session session;
    session.pictureKinds = testing::shippedKinds();
    session.SourceKind = SourceKindValue::DelphiDfm;
    testing::RecordingSink sink;
    std::string path = source;
    ASSERT_TRUE(ExportPictures(session, path, sink, ExportReading{pieceSize}));
    ASSERT_EQ(sink.results.size(), 1u);
    const ResultReport& r = sink.results[0];
    EXPECT_EQ(r.operation, ResultReport::Operation::Export);
    EXPECT_EQ(r.text, sink.messages.at(0).text);
    ASSERT_EQ(r.rows.size(), 3u) << pieceSize;
    struct Want {
      const char* format;
      int width, height;
      const char* owner;
    };
    const Want want[] = {{"ico", 16, 16, "TForm1.Icon.Data"},
                         {"bmp", 8, 4, "TForm1.Image1.Picture.Data"},
                         {"bmp", 2, 2, "TForm1.Button1.Glyph.Data"}};
    for (std::size_t i = 0; i < 3; ++i) {
      const ResultRow& row = r.rows[i];
      EXPECT_EQ(row.file, row.path);
      EXPECT_EQ(readFile(row.path).size(), static_cast<std::size_t>(row.bytes));
      EXPECT_EQ(row.format, want[i].format) << i;
      EXPECT_EQ(row.width, want[i].width) << i;
      EXPECT_EQ(row.height, want[i].height) << i;
      EXPECT_EQ(row.owner, want[i].owner) << i;
    }
    EXPECT_LT(r.rows[0].number, r.rows[1].number);
    EXPECT_EQ(r.rows[1].file, pictureFileName(source, r.rows[1].number, "bmp"));
  }
}

}  // namespace
}  // namespace falcet
