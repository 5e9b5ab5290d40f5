#include "engine/audio/EncAudioAAC.h"

#include <fdk-aac/aacenc_lib.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <new>

#include "foundation/log/Logger.h"

namespace {

// The bit rate mode the encoder asks for first: fixed frames. fdk-aac 2.0
// knows only 0 (constant) and 1..5 (variable) and refuses it.
constexpr UINT kFixedFrameBitrateMode = 8;

std::atomic<bool> g_fallbackLogged{false};

}  // namespace

int AacEldEncoderOpen(int sampleRate, int channels, AacEldState** out) {
  *out = nullptr;
  if (channels < 1 || channels > 6) {
    fprintf(stderr, "Unsupported WAV channels %d\n", channels);
    return -1;
  }
  // Channel counts 1..6 map onto the modes of the same number (MODE_1 ..
  // MODE_1_2_2_1).
  const CHANNEL_MODE mode = static_cast<CHANNEL_MODE>(channels);
  HANDLE_AACENCODER h = nullptr;
  if (aacEncOpen(&h, 0, channels) != AACENC_OK) {
    fprintf(stderr, "Unable to open encoder\n");
    return -2;
  }
  int rc = 0;
  if (aacEncoder_SetParam(h, AACENC_AOT, AOT_ER_AAC_ELD) != AACENC_OK) {
    fprintf(stderr, "Unable to set the AOT\n");
    rc = -3;
  } else if (aacEncoder_SetParam(h, AACENC_SAMPLERATE, sampleRate) != AACENC_OK) {
    fprintf(stderr, "Unable to set the AOT\n");
    rc = -5;
  } else if (aacEncoder_SetParam(h, AACENC_CHANNELMODE, mode) != AACENC_OK) {
    fprintf(stderr, "Unable to set the channel mode\n");
    rc = -6;
  } else if (aacEncoder_SetParam(h, AACENC_CHANNELORDER, 1) != AACENC_OK) {
    fprintf(stderr, "Unable to set the wav channel order\n");
    rc = -7;
  } else if (aacEncoder_SetParam(h, AACENC_BITRATEMODE, kFixedFrameBitrateMode) != AACENC_OK) {
    // This library has no fixed-frame mode. Constant bit rate is the nearest
    // it offers (with ELD it keeps the bit reservoir tiny, so frame sizes stay
    // even). 64 kbit/s per channel, 128 kbit/s for the stereo stream, keeps
    // full-band ELD without SBR close to transparent (about 1.45 bits per
    // sample, next to the library's own 1.5-bit default of 132.3 kbit/s) and
    // makes frames of about 174 bytes, far below one datagram.
    const UINT bitrate = static_cast<UINT>(kAacEldFallbackBitratePerChannel * channels);
    // Below 128 kbit/s the library would switch SBR on by itself (960-sample
    // frames, another AudioSpecificConfig): keep it off explicitly.
    if (aacEncoder_SetParam(h, AACENC_BITRATEMODE, 0) != AACENC_OK ||
        aacEncoder_SetParam(h, AACENC_BITRATE, bitrate) != AACENC_OK ||
        aacEncoder_SetParam(h, AACENC_SBR_MODE, 0) != AACENC_OK) {
      fprintf(stderr, "Unable to set the VBR bitrate mode\n");
      rc = -8;
    } else if (!g_fallbackLogged.exchange(true)) {
      ZtLogger::Instance().Warn(
          "[Audio]AAC-ELD: fixed-frame bit rate mode refused by the encoder library, "
          "using constant bit rate %u bit/s",
          bitrate);
    }
  }
  if (rc == 0) {
    if (aacEncoder_SetParam(h, AACENC_TRANSMUX, TT_MP4_RAW) != AACENC_OK) {
      fprintf(stderr, "Unable to set the raw transmux\n");
      rc = -10;
    } else if (aacEncoder_SetParam(h, AACENC_AFTERBURNER, 1) != AACENC_OK) {
      fprintf(stderr, "Unable to set the afterburner mode\n");
      rc = -11;
    }
  }
  if (rc == 0) {
    aacEncoder_SetParam(h, AACENC_GRANULE_LENGTH, kAacEldFrameSize);
    aacEncoder_SetParam(h, AACENC_SBR_RATIO, 1);
    if (aacEncEncode(h, nullptr, nullptr, nullptr, nullptr) != AACENC_OK) {
      fprintf(stderr, "Unable to initialize the encoder\n");
      rc = -14;
    }
  }
  AACENC_InfoStruct info;
  memset(&info, 0, sizeof(info));
  if (rc == 0 && aacEncInfo(h, &info) != AACENC_OK) {
    fprintf(stderr, "Unable to get the encoder info\n");
    rc = -15;
  }
  AacEldState* s = nullptr;
  if (rc == 0) {
    s = new (std::nothrow) AacEldState();
    if (!s) rc = -2;
  }
  if (rc != 0) {
    aacEncClose(&h);
    return rc;
  }
  s->frameLength = static_cast<int>(info.frameLength);
  s->handle = h;
  *out = s;
  return 0;
}

