#include "texts/texts.hpp"

#include <cerrno>

namespace falcet::texts {

std::string describeSystemError(int err) {
  switch (err) {
    case ENOENT: return "找不到檔案";
    case ENOTDIR: return "找不到路徑";
    case EACCES:
    case EPERM: return "沒有使用權限";
    case EISDIR: return "路徑/檔案存取錯誤";
    case EBUSY:
    case ETXTBSY: return "檔案已開啟";
    case ENOSPC: return "磁碟已滿";
    case EROFS: return "唯讀的檔案系統";
    case ENAMETOOLONG: return "檔名錯誤";
    case EIO: return "裝置 I/O 錯誤";
    case ERANGE:
    case EOVERFLOW: return "溢位";
    default: return "路徑/檔案存取錯誤";
  }
}

std::string errorNumberMessage(int err) {
  int number = 75;
  switch (err) {
    case EACCES:
    case EPERM: number = 70; break;
    case ENAMETOOLONG: number = 52; break;
    case EIO: number = 57; break;
    default: break;
  }
  return std::string(kErrorNumber) + std::to_string(number) + "\r\n 0";
}

std::string editedPicturesQuestion(std::size_t files) {
  return "有 " + std::to_string(files) + " 個圖像檔在上次匯出後修改過，與原始檔中的圖像不同。\r\n"
         "要以原始檔中的圖像覆寫它們嗎？（選「否」則保留修改過的檔案。）";
}

std::string textFormUnreadable(std::size_t line) {
  return "文字格式的窗體檔無法解讀（第 " + std::to_string(line) + " 行的二進位值不完整或有非十六進位的字元），未讀取任何圖像。";
}

std::string unknownPicture(const std::string& property, const std::string& format, std::int64_t position) {
  return "未辨識的圖像：" + property + "（" + format + "，位置 " + std::to_string(position) + "），沒有圖像類型認得它的格式。";
}

std::string exportSummary(std::size_t pictures) { return "共匯出 " + std::to_string(pictures) + " 個圖像。"; }

std::string importSummary(std::size_t imported, std::size_t changed, std::size_t refused) {
  std::string s = "匯入 " + std::to_string(imported) + " 個圖像，其中 " + std::to_string(changed) + " 個已變更";
  if (refused) s += "；" + std::to_string(refused) + " 個未匯入";
  return s + "。";
}

std::string settingsMissingFile(std::string_view file) {
  return std::string(kStartupError) + "\r\n找不到設定檔 " + std::string(file) + "。";
}

std::string settingsMissingSection(std::string_view file, std::string_view section) {
  return std::string(kStartupError) + "\r\n設定檔 " + std::string(file) + " 沒有區段 [" +
         std::string(section) + "]。";
}

std::string settingsBadKey(std::string_view file, std::string_view section, std::string_view key) {
  return std::string(kStartupError) + "\r\n設定檔 " + std::string(file) + " 的區段 [" +
         std::string(section) + "] 中，鍵 " + std::string(key) + " 缺少、是空的或不是有效的值。";
}

}  // namespace falcet::texts
