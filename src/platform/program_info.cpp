#include "platform/program_info.hpp"

#include <system_error>

namespace falcet {

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
