#include "transfer/log_reader.hpp"

#include <gtest/gtest.h>

#include "support/fixtures.hpp"

#ifndef _WIN32
#include <sys/stat.h>
#endif

namespace falcet {
namespace {

using testing::writeFile;

struct LogFixture : ::testing::Test {
  testing::TempDir dir;
  testing::RecordingSink sink;
  Session session;
  std::string log;
  void SetUp() override {
    session.pictureKinds.resize(2);
    session.pictureKinds[0].Name = "A";
    session.pictureKinds[1].Name = "B";
    log = dir.file("p.exe.pic.log");
    writeFile(dir.file("one"), "1");
    writeFile(dir.file("two:x"), "22");
  }
  bool read(const std::string& text) {
    writeFile(log, text);
    return ReadLog(session, log, sink);
  }
};

TEST_F(LogFixture, ReadsEntriesInLineOrder) {
  ASSERT_TRUE(read("\r\n10:5:A:" + dir.file("one") + "\r\n\r\n  12abc:-4:B:" + dir.file("two:x") +
                   "\r\n2.5:3.5:nope:" + dir.file("one") + "\r\n\r\n"));
  ASSERT_EQ(session.LogEntries.size(), 3u);
  const auto& e = session.LogEntries;
  EXPECT_EQ(e[0].Position, 10);
  EXPECT_EQ(e[0].RecordedLength, 5);
  EXPECT_EQ(e[0].FileLength, 1);
  EXPECT_EQ(e[0].KindIndex, 1);
  EXPECT_EQ(e[1].Position, 12);
  EXPECT_EQ(e[1].RecordedLength, -4);
  EXPECT_EQ(e[1].KindIndex, 2);
  EXPECT_EQ(e[1].PictureFile, dir.file("two:x"));
  EXPECT_EQ(e[1].FileLength, 2);
  EXPECT_EQ(e[2].Position, 2);
  EXPECT_EQ(e[2].RecordedLength, 4);
  EXPECT_EQ(e[2].KindIndex, -1);
  EXPECT_TRUE(sink.messages.empty());
}

TEST_F(LogFixture, KindNamesMatchExactly) {
  ASSERT_TRUE(read("1:1:a:" + dir.file("one") + "\r\n1:1:A :" + dir.file("one") + "\r\n"));
  EXPECT_EQ(session.LogEntries[0].KindIndex, -1);
  EXPECT_EQ(session.LogEntries[1].KindIndex, -1);
}

struct FailCase {
  const char* name;
  std::string text;
  std::string message;  // the start of the message shown
};

TEST_F(LogFixture, FailuresAreReported) {
  const FailCase cases[] = {
      {"OnlyEmptyLines", "\r\n\r\n", "Log 檔案錯誤！"},
      {"Empty", "", "Log 檔案錯誤！"},
      {"NoColon", "justtext\r\n", "找不到檔案"},
      {"MissingPicture", "1:1:A:" + dir.file("deleted") + "\r\n", "找不到檔案"},
      {"PositionOverflow", "99999999999:1:A:" + dir.file("one") + "\r\n", "溢位"},
  };
  for (const FailCase& c : cases) {
    sink.messages.clear();
    EXPECT_FALSE(read(c.text)) << c.name;
    ASSERT_EQ(sink.messages.size(), 1u) << c.name;
    EXPECT_EQ(sink.messages[0].text.rfind(c.message, 0), 0u) << c.name << ": " << sink.messages[0].text;
  }
}

TEST_F(LogFixture, EmptyPictureFileIsNamed) {
  writeFile(dir.file("zero"), "");
  EXPECT_FALSE(read("1:1:A:" + dir.file("zero") + "\r\n"));
  ASSERT_EQ(sink.messages.size(), 1u);
  EXPECT_NE(sink.messages[0].text.find(dir.file("zero")), std::string::npos);
}

TEST_F(LogFixture, ShortNameAndMissingLog) {
  EXPECT_FALSE(ReadLog(session, ".pic.log", sink));
  EXPECT_EQ(sink.messages.at(0).text, "檔名錯誤！請檢查！");
  EXPECT_FALSE(ReadLog(session, dir.file("none.pic.log"), sink));
  EXPECT_EQ(sink.messages.at(1).text.rfind("找不到檔案", 0), 0u);
  // The log was closed: a second read works.
  EXPECT_TRUE(read("1:1:A:" + dir.file("one") + "\r\n"));
}

}  // namespace
}  // namespace falcet

namespace falcet {
namespace {

#ifndef _WIN32  // POSIX file kinds, owners and processes
// A log or a picture file that is not a regular file is refused with the usual message for it,
// before anything reads it: nothing waits on a FIFO, nothing reads a device without end.
TEST_F(LogFixture, NonRegularFilesAreRefusedWithoutReading) {
  const std::string fifo = dir.file("fifo");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  for (const std::string& name : {fifo, std::string("/dev/zero")}) {
    sink.messages.clear();
    const std::string linkName = dir.file("linked.pic.log");
    std::filesystem::remove(linkName);
    std::filesystem::create_symlink(name, linkName);
    EXPECT_FALSE(ReadLog(session, linkName, sink)) << name;
    EXPECT_EQ(sink.messages.at(0).text, "路徑/檔案存取錯誤\r\n" + linkName) << name;
    sink.messages.clear();
    EXPECT_FALSE(read("1:1:A:" + name + "\r\n")) << name;
    EXPECT_EQ(sink.messages.at(0).text, "路徑/檔案存取錯誤\r\n" + name) << name;
  }
}
#endif

}  // namespace
}  // namespace falcet
