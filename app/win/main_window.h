// The program's window: entry, the main dialog (template 101) and its job
// and bridge handling. Everything runs on the window's thread except the
// download job (its own thread) and the plug notices (the bridge library's).
#pragma once
#include <windows.h>

#include <cstdint>

#include "app/app_state.h"
#include "link/kq560.h"

// The one process-wide record.
extern AppState g_app;

// Private messages of the main window.
constexpr UINT kPlugNoticeMessage = WM_APP + 1;   // wParam: the event code
constexpr UINT kJobControlsMessage = WM_APP + 2;  // wParam: 1 running, 0 idle

// The whole program: prepares AppState, parses the command line (the help box
// and 1 when it is malformed), runs the main dialog and returns 0.
int RunProgram(HINSTANCE instance, const wchar_t* fullCommandLine);

// Dialog procedure of template 101.
INT_PTR CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Registered with the bridge library; hands the event to the window's thread.
void KQ560_CALL PlugNotice(uint32_t event);

// How long the close request waits for a running job to stop before it
// closes the bridge anyway (kCloseWaitLimitMs unless changed, for tests).
void SetCloseWaitLimit(uint32_t milliseconds);
