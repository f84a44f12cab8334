#include "transfer/log_reader.hpp"

#include <cerrno>
#include <limits>
#include <optional>

#include "platform/codepage.hpp"
#include "platform/file_io.hpp"
#include "texts/texts.hpp"
#include "transfer/log_line.hpp"
#include "base/ascii.hpp"
#include "base/lines.hpp"

namespace falcet {

std::size_t characterCount(std::string_view text) {
  std::size_t n = 0;
  for (std::size_t i = 0; i < text.size(); i += utf8CharLength(static_cast<unsigned char>(text[i])))
    ++n;
  return n;
}

std::string picturePath(const std::filesystem::path& logFolder, const std::string& pictureFile) {
  if (pictureFile.empty()) return pictureFile;
  const std::filesystem::path p = nativePath(pictureFile);
  if (p.is_absolute() || logFolder.empty()) return pictureFile;
  return utf8Path(logFolder / p);
}

bool isLogFileName(std::string_view name) {
  return characterCount(name) >= 9 && endsWithIgnoreCaseAscii(name, ".pic.log");
}

namespace {

// A log line as a message quotes it: at most 200 characters of it.
std::string quoted(std::string_view line) {
  std::size_t end = 0;
  for (std::size_t n = 0; end < line.size() && n < 200; ++n) end += utf8CharLength(static_cast<unsigned char>(line[end]));
  if (end >= line.size()) return std::string(line);
  return std::string(line.substr(0, end)) + "…";
}

}  // namespace

bool ReadLog(Session& session, const std::string& logName, MessageSink& sink) {
  if (characterCount(logName) <= 8) {
    sink.show(texts::kFileNameError, kAppTitle, MessageKind::Error);
    return false;
  }
  auto fail = [&](int err, const std::string& name) {
    sink.show(texts::describeSystemError(err) + "\r\n" + name, kAppTitle, MessageKind::Error);
    return false;
  };
  auto bytes = readWholeFile(nativePath(logName));
  if (!bytes) return fail(errno, logName);
  // A byte-order mark (export writes one where the locale cannot spell a name, an editor may add
  // one) is no part of the first line: it says how the text behind it is written.
  const std::string text = decodeLogText(*bytes);
  const std::filesystem::path logFolder = nativePath(logName).parent_path();

  session.LogEntries.clear();
  std::optional<std::string> firstMissing;
  bool allMissing = true;
  for (std::string_view line : splitLines(text)) {
    if (line.empty()) continue;
    const auto parsed = parseLogLine(line);
    if (!parsed) return fail(ERANGE, quoted(line));
    LogEntry e;
    e.KindName = parsed->kind;
    e.Position = parsed->position;
    e.RecordedLength = parsed->length;
    for (std::size_t k = 0; k < session.pictureKinds.size(); ++k) {
      if (session.pictureKinds[k].Name == parsed->kind) {
        e.KindIndex = static_cast<std::int32_t>(k + 1);
        break;
      }
    }
    e.PictureFile = parsed->pictureFile;
    e.PicturePath = picturePath(logFolder, e.PictureFile);
    auto st = fileStatus(nativePath(e.PicturePath));
    if (!st && e.PicturePath != e.PictureFile) {
      // Earlier versions named the pictures as the source path was typed, from the folder the
      // export ran in: such a name is still found from the current folder.
      const int err = errno;
      if ((st = fileStatus(nativePath(e.PictureFile)))) e.PicturePath = e.PictureFile;
      else errno = err;
    }
    if (!st && (errno == ENOENT || errno == ENOTDIR)) {
      // A picture file deleted since the export: the entry gets its own verdict at import.
      if (!firstMissing) firstMissing = e.PictureFile;
      session.LogEntries.push_back(std::move(e));
      continue;
    }
    if (!st) return fail(errno, e.PictureFile);
    // A FIFO or a device is refused before anything reads it (a folder can be measured; reading
    // it fails later, with its own report line).
    if (!st->regular && !st->directory) return fail(EINVAL, e.PictureFile);
    if (st->size > std::numeric_limits<std::int32_t>::max()) return fail(EOVERFLOW, e.PictureFile);
    e.FileLength = static_cast<std::int32_t>(st->size);
    if (e.FileLength == 0 && !st->directory) {
      sink.show(std::string(texts::kEmptyPictureFile) + "\r\n" + e.PictureFile, kAppTitle,
                MessageKind::Error);
      return false;
    }
    allMissing = false;
    session.LogEntries.push_back(std::move(e));
  }
  if (session.LogEntries.empty()) {
    sink.show(texts::kLogFileError, kAppTitle, MessageKind::Error);
    return false;
  }
  // No picture file there at all: nothing could go in, and the log is likely not this folder's.
  if (allMissing) return fail(ENOENT, *firstMissing);
  return true;
}

}  // namespace falcet
