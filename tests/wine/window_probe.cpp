// Checks the running falcet.exe from outside, as a user's tools would see it (Win32 messages
// only). Usage: window_probe window | window_probe startup-error
// Exit status 0 when every check holds; each failed check is printed.

#include <windows.h>

#include <cstdio>
#include <string>

#include "app/form_layout.hpp"

namespace {

int failures = 0;

std::string utf8(const std::wstring& w) {
  if (w.empty()) return {};
  const int n = ::WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(n), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), out.data(), n, nullptr, nullptr);
  return out;
}

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
  const std::string got = utf8(textOf(h));
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
    if (std::wstring(childClass) == L"Static" && !textOf(c).empty()) b->text = utf8(textOf(c));
  }
  return TRUE;
}
Boxes boxes(DWORD process) {
  Boxes b{process};
  ::EnumWindows(collectBox, reinterpret_cast<LPARAM>(&b));
  return b;
}

int probeWindow() {
  using falcet::form::Control;
  HWND main = waitFor(L"FalcetMainWindow", 30);
  if (!main) {
    std::printf("FAILED: no window\n");
    return 1;
  }
  ::Sleep(500);
  expectText(main, "Falcet 0.91 版 （falcet.example.org）", "caption");
  HWND list = item(main, Control::KindList);
  check(::SendMessageW(list, CB_GETCOUNT, 0, 0) == 4, "four kinds in the list");
  const char* names[] = {"VB EXE 檔", "VB BIN 檔", "Delphi EXE 檔", "Delphi DFM 檔"};
  for (int i = 0; i < 4; ++i) {
    wchar_t buf[64] = {};
    ::SendMessageW(list, CB_GETLBTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(buf));
    check(utf8(buf) == names[i], std::string("list item ") + names[i]);
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

}  // namespace

int wmain(int argc, wchar_t** argv) {
  const std::wstring mode = argc > 1 ? argv[1] : L"window";
  const int status = mode == L"startup-error" ? probeStartupError() : probeWindow();
  std::printf(status == 0 ? "window probe (%ls) ok\n" : "window probe (%ls) failed\n", mode.c_str());
  return status;
}
