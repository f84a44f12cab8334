#include "win_form.hpp"

#include <commctrl.h>
#include <shellapi.h>

#include <algorithm>
#include <functional>
#include <vector>

#include "app/startup.hpp"
#include "platform/program_info.hpp"
#include "settings/ini_file.hpp"
#include "win_icons.hpp"
#include "win_dpi.hpp"
#include "win_text.hpp"

namespace falcet::win {
namespace {

constexpr int kFirstControlId = 100;
// runWork: a call the work's thread makes on this window's thread (lParam: std::function<void()>*,
// sent, so that the work waits), the end of the work (posted), the timer that shows the progress.
constexpr UINT kCallOnWindow = WM_APP + 1;
constexpr UINT kWorkDone = WM_APP + 2;
constexpr UINT_PTR kProgressTimer = 1;
constexpr wchar_t kProgressClass[] = L"FalcetProgress";
using form::kDesignCharset;

int controlId(form::Control c) { return kFirstControlId + static_cast<int>(form::slot(c)); }

int scale(int twips, UINT dpi) { return ::MulDiv(twips, static_cast<int>(dpi), 1440); }

HFONT makeFont(const wchar_t* face, std::int64_t size4, int charset, bool bold, UINT dpi) {
  LOGFONTW lf{};
  // Points x 10,000 -> pixels at this DPI (negative: the character height).
  lf.lfHeight = -static_cast<LONG>((size4 * static_cast<std::int64_t>(dpi) + 360000) / 720000);
  lf.lfWeight = bold ? FW_BOLD : FW_NORMAL;
  lf.lfCharSet = static_cast<BYTE>(charset);
  lf.lfQuality = CLEARTYPE_QUALITY;
  ::lstrcpynW(lf.lfFaceName, face, LF_FACESIZE);
  return ::CreateFontIndirectW(&lf);
}

// The pairs (text box index) <-> (control).
form::Control nameBox(int index) { return index == 0 ? form::Control::SourceName : form::Control::LogName; }

}  // namespace

MainWindow::MainWindow(Session& session, const FontFixSettings& fonts, MessageBoxSink& sink,
                       OpenFileDialog& dialog, std::string productName)
    : m_fonts(fonts), m_sink(sink), m_dialog(dialog), m_form(session, sink, *this, std::move(productName)) {
  HINSTANCE instance = ::GetModuleHandleW(nullptr);
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = windowProc;
  wc.hInstance = instance;
  wc.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
  wc.hbrBackground = ::GetSysColorBrush(COLOR_BTNFACE);
  wc.lpszClassName = kWindowClass;
  ::RegisterClassExW(&wc);
  const std::wstring design = wide(texts::kDesignCaption);
  m_window = ::CreateWindowExW(0, kWindowClass, design.c_str(), WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX,
                               CW_USEDEFAULT, CW_USEDEFAULT, 400, 300, nullptr, nullptr, instance, this);
  m_dpi = windowDpi(m_window);
  m_sink.setOwner(m_window);
  createControls();
  layout(m_dpi);
  ::DragAcceptFiles(m_window, TRUE);
  // Form_Initialize (the fonts, adapted) then Form_Load.
  applyFonts(m_dpi);
  m_form.Form_Load();
  m_loading = false;
}

MainWindow::~MainWindow() {
  if (::IsWindow(m_window)) ::DestroyWindow(m_window);
  for (HGDIOBJ f : {static_cast<HGDIOBJ>(m_designFont), static_cast<HGDIOBJ>(m_fixedFont), static_cast<HGDIOBJ>(m_versionFont)})
    if (f) ::DeleteObject(f);
  for (HICON i : {m_exportIcon, m_importIcon, m_windowIcon, m_smallIcon})
    if (i) ::DestroyIcon(i);
}

void MainWindow::createControls() {
  HINSTANCE instance = ::GetModuleHandleW(nullptr);
  m_controls[form::slot(form::Control::Window)] = m_window;
  for (const form::ControlRow& row : form::kControls) {
    const wchar_t* cls = L"STATIC";
    DWORD style = WS_CHILD | WS_VISIBLE;
    DWORD exStyle = 0;
    std::wstring text = wide(row.caption);
    switch (row.type) {
      case form::ControlType::Label:
      case form::ControlType::LinkLabel:
        style |= SS_NOTIFY | (row.align == form::Align::Right ? SS_RIGHT : row.align == form::Align::Center ? SS_CENTER : SS_LEFT);
        if (row.type == form::ControlType::LinkLabel) text = wide(form::linkCaption(row.index));
        break;
      case form::ControlType::DropDown:
        cls = L"COMBOBOX";
        style |= WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWNLIST;
        break;
      case form::ControlType::Frame:
        cls = L"BUTTON";
        style |= BS_GROUPBOX;
        break;
      case form::ControlType::TextBox:
        cls = L"EDIT";
        style |= WS_TABSTOP | ES_AUTOHSCROLL;
        exStyle = WS_EX_CLIENTEDGE;
        break;
      case form::ControlType::Button:
        cls = L"BUTTON";
        style |= WS_TABSTOP | BS_PUSHBUTTON;
        break;
      case form::ControlType::PictureButton:
        cls = L"BUTTON";
        style |= WS_TABSTOP | BS_PUSHBUTTON | BS_ICON;
        break;
    }
    m_controls[form::slot(row.id)] =
        ::CreateWindowExW(exStyle, cls, text.c_str(), style, 0, 0, 10, 10, m_window,
                          reinterpret_cast<HMENU>(static_cast<INT_PTR>(controlId(row.id))), instance, nullptr);
  }
  HWND list = control(form::Control::KindList);
  for (std::string_view name : texts::kSourceKindNames)
    ::SendMessageW(list, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(wide(name).c_str()));
  // Tab order = the order of the windows: sort the focusable controls by the table's Tab column.
  std::vector<const form::ControlRow*> order;
  for (const form::ControlRow& row : form::kControls) order.push_back(&row);
  std::stable_sort(order.begin(), order.end(), [](auto* a, auto* b) { return a->tab < b->tab; });
  HWND previous = HWND_TOP;
  for (const form::ControlRow* row : order) {
    HWND h = control(row->id);
    ::SetWindowPos(h, previous, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    previous = h;
  }
}

void MainWindow::layout(UINT dpi) {
  m_dpi = dpi;
  for (const form::ControlRow& row : form::kControls) {
    int left = row.left, top = row.top;
    // Controls inside a frame are placed from the frame's corner (frames are no containers here).
    for (const form::ControlRow& parent : form::kControls)
      if (parent.id == row.parent) {
        left += parent.left;
        top += parent.top;
      }
    const int height = row.type == form::ControlType::DropDown ? row.height * 6 : row.height;  // the list drops down
    ::MoveWindow(control(row.id), scale(left, dpi), scale(top, dpi), scale(row.width, dpi), scale(height, dpi), FALSE);
  }
  RECT r{0, 0, scale(form::kClientWidthTwips, dpi), scale(form::kClientHeightTwips, dpi)};
  const DWORD style = static_cast<DWORD>(::GetWindowLongPtrW(m_window, GWL_STYLE));
  ::AdjustWindowRectEx(&r, style, FALSE, 0);
  RECT work{};
  ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  const int w = r.right - r.left, h = r.bottom - r.top;
  ::SetWindowPos(m_window, nullptr, work.left + (work.right - work.left - w) / 2, work.top + (work.bottom - work.top - h) / 2,
                 w, h, SWP_NOZORDER | SWP_NOACTIVATE);
  // Icons drawn for this DPI.
  for (HICON i : {m_exportIcon, m_importIcon, m_windowIcon, m_smallIcon})
    if (i) ::DestroyIcon(i);
  m_exportIcon = makeIcon(IconKind::Export, scale(480, dpi));
  m_importIcon = makeIcon(IconKind::Import, scale(480, dpi));
  m_windowIcon = makeIcon(IconKind::Window, std::max(32, scale(480, dpi)));
  m_smallIcon = makeIcon(IconKind::Window, std::max(16, scale(240, dpi)));
  ::SendMessageW(control(form::Control::ExportButton), BM_SETIMAGE, IMAGE_ICON, reinterpret_cast<LPARAM>(m_exportIcon));
  ::SendMessageW(control(form::Control::ImportButton), BM_SETIMAGE, IMAGE_ICON, reinterpret_cast<LPARAM>(m_importIcon));
  ::SendMessageW(m_window, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_windowIcon));
  ::SendMessageW(m_window, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_smallIcon));
  ::InvalidateRect(m_window, nullptr, TRUE);
}

