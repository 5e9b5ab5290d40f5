// One mirroring session from this PC to one receiver.
//
// The owner builds it from a MirrorParam, calls Start, polls Status, and
// ends it with StopAndRelease, which deletes it only once its thread has
// ended. The session thread connects to the receiver, runs the handshake,
// starts the audio sender and the video manager, and sends one encoded frame
// per pass, paced to the frame rate; a timer sends a heartbeat every second
// and the NTP answer service runs beside it. The owner's changes (monitor,
// region, settings) reach the capture and session threads through the
// session's CVideoHandOver.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/audio/MirrorAudio.h"
#include "engine/capture/VideoMgr.h"
#include "engine/mirror/MirrorTypes.h"
#include "engine/mirror/NtpServer.h"
#include "engine/mirror/StreamPacket.h"
#include "engine/mirror/StreamReply.h"
#include "engine/mirror/VideoHandOver.h"
#include "foundation/net/SocketStream.h"
#include "foundation/thread/Threads.h"

// Shows the session's connection-failure message (string 348 or 349 of the
// program's string table) modally on the session thread. The program installs
// it; the library and the tools leave it null, and then nothing is shown.
using MirrorErrorPromptFn = void (*)(int stringId);
void SetMirrorErrorPrompt(MirrorErrorPromptFn fn);

constexpr int kStringConnectOffline = 348;   // "Connection failed - Tessarine is offline"
constexpr int kStringConnectFirewall = 349;  // "Connection failed - check firewall settings"

// Where a session is, as its owners see it.
enum class MirrorState {
  kIdle,        // built; Start not called yet
  kConnecting,  // Start ran: connecting to the receiver and the handshake
  kStreaming,   // the handshake succeeded ("PostStream ok"): pictures go out
  kEnded,       // the thread ended without an error: stopped by the owner (also
                // during the handshake), or the receiver closed the stream
  kFailed,      // Start failed, or the thread ended on a failure: lastError holds
                // its code (0 when the receiver wanted or refused a password)
};

// State, last error and status text, read together.
struct MirrorStatus {
  MirrorState state = MirrorState::kIdle;
  int lastError = 0;
  std::wstring text;
};

// Default bound of CMirror::StopAndRelease: the session thread's stop wait.
constexpr DWORD kMirrorReleaseWaitMs = 2000;

class CMirror : public CBaseThread {
 public:
  // Copies what it needs from param and writes the primary monitor's index
  // into param->displayIndex. No thread runs yet.
  explicit CMirror(MirrorParam* param);
  ~CMirror() override;

  // Opens the socket, starts the NTP service and the session thread. False
  // (state kFailed) when the socket or the session thread could not be made.
  bool Start(const char* host, uint16_t audioPort);
  // 1 when the session thread has ended (or never ran), 0 when it still runs
  // after the 2000 ms wait; the owner must not delete the session then.
  int Stop();
  // Stops *session and deletes it once its thread has ended, waiting at most
  // boundMs in all (at least Stop's 2000 ms); *last (when given) gets its
  // final status. True: deleted, *session null. False: the thread still runs
  // (a modal error box on it); the session stays the caller's, stopping,
  // never freed under its thread: call again later.
  static bool StopAndRelease(CMirror*& session, DWORD boundMs = kMirrorReleaseWaitMs,
                             MirrorStatus* last = nullptr);

  // Owner's thread, before or during the session; the capture and session
  // threads take the change at their next pass.
  bool SelectMonitor(unsigned index);
  void SetCaptureRegion(int left, int top, int right, int bottom);
  void UpdateVideoSettings(MirrorParam param);
  void SetVolume(int volume);

  // State, last error and status text under one lock: a consistent triple.
  MirrorStatus Status() const;
  std::wstring StatusText() const;
  std::wstring StatisticsText() const;
  int LastError() const;

  int Run() override;

  // Handshake steps (1 success, 0 failure).
  int SendGetStream();
  int SendPostStream();

