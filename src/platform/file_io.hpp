#pragma once
// File helpers over the platform's own calls (POSIX here, Win32 in file_io_win.cpp): a move-only
// owner of an open file, whole-file reads and writes, safe replacement. Paths come in as
// std::filesystem::path (UTF-16 on Windows, so any file name works on any code page). Failures
// keep errno (on Windows the system error is mapped to the same errno values);
// texts::describeSystemError words it for the user.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace falcet {

#ifdef _WIN32
using NativeFile = void*;  // a HANDLE
#else
using NativeFile = int;    // a file descriptor
#endif

// Owns one open file; closes it when destroyed or moved onto.
class FileDescriptor {
 public:
  FileDescriptor() = default;
  explicit FileDescriptor(NativeFile file) : m_file(file) {}
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  FileDescriptor(FileDescriptor&& other) noexcept : m_file(other.release()) {}
  FileDescriptor& operator=(FileDescriptor&& other) noexcept;
  ~FileDescriptor();

  [[nodiscard]] NativeFile get() const { return m_file; }
  [[nodiscard]] bool valid() const;
  NativeFile release();
  // Closes now and reports whether close succeeded.
  [[nodiscard]] bool close();

 private:
  NativeFile m_file = invalidFile();
  static NativeFile invalidFile();
};

// Writes all of data at the file's position, looping over short writes. False on any error.
[[nodiscard]] bool writeAll(const FileDescriptor& file, const void* data, std::size_t size);

// Reads up to size bytes from the file's position, looping over short reads; returns the count
// read, or -1 on error.
[[nodiscard]] std::int64_t readAll(const FileDescriptor& file, void* data, std::size_t size);

// The size of an open file; nullopt on error.
[[nodiscard]] std::optional<std::int64_t> fileSize(const FileDescriptor& file);

// Cuts (or extends) an open file to size bytes.
[[nodiscard]] bool truncateFile(const FileDescriptor& file, std::int64_t size);

// Tells the system that the file will be read from start to end (a hint; may do nothing).
void adviseSequential(const FileDescriptor& file);

// Removes a file (not a folder); false with errno kept.
bool removeFile(const std::filesystem::path& path);

// Reads exactly size bytes at offset (pread, looping over short reads). False on an error or when
// the file ends first (errno kept on an error).
[[nodiscard]] bool readAllAt(const FileDescriptor& file, std::int64_t offset, void* data,
                             std::size_t size);

// Which file an open file is (device and inode; on Windows volume serial and file index).
struct FileIdentity {
  std::uint64_t device = 0;
  std::uint64_t inode = 0;
  friend bool operator==(const FileIdentity&, const FileIdentity&) = default;
};
[[nodiscard]] std::optional<FileIdentity> identityOf(const FileDescriptor& file);

// Opens a regular file for reading; never blocks on a FIFO or device. Invalid (errno set: EISDIR
// for a folder, EINVAL for anything else that is not a regular file) when it cannot.
[[nodiscard]] FileDescriptor openRegularForRead(const std::filesystem::path& path);

// Opens a file for writing over, creating it when missing, without changing it yet. Refused
// (invalid descriptor, errno set) when the name is a symbolic link (ELOOP), is not a regular file
// (EISDIR, EINVAL), or is the file avoid names (EEXIST), such as a hard link to the source.
struct OverwriteOpen {
  FileDescriptor fd;
  std::int64_t oldSize = 0;
  bool readable = false;  // opened for reading too (a file the user may only write is not)
};
[[nodiscard]] OverwriteOpen openForOverwrite(const std::filesystem::path& path,
                                             const FileIdentity* avoid = nullptr);

// Writes exactly data as the file's whole content, through openForOverwrite. Refused: nothing
// was changed; Failed: the file may hold part of the data. errno kept.
enum class WriteResult { Written, Refused, Failed, Unchanged, Kept };
[[nodiscard]] WriteResult writeWholeFile(const std::filesystem::path& path, std::string_view data,
                                         const FileIdentity* avoid = nullptr);

// writeWholeFile, but the file is first read through the same handle: where it already holds
// exactly data nothing is written (Unchanged); where it holds other bytes and keepOther is set,
// nothing is written either (Kept). A file that cannot be read is written over.
[[nodiscard]] WriteResult writeWholeFileUnlessSame(const std::filesystem::path& path, std::string_view data,
                                                   const FileIdentity* avoid, bool keepOther);

// Whether the file at path holds exactly data, opened as writeWholeFileUnlessSame opens it (for
// reading and writing, no link followed) but never created or changed. False on any doubt, the
// file missing included; errno is then not meaningful. Three system calls where the file holds
// it: open, one read at offset 0 (a file that can be read at an offset returns fewer bytes than
// asked only at its end), close. Safe to call on several threads at once.
[[nodiscard]] bool fileHoldsExactly(const std::filesystem::path& path, std::string_view data);

// The same question for many files at once, with the same answers. On Linux the files go to the
// kernel together (io_uring, where the system allows it: one system call for a batch instead of
// three a file); elsewhere, or on any doubt, each is asked on its own. Safe to call on several
// threads at once; each thread keeps what it needs for that.
struct HeldCheck {
  const std::filesystem::path* path = nullptr;
  std::string_view data;
  bool held = false;  // the answer
};
void filesHoldExactly(std::span<HeldCheck> checks);

// Puts a file's position back to its start (reads at an offset may move it on some systems).
[[nodiscard]] bool rewindFile(const FileDescriptor& file);

// Replaces a file's content safely. The new content goes to a temporary file beside the target
// (a short name of its own, so a long target name still works), which gets the target's mode and,
// where allowed, its owner and group (where not, the set-user-ID and set-group-ID bits are
// dropped); it is flushed, then moved over the target. The target never holds anything but its
// old or its new content.
//   keepBackup: afterwards "<target>.bak" holds the old content; an older backup is replaced only
//     once the new content is in place, so a failed replace leaves it as it was.
//   keepOriginal: on the first replace "<target>.orig" gets the old content; never replaced later.
// False with errno kept when the content could not be put in place (the target is then as it was).
//   keptInstead: where the backup could not take its name (an older one that cannot be replaced),
//     the old content stays under the temporary name written here.
struct ReplaceOptions {
  bool keepBackup = true;
  bool keepOriginal = true;
  std::filesystem::path* keptInstead = nullptr;
};
[[nodiscard]] bool replaceFileContent(const std::filesystem::path& target, const void* data,
                                      std::size_t size, ReplaceOptions options);

// A file beside path whose name is path's stem and the given extension, letter case ignored
// (an exact match first). nullopt when there is none.
[[nodiscard]] std::optional<std::filesystem::path> findSiblingWithExtension(
    const std::filesystem::path& path, std::string_view extension);

// What the file system says of a name (following links). nullopt with errno kept when it cannot
// be asked (a missing file: ENOENT; a missing folder on the way: ENOTDIR or ENOENT).
struct FileStatus {
  std::int64_t size = 0;
  bool regular = false;
  bool directory = false;
};
[[nodiscard]] std::optional<FileStatus> fileStatus(const std::filesystem::path& path);

// Reads a whole regular file (see openRegularForRead); nullopt on failure with errno kept.
[[nodiscard]] std::optional<std::string> readWholeFile(const std::filesystem::path& path);

}  // namespace falcet
