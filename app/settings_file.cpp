// Settings on systems without a registry: a small text file of name=value
// lines (decimal DWORDs), at $MCUFEED_SETTINGS_FILE if set, else
// $XDG_CONFIG_HOME/mcufeed/settings, else ~/.config/mcufeed/settings.
#include <sys/stat.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/program_file.h"
#include "app/settings.h"

namespace {

constexpr int kMaxEntries = 16;
constexpr size_t kNameSize = 32;
constexpr size_t kPathSize = 4096;  // the longest path the system takes

struct Entry {
  char name[kNameSize];
  uint32_t value;
};

bool SettingsPath(char (&path)[kPathSize]) {
  int n;
  if (const char* file = std::getenv("MCUFEED_SETTINGS_FILE"); file && *file) {
    n = std::snprintf(path, kPathSize, "%s", file);
  } else if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg) {
    n = std::snprintf(path, kPathSize, "%s/mcufeed/settings", xdg);
  } else {
    const char* home = std::getenv("HOME");
    n = std::snprintf(path, kPathSize, "%s/.config/mcufeed/settings", home ? home : ".");
  }
  return n > 0 && size_t(n) < kPathSize;
}

// A line that is not name=digits (a damaged file) is skipped, never trusted.
bool ParseLine(const char* line, Entry* entry) {
  const char* eq = std::strchr(line, '=');
  if (!eq || eq == line || size_t(eq - line) >= kNameSize || !std::isdigit(static_cast<unsigned char>(eq[1])))
    return false;
  char* end = nullptr;
  errno = 0;
  const unsigned long long value = std::strtoull(eq + 1, &end, 10);
  if (errno != 0 || *end != '\0' || value > 0xFFFFFFFFull) return false;
  std::memcpy(entry->name, line, size_t(eq - line));
  entry->name[eq - line] = '\0';
  entry->value = uint32_t(value);
  return true;
}

int ReadEntries(const char* path, Entry (&entries)[kMaxEntries]) {
  std::FILE* file = std::fopen(path, "r");
  if (!file) return 0;
  int count = 0;
  char line[128];
  while (count < kMaxEntries && std::fgets(line, sizeof line, file)) {
    const size_t length = std::strcspn(line, "\n");
    if (line[length] != '\n' && !std::feof(file)) {  // overlong: skip the whole line
      int c;
      while ((c = std::fgetc(file)) != EOF && c != '\n') {
      }
      continue;
    }
    line[length] = '\0';
    if (ParseLine(line, &entries[count])) ++count;
  }
  std::fclose(file);
  return count;
}

void MakeParentFolders(char* path) {
  for (char* slash = std::strchr(path + 1, '/'); slash; slash = std::strchr(slash + 1, '/')) {
    *slash = '\0';
    mkdir(path, 0777);  // an existing folder is fine; any other failure shows when the file is written
    *slash = '/';
  }
}

}  // namespace

bool LoadSettingValue(const char* name, uint32_t* value) {
  char path[kPathSize];
  Entry entries[kMaxEntries];
  const int count = SettingsPath(path) ? ReadEntries(path, entries) : 0;
  for (int i = 0; i < count; ++i) {
    if (std::strcmp(entries[i].name, name) == 0) {
      *value = entries[i].value;
      return true;
    }
  }
  return false;
}

void StoreSettingValue(const char* name, uint32_t value) {
  char path[kPathSize];
  if (!SettingsPath(path) || std::strlen(name) >= kNameSize) return;
  Entry entries[kMaxEntries];
  int count = ReadEntries(path, entries);
  int i = 0;
  while (i < count && std::strcmp(entries[i].name, name) != 0) ++i;
  if (i == count) {
    if (count == kMaxEntries) return;
    std::snprintf(entries[count++].name, kNameSize, "%s", name);
  }
  entries[i].value = value;

  char text[kMaxEntries * (kNameSize + 12)];
  size_t used = 0;
  for (int k = 0; k < count; ++k)
    used += size_t(std::snprintf(text + used, sizeof text - used, "%s=%lu\n", entries[k].name,
                                 static_cast<unsigned long>(entries[k].value)));
  MakeParentFolders(path);
  // Whole or not at all: a crash never leaves half a file.
  WriteWholeFile(path, reinterpret_cast<const uint8_t*>(text), uint32_t(used));
}
