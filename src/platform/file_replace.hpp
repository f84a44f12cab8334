#pragma once
// The small steps the one file-replacement algorithm (file_io.cpp) is made of, one set per
// platform (file_io_posix.cpp, file_io_win.cpp). Each sets errno when it fails.

#include <cstdint>
#include <filesystem>

#include "platform/file_io.hpp"

namespace falcet::replace_steps {

// What the replaced file was: whether it existed, and what its new content takes over from it
// (POSIX: mode, owner and group).
struct Target {
  bool exists = false;
  std::uint32_t mode = 0;
  std::uint64_t owner = 0, group = 0;
};
[[nodiscard]] Target inspect(const std::filesystem::path& path);

// Whether a name is a folder (without following a link); whether nothing at all has the name.
[[nodiscard]] bool isFolder(const std::filesystem::path& path);
[[nodiscard]] bool isMissing(const std::filesystem::path& path);

// A new, empty file in folder whose name is prefix and six random letters.
[[nodiscard]] FileDescriptor makeTemporaryBeside(const std::filesystem::path& folder,
                                                 const std::filesystem::path& prefix, std::filesystem::path& name);

// The new content takes over the target's mode and, where allowed, its owner and group (where not,
// the set-user-ID and set-group-ID bits are dropped).
void takeOver(const FileDescriptor& file, const Target& target);

[[nodiscard]] bool flush(const FileDescriptor& file);

// Makes `copy` (which must not exist yet) hold what `from` holds now: a hard link where that is
// safe (a regular file with no other name, so that nothing can change it later), else a copy of
// the bytes, flushed.
[[nodiscard]] bool keepCopy(const std::filesystem::path& from, const std::filesystem::path& copy);

// Moves from over to (replacing it), durably where the platform allows.
[[nodiscard]] bool renameOver(const std::filesystem::path& from, const std::filesystem::path& to);

// Flushes a folder's entries (where the platform has such a thing).
void flushFolder(const std::filesystem::path& folder);

}  // namespace falcet::replace_steps
