#include "engine/display/DisplayConfig.h"

#include <cstdio>
#include <cstring>

#include "foundation/log/Logger.h"
#include "foundation/sys/SysUtil.h"

namespace {

// Bounds on what a query may ask us to allocate.
constexpr UINT32 kMaxPaths = 1024;
constexpr UINT32 kMaxModes = 2048;
constexpr int kReleaseAttempts = 20;

ZtLogger& Log() { return ZtLogger::Instance(); }

bool External(DISPLAYCONFIG_VIDEO_OUTPUT_TECHNOLOGY t) {
  return t == DISPLAYCONFIG_OUTPUT_TECHNOLOGY_HD15 || t == DISPLAYCONFIG_OUTPUT_TECHNOLOGY_DVI ||
         t == DISPLAYCONFIG_OUTPUT_TECHNOLOGY_HDMI ||
         t == DISPLAYCONFIG_OUTPUT_TECHNOLOGY_DISPLAYPORT_EXTERNAL;
}

const char* TechnologyName(DISPLAYCONFIG_VIDEO_OUTPUT_TECHNOLOGY t) {
  switch (static_cast<int>(t)) {
    case DISPLAYCONFIG_OUTPUT_TECHNOLOGY_OTHER: return "DISPLAYCONFIG_OUTPUT_TECHNOLOGY_OTHER";
    case DISPLAYCONFIG_OUTPUT_TECHNOLOGY_HD15: return "DISPLAYCONFIG_OUTPUT_TECHNOLOGY_HD15";
    case DISPLAYCONFIG_OUTPUT_TECHNOLOGY_SVIDEO: return "DISPLAYCONFIG_OUTPUT_TECHNOLOGY_SVIDEO";
    case DISPLAYCONFIG_OUTPUT_TECHNOLOGY_COMPOSITE_VIDEO: return "DISPLAYCONFIG_OUTPUT_TECHNOLOGY_COMPOSITE_VIDEO";
    case DISPLAYCONFIG_OUTPUT_TECHNOLOGY_COMPONENT_VIDEO: return "DISPLAYCONFIG_OUTPUT_TECHNOLOGY_COMPONENT_VIDEO";
    case DISPLAYCONFIG_OUTPUT_TECHNOLOGY_DVI: return "DISPLAYCONFIG_OUTPUT_TECHNOLOGY_DVI";
    case DISPLAYCONFIG_OUTPUT_TECHNOLOGY_HDMI: return "DISPLAYCONFIG_OUTPUT_TECHNOLOGY_HDMI";
    case DISPLAYCONFIG_OUTPUT_TECHNOLOGY_LVDS: return "DISPLAYCONFIG_OUTPUT_TECHNOLOGY_LVDS";
    case DISPLAYCONFIG_OUTPUT_TECHNOLOGY_D_JPN: return "DISPLAYCONFIG_OUTPUT_TECHNOLOGY_D_JPN";
    case DISPLAYCONFIG_OUTPUT_TECHNOLOGY_SDI: return "DISPLAYCONFIG_OUTPUT_TECHNOLOGY_SDI";
    case DISPLAYCONFIG_OUTPUT_TECHNOLOGY_DISPLAYPORT_EXTERNAL: return "DISPLAYCONFIG_OUTPUT_TECHNOLOGY_DISPLAYPORT_EXTERNAL";
    case DISPLAYCONFIG_OUTPUT_TECHNOLOGY_DISPLAYPORT_EMBEDDED: return "DISPLAYCONFIG_OUTPUT_TECHNOLOGY_DISPLAYPORT_EMBEDDED";
    case DISPLAYCONFIG_OUTPUT_TECHNOLOGY_UDI_EXTERNAL: return "DISPLAYCONFIG_OUTPUT_TECHNOLOGY_UDI_EXTERNAL";
    case DISPLAYCONFIG_OUTPUT_TECHNOLOGY_UDI_EMBEDDED: return "DISPLAYCONFIG_OUTPUT_TECHNOLOGY_UDI_EMBEDDED";
    case DISPLAYCONFIG_OUTPUT_TECHNOLOGY_SDTVDONGLE: return "DISPLAYCONFIG_OUTPUT_TECHNOLOGY_SDTVDONGLE";
    case DISPLAYCONFIG_OUTPUT_TECHNOLOGY_INTERNAL: return "DISPLAYCONFIG_OUTPUT_TECHNOLOGY_INTERNAL";
    default: return "DISPLAYCONFIG_OUTPUT_TECHNOLOGY_UNKNOWN";
  }
}

}  // namespace

