#include "foundation/session/SessionConfig.h"

#include <cwchar>

#include "classlib/Str.h"
#include "foundation/docs/XmlParser.h"
#include "foundation/registry/Registry.h"
#include "foundation/sys/SysUtil.h"

namespace session_registry {

namespace {

HKEY const kBoth = nullptr;

bool Open(CRegistry& reg, HKEY hive, const std::wstring& key, bool create) {
  reg.root = hive;
  return reg.OpenKey(key.c_str(), create ? TRUE : FALSE);
}

DWORD ReadDwordIn(HKEY hive, const std::wstring& key, const wchar_t* name, DWORD defaultValue,
                  bool create) {
  CRegistry reg;
  if (!Open(reg, hive, key, create)) return defaultValue;
  if (reg.ValueExists(name)) return reg.ReadDword(name, defaultValue);
  if (create) reg.WriteDword(name, defaultValue);
  return defaultValue;
}

std::wstring ReadStringIn(HKEY hive, const std::wstring& key, const wchar_t* name,
                          const std::wstring& defaultValue, bool create) {
  CRegistry reg;
  if (!Open(reg, hive, key, create)) return defaultValue;
  if (reg.ValueExists(name)) return reg.ReadString(name, defaultValue.c_str());
  if (create) reg.WriteString(name, defaultValue.c_str());
  return defaultValue;
}

}  // namespace

bool ValueExists(HKEY hive, const std::wstring& key, const wchar_t* name) {
  CRegistry reg;
  return Open(reg, hive, key, false) && reg.ValueExists(name);
}

bool WriteDword(HKEY hive, const std::wstring& key, const wchar_t* name, DWORD value) {
  if (hive == kBoth) {
    bool user = WriteDword(HKEY_CURRENT_USER, key, name, value);
    return WriteDword(HKEY_LOCAL_MACHINE, key, name, value) && user;
  }
  CRegistry reg;
  return Open(reg, hive, key, true) && reg.WriteDword(name, value);
}

bool WriteString(HKEY hive, const std::wstring& key, const wchar_t* name, const std::wstring& value) {
  if (hive == kBoth) {
    bool user = WriteString(HKEY_CURRENT_USER, key, name, value);
    return WriteString(HKEY_LOCAL_MACHINE, key, name, value) && user;
  }
  CRegistry reg;
  return Open(reg, hive, key, true) && reg.WriteString(name, value.c_str());
}

bool WriteBinary(HKEY hive, const std::wstring& key, const wchar_t* name, const std::vector<BYTE>& value) {
  if (hive == kBoth) {
    bool user = WriteBinary(HKEY_CURRENT_USER, key, name, value);
    return WriteBinary(HKEY_LOCAL_MACHINE, key, name, value) && user;
  }
  CRegistry reg;
  return Open(reg, hive, key, true) &&
         reg.WriteBinary(name, value.data(), static_cast<DWORD>(value.size()));
}

bool DeleteValue(HKEY hive, const std::wstring& key, const wchar_t* name) {
  if (hive == kBoth) {
    bool user = DeleteValue(HKEY_CURRENT_USER, key, name);
    return DeleteValue(HKEY_LOCAL_MACHINE, key, name) && user;
  }
  CRegistry reg;
  return Open(reg, hive, key, false) && reg.DeleteValue(name);
}

DWORD ReadDword(HKEY hive, const std::wstring& key, const wchar_t* name, DWORD defaultValue, bool create,
                bool createAtLast) {
  if (hive != kBoth) return ReadDwordIn(hive, key, name, defaultValue, create);
  if (ValueExists(HKEY_CURRENT_USER, key, name)) {
    return ReadDwordIn(HKEY_CURRENT_USER, key, name, defaultValue, create);
  }
  if (ValueExists(HKEY_LOCAL_MACHINE, key, name)) {
    DWORD value = ReadDwordIn(HKEY_LOCAL_MACHINE, key, name, defaultValue, false);
    WriteDword(HKEY_CURRENT_USER, key, name, value);
    return value;
  }
  return ReadDwordIn(HKEY_CURRENT_USER, key, name, defaultValue, create || createAtLast);
}

std::wstring ReadString(HKEY hive, const std::wstring& key, const wchar_t* name,
                        const std::wstring& defaultValue, bool create) {
  if (hive != kBoth) return ReadStringIn(hive, key, name, defaultValue, create);
  if (ValueExists(HKEY_CURRENT_USER, key, name)) {
    std::wstring value = ReadStringIn(HKEY_CURRENT_USER, key, name, defaultValue, false);
    WriteString(HKEY_LOCAL_MACHINE, key, name, value);
    return value;
  }
  if (ValueExists(HKEY_LOCAL_MACHINE, key, name)) {
    std::wstring value = ReadStringIn(HKEY_LOCAL_MACHINE, key, name, defaultValue, false);
    WriteString(HKEY_CURRENT_USER, key, name, value);
    return value;
  }
  WriteString(HKEY_CURRENT_USER, key, name, defaultValue);
  return defaultValue;
}

bool ReadBinary(HKEY hive, const std::wstring& key, const wchar_t* name, std::vector<BYTE>& out) {
  out.clear();
  CRegistry reg;
  if (!Open(reg, hive, key, false) || !reg.ValueExists(name)) return false;
  BYTE* data = nullptr;
  DWORD size = 0;
  if (!reg.ReadBinary(name, &data, &size)) return false;
  out.assign(data, data + size);
  delete[] data;
  return true;
}

}  // namespace session_registry