  // Test and diagnostics access.
  VideoParam Video() const { return handOver_.Snapshot(); }
  CVideoHandOver& VideoHandOver() { return handOver_; }
  // Bitstream packets with picture data sent, and codec packets sent.
  long long FramesSent() const { return framesSent_; }
  long long CodecPacketsSent() const { return codecPacketsSent_; }
  int CurrentMonitor() const { return currentMonitor_; }
  const std::string& ReceiverVersion() const { return receiverVersion_; }
  const std::string& Realm() const { return realm_; }
  const std::string& Nonce() const { return nonce_; }
  int64_t SessionStart() const { return sessionStart_; }
  long long LoopPasses() const { return loopPasses_; }
  // The audio sender; null until the handshake succeeded.
  CMirrorAudio* Audio() const { return audio_.load(); }
  // The NTP service's port; 7010 unless changed before Start.
  void SetNtpPort(unsigned short port) { ntpServer_->SetPort(port); }

  // Encoder rate value derived from the quality value.
  static int RateForQuality(int quality);

 private:
  void ReportStatus(int code, const char* text);
  void ReportStatusF(int code, const char* fmt, ...) __attribute__((format(ms_printf, 3, 4)));
  void SetState(MirrorState state);
  // The session from connecting to "Mirror quit"; false when it ended on a
  // failure (kFailed), true when it was stopped or the receiver ended it.
  bool RunSession();
  int SendGetStreamAttempt(int attempt);
  // False when the loop ended on a failure of its own (not a stop, not a
  // receiver that closed the stream).
  bool CaptureLoop();
  bool StartVideo();
  void StopVideo();
  bool SendPacket(CStreamPacket* packet, EncodedFrame& frame);
  bool StartHeartbeatTimer();
  void StopTimers();
  void PostToOwner(LPARAM lParam);
  void SendHeartbeat();
  void ReportFps();
  static void CALLBACK HeartbeatCallback(PVOID self, BOOLEAN);
  static void CALLBACK StatisticsCallback(PVOID self, BOOLEAN);

  WinsockScope winsock_;
  // The owner reads these; the session and timer threads write them.
  mutable CBaseMutex textLock_;
  MirrorState state_ = MirrorState::kIdle;
  int lastError_ = 0;
  std::wstring statusText_;
  std::wstring statisticsText_;
  std::string host_;
  HWND owner_ = nullptr;
  socket_stream* socket_ = nullptr;
  // The shared video record (owner, capture thread, session thread) and the
  // session thread's own copy, taken when it sets the encoder up; the
  // heartbeat timer builds from a record no thread writes.
  CVideoHandOver handOver_;
  VideoParam video_;
  const VideoParam heartbeatVideo_;
  CCodecPacket* codecPacket_ = nullptr;
  CBitstreamPacket* bitstreamPacket_ = nullptr;
  CHeartbeatPacket* heartbeatPacket_ = nullptr;
  CNtpServer* ntpServer_ = nullptr;
  // Made by the session thread, read by the owner's SetVolume.
  std::atomic<CMirrorAudio*> audio_{nullptr};
  uint16_t port_ = MIRROR_PORT;
  int16_t volume_ = 50;
  std::string receiverVersion_;
  std::string userAgent_ = "Nb5Sender";
  std::string deviceId_;
  std::string clientName_;
  std::string realm_;
  std::string nonce_;
  std::string password_;
  int64_t sessionStart_ = 0;
  HANDLE heartbeatTimer_ = nullptr;
  HANDLE statisticsTimer_ = nullptr;
  HANDLE timerQueue_ = nullptr;
  int useAlac_ = 0;
  uint16_t audioPort_ = 0;
  int64_t loopStart_ = 0;
  int64_t loopEnd_ = 0;
  // Exists only while the capture loop runs; the statistics timer reads its
  // counters and is deleted before it.
  CVideoMgr* videoMgr_ = nullptr;
  int currentMonitor_ = 0;

  volatile long long loopPasses_ = 0;
  volatile long long framesSent_ = 0;
  volatile long long codecPacketsSent_ = 0;

  std::vector<uint8_t> packetBuffer_;  // session thread's send buffer, reused
};

// Handshake helpers (pure apart from the digest and random helpers); the
// reply's reader and ParseStreamInfoPlist are in StreamReply.h.
// The POST /stream body as a binary property list.
std::vector<uint8_t> BuildStreamPlist(int32_t sessionId, int64_t deviceId);
int32_t MakeRandomId();
std::wstring GetDeviceName();
std::string GetDeviceIdText();
