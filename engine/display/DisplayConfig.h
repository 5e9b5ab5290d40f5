// The display-configuration API of Windows 7 and later (five User32
// functions, looked up at run time): which outputs of the graphics adapters
// are free, which can be forced on, and switching a forced output's boot
// persistence on and off.
#pragma once

#include <windows.h>

#include <vector>

#include "engine/display/DisplayPlatform.h"

struct DisplayTarget {
  UINT32 adapterLow = 0;
  LONG adapterHigh = 0;
  UINT32 id = 0;
  bool inUse = false;
  bool forcible = false;
  bool available = false;
  bool forced = false;  // forced available by the system or at boot
};

struct DisplaySource {
  UINT32 adapterLow = 0;
  LONG adapterHigh = 0;
  UINT32 id = 0;
  bool inUse = false;
  wchar_t gdiName[32] = {};
};

class CDisplayConfig {
 public:
  explicit CDisplayConfig(IDisplayPlatform* platform = &DefaultDisplayPlatform());
  ~CDisplayConfig();

  // 1 before Windows 7 (nothing bound, nothing to use); otherwise 1 when all
  // five functions were found, 0 when any is missing.
  int Bind();
  // Reads every path into the target and source lists; 0 on failure.
  int Query();
  // Prints a path's fields on the standard output (diagnostics only).
  void DumpPath(const DISPLAYCONFIG_PATH_INFO& path);
  // After a query: ids, or -1.
  int FindFreeTarget();
  int FindForcibleTarget();
  // Makes the first free forcible target persistent; 1 and its id on success.
  int PersistFreeTarget(int* targetId);
  // Waits (up to 20 x 100 ms) for the forced target to show, then turns its
  // persistence off; 1 on success.
  int ReleaseTarget(int targetId);

  const std::vector<DisplayTarget>& targets() const { return targets_; }
  const std::vector<DisplaySource>& sources() const { return sources_; }
  bool internalFound() const { return internalFound_; }

 private:
  LONG SetPersistence(const DisplayTarget& target, bool on);

  IDisplayPlatform* platform_;
  std::vector<DisplayTarget> targets_;
  std::vector<DisplaySource> sources_;
  UINT32 internalAdapterLow_ = 0;
  LONG internalAdapterHigh_ = 0;
  bool internalFound_ = false;
};
