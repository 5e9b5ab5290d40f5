// venc-roundtrip OUTDIR [WIDTH HEIGHT FRAMES]
// Draws FRAMES pictures of the animated test pattern, converts them to I420
// and encodes them through CEncVideoH264 and libVencBridge with the
// session's default settings. Writes OUTDIR/stream.h264 (Annex B: each
// length prefix turned into a start code) and OUTDIR/reference.yuv (the
// I420 pictures that were encoded) for check_roundtrip.py to compare.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "classlib/Gdi.h"
#include "engine/capture/ColorConvert.h"
#include "engine/encode/EncVideoH264.h"
#include "tools/test-pattern/Pattern.h"

namespace {

bool WriteAnnexB(FILE* f, const EncodedFrame& frame) {
  static const uint8_t kStart[4] = {0, 0, 0, 1};
  size_t at = 0;
  const size_t size = static_cast<size_t>(frame.size);
  while (at + 4 <= size) {
    const uint8_t* p = frame.data + at;
    const size_t n = (size_t(p[0]) << 24) | (size_t(p[1]) << 16) | (size_t(p[2]) << 8) | p[3];
    if (n == 0 || n > size - at - 4) return false;
    fwrite(kStart, 1, 4, f);
    fwrite(p + 4, 1, n, f);
    at += 4 + n;
  }
  return at == size;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    fprintf(stderr, "usage: venc-roundtrip OUTDIR [WIDTH HEIGHT FRAMES]\n");
    return 2;
  }
  const std::string out = argv[1];
  const int width = argc > 4 ? atoi(argv[2]) : 1280;
  const int height = argc > 4 ? atoi(argv[3]) : 720;
  const int frames = argc > 4 ? atoi(argv[4]) : 30;

  cl::CClientDC screen(nullptr);
  cl::CMemoryDC dc(screen);
  BITMAPINFO bi{};
  bi.bmiHeader.biSize = sizeof(bi.bmiHeader);
  bi.bmiHeader.biWidth = width;
  bi.bmiHeader.biHeight = -height;
  bi.bmiHeader.biPlanes = 1;
  bi.bmiHeader.biBitCount = 32;
  void* bits = nullptr;
  cl::CBitmap bmp(CreateDIBSection(screen, &bi, DIB_RGB_COLORS, &bits, nullptr, 0));
  cl::ScopedSelect select(dc, bmp);
  if (!dc.get() || !bits || !select.ok()) {
    fprintf(stderr, "venc-roundtrip: no drawing surface\n");
    return 1;
  }

  VideoParam v;
  v.width = width;
  v.height = height;
  CEncVideoH264 encoder;
  if (encoder.Config(&v, 0) != CEncVideoH264::kOk) {
    fprintf(stderr, "venc-roundtrip: encoder could not be set up\n");
    return 1;
  }
  FILE* stream = fopen((out + "\\stream.h264").c_str(), "wb");
  FILE* reference = fopen((out + "\\reference.yuv").c_str(), "wb");
  if (!stream || !reference) {
    fprintf(stderr, "venc-roundtrip: cannot write into %s\n", out.c_str());
    return 1;
  }
  std::vector<uint8_t> i420(I420Size(width, height));
  int keyFrames = 0, outputs = 0;
  long long bytes = 0;
  for (int i = 0; i < frames; ++i) {
    RECT rc{0, 0, width, height};
    DrawTestPattern(dc, rc, i * 3, true);
    GdiFlush();
    if (ConvertBgraToI420(width, height, static_cast<uint8_t*>(bits), i420.data()) <= 0) return 1;
    fwrite(i420.data(), 1, i420.size(), reference);
    EncodedFrame f;
    if (encoder.Encode(i420.data(), &f) <= 0) {
      fprintf(stderr, "venc-roundtrip: no output for picture %d\n", i);
      return 1;
    }
    if (!WriteAnnexB(stream, f)) {
      fprintf(stderr, "venc-roundtrip: malformed output for picture %d\n", i);
      return 1;
    }
    keyFrames += f.keyFrame == 1;
    ++outputs;
    bytes += f.size;
  }
  fclose(stream);
  fclose(reference);
  printf("venc-roundtrip: %dx%d, %d pictures, %d outputs, %d key frames, %lld bytes\n", width,
         height, frames, outputs, keyFrames, bytes);
  return keyFrames >= 1 ? 0 : 1;
}
