#include "transfer/log_reader.hpp"

#include <cerrno>
#include <limits>
#include <sys/stat.h>

#include "platform/codepage.hpp"
#include "platform/file_io.hpp"
#include "texts/texts.hpp"
#include "transfer/log_line.hpp"
#include "util/ascii.hpp"
#include "util/lines.hpp"

namespace falcet {

std::size_t characterCount(std::string_view text) {
  std::size_t n = 0;
  for (std::size_t i = 0; i < text.size(); i += utf8CharLength(static_cast<unsigned char>(text[i])))
    ++n;
  return n;
}

bool isLogFileName(std::string_view name) {
  return characterCount(name) >= 9 && endsWithIgnoreCaseAscii(name, ".pic.log");
}

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
  const std::string text = localeToUtf8(*bytes);

  session.LogEntries.clear();
  for (std::string_view line : splitLines(text)) {
    if (line.empty()) continue;
    const auto parsed = parseLogLine(line);
    if (!parsed) return fail(ERANGE, std::string(line));
    LogEntry e;
    e.Position = parsed->position;
    e.RecordedLength = parsed->length;
    for (std::size_t k = 0; k < session.pictureKinds.size(); ++k) {
      if (session.pictureKinds[k].Name == parsed->kind) {
        e.KindIndex = static_cast<std::int32_t>(k + 1);
        break;
      }
    }
    e.PictureFile = parsed->pictureFile;
    struct stat st {};
    if (::stat(nativePath(e.PictureFile).c_str(), &st) != 0) return fail(errno, e.PictureFile);
    if (st.st_size > std::numeric_limits<std::int32_t>::max()) return fail(EOVERFLOW, e.PictureFile);
    e.FileLength = static_cast<std::int32_t>(st.st_size);
    if (e.FileLength == 0) {
      sink.show(std::string(texts::kEmptyPictureFile) + "\r\n" + e.PictureFile, kAppTitle,
                MessageKind::Error);
      return false;
    }
    session.LogEntries.push_back(std::move(e));
  }
  if (session.LogEntries.empty()) {
    sink.show(texts::kLogFileError, kAppTitle, MessageKind::Error);
    return false;
  }
  return true;
}

}  // namespace falcet
