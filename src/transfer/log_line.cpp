#include "transfer/log_line.hpp"

#include <algorithm>

#include "platform/codepage.hpp"
#include "util/number.hpp"

namespace falcet {

std::string formatLogLine(const LogLine& line) {
  return std::to_string(line.position) + ":" + std::to_string(line.length) + ":" + line.kind +
         ":" + line.pictureFile;
}

std::optional<LogLine> parseLogLine(std::string_view line) {
  std::string_view fields[4];
  std::size_t n = 0;
  std::size_t from = 0;
  for (; n < 3; ++n) {
    const std::size_t colon = line.find(':', from);
    if (colon == std::string_view::npos) break;
    fields[n] = line.substr(from, colon - from);
    from = colon + 1;
  }
  // The text after the last ":" found is the next field; the fields after it stay empty.
  if (from <= line.size()) fields[n] = line.substr(from);
  const auto position = parseLeadingNumber(fields[0]);
  const auto length = parseLeadingNumber(fields[1]);
  if (!position || !length) return std::nullopt;
  return LogLine{*position, *length, std::string(fields[2]), std::string(fields[3])};
}

namespace {
constexpr std::string_view kUtf8Mark = "\xEF\xBB\xBF";
}  // namespace

std::string encodeLogText(std::string_view utf8) {
  // ASCII reads the same in every code page a log may be in.
  if (std::all_of(utf8.begin(), utf8.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; }))
    return std::string(utf8);
  std::string local = utf8ToLocale(utf8);
  if (localeToUtf8(local) == utf8) return local;
  return std::string(kUtf8Mark) + std::string(utf8);
}

std::string decodeLogText(std::string_view bytes) {
  if (bytes.substr(0, kUtf8Mark.size()) == kUtf8Mark) return wellFormedUtf8(bytes.substr(kUtf8Mark.size()));
  // An editor's "Unicode": UTF-16 behind its byte-order mark, or little-endian without one (a
  // digit and a zero byte: no line of a log starts so in any ANSI code page).
  if (bytes.substr(0, 2) == "\xFF\xFE") return utf16ToUtf8(bytes.substr(2), false);
  if (bytes.substr(0, 2) == "\xFE\xFF") return utf16ToUtf8(bytes.substr(2), true);
  if (bytes.size() >= 2 && bytes[1] == '\0' && bytes[0] != '\0') return utf16ToUtf8(bytes, false);
  return localeToUtf8(bytes);
}

}  // namespace falcet
