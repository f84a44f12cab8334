#pragma once
// ASCII-only text helpers: letter case, blanks, hex digits. Bytes of 0x80 and above (UTF-8 or a
// double-byte character set) are never changed or matched, so these are safe on any text this
// program reads. Depends on nothing but the standard library, so every layer may use it.

#include <string>
#include <string_view>

namespace falcet {

[[nodiscard]] constexpr char toLowerAscii(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c + ('a' - 'A')) : c;
}

[[nodiscard]] constexpr char toUpperAscii(char c) {
  return c >= 'a' && c <= 'z' ? static_cast<char>(c - ('a' - 'A')) : c;
}

[[nodiscard]] inline std::string toLowerAscii(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = toLowerAscii(c);
  return out;
}

[[nodiscard]] constexpr bool equalsIgnoreCaseAscii(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (toLowerAscii(a[i]) != toLowerAscii(b[i])) return false;
  return true;
}

[[nodiscard]] constexpr bool endsWithIgnoreCaseAscii(std::string_view text, std::string_view tail) {
  return text.size() >= tail.size() &&
         equalsIgnoreCaseAscii(text.substr(text.size() - tail.size()), tail);
}

// A blank is a space or a tab.
[[nodiscard]] constexpr bool isBlankAscii(char c) { return c == ' ' || c == '\t'; }

[[nodiscard]] constexpr std::string_view trimBlanks(std::string_view s) {
  while (!s.empty() && isBlankAscii(s.front())) s.remove_prefix(1);
  while (!s.empty() && isBlankAscii(s.back())) s.remove_suffix(1);
  return s;
}

// Spaces only (not tabs), as the source loader trims a typed path.
[[nodiscard]] constexpr std::string_view trimSpaces(std::string_view s) {
  while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
  while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
  return s;
}

// The value of a hex digit (either case), or -1.
[[nodiscard]] constexpr int hexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The text before the first NUL character, or the whole text when it holds none.
[[nodiscard]] inline std::string CutAtNul(std::string_view text) {
  const std::size_t nul = text.find('\0');
  return std::string(nul == std::string_view::npos ? text : text.substr(0, nul));
}

}  // namespace falcet
