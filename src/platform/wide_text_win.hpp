#pragma once
// UTF-8 <-> UTF-16 for the Windows code (the console, the window, the code page layer): the
// program's text is UTF-8, Win32 takes UTF-16. Windows only.

#include <string>
#include <string_view>

namespace falcet {

[[nodiscard]] std::wstring utf8ToWide(std::string_view utf8);
[[nodiscard]] std::string wideToUtf8(std::wstring_view text);

}  // namespace falcet
