// ReadLog on arbitrary log text. Before reading, the target creates the picture files the lines
// seem to name (plain names inside its scratch folder, some of them empty, some of them folders),
// so that the reader gets past the file checks and reaches every verdict. ReadLog must either
// fill the entries from the lines or tell the user why not; it never reads anything else.

#include <algorithm>
#include <clocale>
#include <cstdint>
#include <filesystem>
#include <unistd.h>

#include "fuzz_support.hpp"
#include "platform/message_sink.hpp"
#include "transfer/log_line.hpp"
#include "transfer/log_reader.hpp"
#include "transfer/session.hpp"

using namespace falcet;

namespace {

struct CountingSink : MessageSink {
  int shown = 0;
  int show(std::string_view, std::string_view, MessageKind) override {
    ++shown;
    return kButtonOk;
  }
};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  std::setlocale(LC_ALL, "C.UTF-8");
  // Picture names in a log are taken as they stand, so plain names resolve in the scratch folder.
  if (::chdir(fuzz::scratchFolder().c_str()) != 0) fuzz::fail("cannot enter the scratch folder");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::clearScratch();
  const std::string_view text(reinterpret_cast<const char*>(data), size);

  // The fourth field of each line, when it is a plain name, becomes a file (or folder).
  std::size_t lineStart = 0, files = 0;
  while (lineStart < text.size() && files < 16) {
    std::size_t end = text.find_first_of("\r\n", lineStart);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(lineStart, end - lineStart);
    const auto parsed = parseLogLine(line);
    if (parsed && std::count(line.begin(), line.end(), ':') >= 3) {
      const std::string& name = parsed->pictureFile;
      if (!name.empty() && name.size() < 64 && name.find('/') == std::string::npos &&
          name.find('\0') == std::string::npos && name != "." && name != "..") {
        const std::uint8_t shape = static_cast<std::uint8_t>(name.size() + name.back());
        std::error_code ec;
        if (shape % 7 == 0) {
          std::filesystem::create_directory(name, ec);
        } else {
          fuzz::writeFileBytes(name, std::string(shape % 5 == 0 ? 0 : 1 + shape % 32, 'p'));
        }
        ++files;
      }
    }
    lineStart = end + 1;
  }
  fuzz::writeFileBytes("x.pic.log", text);

  Session session;
  PictureKind k;
  k.Name = "VB.Picture";
  session.pictureKinds = {k};
  CountingSink sink;
  const bool ok = ReadLog(session, "x.pic.log", sink);
  if (ok) {
    fuzz::check(sink.shown == 0, "a read that succeeded showed a message");
    fuzz::check(!session.LogEntries.empty(), "a read that succeeded gave no entry");
    for (const auto& e : session.LogEntries) {
      // A picture file deleted since the export reads as length 0 and fails at import on its own.
      fuzz::check(e.FileLength > 0 || !std::filesystem::exists(e.PicturePath), "an entry with an empty picture file");
      fuzz::check(e.KindIndex == -1 || e.KindIndex == 1, "an entry with an impossible kind");
    }
  } else {
    fuzz::check(sink.shown == 1, "a failed read showed no message (or several)");
  }
  return 0;
}
