// The installer's preset settings: setup.iss, left by an administrator's
// installation in the common application-data folder, is imported once into
// the current user's product key, with a copy for later users of the
// machine in default.iss (passwords enciphered), and then deleted.
#pragma once

#include <string>

// setup.iss exists.
bool HasInstallerInitSetting();

class CNb5InitSetting {
 public:
  // 1: setup.iss was imported and deleted (a first run counts as done).
  // 0: there was no setup.iss, or a setting could not be written into the
  // user's product key; then setup.iss stays (logged), so the next start
  // imports it again. A default.iss that cannot be emptied or written is
  // only logged: the user's own settings went in.
  static int ApplySetting();
  // The same on given files (the one above uses the common folder's).
  static int ApplySetting(const std::wstring& setupIss, const std::wstring& defaultIss);
};
