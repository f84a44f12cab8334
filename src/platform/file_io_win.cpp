// The file primitives on Win32: wide-character paths, handles, and the system's errors mapped to
// the errno values the rest of the program (and texts::describeSystemError) knows.

#include <windows.h>

#include <cerrno>
#include <random>

#include "platform/codepage.hpp"
#include "platform/file_io.hpp"
#include "platform/file_replace.hpp"

namespace falcet {
namespace {

int errnoFromWin32(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND: return ENOENT;
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH: return ENOTDIR;
    case ERROR_ACCESS_DENIED:
    case ERROR_PRIVILEGE_NOT_HELD: return EACCES;
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_USER_MAPPED_FILE: return EBUSY;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL: return ENOSPC;
    case ERROR_WRITE_PROTECT: return EROFS;
    case ERROR_FILENAME_EXCED_RANGE:
    case ERROR_INVALID_NAME:
    case ERROR_BAD_PATHNAME: return ENAMETOOLONG;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS: return EEXIST;
    case ERROR_DIRECTORY: return EISDIR;
    case ERROR_CRC:
    case ERROR_READ_FAULT:
    case ERROR_WRITE_FAULT:
    case ERROR_GEN_FAILURE: return EIO;
    case ERROR_NOT_SAME_DEVICE: return EXDEV;
    case ERROR_CANT_RESOLVE_FILENAME: return ELOOP;
    default: return EINVAL;
  }
}

// errno from the last Win32 error; returns false so that callers can `return fail();`.
bool fail() {
  errno = errnoFromWin32(::GetLastError());
  return false;
}

HANDLE handle(const FileDescriptor& f) { return static_cast<HANDLE>(f.get()); }

DWORD attributesOf(const std::filesystem::path& path) {
  return ::GetFileAttributesW(path.c_str());
}

bool isDirectory(DWORD attributes) {
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// A file of its own on a disk (not a pipe, a console or a device such as NUL).
bool onDisk(HANDLE h) { return ::GetFileType(h) == FILE_TYPE_DISK; }

// The handle CreateFileW gave, kept when it is a file on a disk; else nothing, with errno set.
FileDescriptor diskFile(HANDLE h) {
  if (h == INVALID_HANDLE_VALUE) {
    fail();
    return {};
  }
  FileDescriptor fd(h);
  if (!onDisk(h)) {
    errno = EINVAL;
    return {};
  }
  return fd;
}

// A new file with a short random name in folder, opened for writing.
}  // namespace

NativeFile FileDescriptor::invalidFile() { return INVALID_HANDLE_VALUE; }
bool FileDescriptor::valid() const { return m_file != INVALID_HANDLE_VALUE && m_file != nullptr; }

NativeFile FileDescriptor::release() {
  NativeFile f = m_file;
  m_file = INVALID_HANDLE_VALUE;
  return f;
}

FileDescriptor& FileDescriptor::operator=(FileDescriptor&& other) noexcept {
  if (this != &other) {
    if (valid()) ::CloseHandle(static_cast<HANDLE>(m_file));
    m_file = other.release();
  }
  return *this;
}

FileDescriptor::~FileDescriptor() {
  if (valid()) ::CloseHandle(static_cast<HANDLE>(m_file));
}

bool FileDescriptor::close() {
  if (!valid()) return true;
  return ::CloseHandle(static_cast<HANDLE>(release())) ? true : fail();
}

std::optional<std::int64_t> fileSize(const FileDescriptor& file) {
  LARGE_INTEGER size;
  if (!::GetFileSizeEx(handle(file), &size)) {
    fail();
    return std::nullopt;
  }
  return static_cast<std::int64_t>(size.QuadPart);
}

bool truncateFile(const FileDescriptor& file, std::int64_t size) {
  LARGE_INTEGER to;
  to.QuadPart = size;
  if (!::SetFilePointerEx(handle(file), to, nullptr, FILE_BEGIN) || !::SetEndOfFile(handle(file)))
    return fail();
  return true;
}

void adviseSequential(const FileDescriptor&) {}

bool removeFile(const std::filesystem::path& path) {
  return ::DeleteFileW(path.c_str()) ? true : fail();
}

bool writeAll(const FileDescriptor& file, const void* data, std::size_t size) {
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    const DWORD chunk = size > (1u << 30) ? (1u << 30) : static_cast<DWORD>(size);
    DWORD written = 0;
    if (!::WriteFile(handle(file), p, chunk, &written, nullptr)) return fail();
    if (written == 0) {
      errno = ENOSPC;
      return false;
    }
    p += written;
    size -= written;
  }
  return true;
}

