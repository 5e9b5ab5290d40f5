// The extended desktop: adds a monitor the user does not have (a spare
// output of the graphics adapter, made to look connected through the
// display-configuration API, or the virtual display driver's device),
// beside the primary at a mode close to 1024x768, and removes it again.
//
// Owners (the main window, the transmitter session) keep one object: Enable,
// GetMonitorIndex for the monitor to mirror, Disable when mirroring ends or
// another display is chosen. All calls on the owner's thread.
#pragma once

#include "engine/display/DisplayConfig.h"
#include "engine/display/DisplayDeviceMgr.h"
#include "engine/display/DisplayPlatform.h"

class CExtendDisplay {
 public:
  explicit CExtendDisplay(IDisplayPlatform* platform = &DefaultDisplayPlatform());
  ~CExtendDisplay();
  CExtendDisplay(const CExtendDisplay&) = delete;
  CExtendDisplay& operator=(const CExtendDisplay&) = delete;

  // Writes the port counts and the composition state to the registry, reads
  // "ForceUsingVD", and picks the device a later attach would use.
  void Detect();
  // Non-zero when a device was attached (or one is attached already).
  int Enable();
  // Removes the extra monitor; changes nothing when nothing is attached.
  void Disable();
  // Index of the added monitor in a fresh monitor list (device names
  // compared without regard to case); 0 when there is none.
  int GetMonitorIndex();

  CDisplayDeviceMgr* deviceMgr = nullptr;
  int orientation = 0;  // DMDO_DEFAULT .. DMDO_270
  CDisplayConfig* displayConfig = nullptr;
  int targetId = -1;
  int freePort = 0;
  int forciblePort = 0;
  int forceVirtual = 0;
  int width = 1024;
  int height = 768;

 private:
  IDisplayPlatform* platform_;
};
