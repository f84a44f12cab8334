#include "platform/file_io.hpp"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace falcet {

FileDescriptor& FileDescriptor::operator=(FileDescriptor&& other) noexcept {
  if (this != &other) {
    if (m_fd >= 0) ::close(m_fd);
    m_fd = other.release();
  }
  return *this;
}

FileDescriptor::~FileDescriptor() {
  if (m_fd >= 0) ::close(m_fd);
}

bool FileDescriptor::close() {
  if (m_fd < 0) return true;
  int fd = release();
  return ::close(fd) == 0;
}

bool writeAll(int fd, const void* data, std::size_t size) {
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    ssize_t n = ::write(fd, p, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) {
      errno = ENOSPC;
      return false;
    }
    p += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

std::int64_t readAll(int fd, void* data, std::size_t size) {
  char* p = static_cast<char*>(data);
  std::size_t got = 0;
  while (got < size) {
    ssize_t n = ::read(fd, p + got, size - got);
    if (n < 0) {
      if (errno == EINTR) continue;
      return -1;
    }
    if (n == 0) break;
    got += static_cast<std::size_t>(n);
  }
  return static_cast<std::int64_t>(got);
}

bool readAllAt(int fd, std::int64_t offset, void* data, std::size_t size) {
  char* p = static_cast<char*>(data);
  while (size > 0) {
    const ssize_t n = ::pread(fd, p, size, static_cast<off_t>(offset));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n;
    offset += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

bool writeWholeFile(const std::filesystem::path& path, std::string_view data) {
  // Written over from the start, then cut to the new length. Emptying with O_TRUNC first would
  // do the same, but some file systems (ext4) then flush the file on close, which costs a disk
  // write per picture when an export runs again over its own files.
  FileDescriptor fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0666));
  if (!fd.valid()) return false;
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0) return false;
  if (!writeAll(fd.get(), data.data(), data.size())) return false;
  if (st.st_size > static_cast<off_t>(data.size()) &&
      ::ftruncate(fd.get(), static_cast<off_t>(data.size())) != 0)
    return false;
  return fd.close();
}

std::optional<std::string> readWholeFile(const std::filesystem::path& path) {
  FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd.valid()) return std::nullopt;
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0) return std::nullopt;
  if (S_ISDIR(st.st_mode)) {
    errno = EISDIR;
    return std::nullopt;
  }
  std::string out;
  char buf[65536];
  for (;;) {
    ssize_t n = ::read(fd.get(), buf, sizeof buf);
    if (n < 0) {
      if (errno == EINTR) continue;
      return std::nullopt;
    }
    if (n == 0) break;
    out.append(buf, static_cast<std::size_t>(n));
  }
  return out;
}

}  // namespace falcet
