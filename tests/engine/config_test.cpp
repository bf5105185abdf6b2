#include <map>

#include "engine/at89_config.h"
#include "engine/avr_config.h"
#include "engine/identify.h"
#include "sim_fixture.h"

namespace enginetest {
namespace {

class FakeBoxes : public ConfigBoxes {
 public:
  bool IsChecked(int id) override { return checked[id]; }
  void SetChecked(int id, bool on) override { checked[id] = on; }
  std::map<int, bool> checked;
};

TEST(AvrConfigLayout, CaptionsPerChip) {
  EXPECT_STREQ(AvrBoxCaption(6, 1022), "S8515C");
  EXPECT_STREQ(AvrBoxCaption(7, 1022), "S8535C");
  EXPECT_STREQ(AvrBoxCaption(5, 1023), "JTAGEN");
  EXPECT_STREQ(AvrBoxCaption(10, 1031), "CKDIV8");
  EXPECT_EQ(AvrBoxCaption(1, 1022), nullptr) << "MEGA8 keeps the template";
  EXPECT_EQ(AvrBoxCaption(10, 1024), nullptr) << "SPIEN is SPIEN everywhere";
  // Extended row: the chip's names, or the bit number on a disabled box.
  EXPECT_STREQ(AvrBoxCaption(6, 1030), "2");
  EXPECT_STREQ(AvrBoxCaption(6, 1039), "1");
  EXPECT_STREQ(AvrBoxCaption(6, 1040), "0");
  EXPECT_STREQ(AvrBoxCaption(4, 1039), "M103C");
  EXPECT_STREQ(AvrBoxCaption(4, 1030), "2");
  EXPECT_STREQ(AvrBoxCaption(8, 1040), "SPMEN");
  EXPECT_STREQ(AvrBoxCaption(8, 1039), "1");
  EXPECT_STREQ(AvrBoxCaption(9, 1030), "BTSZ1");
}

TEST(AvrConfigLayout, UsedExtendedBoxesAndBytesBuiltFromBoxes) {
  const int ext[3] = {1030, 1039, 1040};
  const bool used[][3] = {{false, false, false}, {false, true, true}, {false, false, true}, {true, true, true}};
  const ChipIndex chips[] = {1, 5, 8, 10};
  for (int c = 0; c < 4; ++c)
    for (int b = 0; b < 3; ++b) EXPECT_EQ(AvrBoxUsed(chips[c], ext[b]), used[c][b]) << chips[c] << " " << ext[b];
  for (const ConfigBox& box : kAvrConfigBoxes)
    if (box.byte != ConfigByte::Extended) {
      EXPECT_TRUE(AvrBoxUsed(1, box.controlId));
    }

  EXPECT_EQ(ConfigByteFromChecked(ConfigByte::Lock, 0xFF), 0xC0) << "bits 7 and 6 have no box";
  EXPECT_EQ(ConfigByteFromChecked(ConfigByte::Extended, 0xFF), 0xF8);
  EXPECT_EQ(ConfigByteFromChecked(ConfigByte::High, 0xFF), 0x20) << "SPIEN is never programmed";
  EXPECT_EQ(ConfigByteFromChecked(ConfigByte::Low, 0x81), 0x7E);
  EXPECT_EQ(ConfigByteFromChecked(ConfigByte::High, 0x00), 0xFF);
}

class AvrConfig : public SimTest {
 protected:
  void Attach(ChipIndex chip) {
    Connect(ChipName(chip), chip);
    ASSERT_EQ(IdentifyTarget(state), kResultOk);
  }
  int Config(uint32_t which) { return KQ560SimGetConfig(0, which); }
  FakeBoxes boxes;
};

TEST_F(AvrConfig, ReadSetsEveryRowFromItsByte) {
  Attach(4);  // MEGA64
  KQ560SimSetConfig(0, KQ560SIM_LOCK, 0xFC);
  KQ560SimSetConfig(0, KQ560SIM_HIGH, 0x99);
  KQ560SimSetConfig(0, KQ560SIM_LOW, 0xE1);
  KQ560SimSetConfig(0, KQ560SIM_EXT, 0xFD);
  ASSERT_TRUE(ReadAvrConfig(0, 4, boxes));
  EXPECT_TRUE(boxes.checked[1021] && boxes.checked[1020]);  // Lock1, Lock2 programmed
  EXPECT_FALSE(boxes.checked[1019]);
  EXPECT_TRUE(boxes.checked[1039]) << "M103C is bit 1 of 0xFD";
  EXPECT_FALSE(boxes.checked[1040]);
  // 0x99 = 1001 1001: bits 6, 5, 2 and 1 programmed.
  EXPECT_TRUE(boxes.checked[1023] && boxes.checked[1027] && boxes.checked[1028]);
  EXPECT_FALSE(boxes.checked[1022] || boxes.checked[1025] || boxes.checked[1026] || boxes.checked[1029]);
  EXPECT_TRUE(boxes.checked[1024]) << "SPIEN is shown as it is";
  // 0xE1 = 1110 0001: bits 4 to 1 programmed.
  EXPECT_TRUE(boxes.checked[1034] && boxes.checked[1035] && boxes.checked[1036] && boxes.checked[1037]);
  EXPECT_FALSE(boxes.checked[1031] || boxes.checked[1032] || boxes.checked[1033] || boxes.checked[1038]);
}

TEST_F(AvrConfig, DisabledExtendedBoxesAreReadToo) {
  Attach(8);  // MEGA48: only SPMEN is used and exists; the other two bits read 1
  KQ560SimSetConfig(0, KQ560SIM_EXT, 0xFE);
  boxes.checked[1030] = boxes.checked[1039] = true;
  ASSERT_TRUE(ReadAvrConfig(0, 8, boxes));
  EXPECT_FALSE(boxes.checked[1030]);
  EXPECT_FALSE(boxes.checked[1039]);
  EXPECT_TRUE(boxes.checked[1040]);
}

TEST_F(AvrConfig, AllThreeExtendedBitsTravelOnAMega88) {
  Attach(9);
  boxes.checked[1030] = boxes.checked[1040] = true;
  const uint64_t before = Calls();
  ASSERT_TRUE(WriteAvrConfig(0, 9, boxes).ok);
  EXPECT_EQ(Calls() - before, 4u) << "lock, extended, high, low";
  EXPECT_EQ(Config(KQ560SIM_EXT), 0xFA);
  boxes.checked.clear();
  ASSERT_TRUE(ReadAvrConfig(0, 9, boxes));
  EXPECT_TRUE(boxes.checked[1030] && boxes.checked[1040]);
  EXPECT_FALSE(boxes.checked[1039]);
}

TEST_F(AvrConfig, WriteOrderAndBytesWithSpienKept) {
  Attach(1);
  SetAllAvrBoxes(1, boxes, true);
  EXPECT_FALSE(boxes.checked.count(1030) || boxes.checked.count(1039) || boxes.checked.count(1040))
      << "no extended box on a MEGA8";
  // Lock1 and Lock2 would lock the fuses against the writes that follow.
  boxes.checked[1021] = boxes.checked[1020] = false;
  const uint64_t before = Calls();
  Waits().clear();
  ASSERT_TRUE(WriteAvrConfig(0, 1, boxes).ok);
  EXPECT_EQ(Calls() - before, 3u) << "lock, high, low: no extended byte";
  EXPECT_EQ(Waits(), (std::vector<uint32_t>{20, 20, 20}));
  EXPECT_EQ(Config(KQ560SIM_LOCK), 0xC3);
  EXPECT_EQ(Config(KQ560SIM_HIGH), 0x00) << "SPIEN (bit 5) keeps its programmed state";
  EXPECT_EQ(Config(KQ560SIM_LOW), 0x00);

  // "全反选" clears every box; the write then sends 0xFF everywhere, and
  // the lock bits stay programmed (only an erase clears them).
  SetAllAvrBoxes(1, boxes, false);
  ASSERT_TRUE(WriteAvrConfig(0, 1, boxes).ok);
  EXPECT_EQ(Config(KQ560SIM_HIGH), 0xDF);
  EXPECT_EQ(Config(KQ560SIM_LOW), 0xFF);
  EXPECT_EQ(Config(KQ560SIM_LOCK), 0xC3);
}

TEST_F(AvrConfig, FailuresStopTheSequenceWithTheirIcon) {
  struct Case {
    int failingStep;  // 1-based write of MEGA128: lock, ext, high, low
    MessageIcon icon;
  } cases[] = {{1, MessageIcon::Exclamation}, {2, MessageIcon::Exclamation},
               {3, MessageIcon::Information}, {4, MessageIcon::Information}};
  for (const Case& c : cases) {
    KQ560SimReset();
    Attach(5);
    SetAllAvrBoxes(5, boxes, true);
    const uint64_t first = Calls() + 1;
    ASSERT_TRUE(KQ560SimSetFaults(("fail=" + std::to_string(first + c.failingStep - 1)).c_str()));
    const AvrWriteOutcome outcome = WriteAvrConfig(0, 5, boxes);
    EXPECT_FALSE(outcome.ok);
    EXPECT_EQ(outcome.failureIcon, c.icon) << c.failingStep;
    EXPECT_EQ(Calls(), first + c.failingStep - 1) << "nothing after the failure";
    // Earlier bytes stay written.
    EXPECT_EQ(Config(KQ560SIM_LOCK) == 0xC0, c.failingStep > 1);
  }
  // A failed read keeps the later rows as they were.
  KQ560SimReset();
  Attach(5);
  boxes.checked.clear();
  boxes.checked[1038] = true;
  ASSERT_TRUE(KQ560SimSetFaults(("fail=" + std::to_string(Calls() + 3)).c_str()));
  EXPECT_FALSE(ReadAvrConfig(0, 5, boxes));
  EXPECT_TRUE(boxes.checked[1038]);
  EXPECT_TRUE(boxes.checked.count(1021)) << "the lock row was set before the failure";
}

TEST(At89Lock, HighestProgrammedBitDecides) {
  const std::pair<uint8_t, int> cases[] = {{0xE3, 0}, {0x04, 1}, {0x0C, 2}, {0x08, 2}, {0x14, 3}, {0xFF, 3}};
  for (const auto& [lockByte, level] : cases) EXPECT_EQ(At89LockLevelFromByte(lockByte), level) << int(lockByte);
}

class At89Config : public SimTest {};

TEST_F(At89Config, WriteSendsEveryLevelUpToTheChosenOneAndReadsBack) {
  Connect("AT89S52", 12);
  ASSERT_EQ(IdentifyTarget(state), kResultOk);
  uint8_t lock = 0;
  ASSERT_TRUE(ReadAt89LockByte(0, &lock));
  EXPECT_EQ(At89LockLevelFromByte(lock), 0);

  Waits().clear();
  const uint64_t before = Calls();
  ASSERT_TRUE(WriteAt89LockLevel(0, 2));
  EXPECT_EQ(Calls() - before, 3u) << "0xE0, 0xE1 and 0xE2";
  EXPECT_EQ(Waits(), (std::vector<uint32_t>{5, 5, 5}));
  ASSERT_TRUE(ReadAt89LockByte(0, &lock));
  EXPECT_EQ(At89LockLevelFromByte(lock), 2);
  EXPECT_EQ(lock & 0x1C, 0x0C);
}

TEST_F(At89Config, FailureLeavesTheLowerLevelsWritten) {
  Connect("AT89S51", 11);
  ASSERT_EQ(IdentifyTarget(state), kResultOk);
  const uint64_t first = Calls() + 1;
  ASSERT_TRUE(KQ560SimSetFaults(("fail=" + std::to_string(first + 2)).c_str()));
  EXPECT_FALSE(WriteAt89LockLevel(0, 3));
  EXPECT_EQ(Calls(), first + 2);
  KQ560SimSetFaults("");
  uint8_t lock = 0;
  ASSERT_TRUE(ReadAt89LockByte(0, &lock));
  EXPECT_EQ(At89LockLevelFromByte(lock), 1);
  ASSERT_TRUE(KQ560SimSetFaults(("fail=" + std::to_string(Calls() + 1)).c_str()));
  EXPECT_FALSE(ReadAt89LockByte(0, &lock));
}

}  // namespace
}  // namespace enginetest
