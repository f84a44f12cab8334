#pragma once
// Splitting text into lines: a line ends at CR LF, CR or LF; the text after the last end (if any)
// is a line of its own.

#include <string_view>
#include <vector>

namespace falcet {

inline std::vector<std::string_view> splitLines(std::string_view text) {
  std::vector<std::string_view> lines;
  std::size_t i = 0;
  while (i < text.size()) {
    std::size_t end = text.find_first_of("\r\n", i);
    if (end == std::string_view::npos) end = text.size();
    lines.push_back(text.substr(i, end - i));
    i = end + 1;
    if (end < text.size() && text[end] == '\r' && i < text.size() && text[i] == '\n') ++i;
  }
  return lines;
}

}  // namespace falcet
