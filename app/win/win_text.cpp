#include "app/win/win_text.h"

WideText Widen(const char* utf8) {
  WideText wide;
  if (MultiByteToWideChar(CP_UTF8, 0, utf8, -1, wide.text, kWideTextSize) == 0) wide.text[0] = L'\0';
  return wide;
}

bool Narrow(const wchar_t* wide, char* out, int size) {
  if (WideCharToMultiByte(CP_UTF8, 0, wide, -1, out, size, nullptr, nullptr) == 0) {
    if (size > 0) out[0] = '\0';
    return false;
  }
  return true;
}

void SetItemTextUtf8(HWND dialog, int controlId, const char* utf8) {
  SetDlgItemTextW(dialog, controlId, Widen(utf8).text);
}

void SetWindowTextUtf8(HWND window, const char* utf8) { SetWindowTextW(window, Widen(utf8).text); }
