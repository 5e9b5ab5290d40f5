// The receiver rows of the session window.
//
// CCtrlUserList: the inner view of the receiver list: one CCtrlOneUser per
// receiver, 40 pixels high at scale 1.0, stacked in the order of a hidden
// report list (id 61001), which also does the sorting.
// CCtrlOneUser: one row: a picture button with the receiver's name. A click
// asks the main window to connect to that receiver (WM_COMMAND 60001 + its
// position in the listed receivers), then ignores clicks for one second.
//
// A row stands for the receiver it shows: the position it sends is where
// its key stands in the panel's copy of the listed receivers (positionOf),
// which has the main window's keys in the same order. Its place among the
// rows (which leave out the mirrored receiver and follow sorting) is never
// sent, and neither is a position past the connect ids (60001-60032). UI thread only; `lock` guards rows and the hidden list.
#pragma once

#include <windows.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "app/controls/PictureButton.h"
#include "app/controls/Surface.h"
#include "app/session/ContentViews.h"
#include "foundation/thread/Threads.h"

class CCtrlOneUser;
class CCtrlUserList;

struct UserListItem {
  CCtrlOneUser* row = nullptr;  // owned
  int index = -1;               // position in the hidden list; -1 until laid out
  std::wstring key;             // the receiver-map key
  std::wstring name;            // the display name
  bool isHost = false;          // always false in this program
};

class CCtrlOneUser : public cl::CWnd, public CControlsBase {
 public:
  static constexpr UINT kRowId = 61100;
  static constexpr UINT kButtonId = 61105;
  static constexpr UINT_PTR kClickLockTimer = 100;
  static constexpr UINT kClickLockMs = 1000;

  CCtrlOneUser() = default;
  ~CCtrlOneUser() override;

  // The row's window (300 x 40 at scale 1.0) in list, its button and back
  // buffer. Non-zero in every case.
  virtual int Create(CCtrlUserList* list, CSessionConfig* config, int index, const std::wstring& key,
                     const std::wstring& name, int value, float scale);
  // Separator lines: the first row on its top edge, every row on its bottom.
  virtual BOOL Paint(HDC dc);
  // Resets the back colour; rebuilds and repaints only when it changed.
  void SetBackgroundColour(COLORREF colour);

  BOOL PreTranslateMessage(MSG* msg) override;

  CPictureButton button;
  CSessionConfig* sessionConfig = nullptr;  // kept, not used
  int index = -1;
  std::wstring key;
  int rowValue = 0;
  CCtrlUserList* list = nullptr;
  kit::MemSurface back;
  COLORREF backgroundColour = RGB(245, 245, 245);
  float scale = 1.0f;
  bool clickLocked = false;

 protected:
  const cl::MessageMap* GetMessageMap() const override;

 private:
  void OnButtonClicked();
  void BuildBackBuffer();
  LRESULT OnTimer(WPARAM, LPARAM);
  LRESULT OnEraseBkgnd(WPARAM, LPARAM);
  LRESULT OnSysCommand(WPARAM, LPARAM);
  LRESULT OnMouseHover(WPARAM, LPARAM);
  LRESULT OnDestroy(WPARAM, LPARAM);
};

class CCtrlUserList : public CViewContentBase {
 public:
  static constexpr UINT kHiddenListId = 61001;
  static constexpr int kRowHeight = 40;
  static constexpr int kColumnCount = 4;

  CCtrlUserList();
  ~CCtrlUserList() override;

  // Makes the hidden report list (step 2).
  int CreateControls() override;
  // Sort column 0, every direction descending (step 5).
  int ResetState() override;

  // A row for key with name; 1 added, 0 when the row cannot be made, the key
  // is there already or there is no hidden list (nothing is left behind).
  int AddUser(const std::wstring& key, const std::wstring& name);
  void RemoveAll();
  // Sorts by column (toggle: the other direction, stored); lays the rows
  // out; returns the direction (1 ascending).
  int SortBy(int column, bool toggle);
  // PageUp/PageDown (a page of 400 each way), End, Home.
  void HandleKey(WPARAM key);
  // Stores and applies both sizes (0 and less too).
  void SetScrollSize(int cx, int cy) override;
  virtual BOOL PaintBackground(HDC dc);
  // Rows in the hidden list's order, each at its position x 40 x scale.
  void LayoutRows();
  void UpdateScrollSize();

  // The position a row's click sends for its key; -1 sends nothing. Set by
  // the session panel (its copy of the listed receivers); without it, the
  // row's own place.
  std::function<int(const std::wstring& key)> positionOf;
  // The position a click on a row for key sends now (-1: none).
  int ClickPosition(const CCtrlOneUser& row) const;

  int RowCount();
  // The keys in row order (the hidden list's), for tests and logs.
  std::vector<std::wstring> KeysInRowOrder();
  CCtrlOneUser* RowFor(const std::wstring& key);

  HWND hiddenList = nullptr;
  std::map<std::wstring, UserListItem*> rows;
  int sortColumn = 1;
  int sortDirection[kColumnCount] = {0, 0, 0, 0};
  CBaseMutex lock;
  float scale = 1.0f;

 protected:
  const cl::MessageMap* GetMessageMap() const override;

 private:
  int InsertItem(UserListItem* item);
  void SortHiddenList(int column, int direction);
  void DestroyItem(UserListItem* item);
  LRESULT OnEraseBkgnd(WPARAM, LPARAM);
  LRESULT OnDestroyList(WPARAM, LPARAM);
};
