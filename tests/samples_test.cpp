// The shipped picture kinds on the real VB6 and Delphi files in ../shared/samples (skipped when the
// folder is absent): every picture listed in MANIFEST.tsv is exported with its exact offset and
// length and the bytes of the sample, nothing else is exported (no byte array that holds no
// picture), and
// import puts changed pictures back with their length fields right.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iostream>
#include <array>
#include <map>
#include <set>
#include <regex>
#include <sstream>
#include <unistd.h>

#include "support/fixtures.hpp"
#include "app/detect.hpp"
#include "formats/delphi_text_form.hpp"
#include "formats/icon_group.hpp"
#include "formats/pe_image.hpp"
#include "formats/resource_section.hpp"
#include "transfer/export.hpp"
#include "transfer/import.hpp"
#include "transfer/log_reader.hpp"
#include "transfer/picture_scan.hpp"
#include "transfer/picture_list.hpp"
#include "transfer/companion.hpp"
#include "base/ascii.hpp"

namespace falcet {
namespace {

namespace fs = std::filesystem;

struct Picture {
  std::int32_t offset, length;
  bool operator<(const Picture& o) const { return std::tie(offset, length) < std::tie(o.offset, o.length); }
};

const fs::path kSamples = FALCET_SAMPLES_DIR;

// The rows of both manifests (form files and programs), each as its tab-separated fields (the
// headings left out).
std::vector<std::vector<std::string>> manifestRows() {
  std::vector<std::vector<std::string>> rows;
  for (const char* name : {"MANIFEST.tsv", "MANIFEST-programs.tsv"}) {
    std::ifstream in(kSamples / name);
    std::string line;
    std::getline(in, line);
    while (std::getline(in, line)) {
      std::vector<std::string> f;
      std::stringstream ss(line);
      std::string cell;
      while (std::getline(ss, cell, '\t')) f.push_back(cell);
      rows.push_back(std::move(f));
    }
  }
  return rows;
}

// What the kinds scan in a file: a form saved as text is scanned as its binary view.
std::string scannedBytes(const std::string& content) {
  if (!looksLikeTextForm(testing::asBytes(content))) return content;
  const auto form = readTextForm(testing::asBytes(content));
  return form ? std::string(form->view.begin(), form->view.end()) : std::string();
}

// A text form's picture, which the manifest gives as the block (0-based, in file order) and the
// offset in its decoded bytes: its place in the form's binary view.
std::optional<std::int32_t> textFormPosition(const std::string& file, const std::string& notes) {
  std::smatch block, offset;
  if (!std::regex_search(notes, block, std::regex("block #([0-9]+)")) ||
      !std::regex_search(notes, offset, std::regex("picture at offset ([0-9]+)")))
    return std::nullopt;
  const auto form = readTextForm(testing::asBytes(testing::readFile(kSamples / file)));
  const std::size_t k = std::stoul(block[1]);
  if (!form || k >= form->values.size() || form->values[k].viewBegin < 0) return std::nullopt;
  return static_cast<std::int32_t>(form->values[k].viewBegin + std::stoi(offset[1]));
}

std::map<std::string, std::set<Picture>> readManifest() {
  std::map<std::string, std::set<Picture>> out;
  for (const auto& f : manifestRows()) {
    if (f.size() < 9) continue;
    out[f[6]];  // every file is listed, with or without pictures
    if (f[8] == "-") continue;
    if (f[7] != "-") {
      out[f[6]].insert({std::stoi(f[7]), std::stoi(f[8])});
    } else if (f.size() >= 12) {
      const auto at = textFormPosition(f[6], f[11]);
      EXPECT_TRUE(at) << f[6] << ": the manifest's block is not in the text form";
      if (at) out[f[6]].insert({*at, std::stoi(f[8])});
    }
  }
  return out;
}

SourceKindValue kindOf(const std::string& file) {
  if (file.rfind("frx/", 0) == 0) return SourceKindValue::VbBin;
  if (file.rfind("dfm/", 0) == 0 || file.rfind("textdfm/", 0) == 0) return SourceKindValue::DelphiDfm;
  if (file.rfind("delphiexe/", 0) == 0 || file.rfind("lazarusexe/", 0) == 0) return SourceKindValue::DelphiExe;
  return SourceKindValue::VbExe;
}

bool isFormData(const std::string& file) {
  auto ext = fs::path(file).extension().string();
  return file.rfind("frx/", 0) != 0 || ext == ".frx" || ext == ".ctx";
}

class Samples : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!fs::exists(kSamples / "MANIFEST.tsv")) GTEST_SKIP() << "no samples at " << kSamples;
  }
};

// Exports one sample copied into dir; returns the log entries (read back through ReadLog).
std::vector<LogEntry> exportSample(const std::string& file, const testing::TempDir& dir, Session& session,
                                   std::string& copy) {
  copy = dir.file(fs::path(file).filename().string());
  fs::copy_file(kSamples / file, copy, fs::copy_options::overwrite_existing);
  fs::permissions(copy, fs::perms::owner_write, fs::perm_options::add);
  session.SourceKind = kindOf(file);
  testing::RecordingSink sink;
  std::string path = copy;
  EXPECT_TRUE(ExportPictures(session, path, sink)) << file;
  if (testing::readFile(copy + ".pic.log").empty()) return {};
  EXPECT_TRUE(ReadLog(session, copy + ".pic.log", sink)) << file;
  return session.LogEntries;
}

