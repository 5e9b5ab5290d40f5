#include "engine/mirror/Mirror.h"

#include <cstdarg>
#include <cstdio>

#include "classlib/Str.h"
#include "engine/capture/MonitorList.h"
#include "engine/mirror/SessionClock.h"
#include "foundation/log/Logger.h"

namespace {

MirrorErrorPromptFn g_errorPrompt = nullptr;

// Bound of the owner's wait for the session thread in Stop.
constexpr DWORD kSessionStopWaitMs = 2000;
// Last-resort wait of the destructor for a thread Stop left running.
constexpr DWORD kDestructorWaitMs = 30000;

}  // namespace

void SetMirrorErrorPrompt(MirrorErrorPromptFn fn) { g_errorPrompt = fn; }

int CMirror::RateForQuality(int quality) {
  if (quality <= 1000) return 800;
  if (quality <= 2000) return 1000;
  if (quality <= 4000) return 4000;
  return 0;
}

CMirror::CMirror(MirrorParam* param) {
  owner_ = param->owner;
  port_ = param->port;
  volume_ = param->volume;
  password_ = param->password;
  deviceId_ = GetDeviceIdText();
  clientName_ = cl::WideToAnsi(GetDeviceName());
  if (clientName_.empty()) clientName_ = "Tessarine";

  codecPacket_ = new CCodecPacket();
  bitstreamPacket_ = new CBitstreamPacket();
  heartbeatPacket_ = new CHeartbeatPacket();
  ntpServer_ = new CNtpServer();
  videoParam_ = new VideoParam();
  videoParam_->fps = ClampFps(param->fps);
  videoParam_->scaleMode = param->scaleMode;
  videoParam_->quality = param->quality;
  videoParam_->cursor = param->showCursor;
  videoParam_->useDxgi = param->useDxgi;
  videoParam_->regionMode = 0;
  CMonitorList monitors;
  currentMonitor_ = monitors.Enumerate() ? monitors.primaryIndex() : 0;
  param->displayIndex = currentMonitor_;
}

CMirror::~CMirror() {
  // The owner should only delete a stopped session; if it did not, the
  // thread must not outlive what it uses.
  if (IsRunning() && ThreadHandle()) {
    RequestStop();
    if (socket_) socket_->Close(0);
    if (!WaitThread(kDestructorWaitMs)) {
      ZtLogger::Instance().Error("[Mirror]session thread did not end, terminated");
      TerminateThread(ThreadHandle(), kThreadTerminatedExitCode);
      WaitThread(1000);
    }
  }
  if (ntpServer_ && ntpServer_->IsRunning()) {
    ntpServer_->Socket().Close(0);
    ntpServer_->StopThread();
  }
  delete socket_;
  delete codecPacket_;
  delete bitstreamPacket_;
  delete heartbeatPacket_;
  delete ntpServer_;
  delete videoParam_;
  delete audio_.exchange(nullptr);
}

std::wstring CMirror::StatusText() const {
  ScopedLock<CBaseMutex> guard(textLock_);
  return statusText_;
}

std::wstring CMirror::StatisticsText() const {
  ScopedLock<CBaseMutex> guard(textLock_);
  return statisticsText_;
}

bool CMirror::Start(const char* host, uint16_t audioPort) {
  delete socket_;
  socket_ = new socket_stream();
  if (!socket_->CreateTcpSocket()) {
    ZtLogger::Instance().Error("[Mirror]Create client socket failed.");
    return false;
  }
  sessionStart_ = MirrorClockNow();
  ntpServer_->SetSessionStart(sessionStart_);
  ntpServer_->ResetThread();
  if (ntpServer_->StartThread() != 0) {
    ZtLogger::Instance().Error("[Ntp]start ntp thread failed");
  }
  host_ = host ? host : "";
  audioPort_ = audioPort;
  useAlac_ = 0;
  ResetThread();
  if (StartThread() != 0) {
    ZtLogger::Instance().Error("[Mirror]CBaseThread Start fail");
    ntpServer_->Socket().Close(0);
    ntpServer_->StopThread();
    return false;
  }
  return true;
}

int CMirror::Stop() {
  if (socket_) socket_->Close(0);
  ntpServer_->Socket().Close(0);
  ntpServer_->StopThread(kThreadStopWaitMs, false);
  RequestStop();
  if (!IsRunning() || !ThreadHandle()) return 1;
  return WaitThread(kSessionStopWaitMs) ? 1 : 0;
}

