// A snapshot of the remote-server product family's configuration, kept in
// that product's registry keys, for the status texts of the session window.
//
// Loading reads some forty values from the user's hive and the machine hive,
// fills the fields and a 29-bit option set, and on the way writes defaults
// and copies values between the hives so that both end up agreeing. Writes
// into the machine hive need administrative rights; they fail silently
// otherwise. Only the user-interface thread creates, loads and reads the
// object; it is loaded once and never reloaded.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "foundation/session/NotifyInfo.h"

// Option bits of CSessionConfig (IsOptionSet / SetOption).
enum SessionOption {
  OPT_CONSUMER_UPGRADE = 0,
  OPT_UPDATE_HINT = 1,
  OPT_ENABLE_FEEDBACK = 2,
  OPT_HAS_PW = 3,
  OPT_REQ_PASSWORD_1 = 4,
  OPT_FIRST_ZT_LOGIN = 5,
  OPT_AUTO_START = 6,
  OPT_FTUE = 7,
  OPT_BLANK_SCREEN = 8,
  OPT_SCREEN_LOCK = 9,
  OPT_SHOW_NOTIFICATION = 10,
  OPT_REQ_PASSWORD_4 = 11,
  OPT_REQ_PASSWORD_2 = 12,
  OPT_REQ_PASSWORD_SAME = 13,
  OPT_AUTO_MUTE_MISSING = 14,
  OPT_LOCK_KBMS = 15,
  OPT_SKIP_OOBE = 16,
  OPT_ENABLE_SWITCH_MODE = 17,
  OPT_SHOW_POWER_TIP = 18,
  OPT_FIRST_TIME_MINIMIZE = 19,
  OPT_FIRST_SESSION_ITP = 21,
  OPT_ENABLE_SHARE_PUC = 22,
  OPT_CKVS_MODE = 23,
  OPT_DEVICE_LOGIN_OPEN = 26,
};

// The port a remote server listens on unless configured.
constexpr int kDefaultRemoteServerPort = 6783;

// One stored credential: a text and a binary password.
struct CredentialSlot {
  std::wstring text;
  std::vector<BYTE> data;
  DWORD size = 0;
};

struct SessionGeneral {
  DWORD options = 0;
  std::wstring computerName;
  int port = 0;
  CredentialSlot cloudAccount;  // "CloudUserAccount" / "CloudUserPWD"
  CredentialSlot xfAccount;     // "XFMail" / "XFPWAdv" or "XFPW"
  CredentialSlot cloudProxy;    // "CloudProxyUser" / "CloudProxyPassword"
  int cloudProxyEnable = 0;
  std::wstring cloudProxyHost;
  int cloudProxyPort = 0;
  int reqPassword = 0;          // mirror of "ReqPassword" as SetOption writes it
  int autoMute = 0;
  int ignoreCertCheck = 0;
  int itpSwitchMode = 0;
  BYTE statusTextMask = 0;      // bit k allows status text type 2^k
  std::wstring deviceCode;
};

struct SessionMeeting {
  std::wstring meetingName;
  int duration = 0;
  int codeType = 0;
  std::wstring code;
  int resolution = 0;
  int multiControl = 0;
  int quality = 0;
};

class CSessionConfig {
 public:
  CSessionConfig();
  CSessionConfig(const CSessionConfig&) = delete;
  CSessionConfig& operator=(const CSessionConfig&) = delete;

  // Reads (and reconciles) everything; always 1.
  int LoadAllSettings();
  // 1 when bit 0..28 is set; 0 for any other bit number.
  int IsOptionSet(const int& bit) const;
  // Persists one option as the option table says; the caller has already
  // set or cleared the bit in general.options.
  void SetOption(int bit, int value);

  int basedType = 0;
  int serverMode = 0;
  std::wstring productKey;
  std::wstring meetingKey;
  SessionGeneral general;
  SessionMeeting meeting;
  NotifyInfo notifyInfo;

 private:
  void SetBit(int bit, bool on);
  // The hive an option reader or writer names; basedType 1 puts everything
  // in the machine hive (nullptr: both hives).
  HKEY Hive(HKEY named) const;
  void LoadGeneralOptions();
  void LoadDeviceCode();
  void LoadComputerName();
  void LoadPort();
  void LoadCloudAccount();
  void LoadXfAccount();
  void LoadCloudProxy();
  void LoadMeeting();
};

// Registry helpers over one hive (HKEY_CURRENT_USER as CRegistry resolves
// it, or HKEY_LOCAL_MACHINE) or both (nullptr).
namespace session_registry {
bool ValueExists(HKEY hive, const std::wstring& key, const wchar_t* name);
// Both hives: the user's first, then the machine's. True when all went through.
bool WriteDword(HKEY hive, const std::wstring& key, const wchar_t* name, DWORD value);
bool WriteString(HKEY hive, const std::wstring& key, const wchar_t* name, const std::wstring& value);
bool WriteBinary(HKEY hive, const std::wstring& key, const wchar_t* name, const std::vector<BYTE>& value);
bool DeleteValue(HKEY hive, const std::wstring& key, const wchar_t* name);
// One hive: the value (the default when missing or unreadable; with create,
// a missing value is written as the default). Both hives: the user's value;
// else the machine's, copied into the user's hive; else the user's read
// with create, or createAtLast.
DWORD ReadDword(HKEY hive, const std::wstring& key, const wchar_t* name, DWORD defaultValue,
                bool create, bool createAtLast = false);
// Like ReadDword for one hive. Both hives: the user's value, copied into the
// machine's; else the machine's, copied into the user's; else the default,
// written into the user's.
std::wstring ReadString(HKEY hive, const std::wstring& key, const wchar_t* name,
                        const std::wstring& defaultValue, bool create);
// The binary value; false (and empty) when missing.
bool ReadBinary(HKEY hive, const std::wstring& key, const wchar_t* name, std::vector<BYTE>& out);
}  // namespace session_registry
