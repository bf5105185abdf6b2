#include "app/cli/report.h"

#include <cstdarg>
#include <cstdio>

#include "app/cli/json.h"

namespace {

std::string Hex(uint32_t value, int digits) {
  char text[16];
  std::snprintf(text, sizeof text, "%0*x", digits, unsigned(value));
  return text;
}

std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string Format(const char* format, ...) {
  char text[512];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  return text;
}

const char* ChipText(const RunReport& r) { return ChipName(r.chip, nullptr); }

}  // namespace

std::string SummaryLine(const RunReport& r) {
  std::string line;
  if (r.form == ReportForm::Check) {
    line = Format("%u bytes", unsigned(r.bytes));
    line += r.hasRange ? Format(", addresses 0x%X-0x%X", unsigned(r.first), unsigned(r.last)) : ", no data";
    return line + ", crc32 " + Hex(r.crc32, 8);
  }
  const char* chip = ChipText(r) ? ChipText(r) : "";
  if (r.memory && r.hasBytes) {
    line = Format("%s %s: %u bytes %s in %.1f s, crc32 %s", chip, r.memory, unsigned(r.bytes), r.done, r.seconds,
                  Hex(r.crc32, 8).c_str());
  } else {
    line = Format("%s: %s in %.1f s", chip, r.done ? r.done : "done", r.seconds);
  }
  if (r.started) line += "; target started";
  return line;
}

std::string FailureLine(const RunReport& r) {
  std::string line = "mcufeed-cli: ";
  if (r.op) line += std::string(r.form == ReportForm::Operation && ChipText(r) ? ChipText(r) : "") +
                    (r.form == ReportForm::Operation && ChipText(r) ? " " : "") + r.op + " ";
  line += std::string("failed in ") + (r.step ? r.step : "?");
  if (!r.status.empty()) line += ": " + r.status;
  if (!r.detail.empty()) line += " (" + r.detail + ")";
  return line + Format(" [exit %d]", r.exit);
}

std::string ConfigText(const ConfigLine& c) {
  std::string line = c.name;
  line += std::string(c.name) == "level" ? Format(" %d", c.value) : Format(" 0x%02X", unsigned(c.value));
  if (!c.programmedBits.empty()) line += " " + c.programmedBits;
  return line;
}

std::string ListingText(const BridgeListing& b) {
  return Format("%u %s ", unsigned(b.slot), b.name.c_str()) + (b.busy ? "busy" : Format("0x%02X", unsigned(b.version)));
}

std::string JsonLine(const RunReport& r) {
  JsonObject json;
  switch (r.form) {
    case ReportForm::List: json.String("op", "list"); break;
    case ReportForm::Check: json.String("op", "check"); break;
    case ReportForm::Usage:
    case ReportForm::Operation: json.String("op", r.op); break;
  }
  if (r.form == ReportForm::Operation) {
    json.String("chip", ChipText(r));
    if (r.identified) {
      const uint8_t* s = FindChip(r.chip)->signature;
      json.String("signature", Hex(uint32_t(s[0]) << 16 | uint32_t(s[1]) << 8 | s[2], 6));
    } else {
      json.Null("signature");
    }
    if (r.slot >= 0) json.Number("slot", r.slot);
    else json.Null("slot");
  }
  if (r.hasFile) json.String("file", r.file);
  if (r.form == ReportForm::Operation || r.form == ReportForm::Check) {
    if (r.hasBytes) json.Number("bytes", r.bytes).String("crc32", Hex(r.crc32, 8));
    else json.Null("bytes").Null("crc32");
  }
  if (r.form == ReportForm::Check) {
    if (r.hasRange) json.Number("first", r.first).Number("last", r.last);
    else json.Null("first").Null("last");
  }
  if (!r.config.empty()) {
    JsonObject config;
    for (const ConfigLine& c : r.config) {
      if (std::string(c.name) == "level") config.Number(c.name, c.value);
      else config.String(c.name, Format("0x%02X", unsigned(c.value)));
    }
    json.Raw("config", config.Text());
  }
  if (r.form == ReportForm::List) {
    std::string list = "[";
    for (const BridgeListing& b : r.bridges) {
      JsonObject entry;
      entry.Number("slot", b.slot).String("name", b.name).Bool("busy", b.busy);
      if (b.busy) entry.Null("version");
      else entry.String("version", Format("0x%02X", unsigned(b.version)));
      list += (list.size() > 1 ? "," : "") + entry.Text();
    }
    json.Raw("bridges", list + "]");
  }
  if (r.runRequested) json.Bool("started", r.started);
  json.Number("exit", r.exit);
  json.String("status", r.status.empty() ? nullptr : r.status.c_str());
  if (r.exit != 0) json.String("error", FailureLine(r));
  json.Fixed("seconds", r.seconds, 3);
  return json.Text();
}
