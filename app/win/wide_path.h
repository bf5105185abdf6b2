// UTF-8 paths as the wide file API takes them.
#pragma once
#include <cstddef>

// The longest path the wide API takes, in UTF-16 units, with room for the
// \\?\UNC\ prefix.
constexpr size_t kWidePathSize = 32768 + 8;

// `utf8` followed by `suffix`, as it stands while shorter than MAX_PATH, else
// made absolute in its \\?\ form (\\?\UNC\ for a share), which has no length
// limit. False when the text is not UTF-8 or too long.
bool ToWidePath(const char* utf8, const wchar_t* suffix, wchar_t (&out)[kWidePathSize]);
