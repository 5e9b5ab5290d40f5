// The GIF walker behind the animated pictures: every frame it finds, cut
// into a GIF of its own, must read back as that one frame.
#include "app/controls/GifFile.h"
#include "tests/fuzz/FuzzInput.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  GifInfo info;
  if (!ParseGif(data, size, &info)) return 0;
  for (const GifFrameInfo& frame : info.frames) {
    FUZZ_CHECK(frame.start >= info.headerSize && frame.start < frame.end && frame.end <= size);
    const std::vector<uint8_t> cut = CutGifFrame(data, info, frame);
    GifInfo one;
    FUZZ_CHECK(ParseGif(cut.data(), cut.size(), &one));
    FUZZ_CHECK(one.frames.size() == 1);
    FUZZ_CHECK(one.frames[0].width == frame.width && one.frames[0].height == frame.height);
    FUZZ_CHECK(one.frames[0].delay == frame.delay);
    FrameWaitMs(frame.delay);
  }
  return 0;
}
