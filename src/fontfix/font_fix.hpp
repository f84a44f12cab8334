#pragma once
// The interface font adaptation settings (section "FontFix") and the rule that decides which
// controls get the replacement font.

#include <cstdint>
#include <string>

#include "settings/ini_file.hpp"

namespace falcet {

struct FontFixSettings {
  bool AutoFix = false;
  std::int64_t OriginFontSize = 0;  // points x 10,000
  std::int16_t OriginFontCharset = 0;
  std::string FixedFontName;
  std::int64_t FixedFontSize = 0;  // points x 10,000
  std::int16_t FixedFontCharset = 0;
};

struct FontFixLoadResult {
  bool ok = false;
  std::string key;  // the key that was missing or not a number
};

// Reads the six keys in order. A missing, empty or non-numeric numeric key stops the read and is
// named in the result; settings then holds what was read before it.
[[nodiscard]] FontFixLoadResult LoadFontFixSettings(IniFile& ini, FontFixSettings& settings);

// Whether a font of this size (points x 10,000) and character set is the design font.
[[nodiscard]] bool isDesignFont(const FontFixSettings& s, std::int64_t size, std::int16_t charset);

// A point size as the fixed-point value (x 10,000, rounded half to even).
[[nodiscard]] std::int64_t toFixed4(double points);

}  // namespace falcet
