#include "app/settings.h"

int LoadFastSpiSetting() {
  uint32_t value = 0;
  return LoadSettingValue(kSettingFastSpi, &value) ? int(value) : 1;
}

void StoreFastSpiSetting(int fastSpi) { StoreSettingValue(kSettingFastSpi, uint32_t(fastSpi)); }

ChipIndex LoadChipIndexSetting() {
  uint32_t value = 0;
  return LoadSettingValue(kSettingChipIndex, &value) ? ChipIndex(value) : kChipAuto;
}

void StoreChipIndexSetting(ChipIndex index) { StoreSettingValue(kSettingChipIndex, uint32_t(index)); }

bool LoadWindowPosition(int32_t* x, int32_t* y) {
  uint32_t ux = 0, uy = 0;
  if (!LoadSettingValue(kSettingX, &ux) || !LoadSettingValue(kSettingY, &uy)) return false;
  *x = int32_t(ux);
  *y = int32_t(uy);
  return true;
}

void StoreWindowPosition(int32_t x, int32_t y) {
  StoreSettingValue(kSettingX, uint32_t(x));
  StoreSettingValue(kSettingY, uint32_t(y));
}
