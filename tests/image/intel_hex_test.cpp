#include "image/intel_hex.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <numeric>
#include <random>
#include <string>
#include <vector>

namespace {

using namespace std::string_literals;
using Bytes = std::vector<uint8_t>;

// One record with a correct checksum, followed by `end` (the line end).
std::string Record(uint16_t offset, uint8_t type, const Bytes& data, const char* end = "\r\n", bool lower = false) {
  Bytes raw = {uint8_t(data.size()), uint8_t(offset >> 8), uint8_t(offset & 0xFF), type};
  raw.insert(raw.end(), data.begin(), data.end());
  raw.push_back(uint8_t(-std::accumulate(raw.begin(), raw.end(), 0)));
  const char* digits = lower ? "0123456789abcdef" : "0123456789ABCDEF";
  std::string text = ":";
  for (uint8_t b : raw) text += {digits[b >> 4], digits[b & 0x0F]};
  return text + end;
}

std::string Data(uint16_t offset, const Bytes& data) { return Record(offset, 0x00, data); }
std::string Segment(uint16_t base) { return Record(0, 0x02, {uint8_t(base >> 8), uint8_t(base & 0xFF)}); }
std::string Linear(uint16_t upper) { return Record(0, 0x04, {uint8_t(upper >> 8), uint8_t(upper & 0xFF)}); }
const std::string kEof = ":00000001FF\r\n";

Bytes Fill(size_t count, uint8_t first) {
  Bytes bytes(count);
  std::iota(bytes.begin(), bytes.end(), first);
  return bytes;
}

std::string With(std::string text, size_t at, const std::string& s) { return text.replace(at, s.size(), s); }

// Another hexadecimal digit in place of the one at `at`.
std::string Flip(const std::string& text, size_t at) { return With(text, at, text[at] == '0' ? "1" : "0"); }

std::string ReadExample(const char* name) {
  std::ifstream file(std::string(MCUFEED_EXAMPLES_DIR) + "/" + name, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), {});
}

// A decode that must succeed with `length` and exactly `writes` (later ones
// over earlier ones) on a blank image, or must fail.
struct Case {
  std::string what;
  std::string text;
  bool ok;
  uint32_t length = 0;
  std::vector<std::pair<uint32_t, Bytes>> writes = {};
};

// Random valid text: chunks anywhere (some across 64 KiB boundaries, some at
// the very top), cut into records of 0 to 255 bytes in random case, reached
// through randomly re-chosen segment and linear values. `reference` gets the
// same writes and `*length` (0 before) rises to the effective length; garbage
// may follow the end record.
std::string RandomHex(std::mt19937& random, Bytes* reference, uint32_t* length, uint32_t maxChunks, uint32_t maxChunk) {
  auto pick = [&random](uint32_t low, uint32_t high) {
    return std::uniform_int_distribution<uint32_t>(low, high)(random);
  };
  std::string text;
  uint32_t linear = 0;
  uint32_t segment = 0;
  for (uint32_t chunks = pick(1, maxChunks); chunks > 0; --chunks) {
    uint32_t address = pick(0, 1) ? pick(0, kImageSize - 1) : pick(1, 16) * 0x10000 - pick(0, 600);
    const uint32_t end = std::min(kImageSize, address + pick(0, maxChunk));
    do {
      Bytes data(std::min(pick(0, 255), end - address));
      for (uint8_t& b : data) b = uint8_t(pick(0, 255));
      int64_t offset = int64_t(address) - int64_t(linear) * 65536 - int64_t(segment) * 16;
      if (offset < 0 || offset > 0xFFFF || pick(0, 3) == 0) {
        linear = pick(0, address >> 16);
        const uint32_t rest = address - linear * 65536;
        segment = pick(rest > 0xFFFF ? (rest - 0xFFFF + 15) / 16 : 0, std::min(rest / 16, 0xFFFFu));
        offset = rest - segment * 16;
        text += Linear(uint16_t(linear)) + Segment(uint16_t(segment));
      }
      text += Record(uint16_t(offset), 0x00, data, "\r\n", pick(0, 2) == 0);
      std::copy(data.begin(), data.end(), reference->begin() + address);
      *length = std::max(*length, address + uint32_t(data.size()));
      address += uint32_t(data.size());
    } while (address < end);
  }
  text += kEof;
  for (uint32_t garbage = pick(0, 1) * pick(0, 20); garbage > 0; --garbage) text += char(pick(0, 255));
  return text;
}

