// libVencBridge.dll: the engine's H.264 encoder over x264. See VencBridge.h
// for the interface, the settings and the rate-control mapping.
#include "bridges/VencBridge/VencBridge.h"

#include <windows.h>

#include <malloc.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <new>
#include <vector>

extern "C" {
#include <x264.h>
}

namespace {

// The configuration of the next Kvx264Alloc; Init and Alloc may come from
// different threads of different sessions.
SRWLOCK g_configLock = SRWLOCK_INIT;
KvEncConfig g_config = {0, 0, 0, 27.0f, 0, 6000, {0, 0, 0}, 1, 10000, 0};

constexpr int kNominalFps = 30;
constexpr int kMinSide = 16;
constexpr int kMaxSide = 8192;
constexpr int kNalSei = 6;

struct Encoder {
  x264_t* x264 = nullptr;
  int width = 0;
  int height = 0;
  uint8_t* planes[3] = {nullptr, nullptr, nullptr};
  std::vector<uint8_t> output;
};

Encoder* EncoderOf(KvEncHandle* handle) {
  return handle ? static_cast<Encoder*>(handle->bridgePrivate) : nullptr;
}

void LogToDebugger(void*, int level, const char* fmt, va_list ap) {
  if (level > X264_LOG_WARNING) return;
  char line[512];
  int n = snprintf(line, sizeof(line), "[x264] ");
  vsnprintf(line + n, sizeof(line) - n, fmt, ap);
  OutputDebugStringA(line);
}

float RateFactorFor(const KvEncConfig& c) {
  float base = c.rateFactor;
  if (!std::isfinite(base) || base < 18.0f || base > 51.0f) base = 27.0f;
  float crf = base - (static_cast<float>(c.qualityKbps) - 1000.0f) / 1000.0f;
  if (crf > base) crf = base;
  if (crf < 18.0f) crf = 18.0f;
  return crf;
}

bool FillParams(const KvEncConfig& c, int width, int height, x264_param_t* p) {
  if (x264_param_default_preset(p, "superfast", "zerolatency") < 0) return false;
  p->i_csp = X264_CSP_I420;
  p->i_width = width;
  p->i_height = height;
  p->i_fps_num = kNominalFps;
  p->i_fps_den = 1;
  p->i_timebase_num = 1;
  p->i_timebase_den = 1000000;  // pts in microseconds, passed through
  p->b_vfr_input = 0;
  p->i_bframe = 0;
  p->rc.i_lookahead = 0;
  p->i_sync_lookahead = 0;
  p->i_frame_reference = c.refFrames > 0 && c.refFrames <= 16 ? c.refFrames : 1;
  p->i_keyint_max = c.keyintMax > 0 ? c.keyintMax : X264_KEYINT_MAX_INFINITE;
  p->i_scenecut_threshold = 0;
  p->b_repeat_headers = 1;
  p->b_annexb = 0;  // 4-byte big-endian lengths in place of start codes
  p->b_aud = 0;
  p->i_level_idc = 40;
  p->vui.i_colorprim = 6;  // SMPTE 170M (BT.601)
  p->vui.i_transfer = 6;
  p->vui.i_colmatrix = 6;
  p->vui.b_fullrange = 0;
  p->i_log_level = X264_LOG_WARNING;
  p->pf_log = LogToDebugger;
  p->b_sliced_threads = 1;
  p->i_threads = X264_THREADS_AUTO;

  if (c.rateKbps > 0) {
    p->rc.i_rc_method = X264_RC_ABR;
    p->rc.i_bitrate = c.rateKbps;
    p->rc.i_vbv_max_bitrate = c.rateKbps;
    p->rc.i_vbv_buffer_size = c.rateKbps;
  } else {
    p->rc.i_rc_method = X264_RC_CRF;
    p->rc.f_rf_constant = RateFactorFor(c);
    if (c.qualityKbps > 0) {
      p->rc.i_vbv_max_bitrate = c.qualityKbps;
      p->rc.i_vbv_buffer_size = c.qualityKbps;
    }
  }
  return x264_param_apply_profile(p, "high") == 0;
}

void ClearOutput(KvEncHandle* h) {
  h->outSize = 0;
  h->frameType = KV_FRAME_NONE;
  h->outData = nullptr;
}

}  // namespace

