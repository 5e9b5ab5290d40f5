#include "classlib/Dialog.h"

#include "classlib/Resource.h"
#include "classlib/WinApp.h"

namespace cl {

CDialog::CDialog(UINT templateId, CWnd* parent) : templateId_(templateId), parent_(parent) {}

const MessageMap* CDialog::GetMessageMap() const {
  static const MessageMap map{CWnd::GetMessageMap(),
                              {
                                  OnCommand(IDOK, &CDialog::OnOK),
                                  OnCommand(IDCANCEL, &CDialog::OnCancel),
                              }};
  return &map;
}

INT_PTR CALLBACK CDialog::StaticDlgProc(HWND, UINT, WPARAM, LPARAM) {
  // Everything is handled by the object's WindowProc, ahead of the dialog
  // manager's default procedure that calls this.
  return FALSE;
}

bool CDialog::CreateFromTemplate(HWND owner) {
  HINSTANCE inst = AfxGetResourceHandle();
  HRSRC res = FindResourceW(inst, MAKEINTRESOURCEW(templateId_), RT_DIALOG);
  HGLOBAL data = res ? LoadResource(inst, res) : nullptr;
  auto* tmpl = static_cast<const DLGTEMPLATE*>(data ? LockResource(data) : nullptr);
  if (!tmpl) return false;
  HWND hwnd;
  {
    ScopedCreateHook hook(this);
    hwnd = CreateDialogIndirectParamW(inst, tmpl, owner, &CDialog::StaticDlgProc, 0);
  }
  return hwnd != nullptr && hwnd == m_hWnd;
}

bool CDialog::Create(HWND parent) {
  if (m_hWnd) return false;
  return CreateFromTemplate(parent);
}

HWND CDialog::ModalOwner() const {
  HWND owner = SafeHwnd(parent_);
  if (!parent_) {
    CWinApp* app = AfxGetApp();
    CWnd* main = app ? app->GetMainWnd() : nullptr;
    owner = main == this ? nullptr : SafeHwnd(main);
  }
  while (owner && (GetWindowLongPtrW(owner, GWL_STYLE) & WS_CHILD)) owner = ::GetParent(owner);
  return owner;
}

INT_PTR CDialog::DoModal() {
  if (m_hWnd) return -1;
  HWND owner = ModalOwner();
  bool enableOwner = owner && ::IsWindowEnabled(owner);
  if (enableOwner) ::EnableWindow(owner, FALSE);

  modalResult_ = -1;
  continueModal_ = true;
  inModalLoop_ = true;
  if (!CreateFromTemplate(owner)) continueModal_ = false;

  bool showOnIdle = m_hWnd && !(GetStyle() & WS_VISIBLE);
  MSG msg{};
  while (continueModal_ && m_hWnd) {
    if (showOnIdle && !PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE)) {
      ShowWindow(SW_SHOWNORMAL);
      UpdateWindow(m_hWnd);
      showOnIdle = false;
    }
    if (!PumpMessage(&msg)) {
      PostQuitMessage(static_cast<int>(msg.wParam));
      modalResult_ = -1;
      break;
    }
  }
  inModalLoop_ = false;
  continueModal_ = false;

  if (m_hWnd)
    SetWindowPos(m_hWnd, nullptr, 0, 0, 0, 0,
                 SWP_HIDEWINDOW | SWP_NOSIZE | SWP_NOMOVE | SWP_NOACTIVATE | SWP_NOZORDER);
  if (enableOwner) ::EnableWindow(owner, TRUE);
  if (owner && m_hWnd && ::GetActiveWindow() == m_hWnd) ::SetActiveWindow(owner);
  DestroyWindow();
  return modalResult_;
}

void CDialog::EndDialog(int result) {
  modalResult_ = result;
  if (inModalLoop_) {
    continueModal_ = false;
    PostMessage(WM_NULL);  // wakes the loop when this came from elsewhere
  }
  if (m_hWnd) ::EndDialog(m_hWnd, result);
}

BOOL CDialog::OnInitDialog() {
  DoDataExchange();
  return TRUE;
}

void CDialog::OnOK() { EndDialog(IDOK); }
void CDialog::OnCancel() { EndDialog(IDCANCEL); }

BOOL CDialog::PreTranslateMessage(MSG* msg) {
  bool input = (msg->message >= WM_KEYFIRST && msg->message <= WM_KEYLAST) ||
               (msg->message >= WM_MOUSEFIRST && msg->message <= WM_MOUSELAST);
  if (!input || !m_hWnd) return FALSE;
  if (msg->hwnd != m_hWnd && !::IsChild(m_hWnd, msg->hwnd)) return FALSE;
  return ::IsDialogMessageW(m_hWnd, msg);
}

LRESULT CDialog::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) return OnInitDialog();
  if (message == WM_WINDOWPOSCHANGING && keepHidden_ && lParam)
    reinterpret_cast<WINDOWPOS*>(lParam)->flags &= ~SWP_SHOWWINDOW;
  return CWnd::WindowProc(message, wParam, lParam);
}

bool CDialog::OnCmdMsg(UINT id, UINT code, HWND control) {
  if (CWnd::OnCmdMsg(id, code, control)) return true;
  if (code != 0 || id < 0x8000 || id >= 0xF000) return false;
  if (CWnd* owner = FromHandlePermanent(::GetParent(m_hWnd)); owner && owner != this)
    if (owner->OnCmdMsg(id, code, control)) return true;
  CWinApp* app = AfxGetApp();
  return app && app->OnCmdMsg(id, code, control);
}

}  // namespace cl
