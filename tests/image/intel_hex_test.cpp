#include "image/intel_hex.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace {

using namespace std::string_literals;
using Bytes = std::vector<uint8_t>;

// One record up to its checksum, without the line end.
std::string RecordBody(uint16_t offset, uint8_t type, const Bytes& data, bool lowerCase = false) {
  Bytes raw = {static_cast<uint8_t>(data.size()), static_cast<uint8_t>(offset >> 8),
               static_cast<uint8_t>(offset & 0xFF), type};
  raw.insert(raw.end(), data.begin(), data.end());
  uint8_t sum = 0;
  for (uint8_t b : raw) sum = static_cast<uint8_t>(sum + b);
  raw.push_back(static_cast<uint8_t>(0x100 - sum));
  const char* digits = lowerCase ? "0123456789abcdef" : "0123456789ABCDEF";
  std::string text = ":";
  for (uint8_t b : raw) {
    text += digits[b >> 4];
    text += digits[b & 0x0F];
  }
  return text;
}

std::string Record(uint16_t offset, uint8_t type, const Bytes& data = {}) {
  return RecordBody(offset, type, data) + "\r\n";
}

std::string Data(uint16_t offset, const Bytes& data) { return Record(offset, 0x00, data); }
std::string Segment(uint16_t base) { return Record(0, 0x02, {uint8_t(base >> 8), uint8_t(base & 0xFF)}); }
std::string Linear(uint16_t upper) { return Record(0, 0x04, {uint8_t(upper >> 8), uint8_t(upper & 0xFF)}); }
const std::string kEof = ":00000001FF\r\n";

// Replaces the hexadecimal digit at `at` by another hexadecimal digit.
void ChangeDigit(std::string* text, size_t at) {
  char& c = (*text)[at];
  c = c == '0' ? '1' : '0';
}

Bytes Fill(size_t count, uint8_t first) {
  Bytes bytes(count);
  for (size_t i = 0; i < count; ++i) bytes[i] = static_cast<uint8_t>(first + i);
  return bytes;
}

// Decodes from a heap copy of exactly the text's size, so that AddressSanitizer
// reports any read at or past the end.
int DecodeExact(const std::string& text, uint8_t* image, uint32_t* effectiveLength) {
  std::unique_ptr<uint8_t[]> exact(new uint8_t[text.size()]);
  std::memcpy(exact.get(), text.data(), text.size());
  return DecodeIntelHex(exact.get(), static_cast<uint32_t>(text.size()), image, effectiveLength);
}

class IntelHexTest : public ::testing::Test {
 protected:
  IntelHexTest() : image_(kImageSize) {}

  bool Decode(const std::string& text) { return DecodeExact(text, image_.data(), &length_) != 0; }

  // Addresses in [begin, end) all read 0xFF.
  bool Blank(uint32_t begin, uint32_t end) const {
    return std::all_of(image_.begin() + begin, image_.begin() + end, [](uint8_t b) { return b == 0xFF; });
  }

  Bytes At(uint32_t address, size_t count) const {
    return Bytes(image_.begin() + address, image_.begin() + address + count);
  }

  Bytes image_;
  uint32_t length_ = 0xDEADBEEF;
};

// --- Layout: fixed positions, line ends, start and end of the text ---

using IntelHexLayout = IntelHexTest;

TEST_F(IntelHexLayout, OnlyEndRecordGivesEmptyImage) {
  image_.assign(kImageSize, 0x00);  // the decoder must blank it itself
  ASSERT_TRUE(Decode(kEof));
  EXPECT_EQ(length_, 0u);
  EXPECT_TRUE(Blank(0, kImageSize));
}

TEST_F(IntelHexLayout, LineFeedOnlyFails) {
  EXPECT_TRUE(Decode(Data(0, {1, 2, 3}) + kEof));
  EXPECT_FALSE(Decode(":03000000010203F7\n:00000001FF\n"));
}

TEST_F(IntelHexLayout, EndRecordNeedsTwoCharactersAfterIt) {
  EXPECT_FALSE(Decode(Data(0, {1}) + ":00000001FF"));
  EXPECT_FALSE(Decode(Data(0, {1}) + ":00000001FF\r"));
  EXPECT_TRUE(Decode(Data(0, {1}) + ":00000001FF\r\n"));
}

TEST_F(IntelHexLayout, LineEndCharactersAreNeverLookedAt) {
  std::string text = RecordBody(0x10, 0, {0xAB}) + "xy" + RecordBody(0, 1, {}) + "??";
  ASSERT_TRUE(Decode(text));
  EXPECT_EQ(image_[0x10], 0xAB);
}

