#include "ConnectionIdLookup.h"

#include <windows.h>

#include <cstdio>

#include "backend/BEOPMgr.h"
#include "classlib/MainWindow.h"
#include "classlib/Str.h"
#include "engine/discovery/ReceiverProbe.h"
#include "foundation/net/SocketStream.h"

namespace {

LRESULT CALLBACK LookupWindowProc(HWND h, UINT msg, WPARAM w, LPARAM l) {
  return DefWindowProcW(h, msg, w, l);
}

const char* Describe(WPARAM w, LPARAM l) {
  if (w == 2 && l == 3) return "the backend could not resolve the connection ID";
  if (w == 2) return "the connection ID's token is not usable";
  if (w == 0 && l == 0) return "no interface of the receiver could be reached";
  return "lookup failed";
}

}  // namespace

bool LookupConnectionId(const std::string& connectionId, unsigned long timeoutMs,
                        ConnectionIdTarget& target) {
  WinsockScope winsock;
  WNDCLASSW wc{};
  wc.lpfnWndProc = &LookupWindowProc;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.lpszClassName = L"MirrorCliLookup";
  RegisterClassW(&wc);
  HWND window = CreateWindowExW(0, wc.lpszClassName, L"mirror-cli", 0, 0, 0, 0, 0, HWND_MESSAGE,
                                nullptr, wc.hInstance, nullptr);
  if (!window) {
    printf("mirror-cli: no window for the lookup\n");
    return false;
  }
  cl::SetMainWindow(window);
  StartBEOPMgr();
  const DWORD start = GetTickCount();
  bool found = false;
  const char* failure = "no answer in time";
  if (PostConnectionIdLookup(cl::Utf8ToWide(connectionId)) != 0) {
    failure = "the lookup could not be posted";
  } else {
    // Results arrive as posted messages; a failure is final only once the
    // probe has nothing left to try.
    MSG msg;
    while (!found && GetTickCount() - start < timeoutMs) {
      if (!PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLPOSTMESSAGE);
        continue;
      }
      if (msg.message != WM_LOOKUP_RESULT) {
        DispatchMessageW(&msg);
        continue;
      }
      ProbeEntry e;
      if (msg.wParam == 1 && GetProbeReachable(static_cast<size_t>(msg.lParam), e)) {
        target.address = e.Address;
        target.port = static_cast<unsigned short>(atoi(e.Port.c_str()));
        target.name = e.Name;
        target.lookupMs = GetTickCount() - start;
        found = true;
      } else if (msg.wParam == 0 && msg.lParam == 1) {
        continue;  // that interface failed; more are queued
      } else if (msg.wParam == 2 && msg.lParam == 3 &&
                 (!WaitProbeIdle(1000) || ProbeReachableCount() > 0)) {
        continue;  // one interface answered wrongly; others are still probed or reached
      } else {
        failure = Describe(msg.wParam, msg.lParam);
        break;
      }
    }
  }
  StopBEOPMgr();
  cl::SetMainWindow(nullptr);
  DestroyWindow(window);
  if (!found) printf("mirror-cli: connection ID %s: %s\n", connectionId.c_str(), failure);
  return found;
}
