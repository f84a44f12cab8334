// ImportPictures for each source kind on an arbitrary source and log. The input is read as:
//
//   u8 source kind (low 2 bits), u8 entry count (low 3 bits), then per entry:
//   u8 shape, u16 position, u16 recorded length, u8 kind, u16 picture length, picture bytes;
//   the rest is the source.
//
// shape chooses a plain picture file, a missing one, a folder in its place, the source itself,
// and a negative or far position. The target writes the log and the picture files, imports, and
// checks: nothing but the source, its backup and the files it made is left in the folder; a
// failed import leaves the source as it was; otherwise the backup is the old source and the new
// one is exactly the old one with the imported pictures put in (executables: same length, the
// rest zero-filled; form files: rebuilt with the kind's length fields holding the new length).

#include <clocale>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <set>
#include <unistd.h>

#include "fuzz_support.hpp"
#include "transfer/result.hpp"
#include "settings/ini_file.hpp"
#include "transfer/import.hpp"
#include "transfer/import_plan.hpp"
#include "transfer/session.hpp"
#include "texts/texts.hpp"
#include "base/bytes.hpp"

using namespace falcet;
namespace fs = std::filesystem;

namespace {

PictureKinds g_kinds;

struct ReportSink : ResultSink {
  std::string report;
  int shown = 0;
  int show(std::string_view text, std::string_view, MessageKind kind) override {
    ++shown;
    if (kind == MessageKind::Info) report = text;
    return kButtonOk;
  }
};

struct Entry {
  std::int64_t position = 0;
  std::int64_t recorded = 0;
  std::size_t kind = 0;  // 1-based; 0 = a name no kind has
  std::string file;
  std::string picture;
  bool plainFile = false;
};

void put32(std::string& s, std::int64_t at, std::int64_t value) {
  const auto v = static_cast<std::uint32_t>(value);
  for (int b = 0; b < 4; ++b) s[static_cast<std::size_t>(at + b)] = static_cast<char>(v >> (8 * b));
}

ByteSpan asBytes(const std::string& s) { return {reinterpret_cast<const unsigned char*>(s.data()), s.size()}; }

std::uint32_t get32(const std::string& s, std::size_t at) {
  return u32le({reinterpret_cast<const unsigned char*>(s.data()), s.size()}, static_cast<std::int64_t>(at))
      .value_or(0);
}

// Where the stream size of a binary .dfm's resource header lies, or 0.
std::size_t dfmHeaderField(const std::string& c) {
  if (c.size() < 3 || c.compare(0, 3, std::string("\xFF\x0A\x00", 3)) != 0) return 0;
  std::size_t i = 3;
  while (i < c.size() && i < 300 && c[i] != 0) ++i;
  if (i >= c.size()) return 0;
  const std::size_t field = i + 3;
  if (c.size() < field + 8 || c[i + 1] != 0x30 || c[i + 2] != 0x10) return 0;
  return c.compare(field + 4, 4, "TPF0") == 0 ? field : 0;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  std::setlocale(LC_ALL, "C.UTF-8");
  IniFile ini(FALCET_SETTINGS_DIR, "Falcet");
  if (!LoadPictureKinds(ini, g_kinds).ok()) fuzz::fail("cannot load the shipped kinds");
  if (::chdir(fuzz::scratchFolder().c_str()) != 0) fuzz::fail("cannot enter the scratch folder");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::clearScratch();
  fuzz::InputReader in(data, size);
  const auto sourceKind = static_cast<SourceKindValue>(in.u8() & 3);
  const std::size_t count = in.u8() & 7;
  static const char* const kNames[] = {"s.exe", "s.frx", "s.exe", "s.dfm"};
  const std::string sourceName = kNames[sourceKindIndex(sourceKind)];

  std::vector<Entry> entries;
  for (std::size_t i = 0; i < count; ++i) {
    Entry e;
    const std::uint8_t shape = in.u8();
    e.position = in.u16();
    e.recorded = in.u16() % 512;
    e.kind = in.u8() % (g_kinds.size() + 1);
    e.picture = in.bytes(in.u16() % 512);
    if (shape & 0x10) e.position = -e.position - 1;
    if (shape & 0x20) e.position += 0x7FFF0000;
    e.file = "p" + std::to_string(i) + ".bin";
    switch (shape & 7) {
      case 1: break;  // missing
      case 2: fs::create_directory(e.file); break;
      case 3: e.file = sourceName; break;
      default:
        if (e.picture.empty()) e.picture = "x";
        fuzz::writeFileBytes(e.file, e.picture);
        e.plainFile = true;
        break;
    }
    entries.push_back(std::move(e));
  }
  std::string original = in.rest();
  // Entries of some shapes find their kind's marker and recorded length where the log says, as
  // import checks before it puts a picture back.
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const Entry& e = entries[i];
    if (e.kind == 0 || (i % 4 == 3)) continue;
    const PictureKind& k = g_kinds[e.kind - 1];
    const std::int64_t marker = e.position - k.FilePosFix;
    const std::int64_t field = e.position + k.BinFileLenPos;
    const auto total = static_cast<std::int64_t>(original.size());
    if (marker < 0 || marker + static_cast<std::int64_t>(k.FileHandleMark.size()) > total || field < 0 ||
        field + 4 > total)
      continue;
    original.replace(static_cast<std::size_t>(marker), k.FileHandleMark.size(), k.FileHandleMark);
    put32(original, field, e.recorded + k.BinFileLenFix);
  }
  fuzz::writeFileBytes(sourceName, original);