class IntelHex : public ::testing::Test {
 protected:
  // From an exactly sized heap copy, so that AddressSanitizer catches any
  // read at or past the end.
  bool Decode(const std::string& text) {
    Bytes exact(text.begin(), text.end());
    return DecodeIntelHex(exact.data(), uint32_t(text.size()), image_.data(), &length_) != 0;
  }

  void Check(const std::vector<Case>& cases) {
    for (const Case& c : cases) {
      SCOPED_TRACE(c.what);
      std::fill(image_.begin(), image_.end(), 0x00);  // the decoder blanks the image itself
      ASSERT_EQ(Decode(c.text), c.ok);
      if (!c.ok) continue;
      EXPECT_EQ(length_, c.length);
      Bytes expected(kImageSize, 0xFF);
      for (const auto& w : c.writes) std::copy(w.second.begin(), w.second.end(), expected.begin() + w.first);
      const size_t firstWrong = std::mismatch(image_.begin(), image_.end(), expected.begin()).first - image_.begin();
      EXPECT_EQ(firstWrong, size_t(kImageSize));
    }
  }

  Bytes image_ = Bytes(kImageSize);
  uint32_t length_ = 0;
};

TEST_F(IntelHex, FixedLayoutAndLineEnds) {
  const std::string two = Data(0, {1}) + Data(0x10, {2}) + kEof;  // colons at 0, 15 and 30
  Check({
      {"end record only", kEof, true, 0},
      {"LF-only line ends", ":03000000010203F7\n:00000001FF\n", false},
      {"line ends never read", Record(0x10, 0, {0xAB}, "xy") + Record(0, 1, {}, "??"), true, 0x11, {{0x10, {0xAB}}}},
      {"byte-order mark", "\xEF\xBB\xBF" + two, false},
      {"space first", " " + two, false},
      {"no colon at second record", With(two, 15, " "), false},
      {"no colon at end record", With(two, 30, "0"), false},
      {"trailing spaces", Record(0, 0, {1, 2}, "  \r\n") + kEof, false},
      {"text after end record", Data(0, {7}) + kEof + "garbage\0\xFF:0100000003FC:zz"s, true, 1, {{0, {7}}}},
      {"lower case", Record(0xabcd, 0, {0xde, 0xad, 0xbe, 0xef}, "\r\n", true) + ":00000001ff\r\n", true, 0xABD1,
       {{0xABCD, {0xDE, 0xAD, 0xBE, 0xEF}}}},
      {"example segments", ReadExample("segments.hex"), true, 0x10010,
       {{0, Fill(16, 0x00)}, {0x100, Bytes(8, 0xA5)}, {0x10000, Fill(16, 0x10)}}},
  });
}

// Among them the text without the end record, the end record without its
// line end or with CR alone, and the empty text.
TEST_F(IntelHex, EveryProperPrefixFails) {
  const std::string text = Linear(1) + Data(0x20, Fill(20, 0)) + Segment(0x10) + Data(0, {}) + kEof;
  EXPECT_TRUE(Decode(text));
  for (size_t cut = 0; cut < text.size(); ++cut) EXPECT_FALSE(Decode(text.substr(0, cut))) << "cut at " << cut;
  EXPECT_FALSE(DecodeIntelHex(nullptr, 13, image_.data(), &length_));
  EXPECT_FALSE(DecodeIntelHex(nullptr, 0, image_.data(), &length_));
}

TEST_F(IntelHex, ByteFieldsAndChecksum) {
  std::vector<Case> cases;
  // Any digit changed, count, offset and type included, breaks the sum; type
  // 00 turned into 01 would otherwise end the file with success.
  const std::string record = Data(0x0010, {0x01, 0x02});
  for (size_t at = 1; at < 15; ++at) {
    cases.push_back({"digit " + std::to_string(at), Flip(record, at) + kEof, false});
  }
  // A lenient reader that took "+5" or " 5" as 5 would pass these checksums.
  const std::string five = ":0100000005FA\r\n" + kEof;
  for (const auto& field : std::vector<std::pair<size_t, std::string>>{
           {9, "+5"}, {9, " 5"}, {9, "5 "}, {9, "x5"}, {9, "G0"}, {1, "+1"}, {1, " 1"}, {3, "+000"}, {24, "-1"}}) {
    cases.push_back({"\"" + field.second + "\"", With(five, field.first, field.second), false});
  }
  for (uint8_t count : {252, 253, 254, 255}) {
    const std::string longest = Data(0x2000, Fill(count, 3));
    const std::string what = std::to_string(count) + " bytes";
    cases.push_back({what, longest + kEof, true, 0x2000u + count, {{0x2000, Fill(count, 3)}}});
    cases.push_back({what + ", last changed", Flip(longest, 8 + 2 * count) + kEof, false});
  }
  Check(cases);
}

