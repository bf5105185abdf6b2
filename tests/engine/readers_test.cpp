#include "engine/readers.h"

#include "engine/writers.h"
#include "sim_fixture.h"

namespace enginetest {
namespace {

using Bytes = std::vector<uint8_t>;
constexpr uint32_t kFlash = KQ560SIM_FLASH, kEeprom = KQ560SIM_EEPROM;

class Readers : public SimTest {
 protected:
  // The chip's whole memory filled with noise.
  Bytes Fill(ChipIndex chip, uint32_t memory, uint32_t seed) {
    const uint32_t size = memory == kFlash ? FindChip(chip)->flashLimit : FindChip(chip)->eepromLimit;
    Bytes bytes = NoiseImage(size, size, seed);
    EXPECT_EQ(KQ560SimWriteMemory(0, memory, 0, bytes.data(), size), size);
    return bytes;
  }
  ResultCode Read(uint32_t memory, Bytes& out) {
    return memory == kFlash ? ReadFlash(state, view, out.data(), uint32_t(out.size()))
                            : ReadEeprom(state, view, out.data(), uint32_t(out.size()));
  }
  ResultCode Verify(uint32_t memory, const Bytes& image, uint32_t length) {
    return memory == kFlash ? VerifyFlash(state, view, image.data(), length)
                            : VerifyEeprom(state, view, image.data(), length);
  }
};

struct Case {
  ChipIndex chip;
  int fast;
  uint32_t memory;
  uint32_t length;
};

// `out` is exactly `length` long, so AddressSanitizer sees any store past it.
TEST_F(Readers, ReadGivesExactlyTheMemoryAndChangesNothing) {
  const Case cases[] = {{1, 0, kFlash, 8192},  {5, 1, kFlash, 131072}, {2, 0, kFlash, 1001},
                        {12, 0, kFlash, 8192}, {11, 0, kFlash, 300},   {8, 0, kEeprom, 256},
                        {3, 1, kEeprom, 1023}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(ChipName(c.chip)) + " " + std::to_string(c.length));
    KQ560SimReset();
    view = RecordingView();
    Ready(c.chip, c.fast);
    const Bytes content = Fill(c.chip, c.memory, c.length);
    Bytes out(c.length);
    ASSERT_EQ(Read(c.memory, out), kResultOk);
    EXPECT_EQ(out, Bytes(content.begin(), content.begin() + c.length));
    EXPECT_EQ(Memory(c.memory, uint32_t(content.size())), content);
    EXPECT_EQ(Calls(KQ560SIM_OP_SPI) > 0, c.fast == 1);
    EXPECT_EQ(view.sets, std::vector<int32_t>{0});
    EXPECT_EQ(view.position(), 1024);
    EXPECT_TRUE(view.statuses.empty());
  }
}

TEST_F(Readers, OverlongOrUnsupportedIsRefusedBeforeAnythingIsSent) {
  const struct {
    ChipIndex chip;
    uint32_t memory, length;
    ResultCode result;
  } cases[] = {{1, kFlash, 8193, kResultTooLong},  {12, kFlash, 8193, kResultTooLong},
               {8, kEeprom, 257, kResultTooLong},   {11, kEeprom, 1, kResultUnsupported}};
  for (const auto& c : cases) {
    KQ560SimReset();
    Ready(c.chip);
    Bytes buffer(c.length);
    const uint64_t before = Calls();
    EXPECT_EQ(Read(c.memory, buffer), c.result) << ChipName(c.chip);
    EXPECT_EQ(Verify(c.memory, buffer, c.length), c.result) << ChipName(c.chip);
    EXPECT_EQ(Calls(), before);
  }
}

// The stop is looked at after the first page, block or byte: one unit's calls.
TEST_F(Readers, StopIsSeenAfterTheFirstUnit) {
  const struct {
    Case c;
    uint64_t unitCalls;
  } cases[] = {{{5, 0, kFlash, 1024}, 256}, {{5, 1, kFlash, 1024}, 1}, {{12, 0, kFlash, 1024}, 3}, {{1, 1, kEeprom, 64}, 1}};
  for (const auto& [c, unitCalls] : cases) {
    KQ560SimReset();
    Ready(c.chip, c.fast);
    state.stopRequest = 1;
    Bytes out(c.length);
    for (int verify = 0; verify <= 1; ++verify) {
      const uint64_t before = Calls();
      EXPECT_EQ(verify ? Verify(c.memory, out, c.length) : Read(c.memory, out), kResultStopped);
      EXPECT_EQ(Calls() - before, unitCalls) << ChipName(c.chip);
    }
  }
}

// Verification alone reads and compares exactly as the writers do: the last
// page or block whole, past the length too, and never writes.
TEST_F(Readers, VerifyComparesWholeUnitsAndWritesNothing) {
  const Case cases[] = {{1, 0, kFlash, 100}, {4, 1, kFlash, 300}, {11, 0, kFlash, 300}, {8, 0, kEeprom, 100}};
  for (const Case& c : cases) {
    SCOPED_TRACE(ChipName(c.chip));
    KQ560SimReset();
    view = RecordingView();
    Ready(c.chip, c.fast);
    Bytes image = Fill(c.chip, c.memory, 4);
    image.resize(0x100000, 0xEE);
    ASSERT_TRUE(KQ560SimStartTrace(0, 100000));
    EXPECT_EQ(Verify(c.memory, image, c.length), kResultOk);
    for (const KQ560SimInstruction& i : Trace()) EXPECT_TRUE(i.bytes[0] == 0x20 || i.bytes[0] == 0x28 || i.bytes[0] == 0x30 || i.bytes[0] == 0xA0);
    EXPECT_EQ(view.advances.back(), 1023);
    EXPECT_TRUE(view.statuses.empty());
    const uint32_t unit = c.memory == kEeprom ? 1 : IsAvrPart(c.chip) ? FindChip(c.chip)->flashPage : 256;
    const uint32_t lastInUnit = (c.length + unit - 1) / unit * unit - 1;
    image[lastInUnit] ^= 0x01;
    EXPECT_EQ(Verify(c.memory, image, c.length), kResultVerifyFailed) << "byte " << lastInUnit;
  }
}

TEST_F(Readers, EraseClearsFlashAndLockAndWaitsLongEnoughForTheNextInstruction) {
  for (ChipIndex chip : {3, 11}) {
    KQ560SimReset();
    Ready(chip);
    Fill(chip, kFlash, 5);
    KQ560SimSetConfig(0, KQ560SIM_LOCK, IsAvrPart(chip) ? 0xFC : 0x1C);
    ASSERT_EQ(EraseChip(state), kResultOk);
    Bytes out(FindChip(chip)->flashLimit);
    ASSERT_EQ(ReadFlash(state, view, out.data(), uint32_t(out.size())), kResultOk);
    EXPECT_EQ(out, Bytes(out.size(), 0xFF)) << ChipName(chip);
    bool locked = true;
    EXPECT_TRUE(ReadProtectionActive(state, &locked));
    EXPECT_FALSE(locked);
  }
}

// AVR: LB2 (bit 1) programmed, alone or with LB1. AT89S5x: the highest
// programmed of LB1 to LB3 (bits 2 to 4) at level 2 or above.
TEST_F(Readers, ReadProtectionFollowsTheLockBits) {
  const struct {
    ChipIndex chip;
    int lock;
    bool protectedRead;
  } cases[] = {{1, 0xFF, false}, {1, 0xFE, false}, {1, 0xFD, true}, {1, 0xFC, true}, {12, 0x00, false},
               {12, 0x04, false}, {12, 0x0C, true}, {12, 0x10, true}, {12, 0x1C, true}};
  for (const auto& c : cases) {
    KQ560SimReset();
    Ready(c.chip);
    ASSERT_TRUE(KQ560SimSetConfig(0, KQ560SIM_LOCK, uint32_t(c.lock)));
    bool readProtected = !c.protectedRead;
    EXPECT_TRUE(ReadProtectionActive(state, &readProtected));
    EXPECT_EQ(readProtected, c.protectedRead) << ChipName(c.chip) << " lock " << c.lock;
  }
}

TEST_F(Readers, EveryFailedCallIsATransferFailure) {
  Bytes buffer(0x100000, 0xFF);
  const struct {
    ChipIndex chip;
    int fast;
    std::function<int(EngineState&, JobView&)> job;
  } cases[] = {
      {1, 0, [&](EngineState& s, JobView& v) { return ReadFlash(s, v, buffer.data(), 128); }},
      {1, 1, [&](EngineState& s, JobView& v) { return ReadFlash(s, v, buffer.data(), 512); }},
      {12, 0, [&](EngineState& s, JobView& v) { return ReadFlash(s, v, buffer.data(), 512); }},
      {12, 0, [&](EngineState& s, JobView& v) { return VerifyFlash(s, v, buffer.data(), 512); }},
      {2, 1, [&](EngineState& s, JobView& v) { return VerifyFlash(s, v, buffer.data(), 256); }},
      {1, 1, [&](EngineState& s, JobView& v) { return ReadEeprom(s, v, buffer.data(), 5); }},
      {1, 0, [&](EngineState& s, JobView& v) { return VerifyEeprom(s, v, buffer.data(), 5); }},
      {5, 0, [&](EngineState& s, JobView&) { return EraseChip(s); }},
      {11, 0, [&](EngineState& s, JobView&) { return EraseChip(s); }},
      {5, 0, [&](EngineState& s, JobView&) { bool p; return ReadProtectionActive(s, &p) ? 0 : 1; }},
      {11, 0, [&](EngineState& s, JobView&) { bool p; return ReadProtectionActive(s, &p) ? 0 : 1; }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(ChipName(c.chip)) + (c.fast ? " fast" : ""));
    EveryFailedCallIsATransferFailure([&] { Ready(c.chip, c.fast); }, [&] { return c.job(state, view); });
  }
}

}  // namespace
}  // namespace enginetest
