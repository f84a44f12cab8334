#include "util/number.hpp"

#include <cstdlib>
#include <limits>
#include <string>

#include "base/ascii.hpp"

namespace falcet {
namespace {

__extension__ typedef __int128 Wide;

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// A decimal number at the start of s: sign, integer digits, optional fraction. Returns the
// number of characters used (0 when there is no number).
struct Decimal {
  bool negative = false;
  std::string intDigits;
  std::string fracDigits;
};

std::size_t scanDecimal(std::string_view s, Decimal& d) {
  std::size_t i = 0;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) {
    d.negative = s[i] == '-';
    ++i;
  }
  while (i < s.size() && isDigit(s[i])) d.intDigits += s[i++];
  if (i < s.size() && s[i] == '.') {
    std::size_t j = i + 1;
    while (j < s.size() && isDigit(s[j])) d.fracDigits += s[j++];
    if (!d.intDigits.empty() || !d.fracDigits.empty()) i = j;
  }
  if (d.intDigits.empty() && d.fracDigits.empty()) return 0;
  return i;
}

// Scales the decimal by 10^decimals, rounds half to even, and checks the result against
// [lo, hi]. Works in 128-bit so that no intermediate step overflows.
std::optional<Wide> roundScaled(const Decimal& d, int decimals, Wide lo, Wide hi) {
  const Wide cap = static_cast<Wide>(1) << 100;
  Wide v = 0;
  for (char c : d.intDigits) {
    v = v * 10 + (c - '0');
    if (v > cap) return std::nullopt;
  }
  std::size_t k = 0;
  for (; static_cast<int>(k) < decimals; ++k) {
    v = v * 10 + (k < d.fracDigits.size() ? d.fracDigits[k] - '0' : 0);
    if (v > cap) return std::nullopt;
  }
  // Rounding on the remaining digits: first digit decides, the rest break a tie.
  if (k < d.fracDigits.size()) {
    int first = d.fracDigits[k] - '0';
    bool restNonZero = false;
    for (std::size_t j = k + 1; j < d.fracDigits.size(); ++j)
      if (d.fracDigits[j] != '0') restNonZero = true;
    if (first > 5 || (first == 5 && (restNonZero || (v % 2) != 0))) ++v;
  }
  if (d.negative) v = -v;
  if (v < lo || v > hi) return std::nullopt;
  return v;
}

std::optional<std::int32_t> parseHex(std::string_view s) {
  if (s.empty() || s.size() > 8) return std::nullopt;
  std::uint32_t v = 0;
  for (char c : s) {
    const int digit = hexDigitValue(c);
    if (digit < 0) return std::nullopt;
    v = (v << 4) | static_cast<std::uint32_t>(digit);
  }
  return static_cast<std::int32_t>(v);
}

}  // namespace

std::optional<std::int32_t> parseInteger(std::string_view text) {
  std::string_view s = trimBlanks(text);
  if (s.size() >= 2 && s[0] == '&' && (s[1] == 'H' || s[1] == 'h')) return parseHex(s.substr(2));
  Decimal d;
  std::size_t used = scanDecimal(s, d);
  if (used == 0 || used != s.size()) return std::nullopt;
  auto v = roundScaled(d, 0, std::numeric_limits<std::int32_t>::min(),
                       std::numeric_limits<std::int32_t>::max());
  if (!v) return std::nullopt;
  return static_cast<std::int32_t>(*v);
}

std::optional<std::int16_t> parseInteger16(std::string_view text) {
  auto v = parseInteger(text);
  if (!v || *v < std::numeric_limits<std::int16_t>::min() ||
      *v > std::numeric_limits<std::int16_t>::max())
    return std::nullopt;
  return static_cast<std::int16_t>(*v);
}

std::optional<std::int32_t> parseLeadingNumber(std::string_view text) {
  std::string_view s = text;
  while (!s.empty() && isBlankAscii(s.front())) s.remove_prefix(1);
  Decimal d;
  if (scanDecimal(s, d) == 0) return 0;
  auto v = roundScaled(d, 0, std::numeric_limits<std::int32_t>::min(),
                       std::numeric_limits<std::int32_t>::max());
  if (!v) return std::nullopt;
  return static_cast<std::int32_t>(*v);
}

std::optional<std::int64_t> parseFixed4(std::string_view text) {
  std::string_view s = trimBlanks(text);
  Decimal d;
  std::size_t used = scanDecimal(s, d);
  if (used == 0 || used != s.size()) return std::nullopt;
  auto v = roundScaled(d, 4, std::numeric_limits<std::int64_t>::min(),
                       std::numeric_limits<std::int64_t>::max());
  if (!v) return std::nullopt;
  return static_cast<std::int64_t>(*v);
}

std::optional<double> parseDecimal(std::string_view text) {
  std::string_view s = trimBlanks(text);
  Decimal d;
  std::size_t used = scanDecimal(s, d);
  if (used == 0 || used != s.size()) return std::nullopt;
  std::string all = (d.negative ? "-" : "") + (d.intDigits.empty() ? "0" : d.intDigits) + "." +
                    (d.fracDigits.empty() ? "0" : d.fracDigits);
  return std::strtod(all.c_str(), nullptr);
}

}  // namespace falcet
