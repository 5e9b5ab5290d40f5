#include "app/dialogs/DlgError.h"

#include <commctrl.h>
#include <shellapi.h>
#include <windowsx.h>

#include "app/resources/resource.h"
#include "classlib/Resource.h"
#include "foundation/log/Logger.h"
#include "foundation/settings/FrameUtility.h"

namespace {

// Controls of template 111.
constexpr UINT kCloseCross = 1055;
constexpr UINT kCloseButton = 1054;
constexpr UINT kDontShowBox = 1056;
constexpr UINT kDontShowLabel = 1057;

constexpr int kIconPng = 210;
constexpr int kIconBackPng = 211;

// Where Bonjour can be had (the web site of its maker).
constexpr wchar_t kItunesPage[] = L"https://www.apple.com/itunes/download/";
constexpr wchar_t kPrintServicesPage[] = L"https://support.apple.com/kb/DL999";

std::wstring OwnModulePath() {
  wchar_t path[MAX_PATH] = {};
  const DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
  return n > 0 && n < MAX_PATH ? std::wstring(path, n) : std::wstring();
}

}  // namespace

// ------------------------------------------------------------------- pages

CErrorPage::CErrorPage(UINT templateId, cl::CWnd* owner) : CDlgChildBase(templateId, kPagePng, owner) {
  offsetX = 10;
  offsetY = 40;
}

void CErrorPage::SetupIcon(CPictureStatic& icon) {
  SetWindowPos(icon.m_hWnd, nullptr, 20, 40, 54, 45, SWP_NOZORDER | SWP_NOACTIVATE);
  icon.pngId = kIconPng;
  icon.iconName = nullptr;
  icon.imagePath.clear();
  icon.background.Free();
  icon.background.pngId = kIconBackPng;
  icon.background.parentDC = nullptr;
  icon.background.relative = false;
  icon.background.offsetX = 30;
  icon.background.offsetY = 80;
  icon.drawn = false;
  InvalidateRect(icon.m_hWnd, nullptr, TRUE);
}

void CErrorPage::SetupText(CCustomStatic& label, const std::wstring& text) {
  SetupStatic(&label, false, false);
  label.SetFontSize(9.6f, 14.0f);
  label.SetText(text);
}

CPageErrBonjourAbsent::CPageErrBonjourAbsent(cl::CWnd* owner) : CErrorPage(kTemplateId, owner) {}

void CPageErrBonjourAbsent::DoDataExchange() {
  DDX_Control(1058, title);
  DDX_Control(1062, text);
  DDX_Control(1060, spare);
  DDX_Control(1061, links);
  DDX_Control(1059, icon);
}

void CPageErrBonjourAbsent::InitDialogHook() {
  SetupText(title, cl::LoadResString(IDS_UNABLE_TO_MIRROR));
  SetupText(text, cl::LoadResString(IDS_BONJOUR_REQUIRED));
  spare.ShowWindow(SW_HIDE);
  SetupStatic(&links, false, false);
  links.SetFontSize(9.6f, 14.0f);
  SetLinkText2(&links, cl::LoadResString(IDS_OBTAIN_BONJOUR), cl::LoadResString(IDS_ITUNES), kItunesPage,
               cl::LoadResString(IDS_BONJOUR_PRINT_SERVICES), kPrintServicesPage, false, 0, 0);
  SetupIcon(icon);
}

CPageErrBonjourDisable::CPageErrBonjourDisable(cl::CWnd* owner) : CErrorPage(kTemplateId, owner) {}

void CPageErrBonjourDisable::DoDataExchange() {
  DDX_Control(1063, text);
  DDX_Control(1064, itunesLink);
  DDX_Control(1065, printLink);
}

