#include "app/win/placement.h"

#include "app/main_window_logic.h"
#include "app/settings.h"
#include "app/win/main_window.h"
#include "app/win/win_text.h"

namespace {

// The centring hook lives only from just before a message box is created to
// its first activation, and only on the thread showing the box.
thread_local HHOOK t_centreHook = nullptr;

LRESULT CALLBACK CentreMessageBoxHook(int code, WPARAM wParam, LPARAM lParam) {
  if (code == HCBT_ACTIVATE && t_centreHook) {
    const HHOOK hook = t_centreHook;
    t_centreHook = nullptr;
    CentreOverMainWindow(reinterpret_cast<HWND>(wParam));
    UnhookWindowsHookEx(hook);
  }
  return CallNextHookEx(nullptr, code, wParam, lParam);
}

ScreenRect ToScreenRect(const RECT& r) { return {r.left, r.top, r.right, r.bottom}; }

}  // namespace

int ShowMessage(HWND owner, const char* textUtf8, UINT style) {
  if (!t_centreHook) t_centreHook = SetWindowsHookExW(WH_CBT, CentreMessageBoxHook, nullptr, GetCurrentThreadId());
  const int answer = MessageBoxW(owner, Widen(textUtf8).text, Widen(kMessageCaption).text, style);
  if (t_centreHook) {  // the box never activated
    UnhookWindowsHookEx(t_centreHook);
    t_centreHook = nullptr;
  }
  return answer;
}

void CentreOverMainWindow(HWND window) {
  const HWND main = static_cast<HWND>(g_app.mainWindow);
  if (!main || !window) return;
  if (IsIconic(main)) ShowWindow(main, SW_RESTORE);
  RECT mainRect, desktopRect, windowRect;
  GetWindowRect(main, &mainRect);
  GetWindowRect(GetDesktopWindow(), &desktopRect);
  GetWindowRect(window, &windowRect);
  const int32_t width = windowRect.right - windowRect.left;
  const int32_t height = windowRect.bottom - windowRect.top;
  const ScreenPoint at = CentreOver(ToScreenRect(mainRect), ToScreenRect(desktopRect), width, height);
  MoveWindow(window, at.x, at.y, width, height, TRUE);
}

void RestoreMainWindowPosition(HWND main) {
  int32_t x = 0, y = 0;
  if (!LoadWindowPosition(&x, &y)) return;
  if (!PositionRestorable(x, y, GetSystemMetrics(SM_CXFULLSCREEN), GetSystemMetrics(SM_CYFULLSCREEN))) return;
  MoveWindow(main, x, y, kMainWindowWidth, kMainWindowHeight, TRUE);
}

void StoreMainWindowPosition(HWND main) {
  if (IsIconic(main)) return;
  RECT r;
  if (GetWindowRect(main, &r)) StoreWindowPosition(r.left, r.top);
}