namespace {

namespace reg = session_registry;

HKEY const kUser = HKEY_CURRENT_USER;
HKEY const kMachine = HKEY_LOCAL_MACHINE;
HKEY const kBoth = nullptr;

const wchar_t kCompanyKey[] = L"Software\\Kelvora Inc.";
const wchar_t kBaseProduct[] = L"Kelvora Remote Server";
const wchar_t kBusinessProduct[] = L"Kelvora Remote Server for Business";

constexpr int kOptionBits = 29;

// "ReqPassword" value bits behind options 4, 12 and 11.
int ReqPasswordValueOf(int bit) {
  switch (bit) {
    case OPT_REQ_PASSWORD_1: return 1;
    case OPT_REQ_PASSWORD_2: return 2;
    case OPT_REQ_PASSWORD_4: return 4;
    default: return 0;
  }
}

std::wstring DnsHostName() {
  wchar_t name[260] = {};
  DWORD size = 260;
  if (!GetComputerNameExW(ComputerNameDnsHostname, name, &size)) return L"";
  name[259] = 0;
  return name;
}

DWORD WindowsMajorVersion() {
  OSVERSIONINFOW info{};
  GetOSVersionCodeEx(&info);
  return info.dwMajorVersion;
}

void FillSlot(CredentialSlot& slot, const std::vector<BYTE>& data) {
  slot.data = data;
  slot.size = static_cast<DWORD>(data.size());
}

}  // namespace

CSessionConfig::CSessionConfig() { notifyInfo.parser = std::make_unique<CMyXMLParser>(); }

int CSessionConfig::IsOptionSet(const int& bit) const {
  if (bit < 0 || bit >= kOptionBits) return 0;
  return (general.options >> bit) & 1;
}

void CSessionConfig::SetBit(int bit, bool on) {
  if (on) general.options |= 1u << bit;
  else general.options &= ~(1u << bit);
}

HKEY CSessionConfig::Hive(HKEY named) const { return basedType == 1 ? kMachine : named; }

void CSessionConfig::SetOption(int bit, int value) {
  const DWORD v = value ? 1 : 0;
  switch (bit) {
    case OPT_CONSUMER_UPGRADE:
      if (value) reg::WriteDword(kMachine, productKey, L"ConsumerUpgrade", 1);
      else reg::DeleteValue(kMachine, productKey, L"ConsumerUpgrade");
      break;
    case OPT_UPDATE_HINT: reg::WriteDword(Hive(kUser), productKey, L"UpdateHint", v); break;
    case OPT_ENABLE_FEEDBACK: reg::WriteDword(Hive(kBoth), productKey, L"EnableFeedback", v); break;
    case OPT_REQ_PASSWORD_1:
    case OPT_REQ_PASSWORD_2:
    case OPT_REQ_PASSWORD_4: {
      if (bit == OPT_REQ_PASSWORD_4 && serverMode != 1) general.reqPassword &= ~1;
      const int flag = ReqPasswordValueOf(bit);
      if (value) general.reqPassword |= flag;
      else general.reqPassword &= ~flag;
      reg::WriteDword(Hive(kBoth), productKey, L"ReqPassword", static_cast<DWORD>(general.reqPassword));
      break;
    }
    case OPT_FIRST_ZT_LOGIN: reg::WriteDword(Hive(kBoth), productKey, L"FirstZtLogin", v); break;
    case OPT_AUTO_START: reg::WriteDword(Hive(kBoth), productKey, L"AutoStart", v); break;
    case OPT_FTUE: reg::WriteDword(Hive(kUser), productKey, L"FTUE", v); break;
    case OPT_BLANK_SCREEN: reg::WriteDword(Hive(kUser), productKey, L"BlankScreen", v); break;
    case OPT_SCREEN_LOCK: reg::WriteDword(Hive(kUser), productKey, L"ScreenLock", v); break;
    case OPT_LOCK_KBMS: reg::WriteDword(Hive(kBoth), productKey, L"LockKBMS", v); break;
    case OPT_ENABLE_SWITCH_MODE: reg::WriteDword(Hive(kBoth), productKey, L"EnableSwitchMode", v); break;
    case OPT_SHOW_POWER_TIP: reg::WriteDword(Hive(kUser), productKey, L"ShowPowerTip", v); break;
    case OPT_FIRST_TIME_MINIMIZE: reg::WriteDword(Hive(kUser), productKey, L"FirstTimeMinimize", v); break;
    case OPT_FIRST_SESSION_ITP: reg::WriteDword(Hive(kUser), meetingKey, L"FirstSessionITP", v); break;
    case OPT_ENABLE_SHARE_PUC: reg::WriteDword(Hive(kUser), productKey, L"EnableSharePUC", v); break;
    default: break;  // derived bits are not stored
  }
}

