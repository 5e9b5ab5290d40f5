/* The DXGI capture bridge libScapBridge.dll: desktop duplication of one
 * monitor, handed out as BGRA rows like a GDI copy. Plain C calls (cdecl on
 * i686), looked up by name at run time. One capture per process: the calls
 * share one state and are serialised inside the bridge.
 *
 * KvDxgiCaptorInit(setup)   non-zero when duplication runs (a probe record,
 *                           picture size 0x0, only checks that it can run)
 * KvDxgiCaptorGetFrame(buffer, cursor)
 *                           fills buffer (picture width x height x 4 bytes);
 *                           KV_DXGI_NEW_FRAME or KV_DXGI_SAME_FRAME when the
 *                           buffer holds a picture, KV_DXGI_FAILED otherwise
 *                           (not set up, duplication lost: set up again)
 * KvDxgiCaptorFree()        ends the capture; 0, also when nothing ran
 */
#ifndef TESS_SCAP_BRIDGE_H
#define TESS_SCAP_BRIDGE_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Set-up record, 104 bytes, little-endian int32 fields. */
typedef struct KvDxgiSetup {
  int32_t width;        /* 0: picture width the caller's buffer holds; 0 in a probe */
  int32_t height;       /* 4: picture height; 0 in a probe */
  int32_t sourceWidth;  /* 8: width of the desktop area read, from the origin;
                           scaled to `width` when different */
  int32_t sourceHeight; /* 12 */
  int32_t reserved16[2];
  int32_t originX;      /* 24: left of the area on the virtual desktop */
  int32_t originY;      /* 28: top */
  int32_t reserved32;
  int32_t regionMode;   /* 36: 0 whole monitor, 1 rectangle (informational) */
  char deviceName[64];  /* 40: monitor device name ("\\.\DISPLAY1"), ANSI,
                           zero-terminated; empty: the primary monitor */
} KvDxgiSetup;

#ifdef __cplusplus
static_assert(sizeof(KvDxgiSetup) == 104, "set-up record is 104 bytes");
static_assert(offsetof(KvDxgiSetup, originX) == 24, "origin at 24");
static_assert(offsetof(KvDxgiSetup, regionMode) == 36, "region mode at 36");
static_assert(offsetof(KvDxgiSetup, deviceName) == 40, "device name at 40");
#endif

enum {
  KV_DXGI_NEW_FRAME = 0,  /* the buffer holds a new picture */
  KV_DXGI_FAILED = 2,
  KV_DXGI_SAME_FRAME = 3  /* nothing changed: the buffer holds the last picture */
};

typedef int (*PFN_KvDxgiCaptorInit)(const KvDxgiSetup* setup);
typedef int (*PFN_KvDxgiCaptorGetFrame)(uint8_t* buffer, uint8_t cursor);
typedef int (*PFN_KvDxgiCaptorFree)(void);

#ifdef __cplusplus
}
#endif

#endif /* TESS_SCAP_BRIDGE_H */
