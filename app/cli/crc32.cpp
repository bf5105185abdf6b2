#include "app/cli/crc32.h"

namespace {

struct Crc32Table {
  uint32_t entry[256];
  constexpr Crc32Table() : entry() {
    for (uint32_t n = 0; n < 256; ++n) {
      uint32_t c = n;
      for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      entry[n] = c;
    }
  }
};
constexpr Crc32Table kTable;

}  // namespace

uint32_t Crc32(const uint8_t* data, size_t length, uint32_t crc) {
  crc = ~crc;
  for (size_t i = 0; i < length; ++i) crc = kTable.entry[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
  return ~crc;
}
