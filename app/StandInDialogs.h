// Stand-ins for dialogs that later work supplies: the about box and the
// error dialog. Each keeps the name
// and the calls the program makes of the real one, so that replacing this
// file (and StandInDialogs.cpp) is all the swap takes.
#pragma once

#include <windows.h>

#include "classlib/Wnd.h"

// The about box: for now a message box with the name and version.
class CSimpleAbout {
 public:
  explicit CSimpleAbout(cl::CWnd* parent = nullptr) {}
  // Runs until the user closes it.
  INT_PTR DoModal();
  // The open box's window (this thread's), or null.
  HWND Window() const;
};

// The error dialog: for now a message box with the kind's text.
class CDlgError {
 public:
  enum { kGeneral = 3 };
  CDlgError(int kind, UINT stringId, cl::CWnd* parent) : kind_(kind), stringId_(stringId), parent_(parent) {}
  INT_PTR DoModal();

 private:
  int kind_;
  UINT stringId_;
  cl::CWnd* parent_;
};