TEST_F(IntelHexLayout, AnythingBeforeFirstColonFails) {
  std::string body = Data(0, {1}) + kEof;
  EXPECT_FALSE(Decode("\xEF\xBB\xBF" + body));
  EXPECT_FALSE(Decode("\r\n" + body));
  EXPECT_FALSE(Decode(" " + body));
}

TEST_F(IntelHexLayout, RecordMustOpenWithColon) {
  std::string first = Data(0, {1});
  std::string second = Data(0x10, {2});
  ASSERT_TRUE(Decode(first + second + kEof));
  for (char c : {';', ' ', '0', '\0'}) {
    std::string bad = first + second + kEof;
    bad[0] = c;
    EXPECT_FALSE(Decode(bad)) << int(c);
    bad = first + second + kEof;
    bad[first.size()] = c;
    EXPECT_FALSE(Decode(bad)) << int(c);
    bad = first + second + kEof;
    bad[first.size() + second.size()] = c;  // the end record's
    EXPECT_FALSE(Decode(bad)) << int(c);
  }
}

TEST_F(IntelHexLayout, TrailingSpacesAfterChecksumFail) {
  EXPECT_FALSE(Decode(RecordBody(0, 0, {1, 2}) + "  \r\n" + kEof));
}

TEST_F(IntelHexLayout, TextAfterEndRecordIsIgnored) {
  ASSERT_TRUE(Decode(Data(0, {7}) + kEof + "garbage\0\xFF:0100000003FC:zz"s));
  EXPECT_EQ(length_, 1u);
  EXPECT_EQ(image_[0], 7);
}

TEST_F(IntelHexLayout, MissingEndRecordFails) {
  EXPECT_FALSE(Decode(Data(0, {1, 2})));
  EXPECT_FALSE(Decode(Linear(1)));
  EXPECT_FALSE(Decode(""));
}

TEST_F(IntelHexLayout, EveryShorterPrefixFails) {
  std::string text = Linear(1) + Data(0x20, Fill(20, 0)) + Segment(0x10) + Data(0, {}) + kEof;
  for (size_t cut = 0; cut < text.size(); ++cut) {
    EXPECT_FALSE(Decode(text.substr(0, cut))) << "cut at " << cut;
  }
  EXPECT_TRUE(Decode(text));
}

TEST_F(IntelHexLayout, NullTextFailsOnlyWhenItHasLength) {
  EXPECT_FALSE(DecodeIntelHex(nullptr, 13, image_.data(), &length_));
  EXPECT_FALSE(DecodeIntelHex(nullptr, 0, image_.data(), &length_));  // no end record either
  EXPECT_TRUE(Blank(0, kImageSize));
}

// --- Byte fields: exactly two hexadecimal digits, and the checksum ---

using IntelHexBytes = IntelHexTest;

TEST_F(IntelHexBytes, LowerCaseDigitsAccepted) {
  ASSERT_TRUE(Decode(RecordBody(0xabcd, 0, {0xde, 0xad, 0xbe, 0xef}, true) + "\r\n" + ":00000001ff\r\n"));
  EXPECT_EQ(At(0xABCD, 4), (Bytes{0xDE, 0xAD, 0xBE, 0xEF}));
}

TEST_F(IntelHexBytes, ChecksumMismatchFails) {
  std::string good = Data(0x100, {0x11, 0x22});
  ASSERT_TRUE(Decode(good + kEof));
  std::string bad = good;
  ChangeDigit(&bad, 14);  // checksum
  EXPECT_FALSE(Decode(bad + kEof));
  bad = good;
  ChangeDigit(&bad, 12);  // data byte changed, checksum not
  EXPECT_FALSE(Decode(bad + kEof));
}

TEST_F(IntelHexBytes, ChecksumCoversCountAddressAndType) {
  // Each altered field is compensated nowhere else, so the sum must catch it.
  std::string good = Data(0x0010, {0x01, 0x02});
  for (size_t at : {2u, 6u, 8u}) {
    std::string bad = good;
    ChangeDigit(&bad, at);
    EXPECT_FALSE(Decode(bad + kEof)) << "field char " << at;
  }
}