TEST_F(IntelHex, AddressingAndEffectiveLength) {
  Check({
      {"gaps, highest plus one", Data(0x1000, Fill(16, 0x40)) + Data(0, Fill(16, 0x80)) + kEof, true, 0x1010,
       {{0x1000, Fill(16, 0x40)}, {0, Fill(16, 0x80)}}},
      {"later record wins", Data(0x10, {1, 2, 3, 4}) + Data(0x12, {9, 9, 9, 9}) + Data(0x0E, {5, 5, 5}) + kEof,
       true, 0x16, {{0x10, {1, 2, 3, 4}}, {0x12, {9, 9, 9, 9}}, {0x0E, {5, 5, 5}}}},
      {"empty record raises length", Data(0x10, {1}) + Data(0x4000, {}) + Data(0x20, {}) + kEof, true, 0x4000,
       {{0x10, {1}}}},
      {"empty record beyond image", Linear(0x1234) + Data(0x5678, {}) + kEof, true, 0x12345678},
      {"crossing 64 KiB", Data(0xFFFC, Fill(8, 1)) + kEof, true, 0x10004, {{0xFFFC, Fill(8, 1)}}},
      {"segment x16", Segment(0x1000) + Data(0x0010, {0xAA}) + kEof, true, 0x10011, {{0x10010, {0xAA}}}},
      {"linear x65536", Linear(0x0001) + Data(0x0000, {0xBB}) + kEof, true, 0x10001, {{0x10000, {0xBB}}}},
      {"registers add, neither resets the other",
       Linear(2) + Segment(0x100) + Data(3, {1}) + Linear(5) + Data(4, {2}) + Segment(0) + Data(5, {3}) + kEof, true,
       0x51005, {{0x21003, {1}}, {0x51004, {2}}, {0x50005, {3}}}},
      {"sum wraps at 32 bits", Linear(0xFFFF) + Segment(0xFFFF) + Data(0x0010, {0x5A}) + kEof, true, 0xF0001,
       {{0xF0000, {0x5A}}}},
      {"last image byte", Linear(0x000F) + Data(0xFFFE, {1, 2}) + kEof, true, kImageSize, {{0xFFFFE, {1, 2}}}},
      {"linear at 1 MiB", Linear(0x0010) + Data(0, {1}) + kEof, false},
      {"segment past 1 MiB", Segment(0xFFFF) + Data(0xFFFF, {1}) + kEof, false},
      {"record running past 1 MiB", Linear(0x000F) + Data(0xFFFE, {1, 2, 3}) + kEof, false},
  });
}

TEST_F(IntelHex, RecordTypes) {
  // Three data bytes: the next record is still looked for 17 characters on.
  const std::string linear3 = Record(0, 0x04, {0x00, 0x03, 0x77}, "");
  const std::string segment3 = Record(0, 0x02, {0x00, 0x02, 0x99}, "");
  std::vector<Case> cases = {
      {"start address 05 first", Record(0, 0x05, {0x00, 0x00, 0x01, 0x00}) + Data(0, {1}) + kEof, false},
      {"address records step 17", linear3 + segment3 + Data(0x0001, {0xC3}) + kEof, true, 0x30022, {{0x30021, {0xC3}}}},
      {"address record with line end after 17", linear3 + "\r\n" + Data(0, {1}) + kEof, false},
      // Padded to the step of 17, but without a value to load.
      {"type 02 without data", Record(0, 0x02, {}, "\r\n\r\n\r\n") + Data(0, {1}) + kEof, false},
      {"type 04 with one byte", Record(0, 0x04, {1}, "\r\n\r\n") + Data(0, {1}) + kEof, false},
  };
  // Two data bytes put the next colon where either step would find it, so
  // only the type itself can fail these.
  for (uint8_t type : {0x03, 0x05, 0x06, 0x10, 0xFF}) {
    cases.push_back({"type " + std::to_string(type), Data(0, {1}) + Record(0, type, {0, 1}) + kEof, false});
  }
  Check(cases);
}

TEST_F(IntelHex, RandomFilesRoundTrip) {
  std::mt19937 random(20240611);
  for (int iteration = 0; iteration < 300; ++iteration) {
    SCOPED_TRACE(iteration);
    Bytes expected(kImageSize, 0xFF);
    uint32_t length = 0;
    ASSERT_TRUE(Decode(RandomHex(random, &expected, &length, 8, 1500)));
    ASSERT_EQ(length_, length);
    ASSERT_TRUE(image_ == expected);
  }
}

