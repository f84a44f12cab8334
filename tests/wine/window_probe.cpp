// Checks the running falcet.exe from outside, as a user's tools would see it (Win32 messages
// only). Usage: window_probe window | window_probe startup-error
//   | window_probe result SOURCE COUNT [keep]   (export SOURCE, which holds COUNT pictures, and
//     import it back with its first picture edited; "keep" leaves the export's view open)
//   | window_probe progress SOURCE   (export SOURCE, large enough to take seconds: the window
//     takes no command meanwhile but still answers, a progress bar comes up and moves, and the
//     result view follows)
// Exit status 0 when every check holds; each failed check is printed.

#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "app/form_layout.hpp"
#include "platform/wide_text_win.hpp"

namespace {

int failures = 0;

std::wstring textOf(HWND h) {
  wchar_t buf[1024] = {};
  ::SendMessageW(h, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(buf));
  return buf;
}

void check(bool ok, const std::string& what) {
  if (ok) return;
  std::printf("FAILED: %s\n", what.c_str());
  ++failures;
}

void expectText(HWND h, const std::string& want, const std::string& what) {
  const std::string got = falcet::wideToUtf8(textOf(h));
  check(got == want, what + ": \"" + got + "\", want \"" + want + "\"");
}

HWND waitFor(const wchar_t* cls, int seconds) {
  for (int i = 0; i < seconds * 10; ++i) {
    if (HWND h = ::FindWindowW(cls, nullptr)) return h;
    ::Sleep(100);
  }
  return nullptr;
}

HWND item(HWND main, falcet::form::Control c) { return ::GetDlgItem(main, 100 + static_cast<int>(falcet::form::slot(c))); }

// The message boxes (dialog class #32770) of the process that owns main, and their texts.
struct Boxes {
  DWORD process;
  int count = 0;
  std::string text;
  HWND last = nullptr;
};
BOOL CALLBACK collectBox(HWND h, LPARAM p) {
  auto* b = reinterpret_cast<Boxes*>(p);
  wchar_t cls[64] = {};
  ::GetClassNameW(h, cls, 64);
  DWORD pid = 0;
  ::GetWindowThreadProcessId(h, &pid);
  if (std::wstring(cls) != L"#32770" || !::IsWindowVisible(h) || (b->process && pid != b->process)) return TRUE;
  ++b->count;
  b->last = h;
  // The text of a message box is its static control's.
  for (HWND c = ::GetWindow(h, GW_CHILD); c; c = ::GetWindow(c, GW_HWNDNEXT)) {
    wchar_t childClass[64] = {};
    ::GetClassNameW(c, childClass, 64);
    if (std::wstring(childClass) == L"Static" && !textOf(c).empty()) b->text = falcet::wideToUtf8(textOf(c));
  }
  return TRUE;
}
Boxes boxes(DWORD process) {
  Boxes b{process};
  ::EnumWindows(collectBox, reinterpret_cast<LPARAM>(&b));
  return b;
}

// The main window once it is up (half a second to settle), or nullptr with a failure printed.
HWND mainWindow() {
  HWND main = waitFor(L"FalcetMainWindow", 30);
  if (!main) std::printf("FAILED: no window\n");
  else ::Sleep(500);
  return main;
}

int probeWindow() {
  using falcet::form::Control;
  HWND main = mainWindow();
  if (!main) return 1;
  expectText(main, "Falcet 0.91 版 （falcet.example.org）", "caption");
  HWND list = item(main, Control::KindList);
  check(::SendMessageW(list, CB_GETCOUNT, 0, 0) == 4, "four kinds in the list");
  const char* names[] = {"VB EXE 檔", "VB BIN 檔", "Delphi EXE 檔", "Delphi DFM 檔"};
  for (int i = 0; i < 4; ++i) {
    wchar_t buf[64] = {};
    ::SendMessageW(list, CB_GETLBTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(buf));
    check(falcet::wideToUtf8(buf) == names[i], std::string("list item ") + names[i]);
  }
  check(::SendMessageW(list, CB_GETCURSEL, 0, 0) == 0, "VB EXE selected at start");
  expectText(item(main, Control::F0), "圖像檔案匯出", "export frame");
  expectText(item(main, Control::F3), "圖像檔案匯入", "import frame");
  expectText(item(main, Control::F1), "關於", "about frame");
  expectText(item(main, Control::A0), "Falcet 0.91 版", "version label");
  RECT client{};
  ::GetClientRect(main, &client);
  check(client.right == 370 && client.bottom == 315,
        "client size at 96 dpi: " + std::to_string(client.right) + "x" + std::to_string(client.bottom));
  check(::GetFocus() == nullptr || true, "focus");  // focus belongs to another thread's queue

  // The log name fills the source name, which selects the kind.
  ::SendMessageW(item(main, Control::LogName), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"C:\\a\\b.DFM.PIC.LOG"));
  expectText(item(main, Control::SourceName), "C:\\a\\b.DFM", "source box after the log box");
  check(::SendMessageW(list, CB_GETCURSEL, 0, 0) == 3, "Delphi DFM selected");