TEST_F(IntelHexBytes, NonDigitCharactersFailEvenWithMatchingChecksum) {
  // ":01000000" "05" "FA": a lenient reader that takes "+5" or " 5" as 5 would
  // pass the checksum.
  std::string good = Data(0, {0x05});
  ASSERT_EQ(good, ":0100000005FA\r\n");
  ASSERT_TRUE(Decode(good + kEof));
  for (const char* field : {"+5", " 5", "5 ", "5\r", "x5", "G0"}) {
    std::string bad = good;
    bad.replace(9, 2, field);
    EXPECT_FALSE(Decode(bad + kEof)) << "data field \"" << field << "\"";
  }
  for (const char* count : {"+1", " 1", "1 "}) {
    std::string bad = good;
    bad.replace(1, 2, count);
    EXPECT_FALSE(Decode(bad + kEof)) << "count field \"" << count << "\"";
  }
  std::string bad = good;
  bad.replace(3, 4, "+000");
  EXPECT_FALSE(Decode(bad + kEof));
  bad = ":00000001-1\r\n";
  EXPECT_FALSE(Decode(Data(0, {1}) + bad));
}

TEST_F(IntelHexBytes, LongestRecordsAreReadInFull) {
  for (size_t count : {252u, 253u, 254u, 255u}) {
    Bytes data = Fill(count, 3);
    ASSERT_TRUE(Decode(Data(0x2000, data) + kEof)) << count;
    EXPECT_EQ(At(0x2000, count), data);
    EXPECT_EQ(length_, 0x2000 + count);
    EXPECT_EQ(image_[0x2000 + count], 0xFF);

    std::string bad = Data(0x2000, data);
    ChangeDigit(&bad, 9 + 2 * count - 1);  // the last data byte, just before the checksum
    EXPECT_FALSE(Decode(bad + kEof)) << count;
  }
}

// --- Addressing and the effective length ---

using IntelHexAddress = IntelHexTest;

TEST_F(IntelHexAddress, GapsReadBlankAndLengthIsHighestPlusOne) {
  ASSERT_TRUE(Decode(Data(0x1000, Fill(16, 0x40)) + Data(0x0000, Fill(16, 0x80)) + kEof));
  EXPECT_EQ(length_, 0x1010u);
  EXPECT_EQ(At(0x0000, 16), Fill(16, 0x80));
  EXPECT_EQ(At(0x1000, 16), Fill(16, 0x40));
  EXPECT_TRUE(Blank(0x10, 0x1000));
  EXPECT_TRUE(Blank(0x1010, kImageSize));
}

TEST_F(IntelHexAddress, LaterRecordWinsWhereRecordsOverlap) {
  ASSERT_TRUE(Decode(Data(0x10, {1, 2, 3, 4}) + Data(0x12, {9, 9, 9, 9}) + Data(0x0E, {5, 5, 5}) + kEof));
  EXPECT_EQ(At(0x0E, 8), (Bytes{5, 5, 5, 2, 9, 9, 9, 9}));
  EXPECT_EQ(length_, 0x16u);
}

TEST_F(IntelHexAddress, EmptyDataRecordRaisesLengthOnly) {
  ASSERT_TRUE(Decode(Data(0x10, {1}) + Data(0x4000, {}) + Data(0x20, {}) + kEof));
  EXPECT_EQ(length_, 0x4000u);
  EXPECT_TRUE(Blank(0x11, kImageSize));
}

TEST_F(IntelHexAddress, EmptyDataRecordBeyondImageIsNoFailure) {
  ASSERT_TRUE(Decode(Linear(0x1234) + Data(0x5678, {}) + kEof));
  EXPECT_EQ(length_, 0x12345678u);
  EXPECT_TRUE(Blank(0, kImageSize));
}

TEST_F(IntelHexAddress, RecordCrossing64KiBRunsOnLinearly) {
  ASSERT_TRUE(Decode(Data(0xFFFC, Fill(8, 1)) + kEof));
  EXPECT_EQ(At(0xFFFC, 8), Fill(8, 1));
  EXPECT_EQ(image_[0x0000], 0xFF);  // no wrap within the segment
  EXPECT_EQ(length_, 0x10004u);
}

TEST_F(IntelHexAddress, SegmentBaseCountsSixteenfold) {
  ASSERT_TRUE(Decode(Segment(0x1000) + Data(0x0010, {0xAA}) + kEof));
  EXPECT_EQ(image_[0x10010], 0xAA);
  EXPECT_EQ(length_, 0x10011u);
}