// From and into exactly sized heap copies, for AddressSanitizer.
std::string Encode(const Bytes& image, uint32_t length, uint32_t room) {
  const Bytes exact(image.begin(), image.begin() + std::min<size_t>(length, image.size()));
  std::vector<char> out(room);
  return std::string(out.data(), EncodeIntelHex(exact.data(), length, out.data(), room));
}

TEST(IntelHexEncoder, SixteenByteRecordsLinearAddressesAndNoErasedRecordButTheLast) {
  Bytes image(0x10012, 0xFF);
  image[0] = 1;
  image[17] = 2;
  image[0x10011] = 3;
  Bytes first(16, 0xFF), second(16, 0xFF);
  first[0] = 1;
  second[1] = 2;
  EXPECT_EQ(Encode(image, 0x10012, 1000),
            Data(0, first) + Data(0x10, second) + Linear(1) + Data(0x10, {0xFF, 3}) + kEof);
  EXPECT_EQ(Encode(Bytes(40, 0xFF), 40, 1000), Data(0x20, Bytes(8, 0xFF)) + kEof);
  EXPECT_EQ(Encode(image, 0, 13), kEof);
  EXPECT_EQ(Encode(image, 0, 12), "");
  EXPECT_EQ(Encode(Bytes(kImageSize + 1, 0), kImageSize + 1, 0x400000), "");
}

TEST_F(IntelHex, EncodedImagesDecodeUnchanged) {
  std::mt19937 random(5);
  auto pick = [&random](uint32_t high) { return std::uniform_int_distribution<uint32_t>(0, high)(random); };
  for (uint32_t length : {131072u, 131071u, 65536u + 17, 4103u, 1u, kImageSize}) {
    SCOPED_TRACE(length);
    // Runs of data between erased stretches, some across 64 KiB boundaries.
    Bytes image(kImageSize, 0xFF);
    for (int run = 0; run < 40; ++run) {
      const uint32_t start = pick(length - 1), end = std::min(length, start + pick(3000));
      for (uint32_t i = start; i < end; ++i) image[i] = uint8_t(pick(255));
    }
    ASSERT_TRUE(Decode(Encode(image, length, IntelHexTextLimit(length))));
    EXPECT_EQ(length_, length);
    EXPECT_TRUE(image_ == image);
  }
  // Without an erased record the text fills the limit exactly.
  Bytes full(kImageSize);
  for (uint32_t i = 0; i < kImageSize; ++i) full[i] = uint8_t(i * 7 % 255);
  EXPECT_EQ(Encode(full, kImageSize, IntelHexTextLimit(kImageSize)).size(), IntelHexTextLimit(kImageSize));
  EXPECT_EQ(Encode(full, kImageSize, IntelHexTextLimit(kImageSize) - 1), "");
}

TEST_F(IntelHex, MutatedTextNeverReadsOutOfBounds) {
  // Decode() reads an exactly sized copy, so an overread aborts under
  // AddressSanitizer. A success still leaves everything past the length blank.
  std::mt19937 random(77);
  auto pick = [&random](size_t high) { return std::uniform_int_distribution<size_t>(0, high)(random); };
  const std::string alphabet = ":0123456789ABCDEFabcdef\r\n +xG";
  Bytes scratch(kImageSize);
  uint32_t unused = 0;
  std::string base;
  int successes = 0;
  for (int iteration = 0; iteration < 5000; ++iteration) {
    if (iteration % 40 == 0) base = RandomHex(random, &scratch, &unused, 3, 40);
    std::string text = base;
    for (size_t edits = 1 + pick(1); edits > 0 && !text.empty(); --edits) {
      const char c = pick(3) == 0 ? char(pick(255)) : alphabet[pick(alphabet.size() - 1)];
      const size_t at = pick(text.size() - 1);
      switch (pick(3)) {
        case 0: text[at] = c; break;
        case 1: text.insert(at, 1, c); break;
        case 2: text.erase(at, 1); break;
        default: text.resize(at); break;
      }
    }
    if (!Decode(text)) continue;
    ++successes;
    const auto tail = image_.begin() + std::min(length_, kImageSize);
    ASSERT_TRUE(std::all_of(tail, image_.end(), [](uint8_t b) { return b == 0xFF; })) << "iteration " << iteration;
  }
  EXPECT_GT(successes, 100);
  EXPECT_LT(successes, 4000);
}

}  // namespace