// The header checksum as the linkers wrote it: every sample program whose checksum is not zero
// holds the sum the system computes.
TEST_F(Samples, ChecksumAsTheLinkersWroteIt) {
  std::size_t checked = 0;
  for (const char* folder : {"delphiexe", "lazarusexe", "vbexe"}) {
    if (!fs::exists(kSamples / folder)) continue;
    for (const auto& entry : fs::directory_iterator(kSamples / folder)) {
      const std::string bytes = testing::readFile(entry.path());
      const auto image = readPeImage(testing::asBytes(bytes));
      if (!image || image->checksum == 0) continue;
      EXPECT_EQ(image->checksum, peChecksum(testing::asBytes(bytes), image->checksumOffset)) << entry.path();
      ++checked;
    }
  }
  EXPECT_GT(checked, 0u);
}

// Every program is named by what it holds: Delphi, C++Builder and Lazarus programs as Delphi EXE
// whatever their first section, VB programs as VB EXE.
TEST_F(Samples, ProgramsAreDetectedByWhatTheyHold) {
  std::size_t checked = 0;
  for (const char* folder : {"delphiexe", "lazarusexe", "vbexe"}) {
    if (!fs::exists(kSamples / folder)) continue;
    const auto want = std::string(folder) == "vbexe" ? SourceKindValue::VbExe : SourceKindValue::DelphiExe;
    for (const auto& entry : fs::directory_iterator(kSamples / folder)) {
      if (entry.path().extension() != ".exe") continue;
      EXPECT_EQ(DetectSourceKind(entry.path().string()), want) << entry.path();
      ++checked;
    }
  }
  EXPECT_GT(checked, 0u);
}

TEST_F(Samples, ShippedKindsFindEveryListedPicture) {
  const auto manifest = readManifest();
  std::map<std::string, std::array<int, 4>> byKind;  // listed, found, missed, extra
  for (const auto& [file, pictures] : manifest) {
    if (!isFormData(file)) continue;
    testing::TempDir dir;
    Session session;
    session.pictureKinds = testing::shippedKinds();
    std::string copy;
    auto entries = exportSample(file, dir, session, copy);
    const std::string original = scannedBytes(testing::readFile(kSamples / file));
    auto& counts = byKind[file.substr(0, file.find('/'))];
    std::set<Picture> found;
    for (const LogEntry& e : entries) {
      const std::string picture = testing::readFile(e.PicturePath);
      if (!pictures.count({e.Position, e.RecordedLength})) {
        ADD_FAILURE() << file << ": unexplained export at " << e.Position << " length " << e.RecordedLength;
        ++counts[3];
        continue;
      }
      found.insert({e.Position, e.RecordedLength});
      EXPECT_EQ(picture, original.substr(static_cast<std::size_t>(e.Position), static_cast<std::size_t>(e.RecordedLength)))
          << e.PictureFile;
      const auto ext = sniffPictureExtension(reinterpret_cast<const unsigned char*>(picture.data()), picture.size());
      EXPECT_NE(ext, "bin") << e.PictureFile << " is not a recognised image";
    }
    for (const Picture& p : pictures) {
      ++counts[0];
      if (found.count(p)) ++counts[1];
      else {
        ++counts[2];
        ADD_FAILURE() << file << ": missed the picture at " << p.offset << " length " << p.length;
      }
    }
  }
  int listed = 0;
  for (const auto& [kind, c] : byKind) {
    std::cout << kind << ": listed " << c[0] << ", found " << c[1] << ", missed " << c[2] << ", extra " << c[3] << "\n";
    listed += c[0];
  }
  EXPECT_EQ(listed, 183);
}

// Where a program is on PATH, or empty.
std::string findProgram(const std::string& name) {
  const char* path = std::getenv("PATH");
  std::stringstream dirs(path ? path : "");
  std::string dir;
  while (std::getline(dirs, dir, ':'))
    if (!dir.empty() && ::access((fs::path(dir) / name).c_str(), X_OK) == 0) return (fs::path(dir) / name).string();
  return {};
}

// The resources of a program by type, name and language, with their bytes.
std::map<std::tuple<std::uint32_t, std::u16string, std::uint32_t>, std::string> resourcesOf(const std::string& program) {
  std::map<std::tuple<std::uint32_t, std::u16string, std::uint32_t>, std::string> out;
  const auto image = readPeImage(testing::asBytes(program));
  if (!image) return out;
  for (const ResourceEntry& r : readResources(MemoryReader(testing::asBytes(program)), *image))
    if (r.offset) {
      const std::u16string name = r.name.named ? r.name.name : std::u16string(1, static_cast<char16_t>(r.name.id));
      out[{r.type.id, name, r.language}] = program.substr(static_cast<std::size_t>(*r.offset), r.size);
    }
  return out;
}

