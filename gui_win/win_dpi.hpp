#pragma once
// The DPI a window is drawn at.

#include <windows.h>

namespace falcet::win {

inline UINT windowDpi(HWND h) {
  // GetDpiForWindow exists from Windows 10 1607; before that the screen's DPI applies.
  using GetDpiForWindowFn = UINT(WINAPI*)(HWND);
  static const auto getDpi = reinterpret_cast<GetDpiForWindowFn>(
      reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"user32.dll"), "GetDpiForWindow")));
  if (getDpi && h) return getDpi(h);
  HDC screen = ::GetDC(nullptr);
  const int dpi = ::GetDeviceCaps(screen, LOGPIXELSY);
  ::ReleaseDC(nullptr, screen);
  return dpi > 0 ? static_cast<UINT>(dpi) : 96;
}

}  // namespace falcet::win
