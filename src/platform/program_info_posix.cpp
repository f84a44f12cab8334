#include "platform/program_info.hpp"

#include <system_error>

namespace falcet {

std::filesystem::path programFile() {
  std::error_code ec;
  auto p = std::filesystem::read_symlink("/proc/self/exe", ec);
  return ec ? std::filesystem::path() : p;
}

std::filesystem::path programFolder() {
  auto f = programFile();
  if (f.empty()) {
    std::error_code ec;
    auto cur = std::filesystem::current_path(ec);
    return ec ? std::filesystem::path(".") : cur;
  }
  return f.parent_path();
}

}  // namespace falcet