CDisplayConfig::CDisplayConfig(IDisplayPlatform* platform) : platform_(platform) {}

CDisplayConfig::~CDisplayConfig() {
  targets_.clear();
  sources_.clear();
}

int CDisplayConfig::Bind() {
  const int os = platform_->OsVersionCodeEx();
  if (os == OSVER_OTHER || os == OSVER_VISTA) return 1;
  if (!platform_->BindDisplayConfig()) return 0;
  internalFound_ = false;
  return 1;
}

int CDisplayConfig::Query() {
  UINT32 numPaths = 0, numModes = 0;
  if (platform_->GetDisplayConfigBufferSizes(QDC_ALL_PATHS, &numPaths, &numModes) != ERROR_SUCCESS) {
    Log().Debug("[Display]GetDisplayConfigBufferSizes fail.");
    return 0;
  }
  Log().Debug("[Display]GetDisplayConfigBufferSizes ok.");
  Log().Debug("[Display]pNumPathArrayElements = %d", static_cast<int>(numPaths));
  Log().Debug("[Display]pNumModeInfoArrayElements = %d", static_cast<int>(numModes));
  targets_.clear();
  sources_.clear();
  if (numPaths > kMaxPaths) numPaths = kMaxPaths;
  if (numModes > kMaxModes) numModes = kMaxModes;
  std::vector<DISPLAYCONFIG_PATH_INFO> paths(numPaths);
  std::vector<DISPLAYCONFIG_MODE_INFO> modes(numModes);
  if (!paths.empty()) std::memset(paths.data(), 0, paths.size() * sizeof(paths[0]));
  if (!modes.empty()) std::memset(modes.data(), 0, modes.size() * sizeof(modes[0]));
  if (platform_->QueryDisplayConfig(QDC_ALL_PATHS, &numPaths, paths.data(), &numModes,
                                    modes.data()) != ERROR_SUCCESS) {
    Log().Debug("[Display]QueryDisplayConfig fail.");
    return 0;
  }
  Log().Debug("[Display]QueryDisplayConfig ok.");
  // The call may report fewer paths than the buffer holds, never more.
  if (numPaths > paths.size()) numPaths = static_cast<UINT32>(paths.size());
  for (UINT32 i = 0; i < numPaths; ++i) {
    const DISPLAYCONFIG_PATH_INFO& p = paths[i];
    DumpPath(p);
    const DISPLAYCONFIG_PATH_TARGET_INFO& t = p.targetInfo;
    const bool targetInUse = (t.statusFlags & DISPLAYCONFIG_TARGET_IN_USE) != 0;
    if (t.outputTechnology == DISPLAYCONFIG_OUTPUT_TECHNOLOGY_INTERNAL && targetInUse) {
      internalAdapterLow_ = t.adapterId.LowPart;
      internalAdapterHigh_ = t.adapterId.HighPart;
      internalFound_ = true;
    }
    if (!External(t.outputTechnology)) continue;
    bool known = false;
    for (const DisplayTarget& k : targets_)
      if (k.id == t.id) known = true;
    if (!known) {
      DisplayTarget d;
      d.adapterLow = t.adapterId.LowPart;
      d.adapterHigh = t.adapterId.HighPart;
      d.id = t.id;
      d.inUse = targetInUse;
      d.forcible = (t.statusFlags & DISPLAYCONFIG_TARGET_FORCIBLE) != 0;
      d.available = t.targetAvailable != FALSE;
      d.forced = (t.statusFlags & DISPLAYCONFIG_TARGET_FORCED_AVAILABILITY_SYSTEM) != 0 ||
                 (t.statusFlags & DISPLAYCONFIG_TARGET_FORCED_AVAILABILITY_BOOT) != 0;
      targets_.push_back(d);
    }
    const DISPLAYCONFIG_PATH_SOURCE_INFO& s = p.sourceInfo;
    bool sourceKnown = false;
    for (const DisplaySource& k : sources_)
      if (k.id == s.id) sourceKnown = true;
    if (!sourceKnown) {
      DisplaySource d;
      d.adapterLow = s.adapterId.LowPart;
      d.adapterHigh = s.adapterId.HighPart;
      d.id = s.id;
      d.inUse = (s.statusFlags & DISPLAYCONFIG_SOURCE_IN_USE) != 0;
      DISPLAYCONFIG_SOURCE_DEVICE_NAME name;
      std::memset(&name, 0, sizeof(name));
      name.header.type = DISPLAYCONFIG_DEVICE_INFO_GET_SOURCE_NAME;
      name.header.size = sizeof(name);
      name.header.adapterId = s.adapterId;
      name.header.id = s.id;
      if (platform_->DisplayConfigGetDeviceInfo(&name.header) == ERROR_SUCCESS) {
        std::memcpy(d.gdiName, name.viewGdiDeviceName, sizeof(d.gdiName));
        d.gdiName[31] = 0;
      }
      sources_.push_back(d);
    }
  }
  return 1;
}

