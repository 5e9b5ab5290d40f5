// Walking the blocks of a GIF file and cutting it into one-frame GIFs, so a
// decoder that only reads a file's first frame can decode every frame.
// Plain bytes in and out: no Windows headers, nothing read past the size.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

struct GifFrameInfo {
  size_t start = 0;   // first byte of the frame: its graphic control extension, or its image descriptor
  size_t end = 0;     // one past the last byte of its image data
  int left = 0, top = 0, width = 0, height = 0;  // the image descriptor's
  int delay = -1;     // hundredths of a second; -1 without a graphic control extension
  int disposal = 0;   // bits 2..4 of the extension's packed byte
};

struct GifInfo {
  int width = 0, height = 0;   // logical screen
  size_t headerSize = 0;       // 13 + the global colour table
  std::vector<GifFrameInfo> frames;
};

// True for data that starts with "GIF" (the version is not checked).
bool IsGif(const uint8_t* data, size_t size);

// Reads the header and every frame that lies wholly within `size`; the
// reading ends at the trailer, at a block it does not know, or at a block
// that would reach past the end. False when not even one frame is there.
bool ParseGif(const uint8_t* data, size_t size, GifInfo* info);

// One frame as a GIF file of its own: the header and global colour table,
// the frame's bytes, the trailer.
std::vector<uint8_t> CutGifFrame(const uint8_t* data, const GifInfo& info, const GifFrameInfo& frame);

// How long a frame stays: its delay x 10 ms when above 4 hundredths;
// otherwise, and for a frame without a graphic control extension, 100 ms.
unsigned FrameWaitMs(int delay);
