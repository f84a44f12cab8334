#include "transfer/log_line.hpp"

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

}  // namespace falcet
