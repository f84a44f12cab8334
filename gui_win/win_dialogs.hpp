#pragma once
// Message boxes and the open-file dialog of the Win32 window.

#include <windows.h>

#include <filesystem>
#include <string>
#include <string_view>

#include "transfer/result.hpp"

namespace falcet::win {

// Modal boxes with an OK button and no icon (MessageBoxW). A text too long for the screen is shown
// in a window that scrolls instead (the same text, selectable), so its OK button stays reachable.
class MessageBoxSink : public ResultSink {
 public:
  void setOwner(HWND owner) { m_owner = owner; }
  int show(std::string_view text, std::string_view title, MessageKind kind) override;
  // The result view (win_result.hpp); a result without pictures is a message box.
  void showResult(const ResultReport& result) override;
  [[nodiscard]] bool listsPictures() const override { return true; }

 private:
  HWND m_owner = nullptr;
};

// Shows window (which destroys itself when done) modal over owner, focus on focus, and returns
// once it is gone.
void runModal(HWND owner, HWND window, HWND focus);

// GetOpenFileNameW with the form's bar-separated filter; until one dialog of the run is
// confirmed, it opens in the program's folder (afterwards the system chooses).
class OpenFileDialog {
 public:
  explicit OpenFileDialog(std::filesystem::path programFolder) : m_programFolder(std::move(programFolder)) {}
  bool choose(HWND owner, std::string& file, std::string_view filter, int filterIndex, std::string_view title);
  [[nodiscard]] bool confirmedOnce() const { return m_confirmedOnce; }

 private:
  std::filesystem::path m_programFolder;
  bool m_confirmedOnce = false;
};

// The filter text "desc|patterns|desc|patterns" as the dialog's pairs: NUL-separated, two NULs
// at the end.
[[nodiscard]] std::wstring dialogFilter(std::string_view barSeparated);

}  // namespace falcet::win
