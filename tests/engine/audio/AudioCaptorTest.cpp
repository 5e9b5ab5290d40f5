#include "engine/audio/CapAudioCoreAudio.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "foundation/log/Logger.h"
#include "support/TempDir.h"
#include "support/WaitFactor.h"
#include "ToneUtil.h"

namespace {

// Records what the captor hands over, as the audio sender would receive it.
class RecordingSink : public IAudioSink {
 public:
  void OnAudioFrame(AudioChunk* chunk) override {
    sizes.push_back(chunk->size);
    if (chunk->size) pcm.insert(pcm.end(), chunk->data, chunk->data + chunk->size);
    else ++empties;
  }
  std::vector<uint32_t> sizes;
  std::vector<uint8_t> pcm;
  int empties = 0;
};

AudioParam AacParam() {
  AudioParam p;
  p.FrameSize = kAacEldFrameSize;
  return p;
}

std::string ReadAll(const std::wstring& path) {
  FILE* f = _wfopen(path.c_str(), L"rb");
  if (!f) return {};
  std::string s;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof(buf), f)) > 0) s.append(buf, n);
  fclose(f);
  return s;
}

}  // namespace

// Under Wine there is no loopback capture (no device without a sound server;
// with one, the capture service is refused). Whatever the cause, the captor
// must say so, refuse to start, stop and go away cleanly, in bounded time.
TEST(CapAudioCoreAudio, NoLoopbackDeviceFailsCleanly) {
  TempDir dir;
  const std::wstring log = dir.file(L"audio.log");
  ZtLogger::Instance().Init(const_cast<wchar_t*>(log.c_str()));

  RecordingSink sink;
  AudioParam p = AacParam();
  const DWORD t0 = GetTickCount();
  auto captor = std::make_unique<CCapAudioCoreAudio>();
  const int init = captor->Init(&sink, &p);
  if (init == 0) {
    // A machine with a working loopback device: the thread must run and stop.
    EXPECT_EQ(captor->Start(), 0);
    Sleep(100);
    EXPECT_EQ(captor->Stop(), 0);
    EXPECT_FALSE(captor->IsRunning());
    captor->Uninit();
    captor.reset();
    ZtLogger::Instance().Uninit();
    GTEST_SKIP() << "a loopback device exists here; the failure path cannot be shown";
  }
  EXPECT_EQ(init, -1);
  EXPECT_FALSE(captor->StreamOpen());
  EXPECT_EQ(captor->Start(), -1);
  EXPECT_FALSE(captor->IsRunning());
  EXPECT_EQ(captor->Stop(), 0);
  EXPECT_EQ(captor->Uninit(), 0);
  // A second Init retries from scratch and fails the same way.
  EXPECT_EQ(captor->Init(&sink, &p), -1);
  captor.reset();
  const DWORD elapsed = GetTickCount() - t0;
  EXPECT_LT(elapsed, testwait::Ms(60000));
  EXPECT_TRUE(sink.sizes.empty());
  ZtLogger::Instance().Uninit();

  const std::string text = ReadAll(log);
  EXPECT_NE(text.find("[Audio]==== InitCoreAudio ===="), std::string::npos) << text;
  EXPECT_NE(text.find("[Audio]==== InitCoreAudio Done ===="), std::string::npos) << text;
  EXPECT_NE(text.find("[Audio]CoreAudio is not init"), std::string::npos) << text;
  const char* causes[] = {"[Audio]CoCreateInstance fail", "[Audio]GetDefaultAudioEndpoint fail",
                          "[Audio]Activate audio client fail", "[Audio]GetMixFormat fail",
                          "[Audio]audio client initialize fail", "[Audio]get buffer size fail",
                          "[Audio]get audio capture service fail", "[Audio]get device period fail"};
  int found = 0;
  for (const char* c : causes) {
    if (text.find(c) == std::string::npos) continue;
    ++found;
    printf("captor failure logged: %s (after %lu ms)\n", c, static_cast<unsigned long>(elapsed));
  }
  EXPECT_GE(found, 1) << "no cause logged:\n" << text;
}

