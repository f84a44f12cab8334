#include "transfer/export.hpp"

#include <cerrno>
#include <algorithm>
#include <cstdio>
#include <vector>

#include "formats/delphi_text_form.hpp"
#include "formats/picture_facts.hpp"
#include "platform/codepage.hpp"
#include "platform/file_io.hpp"
#include "texts/texts.hpp"
#include "transfer/log_line.hpp"
#include "transfer/owners.hpp"
#include "transfer/picture_walk.hpp"

namespace falcet {

std::string pictureFileName(const std::string& sourcePath, std::int32_t number,
                            const std::string& ext) {
  char digits[16];
  std::snprintf(digits, sizeof digits, "%03d", number);
  return sourcePath + "." + digits + "." + ext;
}

namespace {

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
    const std::int32_t skip = m_walk.step(
        m, [&](const ScanMatch& match) { return fetch(match.start, match.length); },
        [&](const ScanMatch& match, std::int32_t number, const unsigned char* picture) {
          m_session.PictureCounter = number;
          return Write(match, picture);
        });
    m_session.PictureCounter = m_walk.number();
    return skip;
  }

  // Writes the picture of one match (nullptr: it could not be read); false when nothing was
  // exported.
  bool Write(const ScanMatch& m, const unsigned char* picture) {
    if (!picture) return false;
    const PictureKind& kind = m_session.pictureKinds[m.kind];
    const auto length = static_cast<std::size_t>(m.length);
    std::string ext = kind.FileExt == "*" ? sniffPictureExtension(picture, length) : kind.FileExt;
    std::string file = pictureFileName(m_sourcePath, m_session.PictureCounter, ext);
    const auto native = nativePath(file);
    const std::string_view bytes(reinterpret_cast<const char*>(picture), length);
    // A file that already holds the picture is left alone; one that holds other bytes (edited
    // since the last export) is kept, to be overwritten or not at the end.
    const WriteResult written = writeWholeFileUnlessSame(native, bytes, m_source ? &*m_source : nullptr, m_keepEdited);
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
    m_log += formatLogLine({m.start, m.length, kind.Name, utf8Path(native.filename())}) + "\r\n";
    Push(m_report, {ListValue("  " + file)});
    if (!m_rowsWanted) return true;
    const PictureFacts facts = readPictureFacts(ByteSpan(picture, length));
    ResultRow row;
    row.number = m_session.PictureCounter;
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

  ListValue& report() { return m_report; }
  const ListValue& report() const { return m_report; }
  const std::string& logText() const { return m_log; }  // UTF-8
  const std::vector<std::string>& unwritten() const { return m_unwritten; }
  const std::vector<Edited>& edited() const { return m_edited; }
  int firstError() const { return m_firstError; }
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
  std::vector<std::string> m_unwritten;
  int m_firstError = 0;
  std::vector<ResultRow> m_rows;
  std::vector<std::int32_t> m_positions;  // of each row's picture in the source
};

// The scan of a large source read in pieces into one reused buffer, with the same result as
// the scan of the whole file in memory: each piece holds its candidate positions and every byte
// the kinds may read for them; a picture that reaches outside the piece is read on its own.
// False when the file could not be read through (it then changed or failed under us).
bool scanInPieces(const FileDescriptor& fd, std::int32_t size, const PictureKinds& kinds, bool delphi,
                  const MarkerFilter& filter, std::size_t pieceSize, ExportRun& run, ProgressMeter& meter) {
  const ReadReach reach = readReach(kinds, delphi);
  const std::int64_t last = static_cast<std::int64_t>(size) - 2;
  const std::int64_t fastEnd = filterEnd(filter, size);
  std::vector<unsigned char> piece(pieceSize + static_cast<std::size_t>(reach.before + reach.after) + 2);
  std::vector<unsigned char> picture;
  bool readOk = true;
  std::int64_t pos = 0;
  while (pos <= last && readOk) {
    const std::int64_t candidatesEnd = std::min<std::int64_t>(last + 1, pos + static_cast<std::int64_t>(pieceSize));
    const std::int64_t windowStart = std::max<std::int64_t>(0, pos - reach.before);
    const std::int64_t windowEnd = std::min<std::int64_t>(size, candidatesEnd + reach.after + 1);
    const unsigned char* window = piece.data();
    if (!readAllAt(fd, windowStart, piece.data(), static_cast<std::size_t>(windowEnd - windowStart))) return false;
    auto fetch = [&](std::int32_t start, std::int32_t length) -> const unsigned char* {
      if (start >= windowStart && static_cast<std::int64_t>(start) + length <= windowEnd)
        return window + (start - windowStart);
      picture.resize(static_cast<std::size_t>(length));
      if (!readAllAt(fd, start, picture.data(), picture.size())) {
        readOk = false;
        return nullptr;
      }
      return picture.data();
    };
    pos = scanRange(window, windowStart, size, kinds, delphi, filter, fastEnd, pos, candidatesEnd,
                    [&](const ScanMatch& m) { return run.ExportAt(m, fetch); });
    meter.at(pos);
  }
  return readOk;
}

// Sources from this size on are read in pieces for export.
constexpr std::int64_t kPieceThreshold = 4 << 20;
constexpr std::size_t kPieceSize = 256 << 10;
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
                   Join("\r\n", {run.report()}).text() + "\r\n" + std::string(texts::kExportDone), run.rows()});
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
  const std::size_t pieceSize = reading.pieceSize ? reading.pieceSize : kPieceSize;
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
    const bool readThrough = scanInPieces(sourceFd, sourceSize, session.pictureKinds, delphi,
                                          filter, pieceSize, run, *meter);
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