// A Delphi-family program rebuilt through its resource section: every picture is found again
// once, in the same order, with its new bytes and length; every resource but the form streams
// that held pictures is byte for byte what it was; the checksum verifies where there was one;
// and the log written back names the pictures where they now lie.
void checkRebuiltProgram(const std::string& file, const Session& session, const std::vector<LogEntry>& entries,
                         const std::vector<std::string>& pictures, const std::string& original, const std::string& result) {
  const auto image = readPeImage(testing::asBytes(result));
  ASSERT_TRUE(image) << file;
  if (image->checksum != 0) {
    EXPECT_EQ(image->checksum, peChecksum(testing::asBytes(result), image->checksumOffset)) << file << ": stale checksum";
  }
  const auto before = resourcesOf(original), after = resourcesOf(result);
  ASSERT_EQ(before.size(), after.size()) << file;
  for (const auto& [key, bytes] : before) {
    ASSERT_TRUE(after.count(key)) << file;
    if (bytes.rfind("TPF0", 0) != 0) {
      EXPECT_EQ(after.at(key) == bytes, true) << file << ": a resource changed";
    }
  }
  Session again;
  again.pictureKinds = session.pictureKinds;
  again.SourceKind = session.SourceKind;
  testing::TempDir dir;
  testing::RecordingSink sink;
  std::string path = dir.file("rebuilt.exe");
  testing::writeFile(path, result);
  ASSERT_TRUE(ExportPictures(again, path, sink));
  ASSERT_TRUE(ReadLog(again, path + ".pic.log", sink)) << file;
  ASSERT_EQ(again.LogEntries.size(), entries.size()) << file;
  Session log;
  ASSERT_TRUE(ReadLog(log, entries.front().PicturePath.substr(0, entries.front().PicturePath.rfind(".exe.") + 4) + ".pic.log", sink));
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const LogEntry& e = again.LogEntries[i];
    EXPECT_EQ(e.RecordedLength, static_cast<std::int32_t>(pictures[i].size())) << file << " picture " << i;
    EXPECT_EQ(result.substr(static_cast<std::size_t>(e.Position), pictures[i].size()) == pictures[i], true)
        << file << " picture " << i;
    EXPECT_EQ(log.LogEntries.at(i).Position, e.Position) << file << ": the log was not rewritten";
  }
}

void importAndCheckView(const std::string& file, Session& session, const std::vector<LogEntry>& entries,
                        const std::string& original, const std::string& result, const std::vector<std::string>& pictures,
                        const std::string& copy, bool exportAgain, testing::RecordingSink& sink);

int programIconsFollowed = 0;  // VB programs whose own icon followed a replaced form icon

