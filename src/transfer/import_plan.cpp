#include "transfer/import_plan.hpp"

#include <algorithm>
#include <climits>
#include <cstring>

#include "formats/delphi_stream.hpp"
#include "formats/icon_group.hpp"
#include "formats/pe_image.hpp"
#include "formats/picture_facts.hpp"
#include "formats/picture_format.hpp"
#include "formats/resource_section.hpp"
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

namespace {

// An icon the source holds at an entry's place, kept before anything is patched.
struct OldIcon {
  std::size_t entry;
  std::vector<unsigned char> bytes;
};

std::vector<OldIcon> iconsAtEntries(const std::vector<LogEntry>& entries, ByteSpan source) {
  std::vector<OldIcon> out;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const LogEntry& e = entries[i];
    if (e.Position < 0 || e.RecordedLength <= 0 || !fitsIn(source.size(), e.Position, static_cast<std::size_t>(e.RecordedLength)))
      continue;
    const ByteSpan place = source.subspan(static_cast<std::size_t>(e.Position), static_cast<std::size_t>(e.RecordedLength));
    if (sniffPictureFormat(place) == PictureFormat::Ico) out.push_back({i, {place.begin(), place.end()}});
  }
  return out;
}

// The program icons a replaced form icon was a copy of: every group of the tree whose images
// equal the icon the source held, made to hold the new picture. Returns how many groups changed.
int followProgramIcons(ResourceTree& tree, const std::vector<LogEntry>& entries, const std::vector<EntryResult>& results,
                       const std::vector<OldIcon>& icons, PictureFiles& files) {
  int replaced = 0;
  for (const OldIcon& old : icons) {
    const LogEntry& e = entries[old.entry];
    if (results[old.entry].verdict != Verdict::Imported || !results[old.entry].changed) continue;
    const auto groups = groupsCopying(tree, old.bytes);
    if (groups.empty()) continue;
    std::vector<unsigned char> picture(static_cast<std::size_t>(std::max<std::int32_t>(e.FileLength, 0)));
    if (!files.read(e, picture)) continue;
    // Each group by its name: replacing one moves the tree's leaves.
    std::vector<std::tuple<ResourceName, ResourceName, std::uint32_t>> names;
    for (const ResourceLeaf* g : groups) names.emplace_back(g->type, g->name, g->language);
    for (const auto& [type, name, language] : names)
      if (ResourceLeaf* g = tree.find(type, name, language); g && replaceGroupIcon(tree, *g, picture)) ++replaced;
  }
  return replaced;
}

// The index of the form stream leaf (TPF0) whose data holds the entry's whole place, or -1.
int formLeafOf(const ResourceTree& tree, const LogEntry& e) {
  for (std::size_t i = 0; i < tree.leaves.size(); ++i) {
    const ResourceLeaf& l = tree.leaves[i];
    if (!l.oldOffset || l.data.size() < 4 || std::memcmp(l.data.data(), "TPF0", 4) != 0) continue;
    if (e.Position >= *l.oldOffset && std::int64_t{e.Position} + e.RecordedLength <= *l.oldOffset + std::int64_t{l.oldSize})
      return static_cast<int>(i);
  }
  return -1;
}

