#pragma once
// Source kind detection from the file name, and for executables from the first section name
// (module 語系判斷).

#include <cstdint>
#include <optional>
#include <string>

#include "transfer/source_kind.hpp"

namespace falcet {

// ".exe" (Delphi or VB by what the program holds; failing that Delphi when the first section is
// "CODE", else VB); ".bin" and the VB blob files
// ".frx", ".ctx", ".dsx", ".pgx", ".dox" (VB BIN); ".dfm". The last four characters compared
// without regard to letter case. None for any other name.
[[nodiscard]] std::optional<SourceKindValue> DetectSourceKind(const std::string& name);

// Whether an executable is a Delphi, C++Builder or Lazarus program: by what it holds (RCDATA form
// streams: Delphi; the VB5! header or MSVBVM50/60 imported: VB), else by its first section's name.
[[nodiscard]] bool IsDelphiExecutable(const std::string& name);

}  // namespace falcet
