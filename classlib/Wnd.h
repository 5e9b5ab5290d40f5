// Windows and message maps: the thin layer that stands where MFC's CWnd and
// CCmdTarget stand. A CWnd is a C++ object attached to one HWND; the Win32
// calls stay the caller's own (m_hWnd is public), the object only adds the
// dispatch of messages to member functions through a static table.
//
// Threads: a window object belongs to the thread that created its window.
// Its message map is built once (a function-local static) and only read.
#pragma once

#include <windows.h>

#include <functional>
#include <initializer_list>
#include <vector>

namespace cl {

class CCmdTarget;

// Notifications a parent receives about a child control (WM_COMMAND,
// WM_NOTIFY, WM_DRAWITEM, WM_MEASUREITEM, WM_CTLCOLOR*, WM_HSCROLL,
// WM_VSCROLL) are first offered to the child's own object, as message
// WM_REFLECT_BASE + the original message with the original wParam and
// lParam. The WM_CTLCOLOR* family arrives as WM_REFLECT_BASE + WM_CTLCOLOR
// (0xBC19). A control handles them with ordinary OnMessage entries (0xBD11 is
// a reflected WM_COMMAND); a handled reflection is not seen by the parent.
constexpr UINT WM_REFLECT_BASE = 0xBC00;
constexpr UINT WM_CTLCOLOR_LEGACY = 0x0019;

// One row of a message map. Built with the OnMessage/OnCommand/... helpers
// below, never by hand.
struct MessageEntry {
  enum Kind {
    kMessage,  // a window message: message
    kCommand,  // WM_COMMAND from a menu, an accelerator or a control's code 0
               // (BN_CLICKED) with an id in [first, last]
    kControl,  // WM_COMMAND with notification code `code` from control `first`
    kNotify,   // WM_NOTIFY with code `code` from control `first`
  };
  Kind kind;
  UINT message;  // kMessage
  UINT code;     // kControl, kNotify
  UINT first;
  UINT last;
  // Calls the member function. wParam/lParam are the message's own; for
  // kCommand the id comes as wParam. The result is the message result.
  std::function<LRESULT(CCmdTarget*, WPARAM, LPARAM)> invoke;
};

// A class's table and its base class's table; lookups try the derived
// table first, then walk to the bases, and the first matching row wins.
struct MessageMap {
  const MessageMap* base;
  std::vector<MessageEntry> entries;
  MessageMap(const MessageMap* baseMap, std::initializer_list<MessageEntry> rows)
      : base(baseMap), entries(rows) {}
};

// Anything with a message map: windows and the application object.
class CCmdTarget {
 public:
  virtual ~CCmdTarget() = default;

  // The most derived class's table. Each class that adds rows overrides it:
  //   const cl::MessageMap* CFoo::GetMessageMap() const {
  //     static const cl::MessageMap map{CBase::GetMessageMap(), {rows...}};
  //     return &map;
  //   }
  virtual const MessageMap* GetMessageMap() const;

  // Runs the command handler for id (kCommand when code is 0, and kControl
  // rows for the code); true when one ran. The application object is asked
  // this way for commands its windows leave alone.
  virtual bool OnCmdMsg(UINT id, UINT code, HWND control);

