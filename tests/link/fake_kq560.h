// A recording stand-in for the bridge library calls the link code makes:
// every call is logged with its arguments and the exact bytes it carried, and
// the results and replies are scripted by the test.
#pragma once
#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <vector>

enum class Kq560Op { Open, SetExclusive, GetVerIC, SetStream, Close, WriteData, WriteRead, StreamSpi };

struct Kq560Call {
  Kq560Op op;
  uint32_t slot;
  uint32_t arg;                // exclusive flag, stream mode, or SPI chip select
  std::vector<uint8_t> bytes;  // bytes handed over by WriteData, WriteRead and StreamSPI4
  uint32_t readStep, readTimes;
  bool readIntoWriteBuffer;
};

struct FakeKq560 {
  std::vector<Kq560Call> calls;
  // Slot setup: open result (-1 for slots not listed) and chip version.
  std::map<uint32_t, int32_t> openResults;
  uint32_t version = 0x30;
  // Data calls (WriteData, WriteRead, StreamSPI4), numbered from 0: a scripted
  // result (1 otherwise), and samples left out of each reply.
  std::map<std::size_t, uint32_t> dataResults;
  uint32_t shortBy = 0;
  std::size_t dataCalls = 0;
  // The target's data line: one bit per sample, 0 once the queue runs dry.
  // A 1 reads as 0x80 and a 0 as 0x7F so only the data-in bit can carry it.
  std::deque<bool> miso;

  void QueueReplyBytes(const std::vector<uint8_t>& bytes) {
    for (uint8_t b : bytes)
      for (int bit = 7; bit >= 0; --bit) miso.push_back((b >> bit) & 1);
  }
};

// The one fake behind the extern "C" entry points, reset for every test.
FakeKq560& Fake();
inline void ResetFake() { Fake() = FakeKq560(); }
