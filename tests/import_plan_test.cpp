// What import decides, without a file: log entries, the source's bytes and the picture
// files in, each entry's verdict, the new bytes and the size changes out. No file is touched.

#include "transfer/import_plan.hpp"

#include <gtest/gtest.h>

#include <cstring>
#include <map>

#include "support/fixtures.hpp"

namespace falcet {
namespace {

using testing::u32le;

// "PIC", u32 L, the picture (P = marker + 7).
PictureKind pic() { return testing::picKind(); }

// The same inside an outer size: u32 (L + 7) right before the marker.
PictureKind outer() {
  PictureKind k = pic();
  k.Name = "Outer";
  k.EnclosingLenFields = {{-11, 7, 0, {}}};
  return k;
}

// An outer size that the layout has only behind an id: u32 (L + 11), "ID\0\0", then as pic().
PictureKind guarded() {
  PictureKind k = pic();
  k.Name = "Guarded";
  k.EnclosingLenFields = {{-15, 11, -11, std::string("ID\0\0", 4)}};
  return k;
}

// A Delphi property block: "D", u32 block length (L + 4), u32 L, the picture.
PictureKind block() {
  PictureKind k;
  k.Name = "Block";
  k.FileHandleMark = "D";
  k.FilePosFix = 9;
  k.BinFileLenPos = -4;
  k.DfmBlockLenPos = -8;
  k.DfmBlockLenFix = 4;
  return k;
}

// A bitmap that holds a copy of its length: "BM", u32 file size (= the stored length), after the
// stored u32 L (P = marker).
PictureKind bitmap() {
  PictureKind k;
  k.Name = "Bitmap";
  k.FileHandleMark = "BM";
  k.FilePosFix = 0;
  k.FileLenPos = 2;
  k.BinFileLenPos = -4;
  return k;
}

// Picture files held in memory; an entry whose file is not in the map is missing.
class MemoryFiles : public PictureFiles {
 public:
  explicit MemoryFiles(std::map<std::string, std::string> files) : m_files(std::move(files)) {}
  bool exists(const LogEntry& e) override { return m_files.count(e.PicturePath) != 0; }
  bool read(const LogEntry& e, std::span<unsigned char> out) override {
    const auto it = m_files.find(e.PicturePath);
    if (it == m_files.end() || it->second.size() != out.size()) return false;
    std::memcpy(out.data(), it->second.data(), out.size());
    return true;
  }
  std::int32_t size(const std::string& name) const {
    const auto it = m_files.find(name);
    return it == m_files.end() ? 0 : static_cast<std::int32_t>(it->second.size());
  }

