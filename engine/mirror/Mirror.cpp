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
  handOver_.Change([param](VideoParam& v) {
    v.fps = ClampFps(param->fps);
    v.scaleMode = param->scaleMode;
    v.quality = param->quality;
    v.cursor = param->showCursor;
    v.useDxgi = param->useDxgi;
    v.regionMode = 0;
    return kVideoChangeNone;
  });
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
  delete audio_.exchange(nullptr);
}

MirrorStatus CMirror::Status() const {
  ScopedLock<CBaseMutex> guard(textLock_);
  MirrorStatus s;
  s.state = state_;
  s.lastError = lastError_;
  s.text = statusText_;
  return s;
}

std::wstring CMirror::StatusText() const {
  ScopedLock<CBaseMutex> guard(textLock_);
  return statusText_;
}

int CMirror::LastError() const {
  ScopedLock<CBaseMutex> guard(textLock_);
  return lastError_;
}

void CMirror::SetState(MirrorState state) {
  ScopedLock<CBaseMutex> guard(textLock_);
  state_ = state;
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
    SetState(MirrorState::kFailed);
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
  SetState(MirrorState::kConnecting);
  if (StartThread() != 0) {
    ZtLogger::Instance().Error("[Mirror]CBaseThread Start fail");
    ntpServer_->Socket().Close(0);
    ntpServer_->StopThread();
    SetState(MirrorState::kFailed);
    return false;
  }
  return true;
}

int CMirror::Stop() {
  // The flag first: a handshake step that fails because its socket is closed
  // below must see that it was stopped, not refused.
  RequestStop();
  if (socket_) socket_->Close(0);
  ntpServer_->Socket().Close(0);
  ntpServer_->StopThread(kThreadStopWaitMs, false);
  if (!IsRunning() || !ThreadHandle()) return 1;
  return WaitThread(kSessionStopWaitMs) ? 1 : 0;
}

bool CMirror::StopAndRelease(CMirror*& session, DWORD boundMs, MirrorStatus* last) {
  if (!session) return true;
  const DWORD t0 = GetTickCount();
  bool ended = session->Stop() != 0;
  if (!ended) {
    const DWORD spent = GetTickCount() - t0;
    if (spent < boundMs) ended = session->WaitThread(boundMs - spent);
  }
  if (last) *last = session->Status();
  if (!ended) {
    ZtLogger::Instance().Warn("[Mirror]session thread still running after %u ms, kept",
                              static_cast<unsigned>(GetTickCount() - t0));
    return false;
  }
  delete session;
  session = nullptr;
  return true;
}

bool CMirror::SelectMonitor(unsigned index) {
  CMonitorList monitors;
  monitors.Enumerate();
  MonitorRect r;
  if (index >= static_cast<unsigned>(monitors.Count()) ||
      !monitors.GetRect(static_cast<int>(index), &r))
    return false;
  currentMonitor_ = static_cast<int>(index);
  const std::wstring name = monitors.GetName(static_cast<int>(index));
  handOver_.Change([&](VideoParam& v) {
    v.monitorName = name;
    v.captureRect = CaptureRect{r.left, r.top, r.right, r.bottom};
    v.regionMode = 0;
    return kVideoChangeCaptor;
  });
  return true;
}

void CMirror::SetCaptureRegion(int left, int top, int right, int bottom) {
  handOver_.Change([&](VideoParam& v) {
    v.captureRect = CaptureRect{left, top, right, bottom};
    v.regionMode = 1;
    return kVideoChangeCaptor;
  });
}

void CMirror::UpdateVideoSettings(MirrorParam param) {
  handOver_.Change([&](VideoParam& v) {
    unsigned change = kVideoChangeNone;
    if (param.showCursor != v.cursor) v.cursor = param.showCursor;
    if (param.scaleMode != v.scaleMode) {
      v.scaleMode = param.scaleMode;
      // The area captured now: before any downscaling, so a capture above
      // 1920x1080 keeps its whole area rather than its scaled size.
      const bool scaled = v.downscaled && v.fullWidth > 0 && v.fullHeight > 0;
      const int width = scaled ? v.fullWidth : v.width;
      const int height = scaled ? v.fullHeight : v.height;
      v.captureRect = CaptureRect{v.left, v.top, v.left + width, v.top + height};
      change |= kVideoChangeCaptor;
    }
    if (param.quality != v.quality) {
      v.quality = param.quality;
      v.rate = RateForQuality(param.quality);
      change |= kVideoChangeEncoder;
    }
    // Taken at the next pacing step, without a reconfiguration.
    v.fps = ClampFps(param.fps);
    return change;
  });
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
    if (code != 0) lastError_ = code;
  }
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
  const bool clean = RunSession();
  SetState(clean ? MirrorState::kEnded : MirrorState::kFailed);
  return 0;
}

