#include "formats/byte_reader.hpp"

#include <algorithm>
#include <cstring>

namespace falcet {

bool MemoryReader::read(std::int64_t pos, unsigned char* out, std::size_t n) const {
  if (!fitsIn(m_bytes.size(), pos, n)) return false;
  if (n) std::memcpy(out, m_bytes.data() + pos, n);
  return true;
}

bool FileReader::read(std::int64_t pos, unsigned char* out, std::size_t n) const {
  return pos >= 0 && static_cast<std::uint64_t>(pos) + n <= static_cast<std::uint64_t>(m_size) &&
         readAllAt(m_file, pos, out, n);
}

const unsigned char* ByteWindow::at(std::int64_t pos, std::size_t n) {
  static const unsigned char kNothing = 0;
  if (pos < 0 || pos > m_size || n > static_cast<std::uint64_t>(m_size - pos)) return nullptr;
  if (n == 0) return &kNothing;
  if (m_memory) return m_memory + pos;
  if (pos < m_start || static_cast<std::uint64_t>(pos - m_start) + n > m_buffer.size()) {
    const auto length = static_cast<std::size_t>(std::min<std::int64_t>(std::max(n, kBuffer), m_size - pos));
    m_buffer.resize(length);
    if (!m_reader.read(pos, m_buffer.data(), length)) {
      m_buffer.clear();
      return nullptr;
    }
    m_start = pos;
  }
  return m_buffer.data() + (pos - m_start);
}

std::optional<std::uint8_t> ByteWindow::u8(std::int64_t pos) {
  const unsigned char* p = at(pos, 1);
  return p ? std::optional<std::uint8_t>(*p) : std::nullopt;
}

std::optional<std::uint16_t> ByteWindow::u16(std::int64_t pos) {
  const unsigned char* p = at(pos, 2);
  return p ? std::optional<std::uint16_t>(loadU16le(p)) : std::nullopt;
}

std::optional<std::uint32_t> ByteWindow::u32(std::int64_t pos) {
  const unsigned char* p = at(pos, 4);
  return p ? std::optional<std::uint32_t>(loadU32le(p)) : std::nullopt;
}

std::optional<std::uint64_t> ByteWindow::u64(std::int64_t pos) {
  const unsigned char* p = at(pos, 8);
  return p ? std::optional<std::uint64_t>(loadU32le(p) | (std::uint64_t{loadU32le(p + 4)} << 32)) : std::nullopt;
}

std::vector<std::int64_t> findAll(const ByteReader& reader, std::string_view text) {
  std::vector<std::int64_t> found;
  const std::int64_t size = reader.size();
  if (const unsigned char* memory = reader.memory()) {
    const std::string_view all(reinterpret_cast<const char*>(memory), static_cast<std::size_t>(size));
    for (std::size_t at = all.find(text); at != std::string_view::npos; at = all.find(text, at + 1))
      found.push_back(static_cast<std::int64_t>(at));
    return found;
  }
  // Pieces that overlap by the text's length less one, so that no occurrence is cut.
  constexpr std::int64_t kPiece = 1 << 20;
  std::vector<unsigned char> piece;
  for (std::int64_t start = 0; start < size; start += kPiece) {
    const std::int64_t length = std::min<std::int64_t>(kPiece + static_cast<std::int64_t>(text.size()) - 1, size - start);
    piece.resize(static_cast<std::size_t>(length));
    if (!reader.read(start, piece.data(), piece.size())) break;
    const std::string_view view(reinterpret_cast<const char*>(piece.data()), piece.size());
    for (std::size_t at = view.find(text); at != std::string_view::npos; at = view.find(text, at + 1))
      if (static_cast<std::int64_t>(at) < kPiece) found.push_back(start + static_cast<std::int64_t>(at));
  }
  return found;
}

}  // namespace falcet
