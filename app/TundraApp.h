// The application object: start-up in InitInstance (folders, crash handler,
// log, one-shot switches, single instance, configuration checks, firewall,
// installer settings, first-run wizard, backend), then the hidden main
// window's modal loop as the program's main loop, and ExitInstance after
// every start, early quits included.
#pragma once

#include <windows.h>

#include "app/CommandLine.h"
#include "classlib/GdiPlus.h"
#include "classlib/WinApp.h"

class CDlgPreference;

class CTundraApp : public cl::CWinApp {
 public:
  CTundraApp();
  ~CTundraApp() override;

  // Always FALSE: the program ends when the main window's loop ends, or
  // earlier when a step quits.
  BOOL InitInstance() override;
  // Stops the backend manager and GDI+ (safe when never started).
  int ExitInstance() override;

  // The first one-shot switch that is set, handled: 1 (the caller quits),
  // or 0 when none is set. "-restartbj" ends the process itself.
  int OneTimeCommand();
  // One about box at a time; a second request brings the open one forward.
  void OnAppAbout();

  CNb5CommandLineInfo m_cmdInfo;
  HANDLE m_hInstanceEvent = nullptr;
  CDlgPreference* m_pMainDlg = nullptr;
  cl::GdiplusSession m_gdiplus;

 protected:
  const cl::MessageMap* GetMessageMap() const override;

 private:
  // Step 5: false when another instance of this user runs (it was told).
  bool CheckSingleInstance();
};

// The running application's single-instance event, or null.
HANDLE TundraInstanceEvent();