// Imports a sample whose picture files were replaced by edited[i] (empty: left as exported), and
// checks the result: an executable keeps its length and differs only inside the pictures' ranges;
// a form file is found again by the same kinds with every picture at its shifted place, holding
// its new bytes, and with every length field the kinds name holding the new length.
void importAndCheck(const std::string& file, Session& session, const std::vector<LogEntry>& entries,
                    const std::string& original, const std::string& copy,
                    const std::vector<std::string>& edited, bool exportAgain) {
  std::vector<std::string> pictures;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    pictures.push_back(edited[i].empty() ? testing::readFile(entries[i].PicturePath) : edited[i]);
    if (!edited[i].empty()) testing::writeFile(entries[i].PicturePath, edited[i]);
  }
  testing::RecordingSink sink;
  ASSERT_EQ(ImportPictures(session, copy + ".pic.log", sink), ImportOutcome::Done) << file;
  const std::string result = testing::readFile(copy);
  const bool formFile = session.SourceKind == SourceKindValue::VbBin || session.SourceKind == SourceKindValue::DelphiDfm;
  bool resized = false;
  for (std::size_t i = 0; i < entries.size(); ++i)
    resized = resized || static_cast<std::int32_t>(pictures[i].size()) != entries[i].RecordedLength;
  if (!formFile && session.SourceKind == SourceKindValue::DelphiExe && resized) {
    checkRebuiltProgram(file, session, entries, pictures, original, result);
    return;
  }
  if (!formFile) {
    ASSERT_EQ(result.size(), original.size()) << file;
    std::string expect = original;
    for (std::size_t i = 0; i < entries.size(); ++i) {
      std::string block = pictures[i];
      block.resize(static_cast<std::size_t>(entries[i].RecordedLength), '\0');
      // A smaller picture's own copy of the length (a bitmap's file size) takes the stored value.
      const PictureKind& k = session.pictureKinds[static_cast<std::size_t>(entries[i].KindIndex - 1)];
      if (pictures[i].size() < block.size() && k.FileLenPos > 0 && k.FileLenPos + 4 <= static_cast<int>(block.size()))
        block.replace(static_cast<std::size_t>(k.FileLenPos), 4, testing::u32le(static_cast<std::uint32_t>(entries[i].RecordedLength + k.BinFileLenFix)));
      expect.replace(static_cast<std::size_t>(entries[i].Position), block.size(), block);
    }
    // The header checksum follows, where the program had one.
    const auto image = readPeImage(testing::asBytes(original));
    ASSERT_TRUE(image) << file;
    if (image->checksum != 0) {
      const std::uint32_t now = static_cast<std::uint32_t>(u32le(testing::asBytes(result), image->checksumOffset).value_or(0));
      EXPECT_EQ(now, peChecksum(testing::asBytes(result), image->checksumOffset)) << file << ": stale checksum";
      expect.replace(static_cast<std::size_t>(image->checksumOffset), 4, testing::u32le(now));
    }
    const bool iconFollowed = sink.messages.at(0).text.find("程式本身的圖示") != std::string::npos;
    // Whether it should have: a changed picture was an icon that the program's own icon copies.
    bool copied = false;
    if (auto tree = readResourceTree(testing::asBytes(original), *image)) {
      for (std::size_t i = 0; i < entries.size(); ++i) {
        const std::string old = original.substr(static_cast<std::size_t>(entries[i].Position),
                                                static_cast<std::size_t>(entries[i].RecordedLength));
        copied = copied || (!edited[i].empty() && edited[i] != old && !groupsCopying(*tree, testing::asBytes(old)).empty());
      }
    }
    EXPECT_EQ(iconFollowed, copied) << file << ": the program's own icon";
    if (iconFollowed) {
      // The form's icon was the program's: the resource section was rebuilt with the new icon,
      // and everything before it is as patched.
      const PeSection* rs = image->sectionOfRva(image->directory(kPeResources).address);
      ASSERT_TRUE(rs) << file;
      const auto from = static_cast<std::size_t>(image->sizeOfHeaders), to = static_cast<std::size_t>(rs->rawOffset);
      EXPECT_EQ(result.substr(from, to - from) == expect.substr(from, to - from), true) << file << ": bytes outside the pictures changed";
      const auto before = resourcesOf(original), after = resourcesOf(result);
      for (const auto& [key, bytes] : before) {
        if (std::get<0>(key) == kRtIcon || std::get<0>(key) == kRtGroupIcon) continue;
        EXPECT_EQ(after.count(key) && after.at(key) == bytes, true) << file << ": a resource changed";
      }
      auto resultImage = readPeImage(testing::asBytes(result));
      ASSERT_TRUE(resultImage) << file;
      auto tree = readResourceTree(testing::asBytes(result), *resultImage);
      ASSERT_TRUE(tree) << file;
      bool found = false;
      for (const std::string& p : pictures) found = found || !groupsCopying(*tree, testing::asBytes(p)).empty();
      EXPECT_TRUE(found) << file << ": the program's icon is not the new form icon";
      ++programIconsFollowed;
    } else {
      EXPECT_EQ(result == expect, true) << file << ": bytes outside the pictures changed";
    }
    // A fresh export finds every picture where it was.
    Session again;
    again.pictureKinds = session.pictureKinds;
    again.SourceKind = session.SourceKind;
    testing::TempDir dir;
    std::string path = dir.file("rebuilt.exe");
    testing::writeFile(path, result);
    ASSERT_TRUE(ExportPictures(again, path, sink));
    ASSERT_TRUE(ReadLog(again, path + ".pic.log", sink)) << file;
    std::set<std::pair<std::int32_t, std::int32_t>> found;
    for (const LogEntry& e : again.LogEntries) found.insert({e.Position, e.RecordedLength});
    for (const LogEntry& e : entries)
      EXPECT_TRUE(found.count({e.Position, e.RecordedLength})) << file << ": picture at " << e.Position << " lost";
    return;
  }
  // A form saved as text: the text differs only inside the rewritten values, and the checks
  // below read its binary view.
  if (looksLikeTextForm(testing::asBytes(original))) {
    const auto before = readTextForm(testing::asBytes(original)), after = readTextForm(testing::asBytes(result));
    ASSERT_TRUE(before && after) << file << ": the rebuilt text form cannot be read";
    ASSERT_EQ(before->values.size(), after->values.size()) << file;
    auto outside = [](const std::string& text, const TextForm& form) {
      std::string out;
      std::size_t from = 0;
      for (const TextFormValue& v : form.values) {
        out += text.substr(from, v.hexBegin - from) + "{}";
        from = v.hexEnd;
      }
      return out + text.substr(from);
    };
    EXPECT_EQ(outside(original, *before) == outside(result, *after), true) << file << ": bytes outside the values changed";
    for (std::size_t i = 0; i < before->values.size(); ++i)
      if (before->values[i].bytes == after->values[i].bytes) {
        EXPECT_EQ(original.substr(before->values[i].hexBegin, before->values[i].hexEnd - before->values[i].hexBegin),
                  result.substr(after->values[i].hexBegin, after->values[i].hexEnd - after->values[i].hexBegin))
            << file << ": an unchanged value was rewritten";
      }
    importAndCheckView(file, session, entries, scannedBytes(original), scannedBytes(result), pictures, copy, exportAgain, sink);
    return;
  }
  importAndCheckView(file, session, entries, original, result, pictures, copy, exportAgain, sink);
}

// The form file checks of importAndCheck on the bytes the kinds scan.
void importAndCheckView(const std::string& file, Session& session, const std::vector<LogEntry>& entries,
                        const std::string& original, const std::string& result, const std::vector<std::string>& pictures,
                        const std::string& copy, bool exportAgain, testing::RecordingSink& sink) {
  auto u32 = [&](std::int64_t at) { return falcet::i32le(testing::asBytes(result), at).value_or(-1); };
  std::int64_t shift = 0;
  std::vector<std::int64_t> starts;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const LogEntry& e = entries[i];
    const PictureKind& k = session.pictureKinds[static_cast<std::size_t>(e.KindIndex - 1)];
    const std::int64_t start = e.Position + shift;
    const auto length = static_cast<std::int32_t>(pictures[i].size());
    starts.push_back(start);
    EXPECT_EQ(result.substr(static_cast<std::size_t>(start), pictures[i].size()), pictures[i]) << file;
    EXPECT_EQ(u32(start + k.BinFileLenPos), length + k.BinFileLenFix) << file << " picture " << i;
    if (session.SourceKind == SourceKindValue::DelphiDfm && k.DfmBlockLenPos != 0) {
      EXPECT_EQ(u32(start + k.DfmBlockLenPos), length + k.DfmBlockLenFix) << file << " picture " << i;
    }
    shift += length - e.RecordedLength;
  }
  ASSERT_EQ(static_cast<std::int64_t>(result.size()), static_cast<std::int64_t>(original.size()) + shift) << file;

  // Exported again, the rebuilt file gives the same pictures in their new places.
  if (!exportAgain) return;
  Session again;
  again.pictureKinds = session.pictureKinds;
  std::string copyAgain;
  testing::TempDir dir;
  testing::writeFile(dir.file("rebuilt" + fs::path(copy).extension().string()), testing::readFile(copy));
  again.SourceKind = session.SourceKind;
  std::string path = dir.file("rebuilt" + fs::path(copy).extension().string());
  ASSERT_TRUE(ExportPictures(again, path, sink));
  ASSERT_TRUE(ReadLog(again, path + ".pic.log", sink)) << file;
  ASSERT_EQ(again.LogEntries.size(), entries.size()) << file;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    EXPECT_EQ(again.LogEntries[i].Position, starts[i]) << file << " picture " << i;
    EXPECT_EQ(again.LogEntries[i].RecordedLength, static_cast<std::int32_t>(pictures[i].size())) << file;
    EXPECT_EQ(again.LogEntries[i].KindIndex, entries[i].KindIndex) << file;
  }
}

