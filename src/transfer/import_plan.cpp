#include "transfer/import_plan.hpp"

#include <algorithm>
#include <climits>
#include <cstring>

#include "formats/delphi_stream.hpp"
#include "formats/pe_image.hpp"
#include "formats/picture_facts.hpp"
#include "transfer/picture_scan.hpp"

namespace falcet {
namespace {

const PictureKind& kindOf(const LogEntry& e, const PictureKinds& kinds) {
  return kinds[static_cast<std::size_t>(e.KindIndex - 1)];
}

// The checks every source kind makes first. Nothing when the entry may go on.
std::optional<Verdict> precheck(const LogEntry& e, const PictureKinds& kinds, ByteSpan bytes,
                                PictureFiles& files) {
  if (e.KindIndex == -1) return Verdict::UnknownKind;
  if (!files.exists(e)) return Verdict::NotFound;
  const std::int64_t pos = e.Position;
  const std::int64_t recorded = e.RecordedLength;
  if (pos < 0 || recorded < 0 || pos + recorded > static_cast<std::int64_t>(bytes.size()))
    return Verdict::OutOfRange;
  // The place must still look as export found it: the marker, and the recorded length.
  const PictureKind& kind = kindOf(e, kinds);
  const std::int64_t marker = pos - kind.FilePosFix;
  const auto& mark = kind.FileHandleMark;
  if (!fitsIn(bytes.size(), marker, mark.size()) ||
      std::memcmp(bytes.data() + marker, mark.data(), mark.size()) != 0)
    return Verdict::Mismatch;
  const auto stored = i32le(bytes, pos + kind.BinFileLenPos);
  if (!stored || *stored != recorded + kind.BinFileLenFix) return Verdict::Mismatch;
  return std::nullopt;
}

// The checks on the picture file's own bytes: a format the kind accepts, and the whole image.
std::optional<Verdict> checkPicture(const PictureKind& kind, ByteSpan picture, EntryResult& r) {
  const PictureFacts& facts = r.facts.emplace(readPictureFacts(picture));
  if (!acceptsFormat(kind, facts.format)) return Verdict::WrongFormat;
  if (!facts.complete) return Verdict::Incomplete;
  return std::nullopt;
}

// Rewrites the fields that enclose a rebuilt picture, each only where it held the old length
// plus its difference, and only in bytes copied from the source before the picture (from
// `from` on: never inside an earlier new picture).
void updateEnclosingFields(std::vector<unsigned char>& out, const PictureKind& kind,
                           std::int64_t newStart, std::int64_t from, std::int64_t oldLength,
                           std::int64_t newLength) {
  for (const LenField& f : kind.EnclosingLenFields) {
    const std::int64_t at = newStart + f.offset;
    if (at < from || at + 4 > newStart) continue;
    if (!f.guard.empty()) {
      const std::int64_t g = newStart + f.guardOffset;
      if (g < from || g + static_cast<std::int64_t>(f.guard.size()) > newStart ||
          std::memcmp(out.data() + g, f.guard.data(), f.guard.size()) != 0)
        continue;
    }
    const auto held = i32le(out, at);
    if (held && *held == oldLength + f.difference)
      (void)putI32le(out, at, static_cast<std::int32_t>(newLength + f.difference));
  }
}

}  // namespace

namespace {

// Puts picture into its place in an executable, the rest zero-filled and the picture's own copy
// of the length (FileLenPos inside the place) set to the stored value. False, with the place as
// it was, when the kind would then no longer find the picture at its marker.
bool patchInPlace(const LogEntry& e, const PictureKinds& kinds, bool delphiBlockTest, MutableByteSpan bytes,
                  ByteSpan picture) {
  const PictureKind& kind = kindOf(e, kinds);
  const std::int64_t marker = std::int64_t{e.Position} - kind.FilePosFix;
  auto findable = [&] {
    if (marker < 0 || marker > INT32_MAX) return false;
    const auto found = testPosition(bytes.data(), static_cast<std::int32_t>(bytes.size()), kinds, delphiBlockTest,
                                    static_cast<std::int32_t>(marker));
    return found && found->start == e.Position && found->length == e.RecordedLength &&
           static_cast<std::int32_t>(found->kind + 1) == e.KindIndex;
  };
  const bool wasFindable = findable();
  auto place = bytes.subspan(static_cast<std::size_t>(e.Position), static_cast<std::size_t>(e.RecordedLength));
  const std::vector<unsigned char> old(place.begin(), place.end());
  std::memcpy(place.data(), picture.data(), picture.size());
  std::memset(place.data() + picture.size(), 0, place.size() - picture.size());
  if (picture.size() < place.size() && kind.FileLenPos > 0 &&
      static_cast<std::int64_t>(kind.FileLenPos) + 4 <= static_cast<std::int64_t>(place.size()))
    (void)putI32le(place, kind.FileLenPos, e.RecordedLength + kind.BinFileLenFix);
  if (!wasFindable || findable()) return true;
  std::memcpy(place.data(), old.data(), old.size());
  return false;
}

}  // namespace

std::vector<EntryResult> patchExecutable(const std::vector<LogEntry>& entries, const PictureKinds& kinds,
                                         bool delphiBlockTest, MutableByteSpan bytes, PictureFiles& files) {
  std::vector<EntryResult> results;
  results.reserve(entries.size());
  std::vector<unsigned char> picture;
  // What this import has written: an entry is checked against the source as it was loaded, so
  // one whose marker, length or place lies in an earlier entry's place is refused.
  std::vector<std::pair<std::int64_t, std::int64_t>> written;
  auto overlapsWritten = [&](const LogEntry& e) {
    const PictureKind& kind = kindOf(e, kinds);
    const std::int64_t from = std::min<std::int64_t>({std::int64_t{e.Position} - kind.FilePosFix,
                                                      std::int64_t{e.Position} + kind.BinFileLenPos, e.Position});
    const std::int64_t to = std::max<std::int64_t>(std::int64_t{e.Position} + e.RecordedLength,
                                                   std::int64_t{e.Position} + kind.BinFileLenPos + 4);
    return std::any_of(written.begin(), written.end(), [&](const auto& w) { return from < w.second && w.first < to; });
  };
  for (const LogEntry& e : entries) {
    EntryResult r{Verdict::Imported, e.Position, e.RecordedLength, std::nullopt, false};
    if (auto v = precheck(e, kinds, bytes, files)) {
      r.verdict = *v;
    } else if (overlapsWritten(e)) {
      r.verdict = Verdict::OutOfRange;
    } else if (e.FileLength > e.RecordedLength) {
      r.verdict = Verdict::TooLarge;
    } else {
      picture.resize(static_cast<std::size_t>(e.FileLength));
      if (!files.read(e, picture)) {
        r.verdict = Verdict::Unreadable;
      } else if (auto bad = checkPicture(kindOf(e, kinds), picture, r)) {
        r.verdict = *bad;
      } else {
        const auto place = bytes.subspan(static_cast<std::size_t>(e.Position), static_cast<std::size_t>(e.RecordedLength));
        r.changed = picture.size() != place.size() || std::memcmp(place.data(), picture.data(), picture.size()) != 0;
        if (!patchInPlace(e, kinds, delphiBlockTest, bytes, picture)) {
          r.verdict = Verdict::WouldBeLost;
          r.changed = false;
        } else {
          written.emplace_back(e.Position, std::int64_t{e.Position} + e.RecordedLength);
        }
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
  std::int64_t readCursor = 0;
  std::int64_t writtenPictureEnd = 0;  // the end of the last new picture in out
  const bool dfm = sourceKind == SourceKindValue::DelphiDfm;

  for (const LogEntry& e : entries) {
    EntryResult r{Verdict::Imported, e.Position, e.RecordedLength, std::nullopt, false};
    auto refuse = [&](Verdict v) {
      r.verdict = v;
      plan.entries.push_back(r);
    };
    if (auto v = precheck(e, kinds, bytes, files)) {
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
    const std::int64_t newStart = static_cast<std::int64_t>(out.size()) + (e.Position - readCursor);
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
    const auto picture = std::span(out).subspan(static_cast<std::size_t>(newStart));
    if (!files.read(e, picture)) {
      out.resize(before);
      refuse(Verdict::Unreadable);
      continue;
    }
    if (auto v = checkPicture(kind, picture, r)) {
      out.resize(before);
      refuse(*v);
      continue;
    }
    const std::int64_t length = e.FileLength;
    (void)putI32le(out, newStart + kind.BinFileLenPos, static_cast<std::int32_t>(length + kind.BinFileLenFix));
    if (writeBlock)
      (void)putI32le(out, newStart + kind.DfmBlockLenPos, static_cast<std::int32_t>(length + kind.DfmBlockLenFix));
    updateEnclosingFields(out, kind, newStart, writtenPictureEnd, e.RecordedLength, length);
    r.newPosition = newStart;
    r.newLength = e.FileLength;
    r.changed = e.FileLength != e.RecordedLength ||
                std::memcmp(bytes.data() + e.Position, picture.data(), picture.size()) != 0;
    plan.entries.push_back(r);
    if (e.FileLength != e.RecordedLength)
      plan.changes.push_back({e.Position, e.RecordedLength, e.FileLength});
    readCursor = e.Position + e.RecordedLength;
    writtenPictureEnd = newEnd;
  }
  out.insert(out.end(), bytes.begin() + readCursor, bytes.end());
  if (dfm) fixDfmHeader(out, static_cast<std::int64_t>(bytes.size()));
  // Entries not put back keep their bytes, which moved with the pictures before them.
  for (EntryResult& r : plan.entries)
    if (r.verdict != Verdict::Imported) r.newPosition = mapOffset(plan.changes, r.newPosition).value_or(r.newPosition);
  return plan;
}

void fixDfmHeader(std::vector<unsigned char>& c, std::int64_t oldSize) {
  const auto field = dfmHeaderSizeField(c);
  if (!field) return;
  const std::uint32_t old = loadU32le(&c[*field]);
  const std::int64_t delta = static_cast<std::int64_t>(c.size()) - oldSize;
  storeU32le(&c[*field], old + static_cast<std::uint32_t>(delta));
}

ImportPlan makeImportPlan(const Session& session, MutableByteSpan sourceBytes, PictureFiles& files,
                          ImportOptions options) {
  if (isFormFile(session.SourceKind) && !isExecutableImage(sourceBytes))
    return rebuildFormFile(session.LogEntries, session.pictureKinds, session.SourceKind,
                           sourceBytes, files);
  ImportPlan plan;
  plan.patchedLength = sourceBytes.size();
  if (options.removeSignature && certificateTable(sourceBytes)) {
    plan.patchedLength = removeCertificateTable(sourceBytes);
    plan.signatureRemoved = true;
  }
  const MutableByteSpan kept = sourceBytes.first(plan.patchedLength);
  plan.entries = patchExecutable(session.LogEntries, session.pictureKinds, isDelphi(session.SourceKind), kept, files);
  (void)refreshChecksum(kept);
  return plan;
}

}  // namespace falcet
