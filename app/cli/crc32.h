// zlib's CRC-32 (reflected polynomial 0xEDB88320), so a figure in a log can be
// checked with any common tool.
#pragma once
#include <cstddef>
#include <cstdint>

// The CRC of `length` bytes, continuing from `crc` (0 for a fresh start).
uint32_t Crc32(const uint8_t* data, size_t length, uint32_t crc = 0);
