#include "app/detect.hpp"

#include <algorithm>
#include <fcntl.h>
#include <limits>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/codepage.hpp"
#include "platform/file_io.hpp"
#include "settings/ini_file.hpp"

namespace falcet {
namespace {

// Reads a file the way the probe does: SeekTo moves only to offsets inside the file, and a read
// goes on from where the previous one stopped. Bytes past the end read as zero.
class Probe {
 public:
  Probe(int fd, std::int32_t length) : m_fd(fd), m_length(length) {}

  // False on an offset that overflows or is negative (the probe then gives up).
  bool seekTo(std::int64_t offset) {
    if (offset + 1 > std::numeric_limits<std::int32_t>::max()) return false;
    if (offset + 1 < m_length) {
      if (offset < 0) return false;
      m_pos = offset;
    }
    return true;
  }

  bool read(void* out, std::size_t n) {
    auto* p = static_cast<unsigned char*>(out);
    std::fill(p, p + n, static_cast<unsigned char>(0));
    std::size_t got = 0;
    while (got < n) {
      ssize_t r = ::pread(m_fd, p + got, n - got, static_cast<off_t>(m_pos) + static_cast<off_t>(got));
      if (r < 0) return false;
      if (r == 0) break;
      got += static_cast<std::size_t>(r);
    }
    m_pos += static_cast<std::int64_t>(n);
    return true;
  }

  bool readI32(std::int32_t& v) {
    unsigned char b[4];
    if (!read(b, 4)) return false;
    v = static_cast<std::int32_t>(static_cast<std::uint32_t>(b[0]) | static_cast<std::uint32_t>(b[1]) << 8 |
                                  static_cast<std::uint32_t>(b[2]) << 16 | static_cast<std::uint32_t>(b[3]) << 24);
    return true;
  }

  bool readI16(std::int16_t& v) {
    unsigned char b[2];
    if (!read(b, 2)) return false;
    v = static_cast<std::int16_t>(static_cast<std::uint16_t>(b[0] | b[1] << 8));
    return true;
  }

 private:
  int m_fd;
  std::int32_t m_length;
  std::int64_t m_pos = 0;
};

std::string lowerAscii(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
  return s;
}

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
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0 || st.st_size > std::numeric_limits<std::int32_t>::max())
    return {};
  const auto probeLength = static_cast<std::int32_t>(st.st_size);
  if (probeLength < 1023) return {};
  FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd.valid()) return {};
  Probe probe(fd.get(), probeLength);
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

std::optional<std::int32_t> DetectSourceKind(const std::string& name) {
  const std::string ending = lowerAscii(lastCharacters(name, 4));
  if (ending == ".exe") return IsDelphiExecutable(name) ? 2 : 0;
  if (ending == ".bin") return 1;
  if (ending == ".dfm") return 3;
  return std::nullopt;
}

}  // namespace falcet
