// The file helpers that are the same on every platform, over the primitives of
// file_io_posix.cpp / file_io_win.cpp.

#include "platform/file_io.hpp"

#include <vector>

#include "platform/codepage.hpp"
#include "platform/file_replace.hpp"
#include "base/ascii.hpp"

namespace falcet {

namespace {

// Writes data over an opened file from its position (its start), then cuts it to the new
// length. Emptying with O_TRUNC first would do the same, but some file systems (ext4) then flush
// the file on close, which costs a disk write per picture when an export runs again over its
// own files.
WriteResult writeOver(OverwriteOpen& target, std::string_view data) {
  if (!writeAll(target.fd, data.data(), data.size())) return WriteResult::Failed;
  if (target.oldSize > static_cast<std::int64_t>(data.size()) &&
      !truncateFile(target.fd, static_cast<std::int64_t>(data.size())))
    return WriteResult::Failed;
  return target.fd.close() ? WriteResult::Written : WriteResult::Failed;
}

}  // namespace

WriteResult writeWholeFile(const std::filesystem::path& path, std::string_view data,
                           const FileIdentity* avoid) {
  OverwriteOpen target = openForOverwrite(path, avoid);
  if (!target.fd.valid()) return WriteResult::Refused;
  return writeOver(target, data);
}

WriteResult writeWholeFileUnlessSame(const std::filesystem::path& path, std::string_view data,
                                     const FileIdentity* avoid, bool keepOther) {
  OverwriteOpen target = openForOverwrite(path, avoid);
  if (!target.fd.valid()) return WriteResult::Refused;
  if (target.readable && target.oldSize > 0) {
    bool same = false, read = true;
    if (target.oldSize == static_cast<std::int64_t>(data.size())) {
      std::string old(data.size(), '\0');
      read = readAllAt(target.fd, 0, old.data(), old.size());
      same = read && old == data;
    }
    if (same) return target.fd.close() ? WriteResult::Unchanged : WriteResult::Failed;
    if (read && keepOther) return WriteResult::Kept;
    if (!rewindFile(target.fd)) return WriteResult::Failed;
  }
  return writeOver(target, data);
}

std::optional<std::string> readWholeFile(const std::filesystem::path& path) {
  FileDescriptor fd = openRegularForRead(path);
  if (!fd.valid()) return std::nullopt;
  std::string out;
  char buf[65536];
  for (;;) {
    const std::int64_t n = readAll(fd, buf, sizeof buf);
    if (n < 0) return std::nullopt;
    out.append(buf, static_cast<std::size_t>(n));
    if (n < static_cast<std::int64_t>(sizeof buf)) break;
  }
  return out;
}

std::optional<std::filesystem::path> findSiblingWithExtension(const std::filesystem::path& path,
                                                             std::string_view extension) {
  // The name as the folder holds it: on a file system that ignores letter case, the name asked
  // for would be found too, but the report should show the file's own name.
  const std::string wanted = utf8Path(std::filesystem::path(path).replace_extension(std::string(extension)).filename());
  std::optional<std::filesystem::path> found;
  std::error_code ec;
  const std::filesystem::path folder = path.parent_path().empty() ? "." : path.parent_path();
  for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
    const std::string name = utf8Path(entry.path().filename());
    if (!equalsIgnoreCaseAscii(name, wanted) || !entry.is_regular_file(ec)) continue;
    found = path.parent_path() / entry.path().filename();
    if (name == wanted) break;
  }
  return found;
}

