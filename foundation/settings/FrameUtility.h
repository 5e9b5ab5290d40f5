// The settings model: static accessors of the sender's settings.
//
// Registry values live in the product key "Software\Orvanta\Tessarine
// Sender" of the interactive user. Every accessor builds its own CRegistry,
// opens the key, reads or writes one value and lets it go: no state between
// calls, no lock, callable from any thread. Getters never fail (a missing
// key or value, a value longer than 4 bytes or a refused access gives the
// default). Setters never fail the caller; those the installer import
// needs tell whether the value was written.
//
// Machine-wide state (first run, machine id, meeting token) lives in
// config.ini of the common application-data folder, through the signed
// store of IniFile.h.
#pragma once

#include <windows.h>

#include <string>

extern const wchar_t kProductKey[];  // "Software\Orvanta\Tessarine Sender"

// CheckConfig results.
enum { CONFIG_CHECK_OK = 0, CONFIG_CHECK_INVALID = 1, CONFIG_CHECK_LOCKED = 2 };
// GetOOBEDone results.
enum { OOBE_DONE = 0, OOBE_NOT_DONE = 1, OOBE_LOCKED = 2 };

// Text of a binary-text value: size/2 UTF-16LE code units, cut at the first NUL.
std::wstring BinaryToString(const BYTE* bytes, DWORD size);

class CFrameUtility {
 public:
  CFrameUtility() = delete;

  // --- product-key values ---------------------------------------------------
  static int GetTxFps();       // "txFps", 30
  static int GetTxQuality();   // "txQuailty", 6000
  static int GetTxVolume();    // "txVolume", 100
  static int GetTxCursor();    // "txCursor", 1
  static int GetTxScale();     // "txScale", 1
  static int GetTxDDI(int defaultValue);  // "txDDI"
  static int GetTxDebug();     // "txDebug", 0
  static int GetTxTestSSU();   // "txTestSSU", 0
  static int GetTxProbe();     // "txProbe", 0
  static int GetShowBonjourWarning();  // "ShowBonjourWarning", 0
  // "ProxyMode" when the value exists (0 direct, 1 automatic, 2 manual);
  // otherwise default.iss [Nb5] "Nb5_ProxyType", default 0.
  static int GetProxyMode();

  static void SetTxFps(int value);
  static void SetTxQuality(int value);
  static void SetTxVolume(int value);
  static void SetTxCursor(int value);
  static void SetTxScale(int value);
  static void SetTxDDI(int value);
  static void SetShowBonjourWarning(int value);
  static bool SetProxyMode(int value);
  static bool SetResolution(int value);
  // Stored as 1 when the argument is non-zero, else 0.
  static bool SetAutorun(int flag);
  static bool SetTracking(int flag);
  static bool SetEnableMultiConnect(int flag);
  // Stored inverted: 1 when allow is 0, else 0.
  static bool SetAllowScreenSaver(int allow);       // "DisableDim"
  static bool SetAllowBonjourDiscovery(int allow);  // "DisableBroadcast"
  static bool SetAllowChromeDiscovery(int allow);   // "DisableChromeDiscover"

  static std::wstring GetTxSToken();
  static bool SetTxSToken(const std::wstring& text);
  // "Drowssap" as binary text (plain).
  static bool SetPassword(const std::wstring& text);

  // The user's proxy values when "ProxyAddr" exists (even empty); otherwise
  // the installer's copy in default.iss (password deciphered). Returns 1.
  static int GetProxySetting(std::wstring& addr, int& port, std::wstring& user, std::wstring& pwd);
  static bool SetProxySetting(const std::wstring& addr, int port, const std::wstring& user,
                              const std::wstring& pwd);

  // " ORVANTA" when txProbe is 0, else "".
  static std::wstring GetUserAgentSuffix();

  // --- folders and config.ini ----------------------------------------------
  // Common application data + "Tessarine" (created with Everyone access when
  // missing); "" when the shell cannot tell the folder.
  static std::wstring GetCommonAppDataPath();
  // The files of that folder; "" when the folder is unknown.
  static std::wstring GetConfigIniPath();
  static std::wstring GetSetupIssPath();
  static std::wstring GetDefaultIssPath();
  // Folder of the running program with a trailing backslash.
  static std::wstring GetProgramFolder();

  // CONFIG_CHECK_OK (match; also config.ini missing or an unexpected open
  // failure), CONFIG_CHECK_INVALID (signature missing or mismatched, or a
  // mismatch this run already re-signed), CONFIG_CHECK_LOCKED.
  static int CheckConfig(int oldMethod);
  // Rewrites the signature by the new method (after an old-method match).
  static void ResignConfig();
  // The start-up check of the program and of the library: the new method,
  // and on a mismatch the old method with its upgrade. Run before anything
  // else touches config.ini; it only logs. Returns the new-method result.
  static int CheckConfigAtStartup();

  static int GetOOBEDone();
  static void SetOOBEDone();
  // The stored machine id; a fresh hardware id is stored first when none is.
  static std::wstring GetPrimaryMachineID();
  static void SetPrimaryMachineID(const std::wstring& id);
  static void GetMachineID(std::wstring& id);
  static std::wstring GetMeetingToken();
  static void SetMeetingToken(const std::wstring& token);
  static void SetMeetingTokenDuration(const std::wstring& text);

  // The same checks on a given config.ini (the paths above use these).
  static int CheckConfigAt(const std::wstring& iniPath, int oldMethod);
  static void ResignConfigAt(const std::wstring& iniPath);
  static int CheckConfigAtStartupAt(const std::wstring& iniPath);
};