// The design font on every control (the version label its own bold face), then the font
// adaptation: where the window's font and a control's font are the design font (size and
// character set), the control gets the replacement font.
void MainWindow::applyFonts(UINT dpi) {
  for (HGDIOBJ f : {static_cast<HGDIOBJ>(m_designFont), static_cast<HGDIOBJ>(m_fixedFont), static_cast<HGDIOBJ>(m_versionFont)})
    if (f) ::DeleteObject(f);
  const std::int64_t designSize = toFixed4(form::kDesignFont.points);
  const std::int64_t versionSize = toFixed4(form::kVersionFont.points);
  m_designFont = makeFont(wide(form::kDesignFont.face).c_str(), designSize, kDesignCharset, form::kDesignFont.bold, dpi);
  m_versionFont = makeFont(wide(form::kVersionFont.face).c_str(), versionSize, kDesignCharset, form::kVersionFont.bold, dpi);
  m_fixedFont = makeFont(wide(m_fonts.FixedFontName).c_str(), m_fonts.FixedFontSize, m_fonts.FixedFontCharset, false, dpi);
  const bool windowMatches = m_fonts.AutoFix && isDesignFont(m_fonts, designSize, kDesignCharset);
  for (const form::ControlRow& row : form::kControls) {
    const bool version = row.id == form::Control::A0;
    const std::int64_t size = version ? versionSize : designSize;
    HFONT font = version ? m_versionFont : m_designFont;
    if (windowMatches && isDesignFont(m_fonts, size, kDesignCharset)) font = m_fixedFont;
    ::SendMessageW(control(row.id), WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
  }
}

void MainWindow::show() {
  ::ShowWindow(m_window, SW_SHOWNORMAL);
  ::UpdateWindow(m_window);
  ::SetFocus(control(form::Control::SourceName));
}

bool MainWindow::isLink(HWND h) const {
  return h == control(form::Control::A1) || h == control(form::Control::A2) || h == control(form::Control::A4);
}

LRESULT CALLBACK MainWindow::windowProc(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_NCCREATE) {
    auto* self = static_cast<MainWindow*>(reinterpret_cast<CREATESTRUCTW*>(lp)->lpCreateParams);
    ::SetWindowLongPtrW(h, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    self->m_window = h;
  }
  auto* self = reinterpret_cast<MainWindow*>(::GetWindowLongPtrW(h, GWLP_USERDATA));
  return self ? self->handle(msg, wp, lp) : ::DefWindowProcW(h, msg, wp, lp);
}

LRESULT MainWindow::handle(UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_COMMAND:
      onCommand(LOWORD(wp), HIWORD(wp));
      return 0;
    case WM_SETCURSOR:
      if (isLink(reinterpret_cast<HWND>(wp))) {
        ::SetCursor(::LoadCursorW(nullptr, IDC_HAND));
        return TRUE;
      }
      break;
    case WM_CTLCOLORSTATIC:
      if (isLink(reinterpret_cast<HWND>(lp))) {
        HDC dc = reinterpret_cast<HDC>(wp);
        ::SetTextColor(dc, RGB(0x06, 0x45, 0xAD));
        ::SetBkMode(dc, TRANSPARENT);
        return reinterpret_cast<LRESULT>(::GetSysColorBrush(COLOR_BTNFACE));
      }
      break;
    case WM_DROPFILES: {
      HDROP drop = reinterpret_cast<HDROP>(wp);
      std::wstring file(::DragQueryFileW(drop, 0, nullptr, 0) + 1, L'\0');
      file.resize(::DragQueryFileW(drop, 0, file.data(), static_cast<UINT>(file.size())));
      ::DragFinish(drop);
      m_form.fileDropped(utf8(file));
      return 0;
    }
    case 0x02E0: {  // WM_DPICHANGED: the window moved to a screen of another DPI
      const UINT dpi = HIWORD(wp);
      layout(dpi);
      applyFonts(dpi);
      return 0;
    }
    case kCallOnWindow:
      (*reinterpret_cast<const std::function<void()>*>(lp))();
      // A message box or the result view enables its owner when it closes: the work goes on.
      if (m_working) ::EnableWindow(m_window, FALSE);
      return 0;
    case WM_TIMER:
      if (wp == kProgressTimer) {
        ::KillTimer(m_window, kProgressTimer);
        if (m_progress) ::ShowWindow(m_progress, SW_SHOWNA);
        return 0;
      }
      break;
    case WM_DESTROY:
      ::PostQuitMessage(0);
      return 0;
    default: break;
  }
  return ::DefWindowProcW(m_window, msg, wp, lp);
}

