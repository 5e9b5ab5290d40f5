#include "engine/display/ExtendDisplay.h"

#include <string>
#include <vector>

#include "engine/display/DisplayDecisions.h"
#include "foundation/log/Logger.h"
#include "foundation/sys/SysUtil.h"

namespace {

ZtLogger& Log() { return ZtLogger::Instance(); }

bool BeforeWindows7(IDisplayPlatform* p) {
  const int os = p->OsVersionCodeEx();
  return os == OSVER_OTHER || os == OSVER_VISTA;
}

}  // namespace

CExtendDisplay::CExtendDisplay(IDisplayPlatform* platform) : platform_(platform) {
  deviceMgr = new CDisplayDeviceMgr(platform);
  displayConfig = new CDisplayConfig(platform);
}

CExtendDisplay::~CExtendDisplay() {
  delete deviceMgr;
  delete displayConfig;
}

void CExtendDisplay::Detect() {
  CDisplayDeviceMgr& mgr = *deviceMgr;
  if (!platform_->WinlogonDesktop()) {
    const bool machine = platform_->KvSBasedType() == 1;
    platform_->WriteProductDword(machine, L"NumOfDisplayPort", static_cast<DWORD>(mgr.numDisplayPorts));
    platform_->WriteProductDword(machine, L"NumOfDisplayPortAvail",
                                 static_cast<DWORD>(mgr.numDisplayPortsFree));
    platform_->WriteProductDword(machine, L"AeroEnable", platform_->CompositionEnabled() ? 1 : 0);
    forceVirtual = static_cast<int>(platform_->ReadProductDword(machine, L"ForceUsingVD", 0));
    if (forceVirtual) Log().Info("[Display]Force using virtual driver.");
  }
  if (BeforeWindows7(platform_)) {
    mgr.chosenIndex = mgr.FindVirtualDevice();
    if (mgr.chosenIndex == -1)
      Log().Info("[Display]REJECT Non-Win7");
    else
      Log().Info("[Display]ACCEPT Virtual Driver on Non-Win7");
    return;
  }
  if (displayConfig->Bind()) {
    displayConfig->Query();
    if (displayConfig->FindFreeTarget() != -1) {
      freePort = 1;
      Log().Debug("[Display]Found a unuse port.");
    } else if (displayConfig->FindForcibleTarget() != -1) {
      forciblePort = 1;
      Log().Debug("[Display]Found a forcible port.");
    } else {
      Log().Info("[Display]No Extra unuse display port.");
    }
  }
  if (freePort || forciblePort) {
    Log().Info("[Display]ACCEPT Display Port");
    mgr.chosenIndex = mgr.FindDeviceByString();
  } else if (mgr.FindVirtualDevice() != -1) {
    mgr.chosenIndex = mgr.FindVirtualDevice();
    Log().Info("[Display]ACCEPT Virtual Driver");
  } else {
    Log().Info("[Display]REJECT No Display Port/Virtual Driver");
  }
}

int CExtendDisplay::Enable() {
  if (!deviceMgr || !displayConfig) return 0;
  CDisplayDeviceMgr& mgr = *deviceMgr;
  if (mgr.attached) return 1;
  Detect();
  mgr.Refresh();
  if (BeforeWindows7(platform_)) {
    mgr.chosenIndex = mgr.FindVirtualDevice();
  } else {
    // A target from an earlier, undone attach must not steer this one.
    targetId = -1;
    freePort = 0;
    if (!forceVirtual && displayConfig->Bind()) {
      displayConfig->Query();
      targetId = displayConfig->FindFreeTarget();
      if (targetId != -1) {
        Log().Info("[Display]Found a unuse port TargetID = 0x%x", static_cast<unsigned>(targetId));
        freePort = 1;
      } else if (displayConfig->PersistFreeTarget(&targetId)) {
        Log().Info("[Display]Detect monitor success. TargetID = 0x%x", static_cast<unsigned>(targetId));
      }
    }
    if (targetId == -1) {
      Log().Info("[Display]No extra display port can be use.");
      mgr.chosenIndex = mgr.FindVirtualDevice();
      mgr.ChooseSide();
      Log().Info("[Display]Try Using Virtual Driver dwDisplayIndex = %d", mgr.chosenIndex);
    } else {
      mgr.chosenIndex = mgr.FindDeviceByString();
      Log().Info("[Display]display port dwDisplayIndex = %d", mgr.chosenIndex);
      if (mgr.IsVirtualDevice(mgr.chosenIndex)) {
        mgr.ChooseSide();
        Log().Info("[Display]Using Virtual Driver");
      }
    }
  }
  Log().Info("[Display]Extend Display Index = %d, Resolution(%d,%d)", mgr.chosenIndex, width, height);
  int result = 0;
  if (mgr.chosenIndex != -1) {
    result = mgr.Attach(mgr.chosenIndex, width, height);
    if (!mgr.attached && !mgr.IsVirtualDevice(mgr.chosenIndex)) {
      mgr.chosenIndex = mgr.FindVirtualDevice();
      result = mgr.Attach(mgr.chosenIndex, 1024, 768);
    }
  }
  mgr.SetDisplayOrientation(mgr.chosenIndex, orientation);
  return result;
}

void CExtendDisplay::Disable() {
  if (!deviceMgr || !deviceMgr->attached) return;
  CDisplayDeviceMgr& mgr = *deviceMgr;
  mgr.SetDisplayOrientation(mgr.chosenIndex, DMDO_DEFAULT);
  mgr.RestorePrimaryResolution();
  if (mgr.chosenIndex != -1) {
    // The chosen index is kept across the walk: the devices come back in
    // the same order.
    mgr.EnumDevices();
    mgr.Detach(mgr.chosenIndex);
    if (displayConfig->Bind() && targetId != -1 && !freePort) {
      Log().Info("[Display]Remove Monitor. TargetID = 0x%d", targetId);
      displayConfig->ReleaseTarget(targetId);
    }
  }
  const int virt = mgr.FindVirtualDevice();
  if (virt != -1) mgr.Detach(virt);
}

int CExtendDisplay::GetMonitorIndex() {
  if (!deviceMgr || !deviceMgr->ValidIndex(deviceMgr->chosenIndex)) return 0;
  const std::wstring device = deviceMgr->others[deviceMgr->chosenIndex].DeviceName;
  const int i = display::FindMonitorByDeviceName(platform_->MonitorDeviceNames(), device);
  return i < 0 ? 0 : i;
}