 private:
  std::map<std::string, std::string> m_files;
};

struct Entry {
  std::int32_t position, recorded;
  std::int32_t kind;  // 1-based; -1: a name no kind has
  std::string file;
};

struct Case {
  const char* name;
  SourceKindValue sourceKind;
  std::string source;
  std::vector<Entry> entries;
  std::map<std::string, std::string> files;
  std::vector<Verdict> verdicts;
  std::string result;  // the new bytes
  std::vector<SizeChange> changes;
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

std::string dfmHeader(std::uint32_t streamSize) {
  return std::string("\xFF\x0A\x00", 3) + "TFORM1" + std::string(1, '\0') + "\x30\x10" + u32le(streamSize);
}

const std::int32_t kBig = static_cast<std::int32_t>(testing::bmpImage(8, 4, 1).size());
const std::int32_t kSmall = static_cast<std::int32_t>(testing::bmpImage(2, 2, 2).size());
std::string withFileSize(std::string bmp, std::int32_t size) {
  return bmp.replace(2, 4, u32le(static_cast<std::uint32_t>(size)));
}

const std::string kExe = "headPIC" + u32le(4) + "abcd" + "tail";
const std::string kBlocks = "TPF0" + std::string("D") + u32le(8) + u32le(4) + "abcd" + "...";

class Plan : public ::testing::TestWithParam<Case> {};

TEST_P(Plan, VerdictsBytesAndChanges) {
  const Case& c = GetParam();
  Session session;
  session.pictureKinds = {pic(), outer(), block(), bitmap(), guarded()};
  session.SourceKind = c.sourceKind;
  MemoryFiles files(c.files);
  for (const Entry& e : c.entries) {
    LogEntry l;
    l.Position = e.position;
    l.RecordedLength = e.recorded;
    l.KindIndex = e.kind;
    l.PictureFile = l.PicturePath = e.file;
    l.FileLength = files.size(e.file);
    session.LogEntries.push_back(l);
  }
  std::vector<unsigned char> bytes(c.source.begin(), c.source.end());
  const ImportPlan plan = makeImportPlan(session, MutableByteSpan(bytes), files);
  std::vector<Verdict> verdicts;
  for (const EntryResult& r : plan.entries) verdicts.push_back(r.verdict);
  EXPECT_EQ(verdicts, c.verdicts);
  const auto& content = plan.rebuilt ? plan.content : bytes;
  EXPECT_EQ(std::string(content.begin(), content.end()), c.result);
  ASSERT_EQ(plan.changes.size(), c.changes.size());
  for (std::size_t i = 0; i < c.changes.size(); ++i) {
    EXPECT_EQ(plan.changes[i].position, c.changes[i].position);
    EXPECT_EQ(plan.changes[i].oldLength, c.changes[i].oldLength);
    EXPECT_EQ(plan.changes[i].newLength, c.changes[i].newLength);
  }
  // Every entry's new place holds its picture (or, refused, what was there before).
  for (std::size_t i = 0; i < plan.entries.size(); ++i) {
    const EntryResult& r = plan.entries[i];
    if (r.verdict != Verdict::Imported || !plan.rebuilt) continue;
    EXPECT_EQ(std::string(content.begin() + r.newPosition, content.begin() + r.newPosition + r.newLength),
              c.files.at(c.entries[i].file));
  }
}

using V = Verdict;
using K = SourceKindValue;

INSTANTIATE_TEST_SUITE_P(
    Import, Plan,
    ::testing::Values(
        // Executables: patched in place, a smaller picture zero-filled, no length field moved.
        Case{"ExeShrunk", K::VbExe, kExe, {{11, 4, 1, "a"}}, {{"a", "xy"}}, {V::Imported},
             "headPIC" + u32le(4) + std::string("xy\0\0", 4) + "tail", {}},
        Case{"ExeLargerRefused", K::DelphiExe, kExe, {{11, 4, 1, "a"}}, {{"a", "abcde"}}, {V::TooLarge}, kExe, {}},
        // A smaller bitmap's own file size takes the stored length, so it is found again; a picture
        // that would no longer be found (its marker was its own first bytes) is refused.
        Case{"ExeBitmapKeepsItsLength", K::DelphiExe, u32le(kBig) + testing::bmpImage(8, 4, 1) + "tail",
             {{4, kBig, 4, "a"}}, {{"a", testing::bmpImage(2, 2, 2)}}, {V::Imported},
             u32le(kBig) + withFileSize(testing::bmpImage(2, 2, 2), kBig) + std::string(kBig - kSmall, '\0') + "tail", {}},
        Case{"ExeWouldBeLost", K::VbExe, u32le(14) + "BM" + u32le(14) + "12345678" + "tail", {{4, 14, 4, "a"}},
             {{"a", "not a bitmap"}}, {V::WouldBeLost}, u32le(14) + "BM" + u32le(14) + "12345678" + "tail", {}},
        // An entry in a place this import has already written is checked against the source as
        // loaded: refused.
        Case{"ExeEntryInsideAnEarlierPlace", K::VbExe, "headPIC" + u32le(11) + "abcPIC" + u32le(1) + "x" + "tail",
             {{11, 11, 1, "a"}, {21, 1, 1, "b"}}, {{"a", "abcPIC" + u32le(1) + "y"}, {"b", "z"}},
             {V::Imported, V::OutOfRange}, "headPIC" + u32le(11) + "abcPIC" + u32le(1) + "y" + "tail", {}},
        // An executable image is patched in place whatever the kind says.
        Case{"ImageNamedAsForm", K::VbBin, "MZ" + std::string(58, '\0') + u32le(64) + "PE" + std::string(2, '\0') + kExe,
             {{79, 4, 1, "a"}}, {{"a", "wxyz"}}, {V::Imported},
             "MZ" + std::string(58, '\0') + u32le(64) + "PE" + std::string(2, '\0') + "headPIC" + u32le(4) + "wxyz" + "tail", {}},
        // Form files: rebuilt, the length field follows.
        Case{"FormGrown", K::VbBin, kExe, {{11, 4, 1, "a"}}, {{"a", "abcdef"}}, {V::Imported},
             "headPIC" + u32le(6) + "abcdef" + "tail", {{11, 4, 6}}},
        Case{"FormShrunkTwice", K::VbBin, kExe + "PIC" + u32le(2) + "zz",
             {{11, 4, 1, "a"}, {26, 2, 1, "b"}}, {{"a", "x"}, {"b", "yyy"}}, {V::Imported, V::Imported},
             "headPIC" + u32le(1) + "x" + "tail" + "PIC" + u32le(3) + "yyy", {{11, 4, 1}, {26, 2, 3}}},
        // Enclosing sizes: rewritten where they hold the old length plus their difference only.
        Case{"EnclosingFollows", K::VbBin, u32le(11) + "PIC" + u32le(4) + "abcd..", {{11, 4, 2, "a"}},
             {{"a", "ab"}}, {V::Imported}, u32le(9) + "PIC" + u32le(2) + "ab..", {{11, 4, 2}}},
        Case{"EnclosingLookalikeKept", K::VbBin, u32le(99) + "PIC" + u32le(4) + "abcd..", {{11, 4, 2, "a"}},
             {{"a", "ab"}}, {V::Imported}, u32le(99) + "PIC" + u32le(2) + "ab..", {{11, 4, 2}}},
        // A guarded field: rewritten behind its id only; the same value behind other bytes stays.
        Case{"GuardedFieldBehindItsId", K::VbBin, u32le(15) + std::string("ID\0\0", 4) + "PIC" + u32le(4) + "abcd..",
             {{15, 4, 5, "a"}}, {{"a", "ab"}}, {V::Imported},
             u32le(13) + std::string("ID\0\0", 4) + "PIC" + u32le(2) + "ab..", {{15, 4, 2}}},
        Case{"GuardedFieldLookalike", K::VbBin, u32le(15) + std::string("XX\0\0", 4) + "PIC" + u32le(4) + "abcd..",
             {{15, 4, 5, "a"}}, {{"a", "ab"}}, {V::Imported},
             u32le(15) + std::string("XX\0\0", 4) + "PIC" + u32le(2) + "ab..", {{15, 4, 2}}},
        // Delphi forms: the property block length too, and the .dfm header's stream size.
        Case{"DfmBlockAndHeader", K::DelphiDfm, dfmHeader(static_cast<std::uint32_t>(kBlocks.size())) + kBlocks,
             {{29, 4, 3, "a"}}, {{"a", "abcdefg"}}, {V::Imported},
             dfmHeader(static_cast<std::uint32_t>(kBlocks.size() + 3)) + "TPF0" + "D" + u32le(11) + u32le(7) +
                 "abcdefg" + "...",
             {{29, 4, 7}}},
        // Refusals, each leaving its place as it was; the later entries still go in.
        Case{"RefusalsInOrder", K::VbBin, kExe + "PIC" + u32le(2) + "zz",
             {{11, 4, -1, "a"}, {11, 4, 1, "gone"}, {90, 4, 1, "a"}, {12, 4, 1, "a"}, {11, 3, 1, "a"},
              {26, 2, 1, "b"}},
             {{"a", "abcd"}, {"b", "yyy"}},
             {V::UnknownKind, V::NotFound, V::OutOfRange, V::Mismatch, V::Mismatch, V::Imported},
             kExe + "PIC" + u32le(3) + "yyy", {{26, 2, 3}}},
        // Entries must rise without overlap.
        Case{"BackwardAndOverlapping", K::VbBin, kExe + "PIC" + u32le(2) + "zz",
             {{26, 2, 1, "b"}, {11, 4, 1, "a"}, {26, 2, 1, "b"}}, {{"a", "abcd"}, {"b", "yy"}},
             {V::Imported, V::OutOfRange, V::OutOfRange}, kExe + "PIC" + u32le(2) + "yy", {}}),
    [](const auto& row) { return std::string(row.param.name); });

// A refused entry keeps its bytes, which move with the pictures before it.
TEST(PlanPositions, RefusedEntryMovesWithTheChangesBeforeIt) {
  Session session;
  session.pictureKinds = {pic()};
  session.SourceKind = SourceKindValue::VbBin;
  const std::string source = kExe + "PIC" + u32le(2) + "zz";
  MemoryFiles files(std::map<std::string, std::string>{{"a", "abcdefgh"}});  // "b" is missing
  for (auto [pos, len, name] : {std::tuple{11, 4, "a"}, std::tuple{26, 2, "b"}}) {
    LogEntry e;
    e.Position = pos, e.RecordedLength = len, e.KindIndex = 1, e.PictureFile = e.PicturePath = name;
    e.FileLength = files.size(name);
    session.LogEntries.push_back(e);
  }
  std::vector<unsigned char> bytes(source.begin(), source.end());
  const ImportPlan plan = makeImportPlan(session, MutableByteSpan(bytes), files);
  ASSERT_EQ(plan.entries.size(), 2u);
  EXPECT_EQ(plan.entries[0].verdict, Verdict::Imported);
  EXPECT_EQ(plan.entries[1].verdict, Verdict::NotFound);
  EXPECT_EQ(plan.entries[1].newPosition, 26 + 4);
  EXPECT_EQ(plan.entries[1].newLength, 2);
}

}  // namespace
}  // namespace falcet
