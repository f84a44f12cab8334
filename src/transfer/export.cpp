#include "transfer/export.hpp"

#include <cerrno>
#include <algorithm>
#include <atomic>
#include <deque>
#include <memory>
#include <cstdio>
#include <vector>

#include "formats/delphi_text_form.hpp"
#include "formats/picture_facts.hpp"
#include "platform/codepage.hpp"
#include "platform/file_io.hpp"
#include "platform/threads.hpp"
#include "texts/texts.hpp"
#include "transfer/log_line.hpp"
#include "transfer/owners.hpp"
#include "transfer/piece_scan.hpp"
#include "transfer/picture_walk.hpp"

namespace falcet {

std::string pictureFileName(const std::string& sourcePath, std::int32_t number,
                            const std::string& ext) {
  char digits[16];
  std::snprintf(digits, sizeof digits, "%03d", number);
  return sourcePath + "." + digits + "." + ext;
}

namespace {

// Sources from this size on are read in pieces for export.
constexpr std::int64_t kPieceThreshold = 4 << 20;
constexpr std::size_t kPieceSize = 256 << 10;

// One export under way: the picture counter, the log lines and the report.
class ExportRun {
 public:
  // rows: whether each written picture's row (facts, owner) is gathered for the result.
  ExportRun(Session& session, std::string sourcePath, std::optional<FileIdentity> source, bool rows,
            bool keepEdited)
      : m_session(session), m_walk(session.pictureKinds, session.source.SourceSize), m_sourcePath(std::move(sourcePath)),
        m_source(source), m_rowsWanted(rows), m_keepEdited(keepEdited) {}

  // A picture file left as the user edited it, to be overwritten or kept at the end.
  struct Edited {
    std::string file;
    std::int32_t start = 0, length = 0;
  };

  // One match of the scan; returns what the scan skips beyond one byte. fetch(start, length)
  // gives the picture's bytes, which lie inside the source, or nullptr when they cannot be read.
  template <typename Fetch>
  std::int32_t ExportAt(const ScanMatch& m, Fetch&& fetch) {
    return StepWith(m, fetch, [&](const ScanMatch& match, std::int32_t number, const unsigned char* picture) {
      return Write(match, number, picture);
    });
  }

  // The same with take(match, number, picture) deciding whether the picture is taken.
  template <typename Fetch, typename Take>
  std::int32_t StepWith(const ScanMatch& m, Fetch&& fetch, Take&& take) {
    const std::int32_t skip = m_walk.step(
        m, [&](const ScanMatch& match) { return fetch(match.start, match.length); }, take);
    m_session.PictureCounter = m_walk.number();
    return skip;
  }

  // The walk goes on after match number `number` as if that match had not been taken.
  void ResumeAfter(std::int32_t number) { m_walk.resumeAfter(number); }

  // The picture file of one match: its name as shown, as the system takes it, and as the log
  // names it.
  struct Target {
    std::string file;
    std::filesystem::path native;
    std::string logName;
  };
  std::string FileOf(const ScanMatch& m, std::int32_t number, const unsigned char* picture) const {
    const PictureKind& kind = m_session.pictureKinds[m.kind];
    const std::string ext =
        kind.FileExt == "*" ? sniffPictureExtension(picture, static_cast<std::size_t>(m.length)) : kind.FileExt;
    return pictureFileName(m_sourcePath, number, ext);
  }
  static Target TargetOf(std::string file) {
    Target t{std::move(file), {}, {}};
    t.native = nativePath(t.file);
    t.logName = utf8Path(t.native.filename());
    return t;
  }

  // Writes the picture of one match (nullptr: it could not be read); false when nothing was
  // exported.
  bool Write(const ScanMatch& m, std::int32_t number, const unsigned char* picture) {
    if (!picture) return false;
    return Write(m, number, picture, TargetOf(FileOf(m, number, picture)), false);
  }

