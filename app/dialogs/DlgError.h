// CDlgError: the error dialog. A modal layered dialog (template 111 over
// PNG 200) with a close cross, a Close button and, for the first Bonjour
// kind, a "Do not show this again" box; its content is one page, an
// ordinary dialog in an owned popup laid over the dialog's inner area
// (a layered window shows no child windows), that follows every move and
// show of the dialog.
//
// Kinds: 0 Bonjour not installed, 1 Bonjour service not running (with a
// button that restarts it elevated), 2 Bonjour needed for this feature, any
// other value the message text (start-up uses 3).
//
//   CDlgError box(message, CDlgError::kGeneral, owner, false);
//   box.DoModal();
// UI thread only; GDI+ must be started.
#pragma once

#include <windows.h>

#include <memory>
#include <string>

#include "app/controls/CustomStatic.h"
#include "app/controls/DialogBases.h"
#include "app/controls/Layered.h"
#include "app/controls/Statics.h"

// What every page shares: the dialog's picture as background (the page
// lies at (10, 40) in it) and the warning icon.
class CErrorPage : public CDlgChildBase {
 public:
  static constexpr int kPagePng = 200;
  CErrorPage(UINT templateId, cl::CWnd* owner);

 protected:
  // The icon at (20, 40), 54 x 45: PNG 210 over the slice of PNG 211 at
  // (30, 80).
  void SetupIcon(CPictureStatic& icon);
  // A text of the page: its look, size 9.6, the text.
  void SetupText(CCustomStatic& label, const std::wstring& text);
};

class CPageErrBonjourAbsent : public CErrorPage {
 public:
  static constexpr UINT kTemplateId = 112;
  explicit CPageErrBonjourAbsent(cl::CWnd* owner);
  void DoDataExchange() override;
  void InitDialogHook() override;

  CCustomStatic title;      // 1058
  CCustomStatic text;       // 1062
  cl::CWnd spare;           // 1060, hidden
  CCustomStatic links;      // 1061
  CPictureStatic icon;      // 1059
};

class CPageErrBonjourDisable : public CErrorPage {
 public:
  static constexpr UINT kTemplateId = 113;
  explicit CPageErrBonjourDisable(cl::CWnd* owner);
  void DoDataExchange() override;
  void InitDialogHook() override;

  CCustomStatic text;          // 1063
  CCustomStatic itunesLink;    // 1064
  CCustomStatic printLink;     // 1065
};

class CPageErrBonjourStop : public CErrorPage {
 public:
  static constexpr UINT kTemplateId = 114;
  // The restart's bound: the service's stop alone may take 30 s, its start
  // as long again, and the elevated program must start first.
  static constexpr DWORD kRestartWaitMs = 90000;

  explicit CPageErrBonjourStop(cl::CWnd* owner);
  void DoDataExchange() override;
  void InitDialogHook() override;

  // Starts the program elevated with "-restartbj" and waits (painting) for
  // its exit code: 0 closes the dialog; anything else, a refusal, a failed
  // start or the time-out shows the failure text.
  void OnRestart();
  // The exit code of the started program; -1 when it could not be started,
  // did not end within waitMs, or gave no code.
  static int RunRestart(const std::wstring& program, DWORD waitMs);

  CCustomStatic text;         // 1066
  CCustomStatic failText;     // 1069, red, hidden until a restart failed
  cl::CWnd restartButton;     // 1068, an ordinary push button with the shield
  CPictureStatic icon;        // 1059
  std::wstring programPath;   // this program's own file unless a test says otherwise
  DWORD restartWaitMs = kRestartWaitMs;

 protected:
  const cl::MessageMap* GetMessageMap() const override;
};

class CPageErrGeneral : public CErrorPage {
 public:
  static constexpr UINT kTemplateId = 115;
  CPageErrGeneral(const std::wstring& message, cl::CWnd* owner);
  void DoDataExchange() override;
  void InitDialogHook() override;

  CPictureStatic icon;     // 1071
  CCustomStatic message;   // 1070
  std::wstring messageText;
};

class CDlgError : public CTRSDialog {
 public:
  enum Kind { kBonjourAbsent = 0, kBonjourStop = 1, kBonjourDisable = 2, kGeneral = 3 };
  static constexpr UINT kTemplateId = 111;
  static constexpr UINT kPng = 200;

  CDlgError(const std::wstring& message, int kind, cl::CWnd* owner, bool hideOwner);
  ~CDlgError() override;

  void DoDataExchange() override;
  void InitControls() override;
  // Enter and Escape (the dialog manager's IDOK and IDCANCEL) close it as
  // the cross, Close and WM_CLOSE do.
  void OnOK() override { Close(); }
  void OnCancel() override { Close(); }

  CTRSButton closeCross;     // 1055
  CTRSButton closeButton;    // 1054
  CTRSButton dontShowBox;    // 1056
  CTRSStatic dontShowLabel;  // 1057
  std::unique_ptr<CErrorPage> page;
  int kind;
  std::wstring message;
  bool hideOwner;
  cl::CWnd* owner;

 protected:
  const cl::MessageMap* GetMessageMap() const override;

 private:
  void PostCloseToSelf();
  LRESULT OnMove(WPARAM, LPARAM);
  LRESULT OnShowWindow(WPARAM, LPARAM);
  LRESULT OnRaisePage(WPARAM, LPARAM);
  LRESULT OnClose(WPARAM, LPARAM);
  // The one way out: shows a hidden owner again, keeps "do not show
  // again", and ends the dialog with its cancel result. Runs once.
  void Close();
  bool closed_ = false;
  static constexpr UINT_PTR kRaisePageTimer = 0x141;
};

// Runs a CDlgError modally; without an owner window it only logs
// "Invalid parent window!".
void ShowErrorDialog(const std::wstring& message, int kind, cl::CWnd* owner, bool hideOwner);