// A Delphi-family program rebuilt through its resource section: each form stream that holds an
// entry is rebuilt as a form file is (its pictures may grow or shrink), the program's icon
// follows a replaced form icon, and the section is laid out anew. Entries outside every form
// stream are patched in place first. Nothing when the section cannot be rebuilt (why says why).
std::optional<ImportPlan> rebuildProgram(const std::vector<LogEntry>& entries, const PictureKinds& kinds,
                                         MutableByteSpan bytes, PictureFiles& files, ResourceLayoutError& why) {
  const std::vector<unsigned char> original(bytes.begin(), bytes.end());
  const std::vector<OldIcon> icons = iconsAtEntries(entries, original);
  const auto image = readPeImage(ByteSpan(bytes));
  if (!image) return std::nullopt;
  auto tree = readResourceTree(bytes, *image, &why);
  if (!tree) return std::nullopt;

  ImportPlan plan;
  plan.rebuilt = true;
  plan.entries.resize(entries.size());
  std::vector<int> leafOf(entries.size());
  std::vector<std::vector<std::size_t>> byLeaf(tree->leaves.size());
  std::vector<LogEntry> outside;
  std::vector<std::size_t> outsideIndex;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    leafOf[i] = formLeafOf(*tree, entries[i]);
    if (leafOf[i] >= 0) {
      byLeaf[static_cast<std::size_t>(leafOf[i])].push_back(i);
    } else {
      outside.push_back(entries[i]);
      outsideIndex.push_back(i);
    }
  }
  // In place where no form stream holds them (the tree is read again to see those bytes).
  if (!outside.empty()) {
    const auto results = patchExecutable(outside, kinds, true, bytes, files);
    for (std::size_t k = 0; k < results.size(); ++k) plan.entries[outsideIndex[k]] = results[k];
    tree = readResourceTree(bytes, *image, &why);
    if (!tree) {
      std::copy(original.begin(), original.end(), bytes.begin());
      return std::nullopt;
    }
  }
  bool formsChanged = false;
  for (std::size_t leaf = 0; leaf < byLeaf.size(); ++leaf) {
    if (byLeaf[leaf].empty()) continue;
    ResourceLeaf& l = tree->leaves[leaf];
    std::vector<LogEntry> local;
    for (std::size_t i : byLeaf[leaf]) {
      LogEntry e = entries[i];
      e.Position = static_cast<std::int32_t>(e.Position - *l.oldOffset);
      local.push_back(std::move(e));
    }
    ImportPlan form = rebuildFormFile(local, kinds, SourceKindValue::DelphiDfm, l.data, files);
    for (std::size_t k = 0; k < byLeaf[leaf].size(); ++k) plan.entries[byLeaf[leaf][k]] = form.entries[k];
    if (form.content != l.data) {
      l.data = std::move(form.content);
      formsChanged = true;
    }
  }
  plan.programIcons = followProgramIcons(*tree, entries, plan.entries, icons, files);
  // Nothing to lay out: the program keeps its layout (and whatever was patched in place).
  if (!formsChanged && plan.programIcons == 0) {
    plan.rebuilt = false;
    plan.patchedLength = bytes.size();
    for (std::size_t i = 0; i < entries.size(); ++i)
      if (leafOf[i] >= 0) plan.entries[i].newPosition += *tree->leaves[static_cast<std::size_t>(leafOf[i])].oldOffset;
    (void)refreshChecksum(bytes);
    return plan;
  }

  const ResourceLayout layout = replaceResourceSection(ByteSpan(bytes), *image, *tree);
  if (!layout.image) {
    why = layout.error;
    std::copy(original.begin(), original.end(), bytes.begin());
    return std::nullopt;
  }
  const RelaidImage& relaid = *layout.image;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    EntryResult& r = plan.entries[i];
    if (leafOf[i] >= 0) {
      r.newPosition += relaid.leafOffsets[static_cast<std::size_t>(leafOf[i])];
    } else if (const auto moved = relaidOffset(relaid, *tree, entries[i].Position)) {
      r.newPosition = *moved;
    }
  }
  plan.content = relaid.bytes;
  (void)refreshChecksum(plan.content);
  return plan;
}

