// The application's main window as the whole process sees it: the program
// sets it once its hidden main window exists, drivers and tests set their
// own. Worker threads (backend completions, the receiver probe) post their
// results to it; a null main window means nobody is listening.
#pragma once

#include <windows.h>

namespace cl {

void SetMainWindow(HWND hwnd);
HWND GetMainWindow();

// PostMessage to the main window. False when there is none or the post
// failed; a caller that put a heap record into the parameters still owns it.
bool PostToMainWindow(UINT msg, WPARAM wParam, LPARAM lParam);

}  // namespace cl
