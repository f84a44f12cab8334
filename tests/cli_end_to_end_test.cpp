// falcet-cli from the outside, on generated sources of every kind: export, edit the picture files,
// import, and look at the bytes that came out, the texts printed and the exit status.

#include <gtest/gtest.h>

#include <ostream>

#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sstream>

#include <nlohmann/json.hpp>

#include "support/fixtures.hpp"
#include "texts/texts.hpp"
#include "transfer/log_line.hpp"
#include "base/bytes.hpp"
#include "base/lines.hpp"

namespace falcet {
namespace {

namespace fs = std::filesystem;
using testing::bmpImage;
using testing::delphiDfmFile;
using testing::gifImage;
using testing::icoImage;
using testing::jpegImage;
using testing::peFile;
using testing::readFile;
using testing::shellQuoted;
using testing::TempDir;
using testing::u32le;
using testing::vbFormFile;
using testing::writeFile;

struct CliResult {
  int status = -1;
  std::string out;
  std::string err;
};

// Runs falcet-cli with args (already quoted for the shell); stderr goes through a folder of its own,
// so that a test may lock the folder of the source.
CliResult runCli(const std::string& args) {
  TempDir errDir;
  const std::string errFile = errDir.file("cli.err");
  const std::string command = shellQuoted(FALCET_CLI) + " " + args + " 2> " + shellQuoted(errFile);
  CliResult r;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (!pipe) return r;
  char buf[4096];
  std::size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, pipe)) > 0) r.out.append(buf, n);
  const int raw = ::pclose(pipe);
  r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  r.err = readFile(errFile);
  return r;
}

// The log's lines, each picture file as a path (the log names them beside itself).
std::vector<LogLine> readLog(const std::string& logName) {
  std::vector<LogLine> lines;
  const std::string text = readFile(logName);
  for (std::string_view line : splitLines(text)) {
    if (line.empty()) continue;
    auto parsed = parseLogLine(line);
    EXPECT_TRUE(parsed) << line;
    if (!parsed) continue;
    parsed->pictureFile = (fs::path(logName).parent_path() / parsed->pictureFile).string();
    lines.push_back(*parsed);
  }
  return lines;
}

// A picture file's name as the log and the report give it.
std::string leaf(const std::string& path) { return fs::path(path).filename().string(); }

bool contains(const std::string& text, std::string_view part) {
  return text.find(part) != std::string::npos;
}

std::string vbImages() {
  return vbFormFile({icoImage(1), bmpImage(8, 4, 2), gifImage(3), jpegImage(200, 4)});
}

std::string dfmImages() { return delphiDfmFile(bmpImage(8, 4, 5), bmpImage(6, 6, 6), icoImage(7)); }

struct KindCase {
  const char* name;
  const char* kind;
  const char* file;
  std::string (*content)();
  std::size_t pictures;
};

// Failures name the case, not its bytes.
void PrintTo(const KindCase& c, std::ostream* os) {
  *os << c.name << " (--kind " << c.kind << ", " << c.file << ", " << c.pictures << " pictures)";
}

const KindCase kKindCases[] = {
    {"VbBin", "vb-bin", "Form1.frx", vbImages, 4},
    {"VbExe", "vb-exe", "Project1.exe", [] { return peFile(".text", 4, vbImages()); }, 4},
    {"DelphiDfm", "delphi-dfm", "Unit1.dfm", dfmImages, 3},
    {"DelphiExe", "delphi-exe", "Project1.exe", [] { return peFile("CODE", 8, dfmImages()); }, 3},
};

class CliKinds : public ::testing::TestWithParam<KindCase> {};

TEST_P(CliKinds, UneditedRoundTripGivesTheSourceBackAndABackup) {
  const KindCase& c = GetParam();
  TempDir dir;
  const std::string source = dir.file(c.file);
  const std::string original = c.content();
  writeFile(source, original);

  CliResult exp = runCli(std::string("export --kind ") + c.kind + " " + shellQuoted(source));
  ASSERT_EQ(exp.status, 0) << exp.err;
  EXPECT_TRUE(contains(exp.out, texts::kExportDone));
  const auto log = readLog(source + ".pic.log");
  ASSERT_EQ(log.size(), c.pictures);
  for (const auto& l : log)
    EXPECT_EQ(readFile(l.pictureFile), original.substr(static_cast<std::size_t>(l.position),
                                                static_cast<std::size_t>(l.length)));

  CliResult imp = runCli(std::string("import --kind ") + c.kind + " " + shellQuoted(source + ".pic.log"));
  ASSERT_EQ(imp.status, 0) << imp.err;
  EXPECT_TRUE(contains(imp.out, texts::kImportDone));
  EXPECT_EQ(readFile(source), original);
  EXPECT_EQ(readFile(source + ".bak"), original);
}