void MainWindow::onCommand(int id, int code) {
  if (m_loading) return;
  const auto is = [&](form::Control c) { return id == controlId(c); };
  if (is(form::Control::SourceName) && code == EN_CHANGE) m_form.檔名_Change(0);
  else if (is(form::Control::LogName) && code == EN_CHANGE) m_form.檔名_Change(3);
  else if (is(form::Control::KindList) && code == CBN_SELCHANGE) m_form.被處理檔案類型_Click();
  else if (is(form::Control::SourceBrowse) && code == BN_CLICKED) m_form.瀏覽_Click(0);
  else if (is(form::Control::LogBrowse) && code == BN_CLICKED) m_form.瀏覽_Click(3);
  else if (is(form::Control::ExportButton) && code == BN_CLICKED) m_form.窗體匯出_Click();
  else if (is(form::Control::ImportButton) && code == BN_CLICKED) m_form.窗體匯入_Click();
  else if (code == STN_CLICKED) {
    for (const form::ControlRow& row : form::kControls)
      if (is(row.id) && (row.type == form::ControlType::Label || row.type == form::ControlType::LinkLabel))
        m_form.a_Click(row.index);
  }
}

std::string MainWindow::nameText(int index) const { return utf8(windowText(control(nameBox(index)))); }

void MainWindow::setNameText(int index, const std::string& text) {
  // WM_SETTEXT on an edit box sends EN_CHANGE at once: 檔名_Change runs nested, as it should.
  ::SetWindowTextW(control(nameBox(index)), wide(text).c_str());
}

