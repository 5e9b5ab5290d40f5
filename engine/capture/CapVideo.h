// Screen captors: the interface and its two implementations, GDI desktop
// copy (with the cursor drawn by the captor) and DXGI desktop duplication
// through the libScapBridge DLL.
//
// A captor is used by one thread at a time (the video manager's thread).
// Pictures are BGRA rows, top-down, PictureWidth() x PictureHeight() x 4
// bytes, owned by the captor and valid until its next call.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "bridges/ScapBridge/ScapBridge.h"
#include "classlib/Gdi.h"
#include "engine/mirror/VideoParam.h"

class CCapVideo {
 public:
  virtual ~CCapVideo() = default;
  // Sets the captor up for the VideoParam's capture (runs the geometry
  // routine, which may downscale it); 0 on success, negative on failure.
  virtual int Config(VideoParam* param) = 0;
  // One picture into *picture (null when none is handed out); 0 on success,
  // -5 without a VideoParam, -1 before a receiver size is known or Config ran.
  virtual int Capture(uint8_t** picture) = 0;
  // Frees what Config made.
  virtual void Release() = 0;

  int PictureWidth() const { return pictureWidth_; }
  int PictureHeight() const { return pictureHeight_; }

 protected:
  int pictureWidth_ = 0;
  int pictureHeight_ = 0;
};

class CCapVideoGDI : public CCapVideo {
 public:
  CCapVideoGDI() = default;
  ~CCapVideoGDI() override;
  int Config(VideoParam* param) override;
  int Capture(uint8_t** picture) override;
  void Release() override;

 private:
  void DrawCursor();

  VideoParam* param_ = nullptr;
  std::unique_ptr<cl::CClientDC> desktopDc_;  // the desktop window's DC
  cl::CDC memoryDc_;
  cl::CBitmap bitmap_;  // top-down 32-bit DIB section: the picture buffer
  uint8_t* bits_ = nullptr;
  const DWORD rop_ = SRCCOPY | CAPTUREBLT;
};

// The bridge's three entry points; tests hand in their own.
struct DxgiBridgeApi {
  PFN_KvDxgiCaptorInit init = nullptr;
  PFN_KvDxgiCaptorGetFrame getFrame = nullptr;
  PFN_KvDxgiCaptorFree free = nullptr;
};

// Loaded from the folder of the module that runs the engine (the program, or
// the API DLL), never from the current directory or PATH.
constexpr const wchar_t* kScapBridgeLibrary = L"libScapBridge.dll";

class CCapVideoDxgi : public CCapVideo {
 public:
  // Loads libScapBridge.dll at Config.
  CCapVideoDxgi() = default;
  // Uses the given entry points instead of the DLL.
  explicit CCapVideoDxgi(const DxgiBridgeApi& api) : injected_(true), api_(api) {}
  ~CCapVideoDxgi() override;
  int Config(VideoParam* param) override;
  int Capture(uint8_t** picture) override;
  void Release() override;

  // The set-up record for the VideoParam's current capture.
  static KvDxgiSetup MakeSetup(const VideoParam& param);
  int failureCount() const { return failures_; }
  bool reinitPending() const { return reinit_; }
  bool initFailed() const { return initFailed_; }

  // After this many failed frames in a row the bridge is set up again.
  static constexpr int kFailureLimit = 60;

 private:
  bool LoadBridge();
  void UnloadBridge();
  void Reinitialise();

  bool injected_ = false;
  DxgiBridgeApi api_;
  HMODULE library_ = nullptr;
  VideoParam* param_ = nullptr;
  std::vector<uint8_t> picture_;
  bool configured_ = false;
  bool reinit_ = false;
  int failures_ = 0;
  bool initFailed_ = false;
};

// True when DXGI capture can be used: Windows 8 or later as
// GetOSVersionCodeEx reports it, libScapBridge.dll present, and its
// KvDxgiCaptorInit accepting a probe record. The bridge is unloaded again.
bool ProbeDxgiCapture();
// The same for a given OS code and library (tests).
bool ProbeDxgiCaptureWith(int osCode, const wchar_t* library);
