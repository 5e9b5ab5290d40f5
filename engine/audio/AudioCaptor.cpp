#include "engine/audio/AudioCaptor.h"

#include "foundation/log/Logger.h"

CAudioCaptor::CAudioCaptor() : chunk_(new AudioChunk()) {}

CAudioCaptor::~CAudioCaptor() { delete chunk_; }

int CAudioCaptor::Init(IAudioSink* sink, AudioParam* param) {
  sink_ = sink;
  param_ = param;
  return 0;
}

int CAudioCaptor::Uninit() {
  if (handle_ && !running_) {
    CloseHandle(handle_);
    handle_ = nullptr;
  }
  return 0;
}

int CAudioCaptor::Start() {
  if (StartThread() != 0) {
    ZtLogger::Instance().Error("[Audio]CBaseThread Start fail");
    return -1;
  }
  return 0;
}

int CAudioCaptor::Stop() { return StopThread(kThreadStopWaitMs, true); }
