#include "transfer/import.hpp"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <optional>
#include <vector>

#include "platform/codepage.hpp"
#include "platform/file_io.hpp"
#include "texts/texts.hpp"
#include "transfer/companion.hpp"
#include "transfer/owners.hpp"
#include "transfer/import_plan.hpp"
#include "transfer/log_line.hpp"
#include "transfer/log_reader.hpp"

namespace falcet {
namespace {

// The picture files as the log names them, probed with FileExists (which reports an unexpected
// error itself).
class DiskPictureFiles : public PictureFiles {
 public:
  DiskPictureFiles(MessageSink& sink, ProgressMeter& meter) : m_sink(sink), m_meter(meter) {}
  bool exists(const LogEntry& e) override {
    m_meter.at(++m_checked);
    return FileExists(e.PicturePath, m_sink);
  }
  bool read(const LogEntry& e, std::span<unsigned char> out) override {
    FileDescriptor fd = openRegularForRead(nativePath(e.PicturePath));
    return fd.valid() && readAll(fd, out.data(), out.size()) ==
                             static_cast<std::int64_t>(out.size());
  }

 private:
  MessageSink& m_sink;
  ProgressMeter& m_meter;
  std::int64_t m_checked = 0;  // entries looked at, for the progress
};

std::string_view verdictText(Verdict v) {
  switch (v) {
    case Verdict::Imported: return texts::kVerdictImported;
    case Verdict::TooLarge: return texts::kVerdictTooLarge;
    case Verdict::NotFound: return texts::kVerdictNotFound;
    case Verdict::UnknownKind: return texts::kVerdictUnknownKind;
    case Verdict::OutOfRange: return texts::kVerdictOutOfRange;
    case Verdict::Unreadable: return texts::kVerdictUnreadable;
    case Verdict::Mismatch: return texts::kVerdictMismatch;
    case Verdict::WrongFormat: return texts::kVerdictWrongFormat;
    case Verdict::Incomplete: return texts::kVerdictIncomplete;
    case Verdict::WouldBeLost: return texts::kVerdictWouldBeLost;
  }
  return {};
}

std::string_view layoutErrorText(ResourceLayoutError e) {
  switch (e) {
    case ResourceLayoutError::None: break;
    case ResourceLayoutError::Unreadable: return texts::kLayoutUnreadable;
    case ResourceLayoutError::DataElsewhere: return texts::kLayoutDataElsewhere;
    case ResourceLayoutError::PointedInto: return texts::kLayoutPointedInto;
    case ResourceLayoutError::NoRoom: return texts::kLayoutNoRoom;
  }
  return {};
}

// The companion text file of a rebuilt VB blob file, with its references moved.
struct CompanionUpdate {
  bool needed = false;  // some picture changed size in a VB blob file
  std::optional<std::filesystem::path> path;
  std::string expected;  // the name it would have, for the report when it is missing
  std::string text;
  std::string original;  // its text before, put back should the source fail to be written
  bool changed = false;
  bool noReferences = false;  // found, but no reference in it names the blob file
};

CompanionUpdate prepareCompanion(const std::string& sourceName, const ImportPlan& plan) {
  CompanionUpdate c;
  const std::string ext = companionExtension(sourceName);
  if (!plan.rebuilt || plan.changes.empty() || ext.empty()) return c;
  c.needed = true;
  const std::filesystem::path source = nativePath(sourceName);
  c.expected = utf8Path(std::filesystem::path(source).replace_extension(ext));
  c.path = findSiblingWithExtension(source, ext);
  if (!c.path) return c;
  auto bytes = readWholeFile(*c.path);
  if (!bytes) {
    c.path.reset();
    return c;
  }
  CompanionRewrite r = rewriteCompanion(*bytes, utf8Path(source.filename()), plan.changes);
  c.original = std::move(*bytes);
  c.changed = r.moved > 0;
  c.noReferences = r.references == 0;
  c.text = std::move(r.text);
  return c;
}

// The log as it must read after a rebuild: every picture where it now lies.
std::string rebuiltLog(const std::vector<LogEntry>& entries, const ImportPlan& plan) {
  std::string log;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const LogEntry& e = entries[i];
    const EntryResult& r = plan.entries[i];
    log += formatLogLine({static_cast<std::int32_t>(r.newPosition), r.newLength, e.KindName, e.PictureFile}) +
           "\r\n";
  }
  return encodeLogText(log);
}

// The companion goes in before the source: should it fail, nothing is written, and the same log
// imports again once it can be written. False after telling the user.
bool writeCompanion(const CompanionUpdate& companion, MessageSink& sink) {
  if (!companion.changed ||
      replaceFileContent(*companion.path, companion.text.data(), companion.text.size(), {}))
    return true;
  sink.show(std::string(texts::kCompanionWriteError) + "\r\n" + utf8Path(*companion.path) + "\r\n" +
                texts::describeSystemError(errno) + "\r\n" + std::string(texts::kNothingImported),
            kAppTitle, MessageKind::Error);
  return false;
}

// After the source was written: the companion's line in the report, then the log. False when
// the log could not be rewritten.
bool writeFollowers(const std::string& logName, const Session& session, const ImportPlan& plan,
                    const CompanionUpdate& companion, std::string& report, MessageSink& sink) {
  bool ok = true;
  if (companion.needed && !companion.path) {
    report += std::string(texts::kCompanionMissing) + "\r\n  " + companion.expected + "\r\n";
  } else if (companion.noReferences) {
    report += std::string(texts::kCompanionNoReferences) + "\r\n  " + utf8Path(*companion.path) + "\r\n";
  } else if (companion.changed) {
    report += std::string(texts::kCompanionUpdated) + "\r\n  " + utf8Path(*companion.path) + "\r\n";
  }
  // The log follows every picture that moved or changed length.
  bool moved = false;
  for (std::size_t i = 0; i < plan.entries.size() && !moved; ++i)
    moved = plan.entries[i].newPosition != session.LogEntries[i].Position ||
            plan.entries[i].newLength != session.LogEntries[i].RecordedLength;
  if (!plan.rebuilt || !moved) return ok;
  const std::string log = rebuiltLog(session.LogEntries, plan);
  if (!replaceFileContent(nativePath(logName), log.data(), log.size(), {false, false})) {
    sink.show(std::string(texts::kLogRewriteError) + "\r\n" + logName + "\r\n" +
                  texts::describeSystemError(errno),
              kAppTitle, MessageKind::Error);
    ok = false;
  }
  return ok;
}

}  // namespace

