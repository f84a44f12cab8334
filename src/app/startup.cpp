#include "app/startup.hpp"

#include "platform/codepage.hpp"
#include "texts/texts.hpp"

namespace falcet {

StartupResult loadKindsOnly(IniFile& ini, PictureKinds& kinds) {
  KindsLoadResult r = LoadPictureKinds(ini, kinds);
  if (r.ok()) return {true, ""};
  return {false, describeKindsError(r, ini.IniFilePath())};
}

StartupResult loadStartupSettings(IniFile& ini, FontFixSettings& fonts, PictureKinds& kinds) {
  FontFixLoadResult f = LoadFontFixSettings(ini, fonts);
  if (!f.ok) {
    return {false, texts::settingsBadKey(utf8Path(ini.IniFilePath()), "FontFix", f.key)};
  }
  return loadKindsOnly(ini, kinds);
}

}  // namespace falcet
