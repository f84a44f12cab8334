#include "win_dialogs.hpp"

#include <commdlg.h>

#include <algorithm>
#include <vector>

#include "texts/texts.hpp"
#include "win_result.hpp"
#include "win_text.hpp"

namespace falcet::win {
namespace {

constexpr int kOkId = 1;

LRESULT CALLBACK reportProc(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_COMMAND:
      if (LOWORD(wp) == kOkId) ::DestroyWindow(h);
      return 0;
    case WM_CLOSE: ::DestroyWindow(h); return 0;
    default: return ::DefWindowProcW(h, msg, wp, lp);
  }
}

// A resizable-free report window: the text in a read-only edit box that scrolls, and OK.
void showScrollingReport(HWND owner, const std::wstring& text, const std::wstring& title) {
  static const wchar_t* kClass = L"FalcetReport";
  static bool registered = false;
  HINSTANCE instance = ::GetModuleHandleW(nullptr);
  if (!registered) {
    WNDCLASSW wc{};
    wc.lpfnWndProc = reportProc;
    wc.hInstance = instance;
    wc.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = ::GetSysColorBrush(COLOR_BTNFACE);
    wc.lpszClassName = kClass;
    ::RegisterClassW(&wc);
    registered = true;
  }
  RECT work{};
  ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  const int width = std::min<int>(720, (work.right - work.left) * 9 / 10);
  const int height = std::min<int>(520, (work.bottom - work.top) * 9 / 10);
  HWND w = ::CreateWindowExW(WS_EX_DLGMODALFRAME, kClass, title.c_str(), WS_POPUP | WS_CAPTION | WS_SYSMENU,
                             work.left + (work.right - work.left - width) / 2,
                             work.top + (work.bottom - work.top - height) / 2, width, height, owner, nullptr,
                             instance, nullptr);
  RECT client{};
  ::GetClientRect(w, &client);
  HFONT font = static_cast<HFONT>(::GetStockObject(DEFAULT_GUI_FONT));
  HWND edit = ::CreateWindowExW(WS_EX_CLIENTEDGE, L"EDIT", text.c_str(),
                                WS_CHILD | WS_VISIBLE | WS_VSCROLL | WS_HSCROLL | ES_MULTILINE | ES_READONLY |
                                    ES_AUTOVSCROLL | ES_AUTOHSCROLL,
                                8, 8, client.right - 16, client.bottom - 56, w, nullptr, instance, nullptr);
  const std::wstring okText = wide(texts::result::kOk);
  HWND ok = ::CreateWindowExW(0, L"BUTTON", okText.c_str(), WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON,
                              client.right - 96, client.bottom - 40, 88, 30, w,
                              reinterpret_cast<HMENU>(static_cast<INT_PTR>(kOkId)), instance, nullptr);
  ::SendMessageW(edit, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
  ::SendMessageW(ok, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
  runModal(owner, w, ok);
}

}  // namespace

void runModal(HWND owner, HWND window, HWND focus) {
  if (owner) ::EnableWindow(owner, FALSE);
  ::ShowWindow(window, SW_SHOW);
  ::SetFocus(focus);
  MSG m;
  while (::IsWindow(window) && ::GetMessageW(&m, nullptr, 0, 0) > 0) {
    if (!::IsDialogMessageW(window, &m)) {  // Tab, Enter and Esc as in a dialog
      ::TranslateMessage(&m);
      ::DispatchMessageW(&m);
    }
  }
  if (owner) {
    ::EnableWindow(owner, TRUE);
    ::SetForegroundWindow(owner);
  }
}

int MessageBoxSink::show(std::string_view text, std::string_view title, MessageKind kind) {
  // CR LF inside; a box taller than about two thirds of the screen becomes a scrolling report.
  const std::wstring body = wide(text);
  const std::wstring caption = wide(title.empty() ? kAppTitle : title);
  if (kind == MessageKind::Question)
    return ::MessageBoxW(m_owner, body.c_str(), caption.c_str(), MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2) == IDYES
               ? kButtonYes
               : kButtonNo;
  const auto lines = std::count(body.begin(), body.end(), L'\n') + 1;
  const int lineHeight = ::GetSystemMetrics(SM_CYMENU);
  if (lines * lineHeight > ::GetSystemMetrics(SM_CYSCREEN) * 2 / 3) {
    showScrollingReport(m_owner, body, caption);
    return kButtonOk;
  }
  ::MessageBoxW(m_owner, body.c_str(), caption.c_str(), MB_OK);
  return kButtonOk;
}

void MessageBoxSink::showResult(const ResultReport& result) {
  if (result.rows.empty()) ResultSink::showResult(result);
  else showResultView(m_owner, result);
}

std::wstring dialogFilter(std::string_view barSeparated) {
  std::wstring out = wide(barSeparated);
  std::replace(out.begin(), out.end(), L'|', L'\0');
  out.push_back(L'\0');
  out.push_back(L'\0');
  return out;
}

bool OpenFileDialog::choose(HWND owner, std::string& file, std::string_view filter, int filterIndex,
                            std::string_view title) {
  std::vector<wchar_t> buffer(32768, L'\0');
  const std::wstring filters = dialogFilter(filter);
  const std::wstring caption = wide(title);
  const std::wstring folder = m_programFolder.native();
  OPENFILENAMEW ofn{};
  ofn.lStructSize = sizeof ofn;
  ofn.hwndOwner = owner;
  ofn.lpstrFilter = filters.c_str();
  ofn.nFilterIndex = static_cast<DWORD>(filterIndex);
  ofn.lpstrFile = buffer.data();
  ofn.nMaxFile = static_cast<DWORD>(buffer.size());
  ofn.lpstrTitle = caption.c_str();
  ofn.lpstrInitialDir = m_confirmedOnce ? nullptr : folder.c_str();
  ofn.Flags = OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_EXPLORER;
  if (!::GetOpenFileNameW(&ofn)) {
    file.clear();
    return false;
  }
  m_confirmedOnce = true;
  file = utf8(buffer.data());
  return true;
}

}  // namespace falcet::win