 protected:
  // Finds a kMessage row for message; runs it and stores its result.
  bool DispatchMessageEntry(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result);
};

// Row builders. T is deduced from the member pointer; the handler's class
// must derive from CCmdTarget (non-virtually).

// LRESULT T::OnX(WPARAM, LPARAM): the result goes back to the sender.
template <class T>
MessageEntry OnMessage(UINT message, LRESULT (T::*f)(WPARAM, LPARAM)) {
  return {MessageEntry::kMessage, message, 0, 0, 0,
          [f](CCmdTarget* t, WPARAM w, LPARAM l) { return (static_cast<T*>(t)->*f)(w, l); }};
}

// void T::OnX(): one command id.
template <class T>
MessageEntry OnCommand(UINT id, void (T::*f)()) {
  return {MessageEntry::kCommand, 0, 0, id, id, [f](CCmdTarget* t, WPARAM, LPARAM) -> LRESULT {
            (static_cast<T*>(t)->*f)();
            return 0;
          }};
}

// void T::OnX(UINT id): every id from first to last (inclusive).
template <class T>
MessageEntry OnCommandRange(UINT first, UINT last, void (T::*f)(UINT)) {
  return {MessageEntry::kCommand, 0, 0, first, last,
          [f](CCmdTarget* t, WPARAM id, LPARAM) -> LRESULT {
            (static_cast<T*>(t)->*f)(static_cast<UINT>(id));
            return 0;
          }};
}

// void T::OnX(): a control's WM_COMMAND notification (BN_CLICKED, EN_CHANGE...).
template <class T>
MessageEntry OnControl(UINT code, UINT id, void (T::*f)()) {
  return {MessageEntry::kControl, 0, code, id, id, [f](CCmdTarget* t, WPARAM, LPARAM) -> LRESULT {
            (static_cast<T*>(t)->*f)();
            return 0;
          }};
}

// void T::OnX(NMHDR*, LRESULT* result): a control's WM_NOTIFY; *result
// (0 before the call) is the message result.
template <class T>
MessageEntry OnNotify(UINT code, UINT id, void (T::*f)(NMHDR*, LRESULT*)) {
  return {MessageEntry::kNotify, 0, code, id, id, [f](CCmdTarget* t, WPARAM, LPARAM l) {
            LRESULT r = 0;
            (static_cast<T*>(t)->*f)(reinterpret_cast<NMHDR*>(l), &r);
            return r;
          }};
}

// A window object. Attach it to a window by creating one (CreateEx), by
// subclassing an existing one (SubclassWindow, a dialog's DDX_Control), or
// through CDialog. The object lives longer than its window: WM_NCDESTROY
// detaches it and then calls PostNcDestroy, where a self-owned object may
// delete itself. Destroying an attached object destroys its window first.
class CWnd : public CCmdTarget {
 public:
  CWnd() = default;
  ~CWnd() override;
  CWnd(const CWnd&) = delete;
  CWnd& operator=(const CWnd&) = delete;

  HWND m_hWnd = nullptr;
  operator HWND() const { return m_hWnd; }

  // The object attached to hwnd, or null (a window of nobody's, or of a
  // different layer).
  static CWnd* FromHandlePermanent(HWND hwnd);

  // Registers a window class whose procedure is DefWindowProc (the object
  // takes over at creation) and returns its name; the same arguments give
  // the same name. Stays registered until the process ends.
  static const wchar_t* RegisterWndClass(UINT classStyle, HCURSOR cursor = nullptr,
                                         HBRUSH background = nullptr, HICON icon = nullptr);

  // CreateWindowEx with this object attached before the first message
  // (WM_NCCREATE, WM_CREATE reach the map). A null class name uses a class
  // of RegisterWndClass(CS_DBLCLKS, arrow, COLOR_WINDOW). PreCreateWindow
  // may change every field first. False when the window was not made.
  bool CreateEx(DWORD exStyle, const wchar_t* className, const wchar_t* title, DWORD style,
                const RECT& rect, HWND parent, UINT_PTR idOrMenu, void* createParam = nullptr);
  // Attaches to an existing window and routes its messages through this
  // object; its old procedure becomes the default. False when hwnd is null or
  // already has an object.
  bool SubclassWindow(HWND hwnd);
  bool SubclassDlgItem(UINT id, HWND parent) { return SubclassWindow(::GetDlgItem(parent, id)); }
  // Gives the window its old procedure back and forgets it; the window stays.
  HWND UnsubclassWindow();
  // DestroyWindow on the attached window; true when there was one and it went.
  bool DestroyWindow();

