// The animated picture: a table of GIFs (frames found, how long each stays,
// whether a thread plays them), disposal 2, a still picture that is not a
// GIF, damaged data, and a stop that comes back at once.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <vector>

#include "KitTest.h"
#include "app/controls/GifFile.h"
#include "app/controls/PictureEx.h"
#include "app/resources/resource.h"
#include "classlib/Resource.h"
#include "support/WaitFactor.h"

namespace {

using kittest::Rgb;

std::vector<uint8_t> ResourceBytes(UINT id) {
  HINSTANCE inst = cl::AfxGetResourceHandle();
  HRSRC res = FindResourceW(inst, MAKEINTRESOURCEW(id), L"GIF");
  if (!res) return {};
  const auto* p = static_cast<const uint8_t*>(LockResource(LoadResource(inst, res)));
  return std::vector<uint8_t>(p, p + SizeofResource(inst, res));
}

bool LoadBytes(CPictureEx& pic, const std::vector<uint8_t>& bytes) {
  HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, bytes.empty() ? 1 : bytes.size());
  if (!bytes.empty()) std::memcpy(GlobalLock(block), bytes.data(), bytes.size());
  GlobalUnlock(block);
  bool ok = pic.LoadFromMemory(block, static_cast<DWORD>(bytes.size()));
  GlobalFree(block);
  return ok;
}

TEST(PictureEx, GifTable) {
  struct Case {
    UINT id;
    size_t frames;           // decoded frames (0: shown as one picture)
    std::vector<unsigned> waitsMs;
    bool thread;             // Play starts the animation thread
    int width, height;
  } cases[] = {
      {IDG_T_ONE, 0, {}, false, 32, 32},
      // Delays 0, 1, 4, 5 hundredths, then no graphic control extension.
      {IDG_T_DELAYS, 5, {100, 100, 100, 50, 100}, true, 32, 32},
      {IDG_BUSY, 4, {200, 200, 200, 200}, true, 48, 48},
  };
  for (const Case& c : cases) {
    CPictureEx pic;
    ASSERT_TRUE(pic.LoadFromResource(c.id)) << c.id;
    EXPECT_TRUE(pic.isGif());
    EXPECT_EQ(pic.width(), c.width);
    EXPECT_EQ(pic.height(), c.height);
    ASSERT_EQ(pic.frames().size(), c.frames) << c.id;
    for (size_t i = 0; i < c.frames; ++i) EXPECT_EQ(FrameWaitMs(pic.frames()[i].delay), c.waitsMs[i]) << c.id << ":" << i;
    EXPECT_TRUE(pic.Play());
    EXPECT_EQ(pic.hasThread(), c.thread) << c.id;
    pic.StopAnimation();
    EXPECT_FALSE(pic.hasThread());
  }
  CPictureEx one;
  ASSERT_TRUE(one.LoadFromResource(IDG_T_ONE));
  ASSERT_TRUE(one.Play());
  EXPECT_TRUE(kittest::Near(one.ComposedPixel(16, 16), Rgb(0xE0, 0x20, 0x20))) << "drawn once, in red";
}

TEST(PictureEx, DisposalTwoLeavesTheBackground) {
  CPictureEx pic;
  ASSERT_TRUE(pic.LoadFromResource(IDG_T_DISPOSE));
  ASSERT_EQ(pic.frames().size(), 3u);
  EXPECT_EQ(pic.frames()[1].disposal, 2);
  const COLORREF red = Rgb(0xE0, 0x20, 0x20), blue = Rgb(0x20, 0x40, 0xE0);
  ASSERT_TRUE(pic.DrawFrame(0));
  pic.DisposeFrame(0);
  ASSERT_TRUE(pic.DrawFrame(1));
  EXPECT_TRUE(kittest::Near(pic.ComposedPixel(12, 12), blue)) << std::hex << pic.ComposedPixel(12, 12);
  pic.DisposeFrame(1);
  EXPECT_TRUE(kittest::Near(pic.ComposedPixel(12, 12), pic.backgroundColour, 0)) << "the square's place";
  EXPECT_TRUE(kittest::Near(pic.ComposedPixel(2, 2), red)) << "the rest of frame 0 stays";
}

TEST(PictureEx, StillPictureAndDamagedData) {
  CPictureEx still;
  ASSERT_TRUE(still.LoadFromResource(IDG_T_STILL)) << "a BMP: not a GIF";
  EXPECT_FALSE(still.isGif());
  EXPECT_EQ(still.width(), 20);
  EXPECT_EQ(still.height(), 10);
  EXPECT_TRUE(still.Play());
  EXPECT_FALSE(still.hasThread());
  EXPECT_TRUE(kittest::Near(still.ComposedPixel(5, 5), Rgb(0x20, 0x40, 0xE0)));

  const std::vector<uint8_t> gif = ResourceBytes(IDG_T_DELAYS);
  GifInfo info;
  ASSERT_TRUE(ParseGif(gif.data(), gif.size(), &info));
  ASSERT_EQ(info.frames.size(), 5u);
  struct Cut {
    size_t size;
    bool loads;
    size_t frames;
  } cuts[] = {
      {0, false, 0},
      {5, false, 0},                                       // inside the header
      {info.headerSize + 3, false, 0},                     // inside the first frame
      {info.frames[0].end - 1, false, 0},                  // its image data cut short
      {info.frames[2].end + 4, true, 3},                   // three whole frames, then a broken one
      {gif.size() - 1, true, 5},                           // only the trailer missing
  };
  for (const Cut& c : cuts) {
    std::vector<uint8_t> part(gif.begin(), gif.begin() + static_cast<long>(c.size));
    part.shrink_to_fit();
    CPictureEx pic;
    EXPECT_EQ(LoadBytes(pic, part), c.loads) << c.size << " bytes";
    EXPECT_EQ(pic.frames().size(), c.frames) << c.size << " bytes";
    EXPECT_EQ(pic.prepared(), c.loads);
    if (!c.loads) {
      EXPECT_FALSE(pic.Play());
    }
  }
}

TEST(PictureEx, StopComesBackAtOnceFromALongFrame) {
  CPictureEx pic;
  ASSERT_TRUE(pic.LoadFromResource(IDG_T_SLOW));  // frames of ten minutes
  ASSERT_TRUE(pic.Play());
  ASSERT_TRUE(kittest::PumpUntil([&] { return pic.running(); }, 3000));
  kittest::Pump(100);
  const DWORD start = GetTickCount();
  pic.StopAnimation();
  EXPECT_LT(GetTickCount() - start, testwait::Ms(2000));
  EXPECT_FALSE(pic.hasThread());
  EXPECT_FALSE(pic.running());
  // Playing again after a stop starts a new thread; Clear stops it too.
  ASSERT_TRUE(pic.Play());
  EXPECT_TRUE(pic.hasThread());
  pic.Clear();
  EXPECT_FALSE(pic.hasThread());
  EXPECT_FALSE(pic.prepared());
}

}  // namespace
