// falcet.exe: the native Win32 window.

#include <windows.h>

#include "platform/codepage.hpp"
#include "platform/program_info.hpp"
#include "win_form.hpp"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  falcet::initLocale();
  falcet::Session session;
  falcet::FontFixSettings fonts;
  falcet::win::MessageBoxSink sink;
  falcet::win::OpenFileDialog dialog(falcet::programFolder());
  std::unique_ptr<falcet::win::MainWindow> window;
  if (!falcet::win::Main(session, fonts, sink, dialog, window)) return 1;
  MSG m;
  while (::GetMessageW(&m, nullptr, 0, 0) > 0) {
    if (!::IsDialogMessageW(window->handle(), &m)) {  // Tab moves between the controls
      ::TranslateMessage(&m);
      ::DispatchMessageW(&m);
    }
  }
  return 0;
}
