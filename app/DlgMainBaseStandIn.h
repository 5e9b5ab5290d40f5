// Stand-in for the skinned dialog base of the control kit (CDlgMainBase):
// a plain dialog from its template that paints its PNG background, runs the
// derived class's init hook from OnInitDialog and centres itself. The main
// window names its base through CDlgPreferenceBase; switching to the kit's
// base is that one line.
#pragma once

#include <windows.h>

#include <memory>

#include "classlib/Dialog.h"
#include "classlib/GdiPlus.h"

class CDlgMainBaseStandIn : public cl::CDialog {
 public:
  // parent: not used (the dialog has no parent window).
  CDlgMainBaseStandIn(UINT templateId, UINT pngId, cl::CWnd* parent = nullptr);
  ~CDlgMainBaseStandIn() override;

  BOOL OnInitDialog() override;
  virtual BOOL InitDialogHook() = 0;

 protected:
  const cl::MessageMap* GetMessageMap() const override;

 private:
  LRESULT OnEraseBkgnd(WPARAM wParam, LPARAM lParam);
  UINT pngId_;
  std::unique_ptr<Gdiplus::Bitmap> background_;
};
