#pragma once
// The picture kind table: what a picture looks like in form data, read from the settings file.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "formats/picture_format.hpp"
#include "settings/ini_file.hpp"

namespace falcet {

// A length field that encloses the picture: at offset from the picture start, holding the
// picture length + difference (a blob's outer size, for example).
// A guard says where the layout has the field: only where these bytes lie at guardOffset from
// the picture start ("-28:24:-24=0452E30B…": an ImageList image's outer size, after its class id).
struct LenField {
  std::int32_t offset = 0;
  std::int32_t difference = 0;
  std::int32_t guardOffset = 0;
  std::string guard;  // empty: no guard
  friend bool operator==(const LenField&, const LenField&) = default;
};

struct PictureKind {
  std::string Name;            // its section name; written to the log, matched on import
  std::string FileHandleMark;  // marker bytes
  std::int32_t FilePosFix = 0;     // picture start = marker position + FilePosFix
  std::int32_t FileLenPos = 0;     // offset of a second copy of the length; 0 = none
  std::int32_t BinFileLenPos = 0;  // offset of the stored length, from the picture start
  std::string FileExt;             // extension without the dot; "*" = from the picture's bytes
  std::int32_t DfmBlockLenPos = 0;  // offset of the Delphi property block length
  std::int32_t DfmBlockLenFix = 0;  // block length = picture length + this
  std::int32_t BinFileLenFix = 0;   // stored length = picture length + this
  // Further length fields that a rebuilt form file updates, each only where it held the old
  // length + its difference (so a field that holds something else is left alone).
  std::vector<LenField> EnclosingLenFields;
  // The picture formats (names as FileExt=* gives them) that import puts into this kind's place;
  // empty: any.
  std::vector<std::string> AcceptFormats;

  friend bool operator==(const PictureKind&, const PictureKind&) = default;
};

// Whether the kind takes a picture of this format (a name as FileExt=* gives it); any, when its
// AcceptFormats names none.
[[nodiscard]] inline bool acceptsFormat(const PictureKind& kind, std::string_view format) {
  if (kind.AcceptFormats.empty()) return true;
  for (const std::string& f : kind.AcceptFormats)
    if (f == format) return true;
  return false;
}

// First index 1 in the descriptions; here index 0 holds kind 1. Kind numbers given to the user
// and kept in log entries are 1-based.
using PictureKinds = std::vector<PictureKind>;

struct KindsLoadResult {
  enum class Status { Loaded, NoKinds, MissingSection, BadKey };
  Status status = Status::NoKinds;
  std::string section;  // for MissingSection and BadKey
  std::string key;      // for BadKey

  [[nodiscard]] bool ok() const { return status == Status::Loaded; }
};

// Reads the list of kinds in section "Falcet" ("001", "002", ... up to the first missing or empty
// key, at most 999) and one section per kind. On NoKinds the table is left as it was; on a
// settings error the table is left as it was too and the result names the section and key.
[[nodiscard]] KindsLoadResult LoadPictureKinds(IniFile& ini, PictureKinds& table);

// The start-up message for a failed load (the text for NoKinds, or one naming file, section and
// key).
[[nodiscard]] std::string describeKindsError(const KindsLoadResult& result,
                                             const std::filesystem::path& settingsFile);

// "offset:difference" pairs separated by commas or blanks ("-12:8, -28:24"), each with an optional
// guard ":guardOffset=hex bytes" (no blanks); empty text gives none. nullopt when malformed.
[[nodiscard]] std::optional<std::vector<LenField>> parseLenFields(std::string_view text);

// Hex byte pairs, blanks allowed between pairs. None when malformed.
[[nodiscard]] std::optional<std::string> parseHexBytes(std::string_view text);

}  // namespace falcet
