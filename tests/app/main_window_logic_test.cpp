#include "app/main_window_logic.h"

#include <gtest/gtest.h>

#include <utility>

namespace {

TEST(WindowTitle, NamesTheFileAfterTheLastBackslash) {
  for (auto [path, name] : {std::pair<const char*, const char*>{"D:\\work\\led.hex", "led.hex"}, {"LED.HEX", "LED.HEX"},
                            {"D:/work/led.hex", "D:/work/led.hex"}, {"D:\\work\\", ""}, {"D:\\工程\\灯.hex", "灯.hex"}})
    EXPECT_STREQ(FileNameOfPath(path), name) << path;
}

TEST(Placement, CentresTruncatingTowardZeroThenKeepsOnTheDesktop) {
  struct Case { ScreenRect main; int32_t width, height, x, y; } cases[] = {
      {{100, 100, 575, 345}, 201, 101, 100 + 237 - 100, 100 + 122 - 50},
      {{405, 300, 400, 300}, 10, 0, 405 - 2 - 5, 300},  // a span of -5 halves to -2
      {{-400, -300, 0, 0}, 300, 200, 0, 0},
      {{900, 700, 1100, 800}, 300, 200, 1024 - 300, 768 - 200},
      {{0, 0, 100, 100}, 1100, 800, 1024 - 1100, 768 - 800},  // the edge is applied last, so it wins
  };
  for (const Case& c : cases) {
    const ScreenPoint p = CentreOver(c.main, {0, 0, 1024, 768}, c.width, c.height);
    EXPECT_EQ(p.x, c.x) << c.main.left;
    EXPECT_EQ(p.y, c.y) << c.main.left;
  }
}

TEST(Placement, StoredPositionBoundsAreInclusive) {
  EXPECT_TRUE(PositionRestorable(0, 0, 1024, 740));
  EXPECT_TRUE(PositionRestorable(1024, 740, 1024, 740));
  for (auto [x, y] : {std::pair<int32_t, int32_t>{-5, 10}, {10, -1}, {1025, 10}, {10, 741}})
    EXPECT_FALSE(PositionRestorable(x, y, 1024, 740)) << x << "," << y;
}

}  // namespace
