#include "transfer/source.hpp"

#include <cerrno>
#include <limits>
#include <new>

#include <cstring>

#include "platform/codepage.hpp"
#include "platform/file_io.hpp"
#include "platform/memory.hpp"

namespace falcet {
namespace {
constexpr std::size_t kMapThreshold = 4u << 20;
}

ByteBuffer::ByteBuffer(std::size_t size) : m_size(size) {
  if (size == 0) return;
  if (size >= kMapThreshold) {
    if (void* p = allocateLarge(size)) {
      m_data = static_cast<unsigned char*>(p);
      m_mapped = true;
      return;
    }
  }
  m_data = new (std::nothrow) unsigned char[size];
  if (!m_data) m_size = 0;
}

ByteBuffer::ByteBuffer(ByteBuffer&& other) noexcept
    : m_data(other.m_data), m_size(other.m_size), m_mapped(other.m_mapped) {
  other.m_data = nullptr;
  other.m_size = 0;
}

ByteBuffer& ByteBuffer::operator=(ByteBuffer&& other) noexcept {
  if (this != &other) {
    reset();
    m_data = other.m_data;
    m_size = other.m_size;
    m_mapped = other.m_mapped;
    other.m_data = nullptr;
    other.m_size = 0;
  }
  return *this;
}

ByteBuffer::~ByteBuffer() { reset(); }

void ByteBuffer::reset() {
  if (m_data) {
    if (m_mapped) freeLarge(m_data, m_size);
    else delete[] m_data;
  }
  m_data = nullptr;
  m_size = 0;
  m_mapped = false;
}

bool openSource(std::string& path, FileDescriptor& fd, std::int32_t& size) {
  path = std::string(trimSpaces(path));
  fd = openRegularForRead(nativePath(path));
  if (!fd.valid()) return false;
  const auto fileBytes = fileSize(fd);
  if (!fileBytes || *fileBytes <= 0 || *fileBytes > std::numeric_limits<std::int32_t>::max()) return false;
  size = static_cast<std::int32_t>(*fileBytes);
  adviseSequential(fd);
  return true;
}

bool LoadSource(std::string& path, Source& source) {
  source.SourceBytes.reset();
  source.SourceSize = 0;
  FileDescriptor fd;
  std::int32_t fileSize = 0;
  return openSource(path, fd, fileSize) && readOpenedSource(fd, fileSize, source);
}

bool readOpenedSource(FileDescriptor& fd, std::int32_t fileSize, Source& source) {
  source.SourceBytes.reset();
  source.SourceSize = 0;
  const auto size = static_cast<std::size_t>(fileSize);
  ByteBuffer buffer(size);
  if (buffer.size() != size) return false;
  // From the start, wherever an earlier look at the file left its position.
  if (!readAllAt(fd, 0, buffer.data(), size)) return false;
  source.SourceBytes = std::move(buffer);
  source.SourceSize = static_cast<std::int32_t>(size);
  return true;
}

TextFormLoad useTextFormView(Source& source, std::optional<TextForm>& form, std::size_t& badLine) {
  const ByteSpan bytes(source.SourceBytes.data(), static_cast<std::size_t>(source.SourceSize));
  if (!looksLikeTextForm(bytes)) return TextFormLoad::NotText;
  form = readTextForm(bytes, &badLine);
  if (!form) return TextFormLoad::Unreadable;
  ByteBuffer view(form->view.size());
  if (view.size() != form->view.size()) {
    form.reset();
    return TextFormLoad::Unreadable;
  }
  if (!form->view.empty()) std::memcpy(view.data(), form->view.data(), form->view.size());
  source.SourceBytes = std::move(view);
  source.SourceSize = static_cast<std::int32_t>(form->view.size());
  form->view = {};
  return TextFormLoad::Text;
}

}  // namespace falcet
