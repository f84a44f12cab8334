#pragma once
// The end of an export or an import in the Win32 window: the report text at the top, and below
// it a list view of the pictures with thumbnails decoded by the Windows Imaging Component
// (number, file, format, width × height, bytes, owner; after an import also each entry's verdict
// and whether the picture changed, changed rows marked). A click on a column heading sorts by it,
// a double-click opens the picture file with the system's program. Modal over owner; it scrolls
// and fits an 800 × 600 screen.

#include <windows.h>

#include "transfer/result.hpp"

namespace falcet::win {

inline constexpr wchar_t kResultWindowClass[] = L"FalcetResult";

void showResultView(HWND owner, const ResultReport& result);

}  // namespace falcet::win
