#include "app/controls/GifFile.h"

namespace {

int U16At(const uint8_t* p) { return p[0] | (p[1] << 8); }

size_t ColourTableSize(uint8_t flags) {
  return (flags & 0x80) ? 3u * (1u << ((flags & 7) + 1)) : 0u;
}

// The length of the sub-blocks starting at `at`, through their zero
// terminator; 0 when they run past `size`.
size_t SubBlocks(const uint8_t* data, size_t size, size_t at) {
  size_t p = at;
  for (;;) {
    if (p >= size) return 0;
    const size_t n = data[p];
    p += n + 1;
    if (n == 0) return p - at;
  }
}

}  // namespace

bool IsGif(const uint8_t* data, size_t size) {
  return data && size >= 3 && data[0] == 'G' && data[1] == 'I' && data[2] == 'F';
}

bool ParseGif(const uint8_t* data, size_t size, GifInfo* info) {
  *info = GifInfo();
  if (!IsGif(data, size) || size < 13) return false;
  info->width = U16At(data + 6);
  info->height = U16At(data + 8);
  info->headerSize = 13 + ColourTableSize(data[10]);
  if (info->headerSize > size) return false;

  size_t pos = info->headerSize;
  GifFrameInfo frame;
  bool haveControl = false;
  while (pos < size) {
    const uint8_t kind = data[pos];
    if (kind == 0x3B) break;  // trailer
    if (kind == 0x21) {
      if (pos + 2 > size) break;
      const uint8_t label = data[pos + 1];
      size_t length;
      if (label == 0xF9) {
        length = 8;
        if (pos + length > size) break;
        frame.start = pos;
        frame.disposal = (data[pos + 3] >> 2) & 7;
        frame.delay = U16At(data + pos + 4);
        haveControl = true;
      } else if (label == 0xFF || label == 0xFE || label == 0x01) {
        const size_t fixed = label == 0xFF ? 14 : label == 0xFE ? 2 : 15;
        if (pos + fixed > size) break;
        const size_t sub = SubBlocks(data, size, pos + fixed);
        if (sub == 0) break;
        length = fixed + sub;
      } else {
        break;  // an extension this reader does not know
      }
      pos += length;
      continue;
    }
    if (kind != 0x2C) break;
    if (pos + 11 > size) break;
    const size_t table = ColourTableSize(data[pos + 9]);
    if (pos + 11 + table > size) break;
    const size_t sub = SubBlocks(data, size, pos + 11 + table);
    if (sub == 0) break;
    if (!haveControl) {
      frame.start = pos;
      frame.delay = -1;
      frame.disposal = 0;
    }
    frame.left = U16At(data + pos + 1);
    frame.top = U16At(data + pos + 3);
    frame.width = U16At(data + pos + 5);
    frame.height = U16At(data + pos + 7);
    pos += 11 + table + sub;
    frame.end = pos;
    info->frames.push_back(frame);
    frame = GifFrameInfo();
    haveControl = false;
  }
  return !info->frames.empty();
}

std::vector<uint8_t> CutGifFrame(const uint8_t* data, const GifInfo& info, const GifFrameInfo& frame) {
  std::vector<uint8_t> out(data, data + info.headerSize);
  out.insert(out.end(), data + frame.start, data + frame.end);
  out.push_back(0x3B);
  return out;
}

unsigned FrameWaitMs(int delay) { return delay > 4 ? static_cast<unsigned>(delay) * 10u : 100u; }
