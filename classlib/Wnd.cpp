#include "classlib/Wnd.h"

#include <mutex>
#include <set>
#include <string>

#include "classlib/MainWindow.h"
#include "classlib/WinApp.h"

namespace cl {

namespace {

const wchar_t kObjectProp[] = L"cl.CWnd";

// The message being dispatched on this thread, innermost first, so that
// Default() can hand exactly that message to the old procedure. Kept off the
// object: a handler may delete its own object (PostNcDestroy) before the
// dispatch unwinds.
struct CurrentMessage {
  CWnd* wnd;
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
  const CurrentMessage* outer;
};
thread_local const CurrentMessage* t_current = nullptr;

thread_local CWnd* t_pendingCreate = nullptr;
thread_local HHOOK t_cbtHook = nullptr;
thread_local int t_hookDepth = 0;

bool IsCtlColor(UINT m) { return m >= WM_CTLCOLORMSGBOX && m <= WM_CTLCOLORSTATIC; }

// The child control a notification to its parent is about, or null.
HWND ReflectTarget(HWND self, UINT m, WPARAM w, LPARAM l) {
  switch (m) {
    case WM_COMMAND:
    case WM_HSCROLL:
    case WM_VSCROLL:
      return reinterpret_cast<HWND>(l);
    case WM_NOTIFY:
      return l ? reinterpret_cast<NMHDR*>(l)->hwndFrom : nullptr;
    case WM_DRAWITEM: {
      auto* d = reinterpret_cast<DRAWITEMSTRUCT*>(l);
      return d && d->CtlType != ODT_MENU ? d->hwndItem : nullptr;
    }
    case WM_MEASUREITEM: {
      auto* mi = reinterpret_cast<MEASUREITEMSTRUCT*>(l);
      return mi && mi->CtlType != ODT_MENU ? ::GetDlgItem(self, mi->CtlID) : nullptr;
    }
    default:
      return IsCtlColor(m) ? reinterpret_cast<HWND>(l) : nullptr;
  }
}

}  // namespace

// ---------------------------------------------------------------- CCmdTarget

const MessageMap* CCmdTarget::GetMessageMap() const {
  static const MessageMap map{nullptr, {}};
  return &map;
}

bool CCmdTarget::OnCmdMsg(UINT id, UINT code, HWND control) {
  for (const MessageMap* m = GetMessageMap(); m; m = m->base) {
    for (const MessageEntry& e : m->entries) {
      bool hit = (e.kind == MessageEntry::kCommand && code == 0 && id >= e.first && id <= e.last) ||
                 (e.kind == MessageEntry::kControl && code == e.code && id == e.first);
      if (hit) {
        e.invoke(this, id, reinterpret_cast<LPARAM>(control));
        return true;
      }
    }
  }
  return false;
}

bool CCmdTarget::DispatchMessageEntry(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) {
  for (const MessageMap* m = GetMessageMap(); m; m = m->base) {
    for (const MessageEntry& e : m->entries) {
      if (e.kind == MessageEntry::kMessage && e.message == message) {
        *result = e.invoke(this, wParam, lParam);
        return true;
      }
    }
  }
  return false;
}

// ---------------------------------------------------------------------- CWnd

CWnd::~CWnd() {
  if (CWinApp* app = AfxGetApp(); app && app->GetMainWnd() == this) app->SetMainWnd(nullptr);
  if (!m_hWnd) return;
  if (ownsWindow_)
    ::DestroyWindow(m_hWnd);  // WM_NCDESTROY detaches
  else
    UnsubclassWindow();
  if (m_hWnd) Detach();  // a window of another thread: forget it
}

CWnd* CWnd::FromHandlePermanent(HWND hwnd) {
  return hwnd ? static_cast<CWnd*>(GetPropW(hwnd, kObjectProp)) : nullptr;
}

const wchar_t* CWnd::RegisterWndClass(UINT classStyle, HCURSOR cursor, HBRUSH background,
                                      HICON icon) {
  static std::mutex lock;
  static std::set<std::wstring> names;  // node-based: c_str() stays valid
  wchar_t name[96];
  wsprintfW(name, L"cl:%x:%p:%p:%p", classStyle, cursor, background, icon);
  std::lock_guard<std::mutex> hold(lock);
  auto it = names.find(name);
  if (it != names.end()) return it->c_str();
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof(wc);
  wc.style = classStyle;
  wc.lpfnWndProc = ::DefWindowProcW;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.hCursor = cursor;
  wc.hbrBackground = background;
  wc.hIcon = icon;
  wc.lpszClassName = name;
  if (!RegisterClassExW(&wc) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) return nullptr;
  return names.insert(name).first->c_str();
}

bool CWnd::CreateEx(DWORD exStyle, const wchar_t* className, const wchar_t* title, DWORD style,
                    const RECT& rect, HWND parent, UINT_PTR idOrMenu, void* createParam) {
  if (m_hWnd) return false;
  CREATESTRUCTW cs{};
  cs.dwExStyle = exStyle;
  cs.lpszClass = className ? className
                           : RegisterWndClass(CS_DBLCLKS, LoadCursorW(nullptr, IDC_ARROW),
                                              reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1));
  cs.lpszName = title;
  cs.style = style;
  cs.x = rect.left;
  cs.y = rect.top;
  cs.cx = rect.right - rect.left;
  cs.cy = rect.bottom - rect.top;
  cs.hwndParent = parent;
  cs.hMenu = reinterpret_cast<HMENU>(idOrMenu);
  cs.hInstance = GetModuleHandleW(nullptr);
  cs.lpCreateParams = createParam;
  if (!PreCreateWindow(cs)) return false;
  HWND hwnd;
  {
    ScopedCreateHook hook(this);
    hwnd = CreateWindowExW(cs.dwExStyle, cs.lpszClass, cs.lpszName, cs.style, cs.x, cs.y, cs.cx,
                           cs.cy, cs.hwndParent, cs.hMenu, cs.hInstance, cs.lpCreateParams);
  }
  return hwnd != nullptr && m_hWnd == hwnd;
}