  // The same where the file is known to hold the picture already (held) or not known to.
  bool Write(const ScanMatch& m, std::int32_t number, const unsigned char* picture, const Target& target, bool held) {
    m_session.PictureCounter = number;
    const PictureKind& kind = m_session.pictureKinds[m.kind];
    const std::string& file = target.file;
    const auto& native = target.native;
    const auto length = static_cast<std::size_t>(m.length);
    const std::string_view bytes(reinterpret_cast<const char*>(picture), length);
    // A file that already holds the picture is left alone; one that holds other bytes (edited
    // since the last export) is kept, to be overwritten or not at the end.
    const WriteResult written =
        held ? WriteResult::Unchanged
             : writeWholeFileUnlessSame(native, bytes, m_source ? &*m_source : nullptr, m_keepEdited);
    if (written == WriteResult::Written || written == WriteResult::Failed) ++m_filesWritten;
    if (written == WriteResult::Kept) m_edited.push_back({file, m.start, m.length});
    if (written != WriteResult::Written && written != WriteResult::Unchanged && written != WriteResult::Kept) {
      // Nothing half-written stays (a refused name, such as a link, was not touched); the
      // position yields nothing, and the user is told at the end.
      const int err = errno;
      if (written == WriteResult::Failed) (void)removeFile(native);
      if (m_unwritten.empty()) m_firstError = err;
      m_unwritten.push_back(file);
      return false;
    }
    // The log names the picture by its file name alone: the pictures lie beside the log, which
    // finds them from its own folder wherever the folder is moved or copied.
    m_log += formatLogLine({m.start, m.length, kind.Name, target.logName}) + "\r\n";
    m_fileLines += "\r\n  ";
    m_fileLines += file;
    if (!m_rowsWanted) return true;
    const PictureFacts facts = readPictureFacts(ByteSpan(picture, length));
    ResultRow row;
    row.number = number;
    row.file = file;
    row.path = file;
    row.format = facts.format;
    row.width = facts.width;
    row.height = facts.height;
    row.bytes = m.length;
    m_rows.push_back(std::move(row));
    m_positions.push_back(m.start);
    return true;
  }

  // The report's lines before the pictures' files (and after them, when there are none).
  ListValue& report() { return m_report; }
  // The whole report: its lines, then a line for each picture's file.
  std::string reportText() const { return Join("\r\n", {m_report}).text() + m_fileLines; }
  const std::string& logText() const { return m_log; }  // UTF-8
  const std::vector<std::string>& unwritten() const { return m_unwritten; }
  const std::vector<Edited>& edited() const { return m_edited; }
  int firstError() const { return m_firstError; }
  // Picture files written (or partly written) so far.
  std::uint64_t filesWritten() const { return m_filesWritten; }
  const std::vector<ResultRow>& rows() const { return m_rows; }

  // Names each exported picture's owner (ownersOf(): who owns what, where the source says it).
  template <typename ReadOwners>
  void nameOwners(ReadOwners&& ownersOf) {
    if (m_rows.empty()) return;
    const Owners owners = ownersOf();
    for (std::size_t i = 0; i < m_rows.size(); ++i) m_rows[i].owner = owners.of(m_positions[i], m_rows[i].bytes);
  }

 private:
  Session& m_session;
  PictureWalk m_walk;
  std::string m_sourcePath;
  std::optional<FileIdentity> m_source;  // picture files must not be the source itself
  bool m_rowsWanted;
  bool m_keepEdited;
  std::vector<Edited> m_edited;
  std::string m_log;
  ListValue m_report;
  std::string m_fileLines;  // each behind a line break (a list of thousands costs much more)
  std::vector<std::string> m_unwritten;
  int m_firstError = 0;
  std::uint64_t m_filesWritten = 0;
  std::vector<ResultRow> m_rows;
  std::vector<std::int32_t> m_positions;  // of each row's picture in the source
};

// A picture the walk of a large source took on trust, before its file was written: the check
// whether the file already holds it runs meanwhile on a helper thread (on a re-export that is
// the whole of the work for most pictures), and the picture is written, or found in place, in
// walk order later.
struct PlannedPicture final : SideJob {
  ScanMatch match;
  std::int32_t number = 0;
  std::int64_t piece = 0;                // the piece read when it was walked
  const unsigned char* bytes = nullptr;  // in that piece's window; nullptr: read again
  std::string file;
  ExportRun::Target target;  // once checked (or at the write)
  std::uint64_t writtenBefore = 0;  // picture files written when it was walked
  std::atomic<bool> checked{false};
  bool held = false;     // the file holds the picture
  bool pending = false;  // its check was handed on and not yet taken back or looked at
  bool taken = false;    // its check was begun (by a helper, or by the walk itself)

