// A scripted display platform: devices, their stored and offered modes,
// the display-configuration paths, registry values; every call that would
// change something is written down as one line of text, in order.
#pragma once

#include <windows.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "engine/display/DisplayPlatform.h"

struct FakeDevice {
  std::wstring name;    // "\\.\DISPLAY2"
  std::wstring string;  // device string
  DWORD flags = 0;      // DISPLAY_DEVICE_*
  bool registryReadable = true;
  int x = 0, y = 0, width = 0, height = 0;  // stored (registry) settings
  std::vector<std::pair<int, int>> modes;   // offered modes
  LONG changeResult = DISP_CHANGE_SUCCESSFUL;
};

struct FakeTarget {
  UINT32 id = 0;
  UINT32 adapter = 1;
  DISPLAYCONFIG_VIDEO_OUTPUT_TECHNOLOGY technology = DISPLAYCONFIG_OUTPUT_TECHNOLOGY_HDMI;
  UINT32 status = 0;  // DISPLAYCONFIG_TARGET_*
  bool available = false;
  int forcedFromQuery = -1;  // from this query on (counted from 1) it reports forced availability
};

class FakeDisplayPlatform : public IDisplayPlatform {
 public:
  std::vector<FakeDevice> devices;
  int screenW = 1920, screenH = 1080;
  std::vector<bool> composition;  // successive answers; then false
  int os = 2;                     // OSVER_WIN7
  bool winlogon = false;
  int kvsType = 0;
  std::map<std::wstring, DWORD> hkcu, hklm;
  bool bindResult = true;
  std::vector<FakeTarget> targets;
  LONG setInfoResult = ERROR_SUCCESS;
  std::vector<std::wstring> monitors;

  std::vector<std::string> calls;  // what changed, in order
  int queries = 0;
  int enumerations = 0;

  static std::string Narrow(const wchar_t* w) {
    std::string s;
    for (; w && *w; ++w) s += static_cast<char>(*w);
    return s;
  }

  FakeDevice* Find(const wchar_t* name) {
    for (FakeDevice& d : devices)
      if (name && d.name == name) return &d;
    return nullptr;
  }