int MainWindow::listSelection() const {
  return static_cast<int>(::SendMessageW(control(form::Control::KindList), CB_GETCURSEL, 0, 0));
}

void MainWindow::setListSelection(int index) {
  // CB_SETCURSEL sends no notification: the selection handler is called here, as the form
  // runtime raises it when code sets the selection.
  if (listSelection() == index) return;
  ::SendMessageW(control(form::Control::KindList), CB_SETCURSEL, static_cast<WPARAM>(index), 0);
  m_form.被處理檔案類型_Click();
}

void MainWindow::setCaption(const std::string& text) { ::SetWindowTextW(m_window, wide(text).c_str()); }

void MainWindow::setLabelText(int index, const std::string& text) {
  for (const form::ControlRow& row : form::kControls)
    if (row.index == index && (row.type == form::ControlType::Label || row.type == form::ControlType::LinkLabel))
      ::SetWindowTextW(control(row.id), wide(text).c_str());  // a static shows "&&" as one "&"
}

bool MainWindow::chooseFile(std::string& file, std::string_view filter, int filterIndex, std::string_view title) {
  return m_dialog.choose(m_window, file, filter, filterIndex, title);
}

void MainWindow::openAddress(const std::string& address) {
  // The shell's answer is not shown: nothing happens when no program opens the address.
  (void)::ShellExecuteW(nullptr, nullptr, wide(address).c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

void MainWindow::setBusy(bool busy) { ::SetCursor(::LoadCursorW(nullptr, busy ? IDC_WAIT : IDC_ARROW)); }

namespace {

// The work's sink: messages and results on the window's thread while the work waits (the
// progress window hidden first); progress to the bar without waiting.
class ThreadedSink : public WindowThreadSink {
 public:
  ThreadedSink(ResultSink& sink, HWND window, HWND progress, HWND bar)
      : WindowThreadSink(sink), m_window(window), m_progress(progress), m_bar(bar) {}
  void progress(std::int64_t done, std::int64_t total) override {
    if (m_bar) ::PostMessageW(m_bar, PBM_SETPOS, static_cast<WPARAM>(total > 0 ? done * 1000 / total : 0), 0);
  }

 private:
  void onWindowThread(const std::function<void()>& call) override {
    const std::function<void()> hiddenFirst = [&] {
      ::KillTimer(m_window, kProgressTimer);
      if (m_progress) ::ShowWindow(m_progress, SW_HIDE);
      call();
    };
    ::SendMessageW(m_window, kCallOnWindow, 0, reinterpret_cast<LPARAM>(&hiddenFirst));
  }
  HWND m_window, m_progress, m_bar;
};

}  // namespace

void MainWindow::createProgressWindow(std::string_view label) {
  static const bool registered = [] {
    INITCOMMONCONTROLSEX icc{sizeof icc, ICC_PROGRESS_CLASS};
    ::InitCommonControlsEx(&icc);
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = ::DefWindowProcW;
    wc.hInstance = ::GetModuleHandleW(nullptr);
    wc.hCursor = ::LoadCursorW(nullptr, IDC_WAIT);
    wc.hbrBackground = ::GetSysColorBrush(COLOR_BTNFACE);
    wc.lpszClassName = kProgressClass;
    return ::RegisterClassExW(&wc) != 0;
  }();
  (void)registered;
  const UINT dpi = m_dpi;
  const int width = ::MulDiv(360, static_cast<int>(dpi), 96), height = ::MulDiv(110, static_cast<int>(dpi), 96);
  RECT owner{};
  ::GetWindowRect(m_window, &owner);
  m_progress = ::CreateWindowExW(WS_EX_DLGMODALFRAME, kProgressClass, wide(kAppTitle).c_str(), WS_POPUP | WS_CAPTION,
                                 owner.left + (owner.right - owner.left - width) / 2,
                                 owner.top + (owner.bottom - owner.top - height) / 2, width, height, m_window, nullptr,
                                 ::GetModuleHandleW(nullptr), nullptr);
  if (!m_progress) return;
  RECT client{};
  ::GetClientRect(m_progress, &client);
  const int margin = ::MulDiv(12, static_cast<int>(dpi), 96), line = ::MulDiv(20, static_cast<int>(dpi), 96);
  HWND text = ::CreateWindowExW(0, L"STATIC", wide(label).c_str(), WS_CHILD | WS_VISIBLE, margin, margin,
                                client.right - 2 * margin, line, m_progress, nullptr, ::GetModuleHandleW(nullptr), nullptr);
  ::SendMessageW(text, WM_SETFONT, reinterpret_cast<WPARAM>(m_designFont), TRUE);
  m_progressBar = ::CreateWindowExW(0, PROGRESS_CLASSW, nullptr, WS_CHILD | WS_VISIBLE, margin, margin + line + margin / 2,
                                    client.right - 2 * margin, line, m_progress, nullptr, ::GetModuleHandleW(nullptr), nullptr);
  ::SendMessageW(m_progressBar, PBM_SETRANGE32, 0, 1000);
}

void MainWindow::runWork(std::string_view label, ResultSink& sink, const std::function<void(ResultSink&)>& work) {
  setBusy(true);
  m_working = true;
  ::EnableWindow(m_window, FALSE);  // no other command until the work ends; it still repaints
  createProgressWindow(label);
  ::SetTimer(m_window, kProgressTimer, 500, nullptr);
  ThreadedSink threaded(sink, m_window, m_progress, m_progressBar);
  // A thread of the system's own (the C++ library's threads would bring a threading runtime).
  struct Job {
    const std::function<void(ResultSink&)>* work;
    ResultSink* sink;
    HWND window;
  } job{&work, &threaded, m_window};
  HANDLE worker = ::CreateThread(nullptr, 0, [](void* p) -> DWORD {
    auto* j = static_cast<Job*>(p);
    (*j->work)(*j->sink);
    ::PostMessageW(j->window, kWorkDone, 0, 0);
    return 0;
  }, &job, 0, nullptr);
  if (!worker) {
    // No thread: the work runs here, the window waiting.
    work(threaded);
    ::PostMessageW(m_window, kWorkDone, 0, 0);
  }
  // The window's messages go on until the work says it ended (a quit is kept for after it).
  bool quit = false;
  int exitCode = 0;
  MSG msg;
  for (;;) {
    const BOOL got = ::GetMessageW(&msg, nullptr, 0, 0);
    if (got == -1) continue;
    if (got == 0) {
      quit = true;
      exitCode = static_cast<int>(msg.wParam);
      continue;
    }
    if (msg.message == kWorkDone && msg.hwnd == m_window) break;
    ::TranslateMessage(&msg);
    ::DispatchMessageW(&msg);
  }
  if (worker) {
    ::WaitForSingleObject(worker, INFINITE);
    ::CloseHandle(worker);
  }
  ::KillTimer(m_window, kProgressTimer);
  if (m_progress) ::DestroyWindow(m_progress);
  m_progress = m_progressBar = nullptr;
  m_working = false;
  ::EnableWindow(m_window, TRUE);
  ::SetForegroundWindow(m_window);
  setBusy(false);
  if (quit) ::PostQuitMessage(exitCode);
}

bool Main(Session& session, FontFixSettings& fonts, MessageBoxSink& sink, OpenFileDialog& dialog,
          std::unique_ptr<MainWindow>& window) {
  IniFile ini(programFolder(), "falcet");
  const StartupResult r = loadStartupSettings(ini, fonts, session.pictureKinds);
  if (!r.ok) {
    sink.show(r.message, kAppTitle, MessageKind::Error);
    return false;
  }
  if (!window) window = std::make_unique<MainWindow>(session, fonts, sink, dialog, kProductName);
  window->show();
  return true;
}

}  // namespace falcet::win
