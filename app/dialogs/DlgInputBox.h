// CDlgInputBox: the program's one-line prompt (a receiver's password, a
// connection ID or address). A modal dialog from template 314 with a
// caption, a centred prompt, an edit field and OK / Cancel. It lays itself
// out for the DPI of the monitor it opens on and grows to fit a long prompt.
//
//   CDlgInputBox box(title, prompt, &owner);
//   box.result = initialText;          // optional
//   box.password = true;               // optional: the field shows bullets
//   if (box.DoModal() == IDOK) use(box.result);
//
// The box opens with the focus in the edit field and its text selected, so
// what the user types at once replaces the initial text. Cancel leaves
// `result` as it was.
#pragma once

#include <windows.h>

#include <string>

#include "app/controls/CustomStatic.h"
#include "app/controls/DialogFont.h"
#include "classlib/Dialog.h"

class CDlgInputBox : public cl::CDialog {
 public:
  static constexpr UINT kTemplateId = 314;

  CDlgInputBox(const std::wstring& title, const std::wstring& prompt, cl::CWnd* parent = nullptr);
  ~CDlgInputBox() override;

  BOOL OnInitDialog() override;
  void DoDataExchange() override;
  void OnOK() override;
  void OnCancel() override;

  CDialogFont templateFont;
  CCustomStatic prompt;
  cl::CWnd edit;
  std::wstring result;  // on entry the edit's initial text; after OK the text typed
  std::wstring title;
  std::wstring promptText;
  // Set before DoModal when the box asks for a secret (a receiver's
  // password): the field masks what is typed.
  bool password = false;
  cl::CWnd okButton;
  cl::CWnd cancelButton;

 protected:
  const cl::MessageMap* GetMessageMap() const override;

 private:
  LRESULT OnCreate(WPARAM, LPARAM);
  LRESULT OnDestroy(WPARAM, LPARAM);
  void GrowForPrompt();
};
