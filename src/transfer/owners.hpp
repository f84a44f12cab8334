#pragma once
// Who a picture belongs to, where the source's own layout says it:
//
//   Delphi form streams ("TPF0", in a .dfm or a program's resources): every binary property's
//     value, as "TForm1.Image1.Picture.Data" (the form's class, the component, the property
//     path; collection items as "MultiResBitmap[0].PNG");
//   a VB blob file with its companion text beside it: the blob each "X.frx":HHHH reference points
//     at, as "Form1.Image1.Picture" (the form, the control with its index in a control array, the
//     property path through BeginProperty);
//   a VB program: each form's data range from the VB5! header's form table, as the form's name.
//
// Everything is read bounds-checked; what cannot be read gives no owner, never an error.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/bytes.hpp"
#include "formats/byte_reader.hpp"
#include "formats/delphi_text_form.hpp"

namespace falcet {

// Bytes [begin, end) of a source that belong to owner (UTF-8).
struct OwnedRange {
  std::int64_t begin = 0;
  std::int64_t end = 0;
  std::string owner;
};

// Every binary property value of every Delphi form stream in bytes.
[[nodiscard]] std::vector<OwnedRange> delphiStreamOwners(const ByteReader& bytes);
[[nodiscard]] inline std::vector<OwnedRange> delphiStreamOwners(ByteSpan bytes) {
  return delphiStreamOwners(MemoryReader(bytes));
}

// The blobs of a VB blob file named blobFileName (UTF-8; any folder ignored) that companion (the
// text file, in the locale's character set) refers to. The references naming the file count; a
// blob file copied under another name keeps the project's name in its companion, so failing
// those, the references whose name ends the name on disk ("Form1.frx" in "Copy of Form1.frx"),
// failing those all references when they all name one file.
[[nodiscard]] std::vector<OwnedRange> vbCompanionOwners(std::string_view companion,
                                                        std::string_view blobFileName, const ByteReader& blob);
[[nodiscard]] inline std::vector<OwnedRange> vbCompanionOwners(std::string_view companion,
                                                               std::string_view blobFileName, ByteSpan blob) {
  return vbCompanionOwners(companion, blobFileName, MemoryReader(blob));
}

// Every binary value of a form saved as text, at its place in the form's binary view.
[[nodiscard]] std::vector<OwnedRange> textFormOwners(const TextForm& form);

// The forms of a VB5/6 program: each form's data range, owned by the form's name.
[[nodiscard]] std::vector<OwnedRange> vbProgramOwners(const ByteReader& bytes);
[[nodiscard]] inline std::vector<OwnedRange> vbProgramOwners(ByteSpan bytes) { return vbProgramOwners(MemoryReader(bytes)); }

// Who owns what, found by the narrowest range that holds a picture. The ranges are kept sorted
// with each one's nearest enclosing range, so that a look-up costs the nesting depth, not the
// number of ranges (ranges from one source nest or lie apart; where crafted ones cross, the
// range that starts last among those holding the picture wins).
class Owners {
 public:
  Owners() = default;
  explicit Owners(std::vector<OwnedRange> ranges);
  // The owner of the narrowest range that holds all of [position, position + length).
  [[nodiscard]] std::optional<std::string> of(std::int64_t position, std::int64_t length) const;
  [[nodiscard]] bool empty() const { return m_ranges.empty(); }

 private:
  std::vector<OwnedRange> m_ranges;     // by begin, then the longer first
  std::vector<std::ptrdiff_t> m_parent;  // the nearest earlier range that holds each, or -1
};

// Everything the source at sourcePath (UTF-8), whose bytes are given, says of owners: its form
// streams, its VB form table, and for a VB blob file its companion, read from beside it. (A form
// saved as text names its owners through textFormOwners.)
[[nodiscard]] Owners readOwners(const ByteReader& bytes, const std::string& sourcePath);
[[nodiscard]] inline Owners readOwners(ByteSpan bytes, const std::string& sourcePath) {
  return readOwners(MemoryReader(bytes), sourcePath);
}

}  // namespace falcet
