#include "app/CommandLine.h"

#include <cwchar>

void CNb5CommandLineInfo::ParseParam(const wchar_t* text, BOOL flag, BOOL last) {
  if (!flag || !text) return;
  struct {
    const wchar_t* name;
    int* flag;
  } const switches[] = {{L"autorun", &autorun},   {L"tkinstall", &tkinstall}, {L"tkuninstall", &tkuninstall},
                        {L"x", &x},               {L"restartbj", &restartbj}, {L"firewall", &firewall}};
  for (const auto& s : switches) {
    if (wcscmp(text, s.name) == 0) {
      *s.flag = 1;
      return;
    }
  }
}

OneTimeSwitch FirstOneTimeSwitch(const CNb5CommandLineInfo& info) {
  if (info.autorun) return OneTimeSwitch::kAutorun;
  if (info.tkinstall) return OneTimeSwitch::kTkInstall;
  if (info.tkuninstall) return OneTimeSwitch::kTkUninstall;
  if (info.x) return OneTimeSwitch::kExit;
  if (info.restartbj) return OneTimeSwitch::kRestartBonjour;
  if (info.firewall) return OneTimeSwitch::kFirewall;
  return OneTimeSwitch::kNone;
}
