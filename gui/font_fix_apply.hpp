#pragma once
// Re-fonts the window's controls that carry the design font (module 字體修正).
//
// Qt fonts have no character set, so every control carries its design character set as the
// dynamic property "charset"; the window's own "charset" is tested like its font, never changed.

#include <QWidget>

#include "fontfix/font_fix.hpp"

namespace falcet {

inline constexpr const char* kCharsetProperty = "charset";
inline constexpr int kDesignCharset = 136;

void ApplyFontFix(QWidget& window, const FontFixSettings& settings);

}  // namespace falcet
