#include "engine/display/DisplayDeviceMgr.h"

#include <cstring>
#include <cwchar>
#include <vector>

#include "engine/display/DisplayDecisions.h"
#include "foundation/log/Logger.h"
#include "foundation/sys/SysUtil.h"

const wchar_t kVirtualDisplayDeviceString[] = L"Kelvora Virtual Video";

namespace {

// Bounds on walks that a misbehaving driver could make endless.
constexpr DWORD kMaxDeviceWalk = 256;
constexpr DWORD kMaxModeWalk = 4096;
// DM_POSITION | DM_BITSPERPEL | DM_PELSWIDTH | DM_PELSHEIGHT
constexpr DWORD kAttachFields = 0x1C0020;

ZtLogger& Log() { return ZtLogger::Instance(); }

DEVMODEW EmptyMode() {
  DEVMODEW m;
  std::memset(&m, 0, sizeof(m));
  m.dmSize = sizeof(DEVMODEW);
  return m;
}

bool IsVirtual(const DISPLAY_DEVICEW& d) {
  return std::wcscmp(d.DeviceString, kVirtualDisplayDeviceString) == 0;
}

bool AttachedToDesktop(const DISPLAY_DEVICEW& d) {
  return (d.StateFlags & DISPLAY_DEVICE_ATTACHED_TO_DESKTOP) != 0;
}

}  // namespace

CDisplayDeviceMgr::CDisplayDeviceMgr(IDisplayPlatform* platform) : platform_(platform) {
  std::memset(&primary, 0, sizeof(primary));
  std::memset(&savedPrimary, 0, sizeof(savedPrimary));
  std::memset(others, 0, sizeof(others));
  std::memset(mirrors, 0, sizeof(mirrors));
  primaryMode = savedPrimaryMode = EmptyMode();
  for (int i = 0; i < kMaxDisplayDevices; ++i) otherModes[i] = mirrorModes[i] = EmptyMode();
  Refresh();
}

int CDisplayDeviceMgr::EnumDevices() {
  otherCount = 0;
  mirrorCount = 0;
  positionX = 0;
  positionY = 0;
  // Counted afresh each walk: they are written to the registry as counts.
  numDisplayPorts = 1;
  numDisplayPortsFree = 0;
  for (DWORD i = 0; i < kMaxDeviceWalk; ++i) {
    DISPLAY_DEVICEW device;
    std::memset(&device, 0, sizeof(device));
    device.cb = sizeof(device);
    if (!platform_->EnumDisplayDevice(i, &device)) break;
    DEVMODEW mode = EmptyMode();
    if (!platform_->EnumDisplayMode(device.DeviceName, ENUM_REGISTRY_SETTINGS, &mode))
      mode = EmptyMode();
    if (device.StateFlags & DISPLAY_DEVICE_PRIMARY_DEVICE) {
      primary = device;
      primaryMode = mode;
    } else if (device.StateFlags & DISPLAY_DEVICE_MIRRORING_DRIVER) {
      if (mirrorCount < kMaxDisplayDevices) {
        mirrors[mirrorCount] = device;
        mirrorModes[mirrorCount] = mode;
        ++mirrorCount;
      }
    } else if (otherCount < kMaxDisplayDevices) {
      others[otherCount] = device;
      otherModes[otherCount] = mode;
      ++otherCount;
      if (!IsVirtual(device)) {
        ++numDisplayPorts;
        if (!AttachedToDesktop(device)) ++numDisplayPortsFree;
      }
    }
  }
  return 1;
}

int CDisplayDeviceMgr::Refresh() {
  const int r = EnumDevices();
  savedPrimary = primary;
  savedPrimaryMode = primaryMode;
  const int side = ReadXDisplayDirection();
  if (side != -1) SetPositionForSide(side);
  return r;
}

int CDisplayDeviceMgr::ReadXDisplayDirection() {
  const bool machine = platform_->KvSBasedType() != 0;
  return static_cast<int>(platform_->ReadProductDword(machine, L"XDisplayDirection", 0xFFFFFFFFu));
}

void CDisplayDeviceMgr::SetPositionForSide(int side) {
  int W = 0, H = 0;
  platform_->PrimaryScreenSize(&W, &H);
  display::PositionForSide(side, W, H, width, height, &positionX, &positionY);
}

