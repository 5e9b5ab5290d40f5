#include "app/DlgInputBox.h"

#include "app/resources/resource.h"
#include "classlib/Resource.h"

CDlgInputBox::CDlgInputBox(const std::wstring& title, const std::wstring& prompt, cl::CWnd* parent)
    : cl::CDialog(IDD_INPUT_BOX, parent), title_(title), prompt_(prompt) {}

BOOL CDlgInputBox::OnInitDialog() {
  cl::CDialog::OnInitDialog();
  SetWindowTextW(m_hWnd, title_.c_str());
  SetDlgItemTextW(m_hWnd, IDC_INPUT_PROMPT, prompt_.c_str());
  SetDlgItemTextW(m_hWnd, IDOK, cl::LoadResString(IDS_OK).c_str());
  SetDlgItemTextW(m_hWnd, IDCANCEL, cl::LoadResString(IDS_CANCEL).c_str());
  if (!result.empty()) SetDlgItemTextW(m_hWnd, IDC_INPUT_EDIT, result.c_str());
  return TRUE;
}

void CDlgInputBox::OnOK() {
  HWND edit = GetDlgItem(IDC_INPUT_EDIT);
  const int length = GetWindowTextLengthW(edit);
  std::wstring text(static_cast<size_t>(length) + 1, L'\0');
  GetWindowTextW(edit, &text[0], length + 1);
  text.resize(static_cast<size_t>(length));
  result = text;
  EndDialog(IDOK);
}