  std::string log;
  for (const Entry& e : entries) {
    // Written by hand: positions may lie beyond the 32-bit range that a LogLine holds.
    log += std::to_string(e.position) + ":" + std::to_string(e.recorded) + ":" +
           (e.kind ? g_kinds[e.kind - 1].Name : std::string("no such kind")) + ":" + e.file + "\r\n";
  }
  const std::string logName = sourceName + ".pic.log";
  fuzz::writeFileBytes(logName, log);

  std::set<std::string> before;
  for (const auto& f : fs::directory_iterator(".")) before.insert(f.path().filename().string());

  Session session;
  session.pictureKinds = g_kinds;
  session.SourceKind = sourceKind;
  ReportSink sink;
  const ImportOutcome outcome = ImportPictures(session, logName, sink);

  for (const auto& f : fs::directory_iterator(".")) {
    const std::string name = f.path().filename().string();
    fuzz::check(before.count(name) || name == sourceName + ".bak" || name == sourceName + ".orig",
                "import left a stray file");
  }
  const std::string now = fuzz::readFileBytes(sourceName);
  if (outcome == ImportOutcome::Failed) {
    fuzz::check(now == original, "a failed import changed the source");
    return 0;
  }
  fuzz::check(fuzz::readFileBytes(sourceName + ".bak") == original, "the backup is not the old source");

  // Which entries went in, from the report: one line per entry, in log order.
  std::vector<bool> imported;
  std::size_t at = 0;
  for (std::size_t i = 0; i < session.LogEntries.size(); ++i) {
    const std::size_t end = sink.report.find("\r\n", at);
    fuzz::check(end != std::string::npos, "a report line is missing");
    const std::string line = sink.report.substr(at, end - at);
    auto endsWith = [&](std::string_view verdict) {
      return line.size() >= verdict.size() && line.compare(line.size() - verdict.size(), verdict.size(), verdict) == 0;
    };
    imported.push_back(endsWith(texts::kVerdictImported) || endsWith(texts::kVerdictUnchanged));
    at = end + 2;
  }
  // Then, for a blob file whose pictures changed size, a line about its companion text file.
  std::string_view rest = std::string_view(sink.report).substr(at);
  if (rest.substr(0, texts::kCompanionMissing.size()) == texts::kCompanionMissing)
    rest.remove_prefix(rest.find("\r\n", rest.find("\r\n") + 2) + 2);
  fuzz::check(rest == texts::kImportDone, "the report does not end as it should");
  fuzz::check(imported.size() == entries.size(), "the log was not read whole");
  bool all = true;
  for (bool b : imported) all = all && b;
  fuzz::check((outcome == ImportOutcome::Done) == all, "the outcome does not match the verdicts");

