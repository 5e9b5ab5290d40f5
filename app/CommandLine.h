// The program's one-shot switches: each does one job and the program quits.
#pragma once

#include "classlib/WinApp.h"

class CNb5CommandLineInfo : public cl::CCommandLineInfo {
 public:
  // Only switches count, compared exactly and case-sensitively; the first
  // equal name sets its flag. Everything else is ignored.
  void ParseParam(const wchar_t* text, BOOL flag, BOOL last) override;

  int autorun = 0;
  int tkinstall = 0;
  int tkuninstall = 0;
  int x = 0;
  int restartbj = 0;
  int firewall = 0;
};

// The switch OneTimeCommand handles: the first set flag in the order above.
enum class OneTimeSwitch { kNone, kAutorun, kTkInstall, kTkUninstall, kExit, kRestartBonjour, kFirewall };
OneTimeSwitch FirstOneTimeSwitch(const CNb5CommandLineInfo& info);
