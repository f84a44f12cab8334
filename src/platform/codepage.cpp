#include "platform/codepage.hpp"

#include <cerrno>
#include <clocale>
#include <cstring>
#include <iconv.h>
#include <langinfo.h>

#include "util/ascii.hpp"

namespace falcet {
namespace {

bool sameCharset(std::string_view a, std::string_view b) {
  auto norm = [](std::string_view s) {
    std::string out;
    for (char c : s) {
      if (c == '-' || c == '_') continue;
      out += toUpperAscii(c);
    }
    return out;
  };
  return norm(a) == norm(b);
}

// Converts with iconv; on an invalid input sequence writes `replacement` and skips one byte
// (or, when the input is UTF-8, one whole character).
std::string convert(std::string_view in, const char* from, const char* to,
                    std::string_view replacement, bool inputIsUtf8) {
  iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) return std::string(in);
  std::string out;
  out.reserve(in.size() + 16);
  char* src = const_cast<char*>(in.data());
  std::size_t srcLeft = in.size();
  char buf[4096];
  while (srcLeft > 0) {
    char* dst = buf;
    std::size_t dstLeft = sizeof buf;
    std::size_t r = iconv(cd, &src, &srcLeft, &dst, &dstLeft);
    out.append(buf, static_cast<std::size_t>(dst - buf));
    if (r != static_cast<std::size_t>(-1)) continue;
    if (errno == E2BIG) continue;
    // EILSEQ or EINVAL (truncated sequence at the end): replace and step over it.
    out.append(replacement);
    std::size_t step = inputIsUtf8 ? utf8CharLength(static_cast<unsigned char>(*src)) : 1;
    if (step > srcLeft) step = srcLeft;
    src += step;
    srcLeft -= step;
  }
  char* dst = buf;
  std::size_t dstLeft = sizeof buf;
  iconv(cd, nullptr, nullptr, &dst, &dstLeft);
  out.append(buf, static_cast<std::size_t>(dst - buf));
  iconv_close(cd);
  return out;
}

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

// UTF-8 with every byte that does not start a well-formed character replaced by U+FFFD.
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

}  // namespace

std::size_t utf8CharLength(unsigned char lead) {
  if (lead < 0x80) return 1;
  if ((lead & 0xE0) == 0xC0) return 2;
  if ((lead & 0xF0) == 0xE0) return 3;
  if ((lead & 0xF8) == 0xF0) return 4;
  return 1;
}

std::string initLocale() {
  std::setlocale(LC_ALL, "");
  // Numbers in files are written with "." whatever the locale says.
  std::setlocale(LC_NUMERIC, "C");
  return localeCharset();
}

std::string localeCharset() {
  const char* cs = nl_langinfo(CODESET);
  return cs ? cs : "";
}

bool localeIsUtf8() {
  std::string cs = localeCharset();
  return cs.empty() || sameCharset(cs, "UTF-8") || sameCharset(cs, "ANSI_X3.4-1968") ||
         sameCharset(cs, "ASCII");
}

std::string utf8ToLocale(std::string_view utf8) {
  if (localeIsUtf8()) return std::string(utf8);
  return convert(utf8, "UTF-8", localeCharset().c_str(), "?", true);
}

std::string localeToUtf8(std::string_view bytes) {
  if (localeIsUtf8()) return std::string(bytes);
  return convert(bytes, localeCharset().c_str(), "UTF-8", "\xEF\xBF\xBD", false);
}

std::string charsetToUtf8(std::string_view bytes, const char* charset) {
  // Text that claims to be UTF-8 (a byte-order mark says so) is checked: the rest of the program
  // relies on it being UTF-8 once converted.
  if (sameCharset(charset, "UTF-8")) return wellFormedUtf8(bytes);
  return convert(bytes, charset, "UTF-8", "\xEF\xBF\xBD", false);
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

std::filesystem::path nativePath(std::string_view utf8) {
  return std::filesystem::path(utf8ToLocale(utf8));
}

std::string utf8Path(const std::filesystem::path& path) { return localeToUtf8(path.native()); }

}  // namespace falcet
