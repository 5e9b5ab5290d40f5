#include "app/dialogs/DlgInputBox.h"

#include <memory>

#include "app/resources/resource.h"
#include "classlib/Resource.h"
#include "engine/capture/MonitorList.h"

namespace {

// What a masked field shows for each character typed (the system's own
// bullet, as the common controls' password edits show).
constexpr wchar_t kPasswordChar = 0x25CF;

}  // namespace

CDlgInputBox::CDlgInputBox(const std::wstring& t, const std::wstring& p, cl::CWnd* parent)
    : cl::CDialog(kTemplateId, parent), title(t), promptText(p) {}

CDlgInputBox::~CDlgInputBox() { templateFont.Restore(); }

const cl::MessageMap* CDlgInputBox::GetMessageMap() const {
  static const cl::MessageMap map{cl::CDialog::GetMessageMap(),
                                  {
                                      cl::OnMessage(WM_CREATE, &CDlgInputBox::OnCreate),
                                      cl::OnMessage(WM_DESTROY, &CDlgInputBox::OnDestroy),
                                  }};
  return &map;
}

void CDlgInputBox::DoDataExchange() {
  DDX_Control(IDC_INPUT_EDIT, edit);
  DDX_Control(IDC_INPUT_PROMPT, prompt);
  DDX_Control(IDOK, okButton);
  DDX_Control(IDCANCEL, cancelButton);
}

LRESULT CDlgInputBox::OnCreate(WPARAM, LPARAM) {
  if (Default() == -1) return -1;
  templateFont.Apply(cl::AfxGetResourceHandle(), m_hWnd, kTemplateId, 96);
  return 0;
}

LRESULT CDlgInputBox::OnDestroy(WPARAM, LPARAM) {
  templateFont.Restore();
  return Default();
}

BOOL CDlgInputBox::OnInitDialog() {
  cl::CDialog::OnInitDialog();

  float scale = 1.0f;
  {
    auto monitors = std::make_unique<CMonitorList>();
    if (monitors->Enumerate()) scale = monitors->GetWindowDpiScale(m_hWnd);
  }
  templateFont.Apply(cl::AfxGetResourceHandle(), m_hWnd, kTemplateId, static_cast<int>(scale * 96.0f));

  SetWindowTextW(m_hWnd, title.c_str());

  prompt.SetFontSize(14.0f, 14.0f);
  prompt.fontStyle = Gdiplus::FontStyleRegular;
  prompt.textColour = 0xFF000000;
  prompt.SetLineAlignment(Gdiplus::StringAlignmentNear);
  prompt.SetAlignment(Gdiplus::StringAlignmentNear);
  prompt.SetText(promptText);
  prompt.SetLineAlignment(Gdiplus::StringAlignmentCenter);
  prompt.SetAlignment(Gdiplus::StringAlignmentCenter);

  SetWindowTextW(okButton.m_hWnd, cl::LoadResString(IDS_OK).c_str());
  SetWindowTextW(cancelButton.m_hWnd, cl::LoadResString(IDS_CANCEL).c_str());

  GrowForPrompt();

  if (password) edit.SendMessage(EM_SETPASSWORDCHAR, kPasswordChar);
  if (!result.empty()) SetWindowTextW(edit.m_hWnd, result.c_str());

  // The template lists OK first, so the dialog manager's default focus
  // would be OK: what the user types at once would be lost and Enter would
  // confirm the old text. The field takes the focus instead, its text
  // selected (the dialog manager selects an edit's text when it moves the
  // focus there), and the dialog manager is told not to move it again.
  SendMessage(WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(edit.m_hWnd), TRUE);
  return FALSE;
}

void CDlgInputBox::GrowForPrompt() {
  RECT dialog{}, text{};
  GetWindowRect(m_hWnd, &dialog);
  GetWindowRect(prompt.m_hWnd, &text);
  const int needed = prompt.MeasureTextHeight();
  const int height = text.bottom - text.top;
  if (needed <= height) return;
  const int grow = needed + 5 - height;
  SetWindowPos(prompt.m_hWnd, nullptr, 0, 0, text.right - text.left, needed + 5,
               SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  SetWindowPos(m_hWnd, nullptr, 0, 0, dialog.right - dialog.left, dialog.bottom - dialog.top + grow,
               SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  // The controls below the prompt move down with it, so a prompt of three
  // lines or more is not hidden behind the edit field.
  for (HWND c : {edit.m_hWnd, okButton.m_hWnd, cancelButton.m_hWnd}) {
    RECT r{};
    GetWindowRect(c, &r);
    MapWindowPoints(nullptr, m_hWnd, reinterpret_cast<POINT*>(&r), 2);
    SetWindowPos(c, nullptr, r.left, r.top + grow, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  }
}

void CDlgInputBox::OnOK() {
  const int n = GetWindowTextLengthW(edit.m_hWnd);
  std::wstring t(static_cast<size_t>(n) + 1, L'\0');
  GetWindowTextW(edit.m_hWnd, &t[0], n + 1);
  t.resize(static_cast<size_t>(n));
  result = t;
  EndDialog(IDOK);
}

void CDlgInputBox::OnCancel() { EndDialog(IDCANCEL); }
