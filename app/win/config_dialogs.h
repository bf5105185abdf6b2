// The configuration dialogs, run modally by the main window's Configure
// button once the target is identified: AVR fuse and lock bits (template
// 111) and AT89S5x lock bits (template 113).
#pragma once
#include <windows.h>

// The high word of a read command that marks the automatic read at start.
constexpr WORD kAutomaticReadMarker = 0xFFFF;

// Chip name shown by the AT89S5x dialog when the chip list had no selection.
constexpr const char* kAt89FallbackName = "AT89S5x";

INT_PTR CALLBACK AvrConfigProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK At89ConfigProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
