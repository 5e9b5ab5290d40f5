// Folders, config.ini accessors and the start-up signature check.
#include <shlobj.h>
#include <shlwapi.h>

#include <cstdlib>

#include "classlib/Str.h"
#include "foundation/log/Logger.h"
#include "foundation/settings/FrameUtility.h"
#include "foundation/settings/HardwareId.h"
#include "foundation/settings/IniFile.h"
#include "foundation/sys/SysUtil.h"

namespace {

std::wstring InCommonFolder(const wchar_t* file) {
  const std::wstring folder = CFrameUtility::GetCommonAppDataPath();
  if (folder.empty()) return std::wstring();  // never a path relative to the current folder
  wchar_t path[MAX_PATH] = {};
  wcsncpy(path, folder.c_str(), MAX_PATH - 1);
  if (!PathAppendW(path, file)) return std::wstring();
  return path;
}

int MapCheck(int check) {
  if (check == INI_SIG_MISMATCH) return CONFIG_CHECK_INVALID;
  if (check == INI_SIG_NOT_ACCESSIBLE) return CONFIG_CHECK_LOCKED;
  return CONFIG_CHECK_OK;
}

}  // namespace

std::wstring CFrameUtility::GetCommonAppDataPath() {
  wchar_t path[MAX_PATH] = {};
  if (FAILED(SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, 0, path)) || !path[0]) {
    return std::wstring();
  }
  if (!PathAppendW(path, L"Tessarine")) return std::wstring();
  if (GetFileAttributesW(path) == INVALID_FILE_ATTRIBUTES && !CreateFolderWithSA(path)) {
    ZtLogger::Instance().Error("GetCommonAppDataPath, CreateFolder failed.");
  }
  return path;
}

std::wstring CFrameUtility::GetConfigIniPath() { return InCommonFolder(L"config.ini"); }
std::wstring CFrameUtility::GetSetupIssPath() { return InCommonFolder(L"setup.iss"); }
std::wstring CFrameUtility::GetDefaultIssPath() { return InCommonFolder(L"default.iss"); }

std::wstring CFrameUtility::GetProgramFolder() {
  wchar_t path[MAX_PATH] = {};
  DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return std::wstring();
  wchar_t drive[_MAX_DRIVE] = {}, dir[_MAX_DIR] = {};
  if (_wsplitpath_s(path, drive, _MAX_DRIVE, dir, _MAX_DIR, nullptr, 0, nullptr, 0) != 0) {
    return std::wstring();
  }
  return std::wstring(drive) + dir;
}

// ---------------------------------------------------------------------------
// Signature checks

int CFrameUtility::CheckConfigAt(const std::wstring& iniPath, int oldMethod) {
  IniStoreState& state = IniStoreState::Instance();
  ScopedLock<critical_section_lock> guard(state.lock);
  CCpyptIniFile::ReleaseFiles(iniPath);
  const int check = CCpyptIniFile::CheckLocalMD5(iniPath, oldMethod);
  if (check != INI_SIG_NOT_ACCESSIBLE) CCpyptIniFile::HoldFiles(iniPath);
  int result = MapCheck(check);
  if (result == CONFIG_CHECK_OK && check == INI_SIG_MATCH && !iniPath.empty() &&
      state.resignedOverMismatch == iniPath) {
    ZtLogger::Instance().Error(
        "CFrameUtility::CheckConfig, config.ini was re-signed over a mismatch in this run.");
    result = CONFIG_CHECK_INVALID;
  }
  return result;
}

void CFrameUtility::ResignConfigAt(const std::wstring& iniPath) {
  IniStoreState& state = IniStoreState::Instance();
  ScopedLock<critical_section_lock> guard(state.lock);
  CCpyptIniFile::ReleaseFiles(iniPath);
  const int written = CCpyptIniFile::WriteNewLocalMD5(iniPath);
  if (written == INI_SIG_MATCH && state.resignedOverMismatch == iniPath) {
    state.resignedOverMismatch.clear();
  }
  if (written != INI_SIG_NOT_ACCESSIBLE) CCpyptIniFile::HoldFiles(iniPath);
}

