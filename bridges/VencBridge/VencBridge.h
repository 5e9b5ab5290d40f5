/* The H.264 encoder bridge libVencBridge.dll: the C interface between the
 * mirroring engine (engine/encode/EncVideoH264) and the bridge over x264.
 * Plain C calls (cdecl on i686), looked up by name at run time.
 *
 * Call order: Kvx264Init(config) once per configuration, then
 * Kvx264Alloc(width, height) for a handle; per picture
 * Kvx264SetPlaneBuffer for the three I420 planes, write `pts`, then
 * Kvx264EncodeFrame; Kvx264Free when done. One handle is used by one thread
 * at a time; different handles are independent.
 *
 * Encoder settings (low latency, one picture in, one picture out):
 *   preset superfast, tune zerolatency: no B-frames, no lookahead, no frame
 *   threads (slice threads instead), so every encode returns its own picture;
 *   one reference frame; profile High, level 4.0 (what the codec packet
 *   announces); no scene-cut key frames (the stream runs over TCP, nothing to
 *   recover from, and a P frame with intra blocks covers a scene change at a
 *   fraction of an IDR's burst); BT.601 limited-range colour signalled in the
 *   VUI (what the engine's BGRA->I420 conversion produces).
 *
 * Rate control, from the configuration record:
 *   rateKbps > 0   average bit rate of rateKbps, with a VBV of max rate
 *                  rateKbps and a buffer of rateKbps (one second): the
 *                  session's low quality levels are bandwidth limits.
 *   rateKbps == 0  constant rate factor
 *                      crf = rateFactor - (qualityKbps - 1000) / 1000
 *                  clamped to [18, rateFactor] (27.0 gives 27 at quality
 *                  1000, 22 at the default 6000, 18 from 10000 up), capped by
 *                  a VBV of max rate qualityKbps and a buffer of qualityKbps
 *                  when qualityKbps > 0. A still screen then costs almost
 *                  nothing, and bursts (scrolling, video) stay within the cap.
 *   The bit rates hold at the nominal 30 frames per second the bridge assumes
 *   (the record carries no frame rate, and x264's timestamp-driven rate
 *   control would add a frame of delay); at 60 fps the real rates double.
 *   keyintMax is the largest distance between IDR frames in frames;
 *   refFrames the number of reference frames (1). bframes is ignored: B-frames
 *   would delay every picture.
 *
 * Output of one encode: the picture's NAL units, each as a 4-byte big-endian
 * length and the unit (no start codes). An IDR output begins
 *   [len][SPS][len][PPS][len][IDR slice]...
 * (SEI units are left out). `frameType` 1 marks an IDR.
 */
#ifndef TESS_VENC_BRIDGE_H
#define TESS_VENC_BRIDGE_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Configuration record handed to Kvx264Init: 48 bytes, twelve 32-bit fields. */
typedef struct KvEncConfig {
  int32_t width;        /* 0: encoded width (even) */
  int32_t height;       /* 4: encoded height (even) */
  int32_t bframes;      /* 8: ignored, always 0 B-frames */
  float rateFactor;     /* 12: CRF at quality 1000 and below (27.0) */
  int32_t rateKbps;     /* 16: 0 quality-driven CRF, else average kbit/s */
  int32_t qualityKbps;  /* 20: CRF step and VBV cap in kbit/s (6000) */
  int32_t reserved24[3];
  int32_t refFrames;    /* 36: reference frames (1) */
  int32_t keyintMax;    /* 40: largest IDR distance in frames (10000) */
  int32_t reserved44;
} KvEncConfig;

/* Frame types in KvEncHandle.frameType. */
enum {
  KV_FRAME_NONE = 0, /* no output from the last encode */
  KV_FRAME_IDR = 1,
  KV_FRAME_P = 2,
  KV_FRAME_I = 3 /* intra, not IDR (not produced with these settings) */
};

/* Encoder handle made by Kvx264Alloc. The fields up to `pts` are read and
 * written by the caller; the layout differs by architecture only where the
 * output pointer sits:
 *   i686:   forceIdr 0-3, outSize 4-7, frameType 8-11, outData 12-15,
 *           reserved 16-23, pts 24-31
 *   x86_64: forceIdr 0-3, outSize 4-7, frameType 8-11, padding 12-15,
 *           outData 16-23 (natural 8-byte alignment), pts 24-31 */
