#include "tests/link/fake_kq560.h"

#include "link/kq560.h"

namespace {

FakeKq560 gFake;

uint32_t Log(Kq560Op op, uint32_t slot, uint32_t arg = 0, const uint8_t* bytes = nullptr, uint32_t length = 0) {
  gFake.calls.push_back(Kq560Call{op, slot, arg, std::vector<uint8_t>(bytes, bytes + length), 0, 0, false});
  if (op < Kq560Op::WriteData) return 1;
  const auto it = gFake.dataResults.find(gFake.dataCalls++);
  return it == gFake.dataResults.end() ? 1 : it->second;
}

bool NextMisoBit() {
  if (gFake.miso.empty()) return false;
  const bool bit = gFake.miso.front();
  gFake.miso.pop_front();
  return bit;
}

}  // namespace

FakeKq560& Fake() { return gFake; }

extern "C" {

int32_t KQ560_CALL KQ560OpenDevice(uint32_t slot) {
  Log(Kq560Op::Open, slot);
  const auto it = gFake.openResults.find(slot);
  return it == gFake.openResults.end() ? kKq560OpenFailed : it->second;
}

uint32_t KQ560_CALL KQ560SetExclusive(uint32_t slot, uint32_t exclusive) {
  return Log(Kq560Op::SetExclusive, slot, exclusive);
}

uint32_t KQ560_CALL KQ560GetVerIC(uint32_t slot) {
  Log(Kq560Op::GetVerIC, slot);
  return gFake.version;
}

uint32_t KQ560_CALL KQ560SetStream(uint32_t slot, uint32_t mode) { return Log(Kq560Op::SetStream, slot, mode); }

uint32_t KQ560_CALL KQ560CloseDevice(uint32_t slot) { return Log(Kq560Op::Close, slot); }

uint32_t KQ560_CALL KQ560WriteData(uint32_t slot, uint8_t* buffer, uint32_t* length) {
  return Log(Kq560Op::WriteData, slot, 0, buffer, *length);
}

uint32_t KQ560_CALL KQ560WriteRead(uint32_t slot, uint32_t writeLength, uint8_t* writeBuffer, uint32_t readStep,
                                   uint32_t readTimes, uint32_t* readLength, uint8_t* readBuffer) {
  const uint32_t result = Log(Kq560Op::WriteRead, slot, 0, writeBuffer, writeLength);
  Kq560Call& call = gFake.calls.back();
  call.readStep = readStep;
  call.readTimes = readTimes;
  call.readIntoWriteBuffer = readBuffer == writeBuffer;
  const uint32_t samples = readStep * readTimes > gFake.shortBy ? readStep * readTimes - gFake.shortBy : 0;
  for (uint32_t i = 0; i < samples; ++i) readBuffer[i] = NextMisoBit() ? 0x80 : 0x7F;
  *readLength = samples;
  return result;
}

uint32_t KQ560_CALL KQ560StreamSPI4(uint32_t slot, uint32_t chipSelect, uint32_t length, uint8_t* buffer) {
  const uint32_t result = Log(Kq560Op::StreamSpi, slot, chipSelect, buffer, length);
  for (uint32_t i = 0; i < length; ++i) {
    uint8_t b = 0;
    for (int bit = 0; bit < 8; ++bit) b = static_cast<uint8_t>((b << 1) | (NextMisoBit() ? 1 : 0));
    buffer[i] = b;
  }
  return result;
}

}  // extern "C"
