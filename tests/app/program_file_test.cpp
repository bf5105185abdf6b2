#include "app/program_file.h"

#include <gtest/gtest.h>

#include <fstream>
#include <filesystem>
#include <string>
#include <vector>

namespace {

TEST(HexByName, LastThreeCharactersInAnyCase) {
  for (const char* path : {"a.HEX", "a.hex", "proghex", "C:\\x\\B.Hex", "HEX"})
    EXPECT_TRUE(IsHexPath(path)) << path;
  for (const char* path : {"a.bin", "a.ihx", "a.hex.bin", "he", "", "a.hex ", "a.he"})
    EXPECT_FALSE(IsHexPath(path)) << path;
}

class ProgramFileTest : public ::testing::Test {
 protected:
  std::string Write(const std::string& name, size_t size) {
    const std::filesystem::path path = std::filesystem::temp_directory_path() / std::filesystem::u8path(name);
    std::vector<char> bytes(size);
    for (size_t i = 0; i < size; ++i) bytes[i] = char(i * 7 + 1);
    std::ofstream(path, std::ios::binary).write(bytes.data(), std::streamsize(size));
    made_.push_back(path);
    return path.u8string();
  }
  void TearDown() override {
    for (auto& p : made_) std::filesystem::remove(p);
  }
  std::vector<std::filesystem::path> made_;
  static std::vector<uint8_t> buffer_;
};
std::vector<uint8_t> ProgramFileTest::buffer_(kProgramBufferSize);

TEST_F(ProgramFileTest, SizeLimitsAreInclusiveOfOneMebibyte) {
  uint32_t read = 99;
  EXPECT_EQ(ReadProgramFile(Write("mcufeed-empty.bin", 0).c_str(), buffer_.data(), &read),
            FileReadStatus::SizeError);
  EXPECT_EQ(ReadProgramFile(Write("mcufeed-big.bin", kProgramBufferSize + 1).c_str(), buffer_.data(), &read),
            FileReadStatus::SizeError);
  ASSERT_EQ(ReadProgramFile(Write("mcufeed-max.bin", kProgramBufferSize).c_str(), buffer_.data(), &read),
            FileReadStatus::Ok);
  EXPECT_EQ(read, kProgramBufferSize);
  EXPECT_EQ(buffer_[kProgramBufferSize - 1], uint8_t((kProgramBufferSize - 1) * 7 + 1));
}

TEST_F(ProgramFileTest, ReadsTheBytesExactly) {
  uint32_t read = 0;
  ASSERT_EQ(ReadProgramFile(Write("mcufeed-1000.bin", 1000).c_str(), buffer_.data(), &read),
            FileReadStatus::Ok);
  EXPECT_EQ(read, 1000u);
  EXPECT_EQ(buffer_[0], 1);
  EXPECT_EQ(buffer_[999], uint8_t(999 * 7 + 1));
}

TEST_F(ProgramFileTest, MissingFileOrFolderDoesNotOpen) {
  uint32_t read = 0;
  const std::string missing = (std::filesystem::temp_directory_path() / "mcufeed-no-such-file.hex").u8string();
  EXPECT_EQ(ReadProgramFile(missing.c_str(), buffer_.data(), &read), FileReadStatus::OpenFailed);
  EXPECT_EQ(ReadProgramFile(std::filesystem::temp_directory_path().u8string().c_str(), buffer_.data(), &read),
            FileReadStatus::OpenFailed);
}

TEST_F(ProgramFileTest, NonAsciiNamesOpen) {
  uint32_t read = 0;
  const std::string path = Write(u8"mcufeed-程序.bin", 16);
  ASSERT_EQ(ReadProgramFile(path.c_str(), buffer_.data(), &read), FileReadStatus::Ok);
  EXPECT_EQ(read, 16u);
}

}  // namespace