int CSessionConfig::LoadAllSettings() {
  basedType = GetKvSBasedType();
  serverMode = static_cast<int>(reg::ReadDword(Hive(kBoth), kRemoteServerBaseKey, L"KvServerMode", 0,
                                               false, true));
  productKey = cl::FormatW(L"%s\\%s", kCompanyKey, serverMode == 0 ? kBaseProduct : kBusinessProduct);
  meetingKey = productKey + L"\\MeetingInfo";

  LoadGeneralOptions();
  LoadDeviceCode();
  LoadComputerName();
  LoadPort();
  LoadCloudAccount();
  LoadXfAccount();
  LoadCloudProxy();
  LoadMeeting();
  return 1;
}

void CSessionConfig::LoadGeneralOptions() {
  const std::wstring& key = productKey;
  SetBit(OPT_CKVS_MODE, reg::ReadDword(kMachine, kRemoteServerBaseKey, L"CKvSMode", 0, false) != 0);

  if (basedType != 0) {
    SetBit(OPT_REQ_PASSWORD_SAME, true);
  } else {
    SetBit(OPT_REQ_PASSWORD_SAME, reg::ReadDword(kUser, key, L"ReqPassword", 0, false) ==
                                      reg::ReadDword(kMachine, key, L"ReqPassword", 0, false));
  }
  SetBit(OPT_SKIP_OOBE, reg::ReadDword(Hive(kBoth), key, L"SkipOOBE", 0, false) != 0);

  {
    CRegistry own;
    own.root = basedType != 0 ? kMachine : kUser;
    if (own.OpenKey(key.c_str(), FALSE)) {
      SetBit(OPT_HAS_PW, own.ValueExists(L"PW"));
      SetBit(OPT_UPDATE_HINT, own.ReadDword(L"UpdateHint", 0) != 0);
      if (own.ValueExists(L"AutoMute")) {
        general.autoMute = static_cast<int>(own.ReadDword(L"AutoMute", 1));
      } else {
        SetBit(OPT_AUTO_MUTE_MISSING, true);
        general.autoMute = WindowsMajorVersion() > 5 ? 1 : 0;
        reg::WriteDword(Hive(kUser), key, L"AutoMute", static_cast<DWORD>(general.autoMute));
      }
      SetBit(OPT_SHOW_POWER_TIP, own.ReadDword(L"ShowPowerTip", 1) != 0);
      SetBit(OPT_FIRST_TIME_MINIMIZE, own.ReadDword(L"FirstTimeMinimize", 1) != 0);
    }
  }

  SetBit(OPT_ENABLE_FEEDBACK, reg::ReadDword(Hive(kBoth), key, L"EnableFeedback", 0, false) != 0);
  SetBit(OPT_FIRST_ZT_LOGIN, reg::ReadDword(Hive(kBoth), key, L"FirstZtLogin", 1, false) != 0);
  SetBit(OPT_AUTO_START, reg::ReadDword(Hive(kBoth), key, L"AutoStart", 1, true) != 0);
  SetBit(OPT_FTUE, reg::ReadDword(Hive(kBoth), key, L"FTUE", 0, false) != 0);

  if (reg::ReadDword(kMachine, key, L"InitSetting", 0, false) != 0) {
    general.ignoreCertCheck = 1;
    reg::WriteDword(Hive(kBoth), key, L"IgnoreCertCheck", 1);
    general.statusTextMask |= 1 << 5;
  } else {
    general.ignoreCertCheck =
        static_cast<int>(reg::ReadDword(Hive(kBoth), key, L"IgnoreCertCheck", 2, false, true));
    if (general.ignoreCertCheck == 1) general.statusTextMask |= 1 << 5;
  }

  const bool upgrade = reg::ReadDword(kMachine, key, L"ConsumerUpgrade", 0, false) != 0;
  SetBit(OPT_CONSUMER_UPGRADE, upgrade);
  SetOption(OPT_CONSUMER_UPGRADE, upgrade);

  const DWORD req = reg::ReadDword(Hive(kUser), key, L"ReqPassword", 0, false);
  for (int bit : {OPT_REQ_PASSWORD_4, OPT_REQ_PASSWORD_2, OPT_REQ_PASSWORD_1}) {
    const bool on = (req & ReqPasswordValueOf(bit)) != 0;
    SetBit(bit, on);
    SetOption(bit, on);
  }
  const struct {
    int bit;
    const wchar_t* name;
  } created[] = {{OPT_BLANK_SCREEN, L"BlankScreen"},
                 {OPT_SCREEN_LOCK, L"ScreenLock"},
                 {OPT_LOCK_KBMS, L"LockKBMS"},
                 {OPT_ENABLE_SHARE_PUC, L"EnableSharePUC"}};
  for (const auto& c : created) {
    const bool on = reg::ReadDword(Hive(kUser), key, c.name, 0, true) != 0;
    SetBit(c.bit, on);
    SetOption(c.bit, on);
  }

  if (!IsOptionSet(OPT_FIRST_ZT_LOGIN)) {
    SetBit(OPT_FTUE, false);
    SetOption(OPT_FTUE, 0);
  }

  if (basedType == 0 && IsOptionSet(OPT_HAS_PW)) {
    std::vector<BYTE> pw;
    if (reg::ReadBinary(kUser, key, L"PW", pw)) reg::WriteBinary(kMachine, key, L"PW", pw);
  }

  SetBit(OPT_ENABLE_SWITCH_MODE, reg::ReadDword(Hive(kBoth), key, L"EnableSwitchMode", 0, false) != 0);
  general.itpSwitchMode =
      static_cast<int>(reg::ReadDword(Hive(kBoth), key, L"ITPSwitchMode", 0, false, true));
}

