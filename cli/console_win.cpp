#include <windows.h>

#include <cstdio>

#include "console.hpp"
#include "platform/codepage.hpp"
#include "platform/wide_text_win.hpp"

namespace falcet::cli {
namespace {

std::wstring wide(std::string_view utf8) { return utf8ToWide(utf8); }
std::string narrow(const wchar_t* text) { return wideToUtf8(text); }

}  // namespace

bool errorIsTerminal() {
  HANDLE h = ::GetStdHandle(STD_ERROR_HANDLE);
  DWORD mode = 0;
  return h != INVALID_HANDLE_VALUE && h != nullptr && ::GetConsoleMode(h, &mode);
}

void printText(std::string_view utf8, bool error) {
  HANDLE h = ::GetStdHandle(error ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE);
  DWORD mode = 0;
  if (h != INVALID_HANDLE_VALUE && h != nullptr && ::GetConsoleMode(h, &mode)) {
    std::wstring text;
    for (wchar_t c : wide(utf8)) {
      if (c == L'\n') text += L'\r';
      text += c;
    }
    DWORD written = 0;
    ::WriteConsoleW(h, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    return;
  }
  // A pipe or a file: the ANSI code page, with Windows line ends.
  std::string bytes;
  for (char c : utf8ToLocale(utf8)) {
    if (c == '\n') bytes += '\r';
    bytes += c;
  }
  std::FILE* stream = error ? stderr : stdout;
  std::fwrite(bytes.data(), 1, bytes.size(), stream);
  std::fflush(stream);
}

void printUtf8(std::string_view utf8) {
  HANDLE h = ::GetStdHandle(STD_OUTPUT_HANDLE);
  DWORD mode = 0;
  if (h != INVALID_HANDLE_VALUE && h != nullptr && ::GetConsoleMode(h, &mode)) {
    printText(utf8, false);
    return;
  }
  std::string bytes;
  for (char c : utf8) {
    if (c == '\n') bytes += '\r';
    bytes += c;
  }
  std::fwrite(bytes.data(), 1, bytes.size(), stdout);
  std::fflush(stdout);
}

}  // namespace falcet::cli

int wmain(int argc, wchar_t** argv) {
  falcet::initLocale();
  // Binary streams: the line ends are written above as they should be.
  std::setvbuf(stdout, nullptr, _IOFBF, 1 << 16);
  std::vector<std::string> args;
  for (int i = 0; i < argc; ++i) args.push_back(falcet::cli::narrow(argv[i]));
  return falcet::cli::run(args);
}
