#pragma once
// PE images (Windows programs, 32- and 64-bit): the headers, the section table, address to file
// offset, the data directories, the resource tree and the header checksum. Read bounds-checked
// from any ByteReader; a file that is no PE image reads as nothing.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "base/bytes.hpp"
#include "formats/byte_reader.hpp"

namespace falcet {

struct PeSection {
  std::string name;  // the raw 8 bytes up to the first zero byte
  std::uint32_t virtualAddress = 0, virtualSize = 0, rawOffset = 0, rawSize = 0, characteristics = 0;
  std::int64_t headerOffset = 0;  // where its 40-byte header lies in the file
};

struct PeDataDirectory {
  std::uint32_t address = 0;  // an RVA; for the certificate table, a file offset
  std::uint32_t size = 0;
};

enum PeDirectory : std::size_t { kPeImports = 1, kPeResources = 2, kPeCertificates = 4, kPeRelocations = 5 };

struct PeImage {
  bool is64 = false;
  std::uint16_t machine = 0;
  std::int64_t peOffset = 0;              // of "PE\0\0"
  std::int64_t optionalHeaderOffset = 0;  // peOffset + 24
  std::uint16_t optionalHeaderSize = 0;
  std::uint32_t entryPoint = 0;  // RVA
  std::uint64_t imageBase = 0;
  std::uint32_t sectionAlignment = 0, fileAlignment = 0, sizeOfImage = 0, sizeOfHeaders = 0;
  std::uint32_t checksum = 0;
  std::int64_t checksumOffset = 0;        // of the CheckSum field
  std::int64_t directoriesOffset = 0;     // of the first data directory entry
  std::vector<PeDataDirectory> directories;
  std::vector<PeSection> sections;
  std::int64_t fileSize = 0;

  // The file offset of an RVA, or nullopt when no section's file bytes hold it.
  [[nodiscard]] std::optional<std::int64_t> offsetOfRva(std::uint32_t rva) const;
  // The same for a virtual address (image base + RVA).
  [[nodiscard]] std::optional<std::int64_t> offsetOfAddress(std::uint64_t address) const;
  [[nodiscard]] PeDataDirectory directory(std::size_t index) const {
    return index < directories.size() ? directories[index] : PeDataDirectory{};
  }
  // The section whose virtual range holds rva, or nullptr.
  [[nodiscard]] const PeSection* sectionOfRva(std::uint32_t rva) const;
};

// The image's headers and section table, or nullopt when bytes are no PE image.
[[nodiscard]] std::optional<PeImage> readPeImage(const ByteReader& bytes);
[[nodiscard]] inline std::optional<PeImage> readPeImage(ByteSpan bytes) { return readPeImage(MemoryReader(bytes)); }

// Whether bytes are an executable image: "MZ", and "PE\0\0" at the offset stored at 0x3C.
[[nodiscard]] bool isExecutableImage(ByteSpan bytes);

// The first section's name as the source-kind probe reads it: from a file of at least 1023
// bytes, the header offset at 60, "PE\0\0" there, 1 to 20 sections (the count read as a signed
// 16-bit number), and the name 248 bytes after the header, in the locale's character set. An
// offset that lies at or past the last byte leaves the probe where it was, and bytes past the
// end read as zero. Empty text when any step fails.
[[nodiscard]] std::string probeFirstSectionName(const ByteReader& file);

// A resource directory entry's name: a number, or (named) a UTF-16 string.
struct ResourceName {
  std::uint32_t id = 0;
  std::u16string name;
  bool named = false;
  friend bool operator==(const ResourceName&, const ResourceName&) = default;
};

enum : std::uint32_t { kRtCursor = 1, kRtBitmap = 2, kRtIcon = 3, kRtRcData = 10, kRtGroupCursor = 12, kRtGroupIcon = 14 };

// One leaf of the resource tree (type, name, language) and its data.
struct ResourceEntry {
  ResourceName type, name;
  std::uint32_t language = 0;
  std::uint32_t dataRva = 0, size = 0, codePage = 0;
  std::optional<std::int64_t> offset;  // the data's file offset, when a section holds all of it
  std::int64_t typeDirectory = -1, nameDirectory = -1;  // file offsets of the directories above it
};

// Every leaf of the image's resource tree in the order the tree lists them. Entries whose
// directory lies outside the resource section, loops and trees deeper than three levels are
// left out; complete (when given) tells whether anything was.
[[nodiscard]] std::vector<ResourceEntry> readResources(const ByteReader& bytes, const PeImage& image,
                                                       bool* complete = nullptr);

// The names of the libraries the image imports (as the import directory spells them), in order.
[[nodiscard]] std::vector<std::string> importedLibraries(const ByteReader& bytes, const PeImage& image);

// The header checksum as the system's CheckSumMappedFile computes it: the 16-bit one's-complement
// sum of the file (the checksum field taken as zero) plus the file's length.
[[nodiscard]] std::uint32_t peChecksum(ByteSpan file, std::int64_t checksumOffset);

// Writing: the changes an import makes to a program image's headers.

// The certificate table (Authenticode signatures) as its data directory gives it: a file offset
// and a size; nullopt when the image has none.
[[nodiscard]] std::optional<PeDataDirectory> certificateTable(ByteSpan file);

// Removes the certificate table: its directory entry cleared, and its bytes cut where they end
// the file. Returns the length the file keeps.
[[nodiscard]] std::size_t removeCertificateTable(MutableByteSpan file);

// Sets the header checksum anew where it was not zero (a zero checksum stays zero). False when
// file is no PE image.
bool refreshChecksum(MutableByteSpan file);

}  // namespace falcet
