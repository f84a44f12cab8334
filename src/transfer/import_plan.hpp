#pragma once
// The pure part of import: given the log's entries, the kinds, the source kind and the source's
// bytes, it decides each entry's verdict and makes the new content. It shows nothing and touches
// no file but through PictureFiles; the command (import.cpp) does the I/O and words the report.
//
// VB programs are patched in place: a picture may shrink (the rest of its place is zero-filled)
// but not grow, and no length field changes; where a replaced form icon was the program's own icon
// (a group of the resource section), that group gets the new icon too. Delphi-family programs in
// which a picture changes size are rebuilt through their resource section: each form stream that
// holds an entry is rebuilt as a form file is, and the section laid out anew (where it cannot be,
// they are patched in place as VB programs are, and layoutError says why). Form files are rebuilt front to back: each imported
// picture replaces its old bytes, its length fields get the new length, and everything between
// pictures is copied unchanged; a .dfm file's resource header then gets the new stream size.
// An executable image (MZ, and "PE\0\0" where the MZ header points) is always patched in place,
// whatever the source kind says. Before any entry is put back, the source must still hold the
// kind's marker and the recorded length where the entry says (else the log is not this source's).

#include <cstdint>
#include <span>
#include <vector>

#include "transfer/companion.hpp"
#include "formats/delphi_text_form.hpp"
#include "formats/pe_image.hpp"
#include "formats/picture_facts.hpp"
#include "formats/resource_section.hpp"
#include "transfer/picture_kind.hpp"
#include "transfer/session.hpp"
#include "base/bytes.hpp"

namespace falcet {

// What became of one log entry. Every value but Imported leaves the source's bytes at that place
// as they were.
enum class Verdict {
  Imported,     // the picture was put in
  TooLarge,     // executables: the picture file is larger than the place it came from
  NotFound,     // the picture file is not there
  UnknownKind,  // no kind has the logged name
  OutOfRange,   // the entry's place is not inside the source, or (form files) it overlaps or
                // goes back before an earlier entry, or a length field would lie outside the file
  Unreadable,   // the picture file is there but could not be read whole
  Mismatch,     // the source does not hold the kind's marker and the recorded length there
  WrongFormat,  // the picture file's format is not one the kind accepts
  Incomplete,   // the picture's own structure runs past the end of its file
  WouldBeLost,  // executables: patched in place, the kind would no longer find the picture
};

// Where the plan gets the picture files from.
class PictureFiles {
 public:
  virtual ~PictureFiles() = default;
  // Whether the entry's picture file is there (the command may report an unexpected error).
  virtual bool exists(const LogEntry& entry) = 0;
  // Reads exactly out.size() bytes of the entry's picture file; false when it cannot.
  virtual bool read(const LogEntry& entry, std::span<unsigned char> out) = 0;
};

struct EntryResult {
  Verdict verdict = Verdict::Imported;
  std::int64_t newPosition = 0;  // where the entry's picture starts in the new content
  std::int32_t newLength = 0;    // its length there (the old one when not imported)
  std::optional<PictureFacts> facts;  // of the picture file, when it was read
  bool changed = false;          // imported, and not the bytes the source held there
};

struct ImportPlan {
  std::vector<EntryResult> entries;    // one per log entry, in log order
  bool rebuilt = false;                // true: content holds the new file; false: patched in place
  std::size_t patchedLength = 0;       // patched in place: how many of the bytes the file keeps
  bool signatureRemoved = false;       // the certificate table was removed
  std::vector<unsigned char> content;  // the rebuilt form file or program
  std::vector<SizeChange> changes;     // rebuilt form file: the pictures that changed size, in rising order
  int programIcons = 0;                // programs: icon groups that followed a replaced form icon
  bool programIconRefused = false;     // a VB program's icon would have followed, but could not
  ResourceLayoutError layoutError = ResourceLayoutError::None;  // why a program was not rebuilt
};

// Patches the pictures of an executable into bytes, in place. The stored lengths stay; a copy of
// the length inside the picture (a bitmap's file size) takes the stored value, so that the rest of
// the place belongs to the picture; a picture the kind would then no longer find where it was is
// refused (delphiBlockTest: the source is a Delphi program, as the scan tests it).
[[nodiscard]] std::vector<EntryResult> patchExecutable(const std::vector<LogEntry>& entries,
                                                       const PictureKinds& kinds, bool delphiBlockTest,
                                                       MutableByteSpan bytes, PictureFiles& files);

// Rebuilds a form file (VB blob file or Delphi .dfm) with the pictures of the entries.
[[nodiscard]] ImportPlan rebuildFormFile(const std::vector<LogEntry>& entries,
                                         const PictureKinds& kinds, SourceKindValue sourceKind,
                                         ByteSpan bytes, PictureFiles& files);

// Rebuilds a form saved as text: its binary view is rebuilt as a .dfm is, and the hex of each
// value whose bytes changed is written again in the value's own layout; every other byte of the
// text stays. Positions are those of the view.
// form is text read by readTextForm; null when it could not be read (nothing then goes in).
[[nodiscard]] ImportPlan rebuildTextForm(const std::vector<LogEntry>& entries, const PictureKinds& kinds,
                                         ByteSpan text, const TextForm* form, PictureFiles& files);

// A binary .dfm starts with a resource header (FF 0A 00, the class name, a zero byte, 30 10, the
// stream size as u32, then "TPF0"). Moves that size by newSize - oldSize, so that a header that
// was right stays right; content without such a header is left alone.
void fixDfmHeader(std::vector<unsigned char>& content, std::int64_t oldSize);

// The whole plan for a session whose log and source are loaded. A program image's certificate
// table is removed first when removeSignature says so; its header checksum is then set anew
// where it was not zero.
struct ImportOptions {
  bool removeSignature = false;
  const TextForm* textForm = nullptr;  // the source as a form saved as text, already read; else read here
};
[[nodiscard]] ImportPlan makeImportPlan(const Session& session, MutableByteSpan sourceBytes, PictureFiles& files,
                                        ImportOptions options = {});

}  // namespace falcet
