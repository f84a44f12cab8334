// The ANSI code page on Win32: GetACP() with MultiByteToWideChar / WideCharToMultiByte. Paths go
// UTF-8 <-> UTF-16 directly, so a file name in any script works whatever the code page.

#include <windows.h>

#include <atomic>
#include <clocale>
#include <string>

#include "platform/codepage.hpp"
#include "platform/wide_text_win.hpp"

namespace falcet {
namespace {

std::atomic<unsigned> g_testCodePage{0};

unsigned codePage() {
  const unsigned forced = g_testCodePage.load();
  return forced ? forced : ::GetACP();
}

std::wstring toWide(std::string_view bytes, unsigned cp) {
  if (bytes.empty()) return {};
  const int n = ::MultiByteToWideChar(cp, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
  std::wstring out(static_cast<std::size_t>(n), L'\0');
  ::MultiByteToWideChar(cp, 0, bytes.data(), static_cast<int>(bytes.size()), out.data(), n);
  return out;
}

// UTF-16 -> bytes in cp; a character cp cannot hold becomes "?" (never a best-fit look-alike).
std::string fromWide(std::wstring_view wide, unsigned cp) {
  if (wide.empty()) return {};
  const DWORD flags = cp == CP_UTF8 ? 0 : WC_NO_BEST_FIT_CHARS;
  const char* defaultChar = cp == CP_UTF8 ? nullptr : "?";
  const int n = ::WideCharToMultiByte(cp, flags, wide.data(), static_cast<int>(wide.size()), nullptr, 0,
                                      defaultChar, nullptr);
  std::string out(static_cast<std::size_t>(n), '\0');
  ::WideCharToMultiByte(cp, flags, wide.data(), static_cast<int>(wide.size()), out.data(), n, defaultChar,
                        nullptr);
  return out;
}

}  // namespace

std::wstring utf8ToWide(std::string_view utf8) { return toWide(utf8, CP_UTF8); }
std::string wideToUtf8(std::wstring_view text) { return fromWide(text, CP_UTF8); }

void useCodePageForTesting(unsigned cp) { g_testCodePage = cp; }

std::string initLocale() {
  std::setlocale(LC_ALL, "");
  std::setlocale(LC_NUMERIC, "C");
  return localeCharset();
}

std::string localeCharset() {
  const unsigned cp = codePage();
  return cp == CP_UTF8 ? "UTF-8" : "CP" + std::to_string(cp);
}

bool localeIsUtf8() { return codePage() == CP_UTF8; }

std::string utf8ToLocale(std::string_view utf8) {
  if (localeIsUtf8()) return std::string(utf8);
  return fromWide(toWide(wellFormedUtf8(utf8), CP_UTF8), codePage());
}

std::string localeToUtf8(std::string_view bytes) {
  if (localeIsUtf8()) return wellFormedUtf8(bytes);
  // Bytes the code page has no character for become U+FFFD (or the code page's own stand-in).
  return fromWide(toWide(bytes, codePage()), CP_UTF8);
}

std::string charsetToUtf8(std::string_view bytes, const char* charset) {
  const std::string_view name(charset);
  if (name == "UTF-8") return wellFormedUtf8(bytes);
  if (name == "UTF-16LE") return utf16ToUtf8(bytes, false);
  if (name == "UTF-16BE") return utf16ToUtf8(bytes, true);
  return localeToUtf8(bytes);
}

std::filesystem::path nativePath(std::string_view utf8) {
  return std::filesystem::path(toWide(wellFormedUtf8(utf8), CP_UTF8));
}

std::string utf8Path(const std::filesystem::path& path) { return fromWide(path.native(), CP_UTF8); }

}  // namespace falcet
