#include "platform/program_info.hpp"

#include <system_error>

namespace falcet {

std::filesystem::path programFile() {
  std::error_code ec;
  auto p = std::filesystem::read_symlink("/proc/self/exe", ec);
  return ec ? std::filesystem::path() : p;
}

}  // namespace falcet