std::int64_t readAll(const FileDescriptor& file, void* data, std::size_t size) {
  char* p = static_cast<char*>(data);
  std::size_t got = 0;
  while (got < size) {
    const std::size_t left = size - got;
    const DWORD chunk = left > (1u << 30) ? (1u << 30) : static_cast<DWORD>(left);
    DWORD n = 0;
    if (!::ReadFile(handle(file), p + got, chunk, &n, nullptr)) {
      fail();
      return -1;
    }
    if (n == 0) break;
    got += n;
  }
  return static_cast<std::int64_t>(got);
}

bool readAllAt(const FileDescriptor& file, std::int64_t offset, void* data, std::size_t size) {
  char* p = static_cast<char*>(data);
  while (size > 0) {
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(static_cast<std::uint64_t>(offset) >> 32);
    const DWORD chunk = size > (1u << 30) ? (1u << 30) : static_cast<DWORD>(size);
    DWORD n = 0;
    if (!::ReadFile(handle(file), p, chunk, &n, &at)) return fail();
    if (n == 0) return false;
    p += n;
    offset += n;
    size -= n;
  }
  return true;
}

std::optional<FileIdentity> identityOf(const FileDescriptor& file) {
  BY_HANDLE_FILE_INFORMATION info;
  if (!::GetFileInformationByHandle(handle(file), &info)) {
    fail();
    return std::nullopt;
  }
  return FileIdentity{info.dwVolumeSerialNumber,
                      static_cast<std::uint64_t>(info.nFileIndexHigh) << 32 | info.nFileIndexLow};
}

FileDescriptor openRegularForRead(const std::filesystem::path& path) {
  if (isDirectory(attributesOf(path))) {
    errno = EISDIR;
    return {};
  }
  return diskFile(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
}

OverwriteOpen openForOverwrite(const std::filesystem::path& path, const FileIdentity* avoid) {
  const DWORD attributes = attributesOf(path);
  if (isDirectory(attributes)) {
    errno = EISDIR;
    return {};
  }
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
    errno = ELOOP;  // a symbolic link or junction at the name: never written through
    return {};
  }
  // No truncation: nothing changes until the file is known to be a file of its own.
  // Readable too where the user may read it, so that what is there can be compared first.
  bool readable = true;
  FileDescriptor fd = diskFile(::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                             OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!fd.valid() && errno == EACCES) {
    readable = false;
    fd = diskFile(::CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  }
  if (!fd.valid()) return {};
  const auto id = identityOf(fd);
  if (!id) return {};
  if (avoid && *avoid == *id) {
    errno = EEXIST;
    return {};
  }
  const auto size = fileSize(fd);
  if (!size) return {};
  return {std::move(fd), *size, readable};
}

bool fileHoldsExactly(const std::filesystem::path& path, std::string_view data) {
  const DWORD attributes = attributesOf(path);
  if (attributes == INVALID_FILE_ATTRIBUTES || isDirectory(attributes) || (attributes & FILE_ATTRIBUTE_REPARSE_POINT))
    return false;
  const FileDescriptor fd = diskFile(::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                                   OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT,
                                                   nullptr));
  if (!fd.valid() || data.size() >= (1u << 30)) return false;
  std::string old(data.size() + 1, '\0');
  OVERLAPPED at{};  // offset 0
  DWORD n = 0;
  if (!::ReadFile(handle(fd), old.data(), static_cast<DWORD>(old.size()), &n, &at)) return false;
  return n == data.size() && std::string_view(old.data(), data.size()) == data;
}