struct SampleRun {
  testing::TempDir dir;
  Session session;
  std::string copy, original;
  std::vector<LogEntry> entries;
  bool formFile = false;
  explicit SampleRun(const std::string& file) {
    session.pictureKinds = testing::shippedKinds();
    entries = exportSample(file, dir, session, copy);
    original = testing::readFile(copy);
    formFile = session.SourceKind == SourceKindValue::VbBin || session.SourceKind == SourceKindValue::DelphiDfm;
  }
};

// Every form file goes back in with each picture 16 bytes longer (padding after the image's own
// end, which is allowed). In executables every picture cut to half its bytes is refused as
// incomplete, and the program stays as it was.
TEST_F(Samples, ChangedPicturesGoBackIn) {
  for (const auto& [file, pictures] : readManifest()) {
    if (!isFormData(file) || pictures.empty()) continue;
    SampleRun run(file);
    std::vector<std::string> edited;
    for (const LogEntry& e : run.entries) {
      std::string p = testing::readFile(e.PicturePath);
      edited.push_back(run.formFile ? p + std::string(16, '\x5A') : p.substr(0, p.size() / 2));
    }
    if (!run.formFile) {
      for (std::size_t i = 0; i < edited.size(); ++i) testing::writeFile(run.entries[i].PicturePath, edited[i]);
      testing::RecordingSink sink;
      EXPECT_EQ(ImportPictures(run.session, run.copy + ".pic.log", sink), ImportOutcome::Partial) << file;
      for (const LogEntry& e : run.entries)
        EXPECT_NE(sink.messages.at(0).text.find(e.PictureFile + "  圖像不完整，此圖像未匯入！"), std::string::npos)
            << file << " " << e.PictureFile;
      EXPECT_EQ(testing::readFile(run.copy), run.original) << file;
      continue;
    }
    // A bitmap's own size field is now off, so the kinds that check it would not find the
    // pictures again: no second export.
    importAndCheck(file, run.session, run.entries, run.original, run.copy, edited, false);
  }
}

// Writes the picture again with ImageMagick, smaller or larger than it is, as an editor would.
// Empty when convert cannot write this format or the result is not smaller (larger).
std::string reencode(const std::string& convert, const std::string& picture, bool larger) {
  const std::string ext = fs::path(picture).extension().string().substr(1);
  std::string options, format = ext;
  if (ext == "jpg") options = larger ? "-quality 100 -sampling-factor 1x1" : "-quality 25";
  else if (ext == "gif") options = larger ? "-set comment " + std::string(64, 'c') : "-colors 4";
  else if (ext == "png") options = larger ? "-define png:compression-level=0" : "-colors 4 -define png:compression-level=9";
  else if (ext == "bmp") { options = larger ? "-type TrueColorAlpha" : "-colors 2 -type Palette"; format = larger ? "BMP" : "BMP3"; }
  else if (ext == "ico") options = larger ? "-type TrueColorAlpha" : "-colors 2";
  else return {};
  const std::string out = picture + ".new." + ext;
  const std::string command = testing::shellQuoted(convert) + " " + testing::shellQuoted(picture + "[0]") + " " + options + " " +
                              format + ":" + testing::shellQuoted(out) + " > /dev/null 2>&1";
  if (std::system(command.c_str()) != 0 || !fs::exists(out)) return {};
  std::string bytes = testing::readFile(out);
  const auto old = fs::file_size(picture);
  if (bytes.empty() || (larger ? bytes.size() <= old : bytes.size() >= old)) return {};
  return bytes;
}

