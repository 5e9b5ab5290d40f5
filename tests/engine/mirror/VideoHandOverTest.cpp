// The hand-over of the session's video record between the owner's, the
// capture and the session threads: every copy a thread takes is one whole
// record, and a captor request made while an older one is being set up is
// not lost.
#include "engine/mirror/VideoHandOver.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <string>
#include <thread>

#include "support/WaitFactor.h"

namespace {

// Change k of the owner: every field says k, in its own way. The monitor
// name is long enough to live on the heap, where a torn copy would show.
std::wstring NameOf(int k) { return L"\\\\.\\DISPLAY-with-a-long-name-" + std::to_wstring(k); }

unsigned OwnerChange(VideoParam& v, int k) {
  v.monitorName = NameOf(k);
  v.captureRect = CaptureRect{k, 2 * k, 3 * k, 4 * k};
  v.regionMode = k & 1;
  v.fps = 1 + k % 60;
  v.quality = 1000 + k;
  v.rate = k;
  return kVideoChangeCaptor;
}

bool SettingsAreOneChange(const VideoParam& v) {
  const int k = v.rate;
  return v.monitorName == NameOf(k) && v.captureRect.left == k && v.captureRect.top == 2 * k &&
         v.captureRect.right == 3 * k && v.captureRect.bottom == 4 * k &&
         v.regionMode == (k & 1) && v.fps == 1 + k % 60 && v.quality == 1000 + k;
}

// Geometry g of the capture thread: every field says g.
void CaptureGeometry(VideoParam* v, int g) {
  v->width = 2 * g;
  v->height = g;
  v->left = 3 * g;
  v->top = 4 * g;
  v->xOffset = static_cast<float>(g);
  v->yOffset = static_cast<float>(-g);
  v->scaledWidth = static_cast<float>(5 * g);
  v->scaledHeight = static_cast<float>(6 * g);
  v->fullWidth = 7 * g;
  v->fullHeight = 8 * g;
  v->downscaled = g & 1;
}

bool GeometryIsOne(const VideoParam& v) {
  const int g = v.height;
  return v.width == 2 * g && v.left == 3 * g && v.top == 4 * g &&
         v.xOffset == static_cast<float>(g) && v.yOffset == static_cast<float>(-g) &&
         v.scaledWidth == static_cast<float>(5 * g) && v.scaledHeight == static_cast<float>(6 * g) &&
         v.fullWidth == 7 * g && v.fullHeight == 8 * g && v.downscaled == (g & 1);
}

TEST(VideoHandOver, ThreadsOnlyEverSeeWholeRecords) {
  CVideoHandOver handOver;
  handOver.Change([](VideoParam& v) { return OwnerChange(v, 0); });
  std::atomic<bool> stop{false};
  std::atomic<long> torn{0}, captorTakes{0}, encoderTakes{0};

  std::thread owner([&] {
    for (int k = 1; !stop; ++k) {
      handOver.Change([k](VideoParam& v) { return OwnerChange(v, k); });
      if (k % 16 == 0) Sleep(0);
    }
  });
  std::thread capture([&] {
    VideoParam mine;
    for (int g = 1; !stop; ++g) {
      uint32_t request = 0;
      if (handOver.TakeForCaptor(&mine, &request)) {
        ++captorTakes;
        if (!SettingsAreOneChange(mine)) ++torn;
        CaptureGeometry(&mine, g);
        handOver.PublishGeometry(mine);
        handOver.CaptorDone(request);
      }
    }
  });
  std::thread session([&] {
    VideoParam mine;
    while (!stop) {
      if (!handOver.EncoderPending()) continue;
      handOver.TakeForEncoder(&mine);
      ++encoderTakes;
      if (!SettingsAreOneChange(mine)) ++torn;
      if (mine.height != 0 && !GeometryIsOne(mine)) ++torn;
    }
  });
  // Run until both readers have taken enough records to make a torn copy
  // likely, however slow a loaded machine makes the threads; the deadline
  // only bounds a hang.
  const DWORD start = GetTickCount();
  while (GetTickCount() - start < 1500 ||
         ((captorTakes <= 200 || encoderTakes <= 200) && GetTickCount() - start < testwait::Ms(30000)))
    Sleep(50);
  stop = true;
  owner.join();
  capture.join();
  session.join();
  EXPECT_EQ(torn, 0);
  EXPECT_GT(captorTakes, 100);
  EXPECT_GT(encoderTakes, 100);
}

TEST(VideoHandOver, ARequestMadeDuringASetUpStaysPending) {
  CVideoHandOver handOver;
  VideoParam mine;
  uint32_t first = 0, second = 0;
  EXPECT_FALSE(handOver.TakeForCaptor(&mine, &first));
  handOver.Change([](VideoParam& v) { return OwnerChange(v, 1); });
  EXPECT_TRUE(handOver.CaptorPending());
  EXPECT_TRUE(handOver.EncoderPending());
  ASSERT_TRUE(handOver.TakeForCaptor(&mine, &first));
  // The owner changes again while the captor is being set up for change 1.
  handOver.Change([](VideoParam& v) { return OwnerChange(v, 2); });
  handOver.CaptorDone(first);
  EXPECT_TRUE(handOver.CaptorPending());
  ASSERT_TRUE(handOver.TakeForCaptor(&mine, &second));
  EXPECT_EQ(mine.rate, 2);
  handOver.CaptorDone(second);
  EXPECT_FALSE(handOver.CaptorPending());

  // An encoder-only change leaves the captor alone.
  handOver.TakeForEncoder(&mine);
  EXPECT_FALSE(handOver.EncoderPending());
  handOver.Change([](VideoParam& v) {
    v.quality = 1;
    return kVideoChangeEncoder;
  });
  EXPECT_FALSE(handOver.CaptorPending());
  EXPECT_TRUE(handOver.EncoderPending());
}

}  // namespace
