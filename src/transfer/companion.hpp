#pragma once
// A VB blob file (.frx, .ctx, .dsx, .pgx, .dox) is never used alone: the form's text file beside
// it (its companion: .frm, .ctl, .dsr, .pag, .dob) holds the offset of every blob in it,
//
//   Picture = "Form1.frx":014A      Icon = "Form1.frx":0000      $"Form1.frx":0A1C
//
// as upper-case hexadecimal with at least four digits. When the blob file is rebuilt with
// pictures of other sizes, every offset after a changed picture must move with it.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "formats/vb_form_text.hpp"

namespace falcet {

// One picture that changed size in a rebuilt file: its old place and its new length.
struct SizeChange {
  std::int64_t position = 0;
  std::int64_t oldLength = 0;
  std::int64_t newLength = 0;
};

// Where an offset of the old file lies in the new one, given the changes in rising order: moved
// by the change in size of every picture that ends at or before it. nullopt for an offset inside
// a changed picture (there is no such place any more).
[[nodiscard]] std::optional<std::int64_t> mapOffset(const std::vector<SizeChange>& changes,
                                                    std::int64_t offset);

// Whether a file name ends in a VB blob file's extension (any letter case).
[[nodiscard]] bool isVbBlobFileName(std::string_view name);

// The companion's extension for a blob file name ("frm" for ".frx", ...), or empty text.
[[nodiscard]] std::string companionExtension(std::string_view blobName);

struct CompanionRewrite {
  std::string text;             // the companion with its references moved
  std::size_t references = 0;   // references to the blob file found
  std::size_t moved = 0;        // of those, how many changed
  std::size_t unmapped = 0;     // references into a changed picture, left as they were
};

// Moves every reference to blobFileName (compared without regard to ASCII letter case, any folder
// before it ignored) in text, the companion's bytes in the locale's character set. Bytes other
// than the moved offsets stay as they are. blobFileName is UTF-8.
[[nodiscard]] CompanionRewrite rewriteCompanion(std::string_view text,
                                                std::string_view blobFileName,
                                                const std::vector<SizeChange>& changes);

}  // namespace falcet