BOOL CWnd::PreCreateWindow(CREATESTRUCTW&) { return TRUE; }

bool CWnd::SubclassWindow(HWND hwnd) {
  if (!hwnd || m_hWnd || FromHandlePermanent(hwnd)) return false;
  Attach(hwnd);
  ownsWindow_ = false;
  return true;
}

void CWnd::Attach(HWND hwnd) {
  m_hWnd = hwnd;
  SetPropW(hwnd, kObjectProp, this);
  PreSubclassWindow();
  oldProc_ = reinterpret_cast<WNDPROC>(
      SetWindowLongPtrW(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&CWnd::StaticWndProc)));
  if (CWinApp* app = AfxGetApp(); app && app->GetMainWnd() == this) SetMainWindow(hwnd);
}

void CWnd::Detach() {
  HWND hwnd = m_hWnd;
  if (!hwnd) return;
  if (reinterpret_cast<WNDPROC>(GetWindowLongPtrW(hwnd, GWLP_WNDPROC)) == &CWnd::StaticWndProc)
    SetWindowLongPtrW(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(oldProc_));
  RemovePropW(hwnd, kObjectProp);
  m_hWnd = nullptr;
  ownsWindow_ = false;
  if (CWinApp* app = AfxGetApp(); app && app->GetMainWnd() == this) app->OnMainWindowGone(this);
}

HWND CWnd::UnsubclassWindow() {
  HWND hwnd = m_hWnd;
  Detach();
  return hwnd;
}

bool CWnd::DestroyWindow() { return m_hWnd && ::DestroyWindow(m_hWnd); }

LRESULT CALLBACK CWnd::StaticWndProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  CWnd* w = FromHandlePermanent(hwnd);
  if (!w) return ::DefWindowProcW(hwnd, message, wParam, lParam);
  if (message != WM_NCDESTROY) return w->WindowProc(message, wParam, lParam);
  LRESULT r = w->WindowProc(message, wParam, lParam);
  if (FromHandlePermanent(hwnd) == w) {  // unless a handler unsubclassed
    w->Detach();
    w->PostNcDestroy();
  }
  return r;
}

