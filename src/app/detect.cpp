#include "app/detect.hpp"

#include <algorithm>
#include <cstring>
#include <limits>

#include "formats/delphi_text_form.hpp"
#include "formats/pe_image.hpp"
#include "formats/vb_program.hpp"
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

// The kind a program's content says, or nullopt when it says neither.
std::optional<SourceKindValue> kindByContent(const ByteReader& file) {
  const auto image = readPeImage(file);
  if (!image) return std::nullopt;
  // Delphi, C++Builder and Lazarus keep each form as an RCDATA resource holding a form stream.
  for (const ResourceEntry& e : readResources(file, *image)) {
    unsigned char head[4];
    if (e.type.named || e.type.id != kRtRcData || !e.offset || e.size < 4) continue;
    if (file.read(*e.offset, head, 4) && std::memcmp(head, "TPF0", 4) == 0) return SourceKindValue::DelphiExe;
  }
  if (vbHeaderOffset(file, *image)) return SourceKindValue::VbExe;
  for (const std::string& library : importedLibraries(file, *image))
    if (equalsIgnoreCaseAscii(library, "MSVBVM60.DLL") || equalsIgnoreCaseAscii(library, "MSVBVM50.DLL"))
      return SourceKindValue::VbExe;
  return std::nullopt;
}

}  // namespace

bool IsDelphiExecutable(const std::string& name) {
  const auto path = nativePath(name);
  const auto st = fileStatus(path);
  if (!st || !st->regular || st->size > std::numeric_limits<std::int32_t>::max()) return false;
  FileDescriptor fd = openRegularForRead(path);
  if (!fd.valid()) return false;
  const FileReader file(fd, static_cast<std::int64_t>(st->size));
  if (const auto kind = kindByContent(file)) return *kind == SourceKindValue::DelphiExe;
  return probeFirstSectionName(file) == "CODE";
}

std::optional<SourceKindValue> DetectSourceKind(const std::string& name) {
  const std::string ending = toLowerAscii(lastCharacters(name, 4));
  if (ending == ".exe")
    return IsDelphiExecutable(name) ? SourceKindValue::DelphiExe : SourceKindValue::VbExe;
  if (ending == ".bin" || isVbBlobFileName(name)) return SourceKindValue::VbBin;
  if (ending == ".dfm" || ending == ".lfm" || ending == ".fmx" || ending == ".xfm") return SourceKindValue::DelphiDfm;
  // A form saved as text under any other name.
  const auto path = nativePath(name);
  const auto st = fileStatus(path);
  if (!st || !st->regular || st->size <= 0) return std::nullopt;
  FileDescriptor fd = openRegularForRead(path);
  unsigned char head[64];
  const std::size_t n = std::min<std::size_t>(sizeof head, static_cast<std::size_t>(st->size));
  if (fd.valid() && readAllAt(fd, 0, head, n) && looksLikeTextForm(ByteSpan(head, n))) return SourceKindValue::DelphiDfm;
  return std::nullopt;
}

}  // namespace falcet