// Compiles a converter of binary .dfm files to text with Free Pascal's ObjectResourceToText.
std::string buildDfmConverter(const std::string& fpc, const testing::TempDir& dir) {
  const std::string source = dir.file("dfm2txt.pas");
  testing::writeFile(source,
                     "program dfm2txt;\n{$mode objfpc}\nuses Classes;\nvar i, o: TFileStream;\nbegin\n"
                     "  i := TFileStream.Create(ParamStr(1), fmOpenRead);\n"
                     "  o := TFileStream.Create(ParamStr(2), fmCreate);\n"
                     "  case i.ReadByte of\n"
                     "    $FF: begin i.Position := 0; ObjectResourceToText(i, o) end;\n"
                     "    Ord('T'): begin i.Position := 0; ObjectBinaryToText(i, o) end;\n"
                     "  else begin i.Position := 0; ObjectTextToBinary(i, o) end end;\n"
                     "  o.Free; i.Free;\nend.\n");
  const std::string exe = dir.file("dfm2txt");
  const std::string command = testing::shellQuoted(fpc) + " -o" + testing::shellQuoted(exe) + " -FE" + testing::shellQuoted(dir.path().string()) +
                              " " + testing::shellQuoted(source) + " > " + testing::shellQuoted(dir.file("fpc.out")) + " 2>&1";
  if (std::system(command.c_str()) != 0) {
    ADD_FAILURE() << "fpc could not build the converter:\n" << testing::readFile(dir.file("fpc.out"));
    return {};
  }
  return exe;
}

// Every picture replaced by the same image written smaller by ImageMagick (for form files, once
// more with a larger one, and for Delphi-family programs too). Where Free Pascal is installed, each
// rebuilt .dfm and each form resource of a rebuilt program still converts to text with Free
// Pascal's reader, and the text holds the new pictures' bytes.
TEST_F(Samples, ReencodedPicturesGoBackIn) {
  const std::string convert = findProgram("convert");
  if (convert.empty()) GTEST_SKIP() << "ImageMagick's convert is not installed";
  const std::string fpc = findProgram("fpc");
  testing::TempDir tools;
  const std::string dfmToText = fpc.empty() ? std::string() : buildDfmConverter(fpc, tools);
  std::map<std::string, std::array<int, 3>> counts;  // per file kind: re-encoded, larger, left as is
  int textFormsRead = 0;  // rebuilt text forms Free Pascal read
  for (const auto& [file, pictures] : readManifest()) {
    if (!isFormData(file) || pictures.empty()) continue;
    for (bool larger : {false, true}) {
      SampleRun run(file);
      // VB programs hold their form data in the code: pictures there may not grow.
      if (larger && !run.formFile && run.session.SourceKind != SourceKindValue::DelphiExe) break;
      std::vector<std::string> edited;
      auto& count = counts[fs::path(file).begin()->string()];
      for (const LogEntry& e : run.entries) {
        edited.push_back(reencode(convert, e.PicturePath, larger));
        ++count[edited.back().empty() ? 2 : larger ? 1 : 0];
      }
      importAndCheck(file, run.session, run.entries, run.original, run.copy, edited, true);
      if (dfmToText.empty()) continue;
      // The form streams Free Pascal's reader is given: the form file itself, or each form
      // resource of a rebuilt program.
      std::vector<std::string> streams;
      const bool text = looksLikeTextForm(testing::asBytes(run.original));
      if (text) {
        // A text form goes through Free Pascal's text reader into a binary stream, which must
        // hold the new pictures.
        const std::string binary = run.copy + ".bin";
        ASSERT_EQ(std::system((testing::shellQuoted(dfmToText) + " " + testing::shellQuoted(run.copy) + " " +
                               testing::shellQuoted(binary) + " > /dev/null 2>&1").c_str()), 0)
            << file << ": Free Pascal cannot read the rebuilt text form";
        const std::string stream = testing::readFile(binary);
        for (const std::string& picture : edited)
          if (!picture.empty()) EXPECT_NE(stream.find(picture), std::string::npos) << file << ": a new picture is not in the stream";
        ++textFormsRead;
        continue;
      }
      if (run.session.SourceKind == SourceKindValue::DelphiDfm) {
        streams.push_back(run.copy);
      } else if (run.session.SourceKind == SourceKindValue::DelphiExe && larger) {
        for (const auto& [key, bytes] : resourcesOf(testing::readFile(run.copy)))
          if (bytes.rfind("TPF0", 0) == 0) {
            streams.push_back(run.copy + "." + std::to_string(streams.size()) + ".form");
            testing::writeFile(streams.back(), bytes);
          }
      }
      if (streams.empty()) continue;
      std::string hex;
      for (const std::string& stream : streams) {
        const std::string text = stream + ".txt";
        ASSERT_EQ(std::system((testing::shellQuoted(dfmToText) + " " + testing::shellQuoted(stream) + " " + testing::shellQuoted(text) +
                               " > /dev/null 2>&1").c_str()), 0)
            << file << ": a rebuilt form stream does not convert to text";
        for (char c : testing::readFile(text))
          if ((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F')) hex += c;
          else if (c != ' ' && c != '\r' && c != '\n') hex += '-';
      }
      for (const std::string& picture : edited) {
        if (picture.empty()) continue;
        EXPECT_NE(hex.find(testing::upperHex(picture)), std::string::npos) << file << ": a new picture is not in the text";
      }
    }
  }
  for (const auto& [kind, c] : counts)
    std::cout << kind << ": " << c[0] << " re-encoded smaller, " << c[1] << " larger, " << c[2]
              << " left as exported (a format convert does not write, or no smaller/larger result)\n";
  if (dfmToText.empty()) std::cout << "Free Pascal not installed: the .dfm text check was skipped\n";
  else std::cout << textFormsRead << " rebuilt text forms read by Free Pascal\n";
  std::cout << programIconsFollowed << " VB programs took the new form icon as their own icon\n";
  if (counts.count("vbexe")) {
    EXPECT_GT(programIconsFollowed, 0);
  }
}

}  // namespace
}  // namespace falcet