bool FileExists(const std::string& name, MessageSink& sink) {
  if (fileStatus(nativePath(name))) return true;
  const int err = errno;
  if (err == ENOENT || err == ENOTDIR) return false;
  sink.show(texts::errorNumberMessage(err), texts::kErrorTitle, MessageKind::Error);
  return true;
}

ImportOutcome ImportPictures(Session& session, std::string logName, ResultSink& sink, SignedPrograms signedPrograms) {
  if (!ReadLog(session, logName, sink)) return ImportOutcome::Failed;
  // The log name minus ".pic.log" (8 characters, all ASCII).
  std::string sourceName = logName.substr(0, logName.size() - 8);
  if (!LoadSource(sourceName, session.source)) {
    sink.show(texts::kReadFileError, kAppTitle, MessageKind::Error);
    return ImportOutcome::Failed;
  }
  Source& src = session.source;
  const MutableByteSpan bytes(src.SourceBytes.data(), static_cast<std::size_t>(src.SourceSize));
  // A form saved as text is read once, for the plan and for the owners.
  std::optional<TextForm> textForm;
  if (session.SourceKind == SourceKindValue::DelphiDfm && looksLikeTextForm(bytes)) {
    std::size_t badLine = 0;
    textForm = readTextForm(bytes, &badLine);
    if (!textForm) {
      sink.show(texts::textFormUnreadable(badLine), kAppTitle, MessageKind::Error);
      return ImportOutcome::Failed;
    }
  }
  ImportOptions options;
  options.textForm = textForm ? &*textForm : nullptr;
  if (certificateTable(bytes)) {
    options.removeSignature =
        signedPrograms == SignedPrograms::RemoveSignature ||
        (signedPrograms == SignedPrograms::Ask &&
         sink.show(texts::kSignedProgramQuestion, kAppTitle, MessageKind::Question) == kButtonYes);
    if (!options.removeSignature) {
      sink.show(texts::kSignedProgramRefused, kAppTitle, MessageKind::Error);
      return ImportOutcome::Failed;
    }
  }
  std::optional<ProgressMeter> meter(std::in_place, sink, static_cast<std::int64_t>(session.LogEntries.size()));
  DiskPictureFiles files(sink, *meter);
  const ImportPlan plan = makeImportPlan(session, bytes, files, options);
  meter.reset();
  if (plan.rebuilt && plan.content.size() > static_cast<std::size_t>(INT32_MAX)) {
    sink.show(texts::kRebuiltTooLarge, kAppTitle, MessageKind::Error);
    return ImportOutcome::Failed;
  }

  std::string report;
  bool allImported = true;
  std::vector<ResultRow> rows;
  const bool listed = sink.listsPictures();
  const Owners owners = !listed ? Owners() : textForm ? Owners(textFormOwners(*textForm)) : readOwners(ByteSpan(bytes), sourceName);
  for (std::size_t i = 0; i < plan.entries.size(); ++i) {
    const EntryResult& r = plan.entries[i];
    const LogEntry& e = session.LogEntries[i];
    // A picture that went in as the source already held it says so.
    const std::string_view verdict =
        r.verdict == Verdict::Imported && !r.changed ? texts::kVerdictUnchanged : verdictText(r.verdict);
    report += e.PictureFile;
    report += verdict;
    report += "\r\n";
    if (r.verdict != Verdict::Imported) allImported = false;
    if (!listed) continue;
    ResultRow row;
    row.number = static_cast<std::int32_t>(i + 1);
    row.file = e.PictureFile;
    row.path = e.PicturePath;
    if (r.facts) {
      row.format = r.facts->format;
      row.width = r.facts->width;
      row.height = r.facts->height;
    }
    row.bytes = e.FileLength;
    row.owner = owners.of(e.Position, e.RecordedLength);
    row.verdict = std::string(trimBlanks(verdict));
    row.imported = r.verdict == Verdict::Imported;
    row.changed = r.changed;
    rows.push_back(std::move(row));
  }
  const CompanionUpdate companion = prepareCompanion(sourceName, plan);

  if (plan.signatureRemoved) report += std::string(texts::kSignatureRemoved) + "\r\n";
  if (plan.programIcons > 0) report += std::string(texts::kProgramIconReplaced) + "\r\n";
  if (plan.layoutError != ResourceLayoutError::None) {
    const bool tooLarge = std::any_of(plan.entries.begin(), plan.entries.end(),
                                      [](const EntryResult& r) { return r.verdict == Verdict::TooLarge; });
    if (plan.programIconRefused || tooLarge) {
      report += std::string(plan.programIconRefused ? texts::kProgramIconRefused : texts::kProgramNotRebuilt) + "\r\n  " +
                std::string(layoutErrorText(plan.layoutError)) + "\r\n";
      if (plan.programIconRefused) allImported = false;
    }
  }
  const ByteSpan content = plan.rebuilt ? ByteSpan(plan.content) : ByteSpan(bytes).first(plan.patchedLength);
  if (!writeCompanion(companion, sink)) return ImportOutcome::Failed;
  std::filesystem::path keptInstead;
  if (!replaceFileContent(nativePath(sourceName), content.data(), content.size(), {true, true, &keptInstead})) {
    // The companion gets its old text back: it must not point into a source that was not written.
    if (companion.changed)
      (void)replaceFileContent(*companion.path, companion.original.data(), companion.original.size(), {false, false});
    sink.show(texts::kWriteFileError, kAppTitle, MessageKind::Error);
    return ImportOutcome::Failed;
  }
  if (!keptInstead.empty()) {
    report += std::string(texts::kBackupNotReplaced) + "\r\n  " + utf8Path(keptInstead) + "\r\n";
    allImported = false;
  }
  if (!writeFollowers(logName, session, plan, companion, report, sink)) allImported = false;
  sink.showResult({ResultReport::Operation::Import, report + std::string(texts::kImportDone), std::move(rows)});
  return allImported ? ImportOutcome::Done : ImportOutcome::Partial;
}

}  // namespace falcet
