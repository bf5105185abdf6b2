// The one JSON object a --json run prints: built key by key, written as a
// single line. Strings are UTF-8; anything that is not valid UTF-8 (a path of
// arbitrary bytes on Linux) becomes U+FFFD, so the line always parses.
#pragma once
#include <cstdint>
#include <string>

// Appends `text` as a JSON string literal, quotes included.
void AppendJsonString(std::string& out, const char* text);

class JsonObject {
 public:
  JsonObject& String(const char* key, const char* value);  // null value: JSON null
  JsonObject& String(const char* key, const std::string& value) { return String(key, value.c_str()); }
  JsonObject& Number(const char* key, int64_t value);
  JsonObject& Fixed(const char* key, double value, int decimals);
  JsonObject& Bool(const char* key, bool value);
  JsonObject& Null(const char* key);
  // `json` must already be valid JSON (a nested object or array).
  JsonObject& Raw(const char* key, const std::string& json);
  // The object with its closing brace.
  std::string Text() const { return text_ + "}"; }

 private:
  void Key(const char* key);
  std::string text_ = "{";
};