TEST_F(IntelHexAddress, LinearUpperCounts64KiBfold) {
  ASSERT_TRUE(Decode(Linear(0x0001) + Data(0x0000, {0xBB}) + kEof));
  EXPECT_EQ(image_[0x10000], 0xBB);
  EXPECT_EQ(length_, 0x10001u);
}

TEST_F(IntelHexAddress, BothRegistersAddAndNeitherResetsTheOther) {
  std::string text = Linear(0x0002) + Segment(0x0100) + Data(0x0003, {1})  // 0x20000 + 0x1000 + 3
                     + Linear(0x0005) + Data(0x0004, {2})                   // segment still 0x100
                     + Segment(0x0000) + Data(0x0005, {3})                  // linear still 5
                     + kEof;
  ASSERT_TRUE(Decode(text));
  EXPECT_EQ(image_[0x21003], 1);
  EXPECT_EQ(image_[0x51004], 2);
  EXPECT_EQ(image_[0x50005], 3);
  EXPECT_EQ(length_, 0x51005u);
}

TEST_F(IntelHexAddress, SumWrapsAt32Bits) {
  // 0xFFFF0000 + 0xFFFF0 + 0x0010 = 0x1_000F_0000, which lands on 0xF0000.
  ASSERT_TRUE(Decode(Linear(0xFFFF) + Segment(0xFFFF) + Data(0x0010, {0x5A}) + kEof));
  EXPECT_EQ(image_[0xF0000], 0x5A);
  EXPECT_EQ(length_, 0xF0001u);
}

TEST_F(IntelHexAddress, LastImageByteIsWritable) {
  ASSERT_TRUE(Decode(Linear(0x000F) + Data(0xFFFE, {1, 2}) + kEof));
  EXPECT_EQ(At(0xFFFFE, 2), (Bytes{1, 2}));
  EXPECT_EQ(length_, kImageSize);
}

TEST_F(IntelHexAddress, DataAtOrPastOneMebibyteFails) {
  EXPECT_FALSE(Decode(Linear(0x0010) + Data(0x0000, {1}) + kEof));
  EXPECT_FALSE(Decode(Segment(0xFFFF) + Data(0xFFFF, {1}) + kEof));  // 0x10FFEF

  // The bytes below the limit land before the failure.
  EXPECT_FALSE(Decode(Linear(0x000F) + Data(0xFFFE, {1, 2, 3}) + kEof));
  EXPECT_EQ(At(0xFFFFE, 2), (Bytes{1, 2}));
}

// --- Record types ---

using IntelHexTypes = IntelHexTest;

TEST_F(IntelHexTypes, StartAddressAndUnknownTypesFail) {
  // Start-address records in their usual four-byte form.
  EXPECT_FALSE(Decode(Data(0, {1}) + Record(0, 0x03, {0x12, 0x34, 0x00, 0x00}) + kEof));
  EXPECT_FALSE(Decode(Record(0, 0x05, {0x00, 0x00, 0x01, 0x00}) + Data(0, {1}) + kEof));
  // With two data bytes the next colon sits where either step would find it,
  // so only the type itself can fail the decode.
  for (uint8_t type : {0x03, 0x05, 0x06, 0x10, 0xFF}) {
    EXPECT_FALSE(Decode(Data(0, {1}) + Record(0, type, {0x00, 0x01}) + Data(0, {2}) + kEof)) << int(type);
  }
}

TEST_F(IntelHexTypes, AddressRecordWithExtraBytesStepsSeventeen) {
  // Count 3: the next colon is at 17, where a two-byte record's line end would be.
  std::string linear = RecordBody(0, 0x04, {0x00, 0x03, 0x77});
  std::string segment = RecordBody(0, 0x02, {0x00, 0x02, 0x99});
  ASSERT_EQ(linear.size(), 17u);
  ASSERT_TRUE(Decode(linear + segment + Data(0x0001, {0xC3}) + kEof));
  EXPECT_EQ(image_[0x30021], 0xC3);

  // With the usual line end after such a record the colon is two places on.
  EXPECT_FALSE(Decode(linear + "\r\n" + Data(0, {1}) + kEof));
}

TEST_F(IntelHexTypes, AddressRecordWithoutTwoBytesFails) {
  for (uint8_t type : {0x02, 0x04}) {
    // Padded so that the next colon sits at the fixed step of 17.
    EXPECT_FALSE(Decode(Record(0, type, {}) + "\r\n\r\n" + Data(0, {1}) + kEof)) << int(type);
    EXPECT_FALSE(Decode(Record(0, type, {0x01}) + "\r\n" + Data(0, {1}) + kEof)) << int(type);
  }
}

