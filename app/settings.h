// The four stored settings, DWORD values named as in the registry key
// HKEY_CURRENT_USER\Software\Corvane\mcufeed. On Windows they live there; on
// other systems in a per-user file with the same names (see settings_file.cpp).
#pragma once
#include <cstdint>

#include "engine/chip_catalog.h"

constexpr const char* kSettingFastSpi = "SPIBit";
constexpr const char* kSettingChipIndex = "IniMcuIndex";
constexpr const char* kSettingX = "x_pos";
constexpr const char* kSettingY = "y_pos";

// The raw store. Loading fails when the value is missing or unreadable;
// storing fails silently, as the program never reports settings failures.
bool LoadSettingValue(const char* name, uint32_t* value);
void StoreSettingValue(const char* name, uint32_t value);

// 1 when missing: a capable bridge uses the fast mode unless the user said no.
int LoadFastSpiSetting();
void StoreFastSpiSetting(int fastSpi);

// 0 ("MEGA AUTO") when missing; any stored value is returned unchecked.
ChipIndex LoadChipIndexSetting();
void StoreChipIndexSetting(ChipIndex index);

// False unless both coordinates are stored.
bool LoadWindowPosition(int32_t* x, int32_t* y);
void StoreWindowPosition(int32_t x, int32_t y);
