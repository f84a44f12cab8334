#pragma once
// Random access to a file's bytes for the format readers: held in memory, or read from an open
// file as needed (so that a large source is never held whole for them). Every read is
// bounds-checked; what is not there reads as nothing, never as an error.

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "base/bytes.hpp"
#include "platform/file_io.hpp"

namespace falcet {

class ByteReader {
 public:
  virtual ~ByteReader() = default;
  [[nodiscard]] virtual std::int64_t size() const = 0;
  // All the bytes when they are in memory, else nullptr.
  [[nodiscard]] virtual const unsigned char* memory() const { return nullptr; }
  // Copies n bytes at pos into out; false when they cannot all be read.
  [[nodiscard]] virtual bool read(std::int64_t pos, unsigned char* out, std::size_t n) const = 0;
};

class MemoryReader : public ByteReader {
 public:
  explicit MemoryReader(ByteSpan bytes) : m_bytes(bytes) {}
  [[nodiscard]] std::int64_t size() const override { return static_cast<std::int64_t>(m_bytes.size()); }
  [[nodiscard]] const unsigned char* memory() const override { return m_bytes.data(); }
  [[nodiscard]] bool read(std::int64_t pos, unsigned char* out, std::size_t n) const override;

 private:
  ByteSpan m_bytes;
};

class FileReader : public ByteReader {
 public:
  FileReader(const FileDescriptor& file, std::int64_t size) : m_file(file), m_size(size) {}
  [[nodiscard]] std::int64_t size() const override { return m_size; }
  [[nodiscard]] bool read(std::int64_t pos, unsigned char* out, std::size_t n) const override;

 private:
  const FileDescriptor& m_file;
  std::int64_t m_size;
};

// A reader's bytes at any position: straight from memory, or through a buffer that is refilled
// where the bytes are wanted. Little-endian values; nullopt where they are not all there.
class ByteWindow {
 public:
  explicit ByteWindow(const ByteReader& reader)
      : m_reader(reader), m_size(reader.size()), m_memory(reader.memory()) {}

  [[nodiscard]] std::int64_t size() const { return m_size; }

  // n bytes at pos, valid until the next call; nullptr when they are not all there.
  const unsigned char* at(std::int64_t pos, std::size_t n);
  std::optional<std::uint8_t> u8(std::int64_t pos);
  std::optional<std::uint16_t> u16(std::int64_t pos);
  std::optional<std::uint32_t> u32(std::int64_t pos);
  std::optional<std::uint64_t> u64(std::int64_t pos);

 private:
  static constexpr std::size_t kBuffer = 64 << 10;
  const ByteReader& m_reader;
  std::int64_t m_size;
  const unsigned char* m_memory;
  std::vector<unsigned char> m_buffer;
  std::int64_t m_start = 0;
};

// Every position of text in the reader's bytes, in rising order.
[[nodiscard]] std::vector<std::int64_t> findAll(const ByteReader& reader, std::string_view text);

}  // namespace falcet