INSTANTIATE_TEST_SUITE_P(Kinds, CliKinds, ::testing::ValuesIn(kKindCases),
                         [](const auto& row) { return std::string(row.param.name); });

TEST(CliImport, ExecutableTakesASmallerPictureZeroFilledAndRefusesALargerOne) {
  TempDir dir;
  const std::string source = dir.file("Project1.exe");
  const std::string original = peFile(".text", 4, vbImages());
  writeFile(source, original);
  ASSERT_EQ(runCli("export --kind vb-exe " + shellQuoted(source)).status, 0);
  const auto log = readLog(source + ".pic.log");
  ASSERT_EQ(log.size(), 4u);
  // The bitmap is replaced by a smaller one; the GIF grows by 5.
  const std::string smaller = bmpImage(2, 2, 7);
  ASSERT_LT(smaller.size(), static_cast<std::size_t>(log[1].length));
  writeFile(log[1].pictureFile, smaller);
  writeFile(log[2].pictureFile, readFile(log[2].pictureFile) + "12345");

  CliResult imp = runCli("import --kind vb-exe " + shellQuoted(source + ".pic.log"));
  EXPECT_EQ(imp.status, 3) << "some picture was not imported";
  EXPECT_TRUE(contains(imp.out, leaf(log[2].pictureFile) + std::string(texts::kVerdictTooLarge)));
  EXPECT_TRUE(contains(imp.out, leaf(log[1].pictureFile) + std::string(texts::kVerdictImported)));

  const std::string now = readFile(source);
  ASSERT_EQ(now.size(), original.size());
  std::string expected = original;
  const auto at = static_cast<std::size_t>(log[1].position);
  expected.replace(at, static_cast<std::size_t>(log[1].length),
                   smaller + std::string(static_cast<std::size_t>(log[1].length) - smaller.size(), '\0'));
  EXPECT_EQ(now, expected) << "only the smaller picture's range may change";
}

// A form file whose pictures changed size: every picture is found again by the same kinds at its
// new place with its new bytes (so every length field the kinds read is right), and the bytes
// between pictures are the old ones, but for the length fields themselves.
void checkRebuiltForm(const std::string& kindArg, const std::string& fileName, const std::string& original,
                      const std::vector<std::string>& edited, std::size_t headerField) {
  TempDir dir;
  const std::string source = dir.file(fileName);
  writeFile(source, original);
  ASSERT_EQ(runCli("export --kind " + kindArg + " " + shellQuoted(source)).status, 0);
  const auto before = readLog(source + ".pic.log");
  ASSERT_EQ(before.size(), edited.size());
  for (std::size_t i = 0; i < edited.size(); ++i)
    if (!edited[i].empty()) writeFile(before[i].pictureFile, edited[i]);

  CliResult imp = runCli("import --kind " + kindArg + " " + shellQuoted(source + ".pic.log"));
  ASSERT_EQ(imp.status, 0) << imp.out << imp.err;
  const std::string rebuilt = readFile(source);

  fs::remove(source + ".pic.log");
  ASSERT_EQ(runCli("export --kind " + kindArg + " " + shellQuoted(source)).status, 0);
  const auto after = readLog(source + ".pic.log");
  ASSERT_EQ(after.size(), before.size());
  std::int64_t shift = 0, previousEndOld = 0, previousEndNew = 0;
  for (std::size_t i = 0; i < after.size(); ++i) {
    const std::string picture = edited[i].empty()
                                    ? original.substr(static_cast<std::size_t>(before[i].position),
                                                      static_cast<std::size_t>(before[i].length))
                                    : edited[i];
    EXPECT_EQ(after[i].kind, before[i].kind);
    EXPECT_EQ(after[i].position, before[i].position + shift) << "picture " << i;
    EXPECT_EQ(after[i].length, static_cast<std::int64_t>(picture.size())) << "picture " << i;
    EXPECT_EQ(rebuilt.substr(static_cast<std::size_t>(after[i].position), picture.size()), picture);
    // The bytes before this picture, from the end of the last one: equal but for the length
    // fields, which lie within the 20 bytes before the picture in every kind used here.
    std::string oldGap = original.substr(static_cast<std::size_t>(previousEndOld),
                                         static_cast<std::size_t>(before[i].position - previousEndOld));
    std::string newGap = rebuilt.substr(static_cast<std::size_t>(previousEndNew),
                                        static_cast<std::size_t>(after[i].position - previousEndNew));
    ASSERT_EQ(oldGap.size(), newGap.size());
    const std::size_t masked = std::min<std::size_t>(20, oldGap.size());
    oldGap.resize(oldGap.size() - masked);
    newGap.resize(newGap.size() - masked);
    if (headerField && i == 0) {
      oldGap.replace(headerField, 4, 4, '\0');
      newGap.replace(headerField, 4, 4, '\0');
    }
    EXPECT_EQ(oldGap, newGap) << "bytes before picture " << i;
    shift += static_cast<std::int64_t>(picture.size()) - before[i].length;
    previousEndOld = before[i].position + before[i].length;
    previousEndNew = after[i].position + after[i].length;
  }
  EXPECT_EQ(original.substr(static_cast<std::size_t>(previousEndOld)),
            rebuilt.substr(static_cast<std::size_t>(previousEndNew)));
  EXPECT_EQ(static_cast<std::int64_t>(rebuilt.size()), static_cast<std::int64_t>(original.size()) + shift);
  if (headerField) {
    EXPECT_EQ(falcet::u32le(testing::asBytes(rebuilt), static_cast<std::int64_t>(headerField)),
              rebuilt.size() - headerField - 4)
        << "resource header size";
  }
}

