#pragma once
// Small POSIX file helpers: a move-only descriptor owner, whole-file reads and writes. Failures
// keep errno; texts::describeSystemError words it for the user.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace falcet {

// Owns one open file descriptor; closes it when destroyed or moved onto.
class FileDescriptor {
 public:
  FileDescriptor() = default;
  explicit FileDescriptor(int fd) : m_fd(fd) {}
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  FileDescriptor(FileDescriptor&& other) noexcept : m_fd(other.release()) {}
  FileDescriptor& operator=(FileDescriptor&& other) noexcept;
  ~FileDescriptor();

  [[nodiscard]] int get() const { return m_fd; }
  [[nodiscard]] bool valid() const { return m_fd >= 0; }
  int release() {
    int fd = m_fd;
    m_fd = -1;
    return fd;
  }
  // Closes now and reports whether close succeeded.
  [[nodiscard]] bool close();

 private:
  int m_fd = -1;
};

// Writes all of data to fd, looping over short writes. False on any error (errno is kept).
[[nodiscard]] bool writeAll(int fd, const void* data, std::size_t size);

// Reads up to size bytes at the start of fd, looping over short reads; returns the count read,
// or -1 on error.
[[nodiscard]] std::int64_t readAll(int fd, void* data, std::size_t size);

// Reads exactly size bytes at offset (pread, looping over short reads). False on an error or when
// the file ends first (errno kept on an error).
[[nodiscard]] bool readAllAt(int fd, std::int64_t offset, void* data, std::size_t size);

// Creates or empties the file and writes exactly data into it. False on any failure, errno kept.
[[nodiscard]] bool writeWholeFile(const std::filesystem::path& path, std::string_view data);

// Reads a whole file; nullopt on failure with errno kept.
[[nodiscard]] std::optional<std::string> readWholeFile(const std::filesystem::path& path);

}  // namespace falcet