bool CMirror::SelectMonitor(unsigned index) {
  CMonitorList monitors;
  monitors.Enumerate();
  MonitorRect r;
  if (!videoParam_ || index >= static_cast<unsigned>(monitors.Count()) ||
      !monitors.GetRect(static_cast<int>(index), &r))
    return false;
  currentMonitor_ = static_cast<int>(index);
  videoParam_->monitorName = monitors.GetName(static_cast<int>(index));
  videoParam_->captureRect = CaptureRect{r.left, r.top, r.right, r.bottom};
  videoParam_->regionMode = 0;
  // The capture thread reads the name and rectangle once it sees the flag.
  MemoryBarrier();
  videoParam_->captorReconfigure = 1;
  reconfigure_ = 1;
  return true;
}

void CMirror::SetCaptureRegion(int left, int top, int right, int bottom) {
  if (!videoParam_) return;
  videoParam_->captureRect = CaptureRect{left, top, right, bottom};
  videoParam_->regionMode = 1;
  MemoryBarrier();
  videoParam_->captorReconfigure = 1;
  reconfigure_ = 1;
}

void CMirror::UpdateVideoSettings(MirrorParam param) {
  VideoParam* v = videoParam_;
  if (!v) return;
  if (param.showCursor != v->cursor) v->cursor = param.showCursor;
  if (param.scaleMode != v->scaleMode) {
    v->scaleMode = param.scaleMode;
    v->captureRect = CaptureRect{v->left, v->top, v->left + v->width, v->top + v->height};
    v->captorReconfigure = 1;
    reconfigure_ = 1;
  }
  if (param.quality != v->quality) {
    v->quality = param.quality;
    v->rate = RateForQuality(param.quality);
    reconfigure_ = 1;
  }
  const int fps = ClampFps(param.fps);
  if (fps != v->fps) v->fps = fps;
}

void CMirror::SetVolume(int volume) {
  volume_ = static_cast<int16_t>(volume);
  // Under the audio sender's lock; nothing is sent without an RAOP session.
  CMirrorAudio* audio = audio_.load();
  if (audio) audio->SetVolume(volume);
}

void CMirror::ReportStatus(int code, const char* text) {
  std::string line = code == 0 ? std::string(text) : cl::FormatA("err %d - %s", code, text);
  ZtLogger::Instance().Info("[Mirror] %s", line.c_str());
  {
    ScopedLock<CBaseMutex> guard(textLock_);
    statusText_ = cl::AnsiToWide(line);
  }
  if (code != 0) lastError_ = code;
  if (g_errorPrompt) {
    if (code == MIRROR_ERR_GET_STREAM || code == MIRROR_ERR_POST_STREAM) {
      g_errorPrompt(kStringConnectFirewall);
    } else if (code == MIRROR_ERR_CONNECT) {
      g_errorPrompt(kStringConnectOffline);
    }
  }
}

void CMirror::ReportStatusF(int code, const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  std::string text = cl::FormatVA(fmt, ap);
  va_end(ap);
  ReportStatus(code, text.c_str());
}

void CMirror::PostToOwner(LPARAM lParam) {
  if (owner_) PostMessageW(owner_, WM_MIRROR_PASSWORD, 0, lParam);
}

int CMirror::Run() {
  if (!socket_->Connect(host_.c_str(), port_)) {
    ReportStatusF(MIRROR_ERR_CONNECT, "Connect to %s:[%d] failed", host_.c_str(), port_);
    return 0;
  }
  ReportStatus(0, "connect server done");

  if (!SendGetStream()) {
    if (realm_.empty() || nonce_.empty()) {
      ReportStatus(MIRROR_ERR_GET_STREAM, "send GET /stream.xml failed");
    }
    return 0;
  }
  ReportStatus(0, "GetStream ok");
  if (!SendPostStream()) {
    ReportStatus(MIRROR_ERR_POST_STREAM, "send POST /stream failed");
    return 0;
  }
  ReportStatus(0, "PostStream ok");

  CMirrorAudio* audio = new CMirrorAudio();
  audio_.store(audio);
  ReportStatusF(0, "Mirror to %s", host_.c_str());
  // Its result is not needed: without a captor, or when the captor cannot
  // start, the session mirrors the picture alone.
  audio->Init(host_.c_str(), audioPort_, deviceId_.c_str(), useAlac_, password_.c_str());
  if (!audio->Captor() || audio->Captor()->Start() < 0) {
    ReportStatusF(0, "Mirror to %s without the Audio", host_.c_str());
  }

  StartHeartbeatTimer();
  CaptureLoop();
  StopTimers();
  // The captor's thread first, so no frame is sent while the client closes.
  if (audio->Captor()) audio->Captor()->Stop();
  audio->Stop();
  ReportStatus(0, "Mirror quit");
  return 0;
}

