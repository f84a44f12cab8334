// The locale's character set through iconv (POSIX).

#include "platform/codepage.hpp"

#include <cerrno>
#include <clocale>
#include <cstring>
#include <iconv.h>
#include <langinfo.h>

#include "base/ascii.hpp"

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

}  // namespace

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
  if (sameCharset(charset, "UTF-16LE")) return utf16ToUtf8(bytes, false);
  if (sameCharset(charset, "UTF-16BE")) return utf16ToUtf8(bytes, true);
  return convert(bytes, charset, "UTF-8", "\xEF\xBF\xBD", false);
}

std::filesystem::path nativePath(std::string_view utf8) {
  return std::filesystem::path(utf8ToLocale(utf8));
}

std::string utf8Path(const std::filesystem::path& path) { return localeToUtf8(path.native()); }

void useCodePageForTesting(unsigned) {}

}  // namespace falcet
