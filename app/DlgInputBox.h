// Stand-in for the input box: template 314 as a plain dialog (caption,
// prompt, one edit field, OK and Cancel), without the custom static and the
// DPI layout the real one brings. Same name and calls.
#pragma once

#include <string>

#include "classlib/Dialog.h"

class CDlgInputBox : public cl::CDialog {
 public:
  CDlgInputBox(const std::wstring& title, const std::wstring& prompt, cl::CWnd* parent);

  // On entry: the edit field's initial text; after IDOK: the text typed.
  std::wstring result;

 protected:
  BOOL OnInitDialog() override;
  void OnOK() override;

 private:
  std::wstring title_;
  std::wstring prompt_;
};
