#include "transfer/import.hpp"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "app/texts.hpp"
#include "platform/codepage.hpp"
#include "platform/file_io.hpp"
#include "transfer/log_reader.hpp"

namespace falcet {
namespace {

void putU32le(unsigned char* p, std::int32_t value) {
  const auto v = static_cast<std::uint32_t>(value);
  p[0] = static_cast<unsigned char>(v);
  p[1] = static_cast<unsigned char>(v >> 8);
  p[2] = static_cast<unsigned char>(v >> 16);
  p[3] = static_cast<unsigned char>(v >> 24);
}

// Reads exactly size bytes of a picture file; false when it cannot be opened or read whole.
bool readPicture(const std::string& name, std::size_t size, unsigned char* out) {
  FileDescriptor fd(::open(nativePath(name).c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd.valid()) return false;
  return readAll(fd.get(), out, size) == static_cast<std::int64_t>(size);
}

// The VB error number shown for an unexpected file-system error.
int errorNumber(int err) {
  switch (err) {
    case EACCES:
    case EPERM: return 70;
    case ENAMETOOLONG: return 52;
    case EIO: return 57;
    default: return 75;
  }
}

// A binary .dfm starts with a resource header: FF 0A 00, the upper-case class name ending with a
// zero byte, 30 10, u32 stream size, then the stream ("TPF0"). Returns the offset of the size
// field, or 0 when the content does not start that way.
std::size_t dfmStreamSizeField(const std::vector<unsigned char>& c) {
  if (c.size() < 3 || c[0] != 0xFF || c[1] != 0x0A || c[2] != 0x00) return 0;
  std::size_t i = 3;
  while (i < c.size() && i < 300 && c[i] != 0) ++i;
  if (i >= c.size() || c[i] != 0) return 0;
  std::size_t field = i + 3;
  if (c.size() < field + 8 || c[i + 1] != 0x30 || c[i + 2] != 0x10) return 0;
  if (std::memcmp(&c[field + 4], "TPF0", 4) != 0) return 0;
  return field;
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
  sink.show(std::string(texts::kErrorNumber) + std::to_string(errorNumber(err)) + "\r\n 0",
            texts::kErrorTitle, MessageKind::Error);
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
  const std::int64_t size = src.SourceSize;
  unsigned char* bytes = src.SourceBytes.data();
  const bool formFile = session.SourceKind == kVbBin || session.SourceKind == kDelphiDfm;

  std::string report;
  bool allImported = true;
  auto verdict = [&](const LogEntry& e, std::string_view text) {
    report += e.PictureFile;
    report += text;
    report += "\r\n";
    if (text != texts::kVerdictImported) allImported = false;
  };

  std::vector<unsigned char> rebuilt;
  if (formFile) rebuilt.reserve(static_cast<std::size_t>(size));
  std::int64_t readCursor = 0;

  for (const LogEntry& e : session.LogEntries) {
    if (e.KindIndex == -1) {
      verdict(e, texts::kVerdictUnknownKind);
      continue;
    }
    if (!FileExists(e.PictureFile, sink)) {
      verdict(e, texts::kVerdictNotFound);
      continue;
    }
    const PictureKind& kind = session.pictureKinds[static_cast<std::size_t>(e.KindIndex - 1)];
    const std::int64_t pos = e.Position;
    const std::int64_t recorded = e.RecordedLength;
    const auto fileLength = static_cast<std::size_t>(e.FileLength);
    if (pos < 0 || recorded < 0 || pos + recorded > size) {
      verdict(e, texts::kVerdictOutOfRange);
      continue;
    }
    if (!formFile) {
      if (e.FileLength > e.RecordedLength) {
        verdict(e, texts::kVerdictTooLarge);
        continue;
      }
      std::vector<unsigned char> picture(fileLength);
      if (!readPicture(e.PictureFile, fileLength, picture.data())) {
        verdict(e, texts::kVerdictUnreadable);
        continue;
      }
      std::memcpy(bytes + pos, picture.data(), fileLength);
      std::memset(bytes + pos + static_cast<std::int64_t>(fileLength), 0,
                  static_cast<std::size_t>(recorded) - fileLength);
      verdict(e, texts::kVerdictImported);
      continue;
    }

    // Form file: entries must come in rising order without overlap, and the length fields must
    // lie inside what has been written once the new picture is in.
    if (pos < readCursor) {
      verdict(e, texts::kVerdictOutOfRange);
      continue;
    }
    const std::int64_t newStart = static_cast<std::int64_t>(rebuilt.size()) + (pos - readCursor);
    const std::int64_t newEnd = newStart + static_cast<std::int64_t>(fileLength);
    auto fieldInside = [&](std::int64_t at) { return at >= 0 && at + 4 <= newEnd; };
    const bool writeBlock = session.SourceKind == kDelphiDfm && kind.DfmBlockLenPos != 0;
    if (!fieldInside(newStart + kind.BinFileLenPos) ||
        (writeBlock && !fieldInside(newStart + kind.DfmBlockLenPos))) {
      verdict(e, texts::kVerdictOutOfRange);
      continue;
    }
    const std::size_t before = rebuilt.size();
    rebuilt.insert(rebuilt.end(), bytes + readCursor, bytes + pos);
    rebuilt.resize(before + static_cast<std::size_t>(pos - readCursor) + fileLength);
    if (!readPicture(e.PictureFile, fileLength, rebuilt.data() + newStart)) {
      rebuilt.resize(before);
      verdict(e, texts::kVerdictUnreadable);
      continue;
    }
    putU32le(rebuilt.data() + newStart + kind.BinFileLenPos,
             static_cast<std::int32_t>(static_cast<std::int64_t>(e.FileLength) + kind.BinFileLenFix));
    if (writeBlock)
      putU32le(rebuilt.data() + newStart + kind.DfmBlockLenPos,
               static_cast<std::int32_t>(static_cast<std::int64_t>(e.FileLength) +
                                         kind.DfmBlockLenFix));
    verdict(e, texts::kVerdictImported);
    readCursor = pos + recorded;
  }

  const unsigned char* out = bytes;
  std::size_t outSize = static_cast<std::size_t>(size);
  if (formFile) {
    rebuilt.insert(rebuilt.end(), bytes + readCursor, bytes + size);
    if (session.SourceKind == kDelphiDfm) {
      // Moves the header's stream size by the change in length, so that a header that was right
      // stays right and an untouched file stays byte for byte the same.
      if (std::size_t field = dfmStreamSizeField(rebuilt)) {
        std::uint32_t old = 0;
        for (int b = 3; b >= 0; --b) old = old << 8 | rebuilt[field + static_cast<std::size_t>(b)];
        const std::int64_t delta = static_cast<std::int64_t>(rebuilt.size()) - size;
        putU32le(rebuilt.data() + field, static_cast<std::int32_t>(old + static_cast<std::uint32_t>(delta)));
      }
    }
    out = rebuilt.data();
    outSize = rebuilt.size();
  }
  if (!replaceSource(sourceName, out, outSize)) {
    sink.show(texts::kWriteFileError, kAppTitle, MessageKind::Error);
    return ImportOutcome::Failed;
  }
  sink.show(report + std::string(texts::kImportDone), kAppTitle, MessageKind::Info);
  return allImported ? ImportOutcome::Done : ImportOutcome::Partial;
}

}  // namespace falcet