  // The expected result, built from the old source and the pictures that went in.
  std::string expected;
  const bool formFile = isFormFile(sourceKind) && !isExecutableImage(asBytes(original));
  for (std::size_t i = 0; i < entries.size(); ++i) {
    if (!imported[i]) continue;
    const PictureKind& k = g_kinds[entries[i].kind - 1];
    const std::int64_t marker = entries[i].position - k.FilePosFix;
    fuzz::check(marker >= 0 && original.compare(static_cast<std::size_t>(marker), k.FileHandleMark.size(),
                                                k.FileHandleMark) == 0 &&
                    static_cast<std::int32_t>(get32(original, static_cast<std::size_t>(entries[i].position +
                                                                                       k.BinFileLenPos))) ==
                        entries[i].recorded + k.BinFileLenFix,
                "a picture went in where the source does not hold its marker and length");
  }
  if (!formFile) {
    expected = original;
    for (std::size_t i = 0; i < entries.size(); ++i) {
      if (!imported[i]) continue;
      const Entry& e = entries[i];
      const std::string picture = e.plainFile ? e.picture : original;
      fuzz::check(e.position >= 0 && e.position + e.recorded <= static_cast<std::int64_t>(original.size()) &&
                      static_cast<std::int64_t>(picture.size()) <= e.recorded,
                  "an executable picture went in out of its range");
      std::string put = picture + std::string(static_cast<std::size_t>(e.recorded) - picture.size(), '\0');
      expected.replace(static_cast<std::size_t>(e.position), put.size(), put);
    }
  } else {
    std::int64_t cursor = 0;
    std::int64_t pictureEnd = 0;
    for (std::size_t i = 0; i < entries.size(); ++i) {
      if (!imported[i]) continue;
      const Entry& e = entries[i];
      const PictureKind& k = g_kinds[e.kind - 1];
      fuzz::check(e.position >= cursor && e.position + e.recorded <= static_cast<std::int64_t>(original.size()),
                  "a form picture went in out of order or out of range");
      expected += original.substr(static_cast<std::size_t>(cursor), static_cast<std::size_t>(e.position - cursor));
      const std::int64_t start = static_cast<std::int64_t>(expected.size());
      const std::string picture = e.plainFile ? e.picture : original;
      expected += picture;
      const auto len = static_cast<std::int64_t>(picture.size());
      fuzz::check(start + k.BinFileLenPos >= 0 && start + k.BinFileLenPos + 4 <= start + len,
                  "a length field outside the new content");
      put32(expected, start + k.BinFileLenPos, len + k.BinFileLenFix);
      if (sourceKind == SourceKindValue::DelphiDfm && k.DfmBlockLenPos != 0) {
        fuzz::check(start + k.DfmBlockLenPos >= 0 && start + k.DfmBlockLenPos + 4 <= start + len,
                    "a block length outside the new content");
        put32(expected, start + k.DfmBlockLenPos, len + k.DfmBlockLenFix);
      }
      for (const LenField& f : k.EnclosingLenFields) {
        const std::int64_t field = start + f.offset;
        if (field >= pictureEnd && field + 4 <= start &&
            static_cast<std::int32_t>(get32(expected, static_cast<std::size_t>(field))) == e.recorded + f.difference)
          put32(expected, field, len + f.difference);
      }
      cursor = e.position + e.recorded;
      pictureEnd = start + len;
    }
    expected += original.substr(static_cast<std::size_t>(cursor));
    if (sourceKind == SourceKindValue::DelphiDfm) {
      if (std::size_t field = dfmHeaderField(expected)) {
        const auto delta = static_cast<std::int64_t>(expected.size()) - static_cast<std::int64_t>(original.size());
        put32(expected, static_cast<std::int64_t>(field), get32(expected, field) + static_cast<std::uint32_t>(delta));
      }
    }
  }
  fuzz::check(now == expected, "the new source is not the old one with the pictures put in");
  return 0;
}