TEST(CliImport, VbFormFileWithAGrownAndAShrunkPicture) {
  checkRebuiltForm("vb-bin", "Form1.frx", vbImages(),
                   {"", bmpImage(4, 2, 9), gifImage(3) + std::string(300, 'g'), ""}, 0);
}

TEST(CliImport, DelphiFormFileWithAGrownAndAShrunkPicture) {
  // Header: FF 0A 00 "TFORM1" 00 30 10, then the stream size at 12.
  checkRebuiltForm("delphi-dfm", "Unit1.dfm", dfmImages(), {"", bmpImage(16, 16, 8), bmpImage(2, 2, 9)}, 12);
}

// Sources and logs that went wrong between export and import.
class CliFaults : public ::testing::Test {
 protected:
  void SetUp() override {
    m_source = m_dir.file("Form1.frx");
    m_original = vbImages();
    writeFile(m_source, m_original);
    ASSERT_EQ(runCli("export --kind vb-bin " + shellQuoted(m_source)).status, 0);
    m_log = readLog(m_source + ".pic.log");
    ASSERT_EQ(m_log.size(), 4u);
  }
  CliResult import() { return runCli("import --kind vb-bin " + shellQuoted(m_source + ".pic.log")); }

  TempDir m_dir;
  std::string m_source, m_original;
  std::vector<LogLine> m_log;
};

TEST_F(CliFaults, PictureFileReplacedByAFolder) {
  fs::remove(m_log[2].pictureFile);
  fs::create_directory(m_log[2].pictureFile);
  CliResult r = import();
  EXPECT_EQ(r.status, 3);
  EXPECT_TRUE(contains(r.out, leaf(m_log[2].pictureFile) + std::string(texts::kVerdictUnreadable))) << r.out;
  EXPECT_EQ(readFile(m_source), m_original) << "the other pictures go back unchanged";
  EXPECT_EQ(readFile(m_source + ".bak"), m_original);
}

TEST_F(CliFaults, SourceShorterThanTheLogsRanges) {
  const std::string shorter = m_original.substr(0, static_cast<std::size_t>(m_log[2].position + 4));
  writeFile(m_source, shorter);
  CliResult r = import();
  EXPECT_EQ(r.status, 3);
  EXPECT_TRUE(contains(r.out, leaf(m_log[2].pictureFile) + std::string(texts::kVerdictOutOfRange))) << r.out;
  EXPECT_TRUE(contains(r.out, leaf(m_log[3].pictureFile) + std::string(texts::kVerdictOutOfRange))) << r.out;
  EXPECT_EQ(readFile(m_source), shorter) << "the pictures in range go back unchanged";
  EXPECT_EQ(readFile(m_source + ".bak"), shorter);
}

TEST_F(CliFaults, LogNamingTheSourceAsAPicture) {
  // In an executable the whole source cannot fit in one picture's range: refused, nothing lost.
  const std::string exe = m_dir.file("Project1.exe");
  const std::string original = peFile(".text", 4, vbImages());
  writeFile(exe, original);
  ASSERT_EQ(runCli("export --kind vb-exe " + shellQuoted(exe)).status, 0);
  auto log = readLog(exe + ".pic.log");
  ASSERT_FALSE(log.empty());
  writeFile(exe + ".pic.log", formatLogLine({log[0].position, log[0].length, log[0].kind, exe}) + "\r\n");
  CliResult r = runCli("import --kind vb-exe " + shellQuoted(exe + ".pic.log"));
  EXPECT_EQ(r.status, 3);
  EXPECT_TRUE(contains(r.out, exe + std::string(texts::kVerdictTooLarge))) << r.out;
  EXPECT_EQ(readFile(exe), original);
}

