// Encodes a file of 16-bit stereo 44100 Hz PCM with CEncAudioAAC (AAC-ELD,
// 480-sample frames) in 1920-byte chunks, as the capture thread feeds it,
// and prints the speed as a real-time factor (seconds of audio encoded per
// second). Usage: bench_aac_eld <pcm file> [repeats]
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "engine/audio/EncAudioAAC.h"

int main(int argc, char** argv) {
  if (argc < 2) {
    fprintf(stderr, "usage: bench_aac_eld <pcm file> [repeats]\n");
    return 2;
  }
  const int repeats = argc > 2 ? atoi(argv[2]) : 3;
  FILE* f = fopen(argv[1], "rb");
  if (!f) {
    fprintf(stderr, "cannot open %s\n", argv[1]);
    return 2;
  }
  std::vector<uint8_t> pcm;
  uint8_t buf[65536];
  size_t n;
  while ((n = fread(buf, 1, sizeof(buf), f)) > 0) pcm.insert(pcm.end(), buf, buf + n);
  fclose(f);
  const double audioSeconds = double(pcm.size()) / 4 / 44100;

  LARGE_INTEGER freq;
  QueryPerformanceFrequency(&freq);
  std::vector<double> rtfs;
  long long outBytes = 0;
  int frames = 0;
  for (int r = 0; r < repeats; ++r) {
    AudioParam p;
    p.SampleRate = 44100;
    p.FrameSize = kAacEldFrameSize;
    CEncAudioAAC enc;
    if (enc.Init(&p) != 0) {
      fprintf(stderr, "encoder did not open\n");
      return 1;
    }
    outBytes = 0;
    frames = 0;
    LARGE_INTEGER t0, t1;
    QueryPerformanceCounter(&t0);
    for (size_t off = 0; off + 1920 <= pcm.size(); off += 1920) {
      AudioChunk c;
      c.data = &pcm[off];
      c.size = 1920;
      const int got = enc.Encode(&c);
      if (got > 0) {
        outBytes += got;
        ++frames;
      }
    }
    QueryPerformanceCounter(&t1);
    enc.Uninit();
    const double seconds = double(t1.QuadPart - t0.QuadPart) / freq.QuadPart;
    rtfs.push_back(audioSeconds / seconds);
  }
  std::sort(rtfs.begin(), rtfs.end());
  printf("audio_seconds %.3f\nframes %d\nbytes %lld\nrtf_median %.2f\nrtf_min %.2f\nrtf_max %.2f\n",
         audioSeconds, frames, outBytes, rtfs[rtfs.size() / 2], rtfs.front(), rtfs.back());
  return 0;
}
