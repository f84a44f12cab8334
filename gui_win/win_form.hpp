#pragma once
// The native Win32 main window: the controls of form_layout.hpp in twips scaled by the window's
// DPI, the design font and its adaptation with real LOGFONTs (which carry a character set), and
// the shared form logic (MainForm) behind the FormView interface.

#include <windows.h>

#include <functional>

#include <array>
#include <memory>

#include "app/form_layout.hpp"
#include "app/main_form.hpp"
#include "fontfix/font_fix.hpp"
#include "win_dialogs.hpp"

namespace falcet::win {

inline constexpr const wchar_t* kWindowClass = L"FalcetMainWindow";

class MainWindow : private FormView {
 public:
  MainWindow(Session& session, const FontFixSettings& fonts, MessageBoxSink& sink, OpenFileDialog& dialog,
             std::string productName);
  ~MainWindow() override;
  MainWindow(const MainWindow&) = delete;
  MainWindow& operator=(const MainWindow&) = delete;

  [[nodiscard]] HWND handle() const { return m_window; }
  void show();

 private:
  static LRESULT CALLBACK windowProc(HWND h, UINT msg, WPARAM wp, LPARAM lp);
  LRESULT handle(UINT msg, WPARAM wp, LPARAM lp);
  void createControls();
  void layout(UINT dpi);
  void applyFonts(UINT dpi);
  void onCommand(int id, int code);
  [[nodiscard]] HWND control(form::Control c) const { return m_controls[form::slot(c)]; }
  [[nodiscard]] bool isLink(HWND h) const;

  // FormView
  std::string nameText(int index) const override;
  void setNameText(int index, const std::string& text) override;
  int listSelection() const override;
  void setListSelection(int index) override;
  void setCaption(const std::string& text) override;
  void setLabelText(int index, const std::string& text) override;
  bool chooseFile(std::string& file, std::string_view filter, int filterIndex, std::string_view title) override;
  void openAddress(const std::string& address) override;
  void setBusy(bool busy) override;
  void runWork(std::string_view label, ResultSink& sink, const std::function<void(ResultSink&)>& work) override;
  // The progress window of runWork, created hidden, shown once the work has taken half a second.
  void createProgressWindow(std::string_view label);

  const FontFixSettings& m_fonts;
  MessageBoxSink& m_sink;
  OpenFileDialog& m_dialog;
  MainForm m_form;
  HWND m_window = nullptr;
  std::array<HWND, form::kControlCount> m_controls{};
  HFONT m_designFont = nullptr, m_fixedFont = nullptr, m_versionFont = nullptr;
  HICON m_exportIcon = nullptr, m_importIcon = nullptr, m_windowIcon = nullptr, m_smallIcon = nullptr;
  UINT m_dpi = 96;
  bool m_loading = true;
  bool m_working = false;          // runWork: the window stays disabled
  HWND m_progress = nullptr;       // runWork's progress window, and its bar
  HWND m_progressBar = nullptr;
};

// Start-up without a window first: the font settings and the picture kinds from Falcet.ini
// beside the program; on a settings failure one message and no window (false).
bool Main(Session& session, FontFixSettings& fonts, MessageBoxSink& sink, OpenFileDialog& dialog,
          std::unique_ptr<MainWindow>& window);

}  // namespace falcet::win
