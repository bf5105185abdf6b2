// mcufeed-cli on Windows: the arguments come as UTF-16, whatever the ANSI
// code page, and go on as UTF-8; files are then opened through the wide API.
#include <windows.h>

#include <string>
#include <vector>

#include "app/cli/cli_run.h"

namespace {

std::string Utf8(const wchar_t* wide) {
  const int n = WideCharToMultiByte(CP_UTF8, 0, wide, -1, nullptr, 0, nullptr, nullptr);
  if (n <= 1) return std::string();
  std::string text(size_t(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide, -1, &text[0], n, nullptr, nullptr);
  text.resize(size_t(n - 1));
  return text;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  try {
    std::vector<std::string> args;
    for (int i = 0; i < argc; ++i) args.push_back(Utf8(argv[i]));
    std::vector<const char*> pointers;
    for (const std::string& arg : args) pointers.push_back(arg.c_str());
    pointers.push_back(nullptr);
    return RunCli(argc, pointers.data());
  } catch (...) {
    return 1;  // out of memory before the tool could start
  }
}
