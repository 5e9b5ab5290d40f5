#include "foundation/settings/HardwareId.h"

#include <windows.h>
#include <objbase.h>

#include <cstring>

#include "classlib/Str.h"
#include "foundation/digest/Md5.h"
#include "foundation/digest/Sha1.h"
#include "foundation/log/Logger.h"
#include "foundation/netmon/WmiInfo.h"
#include "foundation/settings/FrameUtility.h"

std::string HardwareIdInputFromSeed(const uint8_t seed[16]) { return DigestToHex(seed, 16); }

std::string HardwareIdInputFromMac(const std::string& mac12) {
  uint8_t seed[16] = {};
  memcpy(seed, mac12.data(), mac12.size() < 16 ? mac12.size() : 16);
  return mac12 + HardwareIdInputFromSeed(seed);
}

std::string HardwareIdFromInput(const std::string& input) {
  Sha1Context ctx;
  Sha1Init(&ctx);
  Sha1Update(&ctx, input.data(), input.size());
  uint8_t digest[20];
  Sha1Final(digest, &ctx);
  return DigestToHex(digest, 16);
}

bool GetHardwareID(std::wstring& id) {
  ZtLogger& log = ZtLogger::Instance();
  char mac[64] = {};
  int length = 0;
  bool accepted = false;
  {
    WmiInfo wmi;
    if (wmi.Init() && wmi.GetNetworkSerialNum(mac, sizeof(mac), &length)) {
      accepted = length == 12 && strlen(mac) == 12;
    }
  }  // the WMI connection and its COM use end here

  std::string input;
  if (accepted) {
    log.Info("MAC addr: %s", mac);
    input = HardwareIdInputFromMac(std::string(mac, 12));
  } else {
    log.Info("Get MAC addr failed, try to create a GUID.");
    uint8_t seed[16] = {};
    GUID guid;
    if (SUCCEEDED(CoCreateGuid(&guid))) {
      memcpy(seed, &guid, sizeof(seed));
    } else {
      memcpy(seed, "1234567890", 10);
      log.Info("Try to create a GUID failed, use a fake MAC addr.");
    }
    input = HardwareIdInputFromSeed(seed);
  }
  const std::string hwid = HardwareIdFromInput(input);
  log.Info("HWID: %s", hwid.c_str());
  id = cl::Utf8ToWide(hwid);
  return accepted;
}

bool IsHardwareIDChanged() {
  const std::wstring stored = CFrameUtility::GetPrimaryMachineID();
  std::wstring current;
  GetHardwareID(current);
  if (current != stored) {
    ZtLogger::Instance().Error("HardwareID changed! current:%s, old:%s",
                               cl::WideToUtf8(current).c_str(), cl::WideToUtf8(stored).c_str());
    return true;
  }
  return false;
}
