// Settings in the registry: DWORD values under HKCU\Software\Corvane\mcufeed,
// the key opened (and created when missing) for each access and closed again.
#include <windows.h>

#include "app/settings.h"

namespace {

const wchar_t kKeyPath[] = L"Software\\Corvane\\mcufeed";

void Widen(const char* name, wchar_t (&wide)[32]) {
  int i = 0;
  for (; name[i] && i < 31; ++i) wide[i] = wchar_t(static_cast<unsigned char>(name[i]));
  wide[i] = 0;
}

}  // namespace

bool LoadSettingValue(const char* name, uint32_t* value) {
  HKEY key;
  if (RegCreateKeyExW(HKEY_CURRENT_USER, kKeyPath, 0, nullptr, 0, KEY_READ | KEY_WRITE, nullptr,
                      &key, nullptr) != ERROR_SUCCESS)
    return false;
  wchar_t wide[32];
  Widen(name, wide);
  DWORD type = 0, data = 0, size = sizeof data;
  const LONG status = RegQueryValueExW(key, wide, nullptr, &type, reinterpret_cast<BYTE*>(&data), &size);
  RegCloseKey(key);
  if (status != ERROR_SUCCESS || type != REG_DWORD || size != sizeof data) return false;
  *value = data;
  return true;
}

void StoreSettingValue(const char* name, uint32_t value) {
  HKEY key;
  if (RegCreateKeyExW(HKEY_CURRENT_USER, kKeyPath, 0, nullptr, 0, KEY_READ | KEY_WRITE, nullptr,
                      &key, nullptr) != ERROR_SUCCESS)
    return;
  wchar_t wide[32];
  Widen(name, wide);
  const DWORD data = value;
  RegSetValueExW(key, wide, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&data), sizeof data);
  RegCloseKey(key);
}