namespace {

// Temporary names tie each file to the file it replaces, so that what a killed replace left
// behind is found by the next one: ".Form1.frx.falcet-new-XXXXXX" (new content not yet moved in)
// and ".Form1.frx.falcet-old-XXXXXX" (the content being replaced, before it becomes the backup).
// A name too long for that gets the short form, which nothing tidies.
std::filesystem::path temporaryPrefix(const std::filesystem::path& target, bool oldContent) {
  const auto leaf = target.filename().native();
  std::filesystem::path prefix = ".";
  if (leaf.size() <= 200) prefix += leaf;
  prefix += oldContent ? ".falcet-old-" : ".falcet-new-";
  return prefix;
}

bool sameContent(const std::filesystem::path& a, const std::filesystem::path& b) {
  const auto x = readWholeFile(a);
  if (!x) return false;
  const auto y = readWholeFile(b);
  return y && *x == *y;
}

// Removes what an earlier replace of target left when it was stopped: new content never moved in
// always; old content only where the target or its backup still holds the same bytes (otherwise
// it may be the only copy of that version, and it stays).
void removeLeftovers(const std::filesystem::path& target, const std::filesystem::path& backup) {
  if (target.filename().native().size() > 200) return;
  const auto fresh = temporaryPrefix(target, false).native(), kept = temporaryPrefix(target, true).native();
  const std::filesystem::path folder = target.parent_path().empty() ? "." : target.parent_path();
  std::error_code ec;
  std::vector<std::filesystem::path> found;
  for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
    const auto leaf = entry.path().filename().native();
    const bool isFresh = leaf.size() == fresh.size() + 6 && leaf.compare(0, fresh.size(), fresh) == 0;
    const bool isKept = leaf.size() == kept.size() + 6 && leaf.compare(0, kept.size(), kept) == 0;
    if ((isFresh || isKept) && entry.is_regular_file(ec) && !entry.is_symlink(ec)) {
      const auto path = target.parent_path() / entry.path().filename();
      if (isFresh || sameContent(path, target) || sameContent(path, backup)) found.push_back(path);
    }
  }
  for (const auto& path : found) (void)removeFile(path);
}

}  // namespace

bool replaceFileContent(const std::filesystem::path& target, const void* data, std::size_t size,
                        ReplaceOptions options) {
  namespace step = replace_steps;
  const std::filesystem::path folder = target.parent_path();
  std::filesystem::path backup = target, orig = target;
  backup += ".bak";
  orig += ".orig";
  const step::Target old = step::inspect(target);
  // A backup name that a file cannot take (a folder) stops the replace before anything is written.
  if (old.exists && options.keepBackup && step::isFolder(backup)) {
    errno = EISDIR;
    return false;
  }
  if (old.exists) removeLeftovers(target, backup);
  std::filesystem::path tmp;
  FileDescriptor fd = step::makeTemporaryBeside(folder, temporaryPrefix(target, false), tmp);
  if (!fd.valid()) return false;
  if (old.exists) step::takeOver(fd, old);
  bool ok = writeAll(fd, data, size) && step::flush(fd);
  ok = fd.close() && ok;

  // The old content is kept under a temporary name and takes the backup's and the original's
  // names only after the new content is in place.
  std::filesystem::path kept;
  if (ok && old.exists && (options.keepBackup || options.keepOriginal)) {
    FileDescriptor placeholder = step::makeTemporaryBeside(folder, temporaryPrefix(target, true), kept);
    ok = placeholder.valid() && placeholder.close() && removeFile(kept) && step::keepCopy(target, kept);
    if (!ok) kept.clear();
  }
  if (ok) ok = step::renameOver(tmp, target);
  if (!ok) {
    const int err = errno;
    (void)removeFile(tmp);
    if (!kept.empty()) (void)removeFile(kept);
    errno = err;
    return false;
  }
  if (!kept.empty()) {
    if (options.keepOriginal && step::isMissing(orig)) (void)step::keepCopy(kept, orig);
    // Should the move fail, the old content stays under the temporary name: nothing is lost.
    if (!options.keepBackup) (void)removeFile(kept);
    else if (!step::renameOver(kept, backup) && options.keptInstead) *options.keptInstead = kept;
  }
  step::flushFolder(folder);
  return true;
}

}  // namespace falcet
