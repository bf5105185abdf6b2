// mcufeed.exe: the Windows program.
#include <windows.h>

#include "app/win/main_window.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) { return RunProgram(instance, GetCommandLineW()); }