// The path from a captured packet to the sink, without a device.
TEST(CapAudioCoreAudio, PacketsBecomeFramePiecesAt44100) {
  RecordingSink sink;
  AudioParam p = AacParam();
  CCapAudioCoreAudio captor;
  captor.CAudioCaptor::Init(&sink, &p);
  ASSERT_EQ(captor.PrepareStream(44100, 8820, 2), 0);
  EXPECT_FALSE(captor.Resampling());
  EXPECT_EQ(p.SampleRate, 44100);
  EXPECT_EQ(captor.BufferDuration(), 2000000);
  captor.MakeFilter();

  const std::vector<int16_t> pcm = tone::Make(44100, 2000, {1000, 500}, {9000, 9000});
  const uint8_t* bytes = reinterpret_cast<const uint8_t*>(pcm.data());
  EXPECT_TRUE(captor.DeliverPacket(bytes, 480, false));
  EXPECT_TRUE(captor.DeliverPacket(bytes + 1920, 441, false));
  EXPECT_TRUE(captor.DeliverPacket(bytes + 1920 + 1764, 1000, false));  // more than a frame
  const std::vector<uint32_t> expect = {1920, 1764, 1920, 1920, 160};
  EXPECT_EQ(sink.sizes, expect);
  ASSERT_EQ(sink.pcm.size(), size_t(1921) * 4);
  EXPECT_EQ(memcmp(sink.pcm.data(), bytes, sink.pcm.size()), 0);

  // A packet flagged silent is sent as zeros, whatever its buffer holds.
  sink.sizes.clear();
  sink.pcm.clear();
  EXPECT_TRUE(captor.DeliverPacket(bytes, 441, true));
  ASSERT_EQ(sink.pcm.size(), 1764u);
  for (uint8_t b : sink.pcm) ASSERT_EQ(b, 0);
  EXPECT_TRUE(captor.DeliverPacket(nullptr, 100, true));
  // Silent with no frames, or no data: nothing to send.
  EXPECT_FALSE(captor.DeliverPacket(bytes, 0, true));
  EXPECT_FALSE(captor.DeliverPacket(nullptr, 100, false));

  // A packet larger than the capture buffer is taken in slices.
  CCapAudioCoreAudio small;
  RecordingSink smallSink;
  small.CAudioCaptor::Init(&smallSink, &p);
  ASSERT_EQ(small.PrepareStream(44100, 300, 2), 0);
  small.MakeFilter();
  EXPECT_TRUE(small.DeliverPacket(bytes, 1000, false));
  ASSERT_EQ(smallSink.pcm.size(), 4000u);
  EXPECT_EQ(memcmp(smallSink.pcm.data(), bytes, 4000), 0);
}

TEST(CapAudioCoreAudio, LongSilenceSendsOneEmptyChunk) {
  RecordingSink sink;
  AudioParam p = AacParam();
  CCapAudioCoreAudio captor;
  captor.CAudioCaptor::Init(&sink, &p);
  ASSERT_EQ(captor.PrepareStream(44100, 8820, 2), 0);
  captor.MakeFilter();
  for (int i = 0; i < kAudioEmptyPollLimit; ++i) EXPECT_FALSE(captor.EmptyPoll()) << i;
  EXPECT_TRUE(captor.EmptyPoll());
  EXPECT_EQ(sink.empties, 1);
  // Sound in between starts the count again.
  for (int i = 0; i < 10; ++i) captor.EmptyPoll();
  std::vector<int16_t> pcm(960, 100);
  captor.DeliverPacket(reinterpret_cast<uint8_t*>(pcm.data()), 480, false);
  for (int i = 0; i < kAudioEmptyPollLimit; ++i) EXPECT_FALSE(captor.EmptyPoll());
  EXPECT_TRUE(captor.EmptyPoll());
  EXPECT_EQ(sink.empties, 2);
}

// A 48 kHz device: the captor resamples and the sink sees 44.1 kHz pieces
// with the tone where it was.
TEST(CapAudioCoreAudio, ResamplesA48000Device) {
  RecordingSink sink;
  AudioParam p = AacParam();
  CCapAudioCoreAudio captor;
  captor.CAudioCaptor::Init(&sink, &p);
  ASSERT_EQ(captor.PrepareStream(48000, 9600, 2), 0);
  EXPECT_TRUE(captor.Resampling());
  EXPECT_EQ(p.SampleRate, 44100);
  captor.MakeFilter();
  const std::vector<int16_t> pcm = tone::Make(48000, 480 * 100, {1000, 1000}, {16384, 16384});
  for (int i = 0; i < 100; ++i)
    captor.DeliverPacket(reinterpret_cast<const uint8_t*>(&pcm[i * 960]), 480, false);
  for (size_t i = 3; i < sink.sizes.size(); ++i) EXPECT_NEAR(sink.sizes[i], 1764.0, 8.0) << i;
  std::vector<int16_t> out(sink.pcm.size() / 2);
  memcpy(out.data(), sink.pcm.data(), out.size() * 2);
  const std::vector<double> left = tone::Channel(out, 2, 0, 1000);
  EXPECT_NEAR(tone::Frequency(left, 44100), 1000.0, 0.5);
  EXPECT_NEAR(tone::Db(tone::Rms(left) / (16384 / std::sqrt(2.0))), 0.0, 0.1);
}

// A rate the resampler cannot take: nothing is sent rather than audio at a
// rate the receiver was not told about.
TEST(CapAudioCoreAudio, UnconvertibleRateDropsTheAudio) {
  RecordingSink sink;
  AudioParam p = AacParam();
  p.BitsPerSample = 24;  // the resampler takes 16-bit PCM only
  p.BlockAlign = 6;
  CCapAudioCoreAudio captor;
  captor.CAudioCaptor::Init(&sink, &p);
  EXPECT_EQ(captor.PrepareStream(48000, 9600, 2), -1);
  EXPECT_FALSE(captor.Resampling());
  EXPECT_EQ(captor.Start(), -1);
}
