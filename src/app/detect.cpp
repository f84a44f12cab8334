#include "app/detect.hpp"

#include <algorithm>
#include <limits>

#include "platform/codepage.hpp"
#include "platform/file_io.hpp"
#include "transfer/companion.hpp"
#include "util/ascii.hpp"
#include "util/bytes.hpp"

namespace falcet {
namespace {

// Reads a file the way the probe does: SeekTo moves only to offsets inside the file, and a read
// goes on from where the previous one stopped. Bytes past the end read as zero.
class Probe {
 public:
  Probe(const FileDescriptor& file, std::int32_t length) : m_file(file), m_length(length) {}

  // False on an offset that overflows or is negative (the probe then gives up).
  bool seekTo(std::int64_t offset) {
    if (offset + 1 > std::numeric_limits<std::int32_t>::max()) return false;
    if (offset + 1 < m_length) {
      if (offset < 0) return false;
      m_pos = offset;
    }
    return true;
  }

  // Reads n bytes from the current offset; bytes past the end read as zero.
  bool read(void* out, std::size_t n) {
    auto* p = static_cast<unsigned char*>(out);
    std::fill(p, p + n, static_cast<unsigned char>(0));
    const std::int64_t avail = std::max<std::int64_t>(0, m_length - m_pos);
    const auto want = static_cast<std::size_t>(std::min<std::int64_t>(avail, static_cast<std::int64_t>(n)));
    if (want > 0 && !readAllAt(m_file, m_pos, p, want)) return false;
    m_pos += static_cast<std::int64_t>(n);
    return true;
  }

  bool readI32(std::int32_t& v) {
    unsigned char b[4];
    if (!read(b, 4)) return false;
    v = static_cast<std::int32_t>(loadU32le(b));
    return true;
  }

  bool readI16(std::int16_t& v) {
    unsigned char b[2];
    if (!read(b, 2)) return false;
    v = static_cast<std::int16_t>(loadU16le(b));
    return true;
  }

 private:
  const FileDescriptor& m_file;
  std::int32_t m_length;
  std::int64_t m_pos = 0;
};

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
  if (!st || st->size > std::numeric_limits<std::int32_t>::max()) return {};
  const auto probeLength = static_cast<std::int32_t>(st->size);
  if (probeLength < 1023) return {};
  FileDescriptor fd = openRegularForRead(path);
  if (!fd.valid()) return {};
  Probe probe(fd, probeLength);
  std::int32_t headerOffset = 0, signature = 0;
  std::int16_t sections = 0;
  if (!probe.seekTo(60) || !probe.readI32(headerOffset)) return {};
  if (!probe.seekTo(headerOffset) || !probe.readI32(signature)) return {};
  if (signature != 17744) return {};
  if (!probe.seekTo(static_cast<std::int64_t>(headerOffset) + 6) || !probe.readI16(sections)) return {};
  if (sections == 0 || sections > 20) return {};
  char header[40];
  if (!probe.seekTo(static_cast<std::int64_t>(headerOffset) + 248) || !probe.read(header, sizeof header))
    return {};
  return CutAtNul(localeToUtf8(std::string_view(header, sizeof header)));
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