void CSessionConfig::LoadDeviceCode() {
  bool open = true;
  if (IsOptionSet(OPT_CKVS_MODE)) {
    {
      CRegistry base;
      base.root = basedType != 0 ? kMachine : kUser;
      if (base.OpenKey(kRemoteServerBaseKey, TRUE) && base.ValueExists(L"CKvSLogin") &&
          base.ReadDword(L"CKvSLogin", 0xFFFFFFFF) != 0xFFFFFFFF) {
        open = false;
      }
    }
    if (basedType != 0) {
      general.deviceCode = reg::ReadString(kMachine, kRemoteServerBaseKey, L"DCode", L"", false);
    } else {
      reg::ReadDword(kBoth, kRemoteServerBaseKey, L"Confirm_d", 0, false, true);
      general.deviceCode = reg::ReadString(open ? kUser : kBoth, kRemoteServerBaseKey, L"DCode", L"", false);
    }
  }
  SetBit(OPT_DEVICE_LOGIN_OPEN, open);
}

void CSessionConfig::LoadComputerName() {
  const wchar_t* const name = L"CloudComputerName";
  if (basedType != 0) {
    general.computerName = reg::ReadString(kMachine, productKey, name, L"", true);
    if (general.computerName.empty()) {
      general.computerName = DnsHostName();
      reg::WriteString(kMachine, productKey, name, general.computerName);
    }
    return;
  }
  general.computerName = reg::ReadString(kUser, productKey, name, L"", false);
  if (general.computerName.empty() && IsOptionSet(OPT_SKIP_OOBE)) {
    std::wstring machine = reg::ReadString(kMachine, productKey, name, L"", false);
    if (!machine.empty()) {
      general.computerName = machine;
      reg::WriteString(kUser, productKey, name, machine);
    }
  }
  if (general.computerName.empty()) {
    general.computerName = DnsHostName();
    reg::DeleteValue(kMachine, productKey, name);
  }
}

void CSessionConfig::LoadPort() {
  if (basedType != 0) {
    general.port = static_cast<int>(reg::ReadDword(kMachine, productKey, L"Port", kDefaultRemoteServerPort, true));
    return;
  }
  if (reg::ValueExists(kUser, productKey, L"Port")) {
    general.port = static_cast<int>(reg::ReadDword(kUser, productKey, L"Port", kDefaultRemoteServerPort, false));
  } else {
    general.port = kDefaultRemoteServerPort;
    if (IsOptionSet(OPT_SKIP_OOBE) && reg::ValueExists(kMachine, productKey, L"Port")) {
      general.port = static_cast<int>(reg::ReadDword(kMachine, productKey, L"Port", kDefaultRemoteServerPort, false));
    }
    reg::WriteDword(kUser, productKey, L"Port", static_cast<DWORD>(general.port));
  }
  reg::WriteDword(kMachine, productKey, L"Port", static_cast<DWORD>(general.port));
}

