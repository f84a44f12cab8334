#include "platform/file_io.hpp"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "base/ascii.hpp"
#include "platform/file_replace.hpp"

namespace falcet {

NativeFile FileDescriptor::invalidFile() { return -1; }
bool FileDescriptor::valid() const { return m_file >= 0; }

NativeFile FileDescriptor::release() {
  const int fd = m_file;
  m_file = -1;
  return fd;
}

FileDescriptor& FileDescriptor::operator=(FileDescriptor&& other) noexcept {
  if (this != &other) {
    if (m_file >= 0) ::close(m_file);
    m_file = other.release();
  }
  return *this;
}

FileDescriptor::~FileDescriptor() {
  if (m_file >= 0) ::close(m_file);
}

bool FileDescriptor::close() {
  if (m_file < 0) return true;
  const int fd = release();
  return ::close(fd) == 0;
}

std::optional<std::int64_t> fileSize(const FileDescriptor& file) {
  struct stat st {};
  if (::fstat(file.get(), &st) != 0) return std::nullopt;
  return static_cast<std::int64_t>(st.st_size);
}

bool truncateFile(const FileDescriptor& file, std::int64_t size) {
  return ::ftruncate(file.get(), static_cast<off_t>(size)) == 0;
}

void adviseSequential(const FileDescriptor& file) {
  (void)::posix_fadvise(file.get(), 0, 0, POSIX_FADV_SEQUENTIAL);
}

bool removeFile(const std::filesystem::path& path) { return ::unlink(path.c_str()) == 0; }

bool writeAll(const FileDescriptor& file, const void* data, std::size_t size) {
  const int fd = file.get();
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

std::int64_t readAll(const FileDescriptor& file, void* data, std::size_t size) {
  const int fd = file.get();
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

bool readAllAt(const FileDescriptor& file, std::int64_t offset, void* data, std::size_t size) {
  const int fd = file.get();
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

FileDescriptor openRegularForRead(const std::filesystem::path& path) {
  // O_NONBLOCK: opening a FIFO for reading would otherwise wait for a writer.
  FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  if (!fd.valid()) return fd;
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0) return {};
  if (!S_ISREG(st.st_mode)) {
    errno = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
    return {};
  }
  const int flags = ::fcntl(fd.get(), F_GETFL);
  if (flags < 0 || ::fcntl(fd.get(), F_SETFL, flags & ~O_NONBLOCK) != 0) return {};
  return fd;
}

std::optional<FileIdentity> identityOf(const FileDescriptor& file) {
  struct stat st {};
  if (::fstat(file.get(), &st) != 0) return std::nullopt;
  return FileIdentity{static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
}

OverwriteOpen openForOverwrite(const std::filesystem::path& path, const FileIdentity* avoid) {
  // No O_TRUNC: nothing changes until the file is known to be a regular file of its own.
  // O_NOFOLLOW refuses a symbolic link at the name; O_NONBLOCK keeps a FIFO from blocking.
  // Readable too where the user may read it, so that what is there can be compared first.
  bool readable = true;
  FileDescriptor fd(::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0666));
  if (!fd.valid() && errno == EACCES) {
    readable = false;
    fd = FileDescriptor(::open(path.c_str(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0666));
  }
  if (!fd.valid()) return {};
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0) return {};
  if (!S_ISREG(st.st_mode)) {
    errno = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
    return {};
  }
  if (avoid && avoid->device == static_cast<std::uint64_t>(st.st_dev) &&
      avoid->inode == static_cast<std::uint64_t>(st.st_ino)) {
    errno = EEXIST;
    return {};
  }
  // O_NONBLOCK stays: it changes nothing for a regular file.
  return {std::move(fd), static_cast<std::int64_t>(st.st_size), readable};
}

bool fileHoldsExactly(const std::filesystem::path& path, std::string_view data) {
  const FileDescriptor fd(::open(path.c_str(), O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  if (!fd.valid()) return false;
  std::string old(data.size() + 1, '\0');
  const ssize_t n = ::pread(fd.get(), old.data(), old.size(), 0);  // a pipe or a terminal: ESPIPE
  return n == static_cast<ssize_t>(data.size()) && std::string_view(old.data(), data.size()) == data;
}

bool rewindFile(const FileDescriptor& file) { return ::lseek(file.get(), 0, SEEK_SET) == 0; }


namespace replace_steps {

Target inspect(const std::filesystem::path& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return {};
  return {true, static_cast<std::uint32_t>(st.st_mode & 07777), st.st_uid, st.st_gid};
}

bool isFolder(const std::filesystem::path& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool isMissing(const std::filesystem::path& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) != 0 && errno == ENOENT;
}

FileDescriptor makeTemporaryBeside(const std::filesystem::path& folder, const std::filesystem::path& prefix,
                                   std::filesystem::path& name) {
  std::string pattern = ((folder.empty() ? std::filesystem::path(".") : folder) / prefix).native() + "XXXXXX";
  FileDescriptor fd(::mkostemp(pattern.data(), O_CLOEXEC));
  if (fd.valid()) name = pattern;
  return fd;
}

void takeOver(const FileDescriptor& file, const Target& target) {
  auto mode = static_cast<mode_t>(target.mode);
  const auto uid = static_cast<uid_t>(target.owner);
  const auto gid = static_cast<gid_t>(target.group);
  if ((uid != ::geteuid() || gid != ::getegid()) && ::fchown(file.get(), uid, gid) != 0)
    mode &= ~static_cast<mode_t>(S_ISUID | S_ISGID);
  ::fchmod(file.get(), mode);
}

bool flush(const FileDescriptor& file) { return ::fsync(file.get()) == 0; }

bool keepCopy(const std::filesystem::path& from, const std::filesystem::path& copy) {
  // A link is safe only to a regular file that has no other name: a symbolic link's target, or a
  // file with other hard links, may change later, and the copy with it.
  struct stat st {};
  if (::lstat(from.c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_nlink == 1) {
    if (::link(from.c_str(), copy.c_str()) == 0) return true;
    if (errno == EEXIST) return false;
  }
  auto bytes = readWholeFile(from);
  if (!bytes) return false;
  FileDescriptor fd(::open(copy.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
  if (!fd.valid()) return false;
  struct stat source {};
  if (::stat(from.c_str(), &source) == 0) ::fchmod(fd.get(), source.st_mode & 0777);
  bool ok = writeAll(fd, bytes->data(), bytes->size()) && ::fsync(fd.get()) == 0;
  ok = fd.close() && ok;
  if (!ok) ::unlink(copy.c_str());
  return ok;
}

bool renameOver(const std::filesystem::path& from, const std::filesystem::path& to) {
  return ::rename(from.c_str(), to.c_str()) == 0;
}

void flushFolder(const std::filesystem::path& folder) {
  FileDescriptor dir(::open((folder.empty() ? std::filesystem::path(".") : folder).c_str(),
                            O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir.valid()) (void)::fsync(dir.get());
}

}  // namespace replace_steps

std::optional<FileStatus> fileStatus(const std::filesystem::path& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return std::nullopt;
  return FileStatus{static_cast<std::int64_t>(st.st_size), S_ISREG(st.st_mode), S_ISDIR(st.st_mode)};
}


}  // namespace falcet