  BOOL EnumDisplayDevice(DWORD index, DISPLAY_DEVICEW* device) override {
    if (index == 0) ++enumerations;
    if (index >= devices.size()) return FALSE;
    const FakeDevice& d = devices[index];
    wcsncpy(device->DeviceName, d.name.c_str(), 31);
    wcsncpy(device->DeviceString, d.string.c_str(), 127);
    device->StateFlags = d.flags;
    return TRUE;
  }
  BOOL EnumDisplayMode(const wchar_t* name, DWORD modeNum, DEVMODEW* mode) override {
    FakeDevice* d = Find(name);
    if (!d) return FALSE;
    if (modeNum == ENUM_REGISTRY_SETTINGS) {
      if (!d->registryReadable) return FALSE;
      mode->dmFields = DM_POSITION | DM_PELSWIDTH | DM_PELSHEIGHT | DM_BITSPERPEL;
      mode->dmPosition.x = d->x;
      mode->dmPosition.y = d->y;
      mode->dmPelsWidth = static_cast<DWORD>(d->width);
      mode->dmPelsHeight = static_cast<DWORD>(d->height);
      mode->dmBitsPerPel = 32;
      return TRUE;
    }
    if (modeNum >= d->modes.size()) return FALSE;
    mode->dmPelsWidth = static_cast<DWORD>(d->modes[modeNum].first);
    mode->dmPelsHeight = static_cast<DWORD>(d->modes[modeNum].second);
    return TRUE;
  }
  LONG ChangeDisplayMode(const wchar_t* name, DEVMODEW* mode, DWORD flags) override {
    if (!name && !mode) {
      calls.push_back("apply");
      return DISP_CHANGE_SUCCESSFUL;
    }
    char line[256];
    std::snprintf(line, sizeof(line), "change %s fields=0x%lx %lux%lu at %ld,%ld bpp=%lu orient=%lu flags=0x%lx",
                  Narrow(name).c_str(), mode->dmFields, mode->dmPelsWidth, mode->dmPelsHeight,
                  mode->dmPosition.x, mode->dmPosition.y, mode->dmBitsPerPel,
                  mode->dmDisplayOrientation, flags);
    calls.push_back(line);
    FakeDevice* d = Find(name);
    if (!d) return DISP_CHANGE_BADPARAM;
    if (d->changeResult != DISP_CHANGE_SUCCESSFUL) return d->changeResult;
    // What Windows would do with a stored attach or detach.
    if ((flags & CDS_UPDATEREGISTRY) && (mode->dmFields & DM_POSITION)) {
      d->x = mode->dmPosition.x;
      d->y = mode->dmPosition.y;
      d->width = static_cast<int>(mode->dmPelsWidth);
      d->height = static_cast<int>(mode->dmPelsHeight);
      if (mode->dmPelsWidth) d->flags |= DISPLAY_DEVICE_ATTACHED_TO_DESKTOP;
      else d->flags &= ~DISPLAY_DEVICE_ATTACHED_TO_DESKTOP;
    }
    return DISP_CHANGE_SUCCESSFUL;
  }
  void PrimaryScreenSize(int* w, int* h) override {
    *w = screenW;
    *h = screenH;
  }
  bool CompositionEnabled() override {
    if (composition.empty()) return false;
    const bool on = composition.front();
    composition.erase(composition.begin());
    return on;
  }
  void Sleep(DWORD ms) override { calls.push_back("sleep " + std::to_string(ms)); }
  int OsVersionCodeEx() override { return os; }
  bool WinlogonDesktop() override { return winlogon; }
  int KvSBasedType() override { return kvsType; }
  DWORD ReadProductDword(bool machine, const wchar_t* name, DWORD def) override {
    const auto& m = machine ? hklm : hkcu;
    auto it = m.find(name);
    return it == m.end() ? def : it->second;
  }
  bool WriteProductDword(bool machine, const wchar_t* name, DWORD value) override {
    (machine ? hklm : hkcu)[name] = value;
    calls.push_back(std::string(machine ? "write HKLM " : "write HKCU ") + Narrow(name) + "=" +
                    std::to_string(value));
    return true;
  }
  bool BindDisplayConfig() override { return bindResult; }
  LONG GetDisplayConfigBufferSizes(UINT32, UINT32* paths, UINT32* modes) override {
    *paths = static_cast<UINT32>(targets.size());
    *modes = 0;
    return ERROR_SUCCESS;
  }
  LONG QueryDisplayConfig(UINT32, UINT32* numPaths, DISPLAYCONFIG_PATH_INFO* paths, UINT32* numModes,
                          DISPLAYCONFIG_MODE_INFO*) override {
    ++queries;
    for (size_t i = 0; i < targets.size() && i < *numPaths; ++i) {
      const FakeTarget& t = targets[i];
      DISPLAYCONFIG_PATH_INFO& p = paths[i];
      p.sourceInfo.adapterId.LowPart = t.adapter;
      p.sourceInfo.id = static_cast<UINT32>(i);
      p.targetInfo.adapterId.LowPart = t.adapter;
      p.targetInfo.id = t.id;
      p.targetInfo.outputTechnology = t.technology;
      p.targetInfo.statusFlags = t.status;
      if (t.forcedFromQuery > 0 && queries >= t.forcedFromQuery)
        p.targetInfo.statusFlags |= DISPLAYCONFIG_TARGET_FORCED_AVAILABILITY_BOOT;
      p.targetInfo.targetAvailable = t.available;
    }
    *numModes = 0;
    return ERROR_SUCCESS;
  }
  LONG DisplayConfigGetDeviceInfo(DISPLAYCONFIG_DEVICE_INFO_HEADER*) override { return ERROR_NOT_SUPPORTED; }
  LONG DisplayConfigSetDeviceInfo(DISPLAYCONFIG_DEVICE_INFO_HEADER* h) override {
    const auto* p = reinterpret_cast<const DISPLAYCONFIG_SET_TARGET_PERSISTENCE*>(h);
    calls.push_back("persist id=" + std::to_string(h->id) + " on=" + std::to_string(p->bootPersistenceOn) +
                    " type=" + std::to_string(h->type) + " size=" + std::to_string(h->size));
    return setInfoResult;
  }
  std::vector<std::wstring> MonitorDeviceNames() override { return monitors; }

  // Only the lines that change displays or persistence (not registry writes).
  std::vector<std::string> DisplayCalls() const {
    std::vector<std::string> out;
    for (const std::string& c : calls)
      if (c.rfind("write", 0) != 0) out.push_back(c);
    return out;
  }
};

// A primary on adapter "Adapter A" and, optionally, a spare output of the
// same adapter and a virtual display device.
inline FakeDisplayPlatform StandardPc(bool spare, bool virtualDriver) {
  FakeDisplayPlatform p;
  FakeDevice primary;
  primary.name = L"\\\\.\\DISPLAY1";
  primary.string = L"Adapter A";
  primary.flags = DISPLAY_DEVICE_PRIMARY_DEVICE | DISPLAY_DEVICE_ATTACHED_TO_DESKTOP;
  primary.width = 1920;
  primary.height = 1080;
  p.devices.push_back(primary);
  FakeDevice mirror;
  mirror.name = L"\\\\.\\DISPLAYV1";
  mirror.string = L"Mirror Driver";
  mirror.flags = DISPLAY_DEVICE_MIRRORING_DRIVER;
  p.devices.push_back(mirror);
  if (spare) {
    FakeDevice port;
    port.name = L"\\\\.\\DISPLAY2";
    port.string = L"Adapter A";
    port.modes = {{640, 480}, {800, 600}, {1024, 768}, {1280, 1024}};
    p.devices.push_back(port);
  }
  if (virtualDriver) {
    FakeDevice v;
    v.name = L"\\\\.\\DISPLAY3";
    v.string = L"Kelvora Virtual Video";
    v.modes = {{800, 600}, {1024, 768}, {1920, 1080}};
    p.devices.push_back(v);
  }
  return p;
}
