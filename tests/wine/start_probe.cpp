// Starts a program and tells which windows it opened, as a user would see them: the titles of its
// visible top-level windows, one per line (UTF-8, sorted), after it has had time to start; then
// stops it. "exited N" when it ended by itself before that.
// Usage: start_probe PROGRAM.exe [SECONDS]

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/wide_text_win.hpp"

namespace {

struct Search {
  DWORD process;
  std::vector<std::string> titles;
};

BOOL CALLBACK collect(HWND window, LPARAM param) {
  auto* search = reinterpret_cast<Search*>(param);
  DWORD owner = 0;
  ::GetWindowThreadProcessId(window, &owner);
  if (owner != search->process || !::IsWindowVisible(window)) return TRUE;
  wchar_t title[512] = {};
  ::GetWindowTextW(window, title, 512);
  search->titles.push_back(falcet::wideToUtf8(title));
  return TRUE;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) {
    std::fputs("usage: start_probe PROGRAM.exe [SECONDS]\n", stderr);
    return 2;
  }
  const int seconds = argc > 2 ? std::max(1, _wtoi(argv[2])) : 8;
  std::wstring command = L"\"" + std::wstring(argv[1]) + L"\"";
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  if (!::CreateProcessW(argv[1], command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info)) {
    std::printf("cannot start (error %lu)\n", ::GetLastError());
    return 1;
  }
  ::WaitForInputIdle(info.hProcess, static_cast<DWORD>(seconds) * 1000);
  // The windows a form reader makes appear within a moment of each other; wait until none is
  // added for a second, or the time is up.
  Search search{info.dwProcessId, {}};
  std::size_t seen = 0;
  for (int waited = 0; waited < seconds * 4; ++waited) {
    DWORD code = 0;
    if (::GetExitCodeProcess(info.hProcess, &code) && code != STILL_ACTIVE) {
      std::printf("exited %lu\n", code);
      return 0;
    }
    ::Sleep(250);
    search.titles.clear();
    ::EnumWindows(collect, reinterpret_cast<LPARAM>(&search));
    if (!search.titles.empty() && search.titles.size() == seen && waited >= 8) break;
    seen = search.titles.size();
  }
  std::sort(search.titles.begin(), search.titles.end());
  for (const std::string& t : search.titles) std::printf("window: %s\n", t.c_str());
  if (search.titles.empty()) std::printf("no window\n");
  ::TerminateProcess(info.hProcess, 0);
  ::WaitForSingleObject(info.hProcess, 5000);
  ::CloseHandle(info.hThread);
  ::CloseHandle(info.hProcess);
  return 0;
}
