// The shipped picture kinds on the real VB6 and Delphi files in ../shared/samples (skipped when the
// folder is absent): every picture listed in MANIFEST.tsv is exported with its exact offset and
// length and the bytes of the sample, every export is a recognised image or a listed extra, and
// import puts changed pictures back with their length fields right.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iostream>
#include <array>
#include <map>
#include <set>
#include <sstream>

#include "support/fixtures.hpp"
#include "transfer/export.hpp"
#include "transfer/import.hpp"
#include "transfer/log_reader.hpp"
#include "transfer/picture_scan.hpp"

namespace falcet {
namespace {

namespace fs = std::filesystem;

struct Picture {
  std::int32_t offset, length;
  bool operator<(const Picture& o) const { return std::tie(offset, length) < std::tie(o.offset, o.length); }
};

// Exports that are not pictures, and why.
struct KnownExtra {
  const char* file;
  std::int32_t offset, length;
  const char* reason;
};
const KnownExtra kKnownExtras[] = {
    {"frx/Planet-Source-Code__lavolpe-lavolpe-imagelist__1-69368__Form1new.frx", 65740, 438,
     "user control byte array ilItem1 holding item records, laid out exactly like a picture byte array"},
    {"frx/Planet-Source-Code__lavolpe-lavolpe-imagelist__1-69368__Form1new.frx", 66210, 8,
     "user control byte array ilMisc holding settings, laid out exactly like a picture byte array"},
};

const fs::path kSamples = FALCET_SAMPLES_DIR;

std::map<std::string, std::set<Picture>> readManifest() {
  std::map<std::string, std::set<Picture>> out;
  std::ifstream in(kSamples / "MANIFEST.tsv");
  std::string line;
  std::getline(in, line);
  while (std::getline(in, line)) {
    std::vector<std::string> f;
    std::stringstream ss(line);
    std::string cell;
    while (std::getline(ss, cell, '\t')) f.push_back(cell);
    if (f.size() < 9) continue;
    out[f[6]];  // every file is listed, with or without pictures
    if (f[7] == "-") continue;
    out[f[6]].insert({std::stoi(f[7]), std::stoi(f[8])});
  }
  return out;
}

std::int32_t kindOf(const std::string& file) {
  if (file.rfind("frx/", 0) == 0) return kVbBin;
  if (file.rfind("dfm/", 0) == 0) return kDelphiDfm;
  if (file.rfind("delphiexe/", 0) == 0) return kDelphiExe;
  return kVbExe;
}

bool isFormData(const std::string& file) {
  auto ext = fs::path(file).extension().string();
  return file.rfind("frx/", 0) != 0 || ext == ".frx" || ext == ".ctx";
}

bool isKnownExtra(const std::string& file, const LogEntry& e) {
  for (const KnownExtra& k : kKnownExtras)
    if (file == k.file && e.Position == k.offset && e.RecordedLength == k.length) return true;
  return false;
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
    const std::string original = testing::readFile(kSamples / file);
    auto& counts = byKind[file.substr(0, file.find('/'))];
    std::set<Picture> found;
    for (const LogEntry& e : entries) {
      const std::string picture = testing::readFile(e.PictureFile);
      if (isKnownExtra(file, e)) {
        ++counts[3];
        continue;
      }
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
  EXPECT_EQ(listed, 140);
}

// Every sample goes back in with each picture changed: executables keep their length and differ
// only inside the pictures' ranges; form files get every length field the kinds name right.
TEST_F(Samples, ChangedPicturesGoBackIn) {
  for (const auto& [file, pictures] : readManifest()) {
    if (!isFormData(file) || pictures.empty()) continue;
    testing::TempDir dir;
    Session session;
    session.pictureKinds = testing::shippedKinds();
    std::string copy;
    auto entries = exportSample(file, dir, session, copy);
    const std::string original = testing::readFile(copy);
    const bool formFile = session.SourceKind == kVbBin || session.SourceKind == kDelphiDfm;
    std::vector<std::string> edited;
    for (const LogEntry& e : entries) {
      std::string p = testing::readFile(e.PictureFile);
      // Smaller for executables (the tail becomes zero); larger for form files.
      p = formFile ? p + std::string(16, '\x5A') : p.substr(0, p.size() / 2);
      testing::writeFile(e.PictureFile, p);
      edited.push_back(p);
    }
    testing::RecordingSink sink;
    ASSERT_EQ(ImportPictures(session, copy + ".pic.log", sink), ImportOutcome::Done) << file;
    const std::string result = testing::readFile(copy);
    if (!formFile) {
      ASSERT_EQ(result.size(), original.size()) << file;
      std::string expect = original;
      for (std::size_t i = 0; i < entries.size(); ++i) {
        std::string block = edited[i];
        block.resize(static_cast<std::size_t>(entries[i].RecordedLength), '\0');
        expect.replace(static_cast<std::size_t>(entries[i].Position), block.size(), block);
      }
      EXPECT_EQ(result == expect, true) << file;
      continue;
    }
    ASSERT_EQ(result.size(), original.size() + 16 * entries.size()) << file;
    std::int64_t shift = 0;
    auto u32 = [&](std::int64_t at) {
      std::uint32_t v = 0;
      for (int b = 3; b >= 0; --b) v = v << 8 | static_cast<unsigned char>(result[static_cast<std::size_t>(at + b)]);
      return static_cast<std::int32_t>(v);
    };
    for (std::size_t i = 0; i < entries.size(); ++i) {
      const LogEntry& e = entries[i];
      const PictureKind& k = session.pictureKinds[static_cast<std::size_t>(e.KindIndex - 1)];
      const std::int64_t start = e.Position + shift;
      EXPECT_EQ(result.substr(static_cast<std::size_t>(start), edited[i].size()), edited[i]) << file;
      EXPECT_EQ(u32(start + k.BinFileLenPos), e.RecordedLength + 16 + k.BinFileLenFix) << file << " picture " << i;
      if (session.SourceKind == kDelphiDfm && k.DfmBlockLenPos != 0)
        EXPECT_EQ(u32(start + k.DfmBlockLenPos), e.RecordedLength + 16 + k.DfmBlockLenFix) << file;
      shift += 16;
    }
  }
}

}  // namespace
}  // namespace falcet
