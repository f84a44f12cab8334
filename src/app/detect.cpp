#include "app/detect.hpp"

#include <algorithm>
#include <limits>

#include "formats/pe_image.hpp"
#include "platform/codepage.hpp"
#include "platform/file_io.hpp"
#include "transfer/companion.hpp"
#include "base/ascii.hpp"

namespace falcet {
namespace {

// The last n characters (code points) of a UTF-8 text, or all of it.
std::string lastCharacters(const std::string& text, std::size_t n) {
  std::size_t i = text.size();
  while (n > 0 && i > 0) {
    --i;
    while (i > 0 && (static_cast<unsigned char>(text[i]) & 0xC0) == 0x80) --i;
    --n;
  }
  return text.substr(i);
}

}  // namespace

std::string ReadFirstSectionName(const std::string& name) {
  const auto path = nativePath(name);
  const auto st = fileStatus(path);
  if (!st || st->size > std::numeric_limits<std::int32_t>::max() || st->size < 1023) return {};
  FileDescriptor fd = openRegularForRead(path);
  if (!fd.valid()) return {};
  return probeFirstSectionName(FileReader(fd, static_cast<std::int64_t>(st->size)));
}

bool IsDelphiExecutable(const std::string& name) {
  const std::string section = ReadFirstSectionName(name);
  if (section == ".text") return false;
  return section == "CODE";
}

std::optional<SourceKindValue> DetectSourceKind(const std::string& name) {
  const std::string ending = toLowerAscii(lastCharacters(name, 4));
  if (ending == ".exe")
    return IsDelphiExecutable(name) ? SourceKindValue::DelphiExe : SourceKindValue::VbExe;
  if (ending == ".bin" || isVbBlobFileName(name)) return SourceKindValue::VbBin;
  if (ending == ".dfm") return SourceKindValue::DelphiDfm;
  return std::nullopt;
}

}  // namespace falcet