namespace falcet {
namespace {

// The offsets of the references to blobName in a companion text, in order.
std::vector<std::int64_t> referencesTo(const std::string& text, const std::string& blobName) {
  std::vector<std::int64_t> out;
  std::size_t at = 0;
  while ((at = text.find('"', at)) != std::string::npos) {
    const std::size_t close = text.find_first_of("\"\r\n", at + 1);  // a quoted text is on one line
    if (close == std::string::npos) break;
    if (text[close] != '"') {
      at = close;
      continue;
    }
    std::size_t end = close + 2;
    while (end < text.size() && std::isxdigit(static_cast<unsigned char>(text[end]))) ++end;
    const std::string name = text.substr(at + 1, close - at - 1);
    const std::string tail = name.substr(name.find_last_of("\\/") == std::string::npos ? 0 : name.find_last_of("\\/") + 1);
    if (close + 1 < text.size() && text[close + 1] == ':' && end > close + 2 &&
        equalsIgnoreCaseAscii(tail, blobName))
      out.push_back(std::stoll(text.substr(close + 2, end - close - 2), nullptr, 16));
    at = end > close + 2 ? end : close + 1;
  }
  return out;
}

// Every real blob file with its companion, under the names its project gave them: pictures grow
// and shrink, and afterwards every reference of the companion points at a blob whose sizes agree
// and that holds the new picture (or, for other blobs, their bytes as they were). Importing the
// same log once more gives the same files.
TEST_F(Samples, CompanionReferencesFollowChangedPictures) {
  const std::string convert = findProgram("convert");
  int checked = 0, moved = 0;
  for (const auto& [file, pictures] : readManifest()) {
    const std::string ext = companionExtension(file);
    if (ext.empty() || pictures.empty()) continue;
    const fs::path companionSample = fs::path(kSamples / file).replace_extension(ext);
    if (!fs::exists(companionSample)) continue;
    testing::TempDir dir;
    const std::string blobName = file.substr(file.rfind("__") + 2);
    const std::string blob = dir.file(blobName);
    const std::string companion = dir.file(companionSample.filename().string().substr(
        companionSample.filename().string().rfind("__") + 2));
    fs::copy_file(kSamples / file, blob);
    fs::copy_file(companionSample, companion);
    const std::string original = testing::readFile(blob), originalText = testing::readFile(companion);
    Session session;
    session.pictureKinds = testing::shippedKinds();
    session.SourceKind = SourceKindValue::VbBin;
    testing::RecordingSink sink;
    std::string path = blob;
    ASSERT_TRUE(ExportPictures(session, path, sink));
    ASSERT_TRUE(ReadLog(session, blob + ".pic.log", sink));
    const std::vector<LogEntry> entries = session.LogEntries;
    // Old blob start -> the enclosing size field there and the new picture.
    std::map<std::int64_t, std::pair<LenField, std::string>> edited;
    for (std::size_t i = 0; i < entries.size(); ++i) {
      std::string p = testing::readFile(entries[i].PicturePath);
      // Grown by padding, or (every other one, where ImageMagick can) written smaller.
      std::string smaller = i % 2 && !convert.empty() ? reencode(convert, entries[i].PicturePath, false) : std::string();
      p = i % 2 ? (smaller.empty() ? p : smaller) : p + std::string(40 + i, 'g');
      testing::writeFile(entries[i].PicturePath, p);
      const PictureKind& k = session.pictureKinds[static_cast<std::size_t>(entries[i].KindIndex - 1)];
      for (const LenField& f : k.EnclosingLenFields)
        if (i32le(testing::asBytes(original), entries[i].Position + f.offset) == entries[i].RecordedLength + f.difference)
          edited[entries[i].Position + f.offset] = {f, p};
    }
    sink.messages.clear();
    ASSERT_EQ(ImportPictures(session, blob + ".pic.log", sink), ImportOutcome::Done) << file;
    const std::string rebuilt = testing::readFile(blob), text = testing::readFile(companion);
    const auto before = referencesTo(originalText, blobName), after = referencesTo(text, blobName);
    // The report names the companion when its references moved.
    EXPECT_EQ(sink.messages.at(0).text.find(companion) != std::string::npos, before != after) << file;
    ASSERT_EQ(before.size(), after.size()) << file;
    ASSERT_FALSE(before.empty()) << file << " names no " << blobName;
    for (std::size_t i = 0; i < before.size(); ++i) {
      const auto o = static_cast<std::size_t>(before[i]), n = static_cast<std::size_t>(after[i]);
      if (auto it = edited.find(before[i]); it != edited.end()) {
        const auto& [field, picture] = it->second;
        const auto len = static_cast<std::int32_t>(picture.size());
        EXPECT_EQ(i32le(testing::asBytes(rebuilt), after[i]), len + field.difference) << file << " reference " << i;
        EXPECT_EQ(rebuilt.substr(n + static_cast<std::size_t>(-field.offset), picture.size()), picture)
            << file << " reference " << i;
      } else {
        EXPECT_EQ(rebuilt.substr(n, 8), original.substr(o, 8)) << file << " reference " << i << " at " << o;
      }
    }
    sink.messages.clear();
    ASSERT_EQ(ImportPictures(session, blob + ".pic.log", sink), ImportOutcome::Done) << file;
    EXPECT_EQ(testing::readFile(blob), rebuilt) << file << ": a second import changed the file";
    EXPECT_EQ(testing::readFile(companion), text) << file << ": a second import changed the companion";
    if (before != after) {
      EXPECT_EQ(testing::readFile(companion + ".orig"), originalText);
    }
    moved += before != after;
    ++checked;
  }
  std::cout << checked << " blob files with their companions checked, " << moved << " with moved references\n";
  EXPECT_GE(checked, 8);
  EXPECT_GE(moved, 5);
}

}  // namespace
}  // namespace falcet

