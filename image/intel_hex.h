// Intel HEX text to flat target image, and back.
#pragma once
#include <cstdint>

// Size of the flat image and of the largest file the job reads: 1 MiB,
// addresses 0x00000 to 0xFFFFF.
constexpr uint32_t kImageSize = 0x100000;

// One record after its count field: address high, address low, type, up to
// 255 data bytes, checksum.
constexpr uint32_t kHexRecordBufferSize = 259;

// Decodes `length` bytes of Intel HEX `text` into `image` (kImageSize bytes,
// filled with 0xFF first) and stores through `effectiveLength` one past the
// highest address a data record reached.
//
// The layout is fixed: every field sits at a set distance from the record's
// colon and every record is followed by exactly two line-end characters (CR LF
// in practice) that are never looked at; the text must end with an
// end-of-file record plus its two line-end characters. Extended segment (02)
// and extended linear (04) address records both apply to later data records:
// address = linear * 65536 + segment * 16 + offset.
//
// Returns non-zero on success. On failure the image and the effective length
// hold whatever the decode had reached. No byte at or beyond `length` is read.
//
// `extent`, when given, receives the lowest and highest address that a data
// record wrote (`any` false when no data record held a byte).
struct HexExtent {
  bool any;
  uint32_t lowest;
  uint32_t highest;
};
int DecodeIntelHex(const uint8_t* text, uint32_t length, uint8_t* image, uint32_t* effectiveLength,
                   HexExtent* extent = nullptr);

// The text EncodeIntelHex writes: data records of 16 bytes (the last one
// shorter when the length is not a multiple of 16), extended linear address
// records (type 04) before the first record beyond each 64 KiB boundary, and
// the end-of-file record, each followed by CR LF. Records whose 16 bytes are
// all 0xFF are left out, but never the last data record: the text decodes,
// through DecodeIntelHex too, to the same image and the same effective length.
//
// The most characters EncodeIntelHex can write for `length` image bytes (up
// to kImageSize): 13 + 2N per record of N bytes, 17 per address record, 13
// for the end.
constexpr uint32_t IntelHexTextLimit(uint32_t length) {
  return 45u * (length / 16u) + (length % 16u ? 13u + 2u * (length % 16u) : 0u) +
         17u * (length ? (length - 1u) / 0x10000u : 0u) + 13u;
}

// Writes image[0, length) as Intel HEX into `out`; returns the characters
// written, or 0 when outSize is too small or length is over kImageSize.
uint32_t EncodeIntelHex(const uint8_t* image, uint32_t length, char* out, uint32_t outSize);