// --- Example files shipped with the program ---

std::string ReadExample(const char* name) {
  std::string path = std::string(MCUFEED_EXAMPLES_DIR) + "/" + name;
  std::string text;
  if (FILE* file = std::fopen(path.c_str(), "rb")) {
    char buffer[4096];
    size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) text.append(buffer, got);
    std::fclose(file);
  }
  return text;
}

using IntelHexExamples = IntelHexTest;

TEST_F(IntelHexExamples, BlinkProgramDecodes) {
  std::string text = ReadExample("blink-mega8.hex");
  ASSERT_FALSE(text.empty()) << MCUFEED_EXAMPLES_DIR;
  ASSERT_TRUE(Decode(text));
  EXPECT_EQ(length_, 44u);
  EXPECT_EQ(At(0, 2), (Bytes{0x04, 0xE0}));   // ldi r16, 0x04
  EXPECT_EQ(At(42, 2), (Bytes{0x08, 0x95}));  // ret
  EXPECT_TRUE(Blank(44, kImageSize));
}

TEST_F(IntelHexExamples, SegmentsFileDecodes) {
  std::string text = ReadExample("segments.hex");
  ASSERT_FALSE(text.empty()) << MCUFEED_EXAMPLES_DIR;
  ASSERT_TRUE(Decode(text));
  EXPECT_EQ(length_, 0x10010u);
  EXPECT_EQ(At(0x0000, 16), Fill(16, 0x00));
  EXPECT_TRUE(Blank(0x10, 0x100));
  EXPECT_EQ(At(0x0100, 8), Bytes(8, 0xA5));
  EXPECT_TRUE(Blank(0x108, 0x10000));
  EXPECT_EQ(At(0x10000, 16), Fill(16, 0x10));
  EXPECT_TRUE(Blank(0x10010, kImageSize));
}

// --- Randomised: round trip through a writer, and mutated input ---

// Writes valid CRLF HEX text, choosing segment and linear values at random.
class RandomHexWriter {
 public:
  explicit RandomHexWriter(std::mt19937& random) : random_(random) {}

  // A data record for absolute `address`; address + data.size() <= kImageSize
  // unless data is empty.
  void Put(uint32_t address, const Bytes& data) {
    int64_t offset = int64_t(address) - Base();
    if (offset < 0 || offset > 0xFFFF || Pick(4) == 0) {
      Rebase(address);
      offset = int64_t(address) - Base();
    }
    text_ += RecordBody(uint16_t(offset), 0x00, data, Pick(3) == 0) + "\r\n";
    effectiveLength_ = std::max<uint32_t>(effectiveLength_, address + uint32_t(data.size()));
  }

  std::string Finish() {
    text_ += kEof;
    if (Pick(2) == 0) {
      for (int i = Pick(20); i > 0; --i) text_ += char(Pick(256));
    }
    return text_;
  }

  uint32_t effectiveLength() const { return effectiveLength_; }

 private:
  int Pick(int below) { return std::uniform_int_distribution<int>(0, below - 1)(random_); }
  int64_t Base() const { return int64_t(linear_) * 65536 + int64_t(segment_) * 16; }

  // New register values that reach `address` with a 16-bit offset: linear
  // only, segment only, or a random mix; records emitted only when a value
  // changes or at random.
  void Rebase(uint32_t address) {
    uint32_t linear = 0;
    uint32_t segment = 0;
    switch (Pick(3)) {
      case 0:
        linear = address >> 16;
        break;
      case 1:
        segment = PickSegment(address);
        break;
      default:
        linear = std::uniform_int_distribution<uint32_t>(0, std::min<uint32_t>(address >> 16, 0xFFFF))(random_);
        segment = PickSegment(address - linear * 65536);
        break;
    }
    if (linear != linear_ || Pick(4) == 0) text_ += Linear(uint16_t(linear));
    if (segment != segment_ || Pick(4) == 0) text_ += Segment(uint16_t(segment));
    linear_ = linear;
    segment_ = segment;
  }

  uint32_t PickSegment(uint32_t rest) {
    uint32_t low = rest > 0xFFFF ? (rest - 0xFFFF + 15) / 16 : 0;
    uint32_t high = std::min<uint32_t>(rest / 16, 0xFFFF);
    return std::uniform_int_distribution<uint32_t>(low, high)(random_);
  }

  std::mt19937& random_;
  std::string text_;
  uint32_t linear_ = 0;
  uint32_t segment_ = 0;
  uint32_t effectiveLength_ = 0;
};