void CSessionConfig::LoadCloudAccount() {
  CredentialSlot& slot = general.cloudAccount;
  std::vector<BYTE> pwd;
  if (basedType != 0) {
    slot.text = reg::ReadString(kMachine, productKey, L"CloudUserAccount", L"", false);
    reg::ReadBinary(kMachine, productKey, L"CloudUserPWD", pwd);
    FillSlot(slot, pwd);
    return;
  }
  const bool preset = IsOptionSet(OPT_SKIP_OOBE) ||
                      reg::ReadDword(kMachine, productKey, L"PresetZtID", 0, false) != 0;
  slot.text = reg::ReadString(kUser, productKey, L"CloudUserAccount", L"", false);
  if (!slot.text.empty()) {
    reg::WriteString(kMachine, productKey, L"CloudUserAccount", slot.text);
  } else if (preset) {
    slot.text = reg::ReadString(kMachine, productKey, L"CloudUserAccount", L"", false);
    if (!slot.text.empty()) reg::WriteString(kUser, productKey, L"CloudUserAccount", slot.text);
  }
  // The machine-hive copy of the password stays: the remote-server product
  // may read it there.
  if (reg::ReadBinary(kUser, productKey, L"CloudUserPWD", pwd)) {
    reg::WriteBinary(kMachine, productKey, L"CloudUserPWD", pwd);
  } else if (preset && reg::ReadBinary(kMachine, productKey, L"CloudUserPWD", pwd)) {
    reg::WriteBinary(kUser, productKey, L"CloudUserPWD", pwd);
  }
  FillSlot(slot, pwd);
}

void CSessionConfig::LoadXfAccount() {
  CRegistry base;
  base.root = basedType != 0 ? kMachine : kUser;
  if (!base.OpenKey(kRemoteServerBaseKey, FALSE)) return;
  CredentialSlot& slot = general.xfAccount;
  slot.text = base.ReadString(L"XFMail", L"");
  const wchar_t* name = base.ValueExists(L"XFPWAdv") ? L"XFPWAdv" : L"XFPW";
  BYTE* data = nullptr;
  DWORD size = 0;
  if (base.ReadBinary(name, &data, &size)) {
    slot.data.assign(data, data + size);
    slot.size = size;
    delete[] data;
  }
  if (slot.size > 0 && !base.ValueExists(L"XFEnable")) base.WriteDword(L"XFEnable", 1);
}

void CSessionConfig::LoadCloudProxy() {
  general.cloudProxyEnable =
      static_cast<int>(reg::ReadDword(kMachine, productKey, L"CloudProxyEnable", 1, true));
  const std::wstring manual = reg::ReadString(kMachine, productKey, L"CloudProxyManual", L"", false);
  const size_t colon = manual.find(L':');
  general.cloudProxyHost = manual.substr(0, colon);
  general.cloudProxyPort = colon == std::wstring::npos ? 0 : _wtoi(manual.c_str() + colon + 1);
  general.cloudProxy.text = reg::ReadString(kMachine, productKey, L"CloudProxyUser", L"", false);
  std::vector<BYTE> pwd;
  reg::ReadBinary(kMachine, productKey, L"CloudProxyPassword", pwd);
  FillSlot(general.cloudProxy, pwd);
}

void CSessionConfig::LoadMeeting() {
  const HKEY user = Hive(kUser);
  const std::wstring& key = meetingKey;
  SetBit(OPT_FIRST_SESSION_ITP, reg::ReadDword(user, key, L"FirstSessionITP", 1, false) != 0);
  meeting.meetingName = reg::ReadString(user, key, L"MeetingName", L"", false);
  meeting.duration = static_cast<int>(reg::ReadDword(user, key, L"Duration", 0, true));
  meeting.codeType = static_cast<int>(reg::ReadDword(user, key, L"CodeType", 0, true));
  meeting.code = reg::ReadString(user, key, L"Code", L"", false);
  meeting.resolution = static_cast<int>(reg::ReadDword(user, key, L"Resolution", 1, true));
  meeting.multiControl = static_cast<int>(reg::ReadDword(user, key, L"MultiControl", 1, false));
  meeting.quality = static_cast<int>(reg::ReadDword(user, key, L"Quality", 3, false));
}
