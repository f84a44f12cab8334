#pragma once
// Every text the user sees, in one place: the messages, the report lines, the window's captions
// and the descriptions of system errors. Nothing here depends on the rest of the program, so every
// layer may use it; texts that take a value are built by the functions below.

#include <cstddef>
#include <cstdint>
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
inline constexpr std::string_view kVerdictUnchanged = "  與原始檔中的圖像相同，未變更。";
inline constexpr std::string_view kVerdictTooLarge = "  大於原圖像，此圖像未匯入！";
inline constexpr std::string_view kVerdictNotFound = "  檔案未找到，此圖像未匯入！";
inline constexpr std::string_view kVerdictUnknownKind = "  類型未知，此圖像未匯入！";
inline constexpr std::string_view kVerdictOutOfRange = "  位置超出範圍，此圖像未匯入！";
inline constexpr std::string_view kVerdictUnreadable = "  圖像檔案無法讀取，此圖像未匯入！";
inline constexpr std::string_view kVerdictWrongFormat = "  格式不符，此圖像未匯入！";
inline constexpr std::string_view kVerdictIncomplete = "  圖像不完整，此圖像未匯入！";
inline constexpr std::string_view kVerdictMismatch = "  記錄與原始檔不符，此圖像未匯入！";
inline constexpr std::string_view kVerdictWouldBeLost =
    "  在程式中就地縮小後將無法再找到此圖像（其長度欄位無法就地改寫），此圖像未匯入！";
inline constexpr std::string_view kCompanionUpdated = "已更新窗體文字檔中的位置：";
inline constexpr std::string_view kCompanionMissing = "找不到窗體文字檔，其中指向此檔的位置未能更新：";
inline constexpr std::string_view kCompanionWriteError = "窗體文字檔無法寫入，其中的位置未更新：";
inline constexpr std::string_view kNothingImported = "未寫入任何檔案；能寫入後，以同一記錄檔再匯入即可。";
inline constexpr std::string_view kLogRewriteError = "記錄檔無法更新，請勿再次匯入此記錄檔：";
inline constexpr std::string_view kRebuiltTooLarge = "重建後的檔案將達 2 GiB 或以上，未寫入！";
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
    "程式檔(*.exe;*.dll;*.ocx)|*.exe;*.dll;*.ocx|"
    "VB窗體資料檔(*.frx;*.ctx;*.dsx;*.pgx;*.dox;*.bin)|*.frx;*.ctx;*.dsx;*.pgx;*.dox;*.bin|"
    "Delphi窗體檔(*.dfm;*.lfm;*.fmx;*.xfm)|*.dfm;*.lfm;*.fmx;*.xfm|全部檔案(*.*)|*.*";
inline constexpr std::string_view kEnterLogName = "請輸入記錄檔名（原始檔名.pic.log）：匯入依匯出時寫下的記錄檔進行。";
inline constexpr std::string_view kLogFilter = "記錄檔(*.log)|*.log|全部檔案(*.*)|*.*";

// The result view after an export or an import.
inline constexpr std::string_view kSignedProgramQuestion =
    "此程式有數位簽章（Authenticode）。匯入圖像後，簽章將無法再通過驗證。\r\n"
    "要移除簽章並匯入嗎？（選「否」則不匯入，不寫入任何檔案。）";
inline constexpr std::string_view kSignedProgramRefused =
    "此程式有數位簽章（Authenticode），匯入圖像後簽章將無法再通過驗證，因此未匯入，未寫入任何檔案。\r\n"
    "若仍要匯入：命令列請加上 --remove-signature；視窗中在詢問時選「是」。簽章會被移除。";
inline constexpr std::string_view kNoPictureFound =
    "沒有找到圖像：原始檔中沒有所選類型的圖像（請確認所選的類型）。";
inline constexpr std::string_view kPreviousLogKept = "原有的記錄檔保留未動。";
inline constexpr std::string_view kEditedPicturesKept =
    "下列圖像檔在上次匯出後修改過，與原始檔中的圖像不同，已保留、未覆寫（命令列加上 --overwrite 則覆寫）：";
// The progress dialog of the window while an export or an import runs.
inline constexpr std::string_view kExportProgress = "正在匯出圖像…";
inline constexpr std::string_view kImportProgress = "正在匯入圖像…";
// A form saved as text whose binary values cannot be read, and the line where.
[[nodiscard]] std::string textFormUnreadable(std::size_t line);
// A value of a form that starts with a picture no kind knows (list): its property and format.
[[nodiscard]] std::string unknownPicture(const std::string& property, const std::string& format, std::int64_t position);
// The question before an export overwrites pictures the user edited since the last export.
[[nodiscard]] std::string editedPicturesQuestion(std::size_t files);
inline constexpr std::string_view kBackupNotReplaced = "無法以新的備份取代舊的備份檔，匯入前的內容保留在：";
inline constexpr std::string_view kCompanionNoReferences =
    "窗體文字檔中沒有指向此檔案的參照，其中的位移未移動（若文字檔用了別的檔名，請自行修正）：";
inline constexpr std::string_view kSourceNameLineBreak = "原始檔名中有換行字元，記錄檔無法記下它，未匯出。";
inline constexpr std::string_view kSignatureRemoved = "已移除程式的數位簽章（Authenticode）。";
inline constexpr std::string_view kProgramIconReplaced = "程式本身的圖示（檔案總管顯示的圖示）也已換成新的圖示。";
inline constexpr std::string_view kProgramIconRefused = "程式本身的圖示與表單圖示相同，但無法重建資源區段，程式圖示未更換：";
inline constexpr std::string_view kProgramNotRebuilt = "無法重建程式的資源區段，較大的圖像未匯入：";
inline constexpr std::string_view kLayoutUnreadable = "資源區段的目錄無法完整讀取。";
inline constexpr std::string_view kLayoutDataElsewhere = "有資源資料不在資源區段內，或資源目錄不在區段開頭。";
inline constexpr std::string_view kLayoutPointedInto = "有其他資料目錄指向資源區段或其後要移動的區段。";
inline constexpr std::string_view kLayoutNoRoom = "資源區段之後還有無法移動的區段，檔頭也沒有空間再加一個區段。";

