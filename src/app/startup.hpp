#pragma once
// The part of start-up that needs no window: the font settings, then the picture kinds.

#include <string>

#include "fontfix/font_fix.hpp"
#include "settings/ini_file.hpp"
#include "transfer/picture_kind.hpp"

namespace falcet {

struct StartupResult {
  bool ok = false;
  std::string message;  // the start-up failure text when not ok
};

// Reads FontFix (which fixes the settings file's path) and then the picture kinds. On failure
// the message names the settings file, and for a bad key its section and key.
[[nodiscard]] StartupResult loadStartupSettings(IniFile& ini, FontFixSettings& fonts,
                                                PictureKinds& kinds);

// Only the picture kinds (the command line has no fonts to adapt).
[[nodiscard]] StartupResult loadKindsOnly(IniFile& ini, PictureKinds& kinds);

}  // namespace falcet
