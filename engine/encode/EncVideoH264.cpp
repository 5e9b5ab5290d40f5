#include "engine/encode/EncVideoH264.h"

#include "classlib/Str.h"
#include "engine/mirror/SessionClock.h"
#include "foundation/log/Logger.h"
#include "foundation/sys/LibraryLoad.h"

CEncVideoH264::CEncVideoH264(const wchar_t* library)
    : libraryName_(library ? library : kVencBridgeLibrary) {}

CEncVideoH264::~CEncVideoH264() { Release(); }

KvEncConfig CEncVideoH264::MakeConfig(const VideoParam& v) {
  KvEncConfig c{};
  c.width = v.width;
  c.height = v.height;
  c.bframes = 0;
  c.rateFactor = 27.0f;
  c.rateKbps = v.rate;
  c.qualityKbps = v.quality;
  c.refFrames = 1;
  c.keyintMax = 10000;
  c.reserved44 = 0;
  return c;
}

bool CEncVideoH264::LoadBridge() {
  library_ = LoadOwnLibrary(libraryName_.c_str());
  if (!library_) {
    const DWORD err = GetLastError();
    ZtLogger::Instance().Error("[Video]LoadLibrary fail:%s, dwErr:%d(%x)",
                               cl::WideToAnsi(libraryName_).c_str(), static_cast<int>(err),
                               static_cast<unsigned>(err));
    return false;
  }
  struct Entry {
    const char* name;
    FARPROC* slot;
  } entries[] = {
      {"Kvx264Init", reinterpret_cast<FARPROC*>(&init_)},
      {"Kvx264Alloc", reinterpret_cast<FARPROC*>(&alloc_)},
      {"Kvx264Free", reinterpret_cast<FARPROC*>(&free_)},
      {"Kvx264SetPlaneBuffer", reinterpret_cast<FARPROC*>(&setPlane_)},
      {"Kvx264GetPlaneAddr", reinterpret_cast<FARPROC*>(&getPlane_)},
      {"Kvx264EncodeFrame", reinterpret_cast<FARPROC*>(&encode_)},
      {"Kvx264MemMalloc", reinterpret_cast<FARPROC*>(&memMalloc_)},
      {"Kvx264MemFree", reinterpret_cast<FARPROC*>(&memFree_)},
  };
  bool all = true;
  for (const Entry& e : entries) {
    *e.slot = GetProcAddress(library_, e.name);
    if (!*e.slot) {
      ZtLogger::Instance().Error("[Video]GetProcAddress fail:%s, %s",
                                 cl::WideToAnsi(libraryName_).c_str(), e.name);
      all = false;
    }
  }
  if (!all) {
    // An incomplete bridge is no bridge: nothing may be called through it.
    for (const Entry& e : entries) *e.slot = nullptr;
    FreeLibrary(library_);
    library_ = nullptr;
  }
  return all;
}

int CEncVideoH264::Config(VideoParam* param, int64_t sessionStart) {
  if (!library_ && !LoadBridge()) return kNoBridge;
  if (!param) {
    ZtLogger::Instance().Error("[Video]config encoder failed with NULL input param");
    return kNoEncoder;
  }
  sessionStart_ = sessionStart;
  param_ = param;
  const KvEncConfig config = MakeConfig(*param);
  init_(&config);
  if (handle_) {
    free_(handle_);
    handle_ = nullptr;
    width_ = height_ = 0;
  }
  handle_ = alloc_(config.width, config.height);
  if (!handle_) {
    ZtLogger::Instance().Error("[Video]Alloc kvx264 handler fail!");
    return kNoEncoder;
  }
  handle_->forceIdr = 0;
  width_ = config.width;
  height_ = config.height;
  return kOk;
}

int CEncVideoH264::Encode(uint8_t* picture, EncodedFrame* frame) {
  if (!frame) return 0;
  *frame = EncodedFrame();
  if (!handle_ || !picture) return 0;
  const size_t ySize = static_cast<size_t>(width_) * height_;
  setPlane_(handle_, 0, picture);
  setPlane_(handle_, 1, picture + ySize);
  setPlane_(handle_, 2, picture + ySize + ySize / 4);
  handle_->pts = MirrorClockNow() - sessionStart_;
  encode_(handle_);
  if (handle_->outSize <= 0 || !handle_->outData) return 0;
  frame->data = handle_->outData;
  frame->pts = handle_->pts;
  frame->size = handle_->outSize;
  frame->keyFrame = handle_->frameType == KV_FRAME_IDR ? 1 : 0;
  return frame->size;
}

void CEncVideoH264::Release() {
  if (handle_ && free_) free_(handle_);
  handle_ = nullptr;
  width_ = height_ = 0;
  if (library_) FreeLibrary(library_);
  library_ = nullptr;
  init_ = nullptr;
  alloc_ = nullptr;
  free_ = nullptr;
  setPlane_ = nullptr;
  getPlane_ = nullptr;
  encode_ = nullptr;
  memMalloc_ = nullptr;
  memFree_ = nullptr;
}
