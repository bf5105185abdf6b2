#include "app/cli/json.h"

#include <cstdio>

namespace {

// Length of the valid UTF-8 sequence at `p`, or 0 when it is not one
// (overlong forms, surrogates and code points above U+10FFFF included).
int Utf8SequenceLength(const unsigned char* p) {
  const unsigned char c = p[0];
  int n;
  uint32_t cp;
  if (c < 0x80) return 1;
  if (c >= 0xC2 && c <= 0xDF) n = 2, cp = c & 0x1F;
  else if (c >= 0xE0 && c <= 0xEF) n = 3, cp = c & 0x0F;
  else if (c >= 0xF0 && c <= 0xF4) n = 4, cp = c & 0x07;
  else return 0;
  for (int i = 1; i < n; ++i) {
    if ((p[i] & 0xC0) != 0x80) return 0;  // also stops at the terminating NUL
    cp = (cp << 6) | (p[i] & 0x3F);
  }
  if ((n == 3 && cp < 0x800) || (n == 4 && (cp < 0x10000 || cp > 0x10FFFF))) return 0;
  if (cp >= 0xD800 && cp <= 0xDFFF) return 0;
  return n;
}

}  // namespace

void AppendJsonString(std::string& out, const char* text) {
  out += '"';
  const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
  while (*p) {
    const unsigned char c = *p;
    if (c == '"' || c == '\\') {
      out += '\\';
      out += char(c);
    } else if (c < 0x20) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04x", c);
      out += escape;
    } else if (c < 0x80) {
      out += char(c);
    } else if (const int n = Utf8SequenceLength(p)) {
      out.append(reinterpret_cast<const char*>(p), size_t(n));
      p += n;
      continue;
    } else {
      out += "\\ufffd";
    }
    ++p;
  }
  out += '"';
}

void JsonObject::Key(const char* key) {
  if (text_.size() > 1) text_ += ',';
  AppendJsonString(text_, key);
  text_ += ':';
}

JsonObject& JsonObject::String(const char* key, const char* value) {
  if (!value) return Null(key);
  Key(key);
  AppendJsonString(text_, value);
  return *this;
}

JsonObject& JsonObject::Number(const char* key, int64_t value) {
  Key(key);
  text_ += std::to_string(value);
  return *this;
}

JsonObject& JsonObject::Fixed(const char* key, double value, int decimals) {
  char number[48];
  std::snprintf(number, sizeof number, "%.*f", decimals, value);
  Key(key);
  text_ += number;
  return *this;
}

JsonObject& JsonObject::Bool(const char* key, bool value) {
  Key(key);
  text_ += value ? "true" : "false";
  return *this;
}

JsonObject& JsonObject::Null(const char* key) {
  Key(key);
  text_ += "null";
  return *this;
}

JsonObject& JsonObject::Raw(const char* key, const std::string& json) {
  Key(key);
  text_ += json;
  return *this;
}
