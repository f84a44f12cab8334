#include "transfer/import_plan.hpp"

#include <cstring>

namespace falcet {
namespace {

// The checks every source kind makes first. Nothing when the entry may go on.
std::optional<Verdict> precheck(const LogEntry& e, std::int64_t size, PictureFiles& files) {
  if (e.KindIndex == -1) return Verdict::UnknownKind;
  if (!files.exists(e)) return Verdict::NotFound;
  const std::int64_t pos = e.Position;
  const std::int64_t recorded = e.RecordedLength;
  if (pos < 0 || recorded < 0 || pos + recorded > size) return Verdict::OutOfRange;
  return std::nullopt;
}

const PictureKind& kindOf(const LogEntry& e, const PictureKinds& kinds) {
  return kinds[static_cast<std::size_t>(e.KindIndex - 1)];
}

}  // namespace

std::vector<EntryResult> patchExecutable(const std::vector<LogEntry>& entries,
                                         const PictureKinds&, MutableByteSpan bytes,
                                         PictureFiles& files) {
  std::vector<EntryResult> results;
  results.reserve(entries.size());
  std::vector<unsigned char> picture;
  for (const LogEntry& e : entries) {
    EntryResult r{Verdict::Imported, e.Position, e.RecordedLength};
    if (auto v = precheck(e, static_cast<std::int64_t>(bytes.size()), files)) {
      r.verdict = *v;
    } else if (e.FileLength > e.RecordedLength) {
      r.verdict = Verdict::TooLarge;
    } else {
      picture.resize(static_cast<std::size_t>(e.FileLength));
      if (!files.read(e, picture)) {
        r.verdict = Verdict::Unreadable;
      } else {
        auto place = bytes.subspan(static_cast<std::size_t>(e.Position),
                                   static_cast<std::size_t>(e.RecordedLength));
        std::memcpy(place.data(), picture.data(), picture.size());
        std::memset(place.data() + picture.size(), 0, place.size() - picture.size());
      }
    }
    results.push_back(r);
  }
  return results;
}

ImportPlan rebuildFormFile(const std::vector<LogEntry>& entries, const PictureKinds& kinds,
                           SourceKindValue sourceKind, ByteSpan bytes, PictureFiles& files) {
  ImportPlan plan;
  plan.rebuilt = true;
  plan.entries.reserve(entries.size());
  std::vector<unsigned char>& out = plan.content;
  out.reserve(bytes.size());
  const auto size = static_cast<std::int64_t>(bytes.size());
  std::int64_t readCursor = 0;
  const bool dfm = sourceKind == SourceKindValue::DelphiDfm;

  for (const LogEntry& e : entries) {
    // Until imported, the entry's picture stays where the copy of the source bytes puts it.
    EntryResult r{Verdict::Imported, static_cast<std::int64_t>(out.size()) + (e.Position - readCursor),
                  e.RecordedLength};
    auto refuse = [&](Verdict v) {
      r.verdict = v;
      plan.entries.push_back(r);
    };
    if (auto v = precheck(e, size, files)) {
      refuse(*v);
      continue;
    }
    // Entries come in rising order without overlap, and the length fields must lie inside what
    // has been written once the new picture is in.
    if (e.Position < readCursor) {
      refuse(Verdict::OutOfRange);
      continue;
    }
    const PictureKind& kind = kindOf(e, kinds);
    const std::int64_t newStart = r.newPosition;
    const std::int64_t newEnd = newStart + e.FileLength;
    auto fieldInside = [&](std::int64_t at) { return at >= 0 && at + 4 <= newEnd; };
    const bool writeBlock = dfm && kind.DfmBlockLenPos != 0;
    if (!fieldInside(newStart + kind.BinFileLenPos) ||
        (writeBlock && !fieldInside(newStart + kind.DfmBlockLenPos))) {
      refuse(Verdict::OutOfRange);
      continue;
    }
    const std::size_t before = out.size();
    out.insert(out.end(), bytes.begin() + readCursor, bytes.begin() + e.Position);
    out.resize(static_cast<std::size_t>(newEnd));
    if (!files.read(e, std::span(out).subspan(static_cast<std::size_t>(newStart)))) {
      out.resize(before);
      refuse(Verdict::Unreadable);
      continue;
    }
    const std::int64_t length = e.FileLength;
    (void)putI32le(out, newStart + kind.BinFileLenPos, static_cast<std::int32_t>(length + kind.BinFileLenFix));
    if (writeBlock)
      (void)putI32le(out, newStart + kind.DfmBlockLenPos, static_cast<std::int32_t>(length + kind.DfmBlockLenFix));
    r.newLength = e.FileLength;
    plan.entries.push_back(r);
    readCursor = e.Position + e.RecordedLength;
  }
  out.insert(out.end(), bytes.begin() + readCursor, bytes.end());
  if (dfm) fixDfmHeader(out, size);
  return plan;
}

void fixDfmHeader(std::vector<unsigned char>& c, std::int64_t oldSize) {
  if (c.size() < 3 || c[0] != 0xFF || c[1] != 0x0A || c[2] != 0x00) return;
  std::size_t i = 3;
  while (i < c.size() && i < 300 && c[i] != 0) ++i;
  if (i >= c.size() || c[i] != 0) return;
  const std::size_t field = i + 3;
  if (c.size() < field + 8 || c[i + 1] != 0x30 || c[i + 2] != 0x10) return;
  if (std::memcmp(&c[field + 4], "TPF0", 4) != 0) return;
  const std::uint32_t old = loadU32le(&c[field]);
  const std::int64_t delta = static_cast<std::int64_t>(c.size()) - oldSize;
  storeU32le(&c[field], old + static_cast<std::uint32_t>(delta));
}

ImportPlan planImport(const Session& session, MutableByteSpan sourceBytes, PictureFiles& files) {
  if (isFormFile(session.SourceKind))
    return rebuildFormFile(session.LogEntries, session.pictureKinds, session.SourceKind,
                           sourceBytes, files);
  ImportPlan plan;
  plan.entries = patchExecutable(session.LogEntries, session.pictureKinds, sourceBytes, files);
  return plan;
}

}  // namespace falcet