  void run() override {
    SideJob* self = this;
    runAll(std::span<SideJob* const>(&self, 1));
  }

  // Checks several pictures' files together (see filesHoldExactly).
  static void runAll(std::span<SideJob* const> jobs) {
    std::vector<HeldCheck> checks;
    try {
      checks.reserve(jobs.size());
      for (SideJob* job : jobs) {
        auto& p = static_cast<PlannedPicture&>(*job);
        p.target = ExportRun::TargetOf(p.file);
        checks.push_back({&p.target.native, std::string_view(reinterpret_cast<const char*>(p.bytes),
                                                             static_cast<std::size_t>(p.match.length))});
      }
      filesHoldExactly(checks);
    } catch (...) {
      checks.clear();
    }
    for (std::size_t k = 0; k < jobs.size(); ++k) {
      auto& p = static_cast<PlannedPicture&>(*jobs[k]);
      if (k >= checks.size()) p.target = {};  // not checked: found again at the write
      p.held = k < checks.size() && checks[k].held;
      p.checked.store(true, std::memory_order_release);
    }
  }
};

// The walk goes this many pieces ahead of the pictures it writes, which gives the checks time.
constexpr std::int64_t kWriteLag = 2;

// A picture whose check is under way when its turn to be written comes waits while the walk goes
// on, by up to this many pieces.
constexpr std::int64_t kCheckWait = 2;

// Checks the walk makes together at most.
constexpr std::size_t kChecksHere = 32;

// Pauses the walk spins for a check under way before it gives the processor up between looks.
constexpr int kCheckSpins = 4000;

// The export of a large source read in pieces (see piece_scan.hpp), with the same result as the
// export of the whole file in memory. Each piece holds its candidate positions and every byte the
// kinds may read for them; a picture that reaches outside its piece is read on its own.
//
// The walk takes each picture on trust and hands the check of its file to a helper; pictures are
// then written in walk order, kWriteLag pieces behind. A check is only believed when no picture
// file was written since the picture was walked (a file may be a link to another) and the picture
// is not the size of the source (the file could be the source itself). Where a picture cannot be
// written, the walk takes it back, as the plain walk would not have taken it: everything walked
// after it is dropped (nothing of that was written) and walked again from one byte after its
// marker, with each picture written as it is found from then on.
class PieceExport {
 public:
  PieceExport(const FileDescriptor& fd, std::int32_t size, const PictureKinds& kinds, bool delphi,
              const MarkerFilter& filter, const ExportReading& reading, ExportRun& run)
      : m_fd(fd), m_size(size), m_run(run), m_reader(fd, size, kinds, delphi, filter, optionsFor(reading)) {}

  ~PieceExport() { dropAll(); }

  // False when the file could not be read through (it then changed or failed under us).
  bool run(ProgressMeter& meter) {
    for (std::int64_t i = 0; i < m_reader.count() && m_readOk; ++i) {
      walk(i);
      if (m_readOk) writeThrough(i - kWriteLag, i);
      meter.at(m_resume);
    }
    if (m_readOk) writeThrough(m_reader.count() - 1, m_reader.count() - 1);
    return m_readOk;
  }

 private:
  static PieceScanOptions optionsFor(const ExportReading& reading) {
    PieceScanOptions options;
    options.pieceSize = reading.pieceSize ? reading.pieceSize : kPieceSize;
    options.helpers = reading.helpers;
    options.matchLimit = reading.matchLimit;
    options.held = static_cast<std::size_t>(kWriteLag + kCheckWait) + 1;
    options.runJobs = &PlannedPicture::runAll;
    return options;
  }