void filesHoldExactly(std::span<HeldCheck> checks) {
  for (HeldCheck& check : checks) check.held = fileHoldsExactly(*check.path, check.data);
}

bool rewindFile(const FileDescriptor& file) {
  LARGE_INTEGER start{};
  return ::SetFilePointerEx(handle(file), start, nullptr, FILE_BEGIN) || fail();
}

namespace replace_steps {

Target inspect(const std::filesystem::path& path) { return {attributesOf(path) != INVALID_FILE_ATTRIBUTES}; }

bool isFolder(const std::filesystem::path& path) { return isDirectory(attributesOf(path)); }

bool isMissing(const std::filesystem::path& path) {
  return attributesOf(path) == INVALID_FILE_ATTRIBUTES && ::GetLastError() == ERROR_FILE_NOT_FOUND;
}

FileDescriptor makeTemporaryBeside(const std::filesystem::path& folder, const std::filesystem::path& prefix,
                                   std::filesystem::path& name) {
  static std::mt19937_64 random{std::random_device{}()};
  static const wchar_t digits[] = L"0123456789abcdefghijklmnopqrstuvwxyz";
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::wstring leaf = prefix.native();
    for (int i = 0; i < 6; ++i) leaf += digits[random() % 36];
    const std::filesystem::path candidate = (folder.empty() ? std::filesystem::path(L".") : folder) / leaf;
    HANDLE h = ::CreateFileW(candidate.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h != INVALID_HANDLE_VALUE) {
      name = candidate;
      return FileDescriptor(h);
    }
    if (::GetLastError() != ERROR_FILE_EXISTS) break;
  }
  fail();
  return {};
}

// A hard link only to a file with no other name and no reparse point (a link's target or a file
// with other links may change later, and the copy with it); else the bytes (FAT has no links).
bool keepCopy(const std::filesystem::path& from, const std::filesystem::path& copy) {
  bool linkable = false;
  HANDLE h = ::CreateFileW(from.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (h != INVALID_HANDLE_VALUE) {
    BY_HANDLE_FILE_INFORMATION info{};
    linkable = ::GetFileInformationByHandle(h, &info) && info.nNumberOfLinks == 1 &&
               !(info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT);
    ::CloseHandle(h);
  }
  if (linkable) {
    if (::CreateHardLinkW(copy.c_str(), from.c_str(), nullptr)) return true;
    if (::GetLastError() == ERROR_ALREADY_EXISTS) return fail();
  }
  return ::CopyFileW(from.c_str(), copy.c_str(), TRUE) ? true : fail();
}

void takeOver(const FileDescriptor&, const Target&) {}

bool flush(const FileDescriptor& file) { return ::FlushFileBuffers(handle(file)) ? true : fail(); }

bool renameOver(const std::filesystem::path& from, const std::filesystem::path& to) {
  return ::MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) ? true : fail();
}

void flushFolder(const std::filesystem::path&) {}

}  // namespace replace_steps

std::optional<FileStatus> fileStatus(const std::filesystem::path& path) {
  if (path.empty()) {
    errno = ENOENT;  // as POSIX says of an empty name
    return std::nullopt;
  }
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) {
    fail();
    return std::nullopt;
  }
  const bool directory = data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY;
  const bool device = data.dwFileAttributes & FILE_ATTRIBUTE_DEVICE;
  const auto size = static_cast<std::int64_t>(static_cast<std::uint64_t>(data.nFileSizeHigh) << 32 | data.nFileSizeLow);
  return FileStatus{size, !directory && !device, directory};
}

}  // namespace falcet