  // A source name typed brings its log name.
  ::SendMessageW(item(main, Control::SourceName), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"C:\\x\\Form1.frx"));
  expectText(item(main, Control::LogName), "C:\\x\\Form1.frx.pic.log", "log box after the source box");

  // Export with an empty source name asks for one.
  ::SendMessageW(item(main, Control::SourceName), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L""));
  DWORD process = 0;
  ::GetWindowThreadProcessId(main, &process);
  ::PostMessageW(item(main, Control::ExportButton), BM_CLICK, 0, 0);
  Boxes b;
  for (int i = 0; i < 100 && b.count == 0; ++i) {
    ::Sleep(100);
    b = boxes(process);
  }
  check(b.count == 1, "one message box after export, found " + std::to_string(b.count));
  check(b.text == "請輸入檔名", "message \"" + b.text + "\"");
  if (b.last) ::PostMessageW(b.last, WM_CLOSE, 0, 0);
  ::Sleep(300);
  ::PostMessageW(main, WM_CLOSE, 0, 0);
  return failures ? 1 : 0;
}

// The result view that opens after a click on button: its list's rows and columns, its title and
// size. Closes it unless keep.
void checkResultView(HWND button, const char* title, int rows, int columns, bool keep) {
  ::PostMessageW(button, BM_CLICK, 0, 0);
  HWND view = waitFor(L"FalcetResult", 60);
  check(view != nullptr, std::string("a result view opens: ") + title);
  if (!view) return;
  ::Sleep(1500);
  expectText(view, title, "result view title");
  HWND list = ::FindWindowExW(view, nullptr, WC_LISTVIEWW, nullptr);
  check(list != nullptr, "the result view has a list");
  const auto count = ::SendMessageW(list, LVM_GETITEMCOUNT, 0, 0);
  check(count == rows, "rows: " + std::to_string(count) + ", want " + std::to_string(rows));
  HWND header = reinterpret_cast<HWND>(::SendMessageW(list, LVM_GETHEADER, 0, 0));
  const auto cols = ::SendMessageW(header, HDM_GETITEMCOUNT, 0, 0);
  check(cols == columns, "columns: " + std::to_string(cols) + ", want " + std::to_string(columns));
  RECT r{};
  ::GetWindowRect(view, &r);
  check(r.right - r.left <= 800 && r.bottom - r.top <= 600,
        "fits 800 x 600: " + std::to_string(r.right - r.left) + "x" + std::to_string(r.bottom - r.top));
  // More rows than it shows: the list scrolls.
  const auto perPage = ::SendMessageW(list, LVM_GETCOUNTPERPAGE, 0, 0);
  check(perPage > 0 && perPage < count, "the list scrolls: " + std::to_string(perPage) + " rows per page");
  if (keep) return;
  ::PostMessageW(view, WM_CLOSE, 0, 0);
  for (int i = 0; i < 50 && ::FindWindowW(L"FalcetResult", nullptr); ++i) ::Sleep(100);
  check(::FindWindowW(L"FalcetResult", nullptr) == nullptr, "the result view closes");
}

