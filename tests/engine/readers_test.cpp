#include "engine/readers.h"

#include "engine/writers.h"
#include "sim_fixture.h"

namespace enginetest {
namespace {

constexpr uint32_t kFlash = KQ560SIM_FLASH, kEeprom = KQ560SIM_EEPROM;

struct Case { ChipIndex chip; int fast; uint32_t memory, length; };

class Readers : public SimTest {
 protected:
  // The chip's whole memory filled with noise.
  Bytes Fill(ChipIndex chip, uint32_t memory, uint32_t seed) {
    const uint32_t size = memory == kFlash ? FindChip(chip)->flashLimit : FindChip(chip)->eepromLimit;
    const Bytes bytes = NoiseImage(size, size, seed);
    EXPECT_EQ(KQ560SimWriteMemory(0, memory, 0, bytes.data(), size), size);
    return bytes;
  }
  ResultCode Read(uint32_t memory, Bytes& out, uint32_t length) {
    return memory == kFlash ? ReadFlash(state, view, out.data(), length) : ReadEeprom(state, view, out.data(), length);
  }
  ResultCode Verify(uint32_t memory, const Bytes& image, uint32_t length) {
    return memory == kFlash ? VerifyFlash(state, view, image.data(), length)
                            : VerifyEeprom(state, view, image.data(), length);
  }
};

// `out` is exactly `length` long, so AddressSanitizer sees any store past it.
TEST_F(Readers, ReadGivesExactlyTheMemoryAndChangesNothing) {
  const Case cases[] = {{1, 0, kFlash, 8192},  {5, 1, kFlash, 131072}, {2, 0, kFlash, 1001}, {12, 0, kFlash, 8192},
                        {11, 0, kFlash, 300}, {8, 0, kEeprom, 256},   {3, 1, kEeprom, 1023}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(ChipName(c.chip)) + " " + std::to_string(c.length));
    Ready(c.chip, c.fast);
    const Bytes content = Fill(c.chip, c.memory, c.length);
    Bytes out(c.length);
    ASSERT_EQ(Read(c.memory, out, c.length), kResultOk);
    EXPECT_EQ(out, Bytes(content.begin(), content.begin() + c.length));
    EXPECT_EQ(Memory(c.memory, uint32_t(content.size())), content);
    EXPECT_EQ(Calls(KQ560SIM_OP_SPI) > 0, c.fast == 1);
    EXPECT_EQ(view.sets, std::vector<int32_t>{0});
    EXPECT_EQ(view.position(), 1024);
    EXPECT_TRUE(view.statuses.empty());
  }
}

// The limits are inclusive (the rows above read whole memories).
TEST_F(Readers, OverlongOrUnsupportedIsRefusedBeforeAnythingIsSent) {
  const struct { ChipIndex chip; uint32_t memory, length; ResultCode result; } cases[] = {{1, kFlash, 8193, kResultTooLong},  {11, kFlash, 4097, kResultTooLong},
               {8, kEeprom, 257, kResultTooLong},  {11, kEeprom, 1, kResultUnsupported},
               {12, kEeprom, 1, kResultUnsupported}};
  for (const auto& c : cases) {
    Ready(c.chip);
    Bytes buffer(c.length);
    const uint64_t before = Calls();
    EXPECT_EQ(Read(c.memory, buffer, c.length), c.result) << ChipName(c.chip);
    EXPECT_EQ(Verify(c.memory, buffer, c.length), c.result);
    EXPECT_EQ(c.memory == kFlash ? WriteFlash(state, view, buffer.data(), c.length)
                                 : WriteEeprom(state, view, buffer.data(), c.length), c.result);
    EXPECT_EQ(Calls(), before);
  }
}

// Verification, alone or after writing, compares the last page or block whole
// (past the length too), and verification alone never writes.
TEST_F(Readers, VerifyComparesWholeUnitsAndWritesNothing) {
  const Case cases[] = {{1, 0, kFlash, 100}, {4, 1, kFlash, 300}, {11, 0, kFlash, 300}, {8, 0, kEeprom, 100}};
  for (const Case& c : cases) {
    SCOPED_TRACE(ChipName(c.chip));
    Ready(c.chip, c.fast);
    Bytes image = Fill(c.chip, c.memory, 4);
    image.resize(0x100000, 0xEE);
    ASSERT_TRUE(KQ560SimStartTrace(0, 100000));
    EXPECT_EQ(Verify(c.memory, image, c.length), kResultOk);
    EXPECT_EQ(Trace().size(), Trace(0x20).size() + Trace(0x28).size() + Trace(0x30).size() + Trace(0xA0).size());
    EXPECT_EQ(view.advances.back(), 1023);
    EXPECT_TRUE(view.statuses.empty());
    const uint32_t unit = c.memory == kEeprom ? 1 : IsAvrPart(c.chip) ? FindChip(c.chip)->flashPage : 256;
    const uint32_t lastInUnit = (c.length + unit - 1) / unit * unit - 1;
    image[lastInUnit] ^= 0x01;
    EXPECT_EQ(Verify(c.memory, image, c.length), kResultVerifyFailed) << "byte " << lastInUnit;
  }
}

// AVR: LB2 (bit 1) programmed, alone or with LB1. AT89S5x: the highest
// programmed of LB1 to LB3 (bits 2 to 4) at level 2 or above. A chip erase
// clears them all.
TEST_F(Readers, ReadProtectionFollowsTheLockBits) {
  const struct { ChipIndex chip; int lock; bool readProtected; } cases[] = {{1, 0xFF, false}, {1, 0xFE, false}, {1, 0xFD, true},  {1, 0xFC, true}, {12, 0x00, false},
               {12, 0x04, false}, {12, 0x0C, true}, {12, 0x10, true}, {12, 0x1C, true}};
  for (const auto& c : cases) {
    Ready(c.chip);
    ASSERT_TRUE(KQ560SimSetConfig(0, KQ560SIM_LOCK, uint32_t(c.lock)));
    bool readProtected = !c.readProtected;
    EXPECT_TRUE(ReadProtectionActive(state, &readProtected));
    EXPECT_EQ(readProtected, c.readProtected) << ChipName(c.chip) << " lock " << c.lock;
    ASSERT_EQ(EraseChip(state), kResultOk);  // clears the lock bits, and waits long enough for the next read
    EXPECT_TRUE(ReadProtectionActive(state, &readProtected) && !readProtected);
  }
}

TEST_F(Readers, EveryFailedCallIsATransferFailure) {
  Bytes buffer(0x100000, 0xFF);
  bool locked = false;
  const struct { ChipIndex chip; int fast; std::function<int()> job; } cases[] = {
      {1, 0, [&] { return ReadFlash(state, view, buffer.data(), 128); }},
      {1, 1, [&] { return ReadFlash(state, view, buffer.data(), 512); }},
      {12, 0, [&] { return ReadFlash(state, view, buffer.data(), 512); }},
      {12, 0, [&] { return VerifyFlash(state, view, buffer.data(), 512); }},
      {2, 1, [&] { return VerifyFlash(state, view, buffer.data(), 256); }},
      {1, 1, [&] { return ReadEeprom(state, view, buffer.data(), 5); }},
      {1, 0, [&] { return VerifyEeprom(state, view, buffer.data(), 5); }},
      {5, 0, [&] { return EraseChip(state); }},
      {11, 0, [&] { return EraseChip(state); }},
      {5, 0, [&] { return ReadProtectionActive(state, &locked) ? 0 : 1; }},
      {11, 0, [&] { return ReadProtectionActive(state, &locked) ? 0 : 1; }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(ChipName(c.chip)) + (c.fast ? " fast" : ""));
    EveryFailedCallIsATransferFailure([&] { Ready(c.chip, c.fast); }, c.job);
  }
}

}  // namespace
}  // namespace enginetest
