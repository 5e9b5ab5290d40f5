#include "engine/display/DisplayDecisions.h"

#include <gtest/gtest.h>

using namespace display;

TEST(DisplayDecisions, ResolutionScoresPreferSmallerModesCloseInShape) {
  const struct {
    int w, h;
    long long score;
  } scores[] = {
      {800, 600, 1288},  {1024, 768, 0},    {1280, 1024, 4616}, {1152, 864, 2208},
      {1280, 720, 3932}, {1280, 800, 3962}, {0, 768, -1},       {1024, 0, -1},
  };
  for (const auto& s : scores) EXPECT_EQ(ResolutionScore(1024, 768, s.w, s.h), s.score) << s.w << "x" << s.h;

  const struct {
    std::vector<Size> modes;
    int w, h;  // chosen; 0 x 0 when none
  } picks[] = {
      {{{800, 600}, {1024, 768}, {1280, 1024}}, 1024, 768},
      {{{1152, 864}, {800, 600}}, 800, 600},  // above the request counts three times
      {{{1280, 800}, {1280, 720}}, 1280, 720},
      {{{1025, 768}, {1024, 767}, {0, 0}}, 0, 0},  // odd or empty sizes are no candidates
      {{}, 0, 0},
  };
  for (const auto& p : picks) {
    Size chosen;
    const bool ok = PickResolution(CandidateSizes(p.modes), 1024, 768, &chosen);
    EXPECT_EQ(ok, p.w != 0);
    if (ok) {
      EXPECT_EQ(chosen.width, p.w);
      EXPECT_EQ(chosen.height, p.h);
    }
  }
}

TEST(DisplayDecisions, CandidateSizesAreDistinctAndOrdered) {
  const std::vector<Size> c =
      CandidateSizes({{1280, 1024}, {800, 600}, {1280, 720}, {800, 600}, {801, 600}, {1280, 720}});
  ASSERT_EQ(c.size(), 3u);
  EXPECT_EQ(c[0].width, 800);
  EXPECT_EQ(c[1].height, 720);
  EXPECT_EQ(c[2].height, 1024);
  // Equal scores: the earlier in that order wins.
  Size chosen;
  ASSERT_EQ(ResolutionScore(1024, 768, 1024, 772), ResolutionScore(1024, 768, 1022, 766));
  ASSERT_TRUE(PickResolution(CandidateSizes({{1024, 772}, {1022, 766}}), 1024, 768, &chosen));
  EXPECT_EQ(chosen.width, 1022);
}

TEST(DisplayDecisions, OverlapIncludesEdgesAndCrossings) {
  const struct {
    Rect a, b;
    bool overlap;
  } cases[] = {
      {{0, 0, 10, 10}, {5, 5, 15, 15}, true},      // a corner inside
      {{0, 0, 10, 10}, {10, 0, 20, 10}, true},     // sharing an edge counts
      {{0, 0, 10, 10}, {11, 0, 20, 10}, false},
      {{0, 0, 10, 10}, {2, 2, 4, 4}, true},        // one inside the other
      {{0, 4, 20, 6}, {8, 0, 12, 20}, true},       // a cross: no corner inside either
      {{0, 0, 10, 10}, {0, 11, 10, 20}, false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(RectsOverlap(c.a, c.b), c.overlap);
    EXPECT_EQ(RectsOverlap(c.b, c.a), c.overlap);
  }
}

TEST(DisplayDecisions, SidesAndTheirPositions) {
  const int W = 1920, H = 1080, w = 1024, h = 768;
  const struct {
    int side;
    int x, y;
  } positions[] = {{0, 0, -768}, {1, 0, 1080}, {2, -1024, 0}, {3, 1920, 0}, {7, 1920, 0}, {-5, 1920, 0}};
  for (const auto& p : positions) {
    int x = 1, y = 1;
    PositionForSide(p.side, W, H, w, h, &x, &y);
    EXPECT_EQ(x, p.x) << p.side;
    EXPECT_EQ(y, p.y) << p.side;
  }
  // Occupied places that block one side each (a monitor at exactly (-1024, 0)
  // would also touch TOP at its corner, and touching counts).
  const Rect right{1920, 0, 2944, 768}, left{-1024, 100, -1, 868}, top{100, -768, 1124, -1},
      down{0, 1080, 1024, 1848};
  const struct {
    std::vector<Rect> occupied;
    int side;
  } free[] = {
      {{}, kSideRight},
      {{right}, kSideLeft},
      {{right, left}, kSideTop},
      {{right, left, top}, kSideDown},
      {{right, left, top, down}, -1},
      {{{3000, 0, 4000, 768}}, kSideRight},  // beyond, not touching
      {{right, {-1024, 0, 0, 768}}, kSideDown},  // left touches TOP's corner too
  };
  for (const auto& f : free) EXPECT_EQ(FirstFreeSide(W, H, w, h, f.occupied), f.side);
}

TEST(DisplayDecisions, MonitorNamesMatchWithoutRegardToCase) {
  const std::vector<std::wstring> names = {L"\\\\.\\DISPLAY1", L"\\\\.\\DISPLAY2"};
  EXPECT_EQ(FindMonitorByDeviceName(names, L"\\\\.\\display2"), 1);
  EXPECT_EQ(FindMonitorByDeviceName(names, L"\\\\.\\DISPLAY3"), -1);
  EXPECT_FALSE(SameDeviceName(L"\\\\.\\DISPLAY1", L"\\\\.\\DISPLAY10"));
}
