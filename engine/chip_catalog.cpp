#include "engine/chip_catalog.h"

const ChipInfo kChipCatalogue[kChipCatalogueSize] = {
    {"MEGA AUTO", ChipFamily::AvrAuto, 0, 0, 0, {0x1E, 0x00, 0x00}},
    {"MEGA8", ChipFamily::Avr, 8192, 64, 512, {0x1E, 0x93, 0x07}},
    {"MEGA16", ChipFamily::Avr, 16384, 128, 512, {0x1E, 0x94, 0x03}},
    {"MEGA32", ChipFamily::Avr, 32768, 128, 1024, {0x1E, 0x95, 0x02}},
    {"MEGA64", ChipFamily::Avr, 65536, 256, 2048, {0x1E, 0x96, 0x02}},
    {"MEGA128", ChipFamily::Avr, 131072, 256, 4096, {0x1E, 0x97, 0x02}},
    {"MEGA8515", ChipFamily::Avr, 8192, 64, 512, {0x1E, 0x93, 0x06}},
    {"MEGA8535", ChipFamily::Avr, 8192, 64, 512, {0x1E, 0x93, 0x08}},
    {"MEGA48", ChipFamily::Avr, 4096, 64, 256, {0x1E, 0x92, 0x05}},
    {"MEGA88", ChipFamily::Avr, 8192, 64, 512, {0x1E, 0x93, 0x0A}},
    {"MEGA168", ChipFamily::Avr, 16384, 128, 512, {0x1E, 0x94, 0x06}},
    {"AT89S51", ChipFamily::At89, 4096, 256, 0, {0x1E, 0x51, 0x06}},
    {"AT89S52", ChipFamily::At89, 8192, 256, 0, {0x1E, 0x52, 0x06}},
};

const ChipInfo* FindChip(ChipIndex index) {
  if (index < 0 || index >= kChipCatalogueSize) return nullptr;
  return &kChipCatalogue[index];
}

const char* ChipName(ChipIndex index, const char* fallback) {
  const ChipInfo* chip = FindChip(index);
  return chip ? chip->name : fallback;
}

ChipIndex RecogniseAvrSignature(uint8_t s1, uint8_t s2) {
  // The AVR parts' signature pairs are unique, so a search of the table is
  // the recognition table itself.
  for (ChipIndex i = 1; i <= 10; ++i) {
    const uint8_t* sig = kChipCatalogue[i].signature;
    if (sig[1] == s1 && sig[2] == s2) return i;
  }
  return 0;
}