uint8_t* AacEldEncoderEncode(AacEldState* s, const uint8_t* pcm, int* ioBytes) {
  if (!s || !pcm || *ioBytes < 0) {
    fprintf(stderr, "Encoding failed\n");
    return nullptr;
  }
  void* inPtr = const_cast<uint8_t*>(pcm);
  INT inId = IN_AUDIO_DATA, inSize = *ioBytes, inElSize = 2;
  void* outPtr = s->out;
  INT outId = OUT_BITSTREAM_DATA, outSize = sizeof(s->out), outElSize = 1;

  AACENC_BufDesc inBuf{}, outBuf{};
  inBuf.numBufs = 1;
  inBuf.bufs = &inPtr;
  inBuf.bufferIdentifiers = &inId;
  inBuf.bufSizes = &inSize;
  inBuf.bufElSizes = &inElSize;
  outBuf.numBufs = 1;
  outBuf.bufs = &outPtr;
  outBuf.bufferIdentifiers = &outId;
  outBuf.bufSizes = &outSize;
  outBuf.bufElSizes = &outElSize;

  AACENC_InArgs inArgs{};
  AACENC_OutArgs outArgs{};
  inArgs.numInSamples = *ioBytes / 2;
  const AACENC_ERROR err = aacEncEncode(s->handle, &inBuf, &outBuf, &inArgs, &outArgs);
  if (err != AACENC_OK && err != AACENC_ENCODE_EOF) {
    fprintf(stderr, "Encoding failed\n");
    return nullptr;
  }
  *ioBytes = outArgs.numOutBytes;
  return s->out;
}

void AacEldEncoderClose(AacEldState* s) {
  if (!s) return;
  aacEncClose(&s->handle);
  delete s;
}

int AacEldEncoderConfig(AacEldState* s, uint8_t* buf, int bufSize) {
  if (!s || !s->handle) return 0;
  AACENC_InfoStruct info;
  memset(&info, 0, sizeof(info));
  if (aacEncInfo(s->handle, &info) != AACENC_OK) return 0;
  const int n = static_cast<int>(info.confSize);
  if (n <= 0 || n > bufSize) return 0;
  memcpy(buf, info.confBuf, n);
  return n;
}

CEncAudioAAC::~CEncAudioAAC() { Uninit(); }

int CEncAudioAAC::OpenCodec() {
  AacEldState* s = nullptr;
  const int rc = AacEldEncoderOpen(m_pAudioParam->SampleRate, m_pAudioParam->Channels, &s);
  codec_ = s;
  return rc;
}

void CEncAudioAAC::CloseCodec() { AacEldEncoderClose(State()); }

uint8_t* CEncAudioAAC::EncodeFrame(const uint8_t* pcm, int* ioBytes) {
  return AacEldEncoderEncode(State(), pcm, ioBytes);
}
