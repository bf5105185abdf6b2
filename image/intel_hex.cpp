#include "image/intel_hex.h"

#include <cstring>

namespace {

enum : uint8_t {
  kTypeData = 0x00,
  kTypeEndOfFile = 0x01,
  kTypeSegmentBase = 0x02,
  kTypeLinearUpper = 0x04,
};

// Characters from a record's colon: colon, count, offset, type before the data;
// checksum and two line-end characters after it.
constexpr uint64_t kCountAt = 1;
constexpr uint64_t kBodyAt = 3;
constexpr uint64_t kRecordOverhead = 13;
// An extended-address record with two data bytes plus its line end. The next
// record is looked for there whatever the record's count says.
constexpr uint64_t kAddressRecordStep = 17;

constexpr uint32_t kEncodedRecordBytes = 16;
constexpr char kHexDigits[] = "0123456789ABCDEF";

// Appends one record and its CR LF at out[*used]; false when it does not fit.
bool PutRecord(char* out, uint32_t outSize, uint32_t* used, uint16_t offset, uint8_t type, const uint8_t* data,
               uint32_t count) {
  const uint32_t size = 13 + 2 * count;
  if (outSize - *used < size) return false;
  char* p = out + *used;
  uint8_t sum = 0;
  auto put = [&p, &sum](uint8_t byte) {
    *p++ = kHexDigits[byte >> 4];
    *p++ = kHexDigits[byte & 0x0F];
    sum = static_cast<uint8_t>(sum + byte);
  };
  *p++ = ':';
  put(static_cast<uint8_t>(count));
  put(static_cast<uint8_t>(offset >> 8));
  put(static_cast<uint8_t>(offset));
  put(type);
  for (uint32_t i = 0; i < count; ++i) put(data[i]);
  put(static_cast<uint8_t>(0x100 - sum));
  *p++ = '\r';
  *p++ = '\n';
  *used += size;
  return true;
}

// -1 for anything but a hexadecimal digit.
int HexDigit(uint8_t c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// Exactly two hexadecimal digits; no sign, space or single digit. The caller
// has made sure both characters lie inside the text.
bool ReadByte(const uint8_t* at, uint8_t* value) {
  int high = HexDigit(at[0]);
  int low = HexDigit(at[1]);
  if (high < 0 || low < 0) return false;
  *value = static_cast<uint8_t>(high * 16 + low);
  return true;
}

}  // namespace

int DecodeIntelHex(const uint8_t* text, uint32_t length, uint8_t* image, uint32_t* effectiveLength,
                   HexExtent* extent) {
  std::memset(image, 0xFF, kImageSize);
  HexExtent reached{false, 0, 0};
  if (extent) *extent = reached;
  if (text == nullptr && length != 0) return 0;

  // 64-bit so that no step or bound can wrap, whatever the length.
  uint64_t position = 0;
  uint16_t segmentBase = 0;
  uint16_t linearUpper = 0;
  *effectiveLength = 0;
  uint8_t record[kHexRecordBufferSize];

  for (;;) {
    if (position + 2 > length) return 0;  // no end-of-file record
    if (text[position] != ':') return 0;
    if (position + kCountAt + 2 > length) return 0;  // ends inside the count
    uint8_t count = 0;
    if (!ReadByte(text + position + kCountAt, &count)) return 0;
    if (position + 2u * count + kRecordOverhead > length) return 0;

    uint32_t recordBytes = count + 4u;
    uint8_t sum = count;
    for (uint32_t i = 0; i < recordBytes; ++i) {
      if (!ReadByte(text + position + kBodyAt + 2u * i, &record[i])) return 0;
      sum = static_cast<uint8_t>(sum + record[i]);
    }
    if (sum != 0) return 0;

    uint16_t offset = static_cast<uint16_t>(record[0] << 8 | record[1]);
    uint8_t type = record[2];
    const uint8_t* data = record + 3;

    switch (type) {
      case kTypeData: {
        // Unsigned 32-bit on purpose; the offset runs on across 64 KiB.
        uint32_t address = static_cast<uint32_t>(linearUpper) * 65536u +
                           static_cast<uint32_t>(segmentBase) * 16u + offset;
        for (uint32_t i = 0; i < count; ++i) {
          // Checked per byte: the bytes below the limit still land, and
          // address + i cannot wrap before some byte has hit the limit.
          if (address + i >= kImageSize) return 0;
          image[address + i] = data[i];
        }
        position += 2u * count + kRecordOverhead;
        if (address + count > *effectiveLength) *effectiveLength = address + count;
        if (count > 0) {
          if (!reached.any || address < reached.lowest) reached.lowest = address;
          if (!reached.any || address + count - 1 > reached.highest) reached.highest = address + count - 1;
          reached.any = true;
        }
        break;
      }
      case kTypeEndOfFile:
        if (extent) *extent = reached;
        return 1;
      case kTypeSegmentBase:
      case kTypeLinearUpper: {
        if (count < 2) return 0;  // no value to load
        uint16_t value = static_cast<uint16_t>(data[0] << 8 | data[1]);
        if (type == kTypeSegmentBase) {
          segmentBase = value;
        } else {
          linearUpper = value;
        }
        position += kAddressRecordStep;
        break;
      }
      default:
        return 0;  // start addresses (03, 05) and unknown types
    }
  }
}

uint32_t EncodeIntelHex(const uint8_t* image, uint32_t length, char* out, uint32_t outSize) {
  if (length > kImageSize) return 0;
  uint32_t used = 0;
  uint32_t upper = 0;  // the linear upper address the text has set so far
  for (uint32_t address = 0; address < length; address += kEncodedRecordBytes) {
    const uint32_t count = length - address < kEncodedRecordBytes ? length - address : kEncodedRecordBytes;
    const bool last = address + count == length;
    bool erased = true;
    for (uint32_t i = 0; i < count; ++i) erased = erased && image[address + i] == 0xFF;
    if (erased && !last) continue;
    if (address >> 16 != upper) {
      upper = address >> 16;
      const uint8_t value[2] = {static_cast<uint8_t>(upper >> 8), static_cast<uint8_t>(upper)};
      if (!PutRecord(out, outSize, &used, 0, kTypeLinearUpper, value, 2)) return 0;
    }
    if (!PutRecord(out, outSize, &used, static_cast<uint16_t>(address), kTypeData, image + address, count)) return 0;
  }
  if (!PutRecord(out, outSize, &used, 0, kTypeEndOfFile, nullptr, 0)) return 0;
  return used;
}
