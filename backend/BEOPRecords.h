// The records that carry one backend operation through the system.
//
// Ownership of a BEOPOperation: its poster until PostThreadMessageW of
// WM_BEOP_START succeeds; then the manager and its worker (one thread at a
// time); the completion handler frees it. Whoever holds it when a post
// fails frees it, so every record is freed exactly once on every path.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <string>

#include "backend/BEJsonReaders.h"           // RelayInfo, ServiceTokenInfo
#include "engine/discovery/ReceiverProbe.h"  // WM_LOOKUP_RESULT, BEOP_E_LOOKUP_*

// Operation bits of the op word.
enum : int {
  BEOP_OP_DEVINIT = 0x0001,
  BEOP_OP_CREATEMT = 0x0200,
  BEOP_OP_UPDATEMT = 0x0400,
  BEOP_OP_QUERYMT = 0x0800,
  BEOP_OP_DELETEMT = 0x1000,
  BEOP_OP_GETRELAYINFO = 0x2000,
  BEOP_OP_GETSERVICETOKENINFO = 0x4000,
};

// Result codes of the backend client.
enum : int {
  BEOP_E_OUT_OF_MEMORY = 0x30001,
  BEOP_E_NULL_PARAM = 0x30002,
  BEOP_E_INVALID_PARAM = 0x30003,
};
static_assert(BEOP_E_LOOKUP_FAILED == 0x30004 && BEOP_E_LOOKUP_INCOMPLETE == 0x30005,
              "the decoder's codes continue the backend's");

// Sponsors: who asked for an operation.
enum : int {
  BEOP_SPONSOR_BEOPMGR = 1,
  BEOP_SPONSOR_MAINFRAME = 2,
  BEOP_SPONSOR_RENEW = 7,
  BEOP_SPONSOR_DEVINIT = 8,
  BEOP_SPONSOR_MEETING_UPDATE = 9,
  BEOP_SPONSOR_CHECK_MIRRORING_ID = 12,
  BEOP_SPONSOR_GET_RELAY_INFO = 13,
};

// Thread messages of the manager and window messages it sends.
constexpr UINT WM_BEOP_BUSY = 0x13A1;
constexpr UINT WM_BEOP_START = 0x13A2;
constexpr UINT WM_BEOP_END = 0x13A3;
constexpr UINT WM_BEOP_STATE_CHANGED = 0x13A5;
constexpr UINT WM_BEOP_MT_UPDATED = 0x83E;
constexpr UINT WM_BEOP_RENEW_MT = 0x83F;
constexpr UINT WM_BEOP_RELAY_INFO = 0x842;

struct BEOPPara {
  int meetingStatus = 0;
  std::wstring user;
  std::wstring password;
  std::wstring machineId;
  std::wstring meetingToken;
  std::wstring serviceToken;
  std::wstring hostName;
  std::wstring platform;
  std::string meetingDesc;
  int proxyScheme = 0;
  std::wstring proxyServer;
  std::wstring proxyBypass;
  std::wstring proxyUser;
  std::wstring proxyPassword;
  int sendFailed = 0;
  int status = 0;
  std::wstring errorText;
  std::wstring tokenDuration;
  RelayInfo relayInfo;
  ServiceTokenInfo serviceTokenInfo;
};

struct BEOPOperation {
  BEOPOperation() { ++live_; }
  ~BEOPOperation() { --live_; }
  BEOPOperation(const BEOPOperation&) = delete;
  BEOPOperation& operator=(const BEOPOperation&) = delete;

  HWND busyWindow = nullptr;
  BYTE notify = 0;
  HWND resultWindow = nullptr;
  int sponsor = 0;
  int op = 0;
  int fallbackOp = 0;
  int opInWork = 0;
  int fallbackInWork = 0;
  BEOPPara para;

  // Records alive in the process: every path must bring this back down.
  static int LiveCount() { return live_.load(); }

 private:
  static std::atomic<int> live_;
};

// One worker run's inputs (UTF-8) and results.
struct BEServiceRequest {
  int meetingStatus = 0;
  int sendFailed = 0;
  int status = 0;
  std::string user;
  std::string password;
  std::string machineId;
  std::string meetingDesc;
  std::string meetingToken;
  std::string hostName;
  std::string platform;
  std::string serviceToken;
  std::wstring errorText;
  RelayInfo relayInfo;
  ServiceTokenInfo serviceTokenInfo;
  std::wstring proxyServer;
  std::wstring proxyBypass;
  std::wstring proxyUser;
  std::wstring proxyPassword;
  int proxyScheme = 0;
  std::wstring tokenDuration;
};
