#include "engine/mirror/VideoParam.h"

VideoParam::VideoParam()
    : receiverWidth(0), receiverHeight(0), width(0), height(0), top(0), left(0), xOffset(0),
      yOffset(0), scaledWidth(0), scaledHeight(0), fullWidth(0), fullHeight(0), fps(30),
      scaleMode(0), quality(6000), rate(0), cursor(1), useDxgi(0), regionMode(0),
      captorReconfigure(0), downscaled(0), captureRect{0, 0, 0, 0} {}