int CDisplayDeviceMgr::ChooseSide() {
  int W = 0, H = 0;
  platform_->PrimaryScreenSize(&W, &H);
  Log().Info("[Display]Primary display. dwWidth = %d, dwHeight = %d", W, H);
  std::vector<display::Rect> occupied;
  for (int i = 0; i < otherCount; ++i) {
    if (!AttachedToDesktop(others[i]) || IsVirtual(others[i])) continue;
    const DEVMODEW& m = otherModes[i];
    occupied.push_back(display::Rect{m.dmPosition.x, m.dmPosition.y,
                                     m.dmPosition.x + static_cast<int>(m.dmPelsWidth),
                                     m.dmPosition.y + static_cast<int>(m.dmPelsHeight)});
  }
  for (int side : display::kSideSearchOrder) {
    const display::Rect r = display::SideRect(side, W, H, width, height);
    Log().Info("[Display]Check %s direction. (%d,%d) - (%d,%d)", display::SideName(side), r.left,
               r.top, r.right, r.bottom);
    bool free = true;
    for (const display::Rect& o : occupied)
      if (display::RectsOverlap(r, o)) free = false;
    if (free) {
      SetPositionForSide(side);
      Log().Info("[Display]Set extend display to %s", display::SideName(side));
      return 1;
    }
  }
  Log().Info("[Display]All direction in use.");
  SetPositionForSide(display::kSideDown);
  return 0;
}

bool CDisplayDeviceMgr::FindResolution(const wchar_t* deviceName, int W, int H) {
  std::vector<display::Size> modes;
  for (DWORD i = 0; i < kMaxModeWalk; ++i) {
    DEVMODEW m = EmptyMode();
    if (!platform_->EnumDisplayMode(deviceName, i, &m)) break;
    modes.push_back(display::Size{static_cast<int>(m.dmPelsWidth), static_cast<int>(m.dmPelsHeight)});
  }
  const std::vector<display::Size> sizes = display::CandidateSizes(modes);
  for (const display::Size& s : sizes)
    Log().Debug("[Display]Find resolution: %d x %d", s.width, s.height);
  for (const display::Size& s : sizes)
    Log().Info("[Display]Find resolution: %d for (%d,%d)",
               static_cast<int>(display::ResolutionScore(W, H, s.width, s.height)), s.width,
               s.height);
  display::Size chosen;
  if (!display::PickResolution(sizes, W, H, &chosen)) return false;
  width = chosen.width;
  height = chosen.height;
  return true;
}

int CDisplayDeviceMgr::Attach(int index, int W, int H) {
  if (!ValidIndex(index)) return 0;
  if (AttachedToDesktop(others[index])) {
    Log().Info("[Display]Already attached to desktop");
    return 0;
  }
  FindResolution(others[index].DeviceName, W, H);
  DEVMODEW mode = otherModes[index];
  mode.dmSize = sizeof(DEVMODEW);
  mode.dmPelsWidth = static_cast<DWORD>(width);
  mode.dmPelsHeight = static_cast<DWORD>(height);
  mode.dmBitsPerPel = 32;
  if (positionX != 0 || positionY != 0) {
    mode.dmPosition.x = positionX;
    mode.dmPosition.y = positionY;
  } else if (mode.dmPosition.x == 0 && mode.dmPosition.y == 0) {
    int screenW = 0, screenH = 0;
    platform_->PrimaryScreenSize(&screenW, &screenH);
    mode.dmPosition.x = screenW;
    mode.dmPosition.y = 0;
    positionX = screenW;
    positionY = 0;
  }
  mode.dmFields = kAttachFields;
  const LONG stored =
      platform_->ChangeDisplayMode(others[index].DeviceName, &mode, CDS_UPDATEREGISTRY | CDS_NORESET);
  const LONG applied = platform_->ChangeDisplayMode(nullptr, nullptr, 0);
  if (stored == DISP_CHANGE_SUCCESSFUL && applied == DISP_CHANGE_SUCCESSFUL) {
    Log().Info("[Display]Attach extend display success.");
    // The record follows the device, so a later detach of it acts.
    others[index].StateFlags |= DISPLAY_DEVICE_ATTACHED_TO_DESKTOP;
    attached = 1;
    return 1;
  }
  Log().Info("[Display]Attach extend display fail.");
  attached = 0;
  return 0;
}