void CDisplayConfig::DumpPath(const DISPLAYCONFIG_PATH_INFO& p) {
  const DISPLAYCONFIG_PATH_SOURCE_INFO& s = p.sourceInfo;
  const DISPLAYCONFIG_PATH_TARGET_INFO& t = p.targetInfo;
  std::printf("sourceInfo.adapterId = 0x%x\n", static_cast<unsigned>(s.adapterId.LowPart));
  std::printf("sourceInfo.id = 0x%x\n", static_cast<unsigned>(s.id));
  std::printf("sourceInfo.statusFlags = 0x%x\n", static_cast<unsigned>(s.statusFlags));
  std::printf("targetInfo.adapterId = 0x%x\n", static_cast<unsigned>(t.adapterId.LowPart));
  std::printf("targetInfo.id = 0x%x\n", static_cast<unsigned>(t.id));
  std::printf("targetInfo.outputTechnology = %s\n", TechnologyName(t.outputTechnology));
  std::printf("targetInfo.targetAvailable = %d\n", static_cast<int>(t.targetAvailable));
  static const struct {
    UINT32 flag;
    const char* name;
  } kStatus[] = {
      {DISPLAYCONFIG_TARGET_IN_USE, "DISPLAYCONFIG_TARGET_IN_USE"},
      {DISPLAYCONFIG_TARGET_FORCIBLE, "DISPLAYCONFIG_TARGET_FORCIBLE"},
      {DISPLAYCONFIG_TARGET_FORCED_AVAILABILITY_BOOT, "DISPLAYCONFIG_TARGET_FORCED_AVAILABILITY_BOOT"},
      {DISPLAYCONFIG_TARGET_FORCED_AVAILABILITY_PATH, "DISPLAYCONFIG_TARGET_FORCED_AVAILABILITY_PATH"},
      {DISPLAYCONFIG_TARGET_FORCED_AVAILABILITY_SYSTEM, "DISPLAYCONFIG_TARGET_FORCED_AVAILABILITY_SYSTEM"},
  };
  for (const auto& f : kStatus)
    if (t.statusFlags & f.flag) std::printf("targetInfo.statusFlags: %s\n", f.name);

  DISPLAYCONFIG_SOURCE_DEVICE_NAME source;
  std::memset(&source, 0, sizeof(source));
  source.header.type = DISPLAYCONFIG_DEVICE_INFO_GET_SOURCE_NAME;
  source.header.size = sizeof(source);
  source.header.adapterId = s.adapterId;
  source.header.id = s.id;
  if (platform_->DisplayConfigGetDeviceInfo(&source.header) == ERROR_SUCCESS) {
    source.viewGdiDeviceName[31] = 0;
    std::wprintf(L"viewGdiDeviceName = %ls\n", source.viewGdiDeviceName);
  }
  DISPLAYCONFIG_TARGET_DEVICE_NAME target;
  std::memset(&target, 0, sizeof(target));
  target.header.type = DISPLAYCONFIG_DEVICE_INFO_GET_TARGET_NAME;
  target.header.size = sizeof(target);
  target.header.adapterId = t.adapterId;
  target.header.id = t.id;
  if (platform_->DisplayConfigGetDeviceInfo(&target.header) == ERROR_SUCCESS) {
    target.monitorFriendlyDeviceName[63] = 0;
    target.monitorDevicePath[127] = 0;
    std::wprintf(L"monitorFriendlyDeviceName = %ls\n", target.monitorFriendlyDeviceName);
    std::wprintf(L"monitorDevicePath = %ls\n", target.monitorDevicePath);
  }
  DISPLAYCONFIG_TARGET_PREFERRED_MODE preferred;
  std::memset(&preferred, 0, sizeof(preferred));
  preferred.header.type = DISPLAYCONFIG_DEVICE_INFO_GET_TARGET_PREFERRED_MODE;
  preferred.header.size = sizeof(preferred);
  preferred.header.adapterId = t.adapterId;
  preferred.header.id = t.id;
  if (platform_->DisplayConfigGetDeviceInfo(&preferred.header) == ERROR_SUCCESS)
    std::wprintf(L"preferred mode = %u x %u\n", static_cast<unsigned>(preferred.width),
                 static_cast<unsigned>(preferred.height));
  DISPLAYCONFIG_ADAPTER_NAME adapter;
  std::memset(&adapter, 0, sizeof(adapter));
  adapter.header.type = DISPLAYCONFIG_DEVICE_INFO_GET_ADAPTER_NAME;
  adapter.header.size = sizeof(adapter);
  adapter.header.adapterId = t.adapterId;
  if (platform_->DisplayConfigGetDeviceInfo(&adapter.header) == ERROR_SUCCESS) {
    adapter.adapterDevicePath[127] = 0;
    std::wprintf(L"adapterDevicePath = %ls\n", adapter.adapterDevicePath);
  }
}

