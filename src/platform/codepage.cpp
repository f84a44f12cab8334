#include "platform/codepage.hpp"

namespace falcet {
namespace {

// Length of the well-formed UTF-8 character at s[i] (RFC 3629: no overlong forms, no surrogates,
// nothing above U+10FFFF), or 0 when the bytes there are not one.
std::size_t wellFormedLength(std::string_view s, std::size_t i) {
  const auto c = static_cast<unsigned char>(s[i]);
  if (c < 0x80) return 1;
  std::size_t n;
  unsigned char lo = 0x80, hi = 0xBF;  // the allowed range of the second byte
  if (c >= 0xC2 && c <= 0xDF) n = 2;
  else if (c >= 0xE0 && c <= 0xEF) {
    n = 3;
    if (c == 0xE0) lo = 0xA0;
    if (c == 0xED) hi = 0x9F;
  } else if (c >= 0xF0 && c <= 0xF4) {
    n = 4;
    if (c == 0xF0) lo = 0x90;
    if (c == 0xF4) hi = 0x8F;
  } else {
    return 0;
  }
  if (n > s.size() - i) return 0;
  const auto second = static_cast<unsigned char>(s[i + 1]);
  if (second < lo || second > hi) return 0;
  for (std::size_t k = 2; k < n; ++k)
    if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return 0;
  return n;
}

}  // namespace

std::string wellFormedUtf8(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  for (std::size_t i = 0; i < s.size();) {
    const std::size_t n = wellFormedLength(s, i);
    if (n == 0) {
      out += "\xEF\xBF\xBD";
      ++i;
    } else {
      out.append(s.substr(i, n));
      i += n;
    }
  }
  return out;
}

std::string utf16ToUtf8(std::string_view bytes, bool bigEndian) {
  auto unit = [&](std::size_t i) {
    const auto a = static_cast<unsigned char>(bytes[i]), b = static_cast<unsigned char>(bytes[i + 1]);
    return static_cast<std::uint32_t>(bigEndian ? (a << 8 | b) : (b << 8 | a));
  };
  std::string out;
  out.reserve(bytes.size());
  auto put = [&](std::uint32_t c) {
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | c >> 6);
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | c >> 12);
      out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | c >> 18);
      out += static_cast<char>(0x80 | (c >> 12 & 0x3F));
      out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  };
  std::size_t i = 0;
  for (; i + 1 < bytes.size(); i += 2) {
    const std::uint32_t u = unit(i);
    if (u >= 0xD800 && u <= 0xDBFF && i + 3 < bytes.size()) {
      const std::uint32_t low = unit(i + 2);
      if (low >= 0xDC00 && low <= 0xDFFF) {
        put(0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00));
        i += 2;
        continue;
      }
    }
    put(u >= 0xD800 && u <= 0xDFFF ? 0xFFFD : u);
  }
  if (i < bytes.size()) put(0xFFFD);  // an odd byte at the end
  return out;
}

std::size_t utf8CharLength(unsigned char lead) {
  if (lead < 0x80) return 1;
  if ((lead & 0xE0) == 0xC0) return 2;
  if ((lead & 0xF0) == 0xE0) return 3;
  if ((lead & 0xF8) == 0xF0) return 4;
  return 1;
}

std::string cutToLocaleBytes(std::string_view utf8, std::size_t maxBytes) {
  if (utf8ToLocale(utf8).size() <= maxBytes) return std::string(utf8);
  std::size_t used = 0;
  std::size_t i = 0;
  while (i < utf8.size()) {
    std::size_t n = utf8CharLength(static_cast<unsigned char>(utf8[i]));
    if (n > utf8.size() - i) n = utf8.size() - i;
    std::size_t width = localeIsUtf8() ? n : utf8ToLocale(utf8.substr(i, n)).size();
    if (used + width > maxBytes) break;
    used += width;
    i += n;
  }
  return std::string(utf8.substr(0, i));
}

}  // namespace falcet
