#include "app/startup.hpp"

#include "app/texts.hpp"
#include "platform/codepage.hpp"

namespace falcet {

StartupResult loadKindsOnly(IniFile& ini, PictureKinds& kinds) {
  KindsLoadResult r = LoadPictureKinds(ini, kinds);
  if (r.ok()) return {true, ""};
  return {false, describeKindsError(r, ini.IniFilePath())};
}

StartupResult loadStartupSettings(IniFile& ini, FontFixSettings& fonts, PictureKinds& kinds) {
  FontFixLoadResult f = LoadFontFixSettings(ini, fonts);
  if (!f.ok) {
    return {false, std::string(texts::kStartupError) + "\r\n設定檔 " + utf8Path(ini.IniFilePath()) +
                       " 的區段 [FontFix] 中，鍵 " + f.key + " 缺少、是空的或不是數字。"};
  }
  return loadKindsOnly(ini, kinds);
}

}  // namespace falcet