int CFrameUtility::CheckConfigAtStartupAt(const std::wstring& iniPath) {
  ZtLogger& log = ZtLogger::Instance();
  const int r = CheckConfigAt(iniPath, 0);
  if (r != CONFIG_CHECK_INVALID) return r;
  const int r2 = CheckConfigAt(iniPath, 1);
  if (r2 == CONFIG_CHECK_OK) {
    log.Info("Upgrade ini file with new hash method.");
    ResignConfigAt(iniPath);
  } else if (r2 == CONFIG_CHECK_INVALID) {
    log.Error("Ini file invalid, surrender to upgrade.");
  } else {
    log.Error("Ini file locked, surrender to upgrade.");
  }
  return r;
}

int CFrameUtility::CheckConfig(int oldMethod) { return CheckConfigAt(GetConfigIniPath(), oldMethod); }
void CFrameUtility::ResignConfig() { ResignConfigAt(GetConfigIniPath()); }
int CFrameUtility::CheckConfigAtStartup() { return CheckConfigAtStartupAt(GetConfigIniPath()); }

// ---------------------------------------------------------------------------
// config.ini accessors

int CFrameUtility::GetOOBEDone() {
  std::wstring value;
  const int r = IniFile::GetValue(GetConfigIniPath(), L"OOBE", L"done", value);
  if (r == -2) {
    ZtLogger::Instance().Error("CFrameUtility::GetOOBEDone,  iniFile.GetValue failed, return: %d", r);
    return OOBE_LOCKED;
  }
  return value == L"1" ? OOBE_DONE : OOBE_NOT_DONE;
}

void CFrameUtility::SetOOBEDone() {
  const int r = IniFile::SetValue(GetConfigIniPath(), L"OOBE", L"done", L"1");
  if (r < 0) {
    ZtLogger::Instance().Error("CFrameUtility::SetOOBEDone,  iniFile.SetValue failed, return: %d", r);
  }
}

std::wstring CFrameUtility::GetPrimaryMachineID() {
  std::wstring id;
  const int r = IniFile::GetValue(GetConfigIniPath(), L"SYSTEM", L"duuid", id);
  if (r < 0) {
    ZtLogger::Instance().Error(
        "CFrameUtility::GetPrimaryMachineID,  iniFile.GetValue failed, return: %d", r);
  }
  if (id.empty()) {
    GetHardwareID(id);
    SetPrimaryMachineID(id);
  }
  return id;
}

void CFrameUtility::SetPrimaryMachineID(const std::wstring& id) {
  const int r = IniFile::SetValue(GetConfigIniPath(), L"SYSTEM", L"duuid", id);
  if (r < 0) {
    ZtLogger::Instance().Error(
        "CFrameUtility::SetPrimaryMachineID,  iniFile.SetValue failed, return: %d", r);
  }
}

void CFrameUtility::GetMachineID(std::wstring& id) { id = GetPrimaryMachineID(); }

std::wstring CFrameUtility::GetMeetingToken() {
  std::wstring token;
  const int r = IniFile::GetValue(GetConfigIniPath(), L"MEETING", L"token", token);
  if (r < 0) {
    ZtLogger::Instance().Error("CFrameUtility::GetMeetingToken,  iniFile.GetValue failed, return: %d",
                               r);
  }
  return token;
}

void CFrameUtility::SetMeetingToken(const std::wstring& token) {
  const int r = IniFile::SetValue(GetConfigIniPath(), L"MEETING", L"token", token);
  if (r < 0) {
    ZtLogger::Instance().Error("CFrameUtility::SetMeetingToken,  iniFile.SetValue failed, return: %d",
                               r);
  }
}

void CFrameUtility::SetMeetingTokenDuration(const std::wstring& text) {
  const int r = IniFile::SetValue(GetConfigIniPath(), L"LICENSE", L"duration", text);
  if (r < 0) {
    ZtLogger::Instance().Error(
        "CFrameUtility::SetMeetingTokenDuration,  iniFile.SetValue failed, return: %d", r);
  }
}