int CDisplayDeviceMgr::Detach(int index) {
  if (!ValidIndex(index) || !AttachedToDesktop(others[index])) return 0;
  DEVMODEW mode = otherModes[index];
  mode.dmSize = sizeof(DEVMODEW);
  mode.dmPelsWidth = 0;
  mode.dmPelsHeight = 0;
  const LONG stored =
      platform_->ChangeDisplayMode(others[index].DeviceName, &mode, CDS_UPDATEREGISTRY | CDS_NORESET);
  const LONG applied = platform_->ChangeDisplayMode(nullptr, nullptr, 0);
  if (stored != DISP_CHANGE_SUCCESSFUL || applied != DISP_CHANGE_SUCCESSFUL) return 0;
  // Detached now: a second detach of the same device has nothing to do.
  others[index].StateFlags &= ~DISPLAY_DEVICE_ATTACHED_TO_DESKTOP;
  attached = 0;
  return 1;
}

int CDisplayDeviceMgr::RestorePrimaryResolution() {
  Log().Info("[Display]RestorePrimaryResolution");
  // Nothing was saved (no primary, or its settings unreadable): applying an
  // empty record would change the primary for nothing.
  if (savedPrimary.DeviceName[0] == 0 || savedPrimaryMode.dmFields == 0) return 0;
  DEVMODEW mode = savedPrimaryMode;
  const LONG stored = platform_->ChangeDisplayMode(
      savedPrimary.DeviceName, &mode, CDS_UPDATEREGISTRY | CDS_SET_PRIMARY | CDS_NORESET);
  const LONG applied = platform_->ChangeDisplayMode(nullptr, nullptr, 0);
  return stored == DISP_CHANGE_SUCCESSFUL && applied == DISP_CHANGE_SUCCESSFUL ? 1 : 0;
}

int CDisplayDeviceMgr::SetDisplayOrientation(int index, int type) {
  if (!attached || !ValidIndex(index)) return 0;
  if (type < DMDO_DEFAULT || type > DMDO_270) return 0;
  const bool virt = IsVirtualDevice(index);
  if (virt) {
    for (int loop = 0; loop < 25; ++loop) {
      Log().Debug("[Display]Check DWM status loop = %d", loop);
      if (!platform_->CompositionEnabled()) break;
      platform_->Sleep(100);
    }
  }
  DEVMODEW mode = EmptyMode();
  mode.dmFields = DM_PELSWIDTH | DM_PELSHEIGHT | (virt ? 0 : DM_DISPLAYORIENTATION);
  static const char* const kNames[] = {"[Display]DMDO_DEFAULT", "[Display]DMDO_90",
                                       "[Display]DMDO_180", "[Display]DMDO_270"};
  Log().Info("%s", kNames[type]);
  mode.dmDisplayOrientation = static_cast<DWORD>(type);
  const bool turned = type == DMDO_90 || type == DMDO_270;
  mode.dmPelsWidth = static_cast<DWORD>(turned ? height : width);
  mode.dmPelsHeight = static_cast<DWORD>(turned ? width : height);
  const LONG r = platform_->ChangeDisplayMode(others[index].DeviceName, &mode,
                                                    CDS_UPDATEREGISTRY | CDS_RESET);
  if (r != DISP_CHANGE_SUCCESSFUL) {
    Log().Info("[Display]SetDisplayOrientation fail. lRet = %d", static_cast<int>(r));
    return 0;
  }
  Log().Info("[Display]SetDisplayOrientation success.");
  return 1;
}

int CDisplayDeviceMgr::FindDeviceByString() {
  for (int i = 0; i < otherCount; ++i) {
    Log().Debug("[Display]m_ExtendDisplayDevice[dwDisplayIndex].DeviceString = %s",
                WideToUtf8(others[i].DeviceString).c_str());
    if (AttachedToDesktop(others[i])) continue;
    if (std::wcscmp(others[i].DeviceString, primary.DeviceString) == 0) return i;
  }
  return -1;
}

int CDisplayDeviceMgr::FindVirtualDevice() {
  for (int i = 0; i < otherCount; ++i)
    if (IsVirtual(others[i])) return i;
  return -1;
}

bool CDisplayDeviceMgr::IsVirtualDevice(int index) {
  return ValidIndex(index) && IsVirtual(others[index]);
}
