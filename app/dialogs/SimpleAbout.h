// CSimpleAbout: the about box. The program's logo, "Version : <version>"
// and a link "Acknowledgements" to the acknowledgements page shipped beside
// the program, opened in the user's browser. A modal dialog from template
// 318, laid out for the DPI of the monitor it opens on.
//
// The application keeps one open at a time (CTundraApp::OnAppAbout).
// UI thread only; GDI+ must be started.
#pragma once

#include <windows.h>

#include <string>

#include "app/controls/CustomStatic.h"
#include "app/controls/Statics.h"
#include "app/controls/Surface.h"
#include "classlib/Dialog.h"

class CSimpleAbout : public cl::CDialog {
 public:
  static constexpr UINT kTemplateId = 318;
  static constexpr int kLogoPng = 258;

  explicit CSimpleAbout(cl::CWnd* parent = nullptr);
  ~CSimpleAbout() override;

  void DoDataExchange() override;
  BOOL OnInitDialog() override;

  // The label look of the box: bold or regular "Arial" 9 pt in 0xFE515151,
  // left-aligned.
  static void StyleAboutLabel(CCustomStatic* label, bool bold);
  // Plain text before the first "%s" of format, the link (linkText, or the
  // target when empty) to target, then the rest of format without "%s".
  static void BuildLinkRuns(CCustomStatic* label, const std::wstring& format, const std::wstring& linkText,
                            const std::wstring& target, Gdiplus::ARGB colour);
  // The program's folder followed by "Acknowledgements.htm".
  static std::wstring AcknowledgementsPath();

  CCustomStatic versionLabel;
  CCustomStatic linkLabel;
  CPictureStatic logo;
  float scale = 1.0f;

 private:
  void UseFace(kit::BackgroundSlice& slice, HWND control);
  kit::MemSurface face_;  // the dialog's face colour, under the labels
};
