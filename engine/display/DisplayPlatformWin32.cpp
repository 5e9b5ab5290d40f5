#include <mutex>

#include "engine/capture/MonitorList.h"
#include "engine/display/DisplayPlatform.h"
#include "foundation/registry/Registry.h"
#include "foundation/sys/LibraryLoad.h"
#include "foundation/sys/SysUtil.h"

namespace {

typedef LONG(WINAPI* PFN_GetDisplayConfigBufferSizes)(UINT32, UINT32*, UINT32*);
typedef LONG(WINAPI* PFN_SetDisplayConfig)(UINT32, DISPLAYCONFIG_PATH_INFO*, UINT32,
                                           DISPLAYCONFIG_MODE_INFO*, UINT32);
typedef LONG(WINAPI* PFN_QueryDisplayConfig)(UINT32, UINT32*, DISPLAYCONFIG_PATH_INFO*, UINT32*,
                                             DISPLAYCONFIG_MODE_INFO*, DISPLAYCONFIG_TOPOLOGY_ID*);
typedef LONG(WINAPI* PFN_DisplayConfigGetDeviceInfo)(DISPLAYCONFIG_DEVICE_INFO_HEADER*);
typedef LONG(WINAPI* PFN_DisplayConfigSetDeviceInfo)(DISPLAYCONFIG_DEVICE_INFO_HEADER*);
typedef HRESULT(WINAPI* PFN_DwmIsCompositionEnabled)(BOOL*);

class Win32DisplayPlatform final : public IDisplayPlatform {
 public:
  Win32DisplayPlatform() { user32_ = LoadSystemLibrary(L"User32.dll"); }

  BOOL EnumDisplayDevice(DWORD index, DISPLAY_DEVICEW* device) override {
    device->cb = sizeof(DISPLAY_DEVICEW);
    return EnumDisplayDevicesW(nullptr, index, device, 0);
  }
  BOOL EnumDisplayMode(const wchar_t* device, DWORD modeNum, DEVMODEW* mode) override {
    mode->dmSize = sizeof(DEVMODEW);
    return EnumDisplaySettingsW(device, modeNum, mode);
  }
  LONG ChangeDisplayMode(const wchar_t* device, DEVMODEW* mode, DWORD flags) override {
    return ChangeDisplaySettingsExW(device, mode, nullptr, flags, nullptr);
  }
  void PrimaryScreenSize(int* width, int* height) override {
    HDC dc = GetDC(nullptr);
    *width = dc ? GetDeviceCaps(dc, HORZRES) : 0;
    *height = dc ? GetDeviceCaps(dc, VERTRES) : 0;
    if (dc) ReleaseDC(nullptr, dc);
  }
  bool CompositionEnabled() override {
    HMODULE dwm = LoadSystemLibrary(L"Dwmapi.dll");
    if (!dwm) return false;
    BOOL on = FALSE;
    auto fn = reinterpret_cast<PFN_DwmIsCompositionEnabled>(
        GetProcAddress(dwm, "DwmIsCompositionEnabled"));
    const bool ok = fn && SUCCEEDED(fn(&on));
    FreeLibrary(dwm);
    return ok && on;
  }
  void Sleep(DWORD ms) override { ::Sleep(ms); }

  int OsVersionCodeEx() override { return GetOSVersionCodeEx(); }
  bool WinlogonDesktop() override { return IsWinlogonDesktop(); }
  int KvSBasedType() override { return GetKvSBasedType(); }
  DWORD ReadProductDword(bool machineHive, const wchar_t* name, DWORD defaultValue) override {
    CRegistry reg;
    reg.root = machineHive ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
    if (!reg.OpenUniversalKey()) return defaultValue;
    return reg.ReadDword(name, defaultValue);
  }
  bool WriteProductDword(bool machineHive, const wchar_t* name, DWORD value) override {
    CRegistry reg;
    reg.root = machineHive ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
    if (!reg.OpenUniversalKey()) return false;
    return reg.WriteDword(name, value);
  }

  bool BindDisplayConfig() override {
    // Looked up, never linked: where DisplayConfigSetDeviceInfo is a stub
    // that ends the process (Wine), it is simply not found.
    if (!user32_) return false;
    getSizes_ = reinterpret_cast<PFN_GetDisplayConfigBufferSizes>(
        GetProcAddress(user32_, "GetDisplayConfigBufferSizes"));
    setConfig_ = reinterpret_cast<PFN_SetDisplayConfig>(GetProcAddress(user32_, "SetDisplayConfig"));
    query_ = reinterpret_cast<PFN_QueryDisplayConfig>(GetProcAddress(user32_, "QueryDisplayConfig"));
    getInfo_ = reinterpret_cast<PFN_DisplayConfigGetDeviceInfo>(
        GetProcAddress(user32_, "DisplayConfigGetDeviceInfo"));
    setInfo_ = reinterpret_cast<PFN_DisplayConfigSetDeviceInfo>(
        GetProcAddress(user32_, "DisplayConfigSetDeviceInfo"));
    const bool all = getSizes_ && setConfig_ && query_ && getInfo_ && setInfo_;
    if (!all) getSizes_ = nullptr, setConfig_ = nullptr, query_ = nullptr, getInfo_ = nullptr,
              setInfo_ = nullptr;
    return all;
  }
  LONG GetDisplayConfigBufferSizes(UINT32 flags, UINT32* numPaths, UINT32* numModes) override {
    return getSizes_ ? getSizes_(flags, numPaths, numModes) : ERROR_NOT_SUPPORTED;
  }
  LONG QueryDisplayConfig(UINT32 flags, UINT32* numPaths, DISPLAYCONFIG_PATH_INFO* paths,
                          UINT32* numModes, DISPLAYCONFIG_MODE_INFO* modes) override {
    return query_ ? query_(flags, numPaths, paths, numModes, modes, nullptr) : ERROR_NOT_SUPPORTED;
  }
  LONG DisplayConfigGetDeviceInfo(DISPLAYCONFIG_DEVICE_INFO_HEADER* request) override {
    return getInfo_ ? getInfo_(request) : ERROR_NOT_SUPPORTED;
  }
  LONG DisplayConfigSetDeviceInfo(DISPLAYCONFIG_DEVICE_INFO_HEADER* request) override {
    return setInfo_ ? setInfo_(request) : ERROR_NOT_SUPPORTED;
  }

  std::vector<std::wstring> MonitorDeviceNames() override {
    CMonitorList list;
    list.Enumerate();
    std::vector<std::wstring> names;
    for (int i = 0; i < list.Count(); ++i) names.push_back(list.GetName(i));
    return names;
  }

 private:
  HMODULE user32_ = nullptr;  // held for the life of the process
  PFN_GetDisplayConfigBufferSizes getSizes_ = nullptr;
  PFN_SetDisplayConfig setConfig_ = nullptr;
  PFN_QueryDisplayConfig query_ = nullptr;
  PFN_DisplayConfigGetDeviceInfo getInfo_ = nullptr;
  PFN_DisplayConfigSetDeviceInfo setInfo_ = nullptr;
};

}  // namespace

IDisplayPlatform& DefaultDisplayPlatform() {
  static Win32DisplayPlatform* platform = new Win32DisplayPlatform();
  return *platform;
}