namespace falcet {
namespace {

// Every listed picture of the samples is listed with its exact place; its format and size agree
// with ImageMagick's identify on the picture's bytes (where identify reads the format).
TEST_F(Samples, ListGivesEveryPictureWithFactsAsIdentifySeesThem) {
  const std::string identify = findProgram("identify");
  testing::TempDir dir;
  int compared = 0;
  for (const auto& [file, pictures] : readManifest()) {
    if (!isFormData(file) || pictures.empty()) continue;
    Session session;
    session.pictureKinds = testing::shippedKinds();
    session.SourceKind = kindOf(file);
    const auto found = ListPictures(session, (kSamples / file).string());
    ASSERT_TRUE(found) << file;
    std::set<Picture> listed;
    for (const FoundPicture& p : *found) listed.insert({p.position, p.length});
    for (const Picture& p : pictures) EXPECT_TRUE(listed.count(p)) << file << " at " << p.offset;
    if (identify.empty()) continue;
    const std::string original = testing::readFile(kSamples / file);
    for (const FoundPicture& p : *found) {
      if (!pictures.count({p.position, p.length}) || p.facts.format == "wmf" || p.facts.format == "emf") continue;
      const std::string picture = dir.file("p." + p.facts.format), out = dir.file("identify.out");
      testing::writeFile(picture, original.substr(static_cast<std::size_t>(p.position), static_cast<std::size_t>(p.length)));
      if (std::system((testing::shellQuoted(identify) + " -format '%m %w %h\\n' " + testing::shellQuoted(picture) + " > " +
                       testing::shellQuoted(out) + " 2> /dev/null").c_str()) != 0)
        continue;
      // One line per image; the largest is the one the facts describe.
      std::istringstream lines(testing::readFile(out));
      std::string magick;
      int w = 0, h = 0, bestW = 0, bestH = 0;
      std::string format;
      while (lines >> magick >> w >> h) {
        format = magick;
        if (w * h > bestW * bestH) bestW = w, bestH = h;
      }
      const std::string expected = format == "JPEG" ? "jpg" : format == "BMP3" || format == "BMP2" ? "bmp" : toLowerAscii(format);
      EXPECT_EQ(p.facts.format, expected) << file << " at " << p.position;
      EXPECT_EQ(p.facts.width.value_or(-1), bestW) << file << " at " << p.position;
      EXPECT_EQ(p.facts.height.value_or(-1), bestH) << file << " at " << p.position;
      EXPECT_TRUE(p.facts.complete) << file << " at " << p.position;
      ++compared;
    }
  }
  std::cout << compared << " pictures compared with identify\n";
}

}  // namespace
}  // namespace falcet

namespace falcet {
namespace {

// Every picture of a .dfm, a Delphi program and a blob file with its companion has an owner,
// and it names the property the manifest gives (the manifest writes the whole nesting of
// controls, the owner the form, the innermost control and the property path); every picture of a
// VB program is owned by the form the manifest names.
TEST_F(Samples, ListNamesTheOwnerOfEveryFormPicture) {
  std::map<std::pair<std::string, std::int32_t>, std::string> properties;
  for (const auto& f : manifestRows()) {
    if (f.size() < 11 || f[8] == "-") continue;
    if (f[7] != "-") properties[{f[6], std::stoi(f[7])}] = f[10];
    else if (const auto at = f.size() >= 12 ? textFormPosition(f[6], f[11]) : std::nullopt) properties[{f[6], *at}] = f[10];
  }
  int named = 0;
  for (const auto& [file, pictures] : readManifest()) {
    const SourceKindValue kind = kindOf(file);
    if (!isFormData(file) || pictures.empty()) continue;
    Session session;
    session.pictureKinds = testing::shippedKinds();
    session.SourceKind = kind;
    const auto found = ListPictures(session, (kSamples / file).string());
    ASSERT_TRUE(found) << file;
    for (const FoundPicture& p : *found) {
      if (!pictures.count({p.position, p.length})) continue;
      ASSERT_TRUE(p.owner) << file << " at " << p.position;
      const std::string& property = properties[{file, p.position}];
      if (kind == SourceKindValue::VbExe) {
        // "form NAME ...": the form's name. One program's manifest rows say "U" where both its form
        // data and its object table name the form Form1.
        const bool relabelled = file.find("RelogioMX") != std::string::npos && *p.owner == "Form1";
        EXPECT_TRUE(property.rfind("form " + *p.owner, 0) == 0 || relabelled)
            << file << " at " << p.position << ": " << *p.owner << " for " << property;
        ++named;
        continue;
      }
      const std::string below = p.owner->substr(p.owner->find('.') + 1);
      EXPECT_TRUE(property.size() >= below.size() && property.compare(property.size() - below.size(), below.size(), below) == 0)
          << file << " at " << p.position << ": " << *p.owner << " for " << property;
      ++named;
    }
  }
  std::cout << named << " owners checked\n";
}

}  // namespace
}  // namespace falcet
