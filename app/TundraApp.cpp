#include "app/TundraApp.h"

#include <commctrl.h>
#include <shlobj.h>

#include <string>

#include "app/AppMessages.h"
#include "app/DlgPreference.h"
#include "app/dialogs/DlgError.h"
#include "app/dialogs/SimpleAbout.h"
#include "app/dialogs/DlgOOBE.h"
#include "backend/BEOPMgr.h"
#include "classlib/Resource.h"
#include "classlib/Str.h"
#include "foundation/crash/CrashHandler.h"
#include "foundation/firewall/WinFirewall.h"
#include "foundation/installer/Nb5InitSetting.h"
#include "foundation/log/Logger.h"
#include "foundation/service/ServiceControl.h"
#include "foundation/settings/FrameUtility.h"
#include "foundation/sys/SysUtil.h"

namespace {

// The open about box (UI thread only).
CSimpleAbout* g_pAboutBox = nullptr;

constexpr wchar_t kDumpPrefix[] = L"Nb5TX_v1.0.1.10";
constexpr wchar_t kBonjourService[] = L"Bonjour Service";

}  // namespace

HANDLE TundraInstanceEvent() {
  auto* app = dynamic_cast<CTundraApp*>(cl::AfxGetApp());
  return app ? app->m_hInstanceEvent : nullptr;
}

CTundraApp::CTundraApp() : cl::CWinApp(nullptr) {
  // Registered with the Restart Manager for restart only.
  m_dwRestartManagerSupportFlags = 1;
  // Built without a name, the application goes by its executable's name
  // (the caption of its message boxes), as MFC's start-up names it.
  wchar_t exe[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, exe, MAX_PATH);
  std::wstring name = exe;
  name.erase(0, name.find_last_of(L"\\/") + 1);
  const size_t dot = name.rfind(L'.');
  if (dot != std::wstring::npos) name.erase(dot);
  m_appName = name;
}

CTundraApp::~CTundraApp() = default;

const cl::MessageMap* CTundraApp::GetMessageMap() const {
  static const cl::MessageMap map{cl::CWinApp::GetMessageMap(),
                                  {cl::OnCommand(ID_APP_ABOUT, &CTundraApp::OnAppAbout)}};
  return &map;
}

BOOL CTundraApp::InitInstance() {
  ZtLogger& log = ZtLogger::Instance();

  // 1. The per-user folder of the log and the crash dumps.
  wchar_t folder[MAX_PATH] = {};
  SHGetFolderPathW(nullptr, CSIDL_APPDATA, nullptr, 0, folder);
  std::wstring path = std::wstring(folder) + L"\\Tessarine";
  if (GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES && !CreateFolderWithSA(path.c_str())) {
    // Before the logger is open: written nowhere, as the program runs on.
    log.Error("[Win]InitInstance, CreateFolder failed.");
  }

  // 2. Crash handler.
  SetCrashDumpLocation(path.c_str(), kDumpPrefix);
  InstallCrashHandler();

  // 3. Log.
  std::wstring logPath = path + L"\\Nb5TX_LOG.txt";
  log.Init(&logPath[0]);
  log.Info("*************** Start Nb5Sender.exe *************** v: %s **",
           cl::WideToAnsi(GetVersionString()).c_str());

  // 4. One-shot switches.
  ParseCommandLine(m_cmdInfo);
  if (OneTimeCommand() != 0) {
    log.Error("*** Quite Nb5Sender.exe due to One time cmd ***");
    return FALSE;
  }

  // 5. One instance per Windows user.
  if (!CheckSingleInstance()) return FALSE;

  // 6. Platform.
  INITCOMMONCONTROLSEX icc{sizeof(icc), ICC_WIN95_CLASSES};
  InitCommonControlsEx(&icc);
  cl::CWinApp::InitInstance();
  m_gdiplus.Start();

  // 7. config.ini signature: only logged.
  CFrameUtility::CheckConfigAtStartup();

  // 8. First run: read before anything writes it, so that a first start
  // shows the wizard; the read also sees config.ini held by another session.
  int oobe = CFrameUtility::GetOOBEDone();
  if (oobe == OOBE_LOCKED) {
    log.Error("== Show message box on another instance already runing on another windows session.");
    CDlgError box(cl::LoadResString(IDS_OTHER_SESSION), CDlgError::kGeneral, nullptr, false);
    box.DoModal();
    return FALSE;
  }

  // 9. Firewall rule for this executable.
  if (IsProcessElevated() != 0) {
    log.Info("reconfigure windows firewall rules on UAC");
    ResetWinFireWallRule();
  } else {
    log.Info("running without UAC");
  }

  // 10. The installer's preset settings count as the first run's answer.
  if (HasInstallerInitSetting()) {
    log.Info("find init setting from installer.");
    if (CNb5InitSetting::ApplySetting() == 1) {
      log.Error("== apply Nb5 initialize setting.");
      CFrameUtility::SetOOBEDone();
      oobe = OOBE_DONE;
    } else {
      log.Error("== apply Nb5 initialize setting failed.");
    }
  }

  // 11. First-run wizard, before the backend: nothing leaves the machine
  // until the user has accepted the licence, which tells what is sent.
  if (oobe == OOBE_NOT_DONE) {
    CDlgOOBE wizard;
    wizard.DoModal();
    if (!wizard.done) {
      log.Error("OOBE abort.");
      return FALSE;
    }
    CFrameUtility::SetOOBEDone();
  }

  // 12. Backend.
  StartBEOPMgr();

  // 13. The hidden main window; its modal loop is the program's main loop.
  m_pMainDlg = new CDlgPreference();
  SetMainWnd(m_pMainDlg);
  m_pMainDlg->DoModal();
  delete m_pMainDlg;
  m_pMainDlg = nullptr;
  return FALSE;
}

