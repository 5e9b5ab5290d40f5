#include "engine/audio/EncAudioALAC.h"

#include <new>

#include "engine/audio/AudioParam.h"

int AlacCodecOpen(int sampleRate, int channels, int bitsPerSample, AlacCodecState** out) {
  *out = nullptr;
  uint32_t flags;
  switch (bitsPerSample) {
    case 16: flags = kAlacFlags16; break;
    case 20: flags = kAlacFlags20; break;
    case 24: flags = kAlacFlags24; break;
    case 32: flags = kAlacFlags32; break;
    default: return -1;
  }
  if (channels < 1 || channels > static_cast<int>(kAlacMaxChannels)) return -1;

  auto* s = new (std::nothrow) AlacCodecState();
  if (!s) return -1;
  s->input = new (std::nothrow) AlacStreamDescription();
  s->output = new (std::nothrow) AlacStreamDescription();
  s->encoder = new (std::nothrow) ALACEncoder();
  if (!s->input || !s->output || !s->encoder) {
    AlacCodecClose(s);
    return -1;
  }
  // 20-bit samples travel in 3-byte containers.
  const uint32_t sampleBytes = static_cast<uint32_t>(bitsPerSample + 7) / 8;
  AlacStreamDescription& in = *s->input;
  in.sampleRate = sampleRate;
  in.formatId = kAlacFormatLinearPCM;
  in.formatFlags = kAlacFormatFlagsSignedPacked;
  in.bytesPerPacket = in.bytesPerFrame = sampleBytes * channels;
  in.framesPerPacket = 1;
  in.channelsPerFrame = channels;
  in.bitsPerChannel = bitsPerSample;
  AlacStreamDescription& o = *s->output;
  o.sampleRate = sampleRate;
  o.formatId = kAlacFormatAppleLossless;
  o.formatFlags = flags;
  o.framesPerPacket = kAlacFrameSize;
  o.channelsPerFrame = channels;

  s->encoder->SetFrameSize(kAlacFrameSize);
  if (s->encoder->Configure(o) != 0) {
    AlacCodecClose(s);
    return -1;
  }
  s->inputFrameBytes = static_cast<int>(in.bytesPerFrame * kAlacFrameSize);
  // Input size + 8 holds any stereo frame; the encoder's own limit holds any
  // frame of any channel count.
  const int limit = static_cast<int>(s->encoder->OutputSizeLimit());
  s->outputBufferSize = s->inputFrameBytes + 8 > limit ? s->inputFrameBytes + 8 : limit;
  s->outputBuffer = new (std::nothrow) uint8_t[s->outputBufferSize];
  if (!s->outputBuffer) {
    AlacCodecClose(s);
    return -1;
  }
  *out = s;
  return 0;
}

uint8_t* AlacCodecEncode(AlacCodecState* s, const uint8_t* pcm, int* ioBytes) {
  if (!s) return nullptr;
  if (s->encoder->Encode(*s->input, *s->output, pcm, s->outputBuffer, ioBytes) != 0)
    return nullptr;
  return s->outputBuffer;
}

void AlacCodecClose(AlacCodecState* s) {
  if (!s) return;
  delete s->encoder;
  delete s->input;
  delete s->output;
  delete[] s->outputBuffer;
  delete s;
}

CEncAudioALAC::~CEncAudioALAC() { Uninit(); }

int CEncAudioALAC::OpenCodec() {
  AlacCodecState* s = nullptr;
  const int rc = AlacCodecOpen(m_pAudioParam->SampleRate, m_pAudioParam->Channels,
                               m_pAudioParam->BitsPerSample, &s);
  codec_ = s;
  return rc;
}

void CEncAudioALAC::CloseCodec() { AlacCodecClose(State()); }

uint8_t* CEncAudioALAC::EncodeFrame(const uint8_t* pcm, int* ioBytes) {
  return AlacCodecEncode(State(), pcm, ioBytes);
}
