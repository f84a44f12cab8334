#pragma once
// One line of the log that export writes and import reads back:
//
//   position ":" length ":" kind ":" picture file
//
// position: offset of the picture's first byte in the source; length: the picture's length in
// bytes as the source stored it. Both decimal, "-" before a negative value. kind: the kind's name
// (its settings section). picture file: everything after the third ":" (a path may hold ":").
// In the file, each line ends with CR LF and the text is in the locale's character set, or, where
// that set cannot spell every name, UTF-8 behind a byte-order mark; here text is UTF-8 and the
// line has no end.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace falcet {

struct LogLine {
  std::int32_t position = 0;
  std::int32_t length = 0;
  std::string kind;
  std::string pictureFile;

  friend bool operator==(const LogLine&, const LogLine&) = default;
};

// The line without its end.
[[nodiscard]] std::string formatLogLine(const LogLine& line);

// Reads a line as import does: the fields are cut at the first three ":" (missing fields are
// empty); position and length are the decimal numbers at the start of their fields (blanks before
// them allowed, anything after them ignored, no number reads as 0, fractions rounded half to
// even). None when a number is outside the signed 32-bit range.
[[nodiscard]] std::optional<LogLine> parseLogLine(std::string_view line);

// A log's bytes from its UTF-8 text: in the locale's character set when that set spells every
// character of it, otherwise UTF-8 behind a byte-order mark (so no name becomes "?").
[[nodiscard]] std::string encodeLogText(std::string_view utf8);

// A log's UTF-8 text from its bytes: UTF-8 after its byte-order mark, UTF-16 after its own (or
// little-endian without one, as an editor may save it), the locale's set otherwise.
[[nodiscard]] std::string decodeLogText(std::string_view bytes);

}  // namespace falcet