void CPageErrBonjourDisable::InitDialogHook() {
  SetupText(text, cl::LoadResString(IDS_INSTALL_BONJOUR));
  for (CCustomStatic* l : {&itunesLink, &printLink}) {
    SetupStatic(l, false, false);
    l->SetFontSize(9.6f, 14.0f);
  }
  SetLinkText(&itunesLink, L"%s", cl::LoadResString(IDS_ITUNES), kItunesPage, kit::kDialogTextColour, false, 0);
  SetLinkText(&printLink, L"%s", cl::LoadResString(IDS_BONJOUR_PRINT_SERVICES), kPrintServicesPage,
              kit::kDialogTextColour, false, 0);
}

CPageErrBonjourStop::CPageErrBonjourStop(cl::CWnd* owner)
    : CErrorPage(kTemplateId, owner), programPath(OwnModulePath()) {}

const cl::MessageMap* CPageErrBonjourStop::GetMessageMap() const {
  static const cl::MessageMap map{CErrorPage::GetMessageMap(),
                                  {
                                      cl::OnCommand(1068, &CPageErrBonjourStop::OnRestart),
                                  }};
  return &map;
}

void CPageErrBonjourStop::DoDataExchange() {
  DDX_Control(1066, text);
  DDX_Control(1069, failText);
  DDX_Control(1068, restartButton);
  DDX_Control(1059, icon);
}

void CPageErrBonjourStop::InitDialogHook() {
  SetupText(text, cl::LoadResString(IDS_BONJOUR_NOT_RUNNING));
  SetupStatic(&failText, false, false);
  failText.SetFontSize(9.6f, 14.0f);
  failText.textColour = 0xFFFF0000;
  failText.SetText(cl::LoadResString(IDS_RESTART_BONJOUR_FAILED));
  failText.ShowWindow(SW_HIDE);
  SetWindowTextW(restartButton.m_hWnd, cl::LoadResString(IDS_RESTART_BONJOUR).c_str());
  restartButton.SendMessage(BCM_SETSHIELD, 0, 1);
  SetupIcon(icon);
}

int CPageErrBonjourStop::RunRestart(const std::wstring& program, DWORD waitMs) {
  ZtLogger& log = ZtLogger::Instance();
  SHELLEXECUTEINFOW sei{};
  sei.cbSize = sizeof(sei);
  // Without SEE_MASK_FLAG_NO_UI a program that cannot start makes the shell
  // show its own box and not return.
  sei.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI;
  sei.lpVerb = L"runas";
  sei.lpFile = program.c_str();
  sei.lpParameters = L"-restartbj";
  sei.nShow = SW_SHOWDEFAULT;
  if (!ShellExecuteExW(&sei) || !sei.hProcess) {
    log.Error("[UI]restart bonjour: could not start the program (err %lu)", GetLastError());
    return -1;
  }
  // The page keeps painting while it waits; nothing else runs meanwhile, so
  // the button cannot be pressed twice and the dialog cannot go away.
  const DWORD t0 = GetTickCount();
  bool ended = false;
  for (;;) {
    const DWORD elapsed = GetTickCount() - t0;
    if (elapsed >= waitMs) break;
    const DWORD r = MsgWaitForMultipleObjects(1, &sei.hProcess, FALSE, waitMs - elapsed, QS_PAINT);
    if (r == WAIT_OBJECT_0) {
      ended = true;
      break;
    }
    if (r != WAIT_OBJECT_0 + 1) break;
    MSG msg;
    while (PeekMessageW(&msg, nullptr, WM_PAINT, WM_PAINT, PM_REMOVE | PM_QS_PAINT)) DispatchMessageW(&msg);
  }
  DWORD code = STILL_ACTIVE;
  if (ended) GetExitCodeProcess(sei.hProcess, &code);
  CloseHandle(sei.hProcess);
  if (!ended) {
    log.Error("[UI]restart bonjour: no result within %lu ms", waitMs);
    return -1;
  }
  log.Info("[UI]restart bonjour: the program exited with %lu", code);
  return code == STILL_ACTIVE ? -1 : static_cast<int>(code);
}

