#include "formats/vb_program.hpp"

#include <algorithm>
#include <cstring>

#include "platform/codepage.hpp"

namespace falcet {
namespace {

// The form's name near the start of its data: u16 length at +0x62, the name, a zero byte.
std::optional<std::string> formName(ByteWindow& bytes, std::int64_t formData, std::int64_t formEnd) {
  const auto length = bytes.u16(formData + 0x62);
  if (!length || *length == 0 || *length > 40) return std::nullopt;
  const std::int64_t name = formData + 0x64;
  const unsigned char* p = bytes.at(name, *length + 1u);
  if (!p || name + *length + 1 > formEnd || p[*length] != 0) return std::nullopt;
  std::string raw(reinterpret_cast<const char*>(p), *length);
  for (unsigned char c : raw)
    if (c < 0x80 && !((c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_'))
      return std::nullopt;
  return localeToUtf8(raw);
}

}  // namespace

std::optional<std::int64_t> vbHeaderOffset(const ByteReader& reader, const PeImage& pe) {
  if (pe.is64) return std::nullopt;  // VB programs are 32-bit images
  ByteWindow bytes(reader);
  const auto entry = pe.offsetOfRva(pe.entryPoint);
  if (!entry || bytes.u8(*entry) != 0x68) return std::nullopt;
  const auto headerAddress = bytes.u32(*entry + 1);
  const auto header = headerAddress ? pe.offsetOfAddress(*headerAddress) : std::nullopt;
  const unsigned char* magic = header ? bytes.at(*header, 0x50) : nullptr;
  if (!magic || std::memcmp(magic, "VB5!", 4) != 0) return std::nullopt;
  return header;
}

std::vector<VbProgramForm> vbProgramForms(const ByteReader& reader) {
  std::vector<VbProgramForm> out;
  const auto pe = readPeImage(reader);
  const auto header = pe ? vbHeaderOffset(reader, *pe) : std::nullopt;
  if (!header) return out;
  ByteWindow bytes(reader);
  const auto forms = bytes.u16(*header + 0x44);
  const auto tableAddress = bytes.u32(*header + 0x4C);
  const auto table = tableAddress ? pe->offsetOfAddress(*tableAddress) : std::nullopt;
  if (!forms || !table) return out;
  for (std::uint16_t i = 0; i < *forms; ++i) {
    const std::int64_t e = *table + 0x50 * std::int64_t{i};
    const auto size = bytes.u32(e + 0x40);
    const auto address = bytes.u32(e + 0x48);
    const auto data = address ? pe->offsetOfAddress(*address) : std::nullopt;
    if (!size || !data) break;
    const std::int64_t end = std::min<std::int64_t>(*data + *size, bytes.size());
    out.push_back({*data, end, formName(bytes, *data, end).value_or(std::string())});
  }
  return out;
}

}  // namespace falcet
