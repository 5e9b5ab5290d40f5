// Every platform call of the extended display behind one interface, so the
// device walk, the display-configuration steps and their call sequences can
// run against a scripted fake. The real one (DefaultDisplayPlatform) calls
// Windows: display devices and settings, the five display-configuration
// functions of User32 looked up at run time, Dwmapi's composition state,
// the product key in the registry, the monitor list.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

class IDisplayPlatform {
 public:
  virtual ~IDisplayPlatform() = default;

  // EnumDisplayDevicesW(no parent, index, device, 0); device->cb is set.
  virtual BOOL EnumDisplayDevice(DWORD index, DISPLAY_DEVICEW* device) = 0;
  // EnumDisplaySettingsW(device, modeNum, mode); mode->dmSize is set.
  virtual BOOL EnumDisplayMode(const wchar_t* device, DWORD modeNum, DEVMODEW* mode) = 0;
  // ChangeDisplaySettingsExW(device, mode, no window, flags, no parameter);
  // (null, null, 0) applies what was stored with CDS_NORESET.
  virtual LONG ChangeDisplayMode(const wchar_t* device, DEVMODEW* mode, DWORD flags) = 0;
  // HORZRES and VERTRES of the screen.
  virtual void PrimaryScreenSize(int* width, int* height) = 0;
  // DwmIsCompositionEnabled from Dwmapi.dll; false when it cannot be asked.
  virtual bool CompositionEnabled() = 0;
  virtual void Sleep(DWORD ms) = 0;

  virtual int OsVersionCodeEx() = 0;
  virtual bool WinlogonDesktop() = 0;
  virtual int KvSBasedType() = 0;
  // REG_DWORD values of the remote-server product key, in the machine hive
  // or the current user's.
  virtual DWORD ReadProductDword(bool machineHive, const wchar_t* name, DWORD defaultValue) = 0;
  virtual bool WriteProductDword(bool machineHive, const wchar_t* name, DWORD value) = 0;

  // Looks the five display-configuration functions up; false when any is
  // missing (then the calls below fail with ERROR_NOT_SUPPORTED).
  virtual bool BindDisplayConfig() = 0;
  virtual LONG GetDisplayConfigBufferSizes(UINT32 flags, UINT32* numPaths, UINT32* numModes) = 0;
  virtual LONG QueryDisplayConfig(UINT32 flags, UINT32* numPaths, DISPLAYCONFIG_PATH_INFO* paths,
                                  UINT32* numModes, DISPLAYCONFIG_MODE_INFO* modes) = 0;
  virtual LONG DisplayConfigGetDeviceInfo(DISPLAYCONFIG_DEVICE_INFO_HEADER* request) = 0;
  virtual LONG DisplayConfigSetDeviceInfo(DISPLAYCONFIG_DEVICE_INFO_HEADER* request) = 0;

  // Device names of a fresh monitor list, in its order.
  virtual std::vector<std::wstring> MonitorDeviceNames() = 0;
};

// The process-wide platform that calls Windows.
IDisplayPlatform& DefaultDisplayPlatform();
