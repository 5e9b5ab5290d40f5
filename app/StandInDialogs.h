// Stand-ins for dialogs that later work supplies: the first-run wizard and
// the region picker. Each keeps the name and the calls the program makes of
// the real one, so that replacing this file (and StandInDialogs.cpp) is all
// the swap takes.
#pragma once

#include <windows.h>

#include "classlib/Wnd.h"

// The first-run wizard: for now it counts the first run as done without
// asking (logged), as an accepted wizard would.
class CDlgOOBE {
 public:
  INT_PTR DoModal();
  int done = 0;
};

// The region picker: the corners the user drew, in screen coordinates. The
// program makes none yet (the settings panel's area button comes with it).
class CDragDrop {
 public:
  POINT startPoint{0, 0};
  POINT endPoint{0, 0};
};
