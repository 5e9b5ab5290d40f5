// One mirroring session from this PC to one receiver.
//
// The owner builds it from a MirrorParam, calls Start, and later Stop; it
// deletes the session only after Stop returned 1 (the thread has ended).
// The session thread connects to the receiver, runs the handshake, starts
// the audio sender and the video manager, and sends one encoded frame per
// pass, paced to the frame rate; a timer sends a heartbeat every second and
// the NTP answer service runs beside it.
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
#include "foundation/net/SocketStream.h"
#include "foundation/thread/Threads.h"

// Shows the session's connection-failure message (string 348 or 349 of the
// program's string table) modally on the session thread. The program installs
// it; the library and the tools leave it null, and then nothing is shown.
using MirrorErrorPromptFn = void (*)(int stringId);
void SetMirrorErrorPrompt(MirrorErrorPromptFn fn);

constexpr int kStringConnectOffline = 348;   // "Connection failed - Tessarine is offline"
constexpr int kStringConnectFirewall = 349;  // "Connection failed - check firewall settings"

class CMirror : public CBaseThread {
 public:
  // Copies what it needs from param and writes the primary monitor's index
  // into param->displayIndex. No thread runs yet.
  explicit CMirror(MirrorParam* param);
  ~CMirror() override;

  // Opens the socket, starts the NTP service and the session thread. False
  // when the socket or the session thread could not be made.
  bool Start(const char* host, uint16_t audioPort);
  // 1 when the session thread has ended (or never ran), 0 when it still runs
  // after the 2000 ms wait; the owner must not delete the session then.
  int Stop();

  bool SelectMonitor(unsigned index);
  void SetCaptureRegion(int left, int top, int right, int bottom);
  void UpdateVideoSettings(MirrorParam param);
  void SetVolume(int volume);

  std::wstring StatusText() const;
  std::wstring StatisticsText() const;
  int LastError() const { return lastError_; }

  int Run() override;

  // Handshake steps (1 success, 0 failure).
  int SendGetStream();
  int SendPostStream();

  // Test and diagnostics access.
  const VideoParam& Video() const { return *videoParam_; }
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

  // Frame rate clamp shared with the owners: 0 or above 60 makes no sense.
  static int ClampFps(int fps) { return fps < 1 ? 1 : (fps > 60 ? 60 : fps); }
  // Encoder rate value derived from the quality value.
  static int RateForQuality(int quality);

 private:
  void ReportStatus(int code, const char* text);
  void ReportStatusF(int code, const char* fmt, ...) __attribute__((format(ms_printf, 3, 4)));
  int SendGetStreamAttempt(int attempt);
  bool ReadHeaderLine(std::string& line);
  void CaptureLoop();
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
  volatile int lastError_ = 0;
  mutable CBaseMutex textLock_;  // statusText_ and statisticsText_ are read by the owner
  std::wstring statusText_;
  std::wstring statisticsText_;
  std::string host_;
  HWND owner_ = nullptr;
  socket_stream* socket_ = nullptr;
  VideoParam* videoParam_ = nullptr;
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
  volatile int32_t reconfigure_ = 0;
  // Exists only while the capture loop runs; the statistics timer reads its
  // counters and is deleted before it.
  CVideoMgr* videoMgr_ = nullptr;
  int currentMonitor_ = 0;

  volatile long long loopPasses_ = 0;
  volatile long long framesSent_ = 0;
  volatile long long codecPacketsSent_ = 0;

  std::vector<uint8_t> packetBuffer_;  // session thread's send buffer, reused
};

// Handshake helpers (pure apart from the digest and random helpers).
// 0; -1 "width" missing, -2 "height" missing, -3 "version" missing; -4 the
// body is no readable property list or a value has the wrong type.
int ParseStreamInfoPlist(const uint8_t* body, int length, int* width, int* height,
                         std::string* version);
// The POST /stream body as a binary property list.
std::vector<uint8_t> BuildStreamPlist(int32_t sessionId, int64_t deviceId);
int32_t MakeRandomId();
std::wstring GetDeviceName();
std::string GetDeviceIdText();
