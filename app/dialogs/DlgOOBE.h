// CDlgOOBE: the first-run wizard. A frameless, round-cornered top-level
// dialog (template 104 over PNG 135) with two pages: a welcome page and the
// licence agreement with its usage-report consent box.
//
//   CDlgOOBE wizard;
//   wizard.DoModal();
//   if (!wizard.done) quit();   // declined, cancelled or closed
//
// The pages are child dialogs that never call the wizard: they post the
// wizard messages below to it, so a page's handler has returned before the
// wizard hides it. UI thread only; GDI+ must be started.
#pragma once

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "app/controls/CustomCheckBox.h"
#include "app/controls/CustomEdit.h"
#include "app/controls/CustomStatic.h"
#include "app/controls/DialogBases.h"
#include "app/controls/PictureButton.h"
#include "app/controls/Sliders.h"
#include "app/controls/Statics.h"

// Posted by the pages to the wizard.
constexpr UINT WM_WIZARD_NEXT = 0xBD1;        // next page; on the last one, finish as done
constexpr UINT WM_WIZARD_FINISH = 0xBD2;      // wParam 1: done, otherwise aborted
constexpr UINT WM_WIZARD_NO_CONSENT = 0xBD3;  // the consent box was clear at Accept

// The licence text: resource "EULA" 143 as UTF-16LE code units, without a
// leading byte-order mark (0xFEFF or 0xFFFE). Empty when the resource is
// missing.
std::wstring LoadEulaText();
// The same over raw resource bytes (an odd last byte is ignored).
std::wstring EulaTextFromBytes(const void* bytes, size_t size);

// How far a wheel turn of `delta` moves the licence's scroll position: one
// line per 25 units, truncated toward zero (a notch of 120 moves 4 lines).
int EulaWheelLines(int delta);

// The wizard's pages post only; this is what they post to.
class CWizardPage : public CDlgChildBase {
 public:
  CWizardPage(UINT templateId, cl::CWnd* wizard);

  // Moves the page onto the wizard's page rectangle.
  void FitToWizard();
  // Cancel and Decline: WM_WIZARD_FINISH (0, 0) to the wizard.
  void CancelWizardPage();
  // The page buttons' look (states 146 to 149, white caption, Arial bold 10)
  // at (x, y), 150 x 40, with the caption of string `textId`.
  void SetupPageButton(CPictureButton& b, int x, int y, UINT textId);
  // Posts to the wizard window.
  void PostToWizard(UINT message, WPARAM wParam = 0, LPARAM lParam = 0);

 protected:
  cl::CWnd* wizard_;
};

class CPageWelcome : public CWizardPage {
 public:
  explicit CPageWelcome(cl::CWnd* wizard);
  ~CPageWelcome() override;

  void DoDataExchange() override;
  void InitDialogHook() override;

  CCustomStatic sentence;   // 1017
  CPictureStatic picture;   // 1018
  CPictureButton next;      // 1015
  CPictureButton cancel;    // 1016

 protected:
  const cl::MessageMap* GetMessageMap() const override;

 private:
  void OnNext();
};

class CPageEula : public CWizardPage {
 public:
  explicit CPageEula(cl::CWnd* wizard);
  ~CPageEula() override;

  void DoDataExchange() override;
  void InitDialogHook() override;

  // The page's link sentence: like CDlgChildBase::SetLinkText, in the
  // dark plain colour 0xFE0A0A0A.
  virtual void SetConsentText(CCustomStatic* s, const std::wstring& format, const std::wstring& linkText,
                              const std::wstring& target);

  // Moves the licence to the slider's position (its first visible line).
  void SyncTextToSlider();

  CCustomStatic title;        // 1023
  CCustomEdit text;           // 1021
  CCustomSliderCtrl scroll;   // 1024
  CCustomCheckBox consent;    // 1022
  CCustomStatic consentText;  // 1025
  CPictureButton accept;      // 1019
  CPictureButton decline;     // 1020

 protected:
  const cl::MessageMap* GetMessageMap() const override;

 private:
  void OnAccept();
  void OnScrollDraw(NMHDR*, LRESULT* result);
  LRESULT OnMouseWheel(WPARAM, LPARAM);
};

class CDlgOOBE : public CDlgMainBase {
 public:
  CDlgOOBE();
  ~CDlgOOBE() override;

  void InitDialogHook() override;
  RECT BusyOverlayInsets() const override { return {1, 1, 0, 0}; }
  // Enter on the frame is no answer (Escape and WM_CLOSE abort, as
  // Cancel does).
  void OnOK() override {}

  // The client rectangle less the title band and the frame: where pages sit.
  RECT PageRect() const;
  // The page shown now (null before set-up).
  CWizardPage* CurrentPage() const;

  CPictureButton closeCross;  // 1053, made hidden
  std::unique_ptr<CPageWelcome> welcome;
  std::unique_ptr<CPageEula> eula;
  std::vector<CWizardPage*> pages;
  int currentPage = 0;
  bool done = false;
  bool consent = true;  // cleared by WM_WIZARD_NO_CONSENT; nothing reads it yet

 protected:
  const cl::MessageMap* GetMessageMap() const override;

 private:
  LRESULT OnWizardNext(WPARAM, LPARAM);
  LRESULT OnWizardFinish(WPARAM, LPARAM);
  LRESULT OnWizardNoConsent(WPARAM, LPARAM);
  LRESULT OnLButtonDown(WPARAM, LPARAM);
  LRESULT OnMove(WPARAM, LPARAM);
  LRESULT OnShowWindow(WPARAM, LPARAM);
  void OnCloseCross();
  void ShowPage(int index, bool show);
};