bool CMirror::StartHeartbeatTimer() {
  timerQueue_ = CreateTimerQueue();
  if (!timerQueue_) {
    ZtLogger::Instance().Error("[Mirror]CreateTimerQueue failed (%d)",
                               static_cast<int>(GetLastError()));
    return false;
  }
  if (!CreateTimerQueueTimer(&heartbeatTimer_, timerQueue_, &CMirror::HeartbeatCallback, this,
                             1000, 1000, WT_EXECUTEDEFAULT)) {
    heartbeatTimer_ = nullptr;
    ZtLogger::Instance().Error("[Mirror]CreateTimerQueueTimer failed (%d)",
                               static_cast<int>(GetLastError()));
    return false;
  }
  return true;
}

void CMirror::StopTimers() {
  if (!timerQueue_) return;
  // INVALID_HANDLE_VALUE: wait until running callbacks have returned, since
  // they use the socket and the packets of this object.
  if (!DeleteTimerQueueEx(timerQueue_, INVALID_HANDLE_VALUE)) {
    ZtLogger::Instance().Error("[Mirror]DeleteTimerQueueEx failed (%d)\n",
                               static_cast<int>(GetLastError()));
  }
  timerQueue_ = nullptr;
  heartbeatTimer_ = nullptr;
  statisticsTimer_ = nullptr;
}

void CALLBACK CMirror::HeartbeatCallback(PVOID self, BOOLEAN) {
  static_cast<CMirror*>(self)->SendHeartbeat();
}

void CALLBACK CMirror::StatisticsCallback(PVOID self, BOOLEAN) {
  static_cast<CMirror*>(self)->ReportFps();
}

void CMirror::SendHeartbeat() {
  if (!heartbeatPacket_ || !socket_) return;
  EncodedFrame frame;
  frame.pts = MirrorClockNow() - sessionStart_;
  heartbeatPacket_->SetData(frame);
  std::vector<uint8_t> buf;
  int n = heartbeatPacket_->GetPacket(videoParam_, buf);
  if (n > 0) socket_->Send(buf.data(), n);
}

void CMirror::ReportFps() {
  CVideoMgr* vm = videoMgr_;
  if (!vm) return;
  const long fps = vm->TakeEncodedThisSecond();
  vm->encodedTotal += fps;
  const int64_t seconds = (MirrorClockNow() - loopStart_) >> 20;
  const int averageFps = seconds > 0 ? static_cast<int>(vm->encodedTotal / seconds) : 0;
  const long cap = vm->TakeCapturedThisSecond();
  vm->capturedTotal += cap;
  const long long divisor = vm->capturedTotal * 1024;
  const int captureMs = divisor > 0 ? static_cast<int>(vm->CaptureTimeSum() / divisor) : 0;
  const int convertMs = divisor > 0 ? static_cast<int>(vm->ConvertTimeSum() / divisor) : 0;
  std::wstring text = cl::FormatW(L"FPS:%d,Cap:%d,AvgFPS:%d,%dms+%dms", static_cast<int>(fps),
                                  static_cast<int>(cap), averageFps, captureMs, convertMs);
  ScopedLock<CBaseMutex> guard(textLock_);
  statisticsText_ = text;
}

bool CMirror::StartVideo() {
  videoMgr_ = new CVideoMgr();
  const int r = videoMgr_->Config(videoParam_, sessionStart_);
  if (r == CEncVideoH264::kNoBridge) {
    ReportStatus(MIRROR_ERR_VIDEO_ENCODER, "load video encoder libVencBridge.dll failed");
  } else if (r != CEncVideoH264::kOk) {
    ReportStatusF(MIRROR_ERR_VIDEO_ENCODER, "init video encoder failed (%dx%d)",
                  videoParam_->width, videoParam_->height);
  }
  if (r != CEncVideoH264::kOk) {
    StopVideo();
    return false;
  }
  if (videoMgr_->StartThread() != 0) {
    ZtLogger::Instance().Error("[Mirror]start video thread failed");
  }
  Sleep(33);
  return true;
}