void CPageErrBonjourStop::OnRestart() {
  failText.ShowWindow(SW_HIDE);
  EnableWindow(restartButton.m_hWnd, FALSE);
  const int code = RunRestart(programPath, restartWaitMs);
  EnableWindow(restartButton.m_hWnd, TRUE);
  if (code == 0) {
    ::PostMessageW(::GetWindow(m_hWnd, GW_OWNER), WM_CLOSE, 0, 0);
    return;
  }
  failText.ShowWindow(SW_SHOW);
}

CPageErrGeneral::CPageErrGeneral(const std::wstring& text, cl::CWnd* owner)
    : CErrorPage(kTemplateId, owner), messageText(text) {}

void CPageErrGeneral::DoDataExchange() {
  DDX_Control(1071, icon);
  DDX_Control(1070, message);
}

void CPageErrGeneral::InitDialogHook() {
  SetupIcon(icon);
  SetupText(message, messageText);
}

// ---------------------------------------------------------------- CDlgError

CDlgError::CDlgError(const std::wstring& text, int k, cl::CWnd* ownerWindow, bool hide)
    : CTRSDialog(kTemplateId, kPng, ownerWindow), kind(k), message(text), hideOwner(hide), owner(ownerWindow) {}

CDlgError::~CDlgError() { page.reset(); }

const cl::MessageMap* CDlgError::GetMessageMap() const {
  static const cl::MessageMap map{CTRSDialog::GetMessageMap(),
                                  {
                                      cl::OnCommand(kCloseCross, &CDlgError::PostCloseToSelf),
                                      cl::OnCommand(kCloseButton, &CDlgError::PostCloseToSelf),
                                      cl::OnMessage(WM_MOVE, &CDlgError::OnMove),
                                      cl::OnMessage(WM_SHOWWINDOW, &CDlgError::OnShowWindow),
                                      cl::OnMessage(WM_TIMER, &CDlgError::OnRaisePage),
                                      cl::OnMessage(WM_CLOSE, &CDlgError::OnClose),
                                  }};
  return &map;
}

void CDlgError::DoDataExchange() {
  DDX_Control(kCloseCross, closeCross);
  DDX_Control(kCloseButton, closeButton);
  DDX_Control(kDontShowBox, dontShowBox);
  DDX_Control(kDontShowLabel, dontShowLabel);
}