TEST_F(CliFaults, FailedExportIntoAnImmutableFolderWritesNothing) {
  const fs::path folder = m_dir.path() / "locked";
  fs::create_directory(folder);
  const std::string source = (folder / "Form1.frx").string();
  writeFile(source, m_original);
  if (std::system(("chattr +i " + shellQuoted(folder.string()) + " 2> /dev/null").c_str()) != 0)
    GTEST_SKIP() << "chattr +i is not allowed here";
  CliResult r = runCli("export --kind vb-bin " + shellQuoted(source));
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(folder)) names.push_back(e.path().filename().string());
  EXPECT_EQ(std::system(("chattr -i " + shellQuoted(folder.string())).c_str()), 0);
  EXPECT_NE(r.status, 0);
  EXPECT_TRUE(contains(r.err, texts::kLogCreateError)) << r.err;
  EXPECT_EQ(names, std::vector<std::string>{"Form1.frx"});
  EXPECT_EQ(readFile(source), m_original);
}

TEST_F(CliFaults, FailedImportIntoAnImmutableFolderLeavesTheSource) {
  const fs::path folder = m_dir.path();
  writeFile(m_log[1].pictureFile, bmpImage(4, 2, 9));
  if (std::system(("chattr +i " + shellQuoted(folder.string()) + " 2> /dev/null").c_str()) != 0)
    GTEST_SKIP() << "chattr +i is not allowed here";
  CliResult r = import();
  std::size_t entries = 0;
  for ([[maybe_unused]] const auto& e : fs::directory_iterator(folder)) ++entries;
  EXPECT_EQ(std::system(("chattr -i " + shellQuoted(folder.string())).c_str()), 0);
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(contains(r.err, texts::kWriteFileError)) << r.err;
  EXPECT_EQ(readFile(m_source), m_original);
  EXPECT_EQ(entries, 6u) << "source, log, four pictures: no temporary file, no backup";
}

}  // namespace
}  // namespace falcet

namespace falcet::testing {
namespace {

// list: what export would find, numbered as export numbers (the empty picture uses up 001),
// with the facts of each picture and no owner known (no companion beside the blob file), writing
// nothing; a .dfm names its pictures' owners.
TEST(CliList, JsonAndTableWriteNothing) {
  TempDir dir;
  const std::string source = dir.file("Form1.frx");
  writeFile(source, vbImages());
  CliResult json = runCli("list --json " + shellQuoted(source));
  ASSERT_EQ(json.status, 0) << json.err;
  const auto doc = nlohmann::json::parse(json.out);
  EXPECT_EQ(doc["source"], source);
  EXPECT_EQ(doc["kind"], "vb-bin");
  ASSERT_EQ(doc["pictures"].size(), 4u);
  const char* formats[] = {"ico", "bmp", "gif", "jpg"};
  for (std::size_t i = 0; i < 4; ++i) {
    const auto& p = doc["pictures"][i];
    EXPECT_EQ(p["number"], i + 2);
    EXPECT_EQ(p["format"], formats[i]);
    EXPECT_EQ(p["kind"], "VB.Picture");
    EXPECT_TRUE(p["owner"].is_null());
  }
  EXPECT_EQ(doc["pictures"][1]["width"], 8);
  EXPECT_EQ(doc["pictures"][1]["height"], 4);
  CliResult table = runCli("list " + shellQuoted(source));
  EXPECT_TRUE(contains(table.out, "2\t")) << table.out;
  std::size_t files = 0;
  for ([[maybe_unused]] const auto& e : fs::directory_iterator(dir.path())) ++files;
  EXPECT_EQ(files, 1u) << "list writes nothing";
  EXPECT_EQ(runCli("list " + shellQuoted(dir.file("missing.frx"))).status, 1);

  const std::string dfm = dir.file("Unit1.dfm");
  writeFile(dfm, delphiDfmFile(bmpImage(8, 4, 1), bmpImage(2, 2, 2), icoImage(3)));
  const auto owned = nlohmann::json::parse(runCli("list --json " + shellQuoted(dfm)).out);
  ASSERT_EQ(owned["pictures"].size(), 3u);
  EXPECT_EQ(owned["pictures"][1]["owner"], "TForm1.Image1.Picture.Data");
  EXPECT_TRUE(contains(runCli("list " + shellQuoted(dfm)).out, "\tTForm1.Button1.Glyph.Data\n"));
}

}  // namespace
}  // namespace falcet::testing
