#pragma once
// VB5/6 programs: the entry point pushes the address of the "VB5!" header (68 <u32>); the header
// gives the form count (u16 at +0x44) and the form table (address at +0x4C), whose 0x50-byte
// entries give each form's data size (+0x40) and address (+0x48). A form's name is the u16-length
// string at +0x62 of its data.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "formats/byte_reader.hpp"
#include "formats/pe_image.hpp"

namespace falcet {

struct VbProgramForm {
  std::int64_t begin = 0, end = 0;  // the form's data in the file
  std::string name;                 // UTF-8; empty when the data names no form
};

// The file offset of the VB5! header, when the image is a VB5/6 program.
[[nodiscard]] std::optional<std::int64_t> vbHeaderOffset(const ByteReader& bytes, const PeImage& image);

// The forms of the form table, in table order, up to the first entry that cannot be read.
[[nodiscard]] std::vector<VbProgramForm> vbProgramForms(const ByteReader& bytes);

}  // namespace falcet