LRESULT CWnd::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
  CurrentMessage cur{this, message, wParam, lParam, t_current};
  t_current = &cur;
  struct Pop {
    const CurrentMessage* outer;
    ~Pop() { t_current = outer; }
  } pop{cur.outer};

  LRESULT result = 0;
  if (HWND child = ReflectTarget(m_hWnd, message, wParam, lParam); child && child != m_hWnd) {
    if (CWnd* c = FromHandlePermanent(child); c && c->OnChildNotify(message, wParam, lParam, &result))
      return result;
  }
  if (message == WM_COMMAND) {
    HWND control = reinterpret_cast<HWND>(lParam);
    // Menus send code 0 and accelerators 1: both are plain commands.
    UINT code = control ? HIWORD(wParam) : 0;
    if (OnCmdMsg(LOWORD(wParam), code, control)) return 0;
  } else if (message == WM_NOTIFY && lParam) {
    const NMHDR* h = reinterpret_cast<const NMHDR*>(lParam);
    for (const MessageMap* m = GetMessageMap(); m; m = m->base) {
      for (const MessageEntry& e : m->entries) {
        if (e.kind == MessageEntry::kNotify && e.code == h->code && e.first == h->idFrom)
          return e.invoke(this, wParam, lParam);
      }
    }
  }
  if (DispatchMessageEntry(message, wParam, lParam, &result)) return result;
  return DefWindowProc(message, wParam, lParam);
}

LRESULT CWnd::DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
  if (oldProc_) return CallWindowProcW(oldProc_, m_hWnd, message, wParam, lParam);
  return ::DefWindowProcW(m_hWnd, message, wParam, lParam);
}

LRESULT CWnd::Default() {
  const CurrentMessage* c = t_current;
  if (!c || c->wnd != this) return 0;
  return DefWindowProc(c->message, c->wParam, c->lParam);
}

BOOL CWnd::PreTranslateMessage(MSG*) { return FALSE; }

bool CWnd::OnChildNotify(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) {
  UINT reflected = WM_REFLECT_BASE + (IsCtlColor(message) ? WM_CTLCOLOR_LEGACY : message);
  return DispatchMessageEntry(reflected, wParam, lParam, result);
}

// ------------------------------------------------------------ create hook

ScopedCreateHook::ScopedCreateHook(CWnd* w) : previous_(t_pendingCreate) {
  t_pendingCreate = w;
  if (t_hookDepth++ == 0)
    t_cbtHook = SetWindowsHookExW(WH_CBT, CbtProc, nullptr, GetCurrentThreadId());
}

LRESULT CALLBACK ScopedCreateHook::CbtProc(int code, WPARAM wParam, LPARAM lParam) {
  if (code == HCBT_CREATEWND && t_pendingCreate) {
    HWND hwnd = reinterpret_cast<HWND>(wParam);
    // The input method's own window may be made first; it is nobody's.
    wchar_t cls[8] = {};
    bool ime = (GetClassLongPtrW(hwnd, GCL_STYLE) & CS_IME) != 0 ||
               (GetClassNameW(hwnd, cls, 8) && lstrcmpiW(cls, L"IME") == 0);
    if (!ime && !CWnd::FromHandlePermanent(hwnd)) {
      CWnd* w = t_pendingCreate;
      t_pendingCreate = nullptr;
      w->Attach(hwnd);
      w->ownsWindow_ = true;
    }
  }
  return CallNextHookEx(nullptr, code, wParam, lParam);
}

ScopedCreateHook::~ScopedCreateHook() {
  t_pendingCreate = previous_;
  if (--t_hookDepth == 0 && t_cbtHook) {
    UnhookWindowsHookEx(t_cbtHook);
    t_cbtHook = nullptr;
  }
}

// ------------------------------------------------------------- message loop

bool WalkPreTranslateTree(MSG* msg) {
  for (HWND h = msg->hwnd; h; h = ::GetParent(h)) {
    if (CWnd* w = CWnd::FromHandlePermanent(h); w && w->PreTranslateMessage(msg)) return true;
  }
  return false;
}

bool PumpMessage(MSG* msg) {
  BOOL r = GetMessageW(msg, nullptr, 0, 0);
  if (r == 0 || r == -1) {
    if (r == -1) msg->message = WM_QUIT, msg->wParam = 0;
    return false;
  }
  if (!WalkPreTranslateTree(msg)) {
    TranslateMessage(msg);
    DispatchMessageW(msg);
  }
  return true;
}

}  // namespace cl