void CDlgError::InitControls() {
  closed_ = false;
  SetWindowPos(closeCross.m_hWnd, nullptr, 437, 7, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  closeCross.SetImages({137, 137, 136, 138, 0});
  AddChild(&closeCross);

  SetWindowPos(closeButton.m_hWnd, nullptr, 365, 229, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  closeButton.SetImages({172, 172, 173, 174, 0});
  SetWindowTextW(closeButton.m_hWnd, cl::LoadResString(IDS_CLOSE).c_str());
  closeButton.normalColour = 0xFE515151;
  closeButton.disabledColour = 0xFE686868;
  closeButton.hoverColour = 0xFE3C3C3C;
  closeButton.pressedColour = 0xFE000000;
  closeButton.UpdateState();
  closeButton.SetFont(L"Arial", 12, Gdiplus::FontStyleBold, Gdiplus::UnitPixel);
  AddChild(&closeButton);

  SetWindowPos(dontShowBox.m_hWnd, nullptr, 34, 241, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  dontShowBox.SetImages({157, 0, 157, 156, 156});
  AddChild(&dontShowBox);

  SetWindowPos(dontShowLabel.m_hWnd, nullptr, 52, 240, 248, 26, SWP_NOZORDER | SWP_NOACTIVATE);
  dontShowLabel.SetFontFamily(L"Arial");
  dontShowLabel.textColour = 0xFE515151;
  dontShowLabel.fontSize = kit::ScreenPointFactor() * 9;
  dontShowLabel.alignment = Gdiplus::StringAlignmentNear;
  dontShowLabel.text = cl::LoadResString(IDS_DONT_SHOW_AGAIN);
  AddChild(&dontShowLabel);

  dontShowBox.ShowWindow(SW_HIDE);
  dontShowLabel.ShowWindow(SW_HIDE);

  RECT pr{};
  GetWindowRect(m_hWnd, &pr);
  pr.left += 10;
  pr.top += 40;
  pr.right -= 10;
  pr.bottom -= 65;

  switch (kind) {
    case kBonjourAbsent:
      dontShowBox.ShowWindow(SW_SHOW);
      dontShowLabel.ShowWindow(SW_SHOW);
      page = std::make_unique<CPageErrBonjourAbsent>(this);
      break;
    case kBonjourStop:
      page = std::make_unique<CPageErrBonjourStop>(this);
      break;
    case kBonjourDisable:
      page = std::make_unique<CPageErrBonjourDisable>(this);
      break;
    default:
      page = std::make_unique<CPageErrGeneral>(message, this);
      break;
  }
  if (page->Create(m_hWnd)) {
    SetWindowPos(page->m_hWnd, nullptr, pr.left, pr.top, pr.right - pr.left, pr.bottom - pr.top,
                 SWP_NOZORDER | SWP_NOACTIVATE);
    page->ShowWindow(SW_SHOW);
  }
}

void CDlgError::PostCloseToSelf() { PostMessage(WM_CLOSE); }

LRESULT CDlgError::OnMove(WPARAM, LPARAM lParam) {
  LRESULT r = Default();
  if (page && page->m_hWnd) {
    SetWindowPos(page->m_hWnd, nullptr, GET_X_LPARAM(lParam) + 10, GET_Y_LPARAM(lParam) + 40, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  }
  return r;
}

LRESULT CDlgError::OnShowWindow(WPARAM wParam, LPARAM) {
  LRESULT r = Default();
  if (page && page->m_hWnd) page->ShowWindow(wParam ? SW_SHOW : SW_HIDE);
  // WM_SHOWWINDOW comes before the dialog is on screen, and a layered
  // window reaches the screen only with a later flush of its picture
  // (Wine): where the window system stacks windows in the order they appear
  // (Wine without a window manager) the page would lie beneath it. So the
  // page is shown again a moment later.
  if (wParam) SetTimer(kRaisePageTimer, 250);
  if (hideOwner && owner && owner->m_hWnd) owner->ShowWindow(wParam ? SW_HIDE : SW_SHOW);
  return r;
}

LRESULT CDlgError::OnRaisePage(WPARAM wParam, LPARAM) {
  if (wParam != kRaisePageTimer) return Default();
  KillTimer(kRaisePageTimer);
  // Shown again rather than raised: the window list already has the page
  // above its owner, so a raise alone would change nothing on screen.
  if (page && page->m_hWnd && IsWindowVisible()) {
    page->ShowWindow(SW_HIDE);
    page->ShowWindow(SW_SHOWNA);
  }
  return 0;
}

LRESULT CDlgError::OnClose(WPARAM, LPARAM) {
  Close();
  return 0;
}

void CDlgError::Close() {
  if (closed_) return;
  closed_ = true;
  if (hideOwner && owner && owner->m_hWnd) owner->ShowWindow(SW_SHOW);
  if (kind == kBonjourAbsent && dontShowBox.checked) {
    CFrameUtility::SetShowBonjourWarning(CFrameUtility::GetShowBonjourWarning() | (1 << kind));
  }
  EndDialog(IDCANCEL);
}

void ShowErrorDialog(const std::wstring& message, int kind, cl::CWnd* owner, bool hideOwner) {
  if (!owner || !owner->m_hWnd) {
    ZtLogger::Instance().Error("Invalid parent window!");
    return;
  }
  CDlgError box(message, kind, owner, hideOwner);
  box.DoModal();
}