void CMirror::StopVideo() {
  if (!videoMgr_) return;
  // Stop flag, a 5000 ms wait, termination as the last resort: the manager
  // is deleted below and its thread must not outlive it.
  videoMgr_->StopThread(kThreadStopWaitMs, true);
  videoMgr_->Stop();
  delete videoMgr_;
  videoMgr_ = nullptr;
}

// One packet built from the frame and sent whole; false when the send failed.
bool CMirror::SendPacket(CStreamPacket* packet, EncodedFrame& frame) {
  if (packet->SetData(frame) != 0) return true;  // nothing to send from this frame
  const int n = packet->GetPacket(videoParam_, packetBuffer_);
  if (n <= 0) return true;
  return socket_->Send(packetBuffer_.data(), n) > 0;
}

void CMirror::CaptureLoop() {
  VideoParam* v = videoParam_;
  if (v->width == 0 || v->height == 0) {
    v->width = GetSystemMetrics(SM_CXSCREEN);
    v->height = GetSystemMetrics(SM_CYSCREEN);
    v->left = 0;
    v->top = 0;
    CMonitorList monitors;
    MonitorRect r;
    if (monitors.Enumerate() && monitors.GetRect(monitors.currentIndex(), &r)) {
      v->width = r.width;
      v->height = r.height;
    }
  }
  if (CalcVideoScale(v) != 0) {
    ZtLogger::Instance().Error("[Mirror]start capture loop Failed : invalid input param");
    return;
  }
  if (!StartVideo()) return;

  // The session's volume, once, after the video manager started; nothing is
  // sent without an RAOP session.
  if (CMirrorAudio* audio = audio_.load()) audio->SetVolume(volume_);

  if (timerQueue_ &&
      !CreateTimerQueueTimer(&statisticsTimer_, timerQueue_, &CMirror::StatisticsCallback, this,
                             1000, 1000, WT_EXECUTEDEFAULT)) {
    statisticsTimer_ = nullptr;
    ZtLogger::Instance().Error("[Mirror]CreateTimerQueueTimer failed (%d)",
                               static_cast<int>(GetLastError()));
  }

  loopStart_ = MirrorClockNow();
  bool codecSent = false;
  CEncVideoH264* encoder = videoMgr_->Encoder();
  while (!StopRequested()) {
    if (reconfigure_) {
      Sleep(100);
      for (int checks = 0; v->captorReconfigure && checks < 61; ++checks) Sleep(100);
      if (v->captorReconfigure) ZtLogger::Instance().Warn("captor reconfig too long time ... skip");
      const int r = encoder->Config(v, sessionStart_);
      reconfigure_ = 0;
      codecSent = false;
      if (r != CEncVideoH264::kOk) {
        ReportStatusF(MIRROR_ERR_VIDEO_ENCODER, "init video encoder failed (%dx%d)", v->width,
                      v->height);
        break;
      }
    }
    const int64_t passStart = MirrorClockNow();
    EncodedFrame frame;
    const CVideoMgr::EncodeResult result = videoMgr_->EncodeNewest(&frame);
    if (result == CVideoMgr::kSizeChanged) {
      // The capture changed size under the encoder: set it up again before
      // anything of the new size is encoded.
      reconfigure_ = 1;
    } else if (result == CVideoMgr::kEncoded) {
      if (frame.keyFrame == 1 && !codecSent) {
        EncodedFrame codec = frame;
        if (codecPacket_->SetData(codec) == 0) {
          const int n = codecPacket_->GetPacket(videoParam_, packetBuffer_);
          if (n <= 0 || socket_->Send(packetBuffer_.data(), n) <= 0) break;
          codecSent = true;
          ++codecPacketsSent_;
        }
      }
      if (codecSent) {
        if (!SendPacket(bitstreamPacket_, frame)) break;
        ++framesSent_;
      } else {
        // Pictures before the decoder configuration are useless to the
        // receiver: ask for a key frame, which brings one.
        encoder->RequestKeyFrame();
      }
    }
    ++loopPasses_;

    const int fps = ClampFps(v->fps);
    const int64_t budget = static_cast<int64_t>(1000 / fps) * 1024;
    const int64_t spent = MirrorClockNow() - passStart;
    if (spent < budget) Sleep(static_cast<DWORD>((budget - spent) / 1024));
  }
  loopEnd_ = MirrorClockNow();
  if (statisticsTimer_) {
    DeleteTimerQueueTimer(timerQueue_, statisticsTimer_, INVALID_HANDLE_VALUE);
    statisticsTimer_ = nullptr;
  }
  StopVideo();
}