  // What the dispatch does, in order: reflection to a child control's
  // object, then WM_COMMAND/WM_NOTIFY rows, then message rows, then
  // DefWindowProc. Override to see every message first.
  virtual LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam);
  // The window's own procedure from before this object (DefWindowProc for
  // windows created here, the control's or dialog's procedure otherwise).
  virtual LRESULT DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam);
  // DefWindowProc with the message being dispatched, for a handler that
  // wants the default processing too ("then the default handling").
  LRESULT Default();

  // Called by message loops of this layer for every message to this window
  // or to one of its descendants, before TranslateMessage; true eats the
  // message. The base eats nothing.
  virtual BOOL PreTranslateMessage(MSG* msg);
  // The reflection hook (see WM_REFLECT_BASE): true when this control
  // handled the notification its parent got about it.
  virtual bool OnChildNotify(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result);
  // Can change the creation record of CreateEx; false cancels creation.
  virtual BOOL PreCreateWindow(CREATESTRUCTW& cs);
  // When the object takes a window over (SubclassWindow, DDX_Control, or
  // creation here, before WM_NCCREATE): m_hWnd is set, the window's own
  // procedure still in place. Controls read their text and adjust their
  // style here.
  virtual void PreSubclassWindow() {}
  // After the window is gone and the object detached.
  virtual void PostNcDestroy() {}

  // Thin conveniences over the Win32 calls of the same names.
  UINT_PTR SetTimer(UINT_PTR id, UINT elapseMs) { return ::SetTimer(m_hWnd, id, elapseMs, nullptr); }
  BOOL KillTimer(UINT_PTR id) { return ::KillTimer(m_hWnd, id); }
  LRESULT SendMessage(UINT m, WPARAM w = 0, LPARAM l = 0) { return ::SendMessageW(m_hWnd, m, w, l); }
  BOOL PostMessage(UINT m, WPARAM w = 0, LPARAM l = 0) { return ::PostMessageW(m_hWnd, m, w, l); }
  BOOL ShowWindow(int cmd) { return ::ShowWindow(m_hWnd, cmd); }
  BOOL IsWindowVisible() const { return ::IsWindowVisible(m_hWnd); }
  HWND GetDlgItem(int id) const { return ::GetDlgItem(m_hWnd, id); }
  DWORD GetStyle() const { return static_cast<DWORD>(::GetWindowLongPtrW(m_hWnd, GWL_STYLE)); }

 private:
  friend class ScopedCreateHook;
  static LRESULT CALLBACK StaticWndProc(HWND, UINT, WPARAM, LPARAM);
  void Attach(HWND hwnd);
  void Detach();

  WNDPROC oldProc_ = nullptr;
  bool ownsWindow_ = false;  // made here (CreateEx, a dialog), not subclassed
};

// The window of w, null for a null w (MFC's GetSafeHwnd).
inline HWND SafeHwnd(const CWnd* w) { return w ? w->m_hWnd : nullptr; }

// Attaches w to the next window this thread creates, before that window's
// first message (a CBT hook, as MFC does), for the scope of one
// CreateWindowEx or CreateDialog* call. Nests.
class ScopedCreateHook {
 public:
  explicit ScopedCreateHook(CWnd* w);
  ~ScopedCreateHook();
  ScopedCreateHook(const ScopedCreateHook&) = delete;
  ScopedCreateHook& operator=(const ScopedCreateHook&) = delete;

 private:
  static LRESULT CALLBACK CbtProc(int code, WPARAM wParam, LPARAM lParam);
  CWnd* previous_;
};

// The message walk of this layer's loops: offers msg to PreTranslateMessage
// of the window object it is for, then of each parent (GetParent: for a
// top-level window its owner), nearest first. True when one ate it.
bool WalkPreTranslateTree(MSG* msg);

// GetMessage, the walk, TranslateMessage, DispatchMessage. False on WM_QUIT
// (msg then holds it).
bool PumpMessage(MSG* msg);

}  // namespace cl