extern "C" {

int Kvx264Init(const KvEncConfig* config) {
  if (!config) return -1;
  AcquireSRWLockExclusive(&g_configLock);
  g_config = *config;
  ReleaseSRWLockExclusive(&g_configLock);
  return 0;
}

KvEncHandle* Kvx264Alloc(int width, int height) {
  if (width < kMinSide || height < kMinSide || width > kMaxSide || height > kMaxSide ||
      (width & 1) || (height & 1))
    return nullptr;
  AcquireSRWLockShared(&g_configLock);
  const KvEncConfig config = g_config;
  ReleaseSRWLockShared(&g_configLock);

  x264_param_t params;
  if (!FillParams(config, width, height, &params)) return nullptr;
  Encoder* enc = new (std::nothrow) Encoder();
  KvEncHandle* handle = static_cast<KvEncHandle*>(calloc(1, sizeof(KvEncHandle)));
  if (!enc || !handle) {
    delete enc;
    free(handle);
    return nullptr;
  }
  enc->x264 = x264_encoder_open(&params);
  if (!enc->x264) {
    delete enc;
    free(handle);
    return nullptr;
  }
  enc->width = width;
  enc->height = height;
  handle->bridgePrivate = enc;
  return handle;
}

void Kvx264Free(KvEncHandle* handle) {
  Encoder* enc = EncoderOf(handle);
  if (enc) {
    if (enc->x264) x264_encoder_close(enc->x264);
    delete enc;
  }
  free(handle);
}

int Kvx264SetPlaneBuffer(KvEncHandle* handle, int plane, uint8_t* address) {
  Encoder* enc = EncoderOf(handle);
  if (!enc || plane < 0 || plane > 2) return -1;
  enc->planes[plane] = address;
  return 0;
}

uint8_t* Kvx264GetPlaneAddr(KvEncHandle* handle, int plane) {
  Encoder* enc = EncoderOf(handle);
  if (!enc || plane < 0 || plane > 2) return nullptr;
  return enc->planes[plane];
}

int Kvx264EncodeFrame(KvEncHandle* handle) {
  if (!handle) return 0;
  ClearOutput(handle);
  Encoder* enc = EncoderOf(handle);
  if (!enc || !enc->x264 || !enc->planes[0] || !enc->planes[1] || !enc->planes[2]) return 0;

  x264_picture_t in;
  x264_picture_init(&in);
  in.img.i_csp = X264_CSP_I420;
  in.img.i_plane = 3;
  for (int i = 0; i < 3; ++i) {
    in.img.plane[i] = enc->planes[i];
    in.img.i_stride[i] = i == 0 ? enc->width : enc->width / 2;
  }
  in.i_pts = handle->pts;
  in.i_type = handle->forceIdr ? X264_TYPE_IDR : X264_TYPE_AUTO;
  handle->forceIdr = 0;

  x264_picture_t out;
  x264_nal_t* nals = nullptr;
  int nalCount = 0;
  const int bytes = x264_encoder_encode(enc->x264, &nals, &nalCount, &in, &out);
  if (bytes <= 0 || !nals) return 0;

  // Each unit's payload already starts with its 4-byte big-endian length.
  std::vector<uint8_t>& buf = enc->output;
  buf.clear();
  try {
    for (int i = 0; i < nalCount; ++i) {
      if (nals[i].i_type == kNalSei || nals[i].i_payload <= 4) continue;
      buf.insert(buf.end(), nals[i].p_payload, nals[i].p_payload + nals[i].i_payload);
    }
  } catch (const std::bad_alloc&) {
    buf.clear();
  }
  if (buf.empty()) return 0;
  handle->outData = buf.data();
  handle->outSize = static_cast<int32_t>(buf.size());
  switch (out.i_type) {
    case X264_TYPE_IDR: handle->frameType = KV_FRAME_IDR; break;
    case X264_TYPE_I: handle->frameType = KV_FRAME_I; break;
    default: handle->frameType = KV_FRAME_P; break;
  }
  handle->pts = out.i_pts;
  return handle->outSize;
}

void* Kvx264MemMalloc(size_t size) {
  if (size == 0) return nullptr;
  void* p = _aligned_malloc(size, 64);
  if (p) memset(p, 0, size);
  return p;
}

void Kvx264MemFree(void* memory) {
  if (memory) _aligned_free(memory);
}

}  // extern "C"
