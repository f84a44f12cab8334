#include "fuzz_support.hpp"

#include <fstream>
#include <system_error>
#include <unistd.h>
#include <vector>

namespace falcet::fuzz {
namespace {

struct Scratch {
  std::filesystem::path path;
  Scratch() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "falcet-fuzz-XXXXXX").string();
    std::vector<char> name(tmpl.begin(), tmpl.end());
    name.push_back('\0');
    if (!::mkdtemp(name.data())) fail("cannot make a scratch folder");
    path = name.data();
  }
  ~Scratch() {
    std::error_code ec;
    std::filesystem::remove_all(path, ec);
  }
};

}  // namespace

const std::filesystem::path& scratchFolder() {
  static Scratch scratch;
  return scratch.path;
}

void clearScratch() {
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(scratchFolder(), ec))
    std::filesystem::remove_all(entry.path(), ec);
}

std::string readFileBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void writeFileBytes(const std::filesystem::path& path, std::string_view bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) fail("cannot write a scratch file");
}

PictureKind readKind(InputReader& in, std::size_t index, std::size_t maxMarker) {
  PictureKind k;
  k.Name = "k" + std::to_string(index);
  k.FileHandleMark = in.bytes(in.u8() % (maxMarker + 1));
  k.FilePosFix = in.s8();
  k.BinFileLenPos = in.s8();
  const std::uint8_t flags = in.u8();
  k.FileLenPos = (flags & 1) ? in.s8() : 0;
  k.DfmBlockLenPos = (flags & 2) ? in.s8() : 0;
  k.DfmBlockLenFix = (flags & 4) ? in.s8() : 0;
  k.BinFileLenFix = (flags & 8) ? in.s8() : 0;
  k.FileExt = (flags & 16) ? "*" : "bin";
  return k;
}

}  // namespace falcet::fuzz
