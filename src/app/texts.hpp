#pragma once
// Every text the user sees, in one place.

#include <string_view>

namespace falcet::texts {

inline constexpr std::string_view kStartupError = "起始化錯誤！請檢查 ini 檔案的設置後重新執行。";
inline constexpr std::string_view kReadFileError = "讀檔案錯誤！";
inline constexpr std::string_view kWriteFileError =
    "寫入檔案錯誤，請確認對此程序擁有寫入權限並且磁盤未滿！";
inline constexpr std::string_view kFileNameError = "檔名錯誤！請檢查！";
inline constexpr std::string_view kEnterFileName = "請輸入檔名";
inline constexpr std::string_view kLogFileError = "Log 檔案錯誤！";
inline constexpr std::string_view kExportLogHeader = "記錄檔：";
inline constexpr std::string_view kExportFilesHeader = "窗體匯出檔：";
inline constexpr std::string_view kExportDone = "匯出完畢！";
inline constexpr std::string_view kImportDone = "匯入完成！";
inline constexpr std::string_view kVerdictImported = "  圖像成功匯入！";
inline constexpr std::string_view kVerdictTooLarge = "  大於原圖像，此圖像未匯入！";
inline constexpr std::string_view kVerdictNotFound = "  檔案未找到，此圖像未匯入！";
inline constexpr std::string_view kVerdictUnknownKind = "  類型未知，此圖像未匯入！";
inline constexpr std::string_view kVerdictOutOfRange = "  位置超出範圍，此圖像未匯入！";
inline constexpr std::string_view kVerdictUnreadable = "  圖像檔案無法讀取，此圖像未匯入！";
inline constexpr std::string_view kErrorTitle = "錯誤";
inline constexpr std::string_view kErrorNumber = "錯誤號: ";
inline constexpr std::string_view kEmptyPictureFile = "圖像檔案是空的（0 位元組），無法匯入：";
inline constexpr std::string_view kLogCreateError = "無法建立記錄檔：";
inline constexpr std::string_view kPictureWriteError = "下列圖像檔無法寫入，未記入記錄檔：";

inline constexpr std::string_view kSourceKindNames[4] = {"VB EXE 檔", "VB BIN 檔",
                                                         "Delphi EXE 檔", "Delphi DFM 檔"};

}  // namespace falcet::texts
