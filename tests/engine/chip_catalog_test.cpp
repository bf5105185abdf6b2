#include "engine/chip_catalog.h"

#include <gtest/gtest.h>


namespace {

struct Expected {
  const char* name;
  uint32_t flash, page, eeprom;
  uint8_t s1, s2;
};

// The data sheets' figures, written out independently of the table under test.
const Expected kAvrParts[] = {
    {"MEGA8", 8192, 64, 512, 0x93, 0x07},      {"MEGA16", 16384, 128, 512, 0x94, 0x03},
    {"MEGA32", 32768, 128, 1024, 0x95, 0x02},  {"MEGA64", 65536, 256, 2048, 0x96, 0x02},
    {"MEGA128", 131072, 256, 4096, 0x97, 0x02}, {"MEGA8515", 8192, 64, 512, 0x93, 0x06},
    {"MEGA8535", 8192, 64, 512, 0x93, 0x08},   {"MEGA48", 4096, 64, 256, 0x92, 0x05},
    {"MEGA88", 8192, 64, 512, 0x93, 0x0A},     {"MEGA168", 16384, 128, 512, 0x94, 0x06},
};

TEST(ChipCatalogue, ListOrderAndAvrFacts) {
  EXPECT_STREQ(ChipName(0), "MEGA AUTO");
  for (int i = 0; i < 10; ++i) {
    const ChipInfo* chip = FindChip(i + 1);
    ASSERT_NE(chip, nullptr);
    const Expected& e = kAvrParts[i];
    SCOPED_TRACE(e.name);
    EXPECT_STREQ(chip->name, e.name);
    EXPECT_EQ(chip->family, ChipFamily::Avr);
    EXPECT_EQ(chip->flashLimit, e.flash);
    EXPECT_EQ(chip->flashPage, e.page);
    EXPECT_EQ(chip->eepromLimit, e.eeprom);
    EXPECT_EQ(chip->signature[0], 0x1E);
    EXPECT_EQ(chip->signature[1], e.s1);
    EXPECT_EQ(chip->signature[2], e.s2);
    // Page sizes are whole words and a power of two, which the page-address shift relies on.
    EXPECT_EQ(chip->flashPage & (chip->flashPage - 1), 0u);
    EXPECT_EQ(chip->flashLimit % chip->flashPage, 0u);
  }
}

TEST(ChipCatalogue, At89Parts) {
  const ChipInfo* s51 = FindChip(11);
  const ChipInfo* s52 = FindChip(12);
  ASSERT_TRUE(s51 && s52);
  EXPECT_STREQ(s51->name, "AT89S51");
  EXPECT_STREQ(s52->name, "AT89S52");
  EXPECT_EQ(s51->family, ChipFamily::At89);
  EXPECT_EQ(s51->flashLimit, 4096u);
  EXPECT_EQ(s52->flashLimit, 8192u);
  EXPECT_EQ(s51->eepromLimit, 0u);
  EXPECT_EQ(s51->signature[1], 0x51);
  EXPECT_EQ(s52->signature[1], 0x52);
  EXPECT_EQ(s52->signature[2], 0x06);
}

TEST(ChipCatalogue, IndicesOutsideTheListHaveNoEntry) {
  for (ChipIndex i : {-1, 13, 14, 1000, INT32_MIN}) {
    EXPECT_EQ(FindChip(i), nullptr) << i;
    EXPECT_STREQ(ChipName(i, "?"), "?") << i;
  }
  EXPECT_STREQ(ChipName(-1), "");
}

TEST(ChipCatalogue, FamilyTestOfTheWriters) {
  EXPECT_FALSE(IsAvrPart(0));  // "MEGA AUTO" must be resolved first
  for (ChipIndex i = 1; i <= 10; ++i) EXPECT_TRUE(IsAvrPart(i)) << i;
  for (ChipIndex i : {-1, 11, 12, 13}) EXPECT_FALSE(IsAvrPart(i)) << i;
}

TEST(ChipRecognition, EveryAvrPartIsRecognisedByItsOwnPair) {
  for (int i = 0; i < 10; ++i)
    EXPECT_EQ(RecogniseAvrSignature(kAvrParts[i].s1, kAvrParts[i].s2), i + 1) << kAvrParts[i].name;
}

TEST(ChipRecognition, PairsSharingOneByteAreToldApart) {
  // 0x06 is byte 2 of both MEGA8515 (0x93) and MEGA168 (0x94); 0x93 is byte 1 of four parts.
  EXPECT_EQ(RecogniseAvrSignature(0x93, 0x06), 6);
  EXPECT_EQ(RecogniseAvrSignature(0x94, 0x06), 10);
  EXPECT_EQ(RecogniseAvrSignature(0x94, 0x03), 2);
  EXPECT_EQ(RecogniseAvrSignature(0x93, 0x0A), 9);
}

TEST(ChipRecognition, UnknownPairsAndSwappedBytesAreNotRecognised) {
  EXPECT_EQ(RecogniseAvrSignature(0x07, 0x93), 0);  // swapped MEGA8
  EXPECT_EQ(RecogniseAvrSignature(0x95, 0x0F), 0);  // an ATmega328P-like pair
  EXPECT_EQ(RecogniseAvrSignature(0x51, 0x06), 0);  // AT89S51 is not an AVR part
  EXPECT_EQ(RecogniseAvrSignature(0xFF, 0xFF), 0);  // nothing on the lines
  // Exactly the ten catalogue pairs are recognised.
  int found = 0;
  for (int s1 = 0; s1 < 256; ++s1)
    for (int s2 = 0; s2 < 256; ++s2)
      if (RecogniseAvrSignature(uint8_t(s1), uint8_t(s2)) != 0) ++found;
  EXPECT_EQ(found, 10);
}

}  // namespace
