#include <cstring>

#include "classlib/Handle.h"
#include "classlib/Str.h"
#include "engine/capture/CapVideo.h"
#include "foundation/sys/LibraryLoad.h"
#include "foundation/sys/SysUtil.h"
#include "engine/mirror/StreamPacket.h"
#include "foundation/log/Logger.h"

namespace {

// Pauses the bridge needs between ending and starting a duplication.
constexpr DWORD kSettleMs = 50;
constexpr DWORD kReinitSettleMs = 150;

void FillDeviceName(char (&out)[64], const std::wstring& name) {
  memset(out, 0, sizeof(out));
  const std::string narrow = cl::WideToAnsi(name);
  memcpy(out, narrow.data(), narrow.size() < sizeof(out) - 1 ? narrow.size() : sizeof(out) - 1);
}

}  // namespace

KvDxgiSetup CCapVideoDxgi::MakeSetup(const VideoParam& v) {
  KvDxgiSetup s;
  memset(&s, 0, sizeof(s));
  s.width = v.width;
  s.height = v.height;
  // The area read from the desktop: the capture itself, or the larger area
  // the geometry routine downscaled from.
  const bool scaled = v.downscaled && v.fullWidth > 0 && v.fullHeight > 0;
  s.sourceWidth = scaled ? v.fullWidth : v.width;
  s.sourceHeight = scaled ? v.fullHeight : v.height;
  s.originX = v.left;
  s.originY = v.top;
  s.regionMode = v.regionMode;
  FillDeviceName(s.deviceName, v.monitorName);
  return s;
}

CCapVideoDxgi::~CCapVideoDxgi() { Release(); }

bool CCapVideoDxgi::LoadBridge() {
  if (injected_) return api_.init != nullptr;
  if (!library_) library_ = LoadOwnLibrary(kScapBridgeLibrary);
  if (!library_) return false;
  api_.init = reinterpret_cast<PFN_KvDxgiCaptorInit>(GetProcAddress(library_, "KvDxgiCaptorInit"));
  api_.getFrame =
      reinterpret_cast<PFN_KvDxgiCaptorGetFrame>(GetProcAddress(library_, "KvDxgiCaptorGetFrame"));
  api_.free = reinterpret_cast<PFN_KvDxgiCaptorFree>(GetProcAddress(library_, "KvDxgiCaptorFree"));
  return true;
}

void CCapVideoDxgi::UnloadBridge() {
  if (injected_) return;
  if (library_) FreeLibrary(library_);
  library_ = nullptr;
  api_ = DxgiBridgeApi();
}

void CCapVideoDxgi::Release() {
  picture_.clear();
  picture_.shrink_to_fit();
  pictureWidth_ = pictureHeight_ = 0;
  if (api_.free) api_.free();
  if (!injected_) api_.free = nullptr;
  UnloadBridge();
}

int CCapVideoDxgi::Config(VideoParam* param) {
  if (!param) {
    ZtLogger::Instance().Error("[Video]Failed to config captor : NULL param");
    return -1;
  }
  const bool again = configured_;
  Release();
  CalcVideoScale(param);
  if (!LoadBridge()) {
    ZtLogger::Instance().Error("KvDxgiCaptor LoadLibrary fail.");
    return -2;
  }
  if (!api_.init) {
    ZtLogger::Instance().Error("KvDxgiCaptor init fail.");
    UnloadBridge();
    return -3;
  }
  KvDxgiSetup setup = MakeSetup(*param);
  const int r = api_.init(&setup);
  ZtLogger::Instance().Info("KvDxgiCaptorInit. Device Name = %s (%d,%d) nRet = %d",
                            setup.deviceName, setup.sourceWidth, setup.sourceHeight, r);
  Sleep(kSettleMs);
  if (again) reinit_ = true;
  configured_ = true;
  param_ = param;
  const int width = param->width > 0 ? param->width : 0;
  const int height = param->height > 0 ? param->height : 0;
  picture_.assign(static_cast<size_t>(width) * height * 4, 0);
  pictureWidth_ = width;
  pictureHeight_ = height;
  return 0;
}

void CCapVideoDxgi::Reinitialise() {
  int r = api_.free ? api_.free() : 0;
  ZtLogger::Instance().Info("KvDxgiCaptorFree() nRet = %d", r);
  Sleep(kReinitSettleMs);
  KvDxgiSetup setup = MakeSetup(*param_);
  initFailed_ = false;
  if (api_.init(&setup) == 0) {
    if (api_.free) api_.free();
    Sleep(kReinitSettleMs);
    if (api_.init(&setup) == 0) {
      if (api_.free) api_.free();
      initFailed_ = true;
    }
  }
  Sleep(kSettleMs);
  reinit_ = false;
}

int CCapVideoDxgi::Capture(uint8_t** picture) {
  if (picture) *picture = nullptr;
  if (!param_) {
    ZtLogger::Instance().Error("[Video]capture failed: have to call config before capture");
    return -5;
  }
  if ((param_->receiverWidth == 0 && param_->receiverHeight == 0) || !api_.init ||
      picture_.empty()) {
    ZtLogger::Instance().Error("[Video]capture failed: have to call config before capture");
    return -1;
  }
  if (reinit_) Reinitialise();
  int result = KV_DXGI_FAILED;
  if (!initFailed_ && api_.getFrame) result = api_.getFrame(picture_.data(), param_->cursor ? 1 : 0);
  // After a failure the buffer still holds the last picture (black before
  // the first one).
  if (picture) *picture = picture_.data();
  if (result == KV_DXGI_NEW_FRAME || result == KV_DXGI_SAME_FRAME) {
    failures_ = 0;
  } else if (result == KV_DXGI_FAILED) {
    if (++failures_ > kFailureLimit) {
      failures_ = 0;
      reinit_ = true;
    }
    ZtLogger::Instance().Debug("GetFrame failed (%d)", failures_);
  }
  return 0;
}

bool ProbeDxgiCaptureWith(int osCode, const wchar_t* library) {
  if (osCode < OSVER_WIN8) return false;
  cl::UniqueModule lib(LoadOwnLibrary(library));
  if (!lib) {
    ZtLogger::Instance().Info("KvDxgiCaptor LoadLibrary fail.");
    return false;
  }
  auto init = reinterpret_cast<PFN_KvDxgiCaptorInit>(GetProcAddress(lib.get(), "KvDxgiCaptorInit"));
  auto free = reinterpret_cast<PFN_KvDxgiCaptorFree>(GetProcAddress(lib.get(), "KvDxgiCaptorFree"));
  int r = 0;
  if (init) {
    KvDxgiSetup probe;
    memset(&probe, 0, sizeof(probe));
    probe.sourceWidth = 1024;
    probe.sourceHeight = 768;
    ZtLogger::Instance().Info("KvDxgiCaptorInit()");
    r = init(&probe);
    Sleep(kSettleMs);
    if (free) free();
    Sleep(kSettleMs);
  }
  return r != 0;
}

bool ProbeDxgiCapture() { return ProbeDxgiCaptureWith(GetOSVersionCodeEx(nullptr), kScapBridgeLibrary); }
