// The display devices as Windows lists them, and attaching or detaching
// one of them as an extra monitor beside the primary.
//
// Devices fall into three groups: the primary, mirroring drivers, and the
// others (spare outputs and the virtual display driver, "Kelvora Virtual
// Video"); indexes below are indexes among the others, checked against
// 0..otherCount-1 (-1 means none and is refused).
#pragma once

#include <windows.h>

#include "engine/display/DisplayPlatform.h"

// Device string of the virtual display driver's device.
extern const wchar_t kVirtualDisplayDeviceString[];  // "Kelvora Virtual Video"

constexpr int kMaxDisplayDevices = 16;

class CDisplayDeviceMgr {
 public:
  // Refreshes at once (devices, saved primary, "XDisplayDirection").
  explicit CDisplayDeviceMgr(IDisplayPlatform* platform = &DefaultDisplayPlatform());

  // Walks the devices again. The counters start over; a device whose
  // registry settings cannot be read gets an empty mode record and the walk
  // goes on (a never-used port has none, and it is the one we look for).
  int EnumDevices();
  // Enumerates, saves the primary and its mode, and places the extra
  // monitor on the side "XDisplayDirection" names (when it is not -1).
  int Refresh();
  void SetPositionForSide(int side);
  // Takes the first side whose rectangle overlaps no other attached device
  // (virtual display excepted); 0 when none is free (DOWN is set anyway).
  int ChooseSide();
  // Picks the device's mode closest to W x H into width and height.
  bool FindResolution(const wchar_t* deviceName, int W, int H);
  int Attach(int index, int W, int H);
  int Detach(int index);
  int RestorePrimaryResolution();
  int SetDisplayOrientation(int index, int type);
  int FindDeviceByString();
  int FindVirtualDevice();
  bool IsVirtualDevice(int index);
  // "XDisplayDirection" (machine hive when the product is machine based), -1 by default.
  int ReadXDisplayDirection();

  bool ValidIndex(int index) const { return index >= 0 && index < otherCount; }

  int chosenIndex = -1;
  int otherCount = 0;
  int mirrorCount = 0;
  int numDisplayPorts = 1;
  int numDisplayPortsFree = 0;
  DISPLAY_DEVICEW primary;
  DISPLAY_DEVICEW savedPrimary;
  DISPLAY_DEVICEW others[kMaxDisplayDevices];
  DISPLAY_DEVICEW mirrors[kMaxDisplayDevices];
  DEVMODEW primaryMode;
  DEVMODEW savedPrimaryMode;
  DEVMODEW otherModes[kMaxDisplayDevices];
  DEVMODEW mirrorModes[kMaxDisplayDevices];
  int positionX = 0;
  int positionY = 0;
  int attached = 0;
  int width = 1024;
  int height = 768;

 private:
  IDisplayPlatform* platform_;
};
