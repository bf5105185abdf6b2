// Where the main window and its boxes appear: message boxes and the
// configuration dialogs centred over the main window, the main window's
// position kept between runs.
#pragma once
#include <windows.h>

// A message box owned by `owner`, captioned "MCUFEED", centred over the main
// window; returns the button pressed.
int ShowMessage(HWND owner, const char* textUtf8, UINT style);

// Centres `window` over the main window, inside the desktop, and repaints it.
// A minimised main window is restored first.
void CentreOverMainWindow(HWND window);

// Moves the main window to its stored position, at its fixed size, when both
// coordinates are stored and lie inside the full-screen client area.
void RestoreMainWindowPosition(HWND main);

// Stores the main window's top-left corner unless it is minimised.
void StoreMainWindowPosition(HWND main);