int CDisplayConfig::FindFreeTarget() {
  for (const DisplayTarget& t : targets_)
    if (!t.inUse && t.available) return static_cast<int>(t.id);
  return -1;
}

int CDisplayConfig::FindForcibleTarget() {
  for (const DisplayTarget& t : targets_) {
    if (t.inUse || !t.forcible) continue;
    if (internalFound_ &&
        (t.adapterLow != internalAdapterLow_ || t.adapterHigh != internalAdapterHigh_))
      continue;
    return static_cast<int>(t.id);
  }
  return -1;
}

LONG CDisplayConfig::SetPersistence(const DisplayTarget& target, bool on) {
  DISPLAYCONFIG_SET_TARGET_PERSISTENCE request;
  std::memset(&request, 0, sizeof(request));
  request.header.type = DISPLAYCONFIG_DEVICE_INFO_SET_TARGET_PERSISTENCE;
  request.header.size = sizeof(request);  // 24
  request.header.adapterId.LowPart = target.adapterLow;
  request.header.adapterId.HighPart = target.adapterHigh;
  request.header.id = target.id;
  request.bootPersistenceOn = on ? 1 : 0;
  return platform_->DisplayConfigSetDeviceInfo(&request.header);
}

int CDisplayConfig::PersistFreeTarget(int* targetId) {
  *targetId = -1;
  for (const DisplayTarget& t : targets_) {
    if (t.inUse || !t.forcible) continue;
    if (SetPersistence(t, true) != ERROR_SUCCESS) {
      Log().Debug("[Display]DisplayConfigSetDeviceInfo fail");
      return 0;
    }
    *targetId = static_cast<int>(t.id);
    Log().Info("[Display]DisplayConfigSetDeviceInfo ok");
    return 1;
  }
  return 0;
}

int CDisplayConfig::ReleaseTarget(int targetId) {
  const DisplayTarget* found = nullptr;
  for (int loop = 0; loop < kReleaseAttempts && !found; ++loop) {
    Log().Info("[Display]loop = %d", loop);
    platform_->Sleep(100);
    if (!Query()) continue;
    for (const DisplayTarget& t : targets_) {
      if (static_cast<int>(t.id) == targetId && t.forced) {
        Log().Info("[Display]bForceAvailableBoot found");
        found = &t;
        break;
      }
    }
  }
  if (!found) return 0;
  const LONG r = SetPersistence(*found, false);
  if (r == ERROR_SUCCESS) {
    Log().Debug("[Display]DisplayConfigSetDeviceInfo ok");
    return 1;
  }
  Log().Info("[Display]DisplayConfigSetDeviceInfo fail. dwTargetID = 0x%x, retb = 0x%x",
             static_cast<unsigned>(targetId), static_cast<unsigned>(r));
  return 0;
}