int CTundraApp::ExitInstance() {
  StopBEOPMgr();
  m_gdiplus.Shutdown();
  if (m_hInstanceEvent) {
    CloseHandle(m_hInstanceEvent);
    m_hInstanceEvent = nullptr;
  }
  return cl::CWinApp::ExitInstance();
}

int CTundraApp::OneTimeCommand() {
  ZtLogger& log = ZtLogger::Instance();
  switch (FirstOneTimeSwitch(m_cmdInfo)) {
    case OneTimeSwitch::kNone:
      return 0;
    case OneTimeSwitch::kAutorun:
      log.Error("OneTimeCommand: autorun not enabled.");
      return 1;
    case OneTimeSwitch::kTkInstall:
      log.Error("OneTimeCommand: install tracking.");
      return 1;
    case OneTimeSwitch::kTkUninstall:
      log.Error("OneTimeCommand: unintall tracking.");
      return 1;
    case OneTimeSwitch::kExit: {
      log.Error("OneTimeCommand: Quit mainwin.");
      HANDLE exitEvent = OpenEventW(EVENT_MODIFY_STATE, FALSE, kExitEventName);
      if (exitEvent) {
        SetEvent(exitEvent);
        CloseHandle(exitEvent);
      }
      return 1;
    }
    case OneTimeSwitch::kRestartBonjour: {
      log.Error("OneTimeCommand: restart bonjour.");
      int result = StopServiceAndWait(kBonjourService);
      if (result == 0) result = StartServiceAndWait(kBonjourService);
      log.Info("restart bonjour result : %d", result);
      // The caller (the error page, elevated) reads the exit code.
      ExitProcess(static_cast<UINT>(result));
    }
    case OneTimeSwitch::kFirewall:
      log.Error("OneTimeCommand: reinstall firewall. IsUAC: %d", IsProcessElevated());
      ResetWinFireWallRule();
      return 1;
  }
  return 0;
}

bool CTundraApp::CheckSingleInstance() {
  ZtLogger& log = ZtLogger::Instance();
  wchar_t user[128] = {};
  DWORD size = 128;
  GetUserNameW(user, &size);
  const std::wstring name = cl::FormatW(kInstanceEventFormat, user);
  m_hInstanceEvent = CreateEventWithSA(name.c_str());
  if (GetLastError() != ERROR_ALREADY_EXISTS) return true;
  if (m_hInstanceEvent) CloseHandle(m_hInstanceEvent);
  m_hInstanceEvent = OpenEventW(EVENT_MODIFY_STATE, FALSE, name.c_str());
  if (m_hInstanceEvent) {
    log.Error("[Win]try to invoke previous Nb5 process' setting dialog.");
    SetEvent(m_hInstanceEvent);
  } else {
    log.Error("[Win]failed to open event from previous process err: %d", static_cast<int>(GetLastError()));
  }
  log.Error("[Win]Quite Nb5Sender.exe due to another instance already running on this windows session");
  return false;
}

void CTundraApp::OnAppAbout() {
  if (g_pAboutBox) {
    if (HWND box = g_pAboutBox->m_hWnd) {
      ShowWindow(box, SW_SHOW);
      SetForegroundWindow(box);
    }
    return;
  }
  g_pAboutBox = new CSimpleAbout(nullptr);
  g_pAboutBox->DoModal();
  delete g_pAboutBox;
  g_pAboutBox = nullptr;
}
