// Records shared by the mirroring session and its stages (capture, encoder
// bridge, geometry, stream packets).
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "engine/mirror/VideoParam.h"

// Receiver's mirroring port.
constexpr uint16_t MIRROR_PORT = 7100;

// Posted to the owner window: lParam 0 when the receiver wants a password
// and none is set, 1 when the password that was sent was refused.
constexpr UINT WM_MIRROR_PASSWORD = 0x7F8;

// Session status codes (lastError and status reports).
constexpr int MIRROR_ERR_CONNECT = -10002;
constexpr int MIRROR_ERR_PARSE_STREAM_PLIST = -10005;
constexpr int MIRROR_ERR_GET_STREAM = -10010;
constexpr int MIRROR_ERR_POST_STREAM = -10011;

// Filled by the owner (from the tuning values) and kept by it.
struct MirrorParam {
  HWND owner = nullptr;        // receives WM_MIRROR_PASSWORD; null in the library
  uint16_t port = MIRROR_PORT;
  uint16_t fps = 30;
  uint16_t quality = 6000;
  int16_t volume = 50;         // 0..100
  int32_t scaleMode = 0;       // 0 none, 1 fit by ratio, 2 stretch to the receiver
  int32_t showCursor = 1;
  int32_t useDxgi = 0;
  int32_t displayIndex = 0;    // overwritten by the session with the primary monitor
  RECT area{0, 0, 0, 0};       // last user-chosen capture area; kept for the owner
  std::string password;        // UTF-8, empty when none
};