  // Walks piece i from where the walk stands.
  void walk(std::int64_t i) {
    const ReadPiece* piece = m_reader.await(i);
    if (!piece) {
      m_readOk = false;
      return;
    }
    auto fetch = [&](std::int32_t start, std::int32_t length) -> const unsigned char* {
      if (start >= piece->windowStart && static_cast<std::int64_t>(start) + length <= piece->windowEnd)
        return piece->window + (start - piece->windowStart);
      return readPicture(start, length);
    };
    std::vector<SideJob*> checks;
    m_resume = m_reader.walk(*piece, m_resume, [&](const ScanMatch& m) {
      if (!m_readOk) return std::int32_t{0};
      if (!m_onTrust) return m_run.ExportAt(m, fetch);
      return m_run.StepWith(m, fetch, [&](const ScanMatch& match, std::int32_t number, const unsigned char* picture) {
        auto p = std::make_unique<PlannedPicture>();
        p->match = match;
        p->number = number;
        p->piece = i;
        p->file = m_run.FileOf(match, number, picture);
        p->writtenBefore = m_run.filesWritten();
        if (picture != m_picture.data()) {  // in the window: checked meanwhile
          p->bytes = picture;
          p->pending = true;
          checks.push_back(p.get());
        }
        m_planned.push_back(std::move(p));
        return true;
      });
    });
    m_reader.post(checks);
  }

  // Writes the pictures walked in pieces up to last, then lets those pieces go; current is the
  // last piece walked.
  void writeThrough(std::int64_t last, std::int64_t current) {
    if (last < 0) return;
    while (m_readOk && !m_planned.empty() && m_planned.front()->piece <= last) {
      PlannedPicture& p = *m_planned.front();
      if (p.pending) checkHere(last);
      const Check check = settle(p, p.piece + kCheckWait <= last || last == current);
      if (check == Check::UnderWay) break;  // the walk goes on meanwhile
      const bool checked = check == Check::Made;
      const unsigned char* picture = p.bytes ? p.bytes : readPicture(p.match.start, p.match.length);
      if (!picture) break;
      const bool held = checked && p.held && p.writtenBefore == m_run.filesWritten() && p.match.length != m_size;
      if (!checked || p.target.file.empty()) p.target = ExportRun::TargetOf(p.file);
      if (!m_run.Write(p.match, p.number, picture, p.target, held)) {
        takeBack(current);
        continue;
      }
      m_planned.pop_front();
    }
    m_reader.releaseThrough(std::min(last, m_planned.empty() ? last : m_planned.front()->piece - 1));
  }

  // The picture in front could not be written: everything walked after it is dropped, and the
  // walk goes on from one byte after its marker, up to piece current again, writing as it goes.
  void takeBack(std::int64_t current) {
    const PlannedPicture& failed = *m_planned.front();
    const std::int64_t from = failed.piece;
    m_run.ResumeAfter(failed.number);
    m_resume = static_cast<std::int64_t>(failed.match.markerPos) + 1;
    dropAll();
    m_onTrust = false;
    for (std::int64_t k = from; k <= current && m_readOk; ++k) walk(k);
  }

  // Drops every planned picture, waiting for checks under way.
  void dropAll() {
    for (const auto& p : m_planned) (void)settle(*p, true);
    m_planned.clear();
  }

  // Makes here, together, the checks of the pictures up to piece last that no helper has begun
  // (each would otherwise be made on its own at its write).
  void checkHere(std::int64_t last) {
    std::vector<SideJob*> here;
    for (const auto& q : m_planned) {
      if (q->piece > last || here.size() == kChecksHere) break;
      if (!q->pending) continue;
      q->pending = false;
      q->taken = true;
      if (m_reader.withdraw(q.get())) here.push_back(q.get());
    }
    PlannedPicture::runAll(here);
  }

  enum class Check { Made, NotMade, UnderWay };

  // Ends a picture's check: takes it back if no helper has begun it, else waits for it (or, unless
  // wait, tells that it is still under way).
  Check settle(PlannedPicture& p, bool wait) {
    if (p.pending) {
      p.pending = false;
      if (m_reader.withdraw(&p)) return Check::NotMade;
      p.taken = true;
    }
    if (!p.taken) return Check::NotMade;
    // A check takes some microseconds: the processor is given up only when it takes much longer.
    for (int k = 0; !p.checked.load(std::memory_order_acquire); ++k) {
      if (!wait) return Check::UnderWay;
      if (k < kCheckSpins) pauseBriefly();
      else yieldThread();
    }
    return Check::Made;
  }

