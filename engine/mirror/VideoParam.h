// The session's video configuration and the encoder's output record. No
// platform headers: the packet builder and the geometry routine are pure.
#pragma once

#include <cstdint>
#include <string>

struct CaptureRect {
  int32_t left, top, right, bottom;
};

// The session's video configuration, handed by pointer to the captors, the
// encoder bridge and the geometry routine. Each thread of a session works on
// a record of its own; CVideoHandOver moves changes between them.
struct VideoParam {
  VideoParam();

  int32_t receiverWidth, receiverHeight;  // from GET /stream.xml; 0 until then
  int32_t width, height;                  // capture size = encoded size (always even)
  int32_t top, left;                      // capture origin on the virtual desktop
  float xOffset, yOffset;                 // picture position on the receiver's screen
  float scaledWidth, scaledHeight;        // picture size on the receiver's screen
  int32_t fullWidth, fullHeight;          // capture size before downscaling; 0 if none
  int32_t fps;
  int32_t scaleMode;
  int32_t quality;
  int32_t rate;                           // encoder rate value
  int32_t cursor;
  int32_t useDxgi;
  int32_t regionMode;                     // 0 whole monitor, 1 user rectangle
  int32_t captorReconfigure;              // set by a change, cleared by the video manager
  int32_t downscaled;                     // capture exceeded 1920x1080
  CaptureRect captureRect;                // used at the next captor reconfiguration
  std::wstring monitorName;               // device name of the mirrored monitor
};

// One encoder output handed to the stream packets.
struct EncodedFrame {
  uint8_t* data = nullptr;  // owned by the encoder bridge
  int32_t keyFrame = -1;    // 1 key frame, 0 other, -1 no frame
  int32_t size = 0;         // bytes
  int64_t pts = 0;          // microseconds since the session start
};
