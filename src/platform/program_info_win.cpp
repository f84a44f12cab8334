#include "platform/program_info.hpp"

#include <system_error>
#include <windows.h>

namespace falcet {

std::filesystem::path programFile() {
  std::wstring name(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = ::GetModuleFileNameW(nullptr, name.data(), static_cast<DWORD>(name.size()));
    if (n == 0) return {};
    if (n < name.size()) {
      name.resize(n);
      return std::filesystem::path(name);
    }
    name.resize(name.size() * 2);  // a long path: try again with more room
  }
}

}  // namespace falcet
