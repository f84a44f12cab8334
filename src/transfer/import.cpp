#include "transfer/import.hpp"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "platform/codepage.hpp"
#include "platform/file_io.hpp"
#include "texts/texts.hpp"
#include "transfer/import_plan.hpp"
#include "transfer/log_reader.hpp"

namespace falcet {
namespace {

// The picture files as the log names them, probed with FileExists (which reports an unexpected
// error itself).
class DiskPictureFiles : public PictureFiles {
 public:
  explicit DiskPictureFiles(MessageSink& sink) : m_sink(sink) {}
  bool exists(const LogEntry& e) override { return FileExists(e.PictureFile, m_sink); }
  bool read(const LogEntry& e, std::span<unsigned char> out) override {
    FileDescriptor fd(::open(nativePath(e.PictureFile).c_str(), O_RDONLY | O_CLOEXEC));
    return fd.valid() && readAll(fd.get(), out.data(), out.size()) ==
                             static_cast<std::int64_t>(out.size());
  }

 private:
  MessageSink& m_sink;
};

std::string_view verdictText(Verdict v) {
  switch (v) {
    case Verdict::Imported: return texts::kVerdictImported;
    case Verdict::TooLarge: return texts::kVerdictTooLarge;
    case Verdict::NotFound: return texts::kVerdictNotFound;
    case Verdict::UnknownKind: return texts::kVerdictUnknownKind;
    case Verdict::OutOfRange: return texts::kVerdictOutOfRange;
    case Verdict::Unreadable: return texts::kVerdictUnreadable;
  }
  return {};
}

// Writes content to a temporary file beside the source, then makes the backup and moves the new
// file into place. The source name always holds either the old or the new content.
bool replaceSource(const std::string& sourceName, const unsigned char* data, std::size_t size) {
  const std::string native = nativePath(sourceName).native();
  std::string tmpl = native + ".falcet-XXXXXX";
  std::vector<char> tmpName(tmpl.begin(), tmpl.end());
  tmpName.push_back('\0');
  FileDescriptor fd(::mkstemp(tmpName.data()));
  if (!fd.valid()) return false;
  const std::string tmp(tmpName.data());
  struct stat st {};
  if (::stat(native.c_str(), &st) == 0) ::fchmod(fd.get(), st.st_mode & 07777);
  bool ok = writeAll(fd.get(), data, size) && ::fsync(fd.get()) == 0;
  ok = fd.close() && ok;
  if (ok) ok = BackupSource(sourceName, sourceName + ".bak");
  if (ok) ok = ::rename(tmp.c_str(), native.c_str()) == 0;
  if (!ok) ::unlink(tmp.c_str());
  return ok;
}

}  // namespace

bool FileExists(const std::string& name, MessageSink& sink) {
  struct stat st {};
  if (::stat(nativePath(name).c_str(), &st) == 0) return true;
  const int err = errno;
  if (err == ENOENT || err == ENOTDIR) return false;
  sink.show(texts::errorNumberMessage(err), texts::kErrorTitle, MessageKind::Error);
  return true;
}

bool BackupSource(const std::string& sourceName, const std::string& backupName) {
  const auto src = nativePath(sourceName);
  const auto bak = nativePath(backupName);
  if (::unlink(bak.c_str()) != 0 && errno != ENOENT) return false;
  if (::link(src.c_str(), bak.c_str()) == 0) return true;
  // File systems without hard links: copy, flushed before the source is replaced.
  auto bytes = readWholeFile(src);
  if (!bytes) return false;
  FileDescriptor fd(::open(bak.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
  if (!fd.valid()) return false;
  bool ok = writeAll(fd.get(), bytes->data(), bytes->size()) && ::fsync(fd.get()) == 0;
  ok = fd.close() && ok;
  if (!ok) ::unlink(bak.c_str());
  return ok;
}

ImportOutcome ImportPictures(Session& session, std::string logName, MessageSink& sink) {
  if (!ReadLog(session, logName, sink)) return ImportOutcome::Failed;
  // The log name minus ".pic.log" (8 characters, all ASCII).
  std::string sourceName = logName.substr(0, logName.size() - 8);
  if (!LoadSource(sourceName, session.source)) {
    sink.show(texts::kReadFileError, kAppTitle, MessageKind::Error);
    return ImportOutcome::Failed;
  }
  Source& src = session.source;
  const MutableByteSpan bytes(src.SourceBytes.data(), static_cast<std::size_t>(src.SourceSize));
  DiskPictureFiles files(sink);
  const ImportPlan plan = planImport(session, bytes, files);

  std::string report;
  bool allImported = true;
  for (std::size_t i = 0; i < plan.entries.size(); ++i) {
    const Verdict v = plan.entries[i].verdict;
    report += session.LogEntries[i].PictureFile;
    report += verdictText(v);
    report += "\r\n";
    if (v != Verdict::Imported) allImported = false;
  }

  const bool written = plan.rebuilt
                           ? replaceSource(sourceName, plan.content.data(), plan.content.size())
                           : replaceSource(sourceName, bytes.data(), bytes.size());
  if (!written) {
    sink.show(texts::kWriteFileError, kAppTitle, MessageKind::Error);
    return ImportOutcome::Failed;
  }
  sink.show(report + std::string(texts::kImportDone), kAppTitle, MessageKind::Info);
  return allImported ? ImportOutcome::Done : ImportOutcome::Partial;
}

}  // namespace falcet
