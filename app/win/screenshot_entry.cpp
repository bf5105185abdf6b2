// mcufeed_shots: puts one of the program's windows on screen for
// scripts/screenshots.sh, with the bridge simulator as it comes up from the
// environment (KQ560SIM_STATE names the target's state file).
//
//   mcufeed_shots main FILE READY DONE   the main window after downloading FILE
//                                        (chosen as with Browse, chip list on "MEGA AUTO")
//   mcufeed_shots avr - READY DONE       the AVR fuse dialog (chip list on "MEGA AUTO")
//   mcufeed_shots at89 - READY DONE      the AT89S5x lock dialog (chip list on "AT89S52")
//
// When the picture is ready the helper writes the window's screen rectangle
// ("left top width height") to READY, then waits until DONE exists and ends.
#include <windows.h>

#include <commctrl.h>
#include <shellapi.h>

#include <cstdio>

#include "app/app_startup.h"
#include "app/win/main_window.h"
#include "app/win/win_text.h"
#include "resources/resource.h"

namespace {

wchar_t** g_argv = nullptr;
HWND g_main = nullptr;
bool g_ready = false;
ULONGLONG g_quietSince = 0;

// The window to show: the main window, or the configuration dialog it owns.
HWND Subject() {
  if (lstrcmpW(g_argv[1], L"main") == 0) return g_app.jobHandle.load() == kJobIdle ? g_main : nullptr;
  for (HWND w = GetWindow(GetDesktopWindow(), GW_CHILD); w; w = GetWindow(w, GW_HWNDNEXT))
    if (GetWindow(w, GW_OWNER) == g_main && IsWindowVisible(w)) return w;
  return nullptr;
}

// Polls from whichever message loop runs: the helper's own or the modal dialog's.
void CALLBACK Poll(HWND, UINT, UINT_PTR, DWORD) {
  const HWND subject = Subject();
  if (!g_ready && subject) {
    if (!g_quietSince) g_quietSince = GetTickCount64();
    if (GetTickCount64() - g_quietSince < 500) return;  // painting needs a moment after the last text
    RECT r;
    GetWindowRect(subject, &r);
    if (FILE* f = _wfopen(g_argv[3], L"w")) {
      std::fprintf(f, "%ld %ld %ld %ld\n", r.left, r.top, r.right - r.left, r.bottom - r.top);
      std::fclose(f);
      g_ready = true;
    }
  } else if (g_ready && GetFileAttributesW(g_argv[4]) != INVALID_FILE_ATTRIBUTES) {
    if (subject != g_main) PostMessageW(subject, WM_CLOSE, 0, 0);
    PostQuitMessage(0);
  }
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  int argc = 0;
  g_argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  if (argc != 5) return 2;
  const bool mainShot = lstrcmpW(g_argv[1], L"main") == 0;
  PrepareAppState(g_app, instance);
  if (mainShot) {  // as after choosing the file with Browse
    if (!Narrow(g_argv[2], g_app.filePath, sizeof g_app.filePath)) return 2;
    g_app.fileChosen = 1;
  }
  InitCommonControls();
  SetCursorPos(0, 0);  // no hover highlight in the picture
  g_main = CreateDialogParamW(instance, MAKEINTRESOURCEW(IDD_MAIN), nullptr, MainWindowProc, 0);
  if (!g_main) return 3;
  ShowWindow(g_main, SW_SHOW);
  SetTimer(nullptr, 0, 100, Poll);
  if (!mainShot) SendDlgItemMessageW(g_main, IDC_CHIP_LIST, CB_SETCURSEL, lstrcmpW(g_argv[1], L"at89") ? 0 : 12, 0);
  // Configure's dialog is modal: it runs until DONE, served by the timer.
  PostMessageW(g_main, WM_COMMAND, MAKEWPARAM(mainShot ? IDC_DOWNLOAD : IDC_CONFIGURE, BN_CLICKED), 0);

  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    if (IsDialogMessageW(g_main, &msg)) continue;
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  return 0;
}