  // A picture that reaches outside its piece, read on its own (nullptr when it cannot be read).
  const unsigned char* readPicture(std::int32_t start, std::int32_t length) {
    m_picture.resize(static_cast<std::size_t>(length));
    if (!readAllAt(m_fd, start, m_picture.data(), m_picture.size())) {
      m_readOk = false;
      return nullptr;
    }
    return m_picture.data();
  }

  const FileDescriptor& m_fd;
  std::int32_t m_size;
  ExportRun& m_run;
  // Before the reader: its helpers are gone before the pictures they check.
  std::deque<std::unique_ptr<PlannedPicture>> m_planned;
  PieceReader m_reader;
  std::vector<unsigned char> m_picture;
  std::int64_t m_resume = 0;
  bool m_onTrust = true;
  bool m_readOk = true;
};

// Kinds that read further than this from a position are scanned with the file whole in memory.
constexpr std::int64_t kPieceReachLimit = 1 << 20;

// Writes the log and shows the report, then the pictures that could not be written. True when
// nothing went wrong.
bool finishExport(ExportRun& run, OverwriteOpen& log, const std::string& logPath, ResultSink& sink) {
  const std::string text = encodeLogText(run.logText());
  const bool nothingFound = text.empty();
  if (nothingFound) {
    // A log of earlier pictures stays: an export with the wrong kind must not cost it.
    Push(run.report(), {ListValue(texts::kNoPictureFound)});
    if (log.oldSize > 0) Push(run.report(), {ListValue(texts::kPreviousLogKept)});
  }
  const bool keepLog = nothingFound && log.oldSize > 0;
  if (!keepLog && (!truncateFile(log.fd, 0) || !writeAll(log.fd, text.data(), text.size()) || !log.fd.close())) {
    const int err = errno;
    sink.show(std::string(texts::kWriteFileError) + "\r\n" + logPath + "\r\n" +
                  texts::describeSystemError(err),
              kAppTitle, MessageKind::Error);
    return false;
  }
  sink.showResult({ResultReport::Operation::Export,
                   run.reportText() + "\r\n" + std::string(texts::kExportDone), run.rows()});
  if (run.unwritten().empty()) return true;
  std::string message(texts::kPictureWriteError);
  for (const auto& file : run.unwritten()) message += "\r\n  " + file;
  message += "\r\n" + texts::describeSystemError(run.firstError());
  sink.show(message, kAppTitle, MessageKind::Error);
  return false;
}

}  // namespace

bool ExportPictures(Session& session, std::string& path, ResultSink& sink) {
  return ExportPictures(session, path, sink, ExportReading{});
}

bool ExportPictures(Session& session, std::string& path, ResultSink& sink, ExportReading reading) {
  return ExportPictures(session, path, sink, reading, EditedPictures::Overwrite);
}

bool ExportPictures(Session& session, std::string& path, ResultSink& sink, ExportReading reading,
                    EditedPictures edited) {
  if (path.find_first_of("\r\n") != std::string::npos) {
    // The log holds one picture a line: such a name could not be read back.
    sink.show(texts::kSourceNameLineBreak, kAppTitle, MessageKind::Error);
    return false;
  }
  const std::string sourcePath = path;
  const std::string logPath = sourcePath + ".pic.log";
  const bool delphi = isDelphi(session.SourceKind);

  // The source is opened and measured (small ones loaded whole) before the log is touched, so a
  // failed export keeps the previous log.
  const ReadReach reach = readReach(session.pictureKinds, delphi);
  const bool boundedReach = reach.before <= kPieceReachLimit && reach.after <= kPieceReachLimit;
  FileDescriptor sourceFd;
  std::int32_t sourceSize = 0;
  session.source.SourceBytes.reset();
  session.source.SourceSize = 0;
  bool opened = openSource(path, sourceFd, sourceSize);
  // A form saved as text is read whole: it is scanned as its binary view.
  bool textForm = false;
  if (opened && session.SourceKind == SourceKindValue::DelphiDfm) {
    unsigned char head[64];
    const std::size_t n = std::min<std::size_t>(sizeof head, static_cast<std::size_t>(sourceSize));
    textForm = readAllAt(sourceFd, 0, head, n) && looksLikeTextForm(ByteSpan(head, n));
  }
  const bool inPieces =
      opened && !textForm && boundedReach && (reading.pieceSize != 0 || sourceSize >= kPieceThreshold);
  if (inPieces) session.source.SourceSize = sourceSize;
  else if (opened) opened = readOpenedSource(sourceFd, sourceSize, session.source);
  if (!opened) {
    sink.show(texts::kReadFileError, kAppTitle, MessageKind::Error);
    return false;
  }
  std::optional<TextForm> form;  // a text form's values
  std::size_t badLine = 0;
  if (textForm && useTextFormView(session.source, form, badLine) == TextFormLoad::Unreadable) {
    sink.show(texts::textFormUnreadable(badLine), kAppTitle, MessageKind::Error);
    return false;
  }
  const std::optional<FileIdentity> sourceId = identityOf(sourceFd);
  // Opened (and so checked) now, written at the end: until then an earlier log stays as it was.
  OverwriteOpen log = openForOverwrite(nativePath(logPath), sourceId ? &*sourceId : nullptr);
  if (!log.fd.valid()) {
    const int err = errno;
    sink.show(std::string(texts::kLogCreateError) + logPath + "\r\n" + texts::describeSystemError(err),
              kAppTitle, MessageKind::Error);
    return false;
  }

  ExportRun run(session, sourcePath, sourceId, sink.listsPictures(), edited != EditedPictures::Overwrite);
  Push(run.report(), {ListValue(texts::kExportLogHeader), ListValue("  " + logPath),
                      ListValue(texts::kExportFilesHeader)});
  const MarkerFilter filter(session.pictureKinds);
  std::optional<ProgressMeter> meter(std::in_place, sink, std::int64_t{session.source.SourceSize});
  if (inPieces) {
    const bool readThrough =
        PieceExport(sourceFd, sourceSize, session.pictureKinds, delphi, filter, reading, run).run(*meter);
    if (!readThrough || fileSize(sourceFd) != sourceSize) {
      // The source changed or failed while it was read: its log stays as it was.
      session.PictureCounter = 0;
      sink.show(texts::kReadFileError, kAppTitle, MessageKind::Error);
      return false;
    }
    run.nameOwners([&] { return readOwners(FileReader(sourceFd, sourceSize), path); });
  } else {
    const unsigned char* bytes = session.source.SourceBytes.data();
    auto fetch = [bytes](std::int32_t start, std::int32_t) { return bytes + start; };
    scanPictures(bytes, session.source.SourceSize, session.pictureKinds, delphi, filter, [&](const ScanMatch& m) {
      meter->at(m.start);
      return run.ExportAt(m, fetch);
    });
    run.nameOwners([&] {
      return form ? Owners(textFormOwners(*form))
                  : readOwners(ByteSpan(bytes, static_cast<std::size_t>(session.source.SourceSize)), path);
    });
  }
  session.PictureCounter = 0;
  meter.reset();  // the scan is done: what follows may ask the user
  const bool overwrite = !run.edited().empty() && edited == EditedPictures::Ask &&
                         sink.show(texts::editedPicturesQuestion(run.edited().size()), kAppTitle,
                                   MessageKind::Question) == kButtonYes;
  bool keptEdits = !run.edited().empty() && !overwrite;
  if (overwrite) {
    const MemoryReader memory(ByteSpan(session.source.SourceBytes.data(), inPieces ? 0 : static_cast<std::size_t>(sourceSize)));
    const FileReader file(sourceFd, sourceSize);
    const ByteReader& source = inPieces ? static_cast<const ByteReader&>(file) : memory;
    std::string picture;
    for (const ExportRun::Edited& e : run.edited()) {
      picture.resize(static_cast<std::size_t>(e.length));
      if (!source.read(e.start, reinterpret_cast<unsigned char*>(picture.data()), picture.size()) ||
          writeWholeFile(nativePath(e.file), picture, sourceId ? &*sourceId : nullptr) != WriteResult::Written)
        keptEdits = true;
    }
  }
  const bool done = finishExport(run, log, logPath, sink);
  if (!keptEdits) return done;
  std::string message(texts::kEditedPicturesKept);
  for (const ExportRun::Edited& e : run.edited()) message += "\r\n  " + e.file;
  sink.show(message, kAppTitle, edited == EditedPictures::Ask ? MessageKind::Info : MessageKind::Error);
  return done && edited == EditedPictures::Ask;
}

}  // namespace falcet
