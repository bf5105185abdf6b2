// Settings on systems without a registry: a small text file of name=value
// lines (decimal DWORDs), at $MCUFEED_SETTINGS_FILE if set, else
// $XDG_CONFIG_HOME/mcufeed/settings, else ~/.config/mcufeed/settings.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "app/settings.h"

namespace {

constexpr int kMaxEntries = 16;

struct Entry {
  std::string name;
  uint32_t value;
};

std::filesystem::path SettingsPath() {
  if (const char* file = std::getenv("MCUFEED_SETTINGS_FILE"); file && *file) return file;
  if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg)
    return std::filesystem::path(xdg) / "mcufeed" / "settings";
  const char* home = std::getenv("HOME");
  return std::filesystem::path(home ? home : ".") / ".config" / "mcufeed" / "settings";
}

int ReadEntries(Entry (&entries)[kMaxEntries]) {
  std::ifstream in(SettingsPath());
  int count = 0;
  std::string line;
  while (count < kMaxEntries && std::getline(in, line)) {
    const size_t eq = line.find('=');
    if (eq == std::string::npos || eq == 0) continue;
    const std::string text = line.substr(eq + 1);
    char* end = nullptr;
    const unsigned long value = std::strtoul(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || value > 0xFFFFFFFFul) continue;
    entries[count++] = {line.substr(0, eq), uint32_t(value)};
  }
  return count;
}

}  // namespace

bool LoadSettingValue(const char* name, uint32_t* value) {
  Entry entries[kMaxEntries];
  const int count = ReadEntries(entries);
  for (int i = 0; i < count; ++i) {
    if (entries[i].name == name) {
      *value = entries[i].value;
      return true;
    }
  }
  return false;
}

void StoreSettingValue(const char* name, uint32_t value) {
  Entry entries[kMaxEntries];
  int count = ReadEntries(entries);
  int i = 0;
  while (i < count && entries[i].name != name) ++i;
  if (i == count) {
    if (count == kMaxEntries) return;
    entries[count++].name = name;
  }
  entries[i].value = value;

  // Write a new file and rename it over the old one, so a crash never leaves half a file.
  const std::filesystem::path path = SettingsPath();
  std::error_code ec;
  if (path.has_parent_path()) std::filesystem::create_directories(path.parent_path(), ec);
  std::filesystem::path temp = path;
  temp += ".new";
  {
    std::ofstream out(temp, std::ios::trunc);
    for (int k = 0; k < count; ++k) out << entries[k].name << '=' << entries[k].value << '\n';
    if (!out) return;
  }
  std::filesystem::rename(temp, path, ec);
}