int probeResult(const std::wstring& source, int pictures, bool keep) {
  using falcet::form::Control;
  HWND main = mainWindow();
  if (!main) return 1;
  ::SendMessageW(item(main, Control::SourceName), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(source.c_str()));
  if (!keep) {
    checkResultView(item(main, Control::ExportButton), "匯出結果 - Falcet", pictures, 7, false);
    // The first picture edited: one byte near its end.
    {
      std::fstream f(std::filesystem::path(source + L".001.ico"), std::ios::in | std::ios::out | std::ios::binary);
      f.seekp(-70, std::ios::end);
      f.put('\x7F');
    }
    ::SendMessageW(item(main, Control::LogName), WM_SETTEXT, 0,
                   reinterpret_cast<LPARAM>((source + L".pic.log").c_str()));
    checkResultView(item(main, Control::ImportButton), "匯入結果 - Falcet", pictures, 9, false);
    ::PostMessageW(main, WM_CLOSE, 0, 0);
  } else {
    checkResultView(item(main, Control::ExportButton), "匯出結果 - Falcet", pictures, 7, true);
  }
  return failures ? 1 : 0;
}

int probeStartupError() {
  Boxes b;
  for (int i = 0; i < 300 && b.count == 0; ++i) {
    ::Sleep(100);
    b = boxes(0);
  }
  ::Sleep(1000);
  b = boxes(0);
  check(b.count == 1, "exactly one message, found " + std::to_string(b.count));
  check(b.text.rfind("起始化錯誤！請檢查 ini 檔案的設置後重新執行。", 0) == 0, "the start-up message: \"" + b.text + "\"");
  check(::FindWindowW(L"FalcetMainWindow", nullptr) == nullptr, "no window");
  if (b.last) ::PostMessageW(b.last, WM_CLOSE, 0, 0);
  return failures ? 1 : 0;
}

// A long export: while it runs the main window is disabled yet answers messages (it is not
// blocked), a progress window with a bar that moves is shown, and the result view comes at the end.
int probeProgress(const std::wstring& source) {
  using falcet::form::Control;
  HWND main = mainWindow();
  if (!main) return 1;
  ::SendMessageW(item(main, Control::SourceName), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(source.c_str()));
  ::PostMessageW(item(main, Control::ExportButton), BM_CLICK, 0, 0);
  bool disabled = false, answered = false, shown = false;
  LRESULT position = 0;
  HWND view = nullptr;
  for (int i = 0; i < 1200 && !view; ++i) {
    ::Sleep(50);
    if (!::IsWindowEnabled(main)) {
      disabled = true;
      DWORD_PTR result = 0;
      answered = answered || ::SendMessageTimeoutW(main, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 1000, &result) != 0;
    }
    if (HWND progress = ::FindWindowW(L"FalcetProgress", nullptr); progress && ::IsWindowVisible(progress)) {
      shown = true;
      if (HWND bar = ::FindWindowExW(progress, nullptr, PROGRESS_CLASSW, nullptr))
        position = std::max(position, ::SendMessageW(bar, PBM_GETPOS, 0, 0));
    }
    view = ::FindWindowW(L"FalcetResult", nullptr);
  }
  check(disabled, "the window takes no command while the export runs");
  check(answered, "the window answers while the export runs");
  check(shown, "a progress window comes up");
  check(position > 0, "its bar moves: " + std::to_string(position));
  check(view != nullptr, "the result view follows");
  if (view) {
    ::PostMessageW(view, WM_CLOSE, 0, 0);
    for (int i = 0; i < 300 && ::FindWindowW(L"FalcetResult", nullptr); ++i) ::Sleep(100);
    check(::FindWindowW(L"FalcetResult", nullptr) == nullptr, "the result view closes");
  }
  for (int i = 0; i < 300 && (!::IsWindowEnabled(main) || ::FindWindowW(L"FalcetProgress", nullptr)); ++i) ::Sleep(100);
  check(::IsWindowEnabled(main), "afterwards the window takes commands again");
  check(::FindWindowW(L"FalcetProgress", nullptr) == nullptr, "afterwards the progress window is gone");
  ::PostMessageW(main, WM_CLOSE, 0, 0);
  return failures ? 1 : 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  const std::wstring mode = argc > 1 ? argv[1] : L"window";
  const int status = mode == L"startup-error" ? probeStartupError()
                     : mode == L"progress" && argc > 2 ? probeProgress(argv[2])
                     : mode == L"result" && argc > 3
                         ? probeResult(argv[2], _wtoi(argv[3]), argc > 4 && std::wstring(argv[4]) == L"keep")
                         : probeWindow();
  std::printf(status == 0 ? "window probe (%ls) ok\n" : "window probe (%ls) failed\n", mode.c_str());
  return status;
}
