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

enum class Shot { Main, Avr, At89 };

Shot g_shot = Shot::Main;
HWND g_main = nullptr;
const wchar_t* g_readyPath = nullptr;
const wchar_t* g_donePath = nullptr;
bool g_configureSent = false;
bool g_readyWritten = false;
ULONGLONG g_readySince = 0;

bool FileExists(const wchar_t* path) { return GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES; }

HWND ConfigDialog() {
  for (HWND w = GetWindow(GetDesktopWindow(), GW_CHILD); w; w = GetWindow(w, GW_HWNDNEXT))
    if (GetWindow(w, GW_OWNER) == g_main && IsWindowVisible(w)) return w;
  return nullptr;
}

void WriteReady(HWND window) {
  RECT r;
  GetWindowRect(window, &r);
  FILE* f = _wfopen(g_readyPath, L"w");
  if (!f) return;
  std::fprintf(f, "%ld %ld %ld %ld\n", r.left, r.top, r.right - r.left, r.bottom - r.top);
  std::fclose(f);
  g_readyWritten = true;
}

// Polls from whichever message loop runs: the helper's own or a modal dialog's.
void CALLBACK Poll(HWND, UINT, UINT_PTR, DWORD) {
  if (!g_readyWritten) {
    if (g_shot == Shot::Main) {
      if (g_app.jobHandle.load() == kJobIdle) {
        // Painting needs a moment after the last text.
        if (!g_readySince) g_readySince = GetTickCount64();
        if (GetTickCount64() - g_readySince > 500) WriteReady(g_main);
      }
      return;
    }
    if (!g_configureSent) {
      g_configureSent = true;
      SendDlgItemMessageW(g_main, IDC_CHIP_LIST, CB_SETCURSEL, g_shot == Shot::At89 ? 12 : 0, 0);
      SendMessageW(g_main, WM_COMMAND, MAKEWPARAM(IDC_CONFIGURE, BN_CLICKED), 0);  // modal until DONE
      return;
    }
    if (const HWND dialog = ConfigDialog()) {
      if (!g_readySince) g_readySince = GetTickCount64();
      if (GetTickCount64() - g_readySince > 500) WriteReady(dialog);
    }
    return;
  }
  if (!FileExists(g_donePath)) return;
  if (const HWND dialog = ConfigDialog()) PostMessageW(dialog, WM_CLOSE, 0, 0);
  PostQuitMessage(0);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  if (argc != 5) return 2;
  g_shot = lstrcmpW(argv[1], L"avr") == 0 ? Shot::Avr : lstrcmpW(argv[1], L"at89") == 0 ? Shot::At89 : Shot::Main;
  g_readyPath = argv[3];
  g_donePath = argv[4];

  PrepareAppState(g_app, instance);
  if (g_shot == Shot::Main) {  // as after choosing the file with Browse
    if (!Narrow(argv[2], g_app.filePath, sizeof g_app.filePath)) return 2;
    g_app.fileChosen = 1;
  }
  InitCommonControls();
  SetCursorPos(0, 0);  // no hover highlight in the picture
  g_main = CreateDialogParamW(instance, MAKEINTRESOURCEW(IDD_MAIN), nullptr, MainWindowProc, 0);
  if (!g_main) return 3;
  ShowWindow(g_main, SW_SHOW);
  if (g_shot == Shot::Main) SendMessageW(g_main, WM_COMMAND, MAKEWPARAM(IDC_DOWNLOAD, BN_CLICKED), 0);
  SetTimer(nullptr, 0, 100, Poll);

  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    if (IsDialogMessageW(g_main, &msg)) continue;
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  return 0;
}