// Spreads a few random chunks over the image (some at 64 KiB boundaries and
// at the top), cut into records of 0 to 255 bytes; `reference` gets the same
// writes, later chunks over earlier ones.
std::string RandomHexFile(std::mt19937& random, Bytes* reference, uint32_t* effectiveLength, int maxChunks,
                          uint32_t maxChunk) {
  auto pick = [&random](uint32_t low, uint32_t high) {
    return std::uniform_int_distribution<uint32_t>(low, high)(random);
  };
  RandomHexWriter writer(random);
  for (uint32_t chunks = pick(1, maxChunks); chunks > 0; --chunks) {
    uint32_t size = pick(0, maxChunk);
    uint32_t start;
    switch (pick(0, 3)) {
      case 0:  start = pick(0, 15) * 0x10000 + 0x10000 - pick(0, 300); break;
      case 1:  start = kImageSize - pick(0, 600); break;
      default: start = pick(0, kImageSize - 1); break;
    }
    start = std::min(start, kImageSize);
    size = std::min(size, kImageSize - start);
    for (uint32_t done = 0; done < size || (done == 0 && size == 0);) {
      uint32_t count = std::min(pick(0, 255), size - done);
      Bytes data(count);
      for (uint8_t& b : data) b = uint8_t(pick(0, 255));
      writer.Put(start + done, data);
      std::copy(data.begin(), data.end(), reference->begin() + start + done);
      done += count;
      if (size == 0) break;
    }
  }
  *effectiveLength = writer.effectiveLength();
  return writer.Finish();
}

using IntelHexRandom = IntelHexTest;

TEST_F(IntelHexRandom, RoundTripThroughWriter) {
  std::mt19937 random(20240611);
  Bytes reference(kImageSize);
  for (int iteration = 0; iteration < 300; ++iteration) {
    std::fill(reference.begin(), reference.end(), 0xFF);
    uint32_t expectedLength = 0;
    std::string text = RandomHexFile(random, &reference, &expectedLength, 8, 1500);
    ASSERT_TRUE(Decode(text)) << "iteration " << iteration;
    ASSERT_EQ(length_, expectedLength) << "iteration " << iteration;
    ASSERT_TRUE(std::memcmp(image_.data(), reference.data(), kImageSize) == 0) << "iteration " << iteration;
  }
}

TEST_F(IntelHexRandom, MutatedTextNeverReadsOutOfBounds) {
  // Every read of a mutated text goes to an exactly sized heap copy, so an
  // overread aborts under AddressSanitizer. Successes must still keep every
  // written byte below the effective length.
  std::mt19937 random(77);
  auto pick = [&random](size_t low, size_t high) {
    return std::uniform_int_distribution<size_t>(low, high)(random);
  };
  static const char kAlphabet[] = ":0123456789ABCDEFabcdef\r\n +xG";
  Bytes scratch(kImageSize);
  Bytes blank(kImageSize, 0xFF);
  std::string base;
  int successes = 0;
  int failures = 0;
  for (int iteration = 0; iteration < 5000; ++iteration) {
    if (iteration % 40 == 0) {
      uint32_t unused = 0;
      base = RandomHexFile(random, &scratch, &unused, 3, 40);
    }
    std::string text = base;
    for (size_t edits = pick(1, 3); edits > 0; --edits) {
      char c = pick(0, 3) == 0 ? char(pick(0, 255)) : kAlphabet[pick(0, sizeof kAlphabet - 2)];
      switch (pick(0, 4)) {
        case 0:
          if (!text.empty()) text[pick(0, text.size() - 1)] ^= char(1 << pick(0, 7));
          break;
        case 1:
          if (!text.empty()) text[pick(0, text.size() - 1)] = c;
          break;
        case 2:
          text.insert(text.begin() + pick(0, text.size()), c);
          break;
        case 3:
          if (!text.empty()) text.erase(pick(0, text.size() - 1), 1);
          break;
        default:
          text.resize(pick(0, text.size()));
          break;
      }
    }
    if (Decode(text)) {
      ++successes;
      if (length_ < kImageSize) {
        ASSERT_TRUE(std::memcmp(image_.data() + length_, blank.data(), kImageSize - length_) == 0)
            << "iteration " << iteration;
      }
    } else {
      ++failures;
    }
  }
  EXPECT_GT(successes, 100);
  EXPECT_GT(failures, 1000);
}

}  // namespace
