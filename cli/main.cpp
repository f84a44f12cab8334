// falcet-cli: the command-line front end. It runs the same operations as the window and prints
// the texts the window would show, one per line (errors to stderr).

#include <CLI/CLI.hpp>

#include <cstdio>
#include <iostream>
#include <optional>
#include <string>

#include "app/detect.hpp"
#include "app/startup.hpp"
#include "platform/codepage.hpp"
#include "platform/program_info.hpp"
#include "texts/texts.hpp"
#include "transfer/export.hpp"
#include "transfer/import.hpp"
#include "transfer/log_reader.hpp"

namespace {

using namespace falcet;

// Prints each message; CR LF line ends become the terminal's.
class PrintSink : public MessageSink {
 public:
  int show(std::string_view text, std::string_view title, MessageKind kind) override {
    std::string out;
    if (title != kAppTitle && !title.empty()) out += "[" + std::string(title) + "] ";
    for (std::size_t i = 0; i < text.size(); ++i) {
      if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
      out += text[i];
    }
    out = utf8ToLocale(out) + "\n";
    std::FILE* stream = kind == MessageKind::Error ? stderr : stdout;
    std::fputs(out.c_str(), stream);
    std::fflush(stream);
    return kButtonOk;
  }
};

std::string hex(const std::string& bytes) {
  static const char* digits = "0123456789abcdef";
  std::string out;
  for (unsigned char c : bytes) {
    out += digits[c >> 4];
    out += digits[c & 15];
  }
  return out;
}

bool loadKinds(const std::string& settings, PictureKinds& kinds, PrintSink& sink) {
  IniFile ini(programFolder(), "falcet-cli");
  if (!settings.empty()) ini.useFile(nativePath(settings));
  StartupResult r = loadKindsOnly(ini, kinds);
  if (!r.ok) sink.show(r.message, kAppTitle, MessageKind::Error);
  return r.ok;
}

SourceKindValue chooseKind(const std::string& kindOption, const std::string& sourceName) {
  if (auto k = sourceKindFromOption(kindOption)) return *k;
  return DetectSourceKind(sourceName).value_or(SourceKindValue::VbExe);
}

}  // namespace

int main(int argc, char** argv) {
  initLocale();
  CLI::App app{"Falcet：匯出與匯入 VB6 及 Delphi 程式窗體資料中的圖像。\n"
               "匯出：每個圖像存成原始檔旁的一個檔案（原始檔名.001.bmp …），並寫下記錄檔 原始檔名.pic.log。\n"
               "用任何圖像編輯器修改圖像後，匯入：依記錄檔把圖像放回原始檔，舊檔保留為 原始檔名.bak。\n"
               "結束狀態：0 成功；1 失敗；3 已寫入但有圖像未匯入。",
               "falcet-cli"};
  app.require_subcommand(1);
  app.set_help_flag("-h,--help", "顯示說明");

  std::string settings, kind, path;
  const std::vector<std::string> kindOptions(kSourceKindOptions.begin(), kSourceKindOptions.end());
  const std::string kindHelp =
      "原始檔類型：vb-exe、vb-bin、delphi-exe、delphi-dfm；未指定時依檔名判斷（.exe 看第一個區段名稱），"
      "判斷不出時為 vb-exe";
  const std::string settingsHelp = "設定檔（預設為程式旁的 Falcet.ini）";

  auto* kinds = app.add_subcommand("kinds", "列出設定檔中的圖像類型，每行一個：序號、名稱、標記（十六進位）、"
                                            "FilePosFix、FileLenPos、BinFileLenPos、BinFileLenFix、FileExt、"
                                            "DfmBlockLenPos、DfmBlockLenFix。\n例：falcet-cli kinds --settings Falcet.ini");
  kinds->add_option("--settings", settings, settingsHelp);

  auto* exp = app.add_subcommand("export", "匯出原始檔中的圖像。\n例：falcet-cli export D:/a/prog.exe");
  exp->add_option("--kind", kind, kindHelp)->check(CLI::IsMember(kindOptions));
  exp->add_option("--settings", settings, settingsHelp);
  exp->add_option("SOURCE", path, "原始檔")->required();

  auto* imp = app.add_subcommand("import", "依記錄檔把圖像匯入原始檔（原始檔為記錄檔名去掉 .pic.log）。\n"
                                           "例：falcet-cli import D:/a/prog.exe.pic.log");
  imp->add_option("--kind", kind, kindHelp)->check(CLI::IsMember(kindOptions));
  imp->add_option("--settings", settings, settingsHelp);
  imp->add_option("LOG", path, "記錄檔（*.pic.log）")->required();

  auto* det = app.add_subcommand("detect", "顯示依檔名判斷出的原始檔類型（vb-exe、vb-bin、delphi-exe、"
                                           "delphi-dfm），判斷不出時顯示 none。\n例：falcet-cli detect prog.exe");
  det->add_option("FILE", path, "檔案")->required();

  CLI11_PARSE(app, argc, argv);
  path = localeToUtf8(path);
  settings = localeToUtf8(settings);

  PrintSink sink;
  if (*det) {
    auto k = DetectSourceKind(path);
    std::puts(k ? std::string(sourceKindOption(*k)).c_str() : "none");
    return 0;
  }

  Session session;
  if (!loadKinds(settings, session.pictureKinds, sink)) return 1;

  if (*kinds) {
    std::size_t i = 1;
    for (const PictureKind& k : session.pictureKinds) {
      std::string line = std::to_string(i++) + "\t" + k.Name + "\t" + hex(k.FileHandleMark) + "\t" +
                         std::to_string(k.FilePosFix) + "\t" + std::to_string(k.FileLenPos) + "\t" +
                         std::to_string(k.BinFileLenPos) + "\t" + std::to_string(k.BinFileLenFix) +
                         "\t" + k.FileExt + "\t" + std::to_string(k.DfmBlockLenPos) + "\t" +
                         std::to_string(k.DfmBlockLenFix);
      std::puts(utf8ToLocale(line).c_str());
    }
    return 0;
  }

  if (*exp) {
    session.SourceKind = chooseKind(kind, std::string(trimSpaces(path)));
    return ExportPictures(session, path, sink) ? 0 : 1;
  }

  if (!isLogFileName(path)) {
    sink.show(texts::kFileNameError, kAppTitle, MessageKind::Error);
    return 1;
  }
  session.SourceKind = chooseKind(kind, path.substr(0, path.size() - 8));
  switch (ImportPictures(session, path, sink)) {
    case ImportOutcome::Done: return 0;
    case ImportOutcome::Partial: return 3;
    case ImportOutcome::Failed: return 1;
  }
  return 1;
}
