#pragma once
// The source file held whole in memory.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <optional>
#include <vector>

#include "formats/delphi_text_form.hpp"

#include "platform/file_io.hpp"
#include "base/ascii.hpp"

namespace falcet {

// A byte buffer that is not zero-filled when sized (it is filled by a read at once). Large
// buffers are backed by anonymous memory with transparent huge pages where available.
class ByteBuffer {
 public:
  ByteBuffer() = default;
  explicit ByteBuffer(std::size_t size);
  ByteBuffer(const ByteBuffer&) = delete;
  ByteBuffer& operator=(const ByteBuffer&) = delete;
  ByteBuffer(ByteBuffer&& other) noexcept;
  ByteBuffer& operator=(ByteBuffer&& other) noexcept;
  ~ByteBuffer();

  [[nodiscard]] unsigned char* data() { return m_data; }
  [[nodiscard]] const unsigned char* data() const { return m_data; }
  [[nodiscard]] std::size_t size() const { return m_size; }
  void reset();

 private:
  unsigned char* m_data = nullptr;
  std::size_t m_size = 0;
  bool m_mapped = false;
};

struct Source {
  ByteBuffer SourceBytes;
  std::int32_t SourceSize = 0;
};

// Reads the whole file into source. Spaces around path are removed first, and path receives the
// trimmed text. False when the file cannot be opened or read, is empty, is 2 GiB or larger, or
// changed size while it was read; source is then not to be used.
[[nodiscard]] bool LoadSource(std::string& path, Source& source);

// Opens the source for reading in pieces, with the same checks as LoadSource (path trimmed, a
// regular file of 1 byte to 2 GiB - 1): false when it cannot be used.
[[nodiscard]] bool openSource(std::string& path, FileDescriptor& fd, std::int32_t& size);

// Reads a source opened by openSource whole into source (what LoadSource does after opening).
[[nodiscard]] bool readOpenedSource(FileDescriptor& fd, std::int32_t size, Source& source);

// A form saved as text is read as its binary view (formats/delphi_text_form.hpp). Where the
// loaded source is a text form, its bytes become the view and form receives the form's values
// (its view moved into the source); NotText leaves source as it was; Unreadable (the line in
// badLine) too.
enum class TextFormLoad { NotText, Text, Unreadable };
[[nodiscard]] TextFormLoad useTextFormView(Source& source, std::optional<TextForm>& form, std::size_t& badLine);

}  // namespace falcet
