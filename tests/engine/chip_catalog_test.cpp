#include "engine/chip_catalog.h"

#include <gtest/gtest.h>

#include <tuple>

namespace {

struct Expected { const char* name; ChipFamily family; uint32_t flash, page, eeprom; uint8_t s1, s2; };

// The data sheets' figures, written out independently of the table under test.
const Expected kParts[] = {
    {"MEGA8", ChipFamily::Avr, 8192, 64, 512, 0x93, 0x07},
    {"MEGA16", ChipFamily::Avr, 16384, 128, 512, 0x94, 0x03},
    {"MEGA32", ChipFamily::Avr, 32768, 128, 1024, 0x95, 0x02},
    {"MEGA64", ChipFamily::Avr, 65536, 256, 2048, 0x96, 0x02},
    {"MEGA128", ChipFamily::Avr, 131072, 256, 4096, 0x97, 0x02},
    {"MEGA8515", ChipFamily::Avr, 8192, 64, 512, 0x93, 0x06},
    {"MEGA8535", ChipFamily::Avr, 8192, 64, 512, 0x93, 0x08},
    {"MEGA48", ChipFamily::Avr, 4096, 64, 256, 0x92, 0x05},
    {"MEGA88", ChipFamily::Avr, 8192, 64, 512, 0x93, 0x0A},
    {"MEGA168", ChipFamily::Avr, 16384, 128, 512, 0x94, 0x06},
    {"AT89S51", ChipFamily::At89, 4096, 256, 0, 0x51, 0x06},
    {"AT89S52", ChipFamily::At89, 8192, 256, 0, 0x52, 0x06},
};

TEST(ChipCatalogue, ListOrderAndDataSheetFacts) {
  EXPECT_STREQ(ChipName(0), "MEGA AUTO");
  for (int i = 0; i < 12; ++i) {
    const Expected& e = kParts[i];
    SCOPED_TRACE(e.name);
    const ChipInfo* chip = FindChip(i + 1);
    ASSERT_NE(chip, nullptr);
    EXPECT_STREQ(chip->name, e.name);
    EXPECT_EQ(std::make_tuple(chip->family, chip->flashLimit, chip->flashPage, chip->eepromLimit),
              std::make_tuple(e.family, e.flash, e.page, e.eeprom));
    EXPECT_EQ(std::make_tuple(chip->signature[0], chip->signature[1], chip->signature[2]),
              std::make_tuple(0x1E, e.s1, e.s2));
    EXPECT_EQ(IsAvrPart(i + 1), e.family == ChipFamily::Avr);
    EXPECT_EQ(RecogniseAvrSignature(e.s1, e.s2), e.family == ChipFamily::Avr ? i + 1 : 0);
  }
}

TEST(ChipCatalogue, IndicesOutsideTheListHaveNoEntry) {
  for (ChipIndex i : {-1, 13, 1000, INT32_MIN}) {
    EXPECT_EQ(FindChip(i), nullptr) << i;
    EXPECT_STREQ(ChipName(i, "?"), "?") << i;
    EXPECT_FALSE(IsAvrPart(i));
  }
  EXPECT_FALSE(IsAvrPart(kChipAuto)) << "MEGA AUTO must be resolved first";
}

TEST(ChipRecognition, NoPairButTheTenAvrPartsIsRecognised) {
  int found = 0;
  for (int s1 = 0; s1 < 256; ++s1)
    for (int s2 = 0; s2 < 256; ++s2) found += RecogniseAvrSignature(uint8_t(s1), uint8_t(s2)) != 0;
  EXPECT_EQ(found, 10);
}

}  // namespace
