#include "tests/link/fake_kq560.h"

#include "link/kq560.h"

namespace {

FakeKq560 gFake;

Kq560Call Record(Kq560Op op, uint32_t slot, uint32_t arg = 0) { return Kq560Call{op, slot, arg, {}, 0, 0, false}; }

uint32_t NextDataResult() {
  const size_t index = gFake.dataCalls++;
  auto it = gFake.dataResults.find(index);
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
void ResetFake() { gFake = FakeKq560(); }

void FakeKq560::QueueReplyBytes(const std::vector<uint8_t>& bytes) {
  for (uint8_t b : bytes) {
    for (int bit = 7; bit >= 0; --bit) miso.push_back((b >> bit) & 1);
  }
}

std::vector<Kq560Call> FakeKq560::CallsOf(Kq560Op op) const {
  std::vector<Kq560Call> out;
  for (const Kq560Call& c : calls) {
    if (c.op == op) out.push_back(c);
  }
  return out;
}

extern "C" {

int32_t KQ560_CALL KQ560OpenDevice(uint32_t slot) {
  gFake.calls.push_back(Record(Kq560Op::Open, slot));
  auto it = gFake.openResults.find(slot);
  return it == gFake.openResults.end() ? kKq560OpenFailed : it->second;
}

uint32_t KQ560_CALL KQ560SetExclusive(uint32_t slot, uint32_t exclusive) {
  gFake.calls.push_back(Record(Kq560Op::SetExclusive, slot, exclusive));
  return 1;
}

uint32_t KQ560_CALL KQ560GetVerIC(uint32_t slot) {
  gFake.calls.push_back(Record(Kq560Op::GetVerIC, slot));
  return gFake.version;
}

uint32_t KQ560_CALL KQ560SetStream(uint32_t slot, uint32_t mode) {
  gFake.calls.push_back(Record(Kq560Op::SetStream, slot, mode));
  return 1;
}

uint32_t KQ560_CALL KQ560CloseDevice(uint32_t slot) {
  gFake.calls.push_back(Record(Kq560Op::Close, slot));
  return 1;
}

uint32_t KQ560_CALL KQ560WriteData(uint32_t slot, uint8_t* buffer, uint32_t* length) {
  Kq560Call call = Record(Kq560Op::WriteData, slot);
  call.bytes.assign(buffer, buffer + *length);
  gFake.calls.push_back(call);
  return NextDataResult();
}

uint32_t KQ560_CALL KQ560WriteRead(uint32_t slot, uint32_t writeLength, uint8_t* writeBuffer, uint32_t readStep,
                                   uint32_t readTimes, uint32_t* readLength, uint8_t* readBuffer) {
  Kq560Call call = Record(Kq560Op::WriteRead, slot);
  call.bytes.assign(writeBuffer, writeBuffer + writeLength);
  call.readStep = readStep;
  call.readTimes = readTimes;
  call.readIntoWriteBuffer = readBuffer == writeBuffer;
  gFake.calls.push_back(call);
  const uint32_t result = NextDataResult();
  uint32_t samples = readStep * readTimes;
  samples = samples > gFake.shortBy ? samples - gFake.shortBy : 0;
  for (uint32_t i = 0; i < samples; ++i) readBuffer[i] = NextMisoBit() ? 0x80 : 0x7F;
  *readLength = samples;
  return result;
}

uint32_t KQ560_CALL KQ560StreamSPI4(uint32_t slot, uint32_t chipSelect, uint32_t length, uint8_t* buffer) {
  Kq560Call call = Record(Kq560Op::StreamSpi, slot, chipSelect);
  call.bytes.assign(buffer, buffer + length);
  gFake.calls.push_back(call);
  for (uint32_t i = 0; i < length; ++i) {
    uint8_t b = 0;
    for (int bit = 0; bit < 8; ++bit) b = static_cast<uint8_t>((b << 1) | (NextMisoBit() ? 1 : 0));
    buffer[i] = b;
  }
  return NextDataResult();
}

}  // extern "C"
