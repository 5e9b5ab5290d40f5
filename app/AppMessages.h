// Window messages and command ids of the program's main window: what other
// windows, the tray, worker threads and other processes post or send to it.
#pragma once

#include <windows.h>

#include "app/resources/resource.h"
#include "backend/BEOPRecords.h"              // WM_BEOP_STATE_CHANGED
#include "engine/discovery/ReceiverProbe.h"   // WM_LOOKUP_RESULT
#include "engine/mirror/MirrorTypes.h"        // WM_MIRROR_PASSWORD

// wParam: tray icon id, lParam: the mouse message (version-0 callback form).
constexpr UINT WM_TRAY_NOTIFY = 0x7F4;
constexpr UINT WM_AREA_SELECTED = 0x7F5;
constexpr UINT WM_TOGGLE_PREFERENCES = 0x7F6;
constexpr UINT WM_RESTART_DISCOVERY = 0x7F7;
constexpr UINT WM_CONNECT_BY_TEXT = 0x7F9;
// Ours: a session thread's connection failure, posted so that the UI
// thread shows the box (wParam: string id 348 or 349). A box on the session
// thread would hold that thread past the owner's bounded stop.
constexpr UINT WM_MIRROR_ERROR_BOX = WM_APP + 0x10;

constexpr UINT kTrayIconId = 132;

// WM_COMMAND ids: row k of the receiver list, display k of the display
// menu, the extended desktop.
constexpr UINT ID_CONNECT_RECEIVER_FIRST = 60001;
constexpr UINT ID_CONNECT_RECEIVER_LAST = 60032;
constexpr UINT ID_SELECT_DISPLAY_FIRST = 60033;
constexpr UINT ID_SELECT_DISPLAY_LAST = 60064;
constexpr UINT ID_EXTEND_DESKTOP = 60065;

// Receiver rows stand for listed positions 0 to 31, one connect id each; a
// longer list has no rows past them.
constexpr int kMaxReceiverRows = static_cast<int>(ID_CONNECT_RECEIVER_LAST - ID_CONNECT_RECEIVER_FIRST) + 1;

// The listed position a connect command names; -1 for any other id.
constexpr int ConnectPositionOf(UINT id) {
  return id >= ID_CONNECT_RECEIVER_FIRST && id <= ID_CONNECT_RECEIVER_LAST
             ? static_cast<int>(id - ID_CONNECT_RECEIVER_FIRST)
             : -1;
}
// The display a display command names; -1 for any other id.
constexpr int DisplayIndexOf(UINT id) {
  return id >= ID_SELECT_DISPLAY_FIRST && id <= ID_SELECT_DISPLAY_LAST ? static_cast<int>(id - ID_SELECT_DISPLAY_FIRST)
                                                                       : -1;
}
// The command a row at a listed position sends; 0 (nothing) for a position
// no row stands for, so a row never reaches another command's ids.
constexpr UINT RowCommandFor(int position) {
  return position >= 0 && position < kMaxReceiverRows ? ID_CONNECT_RECEIVER_FIRST + static_cast<UINT>(position) : 0;
}

// Timers of the main window.
constexpr UINT_PTR kTimerPublishReceivers = 1;  // 5000 ms, repeating
constexpr UINT_PTR kTimerStatusLines = 2;       // 1000 ms, repeating
constexpr UINT_PTR kTimerVolume = 3;            // 100 ms, one-shot
constexpr UINT_PTR kTimerRefreshSession = 4;    // 0 ms, one-shot

// Names shared with other processes.
constexpr wchar_t kExitEventName[] = L"Global\\Nb5TxExitEvent";
constexpr wchar_t kInstanceEventFormat[] = L"__%s_Tessarine_Event___";