bool CMirror::RunSession() {
  // A step that fails because the owner stopped the session (its socket was
  // closed under it) is no failure to report: no error text, no message box.
  if (!socket_->Connect(host_.c_str(), port_)) {
    if (StopRequested()) return true;
    ReportStatusF(MIRROR_ERR_CONNECT, "Connect to %s:[%d] failed", host_.c_str(), port_);
    return false;
  }
  ReportStatus(0, "connect server done");

  if (!SendGetStream()) {
    if (StopRequested()) return true;
    if (realm_.empty() || nonce_.empty()) {
      ReportStatus(MIRROR_ERR_GET_STREAM, "send GET /stream.xml failed");
    }
    return false;
  }
  ReportStatus(0, "GetStream ok");
  if (!SendPostStream()) {
    if (StopRequested()) return true;
    ReportStatus(MIRROR_ERR_POST_STREAM, "send POST /stream failed");
    return false;
  }
  ReportStatus(0, "PostStream ok");
  SetState(MirrorState::kStreaming);

  CMirrorAudio* audio = new CMirrorAudio();
  audio_.store(audio);
  ReportStatusF(0, "Mirror to %s", host_.c_str());
  // Its result is not needed: without a captor, or when the captor cannot
  // start, the session mirrors the picture alone. Audio port 0 names no
  // audio service: nothing to connect to.
  if (audioPort_ != 0) {
    audio->Init(host_.c_str(), audioPort_, deviceId_.c_str(), useAlac_, password_.c_str());
  }
  if (!audio->Captor() || audio->Captor()->Start() < 0) {
    ReportStatusF(0, "Mirror to %s without the Audio", host_.c_str());
  }

  StartHeartbeatTimer();
  const bool clean = CaptureLoop();
  StopTimers();
  // The captor's thread first, so no frame is sent while the client closes.
  if (audio->Captor()) audio->Captor()->Stop();
  audio->Stop();
  ReportStatus(0, "Mirror quit");
  return clean;
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
  int n = heartbeatPacket_->GetPacket(&heartbeatVideo_, buf);
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
  const int r = videoMgr_->Config(&handOver_, sessionStart_);
  // The encoder was set up with the geometry the captor fixed: the session
  // stamps the same into its packets.
  video_ = handOver_.Snapshot();
  if (r == CEncVideoH264::kNoBridge) {
    ReportStatus(MIRROR_ERR_VIDEO_ENCODER, "load video encoder libVencBridge.dll failed");
  } else if (r != CEncVideoH264::kOk) {
    ReportStatusF(MIRROR_ERR_VIDEO_ENCODER, "init video encoder failed (%dx%d)", video_.width,
                  video_.height);
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
  const int n = packet->GetPacket(&video_, packetBuffer_);
  if (n <= 0) return true;
  return socket_->Send(packetBuffer_.data(), n) > 0;
}

bool CMirror::CaptureLoop() {
  // The session thread's own record: the owner's settings so far, the
  // receiver's size from the handshake, and the first capture size.
  VideoParam& v = video_;
  v = handOver_.Snapshot();
  if (v.width == 0 || v.height == 0) {
    v.width = GetSystemMetrics(SM_CXSCREEN);
    v.height = GetSystemMetrics(SM_CYSCREEN);
    v.left = 0;
    v.top = 0;
    CMonitorList monitors;
    MonitorRect r;
    if (monitors.Enumerate() && monitors.GetRect(monitors.currentIndex(), &r)) {
      v.width = r.width;
      v.height = r.height;
    }
  }
  if (CalcVideoScale(&v) != 0) {
    ZtLogger::Instance().Error("[Mirror]start capture loop Failed : invalid input param");
    return false;
  }
  handOver_.PublishGeometry(v);
  if (!StartVideo()) return false;

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
  bool clean = true;
  CEncVideoH264* encoder = videoMgr_->Encoder();
  while (!StopRequested()) {
    if (handOver_.EncoderPending()) {
      // Give the capture thread its pass to set the captor up, then take the
      // geometry it published.
      Sleep(100);
      for (int checks = 0; handOver_.CaptorPending() && checks < 61 && !StopRequested(); ++checks)
        Sleep(100);
      if (handOver_.CaptorPending()) {
        ZtLogger::Instance().Warn("captor reconfig too long time ... skip");
      }
      handOver_.TakeForEncoder(&v);
      const int r = encoder->Config(&v, sessionStart_);
      codecSent = false;
      if (r != CEncVideoH264::kOk) {
        ReportStatusF(MIRROR_ERR_VIDEO_ENCODER, "init video encoder failed (%dx%d)", v.width,
                      v.height);
        clean = false;
        break;
      }
    }
    const int64_t passStart = MirrorClockNow();
    EncodedFrame frame;
    const CVideoMgr::EncodeResult result = videoMgr_->EncodeNewest(&frame);
    if (result == CVideoMgr::kSizeChanged) {
      // The capture changed size under the encoder: set it up again before
      // anything of the new size is encoded.
      handOver_.RequestEncoder();
    } else if (result == CVideoMgr::kEncoded) {
      if (frame.keyFrame == 1 && !codecSent) {
        EncodedFrame codec = frame;
        if (codecPacket_->SetData(codec) == 0) {
          const int n = codecPacket_->GetPacket(&v, packetBuffer_);
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
    SleepRestOfFrame(passStart, handOver_.Fps());
  }
  loopEnd_ = MirrorClockNow();
  if (statisticsTimer_) {
    DeleteTimerQueueTimer(timerQueue_, statisticsTimer_, INVALID_HANDLE_VALUE);
    statisticsTimer_ = nullptr;
  }
  StopVideo();
  return clean;
}
