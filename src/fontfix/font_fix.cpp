#include "fontfix/font_fix.hpp"

#include <cmath>

#include "util/number.hpp"

namespace falcet {

FontFixLoadResult LoadFontFixSettings(IniFile& ini, FontFixSettings& s) {
  ini.IniSelect("Falcet", "FontFix");
  auto autoFix = parseDecimal(ini.IniRead("AutoFix", ""));
  if (!autoFix) return {false, "AutoFix"};
  s.AutoFix = *autoFix == 1.0;
  auto originSize = parseFixed4(ini.IniRead("OriginFontSize", ""));
  if (!originSize) return {false, "OriginFontSize"};
  s.OriginFontSize = *originSize;
  auto originCharset = parseInteger16(ini.IniRead("OriginFontCharset", ""));
  if (!originCharset) return {false, "OriginFontCharset"};
  s.OriginFontCharset = *originCharset;
  s.FixedFontName = ini.IniRead("FixedFontName", "");
  auto fixedSize = parseFixed4(ini.IniRead("FixedFontSize", ""));
  if (!fixedSize) return {false, "FixedFontSize"};
  s.FixedFontSize = *fixedSize;
  auto fixedCharset = parseInteger16(ini.IniRead("FixedFontCharset", ""));
  if (!fixedCharset) return {false, "FixedFontCharset"};
  s.FixedFontCharset = *fixedCharset;
  return {true, ""};
}

bool isDesignFont(const FontFixSettings& s, std::int64_t size, std::int16_t charset) {
  return size == s.OriginFontSize && charset == s.OriginFontCharset;
}

std::int64_t toFixed4(double points) {
  return static_cast<std::int64_t>(std::nearbyint(points * 10000.0));
}

}  // namespace falcet