namespace result {
inline constexpr std::string_view kExportTitle = "匯出結果 - Falcet";
inline constexpr std::string_view kImportTitle = "匯入結果 - Falcet";
// The list's column headings, in the order of the columns: thumbnail, number, file, format,
// width × height, bytes, owner; after an import also verdict and changed.
inline constexpr std::string_view kColumns[9] = {"圖像", "序號", "檔名", "格式", "寬×高", "位元組", "擁有者", "結果", "變更"};
inline constexpr std::string_view kChanged = "已變更";
inline constexpr std::string_view kUnknown = "-";
inline constexpr std::string_view kOpenHint = "按兩下一列，以預設程式開啟該圖像檔案。";
inline constexpr std::string_view kOk = "確定";
}  // namespace result

// The line above the result view's list: how many pictures, and for an import how many went in,
// how many of those changed and how many were refused.
[[nodiscard]] std::string exportSummary(std::size_t pictures);
[[nodiscard]] std::string importSummary(std::size_t imported, std::size_t changed, std::size_t refused);

// The command line's help.
namespace cli {
// The progress line on a terminal's error stream, before the percentage.
inline constexpr std::string_view kProgress = "處理中…";
inline constexpr std::string_view kAbout =
    "Falcet：匯出與匯入 VB6 及 Delphi 程式窗體資料中的圖像。\n"
    "匯出：每個圖像存成原始檔旁的一個檔案（原始檔名.001.bmp …），並寫下記錄檔 原始檔名.pic.log。\n"
    "用任何圖像編輯器修改圖像後，匯入：依記錄檔把圖像放回原始檔，舊檔保留為 原始檔名.bak。\n"
    "結束狀態：0 成功；1 失敗；3 已寫入但有圖像未匯入。";
inline constexpr std::string_view kHelpFlag = "顯示說明";
inline constexpr std::string_view kKindOption =
    "原始檔類型：vb-exe、vb-bin、delphi-exe、delphi-dfm；未指定時依檔名判斷（.exe 依程式內容："
    "含 RCDATA 窗體串流為 delphi-exe，含 VB5! 標頭為 vb-exe，否則看第一個區段名稱），判斷不出時為 vb-exe";
inline constexpr std::string_view kSettingsOption = "設定檔（預設為程式旁的 Falcet.ini）";
inline constexpr std::string_view kKindsCommand =
    "列出設定檔中的圖像類型，每行一個：序號、名稱、標記（十六進位）、"
    "FilePosFix、FileLenPos、BinFileLenPos、BinFileLenFix、FileExt、"
    "DfmBlockLenPos、DfmBlockLenFix、EnclosingLenFields。\n例：falcet-cli kinds --settings Falcet.ini";
inline constexpr std::string_view kExportCommand =
    "匯出原始檔中的圖像。\n例：falcet-cli export D:/a/prog.exe";
inline constexpr std::string_view kSourceArgument = "原始檔";
inline constexpr std::string_view kImportCommand =
    "依記錄檔把圖像匯入原始檔（原始檔為記錄檔名去掉 .pic.log）。\n"
    "例：falcet-cli import D:/a/prog.exe.pic.log";
inline constexpr std::string_view kLogArgument = "記錄檔（*.pic.log）";
inline constexpr std::string_view kOverwriteOption =
    "覆寫上次匯出後修改過的圖像檔（預設保留它們，並以失敗結束）";
inline constexpr std::string_view kRemoveSignatureOption =
    "有數位簽章的程式：移除簽章後匯入（預設不匯入，因為匯入後簽章無法再通過驗證）";
inline constexpr std::string_view kDetectCommand =
    "顯示依檔名判斷出的原始檔類型（vb-exe、vb-bin、delphi-exe、"
    "delphi-dfm），判斷不出時顯示 none。\n例：falcet-cli detect prog.exe";
inline constexpr std::string_view kFileArgument = "檔案";
inline constexpr std::string_view kListCommand =
    "列出匯出會找到的圖像，不寫入任何檔案：序號、位置、長度、類型、格式、大小、擁有者。\n"
    "例：falcet-cli list --json D:/a/prog.exe";
inline constexpr std::string_view kJsonOption = "以 JSON 輸出";
inline constexpr std::string_view kListHeader = "序號\t位置\t長度\t類型\t格式\t大小\t擁有者";
}  // namespace cli

// The description of a system error (an errno value) as the user sees it.
[[nodiscard]] std::string describeSystemError(int err);

// The message for an unexpected error while a picture file is probed: "錯誤號: " and the number
// the form runtime gives that error (70 permission, 52 bad name, 57 device I/O, else 75).
[[nodiscard]] std::string errorNumberMessage(int err);

// Start-up failures that name the settings file: a listed section that is missing, and a key that
// is missing, empty or not a valid value.
[[nodiscard]] std::string settingsMissingFile(std::string_view file);
[[nodiscard]] std::string settingsMissingSection(std::string_view file, std::string_view section);
[[nodiscard]] std::string settingsBadKey(std::string_view file, std::string_view section,
                                         std::string_view key);

}  // namespace falcet::texts
