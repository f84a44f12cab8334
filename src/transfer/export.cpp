#include "transfer/export.hpp"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

#include "app/texts.hpp"
#include "platform/codepage.hpp"
#include "platform/file_io.hpp"

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
  ExportRun(Session& session, std::string sourcePath)
      : m_session(session), m_sourcePath(std::move(sourcePath)) {}

  // Writes the picture of one match; returns the bytes to skip beyond one (length - 1), or 0
  // when nothing was exported at this position.
  std::int32_t ExportAt(const ScanMatch& m) {
    const PictureKind& kind = m_session.pictureKinds[m.kind];
    ++m_session.PictureCounter;
    const Source& src = m_session.source;
    if (m.length <= 0) return 0;
    if (m.start < 0 || static_cast<std::int64_t>(m.start) + m.length > src.SourceSize) return 0;
    const unsigned char* picture = src.SourceBytes.data() + m.start;
    const auto length = static_cast<std::size_t>(m.length);
    std::string ext = kind.FileExt == "*" ? sniffPictureExtension(picture, length) : kind.FileExt;
    std::string file = pictureFileName(m_sourcePath, m_session.PictureCounter, ext);
    const auto native = nativePath(file);
    if (!writeWholeFile(native, std::string_view(reinterpret_cast<const char*>(picture), length))) {
      // Nothing half-written stays; the position yields nothing, and the user is told at the end.
      const int err = errno;
      ::unlink(native.c_str());
      if (m_unwritten.empty()) m_firstError = err;
      m_unwritten.push_back(file);
      return 0;
    }
    m_log += std::to_string(m.start) + ":" + std::to_string(m.length) + ":" +
             utf8ToLocale(kind.Name) + ":" + utf8ToLocale(file) + "\r\n";
    Push(m_report, {ListValue("  " + file)});
    return m.length - 1;
  }

  ListValue& report() { return m_report; }
  const std::string& logText() const { return m_log; }
  const std::vector<std::string>& unwritten() const { return m_unwritten; }
  int firstError() const { return m_firstError; }

 private:
  Session& m_session;
  std::string m_sourcePath;
  std::string m_log;
  ListValue m_report;
  std::vector<std::string> m_unwritten;
  int m_firstError = 0;
};

}  // namespace

bool ExportPictures(Session& session, std::string& path, MessageSink& sink) {
  const std::string sourcePath = path;
  const std::string logPath = sourcePath + ".pic.log";

  // The source loads before the log is touched, so a failed export keeps the previous log.
  if (!LoadSource(path, session.source)) {
    sink.show(texts::kReadFileError, kAppTitle, MessageKind::Error);
    return false;
  }
  FileDescriptor log(
      ::open(nativePath(logPath).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
  if (!log.valid()) {
    const int err = errno;
    sink.show(std::string(texts::kLogCreateError) + logPath + "\r\n" + describeSystemError(err),
              kAppTitle, MessageKind::Error);
    return false;
  }

  ExportRun run(session, sourcePath);
  Push(run.report(), {ListValue(texts::kExportLogHeader), ListValue("  " + logPath),
                      ListValue(texts::kExportFilesHeader)});
  const MarkerFilter filter(session.pictureKinds);
  const bool delphi = session.SourceKind == kDelphiExe || session.SourceKind == kDelphiDfm;
  scanPictures(session.source.SourceBytes.data(), session.source.SourceSize, session.pictureKinds,
               delphi, filter, [&](const ScanMatch& m) { return run.ExportAt(m); });
  session.PictureCounter = 0;

  const std::string& text = run.logText();
  if (!writeAll(log.get(), text.data(), text.size()) || !log.close()) {
    const int err = errno;
    sink.show(std::string(texts::kWriteFileError) + "\r\n" + logPath + "\r\n" +
                  describeSystemError(err),
              kAppTitle, MessageKind::Error);
    return false;
  }
  ShowList(sink, {ListValue(Join("\r\n", {run.report()}).text() + "\r\n" +
                            std::string(texts::kExportDone))});
  if (!run.unwritten().empty()) {
    std::string message(texts::kPictureWriteError);
    for (const auto& file : run.unwritten()) message += "\r\n  " + file;
    message += "\r\n" + describeSystemError(run.firstError());
    sink.show(message, kAppTitle, MessageKind::Error);
    return false;
  }
  return true;
}

}  // namespace falcet
