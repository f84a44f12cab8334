#pragma once
// UTF-8 <-> UTF-16 for the Win32 window (the core's text is UTF-8; Win32 takes UTF-16).

#include <windows.h>

#include <string>
#include <string_view>

#include "platform/wide_text_win.hpp"

namespace falcet::win {

inline std::wstring wide(std::string_view utf8) { return utf8ToWide(utf8); }
inline std::string utf8(std::wstring_view text) { return wideToUtf8(text); }

inline std::wstring windowText(HWND h) {
  std::wstring text(static_cast<std::size_t>(::GetWindowTextLengthW(h)) + 1, L'\0');
  text.resize(static_cast<std::size_t>(::GetWindowTextW(h, text.data(), static_cast<int>(text.size()))));
  return text;
}

}  // namespace falcet::win