// A VB program, patched in place: where a replaced form icon is the program's own icon, that
// follows, through the resource section (the form data does not move). layoutError says why it
// could not.
void followVbProgramIcon(ImportPlan& plan, const std::vector<LogEntry>& entries, const std::vector<OldIcon>& icons,
                         MutableByteSpan bytes, PictureFiles& files) {
  if (icons.empty()) return;
  const auto image = readPeImage(ByteSpan(bytes));
  if (!image) return;
  auto tree = readResourceTree(bytes, *image);
  if (!tree) return;
  const int replaced = followProgramIcons(*tree, entries, plan.entries, icons, files);
  if (replaced == 0) return;
  const ResourceLayout layout = replaceResourceSection(ByteSpan(bytes), *image, *tree);
  if (!layout.image) {
    plan.layoutError = layout.error;
    plan.programIconRefused = true;
    return;
  }
  plan.rebuilt = true;
  plan.programIcons = replaced;
  plan.content = layout.image->bytes;
  (void)refreshChecksum(plan.content);
}

}  // namespace

ImportPlan rebuildTextForm(const std::vector<LogEntry>& entries, const PictureKinds& kinds, ByteSpan text,
                           const TextForm* form, PictureFiles& files) {
  ImportPlan plan;
  if (form) plan = rebuildFormFile(entries, kinds, SourceKindValue::DelphiDfm, form->view, files);
  const auto values = form ? valuesOfView(*form, plan.content) : std::nullopt;
  if (!values) {
    // The rebuilt view no longer holds the form's values (a log whose lengths are not the
    // values' own): nothing goes in.
    plan.entries.clear();
    for (const LogEntry& e : entries) plan.entries.push_back({Verdict::Mismatch, e.Position, e.RecordedLength, std::nullopt, false});
    plan.changes.clear();
    plan.content.assign(text.begin(), text.end());
    plan.rebuilt = true;
    return plan;
  }
  plan.content = rewriteTextForm(text, *form, *values);
  return plan;
}

ImportPlan makeImportPlan(const Session& session, MutableByteSpan sourceBytes, PictureFiles& files,
                          ImportOptions options) {
  if (session.SourceKind == SourceKindValue::DelphiDfm && looksLikeTextForm(sourceBytes)) {
    if (options.textForm) return rebuildTextForm(session.LogEntries, session.pictureKinds, sourceBytes, options.textForm, files);
    const auto form = readTextForm(sourceBytes);
    return rebuildTextForm(session.LogEntries, session.pictureKinds, sourceBytes, form ? &*form : nullptr, files);
  }
  if (isFormFile(session.SourceKind) && !isExecutableImage(sourceBytes))
    return rebuildFormFile(session.LogEntries, session.pictureKinds, session.SourceKind,
                           sourceBytes, files);
  std::size_t keptLength = sourceBytes.size();
  bool signatureRemoved = false;
  if (options.removeSignature && certificateTable(sourceBytes)) {
    keptLength = removeCertificateTable(sourceBytes);
    signatureRemoved = true;
  }
  const MutableByteSpan kept = sourceBytes.first(keptLength);
  const std::vector<LogEntry>& entries = session.LogEntries;
  const bool delphi = isDelphi(session.SourceKind);
  ResourceLayoutError why = ResourceLayoutError::None;
  // Delphi-family programs are rebuilt where a picture changes size; the rest is patched in place.
  const bool resized = std::any_of(entries.begin(), entries.end(), [](const LogEntry& e) {
    return e.KindIndex != -1 && e.FileLength != e.RecordedLength;
  });
  if (delphi && resized) {
    if (auto plan = rebuildProgram(entries, session.pictureKinds, kept, files, why)) {
      plan->signatureRemoved = signatureRemoved;
      return std::move(*plan);
    }
  }
  ImportPlan plan;
  plan.patchedLength = keptLength;
  plan.signatureRemoved = signatureRemoved;
  plan.layoutError = why;
  const std::vector<OldIcon> icons = delphi ? std::vector<OldIcon>() : iconsAtEntries(entries, kept);
  plan.entries = patchExecutable(entries, session.pictureKinds, delphi, kept, files);
  if (!delphi) followVbProgramIcon(plan, entries, icons, kept, files);
  if (!plan.rebuilt) (void)refreshChecksum(kept);
  return plan;
}

}  // namespace falcet
