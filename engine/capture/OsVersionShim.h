// Windows version codes for the capture stage, until the system utilities
// (foundation/sys/SysUtil.h) provide GetOSVersionCode / GetOSVersionCodeEx.
// Delete this file and include SysUtil.h once they are there.
#pragma once

#include <windows.h>

namespace capture_os {

enum { OSVER_OTHER = 0, OSVER_VISTA = 1, OSVER_WIN7 = 2, OSVER_WIN8 = 3, OSVER_WIN81 = 4,
       OSVER_WIN10 = 5 };

// GetVersionExW: 6.2 and later (what every later Windows reports to a program
// without a compatibility manifest) give OSVER_WIN8.
int GetOSVersionCodeEx(OSVERSIONINFOW* info = nullptr);
// RtlGetVersion (the true version), else GetOSVersionCodeEx.
int GetOSVersionCode();

}  // namespace capture_os
