// The config.ini store and its signature file (config.ini.dat).
//
// The signature is the MD5 of the start of config.ini, its last-write time
// and facts of the local disks, so a config.ini edited by hand, replaced or
// copied from another machine no longer matches. Every store operation runs
// under one process-wide lock, checks the signature afresh, and keeps both
// files open between operations (read-only, sharing read and write but not
// deletion); the results -2 / 2 mean the signature file could not be opened
// (access denied, sharing or lock violation): another process or Windows
// user holds it.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "classlib/Handle.h"
#include "foundation/thread/Threads.h"

// The one process-wide state of the store.
struct IniStoreState {
  static IniStoreState& Instance();

  critical_section_lock lock;  // held for the whole of every store operation
  cl::UniqueHandle heldIni;        // config.ini, open between operations
  cl::UniqueHandle heldSignature;  // config.ini.dat, open between operations
  // A signature check has matched in this process. Checks are never skipped
  // because of it: a file changed behind the program's back is reported by
  // the next check, not only by the next process.
  bool verified = false;
  // A config.ini whose mismatching signature a store write replaced in this
  // run. The file verifies again afterwards, so CheckConfig keeps reporting
  // it as invalid until a deliberate ResignConfig.
  std::wstring resignedOverMismatch;
};

// Results of CCpyptIniFile::CheckLocalMD5 and WriteNewLocalMD5.
enum {
  INI_SIG_MATCH = 0,
  INI_SIG_NO_INI = 1,
  INI_SIG_NOT_ACCESSIBLE = 2,
  INI_SIG_MISMATCH = 3,
  INI_SIG_OPEN_FAILED = 4,
};

class CCpyptIniFile {
 public:
  // The signature text, or "" when config.ini cannot be opened.
  static std::string MakeLocalMD5(const std::wstring& iniPath, int oldMethod);
  static int CheckLocalMD5(const std::wstring& iniPath, int oldMethod);
  // Replaces the signature file with the new-method signature.
  static int WriteNewLocalMD5(const std::wstring& iniPath);
  static void HoldFiles(const std::wstring& iniPath);
  static void ReleaseFiles(const std::wstring& iniPath);

  // The digest input of the signature, from its parts (exposed so the exact
  // layout can be checked): content, "%Y_%m_%d_%H_%M_%S" UTC time text,
  // "+%x_%d" of drive C's serial and size in MiB, and (new method only)
  // the Windows volume's serial.
  static std::string SignatureInput(const std::string& content, const std::string& timeText,
                                    DWORD driveCSerial, long long driveCMiB,
                                    const std::string& systemVolumeSerial, int oldMethod);
};

// Serial of the volume holding the Windows directory, "%X"; "" on failure.
std::string GetSystemVolumeSerial();

class IniFile {
 public:
  // 1 read; 0 config.ini missing or a name empty; -1 signature mismatch
  // (value filled all the same); -2 signature file not accessible.
  static int GetValue(const std::wstring& path, const std::wstring& section,
                      const std::wstring& key, std::wstring& value);
  // 1 written and re-signed; 0 not written (also for an empty name or a
  // value with a line break, which would smuggle in other entries); -2
  // signature file not accessible, nothing written.
  static int SetValue(const std::wstring& path, const std::wstring& section,
                      const std::wstring& key, const std::wstring& value);
  // 1 present, 0 absent, -1 signature not matching or section unreadable.
  static int FindKey(const std::wstring& path, const std::wstring& section,
                     const std::wstring& key);

  // Unlocked readers with growing buffers; no signature check. 1, or 0 when
  // config.ini is missing or a name is empty.
  static int ReadValue(const std::wstring& path, const std::wstring& section,
                       const std::wstring& key, std::wstring& value);
  static int ReadSection(const std::wstring& path, const std::wstring& section,
                         std::vector<std::wstring>& keys, std::vector<std::wstring>& values);
  static int ReadKeys(const std::wstring& path, const std::wstring& section,
                      std::vector<std::wstring>& keys);
};
