// The session's H.264 encoder: loads the encoder bridge libVencBridge.dll at
// run time and encodes one I420 picture per call into an EncodedFrame.
//
// Used by one thread at a time: configured by the video manager before its
// thread starts, then configured and called only on the session thread. The
// output bytes belong to the bridge and stay valid until the next Encode.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "bridges/VencBridge/VencBridge.h"
#include "engine/mirror/VideoParam.h"

// Loaded from the folder of the module that runs the engine (the program, or
// the API DLL), never from the current directory or PATH.
constexpr const wchar_t* kVencBridgeLibrary = L"libVencBridge.dll";

class CEncVideoH264 {
 public:
  // Config results.
  static constexpr int kOk = 0;
  static constexpr int kNoBridge = -1;   // DLL missing or an entry point missing
  static constexpr int kNoEncoder = -2;  // no VideoParam, or the bridge made no handle

  explicit CEncVideoH264(const wchar_t* library = kVencBridgeLibrary);
  ~CEncVideoH264();
  CEncVideoH264(const CEncVideoH264&) = delete;
  CEncVideoH264& operator=(const CEncVideoH264&) = delete;

  // Loads the bridge the first time (all eight entry points must be there),
  // then makes a new encoder for the VideoParam's capture size.
  int Config(VideoParam* param, int64_t sessionStart);
  // Encodes a picture of Width() x Height() (I420Size bytes). Returns the
  // output size; 0 with frame->keyFrame -1 when there was no output.
  int Encode(uint8_t* picture, EncodedFrame* frame);
  // The next Encode makes a key frame (with the decoder configuration).
  void RequestKeyFrame() {
    if (handle_) handle_->forceIdr = 1;
  }
  // Frees the encoder handle and unloads the bridge.
  void Release();

  bool BridgeLoaded() const { return library_ != nullptr; }
  bool Ready() const { return handle_ != nullptr; }
  int Width() const { return width_; }
  int Height() const { return height_; }
  KvEncHandle* Handle() const { return handle_; }
  // The configuration record Config hands to Kvx264Init.
  static KvEncConfig MakeConfig(const VideoParam& param);

 private:
  bool LoadBridge();

  std::wstring libraryName_;
  PFN_Kvx264Init init_ = nullptr;
  PFN_Kvx264Alloc alloc_ = nullptr;
  PFN_Kvx264Free free_ = nullptr;
  PFN_Kvx264SetPlaneBuffer setPlane_ = nullptr;
  PFN_Kvx264GetPlaneAddr getPlane_ = nullptr;
  PFN_Kvx264EncodeFrame encode_ = nullptr;
  PFN_Kvx264MemMalloc memMalloc_ = nullptr;
  PFN_Kvx264MemFree memFree_ = nullptr;
  HMODULE library_ = nullptr;
  KvEncHandle* handle_ = nullptr;
  VideoParam* param_ = nullptr;
  int64_t sessionStart_ = 0;
  int width_ = 0;
  int height_ = 0;
};
