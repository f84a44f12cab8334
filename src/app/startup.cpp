#include "app/startup.hpp"

#include "platform/codepage.hpp"
#include "platform/file_io.hpp"
#include "texts/texts.hpp"

namespace falcet {

StartupResult loadKindsOnly(IniFile& ini, PictureKinds& kinds) {
  KindsLoadResult r = LoadPictureKinds(ini, kinds);
  if (r.ok()) return {true, ""};
  return {false, describeKindsError(r, ini.IniFilePath())};
}

StartupResult loadStartupSettings(IniFile& ini, FontFixSettings& fonts, PictureKinds& kinds) {
  FontFixLoadResult f = LoadFontFixSettings(ini, fonts);
  // A settings file that is not there is named as missing, not as a file without its first key.
  if (!f.ok && !fileStatus(ini.IniFilePath()))
    return {false, texts::settingsMissingFile(utf8Path(ini.IniFilePath()))};
  if (!f.ok) {
    return {false, texts::settingsBadKey(utf8Path(ini.IniFilePath()), "FontFix", f.key)};
  }
  return loadKindsOnly(ini, kinds);
}

}  // namespace falcet
