#pragma once
// Every text the user sees, in one place: the messages, the report lines, the window's captions
// and the descriptions of system errors. Nothing here depends on the rest of the program, so every
// layer may use it; texts that take a value are built by the functions below.

#include <string>
#include <string_view>

namespace falcet::texts {

inline constexpr std::string_view kAppTitle = "Falcet";

// Start-up and settings.
inline constexpr std::string_view kStartupError = "起始化錯誤！請檢查 ini 檔案的設置後重新執行。";

// Export.
inline constexpr std::string_view kReadFileError = "讀檔案錯誤！";
inline constexpr std::string_view kExportLogHeader = "記錄檔：";
inline constexpr std::string_view kExportFilesHeader = "窗體匯出檔：";
inline constexpr std::string_view kExportDone = "匯出完畢！";
inline constexpr std::string_view kLogCreateError = "無法建立記錄檔：";
inline constexpr std::string_view kPictureWriteError = "下列圖像檔無法寫入，未記入記錄檔：";

// Log reading and import.
inline constexpr std::string_view kWriteFileError =
    "寫入檔案錯誤，請確認對此程序擁有寫入權限並且磁盤未滿！";
inline constexpr std::string_view kFileNameError = "檔名錯誤！請檢查！";
inline constexpr std::string_view kLogFileError = "Log 檔案錯誤！";
inline constexpr std::string_view kEmptyPictureFile = "圖像檔案是空的（0 位元組），無法匯入：";
inline constexpr std::string_view kImportDone = "匯入完成！";
inline constexpr std::string_view kVerdictImported = "  圖像成功匯入！";
inline constexpr std::string_view kVerdictTooLarge = "  大於原圖像，此圖像未匯入！";
inline constexpr std::string_view kVerdictNotFound = "  檔案未找到，此圖像未匯入！";
inline constexpr std::string_view kVerdictUnknownKind = "  類型未知，此圖像未匯入！";
inline constexpr std::string_view kVerdictOutOfRange = "  位置超出範圍，此圖像未匯入！";
inline constexpr std::string_view kVerdictUnreadable = "  圖像檔案無法讀取，此圖像未匯入！";
inline constexpr std::string_view kErrorTitle = "錯誤";
inline constexpr std::string_view kErrorNumber = "錯誤號: ";

// The window.
inline constexpr std::string_view kEnterFileName = "請輸入檔名";
inline constexpr std::string_view kSourceKindNames[4] = {"VB EXE 檔", "VB BIN 檔",
                                                         "Delphi EXE 檔", "Delphi DFM 檔"};
inline constexpr std::string_view kEmptyListTitle = "空清單";
inline constexpr std::string_view kDesignCaption = "Quendle";
inline constexpr std::string_view kDesignVersion = "Quendle 0.90 版";
inline constexpr std::string_view kKindLabel = "被處理檔案的格式：";
inline constexpr std::string_view kExportFrame = "圖像檔案匯出";
inline constexpr std::string_view kImportFrame = "圖像檔案匯入";
inline constexpr std::string_view kAboutFrame = "關於";
inline constexpr std::string_view kBrowseCaption = "…";
inline constexpr std::string_view kExportTip = "匯出圖像";
inline constexpr std::string_view kImportTip = "匯入圖像";
inline constexpr std::string_view kHomePageLabel = "我的網頁: ";
inline constexpr std::string_view kForumLabel = "我的論壇: ";
inline constexpr std::string_view kMailLabel = "我的信箱: ";
inline constexpr std::string_view kHomePage = "https://falcet.example.org/";
inline constexpr std::string_view kHomeHost = "falcet.example.org";
inline constexpr std::string_view kForum = "https://forum.falcet.example.org/";
inline constexpr std::string_view kMail = "falcet@example.org";
inline constexpr std::string_view kOpenDialogTitle = "選擇原始案";
inline constexpr std::string_view kSourceFilter =
    "程式檔(*.exe;*.dll;*.ocx)|*.exe;*.dll;*.ocx|VB窗體匯出檔(*.bin)|*.bin|DFM檔(*.dfm)|*.dfm|"
    "全部檔案(*.*)|*.*";
inline constexpr std::string_view kLogFilter = "記錄檔(*.log)|*.log|全部檔案(*.*)|*.*";

// The description of a system error (an errno value) as the user sees it.
[[nodiscard]] std::string describeSystemError(int err);

// The message for an unexpected error while a picture file is probed: "錯誤號: " and the number
// the form runtime gives that error (70 permission, 52 bad name, 57 device I/O, else 75).
[[nodiscard]] std::string errorNumberMessage(int err);

// Start-up failures that name the settings file: a listed section that is missing, and a key that
// is missing, empty or not a valid value.
[[nodiscard]] std::string settingsMissingSection(std::string_view file, std::string_view section);
[[nodiscard]] std::string settingsBadKey(std::string_view file, std::string_view section,
                                         std::string_view key);

}  // namespace falcet::texts