typedef struct KvEncHandle {
  int32_t forceIdr;   /* non-zero: the next encode makes an IDR; cleared then.
                         The caller writes 0 right after Kvx264Alloc. */
  int32_t outSize;    /* bytes of the last output, 0 when none */
  int32_t frameType;  /* KV_FRAME_* of the last output */
#if defined(_WIN64) || defined(__x86_64__)
  int32_t padding12;
#endif
  uint8_t* outData;   /* the last output; owned by the bridge, valid until
                         the next encode or Kvx264Free */
#if !(defined(_WIN64) || defined(__x86_64__))
  int32_t reserved16[2];
#endif
  int64_t pts;        /* microseconds since the session start: written by the
                         caller before each encode, the output's pts after */
  void* bridgePrivate;
} KvEncHandle;

#ifdef __cplusplus
#define KV_STATIC_ASSERT static_assert
#else
#define KV_STATIC_ASSERT _Static_assert
#endif
KV_STATIC_ASSERT(sizeof(KvEncConfig) == 48, "configuration record is 48 bytes");
KV_STATIC_ASSERT(offsetof(KvEncConfig, rateFactor) == 12, "field 4");
KV_STATIC_ASSERT(offsetof(KvEncConfig, rateKbps) == 16, "field 5");
KV_STATIC_ASSERT(offsetof(KvEncConfig, qualityKbps) == 20, "field 6");
KV_STATIC_ASSERT(offsetof(KvEncConfig, refFrames) == 36, "field 10");
KV_STATIC_ASSERT(offsetof(KvEncConfig, keyintMax) == 40, "field 11");
KV_STATIC_ASSERT(offsetof(KvEncHandle, forceIdr) == 0, "handle bytes 0-3");
KV_STATIC_ASSERT(offsetof(KvEncHandle, outSize) == 4, "handle bytes 4-7");
KV_STATIC_ASSERT(offsetof(KvEncHandle, frameType) == 8, "handle bytes 8-11");
#if defined(_WIN64) || defined(__x86_64__)
KV_STATIC_ASSERT(offsetof(KvEncHandle, outData) == 16, "x86_64: pointer at 16-23");
#else
KV_STATIC_ASSERT(sizeof(void*) == 4, "i686 layout needs 4-byte pointers");
KV_STATIC_ASSERT(offsetof(KvEncHandle, outData) == 12, "i686: pointer at 12-15");
#endif
KV_STATIC_ASSERT(offsetof(KvEncHandle, pts) == 24, "handle bytes 24-31");

/* 0, or -1 without a record. Kept for the next Kvx264Alloc. */
typedef int (*PFN_Kvx264Init)(const KvEncConfig* config);
/* A new encoder of width x height (even, 16..8192) with the last
 * configuration; null when x264 refuses it. */
typedef KvEncHandle* (*PFN_Kvx264Alloc)(int width, int height);
/* Closes the encoder and frees the handle; null is ignored. */
typedef void (*PFN_Kvx264Free)(KvEncHandle* handle);
/* Plane 0 (Y, stride width), 1 (U) and 2 (V, stride width / 2) of the next
 * picture; 0, or -1 for a null handle or a plane outside 0..2. */
typedef int (*PFN_Kvx264SetPlaneBuffer)(KvEncHandle* handle, int plane, uint8_t* address);
/* The plane address last set, or null. */
typedef uint8_t* (*PFN_Kvx264GetPlaneAddr)(KvEncHandle* handle, int plane);
/* Encodes the planes; returns outSize (0 with no output or on any failure:
 * a null handle, a missing plane, an x264 error). */
typedef int (*PFN_Kvx264EncodeFrame)(KvEncHandle* handle);
/* 64-byte aligned, zero-filled memory for picture planes; null on failure. */
typedef void* (*PFN_Kvx264MemMalloc)(size_t size);
typedef void (*PFN_Kvx264MemFree)(void* memory);

#ifdef __cplusplus
}
#endif

#endif /* TESS_VENC_BRIDGE_H */
