#include "app/program_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>
#ifdef _WIN32
#include "app/win/wide_path.h"
#endif

namespace fs = std::filesystem;

namespace {

TEST(HexByName, LastThreeCharactersInAnyCase) {
  for (const char* path : {"a.HEX", "a.hex", "proghex", "C:\\x\\B.Hex", "HEX"}) EXPECT_TRUE(IsHexPath(path)) << path;
  for (const char* path : {"a.bin", "a.ihx", "a.hex.bin", "he", "", "a.hex "}) EXPECT_FALSE(IsHexPath(path)) << path;
}

std::vector<uint8_t> Bytes(size_t size, uint8_t seed) {
  std::vector<uint8_t> bytes(size);
  for (size_t i = 0; i < size; ++i) bytes[i] = uint8_t(i * 7 + seed);
  return bytes;
}

// Every file lives in a folder with a Chinese name, under a Chinese name: the
// layer must pass such names to the system intact whatever the code page.
class ProgramFileTest : public ::testing::Test {
 protected:
  void SetUp() override { fs::create_directories(dir_); }
  void TearDown() override {
    SetFileReadFunction(nullptr);
    fs::remove_all(dir_);
  }
  std::string PathOf(const std::string& name) const { return (dir_ / fs::u8path(name)).u8string(); }
  std::string Make(const std::string& name, const std::vector<uint8_t>& bytes) {
    std::ofstream(dir_ / fs::u8path(name), std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                                  std::streamsize(bytes.size()));
    return PathOf(name);
  }
  size_t Entries() { return size_t(std::distance(fs::directory_iterator(dir_), fs::directory_iterator())); }
  FileReadStatus Read(const std::string& path) { return ReadProgramFile(path.c_str(), buffer_.data(), &read_); }

  fs::path dir_ = fs::temp_directory_path() /
      fs::u8path(u8"mcufeed-程序-" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
  uint32_t read_ = 0;
  static std::vector<uint8_t> buffer_;
};
std::vector<uint8_t> ProgramFileTest::buffer_(kProgramBufferSize);

TEST_F(ProgramFileTest, ReadsWholeFilesOfOneByteToOneMebibyte) {
  struct Case { size_t size; FileReadStatus status; } cases[] = {
      {0, FileReadStatus::SizeError}, {1000, FileReadStatus::Ok}, {kProgramBufferSize, FileReadStatus::Ok},
      {kProgramBufferSize + 1, FileReadStatus::SizeError}};
  for (const Case& c : cases) {
    const std::vector<uint8_t> bytes = Bytes(c.size, uint8_t(c.size));
    ASSERT_EQ(Read(Make(u8"固件.bin", bytes)), c.status) << c.size;
    const bool ok = c.status == FileReadStatus::Ok;
    EXPECT_TRUE(read_ == (ok ? c.size : 0) && (!ok || std::equal(bytes.begin(), bytes.end(), buffer_.begin()))) << c.size;
  }
  EXPECT_EQ(Read(PathOf("missing.bin")), FileReadStatus::OpenFailed);
  EXPECT_EQ(Read(dir_.u8string()), FileReadStatus::OpenFailed);  // a folder
}

// No file system shortens a file between its size and its read on demand:
// the seam does (the window's tests fail a read outright).
TEST_F(ProgramFileTest, FileThatComesUpShortIsAReadError) {
  SetFileReadFunction([](intptr_t, uint8_t*, uint32_t size, uint32_t* got) { return *got = size > 60 ? 60 : 0, true; });
  EXPECT_EQ(Read(Make("short.bin", Bytes(100, 1))), FileReadStatus::ReadFailed);
  EXPECT_EQ(read_, 0u);
}

TEST_F(ProgramFileTest, WholeFileReplacesTheTargetOrLeavesItUntouched) {
  const std::string target = Make(u8"读回.bin", Bytes(5000, 3));
  const std::vector<uint8_t> shorter = Bytes(300, 9);
  ASSERT_TRUE(WriteWholeFile(target.c_str(), shorter.data(), uint32_t(shorter.size())));
  ASSERT_EQ(Read(target), FileReadStatus::Ok);
  EXPECT_TRUE(read_ == 300 && std::equal(shorter.begin(), shorter.end(), buffer_.begin()));
  EXPECT_EQ(Entries(), 1u);  // no temporary file left

  // A folder in the target's place, a missing folder: nothing written, nothing left.
  fs::create_directory(dir_ / "folder");
  EXPECT_FALSE(WriteWholeFile(PathOf("folder").c_str(), shorter.data(), 10));
  EXPECT_FALSE(WriteWholeFile(PathOf("no/such.bin").c_str(), shorter.data(), 10));
  EXPECT_TRUE(fs::is_directory(dir_ / "folder"));
  EXPECT_EQ(Entries(), 2u);
}

#ifdef _WIN32
// Paths of MAX_PATH characters and more go to the system in their unlimited
// form (wine takes long paths in any form, Windows does not).
TEST(WidePath, LongPathsTakeTheUnlimitedForm) {
  static wchar_t out[kWidePathSize];
  const std::string name(254, 'n');
  const std::wstring wide(254, L'n');
  struct Case { std::string path; const wchar_t* suffix; std::wstring form; } cases[] = {
      {u8"C:\\短\\程序.bin", L".7.tmp", L"C:\\短\\程序.bin.7.tmp"},
      {"C:\\x\\" + name, L"", L"C:\\x\\" + wide},  // 259 characters
      {"C:\\x\\" + name, L"n", L"\\\\?\\C:\\x\\" + wide + L"n"},
      {"\\\\server\\share\\" + name, L"", L"\\\\?\\UNC\\server\\share\\" + wide}};
  for (const Case& c : cases) EXPECT_TRUE(ToWidePath(c.path.c_str(), c.suffix, out) && out == c.form) << c.path;
  EXPECT_FALSE(ToWidePath("\xC0\xAF", L"", out));  // not UTF-8
}
#endif

}  // namespace
