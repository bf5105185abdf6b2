// Text at the Win32 boundary: the portable core speaks UTF-8, the window
// system UTF-16.
#pragma once
#include <windows.h>

constexpr int kWideTextSize = 2048;

// A fixed buffer of wide text, large enough for every text of the program
// (the longest is the command help); anything longer comes out empty.
struct WideText {
  wchar_t text[kWideTextSize];
};

WideText Widen(const char* utf8);

// Converts into `out` (`size` bytes, terminated); false, leaving `out`
// empty, when the text does not fit.
bool Narrow(const wchar_t* wide, char* out, int size);

void SetItemTextUtf8(HWND dialog, int controlId, const char* utf8);
void SetWindowTextUtf8(HWND window, const char* utf8);
