// Resources of the program: which module they come from, and string-table
// texts. (Dialog templates: CDialog; PNG pictures: GdiPlus.h.)
#pragma once

#include <windows.h>

#include <string>

namespace cl {

// The module whose resources CDialog, LoadResString and LoadPngResource
// read: the program's executable unless set (MFC's resource handle).
HINSTANCE AfxGetResourceHandle();
void AfxSetResourceHandle(HINSTANCE module);

// The string-table text of id (in the thread's UI language, as LoadString
// picks it), or empty when there is none (a string table cannot hold an
// empty text). module null: AfxGetResourceHandle().
std::wstring LoadResString(UINT id, HINSTANCE module = nullptr);

}  // namespace cl
