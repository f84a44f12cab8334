#include "formats/pe_image.hpp"

#include <algorithm>
#include <cstring>
#include <limits>
#include <set>

#include "base/ascii.hpp"
#include "platform/codepage.hpp"

namespace falcet {

std::optional<std::int64_t> PeImage::offsetOfRva(std::uint32_t rva) const {
  for (const PeSection& s : sections) {
    if (rva >= s.virtualAddress && rva - s.virtualAddress < s.rawSize) {
      const std::int64_t off = std::int64_t{s.rawOffset} + (rva - s.virtualAddress);
      if (off < fileSize) return off;
    }
  }
  return std::nullopt;
}

std::optional<std::int64_t> PeImage::offsetOfAddress(std::uint64_t address) const {
  if (address < imageBase || address - imageBase > std::numeric_limits<std::uint32_t>::max()) return std::nullopt;
  return offsetOfRva(static_cast<std::uint32_t>(address - imageBase));
}

const PeSection* PeImage::sectionOfRva(std::uint32_t rva) const {
  for (const PeSection& s : sections)
    if (rva >= s.virtualAddress && rva - s.virtualAddress < std::max(s.virtualSize, s.rawSize)) return &s;
  return nullptr;
}

std::optional<PeImage> readPeImage(const ByteReader& reader) {
  ByteWindow bytes(reader);
  if (bytes.u16(0) != 0x5A4Du) return std::nullopt;  // "MZ"
  const auto pe = bytes.u32(0x3C);
  if (!pe || bytes.u32(*pe) != 0x00004550u) return std::nullopt;  // "PE\0\0"
  PeImage image;
  image.fileSize = bytes.size();
  image.peOffset = *pe;
  const auto machine = bytes.u16(*pe + 4);
  const auto count = bytes.u16(*pe + 6);
  const auto optSize = bytes.u16(*pe + 20);
  const std::int64_t opt = image.peOffset + 24;
  const auto magic = bytes.u16(opt);
  if (!machine || !count || !optSize || (magic != 0x10B && magic != 0x20B)) return std::nullopt;
  image.machine = *machine;
  image.is64 = magic == 0x20B;
  image.optionalHeaderOffset = opt;
  image.optionalHeaderSize = *optSize;
  const auto entry = bytes.u32(opt + 16);
  std::optional<std::uint64_t> base;
  if (image.is64) base = bytes.u64(opt + 24);
  else if (const auto base32 = bytes.u32(opt + 28)) base = *base32;
  const auto sectionAlign = bytes.u32(opt + 32), fileAlign = bytes.u32(opt + 36);
  const auto sizeOfImage = bytes.u32(opt + 56), sizeOfHeaders = bytes.u32(opt + 60), checksum = bytes.u32(opt + 64);
  const std::int64_t countAt = opt + (image.is64 ? 108 : 92);
  const auto directories = bytes.u32(countAt);
  if (!entry || !base || !sectionAlign || !fileAlign || !sizeOfImage || !sizeOfHeaders || !checksum || !directories)
    return std::nullopt;
  image.entryPoint = *entry;
  image.imageBase = *base;
  image.sectionAlignment = *sectionAlign;
  image.fileAlignment = *fileAlign;
  image.sizeOfImage = *sizeOfImage;
  image.sizeOfHeaders = *sizeOfHeaders;
  image.checksum = *checksum;
  image.checksumOffset = opt + 64;
  image.directoriesOffset = countAt + 4;
  // The directories that fit in the optional header as its size says.
  const std::int64_t room = (opt + *optSize - image.directoriesOffset) / 8;
  const std::int64_t listed = std::min<std::int64_t>({std::int64_t{*directories}, room, 16});
  for (std::int64_t i = 0; i < listed; ++i) {
    const auto address = bytes.u32(image.directoriesOffset + 8 * i), size = bytes.u32(image.directoriesOffset + 8 * i + 4);
    if (!address || !size) return std::nullopt;
    image.directories.push_back({*address, *size});
  }
  const std::int64_t table = opt + *optSize;
  for (std::uint16_t i = 0; i < *count; ++i) {
    const std::int64_t s = table + 40 * std::int64_t{i};
    const unsigned char* name = bytes.at(s, 8);
    if (!name) return std::nullopt;
    PeSection section;
    section.name.assign(reinterpret_cast<const char*>(name), 8);
    section.name = section.name.substr(0, section.name.find('\0'));
    const auto vsize = bytes.u32(s + 8), va = bytes.u32(s + 12), rsize = bytes.u32(s + 16), raw = bytes.u32(s + 20),
               flags = bytes.u32(s + 36);
    if (!vsize || !va || !rsize || !raw || !flags) return std::nullopt;
    section.virtualSize = *vsize;
    section.virtualAddress = *va;
    section.rawSize = *rsize;
    section.rawOffset = *raw;
    section.characteristics = *flags;
    section.headerOffset = s;
    image.sections.push_back(std::move(section));
  }
  return image;
}

bool isExecutableImage(ByteSpan bytes) {
  if (bytes.size() < 0x40 || bytes[0] != 'M' || bytes[1] != 'Z') return false;
  const auto pe = u32le(bytes, 0x3C);
  return pe && u32le(bytes, *pe) == 0x00004550u;  // "PE\0\0"
}

namespace {

// Reads a file the way the probe does: seekTo moves only to offsets inside the file, and a read
// goes on from where the previous one stopped. Bytes past the end read as zero.
class Probe {
 public:
  explicit Probe(const ByteReader& file) : m_file(file), m_length(file.size()) {}

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
    const std::int64_t avail = std::max<std::int64_t>(0, m_length - m_pos);
    const auto want = static_cast<std::size_t>(std::min<std::int64_t>(avail, static_cast<std::int64_t>(n)));
    if (want > 0 && !m_file.read(m_pos, p, want)) return false;
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
  const ByteReader& m_file;
  std::int64_t m_length;
  std::int64_t m_pos = 0;
};

}  // namespace

std::string probeFirstSectionName(const ByteReader& file) {
  if (file.size() < 1023 || file.size() > std::numeric_limits<std::int32_t>::max()) return {};
  Probe probe(file);
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

namespace {

// Walks the resource tree: directory entries at 16 + 8 * i of each directory, the high bit of an
// entry's second word marking a subdirectory, of its first word a name string; offsets are from
// the start of the resource data.
class ResourceWalk {
 public:
  ResourceWalk(ByteWindow& bytes, const PeImage& image, std::uint32_t rootRva, std::int64_t root, std::uint32_t size)
      : m_bytes(bytes), m_image(image), m_rootRva(rootRva), m_root(root), m_size(size) {}

  void directory(std::uint32_t offset, int level, ResourceEntry& path, std::vector<ResourceEntry>& out) {
    if (level > 2 || !m_seen.insert(offset).second) return skipped();
    const std::int64_t at = m_root + offset;
    const auto named = m_bytes.u16(at + 12), ids = m_bytes.u16(at + 14);
    if (!named || !ids || offset + 16 > m_size) return skipped();
    if (level == 1) path.typeDirectory = at;
    else if (level == 2) path.nameDirectory = at;
    const std::uint32_t count = std::uint32_t{*named} + *ids;
    for (std::uint32_t i = 0; i < count; ++i) {
      const std::int64_t e = at + 16 + 8 * std::int64_t{i};
      const auto nameWord = m_bytes.u32(e), dataWord = m_bytes.u32(e + 4);
      if (!nameWord || !dataWord || (e + 8 - m_root) > m_size) return skipped();
      ResourceName name;
      if (*nameWord & 0x80000000u) {
        name.named = true;
        name.name = nameString(*nameWord & 0x7FFFFFFFu);
      } else {
        name.id = *nameWord;
      }
      if (level == 0) path.type = name;
      else if (level == 1) path.name = name;
      else path.language = name.id;
      if (*dataWord & 0x80000000u) {
        directory(*dataWord & 0x7FFFFFFFu, level + 1, path, out);
      } else if (level == 2) {
        leaf(*dataWord, path, out);
      } else {
        skipped();
      }
    }
  }

  // Whether every entry of the tree was read.
  [[nodiscard]] bool complete() const { return m_complete; }

 private:
  void skipped() { m_complete = false; }

  std::u16string nameString(std::uint32_t offset) {
    const auto length = m_bytes.u16(m_root + offset);
    std::u16string s;
    if (!length || offset + 2 + 2 * std::uint64_t{*length} > m_size) {
      skipped();
      return s;
    }
    const unsigned char* p = m_bytes.at(m_root + offset + 2, 2 * std::size_t{*length});
    if (!p) {
      skipped();
      return s;
    }
    for (std::size_t i = 0; i < *length; ++i) s.push_back(static_cast<char16_t>(loadU16le(p + 2 * i)));
    return s;
  }

  void leaf(std::uint32_t offset, ResourceEntry& path, std::vector<ResourceEntry>& out) {
    const std::int64_t at = m_root + offset;
    const auto rva = m_bytes.u32(at), size = m_bytes.u32(at + 4), codePage = m_bytes.u32(at + 8);
    if (!rva || !size || !codePage || offset + 16 > m_size) return skipped();
    ResourceEntry e = path;
    e.dataRva = *rva;
    e.size = *size;
    e.codePage = *codePage;
    if (const auto off = m_image.offsetOfRva(*rva); off && *off + *size <= m_image.fileSize) {
      // All of the data must lie in the one section that holds its start.
      const PeSection* s = m_image.sectionOfRva(*rva);
      if (s && std::uint64_t{*rva - s->virtualAddress} + *size <= s->rawSize) e.offset = off;
    }
    out.push_back(std::move(e));
  }

  ByteWindow& m_bytes;
  const PeImage& m_image;
  std::uint32_t m_rootRva;
  std::int64_t m_root;
  std::uint32_t m_size;
  std::set<std::uint32_t> m_seen;
  bool m_complete = true;
};

}  // namespace

std::vector<ResourceEntry> readResources(const ByteReader& reader, const PeImage& image, bool* complete) {
  std::vector<ResourceEntry> out;
  if (complete) *complete = false;
  const PeDataDirectory dir = image.directory(kPeResources);
  if (dir.address == 0 || dir.size == 0) return out;
  const auto root = image.offsetOfRva(dir.address);
  const PeSection* section = image.sectionOfRva(dir.address);
  if (!root || !section) return out;
  // The tree lies in the section's file bytes from the directory on.
  const std::uint32_t room = section->rawSize - (dir.address - section->virtualAddress);
  ByteWindow bytes(reader);
  ResourceWalk walk(bytes, image, dir.address, *root, room);
  ResourceEntry path;
  walk.directory(0, 0, path, out);
  if (complete) *complete = walk.complete();
  return out;
}

std::vector<std::string> importedLibraries(const ByteReader& reader, const PeImage& image) {
  std::vector<std::string> out;
  const PeDataDirectory dir = image.directory(kPeImports);
  const auto table = dir.address ? image.offsetOfRva(dir.address) : std::nullopt;
  if (!table) return out;
  ByteWindow bytes(reader);
  // 20-byte descriptors up to an empty one; the library's name (RVA) at +12.
  for (int i = 0; i < 4096; ++i) {
    const std::int64_t d = *table + 20 * std::int64_t{i};
    const auto lookup = bytes.u32(d), name = bytes.u32(d + 12), thunks = bytes.u32(d + 16);
    if (!lookup || !name || !thunks || (*lookup == 0 && *name == 0 && *thunks == 0)) break;
    const auto at = image.offsetOfRva(*name);
    if (!at) continue;
    std::string library;
    for (std::int64_t p = *at; library.size() < 260; ++p) {
      const auto c = bytes.u8(p);
      if (!c || *c == 0) break;
      library.push_back(static_cast<char>(*c));
    }
    out.push_back(std::move(library));
  }
  return out;
}

std::uint32_t peChecksum(ByteSpan file, std::int64_t checksumOffset) {
  std::uint64_t sum = 0;
  const std::size_t n = file.size();
  for (std::size_t i = 0; i < n; i += 2) {
    if (static_cast<std::int64_t>(i) == checksumOffset || static_cast<std::int64_t>(i) == checksumOffset + 2) continue;
    std::uint32_t word = file[i];
    if (i + 1 < n) word |= std::uint32_t{file[i + 1]} << 8;
    sum += word;
    sum = (sum & 0xFFFF) + (sum >> 16);
  }
  sum = (sum & 0xFFFF) + (sum >> 16);
  return static_cast<std::uint32_t>(sum + n);
}

std::optional<PeDataDirectory> certificateTable(ByteSpan file) {
  const auto image = readPeImage(file);
  if (!image) return std::nullopt;
  const PeDataDirectory d = image->directory(kPeCertificates);
  if (d.address == 0 || d.size == 0) return std::nullopt;
  return d;
}

std::size_t removeCertificateTable(MutableByteSpan file) {
  const auto image = readPeImage(ByteSpan(file));
  if (!image || image->directories.size() <= kPeCertificates) return file.size();
  const PeDataDirectory d = image->directory(kPeCertificates);
  if (d.address == 0 || d.size == 0) return file.size();
  const std::int64_t entry = image->directoriesOffset + 8 * std::int64_t{kPeCertificates};
  storeU32le(file.data() + entry, 0);
  storeU32le(file.data() + entry + 4, 0);
  // The table ends the file where a signing tool put it; a table elsewhere loses only its entry.
  if (std::uint64_t{d.address} + d.size >= file.size() && d.address < file.size()) return d.address;
  return file.size();
}

bool refreshChecksum(MutableByteSpan file) {
  const auto image = readPeImage(ByteSpan(file));
  if (!image) return false;
  if (image->checksum != 0)
    storeU32le(file.data() + image->checksumOffset, peChecksum(ByteSpan(file), image->checksumOffset));
  return true;
}

}  // namespace falcet
